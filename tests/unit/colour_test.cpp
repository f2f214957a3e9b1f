#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "image/colour.h"

namespace pravik {
namespace {

// Runs a block with the CMYK profile switched off, restoring the setting.
class PlainCMYK {
 public:
  PlainCMYK() : saved_(iegUseCMYKProfile) { iegUseCMYKProfile = false; }
  ~PlainCMYK() { iegUseCMYKProfile = saved_; }

 private:
  bool saved_;
};

::testing::AssertionResult Near(TRGB actual, TRGB expected, int tolerance) {
  if (std::abs(actual.r - expected.r) <= tolerance && std::abs(actual.g - expected.g) <= tolerance &&
      std::abs(actual.b - expected.b) <= tolerance)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "got (" << int(actual.r) << ", " << int(actual.g) << ", " << int(actual.b)
                                       << "), want (" << int(expected.r) << ", " << int(expected.g) << ", "
                                       << int(expected.b) << ") +-" << tolerance;
}

TEST(ColourTest, GreyFormulas) {
  EXPECT_EQ(_RGBToGray(CreateRGB(200, 100, 50)), (21 * 200 + 71 * 100 + 8 * 50) / 100);
  EXPECT_EQ(_RGBToGray(CreateRGB(255, 255, 255)), 255);
  EXPECT_EQ(IEGrey16(65535, 65535, 65535), 65535);
  EXPECT_EQ(IEGrey16(51400, 25700, 12850), 30184);
  EXPECT_FLOAT_EQ(IEGreyF(CreateRGB(255, 255, 255)), 1.0f);
  EXPECT_FLOAT_EQ(IEGreyF(CreateRGB(255, 0, 0)), 0.2126f);
}

TEST(ColourTest, PlainCMYKFormulas) {
  PlainCMYK plain;
  struct Case {
    TRGB rgb;
    TCMYK cmyk;
  };
  const Case toCMYK[] = {
      {CreateRGB(0, 0, 0), TCMYK{0, 0, 0, 1}},
      {CreateRGB(255, 255, 255), TCMYK{255, 255, 255, 255}},
      {CreateRGB(200, 100, 50), TCMYK{255, 127, 63, 200}},
      {CreateRGB(0, 0, 10), TCMYK{0, 0, 255, 10}},
  };
  for (const Case& c : toCMYK) EXPECT_EQ(IERGB2CMYK(c.rgb), c.cmyk) << int(c.rgb.r) << "," << int(c.rgb.g) << "," << int(c.rgb.b);

  EXPECT_EQ(IECMYK2RGB(TCMYK{255, 128, 64, 200}), CreateRGB(200, 100, 50));
  EXPECT_EQ(IECMYK2RGB(TCMYK{255, 255, 255, 0}), CreateRGB(0, 0, 0));
  EXPECT_EQ(IECMYK2RGB(TCMYK{255, 255, 255, 255}), CreateRGB(255, 255, 255));

  // The row functions agree with the pixel ones, and may run in place.
  TCMYK row[3] = {{255, 128, 64, 200}, {10, 20, 30, 40}, {255, 255, 255, 255}};
  TRGB expected[3];
  for (int i = 0; i < 3; ++i) expected[i] = IECMYK2RGB(row[i]);
  IECMYK2RGBRow(row, reinterpret_cast<TRGB*>(row), 3);
  const TRGB* got = reinterpret_cast<const TRGB*>(row);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(got[i], expected[i]) << i;
}

TEST(ColourTest, CIELabRoundTrips) {
  struct Case {
    TRGB rgb;
    TCIELab lab;
    TRGB back;
  };
  const Case cases[] = {
      {CreateRGB(255, 255, 255), TCIELab{255, 0, 0}, CreateRGB(255, 255, 255)},
      {CreateRGB(128, 128, 128), TCIELab{136, 0, 0}, CreateRGB(127, 127, 127)},
      {CreateRGB(0, 0, 0), TCIELab{0, 0, 0}, CreateRGB(0, 0, 0)},
  };
  for (const Case& c : cases) {
    const TCIELab lab = IERGB2CIELAB(c.rgb);
    EXPECT_EQ(lab, c.lab) << int(lab.l) << " " << int(lab.a) << " " << int(lab.b);
    EXPECT_EQ(IECIELAB2RGB(lab), c.back);
  }
  // Colour: signs of a* and b* and a close round trip.
  const TCIELab red = IERGB2CIELAB(CreateRGB(255, 0, 0));
  EXPECT_EQ(red.l, 135);  // L* 53.24 x 2.55, truncated
  EXPECT_GT(red.a, 70);
  EXPECT_GT(red.b, 60);
  const TCIELab blue = IERGB2CIELAB(CreateRGB(0, 0, 255));
  EXPECT_LT(blue.b, -100);
  EXPECT_TRUE(Near(IECIELAB2RGB(IERGB2CIELAB(CreateRGB(200, 100, 50))), CreateRGB(200, 100, 50), 3));
  // Out-of-gamut values are clamped, not wrapped.
  EXPECT_EQ(IECIELAB2RGB(TCIELab{255, 127, -128}).r, 255);
}

TEST(ColourTest, YCbCrJfif) {
  std::uint8_t y, cb, cr;
  IERGB2YCbCr(CreateRGB(255, 255, 255), y, cb, cr);
  EXPECT_EQ(y, 255);
  EXPECT_EQ(cb, 128);
  EXPECT_EQ(cr, 128);
  IERGB2YCbCr(CreateRGB(255, 0, 0), y, cb, cr);
  EXPECT_EQ(y, 76);
  EXPECT_EQ(cb, 84);
  EXPECT_EQ(cr, 255);

  TRGB c;
  IEYCbCr2RGB(c, 76, 84, 255);
  EXPECT_EQ(c.r, 254);
  EXPECT_EQ(c.b, 0);  // clamped from below
  IEYCbCr2RGB(c, 255, 255, 255);
  EXPECT_EQ(c.r, 255);  // clamped from above
  EXPECT_EQ(c.b, 255);
  IEYCbCr2RGB(c, 128, 128, 128);
  EXPECT_EQ(c, CreateRGB(128, 128, 128));
}

// The embedded press profile: its figures differ between revisions, so these
// check that the transform behaves like a press, not exact values.
TEST(ColourTest, ProfileCMYK) {
  const bool present = std::filesystem::exists(PRAVIK_SHARED_DIR "/icc/Fogra27L-CMYK-Coated-Press.icm");
  if (!present) GTEST_SKIP() << "no CMYK profile at configure time";
  ASSERT_TRUE(IECMYKProfileAvailable());
  ASSERT_TRUE(iegUseCMYKProfile);

  EXPECT_TRUE(Near(IECMYK2RGB(TCMYK{255, 255, 255, 255}), CreateRGB(255, 255, 255), 3));  // no ink: paper
  const TRGB k = IECMYK2RGB(TCMYK{255, 255, 255, 0});                                      // full black ink
  EXPECT_LE(std::max({k.r, k.g, k.b}), 50);
  EXPECT_TRUE(Near(IECMYK2RGB(TCMYK{0, 0, 0, 0}), CreateRGB(0, 0, 0), 12));  // all inks
  const TRGB cyan = IECMYK2RGB(TCMYK{0, 255, 255, 255});
  EXPECT_LT(cyan.r, 60);
  EXPECT_GT(cyan.b, 180);

  EXPECT_EQ(IERGB2CMYK(CreateRGB(255, 255, 255)), (TCMYK{255, 255, 255, 255}));  // white needs no ink
  for (TRGB c : {CreateRGB(128, 128, 128), CreateRGB(200, 100, 50), CreateRGB(60, 120, 90), CreateRGB(230, 220, 180)})
    EXPECT_TRUE(Near(IECMYK2RGB(IERGB2CMYK(c)), c, 8));

  // A row goes through in one call and agrees with pixel-by-pixel results.
  TRGB row[2000];
  for (int i = 0; i < 2000; ++i) row[i] = CreateRGB(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i * 7), 99);
  TCMYK cmyk[2000];
  IERGB2CMYKRow(row, cmyk, 2000);
  TRGB back[2000];
  IECMYK2RGBRow(cmyk, back, 2000);
  for (int i : {0, 1023, 1024, 1999}) {
    EXPECT_EQ(cmyk[i], IERGB2CMYK(row[i])) << i;
    EXPECT_EQ(back[i], IECMYK2RGB(cmyk[i])) << i;
  }

  // Switching the profile off gives the plain formulas at once.
  PlainCMYK plain;
  EXPECT_EQ(IERGB2CMYK(CreateRGB(0, 0, 0)), (TCMYK{0, 0, 0, 1}));
}

}  // namespace
}  // namespace pravik
