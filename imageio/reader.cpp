#include "imageio/reader.h"

#include <algorithm>

namespace pravik {

namespace {
constexpr const char* kTruncated = "unexpected end of data";
constexpr const char* kOutOfRange = "offset out of range";
}  // namespace

// ---- checked arithmetic -----------------------------------------------------------

bool IECheckedAdd(std::int64_t a, std::int64_t b, std::int64_t& out) {
  std::int64_t r;
  if (a < 0 || b < 0 || __builtin_add_overflow(a, b, &r)) return false;
  out = r;
  return true;
}

bool IECheckedMul(std::int64_t a, std::int64_t b, std::int64_t& out) {
  std::int64_t r;
  if (a < 0 || b < 0 || __builtin_mul_overflow(a, b, &r)) return false;
  out = r;
  return true;
}

bool IECheckedMul3(std::int64_t a, std::int64_t b, std::int64_t c, std::int64_t& out) {
  std::int64_t ab;
  return IECheckedMul(a, b, ab) && IECheckedMul(ab, c, out);
}

bool IECheckedRowLen(std::int64_t width, std::int64_t bitsPerPixel, int alignBits, std::int64_t& out) {
  if (bitsPerPixel <= 0 || alignBits <= 0 || alignBits % 8 != 0) return false;
  std::int64_t bits, padded;
  if (!IECheckedMul(width, bitsPerPixel, bits) || !IECheckedAdd(bits, alignBits - 1, padded)) return false;
  out = padded / alignBits * (alignBits / 8);
  return true;
}

// ---- TIEReader -----------------------------------------------------------------------

TIEReader::TIEReader(TStream& stream, int bufferSize) : TIEReader(stream, -1, bufferSize) {}

TIEReader::TIEReader(TStream& stream, std::int64_t length, int bufferSize) : stream_(stream) {
  start_ = std::max<std::int64_t>(0, stream.GetPosition());
  end_ = std::max(start_, stream.GetSize());
  if (length >= 0 && length < end_ - start_) end_ = start_ + length;
  bufSize_ = std::max(bufferSize, 16);
  buf_ = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(bufSize_));
  DropBuffer(start_);
}

TIEReader::~TIEReader() {
  try {
    Sync();
  } catch (...) {
  }
}

bool TIEReader::Fail(const char* reason) {
  if (error_ == nullptr) error_ = reason != nullptr ? reason : "invalid data";
  lim_ = cur_;  // turns the inline fast paths off; Position() is kept
  return false;
}

void TIEReader::DropBuffer(std::int64_t position) {
  bufPos_ = position;
  cur_ = lim_ = buf_.get();
}

bool TIEReader::Fill() {
  if (Failed()) return false;
  const std::int64_t pos = Position();
  DropBuffer(pos);
  const std::int64_t want = std::min<std::int64_t>(bufSize_, end_ - pos);
  if (want <= 0) return false;
  if (stream_.Seek(pos, soBeginning) != pos) return false;
  std::int64_t got = 0;
  try {
    got = stream_.Read(buf_.get(), want);
  } catch (...) {
    got = 0;
  }
  if (got <= 0) return false;
  lim_ = buf_.get() + got;
  return true;
}

std::uint8_t TIEReader::SlowU8() {
  if (Failed()) return 0;
  if (!Fill()) {
    Fail(kTruncated);
    return 0;
  }
  return *cur_++;
}

bool TIEReader::Fits(std::int64_t count, std::int64_t itemSize) const {
  std::int64_t total;
  return IECheckedMul(count, itemSize, total) && total <= Remaining();
}

bool TIEReader::Require(std::int64_t count, std::int64_t itemSize) {
  if (Fits(count, itemSize)) return true;
  return Fail(kTruncated);
}

bool TIEReader::InWindow(std::int64_t offset, std::int64_t length) const {
  std::int64_t last;
  return IECheckedAdd(offset, length, last) && last <= Size();
}

bool TIEReader::Skip(std::int64_t count) {
  if (Failed()) return false;
  std::int64_t target;
  if (!IECheckedAdd(Position(), count, target)) return Fail(kOutOfRange);
  if (target > end_) return Fail(kTruncated);
  return Seek(target);
}

bool TIEReader::Seek(std::int64_t absolutePosition) {
  if (Failed()) return false;
  if (absolutePosition < start_ || absolutePosition > end_) return Fail(kOutOfRange);
  const std::int64_t buffered = lim_ - buf_.get();
  if (absolutePosition >= bufPos_ && absolutePosition <= bufPos_ + buffered) {
    cur_ = buf_.get() + (absolutePosition - bufPos_);
  } else {
    DropBuffer(absolutePosition);
  }
  return true;
}

