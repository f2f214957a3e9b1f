// TIEMask: a 1-bit or 8-bit plane with a bounding box of the pixels ever set,
// used to hand an alpha channel to and from some codecs.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

namespace pravik {

class TIEMask {
 public:
  void AllocateBits(int width, int height, int bitsPerPixel);
  void FreeBits();
  // Row 0 is the top row.
  std::uint8_t* GetScanLine(int row);
  const std::uint8_t* GetScanLine(int row) const;
  int GetPixel(int x, int y) const;
  void SetPixel(int x, int y, int value);
  void Fill(int value);
  void SyncFull();
  void Empty();
  bool IsEmpty() const { return left_ == std::numeric_limits<std::int32_t>::max(); }

  int Width() const { return width_; }
  int Height() const { return height_; }
  int BitsPerPixel() const { return bitsPerPixel_; }
  int RowLen() const { return rowLen_; }
  int Left() const { return left_; }
  int Top() const { return top_; }
  int Right() const { return right_; }
  int Bottom() const { return bottom_; }

  bool AllSet = false;

 private:
  void ResetBox();
  int width_ = 0, height_ = 0, bitsPerPixel_ = 0, rowLen_ = 0;
  std::vector<std::uint8_t> bits_;
  int left_ = std::numeric_limits<std::int32_t>::max(), top_ = 0, right_ = 0, bottom_ = 0;
};

}  // namespace pravik
