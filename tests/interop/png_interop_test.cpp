// PNG files we write, read by ImageMagick, and ImageMagick's PNG files read by
// us: every colour type and depth, compared pixel for pixel.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codecs/png/png_codec.h"
#include "image/bitmap.h"
#include "image/mask.h"
#include "imageio/imageio.h"
#include "imageio/params.h"
#include "imageio/stream.h"
#include "interop/interop.h"

namespace pravik {
namespace {

using interop::ScratchDir;
using interop::TPam;

// ImageMagick's reading of a file, as RGBA of the given depth.
bool MagickRead(const std::string& file, const std::string& pamFile, int depth, TPam& pam) {
  return interop::Run("convert '" + file + "' -type TrueColorAlpha -depth " + std::to_string(depth) + " '" + pamFile + "'") &&
         interop::ReadPam(pamFile, pam) && pam.Depth == 4;
}

void Picture(TIEBitmap& b, int w, int h, int colours) {
  ASSERT_TRUE(b.Allocate(w, h, ie24RGB));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int k = colours > 0 ? ((x / 3) * 7 + y * 3) % colours : 0;
      b.SetPixels_ie24RGB(x, y, colours > 0 ? CreateRGB(static_cast<std::uint8_t>(k * 37), static_cast<std::uint8_t>(255 - k * 11),
                                                        static_cast<std::uint8_t>(k * 5))
                                            : CreateRGB(static_cast<std::uint8_t>(x * 4), static_cast<std::uint8_t>(y * 5),
                                                        static_cast<std::uint8_t>((x * y) & 255)));
    }
}

TEST(PngInterop, ImageMagickReadsEveryKindWeWrite) {
  PRAVIK_REQUIRE_TOOL("convert");
  ScratchDir dir;
  struct Case {
    const char* name;
    int spp, bits, colours;
    bool grey, alpha, interlaced;
  };
  const Case cases[] = {
      {"rgb", 3, 8, 0, false, false, false},        {"rgba", 3, 8, 0, false, true, false},
      {"rgb-interlaced", 3, 8, 0, false, false, true}, {"rgba-interlaced", 3, 8, 0, false, true, true},
      {"palette", 1, 8, 60, false, false, false},   {"palette-trns", 1, 8, 60, false, true, false},
      {"grey1", 1, 1, 0, true, false, false},       {"grey8", 1, 8, 0, true, false, false},
      {"grey16", 1, 16, 0, true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TIEBitmap src;
    Picture(src, 45, 23, c.colours);
    if (c.grey) {
      src.ConvertToPixelFormat(c.bits == 1 ? ie1g : ie8g);
      if (c.bits == 16) src.ConvertToPixelFormat(ie16g);
    }
    TIEMask mask;
    if (c.alpha) {
      mask.AllocateBits(45, 23, 8);
      for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 45; ++x) mask.SetPixel(x, y, c.spp == 1 ? (x < 10 ? 0 : 255) : (x * 5 + y * 3) & 255);
      mask.AllSet = false;
    }
    TIOParamsVals p;
    p.SAMPLESPERPIXEL = c.spp;
    p.BITSPERSAMPLE = c.bits;
    p.PNG_INTERLACED = c.interlaced;
    const std::string file = dir.File(std::string(c.name) + ".png");
    {
      TFileStream s(file, TFileMode::fmCreate);
      bool abort = false;
      TProgressRec progress;
      progress.AbortFlag = &abort;
      WritePNGStream(s, src, p, c.alpha ? &mask : nullptr, progress);
      ASSERT_FALSE(abort);
    }
    const int depth = c.bits == 16 ? 16 : 8;
    TPam pam;
    ASSERT_TRUE(MagickRead(file, dir.File(std::string(c.name) + ".pam"), depth, pam));
    ASSERT_EQ(pam.Width, 45);
    ASSERT_EQ(pam.Height, 23);
    for (int y = 0; y < 23; ++y)
      for (int x = 0; x < 45; ++x) {
        const int a = c.alpha ? mask.GetPixel(x, y) : 255;
        if (c.bits == 16) {
          ASSERT_EQ(pam.At(x, y, 0), src.GetPixels_ie16g(x, y)) << x << "," << y;
          continue;
        }
        const TRGB e = src.GetPixels(x, y);
        ASSERT_EQ(pam.At(x, y, 3), a) << x << "," << y;
        if (a == 0) continue;  // a transparent palette entry's colour is the background
        ASSERT_EQ(pam.At(x, y, 0), e.r) << x << "," << y;
        ASSERT_EQ(pam.At(x, y, 1), e.g) << x << "," << y;
        ASSERT_EQ(pam.At(x, y, 2), e.b) << x << "," << y;
      }
  }
}

TEST(PngInterop, WeReadEveryKindImageMagickWrites) {
  PRAVIK_REQUIRE_TOOL("convert");
  ScratchDir dir;
  // The source: a PAM with colour, alpha and a grey ramp, made by ImageMagick.
  const std::string base = dir.File("base.png");
  ASSERT_TRUE(interop::Run("convert -size 40x30 gradient:red-blue \\( -size 40x30 gradient:white-black -rotate 90 \\) "
                  "-compose CopyOpacity -composite '" + base + "'"));
  struct Case {
    const char* name;
    const char* options;  // ImageMagick's output options
    const char* prefix;   // its output format
    int depth;
  };
  const Case cases[] = {
      {"rgb8", "-alpha off", "PNG24:", 8},
      {"rgba8", "", "PNG32:", 8},
      {"rgb16", "-alpha off", "PNG48:", 16},
      {"rgba16", "", "PNG64:", 16},
      {"palette", "-alpha off -colors 50", "PNG8:", 8},
      {"palette-trns", "-channel A -threshold 50% +channel -colors 40", "PNG8:", 8},
      {"grey8", "-alpha off -colorspace gray -define png:color-type=0 -define png:bit-depth=8", "", 8},
      {"grey4", "-alpha off -colorspace gray -posterize 16 -define png:color-type=0 -define png:bit-depth=4", "", 8},
      {"grey16", "-alpha off -colorspace gray -define png:color-type=0 -define png:bit-depth=16", "", 16},
      {"grey-alpha", "-colorspace gray -depth 8 -define png:color-type=4", "", 8},
      {"mono", "-alpha off -monochrome", "", 8},
      {"interlaced", "-interlace PNG", "PNG32:", 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir.File(std::string(c.name) + ".png");
    ASSERT_TRUE(interop::Run("convert '" + base + "' " + c.options + " '" + c.prefix + file + "'"));
    TPam pam;
    ASSERT_TRUE(MagickRead(file, dir.File(std::string(c.name) + ".pam"), c.depth, pam));

    for (bool native : {false, true}) {
      TImageIO io;
      io.SetNativePixelFormat(native);
      io.LoadFromFileAuto(file);
      ASSERT_FALSE(io.AbortFlag) << io.AbortReason;
      TIEBitmap& b = io.IEBitmap();
      ASSERT_EQ(b.GetWidth(), 40);
      for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
          if (b.GetPixelFormat() == ie16g) {
            ASSERT_EQ(b.GetPixels_ie16g(x, y), pam.At(x, y, 0)) << x << "," << y;
            continue;
          }
          const int shift = c.depth == 16 ? 8 : 0;
          const int alpha = pam.At(x, y, 3) >> shift;
          ASSERT_EQ(b.GetHasAlphaChannel() ? b.GetAlpha(x, y) : 255, alpha) << x << "," << y;
          const TRGB p = b.GetPixels(x, y);
          ASSERT_EQ(p.r, pam.At(x, y, 0) >> shift) << x << "," << y;
          ASSERT_EQ(p.g, pam.At(x, y, 1) >> shift) << x << "," << y;
          ASSERT_EQ(p.b, pam.At(x, y, 2) >> shift) << x << "," << y;
        }
    }
  }
}

}  // namespace
}  // namespace pravik
