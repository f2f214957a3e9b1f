// JPEG files we write, read by ImageMagick, and ImageMagick's JPEG files
// read by us. Both sides decode through a libjpeg, but with their own
// settings (upsampling, DCT), so colours are compared within a tolerance.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "codecs/jpeg/jpeg.h"
#include "image/bitmap.h"
#include "imageio/imageio.h"
#include "imageio/params.h"
#include "imageio/stream.h"
#include "interop/interop.h"

namespace pravik {
namespace {

using interop::FileBytes;
using interop::ScratchDir;

void Picture(TIEBitmap& b, int w, int h) {
  ASSERT_TRUE(b.Allocate(w, h, ie24RGB));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double d = std::hypot(x - w / 2.0, y - h / 3.0) / w;
      b.SetPixels_ie24RGB(x, y, CreateRGB(static_cast<std::uint8_t>(255 * x / (w - 1)),
                                          static_cast<std::uint8_t>(255 * y / (h - 1)),
                                          static_cast<std::uint8_t>(255 * std::max(0.0, 1 - 2 * d))));
    }
}

// Mean absolute difference of our pixels (as red, green, blue) and raw RGB samples.
double MeanError(TIEBitmap& b, const std::vector<std::uint8_t>& rgb) {
  const int w = b.GetWidth(), h = b.GetHeight();
  EXPECT_EQ(rgb.size(), static_cast<std::size_t>(w) * h * 3);
  if (rgb.size() != static_cast<std::size_t>(w) * h * 3) return 1e9;
  double sum = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const TRGB p = b.GetPixels(x, y);
      const unsigned char* q = &rgb[(static_cast<std::size_t>(y) * w + x) * 3];
      sum += std::abs(p.r - q[0]) + std::abs(p.g - q[1]) + std::abs(p.b - q[2]);
    }
  return sum / (3.0 * w * h);
}

TEST(JpegInterop, ImageMagickReadsWhatWeWrite) {
  PRAVIK_REQUIRE_TOOL("convert");
  ScratchDir dir;
  TIEBitmap src;
  Picture(src, 96, 64);
  struct Case {
    const char* name;
    TIOJPEGColorspace space;
    bool progressive;
    TIOJPEGCromaSubsampling sampling;
  };
  const Case cases[] = {
      {"ycbcr", ioJPEG_YCbCr, false, ioJPEG_HIGH},   {"ycbcr-422", ioJPEG_YCbCr, false, ioJPEG_MEDIUM},
      {"ycbcr-444", ioJPEG_YCbCr, false, ioJPEG_NONE}, {"progressive", ioJPEG_YCbCr, true, ioJPEG_HIGH},
      {"rgb", ioJPEG_RGB, false, ioJPEG_HIGH},       {"grey", ioJPEG_GRAYLEV, false, ioJPEG_HIGH},
      {"cmyk", ioJPEG_CMYK, false, ioJPEG_HIGH},     {"ycck", ioJPEG_YCbCrK, false, ioJPEG_HIGH},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir.File(std::string(c.name) + ".jpg");
    TImageIO io;
    io.IEBitmap().Assign(src);
    io.IOParams().JPEG_COLORSPACE = c.space;
    io.IOParams().JPEG_PROGRESSIVE = c.progressive;
    io.IOParams().JPEG_CROMASUBSAMPLING = c.sampling;
    io.IOParams().JPEG_QUALITY = 95;
    io.SaveToFile(file);
    ASSERT_FALSE(io.AbortFlag) << io.AbortReason;

    // What we decode from our file, and what ImageMagick decodes from it.
    TImageIO back;
    back.SetNativePixelFormat(true);
    back.LoadFromFileAuto(file);
    ASSERT_FALSE(back.AbortFlag) << back.AbortReason;
    TIEBitmap& ours = back.IEBitmap();
    if (c.space == ioJPEG_CMYK || c.space == ioJPEG_YCbCrK) {
      // ImageMagick reports ink amounts; our CMYK bytes are their complement.
      const std::string raw = dir.File(std::string(c.name) + ".cmyk");
      ASSERT_TRUE(interop::Run("convert '" + file + "' -depth 8 'cmyk:" + raw + "'"));
      const auto cmyk = FileBytes(raw);
      ASSERT_EQ(ours.GetPixelFormat(), ieCMYK);
      ASSERT_EQ(cmyk.size(), 96u * 64 * 4);
      double sum = 0;
      for (int y = 0; y < 64; ++y) {
        const std::uint8_t* row = ours.GetScanLine(y);
        for (int i = 0; i < 96 * 4; ++i) sum += std::abs((255 - row[i]) - cmyk[(static_cast<std::size_t>(y) * 96 * 4) + i]);
      }
      EXPECT_LT(sum / (96.0 * 64 * 4), 1.0);
      continue;
    }
    const std::string raw = dir.File(std::string(c.name) + ".rgb");
    ASSERT_TRUE(interop::Run("convert '" + file + "' -depth 8 'rgb:" + raw + "'"));
    EXPECT_LT(MeanError(ours, FileBytes(raw)), 1.0);
    if (c.space != ioJPEG_GRAYLEV) {
      EXPECT_LT(MeanError(src, FileBytes(raw)), 2.5);
    }
  }
}

