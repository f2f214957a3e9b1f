// PNG reader and writer: every colour type and depth (PngSuite), native
// formats, transparency, interlace, resolution, background, text, the
// writer's choice of colour type and depth, filters, and bad input.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/png/png_codec.h"
#include "image/bitmap.h"
#include "image/mask.h"
#include "imageio/formats.h"
#include "imageio/imageio.h"
#include "imageio/limits.h"
#include "imageio/params.h"
#include "imageio/registry.h"
#include "imageio/stream.h"
#include "unit/codecs/codec_test_util.h"

namespace pravik {
namespace {

using codectest::Bytes;
using codectest::Outcome;
const std::string kSuite = std::string(PRAVIK_SHARED_DIR) + "/corpus/pngsuite/";

Bytes FileBytes(const std::string& path) {
  TFileStream s(path, TFileMode::fmOpenRead);
  Bytes out(static_cast<std::size_t>(s.GetSize()));
  s.ReadBuffer(out.data(), static_cast<std::int64_t>(out.size()));
  return out;
}

void Decode(const Bytes& data, TIEBitmap& b, TIOParamsVals& params, Outcome& run, bool headerOnly = false) {
  TReadOnlyMemoryStream s(data.data(), static_cast<std::int64_t>(data.size()));
  TProgressRec progress = run.Progress();
  ReadPNGStream(s, b, params, headerOnly, progress);
}

Bytes Encode(TIEBitmap& b, TIOParamsVals& params, TIEMask* mask = nullptr) {
  Outcome run;
  TProgressRec progress = run.Progress();
  TMemoryStream m;
  WritePNGStream(m, b, params, mask, progress);
  EXPECT_FALSE(run.abort) << run.reason;
  return m.Bytes();
}

std::uint32_t BE32(const std::uint8_t* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

// The data of every chunk of a type, in file order.
std::vector<Bytes> Chunks(const Bytes& png, const char* type) {
  std::vector<Bytes> out;
  for (std::size_t pos = 8; pos + 12 <= png.size();) {
    const std::uint32_t len = BE32(&png[pos]);
    if (std::memcmp(&png[pos + 4], type, 4) == 0) out.emplace_back(png.begin() + pos + 8, png.begin() + pos + 8 + len);
    pos += 12 + len;
  }
  return out;
}

struct Header {
  int depth = 0, colourType = -1, interlace = 0;
};
Header IHDR(const Bytes& png) {
  const auto c = Chunks(png, "IHDR");
  if (c.empty()) return {};
  return {c[0][8], c[0][9], c[0][12]};
}

// Pixels of two images equal as TRGB, and their alpha (255 without a channel).
::testing::AssertionResult SameImage(TIEBitmap& a, TIEBitmap& b) {
  if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight()) return ::testing::AssertionFailure() << "size";
  for (int y = 0; y < a.GetHeight(); ++y)
    for (int x = 0; x < a.GetWidth(); ++x) {
      if (!(a.GetPixels(x, y) == b.GetPixels(x, y)))
        return ::testing::AssertionFailure() << "pixel " << x << "," << y;
      const int aa = a.GetHasAlphaChannel() ? a.GetAlpha(x, y) : 255;
      const int ba = b.GetHasAlphaChannel() ? b.GetAlpha(x, y) : 255;
      if (aa != ba) return ::testing::AssertionFailure() << "alpha " << x << "," << y << ": " << aa << " vs " << ba;
    }
  return ::testing::AssertionSuccess();
}

// A colour image with few colours, and one with many.
void FewColours(TIEBitmap& b, int w = 40, int h = 30) {
  ASSERT_TRUE(b.Allocate(w, h, ie24RGB));
  const TRGB colours[] = {CreateRGB(255, 0, 0), CreateRGB(0, 128, 0), CreateRGB(10, 20, 250), CreateRGB(255, 255, 255)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetPixels_ie24RGB(x, y, colours[(x / 5 + y / 7) % 4]);
}
// Black and white in an RGB image.
void TwoColours(TIEBitmap& b, TRGB dark = CreateRGB(0, 0, 0), TRGB light = CreateRGB(255, 255, 255)) {
  ASSERT_TRUE(b.Allocate(37, 9, ie24RGB));
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 37; ++x) b.SetPixels_ie24RGB(x, y, (x + y) % 3 ? dark : light);
}
// A 1-bit palette file's two colours (as a 1-bit source leaves the record).
void YellowAndBlue(TIEBitmap& b) { TwoColours(b, CreateRGB(34, 102, 255), CreateRGB(238, 255, 34)); }
void ManyColours(TIEBitmap& b, int w = 40, int h = 30) {
  ASSERT_TRUE(b.Allocate(w, h, ie24RGB));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      b.SetPixels_ie24RGB(x, y, CreateRGB(static_cast<std::uint8_t>(x * 6), static_cast<std::uint8_t>(y * 8),
                                          static_cast<std::uint8_t>((x * y) & 255)));
}

// ---- reading PngSuite ---------------------------------------------------------------------------

TEST(PngRead, EveryColourTypeAndDepth) {
  struct Case {
    const char* file;
    bool native;
    TIEPixelFormat format;
    bool alpha;
    int bits, samples;
  };
  const Case cases[] = {
      {"basn0g01", false, ie1g, false, 1, 1},   {"basn0g02", false, ie24RGB, false, 2, 1},
      {"basn0g04", false, ie24RGB, false, 4, 1}, {"basn0g08", false, ie24RGB, false, 8, 1},
      {"basn0g08", true, ie8g, false, 8, 1},     {"basn0g16", false, ie24RGB, false, 16, 1},
      {"basn0g16", true, ie16g, false, 16, 1},   {"basn2c08", false, ie24RGB, false, 8, 3},
      {"basn2c16", false, ie24RGB, false, 16, 3}, {"basn3p01", false, ie24RGB, false, 1, 1},
      {"basn3p02", false, ie24RGB, false, 2, 1}, {"basn3p04", true, ie24RGB, false, 4, 1},
      {"basn3p08", false, ie24RGB, false, 8, 1}, {"basn3p08", true, ie8p, false, 8, 1},
      {"basn4a08", false, ie24RGB, true, 8, 2},  {"basn4a16", false, ie24RGB, true, 16, 2},
      {"basn6a08", false, ie24RGB, true, 8, 4},  {"basn6a16", false, ie24RGB, true, 16, 4},
      {"tbbn3p08", false, ie24RGB, true, 8, 1},  {"tbbn3p08", true, ie24RGB, true, 8, 1},
      {"tbrn2c08", false, ie24RGB, true, 8, 3},  {"tbbn0g04", false, ie24RGB, true, 4, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + (c.native ? " native" : ""));
    TIEBitmap b;
    TIOParamsVals p;
    p.ISNATIVEPIXELFORMAT = c.native;
    Outcome run;
    Decode(FileBytes(kSuite + c.file + ".png"), b, p, run);
    ASSERT_FALSE(run.abort) << run.reason;
    EXPECT_EQ(b.GetWidth(), 32);
    EXPECT_EQ(b.GetPixelFormat(), c.format);
    EXPECT_EQ(p.BITSPERSAMPLE, c.bits);
    EXPECT_EQ(p.SAMPLESPERPIXEL, c.samples);
    EXPECT_EQ(b.GetHasAlphaChannel(), c.alpha);
    if (c.alpha) {
      EXPECT_FALSE(b.GetAlphaChannel()->AllSet);
    }
  }
}

// Interlaced and plain files of the same picture decode to the same pixels,
// and the native and RGB forms of one file agree.
TEST(PngRead, InterlacedAndNativeFormsAgree) {
  for (const char* kind : {"0g01", "0g02", "0g04", "0g08", "0g16", "2c08", "2c16", "3p01", "3p02", "3p04", "3p08",
                           "4a08", "4a16", "6a08", "6a16"}) {
    SCOPED_TRACE(kind);
    TIEBitmap plain, interlaced;
    TIOParamsVals p1, p2;
    Outcome r1, r2;
    Decode(FileBytes(kSuite + "basn" + kind + ".png"), plain, p1, r1);
    Decode(FileBytes(kSuite + "basi" + kind + ".png"), interlaced, p2, r2);
    ASSERT_FALSE(r1.abort || r2.abort);
    EXPECT_FALSE(p1.PNG_INTERLACED);
    EXPECT_TRUE(p2.PNG_INTERLACED);
    EXPECT_TRUE(SameImage(plain, interlaced));
    TIEBitmap native;
    TIOParamsVals p3;
    p3.ISNATIVEPIXELFORMAT = true;
    Outcome r3;
    Decode(FileBytes(kSuite + "basi" + kind + ".png"), native, p3, r3);
    if (native.GetPixelFormat() != ie16g) {
      EXPECT_TRUE(SameImage(plain, native));
    }
  }
}

TEST(PngRead, SixteenBitGreyKeepsItsLowByteNatively) {
  TIEBitmap b, rgb;
  TIOParamsVals p, q;
  p.ISNATIVEPIXELFORMAT = true;
  Outcome r;
  Decode(FileBytes(kSuite + "basn0g16.png"), b, p, r);
  Decode(FileBytes(kSuite + "basn0g16.png"), rgb, q, r);
  ASSERT_EQ(b.GetPixelFormat(), ie16g);
  bool lowBytes = false;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      EXPECT_EQ(b.GetPixels_ie16g(x, y) >> 8, rgb.GetPixels(x, y).r);
      lowBytes |= (b.GetPixels_ie16g(x, y) & 0xFF) != 0;
    }
  EXPECT_TRUE(lowBytes);
}

TEST(PngRead, PaletteColoursTransparencyAndBackground) {
  TIEBitmap b;
  TIOParamsVals p;
  Outcome r;
  Decode(FileBytes(kSuite + "basn3p01.png"), b, p, r);
  ASSERT_EQ(p.COLORMAPCOUNT, 2);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      const TRGB c = b.GetPixels(x, y);
      EXPECT_TRUE(c == p.COLORMAP[0] || c == p.COLORMAP[1]);
    }
  // tbyn3p08: palette with tRNS and a yellow bKGD.
  TIOParamsVals q;
  Decode(FileBytes(kSuite + "tbyn3p08.png"), b, q, r);
  EXPECT_TRUE(b.GetHasAlphaChannel());
  EXPECT_EQ(q.PNG_BACKGROUND, CreateRGB(255, 255, 0));
  int transparent = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) transparent += b.GetAlpha(x, y) == 0;
  EXPECT_GT(transparent, 0);
  // A 16-bit background is taken by its high byte (bggn4a16: grey 0xAAAA... ).
  TIOParamsVals g;
  Decode(FileBytes(kSuite + "bggn4a16.png"), b, g, r);
  EXPECT_EQ(g.PNG_BACKGROUND.r, g.PNG_BACKGROUND.g);
  EXPECT_GT(g.PNG_BACKGROUND.r, 100);
}

