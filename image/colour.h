// Colour-space formulas shared by the conversions and the codecs.
#pragma once

#include <cstdint>

#include "image/pixel.h"

namespace pravik {

extern int gRedToGrayCoef, gGreenToGrayCoef, gBlueToGrayCoef;  // 21, 71, 8
extern bool iegUseCMYKProfile;                                 // true
extern bool iegEnableCMS;                                      // false

// Grey8 = (21 R + 71 G + 8 B) div 100 with the global weights.
inline std::uint8_t _RGBToGray(TRGB c) {
  return static_cast<std::uint8_t>((c.r * gRedToGrayCoef + c.g * gGreenToGrayCoef + c.b * gBlueToGrayCoef) / 100);
}

TRGB IECMYK2RGB(TCMYK c);
TCMYK IERGB2CMYK(TRGB c);
TCIELab IERGB2CIELAB(TRGB c);
TRGB IECIELAB2RGB(TCIELab c);
void IERGB2YCbCr(TRGB c, std::uint8_t& y, std::uint8_t& cb, std::uint8_t& cr);
void IEYCbCr2RGB(TRGB& c, int y, int cb, int cr);

}  // namespace pravik
