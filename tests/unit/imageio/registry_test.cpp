#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "corpus_manifest.h"
#include "imageio/codec_table.h"
#include "imageio/paramtypes.h"
#include "imageio/registry.h"
#include "imageio/stream.h"
#include "imageio_test_util.h"

namespace pravik {
namespace {

using testing::ScratchDir;
using testing::WriteBytes;

std::vector<std::uint8_t> Padded(std::vector<std::uint8_t> head, std::size_t size, std::uint8_t fill = 0x20) {
  head.resize(size, fill);
  return head;
}

std::vector<std::uint8_t> Text(const char* s, std::size_t size) {
  return Padded(std::vector<std::uint8_t>(s, s + std::strlen(s)), size);
}

// Swaps a detection step's test for the guard's life.
class ContentTestSwap {
 public:
  ContentTestSwap(const char* name, TIEContentTestFunc test) : step_(IEFindContentTest(name)) {
    if (step_ == nullptr) throw std::logic_error(name);
    saved_ = step_->Test;
    step_->Test = test;
  }
  ~ContentTestSwap() { step_->Test = saved_; }

 private:
  TIEContentTest* step_;
  TIEContentTestFunc saved_ = nullptr;
};

TEST(RegistryTest, EntriesAndExtensionLookups) {
  ASSERT_NE(IEFileFormatGetInfo2(".JPE"), nullptr);
  EXPECT_EQ(IEFileFormatGetInfo2(".JPE")->FileType, ioJPEG);
  EXPECT_EQ(IEFileFormatGetInfo2("tiff")->FileType, ioTIFF);
  EXPECT_EQ(IEFileFormatGetInfo2("Dicom")->FileType, ioDICOM);
  EXPECT_EQ(IEFileFormatGetInfo2(".pix")->FileType, ioTGA);
  EXPECT_EQ(IEFileFormatGetInfo2(""), nullptr);
  EXPECT_EQ(IEFileFormatGetInfo2("."), nullptr);
  EXPECT_EQ(IEFileFormatGetInfo2("..jpg"), nullptr);  // only one dot is dropped
  EXPECT_EQ(IEFileFormatGetInfo2("jp"), nullptr);    // whole extensions only
  EXPECT_EQ(IEFileFormatGetExt(ioJPEG, 1), "JPEG");
  EXPECT_EQ(IEFileFormatGetExtCount(ioJPEG), 4);
  EXPECT_EQ(IEFileFormatGetExt(ioJPEG, 4), "");
  EXPECT_EQ(IEFileFormatGetExt(ioAVI, 0), "");
  EXPECT_EQ(IEFileFormatGetExtCount(ioAVI), 0);
  EXPECT_EQ(IEFileFormatGetInfo(ioAVI), nullptr);
  EXPECT_EQ(IEFileFormatGetInfo(ioBMPRAW), nullptr);
  EXPECT_EQ(IEFileFormatGetInfo(ioPNG)->FullName, "Portable Network Graphics");
  EXPECT_EQ(IEFileFormatGetInfo(ioPNG)->DialogPages, 1u << ppPNG);
  EXPECT_EQ(IEExtToFileFormat(".cr2"), ioRAW);
  EXPECT_EQ(IEExtToFileFormat(".zzz"), 0);
  EXPECT_TRUE(IEIsInternalFormat("PSD"));
  EXPECT_FALSE(IEIsInternalFormat("zzz"));
  // Registry order: DICOM sits between PNG and the metafiles.
  EXPECT_EQ(IEFileFormatAt(8)->FileType, ioDICOM);
  EXPECT_EQ(IEFileFormatCount(), 24);
}

TEST(RegistryTest, KnownFormatsAreTheReadableOnes) {
  EXPECT_FALSE(IsKnownFormat("a.pdf"));
  EXPECT_FALSE(IsKnownFormat("b.PS"));
  EXPECT_TRUE(IsKnownFormat("a.PNG"));
  EXPECT_TRUE(IsKnownFormat("C:\\x.y\\photo.cur"));
  EXPECT_FALSE(IsKnownFormat("noext"));
  EXPECT_FALSE(IsKnownFormat("dir.png/noext"));
}

TEST(RegistryTest, RunTimeFormatsAddRemoveAndGIFStatus) {
  auto entry = std::make_unique<TIEFileFormatInfo>();
  entry->FileType = 900;
  entry->FullName = "Test format";
  entry->Extensions = "TST;TS2";
  entry->TryFunction = [](TStream& s, int) {
    char b[3] = {};
    return s.Read(b, 3) == 3 && std::memcmp(b, "TST", 3) == 0;
  };
  IEFileFormatAdd(std::move(entry));
  EXPECT_EQ(IEExtToFileFormat("ts2"), 900);
  EXPECT_FALSE(IEIsInternalFormat("ts2"));
  EXPECT_FALSE(IsKnownFormat("x.tst"));  // no read function
  TMemoryStream m(Text("TST..", 40));
  EXPECT_EQ(FindStreamFormat(m), 900);  // asked after the built-in tests
  IEFileFormatRemove(900);
  EXPECT_EQ(IEFileFormatGetInfo(900), nullptr);
  EXPECT_EQ(FindStreamFormat(m), 0);

  // Without the default GIF coders installed, the GIF entry can neither read nor write.
  IEUpdateGIFStatus();
  EXPECT_EQ(IEFileFormatGetInfo(ioGIF)->ReadFunction != nullptr, DefGIF_LZWDECOMPFUNC != nullptr);
  EXPECT_EQ(IEFileFormatGetInfo(ioGIF)->WriteFunction != nullptr, DefGIF_LZWCOMPFUNC != nullptr);
  IEFileFormatGetInfo(ioGIF)->ReadFunction = IEFileFormatGetInfo(ioBMP)->ReadFunction;
  IEFileFormatGetInfo(ioGIF)->WriteFunction = IEFileFormatGetInfo(ioBMP)->WriteFunction;
}

// ---- content detection ------------------------------------------------------------------

TEST(DetectionTest, RegistryOwnedMagicNumbers) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    int expected;
  };
  std::vector<std::uint8_t> pcx(129, 0);
  pcx[0] = 0x0A;
  pcx[1] = 5;
  pcx[2] = 1;
  pcx[3] = 8;
  std::vector<std::uint8_t> pcxBadVersion = pcx;
  pcxBadVersion[1] = 6;
  const std::vector<std::uint8_t> pcxShort(pcx.begin(), pcx.begin() + 128);
  std::vector<std::uint8_t> avi = Text("RIFF....AVI LIST", 16);
  const Case cases[] = {
      {"BM, 20 bytes", Text("BM", 20), ioBMP},
      {"BM, 15 bytes", Text("BM", 15), ioBMP},
      {"BM, 14 bytes", Text("BM", 14), 0},
      {"GIF, 14 bytes", Text("GIF89a", 14), ioGIF},
      {"GIF, exactly 13 bytes", Text("GIF89a", 13), 0},
      {"tagged JFIF", Padded({'J', 'F', 'I', 'F', 0}, 13), ioJPEG},
      {"JFIF without zero", Text("JFIFX", 13), 0},
      {"tagged JFIF, 12 bytes", Padded({'J', 'F', 'I', 'F', 0}, 12), 0},
      {"tagged PCX2", Padded({'P', 'C', 'X', '2', 0}, 13), ioPCX},
      {"PCX tag", Padded({'P', 'C', 'X', 0}, 5), ioPCX},
      {"PCX tag, 4 bytes", Padded({'P', 'C', 'X', 0}, 4), 0},
      {"PCX header", pcx, ioPCX},
      {"PCX header, version 6", pcxBadVersion, 0},
      {"PCX header, 128 bytes", pcxShort, 0},
      {"tagged TIFF", Padded({'T', 'I', 'F', 'F', 0}, 13), ioTIFF},
      {"video", avi, ioAVI},
      {"video, 11 bytes", std::vector<std::uint8_t>(avi.begin(), avi.begin() + 11), 0},
      {"text", Text("hello world, not an image", 300), 0},
      {"empty", {}, 0},
  };
  for (const Case& c : cases) {
    TMemoryStream m(c.bytes);
    EXPECT_EQ(FindStreamFormat(m), c.expected) << c.what;
    EXPECT_EQ(m.GetPosition(), 0) << c.what;
  }
}

