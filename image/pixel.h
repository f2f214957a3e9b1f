// Pixel formats and pixel records shared by every part of the library.
#pragma once

#include <cstdint>

namespace pravik {

enum TIEPixelFormat : std::uint8_t {
  ienull = 0,
  ie1g = 1,      // 1 bit, MSB first, 1 = white
  ie8p = 2,      // palette index
  ie8g = 3,      // 8-bit grey
  ie16g = 4,     // 16-bit grey, little-endian
  ie24RGB = 5,   // TRGB: blue, green, red
  ie32f = 6,     // float grey 0..1
  ieCMYK = 7,    // TCMYK, inverted (255 = no ink)
  ie48RGB = 8,   // TRGB48: red, green, blue words
  ieCIELab = 9,  // TCIELab
  ie32RGB = 10,  // blue, green, red, fourth byte
};
inline constexpr int IEPixelFormatCount = 11;

// Bits per pixel and channels, indexed by TIEPixelFormat.
inline constexpr int IEPixelFormatBits[IEPixelFormatCount] = {0, 1, 8, 8, 16, 24, 32, 32, 48, 24, 32};
inline constexpr int IEPixelFormatChannels[IEPixelFormatCount] = {0, 1, 1, 1, 1, 3, 1, 4, 3, 3, 4};

#pragma pack(push, 1)
struct TRGB {
  std::uint8_t b = 0, g = 0, r = 0;
  friend bool operator==(const TRGB&, const TRGB&) = default;
};
struct TRGB48 {
  std::uint16_t r = 0, g = 0, b = 0;
  friend bool operator==(const TRGB48&, const TRGB48&) = default;
};
struct TCMYK {
  std::uint8_t c = 0, m = 0, y = 0, k = 0;
  friend bool operator==(const TCMYK&, const TCMYK&) = default;
};
struct TCIELab {
  std::uint8_t l = 0;
  std::int8_t a = 0, b = 0;
  friend bool operator==(const TCIELab&, const TCIELab&) = default;
};
#pragma pack(pop)
static_assert(sizeof(TRGB) == 3 && sizeof(TRGB48) == 6 && sizeof(TCMYK) == 4 && sizeof(TCIELab) == 3);

// A platform colour value: red in bits 0-7, green 8-15, blue 16-23.
using TColor = std::uint32_t;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clBlack = 0;

inline constexpr TRGB TColor2TRGB(TColor c) {
  return TRGB{static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c)};
}
inline constexpr TColor TRGB2TColor(TRGB c) {
  return TColor(c.r) | (TColor(c.g) << 8) | (TColor(c.b) << 16);
}
inline constexpr TRGB CreateRGB(std::uint8_t r, std::uint8_t g, std::uint8_t b) { return TRGB{b, g, r}; }

// Bytes per row for Width pixels of BitCount bits, padded to Alignment bits
// (32 gives rows that are a multiple of 4 bytes, 8 unpadded byte rows).
// Computed in 64 bits; callers check the result against their limits.
constexpr std::int64_t IEBitmapRowLen(std::int64_t width, std::int64_t bitCount, std::int64_t alignment) {
  if (alignment == 32) return ((width * bitCount + 31) / 32) * 4;
  if (alignment <= 0) alignment = 8;
  return ((width * bitCount + alignment - 1) / alignment) * (alignment / 8);
}

}  // namespace pravik
