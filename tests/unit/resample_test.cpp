// Resampling: point sampling, fast linear, kernel and interpolating filters,
// alpha handling, the size rules of ResampleTo, file-backed images.
#include "image/resample.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "image/bitmap.h"

namespace pravik {
namespace {

using PixelFn = std::function<TRGB(int x, int y)>;

void FillRGB(TIEBitmap& bmp, const PixelFn& fn) {
  for (int y = 0; y < bmp.GetHeight(); ++y) {
    auto* row = reinterpret_cast<TRGB*>(bmp.GetScanLine(y));
    for (int x = 0; x < bmp.GetWidth(); ++x) row[x] = fn(x, y);
  }
}

void FillGrey(TIEBitmap& bmp, const std::function<std::uint8_t(int, int)>& fn) {
  for (int y = 0; y < bmp.GetHeight(); ++y) {
    std::uint8_t* row = bmp.GetScanLine(y);
    for (int x = 0; x < bmp.GetWidth(); ++x) row[x] = fn(x, y);
  }
}

TRGB Px(TIEBitmap& bmp, int x, int y) { return bmp.GetPixels_ie24RGB(x, y); }

std::string Describe(TRGB c) {
  return "(r" + std::to_string(c.r) + " g" + std::to_string(c.g) + " b" + std::to_string(c.b) + ")";
}

// Lowers the file-storage threshold so every bitmap allocated in scope keeps
// its rows in a temporary file.
class FileBackedScope {
 public:
  FileBackedScope() : saved_(IEDefMinFileSize) { IEDefMinFileSize = 1; }
  ~FileBackedScope() { IEDefMinFileSize = saved_; }

 private:
  std::int64_t saved_;
};

// ---- fast linear ----------------------------------------------------------------

TEST(FastLinear, ReductionAveragesWindowsThatShareTheirBoundaryPixel) {
  // Red varies along x, green along y: each checks one pass.
  auto f = [](int i) { return static_cast<std::uint8_t>((i * 97 + i * i) % 256); };
  TIEBitmap src(256, 256, ie24RGB);
  FillRGB(src, [&](int x, int y) { return CreateRGB(f(x), f(y), 7); });
  TIEBitmap dst;
  TImageProc proc;
  proc.SetAttachedIEBitmap(&src);
  proc.ResampleTo(dst, 64, 64, rfFastLinear);
  ASSERT_EQ(dst.GetWidth(), 64);
  ASSERT_EQ(dst.GetHeight(), 64);
  auto window = [&](int i) {
    if (i == 63) return static_cast<int>(f(252));  // the last column takes a single pixel
    int sum = 0;
    for (int k = 4 * i; k <= 4 * i + 4; ++k) sum += f(k);
    return sum / 5;
  };
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const TRGB p = Px(dst, x, y);
      ASSERT_EQ(p.r, window(x)) << "column " << x;
      ASSERT_EQ(p.g, window(y)) << "row " << y;
      ASSERT_EQ(p.b, 7);
    }
}

TEST(FastLinear, EnlargementInterpolatesWithA17BitFractionAndFloors) {
  // Column 1 of 32 lies halfway between source columns 0 and 1: a + floor((b - a) / 2),
  // rising in red, falling in green (floor, not truncation); blue does the same along y.
  auto v = [](int i, bool rising) { return static_cast<std::uint8_t>(rising ? 10 + 11 * i : 200 - 11 * i); };
  TIEBitmap src(16, 16, ie24RGB);
  FillRGB(src, [&](int x, int y) { return CreateRGB(v(x, true), v(x, false), v(y, false)); });
  TIEBitmap dst(32, 32, ie24RGB);
  _ResampleEx(src, dst, rfFastLinear);
  EXPECT_EQ(Px(dst, 0, 0), CreateRGB(10, 200, 200));
  EXPECT_EQ(Px(dst, 1, 0).r, 10 + 5);   // 10 + floor(11 / 2)
  EXPECT_EQ(Px(dst, 1, 0).g, 200 - 6);  // 200 + floor(-11 / 2)
  EXPECT_EQ(Px(dst, 0, 1).b, 200 - 6);
  EXPECT_EQ(Px(dst, 2, 2), CreateRGB(v(1, true), v(1, false), v(1, false)));
  // p = 15.5 for the last column: the second pixel is clamped to column 15.
  EXPECT_EQ(Px(dst, 31, 31), CreateRGB(v(15, true), v(15, false), v(15, false)));
}

TEST(FastLinear, SameSizeIsAnExactCopyWithAlpha) {
  TIEBitmap src(13, 9, ie24RGB);
  FillRGB(src, [](int x, int y) { return CreateRGB(x * 19, y * 23, (x * y) % 256); });
  src.GetAlphaChannel()->Fill(255);
  src.SetAlpha(3, 4, 77);
  TIEBitmap dst;
  TImageProc proc;
  proc.SetAttachedIEBitmap(&src);
  proc.ResampleTo(dst, 13, 9, rfFastLinear);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 13; ++x) {
      ASSERT_EQ(Px(dst, x, y), Px(src, x, y));
      ASSERT_EQ(dst.GetAlpha(x, y), src.GetAlpha(x, y));
    }
}

