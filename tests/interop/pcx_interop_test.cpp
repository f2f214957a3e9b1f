// PCX and DCX against ImageMagick: every depth our writer produces is read by
// ImageMagick with the same pixels; files ImageMagick writes, and the PCX and
// DCX files of the corpus, are read by us with the pixels ImageMagick sees.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "image/bitmap.h"
#include "imageio/imageio.h"
#include "interop/interop.h"

namespace pravik::interop {
namespace {

// ImageMagick 6 takes a set bit of a 1-bit PCX file for black, although the
// file's own palette (and ours, and other readers) make it white: its view of
// such a file is ours with black and white swapped.
std::vector<std::uint8_t> Inverted(std::vector<std::uint8_t> rgba) {
  for (std::size_t i = 0; i < rgba.size(); ++i)
    if (i % 4 != 3) rgba[i] = static_cast<std::uint8_t>(255 - rgba[i]);
  return rgba;
}

// Every depth the writer chooses, written by us and read by ImageMagick.
TEST(PCXInterop, OurFilesReadByImageMagick) {
  PRAVIK_REQUIRE_TOOL("convert");
  ScratchDir dir;
  struct Case {
    const char* what;
    int bits, samples;
    TIOPCXCompression compression;
    int colours;  // of the test picture (0: many)
    int width;
    const char* extension;
  };
  const Case cases[] = {
      {"24-bit coded, odd width", 8, 3, ioPCX_RLE, 0, 53, ".pcx"},
      {"24-bit raw, even width", 8, 3, ioPCX_UNCOMPRESSED, 0, 40, ".pcx"},
      {"8-bit coded", 8, 1, ioPCX_RLE, 200, 53, ".pcx"},
      {"8-bit raw", 8, 1, ioPCX_UNCOMPRESSED, 200, 53, ".pcx"},
      {"4-bit coded", 4, 1, ioPCX_RLE, 16, 53, ".pcx"},
      {"1-bit, two colours", 1, 1, ioPCX_RLE, 2, 53, ".pcx"},
      {"1-bit black and white", 1, 1, ioPCX_UNCOMPRESSED, -1, 53, ".pcx"},
      {"one-page DCX", 8, 3, ioPCX_RLE, 0, 53, ".dcx"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TImageIO io;
    TIEBitmap& bmp = io.IEBitmap();
    MakePicture(bmp, c.width, 21, c.colours < 0 ? 2 : c.colours);
    if (c.colours < 0) bmp.ConvertToPixelFormat(ie1g);
    TIOParamsVals& p = io.IOParams();
    p.BITSPERSAMPLE = c.bits;
    p.SAMPLESPERPIXEL = c.samples;
    p.PCX_COMPRESSION = c.compression;
    const std::string file = dir.File(std::string("ours") + c.extension);
    io.SaveToFile(file);
    ASSERT_FALSE(io.AbortFlag) << io.AbortReason;
    std::vector<std::uint8_t> theirs;
    EXPECT_TRUE(MagickRGBA(file, dir.File("out.rgba"), theirs));
    if (c.bits == 1) {
      // The file holds the two levels (a two-colour picture keeps its colours
      // in the header palette only); compare the levels we read back.
      TImageIO back;
      back.LoadFromFile(file);
      ASSERT_FALSE(back.AbortFlag) << back.AbortReason;
      ASSERT_EQ(back.IEBitmap().GetPixelFormat(), ie1g);
      if (c.colours < 0) { EXPECT_TRUE(SameRGBA(OurRGBA(back.IEBitmap()), OurRGBA(bmp), c.width)); }
      EXPECT_TRUE(SameRGBA(Inverted(OurRGBA(back.IEBitmap())), theirs, c.width));
    } else {
      EXPECT_TRUE(SameRGBA(OurRGBA(bmp), theirs, c.width));
    }
  }
}

// Files ImageMagick writes, read by us.
TEST(PCXInterop, ImageMagickFilesReadByUs) {
  PRAVIK_REQUIRE_TOOL("convert");
  ScratchDir dir;
  struct Case {
    const char* what;
    const char* options;
    int colours;
    const char* extension;
    bool viaGIF;  // ImageMagick writes palette PCX files only from palette images
    bool oneBit;
  };
  const Case cases[] = {
      {"true colour", "", 0, ".pcx", false, false},
      {"grey", "-colorspace Gray", 0, ".pcx", false, false},
      {"256 colours", "", 40, ".pcx", true, false},
      {"1 bit", "-monochrome", 0, ".pcx", true, true},
      {"DCX", "", 0, ".dcx", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TIEBitmap src;
    MakePicture(src, 45, 19, c.colours);
    const std::string file = dir.File(std::string("theirs") + c.extension);
    const std::string made = c.viaGIF ? dir.File("theirs.gif") : file;
    ASSERT_TRUE(MagickWrite(RGBBytes(src), "rgb", 45, 19, dir.File("in.raw"), c.options, made));
    if (c.viaGIF) { ASSERT_TRUE(interop::Run("convert '" + made + "' '" + file + "'")); }
    std::uint8_t head[66] = {};
    std::ifstream(file, std::ios::binary).read(reinterpret_cast<char*>(head), 66);
    if (c.viaGIF) { EXPECT_EQ(head[65], 1) << "one plane"; }
    if (c.oneBit) { EXPECT_EQ(head[3], 1) << "1 bit"; }
    TImageIO io;
    io.LoadFromFileAuto(file);
    ASSERT_FALSE(io.AbortFlag) << io.AbortReason;
    EXPECT_EQ(io.IOParams().FILETYPE, std::string(c.extension) == ".dcx" ? ioDCX : ioPCX);
    std::vector<std::uint8_t> theirs;
    ASSERT_TRUE(MagickRGBA(file, dir.File("out.rgba"), theirs));
    EXPECT_TRUE(SameRGBA(c.oneBit ? Inverted(OurRGBA(io.IEBitmap())) : OurRGBA(io.IEBitmap()), theirs, 45));
  }
}

TEST(PCXInterop, CorpusFilesReadAsImageMagickReadsThem) {
  PRAVIK_REQUIRE_TOOL("convert");
  ScratchDir dir;
  const std::string root = std::string(PRAVIK_SHARED_DIR) + "/corpus/pillow/";
  for (const char* f : {"odd_stride.pcx", "p_4_planes.pcx", "pil184.pcx", "hopper.dcx"}) {
    const bool oneBit = std::string(f) == "pil184.pcx";
    const std::string path = root + f;
    if (!std::ifstream(path)) continue;
    TImageIO io;
    io.LoadFromFileAuto(path);
    ASSERT_FALSE(io.AbortFlag) << f << ": " << io.AbortReason;
    std::vector<std::uint8_t> theirs;
    ASSERT_TRUE(MagickRGBA(path, dir.File("out.rgba"), theirs)) << f;
    const std::vector<std::uint8_t> ours = OurRGBA(io.IEBitmap());
    EXPECT_TRUE(SameRGBA(oneBit ? Inverted(ours) : ours, theirs, io.IEBitmap().GetWidth())) << f;
  }
}

}  // namespace
}  // namespace pravik::interop