TEST(PngRead, TextResolutionAndHeaderOnly) {
  TIEBitmap b;
  TIOParamsVals p;
  Outcome r;
  Decode(FileBytes(kSuite + "ct1n0g04.png"), b, p, r, true);
  ASSERT_FALSE(r.abort);
  EXPECT_TRUE(b.IsEmpty());
  EXPECT_EQ(p.WIDTH, 32);
  ASSERT_FALSE(p.PNG_TEXTKEYS.empty());
  EXPECT_EQ(p.PNG_TEXTKEYS.size(), p.PNG_TEXTVALUES.size());
  EXPECT_EQ(p.PNG_TEXTKEYS[0], "Title");
  // cdfn2c08 has no useful resolution: the default stands in.
  TIOParamsVals q;
  Decode(FileBytes(kSuite + "basn2c08.png"), b, q, r);
  EXPECT_EQ(q.DPIX(), 300);
}

// ---- writing --------------------------------------------------------------------------------

TEST(PngWrite, ColourTypeAndDepthFollowTheRecord) {
  struct Case {
    const char* name;
    void (*make)(TIEBitmap&);
    int spp, bits;
    bool transparent;
    int colourType, depth;
    bool exact;  // pixels come back unchanged
  };
  const Case cases[] = {
      {"RGB", [](TIEBitmap& b) { ManyColours(b); }, 3, 8, false, 2, 8, true},
      {"RGBA", [](TIEBitmap& b) { ManyColours(b); }, 3, 8, true, 6, 8, true},
      {"palette", [](TIEBitmap& b) { FewColours(b); }, 1, 8, false, 3, 8, true},
      {"palette from 4 bits", [](TIEBitmap& b) { FewColours(b); }, 1, 4, false, 3, 8, true},
      {"palette asked at 16 bits", [](TIEBitmap& b) { FewColours(b); }, 1, 16, false, 3, 8, true},
      {"palette with transparency", [](TIEBitmap& b) { FewColours(b); }, 1, 8, true, 3, 8, true},
      {"two colours", [](TIEBitmap& b) { TwoColours(b); }, 1, 1, false, 0, 1, true},
      {"two colours not black and white", YellowAndBlue, 1, 1, false, 3, 1, true},
      {"two colours of a palette", [](TIEBitmap& b) { YellowAndBlue(b); b.ConvertToPixelFormat(ie8p); }, 1, 1, false,
       3, 1, true},
      {"two colours with transparency", YellowAndBlue, 1, 1, true, 3, 8, true},
      {"one colour", [](TIEBitmap& b) { TwoColours(b, CreateRGB(9, 200, 30), CreateRGB(9, 200, 30)); }, 1, 1, false,
       3, 1, true},
      {"one colour, white", [](TIEBitmap& b) { TwoColours(b, CreateRGB(255, 255, 255), CreateRGB(255, 255, 255)); },
       1, 1, false, 0, 1, true},
      {"grey 8", [](TIEBitmap& b) { ManyColours(b); b.ConvertToPixelFormat(ie8g); }, 1, 8, false, 0, 8, true},
      {"grey 16 from 8", [](TIEBitmap& b) { ManyColours(b); b.ConvertToPixelFormat(ie8g); }, 1, 16, false, 0, 16,
       true},
      {"grey from RGB", [](TIEBitmap& b) { ManyColours(b); b.ConvertToPixelFormat(ie8g);
                                            b.ConvertToPixelFormat(ie24RGB); }, 1, 8, false, 0, 8, true},
      {"ie8p", [](TIEBitmap& b) { FewColours(b); b.ConvertToPixelFormat(ie8p); }, 1, 8, false, 3, 8, true},
      {"ie8p with transparency", [](TIEBitmap& b) { FewColours(b); b.ConvertToPixelFormat(ie8p); }, 1, 8, true, 3,
       8, true},
      {"ie1g as RGB", [](TIEBitmap& b) { ASSERT_TRUE(b.Allocate(33, 9, ie1g)); b.SetPixels_ie1g(3, 3, true); }, 3, 8,
       false, 2, 8, true},
      {"CMYK", [](TIEBitmap& b) { FewColours(b); b.ConvertToPixelFormat(ieCMYK); }, 3, 8, false, 2, 8, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TIEBitmap src;
    c.make(src);
    TIEMask mask;
    if (c.transparent) {
      mask.AllocateBits(src.GetWidth(), src.GetHeight(), 8);
      mask.Fill(255);
      for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x) mask.SetPixel(x, y, 0);
      mask.AllSet = false;
    }
    TIOParamsVals wp;
    wp.SAMPLESPERPIXEL = c.spp;
    wp.BITSPERSAMPLE = c.bits;
    const Bytes file = Encode(src, wp, c.transparent ? &mask : nullptr);
    const Header h = IHDR(file);
    EXPECT_EQ(h.colourType, c.colourType);
    EXPECT_EQ(h.depth, c.depth);
    if (c.bits == 4) {
      EXPECT_EQ(wp.BITSPERSAMPLE, 8);
    }

    TIEBitmap back;
    TIOParamsVals rp;
    Outcome r;
    Decode(file, back, rp, r);
    ASSERT_FALSE(r.abort) << r.reason;
    ASSERT_EQ(back.GetWidth(), src.GetWidth());
    EXPECT_EQ(back.GetHasAlphaChannel(), c.transparent);
    for (int y = 0; y < src.GetHeight(); ++y)
      for (int x = 0; x < src.GetWidth(); ++x) {
        const bool clear = c.transparent && x < 5 && y < 5;
        if (c.transparent) {
          ASSERT_EQ(back.GetAlpha(x, y), clear ? 0 : 255) << x << "," << y;
        }
        if (c.exact && !clear) {
          ASSERT_EQ(back.GetPixels(x, y), src.GetPixels(x, y)) << x << "," << y;
        }
      }
  }
}

