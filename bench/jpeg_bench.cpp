// JPEG reading and writing of a 4096 x 4096 photo-like image in memory at
// quality 90, the converter's common case: rows pass straight between the
// bitmap and libjpeg.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

#include "codecs/jpeg/jpeg.h"
#include "image/bitmap.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/stream.h"

namespace pravik {
namespace {

constexpr int kSide = 4096;

// Smooth gradients plus noise, as a photograph gives the coder.
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

void Encode(TIEBitmap& image, TIOParamsVals& params, TMemoryStream& out) {
  bool abort = false;
  TProgressRec progress;
  progress.AbortFlag = &abort;
  out.Clear();
  WriteJPegStream(out, image, params, progress);
}

void BM_JpegWrite(benchmark::State& state) {
  TIEBitmap& image = Photo();
  TIOParamsVals params;
  params.JPEG_QUALITY = 90;
  params.JPEG_PROGRESSIVE = state.range(0) != 0;
  TMemoryStream out;
  for (auto _ : state) Encode(image, params, out);
  state.counters["bytes"] = static_cast<double>(out.GetSize());
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_JpegWrite)->ArgName("progressive")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_JpegRead(benchmark::State& state) {
  TIOParamsVals params;
  params.JPEG_QUALITY = 90;
  params.JPEG_PROGRESSIVE = state.range(0) != 0;
  TMemoryStream file;
  Encode(Photo(), params, file);
  TIEBitmap out;
  for (auto _ : state) {
    TReadOnlyMemoryStream in(file.Memory(), file.GetSize());
    TIOParamsVals rp;
    bool abort = false;
    TProgressRec progress;
    progress.AbortFlag = &abort;
    ReadJPegStream(in, nullptr, out, rp, progress, false, false, true, false, true, true, -1, false);
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_JpegRead)->ArgName("progressive")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pravik
