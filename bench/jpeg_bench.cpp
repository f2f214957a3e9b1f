// JPEG reading and writing of a 4096 x 4096 photo-like image in memory at
// quality 90, the converter's common case: rows pass straight between the
// bitmap and libjpeg.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench_common.h"
#include "codecs/jpeg/jpeg.h"
#include "image/bitmap.h"
#include "imageio/params.h"

namespace pravik::bench {
namespace {

void Encode(TIEBitmap& image, TIOParamsVals& params, TMemoryStream& out) {
  BenchProgress progress;
  out.Clear();
  WriteJPegStream(out, image, params, progress.rec);
}

void BM_JpegWrite(benchmark::State& state) {
  TIEBitmap& image = Photo();
  TIOParamsVals params;
  params.JPEG_QUALITY = 90;
  params.JPEG_PROGRESSIVE = state.range(0) != 0;
  TMemoryStream out;
  for (auto _ : state) Encode(image, params, out);
  state.counters["bytes"] = static_cast<double>(out.GetSize());
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_JpegWrite)->ArgName("progressive")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_JpegRead(benchmark::State& state) {
  TIOParamsVals params;
  params.JPEG_QUALITY = 90;
  params.JPEG_PROGRESSIVE = state.range(0) != 0;
  TMemoryStream file;
  Encode(Photo(), params, file);
  TIEBitmap out;
  ReadLoop(state, file.Bytes(), [&](TStream& in, TProgressRec& progress) {
    TIOParamsVals rp;
    ReadJPegStream(in, nullptr, out, rp, progress, false, false, true, false, true, true, -1, false);
  });
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_JpegRead)->ArgName("progressive")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pravik::bench
