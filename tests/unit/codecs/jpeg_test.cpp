// JPEG reader and writer: colour spaces, sampling, progressive and scaled
// coding, density, markers and metadata blocks, and bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "codecs/jpeg/jpeg.h"
#include "image/bitmap.h"
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

// A smooth colour image: gradients with a soft blob, easy on JPEG.
void Photo(TIEBitmap& b, int w, int h) {
  ASSERT_TRUE(b.Allocate(w, h, ie24RGB));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double d = std::hypot(x - w / 2.0, y - h / 2.0) / (w + h);
      b.SetPixels_ie24RGB(x, y, CreateRGB(static_cast<std::uint8_t>(255 * x / std::max(1, w - 1)),
                                          static_cast<std::uint8_t>(255 * y / std::max(1, h - 1)),
                                          static_cast<std::uint8_t>(std::clamp(255 - 600 * d, 0.0, 255.0))));
    }
}

// Mean absolute difference per channel of two same-size images (as TRGB).
double MeanError(TIEBitmap& a, TIEBitmap& b) {
  EXPECT_EQ(a.GetWidth(), b.GetWidth());
  EXPECT_EQ(a.GetHeight(), b.GetHeight());
  double sum = 0;
  for (int y = 0; y < a.GetHeight(); ++y)
    for (int x = 0; x < a.GetWidth(); ++x) {
      const TRGB p = a.GetPixels(x, y), q = b.GetPixels(x, y);
      sum += std::abs(p.r - q.r) + std::abs(p.g - q.g) + std::abs(p.b - q.b);
    }
  return sum / (3.0 * a.GetWidth() * a.GetHeight());
}

Bytes Encode(TIEBitmap& b, TIOParamsVals& params, Outcome* run = nullptr) {
  Outcome local;
  Outcome& r = run != nullptr ? *run : local;
  TProgressRec progress = r.Progress();
  TMemoryStream m;
  WriteJPegStream(m, b, params, progress);
  EXPECT_FALSE(r.abort) << r.reason;
  return m.Bytes();
}

// Decodes with the front's arguments (native formats as given).
int Decode(const Bytes& data, TIEBitmap& b, TIOParamsVals& params, Outcome& run, bool native = false,
           bool headerOnly = false, bool invertCMYK = false, int lines = -1) {
  TReadOnlyMemoryStream s(data.data(), static_cast<std::int64_t>(data.size()));
  TProgressRec progress = run.Progress();
  return ReadJPegStream(s, nullptr, b, params, progress, headerOnly, false, true, invertCMYK, true, true, lines,
                        native);
}

// Offset of the first marker with that code (FF code) after SOI, or npos.
std::size_t FindMarker(const Bytes& d, std::uint8_t code) {
  for (std::size_t i = 2; i + 3 < d.size();) {
    if (d[i] != 0xFF) return std::string::npos;
    if (d[i + 1] == code) return i;
    if (d[i + 1] == 0xDA) return std::string::npos;
    i += 2 + ((d[i + 2] << 8) | d[i + 3]);
  }
  return std::string::npos;
}

