#include "image/quantize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <stdexcept>
#include <vector>

#include "image/bitmap.h"
#include "image/neuquant.h"

namespace pravik {
namespace {

using PixelFn = std::function<TRGB(int x, int y)>;

std::unique_ptr<TIEBitmap> MakeBitmap(int width, int height, TIEPixelFormat format, std::int64_t threshold = -1) {
  auto bmp = std::make_unique<TIEBitmap>();
  if (threshold >= 0) bmp->FileStorageThreshold = threshold;
  EXPECT_TRUE(bmp->Allocate(width, height, format));
  return bmp;
}

std::unique_ptr<TIEBitmap> MakeRGB(int width, int height, const PixelFn& pixel, std::int64_t threshold = -1) {
  auto bmp = MakeBitmap(width, height, ie24RGB, threshold);
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<TRGB*>(bmp->GetScanLine(y));
    for (int x = 0; x < width; ++x) row[x] = pixel(x, y);
  }
  return bmp;
}

// Smooth gradients plus a little noise: many distinct colours, like a photo.
TRGB PhotoPixel(int x, int y, int width, int height) {
  std::uint32_t h = static_cast<std::uint32_t>(x) * 73856093u ^ static_cast<std::uint32_t>(y) * 19349663u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  h ^= h >> 15;
  const int noise = static_cast<int>(h % 9) - 4;
  const auto clamp = [](int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); };
  const double fx = double(x) / width, fy = double(y) / height;
  return CreateRGB(clamp(int(255 * fx) + noise), clamp(int(255 * fy) + noise),
                   clamp(int(128 + 100 * std::sin(6.0 * (fx + fy))) + noise));
}

std::unique_ptr<TIEBitmap> MakePhoto(int width, int height) {
  return MakeRGB(width, height, [=](int x, int y) { return PhotoPixel(x, y, width, height); });
}

// Restores the process-wide settings a test changes.
class QuantizeTest : public ::testing::Test {
 protected:
  void TearDown() override {
    iegColorReductionAlgorithm = -1;
    iegColorReductionQuality = -1;
  }
};

std::vector<TRGB> Sentinels(int count) { return std::vector<TRGB>(count, CreateRGB(1, 2, 3)); }

// Mean of |channel difference| between each pixel and its palette colour.
double MeanError(TIEBitmap& bmp, const TIEQuantizer& q, const std::vector<TRGB>& palette, int n) {
  double sum = 0;
  for (int y = 0; y < bmp.GetHeight(); ++y) {
    const auto* row = reinterpret_cast<const TRGB*>(bmp.GetScanLine(y));
    for (int x = 0; x < bmp.GetWidth(); ++x) {
      const int i = q.GetRGBIndex(row[x]);
      EXPECT_GE(i, 0);
      EXPECT_LT(i, n);
      const TRGB c = palette[i];
      sum += std::abs(c.r - row[x].r) + std::abs(c.g - row[x].g) + std::abs(c.b - row[x].b);
    }
  }
  return sum / (3.0 * bmp.GetWidth() * bmp.GetHeight());
}

// ---- exact table ----------------------------------------------------------------

TEST_F(QuantizeTest, FewColoursGiveExactlyThoseInOrderOfFirstAppearance) {
  // Five colours; the top-left pixel is not the smallest, and row 1 brings one new colour.
  const TRGB c[] = {CreateRGB(200, 10, 10), CreateRGB(0, 0, 0), CreateRGB(10, 200, 10), CreateRGB(7, 7, 9),
                    CreateRGB(255, 255, 255)};
  auto bmp = MakeRGB(4, 3, [&](int x, int y) {
    if (y == 0) return c[x % 3];
    if (y == 1) return x == 2 ? c[3] : c[0];
    return x == 3 ? c[4] : c[1];
  });
  for (const int n : {5, 8}) {
    std::vector<TRGB> pal = Sentinels(n);
    TIEQuantizer q(*bmp, pal.data(), 255, n);
    EXPECT_EQ(q.ColorCount(), 5);
    EXPECT_FALSE(q.IsGrayScale());
    for (int i = 0; i < 5; ++i) EXPECT_EQ(pal[i], c[i]) << "n=" << n << " entry " << i;
    for (int i = 5; i < n; ++i) EXPECT_EQ(pal[i], CreateRGB(1, 2, 3)) << "entry " << i << " must stay untouched";
    for (int i = 0; i < 5; ++i) EXPECT_EQ(q.GetRGBIndex(c[i]), i);
    // A colour that is not in the image gets the nearest entry, never -1.
    EXPECT_EQ(q.GetRGBIndex(CreateRGB(190, 20, 0)), 0);
    EXPECT_EQ(q.GetRGBIndex(CreateRGB(250, 240, 255)), 4);
  }
}

