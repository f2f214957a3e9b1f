// Netpbm files written by us and read by netpbm and ImageMagick, and written
// by them (plain and binary, 1 to 16 bits) and read by us.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "image/bitmap.h"
#include "imageio/formats.h"
#include "imageio/imageio.h"
#include "interop/interop.h"

namespace pravik {
namespace {

using interop::Load;
using interop::ScratchDir;
using interop::Sh;

// Largest difference of any channel of any pixel (as TRGB); -1 when the sizes differ.
int MaxDiff(TIEBitmap& a, TIEBitmap& b) {
  if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight()) return -1;
  int d = 0;
  for (int y = 0; y < a.GetHeight(); ++y)
    for (int x = 0; x < a.GetWidth(); ++x) {
      const TRGB p = a.GetPixels(x, y), q = b.GetPixels(x, y);
      d = std::max({d, std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b)});
    }
  return d;
}

// Same 16-bit words (ie48RGB or ie16g, compared channel by channel).
::testing::AssertionResult SameWords(TIEBitmap& a, TIEBitmap& b) {
  if (a.GetPixelFormat() != b.GetPixelFormat() || a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight())
    return ::testing::AssertionFailure() << "different format or size";
  const std::size_t bytes = static_cast<std::size_t>(a.GetWidth()) * (a.GetPixelFormat() == ie48RGB ? 6 : 2);
  for (int y = 0; y < a.GetHeight(); ++y)
    if (std::memcmp(a.GetScanLine(y), b.GetScanLine(y), bytes) != 0)
      return ::testing::AssertionFailure() << "row " << y << " differs";
  return ::testing::AssertionSuccess();
}

