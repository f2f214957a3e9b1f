#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <numeric>
#include <vector>

#include "imageio/reader.h"
#include "imageio/stream.h"

namespace pravik {
namespace {

std::vector<std::uint8_t> Sequence(int n) {
  std::vector<std::uint8_t> v(static_cast<std::size_t>(n));
  std::iota(v.begin(), v.end(), std::uint8_t{0});
  return v;
}

// Counts the calls the reader makes to the stream, to check the buffered path.
class CountingStream final : public TStream {
 public:
  explicit CountingStream(std::vector<std::uint8_t> bytes) : inner_(std::move(bytes)) {}
  std::int64_t Read(void* b, std::int64_t n) override {
    ++reads;
    return inner_.Read(b, n);
  }
  std::int64_t Write(const void* b, std::int64_t n) override { return inner_.Write(b, n); }
  std::int64_t Seek(std::int64_t o, TSeekOrigin origin) override { return inner_.Seek(o, origin); }
  std::int64_t GetSize() override { return inner_.GetSize(); }
  int reads = 0;

 private:
  TMemoryStream inner_;
};

TEST(CheckedSizeTest, OverflowAndNegativeOperandsAreRefused) {
  const std::int64_t big = std::numeric_limits<std::int64_t>::max();
  std::int64_t out = 7;
  EXPECT_TRUE(IECheckedMul(1 << 20, 1 << 20, out));
  EXPECT_EQ(out, std::int64_t(1) << 40);
  out = 7;
  EXPECT_FALSE(IECheckedMul(big / 2 + 1, 2, out));
  EXPECT_EQ(out, 7);  // untouched on failure
  EXPECT_FALSE(IECheckedMul(-1, 5, out));
  EXPECT_FALSE(IECheckedAdd(big, 1, out));
  EXPECT_FALSE(IECheckedMul3(65536, 65536, 65536 * 65536LL, out));
  EXPECT_TRUE(IECheckedMul3(3, 4, 5, out));
  EXPECT_EQ(out, 60);

  struct Row {
    std::int64_t width, bits;
    int align;
    std::int64_t expected;
  };
  const Row rows[] = {{1, 1, 32, 4}, {3, 24, 32, 12}, {3, 24, 8, 9}, {33, 1, 32, 8}, {0, 24, 32, 0}, {9, 1, 8, 2}};
  for (const Row& r : rows) {
    ASSERT_TRUE(IECheckedRowLen(r.width, r.bits, r.align, out)) << r.width;
    EXPECT_EQ(out, r.expected) << r.width << "x" << r.bits;
  }
  EXPECT_FALSE(IECheckedRowLen(big / 8, 32, 32, out));
  EXPECT_FALSE(IECheckedRowLen(-1, 8, 32, out));
  EXPECT_FALSE(IECheckedRowLen(10, 8, 12, out));
}

TEST(ReaderTest, IntegersInBothByteOrders) {
  const std::vector<std::uint8_t> bytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xFF, 0xFE, 0x80,
                                           0x00, 0x00, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66,
                                           0x77, 0x88};
  TMemoryStream m(bytes);
  TIEReader r(m);
  EXPECT_EQ(r.U16LE(), 0x0201);
  EXPECT_EQ(r.U16BE(), 0x0304);
  EXPECT_EQ(r.U8(), 0x05);
  EXPECT_EQ(r.I8(), 6);
  EXPECT_EQ(r.I16LE(), -257);  // FF FE
  EXPECT_EQ(r.U32LE(), 0x80u);
  EXPECT_EQ(r.I32BE(), 0x11223344);
  EXPECT_EQ(r.U64LE(), 0x88776655ull);  // the high half is missing: zeros
  EXPECT_TRUE(r.Failed());  // the 64-bit read ran past the end
}

TEST(ReaderTest, ShortReadFailsOnceAndStaysFailed) {
  TMemoryStream m(Sequence(5));
  TIEReader r(m);
  EXPECT_EQ(r.U32BE(), 0x00010203u);
  EXPECT_TRUE(r.Ok());
  EXPECT_EQ(r.U16LE(), 0);  // one byte left: zero, and failed
  EXPECT_TRUE(r.Failed());
  EXPECT_STREQ(r.Error(), "unexpected end of data");
  EXPECT_EQ(r.Remaining(), 0);
  EXPECT_EQ(r.U8(), 0);  // stays failed: no byte is handed out any more
  EXPECT_FALSE(r.Seek(0));
  EXPECT_FALSE(r.Fits(0, 1) && r.Fits(1, 1));
  r.Fail("later reason");
  EXPECT_STREQ(r.Error(), "unexpected end of data");  // the first reason is kept

  std::uint8_t buf[4] = {9, 9, 9, 9};
  EXPECT_FALSE(r.Read(buf, 4));
  EXPECT_EQ(buf[0] | buf[1] | buf[2] | buf[3], 0);  // failed reads hand out zeros
}

TEST(ReaderTest, CountsFromTheFileAreCheckedAgainstWhatRemains) {
  TMemoryStream m(Sequence(100));
  m.Seek(40, soBeginning);
  TIEReader r(m);
  EXPECT_EQ(r.Remaining(), 60);
  EXPECT_TRUE(r.Fits(20, 3));
  EXPECT_FALSE(r.Fits(21, 3));
  EXPECT_FALSE(r.Fits(std::numeric_limits<std::int64_t>::max(), 2));  // overflow, not a wrap
  EXPECT_FALSE(r.Fits(-1, 1));
  EXPECT_TRUE(r.InWindow(50, 10));
  EXPECT_FALSE(r.InWindow(50, 11));
  EXPECT_FALSE(r.InWindow(-1, 1));
  EXPECT_TRUE(r.Ok());  // checks alone do not fail the reader
  EXPECT_FALSE(r.Require(61));
  EXPECT_TRUE(r.Failed());
}

TEST(ReaderTest, SkipsAndSeeksStayInsideTheWindow) {
  TMemoryStream m(Sequence(64));
  m.Seek(8, soBeginning);
  TIEReader r(m, 16, 1024);  // window [8, 24)
  EXPECT_EQ(r.Start(), 8);
  EXPECT_EQ(r.End(), 24);
  EXPECT_TRUE(r.SeekOffset(15));
  EXPECT_EQ(r.U8(), 23);
  EXPECT_TRUE(r.AtEnd());
  EXPECT_TRUE(r.Seek(24));  // the end itself is a valid place
  EXPECT_TRUE(r.Seek(8));
  EXPECT_EQ(r.U8(), 8);
  EXPECT_TRUE(r.Skip(3));
  EXPECT_EQ(r.Offset(), 4);
  EXPECT_EQ(r.U8(), 12);

  TIEReader before(m, 16, 1024);
  EXPECT_FALSE(before.Seek(7));  // before the window
  TIEReader after(m, 16, 1024);
  EXPECT_FALSE(after.Skip(17));
  TIEReader back(m, 16, 1024);
  EXPECT_FALSE(back.Skip(-1));  // skips only go forward: walks cannot loop
  TIEReader huge(m, 16, 1024);
  EXPECT_FALSE(huge.SeekOffset(std::numeric_limits<std::int64_t>::max()));
}

TEST(ReaderTest, BufferedReadsAcrossRefillsMatchTheData) {
  const auto data = Sequence(251);
  CountingStream s(data);
  {
    TIEReader r(s, 16);  // small buffer: many refills
    std::vector<std::uint8_t> got;
    got.push_back(r.U8());
    std::uint8_t block[40];
    ASSERT_TRUE(r.Read(block, 40));  // crosses several buffers
    got.insert(got.end(), block, block + 40);
    const std::uint8_t* p = r.Take(10);
    ASSERT_NE(p, nullptr);
    got.insert(got.end(), p, p + 10);
    std::uint8_t peek[3];
    EXPECT_EQ(r.Peek(peek, 3), 3);
    EXPECT_EQ(peek[0], 51);
    while (!r.AtEnd()) got.push_back(r.U8());
    EXPECT_TRUE(r.Ok());
    EXPECT_EQ(got, data);
    EXPECT_EQ(r.Take(17), nullptr);  // larger than the buffer
  }
  // One byte at a time still goes to the stream once per buffer, not per byte.
  CountingStream s2(Sequence(200));
  {
    TIEReader r(s2, 64);
    while (!r.AtEnd()) r.U8();
  }
  EXPECT_LE(s2.reads, 4);
}

TEST(ReaderTest, LargeReadsAndReadSome) {
  const auto data = Sequence(200);
  TMemoryStream m(data);
  TIEReader r(m, 32);
  std::vector<std::uint8_t> out(150);
  ASSERT_TRUE(r.Read(out.data(), 150));  // bigger than the buffer: read straight through
  EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin()));
  EXPECT_EQ(r.ReadSome(out.data(), 150), 50);
  EXPECT_TRUE(r.Ok());  // a partial ReadSome is not a failure
  EXPECT_EQ(out[49], 199);
}

