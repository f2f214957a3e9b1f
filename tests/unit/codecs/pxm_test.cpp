#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "codecs/bitmap/pxm.h"
#include "image/bitmap.h"
#include "imageio/formats.h"
#include "imageio/imageio.h"
#include "imageio/limits.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/registry.h"
#include "imageio/stream.h"
#include "unit/codecs/codec_test_util.h"

namespace pravik {
namespace {

// ---- helpers ------------------------------------------------------------------------------

using codectest::Outcome;

// A codec's result: the image, the record and the failure.
struct Loaded : Outcome {
  TIEBitmap bmp;
  TIOParamsVals params;
};

std::unique_ptr<Loaded> Read(const std::string& file, bool native = false, bool preview = false) {
  auto l = std::make_unique<Loaded>();
  l->params.ISNATIVEPIXELFORMAT = native;
  TMemoryStream s(file.data(), static_cast<std::int64_t>(file.size()));
  TProgressRec p = l->Progress();
  PXMReadStream(s, l->bmp, l->params, preview, p);
  return l;
}

std::string Write(TIEBitmap& bmp, TIOParamsVals& params, bool* abortOut = nullptr) {
  TMemoryStream s;
  Outcome run;
  TProgressRec p = run.Progress();
  PXMWriteStream(s, bmp, params, p);
  if (abortOut != nullptr) *abortOut = run.abort;
  return std::string(s.Bytes().begin(), s.Bytes().end());
}

std::string Bin(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

// A small colour image with distinct pixels.
void Fill24(TIEBitmap& bmp, int w, int h) {
  bmp.Allocate(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      bmp.SetPixels_ie24RGB(x, y, CreateRGB(static_cast<std::uint8_t>(x * 40 + y), static_cast<std::uint8_t>(y * 50),
                                            static_cast<std::uint8_t>(255 - x * 30)));
}

TRGB Grey(int v) { return CreateRGB(static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v)); }

// ---- reading: every variant --------------------------------------------------------------

struct PixelCase {
  const char* name;
  std::string file;
  bool native;
  TIEPixelFormat format;
  int bps, spp;
  int x, y;
  TRGB expect;  // the pixel at (x, y) as TRGB
};

class PXMReadPixels : public ::testing::TestWithParam<PixelCase> {};

TEST_P(PXMReadPixels, FormatDepthAndPixel) {
  const PixelCase& c = GetParam();
  auto l = Read(c.file, c.native);
  ASSERT_FALSE(l->abort) << l->reason;
  EXPECT_EQ(l->bmp.GetPixelFormat(), c.format);
  EXPECT_EQ(l->params.BITSPERSAMPLE, c.bps);
  EXPECT_EQ(l->params.SAMPLESPERPIXEL, c.spp);
  EXPECT_EQ(l->bmp.GetPixels(c.x, c.y), c.expect);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, PXMReadPixels,
    ::testing::Values(
        PixelCase{"P1_zero_is_white", "P1\n3 2\n0 1 0\n1 0 1\n", false, ie1g, 1, 1, 0, 0, Grey(255)},
        PixelCase{"P1_one_is_black", "P1\n3 2\n0 1 0\n1 0 1\n", false, ie1g, 1, 1, 1, 0, Grey(0)},
        PixelCase{"P1_packed_digits_and_comment", "P1 3 2 01#x\n0 110", false, ie1g, 1, 1, 2, 1, Grey(255)},
        PixelCase{"P2_maxval15_full", "P2 2 1 15\n15 7\n", false, ie24RGB, 8, 1, 0, 0, Grey(255)},
        PixelCase{"P2_maxval15_seven", "P2 2 1 15\n15 7\n", false, ie24RGB, 8, 1, 1, 0, Grey(119)},
        PixelCase{"P2_above_maxval_clamps", "P2 1 1 15\n99999999999\n", false, ie24RGB, 8, 1, 0, 0, Grey(255)},
        PixelCase{"P3_rgb", "P3 1 1 255\n10 20 30\n", false, ie24RGB, 8, 3, 0, 0, CreateRGB(10, 20, 30)},
        PixelCase{"P3_plain_words_are_scaled_even_native", "P3 1 1 65535\n65535 0 257\n", true, ie24RGB, 8, 3, 0, 0,
                  CreateRGB(255, 0, 1)},
        PixelCase{"P2_maxval65535_scaled", "P2 1 1 65535\n65280\n", false, ie24RGB, 8, 1, 0, 0, Grey(254)},
        PixelCase{"P4_bits", Bin({'P', '4', ' ', '9', ' ', '1', '\n', 0x40, 0x80}), false, ie1g, 1, 1, 1, 0, Grey(0)},
        PixelCase{"P4_last_bit", Bin({'P', '4', ' ', '9', ' ', '1', '\n', 0x40, 0x80}), false, ie1g, 1, 1, 8, 0,
                  Grey(0)},
        PixelCase{"P4_zero_bit_white", Bin({'P', '4', ' ', '9', ' ', '1', '\n', 0x40, 0x80}), false, ie1g, 1, 1, 0, 0,
                  Grey(255)},
        PixelCase{"P5_maxval100", Bin({'P', '5', ' ', '2', ' ', '1', ' ', '1', '0', '0', '\n', 50, 100}), false,
                  ie24RGB, 8, 1, 0, 0, Grey(127)},
        PixelCase{"P5_maxval100_above_clamps", Bin({'P', '5', ' ', '1', ' ', '1', ' ', '1', '0', '0', '\n', 200}),
                  false, ie24RGB, 8, 1, 0, 0, Grey(255)},
        PixelCase{"P5_wide_high_byte", Bin({'P', '5', ' ', '1', ' ', '1', ' ', '6', '5', '5', '3', '5', '\n', 0x12, 0xFF}),
                  false, ie24RGB, 16, 1, 0, 0, Grey(0x12)},
        PixelCase{"P5_wide_native", Bin({'P', '5', ' ', '1', ' ', '1', ' ', '6', '5', '5', '3', '5', '\n', 0xAB, 0x01}),
                  true, ie16g, 16, 1, 0, 0, Grey(0xAB)},
        PixelCase{"P5_10bit_scaled", Bin({'P', '5', ' ', '1', ' ', '1', ' ', '1', '0', '2', '3', '\n', 0x03, 0xFF}),
                  false, ie24RGB, 16, 1, 0, 0, Grey(255)},
        PixelCase{"P6_rgb", Bin({'P', '6', ' ', '1', ' ', '1', ' ', '2', '5', '5', '\n', 1, 2, 3}), false, ie24RGB, 8, 3,
                  0, 0, CreateRGB(1, 2, 3)},
        PixelCase{"P6_maxval15_scaled", Bin({'P', '6', ' ', '1', ' ', '1', ' ', '1', '5', '\n', 15, 7, 0}), false,
                  ie24RGB, 8, 3, 0, 0, CreateRGB(255, 119, 0)},
        PixelCase{"P6_wide_high_bytes", Bin({'P', '6', ' ', '1', ' ', '1', ' ', '6', '5', '5', '3', '5', '\n', 0x10, 0xFF,
                                             0x20, 0x00, 0x30, 0x80}),
                  false, ie24RGB, 16, 3, 0, 0, CreateRGB(0x10, 0x20, 0x30)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PXMRead, NativeBinaryWordsKeepOrScaleToTheFullRange) {
  auto l = Read(Bin({'P', '6', ' ', '1', ' ', '1', ' ', '6', '5', '5', '3', '5', '\n', 0x12, 0x34, 0x56, 0x78, 0x9A,
                     0xBC}),
                true);
  ASSERT_EQ(l->bmp.GetPixelFormat(), ie48RGB);
  EXPECT_EQ(l->bmp.GetPixels_ie48RGB(0, 0), (TRGB48{0x1234, 0x5678, 0x9ABC}));

  // maxval 1023: 1023 is white, 512 is about half.
  auto g = Read(Bin({'P', '5', ' ', '2', ' ', '1', ' ', '1', '0', '2', '3', '\n', 0x03, 0xFF, 0x02, 0x00}), true);
  ASSERT_EQ(g->bmp.GetPixelFormat(), ie16g);
  EXPECT_EQ(g->bmp.GetPixels_ie16g(0, 0), 65535);
  EXPECT_EQ(g->bmp.GetPixels_ie16g(1, 0), (512u * 65535 + 511) / 1023);

}

TEST(PXMRead, RecordsSizeResolutionAndDropsThePalette) {
  TRGB pal[2] = {Grey(0), Grey(255)};
  auto l = std::make_unique<Loaded>();
  l->params.SetColorMap(pal, 2);
  l->params.SetDpi(72);
  TMemoryStream s("P5 3 2 255\n\1\2\3\4\5\6", 17);
  TProgressRec p;
  p.AbortFlag = &l->abort;
  PXMReadStream(s, l->bmp, l->params, false, p);
  ASSERT_FALSE(l->abort);
  EXPECT_EQ(l->params.WIDTH, 3);
  EXPECT_EQ(l->params.HEIGHT, 2);
  EXPECT_EQ(l->params.ORIGINALWIDTH, 3);
  EXPECT_EQ(l->params.ORIGINALHEIGHT, 2);
  EXPECT_EQ(l->params.DPIX(), gDefaultDPIX);
  EXPECT_EQ(l->params.DPIY(), gDefaultDPIY);
  EXPECT_TRUE(l->params.COLORMAP.empty());
  EXPECT_EQ(l->bmp.GetPixels(2, 1), Grey(6));
}

// ---- header tokens and comments ----------------------------------------------------------

TEST(PXMRead, CommentsAreTrimmedEntriesWhereverATokenMayStart) {
  auto l = Read("# before\nP2\t# magic done \r3# right after a token\n  #  padded  \n1\n255\n1 2 3\n");
  ASSERT_FALSE(l->abort) << l->reason;
  EXPECT_EQ(l->params.PXM_COMMENTS,
            (std::vector<std::string>{"before", "magic done", "right after a token", "padded"}));
  EXPECT_EQ(l->bmp.GetWidth(), 3);
  EXPECT_EQ(l->bmp.GetPixels(2, 0), Grey(3));
}

TEST(PXMRead, BinaryDataStartRightAfterTheLastHeaderToken) {
  // The byte after maxval is the one separator; the raster starts with a blank byte.
  auto l = Read(Bin({'P', '5', '\n', '2', ' ', '1', '\r', '2', '5', '5', ' ', ' ', 7}));
  ASSERT_FALSE(l->abort) << l->reason;
  EXPECT_EQ(l->bmp.GetPixels(0, 0), Grey(' '));
  EXPECT_EQ(l->bmp.GetPixels(1, 0), Grey(7));
  // A comment right after maxval ends with its line; data follow it.
  auto c = Read(Bin({'P', '5', ' ', '1', ' ', '1', ' ', '2', '5', '5', '#', 'x', '\n', 9}));
  ASSERT_FALSE(c->abort) << c->reason;
  EXPECT_EQ(c->bmp.GetPixels(0, 0), Grey(9));
  EXPECT_EQ(c->params.PXM_COMMENTS, std::vector<std::string>{"x"});
}

// ---- bad input ----------------------------------------------------------------------------

struct BadCase {
  const char* name;
  std::string file;
  const char* reason;
};

class PXMBadInput : public ::testing::TestWithParam<BadCase> {};

TEST_P(PXMBadInput, FailsCleanlyWithAReason) {
  auto l = Read(GetParam().file);
  EXPECT_TRUE(l->abort);
  EXPECT_EQ(l->reason, GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    Header, PXMBadInput,
    ::testing::Values(BadCase{"empty", "", "not a Netpbm file"}, BadCase{"other_magic", "P7 1 1 255\n", "not a Netpbm file"},
                      BadCase{"long_magic", "P632 35888888863 2!\n", "not a Netpbm file"},
                      BadCase{"lower_case", "p6 1 1 255\n", "not a Netpbm file"},
                      BadCase{"zero_width", "P6 0 1 255\n", "bad image size"},
                      BadCase{"missing_height", "P6 10", "bad image size"},
                      BadCase{"word_width", "P6 ten 1 255\n", "bad image size"},
                      BadCase{"width_over_int", "P4 2147483648 1\n", "image too large"},
                      BadCase{"maxval_zero", "P5 1 1 0\n\1", "bad maxval"},
                      BadCase{"maxval_over_16_bits", "P2 1 1 65536\n1", "bad maxval"},
                      BadCase{"maxval_missing", "P3 1 1", "bad maxval"},
                      BadCase{"huge_decoded_size", "P6 2000000000 2000000000 255\n", "image too large"},
                      BadCase{"claims_far_more_than_it_holds", "P6 30000 30000 255\n\1\2\3",
                              "the file is too short for its image size"},
                      BadCase{"plain_letters", "P2 2 1 255\n10 x1\n", "bad sample in the raster"},
                      BadCase{"plain_bits_letters", "P1 2 1 0 a\n", "bad sample in the raster"},
                      BadCase{"plain_truncated", "P3 2 2 255\n1 2 3 4 5 6 7", "truncated data"},
                      BadCase{"binary_truncated", "P6 2 2 255\n123456789", "truncated data"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PXMRead, TruncatedDataKeepsWhatWasReadAndZeroesTheRest) {
  // Two full pixels and one split pixel of a 2 x 2 P6: row 1 keeps nothing of the split pixel.
  auto l = Read(Bin({'P', '6', ' ', '2', ' ', '2', ' ', '2', '5', '5', '\n', 1, 2, 3, 4, 5, 6, 7, 8}));
  ASSERT_TRUE(l->abort);
  ASSERT_EQ(l->bmp.GetWidth(), 2);
  EXPECT_EQ(l->bmp.GetPixels(1, 0), CreateRGB(4, 5, 6));
  EXPECT_EQ(l->bmp.GetPixels(0, 1), Grey(0));
  EXPECT_EQ(l->bmp.GetPixels(1, 1), Grey(0));

  // P4 rows not reached stay 0 (black), never inverted to white.
  auto b = Read(Bin({'P', '4', ' ', '8', ' ', '3', '\n', 0x0F}));
  ASSERT_TRUE(b->abort);
  EXPECT_EQ(b->bmp.GetPixels(0, 0), Grey(255));
  EXPECT_EQ(b->bmp.GetPixels(7, 0), Grey(0));
  for (int y = 1; y < 3; ++y) EXPECT_EQ(b->bmp.GetScanLine(y)[0], 0) << y;

  // Plain data: samples read stay, the rest is 0.
  auto p = Read("P2 2 2 255\n9 8 7");
  ASSERT_TRUE(p->abort);
  EXPECT_EQ(p->bmp.GetPixels(0, 1), Grey(7));
  EXPECT_EQ(p->bmp.GetPixels(1, 1), Grey(0));
}

TEST(PXMRead, AReusedBufferIsClearedAndLosesItsAlphaChannel) {
  Loaded l;
  l.bmp.Allocate(2, 2, ie24RGB);
  l.bmp.Fill(255);
  l.bmp.GetAlphaChannel();
  TMemoryStream s("P6 2 2 255\n\1\2\3", 14);
  TProgressRec p;
  p.AbortFlag = &l.abort;
  PXMReadStream(s, l.bmp, l.params, false, p);
  EXPECT_TRUE(l.abort);
  EXPECT_FALSE(l.bmp.GetHasAlphaChannel());
  EXPECT_EQ(l.bmp.GetPixels(1, 1), Grey(0));
}

TEST(PXMRead, PreviewFillsTheRecordOnly) {
  auto l = Read("# note\nP6 640 480 65535\n", false, true);
  EXPECT_FALSE(l->abort);
  EXPECT_TRUE(l->bmp.IsEmpty());
  EXPECT_EQ(l->params.WIDTH, 640);
  EXPECT_EQ(l->params.HEIGHT, 480);
  EXPECT_EQ(l->params.BITSPERSAMPLE, 16);
  EXPECT_EQ(l->params.SAMPLESPERPIXEL, 3);
  EXPECT_EQ(l->params.PXM_COMMENTS, std::vector<std::string>{"note"});
}

TEST(PXMRead, UserStopEndsDecodingAtTheNextRow) {
  const std::string file = "P5 4 4 255\n" + std::string(16, '\x11');
  TMemoryStream s(file.data(), static_cast<std::int64_t>(file.size()));
  TIEBitmap bmp;
  TIOParamsVals params;
  bool abort = false;
  int reports = 0;
  TProgressRec p;
  p.AbortFlag = &abort;
  p.Callback = [&](void*, int) {
    ++reports;
    abort = true;
  };
  PXMReadStream(s, bmp, params, false, p);
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(bmp.GetPixels(0, 0), Grey(0x11));
  EXPECT_EQ(bmp.GetPixels(0, 1), Grey(0));
}

// ---- content test -------------------------------------------------------------------------

TEST(PXMDetect, TryPXMAnswersAndRestoresThePosition) {
  struct Case {
    std::string bytes;
    bool expect;
  };
  const Case cases[] = {
      {"P6 1 1 255\n\1\2\3", true},
      {"# comment first\nP5\n2 3\n", true},
      {"P1\n1 1", true},
      {"  \n\tP4 8 1\n", true},
      {"P7 1 1", false},
      {"P6 0 1 255", false},
      {"P6 a 1 255", false},
      {"P6 1", false},
      {"P66 1 1", false},
      {"\xFF\xD8\xFF\xE0\x00\x10JFIF\x00", false},
      {"", false},
  };
  for (const Case& c : cases) {
    std::string data = "xx" + c.bytes;
    TMemoryStream s(data.data(), static_cast<std::int64_t>(data.size()));
    s.Seek(2, soBeginning);
    EXPECT_EQ(TryPXM(s), c.expect) << c.bytes;
    EXPECT_EQ(s.GetPosition(), 2) << c.bytes;
  }
}

TEST(PXMDetect, LoadFromStreamFindsNetpbmByContent) {
  TImageIO io;
  TMemoryStream s("P6\n1 1\n255\n\x10\x20\x30", 14);
  EXPECT_EQ(FindStreamFormat(s), ioPXM);
  io.LoadFromStream(s);
  ASSERT_FALSE(io.AbortFlag) << io.AbortReason;
  EXPECT_EQ(io.IOParams().FILETYPE, ioPXM);
  EXPECT_EQ(io.IEBitmap().GetPixels(0, 0), CreateRGB(0x10, 0x20, 0x30));
}

// ---- writing ------------------------------------------------------------------------------

TEST(PXMWrite, HeaderWithoutAndWithComments) {
  TIEBitmap bmp;
  bmp.Allocate(640, 480, ie24RGB);
  TIOParamsVals params;
  EXPECT_EQ(Write(bmp, params).substr(0, 15), "P6 640 480 255\n");

  params.PXM_COMMENTS = {"made here", "two\nlines"};
  const std::string out = Write(bmp, params);
  const std::string header = "P6 \n# made here\n\n# two\n\n# lines\n640 480 255\n";
  EXPECT_EQ(out.substr(0, header.size()), header);
  EXPECT_EQ(out.size(), header.size() + 640u * 480 * 3);
}

enum class Content { Colour, Grey, BlackWhite };

struct VariantCase {
  const char* name;
  Content content;
  TIEPixelFormat format;
  int bps, spp;
  const char* head;
};

class PXMWriteVariant : public ::testing::TestWithParam<VariantCase> {};

TEST_P(PXMWriteVariant, ChosenFromTheRecordAndTheImage) {
  const VariantCase& c = GetParam();
  TIEBitmap src;
  Fill24(src, 5, 3);
  if (c.content == Content::Grey) {
    src.ConvertToPixelFormat(ie8g);
  } else if (c.content == Content::BlackWhite) {
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x) src.SetPixels_ie24RGB(x, y, Grey((x + y) % 2 ? 255 : 0));
  }
  TIEBitmap bmp;
  bmp.Allocate(5, 3, c.format);
  bmp.CopyAndConvertFormat(src);
  TIOParamsVals params;
  params.BITSPERSAMPLE = c.bps;
  params.SAMPLESPERPIXEL = c.spp;
  const std::string out = Write(bmp, params);
  EXPECT_EQ(out.substr(0, std::string(c.head).size()), c.head);
  EXPECT_EQ(bmp.GetPixelFormat(), c.format) << "the caller's image is not converted";
  // Whatever the variant, what comes back looks the same.
  auto back = Read(out);
  ASSERT_FALSE(back->abort) << back->reason;
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      ASSERT_EQ(back->bmp.GetPixels(x, y), bmp.GetPixels(x, y)) << x << "," << y;
    }
}

// A two-level or grey request (what a 1-bit or palette source leaves in the
// record) is honoured only where the image is black and white, or grey.
INSTANTIATE_TEST_SUITE_P(
    Choice, PXMWriteVariant,
    ::testing::Values(VariantCase{"bits_from_record", Content::BlackWhite, ie24RGB, 1, 1, "P4 5 3\n"},
                      VariantCase{"bits_asked_of_grey", Content::Grey, ie24RGB, 1, 1, "P5 5 3 255\n"},
                      VariantCase{"bits_asked_of_colour", Content::Colour, ie24RGB, 1, 1, "P6 5 3 255\n"},
                      VariantCase{"ie1g_whatever_the_record", Content::BlackWhite, ie1g, 8, 3, "P4 5 3\n"},
                      VariantCase{"grey8", Content::Grey, ie24RGB, 8, 1, "P5 5 3 255\n"},
                      VariantCase{"grey8_from_ie8g", Content::Grey, ie8g, 8, 1, "P5 5 3 255\n"},
                      VariantCase{"grey8_asked_of_colour", Content::Colour, ie24RGB, 8, 1, "P6 5 3 255\n"},
                      VariantCase{"grey8_asked_of_a_palette", Content::Colour, ie8p, 8, 1, "P6 5 3 255\n"},
                      VariantCase{"grey16_is_rgb", Content::Grey, ie24RGB, 16, 1, "P6 5 3 255\n"},
                      VariantCase{"grey8_from_words", Content::Grey, ie48RGB, 8, 1, "P5 5 3 255\n"},
                      VariantCase{"rgb16_from_bytes", Content::Colour, ie24RGB, 16, 3, "P6 5 3 65535\n"},
                      VariantCase{"rgb16_from_words", Content::Colour, ie48RGB, 8, 3, "P6 5 3 65535\n"},
                      VariantCase{"rgb8", Content::Colour, ie24RGB, 8, 3, "P6 5 3 255\n"},
                      VariantCase{"rgb8_any_other_record", Content::Colour, ie24RGB, 4, 4, "P6 5 3 255\n"},
                      VariantCase{"other_format_as_rgb8", Content::Colour, ie8g, 8, 3, "P6 5 3 255\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PXMWrite, RoundTripsThroughMemoryKeepPixels) {
  TIEBitmap src;
  Fill24(src, 7, 4);
  for (int bps : {8, 16}) {
    TIOParamsVals params;
    params.BITSPERSAMPLE = bps;
    params.SAMPLESPERPIXEL = 3;
    auto back = Read(Write(src, params));
    ASSERT_FALSE(back->abort) << back->reason;
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 7; ++x) ASSERT_EQ(back->bmp.GetPixels(x, y), src.GetPixels(x, y)) << bps;
  }
  // ie48RGB words come back exactly with native reading.
  TIEBitmap words;
  words.Allocate(3, 2, ie48RGB);
  for (int i = 0; i < 6; ++i)
    words.SetPixels_ie48RGB(i % 3, i / 3, TRGB48{std::uint16_t(i * 1111), std::uint16_t(65535 - i), std::uint16_t(i)});
  TIOParamsVals params;
  auto back = Read(Write(words, params), true);
  ASSERT_EQ(back->bmp.GetPixelFormat(), ie48RGB);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(back->bmp.GetPixels_ie48RGB(i % 3, i / 3), words.GetPixels_ie48RGB(i % 3, i / 3));
}

TEST(PXMWrite, SixteenBitP6LoadedAs24BitsSavesEachByteTimes257) {
  auto l = Read(Bin({'P', '6', ' ', '1', ' ', '1', ' ', '6', '5', '5', '3', '5', '\n', 0xAB, 0xCD, 0x01, 0x02, 0xFF,
                     0x00}));
  ASSERT_EQ(l->bmp.GetPixelFormat(), ie24RGB);
  EXPECT_EQ(Write(l->bmp, l->params), "P6 1 1 65535\n" + Bin({0xAB, 0xAB, 0x01, 0x01, 0xFF, 0xFF}));
}

TEST(PXMWrite, P4LoadedAndSavedGivesBackTheSameBytes) {
  const std::string file = "P4 11 2\n" + Bin({0xA5, 0x3F, 0x00, 0xE1});
  auto l = Read(file);
  ASSERT_FALSE(l->abort);
  EXPECT_EQ(Write(l->bmp, l->params), file);
}

TEST(PXMWrite, CommentsComeBackIntoTheHeader) {
  auto l = Read("P5 1 1 #   kept  \n255\n\x7F");
  ASSERT_FALSE(l->abort);
  EXPECT_EQ(Write(l->bmp, l->params), "P5 \n# kept\n1 1 255\n\x7F");
}

TEST(PXMWrite, ColourImageWithBitsRecordIsThresholdedNotBitCopied) {
  TIEBitmap bmp;
  bmp.Allocate(8, 1, ie24RGB);
  for (int x = 0; x < 8; ++x) bmp.SetPixels_ie24RGB(x, 0, x < 4 ? Grey(0) : Grey(255));
  TIOParamsVals params;
  params.BITSPERSAMPLE = 1;
  params.SAMPLESPERPIXEL = 1;
  EXPECT_EQ(Write(bmp, params), "P4 8 1\n" + Bin({0xF0}));
}

TEST(PXMWrite, ShortWriteAndUserStopSetTheAbortFlagAndStop) {
  TIEBitmap bmp;
  Fill24(bmp, 100, 50);
  TIOParamsVals params;
  TMemoryStream limited;
  limited.WriteLimit = 10;
  bool abort = false;
  TProgressRec p;
  p.AbortFlag = &abort;
  PXMWriteStream(limited, bmp, params, p);
  EXPECT_TRUE(abort);

  TMemoryStream s;
  abort = false;
  int reports = 0;
  p.Callback = [&](void*, int) {
    if (++reports == 2) abort = true;
  };
  PXMWriteStream(s, bmp, params, p);
  EXPECT_EQ(reports, 2);
  EXPECT_EQ(s.GetSize(), 14 + 2 * 300);  // "P6 100 50 255\n" and two rows
}

TEST(PXMWrite, FrontKeepsWordsAndConvertsOtherFormats) {
  TImageIO io;
  io.IEBitmap().Allocate(2, 2, ie48RGB);
  TMemoryStream s;
  io.SaveToStreamPXM(s);
  ASSERT_FALSE(io.AbortFlag) << io.AbortReason;
  EXPECT_EQ(io.IEBitmap().GetPixelFormat(), ie48RGB);
  EXPECT_EQ(std::string(s.Bytes().begin(), s.Bytes().begin() + 13), "P6 2 2 65535\n");

  io.IEBitmap().Allocate(2, 2, ie8g);
  TMemoryStream g;
  io.SaveToStreamPXM(g);
  EXPECT_EQ(io.IEBitmap().GetPixelFormat(), ie24RGB);
}

TEST(PXMWrite, ConverterRoadGreySourceGivesP5) {
  // What a grey file leaves in the record steers the next save.
  TImageIO io;
  TMemoryStream in("P5 2 1 255\n\x10\xF0", 13);
  io.LoadFromStream(in);
  ASSERT_FALSE(io.AbortFlag) << io.AbortReason;
  io.IOParams().ResetInfo();
  TMemoryStream out;
  io.SaveToStream(out, ioPXM);
  EXPECT_EQ(std::string(out.Bytes().begin(), out.Bytes().end()), "P5 2 1 255\n\x10\xF0");
}

}  // namespace
}  // namespace pravik
