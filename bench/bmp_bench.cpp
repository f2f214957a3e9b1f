// BMP reading and writing of a 4096 x 4096 photo-like image in memory: the
// 24-bit rows go straight between stream and image; 8-bit RLE adds the
// quantizer and the run-length coder.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

#include "codecs/bitmap/bmp.h"
#include "image/bitmap.h"
#include "image/mask.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/stream.h"

namespace pravik {
namespace {

constexpr int kSide = 4096;

std::unique_ptr<TIEBitmap> MakePhoto() {
  auto b = std::make_unique<TIEBitmap>(kSide, kSide, ie24RGB);
  std::uint32_t seed = 12345;
  for (int y = 0; y < kSide; ++y) {
    auto* row = reinterpret_cast<TRGB*>(b->GetScanLine(y));
    const double fy = double(y) / kSide;
    for (int x = 0; x < kSide; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int noise = static_cast<int>(seed >> 28) - 8;
      const double fx = double(x) / kSide;
      const auto c = [&](double v) { return static_cast<std::uint8_t>(std::clamp(int(v) + noise, 0, 255)); };
      row[x] = CreateRGB(c(255 * fx * (1 - 0.3 * fy)), c(128 + 120 * std::sin(5 * fy + 2 * fx)),
                         c(255 * (1 - fx) * fy + 40 * std::cos(9 * fx)));
    }
  }
  return b;
}

TIEBitmap& Photo() {
  static std::unique_ptr<TIEBitmap> photo = MakePhoto();
  return *photo;
}

std::vector<std::uint8_t> Encode(TIOParamsVals& params) {
  bool abort = false;
  TProgressRec progress;
  progress.AbortFlag = &abort;
  TMemoryStream out;
  BMPWriteStream(out, Photo(), params, progress, false);
  return out.Bytes();
}

void Write(benchmark::State& state, int samplesPerPixel, TIOBMPCompression compression) {
  TIOParamsVals params;
  params.SAMPLESPERPIXEL = samplesPerPixel;
  params.BMP_COMPRESSION = compression;
  Photo();
  std::size_t bytes = 0;
  for (auto _ : state) bytes = Encode(params).size();
  state.SetBytesProcessed(std::int64_t(state.iterations()) * kSide * kSide * 3);
  state.counters["file_MB"] = double(bytes) / (1 << 20);
}

void Read(benchmark::State& state, int samplesPerPixel, TIOBMPCompression compression) {
  TIOParamsVals params;
  params.SAMPLESPERPIXEL = samplesPerPixel;
  params.BMP_COMPRESSION = compression;
  const std::vector<std::uint8_t> file = Encode(params);
  for (auto _ : state) {
    TReadOnlyMemoryStream in(file.data(), std::int64_t(file.size()));
    TIEBitmap bitmap;
    TIOParamsVals p;
    bool abort = false;
    TProgressRec progress;
    progress.AbortFlag = &abort;
    std::unique_ptr<TIEMask> alpha;
    BMPReadStream(in, bitmap, 0, p, progress, false, false, alpha, true);
    benchmark::DoNotOptimize(bitmap.GetScanLine(0));
  }
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
}  // namespace pravik
