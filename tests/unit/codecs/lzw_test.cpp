// GIF LZW coder: the encoder's code stream, decoding of hand-made code
// streams (deferred clear, codes at and beyond the table's end, truncation),
// interlaced row order, and round trips.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "codecs/gif/gif_lzw.h"
#include "imageio/stream.h"

namespace pravik {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Packs codes least significant bit first at the widths a GIF decoder
// expects: after a clear code the first code adds no entry, every later one
// adds one (up to 4096), and the width grows when the next free code reaches
// 2^width.
class CodeStream {
 public:
  explicit CodeStream(int minCodeSize) : m_(minCodeSize) { Reset(); }
  int Clear() const { return 1 << m_; }
  int End() const { return Clear() + 1; }
  int NextFree() const { return next_; }

  CodeStream& Code(int code) {
    acc_ |= std::uint64_t(code) << bits_;
    bits_ += width_;
    while (bits_ >= 8) {
      data_.push_back(std::uint8_t(acc_));
      acc_ >>= 8;
      bits_ -= 8;
    }
    if (code == Clear()) {
      Reset();
    } else if (code != End()) {
      if (fresh_) {
        fresh_ = false;
      } else if (next_ < 4096) {
        ++next_;
        if (next_ == (1 << width_) && width_ < 12) ++width_;
      }
    }
    return *this;
  }

  // The image-data block: minimum code size, sub-blocks, terminator.
  Bytes Block() const {
    Bytes d = data_;
    if (bits_ > 0) d.push_back(std::uint8_t(acc_));
    Bytes out{std::uint8_t(m_)};
    for (std::size_t at = 0; at < d.size(); at += 255) {
      const std::size_t n = std::min<std::size_t>(255, d.size() - at);
      out.push_back(std::uint8_t(n));
      out.insert(out.end(), d.begin() + at, d.begin() + at + n);
    }
    out.push_back(0);
    return out;
  }

 private:
  void Reset() {
    width_ = m_ + 1;
    next_ = Clear() + 2;
    fresh_ = true;
  }
  int m_;
  int width_ = 0, next_ = 0;
  bool fresh_ = true;
  std::uint64_t acc_ = 0;
  int bits_ = 0;
  Bytes data_;
};

struct Decoded {
  bool ok = false;
  std::int64_t stored = 0;
  std::int64_t endPosition = 0;
  Bytes pixels;
};

Decoded Decode(const Bytes& block, int width, int height, bool interlaced = false, std::int64_t at = 0) {
  Bytes file(static_cast<std::size_t>(at), 0xEE);  // something before the block
  file.insert(file.end(), block.begin(), block.end());
  TMemoryStream s(file);
  s.Seek(at, soBeginning);
  Decoded d;
  d.pixels.assign(std::size_t(width) * height, 0xAA);
  d.ok = GIFLZWDecode(s, height, width, d.pixels.data(), interlaced, d.stored);
  d.endPosition = s.GetPosition();
  return d;
}

Bytes Encode(const Bytes& pixels, int width, int height, int bits, bool interlaced = false) {
  TMemoryStream s;
  GIFLZWCompress(s, height, width, interlaced, pixels.data(), bits);
  return s.Bytes();
}

Bytes Noise(std::size_t n, int bits, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& v : b) v = std::uint8_t(rng() & ((1u << bits) - 1));
  return b;
}

// ---- encoder ---------------------------------------------------------------------------------

TEST(GifLzwEncoder, CodeStreamOfASmallImageIsTheClassicOne) {
  // Clear (3 bits), 0, code 6 (= "0 0"), 0, then the end code at 4 bits.
  EXPECT_EQ(Encode({0, 0, 0, 0}, 4, 1, 2), (Bytes{0x02, 0x02, 0x84, 0x51, 0x00}));
}

TEST(GifLzwEncoder, OneBitImagesUseMinimumCodeSizeTwo) {
  const Bytes out = Encode({1, 0, 1, 1, 0}, 5, 1, 1);
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out[0], 2);
  const Decoded d = Decode(out, 5, 1);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.pixels, (Bytes{1, 0, 1, 1, 0}));
}

TEST(GifLzwEncoder, CodeStreamOfExactly254BytesIsOneSubBlock) {
  bool found = false;
  for (int n = 100; n < 400 && !found; ++n) {
    const Bytes pixels = Noise(std::size_t(n), 8, 7);
    const Bytes out = Encode(pixels, n, 1, 8);
    if (out.size() != 1 + 1 + 254 + 1) continue;
    found = true;
    EXPECT_EQ(out[1], 254);
    EXPECT_EQ(out.back(), 0);
    EXPECT_EQ(Decode(out, n, 1).pixels, pixels);
  }
  EXPECT_TRUE(found) << "no pixel count gave 254 bytes of codes";
}