TEST_F(QuantizeTest, OneColourMoreThanAskedIsQuantized) {
  // 17 distinct colours for 16 entries: median cut (entries on the 5-bit grid).
  auto bmp = MakeRGB(17, 2, [](int x, int) { return CreateRGB(static_cast<std::uint8_t>(x * 15), 100, 37); });
  std::vector<TRGB> pal = Sentinels(16);
  TIEQuantizer q(*bmp, pal.data(), 255, 16);
  ASSERT_GT(q.ColorCount(), 0);
  for (int i = 0; i < q.ColorCount(); ++i) {
    EXPECT_EQ(pal[i].r % 8, 0);
    EXPECT_EQ(pal[i].g, 96);  // 100 div 8 = 12
    EXPECT_EQ(pal[i].b, 32);  // 37 div 8 = 4
  }
  // The exact-colour path would have kept (15, 100, 37).
  EXPECT_NE(pal[1], CreateRGB(15, 100, 37));
}

// ---- grey images and palette images ---------------------------------------------

TEST_F(QuantizeTest, GreyImageGetsAGreyRamp) {
  auto bmp = MakeRGB(256, 1, [](int x, int) { return CreateRGB(x, x, x); });
  std::vector<TRGB> pal = Sentinels(16);
  TIEQuantizer q(*bmp, pal.data(), 255, 16);
  EXPECT_TRUE(q.IsGrayScale());
  EXPECT_EQ(q.ColorCount(), 16);
  // Black to white in 16 even steps, as a 4-bit grey file reads its levels.
  for (int i = 0; i < 16; ++i) EXPECT_EQ(pal[i], CreateRGB(17 * i, 17 * i, 17 * i));
  EXPECT_EQ(q.GetRGBIndex(CreateRGB(200, 200, 200)), 12);
  EXPECT_EQ(q.GetRGBIndex(CreateRGB(255, 255, 255)), 15);
  EXPECT_EQ(q.GetRGBIndex(CreateRGB(15, 15, 15)), 0);
}

TEST_F(QuantizeTest, GreyRampForOtherCountsAndFormats) {
  struct Case {
    TIEPixelFormat format;
    int n;
    std::vector<int> ramp;  // leading entries
  };
  const Case cases[] = {
      {ie8g, 3, {0, 128, 255}},     {ie1g, 2, {0, 255}}, {ie16g, 10, {0, 28, 57, 85, 113, 142}},
      {ie8g, 256, {0, 1, 2, 3, 4}}, {ie24RGB, 1, {0}},
  };
  for (const Case& c : cases) {
    auto bmp = MakeBitmap(4, 4, c.format);
    bmp->Fill(0);
    std::vector<TRGB> pal = Sentinels(c.n);
    TIEQuantizer q(*bmp, pal.data(), 255, c.n);
    EXPECT_TRUE(q.IsGrayScale());
    for (std::size_t i = 0; i < c.ramp.size(); ++i)
      EXPECT_EQ(pal[i], CreateRGB(c.ramp[i], c.ramp[i], c.ramp[i])) << "format " << int(c.format) << " n=" << c.n;
    for (int r = 0; r < 256; ++r) {
      const int i = q.GetRGBIndex(CreateRGB(r, r, r));
      ASSERT_EQ(i, r * c.n / 256);
    }
  }
}