std::int64_t TIEReader::ReadSome(void* dest, std::int64_t count) {
  if (Failed() || count <= 0) return 0;
  count = std::min(count, end_ - Position());
  auto* out = static_cast<std::uint8_t*>(dest);
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t avail = lim_ - cur_;
    if (avail > 0) {
      const std::int64_t n = std::min(avail, count - done);
      std::memcpy(out + done, cur_, static_cast<std::size_t>(n));
      cur_ += n;
      done += n;
      continue;
    }
    const std::int64_t left = count - done;
    if (left >= bufSize_) {
      // Large blocks go straight to the caller's memory.
      const std::int64_t pos = Position();
      std::int64_t got = 0;
      if (stream_.Seek(pos, soBeginning) == pos) {
        try {
          got = stream_.Read(out + done, left);
        } catch (...) {
          got = 0;
        }
      }
      if (got <= 0) break;
      done += got;
      DropBuffer(pos + got);
      continue;
    }
    if (!Fill()) break;
  }
  return done;
}

bool TIEReader::Read(void* dest, std::int64_t count) {
  if (count <= 0) return count == 0 ? Ok() : Fail(kOutOfRange);
  if (Failed() || count > Remaining()) {
    std::memset(dest, 0, static_cast<std::size_t>(count));
    return Fail(kTruncated);
  }
  const std::int64_t got = ReadSome(dest, count);
  if (got == count) return true;
  std::memset(static_cast<std::uint8_t*>(dest) + got, 0, static_cast<std::size_t>(count - got));
  return Fail(kTruncated);
}

std::int64_t TIEReader::Peek(void* dest, std::int64_t count) {
  if (Failed() || count <= 0) return 0;
  if (lim_ - cur_ >= count) {
    std::memcpy(dest, cur_, static_cast<std::size_t>(count));
    return count;
  }
  const std::int64_t pos = Position();
  const std::int64_t got = ReadSome(dest, count);
  Seek(pos);
  return got;
}

const std::uint8_t* TIEReader::Take(std::int64_t count) {
  if (Failed()) return nullptr;
  if (count < 0 || count > bufSize_) {
    Fail("block too large");
    return nullptr;
  }
  if (count > Remaining()) {
    Fail(kTruncated);
    return nullptr;
  }
  if (lim_ - cur_ < count && (!Fill() || lim_ - cur_ < count)) {
    Fail(kTruncated);
    return nullptr;
  }
  const std::uint8_t* p = cur_;
  cur_ += count;
  return p;
}

void TIEReader::Sync() { stream_.Seek(Position(), soBeginning); }

// ---- TIEWriter -------------------------------------------------------------------------

TIEWriter::TIEWriter(TStream& stream, bool& abortFlag, int bufferSize)
    : stream_(stream), abortFlag_(abortFlag), size_(std::max(bufferSize, 16)) {
  buf_ = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(size_));
}

TIEWriter::~TIEWriter() { Flush(); }

void TIEWriter::Flush() {
  if (fill_ > 0) SafeStreamWrite(stream_, abortFlag_, buf_.get(), fill_);
  fill_ = 0;
}

void TIEWriter::Write(const void* data, std::int64_t count) {
  if (count <= 0) return;
  if (count >= size_) {
    Flush();
    SafeStreamWrite(stream_, abortFlag_, data, count);
    return;
  }
  if (fill_ + count > size_) Flush();
  std::memcpy(buf_.get() + fill_, data, static_cast<std::size_t>(count));
  fill_ += static_cast<int>(count);
}

void TIEWriter::Fill(std::uint8_t value, std::int64_t count) {
  while (count > 0) {
    if (fill_ == size_) Flush();
    const std::int64_t n = std::min<std::int64_t>(count, size_ - fill_);
    std::memset(buf_.get() + fill_, value, static_cast<std::size_t>(n));
    fill_ += static_cast<int>(n);
    count -= n;
  }
}

void TIEWriter::Seek(std::int64_t absolutePosition) {
  Flush();
  if (stream_.Seek(absolutePosition, soBeginning) != absolutePosition) abortFlag_ = true;
}

std::int64_t TIEWriter::Position() { return stream_.GetPosition() + fill_; }

}  // namespace pravik
