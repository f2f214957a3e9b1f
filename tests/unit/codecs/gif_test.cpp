// GIF reader and writer: the block walk, colour tables, graphic control
// extensions, transparency, interlace, the composition of animation frames,
// the writer's palette and transparency, and bad files failing cleanly.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codecs/gif/gif.h"
#include "codecs/gif/gif_lzw.h"
#include "image/bitmap.h"
#include "image/mask.h"
#include "imageio/formats.h"
#include "imageio/imageio.h"
#include "imageio/limits.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/stream.h"
#include "unit/codecs/codec_test_util.h"

namespace pravik {
namespace {

using codectest::Bytes;
using codectest::Put16;

constexpr TRGB kBlack{0, 0, 0}, kWhite{255, 255, 255};
constexpr TRGB kRed = CreateRGB(255, 0, 0), kGreen = CreateRGB(0, 255, 0), kBlue = CreateRGB(0, 0, 255);
constexpr TRGB kGrey = CreateRGB(128, 128, 128);

// ---- a GIF file built block by block ------------------------------------------------------------

struct Frame {
  int left = 0, top = 0, width = 1, height = 1;
  Bytes pixels;             // index bytes, rows in order
  std::vector<TRGB> local;  // local colour table (none when empty)
  bool interlaced = false;
  int bits = 2;             // minimum code size handed to the encoder
  bool control = false;     // graphic control extension before the image
  int disposal = 0;
  bool transparent = false;
  int transparentIndex = 0;
  int delay = 0;
  Bytes data;  // raw image-data block instead of encoding pixels
  std::vector<std::string> commentsBefore;
};

struct GifLayout {
  std::string version = "GIF89a";
  int width = 1, height = 1;  // logical screen
  std::vector<TRGB> global;   // global colour table (none when empty)
  int background = 0;
  int ratio = 0;
  std::vector<Frame> frames;
  std::vector<std::string> commentsAfter;
  bool trailer = true;
};

void PutTable(Bytes& b, const std::vector<TRGB>& table) {
  for (const TRGB& c : table) b.insert(b.end(), {c.r, c.g, c.b});
}

// Size code of a table (its length must be a power of two from 2 to 256).
int SizeCode(const std::vector<TRGB>& t) {
  int code = 0;
  while ((2u << code) < t.size()) ++code;
  return code;
}

void PutComment(Bytes& b, const std::string& text) {
  b.insert(b.end(), {0x21, 0xFE});
  for (std::size_t at = 0; at < text.size(); at += 255) {
    const std::size_t n = std::min<std::size_t>(255, text.size() - at);
    b.push_back(std::uint8_t(n));
    b.insert(b.end(), text.begin() + at, text.begin() + at + n);
  }
  b.push_back(0);
}

Bytes BuildGif(const GifLayout& s) {
  Bytes b(s.version.begin(), s.version.end());
  Put16(b, s.width);
  Put16(b, s.height);
  b.push_back(std::uint8_t(s.global.empty() ? 0 : 0x80 | 0x70 | SizeCode(s.global)));
  b.push_back(std::uint8_t(s.background));
  b.push_back(std::uint8_t(s.ratio));
  PutTable(b, s.global);
  for (const Frame& f : s.frames) {
    for (const std::string& c : f.commentsBefore) PutComment(b, c);
    if (f.control) {
      b.insert(b.end(), {0x21, 0xF9, 0x04, std::uint8_t((f.transparent ? 1 : 0) | (f.disposal << 2))});
      Put16(b, f.delay);
      b.insert(b.end(), {std::uint8_t(f.transparentIndex), 0x00});
    }
    b.push_back(0x2C);
    Put16(b, f.left);
    Put16(b, f.top);
    Put16(b, f.width);
    Put16(b, f.height);
    b.push_back(std::uint8_t((f.local.empty() ? 0 : 0x80 | SizeCode(f.local)) | (f.interlaced ? 0x40 : 0)));
    PutTable(b, f.local);
    if (!f.data.empty()) {
      b.insert(b.end(), f.data.begin(), f.data.end());
    } else {
      TMemoryStream m;
      GIFLZWCompress(m, f.height, f.width, f.interlaced, f.pixels.data(), f.bits);
      b.insert(b.end(), m.Bytes().begin(), m.Bytes().end());
    }
  }
  for (const std::string& c : s.commentsAfter) PutComment(b, c);
  if (s.trailer) b.push_back(0x3B);
  return b;
}

// One image of w x h on a screen of its size with a global table.
GifLayout Single(int w, int h, Bytes pixels, std::vector<TRGB> global) {
  GifLayout s;
  s.width = w;
  s.height = h;
  s.global = std::move(global);
  Frame f;
  f.width = w;
  f.height = h;
  f.pixels = std::move(pixels);
  f.bits = std::max(2, SizeCode(s.global) + 1);
  s.frames.push_back(f);
  return s;
}

// ---- helpers ----------------------------------------------------------------------------------

struct Loaded {
  std::unique_ptr<TImageIO> io = std::make_unique<TImageIO>();
  TIEBitmap& Image() { return io->IEBitmap(); }
  TIOParamsVals& Params() { return io->IOParams(); }
  bool Failed() const { return io->AbortFlag; }
};

Loaded Load(const Bytes& file, int index = 0, bool native = false) {
  Loaded l;
  l.Params().GIF_IMAGEINDEX = index;
  l.io->SetNativePixelFormat(native);
  TMemoryStream s(file);
  l.io->LoadFromStreamGIF(s);
  return l;
}

TRGB Pixel(TIEBitmap& b, int x, int y) { return b.GetPixels(x, y); }
int Alpha(TIEBitmap& b, int x, int y) { return b.GetHasAlphaChannel() ? b.GetAlpha(x, y) : 255; }

std::vector<TRGB> Palette4() { return {kBlack, kRed, kGreen, kBlue}; }

// ---- reading ---------------------------------------------------------------------------------------

TEST(GifRead, SingleImageWithGlobalTable) {
  GifLayout s = Single(3, 2, {0, 1, 2, 3, 2, 1}, Palette4());
  s.ratio = 49;
  s.background = 2;
  Loaded l = Load(BuildGif(s));
  ASSERT_FALSE(l.Failed()) << l.io->AbortReason;
  TIEBitmap& b = l.Image();
  ASSERT_EQ(b.GetPixelFormat(), ie24RGB);
  EXPECT_EQ(b.GetWidth(), 3);
  EXPECT_EQ(b.GetHeight(), 2);
  EXPECT_EQ(Pixel(b, 0, 0), kBlack);
  EXPECT_EQ(Pixel(b, 1, 0), kRed);
  EXPECT_EQ(Pixel(b, 2, 0), kGreen);
  EXPECT_EQ(Pixel(b, 0, 1), kBlue);
  EXPECT_FALSE(b.GetHasAlphaChannel());
  const TIOParamsVals& p = l.Params();
  EXPECT_EQ(p.FILETYPE, ioGIF);
  EXPECT_EQ(p.GIF_VERSION, "GIF89a");
  EXPECT_EQ(p.GIF_RATIO, 49);
  EXPECT_EQ(p.GIF_BACKGROUND, kGreen);
  EXPECT_EQ(p.GIF_IMAGECOUNT, 1);
  EXPECT_EQ(p.IMAGECOUNT(), 1);
  EXPECT_EQ(p.BITSPERSAMPLE, 2);
  EXPECT_EQ(p.SAMPLESPERPIXEL, 1);
  EXPECT_EQ(p.COLORMAPCOUNT, 4);
  ASSERT_EQ(p.COLORMAP.size(), 4u);
  EXPECT_EQ(p.COLORMAP[1], kRed);
  EXPECT_EQ(p.DPIX(), gDefaultDPIX);
}

TEST(GifRead, LocalTableWinsAndBackgroundNeedsAGlobalTable) {
  GifLayout s = Single(2, 1, {0, 1}, {});
  s.frames[0].local = {kBlue, kGreen};
  Loaded l;
  l.Params().GIF_BACKGROUND = kRed;  // left from an earlier file
  TMemoryStream m(BuildGif(s));
  l.io->LoadFromStreamGIF(m);
  ASSERT_FALSE(l.Failed());
  EXPECT_EQ(Pixel(l.Image(), 0, 0), kBlue);
  EXPECT_EQ(Pixel(l.Image(), 1, 0), kGreen);
  EXPECT_EQ(l.Params().GIF_BACKGROUND, kRed);
  EXPECT_EQ(l.Params().BITSPERSAMPLE, 1);

  // Global and local: the local one is used.
  s.global = Palette4();
  s.frames[0].local = {kWhite, kGrey};
  Loaded g = Load(BuildGif(s));
  EXPECT_EQ(Pixel(g.Image(), 0, 0), kWhite);
  EXPECT_EQ(Pixel(g.Image(), 1, 0), kGrey);
}

TEST(GifRead, WithoutAnyColourTableIndexesShowAsGrey) {
  Loaded l = Load(BuildGif(Single(2, 1, {0, 3}, {})));
  ASSERT_FALSE(l.Failed());
  EXPECT_EQ(Pixel(l.Image(), 0, 0), kBlack);
  EXPECT_EQ(Pixel(l.Image(), 1, 0), CreateRGB(3, 3, 3));
}

TEST(GifRead, PixelFormats) {
  // Black and white -> ie1g (the ninth pixel of a row kept); other two
  // colours -> ie24RGB; ie8p when native formats are asked for.
  const Bytes px = {1, 0, 1, 0, 0, 0, 0, 0, 1, 0, 1, 1, 1, 1, 1, 1, 1, 0};
  Loaded bw = Load(BuildGif(Single(9, 2, px, {kBlack, kWhite})));
  ASSERT_EQ(bw.Image().GetPixelFormat(), ie1g);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 9; ++x)
      EXPECT_EQ(Pixel(bw.Image(), x, y), px[std::size_t(y) * 9 + x] ? kWhite : kBlack) << x << "," << y;