TEST(DetectionTest, StartsAtTheCurrentPositionAndRestoresIt) {
  std::vector<std::uint8_t> bytes = Text("junk", 7);
  const auto bmp = Text("BM", 30);
  bytes.insert(bytes.end(), bmp.begin(), bmp.end());
  TMemoryStream m(bytes);
  m.Seek(7, soBeginning);
  EXPECT_EQ(FindStreamFormat(m), ioBMP);
  EXPECT_EQ(m.GetPosition(), 7);
  m.Seek(100, soBeginning);  // past the end: nothing to find, nothing to break
  EXPECT_EQ(FindStreamFormat(m), 0);
  EXPECT_EQ(m.GetPosition(), 100);
}

// The codec-owned steps are asked in a fixed order; a step that moves the
// stream does not disturb the next; a throwing step ends the detection.
TEST(DetectionTest, CodecStepsAreAskedInOrder) {
  static std::vector<std::string> asked;
  asked.clear();
#define PRAVIK_RECORD(name)                     \
  [](TStream& s) {                              \
    asked.push_back(name);                      \
    char b[4];                                  \
    s.Read(b, 4);                               \
    return false;                               \
  }
  ContentTestSwap tiff("IsTIFFStream", PRAVIK_RECORD("tiff"));
  ContentTestSwap png("IsPNGStream", PRAVIK_RECORD("png"));
  ContentTestSwap ico("ICOTryStream", PRAVIK_RECORD("ico"));
  ContentTestSwap cur("CURTryStream", PRAVIK_RECORD("cur"));
  ContentTestSwap tga("TryTGA", PRAVIK_RECORD("tga"));
  ContentTestSwap pxm("TryPXM", PRAVIK_RECORD("pxm"));
  ContentTestSwap jpeg("JpegTryStream", PRAVIK_RECORD("jpeg"));
  ContentTestSwap jp2("J2KTryStreamJP2", PRAVIK_RECORD("jp2"));
  ContentTestSwap j2k("J2KTryStreamJ2K", PRAVIK_RECORD("j2k"));
  ContentTestSwap psd("IETryPSD", [](TStream& s) {
    asked.push_back("psd");
    char b[4];
    return s.Read(b, 4) == 4 && std::memcmp(b, "8BPS", 4) == 0;
  });
#undef PRAVIK_RECORD
  TMemoryStream m(Text("8BPS", 64));
  EXPECT_EQ(FindStreamFormat(m), ioPSD);
  const std::vector<std::string> expected = {"tiff", "png", "ico", "cur", "tga", "pxm", "jpeg", "jp2", "j2k", "psd"};
  EXPECT_EQ(asked, expected);
  EXPECT_EQ(m.GetPosition(), 0);

  // Magic numbers come first: a "BM" file never reaches the codec tests.
  asked.clear();
  TMemoryStream bmp(Text("BM", 64));
  EXPECT_EQ(FindStreamFormat(bmp), ioBMP);
  EXPECT_TRUE(asked.empty());

  // A throwing test ends the detection with nothing found.
  ContentTestSwap boom("ICOTryStream", [](TStream&) -> bool { throw std::runtime_error("bad"); });
  TMemoryStream any(Text("8BPS", 64));
  EXPECT_EQ(FindStreamFormat(any), 0);
  EXPECT_EQ(any.GetPosition(), 0);
}