TEST(FastLinear, AnAxisThatKeepsItsSizeIsCopied) {
  TIEBitmap src(8, 4, ie24RGB);
  FillRGB(src, [](int x, int y) { return CreateRGB(x * 30, y * 60, 0); });
  TIEBitmap narrow(4, 4, ie24RGB), low(8, 2, ie24RGB);
  _ResampleEx(src, narrow, rfFastLinear);
  _ResampleEx(src, low, rfFastLinear);
  for (int y = 0; y < 4; ++y) EXPECT_EQ(Px(narrow, 0, y), CreateRGB(30, y * 60, 0)) << y;  // columns 0..2 averaged
  for (int x = 0; x < 8; ++x) EXPECT_EQ(Px(low, x, 0), CreateRGB(x * 30, 60, 0)) << x;     // rows 0..2 averaged
}

TEST(FastLinear, WindowsTooLongForThirtyTwoBitSums) {
  // Column 0 of 2 averages source columns 0..8500000: 8.5 million pixels of up to 255.
  constexpr int kWidth = 17'000'000;
  TIEBitmap src(kWidth, 1, ie8g);
  std::uint8_t* row = src.GetScanLine(0);
  std::uint64_t sum = 0;
  for (int x = 0; x < kWidth; ++x) {
    row[x] = static_cast<std::uint8_t>(255 - x % 7);
    if (x <= kWidth / 2) sum += row[x];
  }
  TIEBitmap dst(2, 1, ie8g);
  _ResampleEx(src, dst, rfFastLinear);
  EXPECT_EQ(dst.GetPixels_ie8(0, 0), sum / (kWidth / 2 + 1));
  EXPECT_EQ(dst.GetPixels_ie8(1, 0), row[kWidth / 2]);
}

TEST(FastLinear, GreyImagesUseTheSameWindowsOnOneByte) {
  TIEBitmap src(8, 2, ie8g);
  FillGrey(src, [](int x, int) { return static_cast<std::uint8_t>(x % 2 ? 0 : 255); });
  TIEBitmap dst(4, 2, ie8g);
  _ResampleEx(src, dst, rfFastLinear);
  ASSERT_EQ(dst.GetPixelFormat(), ie8g);
  // Columns 2i..2i+2 (white, black, white) average to 170; column 3 is column 6 alone.
  for (int x = 0; x < 3; ++x) EXPECT_EQ(dst.GetPixels_ie8(x, 0), 170) << x;
  EXPECT_EQ(dst.GetPixels_ie8(3, 1), 255);
}

// ---- point sampling --------------------------------------------------------------

