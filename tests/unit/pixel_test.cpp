#include <gtest/gtest.h>

#include "image/pixel.h"

namespace pravik {
namespace {

TEST(PixelTest, RowLengthFollowsAlignment) {
  struct Case { int width, bits, align; std::int64_t expected; };
  const Case cases[] = {
      {1, 1, 32, 4}, {3, 24, 32, 12}, {3, 24, 8, 9}, {33, 1, 32, 8}, {9, 1, 8, 2}, {3, 24, 16, 10}, {5, 48, 32, 32},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IEBitmapRowLen(c.width, c.bits, c.align), c.expected) << c.width << "x" << c.bits << "/" << c.align;
  }
}

TEST(PixelTest, PlatformColourBytes) {
  const TRGB c = TColor2TRGB(0x112233);  // red in the low byte
  EXPECT_EQ(c.r, 0x33);
  EXPECT_EQ(c.g, 0x22);
  EXPECT_EQ(c.b, 0x11);
  EXPECT_EQ(TRGB2TColor(c), 0x112233u);
}

}  // namespace
}  // namespace pravik
