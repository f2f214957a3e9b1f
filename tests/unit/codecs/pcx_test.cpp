#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "codecs/pcx/pcx.h"
#include "image/bitmap.h"
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

// ---- fixtures ---------------------------------------------------------------------------------

struct PcxFile {
  std::uint8_t Version = 5, Encoding = 1, Bits = 8, Planes = 1;
  int Width = 1, Height = 1;
  std::uint16_t BytesPerLine = 0;  // 0: from width and bits, made even
  std::uint16_t HRes = 72, VRes = 72;
  TRGB Palette[16] = {};
};

Bytes Header(const PcxFile& f) {
  Bytes b(128, 0);
  b[0] = 10;
  b[1] = f.Version;
  b[2] = f.Encoding;
  b[3] = f.Bits;
  auto put16 = [&](int at, int v) {
    b[at] = std::uint8_t(v);
    b[at + 1] = std::uint8_t(v >> 8);
  };
  put16(8, f.Width - 1);
  put16(10, f.Height - 1);
  put16(12, f.HRes);
  put16(14, f.VRes);
  for (int i = 0; i < 16; ++i) {
    b[16 + 3 * i] = f.Palette[i].r;
    b[17 + 3 * i] = f.Palette[i].g;
    b[18 + 3 * i] = f.Palette[i].b;
  }
  b[65] = f.Planes;
  int bpl = f.BytesPerLine;
  if (bpl == 0) {
    bpl = (f.Width * f.Bits + 7) / 8;
    bpl += bpl & 1;
  }
  put16(66, bpl);
  put16(68, 1);
  return b;
}

// Run-length codes bytes without runs: every byte as itself, or as a run of
// one when it would read as a run header.
Bytes Literal(const Bytes& line) {
  Bytes out;
  for (std::uint8_t v : line) {
    if (v >= 0xC0) out.push_back(0xC1);
    out.push_back(v);
  }
  return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Palette256() {
  Bytes b{0x0C};
  for (int i = 0; i < 256; ++i) b.insert(b.end(), {std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i / 2)});
  return b;
}

// By content when fileType is 0.
void Load(Loaded& l, const Bytes& file, int fileType = 0) { codectest::LoadBytes(l.io, file, fileType); }
Bytes Save(TImageIO& io, int fileType = ioPCX) { return codectest::SaveBytes(io, fileType); }

// ---- reading ----------------------------------------------------------------------------------

