#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "image/bitmap.h"
#include "image/colour.h"
#include "image/convert.h"
#include "image/quantize.h"

namespace pravik {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr const char* kFormatNames[IEPixelFormatCount] = {"ienull", "ie1g",  "ie8p",   "ie8g",     "ie16g",  "ie24RGB",
                                                          "ie32f",  "ieCMYK", "ie48RGB", "ieCIELab", "ie32RGB"};

Bytes W(std::uint16_t w) { return {static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(w >> 8)}; }
Bytes F(float f) {
  Bytes b(4);
  std::memcpy(b.data(), &f, 4);
  return b;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Runs a block with the CMYK profile switched off so that CMYK values are
// exact; restores the setting.
class PlainCMYK {
 public:
  PlainCMYK() : saved_(iegUseCMYKProfile) { iegUseCMYKProfile = false; }
  ~PlainCMYK() { iegUseCMYKProfile = saved_; }

 private:
  bool saved_;
};

// New bitmaps go to temporary files while it lives.
class FileBacked {
 public:
  explicit FileBacked(bool on) : saved_(IEDefMinFileSize) {
    if (on) IEDefMinFileSize = 0;
  }
  ~FileBacked() { IEDefMinFileSize = saved_; }

 private:
  std::int64_t saved_;
};

// Writes one pixel's raw bytes (ie1g: bit set when the byte is not 0).
void SetRaw(TIEBitmap& bm, int x, int y, const Bytes& bytes) {
  std::uint8_t* row = bm.GetScanLine(y);
  if (bm.GetPixelFormat() == ie1g) {
    const auto mask = static_cast<std::uint8_t>(0x80 >> (x & 7));
    row[x >> 3] = static_cast<std::uint8_t>(bytes[0] ? row[x >> 3] | mask : row[x >> 3] & ~mask);
    return;
  }
  const int size = bm.GetBitCount() / 8;
  ASSERT_EQ(static_cast<int>(bytes.size()), size);
  std::memcpy(row + std::int64_t(x) * size, bytes.data(), bytes.size());
}

Bytes GetRaw(TIEBitmap& bm, int x, int y) {
  const std::uint8_t* row = bm.GetScanLine(y);
  if (bm.GetPixelFormat() == ie1g) return {static_cast<std::uint8_t>((row[x >> 3] & (0x80 >> (x & 7))) ? 1 : 0)};
  const int size = bm.GetBitCount() / 8;
  return Bytes(row + std::int64_t(x) * size, row + std::int64_t(x + 1) * size);
}

std::string PairName(int from, int to) {
  std::string s = kFormatNames[from];
  s += " -> ";
  s += kFormatNames[to];
  return s;
}

std::string Show(TRGB c) {
  char text[32];
  std::snprintf(text, sizeof(text), "(%d,%d,%d)", c.r, c.g, c.b);
  return text;
}

// ---- every pair of formats ------------------------------------------------------------

// Logical pixels of the fixture: black, white, mid grey, a colour.
enum Shade { kBlack, kWhite, kGrey, kColour };
const TRGB kColourRGB = CreateRGB(200, 100, 50);

// Raw bytes of each shade in each format (grey formats store the colour's grey).
Bytes ShadeBytes(TIEPixelFormat f, Shade s) {
  const std::uint8_t g8[] = {0, 255, 128, 117};
  switch (f) {
    case ie1g: return {static_cast<std::uint8_t>(s == kWhite || s == kColour ? 1 : 0)};
    case ie8p: return {static_cast<std::uint8_t>(s)};  // palette built to match
    case ie8g: return {g8[s]};
    case ie16g: return W(static_cast<std::uint16_t>(g8[s] * 257));
    case ie24RGB: {
      const TRGB c = s == kColour ? kColourRGB : TRGB{g8[s], g8[s], g8[s]};
      return {c.b, c.g, c.r};
    }
    case ie32f: {
      const float v[] = {0.0f, 1.0f, 0.5f, 0.46f};
      return F(v[s]);
    }
    case ieCMYK: {
      const Bytes v[] = {{0, 0, 0, 0}, {255, 255, 255, 255}, {255, 255, 255, 128}, {255, 128, 64, 200}};
      return v[s];
    }
    case ie48RGB: {
      if (s == kColour) return Cat({W(200 * 257), W(100 * 257), W(50 * 257)});
      return Cat({W(g8[s] * 257), W(g8[s] * 257), W(g8[s] * 257)});
    }
    case ieCIELab: {
      if (s == kColour) {
        const TCIELab c = IERGB2CIELAB(kColourRGB);
        return {c.l, static_cast<std::uint8_t>(c.a), static_cast<std::uint8_t>(c.b)};
      }
      const Bytes v[] = {{0, 0, 0}, {255, 0, 0}, {136, 0, 0}};
      return v[s];
    }
    case ie32RGB: {
      if (s == kColour) return {kColourRGB.b, kColourRGB.g, kColourRGB.r, 77};
      return {g8[s], g8[s], g8[s], 77};
    }
    default: return {};
  }
}

constexpr int kW = 11, kH = 3;  // odd width: 1-bit rows end inside a byte
Shade ShadeAt(int x, int y) { return static_cast<Shade>((x + y) % 4); }
std::uint8_t AlphaAt(int x, int y) { return static_cast<std::uint8_t>(x * 20 + y * 3 + 1); }

void MakeFixture(TIEBitmap& bm, TIEPixelFormat f) {
  ASSERT_TRUE(bm.Allocate(kW, kH, f));
  if (f == ie8p) {
    bm.SetPalette(kBlack, CreateRGB(0, 0, 0));
    bm.SetPalette(kWhite, CreateRGB(255, 255, 255));
    bm.SetPalette(kGrey, CreateRGB(128, 128, 128));
    bm.SetPalette(kColour, kColourRGB);
  }
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      SetRaw(bm, x, y, ShadeBytes(f, ShadeAt(x, y)));
      bm.SetAlpha(x, y, AlphaAt(x, y));
    }
}

bool IsGreyFormat(TIEPixelFormat f) { return f == ie8g || f == ie16g || f == ie32f; }

class AllPairsTest : public ::testing::TestWithParam<bool> {};

// Every source format to every target: size kept, alpha channel unchanged,
// black and white exact, greys and colours as close as the target can hold.
TEST_P(AllPairsTest, EveryPairKeepsSizeAlphaAndColours) {
  PlainCMYK plain;
  FileBacked files(GetParam());
  for (int from = ie1g; from < IEPixelFormatCount; ++from) {
    for (int to = ie1g; to < IEPixelFormatCount; ++to) {
      const auto sf = static_cast<TIEPixelFormat>(from), tf = static_cast<TIEPixelFormat>(to);
      SCOPED_TRACE(PairName(from, to));
      TIEBitmap bm;
      MakeFixture(bm, sf);
      std::vector<TRGB> before;
      for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) before.push_back(bm.GetPixels(x, y));

      bm.ConvertToPixelFormat(tf);

      ASSERT_EQ(bm.GetPixelFormat(), tf);
      ASSERT_EQ(bm.GetWidth(), kW);
      ASSERT_EQ(bm.GetHeight(), kH);
      EXPECT_FALSE(bm.AllSet);
      if (GetParam()) {
        EXPECT_EQ(bm.GetLocation(), ieFile);
      }
      ASSERT_TRUE(bm.GetHasAlphaChannel());
      for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
          ASSERT_EQ(bm.GetAlpha(x, y), AlphaAt(x, y)) << x << "," << y;
          const TRGB was = before[std::size_t(y) * kW + x];
          const TRGB now = bm.GetPixels(x, y);
          const Shade s = ShadeAt(x, y);
          TRGB want = was;
          int tolerance = 3;
          if (s == kBlack || s == kWhite) {
            tolerance = 0;
          } else if (tf == ie1g) {
            continue;  // greys fall either side of the mean
          } else if (IsGreyFormat(tf)) {
            const std::uint8_t g = _RGBToGray(was);
            want = TRGB{g, g, g};
          }
          EXPECT_NEAR(now.r, want.r, tolerance) << x << "," << y << " " << Show(now) << " want " << Show(want);
          EXPECT_NEAR(now.g, want.g, tolerance) << x << "," << y << " " << Show(now) << " want " << Show(want);
          EXPECT_NEAR(now.b, want.b, tolerance) << x << "," << y << " " << Show(now) << " want " << Show(want);
        }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Storage, AllPairsTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? std::string("File") : std::string("Memory"); });

