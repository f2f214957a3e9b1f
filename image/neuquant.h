// NeuQuant (Dekker's self-organising colour network), private to the
// quantizer. TIEQuantizer is its only user; tests reach the pieces here.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "image/pixel.h"

namespace pravik {

class TIEBitmap;

// Learning looks at one pixel in SamplingFactor: 1 .. 30.
// quality -1 derives it from the pixel count, else 0 (every 30th) .. 100 (every pixel).
int NeuQuantSamplingFactor(std::int64_t pixels, int quality);

// Distance in pixels between consecutive samples: a prime that does not divide
// 3 * pixels (499, 491, 487, else 503).
int NeuQuantStep(std::int64_t pixels);

// The pixels learning visits, in visiting order: pixels / factor samples,
// starting at pixel 0 and stepping by NeuQuantStep with wrap-around. Gathered
// in one pass over the rows of an ie24RGB bitmap.
std::vector<TRGB> NeuQuantSamples(TIEBitmap& bitmap, int factor);

class TNeuQuant {
 public:
  // Learns an n-colour network (1 <= n <= 256) from an ie24RGB bitmap and
  // writes palette[0 .. n-1] in network order.
  TNeuQuant(TIEBitmap& bitmap, TRGB* palette, int quality, int n);
  // The same from an explicit sample sequence (what the bitmap would give).
  TNeuQuant(const std::vector<TRGB>& samples, TRGB* palette, int factor, int n);

  // Palette index (0 .. n-1) of the nearest neuron, searched from the green
  // index. After many lookups the answers are remembered per colour, so a
  // writer mapping a large photo searches each distinct colour once; this
  // makes FindIndex unsafe to call from several threads at once.
  int FindIndex(TRGB colour) const;
  int SamplingFactor() const { return factor_; }

 private:
  void Learn(const std::vector<TRGB>& samples);
  void Finish(TRGB* palette);
  int Search(TRGB colour) const;

  struct Neuron {
    std::int32_t b, g, r, index;
  };
  int n_;
  int factor_;
  std::vector<Neuron> net_;  // sorted by green after Finish
  std::array<std::int32_t, 256> greenIndex_{};

  // Remembered answers: a byte per 24-bit colour (pages are touched only
  // where colours occur) and a bit per colour saying the byte is set.
  struct Memo {
    std::unique_ptr<std::uint8_t[]> index;
    std::unique_ptr<std::uint64_t[]> known;
  };
  mutable Memo memo_;
  mutable std::uint32_t lookups_ = 0;
};

}  // namespace pravik
