// The PCX header, shared by the reader, the writer and the DCX page reader.
#pragma once

#include <cstdint>

#include "image/pixel.h"
#include "imageio/reader.h"

namespace pravik {

inline constexpr int kPcxHeaderSize = 128;

struct PcxHeader {
  std::uint8_t Manufacturer = 10;
  std::uint8_t Version = 5;
  std::uint8_t Encoding = 1;
  std::uint8_t BitsPerPixel = 0;
  std::uint16_t XMin = 0, YMin = 0, XMax = 0, YMax = 0;
  std::uint16_t HRes = 0, VRes = 0;
  TRGB Palette[16];  // read and written red, green, blue
  std::uint8_t Planes = 0;
  std::uint16_t BytesPerLine = 0;
  std::uint16_t PaletteInfo = 1;
};

// Reads the 128 bytes; false when they are not there.
inline bool ReadPcxHeader(TIEReader& r, PcxHeader& h) {
  h.Manufacturer = r.U8();
  h.Version = r.U8();
  h.Encoding = r.U8();
  h.BitsPerPixel = r.U8();
  h.XMin = r.U16LE();
  h.YMin = r.U16LE();
  h.XMax = r.U16LE();
  h.YMax = r.U16LE();
  h.HRes = r.U16LE();
  h.VRes = r.U16LE();
  for (TRGB& c : h.Palette) {
    c.r = r.U8();
    c.g = r.U8();
    c.b = r.U8();
  }
  r.U8();  // reserved
  h.Planes = r.U8();
  h.BytesPerLine = r.U16LE();
  h.PaletteInfo = r.U16LE();
  r.Skip(58);
  return r.Ok();
}

}  // namespace pravik
