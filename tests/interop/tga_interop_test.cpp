// TGA against ImageMagick: every depth our writer produces is read by
// ImageMagick with the same pixels; files ImageMagick writes, and the TGA
// files of the corpus, are read by us with the pixels ImageMagick sees.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "image/bitmap.h"
#include "imageio/imageio.h"
#include "interop/interop.h"

namespace pravik::interop {
namespace {

// Every depth the writer chooses, written by us and read by ImageMagick.
TEST(TGAInterop, OurFilesReadByImageMagick) {
  PRAVIK_REQUIRE_TOOL("convert");
  ScratchDir dir;
  struct Case {
    const char* what;
    int bits, samples;
    bool compressed, grey, alpha;
    int colours;  // of the test picture (0: many)
  };
  const Case cases[] = {
      {"24-bit raw", 8, 3, false, false, false, 0},
      {"24-bit coded", 8, 3, true, false, false, 0},
      {"32-bit with alpha", 8, 4, true, false, true, 0},
      {"8-bit colour-mapped raw", 8, 1, false, false, false, 200},
      {"8-bit colour-mapped coded", 8, 1, true, false, false, 200},
      {"8-bit grey coded", 8, 1, true, true, false, 0},
      {"4-bit colour-mapped", 4, 1, true, false, false, 16},
      {"1-bit", 1, 1, true, false, false, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TImageIO io;
    TIEBitmap& bmp = io.IEBitmap();
    MakePicture(bmp, 53, 21, c.colours);
    if (c.bits == 1) {
      bmp.ConvertToPixelFormat(ie1g);
      for (int x = 0; x < 53; ++x) bmp.SetPixels_ie1g(x, 3, x % 5 != 0);
    }
    if (c.grey) {
      for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 53; ++x) bmp.SetPixels_ie24RGB(x, y, CreateRGB(std::uint8_t(x * 4), std::uint8_t(x * 4), std::uint8_t(x * 4)));
    }
    if (c.alpha)
      for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 53; ++x) bmp.SetAlpha(x, y, std::uint8_t((x * 5 + y) & 255));
    TIOParamsVals& p = io.IOParams();
    p.BITSPERSAMPLE = c.bits;
    p.SAMPLESPERPIXEL = c.samples;
    p.TGA_COMPRESSED = c.compressed;
    p.TGA_GRAYLEVEL = c.grey;
    const std::string file = dir.File("ours.tga");
    io.SaveToFile(file);
    ASSERT_FALSE(io.AbortFlag) << io.AbortReason;
    std::vector<std::uint8_t> theirs;
    EXPECT_TRUE(MagickRGBA(file, dir.File("out.rgba"), theirs));
    EXPECT_TRUE(SameRGBA(OurRGBA(bmp), theirs, 53));
  }
}

// Files ImageMagick writes, read by us.
TEST(TGAInterop, ImageMagickFilesReadByUs) {
  PRAVIK_REQUIRE_TOOL("convert");
  ScratchDir dir;
  struct Case {
    const char* what;
    const char* options;
    int colours;
    bool alpha;
  };
  const Case cases[] = {
      {"true colour", "", 0, false},
      {"true colour coded", "-compress RLE", 0, false},
      {"true colour with alpha", "", 0, true},
      {"true colour with alpha, coded", "-compress RLE", 0, true},
      {"colour-mapped", "-type Palette", 40, false},
      {"colour-mapped coded", "-type Palette -compress RLE", 40, false},
      {"grey", "-colorspace Gray", 0, false},
      {"grey coded", "-colorspace Gray -compress RLE", 0, false},
      {"bottom-up rows", "-orient BottomLeft", 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TIEBitmap src;
    MakePicture(src, 45, 19, c.colours);
    std::vector<std::uint8_t> bytes = RGBBytes(src);
    if (c.alpha) {
      std::vector<std::uint8_t> rgba;
      for (std::size_t i = 0; i < bytes.size(); i += 3)
        rgba.insert(rgba.end(), {bytes[i], bytes[i + 1], bytes[i + 2], std::uint8_t(i * 7 & 255)});
      bytes = rgba;
    }
    const std::string file = dir.File("theirs.tga");
    ASSERT_TRUE(MagickWrite(bytes, c.alpha ? "rgba" : "rgb", 45, 19, dir.File("in.raw"), c.options, file));
    TImageIO io;
    io.LoadFromFileAuto(file);
    ASSERT_FALSE(io.AbortFlag) << io.AbortReason;
    EXPECT_EQ(io.IOParams().FILETYPE, ioTGA);
    std::vector<std::uint8_t> theirs;
    ASSERT_TRUE(MagickRGBA(file, dir.File("out.rgba"), theirs));
    EXPECT_TRUE(SameRGBA(OurRGBA(io.IEBitmap()), theirs, 45));
  }
}

TEST(TGAInterop, CorpusFilesReadAsImageMagickReadsThem) {
  PRAVIK_REQUIRE_TOOL("convert");
  ScratchDir dir;
  const std::string root = std::string(PRAVIK_SHARED_DIR) + "/corpus/pillow/";
  struct Case {
    const char* file;
    // ImageMagick decodes grey-and-alpha files as 5-bit colour: their grey
    // is compared with the grey-only file made from the same picture.
    const char* reference = nullptr;
    int tolerance = 0;  // ImageMagick rounds 5-bit channels down now and then
  };
  const Case cases[] = {
      {"200x32_p_bl_raw_origin.tga"}, {"cross_scan_line.tga"}, {"p_16.tga", nullptr, 1},
      {"rgb32rle.tga"}, {"rgb32rle_bottom_right.tga"}, {"rgb32rle_top_right.tga"}, {"rgba16.tga", nullptr, 1},
      {"tga_id_field.tga"}, {"tga/common/1x1_l_bl_raw.tga"}, {"tga/common/1x1_l_bl_rle.tga"},
      {"tga/common/1x1_l_tl_raw.tga"}, {"tga/common/1x1_l_tl_rle.tga"}, {"tga/common/200x32_l_bl_raw.tga"},
      {"tga/common/200x32_l_bl_rle.tga"}, {"tga/common/200x32_l_tl_raw.tga"}, {"tga/common/200x32_l_tl_rle.tga"},
      {"tga/common/200x32_la_bl_raw.tga", "tga/common/200x32_l_bl_raw.tga"},
      {"tga/common/200x32_la_bl_rle.tga", "tga/common/200x32_l_bl_raw.tga"},
      {"tga/common/200x32_la_tl_raw.tga", "tga/common/200x32_l_bl_raw.tga"},
      {"tga/common/200x32_la_tl_rle.tga", "tga/common/200x32_l_bl_raw.tga"},
      {"tga/common/200x32_p_bl_raw.tga"}, {"tga/common/200x32_p_bl_rle.tga"}, {"tga/common/200x32_p_tl_raw.tga"},
      {"tga/common/200x32_p_tl_rle.tga"}, {"tga/common/200x32_rgb_bl_raw.tga"}, {"tga/common/200x32_rgb_bl_rle.tga"},
      {"tga/common/200x32_rgb_tl_raw.tga"}, {"tga/common/200x32_rgb_tl_rle.tga"},
      {"tga/common/200x32_rgba_bl_raw.tga"}, {"tga/common/200x32_rgba_bl_rle.tga"},
      {"tga/common/200x32_rgba_tl_raw.tga"}, {"tga/common/200x32_rgba_tl_rle.tga"},
  };
  for (const Case& c : cases) {
    const std::string path = root + c.file;
    if (!std::ifstream(path)) continue;
    TImageIO io;
    io.LoadFromFileAuto(path);
    ASSERT_FALSE(io.AbortFlag) << c.file << ": " << io.AbortReason;
    EXPECT_EQ(io.IOParams().FILETYPE, ioTGA) << c.file;
    std::vector<std::uint8_t> theirs;
    ASSERT_TRUE(MagickRGBA(c.reference ? root + c.reference : path, dir.File("out.rgba"), theirs)) << c.file;
    EXPECT_TRUE(SameRGBA(OurRGBA(io.IEBitmap()), theirs, io.IEBitmap().GetWidth(), c.tolerance, !c.reference))
        << c.file;
  }
}

}  // namespace
}  // namespace pravik::interop
