// TGA reading and writing of a 4096 x 4096 photo-like 24-bit image in memory:
// run-length coded (the converter's default) and raw.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "bench_common.h"
#include "codecs/tga/tga.h"
#include "image/bitmap.h"
#include "image/mask.h"
#include "imageio/params.h"

namespace pravik::bench {
namespace {

void Settings(TIOParamsVals& params, bool compressed) {
  params.BITSPERSAMPLE = 8;
  params.SAMPLESPERPIXEL = 3;
  params.TGA_COMPRESSED = compressed;
}

void Write(benchmark::State& state, bool compressed) {
  TIEBitmap& photo = MildPhoto();
  const std::int64_t bytes = WriteLoop(state, [&](TStream& out, TProgressRec& progress) {
    TIOParamsVals params;
    Settings(params, compressed);
    WriteTGAStream(out, photo, params, progress, nullptr);
  });
  state.counters["file_MB"] = double(bytes) / (1 << 20);
  state.SetBytesProcessed(state.iterations() * std::int64_t(kSide) * kSide * 3);
}

void Read(benchmark::State& state, bool compressed) {
  TIOParamsVals settings;
  Settings(settings, compressed);
  const std::vector<std::uint8_t> file = EncodeToMemory([&](TStream& out, TProgressRec& progress) {
    WriteTGAStream(out, MildPhoto(), settings, progress, nullptr);
  });
  TIEBitmap bmp;
  ReadLoop(state, file, [&](TStream& in, TProgressRec& progress) {
    TIOParamsVals params;
    std::unique_ptr<TIEMask> mask;
    ReadTGAStream(in, bmp, params, progress, false, mask, false);
    benchmark::DoNotOptimize(bmp.GetScanLine(kSide - 1));
  });
  state.SetBytesProcessed(state.iterations() * std::int64_t(kSide) * kSide * 3);
}

void BM_TGAWrite24RLE(benchmark::State& s) { Write(s, true); }
void BM_TGAWrite24Raw(benchmark::State& s) { Write(s, false); }
void BM_TGARead24RLE(benchmark::State& s) { Read(s, true); }
void BM_TGARead24Raw(benchmark::State& s) { Read(s, false); }
BENCHMARK(BM_TGAWrite24RLE)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TGAWrite24Raw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TGARead24RLE)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TGARead24Raw)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pravik::bench
