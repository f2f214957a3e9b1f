// PNG reading and writing of a 4096 x 4096 photo-like image in memory with the
// converter's settings (Paeth filter) at levels 6 and 9: rows pass straight
// between the bitmap and libpng.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

#include "codecs/png/png_codec.h"
#include "image/bitmap.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/stream.h"

namespace pravik {
namespace {

constexpr int kSide = 4096;

TIEBitmap& Photo() {
  static std::unique_ptr<TIEBitmap> b = [] {
    auto p = std::make_unique<TIEBitmap>(kSide, kSide, ie24RGB);
    std::uint32_t seed = 12345;
    for (int y = 0; y < kSide; ++y) {
      auto* row = reinterpret_cast<TRGB*>(p->GetScanLine(y));
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
    return p;
  }();
  return *b;
}

void Encode(TIOParamsVals& params, TMemoryStream& out) {
  bool abort = false;
  TProgressRec progress;
  progress.AbortFlag = &abort;
  out.Clear();
  WritePNGStream(out, Photo(), params, nullptr, progress);
}

void Settings(TIOParamsVals& params, int level) {
  params.PNG_FILTER = ioPNG_FILTER_PAETH;
  params.PNG_COMPRESSION = level;
}

void BM_PngWrite(benchmark::State& state) {
  TIOParamsVals params;
  Settings(params, static_cast<int>(state.range(0)));
  TMemoryStream out;
  for (auto _ : state) Encode(params, out);
  state.counters["bytes"] = static_cast<double>(out.GetSize());
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_PngWrite)->ArgName("level")->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);

void BM_PngRead(benchmark::State& state) {
  TIOParamsVals params;
  Settings(params, static_cast<int>(state.range(0)));
  TMemoryStream file;
  Encode(params, file);
  TIEBitmap out;
  for (auto _ : state) {
    TReadOnlyMemoryStream in(file.Memory(), file.GetSize());
    TIOParamsVals rp;
    bool abort = false;
    TProgressRec progress;
    progress.AbortFlag = &abort;
    ReadPNGStream(in, out, rp, false, progress);
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_PngRead)->ArgName("level")->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pravik