TEST(GifLzwEncoder, FullTableIsFollowedByAClearCode) {
  // 8-bit noise uses up the 4096 codes many times over: the decoder must never
  // see a code past the table.
  const Bytes pixels = Noise(200 * 300, 8, 3);
  const Decoded d = Decode(Encode(pixels, 200, 300, 8), 200, 300);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.stored, 200 * 300);
  EXPECT_EQ(d.pixels, pixels);
}

TEST(GifLzwEncoder, ImageWithoutPixelsGivesClearAndEnd) {
  const Bytes out = Encode({}, 0, 0, 8);
  ASSERT_EQ(out.size(), 6u);  // size byte, one sub-block of 3 bytes (two 9-bit codes), terminator
  EXPECT_EQ(out[0], 8);
  EXPECT_EQ(Decode(out, 1, 1).stored, 0);
}

// ---- round trips ------------------------------------------------------------------------------

struct RoundTrip {
  int width, height, bits;
  bool interlaced;
};

class GifLzwRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(GifLzwRoundTrip, DecodesWhatWasEncoded) {
  const RoundTrip& c = GetParam();
  const Bytes pixels = Noise(std::size_t(c.width) * c.height, c.bits, unsigned(c.width * 31 + c.height));
  const Bytes block = Encode(pixels, c.width, c.height, c.bits, c.interlaced);
  const Decoded d = Decode(block, c.width, c.height, c.interlaced, 3);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.pixels, pixels);
  EXPECT_EQ(d.endPosition, 3 + std::int64_t(block.size()));
}

INSTANTIATE_TEST_SUITE_P(Cases, GifLzwRoundTrip,
                         ::testing::Values(RoundTrip{1, 1, 1, false}, RoundTrip{9, 3, 1, true},
                                           RoundTrip{17, 5, 2, false}, RoundTrip{33, 7, 4, true},
                                           RoundTrip{100, 100, 8, false}, RoundTrip{257, 131, 8, true},
                                           RoundTrip{640, 13, 3, false}));

TEST(GifLzw, FlatImagesRoundTrip) {
  // Long strings: the decoder writes them across row ends.
  Bytes pixels(300 * 200, 5);
  for (std::size_t i = 0; i < pixels.size(); i += 997) pixels[i] = 6;
  const Decoded d = Decode(Encode(pixels, 300, 200, 3), 300, 200);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.pixels, pixels);
}

TEST(GifLzw, InterlacedRowOrderIsTheSameBothWays) {
  const std::vector<Bytes> order = {{0}, {0, 1}, {0, 2, 1}, {0, 2, 1, 3}, {0, 4, 2, 1, 3}};
  for (int h = 1; h <= 5; ++h) {
    Bytes rows;  // row y holds the value y in each of its 3 pixels
    for (int y = 0; y < h; ++y) rows.insert(rows.end(), 3, std::uint8_t(y));
    const Bytes block = Encode(rows, 3, h, 3, true);
    // Read without interlacing: the rows as they travel.
    const Decoded travel = Decode(block, 3, h, false);
    ASSERT_TRUE(travel.ok);
    for (int k = 0; k < h; ++k) EXPECT_EQ(travel.pixels[std::size_t(k) * 3], order[h - 1][k]) << "height " << h;
    EXPECT_EQ(Decode(block, 3, h, true).pixels, rows) << "height " << h;
  }
}

// ---- decoder on hand-made streams ----------------------------------------------------------------

TEST(GifLzwDecoder, MinimumCodeSizes) {
  struct Case {
    int m;
    bool ok;
  };
  for (const Case c : {Case{0, false}, Case{1, false}, Case{2, true}, Case{8, true}, Case{9, true},
                       Case{11, true}, Case{12, false}}) {
    Bytes block;
    if (c.m >= 2 && c.m <= 11) {
      CodeStream cs(c.m);
      block = cs.Code(cs.Clear()).Code(1).Code(0).Code(cs.End()).Block();
    } else {
      block = {std::uint8_t(c.m), 1, 0, 0};
    }
    const Decoded d = Decode(block, 2, 1, false, 4);
    EXPECT_EQ(d.ok, c.ok) << "minimum code size " << c.m;
    if (c.ok) {
      EXPECT_EQ(d.pixels, (Bytes{1, 0})) << c.m;
      EXPECT_EQ(d.endPosition, 4 + std::int64_t(block.size()));
    } else {
      EXPECT_EQ(d.endPosition, 4) << "a refused block leaves the stream where it was";
    }
  }
}

TEST(GifLzwDecoder, FullTableWithoutClearCodeKeepsDecoding) {
  // "Deferred clear": after code 4095 the encoder goes on with 12-bit codes
  // and the full table.
  CodeStream cs(2);
  Bytes expect;
  cs.Code(cs.Clear());
  for (int k = 0; cs.NextFree() < 4096; ++k) {
    cs.Code(k % 4);
    expect.push_back(std::uint8_t(k % 4));
  }
  for (int k = 0; k < 50; ++k) {
    cs.Code(3 - k % 4);
    expect.push_back(std::uint8_t(3 - k % 4));
  }
  cs.Code(6);  // an entry of the full table: "0 1"
  expect.push_back(0);
  expect.push_back(1);
  cs.Code(cs.End());
  const Decoded d = Decode(cs.Block(), int(expect.size()), 1);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.pixels, expect);
}

