// TIEBitmap operations built on rows: fills, rectangle copies, canvas resize,
// masks, scans, and the exact flips and turns of the orientation adjustment.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "image/bitmap.h"
#include "image/colour.h"
#include "image/mask.h"

namespace pravik {

namespace {

// Truncates a double toward zero into 64 bits without undefined behaviour for
// huge values or NaN; the caller keeps the low bits it needs.
std::int64_t TruncValue(double v) {
  if (std::isnan(v)) return 0;
  v = std::clamp(v, -9.0e18, 9.0e18);
  return static_cast<std::int64_t>(v);
}

// One pixel's bytes for Fill/FillRect of a byte-aligned format, and whether
// the value is the format's maximum.
struct FillPixel {
  std::uint8_t bytes[8] = {};
  int size = 0;
  bool isMax = false;
  bool keepFourth = false;  // ie32RGB: the fourth byte is left as it is
};

FillPixel MakeFillPixel(TIEPixelFormat format, double value) {
  FillPixel p;
  const std::int64_t t = TruncValue(value);
  const TRGB colour = TColor2TRGB(static_cast<TColor>(t));
  const bool white = colour.r == 255 && colour.g == 255 && colour.b == 255;
  switch (format) {
    case ie8p:
    case ie8g:
      p.size = 1;
      p.bytes[0] = static_cast<std::uint8_t>(t);
      p.isMax = p.bytes[0] == 255;
      break;
    case ie16g: {
      p.size = 2;
      const auto w = static_cast<std::uint16_t>(t);
      std::memcpy(p.bytes, &w, 2);
      p.isMax = w == 65535;
      break;
    }
    case ie32f: {
      p.size = 4;
      const auto f = static_cast<float>(value);
      std::memcpy(p.bytes, &f, 4);
      p.isMax = f >= 1.0f;
      break;
    }
    case ie24RGB:
      p.size = 3;
      std::memcpy(p.bytes, &colour, 3);
      p.isMax = white;
      break;
    case ie32RGB:
      p.size = 4;
      std::memcpy(p.bytes, &colour, 3);
      p.keepFourth = true;
      p.isMax = white;
      break;
    case ieCMYK: {
      p.size = 4;
      const TCMYK c = IERGB2CMYK(colour);
      std::memcpy(p.bytes, &c, 4);
      p.isMax = white;
      break;
    }
    case ieCIELab: {
      p.size = 3;
      const TCIELab c = IERGB2CIELAB(colour);
      std::memcpy(p.bytes, &c, 3);
      p.isMax = white;
      break;
    }
    case ie48RGB: {
      p.size = 6;
      const TRGB48 c{static_cast<std::uint16_t>(colour.r * 257), static_cast<std::uint16_t>(colour.g * 257),
                     static_cast<std::uint16_t>(colour.b * 257)};
      std::memcpy(p.bytes, &c, 6);
      p.isMax = white;
      break;
    }
    default: break;
  }
  return p;
}

void FillSpan(std::uint8_t* row, int x1, int x2, const FillPixel& p) {
  if (p.keepFourth) {
    for (int x = x1; x <= x2; ++x) std::memcpy(row + 4 * std::int64_t(x), p.bytes, 3);
    return;
  }
  if (p.size == 1) {
    std::memset(row + x1, p.bytes[0], static_cast<std::size_t>(x2 - x1 + 1));
    return;
  }
  for (int x = x1; x <= x2; ++x) std::memcpy(row + std::int64_t(x) * p.size, p.bytes, static_cast<std::size_t>(p.size));
}

void SetBit(std::uint8_t* row, int x, bool v) {
  const auto mask = static_cast<std::uint8_t>(0x80 >> (x & 7));
  if (v) row[x >> 3] |= mask;
  else row[x >> 3] &= static_cast<std::uint8_t>(~mask);
}
bool GetBit(const std::uint8_t* row, int x) { return (row[x >> 3] & (0x80 >> (x & 7))) != 0; }

// Copies pixel (sx of src) to (dx of dst) for any format of bits per pixel.
inline void CopyPixel(const std::uint8_t* src, int sx, std::uint8_t* dst, int dx, int bits) {
  if (bits == 1) {
    SetBit(dst, dx, GetBit(src, sx));
    return;
  }
  const int n = bits / 8;
  std::memcpy(dst + std::int64_t(dx) * n, src + std::int64_t(sx) * n, static_cast<std::size_t>(n));
}

struct Rect {
  int srcX, srcY, dstX, dstY, width, height;
};

// Clips a rectangle copy to both bitmaps; false when nothing is left.
bool ClipRect(Rect& r, int srcW, int srcH, int dstW, int dstH) {
  if (r.dstX < 0) {
    r.srcX -= r.dstX;
    r.width += r.dstX;
    r.dstX = 0;
  }
  if (r.dstY < 0) {
    r.srcY -= r.dstY;
    r.height += r.dstY;
    r.dstY = 0;
  }
  if (srcW <= 0 || srcH <= 0 || dstW <= 0 || dstH <= 0) return false;
  r.dstX = std::clamp(r.dstX, 0, dstW - 1);
  r.dstY = std::clamp(r.dstY, 0, dstH - 1);
  r.srcX = std::clamp(r.srcX, 0, srcW - 1);
  r.srcY = std::clamp(r.srcY, 0, srcH - 1);
  r.width = std::min({r.width, srcW - r.srcX, dstW - r.dstX});
  r.height = std::min({r.height, srcH - r.srcY, dstH - r.dstY});
  return r.width > 0 && r.height > 0;
}

}  // namespace

// ---- filling --------------------------------------------------------------------

void TIEBitmap::Fill(double value) {
  if (IsEmpty()) return;
  if (pixelFormat_ == ie1g) {
    const std::uint8_t b = TruncValue(value) != 0 ? 0xFF : 0x00;
    for (int y = 0; y < height_; ++y) std::memset(GetScanLine(y), b, static_cast<std::size_t>(rowLen_));
    AllSet = b != 0;
    return;
  }
  const FillPixel p = MakeFillPixel(pixelFormat_, value);
  if (p.size == 0) return;
  // Build one row, then copy it to every row.
  std::vector<std::uint8_t> row(static_cast<std::size_t>(rowLen_));
  if (!p.keepFourth) FillSpan(row.data(), 0, width_ - 1, p);
  for (int y = 0; y < height_; ++y) {
    std::uint8_t* dst = GetScanLine(y);
    if (p.keepFourth) FillSpan(dst, 0, width_ - 1, p);
    else std::memcpy(dst, row.data(), row.size());
  }
  AllSet = p.isMax;
}

void TIEBitmap::FillRect(int x1, int y1, int x2, int y2, double value) {
  if (IsEmpty()) return;
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, width_ - 1);
  y2 = std::min(y2, height_ - 1);
  if (x1 > x2 || y1 > y2) return;
  if (pixelFormat_ == ie1g) {
    const bool v = TruncValue(value) != 0;
    for (int y = y1; y <= y2; ++y) {
      std::uint8_t* row = GetScanLine(y);
      for (int x = x1; x <= x2; ++x) SetBit(row, x, v);
    }
    return;
  }
  const FillPixel p = MakeFillPixel(pixelFormat_, value);
  if (p.size == 0) return;
  for (int y = y1; y <= y2; ++y) FillSpan(GetScanLine(y), x1, x2, p);
}