  Loaded two = Load(BuildGif(Single(9, 2, px, {kWhite, kBlack})));
  ASSERT_EQ(two.Image().GetPixelFormat(), ie24RGB);
  EXPECT_EQ(Pixel(two.Image(), 8, 0), kBlack);

  Loaded native = Load(BuildGif(Single(3, 1, {3, 2, 1}, Palette4())), 0, true);
  ASSERT_EQ(native.Image().GetPixelFormat(), ie8p);
  EXPECT_EQ(native.Image().GetScanLine(0)[0], 3);
  EXPECT_EQ(native.Image().GetPalette(3), kBlue);
  EXPECT_EQ(native.Image().PaletteColorCount, 4);
}

TEST(GifRead, InterlacedImage) {
  Bytes px;
  for (int y = 0; y < 11; ++y) px.insert(px.end(), 5, std::uint8_t(y % 4));
  GifLayout s = Single(5, 11, px, Palette4());
  s.frames[0].interlaced = true;
  Loaded l = Load(BuildGif(s));
  ASSERT_FALSE(l.Failed());
  EXPECT_TRUE(l.Params().GIF_INTERLACED);
  const TRGB rows[4] = {kBlack, kRed, kGreen, kBlue};
  for (int y = 0; y < 11; ++y) EXPECT_EQ(Pixel(l.Image(), 4, y), rows[y % 4]) << y;
}

TEST(GifRead, TransparentIndexBecomesTheAlphaChannel) {
  GifLayout s = Single(3, 1, {0, 2, 2}, Palette4());
  Frame& f = s.frames[0];
  f.control = true;
  f.transparent = true;
  f.transparentIndex = 2;
  f.delay = 0x1234;
  f.disposal = 5;  // values past the named ones pass through
  Loaded l = Load(BuildGif(s));
  ASSERT_FALSE(l.Failed());
  EXPECT_EQ(Alpha(l.Image(), 0, 0), 255);
  EXPECT_EQ(Alpha(l.Image(), 1, 0), 0);
  EXPECT_EQ(Alpha(l.Image(), 2, 0), 0);
  const TIOParamsVals& p = l.Params();
  EXPECT_TRUE(p.GIF_TRANSPARENT);
  EXPECT_EQ(p.GIF_TRANSPCOLOR, kGreen);
  EXPECT_EQ(p.GIF_DELAYTIME, 0x1234);
  EXPECT_EQ(int(p.GIF_ACTION), 5);

  // A transparent index no pixel uses: no alpha channel.
  f.transparentIndex = 3;
  Loaded opaque = Load(BuildGif(s));
  EXPECT_FALSE(opaque.Image().GetHasAlphaChannel());
  EXPECT_EQ(opaque.Params().GIF_TRANSPCOLOR, kBlue);
}

TEST(GifRead, ReaderCanLeaveTheMaskOut) {
  GifLayout s = Single(2, 1, {0, 1}, Palette4());
  s.frames[0].control = true;
  s.frames[0].transparent = true;
  TMemoryStream m(BuildGif(s));
  TIEBitmap b;
  TIOParamsVals p;
  bool abort = false;
  TProgressRec pr;
  pr.AbortFlag = &abort;
  std::unique_ptr<TIEMask> mask;
  int count = -1;
  ReadGIFStream(m, b, count, p, pr, false, mask, true);
  EXPECT_FALSE(abort);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(mask, nullptr);
  m.Seek(0, soBeginning);
  ReadGIFStream(m, b, count, p, pr, false, mask, false);
  ASSERT_NE(mask, nullptr);
  EXPECT_EQ(mask->GetPixel(0, 0), 0);
  EXPECT_EQ(mask->GetPixel(1, 0), 255);
}

TEST(GifRead, CommentsAndControlExtensionsBelongToTheirPlaces) {
  GifLayout s;
  s.width = s.height = 2;
  s.global = Palette4();
  Frame a;
  a.width = a.height = 2;
  a.pixels = {1, 1, 1, 1};
  a.control = true;
  a.transparent = true;
  a.transparentIndex = 1;
  a.delay = 7;
  a.commentsBefore = {"first", std::string("cut\0here", 8), ""};
  Frame b = a;
  b.pixels = {2, 2, 2, 2};
  b.control = false;
  b.commentsBefore = {};
  s.frames = {a, b};
  s.commentsAfter = {"last"};
  // The second image has no control extension of its own: the first one's
  // does not apply to it.
  TMemoryStream m(BuildGif(s));
  TIEBitmap bmp;
  TIOParamsVals p;
  p.GIF_IMAGEINDEX = 1;
  TProgressRec pr;
  bool abort = false;
  pr.AbortFlag = &abort;
  std::unique_ptr<TIEMask> mask;
  int count = 0;
  ReadGIFStream(m, bmp, count, p, pr, false, mask, false);
  ASSERT_FALSE(abort);
  EXPECT_EQ(count, 2);
  EXPECT_FALSE(p.GIF_TRANSPARENT);
  EXPECT_EQ(p.GIF_DELAYTIME, 0);
  EXPECT_EQ(mask, nullptr);
  EXPECT_EQ(bmp.GetPixels(0, 0), kGreen);
  EXPECT_EQ(p.GIF_COMMENTS, (std::vector<std::string>{"first", "cut", "last"}));

  // Through the front, an animation's comments come once each.
  Loaded l = Load(BuildGif(s));
  EXPECT_EQ(l.Params().GIF_COMMENTS, (std::vector<std::string>{"first", "cut", "last"}));
}

TEST(GifRead, PreviewFillsTheRecordOnly) {
  GifLayout s = Single(4, 3, Bytes(12, 1), Palette4());
  s.width = 10;
  s.frames[0].left = 6;
  TImageIO io;
  TMemoryStream m(BuildGif(s));
  io.ParamsFromStream(m);
  EXPECT_FALSE(io.AbortFlag);
  EXPECT_TRUE(io.IEBitmap().IsEmpty());
  const TIOParamsVals& p = io.IOParams();
  EXPECT_EQ(p.FILETYPE, ioGIF);
  EXPECT_EQ(p.WIDTH, 4);
  EXPECT_EQ(p.HEIGHT, 3);
  EXPECT_EQ(p.GIF_XPOS, 6);
  EXPECT_EQ(p.GIF_WINWIDTH, 10);
  EXPECT_EQ(p.BITSPERSAMPLE, 2);
}

TEST(GifRead, IndexesPastTheTableAndStrayBytesBetweenBlocks) {
  GifLayout s = Single(2, 1, {1, 3}, {kRed, kGreen});  // 1-bit table, index 3 unknown
  s.frames[0].bits = 2;
  Bytes file = BuildGif(s);
  file.insert(file.begin() + 13 + 6, {0x00, 0x07});  // junk before the image descriptor
  Loaded l = Load(file);
  ASSERT_FALSE(l.Failed()) << l.io->AbortReason;
  EXPECT_EQ(Pixel(l.Image(), 0, 0), kGreen);
  EXPECT_EQ(Pixel(l.Image(), 1, 0), kBlack);
}

// ---- animation --------------------------------------------------------------------------------------

// A 4 x 3 screen, frame 0 covering its left half, frame 1 a pixel at (3, 2).
GifLayout Animation(int disposal0) {
  GifLayout s;
  s.width = 4;
  s.height = 3;
  s.global = Palette4();
  s.background = 3;
  Frame a;
  a.width = 2;
  a.height = 3;
  a.pixels = Bytes(6, 1);
  a.control = true;
  a.disposal = disposal0;
  Frame b;
  b.left = 3;
  b.top = 2;
  b.pixels = {2};
  b.control = true;
  s.frames = {a, b};
  return s;
}

TEST(GifAnimation, FirstFrameOnTheLogicalScreen) {
  Loaded l = Load(BuildGif(Animation(1)));
  ASSERT_FALSE(l.Failed());
  TIEBitmap& b = l.Image();
  ASSERT_EQ(b.GetWidth(), 4);
  ASSERT_EQ(b.GetHeight(), 3);
  EXPECT_EQ(l.Params().WIDTH, 4);
  EXPECT_EQ(l.Params().GIF_IMAGECOUNT, 2);
  EXPECT_EQ(l.Params().GIF_IMAGEINDEX, 0);
  EXPECT_EQ(Pixel(b, 1, 2), kRed);
  EXPECT_EQ(Alpha(b, 1, 2), 255);
  EXPECT_EQ(Alpha(b, 2, 0), 0);  // nothing drawn there
  EXPECT_EQ(Alpha(b, 3, 2), 0);
}

TEST(GifAnimation, DisposalOfThePreviousFrame) {
  struct Case {
    int disposal;
    int alphaLeft;  // where frame 0 was, once frame 1 is drawn
  };
  for (const Case c : {Case{ioGIF_None, 255}, Case{ioGIF_DontRemove, 255}, Case{ioGIF_DrawBackground, 0},
                       Case{ioGIF_RestorePrev, 0}}) {
    Loaded l = Load(BuildGif(Animation(c.disposal)), 1);
    ASSERT_FALSE(l.Failed()) << c.disposal;
    TIEBitmap& b = l.Image();
    EXPECT_EQ(Alpha(b, 0, 0), c.alphaLeft) << "disposal " << c.disposal;
    if (c.alphaLeft == 255) {
      EXPECT_EQ(Pixel(b, 0, 0), kRed);
    }
    EXPECT_EQ(Pixel(b, 3, 2), kGreen);
    EXPECT_EQ(Alpha(b, 3, 2), 255);
    EXPECT_EQ(l.Params().GIF_IMAGEINDEX, 1);
    EXPECT_EQ(l.Params().GIF_ACTION, ioGIF_DrawBackground);
    EXPECT_EQ(l.Params().GIF_XPOS, 0);
  }
}

TEST(GifAnimation, RestorePreviousBringsBackWhatWasUnder) {
  GifLayout s = Animation(ioGIF_None);
  Frame c;  // frame 2 over frame 0's column 0, disposed by "restore previous"
  c.width = 1;
  c.height = 3;
  c.pixels = Bytes(3, 3);
  c.control = true;
  c.disposal = ioGIF_RestorePrev;
  Frame d;
  d.left = 2;
  d.pixels = {2};
  s.frames.push_back(c);
  s.frames.push_back(d);
  Loaded two = Load(BuildGif(s), 2);
  EXPECT_EQ(Pixel(two.Image(), 0, 1), kBlue);
  Loaded three = Load(BuildGif(s), 3);
  EXPECT_EQ(Pixel(three.Image(), 0, 1), kRed);
  EXPECT_EQ(Pixel(three.Image(), 2, 0), kGreen);
}

TEST(GifAnimation, TransparentFramePixelsLeaveTheCanvas) {
  GifLayout s = Animation(ioGIF_None);
  s.frames[1] = s.frames[0];
  s.frames[1].pixels = {2, 0, 2, 0, 2, 0};
  s.frames[1].transparent = true;
  s.frames[1].transparentIndex = 0;
  Loaded l = Load(BuildGif(s), 1);
  EXPECT_EQ(Pixel(l.Image(), 0, 0), kGreen);
  EXPECT_EQ(Pixel(l.Image(), 1, 0), kRed);
  EXPECT_EQ(Alpha(l.Image(), 1, 0), 255);
}

TEST(GifAnimation, IndexPastTheLastImageComposesAll) {
  Loaded l = Load(BuildGif(Animation(ioGIF_None)), 99);
  ASSERT_FALSE(l.Failed());
  EXPECT_EQ(Pixel(l.Image(), 0, 0), kRed);
  EXPECT_EQ(Pixel(l.Image(), 3, 2), kGreen);
  EXPECT_EQ(l.Params().GIF_IMAGEINDEX, 99);
}

TEST(GifAnimation, FramesOutsideOrLargerThanTheScreen) {
  GifLayout s = Animation(ioGIF_None);
  s.frames[1].left = 60000;  // entirely off the screen: clipped away
  Loaded off = Load(BuildGif(s), 1);
  ASSERT_FALSE(off.Failed()) << off.io->AbortReason;
  EXPECT_EQ(off.Image().GetWidth(), 4);

  s.frames[1] = Frame{};
  s.frames[1].width = 6;  // wider than the screen: the canvas grows
  s.frames[1].height = 1;
  s.frames[1].pixels = Bytes(6, 2);
  Loaded wide = Load(BuildGif(s), 1);
  ASSERT_FALSE(wide.Failed());
  EXPECT_EQ(wide.Image().GetWidth(), 6);
  EXPECT_EQ(Pixel(wide.Image(), 5, 0), kGreen);
  EXPECT_EQ(Alpha(wide.Image(), 5, 1), 0);
  EXPECT_EQ(Pixel(wide.Image(), 0, 1), kRed);
}

TEST(GifAnimation, OpaqueCompositionHasNoAlphaChannel) {
  GifLayout s = Animation(ioGIF_None);
  s.frames[0].width = 4;
  s.frames[0].pixels = Bytes(12, 1);
  Loaded l = Load(BuildGif(s), 1);
  ASSERT_FALSE(l.Failed());
  EXPECT_FALSE(l.Image().GetHasAlphaChannel());
}

// ---- bad files ----------------------------------------------------------------------------------------

TEST(GifRead, BadFilesFailCleanly) {
  const Bytes good = BuildGif(Single(4, 4, Bytes(16, 2), Palette4()));
  GifLayout zero = Single(1, 1, {0}, Palette4());
  zero.frames[0].width = 0;
  GifLayout corrupt = Single(3, 1, {}, Palette4());
  corrupt.frames[0].data = {2, 2, 0xCC, 0x01, 0};  // clear, 1, then code 7: past the table
  GifLayout badSize = Single(3, 1, {}, Palette4());
  badSize.frames[0].data = {12, 1, 0xFF, 0};
  GifLayout bomb = Single(1, 1, {0}, Palette4());
  bomb.frames[0].width = bomb.frames[0].height = 0xFFFF;
  bomb.frames[0].data = {2, 2, 0x44, 0x01, 0};  // clear, 0, end
  GifLayout screenBomb = Animation(ioGIF_None);
  screenBomb.width = screenBomb.height = 0xFFFF;

  struct Case {
    const char* what;
    Bytes file;
  };
  const std::vector<Case> cases = {
      {"not a GIF", Bytes{'G', 'I', 'X', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0x3B}},
      {"header cut", Bytes(good.begin(), good.begin() + 10)},
      {"global table cut", Bytes(good.begin(), good.begin() + 20)},
      {"no image", Bytes(good.begin(), good.begin() + 13 + 12)},
      {"zero width", BuildGif(zero)},
      {"corrupt code stream", BuildGif(corrupt)},
      {"minimum code size 12", BuildGif(badSize)},
      {"65535 x 65535 from a few bytes", BuildGif(bomb)},
      {"65535 x 65535 logical screen for two tiny frames", BuildGif(screenBomb)},
  };
  for (const Case& c : cases) {
    Loaded l = Load(c.file);
    EXPECT_TRUE(l.Failed()) << c.what;
    EXPECT_FALSE(l.io->AbortReason.empty()) << c.what;
  }
}

TEST(GifRead, TruncatedDataLoadsWhatIsThereAndReportsIt) {
  Bytes px(40 * 40);
  std::uint32_t seed = 1;
  for (auto& v : px) v = std::uint8_t((seed = seed * 1103515245u + 12345u) >> 30);
  Bytes file = BuildGif(Single(40, 40, px, Palette4()));
  file.resize(file.size() / 2);
  Loaded l = Load(file);
  EXPECT_TRUE(l.Failed());
  EXPECT_EQ(l.io->AbortReason, "truncated GIF image data");
  ASSERT_EQ(l.Image().GetWidth(), 40);
  EXPECT_EQ(Pixel(l.Image(), 1, 0), Palette4()[px[1]]);
  EXPECT_EQ(Pixel(l.Image(), 39, 39), kBlack);  // not reached: index 0

  // A missing end code and trailer is not a fault when every pixel is there.
  GifLayout s = Single(4, 1, {}, Palette4());
  s.frames[0].data = {2, 2, 0x8C, 0x06, 0};  // clear, 1, 2, 3, 0 and no end code
  s.trailer = false;
  Loaded whole = Load(BuildGif(s));
  EXPECT_FALSE(whole.Failed()) << whole.io->AbortReason;
}

TEST(GifRead, ImageCapApplies) {
  const std::int64_t saved = iegMaxDecodedBytes;
  iegMaxDecodedBytes = 1000;
  Bytes px(40 * 40, 1);
  Loaded l = Load(BuildGif(Single(40, 40, px, Palette4())));
  iegMaxDecodedBytes = saved;
  EXPECT_TRUE(l.Failed());
}

// ---- writing -------------------------------------------------------------------------------------------

struct Saved {
  Bytes file;
  bool failed = false;
  std::string reason;
};

Saved Save(TImageIO& io) {
  TMemoryStream m;
  io.SaveToStream(m, ioGIF);
  return {m.Bytes(), io.AbortFlag, io.AbortReason};
}

void Allocate24(TIEBitmap& b, int w, int h, const std::vector<TRGB>& px) {
  b.Allocate(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetPixels_ie24RGB(x, y, px[std::size_t(y) * w + x]);
}

// The block after the global table: 0x21 0xF9 0x04 packed delay(2) index 0.
std::size_t ControlAt(const Bytes& f) { return 13 + 3 * (std::size_t(2) << (f[10] & 7)); }

TEST(GifWrite, ConverterSettingsWithAnAlphaChannel) {
  TImageIO io;
  const std::vector<TRGB> px = {kRed, kGreen, kBlue, kBlack, kWhite, kGrey};
  Allocate24(io.IEBitmap(), 3, 2, px);
  io.IEBitmap().SetAlpha(1, 0, 0);
  io.IEBitmap().SetAlpha(2, 1, 100);   // below half: transparent
  io.IEBitmap().SetAlpha(0, 1, 200);   // above half: opaque
  TIOParamsVals& p = io.IOParams();
  p.BITSPERSAMPLE = 8;
  p.GIF_TRANSPARENT = true;
  p.GIF_INTERLACED = true;
  const Saved s = Save(io);
  ASSERT_FALSE(s.failed) << s.reason;
  const Bytes& f = s.file;
  EXPECT_EQ(std::string(f.begin(), f.begin() + 6), "GIF89a");
  EXPECT_EQ(f[10], 0xF7);
  const std::size_t c = ControlAt(f);
  ASSERT_EQ(f[c], 0x21);
  ASSERT_EQ(f[c + 1], 0xF9);
  EXPECT_EQ(f[c + 3] & 1, 1);
  EXPECT_EQ(f[c + 6], 255);  // the transparent slot
  EXPECT_EQ(f[c + 8], 0x2C);
  EXPECT_EQ(f[c + 17] & 0x40, 0x40);  // interlaced
  EXPECT_EQ(f[c + 18], 8);            // minimum code size

  Loaded back = Load(f);
  ASSERT_FALSE(back.Failed());
  TIEBitmap& b = back.Image();
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      const bool clear = (x == 1 && y == 0) || (x == 2 && y == 1);
      EXPECT_EQ(Alpha(b, x, y), clear ? 0 : 255) << x << "," << y;
      if (!clear) {
        EXPECT_EQ(Pixel(b, x, y), px[std::size_t(y) * 3 + x]) << x << "," << y;
      }
    }
}

TEST(GifWrite, ConverterSettingsWithoutAlphaKeepEveryPixelVisible) {
  // The record says transparent, its colour black (as after start-up): a
  // true-colour image without alpha must not lose its black pixels.
  TImageIO io;
  Allocate24(io.IEBitmap(), 2, 2, {kBlack, kWhite, kRed, kBlack});
  TIOParamsVals& p = io.IOParams();
  p.BITSPERSAMPLE = 8;
  p.GIF_TRANSPARENT = true;
  p.GIF_TRANSPCOLOR = kBlack;
  p.GIF_INTERLACED = true;
  const Saved s = Save(io);
  ASSERT_FALSE(s.failed);
  EXPECT_EQ(s.file[ControlAt(s.file) + 3] & 1, 0);
  Loaded back = Load(s.file);
  EXPECT_FALSE(back.Image().GetHasAlphaChannel());
  EXPECT_EQ(Pixel(back.Image(), 0, 0), kBlack);
  EXPECT_EQ(Pixel(back.Image(), 0, 1), kRed);
}

TEST(GifWrite, PaletteImageWithAColourKey) {
  TImageIO io;
  TIEBitmap& b = io.IEBitmap();
  b.Allocate(3, 1, ie8p);
  b.SetPalette(0, kRed);
  b.SetPalette(1, kGreen);
  b.SetPalette(2, kBlue);
  b.GetScanLine(0)[0] = 0;
  b.GetScanLine(0)[1] = 1;
  b.GetScanLine(0)[2] = 2;
  io.IOParams().BITSPERSAMPLE = 2;
  io.IOParams().GIF_TRANSPARENT = true;
  io.IOParams().GIF_TRANSPCOLOR = CreateRGB(0, 250, 10);  // nearest entry: green
  const Saved s = Save(io);
  ASSERT_FALSE(s.failed);
  EXPECT_EQ(s.file[ControlAt(s.file) + 3] & 1, 1);
  EXPECT_EQ(s.file[ControlAt(s.file) + 6], 1);
  Loaded back = Load(s.file);
  EXPECT_EQ(Alpha(back.Image(), 1, 0), 0);
  EXPECT_EQ(Alpha(back.Image(), 2, 0), 255);
  EXPECT_EQ(Pixel(back.Image(), 2, 0), kBlue);
}

TEST(GifWrite, DepthsAndPixelFormats) {
  struct Case {
    const char* what;
    TIEPixelFormat format;
    int bits;
    int tableCode;  // bits 0-2 of the header's packed byte
  };
  for (const Case c : {Case{"black and white, 1 bit", ie1g, 1, 0}, Case{"black and white, 8 bits", ie1g, 8, 7},
                       Case{"grey", ie8g, 8, 7}, Case{"48-bit colour", ie48RGB, 4, 3},
                       Case{"colour", ie24RGB, 2, 1}}) {
    TImageIO io;
    TIEBitmap& b = io.IEBitmap();
    b.Allocate(9, 2, c.format);
    b.Fill(0);
    for (int x = 0; x < 9; x += 2) {
      if (c.format == ie1g) b.SetPixels_ie1g(x, 1, true);
      else if (c.format == ie8g) b.SetPixels_ie8(x, 1, 255);
      else if (c.format == ie48RGB) b.SetPixels_ie48RGB(x, 1, TRGB48{65535, 65535, 65535});
      else b.SetPixels_ie24RGB(x, 1, kWhite);
    }
    io.IOParams().BITSPERSAMPLE = c.bits;
    const Saved s = Save(io);
    ASSERT_FALSE(s.failed) << c.what;
    EXPECT_EQ(s.file[10] & 7, c.tableCode) << c.what;
    Loaded back = Load(s.file);
    ASSERT_FALSE(back.Failed()) << c.what;
    for (int x = 0; x < 9; ++x) {
      EXPECT_EQ(Pixel(back.Image(), x, 0), kBlack) << c.what << " " << x;
      EXPECT_EQ(Pixel(back.Image(), x, 1), x % 2 == 0 ? kWhite : kBlack) << c.what << " " << x;
    }
  }
}

TEST(GifWrite, OneBitKeepsTwoColoursAndMakesRoomForTransparency) {
  TImageIO io;
  Allocate24(io.IEBitmap(), 3, 1, {kRed, kBlue, kRed});
  io.IOParams().BITSPERSAMPLE = 1;
  Saved s = Save(io);
  ASSERT_FALSE(s.failed);
  EXPECT_EQ(s.file[10] & 7, 0);
  Loaded back = Load(s.file);
  EXPECT_EQ(Pixel(back.Image(), 0, 0), kRed);
  EXPECT_EQ(Pixel(back.Image(), 1, 0), kBlue);

  io.IEBitmap().SetAlpha(2, 0, 0);
  s = Save(io);
  ASSERT_FALSE(s.failed);
  EXPECT_EQ(s.file[10] & 7, 1);  // two colours and the transparent slot need 2 bits
  back = Load(s.file);
  EXPECT_EQ(Pixel(back.Image(), 1, 0), kBlue);
  EXPECT_EQ(Alpha(back.Image(), 2, 0), 0);
  EXPECT_TRUE(io.IOParams().GIF_TRANSPARENT);

  // More than two colours at 1 bit: black and white.
  TImageIO many;
  Allocate24(many.IEBitmap(), 3, 1, {kWhite, kBlack, kGrey});
  many.IOParams().BITSPERSAMPLE = 1;
  s = Save(many);
  back = Load(s.file);
  EXPECT_EQ(back.Image().GetPixelFormat(), ie1g);
}

TEST(GifWrite, PhotoIsQuantizedToTheDepth) {
  TImageIO io;
  TIEBitmap& b = io.IEBitmap();
  b.Allocate(64, 64, ie24RGB);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) b.SetPixels_ie24RGB(x, y, CreateRGB(std::uint8_t(x * 4), std::uint8_t(y * 4), 90));
  io.IOParams().BITSPERSAMPLE = 4;
  const Saved s = Save(io);
  ASSERT_FALSE(s.failed);
  EXPECT_EQ(s.file[10] & 7, 3);
  Loaded back = Load(s.file);
  ASSERT_FALSE(back.Failed());
  // Sixteen colours for a smooth ramp: near, not equal.
  const TRGB c = Pixel(back.Image(), 32, 32);
  EXPECT_NEAR(c.r, 128, 40);
  EXPECT_NEAR(c.g, 128, 40);
}

