// Icon and cursor reader, icon writer: the directory, every entry depth, AND
// masks and alpha, the writer's entry depths, and bad files failing cleanly.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "codecs/bitmap/ico.h"
#include "image/bitmap.h"
#include "imageio/formats.h"
#include "imageio/imageio.h"
#include "imageio/params.h"
#include "imageio/stream.h"
#include "unit/codecs/codec_test_util.h"

namespace pravik::codectest {
namespace {

// The image data of one entry: header, palette, XOR bitmap and AND mask.
struct ImageSpec {
  int width = 4, height = 4;
  int bits = 32;
  int headerHeight = -1;  // -1: twice the height
  int headerWidth = -1;
  std::vector<TRGB> palette;
  // Pixel value at (x, y), y = 0 the top: an index, or 0xAARRGGBB.
  std::function<std::uint32_t(int, int)> pixel = [](int, int) { return 0u; };
  std::function<bool(int, int)> transparent = [](int, int) { return false; };
  bool withMask = true;
  std::uint32_t compression = 0;
};

Bytes IconImage(const ImageSpec& s) {
  Bytes b;
  Put32(b, 40);
  Put32(b, std::uint32_t(s.headerWidth >= 0 ? s.headerWidth : s.width));
  Put32(b, std::uint32_t(s.headerHeight >= 0 ? s.headerHeight : 2 * s.height));
  Put16(b, 1);
  Put16(b, std::uint32_t(s.bits));
  Put32(b, s.compression);
  for (int i = 0; i < 5; ++i) Put32(b, 0);
  for (const TRGB& c : s.palette) {
    b.push_back(c.b);
    b.push_back(c.g);
    b.push_back(c.r);
    b.push_back(0);
  }
  const int xorRow = ((s.width * s.bits + 31) / 32) * 4, andRow = ((s.width + 31) / 32) * 4;
  for (int y = s.height - 1; y >= 0; --y) {
    Bytes row(std::size_t(xorRow), 0);
    for (int x = 0; x < s.width; ++x) {
      const std::uint32_t v = s.pixel(x, y);
      switch (s.bits) {
        case 1: row[x / 8] |= std::uint8_t((v & 1) << (7 - x % 8)); break;
        case 4: row[x / 2] |= std::uint8_t((v & 15) << (x % 2 ? 0 : 4)); break;
        case 8: row[x] = std::uint8_t(v); break;
        default:
          for (int k = 0; k < s.bits / 8; ++k) row[std::size_t(x * (s.bits / 8) + k)] = std::uint8_t(v >> (8 * k));
      }
    }
    b.insert(b.end(), row.begin(), row.end());
  }
  if (s.withMask)
    for (int y = s.height - 1; y >= 0; --y) {
      Bytes row(std::size_t(andRow), 0);
      for (int x = 0; x < s.width; ++x)
        if (s.transparent(x, y)) row[x / 8] |= std::uint8_t(0x80 >> (x % 8));
      b.insert(b.end(), row.begin(), row.end());
    }
  return b;
}

struct EntrySpec {
  int width, height;  // directory bytes
  int colours = 0;
  int planes = 1, bitCount = 0;
  Bytes data;
  std::int64_t offset = -1;  // -1: where the data lands
};

Bytes BuildIco(int type, const std::vector<EntrySpec>& entries) {
  Bytes f;
  Put16(f, 0);
  Put16(f, std::uint32_t(type));
  Put16(f, std::uint32_t(entries.size()));
  std::size_t at = 6 + 16 * entries.size();
  for (const EntrySpec& e : entries) {
    f.push_back(std::uint8_t(e.width));
    f.push_back(std::uint8_t(e.height));
    f.push_back(std::uint8_t(e.colours));
    f.push_back(0);
    Put16(f, std::uint32_t(e.planes));
    Put16(f, std::uint32_t(e.bitCount));
    Put32(f, std::uint32_t(e.data.size()));
    Put32(f, std::uint32_t(e.offset >= 0 ? std::size_t(e.offset) : at));
    at += e.data.size();
  }
  for (const EntrySpec& e : entries) f.insert(f.end(), e.data.begin(), e.data.end());
  return f;
}

EntrySpec Entry(const ImageSpec& s) { return EntrySpec{s.width & 255, s.height & 255, 0, 1, s.bits, IconImage(s)}; }

LoadResult Load(TImageIO& io, const Bytes& file, int format = ioICO) { return LoadBytes(io, file, format); }

std::uint32_t Argb(int a, int r, int g, int b) { return std::uint32_t(a) << 24 | r << 16 | g << 8 | b; }

// ---- reader ------------------------------------------------------------------------------

TEST(IcoReader, DirectoryIsListedAndTheIndexedEntryLoads) {
  std::vector<EntrySpec> entries;
  for (int side : {48, 32, 16}) {
    ImageSpec s;
    s.width = s.height = side;
    s.pixel = [side](int, int) { return Argb(255, side, 0, 0); };
    entries.push_back(Entry(s));
  }
  const Bytes file = BuildIco(1, entries);
  TImageIO io;
  io.IOParams().SetImageIndex(1);
  ASSERT_FALSE(Load(io, file).aborted) << io.AbortReason;
  EXPECT_EQ(io.IEBitmap().GetWidth(), 32);
  EXPECT_EQ(io.IEBitmap().GetPixels(3, 3), CreateRGB(32, 0, 0));
  const auto& sizes = io.IOParams().ICO_SIZES;
  EXPECT_EQ(sizes[0], (TIOICOSize{48, 48}));
  EXPECT_EQ(sizes[1], (TIOICOSize{32, 32}));
  EXPECT_EQ(sizes[2], (TIOICOSize{16, 16}));
  EXPECT_EQ(sizes[3], (TIOICOSize{0, 0}));
  EXPECT_EQ(io.IOParams().ICO_BITCOUNT[1], 32);
  EXPECT_EQ(io.IOParams().FILETYPE, ioICO);
  EXPECT_EQ(io.IOParams().BITSPERSAMPLE, 8);
  EXPECT_EQ(io.IOParams().SAMPLESPERPIXEL, 4);
}

TEST(IcoReader, SizeFromHeaderAndTheLastEntryRule) {
  ImageSpec small;
  small.width = small.height = 8;
  ImageSpec big;
  big.width = big.height = 20;
  EntrySpec zeroWidth = Entry(big);
  zeroWidth.width = zeroWidth.height = 0;  // "take it from the header"
  // Index 0 has a zero size byte: the last entry loads instead.
  TImageIO io;
  ASSERT_FALSE(Load(io, BuildIco(1, {zeroWidth, Entry(small)})).aborted);
  EXPECT_EQ(io.IEBitmap().GetWidth(), 8);
  EXPECT_EQ(io.IOParams().ICO_SIZES[0], (TIOICOSize{0, 0}));
  // Alone, it is the last entry, and its header gives the size.
  TImageIO io2;
  ASSERT_FALSE(Load(io2, BuildIco(1, {zeroWidth})).aborted);
  EXPECT_EQ(io2.IEBitmap().GetWidth(), 20);
  EXPECT_EQ(io2.IEBitmap().GetHeight(), 20);
  // The directory says 32 x 32, the header 48 x 96: the header lays out the data.
  ImageSpec liar;
  liar.width = liar.height = 48;
  EntrySpec e = Entry(liar);
  e.width = e.height = 32;
  TImageIO io3;
  ASSERT_FALSE(Load(io3, BuildIco(1, {e})).aborted);
  EXPECT_EQ(io3.IEBitmap().GetWidth(), 48);
  EXPECT_EQ(io3.IEBitmap().GetHeight(), 48);
  // An implausible header does not win over the directory.
  ImageSpec bomb;
  bomb.width = bomb.height = 16;
  bomb.headerWidth = 65535;
  bomb.headerHeight = 65535;
  TImageIO io4;
  ASSERT_FALSE(Load(io4, BuildIco(1, {Entry(bomb)})).aborted);
  EXPECT_EQ(io4.IEBitmap().GetWidth(), 16);
}

TEST(IcoReader, ThirtyTwoBitTransparency) {
  struct Case {
    const char* name;
    std::function<std::uint32_t(int, int)> pixel;
    bool expectAlpha;
    int expectAt00, expectAt10;
  };
  const Case cases[] = {
      {"alpha bytes", [](int x, int) { return Argb(x == 0 ? 7 : 255, 1, 2, 3); }, true, 7, 255},
      {"all alpha 0: the AND mask decides", [](int, int) { return Argb(0, 1, 2, 3); }, true, 0, 255},
      {"all alpha 255: no alpha channel", [](int, int) { return Argb(255, 1, 2, 3); }, false, 255, 255},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ImageSpec s;
    s.pixel = c.pixel;
    s.transparent = [](int x, int y) { return x == 0 && y == 0; };
    TImageIO io;
    ASSERT_FALSE(Load(io, BuildIco(1, {Entry(s)})).aborted);
    EXPECT_EQ(io.IEBitmap().GetPixels(2, 2), CreateRGB(1, 2, 3));
    ASSERT_EQ(io.IEBitmap().GetHasAlphaChannel(), c.expectAlpha);
    EXPECT_EQ(io.IEBitmap().GetAlpha(0, 0), c.expectAt00);
    EXPECT_EQ(io.IEBitmap().GetAlpha(1, 0), c.expectAt10);
  }
}

TEST(IcoReader, PaletteEntriesShowTheBackgroundUnderTheMask) {
  for (int bits : {4, 8}) {
    SCOPED_TRACE(bits);
    ImageSpec s;
    s.bits = bits;
    s.width = 5;  // odd: half bytes and padding
    s.palette.assign(std::size_t(1) << bits, TRGB{});
    s.palette[3] = CreateRGB(10, 20, 30);
    s.pixel = [](int, int) { return 3u; };
    s.transparent = [](int x, int y) { return x == 4 && y == 1; };
    for (TRGB background : {TRGB{255, 255, 255}, CreateRGB(255, 0, 0)}) {
      TImageIO io;
      io.IOParams().ICO_BACKGROUND = background;
      ASSERT_FALSE(Load(io, BuildIco(1, {Entry(s)})).aborted);
      EXPECT_EQ(io.IEBitmap().GetPixels(0, 0), CreateRGB(10, 20, 30));
      EXPECT_EQ(io.IEBitmap().GetPixels(4, 1), background);
      EXPECT_EQ(io.IEBitmap().GetAlpha(4, 1), 0);
      EXPECT_EQ(io.IEBitmap().GetAlpha(3, 1), 255);
      EXPECT_EQ(io.IOParams().BITSPERSAMPLE, bits);
      EXPECT_EQ(io.IOParams().COLORMAPCOUNT, 1 << bits);
    }
  }
}

TEST(IcoReader, OneBitEntries) {
  const TRGB black{0, 0, 0}, white{255, 255, 255};
  ImageSpec s;
  s.bits = 1;
  s.palette = {black, white};
  // Row 0: opaque black, opaque white, transparent (XOR 0), screen-inverting (XOR 1).
  s.pixel = [](int x, int) { return std::uint32_t(x == 1 || x == 3); };
  s.transparent = [](int x, int) { return x >= 2; };
  struct Case {
    TRGB background;
    TRGB expect[4];
  };
  const Case cases[] = {{white, {black, white, white, black}}, {black, {black, white, black, white}}};
  for (const Case& c : cases) {
    TImageIO io;
    io.IOParams().ICO_BACKGROUND = c.background;
    ASSERT_FALSE(Load(io, BuildIco(1, {Entry(s)})).aborted);
    EXPECT_EQ(io.IEBitmap().GetPixelFormat(), ie1g);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(io.IEBitmap().GetPixels(x, 0), c.expect[x]) << x;
    EXPECT_EQ(io.IEBitmap().GetAlpha(2, 0), 0);
    EXPECT_EQ(io.IEBitmap().GetAlpha(1, 0), 255);
  }
  // A palette that is not black and white keeps its colours.
  s.palette = {CreateRGB(0, 0, 200), CreateRGB(200, 0, 0)};
  TImageIO io;
  ASSERT_FALSE(Load(io, BuildIco(1, {Entry(s)})).aborted);
  EXPECT_EQ(io.IEBitmap().GetPixels(0, 0), CreateRGB(0, 0, 200));
  EXPECT_EQ(io.IEBitmap().GetPixels(1, 0), CreateRGB(200, 0, 0));
}

TEST(IcoReader, TwentyFourBitEntriesKeepTheirMask) {
  ImageSpec s;
  s.bits = 24;
  s.width = 3;
  s.pixel = [](int x, int) { return std::uint32_t(0x010203 * x); };
  s.transparent = [](int x, int y) { return x == 2 && y == 3; };
  TImageIO io;
  ASSERT_FALSE(Load(io, BuildIco(1, {Entry(s)})).aborted);
  EXPECT_EQ(io.IEBitmap().GetPixels(1, 0), CreateRGB(1, 2, 3));
  ASSERT_TRUE(io.IEBitmap().GetHasAlphaChannel());
  EXPECT_EQ(io.IEBitmap().GetAlpha(2, 3), 0);
  EXPECT_EQ(io.IEBitmap().GetAlpha(2, 2), 255);
}

TEST(IcoReader, BitmapStreamLoadsAsBmp) {
  // The smallest BMP: 1 x 1, 24 bits.
  Bytes bmp = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0};
  Put32(bmp, 40);
  Put32(bmp, 1);
  Put32(bmp, 1);
  Put16(bmp, 1);
  Put16(bmp, 24);
  for (int i = 0; i < 6; ++i) Put32(bmp, 0);
  bmp.insert(bmp.end(), {9, 8, 7, 0});
  TImageIO io;
  ASSERT_FALSE(Load(io, bmp).aborted);
  EXPECT_EQ(io.IEBitmap().GetPixels(0, 0), (TRGB{9, 8, 7}));
  EXPECT_EQ(io.IOParams().FILETYPE, ioICO);
}

// A 300 x 2 RGBA PNG made by our own writer: left half opaque red, right
// half transparent.
Bytes PngWithAlpha() {
  TImageIO io;
  io.IEBitmap().Allocate(300, 2, ie24RGB);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 300; ++x) {
      io.IEBitmap().SetPixels_ie24RGB(x, y, TRGB{0, 0, 255});
      io.IEBitmap().SetAlpha(x, y, x < 150 ? 255 : 0);
    }
  return SaveBytes(io, ioPNG);
}