// 3 x 3 -> 2 x 2 samples columns and rows 0 and 1 in every pixel format; the
// format, and the palette of ie8p, are kept.
TEST(PointSampling, CopiesSourcePixelsInEveryFormat) {
  for (TIEPixelFormat format : {ie1g, ie8p, ie8g, ie16g, ie24RGB, ie32f, ieCMYK, ie48RGB, ieCIELab, ie32RGB}) {
    SCOPED_TRACE(static_cast<int>(format));
    TIEBitmap src(3, 3, format);
    const int bytes = IEPixelFormatBits[format] / 8;
    for (int y = 0; y < 3; ++y) {
      std::uint8_t* row = src.GetScanLine(y);
      if (format == ie1g) {
        row[0] = static_cast<std::uint8_t>(y == 1 ? 0x60 : 0xA0);  // bits 1 0 1 / 0 1 1
      } else {
        for (int i = 0; i < 3 * bytes; ++i) row[i] = static_cast<std::uint8_t>(y * 50 + i * 7 + 1);
      }
    }
    if (format == ie8p)
      for (int i = 0; i < 256; ++i) src.SetPalette(i, CreateRGB(i, 255 - i, i / 2));
    TImageProc proc;
    proc.SetAttachedIEBitmap(&src);
    TIEBitmap dst;
    proc.ResampleTo(dst, 2, 2, rfNone);
    ASSERT_EQ(dst.GetPixelFormat(), format);
    ASSERT_EQ(dst.GetWidth(), 2);
    ASSERT_EQ(dst.GetHeight(), 2);
    for (int y = 0; y < 2; ++y) {
      const std::uint8_t* s = src.GetRow(y);
      const std::uint8_t* d = dst.GetScanLine(y);
      if (format == ie1g) {
        EXPECT_EQ(d[0] & 0xC0, s[0] & 0xC0) << "row " << y;
      } else {
        EXPECT_EQ(std::memcmp(d, s, 2 * bytes), 0) << "row " << y;
      }
      src.FreeRow(y);
    }
    if (format == ie8p) {
      ASSERT_EQ(dst.GetPaletteLen(), 256);
      for (int i = 0; i < 256; ++i) ASSERT_EQ(dst.GetPalette(i), src.GetPalette(i));
    }
  }
}

TEST(PointSampling, EnlargesByRepeatingPixels) {
  TIEBitmap src(2, 2, ie24RGB);
  FillRGB(src, [](int x, int y) { return CreateRGB(x, y, 9); });
  TIEBitmap dst(5, 3, ie24RGB);
  IEBmpStretchEx(src, dst);
  // Source column T(x * 0.4): 0 0 0 1 1; row T(y * 0.667): 0 0 1.
  const int cols[5] = {0, 0, 0, 1, 1}, rows[3] = {0, 0, 1};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(Px(dst, x, y), CreateRGB(cols[x], rows[y], 9)) << x << "," << y;
}

// ---- alpha -----------------------------------------------------------------------

TEST(Alpha, TransparentPixelsBecomeGreyInSourceAndDest) {
  for (TResampleFilter filter : {rfNone, rfFastLinear, rfTriangle}) {
    SCOPED_TRACE(static_cast<int>(filter));
    TIEBitmap src(4, 4, ie24RGB);
    FillRGB(src, [](int, int) { return CreateRGB(255, 0, 0); });
    src.GetAlphaChannel()->Fill(255);
    src.SetAlpha(1, 1, 0);
    TImageProc proc;
    proc.SetAttachedIEBitmap(&src);
    TIEBitmap dst;
    proc.ResampleTo(dst, 8, 8, filter);
    EXPECT_EQ(Px(src, 1, 1), CreateRGB(128, 128, 128));
    EXPECT_EQ(Px(src, 2, 1), CreateRGB(255, 0, 0));
    ASSERT_TRUE(dst.GetHasAlphaChannel());
    EXPECT_EQ(dst.GetAlphaChannel()->GetWidth(), 8);
    EXPECT_FALSE(dst.GetAlphaChannel()->AllSet);
    if (filter == rfNone) {
      EXPECT_EQ(Px(dst, 2, 2), CreateRGB(128, 128, 128));
      EXPECT_EQ(Px(dst, 3, 3), CreateRGB(128, 128, 128));
      EXPECT_EQ(dst.GetAlpha(3, 3), 0);
      EXPECT_EQ(dst.GetAlpha(4, 3), 255);
    } else {
      // Filtered: grey, not the hidden colour, mixes into the neighbours.
      const TRGB p = Px(dst, 2, 2);
      EXPECT_GT(p.g, 0) << Describe(p);
      EXPECT_LT(dst.GetAlpha(2, 2), 255);
    }
  }
}