TEST(PCXRead, EveryLayoutGivesItsPixels) {
  PcxFile f;
  f.Palette[0] = CreateRGB(0, 0, 0);
  for (int i = 1; i < 16; ++i) f.Palette[i] = CreateRGB(std::uint8_t(i * 16), std::uint8_t(i), std::uint8_t(255 - i));

  struct Case {
    const char* what;
    std::uint8_t bits, planes;
    int width;
    Bytes lines;  // one row, every plane line of bytes-per-line bytes
    std::vector<TRGB> expected;
    int bitsPerSample, samplesPerPixel, colorMapCount;
  };
  const Case cases[] = {
      {"4 bits, 1 plane", 4, 1, 3, {0x1F, 0x30}, {f.Palette[1], f.Palette[15], f.Palette[3]}, 4, 1, 16},
      // Plane k gives bit k of the index: pixel 0 = 1 + 4 = 5, pixel 1 = 2 + 8 = 10.
      {"EGA: 1 bit, 4 planes", 1, 4, 2, {0x80, 0, 0x40, 0, 0x80, 0, 0x40, 0}, {f.Palette[5], f.Palette[10]}, 4, 1, 16},
      {"2 bits, 1 plane", 2, 1, 3, {0x1B, 0}, {f.Palette[0], f.Palette[1], f.Palette[2]}, 2, 1, 4},
      {"24 bits, 3 planes", 8, 3, 2, {10, 20, 30, 40, 50, 60}, {CreateRGB(10, 30, 50), CreateRGB(20, 40, 60)}, 8, 3, 0},
      {"32 bits, 4 planes (alpha dropped)", 8, 4, 2, {10, 20, 30, 40, 50, 60, 70, 80},
       {CreateRGB(10, 30, 50), CreateRGB(20, 40, 60)}, 8, 4, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (std::uint8_t encoding : {0, 1}) {
      PcxFile g = f;
      g.Bits = c.bits;
      g.Planes = c.planes;
      g.Width = c.width;
      g.Encoding = encoding;
      Loaded l;
      Load(l, Cat({Header(g), encoding ? Literal(c.lines) : c.lines}));
      ASSERT_TRUE(l.Ok()) << l.io.AbortReason;
      EXPECT_EQ(l.P().FILETYPE, ioPCX);
      EXPECT_EQ(l.Bmp().GetPixelFormat(), ie24RGB);
      for (int x = 0; x < c.width; ++x) EXPECT_EQ(l.Bmp().GetPixels(x, 0), c.expected[std::size_t(x)]) << x;
      EXPECT_EQ(l.P().BITSPERSAMPLE, c.bitsPerSample);
      EXPECT_EQ(l.P().SAMPLESPERPIXEL, c.samplesPerPixel);
      EXPECT_EQ(l.P().COLORMAPCOUNT, c.colorMapCount);
      if (c.colorMapCount > 1) {
        EXPECT_EQ(l.P().COLORMAP[1], f.Palette[1]);
      }
    }
  }
}

TEST(PCXRead, OneBitRowsAreCopiedWithSetBitsWhite) {
  PcxFile f;
  f.Bits = 1;
  f.Width = 10;
  f.Height = 2;
  f.Encoding = 0;
  Loaded l;
  Load(l, Cat({Header(f), {0xA5, 0xFF, 0x40, 0x00}}));
  ASSERT_TRUE(l.Ok()) << l.io.AbortReason;
  ASSERT_EQ(l.Bmp().GetPixelFormat(), ie1g);
  const bool row0[10] = {1, 0, 1, 0, 0, 1, 0, 1, 1, 1};
  for (int x = 0; x < 10; ++x) EXPECT_EQ(l.Bmp().GetPixels_ie1g(x, 0), row0[x]) << x;
  EXPECT_TRUE(l.Bmp().GetPixels_ie1g(1, 1));
  EXPECT_FALSE(l.Bmp().GetPixels_ie1g(0, 1));
  // Bits past the width are not carried into the image row.
  EXPECT_EQ(l.Bmp().GetScanLine(0)[1], 0xC0);
  EXPECT_EQ(l.P().BITSPERSAMPLE, 1);
  EXPECT_EQ(l.P().COLORMAPCOUNT, 2);
}

TEST(PCXRead, EightBitPaletteIsTheLast768BytesWhateverPrecedesThem) {
  PcxFile f;
  f.Width = 3;
  f.Height = 2;
  f.Encoding = 0;
  Bytes pal = Palette256();
  for (std::uint8_t marker : {0x0C, 0x00}) {
    pal[0] = marker;
    Loaded l;
    Load(l, Cat({Header(f), {1, 2, 255, 0, 200, 0, 0, 0}, pal}));
    ASSERT_TRUE(l.Ok()) << l.io.AbortReason;
    EXPECT_EQ(l.Bmp().GetPixels(0, 0), CreateRGB(1, 254, 0));
    EXPECT_EQ(l.Bmp().GetPixels(2, 0), CreateRGB(255, 0, 127));
    EXPECT_EQ(l.Bmp().GetPixels(0, 1), CreateRGB(200, 55, 100));
    EXPECT_EQ(l.P().COLORMAPCOUNT, 256);
    EXPECT_EQ(l.P().PCX_VERSION, 5);
  }
  // A file without room for a palette after the header is grey.
  Loaded grey;
  Load(grey, Cat({Header(f), {1, 2, 255, 0, 200, 0, 0, 0}}));
  ASSERT_TRUE(grey.Ok()) << grey.io.AbortReason;
  EXPECT_EQ(grey.Bmp().GetPixels(2, 0), CreateRGB(255, 255, 255));
}

TEST(PCXRead, RunsCrossLineEnds) {
  // 3 planes of 4 bytes: a run of 10 fills the red and green lines and the
  // first 2 bytes of blue; a run of 2 then starts row 1, whose rest is one
  // run of 16 (10 needed): runs go on over line ends.
  PcxFile f;
  f.Planes = 3;
  f.Width = 4;
  f.Height = 2;
  const Bytes data = {0xCA, 7, 1, 2, 0xC2, 9, 0xD0, 5};
  Loaded l;
  Load(l, Cat({Header(f), data}));
  ASSERT_TRUE(l.Ok()) << l.io.AbortReason;
  EXPECT_EQ(l.Bmp().GetPixels(0, 0), CreateRGB(7, 7, 7));
  EXPECT_EQ(l.Bmp().GetPixels(1, 0), CreateRGB(7, 7, 7));
  EXPECT_EQ(l.Bmp().GetPixels(2, 0), CreateRGB(7, 7, 1));
  EXPECT_EQ(l.Bmp().GetPixels(3, 0), CreateRGB(7, 7, 2));
  EXPECT_EQ(l.Bmp().GetPixels(1, 1), CreateRGB(9, 5, 5));
  EXPECT_EQ(l.Bmp().GetPixels(2, 1), CreateRGB(5, 5, 5));
}

TEST(PCXRead, ResolutionWithAZeroAxisIsTheDefault) {
  PcxFile f;
  f.Planes = 3;
  f.HRes = 72;
  f.VRes = 0;
  Loaded l;
  Load(l, Cat({Header(f), {0xC6, 0}}));
  ASSERT_TRUE(l.Ok());
  EXPECT_EQ(l.P().DPIX(), gDefaultDPIX);
  EXPECT_EQ(l.P().DPIY(), gDefaultDPIY);
  f.VRes = 150;
  Loaded both;
  Load(both, Cat({Header(f), {0xC6, 0}}));
  EXPECT_EQ(both.P().DPIX(), 72);
  EXPECT_EQ(both.P().DPIY(), 150);
}

TEST(PCXRead, PreviewFillsParametersOnly) {
  PcxFile f;
  f.Planes = 3;
  f.Width = 300;
  f.Height = 200;
  TMemoryStream m(Cat({Header(f), {0xC1, 0}}));
  TIEBitmap bmp;
  TIOParamsVals p;
  bool abort = false;
  TProgressRec progress;
  progress.AbortFlag = &abort;
  ReadPcxStream(m, bmp, p, m.GetSize(), progress, true);
  EXPECT_FALSE(abort);
  EXPECT_TRUE(bmp.IsEmpty());
  EXPECT_EQ(p.WIDTH, 300);
  EXPECT_EQ(p.HEIGHT, 200);
  EXPECT_EQ(p.SAMPLESPERPIXEL, 3);

  // A header the reader cannot decode is still described; loading it fails.
  f.Planes = 2;
  f.BytesPerLine = 2;
  TMemoryStream odd(Cat({Header(f), {0xC1, 0}}));
  ReadPcxStream(odd, bmp, p, odd.GetSize(), progress, true);
  EXPECT_FALSE(abort);
  EXPECT_EQ(p.SAMPLESPERPIXEL, 2);
  odd.Seek(0, soBeginning);
  ReadPcxStream(odd, bmp, p, odd.GetSize(), progress, false);
  EXPECT_TRUE(abort);
  EXPECT_TRUE(bmp.IsEmpty());
}

TEST(PCXRead, BadInputFailsCleanly) {
  PcxFile ok;
  ok.Planes = 3;
  ok.Width = 8;
  ok.Height = 4;
  auto with = [&](auto change) {
    PcxFile f = ok;
    change(f);
    return Header(f);
  };
  const Bytes header = Header(ok);
  Bytes badManufacturer = header;
  badManufacturer[0] = 11;
  Bytes leftOfLeft = Header(ok);
  leftOfLeft[4] = 9;  // x min 9, x max 7
  struct Case {
    const char* what;
    Bytes file;
  };
  const Case cases[] = {
      {"shorter than a header", Bytes(header.begin(), header.begin() + 100)},
      {"manufacturer", badManufacturer},
      {"encoding 2", with([](PcxFile& f) { f.Encoding = 2; })},
      {"16 bits per pixel", with([](PcxFile& f) { f.Bits = 16; })},
      {"8 bits in 2 planes", with([](PcxFile& f) { f.Planes = 2; })},
      {"4 bits in no plane", Cat({with([](PcxFile& f) {
         f.Bits = 4;
         f.Planes = 0;
         f.Width = f.Height = 6000;
       }),
                                  {0xC1, 0}})},
      {"right edge left of the left edge", leftOfLeft},
      {"lines shorter than the width", with([](PcxFile& f) { f.BytesPerLine = 4; })},
      {"absurd size over a few bytes", Cat({with([](PcxFile& f) { f.Width = f.Height = 60000; }), {0xFF, 1}})},
      {"no image data", Header(ok)},
  };
  for (const Case& c : cases) {
    Loaded l;
    Load(l, c.file, ioPCX);
    EXPECT_TRUE(l.io.AbortFlag) << c.what;
    EXPECT_FALSE(l.io.AbortReason.empty()) << c.what;
  }
}

TEST(PCXRead, CutDataKeepsTheRowsThereAndReportsTheRest) {
  PcxFile f;
  f.Planes = 3;
  f.Width = 2;
  f.Height = 3;
  f.Encoding = 0;
  // Row 0 complete, row 1 half there (a run header without its value at the end).
  for (std::uint8_t encoding : {0, 1}) {
    f.Encoding = encoding;
    const Bytes rows = encoding ? Bytes{0xC2, 1, 0xC2, 2, 0xC2, 3, 0xC2, 4, 0xC2} : Bytes{1, 1, 2, 2, 3, 3, 4, 4, 5};
    Loaded l;
    Load(l, Cat({Header(f), rows}));
    EXPECT_TRUE(l.io.AbortFlag);
    EXPECT_EQ(l.io.AbortReason, "truncated PCX data");
    ASSERT_EQ(l.Bmp().GetWidth(), 2);
    EXPECT_EQ(l.Bmp().GetPixels(1, 0), CreateRGB(1, 2, 3));
    EXPECT_EQ(l.Bmp().GetPixels(0, 1).r, 4);
    EXPECT_EQ(l.Bmp().GetPixels(0, 2), CreateRGB(0, 0, 0));
  }
}

TEST(PCXRead, TaggedStreamsLoad) {
  PcxFile f;
  f.Planes = 3;
  const Bytes image = Cat({Header(f), {0xC6, 9}});
  Bytes tagged = {'P', 'C', 'X', '2', 0, 0, 0, 0, std::uint8_t(image.size()), 0, 0, 0};
  tagged = Cat({tagged, image, {1, 2, 3}});
  Loaded l;
  Load(l, tagged);
  ASSERT_TRUE(l.Ok()) << l.io.AbortReason;
  EXPECT_EQ(l.Bmp().GetPixels(0, 0), CreateRGB(9, 9, 9));
  Loaded plain;
  Load(plain, Cat({{'P', 'C', 'X', 0}, image}));
  ASSERT_TRUE(plain.Ok()) << plain.io.AbortReason;
}

// ---- writing ----------------------------------------------------------------------------------

void Fill(TIEBitmap& bmp, int w, int h, int colours) {
  bmp.Allocate(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int k = colours ? (x + 3 * y) % colours : 0;
      bmp.SetPixels_ie24RGB(
          x, y, colours ? CreateRGB(std::uint8_t(k * 7), std::uint8_t(k * 3), std::uint8_t(255 - k))
                        : CreateRGB(std::uint8_t(x * 9), std::uint8_t(y * 5), std::uint8_t(x * y)));
    }
}

TEST(PCXWrite, ConverterOutputIs24BitThreePlanesWithEvenLines) {
  TImageIO io;
  Fill(io.IEBitmap(), 5, 2, 0);
  io.IOParams().BITSPERSAMPLE = 8;
  io.IOParams().SAMPLESPERPIXEL = 3;
  const Bytes b = Save(io);
  EXPECT_EQ(b[0], 10);
  EXPECT_EQ(b[1], 5);
  EXPECT_EQ(b[2], 1);
  EXPECT_EQ(b[3], 8);
  EXPECT_EQ(Get16(b, 8), 4);
  EXPECT_EQ(Get16(b, 10), 1);
  EXPECT_EQ(b[65], 3);
  EXPECT_EQ(Get16(b, 66), 6);
  EXPECT_EQ(Get16(b, 68), 0);
  // Red line of row 0: 0 9 18 27 36 and the padding 0, all literals.
  const Bytes red(b.begin() + 128, b.begin() + 134);
  EXPECT_EQ(red, (Bytes{0, 9, 18, 27, 36, 0}));
}

TEST(PCXWrite, RunLengthCoding) {
  struct Case {
    Bytes line;  // the red bytes of a one-row image
    Bytes coded;
  };
  Bytes hundred(100, 0x42);
  const Case cases[] = {
      {{7, 7, 7, 7, 200, 5}, {0xC4, 7, 0xC1, 200, 5}},
      {{1, 2, 3}, {1, 2, 3, 0}},
      {hundred, {0xFF, 0x42, 0xE5, 0x42}},
  };
  for (const Case& c : cases) {
    TImageIO io;
    const int w = static_cast<int>(c.line.size());
    io.IEBitmap().Allocate(w, 1, ie24RGB);
    for (int x = 0; x < w; ++x) io.IEBitmap().SetPixels_ie24RGB(x, 0, CreateRGB(c.line[std::size_t(x)], 0, 0));
    const Bytes b = Save(io);
    const Bytes red(b.begin() + 128, b.begin() + 128 + std::ptrdiff_t(c.coded.size()));
    EXPECT_EQ(red, c.coded) << w;
  }
}

TEST(PCXWrite, EveryDepthRoundTrips) {
  struct Case {
    const char* what;
    int bits, samples, colours;
    std::uint8_t fileBits, filePlanes;
  };
  const Case cases[] = {
      {"24 bits", 8, 3, 0, 8, 3},          {"8 bits", 8, 1, 200, 8, 1},     {"4 bits", 4, 1, 16, 4, 1},
      {"1 bit, two colours", 1, 1, 2, 1, 1}, {"8 bits x 4 samples: 24", 8, 4, 0, 8, 3},
  };
  for (const Case& c : cases) {
    for (auto compression : {ioPCX_RLE, ioPCX_UNCOMPRESSED}) {
      SCOPED_TRACE(c.what);
      TImageIO io;
      Fill(io.IEBitmap(), 13, 7, c.colours);
      io.IOParams().BITSPERSAMPLE = c.bits;
      io.IOParams().SAMPLESPERPIXEL = c.samples;
      io.IOParams().PCX_COMPRESSION = compression;
      const Bytes b = Save(io);
      EXPECT_EQ(b[2], compression == ioPCX_RLE ? 1 : 0);
      EXPECT_EQ(b[3], c.fileBits);
      EXPECT_EQ(b[65], c.filePlanes);
      EXPECT_EQ(Get16(b, 66) % 2, 0);
      if (c.bits == 8 && c.samples == 1) {
        EXPECT_EQ(b[b.size() - 769], 0x0C);
      }
      Loaded l;
      Load(l, b);
      ASSERT_TRUE(l.Ok()) << l.io.AbortReason;
      if (c.bits == 1) {
        // Two colours become the two levels; the colours are in the header palette.
        ASSERT_EQ(l.Bmp().GetPixelFormat(), ie1g);
        ASSERT_EQ(l.P().COLORMAP.size(), 2u);
        for (int y = 0; y < 7; ++y)
          for (int x = 0; x < 13; ++x)
            EXPECT_EQ(l.P().COLORMAP[l.Bmp().GetPixels_ie1g(x, y)], io.IEBitmap().GetPixels(x, y)) << x << "," << y;
        continue;
      }
      for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 13; ++x) EXPECT_EQ(l.Bmp().GetPixels(x, y), io.IEBitmap().GetPixels(x, y)) << x << "," << y;
    }
  }
}

