// BMP reader and writer: every header layout and depth, run-length coding,
// the writer's choice of depth, and bad files failing cleanly.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "codecs/bitmap/bmp.h"
#include "codecs/bitmap/bmp_rle.h"
#include "image/bitmap.h"
#include "image/mask.h"
#include "imageio/formats.h"
#include "imageio/imageio.h"
#include "imageio/limits.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/stream.h"
#include "unit/codecs/codec_test_util.h"

namespace pravik::codectest {
namespace {

// A bitmap file built field by field.
struct BmpSpec {
  std::uint32_t headerSize = 40;
  std::int32_t width = 2, height = 2;
  int bits = 24;
  std::uint32_t compression = 0;
  std::uint32_t coloursUsed = 0;
  std::vector<TRGB> palette;           // written as 4 (3 for the core header) bytes each
  std::vector<std::uint32_t> masks;    // after the 40-byte header, or inside a longer one
  Bytes pixels;                        // the pixel array as stored
  std::int32_t ppm = 3780;             // 96 dpi
  std::int64_t pixelOffset = -1;       // -1: right after the palette
};

Bytes BuildBmp(const BmpSpec& s) {
  Bytes info;
  Put32(info, s.headerSize);
  if (s.headerSize == 12) {
    Put16(info, std::uint32_t(s.width));
    Put16(info, std::uint32_t(s.height));
    Put16(info, 1);
    Put16(info, std::uint32_t(s.bits));
  } else {
    Put32(info, std::uint32_t(s.width));
    Put32(info, std::uint32_t(s.height));
    Put16(info, 1);
    Put16(info, std::uint32_t(s.bits));
    Put32(info, s.compression);
    Put32(info, std::uint32_t(s.pixels.size()));
    Put32(info, std::uint32_t(s.ppm));
    Put32(info, std::uint32_t(s.ppm));
    Put32(info, s.coloursUsed);
    Put32(info, 0);
    std::size_t m = 0;
    while (info.size() < s.headerSize) {
      if (info.size() >= 40 && m < s.masks.size()) Put32(info, s.masks[m++]);
      else info.push_back(0);
    }
    info.resize(s.headerSize);  // the short OS/2 2.x layouts end early
    if (s.headerSize == 40)
      for (std::uint32_t v : s.masks) Put32(info, v);
  }
  for (const TRGB& c : s.palette) {
    info.push_back(c.b);
    info.push_back(c.g);
    info.push_back(c.r);
    if (s.headerSize != 12) info.push_back(0);
  }
  const std::size_t offset = s.pixelOffset >= 0 ? std::size_t(s.pixelOffset) : 14 + info.size();
  Bytes file = {'B', 'M'};
  Put32(file, std::uint32_t(offset + s.pixels.size()));
  Put32(file, 0);
  Put32(file, std::uint32_t(offset));
  file.insert(file.end(), info.begin(), info.end());
  file.resize(std::max(file.size(), offset), 0);
  file.insert(file.end(), s.pixels.begin(), s.pixels.end());
  return file;
}

// Loads through the front, as the converter does.
LoadResult Load(TImageIO& io, const Bytes& file, int format = ioBMP) { return LoadBytes(io, file, format); }
Bytes Save(TImageIO& io, int format = ioBMP) { return SaveBytes(io, format); }

// A small colourful image: every pixel different.
void FillPattern(TIEBitmap& bmp, int w, int h) {
  bmp.Allocate(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      bmp.SetPixels_ie24RGB(x, y, CreateRGB(std::uint8_t(x * 37 + y), std::uint8_t(y * 53 + 7), std::uint8_t(x * y * 11)));
}

// An image with few colours (fits a 16-entry palette).
void FillFewColours(TIEBitmap& bmp, int w, int h, int colours) {
  bmp.Allocate(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int k = (x / 3 + y) % colours;
      bmp.SetPixels_ie24RGB(x, y, CreateRGB(std::uint8_t(k * 16), std::uint8_t(255 - k * 9), std::uint8_t(k * 5)));
    }
}

::testing::AssertionResult SameRGB(TIEBitmap& a, TIEBitmap& b) {
  if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight())
    return ::testing::AssertionFailure() << "sizes differ";
  for (int y = 0; y < a.GetHeight(); ++y)
    for (int x = 0; x < a.GetWidth(); ++x)
      if (!(a.GetPixels(x, y) == b.GetPixels(x, y)))
        return ::testing::AssertionFailure() << "pixel " << x << "," << y;
  return ::testing::AssertionSuccess();
}

// ---- run-length encoder ----------------------------------------------------------------

TEST(BmpRle, EncoderGivesTheDocumentedCodes) {
  struct Case {
    int bits;
    Bytes row, code;
  };
  Bytes longRun(300, 9);
  const Case cases[] = {
      {8, {5, 5, 5, 7, 9}, {3, 5, 1, 7, 1, 9, 0, 0}},
      {8, {1, 2, 3, 4}, {0, 4, 1, 2, 3, 4, 0, 0}},
      {8, {1, 2, 3}, {0, 3, 1, 2, 3, 0, 0, 0}},
      {8, longRun, {255, 9, 45, 9, 0, 0}},
      {4, {1, 2, 3}, {0, 3, 0x12, 0x30, 0, 0}},
      {4, {1, 2, 3, 4, 5}, {0, 5, 0x12, 0x34, 0x50, 0, 0, 0}},
      {4, {7, 7, 7, 1, 2}, {3, 0x77, 2, 0x12, 0, 0}},
  };
  for (const Case& c : cases) {
    Bytes out;
    if (c.bits == 8) BMPEncodeRLE8Row(c.row.data(), int(c.row.size()), out);
    else BMPEncodeRLE4Row(c.row.data(), int(c.row.size()), out);
    EXPECT_EQ(out, c.code) << "row of " << c.row.size() << " at " << c.bits << " bits";
  }
}

TEST(BmpRle, LongLiteralRowsRoundTrip) {
  // More than 255 distinct-neighbour pixels: literal chunks must split.
  Bytes row(600);
  for (std::size_t i = 0; i < row.size(); ++i) row[i] = std::uint8_t((i * 7) % 13 + (i % 2));
  for (int bits : {8, 4}) {
    Bytes code;
    if (bits == 8) BMPEncodeRLE8Row(row.data(), int(row.size()), code);
    else BMPEncodeRLE4Row(row.data(), int(row.size()), code);
    struct Sink {
      Bytes& out;
      void Row(int) {}
      void Put(int x, std::uint8_t v) { out[std::size_t(x)] = v; }
      bool Line(int) { return true; }
    };
    Bytes back(row.size(), 0xEE);
    Sink sink{back};
    BMPDecodeRLE(code.data(), code.size(), bits, int(row.size()), 1, sink);
    Bytes expect = row;
    if (bits == 4)
      for (auto& v : expect) v &= 15;
    EXPECT_EQ(back, expect) << bits;
  }
}

// ---- writer and reader through memory ------------------------------------------------------

struct RoundTripCase {
  const char* name;
  int bitsPerSample, samplesPerPixel;
  TIOBMPVersion version;
  TIOBMPCompression compression;
  int colours;  // 0: every pixel different
  bool alpha;
  int expectBitCount;
  std::uint32_t expectCompression;
  int expectHeaderSize;
};

TEST(BmpRoundTrip, EveryDepthAndLayoutGivesThePixelsBack) {
  const RoundTripCase cases[] = {
      {"24-bit", 8, 3, ioBMP_BM3, ioBMP_UNCOMPRESSED, 0, false, 24, 0, 40},
      {"24-bit core header", 8, 3, ioBMP_BMOS2V1, ioBMP_UNCOMPRESSED, 0, false, 24, 0, 12},
      {"24-bit 64-byte header", 8, 3, ioBMP_BMOS2V2, ioBMP_UNCOMPRESSED, 0, false, 24, 0, 64},
      {"24-bit asked for RLE", 8, 3, ioBMP_BM, ioBMP_RLE, 0, false, 24, 0, 40},
      {"32-bit with alpha", 8, 4, ioBMP_BM3, ioBMP_UNCOMPRESSED, 0, true, 32, 0, 40},
      {"8-bit", 8, 1, ioBMP_BM3, ioBMP_UNCOMPRESSED, 200, false, 8, 0, 40},
      {"8-bit RLE", 8, 1, ioBMP_BM3, ioBMP_RLE, 200, false, 8, 1, 40},
      {"8-bit core header", 8, 1, ioBMP_BMOS2V1, ioBMP_UNCOMPRESSED, 200, false, 8, 0, 12},
      {"8-bit core header, RLE asked", 8, 1, ioBMP_BMOS2V1, ioBMP_RLE, 200, false, 8, 0, 12},
      {"4-bit", 4, 1, ioBMP_BM3, ioBMP_UNCOMPRESSED, 16, false, 4, 0, 40},
      {"4-bit RLE", 4, 1, ioBMP_BM3, ioBMP_RLE, 16, false, 4, 2, 40},
      {"1-bit two colours", 1, 1, ioBMP_BM3, ioBMP_UNCOMPRESSED, 2, false, 1, 0, 40},
      {"16-bit source written as 24", 5, 3, ioBMP_BM3, ioBMP_UNCOMPRESSED, 0, false, 24, 0, 40},
  };
  for (const RoundTripCase& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    TIEBitmap& bmp = io.IEBitmap();
    const int w = 37, h = 11;  // odd width: padding and half bytes
    if (c.colours == 0) FillPattern(bmp, w, h);
    else FillFewColours(bmp, w, h, c.colours);
    if (c.alpha)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) bmp.SetAlpha(x, y, std::uint8_t(x * 7));
    TIEBitmap original;
    original.Assign(bmp);
    TIOParamsVals& p = io.IOParams();
    p.BITSPERSAMPLE = c.bitsPerSample;
    p.SAMPLESPERPIXEL = c.samplesPerPixel;
    p.BMP_VERSION = c.version;
    p.BMP_COMPRESSION = c.compression;
    p.BMP_HANDLETRANSPARENCY = c.alpha;
    p.SetDpiX(150);
    p.SetDpiY(72);
    const Bytes file = Save(io);
    EXPECT_TRUE(SameRGB(bmp, original)) << "the writer changed the caller's image";

    // Header fields.
    ASSERT_GT(file.size(), 30u);
    EXPECT_EQ(Get32(file, 2), file.size());
    EXPECT_EQ(Get32(file, 14), std::uint32_t(c.expectHeaderSize));
    const std::uint32_t paletteBytes = c.expectBitCount <= 8 ? (c.expectHeaderSize == 12 ? 3u : 4u) << c.expectBitCount : 0;
    EXPECT_EQ(Get32(file, 10), 14 + c.expectHeaderSize + paletteBytes);
    if (c.expectHeaderSize == 12) {
      EXPECT_EQ(Get16(file, 24), c.expectBitCount);
    } else {
      EXPECT_EQ(Get16(file, 28), c.expectBitCount);
      EXPECT_EQ(Get32(file, 30), c.expectCompression);
      EXPECT_EQ(Get32(file, 34), file.size() - Get32(file, 10));
      if (c.expectCompression != 0) {
        EXPECT_EQ(Bytes(file.end() - 2, file.end()), (Bytes{0, 1}));
      }
    }
    if (c.expectHeaderSize == 12 && c.expectBitCount == 8) {
      // Uncompressed and without an end-of-bitmap code.
      EXPECT_EQ(file.size(), 14 + 12 + 768 + std::size_t(40) * h);
    }

    TImageIO back;
    back.IOParams().BMP_HANDLETRANSPARENCY = true;
    const LoadResult r = Load(back, file);
    ASSERT_FALSE(r.aborted) << r.reason;
    EXPECT_TRUE(SameRGB(back.IEBitmap(), original));
    EXPECT_EQ(back.IOParams().BMP_COMPRESSION, c.expectCompression != 0 ? ioBMP_RLE : ioBMP_UNCOMPRESSED);
    if (c.expectHeaderSize != 12) {
      EXPECT_EQ(back.IOParams().DPIX(), 150);
      EXPECT_EQ(back.IOParams().DPIY(), 72);
    }
    if (c.alpha) {
      ASSERT_TRUE(back.IEBitmap().GetHasAlphaChannel());
      EXPECT_EQ(back.IEBitmap().GetAlpha(5, 3), 35);
    } else {
      EXPECT_FALSE(back.IEBitmap().GetHasAlphaChannel());
    }
  }
}

TEST(BmpWriter, PaletteOfAnIe8pImageIsKeptAndIndexesWritten) {
  TImageIO io;
  TIEBitmap& bmp = io.IEBitmap();
  bmp.Allocate(5, 3, ie8p);
  for (int i = 0; i < 256; ++i) bmp.SetPalette(i, CreateRGB(std::uint8_t(i), 0, std::uint8_t(255 - i)));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) bmp.SetPixels_ie8(x, y, std::uint8_t(x * 50 + y));
  io.IOParams().BITSPERSAMPLE = 8;
  io.IOParams().SAMPLESPERPIXEL = 1;
  const Bytes file = Save(io);
  // Bottom row first: image row 2, pixel 1 is index 52.
  EXPECT_EQ(file[Get32(file, 10) + 1], 52);
  EXPECT_EQ(io.IOParams().COLORMAPCOUNT, 256);
  EXPECT_EQ(io.IOParams().COLORMAP[52], CreateRGB(52, 0, 203));
  TImageIO back;
  ASSERT_FALSE(Load(back, file).aborted);
  EXPECT_TRUE(SameRGB(back.IEBitmap(), bmp));
}

