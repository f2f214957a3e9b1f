// TIEReader: the bounded reader every codec reads a file through, and
// TIEWriter, a buffered writer for the writers.
//
// The reader sees a window of the stream, [start, end): by default from the
// stream's position at construction to its end. Every read is checked against
// the window. A failed read, skip or seek sets a sticky failure with a short
// reason; afterwards every read yields zeros and every check fails, so a codec
// may read a whole header and test Ok() once before using any of it.
//
// Reads are served from an internal buffer: the per-byte forms are inline and
// touch the stream only when the buffer runs dry, so decoders can read byte by
// byte without a virtual call per byte. The stream's own position is moved
// back to the reader's logical position by Sync() and by the destructor; call
// Sync() before handing the stream to other code while the reader lives.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "imageio/stream.h"

namespace pravik {

// ---- 64-bit size arithmetic with overflow checks -------------------------------
// Each returns false (out untouched) on overflow or a negative operand.
bool IECheckedAdd(std::int64_t a, std::int64_t b, std::int64_t& out);
bool IECheckedMul(std::int64_t a, std::int64_t b, std::int64_t& out);
bool IECheckedMul3(std::int64_t a, std::int64_t b, std::int64_t c, std::int64_t& out);
// Bytes of one row of width pixels of bitsPerPixel bits, padded to alignBits
// (8: whole bytes, 32: four-byte multiples). False on overflow or bad input.
bool IECheckedRowLen(std::int64_t width, std::int64_t bitsPerPixel, int alignBits, std::int64_t& out);

// ---- reader --------------------------------------------------------------------
class TIEReader {
 public:
  static constexpr int DefaultBufferSize = 64 * 1024;

  // Window from the stream's current position to its end.
  explicit TIEReader(TStream& stream, int bufferSize = DefaultBufferSize);
  // Window of at most length bytes from the current position (cut to the
  // stream's end).
  TIEReader(TStream& stream, std::int64_t length, int bufferSize);
  ~TIEReader();  // Sync()
  TIEReader(const TIEReader&) = delete;
  TIEReader& operator=(const TIEReader&) = delete;

  // ---- state ------------------------------------------------------------------
  bool Ok() const { return error_ == nullptr; }
  bool Failed() const { return error_ != nullptr; }
  // Short reason of the first failure ("" while Ok()).
  const char* Error() const { return error_ != nullptr ? error_ : ""; }
  // Marks the reader failed with a reason of the codec's own (static text).
  // The first reason is kept. Returns false for `return r.Fail("...")`.
  bool Fail(const char* reason);

  // ---- positions ----------------------------------------------------------------
  // Absolute stream positions.
  std::int64_t Position() const { return bufPos_ + (cur_ - buf_.get()); }
  std::int64_t Start() const { return start_; }
  std::int64_t End() const { return end_; }
  // Offset from the window's start.
  std::int64_t Offset() const { return Position() - start_; }
  std::int64_t Size() const { return end_ - start_; }
  std::int64_t Remaining() const { return Failed() ? 0 : end_ - Position(); }
  bool AtEnd() const { return Remaining() <= 0; }

  // ---- checks for counts and offsets taken from the file ------------------------
  // True when count items of itemSize bytes fit in what remains (no overflow).
  bool Fits(std::int64_t count, std::int64_t itemSize = 1) const;
  // As Fits, but fails the reader ("truncated data") when they do not.
  bool Require(std::int64_t count, std::int64_t itemSize = 1);
  // True when [offset, offset + length) lies inside the window; offset counts
  // from the window's start.
  bool InWindow(std::int64_t offset, std::int64_t length) const;

  // ---- moving -------------------------------------------------------------------
  // Each fails the reader (and returns false) when the target is outside the
  // window; moving to End() is allowed.
  bool Skip(std::int64_t count);
  bool Seek(std::int64_t absolutePosition);
  bool SeekOffset(std::int64_t offsetFromStart) {
    std::int64_t target;
    if (!IECheckedAdd(start_, offsetFromStart, target)) return Fail("offset out of range");
    return Seek(target);
  }

  // ---- reading ------------------------------------------------------------------
  // Reads exactly count bytes or fails (dest is then zero-filled).
  bool Read(void* dest, std::int64_t count);
  // Reads up to count bytes, returns how many (never fails the reader).
  std::int64_t ReadSome(void* dest, std::int64_t count);
  // Copies up to count bytes without moving; returns how many were available.
  std::int64_t Peek(void* dest, std::int64_t count);
  // A pointer to the next count buffered bytes, moving past them; null (and the
  // reader failed) when they are not there. count <= the buffer size. The
  // pointer stays valid until the next call on the reader.
  const std::uint8_t* Take(std::int64_t count);

