#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "imageio/stream.h"
#include "imageio_test_util.h"

namespace pravik {
namespace {

using testing::Bytes;
using testing::ReadBytes;
using testing::ScratchDir;
using testing::WriteBytes;

TEST(FileStreamTest, UnicodeNameRoundTrip) {
  ScratchDir dir;
  // Cyrillic, accented Latin, CJK and an emoji outside the BMP.
  const std::string name = dir.File("\xD0\xBA\xD0\xBE\xD1\x82-caf\xC3\xA9-\xE7\x8C\xAB-\xF0\x9F\x90\x88.bin");
  {
    TFileStream out(name, TFileMode::fmCreate);
    out.WriteBuffer("pixels", 6);
  }
  EXPECT_TRUE(IEFileExists(name));
  EXPECT_EQ(ReadBytes(name), Bytes("pixels"));
  // The folder listing shows the same name, so it was not mangled on the way.
  const auto entries = dir.Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(dir.File(entries[0]), name);
}

TEST(FileStreamTest, OpenAndCreateErrorsNameTheFile) {
  ScratchDir dir;
  const std::string missing = dir.File("missing.bmp");
  try {
    TFileStream s(missing, TFileMode::fmOpenRead);
    FAIL() << "opened a missing file";
  } catch (const EFOpenError& e) {
    const std::string what = e.what();
    EXPECT_EQ(what.rfind("Cannot open file \"", 0), 0u) << what;
    EXPECT_NE(what.find("missing.bmp\". "), std::string::npos) << what;
  }
  const std::string noFolder = dir.File("no/such/folder/out.bmp");
  EXPECT_THROW(TFileStream(noFolder, TFileMode::fmCreate), EFCreateError);
  EXPECT_THROW(TFileStream("", TFileMode::fmOpenRead), EFOpenError);
}

TEST(FileStreamTest, CreateTruncatesAndCreateNewRefusesExisting) {
  ScratchDir dir;
  const std::string name = dir.File("a.bin");
  WriteBytes(name, Bytes("long old content"));
  {
    TFileStream s(name, TFileMode::fmCreate);
    EXPECT_EQ(s.GetSize(), 0);
    s.WriteBuffer("new", 3);
  }
  EXPECT_EQ(ReadBytes(name), Bytes("new"));
  EXPECT_THROW(TFileStream(name, TFileMode::fmCreateNew), EFCreateError);
  EXPECT_EQ(ReadBytes(name), Bytes("new"));
}

TEST(FileStreamTest, MixedReadWriteSeekAndGap) {
  ScratchDir dir;
  const std::string name = dir.File("rw.bin");
  TFileStream s(name, TFileMode::fmCreate);
  s.WriteBuffer("abcdef", 6);
  EXPECT_EQ(s.Seek(2, soBeginning), 2);
  char two[2];
  s.ReadBuffer(two, 2);
  EXPECT_EQ(std::memcmp(two, "cd", 2), 0);
  s.WriteBuffer("XY", 2);  // a write right after a read
  EXPECT_EQ(s.GetPosition(), 6);
  EXPECT_EQ(s.Seek(-6, soEnd), 0);
  EXPECT_EQ(s.Seek(-1, soBeginning), -1);
  EXPECT_EQ(s.GetPosition(), 0);
  EXPECT_EQ(s.Seek(8, soBeginning), 8);  // past the end: a write leaves a zero gap
  s.WriteBuffer("Z", 1);
  EXPECT_EQ(s.GetSize(), 9);
  ASSERT_TRUE(s.Close());
  EXPECT_EQ(ReadBytes(name), (std::vector<std::uint8_t>{'a', 'b', 'c', 'd', 'X', 'Y', 0, 0, 'Z'}));
}

TEST(FileStreamTest, ReadOnlyStreamTakesNoWritesAndReadBufferRaisesAtEnd) {
  ScratchDir dir;
  const std::string name = dir.File("r.bin");
  WriteBytes(name, Bytes("xyz"));
  TFileStream s(name, TFileMode::fmOpenRead);
  EXPECT_EQ(s.GetSize(), 3);
  bool abort = false;
  SafeStreamWrite(s, abort, "q", 1);
  EXPECT_TRUE(abort);
  char buf[4];
  EXPECT_THROW(s.ReadBuffer(buf, 4), EReadError);
}

TEST(MemoryStreamTest, ReadWriteSeekAndLimits) {
  TMemoryStream m;
  m.WriteBuffer("hello", 5);
  EXPECT_EQ(m.GetSize(), 5);
  EXPECT_EQ(m.Seek(0, soBeginning), 0);
  char buf[8] = {};
  EXPECT_EQ(m.Read(buf, 8), 5);
  EXPECT_EQ(m.Read(buf, 1), 0);
  EXPECT_EQ(m.Seek(-1, soCurrent), 4);
  EXPECT_EQ(m.Seek(-10, soCurrent), -1);
  m.Seek(7, soBeginning);
  m.WriteBuffer("!", 1);
  EXPECT_EQ(m.Bytes(), (std::vector<std::uint8_t>{'h', 'e', 'l', 'l', 'o', 0, 0, '!'}));

  TMemoryStream limited;
  limited.WriteLimit = 4;
  EXPECT_EQ(limited.Write("abcdef", 6), 4);
  EXPECT_EQ(limited.Write("g", 1), 0);
  EXPECT_THROW(limited.WriteBuffer("h", 1), EWriteError);
}

TEST(MemoryStreamTest, ReadOnlyViewAndCopyFrom) {
  const char data[] = "0123456789";
  TReadOnlyMemoryStream view(data, 10);
  EXPECT_EQ(view.Write("x", 1), 0);
  view.Seek(3, soBeginning);
  TMemoryStream copy;
  EXPECT_EQ(copy.CopyFrom(view, 4), 4);
  EXPECT_EQ(copy.Bytes(), Bytes("3456"));
  TMemoryStream all;
  EXPECT_EQ(all.CopyFrom(view, 0), 10);  // 0: the whole source
  EXPECT_THROW(all.CopyFrom(view, 1), EReadError);
}

// SafeStreamWrite reports short and failing writes through the flag only.
TEST(SafeStreamWriteTest, ShortOrThrowingWritesSetTheFlag) {
  struct Throwing : TStream {
    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void*, std::int64_t) override { throw std::runtime_error("device gone"); }
    std::int64_t Seek(std::int64_t, TSeekOrigin) override { return 0; }
  } throwing;
  bool abort = false;
  SafeStreamWrite(throwing, abort, "x", 1);
  EXPECT_TRUE(abort);