TEST_F(QuantizeTest, PaletteImageKeepsItsPalette) {
  auto bmp = MakeBitmap(2, 2, ie8p);
  for (int i = 0; i < 256; ++i) bmp->SetPalette(i, CreateRGB(i, 255 - i, i / 2));
  bmp->SetPalette(3, CreateRGB(1, 254, 0));  // same colour as entry 1
  std::vector<TRGB> pal = Sentinels(8);
  TIEQuantizer q(*bmp, pal.data(), 255, 4);
  EXPECT_FALSE(q.IsGrayScale());
  EXPECT_EQ(q.ColorCount(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(pal[i], bmp->GetPalette(i));
  for (int i = 4; i < 8; ++i) EXPECT_EQ(pal[i], CreateRGB(1, 2, 3));
  EXPECT_EQ(q.GetRGBIndex(CreateRGB(2, 253, 1)), 2);
  EXPECT_EQ(q.GetRGBIndex(CreateRGB(1, 254, 0)), 1);  // the first of two equal entries
  // Entry 200 of the image's palette is not among the four written: the
  // nearest written entry answers, not an index past the palette.
  EXPECT_EQ(q.GetRGBIndex(bmp->GetPalette(200)), 2);
  EXPECT_EQ(q.GetRGBIndex(CreateRGB(0, 255, 0)), 0);
}

TEST_F(QuantizeTest, GreyPaletteImageIndexesByGreyLevel) {
  auto bmp = MakeBitmap(2, 2, ie8p);
  for (int i = 0; i < 256; ++i) bmp->SetPalette(i, CreateRGB(255 - i, 255 - i, 255 - i));
  std::vector<TRGB> pal(256);
  TIEQuantizer q(*bmp, pal.data(), 255, 256);
  EXPECT_TRUE(q.IsGrayScale());
  EXPECT_EQ(pal[0], CreateRGB(255, 255, 255));  // the palette is copied, not replaced by a ramp
  EXPECT_EQ(q.GetRGBIndex(CreateRGB(77, 77, 77)), 77);
}

TEST_F(QuantizeTest, ColourImageInAnotherFormatGetsIndexZero) {
  for (const TIEPixelFormat format : {ie32RGB, ie48RGB}) {
    auto bmp = MakeBitmap(3, 3, format);
    bmp->Fill(0);
    std::memset(bmp->GetScanLine(1), 0x40, 2);  // one pixel with unequal channels
    std::vector<TRGB> pal = Sentinels(16);
    TIEQuantizer q(*bmp, pal.data(), 255, 16);
    EXPECT_FALSE(q.IsGrayScale());
    EXPECT_EQ(q.ColorCount(), 0);
    EXPECT_EQ(pal[0], CreateRGB(1, 2, 3));
    EXPECT_EQ(q.GetRGBIndex(CreateRGB(9, 40, 200)), 0);
  }
}

TEST_F(QuantizeTest, ColourCountOutsideRange) {
  auto bmp = MakePhoto(40, 40);
  std::vector<TRGB> pal(300);
  {
    TIEQuantizer one(*bmp, pal.data(), 255, 0);  // a count of 0 from a file: one colour
    EXPECT_EQ(one.ColorCount(), 1);
    EXPECT_EQ(one.GetRGBIndex(CreateRGB(200, 10, 10)), 0);
  }
  TIEQuantizer q(*bmp, pal.data(), 255, 300);  // more than a palette holds: 256
  EXPECT_EQ(q.ColorCount(), 256);
}

// ---- method choice ---------------------------------------------------------------

TEST_F(QuantizeTest, MethodFollowsColourCountAndSetting) {
  auto bmp = MakePhoto(64, 48);
  const auto medianCut = [&](int n) {
    std::vector<TRGB> pal(n);
    auto state = CreateMedianCutQuantizer(*bmp, pal.data(), 255, n);
    pal.resize(MedianCutColorCount(*state));
    return pal;
  };
  const auto neuQuant = [&](int n) {
    std::vector<TRGB> pal(n);
    TNeuQuant net(*bmp, pal.data(), -1, n);
    return pal;
  };
  struct Case {
    int algorithm, n;
    bool median;
  };
  const Case cases[] = {{-1, 16, true}, {-1, 127, true}, {-1, 128, false}, {-1, 256, false},
                        {0, 16, false}, {1, 256, true},  {7, 16, false}};
  for (const Case& c : cases) {
    iegColorReductionAlgorithm = c.algorithm;
    std::vector<TRGB> pal(c.n);
    TIEQuantizer q(*bmp, pal.data(), 255, c.n);
    pal.resize(q.ColorCount());
    EXPECT_EQ(pal, c.median ? medianCut(c.n) : neuQuant(c.n)) << "algorithm " << c.algorithm << " n=" << c.n;
  }
}

// ---- median cut -------------------------------------------------------------------

TEST_F(QuantizeTest, MedianCutSplitsAtTheBestCut) {
  // Cells along red: three pixels in cell 0, one in cell 31. Green and blue
  // cannot be cut, so red is; the two boxes are the two cells.
  auto bmp = MakeRGB(4, 1, [](int x, int) { return x < 3 ? CreateRGB(x == 0, 0, 0) : CreateRGB(255, 0, 0); });
  std::vector<TRGB> pal = Sentinels(4);
  auto state = CreateMedianCutQuantizer(*bmp, pal.data(), 255, 4);
  ASSERT_EQ(MedianCutColorCount(*state), 2);
  EXPECT_EQ(pal[0], CreateRGB(0, 0, 0));
  EXPECT_EQ(pal[1], CreateRGB(248, 0, 0));
  EXPECT_EQ(pal[2], CreateRGB(1, 2, 3));
  EXPECT_EQ(MedianCutFindIndex(*state, CreateRGB(7, 7, 7)), 0);
  EXPECT_EQ(MedianCutFindIndex(*state, CreateRGB(250, 3, 3)), 1);
  EXPECT_EQ(MedianCutFindIndex(*state, CreateRGB(100, 100, 100)), 0);  // a cell in no box
  FreeMedianCutQuantizer(state);
  EXPECT_EQ(state, nullptr);
}

TEST_F(QuantizeTest, MedianCutScoresCutsFromTheMeanNotTheMedian) {
  // One pixel in each red cell 0..7 (mean 3.5). The search runs over cells 2
  // to 18 and scores S / (C - S) * (mean - P)^2, P summing count * e / C from
  // the first searched cell: scores 6.34, 8.27, 9.40, 9.19, 7.00, so the cut
  // falls after cell 4 (five pixels below, three above), not at the median.
  auto bmp = MakeRGB(8, 1, [](int x, int) { return CreateRGB(8 * x + 3 * (x % 2), 0, 0); });
  TRGB pal[2];
  auto state = CreateMedianCutQuantizer(*bmp, pal, 255, 2);
  ASSERT_EQ(MedianCutColorCount(*state), 2);
  EXPECT_EQ(pal[0], CreateRGB(16, 0, 0));  // mean of cells 0..4
  EXPECT_EQ(pal[1], CreateRGB(48, 0, 0));  // mean of cells 5..7
  EXPECT_EQ(MedianCutFindIndex(*state, CreateRGB(39, 0, 0)), 0);
  EXPECT_EQ(MedianCutFindIndex(*state, CreateRGB(40, 0, 0)), 1);
}

// A small image whose palettes were worked out independently of this code.
std::unique_ptr<TIEBitmap> MakePatterned(int width, int height) {
  return MakeRGB(width, height, [](int x, int y) {
    return CreateRGB((x * 37 + y * 11) & 255, (x * x + 3 * y) & 255, (x * y * 7 + 13) & 255);
  });
}

TEST_F(QuantizeTest, MedianCutKnownPalette) {
  auto bmp = MakePatterned(23, 17);
  std::vector<TRGB> pal(8);
  auto state = CreateMedianCutQuantizer(*bmp, pal.data(), 255, 8);
  const std::vector<TRGB> expected = {CreateRGB(64, 48, 32),   CreateRGB(80, 96, 208),  CreateRGB(88, 200, 72),
                                      CreateRGB(208, 72, 80),  CreateRGB(216, 72, 200), CreateRGB(144, 48, 72),
                                      CreateRGB(96, 216, 200), CreateRGB(56, 72, 112)};
  EXPECT_EQ(pal, expected);
}

TEST_F(QuantizeTest, MedianCutRoundsMeansHalfToEven) {
  // One box holding two cells in equal measure: the mean is a half.
  struct Case {
    int cellA, cellB, expected;
  };
  const Case cases[] = {{0, 1, 0}, {1, 2, 16}, {2, 3, 16}, {3, 4, 32}, {30, 31, 240}, {0, 3, 16}};
  for (const Case& c : cases) {
    auto bmp = MakeRGB(2, 1, [&](int x, int) { return CreateRGB(0, 8 * (x == 0 ? c.cellA : c.cellB), 0); });
    TRGB pal[1];
    auto state = CreateMedianCutQuantizer(*bmp, pal, 255, 1);
    EXPECT_EQ(pal[0], CreateRGB(0, c.expected, 0)) << c.cellA << "," << c.cellB;
  }
}

TEST_F(QuantizeTest, MedianCutWithFewCellsLeavesTheRestOfThePalette) {
  // 24 distinct colours in three 5-bit cells: three entries for 16 asked.
  const TRGB base[] = {CreateRGB(16, 64, 200), CreateRGB(120, 8, 40), CreateRGB(248, 248, 0)};
  auto bmp = MakeRGB(8, 3, [&](int x, int y) {
    const TRGB b = base[y];
    return CreateRGB(b.r + x % 8, b.g + x % 4, b.b + x % 2);
  });
  std::vector<TRGB> pal = Sentinels(16);
  TIEQuantizer q(*bmp, pal.data(), 255, 16);
  ASSERT_EQ(q.ColorCount(), 3);
  std::set<std::uint32_t> entries;
  for (int i = 0; i < 3; ++i) entries.insert(TRGB2TColor(pal[i]));
  for (const TRGB& b : base) EXPECT_EQ(entries.count(TRGB2TColor(b)), 1u);
  for (int i = 3; i < 16; ++i) EXPECT_EQ(pal[i], CreateRGB(1, 2, 3));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(pal[q.GetRGBIndex(bmp->GetPixels(x, y))], base[y]);
}

TEST_F(QuantizeTest, MedianCutPaletteIsOnTheFiveBitGridAndClose) {
  auto bmp = MakePhoto(200, 150);
  for (const int n : {2, 16, 64, 127}) {
    std::vector<TRGB> pal(n);
    TIEQuantizer q(*bmp, pal.data(), 255, n);
    ASSERT_EQ(q.ColorCount(), n);
    for (int i = 0; i < n; ++i) {
      for (const int v : {pal[i].r, pal[i].g, pal[i].b}) {
        EXPECT_EQ(v % 8, 0);
        EXPECT_LE(v, 248);
      }
    }
    // Bounds well above what this image gives (21.5 and 12 per channel) and
    // far below what a wrong palette or lookup gives.
    const double err = MeanError(*bmp, q, pal, n);
    if (n >= 16) {
      EXPECT_LT(err, n >= 64 ? 15.0 : 26.0) << "n=" << n;
    }
  }
}

TEST_F(QuantizeTest, MedianCutDependsOnlyOnTheColoursEvenBeyond65535Wide) {
  // Same pixels laid out 70000 x 1 and 7000 x 10: same histogram, same palette.
  const auto pixel = [](std::int64_t i) {
    return CreateRGB(static_cast<std::uint8_t>(i * 7), static_cast<std::uint8_t>(i / 300),
                     static_cast<std::uint8_t>(i % 251));
  };
  auto wide = MakeRGB(70000, 1, [&](int x, int) { return pixel(x); });
  auto block = MakeRGB(7000, 10, [&](int x, int y) { return pixel(std::int64_t(y) * 7000 + x); });
  std::vector<TRGB> a(32), b(32);
  auto sa = CreateMedianCutQuantizer(*wide, a.data(), 255, 32);
  auto sb = CreateMedianCutQuantizer(*block, b.data(), 255, 32);
  EXPECT_EQ(MedianCutColorCount(*sa), 32);
  EXPECT_EQ(a, b);
}

TEST_F(QuantizeTest, MedianCutRefusesOtherFormats) {
  auto bmp = MakeBitmap(2, 2, ie8g);
  TRGB pal[4];
  EXPECT_THROW(CreateMedianCutQuantizer(*bmp, pal, 255, 4), std::invalid_argument);
}

// ---- NeuQuant ------------------------------------------------------------------------

TEST(NeuQuantTest, SamplingFactor) {
  struct Case {
    std::int64_t pixels;
    int quality, factor;
  };
  const Case cases[] = {
      {1, -1, 1},       {1999, -1, 1},     {2000, -1, 2},  {76000, -1, 8},  // 8.5 rounds to even
      {224000, -1, 22},                                                     // 21.5
      {320000, -1, 30}, {5000000, -1, 30}, {1999, 100, 1}, {320000, 100, 1}, {1999, 0, 30},
      {100, 50, 15},    {100, 90, 3},      {100, 150, 1},  {100, -20, 30},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NeuQuantSamplingFactor(c.pixels, c.quality), c.factor) << c.pixels << " q" << c.quality;
}

TEST(NeuQuantTest, StepIsAPrimeNotDividingTheLength) {
  EXPECT_EQ(NeuQuantStep(1000), 499);
  EXPECT_EQ(NeuQuantStep(499 * 3), 491);
  EXPECT_EQ(NeuQuantStep(std::int64_t(499) * 491), 487);
  EXPECT_EQ(NeuQuantStep(std::int64_t(499) * 491 * 487), 503);
}

TEST(NeuQuantTest, SamplesFollowThePrimeWalk) {
  // Width x height, factor: tiny images wrap through the rows; 499 x 4 steps by 491.
  struct Case {
    int width, height, factor;
  };
  const Case cases[] = {{10, 3, 1}, {1, 1, 1}, {37, 41, 1}, {37, 41, 7}, {499, 4, 1}, {640, 480, 30}, {13, 501, 2}};
  for (const Case& c : cases) {
    auto bmp = MakeRGB(c.width, c.height, [](int x, int y) {
      return CreateRGB(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(x >> 8), static_cast<std::uint8_t>(y));
    });
    const std::int64_t pixels = std::int64_t(c.width) * c.height;
    const std::int64_t step = NeuQuantStep(pixels);
    std::vector<TRGB> expected;
    std::int64_t p = 0;
    for (std::int64_t i = 0; i < pixels / c.factor; ++i) {
      expected.push_back(bmp->GetPixels(static_cast<int>(p % c.width), static_cast<int>((p / c.width) % c.height)));
      p += step;
      if (p >= pixels) p -= pixels;
    }
    EXPECT_EQ(NeuQuantSamples(*bmp, c.factor), expected) << c.width << "x" << c.height << "/" << c.factor;
  }
}

TEST(NeuQuantTest, NegativeBiasWinsTheContest) {
  // Nine neurons on the grey diagonal. The first sample pulls neuron 0 onto
  // itself and leaves it a negative bias; shifted as an unsigned value that
  // bias makes neuron 0 win the second sample too, although neuron 2 is
  // nearer: (0, 0, 0) moves 990/1024 of the way to (31, 57, 93).
  const std::vector<TRGB> samples = {CreateRGB(0, 0, 13), CreateRGB(31, 57, 93)};
  std::vector<TRGB> pal(9);
  TNeuQuant net(samples, pal.data(), 1, 9);
  EXPECT_EQ(pal[0], CreateRGB(30, 55, 90));
  for (int i = 1; i < 9; ++i) {
    const int v = (i * 4096 / 9 + 8) / 16;
    EXPECT_EQ(pal[i], CreateRGB(v, v, v)) << i;
  }
}

TEST(NeuQuantTest, KnownPalette) {
  auto bmp = MakePatterned(31, 29);
  std::vector<TRGB> pal(9);
  TNeuQuant net(*bmp, pal.data(), -1, 9);
  const std::vector<TRGB> expected = {CreateRGB(82, 67, 176),  CreateRGB(104, 13, 57),   CreateRGB(29, 35, 19),
                                      CreateRGB(60, 177, 189), CreateRGB(48, 99, 34),    CreateRGB(184, 71, 58),
                                      CreateRGB(206, 75, 194), CreateRGB(167, 201, 115), CreateRGB(228, 228, 228)};
  EXPECT_EQ(pal, expected);
}

TEST(NeuQuantTest, SearchFindsTheNearestEntry) {
  // The green-index search must agree with a full scan (sum of absolute
  // differences), both before and after answers start being remembered;
  // the second round asks every colour again.
  auto bmp = MakePhoto(120, 90);
  for (const int n : {1, 5, 16, 200, 256}) {
    std::vector<TRGB> pal(n);
    TNeuQuant net(*bmp, pal.data(), -1, n);
    for (int k = 0; k < 60000; ++k) {
      const int m = k % 30000;
      const TRGB c = CreateRGB((m * 37) & 255, (m * 101) & 255, (m * 59 + m / 256) & 255);
      const int i = net.FindIndex(c);
      ASSERT_GE(i, 0);
      ASSERT_LT(i, n);
      const auto dist = [&](TRGB e) { return std::abs(e.r - c.r) + std::abs(e.g - c.g) + std::abs(e.b - c.b); };
      int best = 1000;
      for (const TRGB& e : pal) best = std::min(best, dist(e));
      ASSERT_EQ(dist(pal[i]), best) << "n=" << n;
    }
  }
}

TEST(NeuQuantTest, TwoColourImageLearnsBothColours) {
  // Half red, half blue, and a few odd pixels so the exact table gives up.
  auto bmp = MakeRGB(100, 100, [](int x, int y) {
    if (x == 0 && y < 3) return CreateRGB(0, 255, 0);
    return y < 50 ? CreateRGB(250, 0, 0) : CreateRGB(0, 0, 250);
  });
  std::vector<TRGB> pal(2);
  iegColorReductionAlgorithm = 0;
  TIEQuantizer q(*bmp, pal.data(), 255, 2);
  iegColorReductionAlgorithm = -1;
  const TRGB red = pal[q.GetRGBIndex(CreateRGB(250, 0, 0))], blue = pal[q.GetRGBIndex(CreateRGB(0, 0, 250))];
  EXPECT_NE(q.GetRGBIndex(CreateRGB(250, 0, 0)), q.GetRGBIndex(CreateRGB(0, 0, 250)));
  EXPECT_GT(red.r, 200);
  EXPECT_GT(blue.b, 200);
}

TEST_F(QuantizeTest, NeuQuantPhotoTo256IsCloseAndDeterministic) {
  auto bmp = MakePhoto(320, 240);
  std::vector<TRGB> pal(256), again(256);
  TIEQuantizer q(*bmp, pal.data(), 255, 256);
  EXPECT_EQ(q.ColorCount(), 256);
  EXPECT_LT(MeanError(*bmp, q, pal, 256), 8.0);  // 6.4 per channel on this image
  TIEQuantizer q2(*bmp, again.data(), 255, 256);
  EXPECT_EQ(pal, again);
  for (const int quality : {0, 100}) {
    iegColorReductionQuality = quality;
    std::vector<TRGB> p(256);
    TIEQuantizer qq(*bmp, p.data(), 255, 256);
    EXPECT_LT(MeanError(*bmp, qq, p, 256), 9.0) << "quality " << quality;
  }
}

TEST_F(QuantizeTest, SmallNetworksAndTinyImages) {
  // Networks too small for neighbours, and images smaller than the step.
  iegColorReductionAlgorithm = 0;
  for (const int n : {1, 2, 7, 8, 15}) {
    auto bmp = MakePhoto(5, 4);
    std::vector<TRGB> pal(n);
    TIEQuantizer q(*bmp, pal.data(), 255, n);
    EXPECT_EQ(q.ColorCount(), n);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x) EXPECT_LT(q.GetRGBIndex(bmp->GetPixels(x, y)), n);
  }
}

// ---- storage ---------------------------------------------------------------------------

TEST_F(QuantizeTest, FileBackedImageGivesTheSamePalette) {
  const int w = 150, h = 100;
  auto memory = MakePhoto(w, h);
  auto file = MakeRGB(
      w, h, [=](int x, int y) { return PhotoPixel(x, y, w, h); }, 0);
  ASSERT_EQ(file->GetLocation(), ieFile);
  for (const int n : {16, 256}) {
    std::vector<TRGB> a(n), b(n);
    TIEQuantizer qa(*memory, a.data(), 255, n);
    TIEQuantizer qb(*file, b.data(), 255, n);
    EXPECT_EQ(a, b) << "n=" << n;
  }
}

}  // namespace
}  // namespace pravik
