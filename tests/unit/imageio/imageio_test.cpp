#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "imageio/codec_table.h"
#include "imageio/imageio.h"
#include "imageio/reader.h"
#include "imageio/registry.h"
#include "imageio_test_util.h"

namespace pravik {
namespace {

using testing::Bytes;
using testing::CodecSwap;
using testing::ReadBytes;
using testing::ScratchDir;
using testing::WriteBytes;

// ---- a fake codec -----------------------------------------------------------------------
// File: "BM" (so that content detection finds the BMP slot), width, height,
// then a mode byte: 0 fine, 1 bad data, 2 the reader throws.
std::vector<std::uint8_t> FakeFile(std::uint8_t w, std::uint8_t h, std::uint8_t mode = 0) {
  std::vector<std::uint8_t> b(32, 0);
  b[0] = 'B';
  b[1] = 'M';
  b[2] = w;
  b[3] = h;
  b[4] = mode;
  return b;
}

bool gLastPreview = false;

void FakeRead(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview) {
  gLastPreview = preview;
  TIEReader r(stream);
  const std::uint16_t magic = r.U16BE();
  const int w = r.U8(), h = r.U8(), mode = r.U8();
  if (r.Failed() || magic != 0x424D || w == 0 || h == 0 || mode == 1) return progress.Fail("not a test image");
  if (mode == 2) throw std::runtime_error("reader blew up");
  params.WIDTH = w;
  params.HEIGHT = h;
  params.XMP_INFO = "read";
  if (preview) return;
  bitmap.Allocate(w, h, ie24RGB);
  bitmap.Fill(0);
  progress.PerCentFactor = 100.0 / h;
  for (int y = 0; y < h; ++y) {
    progress.ReportDone(y + 1);
    if (progress.Aborted()) return;
  }
}

// Writes one 16-byte block per row, testing the abort flag after each.
void FakeWrite(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  const std::vector<std::uint8_t> row(16, 'N');
  progress.PerCentFactor = 100.0 / bitmap.GetHeight();
  for (int y = 0; y < bitmap.GetHeight(); ++y) {
    SafeStreamWrite(stream, *progress.AbortFlag, row.data(), 16);
    progress.ReportDone(y + 1);
    if (progress.Aborted()) return;
  }
}

void FakeWriteFailsMidway(TStream& stream, TIEBitmap&, TIOParamsVals&, TProgressRec& progress) {
  SafeStreamWrite(stream, *progress.AbortFlag, "HALF-WRITTEN", 12);
  progress.Fail("out of colours");
}

void FakeWriteThrowsMidway(TStream& stream, TIEBitmap&, TIOParamsVals&, TProgressRec& progress) {
  SafeStreamWrite(stream, *progress.AbortFlag, "HALF-WRITTEN", 12);
  throw std::runtime_error("codec library error");
}

class FrontTest : public ::testing::Test {
 protected:
  FrontTest() : swap_(ioBMP, FakeRead, FakeWrite) {
    io.OnProgress = [this](void*, int per) { reports.push_back(per); };
    io.OnFinishWork = [this](void*) { ++finished; };
  }
  void Loaded(int w, int h) {
    io.IEBitmap().Allocate(w, h, ie24RGB);
    io.IEBitmap().Fill(0);
  }