// ---- exact values of the formulas -------------------------------------------------------

struct ValueCase {
  TIEPixelFormat from;
  Bytes source;
  TIEPixelFormat to;
  Bytes want;
};

TEST(ConvertTest, PixelFormulas) {
  PlainCMYK plain;
  const Bytes rgb = {50, 100, 200};  // blue, green, red
  const Bytes w48 = Cat({W(0x1234), W(0x5678), W(0x9ABC)});
  const ValueCase cases[] = {
      {ie16g, W(0x1234), ie8g, {0x12}},
      {ie16g, W(0x1234), ie48RGB, Cat({W(0x1234), W(0x1234), W(0x1234)})},
      {ie16g, W(0x1234), ie32f, F(static_cast<float>(0x1234 / 65535.0L))},
      {ie16g, W(0xFF00), ie8p, {0xFF}},
      {ie32f, F(1.5f), ie8g, {126}},  // 382 keeps its low byte
      {ie32f, F(0.5f), ie16g, W(32767)},
      {ie32f, F(1.0f), ie48RGB, Cat({W(65535), W(65535), W(65535)})},
      {ie32f, F(1.0f), ie24RGB, {255, 255, 255}},
      {ie8g, {200}, ie16g, W(51400)},
      {ie8g, {200}, ie48RGB, Cat({W(51400), W(51400), W(51400)})},
      {ie8g, {255}, ie32f, F(1.0f)},
      {ie24RGB, rgb, ie8g, {117}},
      {ie24RGB, rgb, ie16g, W(30184)},
      {ie24RGB, rgb, ie48RGB, Cat({W(51400), W(25700), W(12850)})},  // red first
      {ie24RGB, rgb, ie32RGB, {50, 100, 200, 255}},
      {ie24RGB, {0, 0, 0}, ieCMYK, {0, 0, 0, 1}},
      {ie24RGB, {255, 255, 255}, ieCMYK, {255, 255, 255, 255}},
      {ie24RGB, {255, 255, 255}, ieCIELab, {255, 0, 0}},
      {ie24RGB, {128, 128, 128}, ieCIELab, {136, 0, 0}},
      {ieCIELab, {136, 0, 0}, ie24RGB, {127, 127, 127}},
      {ieCIELab, {255, 0, 0}, ie24RGB, {255, 255, 255}},
      {ieCMYK, {255, 128, 64, 200}, ie24RGB, rgb},
      {ieCMYK, {255, 128, 64, 200}, ie32RGB, {50, 100, 200, 255}},
      {ieCMYK, {255, 128, 64, 200}, ie8g, {117}},
      {ie48RGB, w48, ie24RGB, {0x9A, 0x56, 0x12}},
      {ie48RGB, w48, ie8g, {77}},
      {ie48RGB, w48, ie16g, W(19741)},
      {ie48RGB, Cat({W(65535), W(65535), W(65535)}), ie32f, F(1.0f)},
      {ie32RGB, {1, 2, 3, 77}, ie24RGB, {1, 2, 3}},
      {ie1g, {1}, ie32RGB, {255, 255, 255, 255}},
      {ie1g, {1}, ie16g, W(65535)},
      {ie1g, {0}, ie48RGB, Cat({W(0), W(0), W(0)})},
      {ie1g, {1}, ie32f, F(1.0f)},
      {ie1g, {1}, ieCIELab, {255, 0, 0}},
      {ie1g, {0}, ieCIELab, {0, 0, 0}},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(PairName(c.from, c.to));
    TIEBitmap bm(1, 1, c.from);
    SetRaw(bm, 0, 0, c.source);
    bm.ConvertToPixelFormat(c.to);
    EXPECT_EQ(GetRaw(bm, 0, 0), c.want);
  }
}

