// GIF writing and reading of a 4096 x 4096 photo-like image in memory: the
// true-colour path (quantizer + LZW), the palette path (LZW alone), and the
// LZW coder on its own.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "bench_common.h"
#include "codecs/gif/gif.h"
#include "codecs/gif/gif_lzw.h"
#include "image/bitmap.h"
#include "image/mask.h"
#include "imageio/params.h"

namespace pravik::bench {
namespace {

// The photo reduced to 256 colours once (ie8p), as a palette source.
TIEBitmap& PalettePhoto() {
  static std::unique_ptr<TIEBitmap> bmp = [] {
    auto b = std::make_unique<TIEBitmap>();
    b->Assign(Photo());
    b->ConvertToPixelFormat(ie8p);
    return b;
  }();
  return *bmp;
}

void Write(benchmark::State& state, TIEBitmap& image) {
  TIOParamsVals params;
  params.BITSPERSAMPLE = 8;
  params.GIF_INTERLACED = state.range(0) != 0;
  const std::int64_t bytes = WriteLoop(state, [&](TStream& out, TProgressRec& progress) {
    WriteGIFStream(out, image, params, progress);
  });
  state.counters["file_MB"] = double(bytes) / (1 << 20);
  state.SetItemsProcessed(state.iterations() * std::int64_t(kSide) * kSide);
}

const std::vector<std::uint8_t>& Encoded(TIEBitmap& image, bool interlaced) {
  static std::vector<std::uint8_t> files[2][2];
  std::vector<std::uint8_t>& f = files[&image == &Photo() ? 0 : 1][interlaced ? 1 : 0];
  if (f.empty()) {
    TIOParamsVals params;
    params.GIF_INTERLACED = interlaced;
    f = EncodeToMemory([&](TStream& out, TProgressRec& progress) { WriteGIFStream(out, image, params, progress); });
  }
  return f;
}

void Read(benchmark::State& state, TIEBitmap& image, bool native) {
  const std::vector<std::uint8_t>& file = Encoded(image, state.range(0) != 0);
  ReadLoop(state, file, [&](TStream& in, TProgressRec& progress) {
    TIEBitmap bmp;
    TIOParamsVals params;
    params.ISNATIVEPIXELFORMAT = native;
    std::unique_ptr<TIEMask> mask;
    int count = 0;
    ReadGIFStream(in, bmp, count, params, progress, false, mask, false);
    if (bmp.GetWidth() != kSide) progress.Fail("wrong width");
  });
  state.SetItemsProcessed(state.iterations() * std::int64_t(kSide) * kSide);
}

void BM_GifWrite_24RGB_Quantized(benchmark::State& state) { Write(state, Photo()); }
void BM_GifWrite_8p(benchmark::State& state) { Write(state, PalettePhoto()); }
void BM_GifRead_To24RGB(benchmark::State& state) { Read(state, Photo(), false); }
void BM_GifRead_8pNative(benchmark::State& state) { Read(state, PalettePhoto(), true); }

// The coder alone on the palette photo's indexes.
std::vector<std::uint8_t>& Indexes() {
  static std::vector<std::uint8_t> idx = [] {
    std::vector<std::uint8_t> v(std::size_t(kSide) * kSide);
    TIEBitmap& b = PalettePhoto();
    for (int y = 0; y < kSide; ++y)
      std::copy_n(b.GetScanLine(y), kSide, v.begin() + std::ptrdiff_t(y) * kSide);
    return v;
  }();
  return idx;
}

void BM_LzwEncode(benchmark::State& state) {
  const auto& idx = Indexes();
  for (auto _ : state) {
    TMemoryStream out;
    GIFLZWCompress(out, kSide, kSide, false, idx.data(), 8);
    benchmark::DoNotOptimize(out.Memory());
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t(kSide) * kSide);
}

void BM_LzwDecode(benchmark::State& state) {
  const auto& idx = Indexes();
  TMemoryStream block;
  GIFLZWCompress(block, kSide, kSide, false, idx.data(), 8);
  std::vector<std::uint8_t> dest(idx.size());
  for (auto _ : state) {
    TReadOnlyMemoryStream in(block.Memory(), block.GetSize());
    std::int64_t stored = 0;
    GIFLZWDecode(in, kSide, kSide, dest.data(), false, stored);
    benchmark::DoNotOptimize(dest.data());
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t(kSide) * kSide);
}

BENCHMARK(BM_GifWrite_24RGB_Quantized)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GifWrite_8p)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GifRead_To24RGB)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GifRead_8pNative)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzwEncode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzwDecode)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pravik::bench