TEST(PngWrite, PartialTransparencySurvivesAPaletteRequest) {
  // Few colour-and-alpha pairs: an exact palette with tRNS; many: RGB + alpha.
  struct Case {
    const char* name;
    void (*make)(TIEBitmap&);
    int colourType;
  };
  const Case cases[] = {
      {"few pairs", [](TIEBitmap& b) { FewColours(b); }, 3},
      {"few pairs from ie8p", [](TIEBitmap& b) { FewColours(b); b.ConvertToPixelFormat(ie8p); }, 3},
      {"many pairs", [](TIEBitmap& b) { ManyColours(b); }, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TIEBitmap src;
    c.make(src);
    TIEMask mask;
    mask.AllocateBits(src.GetWidth(), src.GetHeight(), 8);
    const std::uint8_t levels[] = {0, 64, 200, 255};
    for (int y = 0; y < src.GetHeight(); ++y)
      for (int x = 0; x < src.GetWidth(); ++x) mask.SetPixel(x, y, levels[(x + y) % 4]);
    mask.AllSet = false;
    TIOParamsVals wp;
    wp.SAMPLESPERPIXEL = 1;
    wp.BITSPERSAMPLE = 8;
    const Bytes file = Encode(src, wp, &mask);
    EXPECT_EQ(IHDR(file).colourType, c.colourType);
    TIEBitmap back;
    TIOParamsVals rp;
    Outcome r;
    Decode(file, back, rp, r);
    ASSERT_FALSE(r.abort) << r.reason;
    ASSERT_TRUE(back.GetHasAlphaChannel());
    for (int y = 0; y < src.GetHeight(); ++y)
      for (int x = 0; x < src.GetWidth(); ++x) {
        ASSERT_EQ(back.GetAlpha(x, y), mask.GetPixel(x, y)) << x << "," << y;
        if (mask.GetPixel(x, y) != 0) {
          ASSERT_EQ(back.GetPixels(x, y), src.GetPixels(x, y)) << x << "," << y;
        }
      }
  }
}

TEST(PngWrite, TwoHundredFiftyFiveColoursAndTransparencyStayExact) {
  // A GIF's worth: 255 opaque colours, and transparent pixels whose own
  // colours would make more than the 255 a quantized palette leaves room for.
  TIEBitmap src;
  ASSERT_TRUE(src.Allocate(16, 20, ie24RGB));
  TIEMask mask;
  mask.AllocateBits(16, 20, 8);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 16; ++x) {
      const int i = y * 16 + x;
      src.SetPixels_ie24RGB(x, y, CreateRGB(std::uint8_t(i), std::uint8_t(i * 7), std::uint8_t(255 - i)));
      mask.SetPixel(x, y, i < 255 ? 255 : 0);
    }
  mask.AllSet = false;
  TIOParamsVals wp;
  wp.SAMPLESPERPIXEL = 1;
  wp.BITSPERSAMPLE = 8;
  const Bytes file = Encode(src, wp, &mask);
  EXPECT_EQ(IHDR(file).colourType, 3);
  TIEBitmap back;
  TIOParamsVals rp;
  Outcome r;
  Decode(file, back, rp, r);
  ASSERT_FALSE(r.abort) << r.reason;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 16; ++x) {
      ASSERT_EQ(back.GetAlpha(x, y), mask.GetPixel(x, y)) << x << "," << y;
      if (mask.GetPixel(x, y) != 0) {
        ASSERT_EQ(back.GetPixels(x, y), src.GetPixels(x, y)) << x << "," << y;
      }
    }
}