TEST(ConvertTest, PaletteSourceUsesEntryGreys) {
  TIEBitmap bm(2, 1, ie8p);
  bm.SetPalette(7, CreateRGB(200, 100, 50));
  bm.SetPalette(8, CreateRGB(10, 20, 30));
  SetRaw(bm, 0, 0, {7});
  SetRaw(bm, 1, 0, {8});
  TIEBitmap grey16;
  grey16.Assign(bm);
  grey16.ConvertToPixelFormat(ie16g);
  EXPECT_EQ(grey16.GetPixels_ie16g(0, 0), 30184);  // Grey16 of the widened entry
  TIEBitmap rgb48;
  rgb48.Assign(bm);
  rgb48.ConvertToPixelFormat(ie48RGB);
  EXPECT_EQ(rgb48.GetPixels_ie48RGB(1, 0), (TRGB48{10 * 257, 20 * 257, 30 * 257}));
  bm.ConvertToPixelFormat(ie32f);
  EXPECT_FLOAT_EQ(bm.GetPixels_ie32f(0, 0), IEGreyF(CreateRGB(200, 100, 50)));
}

// ---- the in-place procedure ---------------------------------------------------------------

TEST(ConvertTest, SameFormatChangesNothing) {
  TIEBitmap bm(4, 4, ie24RGB);
  bm.Fill(clWhite);
  ASSERT_TRUE(bm.AllSet);
  bm.SetPixelFormat(ie24RGB);
  EXPECT_TRUE(bm.AllSet);
  EXPECT_EQ(bm.GetPixels(3, 3), CreateRGB(255, 255, 255));
  // Asked for directly, the pixels are still kept rather than lost.
  bm.SetPixels_ie24RGB(1, 2, CreateRGB(1, 2, 3));
  bm.ConvertToPixelFormat(ie24RGB);
  EXPECT_EQ(bm.GetPixels(1, 2), CreateRGB(1, 2, 3));
  EXPECT_EQ(bm.GetPixels(0, 0), CreateRGB(255, 255, 255));
}

TEST(ConvertTest, EmptyAndNullTargets) {
  TIEBitmap empty;
  empty.SetPixelFormat(ie8g);
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_EQ(empty.GetPixelFormat(), ie8g);

  TIEBitmap bm(3, 3, ie24RGB);
  bm.GetAlphaChannel();
  bm.ConvertToPixelFormat(ienull);
  EXPECT_TRUE(bm.IsEmpty());
  EXPECT_EQ(bm.GetPixelFormat(), ienull);
}