TEST(BmpWriter, FourBitsFromAPaletteImageWithHighIndexesIsQuantized) {
  TImageIO io;
  TIEBitmap& bmp = io.IEBitmap();
  bmp.Allocate(8, 2, ie8p);
  bmp.SetPalette(200, CreateRGB(10, 200, 30));
  bmp.SetPalette(3, CreateRGB(250, 1, 2));
  for (int x = 0; x < 8; ++x) {
    bmp.SetPixels_ie8(x, 0, 200);
    bmp.SetPixels_ie8(x, 1, 3);
  }
  io.IOParams().BITSPERSAMPLE = 4;
  const Bytes file = Save(io);
  EXPECT_EQ(Get16(file, 28), 4);
  TImageIO back;
  ASSERT_FALSE(Load(back, file).aborted);
  EXPECT_TRUE(SameRGB(back.IEBitmap(), bmp));
}

TEST(BmpWriter, OtherPixelFormatsAreWrittenAsColour) {
  for (TIEPixelFormat pf : {ie8g, ie16g, ie48RGB, ieCMYK, ie1g}) {
    SCOPED_TRACE(int(pf));
    TImageIO io;
    TIEBitmap& bmp = io.IEBitmap();
    FillFewColours(bmp, 9, 4, 2);
    bmp.ConvertToPixelFormat(pf);
    TIEBitmap expect;
    expect.Assign(bmp);
    expect.ConvertToPixelFormat(ie24RGB);
    io.IOParams().BITSPERSAMPLE = 8;
    io.IOParams().SAMPLESPERPIXEL = 3;
    const Bytes file = Save(io);
    EXPECT_EQ(bmp.GetPixelFormat(), pf);
    TImageIO back;
    ASSERT_FALSE(Load(back, file).aborted);
    EXPECT_TRUE(SameRGB(back.IEBitmap(), expect));
  }
}

