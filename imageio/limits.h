// Limits a reader applies to sizes taken from a file before it allocates.
#pragma once

#include <cstdint>

#include "imageio/reader.h"

namespace pravik {

// Largest decoded image (bytes of pixel data) a reader allocates from a
// header. Files can legitimately claim large images, so the cap is generous;
// the fuzz targets lower it to keep runs inside their memory limit.
inline std::int64_t iegMaxDecodedBytes = std::int64_t(4) << 30;

// True when a width x height image of bitsPerPixel bits is within the cap
// (and the arithmetic does not overflow).
inline bool IEImageSizeAllowed(std::int64_t width, std::int64_t height, std::int64_t bitsPerPixel) {
  if (width < 1 || height < 1 || bitsPerPixel < 1) return false;
  std::int64_t rowLen, total;
  if (!IECheckedRowLen(width, bitsPerPixel, 32, rowLen) || !IECheckedMul(rowLen, height, total)) return false;
  return total <= iegMaxDecodedBytes;
}

}  // namespace pravik