TEST(PCXWrite, BlackAndWhiteImageIsWrittenAsItIs) {
  TImageIO io;
  io.IEBitmap().Allocate(11, 3, ie1g);
  io.IEBitmap().SetPixels_ie1g(2, 1, true);
  io.IEBitmap().SetPixels_ie1g(10, 2, true);
  io.IOParams().BITSPERSAMPLE = 8;  // the writer's depth still decides: 24
  io.IOParams().SAMPLESPERPIXEL = 3;
  Bytes b = Save(io);
  EXPECT_EQ(b[3], 8);
  io.IOParams().BITSPERSAMPLE = 1;
  io.IOParams().SAMPLESPERPIXEL = 1;
  b = Save(io);
  EXPECT_EQ(b[3], 1);
  EXPECT_EQ(b[16 + 3], 255);  // palette entry 1 is white
  Loaded l;
  Load(l, b);
  ASSERT_TRUE(l.Ok());
  EXPECT_TRUE(l.Bmp().GetPixels_ie1g(2, 1));
  EXPECT_TRUE(l.Bmp().GetPixels_ie1g(10, 2));
  EXPECT_FALSE(l.Bmp().GetPixels_ie1g(3, 1));
}

TEST(PCXWrite, ShortWritesAndAbortStopTheWriterWithoutThePalette) {
  TImageIO io;
  Fill(io.IEBitmap(), 64, 64, 100);
  io.IOParams().BITSPERSAMPLE = 8;
  io.IOParams().SAMPLESPERPIXEL = 1;
  io.IOParams().PCX_COMPRESSION = ioPCX_UNCOMPRESSED;
  TMemoryStream limited;
  limited.WriteLimit = 1000;
  io.SaveToStream(limited, ioPCX);
  EXPECT_TRUE(io.AbortFlag);
  EXPECT_LE(limited.GetSize(), 1000);

  // The user stops after the first rows: no palette is appended.
  int reports = 0;
  io.OnProgress = [&](void*, int) {
    if (++reports == 3) io.AbortFlag = true;
  };
  TMemoryStream m;
  io.SaveToStream(m, ioPCX);
  EXPECT_TRUE(io.AbortFlag);
  EXPECT_LT(m.GetSize(), 128 + 64 * 64);
  EXPECT_EQ(m.GetSize() % 64, 0);  // whole rows, no palette
}

