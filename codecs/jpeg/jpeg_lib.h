// The glue between libjpeg and this codec: stream source and destination
// managers, the error manager, and the guard every libjpeg call that can fail
// goes through.
//
// Why setjmp/longjmp and not exceptions: libjpeg's fatal-error handler must
// not return, and libjpeg is C, possibly built without unwind tables (the
// Windows build compiles it from source with its own flags), so throwing a C++
// exception through its frames is not something we can rely on. Instead each
// call that can fail runs inside JpegGuarded, whose frame holds nothing but a
// reference and the callable; the error handler longjmps back to that frame,
// crossing only libjpeg's frames and our callbacks, none of which owns an
// object with a destructor. The objects that own libjpeg's state (the RAII
// wrappers below) live in the callers' frames, which the jump never crosses.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <memory>

#include <jpeglib.h>
#include <jerror.h>

namespace pravik {

class TStream;

namespace jpegio {

// Both stream managers move data in blocks of this size.
inline constexpr int kStreamBufferSize = 65536;
// A progressive file with more scans than this is refused: each scan walks
// the whole coefficient buffer, so a small file of empty scans could keep the
// decoder busy for minutes. Real encoders use a dozen or so.
inline constexpr int kMaxScans = 500;

struct JpegError {
  jpeg_error_mgr pub;  // first: libjpeg sees only this part
  std::jmp_buf jump;
  int warnings;
  int lastWarning;
  // libjpeg ran out of entropy-coded data before the image was complete.
  bool insufficientData;
  char message[JMSG_LENGTH_MAX];
};

struct JpegSource {
  jpeg_source_mgr pub;  // first
  TStream* stream;
  JOCTET* buffer;
  bool startOfFile;
  bool emptyAtStart;  // the stream had nothing at all
  bool ranDry;        // the stream ended; an EOI marker was supplied
};

struct JpegDestination {
  jpeg_destination_mgr pub;  // first
  TStream* stream;
  JOCTET* buffer;
  bool* abortFlag;  // set on a short write
};

struct JpegScanLimit {
  jpeg_progress_mgr pub;  // first
};

// Runs call() with the error manager's jump target set; false when libjpeg
// reported a fatal error (its text is then in err.message). Must not be
// inlined into a frame that owns objects with destructors, which a function
// calling setjmp never is.
template <class F>
[[gnu::noinline]] bool JpegGuarded(JpegError& err, F&& call) {
  if (setjmp(err.jump) != 0) return false;
  call();
  return true;
}

// The error manager with this codec's handlers; warnings are counted.
void InitError(JpegError& err);

// A decompressor with its error manager and a stream source. Destroys the
// libjpeg object when it goes.
class Decompressor {
 public:
  Decompressor();
  ~Decompressor();
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;

  // Creates the libjpeg object; false (message in err) when libjpeg refuses.
  bool Create();
  // Reads from stream from now on (the buffer starts empty).
  void AttachSource(TStream& stream);

  jpeg_decompress_struct cinfo;
  JpegError err;
  JpegSource src;
  JpegScanLimit scanLimit;

 private:
  std::unique_ptr<JOCTET[]> buffer_;
  bool created_ = false;
};

// A compressor with its error manager and a stream destination.
class Compressor {
 public:
  Compressor();
  ~Compressor();
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;

  bool Create();
  void AttachDestination(TStream& stream, bool* abortFlag);

  jpeg_compress_struct cinfo;
  JpegError err;
  JpegDestination dest;

 private:
  std::unique_ptr<JOCTET[]> buffer_;
  bool created_ = false;
};

// libjpeg's memory ceiling for an image of the decoded-size cap: big enough
// for the coefficient buffers of any image the cap allows, small enough that
// a header cannot make libjpeg reserve more.
long JpegMemoryLimit();

}  // namespace jpegio
}  // namespace pravik