TEST(PngWrite, SixteenBitImagesKeepEveryBit) {
  // ie16g with SAMPLESPERPIXEL 1 and 16 bits per sample.
  TIEBitmap g;
  ASSERT_TRUE(g.Allocate(20, 10, ie16g));
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) g.SetPixels_ie16g(x, y, static_cast<std::uint16_t>(x * 3001 + y * 7));
  TIOParamsVals wp;
  wp.SAMPLESPERPIXEL = 1;
  wp.BITSPERSAMPLE = 16;
  TIEBitmap back;
  TIOParamsVals rp;
  rp.ISNATIVEPIXELFORMAT = true;
  Outcome r;
  Decode(Encode(g, wp), back, rp, r);
  ASSERT_EQ(back.GetPixelFormat(), ie16g);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) ASSERT_EQ(back.GetPixels_ie16g(x, y), g.GetPixels_ie16g(x, y));

  // ie48RGB as 16-bit RGB, with and without alpha.
  TIEBitmap c;
  ASSERT_TRUE(c.Allocate(7, 5, ie48RGB));
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x)
      c.SetPixels_ie48RGB(x, y, TRGB48{static_cast<std::uint16_t>(x * 9000 + 1), static_cast<std::uint16_t>(y * 300),
                                       static_cast<std::uint16_t>(65535 - x)});
  TIEMask mask;
  mask.AllocateBits(7, 5, 8);
  mask.Fill(128);
  mask.AllSet = false;
  for (TIEMask* m : {static_cast<TIEMask*>(nullptr), &mask}) {
    TIOParamsVals p48;
    p48.SAMPLESPERPIXEL = 3;
    p48.BITSPERSAMPLE = 16;
    const Bytes file = Encode(c, p48, m);
    EXPECT_EQ(IHDR(file).depth, 16);
    EXPECT_EQ(IHDR(file).colourType, m != nullptr ? 6 : 2);
    // Check the stored samples: inflate the image data.
    Bytes z;
    for (const Bytes& idat : Chunks(file, "IDAT")) z.insert(z.end(), idat.begin(), idat.end());
    const int bpp = m != nullptr ? 8 : 6;
    Bytes raw(5 * (1 + 7 * bpp));
    uLongf rawLen = static_cast<uLongf>(raw.size());
    ASSERT_EQ(uncompress(raw.data(), &rawLen, z.data(), static_cast<uLong>(z.size())), Z_OK);
    const std::uint8_t* row1 = raw.data() + (1 + 7 * bpp) * 1;
    ASSERT_EQ(row1[0], 0);  // filter none (the default filter setting)
    const std::uint8_t* px = row1 + 1 + 2 * bpp;  // pixel (2, 1)
    EXPECT_EQ((px[0] << 8) | px[1], 18001);
    EXPECT_EQ((px[2] << 8) | px[3], 300);
    EXPECT_EQ((px[4] << 8) | px[5], 65533);
    if (m != nullptr) {
      EXPECT_EQ((px[6] << 8) | px[7], 128 * 257);
    }
  }
}

