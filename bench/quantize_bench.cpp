// Palette building and pixel mapping for a 4096 x 4096 photo-like ie24RGB
// image (smooth gradients plus noise), as a palette writer does them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench_common.h"
#include "image/bitmap.h"
#include "image/quantize.h"

namespace pravik::bench {
namespace {

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
}  // namespace pravik::bench