TEST(ConvertTest, KeepsBitAlignmentAndDitherSetting) {
  TIEBitmap bm;
  bm.SetBitAlignment(8);
  ASSERT_TRUE(bm.Allocate(3, 2, ie24RGB));
  bm.DefaultDitherMethod = ieOrdered;
  bm.ConvertToPixelFormat(ie8g);
  EXPECT_EQ(bm.GetBitAlignment(), 8);
  EXPECT_EQ(bm.GetRowLen(), 3);
  EXPECT_EQ(bm.DefaultDitherMethod, ieOrdered);
}

TEST(ConvertTest, FailedAllocationKeepsTheImage) {
  TIEBitmap bm(64, 64, ie24RGB);
  bm.Fill(0x336699);
  bm.SetAlpha(5, 5, 9);
  const std::int64_t savedBlock = iegMaxMemoryBlock;
  char savedPath[sizeof(iegDefTempPath)];
  std::memcpy(savedPath, iegDefTempPath, sizeof(savedPath));
  iegMaxMemoryBlock = 16;  // no memory block, no fragment
  std::strcpy(iegDefTempPath, "/nonexistent-folder-for-pravik-tests/");  // no temporary file
  bm.ConvertToPixelFormat(ie48RGB);
  iegMaxMemoryBlock = savedBlock;
  std::memcpy(iegDefTempPath, savedPath, sizeof(savedPath));

  EXPECT_EQ(bm.GetPixelFormat(), ie24RGB);
  EXPECT_EQ(bm.GetWidth(), 64);
  EXPECT_EQ(bm.GetPixels(63, 63), TColor2TRGB(0x336699));
  EXPECT_EQ(bm.GetAlpha(5, 5), 9);
}

TEST(ConvertTest, FourthByteDoesNotBecomeAlpha) {
  TIEBitmap bm(2, 1, ie32RGB);
  SetRaw(bm, 0, 0, {1, 2, 3, 10});
  SetRaw(bm, 1, 0, {4, 5, 6, 20});
  bm.ConvertToPixelFormat(ie24RGB);
  EXPECT_FALSE(bm.GetHasAlphaChannel());

  TIEBitmap withAlpha(2, 1, ie32RGB);
  SetRaw(withAlpha, 0, 0, {1, 2, 3, 10});
  withAlpha.SetAlpha(0, 0, 200);
  withAlpha.ConvertToPixelFormat(ie24RGB);
  EXPECT_EQ(withAlpha.GetAlpha(0, 0), 200);
  EXPECT_EQ(withAlpha.GetAlpha(1, 0), 255);
}

TEST(ConvertTest, CopyAndConvertFormatMovesAlphaAndChecksSize) {
  TIEBitmap source(3, 2, ie24RGB);
  source.Fill(clWhite);
  source.SetAlpha(2, 1, 42);
  TIEBitmap other(4, 2, ie8g);
  other.CopyAndConvertFormat(source);  // sizes differ: nothing happens
  EXPECT_TRUE(source.GetHasAlphaChannel());
  EXPECT_EQ(other.GetPixels_ie8(0, 0), 0);

  TIEBitmap target(3, 2, ie8g);
  target.CopyAndConvertFormat(source);
  EXPECT_EQ(target.GetPixels_ie8(2, 1), 255);
  EXPECT_FALSE(source.GetHasAlphaChannel());
  EXPECT_EQ(target.GetAlpha(2, 1), 42);
}

// ---- palettes -------------------------------------------------------------------------------

TEST(ConvertTest, GreyToPaletteGivesGreyRamp) {
  TIEBitmap bm(256, 1, ie8g);
  for (int x = 0; x < 256; ++x) SetRaw(bm, x, 0, {static_cast<std::uint8_t>(255 - x)});
  bm.ConvertToPixelFormat(ie8p);
  ASSERT_EQ(bm.GetPaletteLen(), 256);
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<std::uint8_t>(i);
    ASSERT_EQ(bm.GetPalette(i), (TRGB{v, v, v})) << i;
    ASSERT_EQ(bm.GetPixels_ie8(i, 0), 255 - i);
  }
}

TEST(ConvertTest, OneBitToPaletteLeavesNoStaleEntries) {
  TIEBitmap bm(9, 1, ie1g);
  SetRaw(bm, 3, 0, {1});
  bm.ConvertToPixelFormat(ie8p);
  EXPECT_EQ(bm.GetPalette(0), CreateRGB(0, 0, 0));
  EXPECT_EQ(bm.GetPalette(1), CreateRGB(255, 255, 255));
  for (int i = 2; i < 256; ++i) ASSERT_EQ(bm.GetPalette(i), TRGB{}) << i;
  EXPECT_EQ(bm.GetPixels_ie8(3, 0), 1);
  EXPECT_EQ(bm.GetPixels_ie8(4, 0), 0);
}