// ---- DCX ----------------------------------------------------------------------------------------

Bytes Dcx(const std::vector<Bytes>& pages, std::size_t tableEntries = 1024) {
  Bytes out = {0xB1, 0x68, 0xDE, 0x3A};
  std::uint32_t at = std::uint32_t(4 + 4 * tableEntries);
  for (const Bytes& p : pages) {
    out.insert(out.end(), {std::uint8_t(at), std::uint8_t(at >> 8), std::uint8_t(at >> 16), std::uint8_t(at >> 24)});
    at += std::uint32_t(p.size());
  }
  out.resize(4 + 4 * tableEntries, 0);
  for (const Bytes& p : pages) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Page(int width, std::uint8_t value) {
  PcxFile f;
  f.Planes = 3;
  f.Width = width;
  const std::uint8_t run = std::uint8_t(0xC0 | (3 * (width + (width & 1))));
  return Cat({Header(f), {run, value}});
}

TEST(DCXRead, PageChosenByIndexClampedToThePages) {
  const Bytes file = Dcx({Page(2, 10), Page(4, 20), Page(6, 30)});
  struct Case {
    int index, width;
    std::uint8_t value;
  };
  for (const Case c : {Case{0, 2, 10}, Case{1, 4, 20}, Case{2, 6, 30}, Case{7, 6, 30}, Case{-3, 2, 10}}) {
    Loaded l;
    l.P().DCX_IMAGEINDEX = c.index;
    Load(l, file);
    ASSERT_TRUE(l.Ok()) << l.io.AbortReason;
    EXPECT_EQ(l.P().FILETYPE, ioDCX);
    EXPECT_EQ(l.Bmp().GetWidth(), c.width) << c.index;
    EXPECT_EQ(l.Bmp().GetPixels(0, 0).r, c.value) << c.index;
  }
  // A short table (ended by its 0) works as well.
  Loaded shortTable;
  shortTable.P().DCX_IMAGEINDEX = 1;
  Load(shortTable, Dcx({Page(2, 1), Page(4, 2)}, 3));
  ASSERT_TRUE(shortTable.Ok()) << shortTable.io.AbortReason;
  EXPECT_EQ(shortTable.Bmp().GetWidth(), 4);
}

TEST(DCXRead, PagesOutOfTheFileFailCleanly) {
  Bytes noPages = Dcx({});
  Bytes pastEnd = Dcx({Page(2, 1)});
  pastEnd[6] = 0x7F;  // first offset far past the end
  Bytes onlyMagic = {0xB1, 0x68, 0xDE, 0x3A, 0, 0, 0, 0};
  for (const Bytes* b : {&noPages, &pastEnd, &onlyMagic}) {
    Loaded l;
    Load(l, *b, ioDCX);
    EXPECT_TRUE(l.io.AbortFlag);
  }
}

TEST(DCXWrite, OnePageFileReadsBack) {
  TImageIO io;
  Fill(io.IEBitmap(), 9, 4, 0);
  const Bytes b = Save(io, ioDCX);
  ASSERT_GT(b.size(), 4100u);
  EXPECT_EQ(Get16(b, 4), 4100);
  EXPECT_EQ(Get16(b, 8), 0);
  EXPECT_EQ(b[4100], 10);
  TMemoryStream m(b);
  EXPECT_EQ(FindStreamFormat(m), ioDCX);
  Loaded l;
  Load(l, b);
  ASSERT_TRUE(l.Ok());
  EXPECT_EQ(l.Bmp().GetPixels(8, 3), io.IEBitmap().GetPixels(8, 3));
}

// ---- detection ------------------------------------------------------------------------------------

TEST(PCXDetect, HeaderTestTakesOnlyHeadersTheReaderTakes) {
  PcxFile f;
  f.Planes = 3;
  Bytes pcx = Cat({Header(f), {0xC6, 0}});
  TMemoryStream m(pcx);
  EXPECT_EQ(FindStreamFormat(m), ioPCX);
  EXPECT_EQ(m.GetPosition(), 0);
  // A Targa file with a 10-byte identification field also starts with 0x0A
  // and a small byte; its image type is no PCX encoding.
  Bytes tga = {10, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0x20};
  tga.resize(18 + 10 + 12 + 200, 0x55);
  TMemoryStream t(tga);
  EXPECT_EQ(FindStreamFormat(t), ioTGA);
}

}  // namespace
}  // namespace pravik