TEST(Alpha, OpaqueFlagIsCopied) {
  TIEBitmap src(6, 6, ie24RGB);
  src.Fill(0x00FF00);
  src.GetAlphaChannel()->Fill(255);
  ASSERT_TRUE(src.GetAlphaChannel()->AllSet);
  TImageProc proc;
  proc.SetAttachedIEBitmap(&src);
  proc.Resample(3, 3, rfFastLinear);
  ASSERT_EQ(src.GetWidth(), 3);
  ASSERT_TRUE(src.GetHasAlphaChannel());
  EXPECT_EQ(src.GetAlphaChannel()->GetWidth(), 3);
  EXPECT_TRUE(src.GetAlphaChannel()->AllSet);
  EXPECT_EQ(src.GetAlpha(2, 2), 255);
}

// ---- sizes -------------------------------------------------------------------------

TEST(ResampleTo, SizeRules) {
  struct Case {
    int w, h, wantW, wantH;
  };
  const Case cases[] = {
      {32, -1, 32, 24}, {-1, 24, 32, 24}, {0, 10, 64, 10}, {0, 0, 64, 48},     {-20, 5, 20, 5},
      {5, -30, 5, 30},  {1, -1, 1, 1},    {-1, 0, 64, 48}, {100, -1, 100, 75},
  };
  TIEBitmap src(64, 48, ie24RGB);
  TImageProc proc;
  proc.SetAttachedIEBitmap(&src);
  for (const Case& c : cases) {
    TIEBitmap dst;
    proc.ResampleTo(dst, c.w, c.h, rfFastLinear);
    EXPECT_EQ(dst.GetWidth(), c.wantW) << c.w << " x " << c.h;
    EXPECT_EQ(dst.GetHeight(), c.wantH) << c.w << " x " << c.h;
  }
}

TEST(ResampleTo, NothingHappensForTwoNegativeSizesOrAnEmptyImage) {
  TIEBitmap src(10, 10, ie24RGB);
  src.Fill(0x123456);
  TImageProc proc;
  proc.SetAttachedIEBitmap(&src);
  TIEBitmap dst;
  proc.ResampleTo(dst, -1, -5, rfTriangle);
  EXPECT_TRUE(dst.IsEmpty());
  proc.Resample(-1, -1, rfTriangle);  // keeps the image rather than emptying it
  EXPECT_EQ(src.GetWidth(), 10);
  EXPECT_EQ(Px(src, 5, 5), TColor2TRGB(0x123456));

  TIEBitmap empty;
  proc.SetAttachedIEBitmap(&empty);
  proc.Resample(5, 5, rfFastLinear);
  EXPECT_TRUE(empty.IsEmpty());
  proc.SetAttachedIEBitmap(nullptr);
  proc.Resample(5, 5, rfFastLinear);
}

TEST(ResampleTo, ProgressRisesAndNamesTheProcessor) {
  TIEBitmap src(40, 30, ie24RGB);
  TImageProc proc;
  proc.SetAttachedIEBitmap(&src);
  for (TResampleFilter filter : {rfNone, rfFastLinear, rfTriangle, rfBicubic}) {
    std::vector<int> seen;
    proc.OnProgress = [&](void* sender, int per) {
      EXPECT_EQ(sender, &proc);
      seen.push_back(per);
    };
    TIEBitmap dst;
    proc.ResampleTo(dst, 17, 13, filter);
    ASSERT_FALSE(seen.empty()) << static_cast<int>(filter);
    for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_LE(seen[i - 1], seen[i]);
    EXPECT_GE(seen.back(), 95);
    EXPECT_LE(seen.back(), 100);
  }
}

// ---- kernel filters --------------------------------------------------------------------