TEST(ConvertTest, TrueColourToPaletteThroughQuantizer) {
  const TRGB colours[] = {CreateRGB(255, 0, 0), CreateRGB(0, 200, 0), CreateRGB(10, 20, 250)};
  for (TIEPixelFormat from : {ie24RGB, ie48RGB, ie32RGB}) {
    SCOPED_TRACE(kFormatNames[from]);
    TIEBitmap rgb(6, 2, ie24RGB);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 6; ++x) rgb.SetPixels_ie24RGB(x, y, colours[(x + y) % 3]);
    rgb.ConvertToPixelFormat(from);
    rgb.SetAlpha(1, 1, 3);
    rgb.PaletteColorCount = 16;
    rgb.ConvertToPixelFormat(ie8p);
    ASSERT_EQ(rgb.GetPixelFormat(), ie8p);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 6; ++x) EXPECT_EQ(rgb.GetPixels(x, y), colours[(x + y) % 3]) << x << "," << y;
    // Entries past the colours found are defined (black), not left over.
    for (int i = 16; i < 256; ++i) ASSERT_EQ(rgb.GetPalette(i), TRGB{}) << i;
    EXPECT_EQ(rgb.GetAlpha(1, 1), 3);
  }
}

// ---- black and white ------------------------------------------------------------------------

bool AllBits(TIEBitmap& bm, bool value) {
  for (int y = 0; y < bm.GetHeight(); ++y)
    for (int x = 0; x < bm.GetWidth(); ++x)
      if (bm.GetPixels_ie1g(x, y) != value) return false;
  return true;
}

TEST(ConvertTest, ThresholdOfUniformImages) {
  for (TIEPixelFormat from : {ie24RGB, ie8g, ie8p, ie48RGB, ieCMYK, ieCIELab, ie32RGB, ie16g, ie32f}) {
    SCOPED_TRACE(kFormatNames[from]);
    PlainCMYK plain;
    TIEBitmap white(13, 3, ie24RGB);
    white.Fill(clWhite);
    white.ConvertToPixelFormat(from);
    white.ConvertToPixelFormat(ie1g);
    EXPECT_TRUE(AllBits(white, true));

    TIEBitmap black(13, 3, ie24RGB);
    black.Fill(clBlack);
    black.ConvertToPixelFormat(from);
    black.ConvertToPixelFormat(ie1g);
    EXPECT_TRUE(AllBits(black, false));
  }
}

TEST(ConvertTest, ThresholdUsesTheMeanGrey) {
  // Three columns: 40, 100, 220 grey; the mean is 120, so only 220 is white.
  TIEBitmap bm(3, 2, ie8g);
  for (int y = 0; y < 2; ++y) {
    SetRaw(bm, 0, y, {40});
    SetRaw(bm, 1, y, {100});
    SetRaw(bm, 2, y, {220});
  }
  int r, g, b;
  _GetMediaContrastRGB(bm, r, g, b);
  EXPECT_EQ(r, 120);
  EXPECT_EQ(g, 120);
  EXPECT_EQ(b, 120);
  bm.ConvertToPixelFormat(ie1g);
  EXPECT_FALSE(bm.GetPixels_ie1g(0, 1));
  EXPECT_FALSE(bm.GetPixels_ie1g(1, 1));
  EXPECT_TRUE(bm.GetPixels_ie1g(2, 1));

  TIEBitmap empty;
  _GetMediaContrastRGB(empty, r, g, b);
  EXPECT_EQ(r, 128);
}

TEST(ConvertTest, ThresholdWithGivenLevelAndProgress) {
  TIEBitmap src(4, 4, ie8g);
  for (int x = 0; x < 4; ++x)
    for (int y = 0; y < 4; ++y) SetRaw(src, x, y, {static_cast<std::uint8_t>(x * 60)});
  TIEBitmap dest;  // not yet allocated: made ie1g at the source's size
  std::vector<int> reports;
  _ConvertToBWThresholdEx(src, dest, 120, [&](int per) { reports.push_back(per); });
  ASSERT_EQ(dest.GetPixelFormat(), ie1g);
  EXPECT_FALSE(dest.GetPixels_ie1g(1, 0));  // 60
  EXPECT_TRUE(dest.GetPixels_ie1g(2, 0));   // 120: equal is white
  EXPECT_EQ(reports, (std::vector<int>{25, 50, 75, 100}));
}

