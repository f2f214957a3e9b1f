// GIF LZW: the decoder works from one in-memory copy of the data sub-blocks
// and writes each code's string straight into the destination row; the
// encoder is the classic hashed LZW of the GIF reference encoders (5003-slot
// open-addressing table, clear code once code 4095 is handed out), so its
// code stream is the one those encoders produce.
#include "codecs/gif/gif_lzw.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "imageio/reader.h"
#include "imageio/stream.h"

namespace pravik {

namespace {

constexpr int kMaxCodes = 4096;
constexpr int kMaxBits = 12;
// Minimum code sizes read: 2 (the standard's least, also for one-bit images)
// up to 11, the largest whose codes still fit in 12 bits (some encoders write
// 9 to 11; roots above 255 keep their low byte).
constexpr int kMinCodeSizeLow = 2;
constexpr int kMinCodeSizeHigh = kMaxBits - 1;

// Interlaced row order: pass p starts at kPassStart[p] and steps kPassStep[p].
constexpr int kPassStart[4] = {0, 4, 2, 1};
constexpr int kPassStep[4] = {8, 8, 4, 2};

// Where decoded pixels go: rows top to bottom, or in the four interlace passes.
// Pixels past the last row are dropped.
class TRowOutput {
 public:
  TRowOutput(std::uint8_t* dest, int width, int height, bool interlaced)
      : dest_(dest), width_(width), height_(height), interlaced_(interlaced) {
    if (width < 1 || height < 1) {
      row_ = -1;
    } else {
      rowPtr_ = dest_;
    }
  }

  bool Done() const { return row_ < 0; }
  int Room() const { return width_ - col_; }
  std::uint8_t* Cursor() const { return rowPtr_ + col_; }
  std::int64_t Stored() const { return stored_; }

  void Advance(int n) {
    col_ += n;
    stored_ += n;
    if (col_ == width_) NextRow();
  }

 private:
  void NextRow() {
    col_ = 0;
    if (!interlaced_) {
      if (++row_ >= height_) row_ = -1;
    } else {
      row_ += kPassStep[pass_];
      while (row_ >= height_) {
        if (++pass_ > 3) {
          row_ = -1;
          break;
        }
        row_ = kPassStart[pass_];
      }
    }
    if (row_ >= 0) rowPtr_ = dest_ + static_cast<std::int64_t>(row_) * width_;
  }

  std::uint8_t* dest_;
  std::uint8_t* rowPtr_ = nullptr;
  int width_, height_;
  bool interlaced_;
  int row_ = 0, col_ = 0, pass_ = 0;
  std::int64_t stored_ = 0;
};

// The decoder's string table: each code's string is its prefix code's string
// plus one byte; lengths let a string be written backwards into place.
struct TStringTable {
  std::uint16_t Prefix[kMaxCodes];
  std::uint16_t Length[kMaxCodes];
  std::uint8_t Suffix[kMaxCodes];
  std::uint8_t First[kMaxCodes];
  std::uint8_t Stack[kMaxCodes];