TEST(PngWrite, FilterCompressionInterlaceAndResolution) {
  TIEBitmap src;
  ManyColours(src, 50, 20);
  TIOParamsVals wp;
  wp.PNG_FILTER = ioPNG_FILTER_PAETH;  // the converter's settings
  wp.PNG_COMPRESSION = 9 - 70 * 9 / 100;
  wp.SetDpiX(300);
  wp.SetDpiY(72);
  const Bytes file = Encode(src, wp);
  Bytes z;
  for (const Bytes& idat : Chunks(file, "IDAT")) z.insert(z.end(), idat.begin(), idat.end());
  Bytes raw(20 * (1 + 50 * 3));
  uLongf rawLen = static_cast<uLongf>(raw.size());
  ASSERT_EQ(uncompress(raw.data(), &rawLen, z.data(), static_cast<uLong>(z.size())), Z_OK);
  for (int y = 0; y < 20; ++y) EXPECT_EQ(raw[static_cast<std::size_t>(y) * 151], 4) << y;  // Paeth
  const auto phys = Chunks(file, "pHYs");
  ASSERT_EQ(phys.size(), 1u);
  EXPECT_EQ(BE32(&phys[0][0]), 11811u);
  EXPECT_EQ(BE32(&phys[0][4]), 2835u);
  EXPECT_EQ(phys[0][8], 1);

  TIEBitmap back;
  TIOParamsVals rp;
  Outcome r;
  Decode(file, back, rp, r);
  EXPECT_EQ(rp.DPIX(), 300);
  EXPECT_EQ(rp.DPIY(), 72);

  wp.PNG_INTERLACED = true;
  const Bytes interlaced = Encode(src, wp);
  EXPECT_EQ(IHDR(interlaced).interlace, 1);
  TIOParamsVals rp2;
  Decode(interlaced, back, rp2, r);
  EXPECT_TRUE(rp2.PNG_INTERLACED);
  EXPECT_TRUE(SameImage(back, src));
  // Interlaced with alpha: the passes accumulate in a whole-image buffer.
  TIEMask mask;
  mask.AllocateBits(50, 20, 8);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 50; ++x) mask.SetPixel(x, y, (x * 5 + y) & 255);
  mask.AllSet = false;
  TIEBitmap withAlpha;
  TIOParamsVals rp3;
  Decode(Encode(src, wp, &mask), withAlpha, rp3, r);
  ASSERT_TRUE(withAlpha.GetHasAlphaChannel());
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 50; ++x) ASSERT_EQ(withAlpha.GetAlpha(x, y), (x * 5 + y) & 255);
}