TEST(GifWrite, RecordFieldsAndComments) {
  TImageIO io;
  Allocate24(io.IEBitmap(), 2, 1, {kRed, kBlue});
  TIOParamsVals& p = io.IOParams();
  p.GIF_XPOS = 5;
  p.GIF_YPOS = 0x10002;  // low 16 bits
  p.GIF_DELAYTIME = 300;
  p.GIF_ACTION = ioGIF_RestorePrev;
  p.GIF_BACKGROUND = kBlue;
  p.GIF_VERSION = "GIF87a";  // the file has 89a blocks
  p.GIF_COMMENTS = {"hello", "", std::string(300, 'x')};
  const Saved s = Save(io);
  ASSERT_FALSE(s.failed);
  const Bytes& f = s.file;
  EXPECT_EQ(std::string(f.begin(), f.begin() + 6), "GIF89a");
  // The logical screen holds the image where it is placed.
  EXPECT_EQ(f[6] | (f[7] << 8), 7);
  EXPECT_EQ(f[8] | (f[9] << 8), 3);
  Loaded back = Load(f);
  ASSERT_FALSE(back.Failed());
  const TIOParamsVals& q = back.Params();
  EXPECT_EQ(q.GIF_XPOS, 5);
  EXPECT_EQ(q.GIF_YPOS, 2);
  EXPECT_EQ(q.GIF_DELAYTIME, 300);
  EXPECT_EQ(q.GIF_ACTION, ioGIF_RestorePrev);
  EXPECT_EQ(q.GIF_BACKGROUND, kBlue);
  EXPECT_EQ(q.GIF_COMMENTS, (std::vector<std::string>{"hello", std::string(255, 'x'), std::string(45, 'x')}));

  // No text: no comment extension (an empty one trips giflib), the image
  // data's terminator and the trailer end the file.
  p.GIF_COMMENTS = {""};
  const Saved e = Save(io);
  std::size_t at = ControlAt(e.file) + 8 + 10 + 1;  // control, descriptor, minimum code size
  while (at < e.file.size() && e.file[at] != 0) at += e.file[at] + 1u;
  EXPECT_EQ(at + 2, e.file.size());
  EXPECT_EQ(e.file.back(), 0x3B);
}