TEST(IcoReader, PngEntriesDecodeWithTheirAlpha) {
  const Bytes png = PngWithAlpha();
  ImageSpec small;
  small.width = small.height = 16;
  // Size bytes 0 (256 and more): the entry asked for loads only as the last.
  for (const bool last : {false, true}) {
    SCOPED_TRACE(last);
    const EntrySpec pngEntry{0, 0, 0, 1, 32, png};
    TImageIO io;
    const Bytes file = last ? BuildIco(1, {Entry(small), pngEntry}) : BuildIco(1, {pngEntry, Entry(small)});
    io.IOParams().ICO_IMAGEINDEX = last ? 1 : 0;
    ASSERT_FALSE(Load(io, file).aborted) << io.AbortReason;
    if (!last) {
      EXPECT_EQ(io.IEBitmap().GetWidth(), 16);
      continue;
    }
    ASSERT_EQ(io.IEBitmap().GetWidth(), 300);
    EXPECT_EQ(io.IOParams().WIDTH, 300);
    EXPECT_EQ(io.IEBitmap().GetPixels(10, 1), (TRGB{0, 0, 255}));
    ASSERT_TRUE(io.IEBitmap().GetHasAlphaChannel());
    EXPECT_EQ(io.IEBitmap().GetAlpha(10, 1), 255);
    EXPECT_EQ(io.IEBitmap().GetAlpha(200, 1), 0);
  }
  // A PNG entry cut short fails cleanly.
  Bytes cut(png.begin(), png.begin() + 60);
  TImageIO io;
  const LoadResult r = Load(io, BuildIco(1, {EntrySpec{32, 32, 0, 1, 32, cut}}));
  EXPECT_TRUE(r.aborted);
}