  CodecSwap swap_;
  ScratchDir dir;
  TImageIO io;
  std::vector<int> reports;
  int finished = 0;
};

// ---- loading ------------------------------------------------------------------------------

TEST_F(FrontTest, LoadFrameRecordsTheResultAndFinishesWith100) {
  const std::string file = dir.File("a.bmp");
  WriteBytes(file, FakeFile(4, 2));
  io.IOParams().XMP_INFO = "from the previous file";
  io.IOParams().JPEG_QUALITY = 55;
  io.LoadFromFileBMP(file);
  EXPECT_FALSE(io.AbortFlag);
  EXPECT_EQ(io.AbortReason, "");
  EXPECT_EQ(io.IOParams().FILETYPE, ioBMP);
  EXPECT_EQ(io.IOParams().FILENAME, file);
  EXPECT_EQ(io.IOParams().XMP_INFO, "read");  // ResetInfo ran before the reader
  EXPECT_EQ(io.IOParams().JPEG_QUALITY, 55);  // writer settings survive
  EXPECT_EQ(io.IOParams().DPIX(), 300);       // CheckDPI: the reader gave none
  EXPECT_EQ(io.IEBitmap().GetWidth(), 4);
  EXPECT_FALSE(gLastPreview);
  EXPECT_EQ(reports, (std::vector<int>{50, 100, 100}));
  EXPECT_EQ(finished, 1);
}

TEST_F(FrontTest, ReaderThatRejectsTheDataStillRecordsItsFormat) {
  const std::string file = dir.File("bad.bmp");
  WriteBytes(file, FakeFile(4, 2, 1));
  io.LoadFromFileAuto(file);  // unrecognised content would also end here by extension
  EXPECT_TRUE(io.AbortFlag);
  EXPECT_EQ(io.AbortReason, "not a test image");
  EXPECT_EQ(io.IOParams().FILETYPE, ioBMP);
  EXPECT_EQ(finished, 1);
}

TEST_F(FrontTest, ReaderExceptionPassesAfterTheFinishingStep) {
  const std::string file = dir.File("boom.bmp");
  WriteBytes(file, FakeFile(4, 2, 2));
  EXPECT_THROW(io.LoadFromFileBMP(file), std::runtime_error);
  EXPECT_EQ(finished, 1);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back(), 100);
  EXPECT_NE(io.IOParams().FILETYPE, ioBMP);
}

TEST_F(FrontTest, MissingFileRaisesBeforeTheFrame) {
  EXPECT_THROW(io.LoadFromFileBMP(dir.File("missing.bmp")), EFOpenError);
  EXPECT_EQ(finished, 0);
  EXPECT_TRUE(reports.empty());
}

TEST_F(FrontTest, ContentWinsOverExtension) {
  const std::string file = dir.File("really-a-bmp.png");
  WriteBytes(file, FakeFile(3, 3));
  io.LoadFromFileAuto(file);
  EXPECT_FALSE(io.AbortFlag);
  EXPECT_EQ(io.IOParams().FILETYPE, ioBMP);
}

TEST_F(FrontTest, NothingToLoadLeavesFileTypeZero) {
  WriteBytes(dir.File("ok.bmp"), FakeFile(2, 2));
  WriteBytes(dir.File("x.foo"), Bytes("plain text that no test knows"));
  std::vector<std::uint8_t> avi = {'R', 'I', 'F', 'F', 0x10, 0, 0, 0, 'A', 'V', 'I', ' ', 'L', 'I', 'S', 'T'};
  avi.resize(64, 0);
  WriteBytes(dir.File("clip.avi"), avi);
  WriteBytes(dir.File("clip.bin"), avi);
  WriteBytes(dir.File("pic.png"), Bytes("not really a png at all"));
  struct Case {
    const char* name;
    const char* reason;
  };
  const Case cases[] = {
      {"x.foo", "unknown image format"},
      {"clip.avi", "AVI support is not built"},
      {"clip.bin", "AVI support is not built"},
      {"pic.png", "PNG support is not built"},  // by extension, to a codec not in this build
      {"missing.foo", "unknown image format"},
  };
  CodecSwap noPNG(ioPNG, nullptr, nullptr);  // a codec missing from the build
  for (const Case& c : cases) {
    io.LoadFromFileAuto(dir.File("ok.bmp"));
    ASSERT_EQ(io.IOParams().FILETYPE, ioBMP);
    finished = 0;
    io.LoadFromFileAuto(dir.File(c.name));
    EXPECT_TRUE(io.AbortFlag) << c.name;
    EXPECT_EQ(io.IOParams().FILETYPE, 0) << c.name;
    EXPECT_EQ(io.IOParams().FILENAME, "") << c.name;
    EXPECT_EQ(io.AbortReason, c.reason) << c.name;
    EXPECT_EQ(finished, 1) << c.name;
    EXPECT_EQ(io.IEBitmap().GetWidth(), 2) << c.name;  // the buffer is unchanged
  }
  for (const char* name : {"", "http://example.com/a.bmp", "FTP://host/a.bmp"}) {
    io.LoadFromFile(name);
    EXPECT_TRUE(io.AbortFlag) << name;
    EXPECT_EQ(io.IOParams().FILETYPE, 0) << name;
  }
}

TEST_F(FrontTest, WrapperOfACodecNotInTheBuildFailsCleanly) {
  io.LoadFromFileTIFF(dir.File("missing.tif"));  // not even opened
  EXPECT_TRUE(io.AbortFlag);
  EXPECT_EQ(io.IOParams().FILETYPE, 0);
  EXPECT_EQ(io.AbortReason, "TIFF support is not built");
  EXPECT_EQ(finished, 1);
  Loaded(2, 2);
  // A writer left out of the build (the GIF slot emptied for the test).
  TIECodec& gif = IECodecFor(ioGIF);
  const TIECodec saved = gif;
  gif.Write = nullptr;
  io.SaveToFileGIF(dir.File("out.gif"));
  gif = saved;
  EXPECT_TRUE(io.AbortFlag);
  EXPECT_EQ(io.AbortReason, "GIF support is not built");
  EXPECT_TRUE(dir.Entries().empty());
}

TEST_F(FrontTest, StreamLoadsByContent) {
  TMemoryStream m(FakeFile(5, 1));
  io.LoadFromStream(m);
  EXPECT_FALSE(io.AbortFlag);
  EXPECT_EQ(io.IOParams().FILETYPE, ioBMP);
  EXPECT_EQ(io.IOParams().FILENAME, "");
  EXPECT_EQ(io.IEBitmap().GetWidth(), 5);
  TMemoryStream junk(Bytes("nothing known here"));
  io.LoadFromStream(junk);
  EXPECT_TRUE(io.AbortFlag);
  EXPECT_EQ(io.IOParams().FILETYPE, 0);
}

TEST_F(FrontTest, ParamsOnlyReadsThePreview) {
  const std::string file = dir.File("p.bmp");
  WriteBytes(file, FakeFile(7, 3));
  io.ParamsFromFile(file);
  EXPECT_TRUE(gLastPreview);
  EXPECT_EQ(io.IOParams().FILETYPE, ioBMP);
  EXPECT_EQ(io.IOParams().WIDTH, 7);
  EXPECT_TRUE(io.IEBitmap().IsEmpty());
  EXPECT_EQ(reports, std::vector<int>{100});  // no reports from the reader itself
  WriteBytes(file, FakeFile(7, 3, 1));
  io.ParamsFromFileFormat(file, ioBMP);
  EXPECT_EQ(io.IOParams().FILETYPE, 0);
  io.ParamsFromFile(dir.File("missing.bmp"));
  EXPECT_EQ(io.IOParams().FILETYPE, 0);
}

// ---- saving -------------------------------------------------------------------------------

TEST_F(FrontTest, SaveReplacesTheTargetOnlyWhenTheWriterSucceeded) {
  const std::string target = dir.File("out.bmp");
  WriteBytes(target, Bytes("OLD"));
  Loaded(4, 3);
  struct Case {
    const char* what;
    TIECodecWriteProc writer;
    bool throws;
  };
  const Case failing[] = {
      {"aborts", FakeWriteFailsMidway, false},
      {"throws", FakeWriteThrowsMidway, true},
  };
  for (const Case& c : failing) {
    CodecSwap failingWriter(ioBMP, FakeRead, c.writer);
    finished = 0;
    if (c.throws) {
      EXPECT_THROW(io.SaveToFileBMP(target), std::runtime_error) << c.what;
    } else {
      io.SaveToFileBMP(target);
      EXPECT_TRUE(io.AbortFlag) << c.what;
      EXPECT_EQ(io.AbortReason, "out of colours");
      EXPECT_EQ(io.IOParams().FILETYPE, ioBMP) << c.what;
    }
    EXPECT_EQ(finished, 1) << c.what;
    EXPECT_EQ(ReadBytes(target), Bytes("OLD")) << c.what;
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out.bmp"}) << c.what;  // no temporary left
  }
  namespace fs = std::filesystem;
  const auto perms = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(IEPathFromUTF8(target), perms);
  io.SaveToFileBMP(target);
  EXPECT_FALSE(io.AbortFlag);
  EXPECT_EQ(ReadBytes(target), std::vector<std::uint8_t>(48, 'N'));
#ifndef _WIN32
  EXPECT_EQ(fs::status(IEPathFromUTF8(target)).permissions() & fs::perms::all, perms);
#endif
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out.bmp"});
  EXPECT_EQ(io.IOParams().FILENAME, target);

  // A failed first save leaves no file at all.
  CodecSwap failingWriter(ioBMP, FakeRead, FakeWriteFailsMidway);
  io.SaveToFileBMP(dir.File("new.bmp"));
  EXPECT_FALSE(IEFileExists(dir.File("new.bmp")));
}

TEST_F(FrontTest, UserStopDuringSaveLeavesNoPartialFile) {
  Loaded(8, 10);
  io.OnProgress = [this](void*, int per) {
    reports.push_back(per);
    if (per < 100) io.AbortFlag = true;  // Cancel pressed at the first report
  };
  io.SaveToFileBMP(dir.File("stopped.bmp"));
  EXPECT_TRUE(io.AbortFlag);
  EXPECT_EQ(io.IOParams().FILETYPE, ioBMP);
  EXPECT_FALSE(IEFileExists(dir.File("stopped.bmp")));
  EXPECT_TRUE(dir.Entries().empty());
  EXPECT_EQ(reports, (std::vector<int>{10, 100}));
  // The next save clears the flag before writing.
  io.OnProgress = nullptr;
  io.SaveToFileBMP(dir.File("again.bmp"));
  EXPECT_FALSE(io.AbortFlag);
  EXPECT_EQ(ReadBytes(dir.File("again.bmp")).size(), 160u);
}

TEST_F(FrontTest, UncreatableTargetRaisesBeforeAnyProgress) {
  Loaded(2, 2);
  io.IOParams().FILETYPE = ioGIF;
  const std::string target = dir.File("no-such-folder/out.bmp");
  try {
    io.SaveToFileBMP(target);
    FAIL() << "saved into a missing folder";
  } catch (const EFCreateError& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("Cannot create file \""), std::string::npos) << what;
    EXPECT_NE(what.find("out.bmp\". "), std::string::npos) << what;  // the target, not a temporary name
  }
  EXPECT_TRUE(reports.empty());
  EXPECT_EQ(io.IOParams().FILETYPE, ioGIF);
}

