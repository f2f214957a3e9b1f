// Netpbm speed: a 4096 x 4096 photo-like P6 read from and written to memory.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "codecs/bitmap/pxm.h"
#include "image/bitmap.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/stream.h"

namespace pravik {
namespace {

constexpr int kSide = 4096;

TIEBitmap& Photo() {
  static TIEBitmap* photo = [] {
    auto* bmp = new TIEBitmap(kSide, kSide, ie24RGB);
    for (int y = 0; y < kSide; ++y) {
      std::uint8_t* row = bmp->GetScanLine(y);
      for (int x = 0; x < kSide; ++x) {
        row[3 * x] = static_cast<std::uint8_t>(x ^ y);
        row[3 * x + 1] = static_cast<std::uint8_t>((x * 7 + y * 3) >> 2);
        row[3 * x + 2] = static_cast<std::uint8_t>(x * y >> 8);
      }
    }
    return bmp;
  }();
  return *photo;
}

std::vector<std::uint8_t> Encode(int bitsPerSample) {
  TIOParamsVals params;
  params.BITSPERSAMPLE = bitsPerSample;
  params.SAMPLESPERPIXEL = 3;
  bool abort = false;
  TProgressRec progress;
  progress.AbortFlag = &abort;
  TMemoryStream s;
  PXMWriteStream(s, Photo(), params, progress);
  return s.Bytes();
}

void Read(benchmark::State& state, int bitsPerSample) {
  const std::vector<std::uint8_t> file = Encode(bitsPerSample);
  for (auto _ : state) {
    TReadOnlyMemoryStream s(file.data(), static_cast<std::int64_t>(file.size()));
    TIEBitmap bmp;
    TIOParamsVals params;
    bool abort = false;
    TProgressRec progress;
    progress.AbortFlag = &abort;
    PXMReadStream(s, bmp, params, false, progress);
    benchmark::DoNotOptimize(bmp.GetScanLine(0));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.size()));
}

void Write(benchmark::State& state, int bitsPerSample) {
  const std::int64_t size = static_cast<std::int64_t>(Encode(bitsPerSample).size());
  TIOParamsVals params;
  params.BITSPERSAMPLE = bitsPerSample;
  params.SAMPLESPERPIXEL = 3;
  for (auto _ : state) {
    TMemoryStream s;
    s.Bytes().reserve(static_cast<std::size_t>(size));
    bool abort = false;
    TProgressRec progress;
    progress.AbortFlag = &abort;
    PXMWriteStream(s, Photo(), params, progress);
    benchmark::DoNotOptimize(s.Memory());
  }
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
}  // namespace pravik