TEST(BmpWriter, ThirtyTwoBitsWithoutHandleTransparencyWriteOpaqueAlpha) {
  TImageIO io;
  FillPattern(io.IEBitmap(), 3, 2);
  io.IEBitmap().SetAlpha(0, 0, 10);
  io.IOParams().SAMPLESPERPIXEL = 3;
  io.IOParams().BMP_HANDLETRANSPARENCY = false;
  const Bytes file = Save(io);
  ASSERT_EQ(Get16(file, 28), 32);
  const std::size_t at = Get32(file, 10);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(file[at + 4 * i + 3], 255);
}

TEST(BmpWriter, OneBitOfAColourImageUsesItsTwoColours) {
  TImageIO io;
  TIEBitmap& bmp = io.IEBitmap();
  bmp.Allocate(10, 2, ie24RGB);
  for (int x = 0; x < 10; ++x) {
    bmp.SetPixels_ie24RGB(x, 0, CreateRGB(200, 0, 0));
    bmp.SetPixels_ie24RGB(x, 1, CreateRGB(0, 0, 90));
  }
  io.IOParams().BITSPERSAMPLE = 1;
  const Bytes file = Save(io);
  ASSERT_EQ(io.IOParams().COLORMAPCOUNT, 2);
  TImageIO back;
  ASSERT_FALSE(Load(back, file).aborted);
  EXPECT_TRUE(SameRGB(back.IEBitmap(), bmp));  // colours kept, not black and white
}