TEST(JpegInterop, WeReadWhatImageMagickWrites) {
  PRAVIK_REQUIRE_TOOL("convert");
  ScratchDir dir;
  const std::string base = dir.File("base.png");
  ASSERT_TRUE(interop::Run("convert -size 120x80 gradient:orange-navy -swirl 90 '" + base + "'"));
  struct Case {
    const char* name;
    const char* options;
  };
  const Case cases[] = {
      {"baseline", "-quality 92"},
      {"progressive", "-quality 92 -interlace JPEG"},
      {"444", "-quality 92 -sampling-factor 1x1"},
      {"422", "-quality 92 -sampling-factor 2x1"},
      {"grey", "-quality 92 -colorspace gray"},
      {"optimised", "-quality 50 -define jpeg:optimize-coding=true"},
      {"cmyk", "-quality 95 -colorspace cmyk"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir.File(std::string(c.name) + ".jpg");
    ASSERT_TRUE(interop::Run("convert '" + base + "' " + c.options + " '" + file + "'"));
    TImageIO io;
    io.SetNativePixelFormat(true);
    io.LoadFromFileAuto(file);
    ASSERT_FALSE(io.AbortFlag) << io.AbortReason;
    TIEBitmap& ours = io.IEBitmap();
    ASSERT_EQ(ours.GetWidth(), 120);
    ASSERT_EQ(ours.GetHeight(), 80);
    if (std::string(c.name) == "cmyk") {
      ASSERT_EQ(ours.GetPixelFormat(), ieCMYK);
      const std::string raw = dir.File("cmyk.raw");
      ASSERT_TRUE(interop::Run("convert '" + file + "' -depth 8 'cmyk:" + raw + "'"));
      const auto cmyk = FileBytes(raw);
      ASSERT_EQ(cmyk.size(), 120u * 80 * 4);
      double sum = 0;
      for (int y = 0; y < 80; ++y) {
        const std::uint8_t* row = ours.GetScanLine(y);
        for (int i = 0; i < 120 * 4; ++i) sum += std::abs((255 - row[i]) - cmyk[(static_cast<std::size_t>(y) * 120 * 4) + i]);
      }
      EXPECT_LT(sum / (120.0 * 80 * 4), 1.0);
      continue;
    }
    const std::string raw = dir.File(std::string(c.name) + ".rgb");
    ASSERT_TRUE(interop::Run("convert '" + file + "' -depth 8 'rgb:" + raw + "'"));
    EXPECT_LT(MeanError(ours, FileBytes(raw)), 1.0);
  }
}

}  // namespace
}  // namespace pravik