TEST(PngWrite, TextAndBackgroundRoundTrip) {
  TIEBitmap src;
  FewColours(src);
  TIOParamsVals wp;
  wp.PNG_TEXTKEYS = {"Title", "", "Author", "unpaired"};
  wp.PNG_TEXTVALUES = {"A picture", "no key", "Me"};
  wp.PNG_BACKGROUND = CreateRGB(10, 200, 30);
  const Bytes file = Encode(src, wp);
  TIEBitmap back;
  TIOParamsVals rp;
  Outcome r;
  Decode(file, back, rp, r);
  EXPECT_EQ(rp.PNG_TEXTKEYS, (std::vector<std::string>{"Title", "Author"}));
  EXPECT_EQ(rp.PNG_TEXTVALUES, (std::vector<std::string>{"A picture", "Me"}));
  EXPECT_EQ(rp.PNG_BACKGROUND, CreateRGB(10, 200, 30));
}

TEST(PngWrite, FrontPassesTheAlphaChannelAndKeepsTheImage) {
  TImageIO io;
  FewColours(io.IEBitmap());
  TMemoryStream plain;
  io.SaveToStream(plain, ioPNG);
  EXPECT_EQ(IHDR(plain.Bytes()).colourType, 2);
  // An alpha channel that is all opaque but not known to be: RGB + alpha.
  io.IEBitmap().GetAlphaChannel()->AllSet = false;
  TMemoryStream rgba;
  io.SaveToStream(rgba, ioPNG);
  EXPECT_EQ(IHDR(rgba.Bytes()).colourType, 6);
  io.IEBitmap().GetAlphaChannel()->AllSet = true;
  TMemoryStream opaque;
  io.SaveToStream(opaque, ioPNG);
  EXPECT_EQ(IHDR(opaque.Bytes()).colourType, 2);
  EXPECT_EQ(io.IEBitmap().GetPixelFormat(), ie24RGB);

  TImageIO back;
  rgba.Seek(0, soBeginning);
  back.LoadFromStream(rgba);
  EXPECT_FALSE(back.AbortFlag) << back.AbortReason;
  EXPECT_EQ(back.IOParams().FILETYPE, ioPNG);
  EXPECT_TRUE(back.IEBitmap().GetHasAlphaChannel());
}

