// PCX reading and writing of a 4096 x 4096 photo-like 24-bit image in memory:
// three run-length coded planes per row (the converter's output), and raw.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench_common.h"
#include "codecs/pcx/pcx.h"
#include "image/bitmap.h"
#include "imageio/params.h"

namespace pravik::bench {
namespace {

void Settings(TIOParamsVals& params, TIOPCXCompression compression) {
  params.BITSPERSAMPLE = 8;
  params.SAMPLESPERPIXEL = 3;
  params.PCX_COMPRESSION = compression;
}

void Write(benchmark::State& state, TIOPCXCompression compression) {
  TIEBitmap& photo = MildPhoto();
  TIOParamsVals params;
  Settings(params, compression);
  const std::int64_t bytes = WriteLoop(state, [&](TStream& out, TProgressRec& progress) {
    WritePcxStream(out, photo, params, progress);
  });
  state.counters["file_MB"] = double(bytes) / (1 << 20);
  state.SetBytesProcessed(state.iterations() * std::int64_t(kSide) * kSide * 3);
}

void Read(benchmark::State& state, TIOPCXCompression compression) {
  TIOParamsVals settings;
  Settings(settings, compression);
  const std::vector<std::uint8_t> file = EncodeToMemory([&](TStream& out, TProgressRec& progress) {
    WritePcxStream(out, MildPhoto(), settings, progress);
  });
  TIEBitmap bmp;
  ReadLoop(state, file, [&](TStream& in, TProgressRec& progress) {
    TIOParamsVals params;
    ReadPcxStream(in, bmp, params, in.GetSize(), progress, false);
    benchmark::DoNotOptimize(bmp.GetScanLine(kSide - 1));
  });
  state.SetBytesProcessed(state.iterations() * std::int64_t(kSide) * kSide * 3);
}

void BM_PCXWrite24RLE(benchmark::State& s) { Write(s, ioPCX_RLE); }
void BM_PCXWrite24Raw(benchmark::State& s) { Write(s, ioPCX_UNCOMPRESSED); }
void BM_PCXRead24RLE(benchmark::State& s) { Read(s, ioPCX_RLE); }
void BM_PCXRead24Raw(benchmark::State& s) { Read(s, ioPCX_UNCOMPRESSED); }
BENCHMARK(BM_PCXWrite24RLE)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PCXWrite24Raw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PCXRead24RLE)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PCXRead24Raw)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pravik::bench