TEST(BmpWriter, ShortStreamAndUserAbortStop) {
  TImageIO io;
  FillPattern(io.IEBitmap(), 64, 64);
  TMemoryStream small;
  small.WriteLimit = 100;
  io.SaveToStream(small, ioBMP);
  EXPECT_TRUE(io.AbortFlag);

  int reports = 0;
  io.OnProgress = [&](void*, int per) {
    if (per < 100 && ++reports == 3) io.AbortFlag = true;
  };
  TMemoryStream out;
  io.SaveToStream(out, ioBMP);
  EXPECT_TRUE(io.AbortFlag);
  EXPECT_EQ(Get32(out.Bytes(), 2), 0u) << "an unfinished file keeps its zero sizes";
  EXPECT_LT(out.Bytes().size(), 54u + 64 * 64 * 3);
}

// ---- reader -------------------------------------------------------------------------------

TEST(BmpReader, TopDownRowsAndAlphaLandInOrder) {
  BmpSpec s;
  s.bits = 32;
  s.height = -2;
  s.width = 1;
  s.pixels = {1, 2, 3, 10, 4, 5, 6, 20};  // first stored row is the top
  TImageIO io;
  io.IOParams().BMP_HANDLETRANSPARENCY = true;
  ASSERT_FALSE(Load(io, BuildBmp(s)).aborted);
  EXPECT_EQ(io.IEBitmap().GetPixels(0, 0), (TRGB{1, 2, 3}));
  EXPECT_EQ(io.IEBitmap().GetPixels(0, 1), (TRGB{4, 5, 6}));
  EXPECT_EQ(io.IEBitmap().GetAlpha(0, 0), 10);
  EXPECT_EQ(io.IEBitmap().GetAlpha(0, 1), 20);
  EXPECT_EQ(io.IOParams().HEIGHT, 2);
}