TEST(DetectionTest, FileFormatCombinesContentAndExtension) {
  ScratchDir dir;
  const auto bmp = Text("BM", 40);
  WriteBytes(dir.File("x.jpg"), bmp);
  WriteBytes(dir.File("x.bmp"), bmp);
  WriteBytes(dir.File("x.foo"), bmp);
  WriteBytes(dir.File("x.txt"), Text("plain text", 40));
  WriteBytes(dir.File("photo.\xC3\xA9t\xC3\xA9.bmp"), bmp);
  // Content decides without verification...
  EXPECT_EQ(FindFileFormat(dir.File("x.jpg"), false), ioBMP);
  EXPECT_EQ(FindFileFormat(dir.File("x.foo"), false), ioBMP);
  EXPECT_EQ(FindFileFormat(dir.File("photo.\xC3\xA9t\xC3\xA9.bmp"), false), ioBMP);
  // ...and must agree with the extension with it.
  EXPECT_EQ(FindFileFormat(dir.File("x.jpg"), true), 0);
  EXPECT_EQ(FindFileFormat(dir.File("x.foo"), true), 0);
  EXPECT_EQ(FindFileFormat(dir.File("x.bmp"), true), ioBMP);
  EXPECT_EQ(FindFileFormat(dir.File("x.txt"), false), 0);
  EXPECT_EQ(FindFileFormat(dir.File("missing.bmp"), false), 0);
  EXPECT_EQ(FindFileFormat(IEPathToUTF8(dir.Path()), false), 0);  // a folder
  EXPECT_EQ(FindFileFormat("", false), 0);

  // A TIFF with a camera-raw name is camera raw.
  const auto tiff = Padded({'T', 'I', 'F', 'F', 0}, 20);
  WriteBytes(dir.File("x.nef"), tiff);
  WriteBytes(dir.File("x.tif"), tiff);
  EXPECT_EQ(FindFileFormat(dir.File("x.nef"), false), ioRAW);
  EXPECT_EQ(FindFileFormat(dir.File("x.tif"), false), ioTIFF);

  // Icons and cursors take the extension's id when verified.
  ContentTestSwap ico("ICOTryStream", [](TStream& s) {
    std::uint8_t b[4];
    return s.Read(b, 4) == 4 && b[0] == 0 && b[2] == 1;
  });
  WriteBytes(dir.File("a.cur"), {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(FindFileFormat(dir.File("a.cur"), false), ioICO);
  EXPECT_EQ(FindFileFormat(dir.File("a.cur"), true), ioCUR);

  // Formats registered at run time follow their extension.
  auto entry = std::make_unique<TIEFileFormatInfo>();
  entry->FileType = 901;
  entry->Extensions = "EXT";
  IEFileFormatAdd(std::move(entry));
  WriteBytes(dir.File("b.ext"), bmp);
  EXPECT_EQ(FindFileFormat(dir.File("b.ext"), false), 901);
  IEFileFormatRemove(901);
}

// Files written by other programs, for the formats whose magic the registry owns.
TEST(DetectionTest, CorpusFilesOfRegistryOwnedFormats) {
  const std::vector<CorpusFile> manifest = ReadCorpusManifest();
  if (manifest.empty()) GTEST_SKIP() << "corpus not available";
  int checked = 0;
  for (const CorpusFile& f : manifest) {
    const std::string& path = f.path;
    const std::string& format = f.format;
    const std::string file = CorpusDir() + path;
    // Every file: detection never raises and leaves the position alone.
    TFileStream s(file, TFileMode::fmOpenRead);
    s.Seek(0, soBeginning);
    const int found = FindStreamFormat(s);
    EXPECT_EQ(s.GetPosition(), 0) << path;
    int expected = -1;
    if (format == "BMP" || format == "BMP2" || format == "BMP3") expected = ioBMP;
    if (format == "GIF") expected = ioGIF;
    if (format == "PCX") expected = ioPCX;
    if (expected < 0 || !f.referenceOk) continue;
    EXPECT_EQ(found, expected) << path;
    EXPECT_EQ(FindFileFormat(file, false), expected) << path;
    ++checked;
  }
  EXPECT_GT(checked, 40);
}

}  // namespace
}  // namespace pravik
