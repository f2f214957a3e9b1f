// Pixel-format conversions of a 4096 x 4096 photo-like image, as the writers
// ask for them: black and white for 1-bit files, CMYK through the press
// profile (CMYK JPEG in, or CMYK out), and palette reduction.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

#include "image/bitmap.h"
#include "image/colour.h"
#include "image/convert.h"

namespace pravik {
namespace {

constexpr int kSide = 4096;

// Smooth gradients plus noise, so neither the profile's one-pixel cache nor
// the quantizer's exact-colour table gets an easy ride.
std::unique_ptr<TIEBitmap> MakePhoto(TIEPixelFormat format) {
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
  if (format != ie24RGB) {
    const bool saved = iegUseCMYKProfile;
    iegUseCMYKProfile = false;  // a quick way to CMYK; the profile is what is measured
    b->ConvertToPixelFormat(format);
    iegUseCMYKProfile = saved;
  }
  return b;
}

TIEBitmap& Source(TIEPixelFormat format) {
  static std::unique_ptr<TIEBitmap> rgb, cmyk;
  auto& slot = format == ieCMYK ? cmyk : rgb;
  if (!slot) slot = MakePhoto(format);
  return *slot;
}

// Converts the shared source into a target allocated once: the row pass
// itself, without the allocation of the in-place procedure.
void Convert(benchmark::State& state, TIEPixelFormat from, TIEPixelFormat to, TIEDitherMethod dither, bool profile) {
  TIEBitmap& source = Source(from);
  TIEBitmap target(kSide, kSide, to);
  target.DefaultDitherMethod = dither;
  const bool saved = iegUseCMYKProfile;
  iegUseCMYKProfile = profile;
  if (profile && (from == ieCMYK || to == ieCMYK) && !IECMYKProfileAvailable()) {
    state.SkipWithError("no CMYK profile embedded");
    iegUseCMYKProfile = saved;
    return;
  }
  for (auto _ : state) {
    target.CopyAndConvertFormat(source);
    benchmark::DoNotOptimize(target.GetScanLine(0));
  }
  iegUseCMYKProfile = saved;
  state.SetItemsProcessed(state.iterations() * std::int64_t(kSide) * kSide);
}

void BM_RGBToBlackWhiteThreshold(benchmark::State& s) { Convert(s, ie24RGB, ie1g, ieThreshold, false); }
void BM_RGBToBlackWhiteOrdered(benchmark::State& s) { Convert(s, ie24RGB, ie1g, ieOrdered, false); }
void BM_CMYKToRGBProfile(benchmark::State& s) { Convert(s, ieCMYK, ie24RGB, ieThreshold, true); }
void BM_CMYKToRGBPlain(benchmark::State& s) { Convert(s, ieCMYK, ie24RGB, ieThreshold, false); }
void BM_RGBToCMYKProfile(benchmark::State& s) { Convert(s, ie24RGB, ieCMYK, ieThreshold, true); }
void BM_RGBToPalette(benchmark::State& s) { Convert(s, ie24RGB, ie8p, ieThreshold, false); }
void BM_RGBToGrey8(benchmark::State& s) { Convert(s, ie24RGB, ie8g, ieThreshold, false); }

BENCHMARK(BM_RGBToBlackWhiteThreshold)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RGBToBlackWhiteOrdered)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CMYKToRGBProfile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CMYKToRGBPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RGBToCMYKProfile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RGBToPalette)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RGBToGrey8)->Unit(benchmark::kMillisecond);

// The whole in-place procedure (new store, rows, old store freed).
void BM_InPlaceRGBToBlackWhite(benchmark::State& state) {
  TIEBitmap& source = Source(ie24RGB);
  TIEBitmap work;
  for (auto _ : state) {
    state.PauseTiming();
    work.Assign(source);
    state.ResumeTiming();
    work.ConvertToPixelFormat(ie1g);
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t(kSide) * kSide);
}
BENCHMARK(BM_InPlaceRGBToBlackWhite)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pravik