TEST(BmpReader, ThirtyTwoBitAlphaRules) {
  struct Case {
    std::uint8_t a0, a1;
    bool handle, expectAlpha;
    bool declared = false;  // a V5 header whose masks name an alpha channel
  };
  // Plain fourth bytes count only when asked for; a declared alpha mask always.
  const Case cases[] = {{0, 0, true, false},       {255, 255, true, false},    {0, 128, true, true},
                        {0, 128, false, false},    {0, 128, false, true, true}, {0, 0, false, false, true},
                        {255, 255, false, false, true}};
  for (const Case& c : cases) {
    BmpSpec s;
    if (c.declared) {
      s.headerSize = 124;
      s.compression = 3;
      s.masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    }
    s.bits = 32;
    s.width = 2;
    s.height = 1;
    s.pixels = {1, 2, 3, c.a0, 4, 5, 6, c.a1};
    TImageIO io;
    io.IOParams().BMP_HANDLETRANSPARENCY = c.handle;
    ASSERT_FALSE(Load(io, BuildBmp(s)).aborted);
    EXPECT_EQ(io.IEBitmap().GetHasAlphaChannel(), c.expectAlpha)
        << int(c.a0) << " " << int(c.a1) << " handle " << c.handle << " declared " << c.declared;
    EXPECT_EQ(io.IOParams().SAMPLESPERPIXEL, 4);
  }
}

TEST(BmpReader, LaterHeaderLayoutsAndTheirPalettes) {
  for (std::uint32_t size : {40u, 52u, 56u, 64u, 108u, 124u, 16u}) {
    SCOPED_TRACE(size);
    BmpSpec s;
    s.headerSize = size;
    s.bits = 8;
    s.width = 3;
    s.height = 1;
    s.palette.assign(256, TRGB{});  // no colour count: a full palette
    s.palette[0] = CreateRGB(1, 2, 3);
    s.palette[2] = CreateRGB(7, 8, 9);
    s.pixels = {2, 1, 0, 0};
    TImageIO io;
    ASSERT_FALSE(Load(io, BuildBmp(s)).aborted);
    EXPECT_EQ(io.IEBitmap().GetPixels(0, 0), CreateRGB(7, 8, 9));
    EXPECT_EQ(io.IEBitmap().GetPixels(2, 0), CreateRGB(1, 2, 3));
    EXPECT_EQ(io.IOParams().COLORMAPCOUNT, 256);
    const TIOBMPVersion expect = size == 40 ? ioBMP_BM3 : size == 64 ? ioBMP_BMOS2V2 : ioBMP_BM;
    EXPECT_EQ(io.IOParams().BMP_VERSION, expect);
  }
}

TEST(BmpReader, CoreHeaderWithThreeBytePalette) {
  BmpSpec s;
  s.headerSize = 12;
  s.bits = 4;
  s.width = 3;
  s.height = 1;
  s.palette.assign(16, TRGB{});
  s.palette[5] = CreateRGB(90, 80, 70);
  s.pixels = {0x05, 0x50, 0, 0};
  TImageIO io;
  ASSERT_FALSE(Load(io, BuildBmp(s)).aborted);
  EXPECT_EQ(io.IEBitmap().GetPixels(1, 0), CreateRGB(90, 80, 70));
  EXPECT_EQ(io.IEBitmap().GetPixels(2, 0), CreateRGB(90, 80, 70));
  EXPECT_EQ(io.IOParams().BMP_VERSION, ioBMP_BMOS2V1);
  EXPECT_EQ(io.IOParams().BITSPERSAMPLE, 4);
}

TEST(BmpReader, NativePixelFormatKeepsIndexes) {
  BmpSpec s;
  s.bits = 4;
  s.width = 3;
  s.height = 1;
  s.palette.assign(16, CreateRGB(1, 1, 1));
  s.palette[7] = CreateRGB(70, 70, 0);
  s.pixels = {0x70, 0x20, 0, 0};
  TImageIO io;
  io.IOParams().ISNATIVEPIXELFORMAT = true;
  ASSERT_FALSE(Load(io, BuildBmp(s)).aborted);
  ASSERT_EQ(io.IEBitmap().GetPixelFormat(), ie8p);
  EXPECT_EQ(io.IEBitmap().GetPixels_ie8(0, 0), 7);
  EXPECT_EQ(io.IEBitmap().GetPixels_ie8(2, 0), 2);
  EXPECT_EQ(io.IEBitmap().GetPalette(7), CreateRGB(70, 70, 0));
  EXPECT_EQ(io.IEBitmap().PaletteColorCount, 16);
}

TEST(BmpReader, OneBitPalettes) {
  struct Case {
    const char* name;
    std::vector<TRGB> palette;
    TIEPixelFormat expectFormat;
    TRGB expectBit0, expectBit1;
    bool native = false;
  };
  const TRGB black{0, 0, 0}, white{255, 255, 255}, red = CreateRGB(255, 0, 0), blue = CreateRGB(0, 0, 255);
  const Case cases[] = {
      {"black, white", {black, white}, ie1g, black, white},
      {"white, black", {white, black}, ie1g, white, black},
      {"red, blue keeps its colours", {red, blue}, ie24RGB, red, blue},
      {"red, blue as indexes when native", {red, blue}, ie8p, red, blue, true},
      {"one entry: index 1 takes entry 0", {red}, ie24RGB, red, red},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BmpSpec s;
    s.bits = 1;
    s.width = 2;
    s.height = 1;
    s.coloursUsed = std::uint32_t(c.palette.size());
    s.palette = c.palette;
    s.pixels = {0x40, 0, 0, 0};  // pixel 0 is bit 0, pixel 1 is bit 1
    TImageIO io;
    io.IOParams().ISNATIVEPIXELFORMAT = c.native;
    ASSERT_FALSE(Load(io, BuildBmp(s)).aborted);
    EXPECT_EQ(io.IEBitmap().GetPixelFormat(), c.expectFormat);
    EXPECT_EQ(io.IEBitmap().GetPixels(0, 0), c.expectBit0);
    EXPECT_EQ(io.IEBitmap().GetPixels(1, 0), c.expectBit1);
    EXPECT_EQ(io.IOParams().BITSPERSAMPLE, 1);
  }
}