TEST(CurReader, CursorsKeepTheirHotSpotAndBackground) {
  ImageSpec s;
  s.bits = 1;
  s.palette = {TRGB{0, 0, 0}, TRGB{255, 255, 255}};
  s.transparent = [](int x, int) { return x == 0; };
  EntrySpec e = Entry(s);
  e.planes = 3;    // hot spot x
  e.bitCount = 2;  // hot spot y
  e.colours = 2;
  TImageIO io;
  io.IOParams().ICO_SIZES[5] = TIOICOSize{7, 7};
  io.IOParams().CUR_BACKGROUND = TRGB{0, 0, 0};
  ASSERT_FALSE(Load(io, BuildIco(2, {e}), ioCUR).aborted) << io.AbortReason;
  EXPECT_EQ(io.IOParams().CUR_XHOTSPOT, 3);
  EXPECT_EQ(io.IOParams().CUR_YHOTSPOT, 2);
  EXPECT_EQ(io.IOParams().ICO_SIZES[5], (TIOICOSize{7, 7})) << "cursors leave the icon list alone";
  EXPECT_EQ(io.IEBitmap().GetPixels(0, 0), (TRGB{0, 0, 0}));
  EXPECT_EQ(io.IEBitmap().GetAlpha(0, 0), 0);
  EXPECT_EQ(io.IOParams().FILETYPE, ioCUR);

  ImageSpec colour;  // modern cursors are 32-bit
  colour.pixel = [](int, int) { return Argb(128, 9, 8, 7); };
  EntrySpec c = Entry(colour);
  c.bitCount = 0;
  TImageIO io2;
  ASSERT_FALSE(Load(io2, BuildIco(2, {c}), ioCUR).aborted) << io2.AbortReason;
  EXPECT_EQ(io2.IEBitmap().GetPixels(1, 1), CreateRGB(9, 8, 7));
  EXPECT_EQ(io2.IEBitmap().GetAlpha(1, 1), 128);
}