// One-row images, expected values worked out by hand from the kernel table
// (weights x 256 rounded half to even, mirrored edges, sum div sum of weights).
TEST(KernelFilters, OneRowCases) {
  struct Case {
    const char* what;
    TResampleFilter filter;
    std::vector<std::uint8_t> src;
    std::vector<std::uint8_t> want;
  };
  const Case cases[] = {
      {"triangle 2->3, corners aligned", rfTriangle, {10, 21}, {10, 15, 21}},
      {"linear equals triangle", rfLinear, {10, 21}, {10, 15, 21}},
      {"triangle reduce 7->3, mirrored at both ends", rfTriangle, {0, 50, 100, 150, 200, 250, 40}, {44, 150, 127}},
      {"lanczos3 overshoot clamped", rfLanczos3, {0, 0, 255, 255}, {0, 0, 0, 127, 255, 255, 255}},
      {"mitchell with mirrored taps", rfMitchell, {255, 0, 0, 255, 255}, {227, 136, 13, 0, 13, 127, 241, 255, 255}},
      // 23.5 and 30.5-style halves round to even here: 147, where rounding halves up gives 148.
      {"bell 9->4, halves to even", rfBell, {13, 110, 207, 48, 145, 242, 83, 180, 21}, {99, 129, 147, 88}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int sw = static_cast<int>(c.src.size()), dw = static_cast<int>(c.want.size());
    for (TIEPixelFormat format : {ie8g, ie24RGB}) {
      TIEBitmap src(sw, 1, format);
      const int ch = format == ie8g ? 1 : 3;
      for (int x = 0; x < sw; ++x)
        for (int k = 0; k < ch; ++k) src.GetScanLine(0)[x * ch + k] = c.src[x];
      TIEBitmap dst(dw, 1, format);
      _ResampleEx(src, dst, c.filter);
      for (int x = 0; x < dw; ++x)
        for (int k = 0; k < ch; ++k) EXPECT_EQ(dst.GetScanLine(0)[x * ch + k], c.want[x]) << "column " << x;
    }
  }
}

// Every filter keeps a flat colour flat, enlarging, reducing, from a single
// pixel, and at a reduction so strong that scaled integer weights all round to 0.
TEST(Filters, ConstantImageStaysConstant) {
  struct Size {
    int sw, sh, dw, dh;
  };
  const Size sizes[] = {{7, 5, 13, 11}, {40, 30, 9, 7}, {1, 1, 4, 3}, {1200, 3, 2, 2}, {40000, 2, 1, 1}, {5, 9, 5, 4}};
  for (int f = rfTriangle; f <= rfProjectWB; ++f) {
    const auto filter = static_cast<TResampleFilter>(f);
    for (const Size& s : sizes) {
      SCOPED_TRACE("filter " + std::to_string(f) + " " + std::to_string(s.sw) + "x" + std::to_string(s.sh) + "->" +
                   std::to_string(s.dw) + "x" + std::to_string(s.dh));
      TIEBitmap rgb(s.sw, s.sh, ie24RGB), grey(s.sw, s.sh, ie8g);
      rgb.Fill(TRGB2TColor(CreateRGB(200, 100, 50)));
      grey.Fill(77);
      TIEBitmap rgbOut(s.dw, s.dh, ie24RGB), greyOut(s.dw, s.dh, ie8g);
      _ResampleEx(rgb, rgbOut, filter);
      _ResampleEx(grey, greyOut, filter);
      for (int y = 0; y < s.dh; ++y)
        for (int x = 0; x < s.dw; ++x) {
          ASSERT_EQ(Px(rgbOut, x, y), CreateRGB(200, 100, 50)) << x << "," << y;
          ASSERT_EQ(greyOut.GetPixels_ie8(x, y), 77) << x << "," << y;
        }
    }
  }
}

// ---- interpolating filters ---------------------------------------------------------------

TEST(InterpolatingFilters, BilinearOnBytesAndWords) {
  // Pixel centres aligned: 2 -> 4 puts destination centres at -0.25, 0.25, 0.75, 1.25.
  TIEBitmap grey(2, 1, ie8g), words(2, 1, ie16g), rgb48(2, 1, ie48RGB);
  grey.SetPixels_ie8(1, 0, 255);
  words.SetPixels_ie16g(1, 0, 65535);
  rgb48.SetPixels_ie48RGB(1, 0, TRGB48{65535, 0, 65535});
  TIEBitmap greyOut(4, 1, ie8g), wordsOut(4, 1, ie16g), rgb48Out(4, 1, ie48RGB);
  _ResampleEx(grey, greyOut, rfBilinear);
  _ResampleEx(words, wordsOut, rfBilinear);
  _ResampleEx(rgb48, rgb48Out, rfBilinear);
  const int wantByte[4] = {0, 64, 191, 255};
  const int wantWord[4] = {0, 16384, 49151, 65535};
  for (int x = 0; x < 4; ++x) {
    EXPECT_EQ(greyOut.GetPixels_ie8(x, 0), wantByte[x]) << x;
    EXPECT_EQ(wordsOut.GetPixels_ie16g(x, 0), wantWord[x]) << x;
    EXPECT_EQ(rgb48Out.GetPixels_ie48RGB(x, 0),
              (TRGB48{static_cast<std::uint16_t>(wantWord[x]), 0, static_cast<std::uint16_t>(wantWord[x])}))
        << x;
  }
}

TEST(InterpolatingFilters, BicubicKeepsARampAndFlatWords) {
  TIEBitmap ramp(16, 4, ie24RGB);
  FillRGB(ramp, [](int x, int) { return CreateRGB(x * 16, 0, 0); });
  TIEBitmap out(32, 4, ie24RGB);
  _ResampleEx(ramp, out, rfBicubic);
  // Away from the clamped edges Catmull-Rom reproduces a straight line: the
  // centre of destination x is source (x + 0.5) / 2 - 0.5.
  for (int x = 4; x < 28; ++x) EXPECT_NEAR(Px(out, x, 2).r, ((x + 0.5) / 2 - 0.5) * 16, 1.0) << x;

  TIEBitmap flat(9, 7, ie48RGB), flatOut(4, 11, ie48RGB);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x) flat.SetPixels_ie48RGB(x, y, TRGB48{1000, 40000, 65535});
  _ResampleEx(flat, flatOut, rfBicubic);
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 4; ++x) ASSERT_EQ(flatOut.GetPixels_ie48RGB(x, y), (TRGB48{1000, 40000, 65535}));
}