TEST(BmpReader, PaletteCountsAndIndexesBeyondThePalette) {
  BmpSpec s;
  s.bits = 8;
  s.width = 2;
  s.height = 1;
  s.coloursUsed = 300;  // taken as 0: a full palette follows
  s.palette.assign(256, TRGB{});
  s.palette[0] = CreateRGB(9, 9, 9);
  s.palette[255] = CreateRGB(1, 2, 3);
  s.pixels = {255, 0, 0, 0};
  TImageIO io;
  ASSERT_FALSE(Load(io, BuildBmp(s)).aborted);
  EXPECT_EQ(io.IOParams().COLORMAPCOUNT, 256);
  EXPECT_EQ(io.IEBitmap().GetPixels(0, 0), CreateRGB(1, 2, 3));

  s.coloursUsed = 2;  // index 255 lies beyond the palette: entry 0
  s.palette.erase(s.palette.begin() + 2, s.palette.end());
  TImageIO io2;
  ASSERT_FALSE(Load(io2, BuildBmp(s)).aborted);
  EXPECT_EQ(io2.IEBitmap().GetPixels(0, 0), CreateRGB(9, 9, 9));
}

TEST(BmpReader, BitFields) {
  struct Case {
    const char* name;
    int bits;
    std::uint32_t compression;
    std::uint32_t headerSize;
    std::vector<std::uint32_t> masks;
    Bytes pixel;
    TRGB expect;
    int expectAlpha;  // -1: no alpha channel
  };
  const Case cases[] = {
      {"16-bit 555 default", 16, 0, 40, {}, {0x1F, 0x7C}, CreateRGB(248, 0, 248), -1},
      {"16-bit 565", 16, 3, 40, {0xF800, 0x07E0, 0x001F}, {0xE0, 0x07}, CreateRGB(0, 252, 0), -1},
      {"16-bit 4444 with alpha in a V5 header", 16, 3, 124, {0x0F00, 0x00F0, 0x000F, 0xF000}, {0x21, 0x83},
       CreateRGB(48, 32, 16), 128},
      {"32-bit masks in reverse order", 32, 3, 124, {0xFF000000, 0x00FF0000, 0x0000FF00, 0}, {0, 1, 2, 3},
       CreateRGB(3, 2, 1), -1},
      {"32-bit standard masks: fourth byte alpha", 32, 3, 40, {0xFF0000, 0xFF00, 0xFF}, {1, 2, 3, 7},
       CreateRGB(3, 2, 1), 7},
      {"32-bit alpha bit fields", 32, 6, 40, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, {1, 2, 3, 9}, CreateRGB(1, 2, 3),
       9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BmpSpec s;
    s.bits = c.bits;
    s.compression = c.compression;
    s.headerSize = c.headerSize;
    s.masks = c.masks;
    s.width = 2;
    s.height = 1;
    s.pixels = c.pixel;
    // A second, opaque pixel so that one alpha value alone is not "all equal".
    if (c.bits == 16) s.pixels.insert(s.pixels.end(), {0xFF, 0xFF});
    else s.pixels.insert(s.pixels.end(), {0xFF, 0xFF, 0xFF, 0xFF});
    TImageIO io;
    io.IOParams().BMP_HANDLETRANSPARENCY = true;
    ASSERT_FALSE(Load(io, BuildBmp(s)).aborted) << io.AbortReason;
    EXPECT_EQ(io.IEBitmap().GetPixels(0, 0), c.expect);
    ASSERT_EQ(io.IEBitmap().GetHasAlphaChannel(), c.expectAlpha >= 0);
    if (c.expectAlpha >= 0) {
      EXPECT_EQ(io.IEBitmap().GetAlpha(0, 0), c.expectAlpha);
    }
  }
}

TEST(BmpReader, RunLengthDecodingEdgeCases) {
  struct Case {
    const char* name;
    int bits;
    bool topDown;
    Bytes data;
    std::vector<int> expect;  // indexes of a 4 x 2 image, top row first; -1 untouched (index 0)
    bool expectFailure;
  };
  const Case cases[] = {
      {"runs and end of line", 8, false, {2, 1, 2, 2, 0, 0, 4, 3, 0, 1}, {3, 3, 3, 3, 1, 1, 2, 2}, false},
      {"top-down", 8, true, {2, 1, 2, 2, 0, 0, 4, 3, 0, 1}, {1, 1, 2, 2, 3, 3, 3, 3}, false},
      {"run past the row end is cut", 8, false, {9, 5, 0, 0, 0, 1}, {0, 0, 0, 0, 5, 5, 5, 5}, false},
      {"delta moves right and up", 8, false, {0, 2, 1, 1, 1, 7, 0, 1}, {0, 7, 0, 0, 0, 0, 0, 0}, false},
      {"delta past the last row ends", 8, false, {1, 4, 0, 2, 0, 9, 1, 6}, {0, 0, 0, 0, 4, 0, 0, 0}, false},
      {"absolute run with padding", 8, false, {0, 3, 1, 2, 3, 0, 1, 9, 0, 1}, {0, 0, 0, 0, 1, 2, 3, 9}, false},
      {"RLE4 runs and absolute", 4, false, {3, 0x12, 1, 0x30, 0, 0, 0, 4, 0x45, 0x67, 0, 1},
       {4, 5, 6, 7, 1, 2, 1, 3}, false},
      {"data ends early", 8, false, {4, 1}, {0, 0, 0, 0, 1, 1, 1, 1}, true},
      {"absolute run cut short", 8, false, {0, 5, 1, 2}, {0, 0, 0, 0, 1, 2, 0, 0}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BmpSpec s;
    s.bits = c.bits;
    s.compression = c.bits == 8 ? 1 : 2;
    s.width = 4;
    s.height = c.topDown ? -2 : 2;
    s.palette.resize(std::size_t(1) << c.bits);
    for (std::size_t i = 0; i < s.palette.size(); ++i) s.palette[i] = CreateRGB(std::uint8_t(i * 10 + 5), 0, 0);
    s.pixels = c.data;
    TImageIO io;
    io.IOParams().ISNATIVEPIXELFORMAT = true;
    const LoadResult r = Load(io, BuildBmp(s));
    EXPECT_EQ(r.aborted, c.expectFailure) << r.reason;
    ASSERT_EQ(io.IEBitmap().GetWidth(), 4);
    for (int i = 0; i < 8; ++i)
      EXPECT_EQ(io.IEBitmap().GetPixels_ie8(i % 4, i / 4), c.expect[std::size_t(i)]) << "pixel " << i;
    // Without native format the same pixels come as colours, skipped ones as entry 0.
    TImageIO colour;
    Load(colour, BuildBmp(s));
    for (int i = 0; i < 8; ++i)
      EXPECT_EQ(colour.IEBitmap().GetPixels(i % 4, i / 4).r, c.expect[std::size_t(i)] * 10 + 5) << "pixel " << i;
  }
}

TEST(BmpReader, PreviewFillsTheRecordOnly) {
  BmpSpec s;
  s.width = 5;
  s.height = -3;
  s.pixels.assign(16 * 3, 0);
  const Bytes file = BuildBmp(s);
  TImageIO io;
  TReadOnlyMemoryStream stream(file.data(), std::int64_t(file.size()));
  io.ParamsFromStream(stream);
  EXPECT_FALSE(io.AbortFlag);
  EXPECT_EQ(io.IOParams().FILETYPE, ioBMP);
  EXPECT_EQ(io.IOParams().WIDTH, 5);
  EXPECT_EQ(io.IOParams().HEIGHT, 3);
  EXPECT_EQ(io.IOParams().BITSPERSAMPLE, 8);
  EXPECT_EQ(io.IOParams().SAMPLESPERPIXEL, 3);
  EXPECT_TRUE(io.IEBitmap().IsEmpty());
}

TEST(BmpReader, HeaderlessDeviceIndependentBitmapLoads) {
  BmpSpec s;
  s.width = 1;
  s.height = 1;
  s.pixels = {1, 2, 3, 0};
  const Bytes file = BuildBmp(s);
  const Bytes dib(file.begin() + 14, file.end());
  TImageIO io;
  ASSERT_FALSE(Load(io, dib).aborted) << io.AbortReason;
  EXPECT_EQ(io.IEBitmap().GetPixels(0, 0), (TRGB{1, 2, 3}));
}

TEST(BmpReader, ContentDetectionFindsBmp) {
  BmpSpec s;
  s.pixels.assign(16, 0);
  const Bytes file = BuildBmp(s);
  TImageIO io;
  TReadOnlyMemoryStream stream(file.data(), std::int64_t(file.size()));
  io.LoadFromStream(stream);
  EXPECT_FALSE(io.AbortFlag);
  EXPECT_EQ(io.IOParams().FILETYPE, ioBMP);
}

// ---- bad files -----------------------------------------------------------------------------

TEST(BmpReader, BadFilesFailCleanly) {
  struct Case {
    const char* name;
    Bytes file;
  };
  auto with = [](auto change) {
    BmpSpec s;
    s.width = 4;
    s.height = 4;
    s.pixels.assign(48, 7);
    change(s);
    return BuildBmp(s);
  };
  Bytes badSignature = with([](BmpSpec&) {});
  badSignature[0] = 'X';
  Bytes smallHeader = with([](BmpSpec&) {});
  smallHeader[14] = 8;
  const Case cases[] = {
      {"wrong signature", badSignature},
      {"header size under 12", smallHeader},
      {"only the file header", Bytes{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"negative width", with([](BmpSpec& s) { s.width = -4; })},
      {"zero height", with([](BmpSpec& s) { s.height = 0; })},
      {"absurd size", with([](BmpSpec& s) { s.width = 1 << 30; s.height = 1 << 30; })},
      {"far more pixels claimed than present", with([](BmpSpec& s) { s.width = 4000; s.height = 4000; })},
      {"pixel offset beyond the file", [&] {
         Bytes f = with([](BmpSpec&) {});
         f[12] = 0x10;  // offset 0x100000
         return f;
       }()},
      {"unknown bit count", with([](BmpSpec& s) { s.bits = 2; })},
      {"1-bit run-length data", with([](BmpSpec& s) { s.bits = 1; s.compression = 1; })},
      {"24-bit JPEG data", with([](BmpSpec& s) { s.compression = 4; })},
      {"palette missing", with([](BmpSpec& s) { s.bits = 8; s.pixels.clear(); })},
      {"a huge run-length image from two bytes", with([](BmpSpec& s) {
         s.bits = 8;
         s.compression = 1;
         s.width = s.height = 30000;
         s.palette.assign(256, TRGB{});
         s.pixels = {0, 1};  // end of bitmap
       })},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    const LoadResult r = Load(io, c.file);
    EXPECT_TRUE(r.aborted);
    EXPECT_FALSE(r.reason.empty());
  }
}

TEST(BmpReader, ShortRunLengthDataForASmallImageLoads) {
  // An early end of bitmap leaves the rest index 0: fine while the image is small.
  BmpSpec s;
  s.bits = 8;
  s.compression = 1;
  s.width = s.height = 1000;
  s.palette.assign(256, CreateRGB(9, 9, 9));
  s.pixels = {2, 5, 0, 1};  // two pixels of index 5, then the end
  TImageIO io;
  ASSERT_FALSE(Load(io, BuildBmp(s)).aborted) << io.AbortReason;
  EXPECT_EQ(io.IEBitmap().GetWidth(), 1000);
  EXPECT_EQ(io.IEBitmap().GetPixels(999, 999), CreateRGB(9, 9, 9));
}

TEST(BmpReader, TruncatedPixelsLoadWhatIsThereAndReportIt) {
  BmpSpec s;
  s.width = 1;
  s.height = 4;
  s.pixels = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0};  // three of four rows
  TImageIO io;
  const LoadResult r = Load(io, BuildBmp(s));
  EXPECT_TRUE(r.aborted);
  EXPECT_NE(r.reason.find("truncated"), std::string::npos);
  EXPECT_EQ(io.IEBitmap().GetPixels(0, 3), (TRGB{1, 2, 3}));  // bottom row stored first
  EXPECT_EQ(io.IEBitmap().GetPixels(0, 1), (TRGB{7, 8, 9}));
  EXPECT_EQ(io.IEBitmap().GetPixels(0, 0), (TRGB{0, 0, 0}));  // not reached: 0
}

TEST(BmpReader, ReusedBufferHoldsNoStaleRows) {
  TImageIO io;
  FillPattern(io.IEBitmap(), 4, 4);
  BmpSpec s;
  s.width = 4;
  s.height = 4;
  s.pixels.assign(48 - 12, 0x11);  // the top row is missing
  Load(io, BuildBmp(s));
  EXPECT_EQ(io.IEBitmap().GetPixels(2, 0), (TRGB{0, 0, 0}));
}

TEST(BmpReader, DirectCallWithoutFileHeaderAndDataSize) {
  BmpSpec s;
  s.width = 1;
  s.height = 1;
  s.bits = 32;
  s.pixels = {1, 2, 3, 4};
  const Bytes file = BuildBmp(s);
  TReadOnlyMemoryStream stream(file.data() + 14, std::int64_t(file.size() - 14));
  TIEBitmap bmp;
  TIOParamsVals params;
  bool abort = false;
  TProgressRec progress;
  progress.AbortFlag = &abort;
  std::unique_ptr<TIEMask> mask;
  BMPReadStream(stream, bmp, 0, params, progress, false, true, mask, false);
  EXPECT_FALSE(abort);
  EXPECT_EQ(bmp.GetPixels(0, 0), (TRGB{1, 2, 3}));
  ASSERT_NE(mask, nullptr);
  EXPECT_EQ(mask->GetPixel(0, 0), 4);
}

}  // namespace
}  // namespace pravik::codectest
