// BMP reading and writing of a 4096 x 4096 photo-like image in memory: the
// 24-bit rows go straight between stream and image; 8-bit RLE adds the
// quantizer and the run-length coder.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

#include "bench_common.h"
#include "codecs/bitmap/bmp.h"
#include "image/bitmap.h"
#include "image/mask.h"
#include "imageio/params.h"

namespace pravik::bench {
namespace {

void Settings(TIOParamsVals& params, int samplesPerPixel, TIOBMPCompression compression) {
  params.SAMPLESPERPIXEL = samplesPerPixel;
  params.BMP_COMPRESSION = compression;
}

void Write(benchmark::State& state, int samplesPerPixel, TIOBMPCompression compression) {
  TIOParamsVals params;
  Settings(params, samplesPerPixel, compression);
  TIEBitmap& photo = Photo();
  const std::int64_t bytes = WriteLoop(state, [&](TStream& out, TProgressRec& progress) {
    BMPWriteStream(out, photo, params, progress, false);
  });
  state.SetBytesProcessed(std::int64_t(state.iterations()) * kSide * kSide * 3);
  state.counters["file_MB"] = double(bytes) / (1 << 20);
}

void Read(benchmark::State& state, int samplesPerPixel, TIOBMPCompression compression) {
  TIOParamsVals params;
  Settings(params, samplesPerPixel, compression);
  const std::vector<std::uint8_t> file = EncodeToMemory([&](TStream& out, TProgressRec& progress) {
    BMPWriteStream(out, Photo(), params, progress, false);
  });
  ReadLoop(state, file, [](TStream& in, TProgressRec& progress) {
    TIEBitmap bitmap;
    TIOParamsVals p;
    std::unique_ptr<TIEMask> alpha;
    BMPReadStream(in, bitmap, 0, p, progress, false, false, alpha, true);
    benchmark::DoNotOptimize(bitmap.GetScanLine(0));
  });
  state.SetBytesProcessed(std::int64_t(state.iterations()) * kSide * kSide * 3);
}

void BM_BmpWrite24(benchmark::State& s) { Write(s, 3, ioBMP_UNCOMPRESSED); }
void BM_BmpRead24(benchmark::State& s) { Read(s, 3, ioBMP_UNCOMPRESSED); }
void BM_BmpWrite8RLE(benchmark::State& s) { Write(s, 1, ioBMP_RLE); }
void BM_BmpRead8RLE(benchmark::State& s) { Read(s, 1, ioBMP_RLE); }

BENCHMARK(BM_BmpWrite24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpRead24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpWrite8RLE)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpRead8RLE)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pravik::bench