// The codes of the APPn and COM markers of a file, in file order.
std::vector<int> MarkerCodes(const Bytes& d) {
  std::vector<int> codes;
  for (std::size_t i = 2; i + 3 < d.size();) {
    const int code = d[i + 1];
    if (code == 0xDA) break;
    if ((code >= 0xE0 && code <= 0xEF) || code == 0xFE) codes.push_back(code);
    i += 2 + ((d[i + 2] << 8) | d[i + 3]);
  }
  return codes;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

class JpegTest : public ::testing::Test {
 protected:
  void SetUp() override { Photo(src, 64, 48); }
  TIEBitmap src;
};

// ---- colour spaces --------------------------------------------------------------------------

TEST_F(JpegTest, EveryColourSpaceRoundTrips) {
  struct Case {
    TIOJPEGColorspace space;
    int samples;
    TIEPixelFormat native;
  };
  const Case cases[] = {
      {ioJPEG_YCbCr, 3, ie24RGB}, {ioJPEG_RGB, 3, ie24RGB},  {ioJPEG_GRAYLEV, 1, ie8g},
      {ioJPEG_CMYK, 4, ieCMYK},   {ioJPEG_YCbCrK, 4, ieCMYK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.space);
    TIOParamsVals wp;
    wp.JPEG_COLORSPACE = c.space;
    wp.JPEG_QUALITY = 95;
    const Bytes file = Encode(src, wp);
    for (bool native : {false, true}) {
      TIEBitmap out;
      TIOParamsVals rp;
      Outcome run;
      EXPECT_EQ(Decode(file, out, rp, run, native), 48);
      ASSERT_FALSE(run.abort) << run.reason;
      EXPECT_EQ(rp.JPEG_COLORSPACE, c.space);
      EXPECT_EQ(rp.SAMPLESPERPIXEL, c.samples);
      EXPECT_EQ(rp.BITSPERSAMPLE, 8);
      EXPECT_EQ(out.GetPixelFormat(), native ? c.native : ie24RGB);
      // What the file can hold at best: libjpeg's own grey weights, the
      // colours the CMYK conversion reaches.
      TIEBitmap expected;
      expected.Assign(src);
      if (c.space == ioJPEG_GRAYLEV) {
        for (int y = 0; y < 48; ++y)
          for (int x = 0; x < 64; ++x) {
            const TRGB p = src.GetPixels(x, y);
            const auto v = static_cast<std::uint8_t>(std::lround(0.299 * p.r + 0.587 * p.g + 0.114 * p.b));
            expected.SetPixels_ie24RGB(x, y, TRGB{v, v, v});
          }
      } else if (c.samples == 4) {
        expected.ConvertToPixelFormat(ieCMYK);
        expected.ConvertToPixelFormat(ie24RGB);
      }
      if (out.GetPixelFormat() != ieCMYK) {
        EXPECT_LT(MeanError(out, expected), 2.5);
      }
    }
  }
}

// An independent decoder (plain libjpeg, red-first output) sees red in the
// first component of an RGB file and of a YCbCr file alike.
TEST_F(JpegTest, RedIsRedForAPlainDecoder) {
  TIEBitmap red;
  ASSERT_TRUE(red.Allocate(16, 16, ie24RGB));
  red.Fill(0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) red.SetPixels_ie24RGB(x, y, CreateRGB(250, 10, 20));
  for (TIOJPEGColorspace space : {ioJPEG_RGB, ioJPEG_YCbCr}) {
    TIOParamsVals wp;
    wp.JPEG_COLORSPACE = space;
    wp.JPEG_QUALITY = 100;
    const Bytes file = Encode(red, wp);
    jpeg_decompress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_decompress(&c);
    jpeg_mem_src(&c, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&c, TRUE);
    EXPECT_EQ(c.jpeg_color_space, space == ioJPEG_RGB ? JCS_RGB : JCS_YCbCr);
    c.out_color_space = JCS_RGB;
    jpeg_start_decompress(&c);
    std::vector<JSAMPLE> row(16 * 3);
    JSAMPROW p = row.data();
    jpeg_read_scanlines(&c, &p, 1);
    EXPECT_NEAR(row[0], 250, 3);
    EXPECT_NEAR(row[1], 10, 3);
    EXPECT_NEAR(row[2], 20, 3);
    jpeg_abort_decompress(&c);
    jpeg_destroy_decompress(&c);
  }
}

TEST_F(JpegTest, CMYKInvertComplementsEveryByte) {
  TIOParamsVals wp;
  wp.JPEG_COLORSPACE = ioJPEG_CMYK;
  const Bytes file = Encode(src, wp);
  TIEBitmap plain, inverted;
  TIOParamsVals p1, p2;
  Outcome r1, r2;
  Decode(file, plain, p1, r1, true);
  Decode(file, inverted, p2, r2, true, false, true);
  ASSERT_EQ(inverted.GetPixelFormat(), ieCMYK);
  for (int y = 0; y < plain.GetHeight(); ++y) {
    const std::uint8_t* a = plain.GetScanLine(y);
    const std::uint8_t* b = inverted.GetScanLine(y);
    for (int i = 0; i < 4 * plain.GetWidth(); ++i) ASSERT_EQ(a[i], 255 - b[i]) << y << "," << i;
  }
  // Into an RGB image the complemented samples go through the conversion.
  TIEBitmap rgb;
  TIOParamsVals p3;
  Outcome r3;
  Decode(file, rgb, p3, r3, false, false, true);
  TIEBitmap expected;
  expected.Assign(inverted);
  expected.ConvertToPixelFormat(ie24RGB);
  EXPECT_LT(MeanError(rgb, expected), 0.01);
}

// ---- writer settings -------------------------------------------------------------------------

TEST_F(JpegTest, SubsamplingSetsTheLuminanceFactors) {
  const struct {
    TIOJPEGCromaSubsampling s;
    int factors;
  } cases[] = {{ioJPEG_MEDIUM, 0x21}, {ioJPEG_HIGH, 0x22}, {ioJPEG_NONE, 0x11}};
  for (const auto& c : cases) {
    TIOParamsVals wp;
    wp.JPEG_CROMASUBSAMPLING = c.s;
    const Bytes file = Encode(src, wp);
    const std::size_t sof = FindMarker(file, 0xC0);
    ASSERT_NE(sof, std::string::npos);
    // SOF: length(2) precision(1) height(2) width(2) count(1), then id, factors, table per component.
    EXPECT_EQ(file[sof + 11], c.factors);
    EXPECT_EQ(file[sof + 14], 0x11);
    EXPECT_EQ(file[sof + 17], 0x11);
  }
}

TEST_F(JpegTest, QualityProgressiveHuffmanSmoothingAndDct) {
  struct Case {
    const char* name;
    void (*set)(TIOParamsVals&);
    std::uint8_t sof;
  };
  const Case cases[] = {
      {"quality 0", [](TIOParamsVals& p) { p.JPEG_QUALITY = 0; }, 0xC0},
      {"quality 1", [](TIOParamsVals& p) { p.JPEG_QUALITY = 1; }, 0xC0},
      {"quality 100", [](TIOParamsVals& p) { p.JPEG_QUALITY = 100; }, 0xC0},
      {"progressive", [](TIOParamsVals& p) { p.JPEG_PROGRESSIVE = true; }, 0xC2},
      {"optimal Huffman", [](TIOParamsVals& p) { p.JPEG_OPTIMALHUFFMAN = true; }, 0xC0},
      {"smoothing", [](TIOParamsVals& p) { p.JPEG_SMOOTH = 50; }, 0xC0},
      {"fast DCT", [](TIOParamsVals& p) { p.JPEG_DCTMETHOD = ioJPEG_IFAST; }, 0xC0},
      {"float DCT", [](TIOParamsVals& p) { p.JPEG_DCTMETHOD = ioJPEG_FLOAT; }, 0xC0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TIOParamsVals wp;
    c.set(wp);
    const Bytes file = Encode(src, wp);
    EXPECT_NE(FindMarker(file, c.sof), std::string::npos);
    TIEBitmap out;
    TIOParamsVals rp;
    rp.JPEG_DCTMETHOD = wp.JPEG_DCTMETHOD;
    Outcome run;
    EXPECT_EQ(Decode(file, out, rp, run), 48);
    EXPECT_FALSE(run.abort) << run.reason;
    EXPECT_EQ(rp.JPEG_PROGRESSIVE, c.sof == 0xC2);
    EXPECT_LT(MeanError(out, src), wp.JPEG_QUALITY < 10 ? 30.0 : 3.0);
  }
  // Quality 0 is taken as 1.
  TIOParamsVals q0, q1;
  q0.JPEG_QUALITY = 0;
  q1.JPEG_QUALITY = 1;
  EXPECT_EQ(Encode(src, q0), Encode(src, q1));
}

TEST_F(JpegTest, DensityIsWrittenInDotsPerInchAndReadInAnyUnit) {
  TIOParamsVals wp;
  wp.SetDpiX(0);  // the default resolution instead
  wp.SetDpiY(150);
  Bytes file = Encode(src, wp);
  const std::size_t app0 = FindMarker(file, 0xE0);
  ASSERT_NE(app0, std::string::npos);
  EXPECT_EQ(file[app0 + 11], 1);  // unit: inches
  EXPECT_EQ((file[app0 + 12] << 8) | file[app0 + 13], 300);
  EXPECT_EQ((file[app0 + 14] << 8) | file[app0 + 15], 150);

  TIEBitmap out;
  TIOParamsVals rp;
  Outcome run;
  Decode(file, out, rp, run);
  EXPECT_EQ(rp.DPIX(), 300);
  EXPECT_EQ(rp.DPIY(), 150);
  // Dots per centimetre: 118 is 299 dpi (truncated).
  file[app0 + 11] = 2;
  file[app0 + 12] = 0, file[app0 + 13] = 118;
  file[app0 + 14] = 0, file[app0 + 15] = 118;
  Decode(file, out, rp, run);
  EXPECT_EQ(rp.DPIX(), 299);
  EXPECT_EQ(rp.DPIY(), 299);
}

TEST_F(JpegTest, ScaledDecoding) {
  TIEBitmap big;
  Photo(big, 400, 300);
  TIOParamsVals wp;
  const Bytes file = Encode(big, wp);
  struct Case {
    TIOJPEGScale scale;
    int wantW, wantH;  // WIDTH and HEIGHT asked for (autocalc)
    int denom;
  };
  const Case cases[] = {
      {ioJPEG_FULLSIZE, 0, 0, 1}, {ioJPEG_HALF, 0, 0, 2},      {ioJPEG_QUARTER, 0, 0, 4},
      {ioJPEG_EIGHTH, 0, 0, 8},   {ioJPEG_AUTOCALC, 90, 70, 4}, {ioJPEG_AUTOCALC, 100, 60, 4},
      {ioJPEG_AUTOCALC, 101, 60, 2}, {ioJPEG_AUTOCALC, 500, 500, 1}, {ioJPEG_AUTOCALC, 0, 0, 1},
  };
  for (const Case& c : cases) {
    TIEBitmap out;
    TIOParamsVals rp;
    rp.JPEG_SCALE = c.scale;
    rp.WIDTH = c.wantW;
    rp.HEIGHT = c.wantH;
    Outcome run;
    Decode(file, out, rp, run);
    EXPECT_EQ(rp.JPEG_SCALE_USED, c.denom) << c.scale << " " << c.wantW;
    EXPECT_EQ(out.GetWidth(), (400 + c.denom - 1) / c.denom);
    EXPECT_EQ(rp.WIDTH, out.GetWidth());
    EXPECT_EQ(rp.ORIGINALWIDTH, 400);
    EXPECT_EQ(rp.ORIGINALHEIGHT, 300);
  }
}

TEST_F(JpegTest, HeaderOnlyAndLineLimit) {
  TIOParamsVals wp;
  wp.JPEG_PROGRESSIVE = true;
  const Bytes file = Encode(src, wp);
  TIEBitmap out;
  TIOParamsVals rp;
  Outcome run;
  EXPECT_EQ(Decode(file, out, rp, run, false, true), 0);
  EXPECT_FALSE(run.abort);
  EXPECT_TRUE(out.IsEmpty());
  EXPECT_EQ(rp.WIDTH, 64);
  EXPECT_EQ(rp.HEIGHT, 48);
  EXPECT_TRUE(rp.JPEG_PROGRESSIVE);
  EXPECT_EQ(Decode(file, out, rp, run, false, false, false, 10), 10);
  EXPECT_FALSE(run.abort);
  EXPECT_EQ(out.GetHeight(), 48);
}

// ---- writer input -----------------------------------------------------------------------------

TEST_F(JpegTest, WriterTakesAnyFormatAndLeavesTheBitmapAlone) {
  TIEBitmap bw;
  ASSERT_TRUE(bw.Allocate(20, 10, ie1g));
  for (int x = 0; x < 20; ++x) bw.SetPixels_ie1g(x, 3, x % 2 == 0);
  TIOParamsVals wp;
  wp.JPEG_QUALITY = 100;
  const Bytes file = Encode(bw, wp);
  EXPECT_EQ(bw.GetPixelFormat(), ie1g);
  TIEBitmap out;
  TIOParamsVals rp;
  Outcome run;
  Decode(file, out, rp, run);
  EXPECT_LT(MeanError(out, bw), 12.0);

  TIEBitmap grey;
  grey.Assign(src);
  grey.ConvertToPixelFormat(ie8g);
  Encode(grey, wp);
  EXPECT_EQ(grey.GetPixelFormat(), ie8g);
}

TEST_F(JpegTest, FrontConvertsPaletteImagesButNotBlackAndWhite) {
  TImageIO io;
  io.IEBitmap().Assign(src);
  io.IEBitmap().ConvertToPixelFormat(ie8p);
  TMemoryStream m;
  io.SaveToStream(m, ioJPEG);
  EXPECT_FALSE(io.AbortFlag) << io.AbortReason;
  EXPECT_EQ(io.IEBitmap().GetPixelFormat(), ie24RGB);
  ASSERT_TRUE(io.IEBitmap().Allocate(8, 8, ie1g));
  io.SaveToStream(m, ioJPEG);
  EXPECT_FALSE(io.AbortFlag);
  EXPECT_EQ(io.IEBitmap().GetPixelFormat(), ie1g);
}

TEST_F(JpegTest, WriterFailures) {
  // A short write stops the writer with the abort flag.
  TIOParamsVals wp;
  TMemoryStream m;
  m.WriteLimit = 100;
  Outcome run;
  TProgressRec progress = run.Progress();
  WriteJPegStream(m, src, wp, progress);
  EXPECT_TRUE(run.abort);
  // Nothing to write.
  TIEBitmap empty;
  Outcome run2;
  progress = run2.Progress();
  WriteJPegStream(m, empty, wp, progress);
  EXPECT_TRUE(run2.abort);
  // libjpeg's own refusal (wider than JPEG allows) is an exception after the flag.
  TIEBitmap wide;
  ASSERT_TRUE(wide.Allocate(70000, 1, ie24RGB));
  Outcome run3;
  progress = run3.Progress();
  TMemoryStream m3;
  EXPECT_THROW(WriteJPegStream(m3, wide, wp, progress), EIEJpegException);
  EXPECT_TRUE(run3.abort);
  EXPECT_NE(run3.reason.find("65500"), std::string::npos) << run3.reason;
}

TEST_F(JpegTest, ProgressIsReportedAndTheUserCanStop) {
  TIOParamsVals wp;
  const Bytes file = Encode(src, wp);
  for (bool writing : {false, true}) {
    Outcome run;
    TProgressRec progress = run.Progress();
    std::vector<int> seen;
    progress.Callback = [&](void*, int per) {
      seen.push_back(per);
      if (per >= 50) run.abort = true;
    };
    TIEBitmap out;
    TIOParamsVals rp;
    TMemoryStream m;
    if (writing) {
      WriteJPegStream(m, src, wp, progress);
    } else {
      TReadOnlyMemoryStream s(file.data(), static_cast<std::int64_t>(file.size()));
      EXPECT_LT(ReadJPegStream(s, nullptr, out, rp, progress, false, false, true, false, true, true, -1, false), 48);
    }
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_LT(seen.back(), 100);
    EXPECT_TRUE(std::adjacent_find(seen.begin(), seen.end()) == seen.end());  // only changes are reported
  }
}

// ---- markers and metadata -----------------------------------------------------------------------

Bytes ICCChunk(int seq, int count, const std::string& payload) {
  Bytes d = Text("ICC_PROFILE");
  d.push_back(0);
  d.push_back(static_cast<std::uint8_t>(seq));
  d.push_back(static_cast<std::uint8_t>(count));
  d.insert(d.end(), payload.begin(), payload.end());
  return d;
}

TEST_F(JpegTest, MarkersAreWrittenInOrderAndReadBack) {
  TIOParamsVals wp;
  auto add = [&](std::uint8_t type, const Bytes& d) { wp.JPEG_MARKERLIST.AddMarker(type, d.data(), int(d.size())); };
  add(0xFE, Text("a comment"));
  add(0xE2, ICCChunk(2, 2, "-second"));
  add(0xE1, Text(std::string("http://ns.adobe.com/xap/1.0/") + '\0' + "<x:xmpmeta/>"));
  add(0xE1, Text(std::string("Exif\0\0", 6) + "II*\0"));
  add(0xE2, ICCChunk(1, 2, "first"));
  add(0xEE, Text("Adobe-not-written"));
  add(0xE0, Text("AVI1"));
  const Bytes file = Encode(src, wp);
  // JFIF first (the writer's), then code order, EXIF the first APP1, ICC chunks in sequence.
  EXPECT_EQ(MarkerCodes(file), (std::vector<int>{0xE0, 0xE0, 0xE1, 0xE1, 0xE2, 0xE2, 0xFE}));

  TIEBitmap out;
  TIOParamsVals rp;
  Outcome run;
  Decode(file, out, rp, run);
  const TIEMarkerList& got = rp.JPEG_MARKERLIST;
  ASSERT_EQ(got.GetCount(), 6);  // the JFIF header is left out
  EXPECT_EQ(got.GetMarkerType(0), 0xE0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(got.GetMarkerData(0)), 4), "AVI1");
  EXPECT_EQ(std::memcmp(got.GetMarkerData(1), "Exif", 4), 0);
  EXPECT_EQ(got.GetMarkerData(3)[12], 1);
  EXPECT_EQ(got.GetMarkerType(5), 0xFE);
  EXPECT_EQ(rp.XMP_INFO, "<x:xmpmeta/>");
  // The ICC chunks are joined into the input profile.
  ASSERT_TRUE(rp.INPUTICC);
  EXPECT_EQ(std::string(rp.INPUTICC->Raw.begin(), rp.INPUTICC->Raw.end()), "first-second");

  // A file whose profile misses a chunk gives no profile.
  TIOParamsVals wp2;
  const Bytes lone = ICCChunk(1, 2, "first");
  wp2.JPEG_MARKERLIST.AddMarker(0xE2, lone.data(), int(lone.size()));
  TIOParamsVals rp2;
  Decode(Encode(src, wp2), out, rp2, run);
  EXPECT_TRUE(!rp2.INPUTICC || rp2.INPUTICC->Raw.empty());
}

TEST_F(JpegTest, SaveSequenceUpdatesResolutionIPTCAndXMP) {
  // A Photoshop block with a resolution resource (empty name, 16 bytes).
  Bytes app13 = Text("Photoshop 3.0");
  app13.push_back(0);
  const std::uint8_t resource[] = {'8', 'B', 'I', 'M', 0x03, 0xED, 0, 0, 0, 0, 0, 16};
  app13.insert(app13.end(), std::begin(resource), std::end(resource));
  app13.resize(app13.size() + 16, 0xAA);

  TImageIO io;
  io.IEBitmap().Assign(src);
  TIOParamsVals& p = io.IOParams();
  p.JPEG_MARKERLIST.AddMarker(0xED, app13.data(), int(app13.size()));
  p.SetDpiX(200);
  p.SetDpiY(100);
  p.XMP_INFO = "<new/>";
  TMemoryStream m;
  io.SaveToStream(m, ioJPEG);
  ASSERT_FALSE(io.AbortFlag) << io.AbortReason;

  TImageIO back;
  m.Seek(0, soBeginning);
  back.LoadFromStream(m);
  ASSERT_FALSE(back.AbortFlag) << back.AbortReason;
  EXPECT_EQ(back.IOParams().FILETYPE, ioJPEG);
  EXPECT_EQ(back.IOParams().XMP_INFO, "<new/>");
  const TIEMarkerList& list = back.IOParams().JPEG_MARKERLIST;
  const int i = list.IndexOf(0xED);
  ASSERT_GE(i, 0);
  const std::uint8_t* d = list.GetMarkerData(i) + 14 + 12;
  const std::uint8_t expected[] = {0, 200, 0, 0, 0, 1, 0, 1, 0, 100, 0, 0, 0, 1, 0, 1};
  EXPECT_EQ(std::memcmp(d, expected, 16), 0);

  // IPTC items the user set are written as an APP13 block and read back.
  TImageIO io2;
  io2.IEBitmap().Assign(src);
  TIEIPTCItem caption;
  caption.Recnum = 2;
  caption.Dataset = 120;
  caption.Data = Text("a caption");
  io2.IOParams().IPTC_INFO.Items.push_back(caption);
  io2.IOParams().IPTC_INFO.UserChanged = true;
  TMemoryStream m2;
  io2.SaveToStream(m2, ioJPEG);
  TImageIO back2;
  m2.Seek(0, soBeginning);
  back2.LoadFromStream(m2);
  ASSERT_EQ(back2.IOParams().IPTC_INFO.Items.size(), 1u);
  EXPECT_EQ(back2.IOParams().IPTC_INFO.Items[0].Data, Text("a caption"));
}

// ---- finding the start, and bad input -------------------------------------------------------------

TEST_F(JpegTest, StartIsFoundWithinTheFirst150Bytes) {
  TIOParamsVals wp;
  const Bytes file = Encode(src, wp);
  for (int junk : {0, 20, 149, 150, 200}) {
    Bytes data(static_cast<std::size_t>(junk), 0x11);
    data.insert(data.end(), file.begin(), file.end());
    TReadOnlyMemoryStream s(data.data(), static_cast<std::int64_t>(data.size()));
    s.Seek(0, soBeginning);
    EXPECT_EQ(JpegTryStream(s), junk < 150 ? junk : -1) << junk;
    EXPECT_EQ(s.GetPosition(), 0);
    TIEBitmap out;
    TIOParamsVals rp;
    Outcome run;
    Decode(data, out, rp, run);
    EXPECT_EQ(run.abort, junk >= 150) << junk;
  }
}

TEST_F(JpegTest, DetectionFindsJpegWhateverTheName) {
  TIOParamsVals wp;
  const Bytes file = Encode(src, wp);
  TReadOnlyMemoryStream s(file.data(), static_cast<std::int64_t>(file.size()));
  EXPECT_EQ(FindStreamFormat(s), ioJPEG);
}

TEST_F(JpegTest, TruncatedFilesKeepTheirRowsAndFail) {
  TIEBitmap big;
  Photo(big, 256, 256);
  for (bool progressive : {false, true}) {
    TIOParamsVals wp;
    wp.JPEG_PROGRESSIVE = progressive;
    wp.JPEG_QUALITY = 95;
    const Bytes file = Encode(big, wp);
    // Without its end marker the image is complete: a warning, no failure.
    {
      const Bytes noEOI(file.begin(), file.end() - 2);
      TIEBitmap out;
      TIOParamsVals rp;
      Outcome run;
      EXPECT_EQ(Decode(noEOI, out, rp, run), 256);
      EXPECT_FALSE(run.abort) << run.reason;
      EXPECT_GT(rp.JPEG_WARNINGTOT, 0);
      EXPECT_LT(MeanError(out, big), 2.0);
    }
    // Cut in the middle: what is there is decoded, and the load fails.
    const Bytes half(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(file.size() / 2));
    TIEBitmap out;
    TIOParamsVals rp;
    Outcome run;
    Decode(half, out, rp, run);
    EXPECT_TRUE(run.abort) << progressive;
    EXPECT_EQ(run.reason, "truncated JPEG data");
    EXPECT_EQ(out.GetHeight(), 256);
    EXPECT_GT(rp.JPEG_WARNINGTOT, 0);
    if (!progressive) {
      EXPECT_NEAR(out.GetPixels(128, 5).r, big.GetPixels(128, 5).r, 8);
    }
  }
}

TEST_F(JpegTest, BadInputFailsCleanly) {
  TIOParamsVals wp;
  const Bytes good = Encode(src, wp);
  struct Case {
    const char* name;
    Bytes data;
  };
  std::vector<Case> cases;
  cases.push_back({"empty", {}});
  cases.push_back({"only SOI", {0xFF, 0xD8, 0xFF}});
  cases.push_back({"header cut", Bytes(good.begin(), good.begin() + 200)});
  const std::size_t sof = FindMarker(good, 0xC0);
  ASSERT_LT(sof + 12, good.size());
  Bytes garbage = good;
  for (std::size_t i = sof + 2; i < sof + 12; ++i) garbage[i] = 0xFF;
  cases.push_back({"bad frame header", garbage});
  Bytes twelveBit = good;
  twelveBit[sof + 4] = 12;
  cases.push_back({"12-bit samples", twelveBit});
  for (const Case& c : cases) {
    TIEBitmap out;
    TIOParamsVals rp;
    Outcome run;
    Decode(c.data, out, rp, run);
    EXPECT_TRUE(run.abort) << c.name;
    EXPECT_FALSE(run.reason.empty()) << c.name;
  }
}

TEST_F(JpegTest, HugeHeaderIsRefusedBeforeAllocating) {
  // Beyond the size cap; or within it, but a few hundred bytes cannot code
  // 900 million pixels. Either way nothing is reserved for them.
  struct Case {
    const char* name;
    std::uint8_t high, low;  // height and width, big-endian
    std::int64_t cap;
    const char* reason;
  };
  const Case cases[] = {
      {"65488 x 65488 over a 64 MB cap", 0xFF, 0xD0, std::int64_t(64) << 20, "JPEG image too large"},
      {"30000 x 30000 from a small file", 0x75, 0x30, iegMaxDecodedBytes, "JPEG data far too short for the image size"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TIOParamsVals wp;
    Bytes file = Encode(src, wp);
    const std::size_t sof = FindMarker(file, 0xC0);
    file[sof + 5] = file[sof + 7] = c.high;
    file[sof + 6] = file[sof + 8] = c.low;
    const std::int64_t saved = iegMaxDecodedBytes;
    iegMaxDecodedBytes = c.cap;
    TIEBitmap out;
    TIOParamsVals rp;
    Outcome run;
    Decode(file, out, rp, run);
    iegMaxDecodedBytes = saved;
    EXPECT_TRUE(run.abort);
    EXPECT_EQ(run.reason, c.reason);
    EXPECT_TRUE(out.IsEmpty());
  }
}

}  // namespace
}  // namespace pravik
