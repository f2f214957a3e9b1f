// PCX reading and writing of a 4096 x 4096 photo-like 24-bit image in memory:
// three run-length coded planes per row (the converter's output), and raw.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

#include "codecs/pcx/pcx.h"
#include "image/bitmap.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/stream.h"

namespace pravik {
namespace {

constexpr int kSide = 4096;

// Smooth gradients with mild noise, like a photograph: short runs only.
TIEBitmap& Photo() {
  static std::unique_ptr<TIEBitmap> b;
  if (b) return *b;
  b = std::make_unique<TIEBitmap>(kSide, kSide, ie24RGB);
  std::uint32_t seed = 12345;
  for (int y = 0; y < kSide; ++y) {
    auto* row = reinterpret_cast<TRGB*>(b->GetScanLine(y));
    const double fy = double(y) / kSide;
    for (int x = 0; x < kSide; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int noise = static_cast<int>(seed >> 30) - 2;
      const double fx = double(x) / kSide;
      const auto c = [&](double v) { return static_cast<std::uint8_t>(std::clamp(int(v) + noise, 0, 255)); };
      row[x] = CreateRGB(c(255 * fx * (1 - 0.3 * fy)), c(128 + 120 * std::sin(5 * fy + 2 * fx)),
                         c(255 * (1 - fx) * fy + 40 * std::cos(9 * fx)));
    }
  }
  return *b;
}

TMemoryStream Encoded(TIOPCXCompression compression) {
  TIOParamsVals params;
  params.BITSPERSAMPLE = 8;
  params.SAMPLESPERPIXEL = 3;
  params.PCX_COMPRESSION = compression;
  bool abort = false;
  TProgressRec progress;
  progress.AbortFlag = &abort;
  TMemoryStream m;
  WritePcxStream(m, Photo(), params, progress);
  return m;
}

void Write(benchmark::State& state, TIOPCXCompression compression) {
  TIEBitmap& photo = Photo();
  TIOParamsVals params;
  params.BITSPERSAMPLE = 8;
  params.SAMPLESPERPIXEL = 3;
  params.PCX_COMPRESSION = compression;
  std::int64_t bytes = 0;
  for (auto _ : state) {
    bool abort = false;
    TProgressRec progress;
    progress.AbortFlag = &abort;
    TMemoryStream m;
    WritePcxStream(m, photo, params, progress);
    bytes = m.GetSize();
    benchmark::DoNotOptimize(m.Memory());
  }
  state.counters["file_MB"] = double(bytes) / (1 << 20);
  state.SetBytesProcessed(state.iterations() * std::int64_t(kSide) * kSide * 3);
}

void Read(benchmark::State& state, TIOPCXCompression compression) {
  TMemoryStream file = Encoded(compression);
  TIEBitmap bmp;
  for (auto _ : state) {
    TIOParamsVals params;
    bool abort = false;
    TProgressRec progress;
    progress.AbortFlag = &abort;
    file.Seek(0, soBeginning);
    ReadPcxStream(file, bmp, params, file.GetSize(), progress, false);
    if (abort) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(bmp.GetScanLine(kSide - 1));
  }
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
}  // namespace pravik