// ---- 1-bit sources, unsupported combinations -------------------------------------------

TEST(OneBit, FiltersGiveRGBAndProjectionsStayOneBit) {
  // Checkerboard: every 2 x 2 window holds both colours.
  TIEBitmap src(8, 8, ie1g);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) src.SetPixels_ie1g(x, y, (x + y) % 2 == 0);
  TImageProc proc;
  proc.SetAttachedIEBitmap(&src);

  TIEBitmap bw, wb, linear;
  proc.ResampleTo(bw, 4, 4, rfProjectBW);
  proc.ResampleTo(wb, 4, 4, rfProjectWB);
  proc.ResampleTo(linear, 4, 8, rfFastLinear);
  ASSERT_EQ(bw.GetPixelFormat(), ie1g);
  ASSERT_EQ(wb.GetPixelFormat(), ie1g);
  ASSERT_EQ(linear.GetPixelFormat(), ie24RGB);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      EXPECT_FALSE(bw.GetPixels_ie1g(x, y)) << x << "," << y;
      EXPECT_TRUE(wb.GetPixels_ie1g(x, y)) << x << "," << y;
    }
  // Row 0 is white, black, white, ...: columns 0..2 average to 170.
  EXPECT_EQ(Px(linear, 0, 0), CreateRGB(170, 170, 170));
  EXPECT_EQ(Px(linear, 0, 1), CreateRGB(85, 85, 85));
}

TEST(ProjectionFilters, DarkestOrLightestOfEachWindowOnRGB) {
  TIEBitmap src(4, 4, ie24RGB);
  src.Fill(0x808080);
  src.SetPixels_ie24RGB(1, 0, CreateRGB(10, 250, 128));
  TIEBitmap bw(2, 2, ie24RGB), wb(2, 2, ie24RGB);
  _ResampleEx(src, bw, rfProjectBW);
  _ResampleEx(src, wb, rfProjectWB);
  EXPECT_EQ(Px(bw, 0, 0), CreateRGB(10, 128, 128));
  EXPECT_EQ(Px(wb, 0, 0), CreateRGB(128, 250, 128));
  EXPECT_EQ(Px(bw, 1, 1), CreateRGB(128, 128, 128));
}

TEST(Dispatch, UnsupportedCombinationsLeaveDestAlone) {
  struct Case {
    TIEPixelFormat format;
    TResampleFilter filter;
  };
  const Case cases[] = {
      {ieCMYK, rfTriangle}, {ie48RGB, rfFastLinear}, {ie16g, rfLanczos3}, {ie8p, rfFastLinear}, {ie24RGB, rfNone}};
  for (const Case& c : cases) {
    TIEBitmap src(6, 6, c.format), dst(3, 3, c.format);
    for (int y = 0; y < 3; ++y) std::memset(dst.GetScanLine(y), 0xAB, static_cast<std::size_t>(dst.GetRowLen()));
    _ResampleEx(src, dst, c.filter);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < dst.GetRowLen(); ++x)
        ASSERT_EQ(dst.GetScanLine(y)[x], 0xAB) << static_cast<int>(c.format) << " " << static_cast<int>(c.filter);
  }
}

