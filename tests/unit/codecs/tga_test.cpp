#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codecs/tga/tga.h"
#include "corpus_manifest.h"
#include "image/bitmap.h"
#include "image/colour.h"
#include "image/mask.h"
#include "imageio/imageio.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/registry.h"
#include "imageio/stream.h"
#include "unit/codecs/codec_test_util.h"

namespace pravik {
namespace {

using codectest::Bytes;
using codectest::Get16;
using codectest::Loaded;
using codectest::Put16;

// ---- fixtures ---------------------------------------------------------------------------------

struct TgaFile {
  std::uint8_t MapType = 0, Type = 2;
  std::uint16_t MapFirst = 0, MapLength = 0;
  std::uint8_t MapBits = 0;
  std::uint16_t Width = 2, Height = 2;
  std::uint8_t Depth = 24, Descriptor = 0x20;
  Bytes Id, Map, Pixels, Tail;
};

Bytes Build(const TgaFile& f) {
  Bytes b = {std::uint8_t(f.Id.size()), f.MapType, f.Type};
  Put16(b, f.MapFirst);
  Put16(b, f.MapLength);
  b.push_back(f.MapBits);
  Put16(b, 0);
  Put16(b, 0);
  Put16(b, f.Width);
  Put16(b, f.Height);
  b.insert(b.end(), {f.Depth, f.Descriptor});
  for (const Bytes* part : {&f.Id, &f.Map, &f.Pixels, &f.Tail}) b.insert(b.end(), part->begin(), part->end());
  return b;
}

void Load(Loaded& l, const Bytes& file) { codectest::LoadBytes(l.io, file, ioTGA); }
Bytes Save(TImageIO& io) { return codectest::SaveBytes(io, ioTGA); }

const TRGB kRed = CreateRGB(255, 0, 0), kGreen = CreateRGB(0, 255, 0), kBlue = CreateRGB(0, 0, 255),
           kWhite = CreateRGB(255, 255, 255), kBlack = CreateRGB(0, 0, 0);

// The default palette entry for indexes a colour map does not define.
TRGB DefaultEntry(int i) {
  return CreateRGB(std::uint8_t((i >> 5) * 32 + 28), std::uint8_t(((i >> 2) & 7) * 32 + 28),
                   std::uint8_t((i & 3) * 64 + 60));
}

// ---- reading ----------------------------------------------------------------------------------

TEST(TGARead, EveryKindDepthAndRowOrder) {
  struct Case {
    const char* what;
    TgaFile file;
    std::vector<TRGB> expected;  // rows from the top, 2 x 2
    std::vector<int> alpha;      // empty: no alpha channel
    int bitsPerSample, samplesPerPixel;
  };
  TgaFile rgb;
  rgb.Pixels = {0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255};  // red green / blue white
  TgaFile bottomUp = rgb;
  bottomUp.Descriptor = 0;
  bottomUp.Pixels = {255, 0, 0, 255, 255, 255, 0, 0, 255, 0, 255, 0};
  TgaFile rightToLeft = rgb;
  rightToLeft.Descriptor = 0x30;
  rightToLeft.Pixels = {0, 255, 0, 0, 0, 255, 255, 255, 255, 255, 0, 0};
  TgaFile rgba = rgb;
  rgba.Depth = 32;
  rgba.Descriptor = 0x28;
  rgba.Pixels = {0, 0, 255, 10, 0, 255, 0, 20, 255, 0, 0, 30, 255, 255, 255, 255};
  TgaFile rgb16 = rgb;
  rgb16.Depth = 16;
  rgb16.Pixels = {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0xFF, 0x7F};
  TgaFile rgb15 = rgb16;
  rgb15.Depth = 15;
  TgaFile argb16 = rgb16;
  argb16.Descriptor = 0x21;  // one alpha bit: bit 15
  argb16.Pixels = {0x00, 0xFC, 0xE0, 0x03, 0x1F, 0x80, 0xFF, 0xFF};
  TgaFile mapped;
  mapped.Type = 1;
  mapped.MapType = 1;
  mapped.MapFirst = 2;
  mapped.MapLength = 3;
  mapped.MapBits = 24;
  mapped.Depth = 8;
  mapped.Map = {0, 0, 255, 0, 255, 0, 255, 0, 0};  // entries 2, 3, 4
  mapped.Pixels = {2, 3, 4, 0};
  TgaFile mapped32 = mapped;
  mapped32.MapBits = 32;
  mapped32.Map = {0, 0, 255, 1, 0, 255, 0, 2, 255, 0, 0, 3};
  TgaFile mapped16 = mapped;
  mapped16.MapBits = 16;
  mapped16.Map = {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00};
  TgaFile grey;
  grey.Type = 3;
  grey.Depth = 8;
  grey.Pixels = {0, 100, 200, 255};
  TgaFile greyAlpha = grey;
  greyAlpha.Depth = 16;
  greyAlpha.Pixels = {0, 255, 100, 0, 200, 50, 255, 255};
  TgaFile mono = grey;
  mono.Depth = 1;
  mono.Width = 10;
  mono.Pixels = {0x80, 0x40, 0xFF, 0xC0};
  TgaFile nibbles = mapped;  // 4-bit colour-mapped, as files of earlier versions are
  nibbles.Depth = 4;
  nibbles.MapFirst = 0;
  nibbles.MapLength = 16;
  nibbles.Map.clear();
  for (int i = 0; i < 16; ++i) nibbles.Map.insert(nibbles.Map.end(), {std::uint8_t(i * 16), 0, std::uint8_t(255 - i)});
  nibbles.Pixels = {0x1F, 0x20};
  const TRGB n1 = CreateRGB(254, 0, 16), n15 = CreateRGB(240, 0, 240), n2 = CreateRGB(253, 0, 32);
  const TRGB n0 = CreateRGB(255, 0, 0);

  const Case cases[] = {
      {"24 bits, top row first", rgb, {kRed, kGreen, kBlue, kWhite}, {}, 8, 3},
      {"24 bits, bottom row first", bottomUp, {kRed, kGreen, kBlue, kWhite}, {}, 8, 3},
      {"24 bits, right to left", rightToLeft, {kRed, kGreen, kBlue, kWhite}, {}, 8, 3},
      {"32 bits", rgba, {kRed, kGreen, kBlue, kWhite}, {10, 20, 30, 255}, 8, 4},
      {"16 bits, full-range channels", rgb16, {kRed, kGreen, kBlue, kWhite}, {}, 5, 3},
      {"15 bits", rgb15, {kRed, kGreen, kBlue, kWhite}, {}, 5, 3},
      {"16 bits with an alpha bit", argb16, {kRed, kGreen, kBlue, kWhite}, {255, 0, 255, 255}, 5, 3},
      {"colour map from entry 2", mapped, {kRed, kGreen, kBlue, DefaultEntry(0)}, {}, 8, 1},
      {"32-bit colour map", mapped32, {kRed, kGreen, kBlue, DefaultEntry(0)}, {1, 2, 3, 255}, 8, 1},
      {"16-bit colour map", mapped16, {kRed, kGreen, kBlue, DefaultEntry(0)}, {}, 8, 1},
      {"grey", grey, {kBlack, CreateRGB(100, 100, 100), CreateRGB(200, 200, 200), kWhite}, {}, 8, 1},
      {"grey and alpha", greyAlpha, {kBlack, CreateRGB(100, 100, 100), CreateRGB(200, 200, 200), kWhite},
       {255, 0, 50, 255}, 8, 4},
      {"4-bit colour map", nibbles, {n1, n15, n2, n0}, {}, 4, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Loaded l;
    Load(l, Build(c.file));
    ASSERT_TRUE(l.Ok()) << l.io.AbortReason;
    ASSERT_EQ(l.Bmp().GetWidth(), 2);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(l.Bmp().GetPixels(i % 2, i / 2), c.expected[std::size_t(i)]) << i;
    ASSERT_EQ(l.Bmp().GetHasAlphaChannel(), !c.alpha.empty());
    for (std::size_t i = 0; i < c.alpha.size(); ++i) EXPECT_EQ(l.Bmp().GetAlpha(int(i % 2), int(i / 2)), c.alpha[i]) << i;
    EXPECT_EQ(l.P().BITSPERSAMPLE, c.bitsPerSample);
    EXPECT_EQ(l.P().SAMPLESPERPIXEL, c.samplesPerPixel);
    EXPECT_FALSE(l.P().TGA_COMPRESSED);
  }

  // 1 bit: the rows as they are, set bits white.
  Loaded l;
  Load(l, Build(mono));
  ASSERT_TRUE(l.Ok());
  ASSERT_EQ(l.Bmp().GetPixelFormat(), ie1g);
  EXPECT_TRUE(l.Bmp().GetPixels_ie1g(0, 0));
  EXPECT_FALSE(l.Bmp().GetPixels_ie1g(1, 0));
  EXPECT_TRUE(l.Bmp().GetPixels_ie1g(9, 1));
  EXPECT_EQ(l.Bmp().GetScanLine(0)[1], 0x40);  // bits past the width dropped
}

TEST(TGARead, ColourMapAndGreyParameters) {
  TgaFile mapped;
  mapped.Type = 1;
  mapped.MapType = 1;
  mapped.MapLength = 2;
  mapped.MapBits = 24;
  mapped.Depth = 8;
  mapped.Map = {1, 2, 3, 4, 5, 6};
  mapped.Pixels = {0, 1, 1, 0};
  Loaded l;
  l.P().TGA_GRAYLEVEL = true;
  Load(l, Build(mapped));
  ASSERT_TRUE(l.Ok());
  EXPECT_EQ(l.P().COLORMAPCOUNT, 2);
  EXPECT_EQ(l.P().COLORMAP[1], CreateRGB(6, 5, 4));
  EXPECT_FALSE(l.P().TGA_GRAYLEVEL);

  TgaFile grey;
  grey.Type = 3;
  grey.Depth = 8;
  grey.Pixels = {0, 1, 2, 3};
  Loaded g;
  Load(g, Build(grey));
  ASSERT_TRUE(g.Ok());
  EXPECT_TRUE(g.P().TGA_GRAYLEVEL);
  EXPECT_TRUE(g.P().COLORMAP.empty());  // nothing left from an earlier file
}

TEST(TGARead, PacketsGoOnOverRowEnds) {
  // 5 x 3: one raw pixel, then a run of 10 (4 pixels of row 0, 5 of row 1,
  // 1 of row 2), then a raw packet of 4 whose last 2 pixels... are all in row 2.
  TgaFile f;
  f.Type = 10;
  f.Width = 5;
  f.Height = 3;
  f.Pixels = {0x00, 1, 1, 1, 0x89, 2, 2, 2, 0x03, 3, 3, 3, 4, 4, 4, 5, 5, 5, 6, 6, 6};
  // A raw packet crossing a row end: 8 grey pixels over rows of 5.
  TgaFile g;
  g.Type = 11;
  g.Depth = 8;
  g.Width = 5;
  g.Height = 2;
  g.Pixels = {0x07, 1, 2, 3, 4, 5, 6, 7, 8, 0x81, 9};
  Loaded l;
  Load(l, Build(f));
  ASSERT_TRUE(l.Ok()) << l.io.AbortReason;
  EXPECT_TRUE(l.P().TGA_COMPRESSED);
  const int row0[5] = {1, 2, 2, 2, 2}, row1[5] = {2, 2, 2, 2, 2}, row2[5] = {2, 3, 4, 5, 6};
  for (int x = 0; x < 5; ++x) {
    EXPECT_EQ(l.Bmp().GetPixels(x, 0).r, row0[x]) << x;
    EXPECT_EQ(l.Bmp().GetPixels(x, 1).r, row1[x]) << x;
    EXPECT_EQ(l.Bmp().GetPixels(x, 2).r, row2[x]) << x;
  }
  Loaded m;
  Load(m, Build(g));
  ASSERT_TRUE(m.Ok()) << m.io.AbortReason;
  const int grey0[5] = {1, 2, 3, 4, 5}, grey1[5] = {6, 7, 8, 9, 9};
  for (int x = 0; x < 5; ++x) {
    EXPECT_EQ(m.Bmp().GetPixels(x, 0).r, grey0[x]) << x;
    EXPECT_EQ(m.Bmp().GetPixels(x, 1).r, grey1[x]) << x;
  }
}

TEST(TGARead, AlphaOfNothingButZeroIsNoAlpha) {
  TgaFile f;
  f.Depth = 32;
  f.Width = 2;
  f.Height = 1;
  f.Pixels = {1, 2, 3, 0, 4, 5, 6, 0};
  Loaded zero;
  Load(zero, Build(f));
  ASSERT_TRUE(zero.Ok());
  EXPECT_FALSE(zero.Bmp().GetHasAlphaChannel());
  EXPECT_EQ(zero.Bmp().GetPixels(1, 0), CreateRGB(6, 5, 4));
  f.Pixels[3] = f.Pixels[7] = 255;
  Loaded opaque;
  Load(opaque, Build(f));
  ASSERT_TRUE(opaque.Ok());
  ASSERT_TRUE(opaque.Bmp().GetHasAlphaChannel());
  EXPECT_EQ(opaque.Bmp().GetAlpha(0, 0), 255);
  EXPECT_EQ(opaque.Bmp().GetAlpha(1, 0), 255);
}

TEST(TGARead, MapEntriesPastTheIndexRangeAndUndefinedIndexes) {
  TgaFile f;
  f.Type = 1;
  f.MapType = 1;
  f.MapFirst = 300;  // every entry beyond what an 8-bit index reaches
  f.MapLength = 2;
  f.MapBits = 24;
  f.Depth = 8;
  f.Map = {1, 1, 1, 2, 2, 2};
  f.Pixels = {0, 255, 7, 44};
  Loaded l;
  Load(l, Build(f));
  ASSERT_TRUE(l.Ok()) << l.io.AbortReason;
  EXPECT_EQ(l.Bmp().GetPixels(0, 0), DefaultEntry(0));
  EXPECT_EQ(l.Bmp().GetPixels(1, 0), DefaultEntry(255));
  EXPECT_EQ(l.Bmp().GetPixels(1, 1), DefaultEntry(44));
  // A map longer than 256 entries is read past, the pixels still found.
  f.MapFirst = 0;
  f.MapLength = 300;
  f.Map.assign(900, 9);
  Loaded longMap;
  Load(longMap, Build(f));
  ASSERT_TRUE(longMap.Ok()) << longMap.io.AbortReason;
  EXPECT_EQ(longMap.Bmp().GetPixels(0, 1), CreateRGB(9, 9, 9));
  EXPECT_EQ(longMap.P().COLORMAPCOUNT, 256);
}

TEST(TGARead, BadInputFailsCleanly) {
  TgaFile ok;
  ok.Width = 4;
  ok.Height = 4;
  ok.Pixels.assign(48, 7);
  auto with = [&](auto change) {
    TgaFile f = ok;
    change(f);
    return Build(f);
  };
  const Bytes good = Build(ok);
  struct Case {
    const char* what;
    Bytes file;
  };
  const Case cases[] = {
      {"shorter than a header", Bytes(good.begin(), good.begin() + 10)},
      {"image type 4", with([](TgaFile& f) { f.Type = 4; })},
      {"depth 12", with([](TgaFile& f) { f.Depth = 12; })},
      {"identification field cut", with([](TgaFile& f) {
         f.Id.assign(30, 'x');
         f.Pixels.clear();
       })},
      {"colour map cut", with([](TgaFile& f) {
         f.Type = 1;
         f.MapType = 1;
         f.MapLength = 256;
         f.MapBits = 24;
         f.Depth = 8;
         f.Pixels.clear();
       })},
      {"8-bit colour-map entries", with([](TgaFile& f) {
         f.Type = 1;
         f.MapType = 1;
         f.MapLength = 4;
         f.MapBits = 8;
         f.Map = {1, 2, 3, 4};
         f.Depth = 8;
       })},
      {"width 0", with([](TgaFile& f) { f.Width = 0; })},
      {"absurd size over a few bytes", with([](TgaFile& f) { f.Width = f.Height = 65535; })},
      {"absurd coded size over a few bytes", with([](TgaFile& f) {
         f.Type = 10;
         f.Width = f.Height = 65535;
         f.Pixels = {0xFF, 1, 2, 3};
       })},
  };
  for (const Case& c : cases) {
    Loaded l;
    Load(l, c.file);
    EXPECT_TRUE(l.io.AbortFlag) << c.what;
    EXPECT_FALSE(l.io.AbortReason.empty()) << c.what;
  }
}

TEST(TGARead, CutDataKeepsTheRowsThereAndReportsTheRest) {
  for (std::uint8_t type : {2, 10}) {
    TgaFile f;
    f.Type = type;
    f.Width = 2;
    f.Height = 3;
    // Row 0 complete, then one pixel of row 1, then nothing (a run header without its value for the coded file).
    f.Pixels = type == 2 ? Bytes{1, 1, 1, 2, 2, 2, 3, 3, 3} : Bytes{0x81, 1, 1, 1, 0x00, 3, 3, 3, 0x85};
    Loaded l;
    Load(l, Build(f));
    EXPECT_TRUE(l.io.AbortFlag);
    EXPECT_EQ(l.io.AbortReason, "truncated TGA data");
    ASSERT_EQ(l.Bmp().GetWidth(), 2);
    EXPECT_EQ(l.Bmp().GetPixels(0, 0).r, 1);
    EXPECT_EQ(l.Bmp().GetPixels(0, 1).r, 3);
    EXPECT_EQ(l.Bmp().GetPixels(1, 1), kBlack);
    EXPECT_EQ(l.Bmp().GetPixels(0, 2), kBlack);
  }
}

// ---- extension area ----------------------------------------------------------------------------

TEST(TGAExtension, WrittenAndReadBack) {
  TImageIO io;
  io.IEBitmap().Allocate(3, 2, ie24RGB);
  TIOParamsVals& p = io.IOParams();
  p.TGA_AUTHOR = "Ann Author";
  p.TGA_IMAGENAME = "Job";
  p.TGA_DESCRIPTOR = "An image";
  p.TGA_DATE = IEEncodeDate(2021, 7, 14) + (13 * 3600 + 5 * 60 + 9) / 86400.0;
  p.TGA_BACKGROUND = CreateRGB(10, 20, 30);
  p.TGA_ASPECTRATIO = 1.0;
  p.TGA_GAMMA = 2.2;
  p.TGA_XPOS = 12;
  p.TGA_YPOS = 34;
  const Bytes b = Save(io);
  ASSERT_GT(b.size(), 26u + 495u);
  const std::size_t footer = b.size() - 26;
  EXPECT_EQ(std::string(b.begin() + std::ptrdiff_t(footer) + 8, b.end()), std::string("TRUEVISION-XFILE.\0", 18));
  const std::size_t ext = Get16(b, footer) | (std::size_t(Get16(b, footer + 2)) << 16);
  EXPECT_EQ(ext + 495, footer);
  EXPECT_EQ(Get16(b, ext), 495);
  EXPECT_EQ(Get16(b, ext + 367), 7);
  EXPECT_EQ(Get16(b, ext + 369), 14);
  EXPECT_EQ(Get16(b, ext + 371), 2021);
  EXPECT_EQ(Get16(b, ext + 373), 13);
  EXPECT_EQ(Get16(b, ext + 377), 9);
  EXPECT_EQ(b[ext + 471], 10);
  EXPECT_EQ(Get16(b, ext + 474), 10000);
  EXPECT_EQ(Get16(b, ext + 476), 10000);
  EXPECT_EQ(Get16(b, ext + 478), 22000);
  EXPECT_EQ(Get16(b, ext + 480), 10000);
  EXPECT_EQ(b[0], 9);  // "An image" and its 0 byte

  Loaded l;
  Load(l, b);
  ASSERT_TRUE(l.Ok());
  EXPECT_EQ(l.P().TGA_AUTHOR, "Ann Author");
  EXPECT_EQ(l.P().TGA_IMAGENAME, "Job");
  EXPECT_EQ(l.P().TGA_DESCRIPTOR, std::string("An image\0", 9));
  EXPECT_NEAR(l.P().TGA_DATE, p.TGA_DATE, 1e-6);
  EXPECT_EQ(l.P().TGA_BACKGROUND, CreateRGB(10, 20, 30));
  EXPECT_DOUBLE_EQ(l.P().TGA_ASPECTRATIO, 1.0);
  EXPECT_DOUBLE_EQ(l.P().TGA_GAMMA, 2.2);
  EXPECT_EQ(l.P().TGA_XPOS, 12);
  EXPECT_EQ(l.P().TGA_YPOS, 34);
}

TEST(TGAExtension, LongTextsAndLargeRatiosAreKeptInTheirFields) {
  TImageIO io;
  io.IEBitmap().Allocate(1, 1, ie24RGB);
  io.IOParams().TGA_AUTHOR = std::string(60, 'a');
  io.IOParams().TGA_DESCRIPTOR = std::string(300, 'd');
  io.IOParams().TGA_GAMMA = 10.0;  // 100000 / 10000 does not fit 16 bits
  const Bytes b = Save(io);
  EXPECT_EQ(b[0], 255);
  Loaded l;
  Load(l, b);
  ASSERT_TRUE(l.Ok());
  EXPECT_EQ(l.P().TGA_AUTHOR, std::string(40, 'a'));
  EXPECT_NEAR(l.P().TGA_GAMMA, 10.0, 1e-3);
}

TEST(TGAExtension, MissingOrInvalidFieldsKeepTheDefaults) {
  TgaFile f;
  f.Width = f.Height = 1;
  f.Pixels = {1, 2, 3};
  // Extension area with 31 April and zero ratios; footer pointing at it.
  Bytes ext(495, 0);
  ext[2] = 'Z';
  ext[367] = 4;
  ext[369] = 31;
  ext[371] = 0xE5;
  ext[372] = 0x07;
  const std::uint32_t at = 18 + 3;
  Bytes footer = {std::uint8_t(at), 0, 0, 0, 0, 0, 0, 0};
  const std::string sig("TRUEVISION-XFILE.\0", 18);
  footer.insert(footer.end(), sig.begin(), sig.end());
  f.Tail = ext;
  f.Tail.insert(f.Tail.end(), footer.begin(), footer.end());
  Loaded l;
  l.P().TGA_GAMMA = 1.0;
  Load(l, Build(f));
  ASSERT_TRUE(l.Ok());
  EXPECT_EQ(l.P().TGA_AUTHOR, "Z");
  EXPECT_NEAR(l.P().TGA_DATE, IENow(), 1.0);
  EXPECT_DOUBLE_EQ(l.P().TGA_GAMMA, 2.2);
  // An extension offset of 0 means there is none.
  f.Tail = footer;
  f.Tail[0] = 0;
  Loaded none;
  none.P().TGA_AUTHOR = "left over";
  Load(none, Build(f));
  ASSERT_TRUE(none.Ok());
  EXPECT_EQ(none.P().TGA_AUTHOR, "");
}

// ---- writing ----------------------------------------------------------------------------------

void Fill(TIEBitmap& bmp, int w, int h, int colours) {
  bmp.Allocate(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int k = colours ? (x / 2 + 3 * y) % colours : 0;
      bmp.SetPixels_ie24RGB(
          x, y, colours ? CreateRGB(std::uint8_t(k * 7), std::uint8_t(k * 3), std::uint8_t(255 - k))
                        : CreateRGB(std::uint8_t(x * 9), std::uint8_t(y * 5), std::uint8_t(x * y)));
    }
}

TEST(TGAWrite, RunLengthPackets) {
  const TRGB a = CreateRGB(1, 2, 3), b = CreateRGB(4, 5, 6), c = CreateRGB(7, 8, 9);
  struct Case {
    std::vector<TRGB> row;
    Bytes coded;
  };
  const Case cases[] = {
      {{a, a, a, b, c}, {0x82, 3, 2, 1, 0x01, 6, 5, 4, 9, 8, 7}},
      {std::vector<TRGB>(200, c), {0xFF, 9, 8, 7, 0xC7, 9, 8, 7}},
      {{a, b, c, c}, {0x01, 3, 2, 1, 6, 5, 4, 0x81, 9, 8, 7}},
  };
  for (const Case& k : cases) {
    TImageIO io;
    const int w = static_cast<int>(k.row.size());
    io.IEBitmap().Allocate(w, 2, ie24RGB);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < w; ++x) io.IEBitmap().SetPixels_ie24RGB(x, y, k.row[std::size_t(x)]);
    const Bytes out = Save(io);
    EXPECT_EQ(out[2], 10);
    // After the header and the empty identification text; packets never
    // cross rows, so the second row codes the same.
    Bytes twice = k.coded;
    twice.insert(twice.end(), k.coded.begin(), k.coded.end());
    EXPECT_EQ(Bytes(out.begin() + 19, out.begin() + 19 + std::ptrdiff_t(twice.size())), twice) << w;
  }
}

TEST(TGAWrite, DepthChoice) {
  struct Case {
    const char* what;
    int bits, samples;
    bool alpha, greyLevel, compressed;
    // what the file says
    std::uint8_t type, depth, descriptor;
    int mapLength;
    bool compressedAfter;
  };
  const Case cases[] = {
      {"true colour", 8, 3, false, false, true, 10, 24, 0x20, 0, true},
      {"true colour, raw", 8, 3, false, false, false, 2, 24, 0x20, 0, false},
      {"alpha: 32 bits, raw", 8, 4, true, false, true, 2, 32, 0x28, 0, false},
      {"256 colours", 8, 1, false, false, true, 9, 8, 0x20, 256, true},
      {"grey", 8, 1, false, true, true, 11, 8, 0x20, 0, true},
      {"16 colours: 8-bit indexes, 16 entries", 4, 1, false, false, true, 9, 8, 0x20, 16, true},
      {"2 colours: 8-bit indexes, 2 entries", 1, 1, false, false, true, 9, 8, 0x20, 2, true},
      {"16-bit grey asked: true colour", 16, 1, false, false, true, 10, 24, 0x20, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TImageIO io;
    Fill(io.IEBitmap(), 9, 5, c.samples == 1 && c.bits < 16 ? (c.bits == 1 ? 2 : 12) : 0);
    if (c.alpha)
      for (int x = 0; x < 9; ++x) io.IEBitmap().SetAlpha(x, 1, std::uint8_t(x * 20));
    TIOParamsVals& p = io.IOParams();
    p.BITSPERSAMPLE = c.bits;
    p.SAMPLESPERPIXEL = c.samples;
    p.TGA_GRAYLEVEL = c.greyLevel;
    p.TGA_COMPRESSED = c.compressed;
    const Bytes b = Save(io);
    EXPECT_EQ(b[1], c.mapLength ? 1 : 0);
    EXPECT_EQ(b[2], c.type);
    EXPECT_EQ(Get16(b, 5), c.mapLength);
    EXPECT_EQ(b[7], c.mapLength ? 24 : 0);
    EXPECT_EQ(b[16], c.depth);
    EXPECT_EQ(b[17], c.descriptor);
    EXPECT_EQ(p.TGA_COMPRESSED, c.compressedAfter);

    Loaded l;
    Load(l, b);
    ASSERT_TRUE(l.Ok()) << l.io.AbortReason;
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 9; ++x) {
        TRGB want = io.IEBitmap().GetPixels(x, y);
        if (c.greyLevel) want = CreateRGB(_RGBToGray(want), _RGBToGray(want), _RGBToGray(want));
        EXPECT_EQ(l.Bmp().GetPixels(x, y), want) << x << "," << y;
        if (c.alpha) {
          EXPECT_EQ(l.Bmp().GetAlpha(x, y), io.IEBitmap().GetAlpha(x, y));
        }
      }
  }
}

TEST(TGAWrite, BlackAndWhiteImages) {
  TImageIO io;
  io.IEBitmap().Allocate(13, 3, ie1g);
  io.IEBitmap().SetPixels_ie1g(12, 2, true);
  io.IOParams().BITSPERSAMPLE = 1;
  io.IOParams().SAMPLESPERPIXEL = 1;
  Bytes b = Save(io);
  EXPECT_EQ(b[2], 9);
  Loaded l;
  Load(l, b);
  ASSERT_TRUE(l.Ok());
  EXPECT_EQ(l.Bmp().GetPixels(12, 2), kWhite);
  EXPECT_EQ(l.Bmp().GetPixels(11, 2), kBlack);
  // Asked for true colour, a black-and-white image is written as such.
  io.IOParams().SAMPLESPERPIXEL = 3;
  io.IOParams().BITSPERSAMPLE = 8;
  b = Save(io);
  EXPECT_EQ(b[16], 24);
}

TEST(TGAWrite, OnlyColourAndBlackAndWhiteImages) {
  TIEBitmap grey(4, 4, ie8g);
  TIOParamsVals p;
  bool abort = false;
  TProgressRec progress;
  progress.AbortFlag = &abort;
  TMemoryStream m;
  WriteTGAStream(m, grey, p, progress, nullptr);
  EXPECT_TRUE(abort);
  EXPECT_EQ(m.GetSize(), 0);
}

// ---- content test --------------------------------------------------------------------------------

TEST(TGADetect, TryTGA) {
  TgaFile rgb;
  rgb.Pixels.assign(12, 1);
  struct Case {
    const char* what;
    Bytes bytes;
    bool expected;
  };
  auto with = [&](auto change) {
    TgaFile f = rgb;
    change(f);
    return Build(f);
  };
  Bytes netpbm = Build(rgb);
  netpbm[0] = 'P';
  netpbm[1] = '6';
  netpbm[2] = '\n';
  const Case cases[] = {
      {"true colour", Build(rgb), true},
      {"netpbm start", netpbm, false},
      {"colour-mapped without a map", with([](TgaFile& f) {
         f.Type = 1;
         f.Depth = 8;
       }),
       false},
      {"colour map cut", with([](TgaFile& f) {
         f.Type = 1;
         f.MapType = 1;
         f.MapLength = 256;
         f.MapBits = 24;
         f.Depth = 8;
       }),
       false},
      {"colour map type 2", with([](TgaFile& f) { f.MapType = 2; }), false},
      {"true colour of 8 bits", with([](TgaFile& f) { f.Depth = 8; }), false},
      {"grey and alpha", with([](TgaFile& f) {
         f.Type = 11;
         f.Depth = 16;
       }),
       true},
      {"height 0", with([](TgaFile& f) { f.Height = 0; }), false},
      {"header only", with([](TgaFile& f) { f.Pixels.clear(); }), false},
  };
  for (const Case& c : cases) {
    TMemoryStream m(c.bytes);
    m.Seek(0, soBeginning);
    EXPECT_EQ(TryTGA(m), c.expected) << c.what;
    EXPECT_EQ(m.GetPosition(), 0) << c.what;
  }
  TMemoryStream m(Build(rgb));
  EXPECT_EQ(FindStreamFormat(m), ioTGA);
}

// Files of the corpus: every Targa file the reference reads passes the
// test; no file of another format does (the test has no magic number).
TEST(TGADetect, CorpusFilesOfOtherFormatsAreNotTaken) {
  const std::vector<CorpusFile> manifest = ReadCorpusManifest();
  if (manifest.empty()) GTEST_SKIP() << "corpus not available";
  int others = 0, targas = 0;
  for (const CorpusFile& f : manifest) {
    const std::string& path = f.path;
    const std::string& format = f.format;
    const bool tgaName = path.size() > 4 && path.compare(path.size() - 4, 4, ".tga") == 0;
    TFileStream s(CorpusDir() + path, TFileMode::fmOpenRead);
    const bool taken = TryTGA(s);
    if (format == "TGA" && f.referenceOk) {
      EXPECT_TRUE(taken) << path;
      ++targas;
    } else if (!tgaName) {
      EXPECT_FALSE(taken) << path << " (" << format << ")";
      ++others;
    }
  }
  EXPECT_GT(targas, 30);
  EXPECT_GT(others, 400);
}

}  // namespace
}  // namespace pravik
