// Pixel-format conversions of a 4096 x 4096 photo-like image, as the writers
// ask for them: black and white for 1-bit files, CMYK through the press
// profile (CMYK JPEG in, or CMYK out), and palette reduction.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

#include "bench_common.h"
#include "image/bitmap.h"
#include "image/colour.h"
#include "image/convert.h"

namespace pravik::bench {
namespace {

// The photo, and once converted to CMYK (by the plain formulas: a quick way
// there; the profile is what is measured).
TIEBitmap& Source(TIEPixelFormat format) {
  if (format != ieCMYK) return Photo();
  static const std::unique_ptr<TIEBitmap> cmyk = [] {
    auto b = MakePhotoLike(kSide, kSide);
    const bool saved = iegUseCMYKProfile;
    iegUseCMYKProfile = false;
    b->ConvertToPixelFormat(ieCMYK);
    iegUseCMYKProfile = saved;
    return b;
  }();
  return *cmyk;
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
}  // namespace pravik::bench
