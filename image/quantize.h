// TIEQuantizer: a palette of at most N colours for an image, and the palette
// index of any colour.
#pragma once

#include <memory>

#include "image/pixel.h"

namespace pravik {

class TIEBitmap;

extern int iegColorReductionAlgorithm;  // -1 auto, 0 NeuQuant, 1 median cut
extern int iegColorReductionQuality;    // -1 auto, else 0..100

class TIEQuantizer {
 public:
  // Writes up to n entries of palette (room for n TRGB). spare is unused (callers pass 255).
  TIEQuantizer(TIEBitmap& bitmap, TRGB* palette, int spare, int n);
  ~TIEQuantizer();
  TIEQuantizer(const TIEQuantizer&) = delete;
  TIEQuantizer& operator=(const TIEQuantizer&) = delete;

  int GetRGBIndex(TRGB colour) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace pravik
