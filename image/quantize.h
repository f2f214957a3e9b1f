// TIEQuantizer: a palette of at most N colours for an image, and the palette
// index of any colour.
//
// A grey image gets a grey ramp, an ie8p image keeps its palette, an ie24RGB
// image with at most N distinct colours gets exactly those colours (in order
// of first appearance); anything else goes through median cut (32x32x32
// histogram) or NeuQuant, chosen by N and iegColorReductionAlgorithm.
// Deterministic: the same image always gives the same palette and indexes.
#pragma once

#include <memory>

#include "image/pixel.h"

namespace pravik {

class TIEBitmap;

extern int iegColorReductionAlgorithm;  // -1 auto (median cut below 128 colours), 0 NeuQuant, 1 median cut
extern int iegColorReductionQuality;    // -1 auto from the image size, else 0 (fastest) .. 100 (best)

class TIEQuantizer {
 public:
  // Writes up to n entries of palette (room for n TRGB); entries it does not
  // need are left as they were. spare is unused (callers pass 255).
  // n is 1 to 256 (larger values are taken as 256); throws
  // std::invalid_argument for n < 1.
  TIEQuantizer(TIEBitmap& bitmap, TRGB* palette, int spare, int n);
  ~TIEQuantizer();
  TIEQuantizer(const TIEQuantizer&) = delete;
  TIEQuantizer& operator=(const TIEQuantizer&) = delete;

  // Palette index of a colour; always 0 to n - 1. For a grey image it is the
  // grey level scaled to n (red * n / 256), which equals red for n = 256.
  int GetRGBIndex(TRGB colour) const;

  // The source passed IsGrayScale: indexes are grey levels (see GetRGBIndex).
  bool IsGrayScale() const;
  // How many leading palette entries were written (n, or fewer for the exact
  // table and median cut; 0 for a colour image in a format other than ie24RGB).
  int ColorCount() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// ---- median cut on its own ------------------------------------------------------

struct TMedianCutState;  // histogram, boxes and cell lookup table (image/mediancut.cpp)
struct TMedianCutDeleter {
  void operator()(TMedianCutState* state) const noexcept;
};
using PMedianCutState = std::unique_ptr<TMedianCutState, TMedianCutDeleter>;

// Builds the median-cut palette of an ie24RGB bitmap into palette[0 .. K-1],
// K <= n being the number of boxes (MedianCutColorCount); the other entries
// are left alone. Throws std::invalid_argument for another pixel format or
// n outside 1 to 256.
PMedianCutState CreateMedianCutQuantizer(TIEBitmap& bitmap, TRGB* palette, int spare, int n);
// Box index of a colour's 5-bit cell (0 for cells in no box).
int MedianCutFindIndex(const TMedianCutState& state, TRGB colour);
int MedianCutColorCount(const TMedianCutState& state);
void FreeMedianCutQuantizer(PMedianCutState& state);

}  // namespace pravik
