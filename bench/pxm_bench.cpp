// Netpbm speed: a 4096 x 4096 photo-like P6 read from and written to memory.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench_common.h"
#include "codecs/bitmap/pxm.h"
#include "image/bitmap.h"
#include "imageio/params.h"

namespace pravik::bench {
namespace {

void Settings(TIOParamsVals& params, int bitsPerSample) {
  params.BITSPERSAMPLE = bitsPerSample;
  params.SAMPLESPERPIXEL = 3;
}

std::vector<std::uint8_t> Encode(int bitsPerSample) {
  TIOParamsVals params;
  Settings(params, bitsPerSample);
  return EncodeToMemory(
      [&](TStream& out, TProgressRec& progress) { PXMWriteStream(out, Photo(), params, progress); });
}

void Read(benchmark::State& state, int bitsPerSample) {
  const std::vector<std::uint8_t> file = Encode(bitsPerSample);
  ReadLoop(state, file, [](TStream& in, TProgressRec& progress) {
    TIEBitmap bmp;
    TIOParamsVals params;
    PXMReadStream(in, bmp, params, false, progress);
    benchmark::DoNotOptimize(bmp.GetScanLine(0));
  });
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.size()));
}

// The stream is sized once up front, so the writer alone is timed.
void Write(benchmark::State& state, int bitsPerSample) {
  const std::int64_t size = static_cast<std::int64_t>(Encode(bitsPerSample).size());
  TIOParamsVals params;
  Settings(params, bitsPerSample);
  WriteLoop(
      state, [&](TStream& out, TProgressRec& progress) { PXMWriteStream(out, Photo(), params, progress); },
      static_cast<std::size_t>(size));
  state.SetBytesProcessed(state.iterations() * size);
}

void BM_PXMRead_P6_4096(benchmark::State& state) { Read(state, 8); }
void BM_PXMWrite_P6_4096(benchmark::State& state) { Write(state, 8); }
void BM_PXMRead_P6_16bit_4096(benchmark::State& state) { Read(state, 16); }
void BM_PXMWrite_P6_16bit_4096(benchmark::State& state) { Write(state, 16); }

BENCHMARK(BM_PXMRead_P6_4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PXMWrite_P6_4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PXMRead_P6_16bit_4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PXMWrite_P6_16bit_4096)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pravik::bench
