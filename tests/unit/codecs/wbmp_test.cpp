#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "codecs/bitmap/wbmp.h"
#include "image/bitmap.h"
#include "imageio/formats.h"
#include "imageio/imageio.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/stream.h"
#include "unit/codecs/codec_test_util.h"

namespace pravik {
namespace {

using codectest::Bytes;
using codectest::Outcome;

// A codec's result: the image, the record and the failure.
struct Loaded : Outcome {
  TIEBitmap bmp;
  TIOParamsVals params;
};

std::unique_ptr<Loaded> Read(const Bytes& file, bool preview = false) {
  auto l = std::make_unique<Loaded>();
  TMemoryStream s(file);
  TProgressRec p = l->Progress();
  WBMPReadStream(s, l->bmp, l->params, preview, p);
  return l;
}

Bytes Write(TIEBitmap& bmp, bool* abortOut = nullptr) {
  TMemoryStream s;
  TIOParamsVals params;
  Outcome run;
  TProgressRec p = run.Progress();
  WBMPWriteStream(s, bmp, params, p);
  if (abortOut != nullptr) *abortOut = run.abort;
  return s.Bytes();
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(WBMPWrite, HeaderAndRowsOfA100x40Image) {
  TIEBitmap bmp;
  bmp.Allocate(100, 40, ie1g);
  bmp.SetPixels_ie1g(0, 0, true);
  bmp.SetPixels_ie1g(99, 39, true);
  const Bytes out = Write(bmp);
  ASSERT_EQ(out.size(), 4u + 40 * 13);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{0x00, 0x00, 0x64, 0x28}));
  EXPECT_EQ(out[4], 0x80);               // leftmost pixel white, in the top bit
  EXPECT_EQ(out[4 + 39 * 13 + 12], 0x10);  // pixel 99 of the last row
}

TEST(WBMPWrite, MultiByteSizes) {
  TIEBitmap bmp;
  bmp.Allocate(200, 128, ie1g);
  const Bytes out = Write(bmp);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 6), (Bytes{0x00, 0x00, 0x81, 0x48, 0x81, 0x00}));
}

TEST(WBMPRead, TwoByteWidthAndPixels) {
  // 256 x 2: row 0 starts white, row 1 ends white.
  Bytes rows(64, 0);
  rows[0] = 0x80;
  rows[63] = 0x01;
  auto l = Read(Cat({0x00, 0x00, 0x82, 0x00, 0x02}, rows));
  ASSERT_FALSE(l->abort) << l->reason;
  EXPECT_EQ(l->bmp.GetPixelFormat(), ie1g);
  EXPECT_EQ(l->bmp.GetWidth(), 256);
  EXPECT_EQ(l->params.WIDTH, 256);
  EXPECT_EQ(l->params.HEIGHT, 2);
  EXPECT_EQ(l->params.BITSPERSAMPLE, 1);
  EXPECT_EQ(l->params.SAMPLESPERPIXEL, 1);
  EXPECT_EQ(l->params.DPIX(), gDefaultDPIX);
  EXPECT_TRUE(l->bmp.GetPixels_ie1g(0, 0));
  EXPECT_FALSE(l->bmp.GetPixels_ie1g(1, 0));
  EXPECT_TRUE(l->bmp.GetPixels_ie1g(255, 1));
}

TEST(WBMPWrite, RoundTripKeepsEveryPixel) {
  TIEBitmap bmp;
  bmp.Allocate(13, 7, ie1g);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 13; ++x) bmp.SetPixels_ie1g(x, y, (x * 3 + y) % 5 < 2);
  auto l = Read(Write(bmp));
  ASSERT_FALSE(l->abort) << l->reason;
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 13; ++x) ASSERT_EQ(l->bmp.GetPixels_ie1g(x, y), bmp.GetPixels_ie1g(x, y)) << x << "," << y;
}

TEST(WBMPWrite, ColourGoesThroughTheTwoLevelConversion) {
  TIEBitmap colour;
  colour.Allocate(9, 3, ie24RGB);
  for (int x = 0; x < 9; ++x)
    for (int y = 0; y < 3; ++y)
      colour.SetPixels_ie24RGB(x, y, CreateRGB(static_cast<std::uint8_t>(x * 30), 90, static_cast<std::uint8_t>(y * 100)));
  TIEBitmap expected;
  expected.Allocate(9, 3, ie1g);
  expected.CopyAndConvertFormat(colour);
  auto l = Read(Write(colour));
  ASSERT_FALSE(l->abort);
  EXPECT_EQ(colour.GetPixelFormat(), ie24RGB);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 9; ++x) EXPECT_EQ(l->bmp.GetPixels_ie1g(x, y), expected.GetPixels_ie1g(x, y)) << x << "," << y;
}