// ---- rectangles -------------------------------------------------------------------

void TIEBitmap::CopyRectTo(TIEBitmap& dest, int srcX, int srcY, int dstX, int dstY, int width, int height) {
  if (&dest == this || IsEmpty() || dest.IsEmpty()) return;
  Rect r{srcX, srcY, dstX, dstY, width, height};
  if (!ClipRect(r, width_, height_, dest.width_, dest.height_)) return;
  const TIEPixelFormat sf = pixelFormat_, df = dest.pixelFormat_;
  // Rows are staged through a buffer: with file-backed stores a row pointer is
  // only valid until the next fetch of the same bitmap.
  std::vector<std::uint8_t> srcRow(static_cast<std::size_t>(rowLen_));
  for (int y = 0; y < r.height; ++y) {
    std::memcpy(srcRow.data(), GetScanLine(r.srcY + y), srcRow.size());
    std::uint8_t* d = dest.GetScanLine(r.dstY + y);
    if (sf == df && sf == ie1g) {
      for (int x = 0; x < r.width; ++x) SetBit(d, r.dstX + x, GetBit(srcRow.data(), r.srcX + x));
    } else if (sf == df) {
      const int n = bitCount_ / 8;
      std::memcpy(d + std::int64_t(r.dstX) * n, srcRow.data() + std::int64_t(r.srcX) * n,
                  static_cast<std::size_t>(r.width) * n);
    } else if (sf == ie1g && df == ie24RGB) {
      for (int x = 0; x < r.width; ++x) {
        const std::uint8_t v = GetBit(srcRow.data(), r.srcX + x) ? 255 : 0;
        std::memset(d + 3 * std::int64_t(r.dstX + x), v, 3);
      }
    } else {
      return;  // other pairs copy nothing
    }
  }
}