TEST_F(FrontTest, UnicodeTargetName) {
  Loaded(2, 1);
  const std::string target = dir.File("\xE5\x9B\xBE\xE5\x83\x8F-\xC3\xBC.bmp");
  io.SaveToFile(target);
  EXPECT_FALSE(io.AbortFlag);
  EXPECT_EQ(ReadBytes(target).size(), 16u);
  io.LoadFromFileAuto(target);
  EXPECT_TRUE(io.AbortFlag);  // "NNN..." is not a test image, but it is read by extension
  EXPECT_EQ(io.IOParams().FILETYPE, ioBMP);
}

TEST_F(FrontTest, SaveToFileChoosesTheWriterByExtension) {
  CodecSwap jpeg(ioJPEG, nullptr, FakeWrite);
  Loaded(2, 1);
  io.SaveToFile(dir.File("a.JPG"));
  EXPECT_FALSE(io.AbortFlag);
  EXPECT_EQ(io.IOParams().FILETYPE, ioJPEG);
  EXPECT_TRUE(IEFileExists(dir.File("a.JPG")));

  io.SaveToFile(dir.File("a.xyz"));
  EXPECT_TRUE(io.AbortFlag);
  EXPECT_FALSE(IEFileExists(dir.File("a.xyz")));
  io.AbortFlag = false;
  io.SaveToFile("");  // does nothing at all
  EXPECT_FALSE(io.AbortFlag);

  TMemoryStream m;
  io.SaveToStream(m, ioJPEG);
  EXPECT_EQ(m.GetSize(), 16);
  io.SaveToStream(m, ioCUR);  // cursors cannot be written
  EXPECT_TRUE(io.AbortFlag);
}