TEST(GifLzwDecoder, FullTableThenClearCodeDecodes) {
  CodeStream cs(2);
  Bytes expect;
  cs.Code(cs.Clear());
  for (int k = 0; cs.NextFree() < 4096; ++k) {
    cs.Code(k % 3);
    expect.push_back(std::uint8_t(k % 3));
  }
  cs.Code(cs.Clear()).Code(3).Code(3).Code(6).Code(cs.End());  // 3, 3, then "3 3"
  expect.insert(expect.end(), {3, 3, 3, 3});
  const Decoded d = Decode(cs.Block(), int(expect.size()), 1);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.pixels, expect);
}

TEST(GifLzwDecoder, HandMadeStreams) {
  struct Case {
    const char* what;
    std::vector<int> codes;  // -1 clear, -2 end
    int width;
    bool ok;
    Bytes pixels;  // expected (0xAA: not written)
    std::int64_t stored;
  };
  const std::vector<Case> cases = {
      {"code equal to the next free one", {-1, 1, 6, -2}, 3, true, {1, 1, 1}, 3},
      {"first code after a clear past the table reads as 0", {-1, 7, 1, -2}, 2, true, {0, 1}, 2},
      {"no clear code at the start", {2, 1, 6, -2}, 4, true, {2, 1, 2, 1}, 4},
      {"code beyond the next free one", {-1, 1, 7, -2}, 3, false, {}, 0},
      {"data ends before the end code", {-1, 1, 2, 3, 0}, 6, true, {1, 2, 3, 0, 0xAA, 0xAA}, 4},
      {"end code right after clear codes", {-1, -1, -2}, 2, true, {0xAA, 0xAA}, 0},
      {"more pixels than the image holds", {-1, 1, 2, 3, 0, 1, -2}, 3, true, {1, 2, 3}, 3},
  };
  for (const Case& c : cases) {
    CodeStream cs(2);
    for (int code : c.codes) cs.Code(code == -1 ? cs.Clear() : code == -2 ? cs.End() : code);
    const Bytes block = cs.Block();
    const Decoded d = Decode(block, c.width, 1, false, 2);
    EXPECT_EQ(d.ok, c.ok) << c.what;
    if (!c.ok) {
      EXPECT_EQ(d.endPosition, 2) << c.what;
      continue;
    }
    EXPECT_EQ(d.pixels, c.pixels) << c.what;
    EXPECT_EQ(d.stored, c.stored) << c.what;
    EXPECT_EQ(d.endPosition, 2 + std::int64_t(block.size())) << c.what;
  }
}

TEST(GifLzwDecoder, EmptyAndCutBlocks) {
  // No sub-block at all, and a sub-block cut by the end of the stream.
  Decoded d = Decode({2, 0}, 2, 2);
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.stored, 0);
  EXPECT_EQ(d.endPosition, 2);
  CodeStream cs(2);
  Bytes cut = cs.Code(cs.Clear()).Code(1).Code(1).Code(1).Code(1).Code(cs.End()).Block();
  cut.resize(3);  // size, length byte 2, one byte of codes
  d = Decode(cut, 4, 1);
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.endPosition, 3);
  EXPECT_EQ(d.pixels[0], 1);
}

TEST(GifLzw, MaxPixelsBound) {
  EXPECT_EQ(GIFLZWMaxPixels(0), 0);
  EXPECT_EQ(GIFLZWMaxPixels(3), 3 * 4096);  // 24 bits: two 12-bit codes (plus one partly)
  EXPECT_GT(GIFLZWMaxPixels(std::int64_t(1) << 60), 0);  // saturates, no overflow
  // The densest streams there are: one long run, and a deferred-clear stream
  // whose 12-bit codes all name the longest string.
  for (int bits : {2, 8}) {
    const Bytes flat(2000 * 2000, 1);
    const Bytes block = Encode(flat, 2000, 2000, bits);
    EXPECT_LT(2000 * 2000, GIFLZWMaxPixels(std::int64_t(block.size())));
  }
  CodeStream cs(2);
  cs.Code(cs.Clear()).Code(0);
  int last = 0;
  while (cs.NextFree() < 4096) cs.Code(last = cs.NextFree());  // each code the string before plus one
  for (int k = 0; k < 2000; ++k) cs.Code(last);
  const Bytes dense = cs.Code(cs.End()).Block();
  const Decoded d = Decode(dense, 4096, 5000);
  ASSERT_TRUE(d.ok);
  const std::int64_t pixels = d.stored;
  EXPECT_LT(pixels, 4096 * 5000);
  EXPECT_LE(pixels, GIFLZWMaxPixels(std::int64_t(dense.size())));
  EXPECT_GT(pixels * 1.5, double(GIFLZWMaxPixels(std::int64_t(dense.size()))));  // and the bound is close
}

}  // namespace
}  // namespace pravik