void TIEBitmap::MergeAlphaRectTo(TIEBitmap& dest, int srcX, int srcY, int dstX, int dstY, int width, int height) {
  if (&dest == this) return;
  TIEBitmap* sa = GetAlphaChannel();
  TIEBitmap* da = dest.GetAlphaChannel();
  if (!sa || !da || sa->pixelFormat_ != ie8g || da->pixelFormat_ != ie8g) return;
  Rect r{srcX, srcY, dstX, dstY, width, height};
  if (!ClipRect(r, width_, height_, dest.width_, dest.height_)) return;
  std::vector<std::uint8_t> srcRow(static_cast<std::size_t>(sa->rowLen_));
  for (int y = 0; y < r.height; ++y) {
    std::memcpy(srcRow.data(), sa->GetScanLine(r.srcY + y), srcRow.size());
    std::uint8_t* d = da->GetScanLine(r.dstY + y);
    for (int x = 0; x < r.width; ++x) d[r.dstX + x] = std::max(d[r.dstX + x], srcRow[r.srcX + x]);
  }
}

// ---- canvas resize ------------------------------------------------------------------

void TIEBitmap::Resize(int newWidth, int newHeight, double background, double alphaFill, TIEHAlign halign,
                       TIEVAlign valign) {
  if (IsEmpty() || newWidth < 1 || newHeight < 1) return;
  if (newWidth == width_ && newHeight == height_) return;
  // The kept part of the old image and where it lands: shrinking keeps the
  // centred or right/bottom part, growing moves the old content the same way.
  auto offsets = [](int oldSize, int newSize, bool centre, bool far, int& src, int& dst) {
    src = dst = 0;
    const int d = centre ? std::abs(newSize - oldSize) / 2 : far ? std::abs(newSize - oldSize) : 0;
    (newSize < oldSize ? src : dst) = d;
  };
  int sx, dx, sy, dy;
  offsets(width_, newWidth, halign == iehCenter, halign == iehRight, sx, dx);
  offsets(height_, newHeight, valign == ievCenter, valign == ievBottom, sy, dy);

  auto build = [&](TIEBitmap& from, double fill) {
    auto to = std::make_unique<TIEBitmap>();
    to->bitAlignment_ = from.bitAlignment_;
    to->location_ = from.location_;
    to->FileStorageThreshold = from.FileStorageThreshold;
    if (!to->Allocate(newWidth, newHeight, from.pixelFormat_)) return std::unique_ptr<TIEBitmap>();
    from.CopyPaletteTo(*to);
    to->Fill(fill);
    from.CopyRectTo(*to, sx, sy, dx, dy, std::min(from.width_, newWidth), std::min(from.height_, newHeight));
    return to;
  };
  std::unique_ptr<TIEBitmap> image = build(*this, background);
  if (!image) return;
  std::unique_ptr<TIEBitmap> alpha;
  if (alpha_ && !alpha_->IsEmpty()) {
    alpha = build(*alpha_, alphaFill);
    if (!alpha) return;
  }
  const bool hadAlpha = alpha_ != nullptr;
  image->SwitchTo(*this);
  if (hadAlpha) SetAlphaChannel(alpha.release());
}