TEST_F(FrontTest, NothingToSave) {
  io.SaveToFileBMP(dir.File("empty.bmp"));
  EXPECT_TRUE(io.AbortFlag);
  EXPECT_EQ(io.AbortReason, "there is no image to save");
  EXPECT_FALSE(IEFileExists(dir.File("empty.bmp")));
}

TEST_F(FrontTest, StreamSaveWritesInPlace) {
  Loaded(1, 2);
  TMemoryStream m;
  m.WriteBuffer("HDR", 3);
  io.SaveToStreamBMP(m);
  EXPECT_FALSE(io.AbortFlag);
  EXPECT_EQ(m.GetSize(), 3 + 32);
  EXPECT_EQ(io.IOParams().FILETYPE, 0);  // stream saves do not touch the record
  m.WriteLimit = 40;
  m.Seek(0, soEnd);
  io.SaveToStreamBMP(m);  // the stream takes fewer bytes than offered
  EXPECT_TRUE(io.AbortFlag);
}

// ---- resolution -------------------------------------------------------------------------------

TEST_F(FrontTest, CheckAndAdjustDPI) {
  TIOParamsVals& p = io.IOParams();
  p.SetDpiX(1);
  p.SetDpiY(72);
  io.CheckDPI();
  EXPECT_EQ(p.DPIX(), 300);
  EXPECT_EQ(p.DPIY(), 72);
  EXPECT_EQ(p.EXIF_XRESOLUTION(), 300.0);

  struct Case {
    int w, h, dx, dy;
    int ew, eh, edx, edy;
  };
  const Case cases[] = {
      {100, 50, 100, 200, 100, 25, 100, 100},  // wide: the height changes
      {50, 100, 200, 100, 25, 100, 100, 100},  // tall: the width changes
      {10, 10, 72, 72, 10, 10, 72, 72},        // square pixels: nothing to do
      {10, 10, 0, 72, 10, 10, 0, 72},          // no resolution: nothing to do
  };
  for (const Case& c : cases) {
    TIEBitmap& b = io.IEBitmap();
    b.Allocate(c.w, c.h, ie8g);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) b.SetPixels_ie8(x, y, static_cast<std::uint8_t>(x + y));
    p.SetDpiX(c.dx);
    p.SetDpiY(c.dy);
    io.AdjustDPI();
    EXPECT_EQ(b.GetWidth(), c.ew);
    EXPECT_EQ(b.GetHeight(), c.eh);
    EXPECT_EQ(b.GetPixelFormat(), ie8g);
    EXPECT_EQ(p.DPIX(), c.edx);
    EXPECT_EQ(p.DPIY(), c.edy);
  }
  // A wild resolution pair does not become a giant allocation.
  io.IEBitmap().Allocate(1000, 10, ie24RGB);
  p.SetDpiX(1);
  p.SetDpiY(2000000000);
  io.AdjustDPI();
  EXPECT_EQ(io.IEBitmap().GetHeight(), 10);
}

