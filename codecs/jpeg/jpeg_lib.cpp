#include "codecs/jpeg/jpeg_lib.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "imageio/limits.h"
#include "imageio/stream.h"

namespace pravik::jpegio {

namespace {

// ---- error manager ---------------------------------------------------------------
// None of these callbacks owns an object with a destructor: ErrorExit's
// longjmp may cross any of them.

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<JpegError*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

void EmitMessage(j_common_ptr cinfo, int level) {
  if (level != -1) return;  // trace messages
  auto* err = reinterpret_cast<JpegError*>(cinfo->err);
  ++err->warnings;
  err->lastWarning = cinfo->err->msg_code;
  if (cinfo->err->msg_code == JWRN_HIT_MARKER) err->insufficientData = true;
}

void OutputMessage(j_common_ptr) {}

void ScanLimitMonitor(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number <= kMaxScans) return;
  auto* err = reinterpret_cast<JpegError*>(cinfo->err);
  std::snprintf(err->message, sizeof err->message, "too many scans in a progressive JPEG (more than %d)", kMaxScans);
  std::longjmp(err->jump, 1);
}

// ---- source manager --------------------------------------------------------------------

void InitSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<JpegSource*>(cinfo->src);
  std::int64_t got = 0;
  try {
    got = src->stream->Read(src->buffer, kStreamBufferSize);
  } catch (...) {
    got = 0;  // an unreadable stream ends the data like its end does
  }
  if (got <= 0) {
    if (src->startOfFile) src->emptyAtStart = true;
    // End the data with an EOI marker, as libjpeg's own sources do: a
    // truncated file decodes up to where it ends.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->buffer[0] = 0xFF;
    src->buffer[1] = JPEG_EOI;
    got = 2;
    src->ranDry = true;
  }
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = static_cast<std::size_t>(got);
  src->startOfFile = false;
  return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
  auto* src = reinterpret_cast<JpegSource*>(cinfo->src);
  if (count <= 0) return;
  while (count > static_cast<long>(src->pub.bytes_in_buffer)) {
    count -= static_cast<long>(src->pub.bytes_in_buffer);
    FillInputBuffer(cinfo);
    if (src->ranDry) return;  // the supplied EOI stays to be read
  }
  src->pub.next_input_byte += count;
  src->pub.bytes_in_buffer -= static_cast<std::size_t>(count);
}

void TermSource(j_decompress_ptr) {}

// ---- destination manager ------------------------------------------------------------------

void InitDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kStreamBufferSize;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
  SafeStreamWrite(*dest->stream, *dest->abortFlag, dest->buffer, kStreamBufferSize);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kStreamBufferSize;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
  const std::size_t used = kStreamBufferSize - dest->pub.free_in_buffer;
  if (used > 0) SafeStreamWrite(*dest->stream, *dest->abortFlag, dest->buffer, static_cast<std::int64_t>(used));
}

}  // namespace

void InitError(JpegError& err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = ErrorExit;
  err.pub.emit_message = EmitMessage;
  err.pub.output_message = OutputMessage;
  err.warnings = 0;
  err.lastWarning = 0;
  err.insufficientData = false;
  err.message[0] = '\0';
}

long JpegMemoryLimit() {
  // Coefficient buffers take two bytes per sample; the decoded image at most
  // four bytes per pixel. Twice the pixel cap covers the rest of libjpeg's needs.
  const std::int64_t limit = std::max<std::int64_t>(iegMaxDecodedBytes, 64 << 20) * 2;
  return static_cast<long>(std::min<std::int64_t>(limit, LONG_MAX));
}

// ---- Decompressor ------------------------------------------------------------------------

Decompressor::Decompressor() : buffer_(std::make_unique<JOCTET[]>(kStreamBufferSize)) {
  std::memset(&cinfo, 0, sizeof cinfo);
  std::memset(&src, 0, sizeof src);
  std::memset(&scanLimit, 0, sizeof scanLimit);
  InitError(err);
}

Decompressor::~Decompressor() {
  if (created_) jpeg_destroy_decompress(&cinfo);
}

bool Decompressor::Create() {
  cinfo.err = &err.pub;
  created_ = JpegGuarded(err, [this] { jpeg_create_decompress(&cinfo); });
  if (!created_) return false;
  cinfo.mem->max_memory_to_use = JpegMemoryLimit();
  scanLimit.pub.progress_monitor = ScanLimitMonitor;
  cinfo.progress = &scanLimit.pub;
  return true;
}

void Decompressor::AttachSource(TStream& stream) {
  src.pub.init_source = InitSource;
  src.pub.fill_input_buffer = FillInputBuffer;
  src.pub.skip_input_data = SkipInputData;
  src.pub.resync_to_restart = jpeg_resync_to_restart;
  src.pub.term_source = TermSource;
  src.pub.next_input_byte = nullptr;
  src.pub.bytes_in_buffer = 0;
  src.stream = &stream;
  src.buffer = buffer_.get();
  src.startOfFile = true;
  src.emptyAtStart = false;
  src.ranDry = false;
  cinfo.src = &src.pub;
}

// ---- Compressor ----------------------------------------------------------------------------

Compressor::Compressor() : buffer_(std::make_unique<JOCTET[]>(kStreamBufferSize)) {
  std::memset(&cinfo, 0, sizeof cinfo);
  std::memset(&dest, 0, sizeof dest);
  InitError(err);
}

Compressor::~Compressor() {
  if (created_) jpeg_destroy_compress(&cinfo);
}

bool Compressor::Create() {
  cinfo.err = &err.pub;
  created_ = JpegGuarded(err, [this] { jpeg_create_compress(&cinfo); });
  return created_;
}

void Compressor::AttachDestination(TStream& stream, bool* abortFlag) {
  dest.pub.init_destination = InitDestination;
  dest.pub.empty_output_buffer = EmptyOutputBuffer;
  dest.pub.term_destination = TermDestination;
  dest.stream = &stream;
  dest.buffer = buffer_.get();
  dest.abortFlag = abortFlag;
  cinfo.dest = &dest.pub;
}

}  // namespace pravik::jpegio
