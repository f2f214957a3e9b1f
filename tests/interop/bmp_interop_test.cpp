// BMP files written by us and read by ImageMagick, written by ImageMagick and
// read by us, and the corpus's bitmaps read by both.
#include <gtest/gtest.h>

#include <string>

#include "image/bitmap.h"
#include "imageio/formats.h"
#include "imageio/imageio.h"
#include "interop/interop.h"

namespace pravik::interop {
namespace {

// A photo-like image with a smooth gradient and some detail.
void Picture(TIEBitmap& bmp, int w, int h) {
  bmp.Allocate(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      bmp.SetPixels_ie24RGB(x, y, CreateRGB(std::uint8_t(x * 255 / w), std::uint8_t(y * 255 / h),
                                            std::uint8_t((x * y) % 251)));
}

struct WriteCase {
  const char* name;
  int colours;  // 0: the picture
  int bitsPerSample, samplesPerPixel;
  TIOBMPVersion version;
  TIOBMPCompression compression;
  bool alpha;
};

TEST(BmpInterop, ImageMagickReadsWhatWeWrite) {
  PRAVIK_REQUIRE_TOOL("convert");
  const WriteCase cases[] = {
      {"1-bit", 2, 1, 1, ioBMP_BM3, ioBMP_UNCOMPRESSED, false},
      {"4-bit", 16, 4, 1, ioBMP_BM3, ioBMP_UNCOMPRESSED, false},
      {"4-bit RLE", 16, 4, 1, ioBMP_BM3, ioBMP_RLE, false},
      {"8-bit", 230, 8, 1, ioBMP_BM3, ioBMP_UNCOMPRESSED, false},
      {"8-bit RLE", 230, 8, 1, ioBMP_BM3, ioBMP_RLE, false},
      {"8-bit core header", 230, 8, 1, ioBMP_BMOS2V1, ioBMP_UNCOMPRESSED, false},
      {"24-bit", 0, 8, 3, ioBMP_BM3, ioBMP_UNCOMPRESSED, false},
      {"24-bit core header", 0, 8, 3, ioBMP_BMOS2V1, ioBMP_UNCOMPRESSED, false},
      {"24-bit 64-byte header", 0, 8, 3, ioBMP_BMOS2V2, ioBMP_UNCOMPRESSED, false},
      {"32-bit", 0, 8, 3, ioBMP_BM3, ioBMP_UNCOMPRESSED, true},
  };
  ScratchDir dir;
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    const int w = 61, h = 23;
    if (c.colours == 0) Picture(io.IEBitmap(), w, h);
    else Bands(io.IEBitmap(), w, h, c.colours);
    if (c.alpha)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) io.IEBitmap().SetAlpha(x, y, std::uint8_t(x * 4));
    auto& p = io.IOParams();
    p.BITSPERSAMPLE = c.bitsPerSample;
    p.SAMPLESPERPIXEL = c.samplesPerPixel;
    p.BMP_VERSION = c.version;
    p.BMP_COMPRESSION = c.compression;
    p.BMP_HANDLETRANSPARENCY = c.alpha;
    const std::string file = dir.File("ours.bmp");
    io.SaveToFile(file);
    ASSERT_FALSE(io.AbortFlag) << io.AbortReason;
    TPixels m;
    ASSERT_TRUE(MagickRead(file, dir.File("ours.pam"), m));
    ASSERT_EQ(m.Width, w);
    ASSERT_EQ(m.Height, h);
    EXPECT_EQ(MaxDifference(io.IEBitmap(), m), 0);
    if (c.alpha) {
      ASSERT_TRUE(m.HasAlpha);
      EXPECT_EQ(m.AlphaAt(10, 5), 40);
      EXPECT_EQ(m.AlphaAt(0, 5), 0);
    }
  }
}

struct MagickCase {
  const char* name;
  const char* options;  // convert options before the output name
  const char* output;   // format prefix and name
  int expectBitsPerSample;
};

TEST(BmpInterop, WeReadWhatImageMagickWrites) {
  PRAVIK_REQUIRE_TOOL("convert");
  ScratchDir dir;
  const std::string source = dir.File("source.png");
  ASSERT_TRUE(interop::Run("convert -size 45x19 gradient:red-blue -fx 'u+(i%7)/40' '" + source + "'"));
  const MagickCase cases[] = {
      {"1-bit", "-monochrome", "BMP3:", 1},
      {"4-bit", "-colors 12 -type Palette", "BMP3:", 4},
      {"8-bit", "-colors 200 -type Palette", "BMP3:", 8},
      {"8-bit RLE", "-colors 200 -type Palette -compress RLE", "BMP3:", 8},
      {"24-bit", "-type TrueColor", "BMP3:", 8},
      {"OS/2 24-bit", "-type TrueColor", "BMP2:", 8},
      {"16-bit 565", "-define bmp:subtype=RGB565", "BMP:", 5},
      {"32-bit with alpha", "-alpha set -channel A -fx 'i/w' +channel", "BMP:", 8},
  };
  for (const MagickCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir.File("theirs.bmp");
    ASSERT_TRUE(interop::Run("convert '" + source + "' " + c.options + " " + c.output + "'" + file + "'"));
    TPixels m;
    ASSERT_TRUE(MagickRead(file, dir.File("theirs.pam"), m));
    TImageIO io;
    io.IOParams().BMP_HANDLETRANSPARENCY = true;
    io.LoadFromFileAuto(file);
    ASSERT_FALSE(io.AbortFlag) << io.AbortReason;
    EXPECT_EQ(io.IOParams().FILETYPE, ioBMP);
    EXPECT_EQ(io.IOParams().BITSPERSAMPLE, c.expectBitsPerSample);
    // 16-bit channels: ImageMagick fills the low bits, we leave them 0.
    EXPECT_LE(MaxDifference(io.IEBitmap(), m), c.expectBitsPerSample == 5 ? 7 : 0);
    if (m.HasAlpha && std::string(c.name).find("alpha") != std::string::npos) {
      ASSERT_TRUE(io.IEBitmap().GetHasAlphaChannel());
      for (int x = 0; x < m.Width; x += 7) EXPECT_EQ(io.IEBitmap().GetAlpha(x, 3), m.AlphaAt(x, 3)) << x;
    }
  }
}

// The corpus's bitmaps: our pixels against ImageMagick's.
TEST(BmpInterop, CorpusBitmapsAgreeWithImageMagick) {
  PRAVIK_REQUIRE_TOOL("convert");
  struct Case {
    const char* path;
    int tolerance;
  };
  const Case cases[] = {
      {"bmp/g/pal1.bmp", 0},        {"bmp/g/pal1bg.bmp", 0},       {"bmp/g/pal1wb.bmp", 0},
      {"bmp/g/pal4.bmp", 0},        {"bmp/g/pal4rle.bmp", 0},      {"bmp/g/pal8-0.bmp", 0},
      {"bmp/g/pal8.bmp", 0},        {"bmp/g/pal8nonsquare.bmp", 0}, {"bmp/g/pal8os2.bmp", 0},
      {"bmp/g/pal8rle.bmp", 0},     {"bmp/g/pal8topdown.bmp", 0},  {"bmp/g/pal8v4.bmp", 0},
      {"bmp/g/pal8v5.bmp", 0},      {"bmp/g/pal8w124.bmp", 0},     {"bmp/g/pal8w125.bmp", 0},
      {"bmp/g/pal8w126.bmp", 0},    {"bmp/g/rgb16-565.bmp", 7},    {"bmp/g/rgb16-565pal.bmp", 7},
      {"bmp/g/rgb16.bmp", 7},       {"bmp/g/rgb24.bmp", 0},        {"bmp/g/rgb24pal.bmp", 0},
      {"bmp/g/rgb32.bmp", 0},       {"bmp/g/rgb32bf.bmp", 0},      {"bmp/q/pal1p1.bmp", 0},
      {"bmp/q/pal4rletrns.bmp", 0}, {"bmp/q/pal8offs.bmp", 0},     {"bmp/q/pal8os2sp.bmp", 0},
      {"bmp/q/pal8os2v2-16.bmp", 0}, {"bmp/q/pal8rletrns.bmp", 0}, {"bmp/q/rgb16-231.bmp", 0},
      {"bmp/q/rgb24largepal.bmp", 0}, {"bmp/q/rgb24lprof.bmp", 0}, {"bmp/q/rgb24prof.bmp", 0},
      {"bmp/q/rgb32-111110.bmp", 1}, {"bmp/q/rgb32bf-xbgr.bmp", 0}, {"bmp/q/rgb32fakealpha.bmp", 0},
      {"bmp/q/rgb32h52.bmp", 0},    {"bmp/q/rgba16-4444.bmp", 0},  {"bmp/q/rgba32.bmp", 0},
      {"bmp/q/rgba32h56.bmp", 0},   {"bmp/b/rletopdown.bmp", 0},   {"clipboard.dib", 0},
      {"hopper.bmp", 0},            {"hopper_rle8.bmp", 0},        {"hopper_rle8_grayscale.bmp", 0},
      {"hopper_rle8_row_overflow.bmp", 0}, {"rgb32bf-abgr.bmp", 0}, {"rgb32bf-rgba.bmp", 0},
      // bmp/q/pal8os2v2.bmp is left out: ImageMagick misreads its 64-byte
      // header (the same pixels and palette as pal8.bmp load as pal8.bmp).
  };
  ScratchDir dir;
  const std::string root = std::string(PRAVIK_SHARED_DIR) + "/corpus/pillow/";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    TPixels m;
    ASSERT_TRUE(MagickRead(root + c.path, dir.File("c.pam"), m));
    TImageIO io;
    io.IOParams().BMP_HANDLETRANSPARENCY = true;
    io.LoadFromFileAuto(root + c.path);
    ASSERT_FALSE(io.AbortFlag) << io.AbortReason;
    ASSERT_EQ(io.IEBitmap().GetWidth(), m.Width);
    ASSERT_EQ(io.IEBitmap().GetHeight(), m.Height);
    EXPECT_LE(MaxDifference(io.IEBitmap(), m), c.tolerance);
    if (io.IEBitmap().GetHasAlphaChannel() && m.HasAlpha) {
      int worst = 0;
      for (int y = 0; y < m.Height; ++y)
        for (int x = 0; x < m.Width; ++x) worst = std::max(worst, std::abs(io.IEBitmap().GetAlpha(x, y) - m.AlphaAt(x, y)));
      // A 40-byte header's fourth bytes are alpha to us, padding to ImageMagick.
      if (std::string(c.path) != "clipboard.dib") {
        EXPECT_EQ(worst, 0);
      }
    }
  }
}

}  // namespace
}  // namespace pravik::interop