TEST_F(FrontTest, AdjustDPIFilteredOrWithAlpha) {
  TIOParamsVals& p = io.IOParams();
  TIEBitmap& b = io.IEBitmap();
  b.Allocate(100, 50, ie8g);
  b.Fill(90);
  p.SetDpiX(100);
  p.SetDpiY(200);
  io.FilteredAdjustDPI = true;
  io.AdjustDPI();
  EXPECT_EQ(b.GetPixelFormat(), ie24RGB);
  EXPECT_EQ(b.GetWidth(), 100);
  EXPECT_EQ(b.GetHeight(), 25);
  EXPECT_EQ(b.GetPixels_ie24RGB(50, 12), CreateRGB(90, 90, 90));

  io.FilteredAdjustDPI = false;
  b.Allocate(40, 80, ie24RGB);
  b.Fill(0);
  b.GetAlphaChannel()->Fill(128);
  p.SetDpiX(200);
  p.SetDpiY(100);
  io.AdjustDPI();
  EXPECT_EQ(b.GetWidth(), 20);
  ASSERT_TRUE(b.GetHasAlphaChannel());
  EXPECT_EQ(b.GetAlphaChannel()->GetWidth(), 20);
  EXPECT_EQ(b.GetAlphaChannel()->GetHeight(), 80);
  EXPECT_EQ(b.GetAlpha(19, 79), 128);
}