TEST(PngWrite, FailuresAndStops) {
  TIEBitmap src;
  ManyColours(src, 200, 100);
  TIOParamsVals wp;
  // A short write: abort flag, no exception, no end chunk.
  {
    TMemoryStream m;
    m.WriteLimit = 200;
    Outcome r;
    TProgressRec progress = r.Progress();
    WritePNGStream(m, src, wp, nullptr, progress);
    EXPECT_TRUE(r.abort);
  }
  // The user stops half way.
  {
    TMemoryStream m;
    Outcome r;
    TProgressRec progress = r.Progress();
    int last = 0;
    progress.Callback = [&](void*, int per) {
      last = per;
      if (per >= 50) r.abort = true;
    };
    WritePNGStream(m, src, wp, nullptr, progress);
    EXPECT_EQ(last, 50);
    EXPECT_TRUE(Chunks(m.Bytes(), "IEND").empty());
  }
  // Nothing to write.
  {
    TIEBitmap empty;
    TMemoryStream m;
    Outcome r;
    TProgressRec progress = r.Progress();
    WritePNGStream(m, empty, wp, nullptr, progress);
    EXPECT_TRUE(r.abort);
  }
  // A compression level outside 0 to 9 is taken as the nearest.
  {
    TIEBitmap wide;
    ASSERT_TRUE(wide.Allocate(1, 1, ie24RGB));
    TIOParamsVals p;
    p.PNG_COMPRESSION = 99;  // taken as 9
    EXPECT_EQ(IHDR(Encode(wide, p)).colourType, 2);
  }
}

