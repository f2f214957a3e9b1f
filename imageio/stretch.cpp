#include "imageio/stretch.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "image/bitmap.h"

namespace pravik {

namespace {

void StretchPlane(TIEBitmap& source, TIEBitmap& dest, int width, int height) {
  const int sw = source.GetWidth(), sh = source.GetHeight();
  const int bits = source.GetBitCount();
  const int bpp = bits / 8;
  std::vector<std::int64_t> columns(static_cast<std::size_t>(width));
  for (int x = 0; x < width; ++x) columns[static_cast<std::size_t>(x)] = std::int64_t(x) * sw / width;
  std::vector<std::uint8_t> row(static_cast<std::size_t>(source.GetRowLen()));
  int loaded = -1;
  for (int y = 0; y < height; ++y) {
    const int sy = static_cast<int>(std::int64_t(y) * sh / height);
    if (sy != loaded) {
      // Copied out: a file-backed buffer keeps one row per bitmap at a time.
      std::memcpy(row.data(), source.GetScanLine(sy), row.size());
      loaded = sy;
    }
    std::uint8_t* dst = dest.GetScanLine(y);
    if (bits == 1) {
      std::memset(dst, 0, static_cast<std::size_t>(dest.GetRowLen()));
      for (int x = 0; x < width; ++x) {
        const std::int64_t sx = columns[static_cast<std::size_t>(x)];
        if ((row[static_cast<std::size_t>(sx >> 3)] >> (7 - (sx & 7))) & 1) dst[x >> 3] |= std::uint8_t(0x80 >> (x & 7));
      }
    } else {
      for (int x = 0; x < width; ++x)
        std::memcpy(dst + std::int64_t(x) * bpp, row.data() + columns[static_cast<std::size_t>(x)] * bpp,
                    static_cast<std::size_t>(bpp));
    }
  }
}

}  // namespace

bool IEStretchPoint(TIEBitmap& source, TIEBitmap& dest, int width, int height) {
  if (&source == &dest || source.IsEmpty() || width < 1 || height < 1) return false;
  if (!dest.Allocate(width, height, source.GetPixelFormat())) return false;
  if (source.GetPixelFormat() == ie8p) source.CopyPaletteTo(dest);
  StretchPlane(source, dest, width, height);
  if (source.GetHasAlphaChannel()) {
    TIEBitmap* alpha = source.GetAlphaChannel();
    TIEBitmap* destAlpha = dest.GetAlphaChannel();
    if (destAlpha == nullptr) return true;
    if (destAlpha->GetWidth() != width || destAlpha->GetHeight() != height ||
        destAlpha->GetPixelFormat() != alpha->GetPixelFormat()) {
      if (!destAlpha->Allocate(width, height, alpha->GetPixelFormat())) return true;
    }
    StretchPlane(*alpha, *destAlpha, width, height);
  }
  return true;
}

}  // namespace pravik
