// Pieces the BMP and icon codecs share; private to codecs/bitmap.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "image/pixel.h"

namespace pravik {

class TIEBitmap;

// Resolution from pixels per metre (rounding halves to even); fallback when
// that gives 0.
inline int BMPDpiFromPPM(std::int32_t ppm, int fallback) {
  const double dpi = std::nearbyint(static_cast<double>(ppm) / 100.0 * 2.54);
  return dpi == 0 ? fallback : static_cast<int>(dpi);
}

// Pixels per metre from a resolution (halves to even).
inline std::int32_t BMPPPMFromDpi(int dpi) {
  const double ppm = std::nearbyint(static_cast<double>(dpi) / 2.54 * 100.0);
  if (ppm > 2147483647.0) return 2147483647;
  if (ppm < -2147483647.0) return -2147483647;
  return static_cast<std::int32_t>(ppm);
}

// A 256-entry colour table for palette indexes: the file's entries, and entry
// 0 for indexes beyond them (black when the file has none).
struct TBMPColourTable {
  TRGB Entry[256];
  void Build(const std::vector<TRGB>& colours) {
    const TRGB fallback = colours.empty() ? TRGB{} : colours[0];
    for (int i = 0; i < 256; ++i) Entry[i] = i < static_cast<int>(colours.size()) ? colours[i] : fallback;
  }
};

// An owned copy of bitmap's pixels (no alpha channel) in another pixel format.
// The source is never changed.
void BMPConvertedCopy(TIEBitmap& source, TIEBitmap& dest, TIEPixelFormat format);

}  // namespace pravik