// ---- bad input ------------------------------------------------------------------------------------

TEST(PngRead, CorruptSuiteFilesFailCleanly) {
  for (const char* name : {"xc1n0g08", "xc9n2c08", "xcrn0g04", "xcsn0g01", "xd0n2c08", "xd3n2c08", "xd9n2c08",
                           "xdtn0g01", "xhdn0g08", "xlfn0g04", "xs1n0g01", "xs2n0g01", "xs4n0g01", "xs7n0g01"}) {
    TIEBitmap b;
    TIOParamsVals p;
    Outcome r;
    Decode(FileBytes(kSuite + name + ".png"), b, p, r);
    EXPECT_TRUE(r.abort) << name;
    EXPECT_FALSE(r.reason.empty()) << name;
  }
}

TEST(PngRead, TruncationKeepsRowsAndAMissingEndIsHarmless) {
  TIEBitmap src;
  ManyColours(src, 200, 100);
  TIOParamsVals wp;
  wp.PNG_COMPRESSION = 0;  // stored data: a cut lands in the middle of the rows
  const Bytes file = Encode(src, wp);
  // Without IEND (12 bytes): the whole image.
  {
    TIEBitmap b;
    TIOParamsVals p;
    Outcome r;
    Decode(Bytes(file.begin(), file.end() - 12), b, p, r);
    EXPECT_FALSE(r.abort) << r.reason;
    EXPECT_TRUE(SameImage(b, src));
  }
  TIEBitmap b;
  TIOParamsVals p;
  Outcome r;
  Decode(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(file.size() / 2)), b, p, r);
  EXPECT_TRUE(r.abort);
  EXPECT_EQ(r.reason, "truncated PNG data");
  ASSERT_EQ(b.GetHeight(), 100);
  EXPECT_EQ(b.GetPixels(10, 10), src.GetPixels(10, 10));
  EXPECT_EQ(b.GetPixels(10, 99), TRGB{});  // not reached: zero
}

TEST(PngRead, HugeHeaderIsRefusedBeforeAllocating) {
  TIEBitmap src;
  FewColours(src, 4, 4);
  TIOParamsVals wp;
  Bytes file = Encode(src, wp);
  // IHDR: 100000 x 100000, with its CRC made right.
  const std::uint8_t size[8] = {0, 1, 0x86, 0xA0, 0, 1, 0x86, 0xA0};
  std::memcpy(&file[16], size, 8);
  const uLong crc = crc32(0, &file[12], 17);
  file[29] = static_cast<std::uint8_t>(crc >> 24), file[30] = static_cast<std::uint8_t>(crc >> 16);
  file[31] = static_cast<std::uint8_t>(crc >> 8), file[32] = static_cast<std::uint8_t>(crc);
  TIEBitmap b;
  TIOParamsVals p;
  Outcome r;
  Decode(file, b, p, r);
  EXPECT_TRUE(r.abort);
  EXPECT_EQ(r.reason, "PNG image too large");
  EXPECT_TRUE(b.IsEmpty());
}

TEST(PngRead, ContentTestAndDetection) {
  const Bytes file = FileBytes(kSuite + "basn2c08.png");
  TReadOnlyMemoryStream s(file.data(), static_cast<std::int64_t>(file.size()));
  EXPECT_TRUE(IsPNGStream(s));
  EXPECT_EQ(s.GetPosition(), 0);
  EXPECT_EQ(FindStreamFormat(s), ioPNG);
  const Bytes shortSig(file.begin(), file.begin() + 8);
  TReadOnlyMemoryStream t(shortSig.data(), 8);
  EXPECT_FALSE(IsPNGStream(t));
}

}  // namespace
}  // namespace pravik