// A photo-like picture: smooth gradients with a little structure.
void Photo(TIEBitmap& bmp, int w, int h) {
  bmp.Allocate(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      bmp.SetPixels_ie24RGB(x, y, CreateRGB(static_cast<std::uint8_t>(x * 255 / w), static_cast<std::uint8_t>((x * y) % 256),
                                            static_cast<std::uint8_t>(255 - y * 255 / h)));
}

// ---- ours, read by them ---------------------------------------------------------------------

struct OursCase {
  const char* name;
  int bps, spp;
  bool twoLevel;
  const char* magic;
};

class PXMOursReadByThem : public ::testing::TestWithParam<OursCase> {};

TEST_P(PXMOursReadByThem, NetpbmAndImageMagickSeeOurPixels) {
  PRAVIK_REQUIRE_TOOL("pnmtoplainpnm");
  PRAVIK_REQUIRE_TOOL("convert");
  const OursCase& c = GetParam();
  ScratchDir dir;
  TImageIO io;
  Photo(io.IEBitmap(), 61, 37);
  if (c.twoLevel) io.IEBitmap().ConvertToPixelFormat(ie1g);
  if (c.spp == 1 && !c.twoLevel) io.IEBitmap().ConvertToPixelFormat(ie8g);  // P5 is for grey images
  io.IOParams().BITSPERSAMPLE = c.bps;
  io.IOParams().SAMPLESPERPIXEL = c.spp;
  const std::string ours = dir.File("ours.pnm");
  io.SaveToFilePXM(ours);
  ASSERT_FALSE(io.AbortFlag) << io.AbortReason;
  {
    std::ifstream f(ours, std::ios::binary);
    std::string magic(2, ' ');
    f.read(magic.data(), 2);
    ASSERT_EQ(magic, c.magic);
  }
  // Our file read back by us: the reference the tools must agree with.
  TImageIO back;
  ASSERT_TRUE(Load(back, ours, true)) << back.AbortReason;

  // netpbm and ImageMagick re-encode it: as plain text for 8 bits, as binary
  // words for 16 (plain text of more than 8 bits is read as bytes).
  const bool words = c.bps == 16;
  const std::string viaNetpbm = dir.File("netpbm.pnm"), viaMagick = dir.File("magick.pnm");
  ASSERT_TRUE(Sh((words ? "pnmdepth 65535 '" : "pnmtoplainpnm '") + ours + "' > '" + viaNetpbm + "'"));
  ASSERT_TRUE(Sh("convert '" + ours + (words ? "' -depth 16 '" : "' -compress none '") + viaMagick + "'"));
  for (const std::string& theirs : {viaNetpbm, viaMagick}) {
    TImageIO them;
    ASSERT_TRUE(Load(them, theirs, true)) << theirs << ": " << them.AbortReason;
    if (words)
      EXPECT_TRUE(SameWords(back.IEBitmap(), them.IEBitmap())) << theirs;
    else
      EXPECT_EQ(MaxDiff(back.IEBitmap(), them.IEBitmap()), 0) << theirs;
  }
  // And ours read back keeps what was saved (grey variants: the grey of it).
  TIEBitmap saved;
  saved.Allocate(61, 37, ie24RGB);
  saved.CopyAndConvertFormat(io.IEBitmap());
  if (c.spp == 1 && !c.twoLevel) saved.ConvertToPixelFormat(ie8g);
  EXPECT_EQ(MaxDiff(saved, back.IEBitmap()), 0);
}

INSTANTIATE_TEST_SUITE_P(Variants, PXMOursReadByThem,
                         ::testing::Values(OursCase{"P4", 1, 1, true, "P4"}, OursCase{"P5", 8, 1, false, "P5"},
                                           OursCase{"P6", 8, 3, false, "P6"},
                                           OursCase{"P6_16", 16, 3, false, "P6"}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- theirs, read by us ---------------------------------------------------------------------

struct TheirsCase {
  const char* name;
  const char* tool;
  std::string command;  // makes theirs.pnm from source.ppm
  int tolerance;        // 16-bit and odd maxvals: their rounding, our truncation
};

class PXMTheirsReadByUs : public ::testing::TestWithParam<TheirsCase> {};

TEST_P(PXMTheirsReadByUs, SamePixelsAsTheirOwn8BitRendering) {
  PRAVIK_REQUIRE_TOOL("convert");
  PRAVIK_REQUIRE_TOOL(GetParam().tool);
  ScratchDir dir;
  const std::string source = dir.File("source.ppm"), theirs = dir.File("theirs.pnm"), ref = dir.File("ref.ppm");
  ASSERT_TRUE(Sh("convert rose: '" + source + "'"));
  ASSERT_TRUE(Sh("cd '" + dir.File("") + "' && " + GetParam().command));
  // Their own reading of their file, as 8-bit binary RGB.
  ASSERT_TRUE(Sh("convert '" + theirs + "' -depth 8 'ppm:" + ref + "'"));
  TImageIO ours, reference;
  ASSERT_TRUE(Load(ours, theirs)) << ours.AbortReason;
  ASSERT_TRUE(Load(reference, ref)) << reference.AbortReason;
  EXPECT_LE(MaxDiff(ours.IEBitmap(), reference.IEBitmap()), GetParam().tolerance);
  EXPECT_GE(MaxDiff(ours.IEBitmap(), reference.IEBitmap()), 0) << "sizes differ";
}

INSTANTIATE_TEST_SUITE_P(
    Files, PXMTheirsReadByUs,
    ::testing::Values(
        TheirsCase{"magick_P1", "convert", "convert source.ppm -threshold 50% -compress none pbm:theirs.pnm", 0},
        TheirsCase{"magick_P2", "convert", "convert source.ppm -colorspace gray -compress none pgm:theirs.pnm", 0},
        TheirsCase{"magick_P3", "convert", "convert source.ppm -compress none ppm:theirs.pnm", 0},
        TheirsCase{"magick_P4", "convert", "convert source.ppm -threshold 50% pbm:theirs.pnm", 0},
        TheirsCase{"magick_P5", "convert", "convert source.ppm -colorspace gray pgm:theirs.pnm", 0},
        TheirsCase{"magick_P6", "convert", "convert source.ppm ppm:theirs.pnm", 0},
        TheirsCase{"magick_P2_16", "convert", "convert source.ppm -colorspace gray -depth 16 -compress none pgm:theirs.pnm", 1},
        TheirsCase{"magick_P3_16", "convert", "convert source.ppm -depth 16 -compress none ppm:theirs.pnm", 1},
        TheirsCase{"magick_P5_16", "convert", "convert source.ppm -colorspace gray -depth 16 pgm:theirs.pnm", 1},
        TheirsCase{"magick_P6_16", "convert", "convert source.ppm -depth 16 ppm:theirs.pnm", 1},
        TheirsCase{"netpbm_pgm", "ppmtopgm", "ppmtopgm source.ppm > theirs.pnm", 0},
        TheirsCase{"netpbm_pbm", "pgmtopbm", "ppmtopgm source.ppm | pgmtopbm -threshold > theirs.pnm", 0},
        TheirsCase{"netpbm_plain_ppm", "pnmtoplainpnm", "pnmtoplainpnm source.ppm > theirs.pnm", 0},
        TheirsCase{"netpbm_plain_pbm", "pnmtoplainpnm",
                   "ppmtopgm source.ppm | pgmtopbm -threshold | pnmtoplainpnm > theirs.pnm", 0},
        TheirsCase{"netpbm_maxval15", "pnmdepth", "pnmdepth 15 source.ppm > theirs.pnm", 0},
        TheirsCase{"netpbm_maxval1023", "pnmdepth", "pnmdepth 1023 source.ppm > theirs.pnm", 1},
        TheirsCase{"netpbm_maxval65535_grey", "pnmdepth", "ppmtopgm source.ppm | pnmdepth 65535 > theirs.pnm", 1},
        TheirsCase{"netpbm_plain_maxval4095", "pnmdepth", "pnmdepth 4095 source.ppm | pnmtoplainpnm > theirs.pnm", 1}),
    [](const auto& info) { return std::string(info.param.name); });

// The samples of a plain file, header numbers first, comments dropped.
std::vector<long> PlainNumbers(const std::string& file) {
  std::ifstream in(file);
  std::string magic, line, all;
  in >> magic;
  while (std::getline(in, line)) all += line.substr(0, line.find('#')) + "\n";
  std::istringstream words(all);
  std::vector<long> out;
  for (long v; words >> v;) out.push_back(v);
  return out;
}

TEST(PXMTheirsReadByUs, SixteenBitWordsReadNativelyMatchTheirNumbers) {
  PRAVIK_REQUIRE_TOOL("convert");
  ScratchDir dir;
  for (const char* type : {"ppm", "pgm"}) {
    const std::string binary = dir.File(std::string("b.") + type), plain = dir.File(std::string("p.") + type);
    ASSERT_TRUE(Sh(std::string("convert rose: -depth 16 -evaluate multiply 1.003 ") + type + ":'" + binary + "'"));
    ASSERT_TRUE(Sh("convert '" + binary + "' -compress none '" + plain + "'"));
    TImageIO ours;
    ASSERT_TRUE(Load(ours, binary, true));
    TIEBitmap& bmp = ours.IEBitmap();
    ASSERT_EQ(bmp.GetPixelFormat(), type[1] == 'p' ? ie48RGB : ie16g);
    const std::vector<long> numbers = PlainNumbers(plain);
    const int channels = type[1] == 'p' ? 3 : 1;
    ASSERT_EQ(numbers.size(), 3u + std::size_t(bmp.GetWidth()) * bmp.GetHeight() * channels);
    EXPECT_EQ(numbers[2], 65535);
    std::size_t i = 3;
    for (int y = 0; y < bmp.GetHeight(); ++y)
      for (int x = 0; x < bmp.GetWidth() * channels; ++x, ++i) {
        std::uint16_t w;
        std::memcpy(&w, bmp.GetScanLine(y) + 2 * x, 2);
        ASSERT_EQ(w, numbers[i]) << type << " sample " << x << " of row " << y;
      }
  }
}

// ---- the shared corpus ------------------------------------------------------------------------

TEST(PXMCorpus, NetpbmFilesMatchImageMagick) {
  PRAVIK_REQUIRE_TOOL("convert");
  const std::string dirName = std::string(PRAVIK_SHARED_DIR) + "/corpus/pillow/";
  const char* files[] = {"16_bit_binary.pgm",      "hopper.pnm",          "hopper.ppm",
                         "hopper_16bit.pgm",       "hopper_16bit_plain.pgm", "hopper_1bit.pbm",
                         "hopper_1bit_plain.pbm",  "hopper_8bit.pgm",     "hopper_8bit.ppm",
                         "hopper_8bit_plain.pgm",  "hopper_8bit_plain.ppm", "hopper_webp_bits.ppm",
                         "hopper_webp_write.ppm"};
  ScratchDir dir;
  for (const char* name : files) {
    const std::string file = dirName + name, ref = dir.File(std::string(name) + ".ref.ppm");
    if (!std::ifstream(file)) continue;
    ASSERT_TRUE(Sh("convert '" + file + "' -depth 8 'ppm:" + ref + "'")) << name;
    TImageIO ours, reference;
    ours.LoadFromFileAuto(file);
    ASSERT_FALSE(ours.AbortFlag) << name << ": " << ours.AbortReason;
    EXPECT_EQ(ours.IOParams().FILETYPE, ioPXM) << name;
    ASSERT_TRUE(Load(reference, ref)) << name;
    EXPECT_LE(MaxDiff(ours.IEBitmap(), reference.IEBitmap()), 1) << name;
    EXPECT_GE(MaxDiff(ours.IEBitmap(), reference.IEBitmap()), 0) << name;
  }
}

}  // namespace
}  // namespace pravik