TEST(ConvertTest, OrderedDitheringPattern) {
  // White keeps a black pixel where the pattern holds 63: index 56 = (x 7, y 0).
  TIEBitmap white(16, 8, ie24RGB);
  white.Fill(clWhite);
  white.DefaultDitherMethod = ieOrdered;
  white.ConvertToPixelFormat(ie1g);
  int black = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) black += white.GetPixels_ie1g(x, y) ? 0 : 1;
  EXPECT_EQ(black, 2);
  EXPECT_FALSE(white.GetPixels_ie1g(7, 0));
  EXPECT_FALSE(white.GetPixels_ie1g(15, 0));

  // Grey 132 gives level 33: (0, 1) has pattern 32 (white), (1, 0) has 48 (black).
  for (TIEPixelFormat from : {ie8g, ie16g, ie48RGB}) {
    SCOPED_TRACE(kFormatNames[from]);
    TIEBitmap grey(8, 8, ie8g);
    grey.Fill(132);
    grey.ConvertToPixelFormat(from);
    grey.DefaultDitherMethod = ieOrdered;
    grey.ConvertToPixelFormat(ie1g);
    EXPECT_TRUE(grey.GetPixels_ie1g(0, 1));
    EXPECT_FALSE(grey.GetPixels_ie1g(1, 0));
    int whites = 0;
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) whites += grey.GetPixels_ie1g(x, y) ? 1 : 0;
    EXPECT_EQ(whites, 33);  // pattern values 0..32
  }
}

// ---- two-colour detection -----------------------------------------------------------------------

// Colours a and b alternating from a at the top left; the last pixel third.
void Checkered(TIEBitmap& bm, TRGB a, TRGB b, TRGB third) {
  for (int y = 0; y < bm.GetHeight(); ++y)
    for (int x = 0; x < bm.GetWidth(); ++x) bm.SetPixels_ie24RGB(x, y, (x + y) % 2 ? b : a);
  bm.SetPixels_ie24RGB(bm.GetWidth() - 1, bm.GetHeight() - 1, third);
}

TEST(ConvertTest, TwoColourDetection) {
  struct Case {
    const char* name;
    TRGB topLeft, other, third;
    bool found;
  };
  const TRGB black = CreateRGB(0, 0, 0), white = CreateRGB(255, 255, 255), red = CreateRGB(255, 0, 0);
  const Case cases[] = {
      {"black first", black, white, white, true},
      {"white first", white, black, black, true},
      {"one colour", red, red, red, false},
      {"three colours", black, white, red, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TIEBitmap bm(10, 3, ie24RGB);
    Checkered(bm, c.topLeft, c.other, c.third);
    TRGB c1{}, c2{};
    auto result = _ConvertTo1bitEx(bm, c1, c2);
    ASSERT_EQ(result != nullptr, c.found);
    if (!result) continue;
    EXPECT_EQ(c1, black);
    EXPECT_EQ(c2, white);
    ASSERT_EQ(result->GetPixelFormat(), ie1g);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 10; ++x) ASSERT_EQ(result->GetPixels_ie1g(x, y), bm.GetPixels(x, y) == white) << x << "," << y;
  }
}

TEST(ConvertTest, TwoLevelCopyForWritersKeepsTheColours) {
  // What each bit of the copy shows, for images of one, two and more colours.
  struct Case {
    const char* name;
    TRGB a, b, third;
    TRGB dark, light;
  };
  const TRGB black = CreateRGB(0, 0, 0), white = CreateRGB(255, 255, 255), red = CreateRGB(255, 0, 0),
             navy = CreateRGB(0, 0, 90);
  const Case cases[] = {
      {"two colours", red, navy, navy, navy, red},
      {"one colour", red, red, red, red, red},
      {"white only", white, white, white, black, white},
      {"black only", black, black, black, black, white},
      {"three colours: black and white", black, white, red, black, white},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TIEBitmap bm(10, 3, ie24RGB);
    Checkered(bm, c.a, c.b, c.third);
    TRGB dark{}, light{};
    auto copy = IETwoLevelCopy(bm, dark, light);
    ASSERT_NE(copy, nullptr);
    ASSERT_EQ(copy->GetPixelFormat(), ie1g);
    EXPECT_EQ(dark, c.dark);
    EXPECT_EQ(light, c.light);
    if (c.third == c.b) {  // at most two colours: every pixel shows its own colour
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 10; ++x)
          ASSERT_EQ(copy->GetPixels_ie1g(x, y) ? light : dark, bm.GetPixels_ie24RGB(x, y)) << x << "," << y;
    }
  }
}

TEST(ConvertTest, TwoColourDetectionRoundsGreysHalfToEven) {
  // Greys 21 R + 71 G + 8 B: 250 and 150 both round to 2 (halves to even),
  // so the first colour met stays Colour1.
  TIEBitmap bm(2, 1, ie8p);
  bm.SetPalette(2, CreateRGB(10, 0, 5));  // s = 21 x 10 + 8 x 5 = 250
  bm.SetPalette(3, CreateRGB(6, 0, 3));   // s = 21 x 6 + 8 x 3 = 150
  SetRaw(bm, 0, 0, {2});
  SetRaw(bm, 1, 0, {3});
  TRGB c1{}, c2{};
  auto result = _ConvertTo1bitEx(bm, c1, c2);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(c1, CreateRGB(10, 0, 5));
  EXPECT_FALSE(result->GetPixels_ie1g(0, 0));
}