// Writers that need a plain colour image get one; the rest see the buffer as it is.
TIEPixelFormat gWriterSaw = ienull;
void RecordingWrite(TStream& stream, TIEBitmap& bitmap, TIOParamsVals&, TProgressRec& progress) {
  gWriterSaw = bitmap.GetPixelFormat();
  SafeStreamWrite(stream, *progress.AbortFlag, "x", 1);
}

TEST_F(FrontTest, SaveFrameConvertsForWritersThatNeedIt) {
  CodecSwap pcx(ioPCX, nullptr, RecordingWrite);
  CodecSwap pxm(ioPXM, nullptr, RecordingWrite);
  CodecSwap bmp(ioBMP, nullptr, RecordingWrite);
  struct Case {
    int fileType;
    TIEPixelFormat before, seen;
  };
  const Case cases[] = {
      {ioPCX, ie8g, ie24RGB},  {ioPCX, ie1g, ie1g},       {ioPCX, ie48RGB, ie24RGB},
      {ioPXM, ie48RGB, ie48RGB}, {ioPXM, ie16g, ie24RGB}, {ioBMP, ie8g, ie8g},
  };
  for (const Case& c : cases) {
    io.IEBitmap().Allocate(4, 4, c.before);
    io.IEBitmap().Fill(0);
    gWriterSaw = ienull;
    TMemoryStream m;
    io.SaveToStream(m, c.fileType);
    EXPECT_FALSE(io.AbortFlag);
    EXPECT_EQ(gWriterSaw, c.seen) << c.fileType << " from " << int(c.before);
    EXPECT_EQ(io.IEBitmap().GetPixelFormat(), c.seen);  // in place: the loaded image changes
  }
}

TEST_F(FrontTest, AutoAdjustAfterLoad) {
  // The fake reader leaves 0 resolution: CheckDPI makes it 300 x 300, square.
  io.AutoAdjustDPI = true;
  const std::string file = dir.File("a.bmp");
  WriteBytes(file, FakeFile(6, 4));
  io.LoadFromFileBMP(file);
  EXPECT_EQ(io.IEBitmap().GetWidth(), 6);
  EXPECT_EQ(io.IEBitmap().GetHeight(), 4);
}

// ---- formats registered at run time ---------------------------------------------------------------

TEST_F(FrontTest, RunTimeFormatGoesThroughTheGenericFrames) {
  auto entry = std::make_unique<TIEFileFormatInfo>();
  entry->FileType = 950;
  entry->FullName = "Run-time format";
  entry->Extensions = "RTF1";
  entry->ReadFunction = [](TStream& s, TIEBitmap& b, TIOParamsVals&, bool, TProgressRec&) {
    char c = 0;
    if (s.Read(&c, 1) != 1 || c == '!') throw std::runtime_error("cannot read");
    b.Allocate(3, 3, ie24RGB);
  };
  entry->WriteFunction = [](TStream& s, TIEBitmap&, TIOParamsVals&, TProgressRec& progress) {
    SafeStreamWrite(s, *progress.AbortFlag, "R", 1);
  };
  IEFileFormatAdd(std::move(entry));
  WriteBytes(dir.File("a.rtf1"), Bytes("ok"));
  WriteBytes(dir.File("b.rtf1"), Bytes("!"));
  io.LoadFromFileAuto(dir.File("a.rtf1"));
  EXPECT_FALSE(io.AbortFlag);
  EXPECT_EQ(io.IOParams().FILETYPE, 950);
  EXPECT_EQ(io.IEBitmap().GetWidth(), 3);
  io.LoadFromFileAuto(dir.File("b.rtf1"));  // its exception only sets the flag
  EXPECT_TRUE(io.AbortFlag);
  EXPECT_EQ(io.AbortReason, "cannot read");
  io.SaveToFile(dir.File("c.rtf1"));
  EXPECT_FALSE(io.AbortFlag);
  EXPECT_EQ(ReadBytes(dir.File("c.rtf1")), Bytes("R"));
  IEFileFormatRemove(950);
}

}  // namespace
}  // namespace pravik
