// What the codec tests share: byte fields of hand-built files, a progress
// record that keeps the failure, and the front on bytes in memory.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "image/bitmap.h"
#include "imageio/imageio.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/stream.h"

namespace pravik::codectest {

using Bytes = std::vector<std::uint8_t>;

// ---- little-endian fields (BMP, ICO, PCX, TGA, GIF) ------------------------------------------

inline void Put16(Bytes& b, std::uint32_t v) {
  b.push_back(std::uint8_t(v));
  b.push_back(std::uint8_t(v >> 8));
}
inline void Put32(Bytes& b, std::uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
inline std::uint16_t Get16(const Bytes& b, std::size_t at) { return std::uint16_t(b[at] | (b[at + 1] << 8)); }
inline std::uint32_t Get32(const Bytes& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t(b[at + 3]) << 24);
}

// ---- codecs called directly ------------------------------------------------------------------

// Where a codec's failure lands: the abort flag and the reason it gives.
struct Outcome {
  bool abort = false;
  std::string reason;
  TProgressRec Progress() {
    TProgressRec p;
    p.AbortFlag = &abort;
    p.AbortReason = &reason;
    return p;
  }
};

// ---- the front on bytes in memory ------------------------------------------------------------

struct LoadResult {
  bool aborted = false;
  std::string reason;
};

// Loads a file held in memory through the front: as `format`, or by content
// when format is 0.
inline LoadResult LoadBytes(TImageIO& io, const Bytes& file, int format = 0) {
  TReadOnlyMemoryStream stream(file.data(), std::int64_t(file.size()));
  if (format == 0) io.LoadFromStream(stream);
  else io.LoadFromStreamFormat(stream, format);
  return {io.AbortFlag, io.AbortReason};
}

// Saves through the front as `format` and returns the file; the save must succeed.
inline Bytes SaveBytes(TImageIO& io, int format) {
  TMemoryStream out;
  io.SaveToStream(out, format);
  EXPECT_FALSE(io.AbortFlag) << io.AbortReason;
  return std::move(out.Bytes());
}

// A front of its own that a test loads into and then inspects.
struct Loaded {
  TImageIO io;
  bool Ok() const { return !io.AbortFlag; }
  TIEBitmap& Bmp() { return io.IEBitmap(); }
  TIOParamsVals& P() { return io.IOParams(); }
};

}  // namespace pravik::codectest
