// Palette building and pixel mapping for a 4096 x 4096 photo-like ie24RGB
// image (smooth gradients plus noise), as a palette writer does them.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "image/bitmap.h"
#include "image/quantize.h"

namespace pravik {
namespace {

constexpr int kSide = 4096;

TIEBitmap& Photo() {
  static std::unique_ptr<TIEBitmap> bmp = [] {
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
  }();
  return *bmp;
}

// algorithm: 0 NeuQuant, 1 median cut; map: also look up every pixel.
void Quantize(benchmark::State& state, int algorithm, bool map) {
  TIEBitmap& bmp = Photo();
  iegColorReductionAlgorithm = algorithm;
  std::vector<TRGB> palette(256);
  std::uint64_t checksum = 0;
  for (auto _ : state) {
    TIEQuantizer q(bmp, palette.data(), 255, 256);
    if (map) {
      for (int y = 0; y < kSide; ++y) {
        const auto* row = reinterpret_cast<const TRGB*>(bmp.GetScanLine(y));
        for (int x = 0; x < kSide; ++x) checksum += q.GetRGBIndex(row[x]);
      }
    }
    benchmark::DoNotOptimize(palette.data());
  }
  benchmark::DoNotOptimize(checksum);
  iegColorReductionAlgorithm = -1;
  state.SetItemsProcessed(state.iterations() * std::int64_t(kSide) * kSide);
}

BENCHMARK_CAPTURE(Quantize, NeuQuant256_palette, 0, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Quantize, NeuQuant256_palette_and_map, 0, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Quantize, MedianCut256_palette, 1, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Quantize, MedianCut256_palette_and_map, 1, true)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pravik