// Through the dispatcher a format without that filter is still filled: words
// interpolated, the rest (palette indexes among them) point sampled.
TEST(Dispatch, FormatsWithoutTheFilterAreStillFilled) {
  TImageProc proc;
  TIEBitmap cmyk(4, 4, ieCMYK);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) cmyk.SetPixels_ieCMYK(x, y, TCMYK{std::uint8_t(x * 10), std::uint8_t(y * 10), 7, 200});
  proc.SetAttachedIEBitmap(&cmyk);
  proc.Resample(2, 2, rfTriangle);
  ASSERT_EQ(cmyk.GetPixelFormat(), ieCMYK);
  EXPECT_EQ(cmyk.GetPixels_ieCMYK(1, 1), (TCMYK{20, 20, 7, 200}));

  TIEBitmap pal(4, 4, ie8p);
  FillGrey(pal, [](int x, int y) { return static_cast<std::uint8_t>(x + 4 * y); });
  pal.SetPalette(10, CreateRGB(1, 2, 3));
  proc.SetAttachedIEBitmap(&pal);
  proc.Resample(2, 2, rfFastLinear);
  ASSERT_EQ(pal.GetPixelFormat(), ie8p);
  EXPECT_EQ(pal.GetPixels_ie8(1, 1), 10);
  EXPECT_EQ(pal.GetPalette(10), CreateRGB(1, 2, 3));

  TIEBitmap words(5, 5, ie16g);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) words.SetPixels_ie16g(x, y, 40000);
  proc.SetAttachedIEBitmap(&words);
  proc.Resample(3, 8, rfLanczos3);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 3; ++x) ASSERT_EQ(words.GetPixels_ie16g(x, y), 40000);
}

// ---- file-backed images -----------------------------------------------------------------

// The same resampling with every bitmap's rows in a temporary file gives the
// same pixels as in memory, and leaves the source as it was.
TEST(FileBacked, SameResultAsInMemory) {
  auto colour = [](int x, int y) { return CreateRGB((x * 13 + y) % 256, (y * 29) % 256, (x * y) % 256); };
  auto build = [&](TIEBitmap& bmp) {
    bmp.Allocate(50, 40, ie24RGB);
    FillRGB(bmp, colour);
    bmp.GetAlphaChannel()->Fill(255);
    bmp.SetAlpha(7, 9, 0);
    bmp.SetAlpha(30, 20, 100);
  };
  struct Op {
    int w, h;
    TResampleFilter filter;
  };
  const Op ops[] = {{20, 15, rfFastLinear}, {70, 55, rfFastLinear}, {70, 55, rfTriangle},
                    {23, 61, rfNone},       {31, 17, rfBicubic},    {12, 9, rfProjectBW}};
  for (const Op& op : ops) {
    SCOPED_TRACE(static_cast<int>(op.filter));
    TIEBitmap memSrc, memDst;
    build(memSrc);
    TImageProc proc;
    proc.SetAttachedIEBitmap(&memSrc);
    proc.ResampleTo(memDst, op.w, op.h, op.filter);

    FileBackedScope fileBacked;
    TIEBitmap fileSrc, fileDst;
    build(fileSrc);
    ASSERT_EQ(fileSrc.GetLocation(), ieFile);
    proc.SetAttachedIEBitmap(&fileSrc);
    proc.ResampleTo(fileDst, op.w, op.h, op.filter);
    ASSERT_EQ(fileDst.GetLocation(), ieFile);
    ASSERT_EQ(fileDst.GetWidth(), op.w);
    for (int y = 0; y < op.h; ++y)
      for (int x = 0; x < op.w; ++x) {
        ASSERT_EQ(Px(fileDst, x, y), Px(memDst, x, y)) << x << "," << y;
        ASSERT_EQ(fileDst.GetAlpha(x, y), memDst.GetAlpha(x, y)) << x << "," << y;
      }
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 50; ++x) {
        const TRGB want = (x == 7 && y == 9) ? CreateRGB(128, 128, 128) : colour(x, y);
        ASSERT_EQ(Px(fileSrc, x, y), want) << x << "," << y;
      }
  }
}

}  // namespace
}  // namespace pravik