  TMemoryStream m;
  m.WriteLimit = 2;
  abort = false;
  SafeStreamWrite(m, abort, "ab", 2);
  EXPECT_FALSE(abort);
  SafeStreamWrite(m, abort, "c", 1);
  EXPECT_TRUE(abort);
  abort = false;
  SafeStreamWrite(m, abort, "c", 0);  // nothing offered, nothing to report
  EXPECT_FALSE(abort);
}

TEST(FileNameTest, ExtensionAndExistence) {
  struct Case {
    const char* name;
    const char* ext;
  };
  const Case cases[] = {
      {"a.b.jpg", ".jpg"}, {"photo", ""}, {"C:\\pics.d\\photo", ""}, {"/x.d/y", ""}, {"C:x.PNG", ".PNG"},
      {"a.", "."},         {"dir/.hidden", ".hidden"},
  };
  for (const Case& c : cases) EXPECT_EQ(IEExtractFileExt(c.name), c.ext) << c.name;

  ScratchDir dir;
  EXPECT_FALSE(IEFileExists(IEPathToUTF8(dir.Path())));  // a folder is not a file
  EXPECT_TRUE(IEDirectoryExists(IEPathToUTF8(dir.Path())));
  EXPECT_FALSE(IEFileExists(""));
}

}  // namespace
}  // namespace pravik
