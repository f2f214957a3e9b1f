// Output names, rename patterns, and the parameters each target format sets.
#include <gtest/gtest.h>

#include "app/names.h"
#include "app/targets.h"
#include "imageio/imageio.h"

namespace pravik {
namespace {

TEST(Names, StripExtension) {
  const std::pair<const char*, const char*> cases[] = {
      {"a.jpg", "a"},         {"a.b.jpg", "a.b"}, {"photo.old.bmp", "photo.old"},
      {"noext", "noext"},     {".hidden", ""},    {"trailing.", "trailing"},
      {"", ""},               {"A.JPEG", "A"},
  };
  for (const auto& [name, stem] : cases) EXPECT_EQ(StripExtension(name), stem) << name;
}

TEST(Names, ApplyRenamePattern) {
  struct Case {
    const char* Pattern;
    const char* Stem;
    const char* Out;
  };
  const Case cases[] = {
      {"*", "a", "a"},
      {"new_*", "a", "new_a"},
      {"pic", "a", "pic"},
      {"x_*", "photo.old", "x_photo.old"},
      {"  *_small \t", "a", "a_small"},  // the pattern is trimmed
      {"*-*", "a", "a-a"},
      {"*", "st*r", "st*r"},  // the stem is not searched again
      {"", "a", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ApplyRenamePattern(c.Pattern, c.Stem), c.Out) << c.Pattern;
}

TEST(Names, TrimAndPathPieces) {
  EXPECT_EQ(Trim(" \t\r\n a b \x01\x1f "), "a b");
  EXPECT_EQ(Trim("\xa0x\xa0"), "\xa0x\xa0");  // 8-bit characters are not blanks
  EXPECT_EQ(ExtractFileName("/pics/a.png"), "a.png");
  EXPECT_EQ(ExtractFilePath("/pics/a.png"), "/pics/");
  EXPECT_EQ(ExtractFilePath("a.png"), "");
  EXPECT_EQ(WithTrailingDelimiter("/out"), std::string("/out") + kPathDelimiter);
  EXPECT_EQ(WithTrailingDelimiter("/out/"), "/out/");
  EXPECT_EQ(WithTrailingDelimiter(""), "");
}

TEST(Targets, TableMatchesTheWindowItems) {
  const char* items[] = {"JPEG", "JPEG 2000", "GIF", "PSD", "TIFF", "BMP", "PNG",
                         "ICO",  "PCX",       "TGA", "PXM", "WBMP", "PostScript (PS)", "PDF"};
  const char* exts[] = {".jpg", ".jp2", ".gif", ".psd", ".tiff", ".bmp", ".png",
                        ".ico", ".pcx", ".tga", ".pxm", ".wbmp", ".ps",   ".pdf"};
  const int ids[] = {ioJPEG, ioJP2, ioGIF, ioPSD, ioTIFF, ioBMP, ioPNG,
                     ioICO,  ioPCX, ioTGA, ioPXM, ioWBMP, ioPS, ioPDF};
  for (int i = 0; i < kTargetFormatCount; ++i) {
    const TTargetFormat* t = TargetFormat(i);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->Item, items[i]);
    EXPECT_STREQ(t->Extension, exts[i]);
    EXPECT_EQ(t->FileType, ids[i]) << items[i];
  }
  EXPECT_EQ(TargetFormat(-1), nullptr);
  EXPECT_EQ(TargetFormat(14), nullptr);
}

TEST(Targets, FindByName) {
  const std::pair<const char*, int> cases[] = {
      {"JPEG", 0},  {"jpeg", 0},     {"jpg", 0},  {"JPEG2000", 1}, {"JPEG 2000", 1}, {"jp2", 1},
      {"Gif", 2},   {"PSD", 3},      {"tiff", 4}, {"TIF", 4},      {".bmp", 5},      {" png ", 6},
      {"ico", 7},   {"PCX", 8},      {"tga", 9},  {"PXM", 10},     {"wbmp", 11},     {"PS", 12},
      {"PostScript (PS)", 12},       {"postscript", 12}, {"pdf", 13}, {"", -1}, {"webp", -1}, {"JPEG2", -1},
  };
  for (const auto& [name, index] : cases) EXPECT_EQ(FindTargetFormat(name), index) << name;
}

TEST(Targets, PNGCompressionByTrackBar) {
  const std::pair<int, int> cases[] = {{0, 9},  {11, 9}, {12, 8}, {22, 8}, {23, 7}, {33, 7}, {34, 6},
                                       {44, 6}, {45, 5}, {55, 5}, {56, 4}, {66, 4}, {67, 3}, {77, 3},
                                       {78, 2}, {88, 2}, {89, 1}, {99, 1}, {100, 0}};
  for (const auto& [pos, level] : cases) {
    EXPECT_EQ(PNGCompressionFor(pos), level) << pos;
    TIOParamsVals p;
    ApplyTargetParams(6, p, TTargetSettings{pos});
    EXPECT_EQ(p.PNG_COMPRESSION, level) << pos;
    EXPECT_EQ(p.PNG_FILTER, ioPNG_FILTER_PAETH);
  }
}

// Every row's settings as they land in the record, and nothing else: the
// rows without settings leave a record alone.
TEST(Targets, ParametersPerFormat) {
  const TTargetSettings s{37, {true, true, true}};
  for (int i = 0; i < kTargetFormatCount; ++i) {
    SCOPED_TRACE(TargetFormat(i)->Item);
    TIOParamsVals p, untouched;
    p.BITSPERSAMPLE = untouched.BITSPERSAMPLE = 4;
    p.SAMPLESPERPIXEL = untouched.SAMPLESPERPIXEL = 1;
    p.TIFF_COMPRESSION = untouched.TIFF_COMPRESSION = ioTIFF_LZW;
    p.GIF_XPOS = p.GIF_YPOS = 7;  // as a GIF frame's offset leaves them
    ApplyTargetParams(i, p, s);
    auto same = [&](auto member) { return p.*member == untouched.*member; };
    switch (i) {
      case 0:
        EXPECT_EQ(p.JPEG_QUALITY, 37);
        break;
      case 1:
        EXPECT_DOUBLE_EQ(p.J2000_RATE, 0.37);
        break;
      case 2:
        EXPECT_EQ(p.BITSPERSAMPLE, 8);
        EXPECT_TRUE(p.GIF_TRANSPARENT);
        EXPECT_TRUE(p.GIF_INTERLACED);
        EXPECT_EQ(p.GIF_XPOS, 0);
        EXPECT_EQ(p.GIF_YPOS, 0);
        break;
      case 4:
        EXPECT_EQ(p.TIFF_COMPRESSION, ioTIFF_UNCOMPRESSED);
        break;
      case 6:
        EXPECT_EQ(p.PNG_COMPRESSION, 6);
        break;
      case 7:
        EXPECT_EQ(p.ICO_BITCOUNT[0], 32);
        EXPECT_EQ(p.ICO_BITCOUNT[1], untouched.ICO_BITCOUNT[1]);
        break;
      case 8:
        EXPECT_EQ(p.BITSPERSAMPLE, 8);
        EXPECT_EQ(p.SAMPLESPERPIXEL, 3);
        break;
      default:
        break;
    }
    if (i != 2 && i != 8) {
      EXPECT_TRUE(same(&TIOParamsVals::BITSPERSAMPLE));
      EXPECT_TRUE(same(&TIOParamsVals::SAMPLESPERPIXEL));
    }
    const std::pair<int, bool> others[] = {
        {4, same(&TIOParamsVals::TIFF_COMPRESSION)}, {0, same(&TIOParamsVals::JPEG_QUALITY)},
        {1, same(&TIOParamsVals::J2000_RATE)},       {6, same(&TIOParamsVals::PNG_COMPRESSION)},
        {7, same(&TIOParamsVals::ICO_SIZES)},
    };
    for (const auto& [owner, unchanged] : others) EXPECT_TRUE(owner == i || unchanged) << "field of row " << owner;
  }
}

TEST(Targets, JPEG2000RateIsAFraction) {
  for (const auto& [pos, rate] : {std::pair{100, 1.0}, {80, 0.8}, {50, 0.5}, {0, 0.0}}) {
    TIOParamsVals p;
    ApplyTargetParams(1, p, TTargetSettings{pos});
    EXPECT_DOUBLE_EQ(p.J2000_RATE, rate) << pos;
  }
}

TEST(Targets, IconSizesFromTheCheckBoxes) {
  using Sizes = std::vector<TIOICOSize>;
  auto listed = [](const TIOParamsVals& p) {  // the writer takes entries up to the first of zero width
    Sizes out;
    for (const TIOICOSize& s : p.ICO_SIZES) {
      if (s.Width == 0) break;
      out.push_back(s);
    }
    return out;
  };
  struct Case {
    std::array<bool, 3> Boxes;
    Sizes Expected;
  };
  const Case fresh[] = {
      {{true, true, true}, {{64, 64}, {32, 32}, {16, 16}}},
      {{false, true, true}, {{32, 32}, {16, 16}}},
      {{false, false, true}, {{16, 16}}},
      {{true, false, true}, {{64, 64}, {16, 16}}},
      {{false, false, false}, {{64, 64}}},  // the record's first entry as it starts
  };
  for (const Case& c : fresh) {
    TIOParamsVals p;
    ApplyTargetParams(7, p, TTargetSettings{100, c.Boxes});
    EXPECT_EQ(listed(p), c.Expected);
  }
  // Pairs from an earlier batch or a loaded icon never add images to the ticked ones.
  TIOParamsVals p;
  ApplyTargetParams(7, p, TTargetSettings{100, {true, true, true}});
  ApplyTargetParams(7, p, TTargetSettings{100, {false, false, true}});
  EXPECT_EQ(listed(p), (Sizes{{16, 16}}));
  for (std::size_t i = 0; i < p.ICO_SIZES.size(); ++i) p.ICO_SIZES[i] = TIOICOSize{48, 48};
  ApplyTargetParams(7, p, TTargetSettings{100, {false, true, false}});
  EXPECT_EQ(listed(p), (Sizes{{32, 32}}));
}

}  // namespace
}  // namespace pravik