TEST(GifWrite, RoundTripThroughMemoryKeepsEveryPixel) {
  // 200 colours and an alpha channel, written as the converter does.
  TImageIO io;
  TIEBitmap& b = io.IEBitmap();
  b.Allocate(50, 40, ie24RGB);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 50; ++x) {
      const int k = (x + y * 50) % 200;
      b.SetPixels_ie24RGB(x, y, CreateRGB(std::uint8_t(k), std::uint8_t(255 - k), std::uint8_t(k * 3)));
      b.SetAlpha(x, y, (x * y) % 7 == 0 ? 0 : 255);
    }
  io.IOParams().BITSPERSAMPLE = 8;
  io.IOParams().GIF_INTERLACED = true;
  const Saved s = Save(io);
  ASSERT_FALSE(s.failed);
  Loaded back = Load(s.file);
  ASSERT_FALSE(back.Failed());
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 50; ++x) {
      ASSERT_EQ(Alpha(back.Image(), x, y), b.GetAlpha(x, y)) << x << "," << y;
      if (b.GetAlpha(x, y) == 255) {
        ASSERT_EQ(Pixel(back.Image(), x, y), Pixel(b, x, y)) << x << "," << y;
      }
    }
}

TEST(GifWrite, FailuresAndAborts) {
  TImageIO io;
  Allocate24(io.IEBitmap(), 4, 4, std::vector<TRGB>(16, kRed));
  // No encoder.
  io.IOParams().GIF_LZWCOMPFUNC = nullptr;
  const TGIFLZWCompFunc saved = DefGIF_LZWCOMPFUNC;
  DefGIF_LZWCOMPFUNC = nullptr;
  Saved s = Save(io);
  DefGIF_LZWCOMPFUNC = saved;
  EXPECT_TRUE(s.failed);
  io.IOParams().GIF_LZWCOMPFUNC = saved;

  // A stream that takes fewer bytes than offered.
  TMemoryStream small;
  small.WriteLimit = 40;
  io.SaveToStream(small, ioGIF);
  EXPECT_TRUE(io.AbortFlag);

  // Stopped at the first progress point: nothing written.
  io.OnProgress = [&io](void*, int per) {
    if (per == 30) io.AbortFlag = true;
  };
  s = Save(io);
  EXPECT_TRUE(s.failed);
  EXPECT_TRUE(s.file.empty());
}

TEST(GifHooks, ReplacedCodersAreCalled) {
  static int decodes = 0, encodes = 0;
  TImageIO io;
  Allocate24(io.IEBitmap(), 2, 2, {kRed, kGreen, kBlue, kRed});
  io.IOParams().GIF_LZWCOMPFUNC = [](TStream& st, int h, int w, bool il, const std::uint8_t* src, int bits) {
    ++encodes;
    GIFLZWCompress(st, h, w, il, src, bits);
  };
  const Saved s = Save(io);
  EXPECT_EQ(encodes, 1);
  Loaded l;
  l.Params().GIF_LZWDECOMPFUNC = [](TStream& st, int h, int w, std::uint8_t* dest, bool il) {
    ++decodes;
    GIFLZWDecompress(st, h, w, dest, il);
  };
  TMemoryStream m(s.file);
  l.io->LoadFromStreamGIF(m);
  EXPECT_FALSE(l.Failed());
  EXPECT_EQ(decodes, 1);
  EXPECT_EQ(Pixel(l.Image(), 0, 1), kBlue);
}

}  // namespace
}  // namespace pravik