// ---- masks ----------------------------------------------------------------------------

void TIEBitmap::CopyToTIEMask(TIEMask& mask) {
  if (IsEmpty() || (pixelFormat_ != ie1g && pixelFormat_ != ie8g)) return;
  mask.AllocateBits(width_, height_, pixelFormat_ == ie1g ? 1 : 8);
  const auto bytes = static_cast<std::size_t>(std::min(rowLen_, mask.RowLen()));
  for (int y = 0; y < height_; ++y) std::memcpy(mask.GetScanLine(y), GetScanLine(y), bytes);
  mask.AllSet = AllSet;
}

void TIEBitmap::CopyFromTIEMask(const TIEMask* mask) {
  if (!mask || mask->Width() < 1 || mask->Height() < 1) {
    Fill(255);
    return;
  }
  ForceReallocate = true;
  if (!Allocate(mask->Width(), mask->Height(), mask->BitsPerPixel() == 1 ? ie1g : ie8g)) return;
  const auto bytes = static_cast<std::size_t>(std::min(rowLen_, mask->RowLen()));
  for (int y = 0; y < height_; ++y) std::memcpy(GetScanLine(y), mask->GetScanLine(y), bytes);
  AllSet = mask->AllSet;
}

// ---- scans ------------------------------------------------------------------------------

bool TIEBitmap::IsGrayScale() {
  if (pixelFormat_ == ie8p) {
    for (int i = 0; i < paletteLen_; ++i) {
      const TRGB c = palette_[i];
      if (c.r != c.g || c.g != c.b) return false;
    }
    return true;
  }
  if (pixelFormat_ != ie24RGB && pixelFormat_ != ie48RGB && pixelFormat_ != ie32RGB) return true;
  for (int y = 0; y < height_; ++y) {
    const std::uint8_t* row = GetScanLine(y);
    for (int x = 0; x < width_; ++x) {
      if (pixelFormat_ == ie48RGB) {
        TRGB48 p;
        std::memcpy(&p, row + 6 * std::int64_t(x), 6);
        if (p.r != p.g || p.g != p.b) return false;
      } else {
        const std::uint8_t* p = row + std::int64_t(x) * (pixelFormat_ == ie32RGB ? 4 : 3);
        if (p[0] != p[1] || p[1] != p[2]) return false;
      }
    }
  }
  return true;
}

bool TIEBitmap::IsAllBlack() {
  if (IsEmpty()) return true;
  const std::int64_t bits = std::int64_t(width_) * bitCount_;
  const auto fullBytes = static_cast<std::size_t>(bits / 8);
  const int tailBits = static_cast<int>(bits % 8);
  const auto tailMask = static_cast<std::uint8_t>(0xFF00 >> tailBits);
  for (int y = 0; y < height_; ++y) {
    const std::uint8_t* row = GetScanLine(y);
    for (std::size_t i = 0; i < fullBytes; ++i)
      if (row[i] != 0) return false;
    if (tailBits && (row[fullBytes] & tailMask) != 0) return false;
  }
  return true;
}

// ---- orientation --------------------------------------------------------------------------

void _FlipEx(TIEBitmap& bitmap, TFlipDir direction) {
  if (bitmap.IsEmpty()) return;
  const int w = bitmap.GetWidth(), h = bitmap.GetHeight(), bits = bitmap.GetBitCount();
  const auto len = static_cast<std::size_t>(bitmap.GetRowLen());
  std::vector<std::uint8_t> a(len), b(len);
  if (direction == fdVertical) {
    for (int y = 0; y < h / 2; ++y) {
      std::memcpy(a.data(), bitmap.GetScanLine(y), len);
      std::memcpy(b.data(), bitmap.GetScanLine(h - 1 - y), len);
      std::memcpy(bitmap.GetScanLine(y), b.data(), len);
      std::memcpy(bitmap.GetScanLine(h - 1 - y), a.data(), len);
    }
  } else {
    for (int y = 0; y < h; ++y) {
      std::uint8_t* row = bitmap.GetScanLine(y);
      std::memcpy(a.data(), row, len);
      for (int x = 0; x < w; ++x) CopyPixel(a.data(), w - 1 - x, row, x, bits);
    }
  }
  if (bitmap.GetHasAlphaChannel()) _FlipEx(*bitmap.GetAlphaChannel(), direction);
}