TEST(IcoReader, ContentTests) {
  ImageSpec s;
  const Bytes icon = BuildIco(1, {Entry(s)});
  const Bytes cursor = BuildIco(2, {Entry(s)});
  Bytes badReserved = icon;
  badReserved[6 + 3] = 1;
  Bytes badOffset = icon;
  badOffset[6 + 12] = 10;  // inside the directory
  struct Case {
    const char* name;
    Bytes file;
    bool ico, cur;
  };
  const Case cases[] = {
      {"icon", icon, true, false},
      {"cursor", cursor, false, true},
      {"entry reserved byte set", badReserved, false, false},
      {"image offset inside the directory", badOffset, false, false},
      {"too short", Bytes(icon.begin(), icon.begin() + 22), false, false},
      {"no entries", Bytes{0, 0, 1, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}, false,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TReadOnlyMemoryStream stream(c.file.data(), std::int64_t(c.file.size()));
    stream.Seek(0, soBeginning);
    EXPECT_EQ(ICOTryStream(stream), c.ico);
    EXPECT_EQ(stream.GetPosition(), 0);
    EXPECT_EQ(CURTryStream(stream), c.cur);
    EXPECT_EQ(stream.GetPosition(), 0);
  }
  TReadOnlyMemoryStream stream(cursor.data(), std::int64_t(cursor.size()));
  EXPECT_EQ(_EnumICOImStream(stream), 1);
  TImageIO io;
  TReadOnlyMemoryStream detect(cursor.data(), std::int64_t(cursor.size()));
  io.LoadFromStream(detect);
  EXPECT_FALSE(io.AbortFlag) << io.AbortReason;
  EXPECT_EQ(io.IOParams().FILETYPE, ioCUR);
}

TEST(IcoReader, BadFilesFailCleanly) {
  ImageSpec s;
  const EntrySpec good = Entry(s);
  EntrySpec farOffset = good;
  farOffset.offset = 1 << 20;
  EntrySpec noDepth = good;
  noDepth.bitCount = 0;
  noDepth.data[14] = 0;  // header bit count
  ImageSpec compressed;
  compressed.compression = 1;
  ImageSpec huge;
  huge.headerWidth = 1 << 28;
  huge.headerHeight = 1 << 28;
  EntrySpec hugeEntry = Entry(huge);
  hugeEntry.width = hugeEntry.height = 0;
  ImageSpec sixteen;
  sixteen.bits = 16;
  Bytes truncated = BuildIco(1, {good});
  truncated.erase(truncated.end() - 40, truncated.end());
  struct Case {
    const char* name;
    Bytes file;
    int index;
  };
  const Case cases[] = {
      {"index beyond the entries", BuildIco(1, {good}), 1},
      {"negative index", BuildIco(1, {good}), -1},
      {"no entries", Bytes{0, 0, 1, 0, 0, 0}, 0},
      {"directory cut short", Bytes{0, 0, 1, 0, 2, 0, 16, 16, 0, 0}, 0},
      {"image offset beyond the file", BuildIco(1, {farOffset}), 0},
      {"no depth anywhere", BuildIco(1, {noDepth}), 0},
      {"compressed image", BuildIco(1, {Entry(compressed)}), 0},
      {"absurd header size", BuildIco(1, {hugeEntry}), 0},
      {"16-bit image", BuildIco(1, {Entry(sixteen)}), 0},
      {"truncated pixels", truncated, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    io.IOParams().SetImageIndex(c.index);
    const LoadResult r = Load(io, c.file);
    EXPECT_TRUE(r.aborted);
    EXPECT_FALSE(r.reason.empty());
    TImageIO cur;
    cur.IOParams().SetImageIndex(c.index);
    EXPECT_TRUE(Load(cur, c.file, ioCUR).aborted);
  }
}

// ---- writer ------------------------------------------------------------------------------

struct DirEntry {
  int width, height, colours, planes, bitCount;
  std::uint32_t size, offset;
  int headerBits;
};

std::vector<DirEntry> Directory(const Bytes& f) {
  std::vector<DirEntry> out;
  for (int i = 0; i < Get16(f, 4); ++i) {
    const std::size_t e = 6 + 16 * std::size_t(i);
    DirEntry d{f[e], f[e + 1], f[e + 2], Get16(f, e + 4), Get16(f, e + 6), Get32(f, e + 8), Get32(f, e + 12), 0};
    d.headerBits = Get16(f, d.offset + 14);
    out.push_back(d);
  }
  return out;
}

Bytes SaveIcon(TImageIO& io, std::vector<TIOICOSize> sizes, std::vector<std::int32_t> bits) {
  auto& p = io.IOParams();
  for (std::size_t i = 0; i < 16; ++i) {
    p.ICO_SIZES[i] = i < sizes.size() ? sizes[i] : TIOICOSize{};
    p.ICO_BITCOUNT[i] = i < bits.size() ? bits[i] : 0;
  }
  return SaveBytes(io, ioICO);
}

void FillPicture(TIEBitmap& bmp, int w, int h) {
  bmp.Allocate(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) bmp.SetPixels_ie24RGB(x, y, CreateRGB(std::uint8_t(x * 4), std::uint8_t(y * 4), 90));
}

TEST(IcoWriter, ConverterDefaultsGiveTheDocumentedEntries) {
  struct Case {
    const char* name;
    int bitsPerSample, samplesPerPixel;
    int expect[3];
  };
  const Case cases[] = {{"true colour source", 8, 3, {32, 24, 24}}, {"palette source", 8, 1, {32, 8, 8}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TImageIO io;
    FillPicture(io.IEBitmap(), 80, 70);
    io.IOParams().BITSPERSAMPLE = c.bitsPerSample;
    io.IOParams().SAMPLESPERPIXEL = c.samplesPerPixel;
    const Bytes f = SaveIcon(io, {{64, 64}, {32, 32}, {16, 16}}, {32});
    ASSERT_EQ(Get16(f, 0), 0);
    ASSERT_EQ(Get16(f, 2), 1);
    const auto dir = Directory(f);
    ASSERT_EQ(dir.size(), 3u);
    for (int i = 0; i < 3; ++i) {
      SCOPED_TRACE(i);
      const DirEntry& d = dir[std::size_t(i)];
      EXPECT_EQ(d.width, 64 >> i);
      EXPECT_EQ(d.headerBits, c.expect[i]);
      if (c.expect[i] <= 8) {
        EXPECT_EQ(d.colours, 255);
        EXPECT_EQ(d.planes, 0);
        EXPECT_EQ(d.bitCount, 0);
      } else {
        EXPECT_EQ(d.colours, 0);
        EXPECT_EQ(d.planes, 1);
        EXPECT_EQ(d.bitCount, c.expect[i]);
      }
      EXPECT_EQ(Get32(f, d.offset + 8), std::uint32_t(2 * d.width));
      EXPECT_EQ(d.offset + d.size, i < 2 ? dir[std::size_t(i) + 1].offset : f.size());
    }
    // Every entry reads back at its size.
    for (int i = 0; i < 3; ++i) {
      TImageIO back;
      back.IOParams().SetImageIndex(i);
      ASSERT_FALSE(Load(back, f).aborted) << back.AbortReason;
      EXPECT_EQ(back.IEBitmap().GetWidth(), 64 >> i);
    }
  }
}

TEST(IcoWriter, AlphaSurvivesAndTheAndMaskMatchesIt) {
  TImageIO io;
  TIEBitmap& bmp = io.IEBitmap();
  FillPicture(bmp, 16, 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) bmp.SetAlpha(x, y, x < 4 ? 0 : x == 4 ? 254 : x == 5 ? 100 : 255);
  io.IOParams().BITSPERSAMPLE = 8;
  io.IOParams().SAMPLESPERPIXEL = 4;
  const Bytes f = SaveIcon(io, {{16, 16}, {16, 16}, {16, 16}, {16, 16}, {16, 16}}, {32, 24, 8, 4, 1});
  const auto dir = Directory(f);
  ASSERT_EQ(dir.size(), 5u);
  for (std::size_t i = 0; i < dir.size(); ++i) {
    SCOPED_TRACE(dir[i].headerBits);
    // The AND mask is the last 16 rows of 4 bytes: 1 where alpha < 255.
    const std::size_t mask = dir[i].offset + dir[i].size - 16 * 4;
    for (int row = 0; row < 16; ++row) {
      EXPECT_EQ(f[mask + 4 * std::size_t(row)], 0xFC);
      EXPECT_EQ(f[mask + 4 * std::size_t(row) + 1], 0x00);
    }
    TImageIO back;
    back.IOParams().SetImageIndex(int(i));
    ASSERT_FALSE(Load(back, f).aborted) << back.AbortReason;
    TIEBitmap& b = back.IEBitmap();
    ASSERT_TRUE(b.GetHasAlphaChannel());
    if (dir[i].headerBits == 32) {
      EXPECT_EQ(b.GetAlpha(0, 5), 0);
      EXPECT_EQ(b.GetAlpha(4, 5), 254);
      EXPECT_EQ(b.GetAlpha(5, 5), 100);
      EXPECT_EQ(b.GetAlpha(9, 5), 255);
      EXPECT_EQ(b.GetPixels(9, 5), bmp.GetPixels(9, 5));
    } else {
      EXPECT_EQ(b.GetAlpha(4, 5), 0);
      EXPECT_EQ(b.GetAlpha(9, 5), 255);
    }
  }
  // 8-bit entry: index 0 for the transparent pixels.
  const DirEntry& eight = dir[2];
  const std::size_t pixels = eight.offset + 40 + 1024;
  EXPECT_EQ(f[pixels + 4], 0);
  EXPECT_NE(f[pixels + 9], 0);
  EXPECT_EQ(io.IOParams().COLORMAPCOUNT, 15) << "the last paletted entry's colours";
}

TEST(IcoWriter, TwoLevelSourcesAndOneBitEntries) {
  TImageIO io;
  TIEBitmap& bmp = io.IEBitmap();
  bmp.Allocate(8, 8, ie1g);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) bmp.SetPixels_ie1g(x, y, (x + y) % 2 == 0);
  const Bytes f = SaveIcon(io, {{8, 8}, {8, 8}, {8, 8}}, {32, 1, 0});
  EXPECT_EQ(io.IOParams().BITSPERSAMPLE, 1);  // the writer notes a two-level source
  const auto dir = Directory(f);
  EXPECT_EQ(dir[0].headerBits, 32);
  EXPECT_EQ(dir[1].headerBits, 1);
  EXPECT_EQ(dir[2].headerBits, 1);
  for (int i = 0; i < 3; ++i) {
    TImageIO back;
    back.IOParams().SetImageIndex(i);
    ASSERT_FALSE(Load(back, f).aborted);
    EXPECT_EQ(back.IEBitmap().GetPixels(0, 0), (TRGB{255, 255, 255}));
    EXPECT_EQ(back.IEBitmap().GetPixels(1, 0), (TRGB{0, 0, 0}));
  }
  // A colour image asked for a 1-bit entry.
  TImageIO colour;
  FillPicture(colour.IEBitmap(), 8, 8);
  const Bytes g = SaveIcon(colour, {{8, 8}}, {1});
  TImageIO back;
  ASSERT_FALSE(Load(back, g).aborted);
  EXPECT_EQ(back.IEBitmap().GetPixelFormat(), ie1g);
}

TEST(IcoWriter, EmptyListAndBadSizes) {
  TImageIO io;
  FillPicture(io.IEBitmap(), 8, 8);
  EXPECT_EQ(SaveIcon(io, {}, {}), (Bytes{0, 0, 1, 0, 0, 0}));

  auto& p = io.IOParams();
  p.ICO_SIZES[0] = TIOICOSize{300, 300};
  TMemoryStream out;
  io.SaveToStream(out, ioICO);
  EXPECT_TRUE(io.AbortFlag);
  p.ICO_SIZES[0] = TIOICOSize{16, 0};
  io.SaveToStream(out, ioICO);
  EXPECT_TRUE(io.AbortFlag);
}

TEST(IcoWriter, StopsBetweenEntriesWhenAborted) {
  TImageIO io;
  FillPicture(io.IEBitmap(), 32, 32);
  io.OnProgress = [&](void*, int per) {
    if (per == 50) io.AbortFlag = true;
  };
  auto& p = io.IOParams();
  p.ICO_SIZES[0] = TIOICOSize{32, 32};
  p.ICO_SIZES[1] = TIOICOSize{16, 16};
  p.ICO_SIZES[2] = TIOICOSize{};
  TMemoryStream out;
  io.SaveToStream(out, ioICO);
  EXPECT_TRUE(io.AbortFlag);
  EXPECT_EQ(Get32(out.Bytes(), 6 + 8), 0u) << "the directory stays unwritten";
}

}  // namespace
}  // namespace pravik::codectest
