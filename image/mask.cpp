#include "image/mask.h"

#include <algorithm>
#include <cstring>

#include "image/pixel.h"

namespace pravik {

void TIEMask::ResetBox() {
  left_ = std::numeric_limits<std::int32_t>::max();
  top_ = right_ = bottom_ = 0;
}

void TIEMask::AllocateBits(int width, int height, int bitsPerPixel) {
  FreeBits();
  if (width < 1 || height < 1 || (bitsPerPixel != 1 && bitsPerPixel != 8)) return;
  const std::int64_t rowLen = IEBitmapRowLen(width, bitsPerPixel, 32);
  width_ = width;
  height_ = height;
  bitsPerPixel_ = bitsPerPixel;
  rowLen_ = static_cast<int>(rowLen);
  bits_.assign(static_cast<std::size_t>(rowLen * height), 0);
}

void TIEMask::FreeBits() {
  bits_.clear();
  bits_.shrink_to_fit();
  width_ = height_ = bitsPerPixel_ = rowLen_ = 0;
  ResetBox();
  AllSet = false;
}

// Rows are kept bottom-up, like a one-block bitmap.
std::uint8_t* TIEMask::GetScanLine(int row) {
  if (row < 0 || row >= height_) return nullptr;
  return bits_.data() + std::size_t(height_ - 1 - row) * rowLen_;
}

const std::uint8_t* TIEMask::GetScanLine(int row) const { return const_cast<TIEMask*>(this)->GetScanLine(row); }

int TIEMask::GetPixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  const std::uint8_t* row = GetScanLine(y);
  if (bitsPerPixel_ == 1) return (row[x >> 3] & (0x80 >> (x & 7))) ? 1 : 0;
  return row[x];
}

void TIEMask::SetPixel(int x, int y, int value) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  std::uint8_t* row = GetScanLine(y);
  if (bitsPerPixel_ == 1) {
    const auto m = static_cast<std::uint8_t>(0x80 >> (x & 7));
    if (value) row[x >> 3] |= m;
    else row[x >> 3] &= static_cast<std::uint8_t>(~m);
  } else {
    row[x] = static_cast<std::uint8_t>(value);
  }
  if (value != 0) {
    if (IsEmpty()) {
      left_ = right_ = x;
      top_ = bottom_ = y;
    } else {
      left_ = std::min(left_, x);
      right_ = std::max(right_, x);
      top_ = std::min(top_, y);
      bottom_ = std::max(bottom_, y);
    }
  }
}

void TIEMask::Fill(int value) {
  std::fill(bits_.begin(), bits_.end(), static_cast<std::uint8_t>(value));
  AllSet = bitsPerPixel_ == 1 ? true : value == 255;
  if (value != 0 && width_ > 0) {
    left_ = top_ = 0;
    right_ = width_ - 1;
    bottom_ = height_ - 1;
  }
}

void TIEMask::SyncFull() {
  AllSet = false;
  if (bits_.empty()) return;
  const int fullBytes = bitsPerPixel_ == 1 ? width_ / 8 : width_;
  for (int y = 0; y < height_; ++y) {
    const std::uint8_t* row = GetScanLine(y);
    for (int i = 0; i < fullBytes; ++i)
      if (row[i] != 255) return;
    if (bitsPerPixel_ == 1)
      for (int x = fullBytes * 8; x < width_; ++x)
        if (!(row[x >> 3] & (0x80 >> (x & 7)))) return;
  }
  AllSet = true;
}

void TIEMask::Empty() {
  std::fill(bits_.begin(), bits_.end(), 0);
  ResetBox();
  AllSet = false;
}

}  // namespace pravik