  std::uint8_t U8() {
    if (cur_ < lim_) return *cur_++;
    return SlowU8();
  }
  std::int8_t I8() { return static_cast<std::int8_t>(U8()); }
  std::uint16_t U16LE() {
    std::uint8_t b[2];
    Fixed(b, 2);
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
  }
  std::uint16_t U16BE() {
    std::uint8_t b[2];
    Fixed(b, 2);
    return static_cast<std::uint16_t>((b[0] << 8) | b[1]);
  }
  std::uint32_t U32LE() {
    std::uint8_t b[4];
    Fixed(b, 4);
    return std::uint32_t(b[0]) | (std::uint32_t(b[1]) << 8) | (std::uint32_t(b[2]) << 16) | (std::uint32_t(b[3]) << 24);
  }
  std::uint32_t U32BE() {
    std::uint8_t b[4];
    Fixed(b, 4);
    return (std::uint32_t(b[0]) << 24) | (std::uint32_t(b[1]) << 16) | (std::uint32_t(b[2]) << 8) | std::uint32_t(b[3]);
  }
  std::uint64_t U64LE() {
    std::uint64_t lo = U32LE();
    return lo | (std::uint64_t(U32LE()) << 32);
  }
  std::uint64_t U64BE() {
    std::uint64_t hi = U32BE();
    return (hi << 32) | U32BE();
  }
  std::int16_t I16LE() { return static_cast<std::int16_t>(U16LE()); }
  std::int16_t I16BE() { return static_cast<std::int16_t>(U16BE()); }
  std::int32_t I32LE() { return static_cast<std::int32_t>(U32LE()); }
  std::int32_t I32BE() { return static_cast<std::int32_t>(U32BE()); }
  // Byte order chosen at run time (TIFF).
  std::uint16_t U16(bool littleEndian) { return littleEndian ? U16LE() : U16BE(); }
  std::uint32_t U32(bool littleEndian) { return littleEndian ? U32LE() : U32BE(); }

  // Moves the stream to the logical position (the buffer is kept).
  void Sync();
  TStream& Stream() { return stream_; }

 private:
  void Fixed(std::uint8_t* dest, int count) {
    if (lim_ - cur_ >= count) {
      std::memcpy(dest, cur_, static_cast<std::size_t>(count));
      cur_ += count;
    } else {
      Read(dest, count);
    }
  }
  std::uint8_t SlowU8();
  // Refills the buffer at the logical position; false at the window's end.
  bool Fill();
  void DropBuffer(std::int64_t position);

  TStream& stream_;
  std::int64_t start_ = 0, end_ = 0;
  std::unique_ptr<std::uint8_t[]> buf_;
  int bufSize_ = 0;
  std::int64_t bufPos_ = 0;              // stream position of buf_[0]
  const std::uint8_t* cur_ = nullptr;    // next byte
  const std::uint8_t* lim_ = nullptr;    // end of valid buffered bytes
  const char* error_ = nullptr;
};

// ---- writer --------------------------------------------------------------------
// Buffers writes and hands them on through SafeStreamWrite, so a stream that
// takes fewer bytes than offered sets the abort flag. Flush() or the
// destructor writes what is left.
class TIEWriter {
 public:
  static constexpr int DefaultBufferSize = 64 * 1024;

  TIEWriter(TStream& stream, bool& abortFlag, int bufferSize = DefaultBufferSize);
  ~TIEWriter();  // Flush()
  TIEWriter(const TIEWriter&) = delete;
  TIEWriter& operator=(const TIEWriter&) = delete;

  void Write(const void* data, std::int64_t count);
  void U8(std::uint8_t v) {
    if (fill_ == size_) Flush();
    buf_[fill_++] = v;
  }
  void U16LE(std::uint16_t v) {
    std::uint8_t b[2] = {std::uint8_t(v), std::uint8_t(v >> 8)};
    Write(b, 2);
  }
  void U16BE(std::uint16_t v) {
    std::uint8_t b[2] = {std::uint8_t(v >> 8), std::uint8_t(v)};
    Write(b, 2);
  }
  void U32LE(std::uint32_t v) {
    std::uint8_t b[4] = {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
    Write(b, 4);
  }
  void U32BE(std::uint32_t v) {
    std::uint8_t b[4] = {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
    Write(b, 4);
  }
  void Text(std::string_view s) { Write(s.data(), static_cast<std::int64_t>(s.size())); }
  void Fill(std::uint8_t value, std::int64_t count);

  // Writes out the buffer.
  void Flush();
  // Flushes, then moves the stream (for writers that patch headers).
  void Seek(std::int64_t absolutePosition);
  // Logical position (stream position plus what is buffered).
  std::int64_t Position();
  bool Aborted() const { return abortFlag_; }

 private:
  TStream& stream_;
  bool& abortFlag_;
  std::unique_ptr<std::uint8_t[]> buf_;
  int size_ = 0;
  int fill_ = 0;
};

}  // namespace pravik