namespace {

// Builds a w' x h' copy where destination pixel (x, y) comes from map(x, y),
// then moves it into the bitmap. Used for the quarter turns and transposes.
template <typename Map>
void Remap(TIEBitmap& bitmap, int newWidth, int newHeight, Map map) {
  if (bitmap.IsEmpty()) return;
  std::unique_ptr<TIEBitmap> alpha;
  if (bitmap.GetHasAlphaChannel()) {
    TIEBitmap* a = bitmap.GetAlphaChannel();
    alpha = std::make_unique<TIEBitmap>();
    a->SwitchTo(*alpha);
    Remap(*alpha, newWidth, newHeight, map);
  }
  TIEBitmap out;
  out.FileStorageThreshold = bitmap.FileStorageThreshold;
  if (!out.Allocate(newWidth, newHeight, bitmap.GetPixelFormat())) return;
  bitmap.CopyPaletteTo(out);
  const int bits = bitmap.GetBitCount();
  const auto len = static_cast<std::size_t>(bitmap.GetRowLen());
  // Hold the source in one buffer so file-backed images work too.
  std::vector<std::uint8_t> src(len * static_cast<std::size_t>(bitmap.GetHeight()));
  for (int y = 0; y < bitmap.GetHeight(); ++y) std::memcpy(src.data() + len * y, bitmap.GetScanLine(y), len);
  for (int y = 0; y < newHeight; ++y) {
    std::uint8_t* d = out.GetScanLine(y);
    for (int x = 0; x < newWidth; ++x) {
      int sx, sy;
      map(x, y, sx, sy);
      CopyPixel(src.data() + len * sy, sx, d, x, bits);
    }
  }
  const bool allSet = bitmap.AllSet;
  const int colours = bitmap.PaletteColorCount;
  out.SwitchTo(bitmap);
  bitmap.AllSet = allSet;
  bitmap.PaletteColorCount = colours;
  if (alpha) bitmap.SetAlphaChannel(alpha.release());
}

}  // namespace

void _RotateEx(TIEBitmap& bitmap, int angle) {
  if (angle % 90 != 0 || bitmap.IsEmpty()) return;
  const int w = bitmap.GetWidth(), h = bitmap.GetHeight();
  switch (((angle / 90) % 4 + 4) % 4) {
    case 1:  // counter-clockwise: source (x, y) lands at (y, W - 1 - x)
      Remap(bitmap, h, w, [w](int x, int y, int& sx, int& sy) { sx = w - 1 - y; sy = x; });
      break;
    case 2:
      _FlipEx(bitmap, fdVertical);
      _FlipEx(bitmap, fdHorizontal);
      break;
    case 3:  // clockwise: source (x, y) lands at (H - 1 - y, x)
      Remap(bitmap, h, w, [h](int x, int y, int& sx, int& sy) { sx = y; sy = h - 1 - x; });
      break;
    default: break;
  }
}

void IEAdjustEXIFOrientation(TIEBitmap& bitmap, int orientation) {
  const int w = bitmap.GetWidth(), h = bitmap.GetHeight();
  switch (orientation) {
    case 2: _FlipEx(bitmap, fdHorizontal); break;
    case 3: _RotateEx(bitmap, 180); break;
    case 4: _FlipEx(bitmap, fdVertical); break;
    case 5:  // transpose: (x, y) goes to (y, x)
      Remap(bitmap, h, w, [](int x, int y, int& sx, int& sy) { sx = y; sy = x; });
      break;
    case 6: _RotateEx(bitmap, -90); break;
    case 7:  // transverse: (x, y) goes to (H - 1 - y, W - 1 - x)
      Remap(bitmap, h, w, [w, h](int x, int y, int& sx, int& sy) { sx = w - 1 - y; sy = h - 1 - x; });
      break;
    case 8: _RotateEx(bitmap, 90); break;
    default: break;
  }
}

}  // namespace pravik