TEST(ConvertTest, NegativeInvertsWholeRows) {
  TIEBitmap bm;
  bm.SetBitAlignment(8);
  ASSERT_TRUE(bm.Allocate(17, 2, ie1g));  // rows of 3 bytes
  bm.SetPixels_ie1g(16, 1, true);
  _Negative1BitEx(bm);
  EXPECT_FALSE(bm.GetPixels_ie1g(16, 1));
  EXPECT_TRUE(bm.GetPixels_ie1g(16, 0));
  EXPECT_TRUE(bm.GetPixels_ie1g(0, 0));
}

// ---- helpers for writers --------------------------------------------------------------------------

TEST(ConvertTest, SimilarColour) {
  const TRGB pal[] = {CreateRGB(0, 0, 0), CreateRGB(100, 100, 100), CreateRGB(100, 100, 100), CreateRGB(255, 0, 0)};
  EXPECT_EQ(_GetSimilColor(pal, 4, CreateRGB(90, 95, 120)), 1);  // the first of equals
  EXPECT_EQ(_GetSimilColor(pal, 4, CreateRGB(250, 10, 10)), 3);
  EXPECT_EQ(_GetSimilColor(pal, 0, CreateRGB(250, 10, 10)), 0);
}

TEST(ConvertTest, ByteOrderSwaps) {
  Bytes row = {1, 2, 3, 4, 5, 6};
  _BGR2RGB(row.data(), 2);
  EXPECT_EQ(row, (Bytes{3, 2, 1, 6, 5, 4}));
  _RGB2BGR(row.data(), 1);
  EXPECT_EQ(row, (Bytes{1, 2, 3, 6, 5, 4}));
  Bytes copy(6, 0);
  _CopyBGR_RGB(copy.data(), row.data(), 2);
  EXPECT_EQ(copy, (Bytes{3, 2, 1, 4, 5, 6}));
}