TEST(ReaderTest, StreamPositionFollowsTheReader) {
  TMemoryStream m(Sequence(100));
  m.Seek(10, soBeginning);
  {
    TIEReader r(m, 64);
    r.Skip(5);
    r.U16LE();
    EXPECT_EQ(r.Position(), 17);
    r.Sync();
    EXPECT_EQ(m.GetPosition(), 17);
    r.U8();
  }
  EXPECT_EQ(m.GetPosition(), 18);  // the destructor syncs too
}

TEST(WriterTest, BuffersAndFlushes) {
  TMemoryStream m;
  bool abort = false;
  {
    TIEWriter w(m, abort, 16);
    w.Text("BM");
    w.U32LE(0x11223344);
    w.U16BE(0xABCD);
    w.Fill(0x55, 20);  // more than the buffer
    EXPECT_EQ(w.Position(), 28);
    w.Seek(2);  // patch a header field
    w.U32LE(0xDEADBEEF);
  }
  ASSERT_EQ(m.GetSize(), 28);
  const auto& b = m.Bytes();
  EXPECT_EQ(b[0], 'B');
  EXPECT_EQ(b[2], 0xEF);
  EXPECT_EQ(b[5], 0xDE);
  EXPECT_EQ(b[6], 0xAB);
  EXPECT_EQ(b[27], 0x55);
  EXPECT_FALSE(abort);
}

TEST(WriterTest, ShortWriteSetsTheAbortFlag) {
  TMemoryStream m;
  m.WriteLimit = 10;
  bool abort = false;
  {
    TIEWriter w(m, abort, 8);
    std::vector<std::uint8_t> row(6, 1);
    w.Write(row.data(), 6);
    w.Write(row.data(), 6);  // the buffer spills: 6 bytes reach the stream
    EXPECT_FALSE(w.Aborted());
    w.Flush();  // the remaining 6 do not fit in the 10-byte limit
    EXPECT_TRUE(w.Aborted());
  }
  EXPECT_TRUE(abort);
}

}  // namespace
}  // namespace pravik
