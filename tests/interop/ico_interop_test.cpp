// Icons written by us and read by ImageMagick (colours and transparency of
// every entry), icons written by ImageMagick and read by us, and the corpus's
// icons and cursors read by both.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "image/bitmap.h"
#include "imageio/formats.h"
#include "imageio/imageio.h"
#include "interop/interop.h"

namespace pravik::interop {
namespace {

// A disc on a transparent background, with a soft edge.
void Disc(TIEBitmap& bmp, int side) {
  bmp.Allocate(side, side, ie24RGB);
  const double c = (side - 1) / 2.0, r = side * 0.4;
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      bmp.SetPixels_ie24RGB(x, y, CreateRGB(std::uint8_t(200 - x), std::uint8_t(40 + y), 90));
      const double d = std::hypot(x - c, y - c);
      bmp.SetAlpha(x, y, d < r ? 255 : d < r + 3 ? std::uint8_t(255 * (r + 3 - d) / 3) : 0);
    }
}

TEST(IcoInterop, ImageMagickReadsEveryEntryWithItsTransparency) {
  PRAVIK_REQUIRE_TOOL("convert");
  ScratchDir dir;
  TImageIO io;
  Disc(io.IEBitmap(), 64);
  auto& p = io.IOParams();
  p.BITSPERSAMPLE = 8;
  p.SAMPLESPERPIXEL = 4;
  // What the converter asks for, plus the palette depths.
  const int sides[] = {64, 32, 16, 32, 32, 32};
  const int bits[] = {32, 0, 0, 24, 8, 4};
  for (int i = 0; i < 16; ++i) {
    p.ICO_SIZES[i] = i < 6 ? TIOICOSize{sides[i], sides[i]} : TIOICOSize{};
    p.ICO_BITCOUNT[i] = i < 6 ? bits[i] : 0;
  }
  const std::string file = dir.File("ours.ico");
  io.SaveToFile(file);
  ASSERT_FALSE(io.AbortFlag) << io.AbortReason;

  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE("entry " + std::to_string(i));
    TPixels m;
    ASSERT_TRUE(MagickRead(file + "[" + std::to_string(i) + "]", dir.File("e.pam"), m));
    ASSERT_EQ(m.Width, sides[i]);
    ASSERT_TRUE(m.HasAlpha);
    TImageIO back;
    back.IOParams().SetImageIndex(i);
    back.LoadFromFile(file);
    ASSERT_FALSE(back.AbortFlag) << back.AbortReason;
    TIEBitmap& ours = back.IEBitmap();
    ASSERT_TRUE(ours.GetHasAlphaChannel());
    // The corners are transparent, the centre opaque, for every depth.
    EXPECT_EQ(m.AlphaAt(0, 0), 0);
    EXPECT_EQ(m.AlphaAt(sides[i] / 2, sides[i] / 2), 255);
    int alphaDiff = 0;
    for (int y = 0; y < m.Height; ++y)
      for (int x = 0; x < m.Width; ++x) alphaDiff = std::max(alphaDiff, std::abs(m.AlphaAt(x, y) - ours.GetAlpha(x, y)));
    EXPECT_EQ(alphaDiff, 0);
    EXPECT_EQ(MaxDifference(ours, m, true), 0);
  }
}

TEST(IcoInterop, WeReadWhatImageMagickWrites) {
  PRAVIK_REQUIRE_TOOL("convert");
  ScratchDir dir;
  const std::string source = dir.File("source.png");
  ASSERT_TRUE(interop::Run("convert -size 48x48 radial-gradient:white-navy -alpha set -channel A -fx 'i<8?0:1' "
                           "+channel '" + source + "'"));
  const std::string file = dir.File("theirs.ico");
  ASSERT_TRUE(interop::Run("convert '" + source + "' -define icon:auto-resize=48,32,16 '" + file + "'"));
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    TPixels m;
    ASSERT_TRUE(MagickRead(file + "[" + std::to_string(i) + "]", dir.File("e.pam"), m));
    TImageIO io;
    io.IOParams().SetImageIndex(i);
    io.LoadFromFileAuto(file);
    ASSERT_FALSE(io.AbortFlag) << io.AbortReason;
    EXPECT_EQ(io.IOParams().FILETYPE, ioICO);
    ASSERT_EQ(io.IEBitmap().GetWidth(), m.Width);
    EXPECT_EQ(MaxDifference(io.IEBitmap(), m, true), 0);
    ASSERT_TRUE(io.IEBitmap().GetHasAlphaChannel());
    EXPECT_EQ(io.IEBitmap().GetAlpha(0, 0), m.AlphaAt(0, 0));
    EXPECT_EQ(io.IEBitmap().GetAlpha(m.Width - 1, 0), m.AlphaAt(m.Width - 1, 0));
  }
}

TEST(IcoInterop, CorpusIconsAndCursorsAgreeWithImageMagick) {
  PRAVIK_REQUIRE_TOOL("convert");
  struct Case {
    const char* path;
    int frame;
  };
  // pillow.ico (a first entry of size bytes 0, so the last loads) and
  // no_cursors.cur (no entries) are covered by the conformance expectations.
  const Case cases[] = {{"black_and_white.ico", 0},   {"decompression_bomb.ico", 0}, {"deerstalker.cur", 0},
                        {"hopper.ico", 0},            {"hopper_256x256.ico", 0},     {"hopper_draw.ico", 0},
                        {"hopper_mask.ico", 0},       {"hopper_unexpected.ico", 0},  {"mask_1.cur", 0},
                        {"mask_L.cur", 0},            {"python.ico", 0}};
  ScratchDir dir;
  const std::string root = std::string(PRAVIK_SHARED_DIR) + "/corpus/pillow/";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    TPixels m;
    ASSERT_TRUE(MagickRead(root + c.path + "[" + std::to_string(c.frame) + "]", dir.File("c.pam"), m));
    TImageIO io;
    io.LoadFromFileAuto(root + c.path);
    ASSERT_FALSE(io.AbortFlag) << io.AbortReason;
    ASSERT_EQ(io.IEBitmap().GetWidth(), m.Width);
    ASSERT_EQ(io.IEBitmap().GetHeight(), m.Height);
    // Transparent pixels differ by design (we show ICO_BACKGROUND there).
    EXPECT_EQ(MaxDifference(io.IEBitmap(), m, true), 0);
    for (int y = 0; y < m.Height; ++y)
      for (int x = 0; x < m.Width; ++x) {
        const int ours = io.IEBitmap().GetHasAlphaChannel() ? io.IEBitmap().GetAlpha(x, y) : 255;
        ASSERT_EQ(ours, m.AlphaAt(x, y)) << x << "," << y;
      }
  }
}

}  // namespace
}  // namespace pravik::interop