// Finds each colour's index in the palette (stands in for a quantizer).
TEST(ConvertTest, RepackRows) {
  const TRGB pal[] = {CreateRGB(0, 0, 0), CreateRGB(255, 255, 255), CreateRGB(255, 0, 0), CreateRGB(0, 0, 255)};
  const Bytes rgb3 = {0, 0, 255, 255, 255, 255, 255, 0, 0};  // red, white, blue (TRGB)
  struct Case {
    const char* name;
    Bytes source;
    int sourceBits, destBits, count;
    Bytes want;
  };
  const Case cases[] = {
      {"24->4", rgb3, 24, 4, 3, {0x21, 0x30}},
      {"24->8", rgb3, 24, 8, 3, {2, 1, 3}},
      {"24->24", rgb3, 24, 24, 3, rgb3},
      {"32->24", {1, 2, 3, 9, 4, 5, 6, 9}, 32, 24, 2, {1, 2, 3, 4, 5, 6}},
      {"8->1", {1, 0, 1, 1, 0, 0, 0, 0, 1}, 8, 1, 9, {0xB0, 0x80}},
      {"8->8", {7, 8, 9}, 8, 8, 3, {7, 8, 9}},
      {"8->24", {2, 9}, 8, 24, 2, {0, 0, 255, 0, 0, 0}},  // 9 is outside the palette: black
      {"1->1", {0xA5, 0xC0}, 1, 1, 10, {0xA5, 0xC0}},
      {"1->4", {0xA0}, 1, 4, 3, {0x10, 0x10}},
      {"1->8", {0xA0}, 1, 8, 3, {1, 0, 1}},
      {"1->24", {0x80}, 1, 24, 2, {255, 255, 255, 0, 0, 0}},
      {"4->4", {0x12, 0x30}, 4, 4, 3, {0x12, 0x30}},
      {"4->8", {0x12, 0x30}, 4, 8, 3, {1, 2, 3}},
      {"4->24", {0x32}, 4, 24, 2, {255, 0, 0, 0, 0, 255}},
      {"16->8 not handled", {1, 2}, 16, 8, 1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes dest(64, 0);
    const int n = _ConvertXBitsToYBits(c.source.data(), dest.data(), c.sourceBits, c.destBits, c.count, pal, 4, nullptr);
    ASSERT_EQ(n, static_cast<int>(c.want.size()));
    EXPECT_EQ(Bytes(dest.begin(), dest.begin() + n), c.want);
  }
  // 8->1 clears what dest held; 1->4 ORs into it.
  Bytes dest = {0xFF, 0xFF};
  EXPECT_EQ(_ConvertXBitsToYBits(Bytes{0, 1}.data(), dest.data(), 8, 1, 2, pal, 4, nullptr), 1);
  EXPECT_EQ(dest[0], 0x40);
  dest = {0x22};
  _ConvertXBitsToYBits(Bytes{0x80}.data(), dest.data(), 1, 4, 2, pal, 4, nullptr);
  EXPECT_EQ(dest[0], 0x32);
}

TEST(ConvertTest, RepackWithQuantizer) {
  TIEBitmap bm(2, 1, ie24RGB);
  bm.SetPixels_ie24RGB(0, 0, CreateRGB(255, 0, 0));
  bm.SetPixels_ie24RGB(1, 0, CreateRGB(0, 0, 255));
  TRGB pal[16] = {};
  TIEQuantizer q(bm, pal, 255, 16);
  const Bytes row = {0, 0, 255, 255, 0, 0};
  Bytes dest(2, 0);
  ASSERT_EQ(_ConvertXBitsToYBits(row.data(), dest.data(), 24, 8, 2, pal, 16, &q), 2);
  EXPECT_EQ(pal[dest[0]], CreateRGB(255, 0, 0));
  EXPECT_EQ(pal[dest[1]], CreateRGB(0, 0, 255));
}

// ---- row colour-space converter -------------------------------------------------------------------

TEST(ConvertTest, RowColourSpaces) {
  PlainCMYK plain;
  struct Case {
    const char* name;
    TIEColorSpace from;
    Bytes source;
    TIEColorSpace to;
    Bytes want;
  };
  const Case cases[] = {
      {"RGB->BGR", iecmsRGB, {1, 2, 3}, iecmsBGR, {3, 2, 1}},
      {"BGR->BGR", iecmsBGR, {1, 2, 3}, iecmsBGR, {1, 2, 3}},
      {"BGR->CMYK", iecmsBGR, {50, 100, 200}, iecmsCMYK, {255, 127, 63, 200}},
      {"BGR->CIELab", iecmsBGR, {128, 128, 128}, iecmsCIELab, {136, 0, 0}},
      {"BGR->Gray8", iecmsBGR, {50, 100, 200}, iecmsGray8, {117}},
      {"CMYK->BGR", iecmsCMYK, {255, 128, 64, 200}, iecmsBGR, {50, 100, 200}},
      {"CMYK6->BGR", iecmsCMYK6, {0, 127, 191, 55}, iecmsBGR, {50, 100, 200}},
      {"CIELab->BGR", iecmsCIELab, {255, 0, 0}, iecmsBGR, {255, 255, 255}},
      {"RGB48->BGR", iecmsRGB48, Cat({W(0x1234), W(0x5678), W(0x9ABC)}), iecmsBGR, {0x9A, 0x56, 0x12}},
      {"RGB48_SE->BGR", iecmsRGB48_SE, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}, iecmsBGR, {0x9A, 0x56, 0x12}},
      {"YCBCR->BGR", iecmsYCBCR, {128, 128, 128}, iecmsBGR, {128, 128, 128}},
      {"unsupported leaves dest", iecmsGray8, {9}, iecmsCMYK, {0xEE, 0xEE, 0xEE, 0xEE}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes source = c.source;
    Bytes dest(c.want.size(), 0xEE);
    IEConvertColorFunction(source.data(), c.from, dest.data(), c.to, 1, nullptr);
    EXPECT_EQ(dest, c.want);
    EXPECT_EQ(source, c.source);  // the caller's row is never changed
  }
  // Same-size pairs may run in place.
  Bytes row = {1, 2, 3, 4, 5, 6};
  IEDefaultConvertColorFunction(row.data(), iecmsRGB, row.data(), iecmsBGR, 2, nullptr);
  EXPECT_EQ(row, (Bytes{3, 2, 1, 6, 5, 4}));
}

// ---- CMYK through the profile, on several threads -------------------------------------------------

TEST(ConvertTest, CMYKConversionsOnSeveralThreads) {
  constexpr int kThreads = 4, kSize = 96;
  auto makeCMYK = [](TIEBitmap& bm) {
    ASSERT_TRUE(bm.Allocate(kSize, kSize, ieCMYK));
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x)
        bm.SetPixels_ieCMYK(x, y, TCMYK{static_cast<std::uint8_t>(255 - x * 2), static_cast<std::uint8_t>(255 - y * 2),
                                        static_cast<std::uint8_t>(255 - x - y), static_cast<std::uint8_t>(255 - x)});
  };
  std::vector<TIEBitmap> results(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      makeCMYK(results[t]);
      results[t].ConvertToPixelFormat(ie24RGB);
      results[t].ConvertToPixelFormat(ieCMYK);
      results[t].ConvertToPixelFormat(ie24RGB);
    });
  for (auto& th : threads) th.join();

  TIEBitmap reference;
  makeCMYK(reference);
  reference.ConvertToPixelFormat(ie24RGB);
  reference.ConvertToPixelFormat(ieCMYK);
  reference.ConvertToPixelFormat(ie24RGB);
  for (int t = 0; t < kThreads; ++t)
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x) ASSERT_EQ(results[t].GetPixels(x, y), reference.GetPixels(x, y)) << t;
  // No ink is paper white whichever path is taken.
  EXPECT_GE(reference.GetPixels(0, 0).r, 250);
}

}  // namespace
}  // namespace pravik
