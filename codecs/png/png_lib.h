// The glue between libpng and this codec: stream callbacks, error handling,
// a memory budget, and the guard every libpng call that can fail goes through.
//
// libpng reports errors by longjmp to the jmp_buf it keeps. As with libjpeg
// (see codecs/jpeg/jpeg_lib.h), throwing C++ exceptions through its C frames
// is not something to rely on, so each call that can fail runs inside
// PngGuarded, whose frame holds only a pointer and the callable; the jump
// crosses libpng's frames and our callbacks, none of which owns an object
// with a destructor. The RAII owners of libpng's structures live in the
// callers' frames, which the jump never crosses.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>

#include <png.h>

namespace pravik {

class TStream;

namespace pngio {

// What the callbacks reach through libpng's io, error and memory pointers.
struct PngContext {
  TStream* stream;
  bool* abortFlag;         // writing: set on a short write
  bool shortRead;          // reading: the stream ended early
  std::int64_t allocated;  // bytes libpng holds now
  char message[160];       // libpng's first error
};

template <class F>
[[gnu::noinline]] bool PngGuarded(png_structp png, F&& call) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  call();
  return true;
}

// A read structure with its info structure on a stream, with the limits
// that keep a small file from claiming a large amount of memory.
class PngReadStruct {
 public:
  explicit PngReadStruct(TStream& stream);
  ~PngReadStruct();
  PngReadStruct(const PngReadStruct&) = delete;
  PngReadStruct& operator=(const PngReadStruct&) = delete;

  bool Ok() const { return png != nullptr && info != nullptr; }

  PngContext ctx;
  png_structp png = nullptr;
  png_infop info = nullptr;
};

class PngWriteStruct {
 public:
  PngWriteStruct(TStream& stream, bool* abortFlag);
  ~PngWriteStruct();
  PngWriteStruct(const PngWriteStruct&) = delete;
  PngWriteStruct& operator=(const PngWriteStruct&) = delete;

  bool Ok() const { return png != nullptr && info != nullptr; }

  PngContext ctx;
  png_structp png = nullptr;
  png_infop info = nullptr;
};

}  // namespace pngio
}  // namespace pravik
