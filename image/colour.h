// Colour-space formulas shared by the conversions and the codecs: grey
// weights, CMYK (through the built-in press profile when it is available),
// CIE L*a*b* and YCbCr.
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

// Grey16 of three 16-bit channels: (212 R + 713 G + 75 B) div 1000.
inline std::uint16_t IEGrey16(std::uint32_t r16, std::uint32_t g16, std::uint32_t b16) {
  return static_cast<std::uint16_t>((212 * r16 + 713 * g16 + 75 * b16) / 1000);
}

// Float grey of 8-bit channels, 0.0 black to 1.0 white (extended precision,
// then rounded to float once).
inline float IEGreyF(TRGB c) {
  return static_cast<float>((0.2126L * c.r + 0.7152L * c.g + 0.0722L * c.b) / 255.0L);
}

// TCMYK bytes hold the complement of the ink (255 = no ink).
TRGB IECMYK2RGB(TCMYK c);
TCMYK IERGB2CMYK(TRGB c);
// The same for a row of count pixels; with the profile the whole row goes
// through the colour transform at once. Source and dest may be the same
// buffer for IECMYK2RGBRow (the output is smaller).
void IECMYK2RGBRow(const TCMYK* src, TRGB* dst, int count);
void IERGB2CMYKRow(const TRGB* src, TCMYK* dst, int count);

TCIELab IERGB2CIELAB(TRGB c);
TRGB IECIELAB2RGB(TCIELab c);
void IERGB2YCbCr(TRGB c, std::uint8_t& y, std::uint8_t& cb, std::uint8_t& cr);
void IEYCbCr2RGB(TRGB& c, int y, int cb, int cr);

// ---- the built-in CMYK profile (image/colour_profile.cpp) -----------------------
// True when the embedded press profile was opened and both transforms exist.
// The first call inflates and opens it; later calls are cheap. Thread-safe.
bool IECMYKProfileAvailable();
// Row transforms through the profile; false (nothing written) when it is not
// available. They ignore iegUseCMYKProfile: the callers above decide.
bool IECMYKProfileToRGB(const TCMYK* src, TRGB* dst, int count);
bool IECMYKProfileFromRGB(const TRGB* src, TCMYK* dst, int count);

}  // namespace pravik
