// GIF files written by us and read by ImageMagick and giflib, written by them
// and read by us: pixels, transparency and interlace compared.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/bitmap.h"
#include "imageio/formats.h"
#include "imageio/imageio.h"
#include "imageio/params.h"
#include "interop/interop.h"

namespace pravik::interop {
namespace {

// Frame k of an animation as ImageMagick composes it on the logical screen.
bool MagickFrame(const std::string& gif, const ScratchDir& dir, int k, TPixels& out) {
  return interop::Run("convert '" + gif + "' -coalesce -depth 8 '" + dir.File("frame-%d.pam") + "' 2>/dev/null") &&
         ParsePam(dir.File("frame-" + std::to_string(k) + ".pam"), out);
}

// Runs a command whose standard output is the file wanted.
bool RunTo(const std::string& command, const std::string& file) { return Sh(command + " > '" + file + "'"); }

// giflib's decode (gif2rgb): red, green, blue bytes per pixel, no alpha.
bool GiflibPixels(const std::string& gif, const std::string& rgb, int w, int h, TPixels& out) {
  if (!interop::Run("gif2rgb -1 -o '" + rgb + "' '" + gif + "' 2>/dev/null")) return false;
  const std::vector<std::uint8_t> data = FileBytes(rgb);
  if (data.size() != std::size_t(w) * h * 3) return false;
  out.Width = w;
  out.Height = h;
  out.Colour.resize(std::size_t(w) * h);
  out.Alpha.assign(out.Colour.size(), 255);
  for (std::size_t i = 0; i < out.Colour.size(); ++i)
    out.Colour[i] = CreateRGB(data[3 * i], data[3 * i + 1], data[3 * i + 2]);
  return true;
}

// Equal colours wherever either side is opaque, equal alpha everywhere.
::testing::AssertionResult Same(const TPixels& a, const TPixels& b, bool compareAlpha = true) {
  if (a.Width != b.Width || a.Height != b.Height)
    return ::testing::AssertionFailure() << "size " << a.Width << "x" << a.Height << " vs " << b.Width << "x"
                                         << b.Height;
  for (std::size_t i = 0; i < a.Colour.size(); ++i) {
    const int x = int(i % a.Width), y = int(i / a.Width);
    if (compareAlpha && a.Alpha[i] != b.Alpha[i])
      return ::testing::AssertionFailure() << "alpha at (" << x << ", " << y << "): " << int(a.Alpha[i]) << " vs "
                                           << int(b.Alpha[i]);
    if ((a.Alpha[i] != 0 || !compareAlpha) && !(a.Colour[i] == b.Colour[i]))
      return ::testing::AssertionFailure() << "colour at (" << x << ", " << y << "): " << int(a.Colour[i].r) << ","
                                           << int(a.Colour[i].g) << "," << int(a.Colour[i].b) << " vs "
                                           << int(b.Colour[i].r) << "," << int(b.Colour[i].g) << ","
                                           << int(b.Colour[i].b);
  }
  return ::testing::AssertionSuccess();
}

TPixels LoadOurs(const std::string& file, int index = 0, bool* failed = nullptr) {
  TImageIO io;
  io.IOParams().GIF_IMAGEINDEX = index;
  io.LoadFromFileGIF(file);
  if (failed != nullptr) *failed = io.AbortFlag;
  EXPECT_FALSE(io.AbortFlag) << file << ": " << io.AbortReason;
  return OurPixels(io.IEBitmap());
}

// k colours in diagonal bands (exact palettes), or a smooth picture (k = 0).
void Picture(TIEBitmap& b, int w, int h, int k) {
  if (k > 0) return Bands(b, w, h, k);
  b.Allocate(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      b.SetPixels_ie24RGB(x, y, CreateRGB(std::uint8_t(x * 255 / w), std::uint8_t(y * 255 / h),
                                          std::uint8_t((x * y * 7) % 251)));
}

struct WriteCase {
  const char* name;
  int colours;  // 0: the smooth picture (quantized)
  int bits;
  bool interlaced;
  bool alpha;  // a pattern of transparent pixels (alpha 0 and 90) and opaque ones (200, 255)
};

const WriteCase kWriteCases[] = {
    {"converter settings, alpha channel", 120, 8, true, true},
    {"converter settings, no alpha", 200, 8, true, false},
    {"1 bit", 2, 1, false, false},
    {"4 bits with transparency", 9, 4, false, true},
    {"smooth picture, 8 bits", 0, 8, false, false},
    {"smooth picture, interlaced, transparency", 0, 8, true, true},
};

std::uint8_t AlphaPattern(int x, int y) {
  switch ((x * 3 + y) % 5) {
    case 0: return 0;
    case 1: return 90;
    case 2: return 200;
    default: return 255;
  }
}

// Writes one case with the converter's parameter style and returns the file.
std::string WriteOurs(const WriteCase& c, const ScratchDir& dir, TPixels& source) {
  TImageIO io;
  const int w = 203, h = 77;  // odd sizes; enough pixels to fill the code table
  Picture(io.IEBitmap(), w, h, c.colours);
  if (c.alpha)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) io.IEBitmap().SetAlpha(x, y, AlphaPattern(x, y));
  source = OurPixels(io.IEBitmap());
  TIOParamsVals& p = io.IOParams();
  p.BITSPERSAMPLE = c.bits;
  p.GIF_TRANSPARENT = true;
  p.GIF_INTERLACED = c.interlaced;
  const std::string file = dir.File("ours.gif");
  io.SaveToFileGIF(file);
  EXPECT_FALSE(io.AbortFlag) << io.AbortReason;
  return file;
}

TEST(GifInterop, ImageMagickReadsWhatWeWrite) {
  PRAVIK_REQUIRE_TOOL("convert");
  ScratchDir dir;
  for (const WriteCase& c : kWriteCases) {
    SCOPED_TRACE(c.name);
    TPixels source;
    const std::string file = WriteOurs(c, dir, source);
    TPixels magick;
    ASSERT_TRUE(MagickRead(file, dir.File("im.pam"), magick));
    // Our own decode is the reference for quantized colours; the source is
    // for exact palettes and for transparency (alpha below half only).
    const TPixels ours = LoadOurs(file);
    EXPECT_TRUE(Same(magick, ours));
    for (std::size_t i = 0; i < source.Alpha.size(); ++i) {
      ASSERT_EQ(magick.Alpha[i], source.Alpha[i] < 128 ? 0 : 255) << "pixel " << i;
      if (c.colours > 0 && magick.Alpha[i] == 255) {
        ASSERT_EQ(magick.Colour[i], source.Colour[i]) << "pixel " << i;
      }
    }
    std::string interlace;
    ASSERT_TRUE(RunTo("identify -format '%[interlace]' '" + file + "'", dir.File("il.txt")));
    std::ifstream(dir.File("il.txt")) >> interlace;
    EXPECT_EQ(interlace, c.interlaced ? "GIF" : "None");
  }
}

TEST(GifInterop, GiflibReadsWhatWeWrite) {
  PRAVIK_REQUIRE_TOOL("gif2rgb");
  PRAVIK_REQUIRE_TOOL("giftext");
  ScratchDir dir;
  for (const WriteCase& c : kWriteCases) {
    SCOPED_TRACE(c.name);
    TPixels source;
    const std::string file = WriteOurs(c, dir, source);
    ASSERT_TRUE(RunTo("giftext '" + file + "'", dir.File("text.txt")));
    std::ifstream text(dir.File("text.txt"));
    const std::string dump((std::istreambuf_iterator<char>(text)), std::istreambuf_iterator<char>());
    EXPECT_NE(dump.find("GIF file terminated normally"), std::string::npos);
    EXPECT_NE(dump.find(c.interlaced ? "Image is Interlaced" : "Image is Non Interlaced"), std::string::npos);
    TPixels giflib;
    ASSERT_TRUE(GiflibPixels(file, dir.File("out.rgb"), source.Width, source.Height, giflib));
    // gif2rgb shows the transparent slot's colour: compare colours where opaque.
    const TPixels ours = LoadOurs(file);
    for (std::size_t i = 0; i < ours.Colour.size(); ++i)
      if (ours.Alpha[i] == 255) {
        ASSERT_EQ(giflib.Colour[i], ours.Colour[i]) << "pixel " << i;
      }
  }
}

TEST(GifInterop, WeReadWhatImageMagickWrites) {
  PRAVIK_REQUIRE_TOOL("convert");
  ScratchDir dir;
  struct Case {
    const char* name;
    std::string command;  // writes $OUT
    int frames;
  };
  const Case cases[] = {
      {"256 colours", "convert -size 120x90 plasma:fractal -seed 3 -colors 256", 1},
      {"interlaced", "convert -size 97x41 gradient:red-blue -colors 60 -interlace GIF", 1},
      {"two colours", "convert -size 33x17 pattern:checkerboard -monochrome", 1},
      {"transparent colour", "convert -size 40x30 gradient:yellow-navy -colors 20 -transparent '#FFFF00'", 1},
      {"animation with disposals",
       "convert -size 30x20 xc:red "
       "\\( -size 10x10 xc:blue -set page +5+5 -set dispose Background \\) "
       "\\( -size 12x6 xc:none -fill lime -draw 'rectangle 0,0 5,5' -set page +14+9 -set dispose Previous \\) "
       "\\( -size 6x6 xc:white -set page +22+2 \\)",
       4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir.File("im.gif");
    ASSERT_TRUE(interop::Run(c.command + " '" + file + "'"));
    for (int k = 0; k < c.frames; ++k) {
      SCOPED_TRACE(k);
      TPixels magick;
      ASSERT_TRUE(c.frames == 1 ? MagickRead(file, dir.File("im.pam"), magick) : MagickFrame(file, dir, k, magick));
      EXPECT_TRUE(Same(LoadOurs(file, k), magick));
    }
  }
}

TEST(GifInterop, WeReadWhatGiflibWrites) {
  PRAVIK_REQUIRE_TOOL("gif2rgb");
  PRAVIK_REQUIRE_TOOL("gifbuild");
  ScratchDir dir;
  // giflib's own encoder from raw colours (it reduces them to 256).
  const int w = 150, h = 110;
  {
    std::ofstream raw(dir.File("in.rgb"), std::ios::binary);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const char px[3] = {char(x * 255 / w), char((x ^ y) * 3), char(y * 255 / h)};
        raw.write(px, 3);
      }
  }
  const std::string gif = dir.File("giflib.gif");
  ASSERT_TRUE(
      RunTo("gif2rgb -1 -s " + std::to_string(w) + " " + std::to_string(h) + " '" + dir.File("in.rgb") + "'", gif));
  TPixels giflib;
  ASSERT_TRUE(GiflibPixels(gif, dir.File("out.rgb"), w, h, giflib));
  EXPECT_TRUE(Same(LoadOurs(gif), giflib));

  // Our interlaced, transparent file dumped to text and rebuilt by giflib.
  TPixels source;
  const std::string ours = WriteOurs(kWriteCases[5], dir, source);
  const std::string text = dir.File("dump.txt"), rebuilt = dir.File("rebuilt.gif");
  ASSERT_TRUE(RunTo("gifbuild -d '" + ours + "'", text));
  ASSERT_TRUE(RunTo("gifbuild '" + text + "'", rebuilt));
  ASSERT_NE(FileBytes(rebuilt), FileBytes(ours));  // another encoder's bytes
  EXPECT_TRUE(Same(LoadOurs(rebuilt), LoadOurs(ours)));
}

}  // namespace
}  // namespace pravik::interop
