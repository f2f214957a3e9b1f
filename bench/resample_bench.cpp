// Resampling speed on a large photo-sized image.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "bench_common.h"
#include "image/bitmap.h"
#include "image/resample.h"

namespace pravik::bench {
namespace {

void Resample(benchmark::State& state, int width, int height, TResampleFilter filter) {
  TIEBitmap& src = Photo();
  TIEBitmap dst(width, height, ie24RGB);
  for (auto _ : state) {
    _ResampleEx(src, dst, filter);
    benchmark::DoNotOptimize(dst.GetScanLine(0));
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t(src.GetRowLen()) * src.GetHeight());
}

void BM_FastLinear_4096_to_64(benchmark::State& state) { Resample(state, 64, 64, rfFastLinear); }
void BM_FastLinear_4096_to_1024(benchmark::State& state) { Resample(state, 1024, 1024, rfFastLinear); }
void BM_Triangle_4096_to_1024(benchmark::State& state) { Resample(state, 1024, 1024, rfTriangle); }
void BM_Lanczos3_4096_to_1024(benchmark::State& state) { Resample(state, 1024, 1024, rfLanczos3); }
void BM_Bicubic_4096_to_1024(benchmark::State& state) { Resample(state, 1024, 1024, rfBicubic); }
void BM_PointSampling_4096_to_1024(benchmark::State& state) {
  TIEBitmap& src = Photo();
  TIEBitmap dst(1024, 1024, ie24RGB);
  for (auto _ : state) IEBmpStretchEx(src, dst);
}

BENCHMARK(BM_FastLinear_4096_to_64)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FastLinear_4096_to_1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Triangle_4096_to_1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lanczos3_4096_to_1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bicubic_4096_to_1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PointSampling_4096_to_1024)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pravik::bench
