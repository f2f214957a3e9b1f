// WBMP files written by us and read by ImageMagick and netpbm, and written by
// them and read by us.
#include <gtest/gtest.h>

#include <string>

#include "image/bitmap.h"
#include "imageio/formats.h"
#include "imageio/imageio.h"
#include "interop/interop.h"

namespace pravik {
namespace {

using interop::Load;
using interop::SamePixels;
using interop::ScratchDir;
using interop::Sh;

void Pattern(TIEBitmap& bmp, int w, int h) {
  bmp.Allocate(w, h, ie1g);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) bmp.SetPixels_ie1g(x, y, ((x / 3) ^ (y / 2)) % 3 == 0 || x == w - 1);
}

TEST(WBMPInterop, OursReadByImageMagickAndNetpbm) {
  PRAVIK_REQUIRE_TOOL("convert");
  PRAVIK_REQUIRE_TOOL("wbmptopbm");
  ScratchDir dir;
  TImageIO io;
  Pattern(io.IEBitmap(), 77, 31);
  const std::string ours = dir.File("ours.wbmp"), magick = dir.File("magick.pbm"), netpbm = dir.File("netpbm.pbm");
  io.SaveToFileWBMP(ours);
  ASSERT_FALSE(io.AbortFlag) << io.AbortReason;
  ASSERT_TRUE(Sh("convert '" + ours + "' -compress none '" + magick + "'"));
  ASSERT_TRUE(Sh("wbmptopbm '" + ours + "' > '" + netpbm + "'"));
  for (const std::string& theirs : {magick, netpbm}) {
    TImageIO them;
    ASSERT_TRUE(Load(them, theirs)) << theirs << ": " << them.AbortReason;
    EXPECT_TRUE(SamePixels(io.IEBitmap(), them.IEBitmap())) << theirs;
  }
}

TEST(WBMPInterop, ColourAndLargeImagesWrittenByUsAreReadable) {
  PRAVIK_REQUIRE_TOOL("convert");
  ScratchDir dir;
  const std::string source = dir.File("source.ppm"), ours = dir.File("ours.wbmp"), back = dir.File("back.pbm");
  ASSERT_TRUE(Sh("convert rose: -resize 400x263! '" + source + "'"));
  TImageIO io;
  ASSERT_TRUE(Load(io, source));
  io.SaveToFileWBMP(ours);
  ASSERT_FALSE(io.AbortFlag) << io.AbortReason;
  ASSERT_TRUE(Sh("convert '" + ours + "' '" + back + "'"));
  TImageIO mine, them;
  ASSERT_TRUE(Load(mine, ours));
  ASSERT_TRUE(Load(them, back));
  EXPECT_EQ(them.IEBitmap().GetWidth(), 255);
  EXPECT_EQ(them.IEBitmap().GetHeight(), 167);
  EXPECT_TRUE(SamePixels(mine.IEBitmap(), them.IEBitmap()));
}

TEST(WBMPInterop, TheirsReadByUs) {
  PRAVIK_REQUIRE_TOOL("convert");
  PRAVIK_REQUIRE_TOOL("pbmtowbmp");
  ScratchDir dir;
  const std::string ref = dir.File("ref.pbm"), magick = dir.File("magick.wbmp"), netpbm = dir.File("netpbm.wbmp");
  // Wider than 255 and 128 (two-byte sizes), not a multiple of 8.
  ASSERT_TRUE(Sh("convert rose: -resize 301x130! -threshold 50% '" + ref + "'"));
  ASSERT_TRUE(Sh("convert '" + ref + "' '" + magick + "'"));
  ASSERT_TRUE(Sh("pbmtowbmp '" + ref + "' > '" + netpbm + "'"));
  TImageIO reference;
  ASSERT_TRUE(Load(reference, ref));
  for (const std::string& theirs : {magick, netpbm}) {
    TImageIO ours;
    ours.LoadFromFile(theirs);  // no content test for WBMP: by extension
    ASSERT_FALSE(ours.AbortFlag) << theirs << ": " << ours.AbortReason;
    EXPECT_EQ(ours.IOParams().FILETYPE, ioWBMP);
    EXPECT_EQ(ours.IEBitmap().GetWidth(), 301);
    EXPECT_TRUE(SamePixels(reference.IEBitmap(), ours.IEBitmap())) << theirs;
  }
}

}  // namespace
}  // namespace pravik
