// PNG reading and writing of a 4096 x 4096 photo-like image in memory with the
// converter's settings (Paeth filter) at levels 6 and 9: rows pass straight
// between the bitmap and libpng.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench_common.h"
#include "codecs/png/png_codec.h"
#include "image/bitmap.h"
#include "imageio/params.h"

namespace pravik::bench {
namespace {

void Encode(TIOParamsVals& params, TMemoryStream& out) {
  BenchProgress progress;
  out.Clear();
  WritePNGStream(out, Photo(), params, nullptr, progress.rec);
}

void Settings(TIOParamsVals& params, int level) {
  params.PNG_FILTER = ioPNG_FILTER_PAETH;
  params.PNG_COMPRESSION = level;
}

void BM_PngWrite(benchmark::State& state) {
  TIOParamsVals params;
  Settings(params, static_cast<int>(state.range(0)));
  TMemoryStream out;
  for (auto _ : state) Encode(params, out);
  state.counters["bytes"] = static_cast<double>(out.GetSize());
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_PngWrite)->ArgName("level")->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);

void BM_PngRead(benchmark::State& state) {
  TIOParamsVals params;
  Settings(params, static_cast<int>(state.range(0)));
  TMemoryStream file;
  Encode(params, file);
  TIEBitmap out;
  ReadLoop(state, file.Bytes(), [&](TStream& in, TProgressRec& progress) {
    TIOParamsVals rp;
    ReadPNGStream(in, out, rp, false, progress);
  });
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_PngRead)->ArgName("level")->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pravik::bench