TEST(WBMPWrite, LargeImagesAreScaledWholeToFit255) {
  // Left half black, right half white: a crop of the top-left corner would be all black.
  for (TIEPixelFormat pf : {ie24RGB, ie1g}) {
    TIEBitmap bmp;
    bmp.Allocate(600, 300, pf);
    bmp.FillRect(300, 0, 599, 299, 255);
    auto l = Read(Write(bmp));
    ASSERT_FALSE(l->abort) << l->reason;
    EXPECT_EQ(l->bmp.GetWidth(), 255);
    EXPECT_EQ(l->bmp.GetHeight(), 127);
    EXPECT_FALSE(l->bmp.GetPixels_ie1g(10, 60)) << pf;
    EXPECT_TRUE(l->bmp.GetPixels_ie1g(245, 60)) << pf;
    EXPECT_EQ(bmp.GetWidth(), 600) << "the caller's image keeps its size";
    EXPECT_EQ(bmp.GetPixelFormat(), pf);
  }
  // Taller than wide, and an extreme strip that still keeps one row.
  TIEBitmap tall;
  tall.Allocate(100, 1000, ie1g);
  auto t = Read(Write(tall));
  EXPECT_EQ(t->bmp.GetWidth(), 25);
  EXPECT_EQ(t->bmp.GetHeight(), 255);
  TIEBitmap strip;
  strip.Allocate(5000, 3, ie24RGB);
  auto s = Read(Write(strip));
  EXPECT_EQ(s->bmp.GetWidth(), 255);
  EXPECT_EQ(s->bmp.GetHeight(), 1);
}

struct BadCase {
  const char* name;
  Bytes file;
  const char* reason;
};

class WBMPBadInput : public ::testing::TestWithParam<BadCase> {};

TEST_P(WBMPBadInput, FailsCleanlyWithAReason) {
  auto l = Read(GetParam().file);
  EXPECT_TRUE(l->abort);
  EXPECT_EQ(l->reason, GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    Header, WBMPBadInput,
    ::testing::Values(BadCase{"empty", {}, "bad WBMP header"},
                      BadCase{"short_header", {0x00, 0x00, 0x08}, "bad WBMP header"},
                      BadCase{"five_byte_integer", {0x00, 0x00, 0x81, 0x80, 0x80, 0x80, 0x00, 0x01}, "bad WBMP header"},
                      BadCase{"type_2", {0x02, 0x00, 0x08, 0x01, 0xFF}, "unsupported WBMP type"},
                      BadCase{"extension_headers", {0x00, 0x80, 0x00, 0x08, 0x01, 0xFF}, "unsupported WBMP type"},
                      BadCase{"zero_width", {0x00, 0x00, 0x00, 0x01, 0xFF}, "bad image size"},
                      BadCase{"zero_height", {0x00, 0x00, 0x08, 0x00}, "bad image size"},
                      BadCase{"claims_far_more_than_it_holds", {0x00, 0x00, 0x81, 0x80, 0x00, 0x81, 0x80, 0x00, 0xFF},
                              "the file is too short for its image size"},
                      BadCase{"truncated_rows", {0x00, 0x00, 0x10, 0x03, 0xFF, 0xFF, 0xAA}, "truncated data"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WBMPRead, TruncatedRowsLoadWhatIsThereAndZeroTheRest) {
  auto l = Read({0x00, 0x00, 0x10, 0x03, 0xFF, 0xFF, 0xAA});
  ASSERT_TRUE(l->abort);
  ASSERT_EQ(l->bmp.GetWidth(), 16);
  EXPECT_EQ(l->bmp.GetScanLine(0)[1], 0xFF);
  EXPECT_EQ(l->bmp.GetScanLine(1)[0], 0xAA);
  EXPECT_EQ(l->bmp.GetScanLine(1)[1], 0x00);
  EXPECT_EQ(l->bmp.GetScanLine(2)[0], 0x00);
}

TEST(WBMPRead, PreviewFillsTheRecordOnly) {
  auto l = Read({0x00, 0x00, 0x81, 0x48, 0x05}, true);
  EXPECT_FALSE(l->abort);
  EXPECT_TRUE(l->bmp.IsEmpty());
  EXPECT_EQ(l->params.WIDTH, 200);
  EXPECT_EQ(l->params.HEIGHT, 5);
}

TEST(WBMPFront, LoadAndSaveThroughTheFront) {
  TImageIO io;
  io.IEBitmap().Allocate(10, 2, ie24RGB);
  io.IEBitmap().Fill(255);
  TMemoryStream s;
  io.SaveToStreamWBMP(s);
  ASSERT_FALSE(io.AbortFlag) << io.AbortReason;
  EXPECT_EQ(s.Bytes(), (Bytes{0x00, 0x00, 0x0A, 0x02, 0xFF, 0xC0, 0xFF, 0xC0}));
  s.Seek(0, soBeginning);
  TImageIO in;
  in.LoadFromStreamWBMP(s);
  ASSERT_FALSE(in.AbortFlag) << in.AbortReason;
  EXPECT_EQ(in.IOParams().FILETYPE, ioWBMP);
  EXPECT_TRUE(in.IEBitmap().GetPixels_ie1g(9, 1));
}

}  // namespace
}  // namespace pravik