  void Emit(int code, TRowOutput& out) {
    int len = Length[code];
    if (len <= out.Room()) {
      std::uint8_t* p = out.Cursor() + len;
      for (int k = len; k > 0; --k) {
        *--p = Suffix[code];
        code = Prefix[code];
      }
      out.Advance(len);
      return;
    }
    // Crosses a row end: unwind once, then copy row by row.
    std::uint8_t* sp = Stack + len;
    for (int k = len; k > 0; --k) {
      *--sp = Suffix[code];
      code = Prefix[code];
    }
    while (len > 0 && !out.Done()) {
      const int n = std::min(len, out.Room());
      std::memcpy(out.Cursor(), sp, static_cast<std::size_t>(n));
      out.Advance(n);
      sp += n;
      len -= n;
    }
  }
};

// Reads the data sub-blocks into one buffer: length bytes until a zero or the
// end of the stream (a short last block keeps what is there).
void GatherSubBlocks(TIEReader& r, std::vector<std::uint8_t>& data) {
  for (;;) {
    const int len = r.U8();
    if (r.Failed() || len == 0) return;
    const std::size_t at = data.size();
    data.resize(at + static_cast<std::size_t>(len));
    const std::int64_t got = r.ReadSome(data.data() + at, len);
    if (got < len) {
      data.resize(at + static_cast<std::size_t>(got));
      return;
    }
  }
}

}  // namespace

std::int64_t GIFLZWMaxPixels(std::int64_t dataBytes) {
  if (dataBytes <= 0) return 0;
  std::int64_t bits, pixels;
  if (!IECheckedMul(dataBytes, 8, bits)) return INT64_MAX;
  if (!IECheckedMul(bits / kMaxBits + 1, kMaxCodes, pixels)) return INT64_MAX;
  return pixels;
}

bool GIFLZWDecode(TStream& stream, int height, int width, std::uint8_t* dest, bool interlaced,
                  std::int64_t& pixelsStored) {
  pixelsStored = 0;
  const std::int64_t start = stream.GetPosition();
  std::vector<std::uint8_t> data;
  int m = 0;
  {
    TIEReader r(stream);
    m = r.U8();
    if (!r.Failed() && m >= kMinCodeSizeLow && m <= kMinCodeSizeHigh) GatherSubBlocks(r, data);
  }  // the reader leaves the stream after the last byte it consumed
  if (m < kMinCodeSizeLow || m > kMinCodeSizeHigh) {
    stream.Seek(start, soBeginning);
    return false;
  }

  TRowOutput out(dest, width, height, interlaced);
  auto table = std::make_unique<TStringTable>();
  const int clear = 1 << m, end = clear + 1;
  for (int c = 0; c < clear; ++c) {
    table->Prefix[c] = 0;
    table->Length[c] = 1;
    table->Suffix[c] = table->First[c] = static_cast<std::uint8_t>(c);
  }

  const std::uint8_t* in = data.data();
  const std::size_t inSize = data.size();
  std::size_t inPos = 0;
  std::uint64_t acc = 0;
  int accBits = 0;
  int width_s = m + 1;  // current code width
  int nextFree = clear + 2, limit = 1 << width_s;
  int prev = -1;  // -1: at the start or right after a clear code
  bool corrupt = false;

  while (!out.Done()) {
    if (accBits < width_s) {
      while (accBits <= 56 && inPos < inSize) {
        acc |= static_cast<std::uint64_t>(in[inPos++]) << accBits;
        accBits += 8;
      }
      if (accBits < width_s) break;  // the data ends without an end code
    }
    int code = static_cast<int>(acc & ((1u << width_s) - 1));
    acc >>= width_s;
    accBits -= width_s;

    if (code == clear) {
      width_s = m + 1;
      nextFree = clear + 2;
      limit = 1 << width_s;
      prev = -1;
      continue;
    }
    if (code == end) break;
    if (prev < 0) {
      // The first code after a clear is a root; one beyond the table reads as 0.
      if (code >= nextFree) code = 0;
      table->Emit(code, out);
      prev = code;
      continue;
    }
    if (code < nextFree) {
      table->Emit(code, out);
      if (nextFree < kMaxCodes) {
        table->Prefix[nextFree] = static_cast<std::uint16_t>(prev);
        table->Suffix[nextFree] = table->First[code];
        table->First[nextFree] = table->First[prev];
        table->Length[nextFree] = static_cast<std::uint16_t>(table->Length[prev] + 1);
        ++nextFree;
      }
    } else if (code == nextFree && nextFree < kMaxCodes) {
      // The string of the previous code plus its own first byte.
      table->Prefix[nextFree] = static_cast<std::uint16_t>(prev);
      table->Suffix[nextFree] = table->First[prev];
      table->First[nextFree] = table->First[prev];
      table->Length[nextFree] = static_cast<std::uint16_t>(table->Length[prev] + 1);
      ++nextFree;
      table->Emit(code, out);
    } else {
      corrupt = true;
      break;
    }
    // A full table stays as it is until the encoder sends a clear code
    // ("deferred clear"); the width stays at 12 bits.
    if (nextFree == limit && width_s < kMaxBits) {
      ++width_s;
      limit <<= 1;
    }
    prev = code;
  }

  if (corrupt) {
    stream.Seek(start, soBeginning);
    return false;
  }
  pixelsStored = out.Stored();
  return true;
}

void GIFLZWDecompress(TStream& stream, int height, int width, std::uint8_t* dest, bool interlaced) {
  std::int64_t stored;
  GIFLZWDecode(stream, height, width, dest, interlaced, stored);
}

// ---- encoder --------------------------------------------------------------------------------

namespace {

constexpr int kHashSize = 5003;  // prime, about 80% occupancy at 4096 codes

// Sub-blocks are assembled in place in an output buffer: one length byte,
// then up to 254 data bytes; the buffer goes to the stream when it fills.
class TBlockWriter {
 public:
  explicit TBlockWriter(TStream& stream) : stream_(stream) {}
  ~TBlockWriter() { Flush(); }

  void Raw(std::uint8_t b) {
    if (fill_ == kSize) Flush();
    buf_[fill_++] = b;
  }
  void Data(std::uint8_t b) {
    if (count_ == 0) {
      if (fill_ + 255 > kSize) Flush();
      lenAt_ = fill_++;
    }
    buf_[fill_++] = b;
    if (++count_ == 254) EndBlock();
  }
  void EndBlock() {
    if (count_ == 0) return;
    buf_[lenAt_] = static_cast<std::uint8_t>(count_);
    count_ = 0;
  }
  void Flush() {
    EndBlock();
    if (fill_ > 0) stream_.Write(buf_, fill_);
    fill_ = 0;
  }

 private:
  static constexpr int kSize = 64 * 1024;
  TStream& stream_;
  std::uint8_t buf_[kSize];
  int fill_ = 0;
  int lenAt_ = 0;
  int count_ = 0;
};

struct TEncoderState {
  std::int32_t HashKey[kHashSize];
  std::uint16_t HashCode[kHashSize];
};

class TLZWEncoder {
 public:
  TLZWEncoder(TBlockWriter& out, int minCodeSize)
      : out_(out), initBits_(minCodeSize + 1), clear_(1 << minCodeSize), end_(clear_ + 1) {
    nBits_ = initBits_;
    maxCode_ = (1 << nBits_) - 1;
    freeEnt_ = clear_ + 2;
    state_ = std::make_unique<TEncoderState>();
  }

  void Start(int firstPixel) {
    ent_ = firstPixel;
    ResetHash();
    Output(clear_);
  }

  void Pixels(const std::uint8_t* p, const std::uint8_t* last) {
    std::int32_t* const key = state_->HashKey;
    std::uint16_t* const codes = state_->HashCode;
    const int rootMask = clear_ - 1;
    int ent = ent_;
    for (; p != last; ++p) {
      const int c = *p & rootMask;
      const std::int32_t fcode = (c << kMaxBits) + ent;
      int i = (c << 4) ^ ent;
      if (key[i] == fcode) {
        ent = codes[i];
        continue;
      }
      if (key[i] >= 0) {
        const int disp = i == 0 ? 1 : kHashSize - i;
        bool found = false;
        for (;;) {
          i -= disp;
          if (i < 0) i += kHashSize;
          if (key[i] == fcode) {
            found = true;
            break;
          }
          if (key[i] <= 0) break;
        }
        if (found) {
          ent = codes[i];
          continue;
        }
      }
      Output(ent);
      ent = c;
      if (freeEnt_ < kMaxCodes) {
        codes[i] = static_cast<std::uint16_t>(freeEnt_++);
        key[i] = fcode;
      } else {
        ResetHash();
        freeEnt_ = clear_ + 2;
        clearPending_ = true;
        Output(clear_);
      }
    }
    ent_ = ent;
  }

  void Finish(bool started) {
    if (started) Output(ent_);
    Output(end_);
  }

 private:
  void ResetHash() { std::fill(state_->HashKey, state_->HashKey + kHashSize, -1); }

  void Output(int code) {
    acc_ &= (1u << accBits_) - 1u;
    acc_ |= static_cast<std::uint32_t>(code) << accBits_;
    accBits_ += nBits_;
    while (accBits_ >= 8) {
      out_.Data(static_cast<std::uint8_t>(acc_));
      acc_ >>= 8;
      accBits_ -= 8;
    }
    if (freeEnt_ > maxCode_ || clearPending_) {
      if (clearPending_) {
        nBits_ = initBits_;
        maxCode_ = (1 << nBits_) - 1;
        clearPending_ = false;
      } else {
        ++nBits_;
        maxCode_ = nBits_ == kMaxBits ? kMaxCodes : (1 << nBits_) - 1;
      }
    }
    if (code == end_) {
      while (accBits_ > 0) {
        out_.Data(static_cast<std::uint8_t>(acc_));
        acc_ >>= 8;
        accBits_ -= 8;
      }
      out_.EndBlock();
    }
  }

  TBlockWriter& out_;
  const int initBits_, clear_, end_;
  int nBits_, maxCode_, freeEnt_;
  bool clearPending_ = false;
  int ent_ = 0;
  std::uint32_t acc_ = 0;
  int accBits_ = 0;
  std::unique_ptr<TEncoderState> state_;
};

}  // namespace

void GIFLZWCompress(TStream& stream, int height, int width, bool interlaced, const std::uint8_t* source,
                    int bitsPerPixel) {
  const int m = std::clamp(bitsPerPixel, 2, 8);
  auto out = std::make_unique<TBlockWriter>(stream);
  out->Raw(static_cast<std::uint8_t>(m));
  TLZWEncoder enc(*out, m);
  const bool any = width > 0 && height > 0 && source != nullptr;
  if (any) {
    const std::int64_t w = width;
    bool started = false;
    auto row = [&](int y) {
      const std::uint8_t* p = source + y * w;
      if (!started) {
        enc.Start(p[0] & ((1 << m) - 1));
        started = true;
        ++p;
      }
      enc.Pixels(p, source + y * w + w);
    };
    if (!interlaced) {
      // Rows follow each other in memory: one run over the whole image.
      enc.Start(source[0] & ((1 << m) - 1));
      enc.Pixels(source + 1, source + w * height);
    } else {
      for (int pass = 0; pass < 4; ++pass)
        for (int y = kPassStart[pass]; y < height; y += kPassStep[pass]) row(y);
    }
  } else {
    enc.Start(0);  // an image without pixels: clear and end codes only
  }
  // Without pixels there is no prefix to send before the end code.
  enc.Finish(any);
  out->Raw(0);
}

}  // namespace pravik
