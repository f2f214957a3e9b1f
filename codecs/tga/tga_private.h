// The TGA header and the facts the reader, the writer and the content test share.
#pragma once

#include <cstdint>

#include "imageio/reader.h"

namespace pravik {

inline constexpr int kTgaHeaderSize = 18;
inline constexpr int kTgaExtensionSize = 495;
inline constexpr int kTgaFooterSize = 26;
inline constexpr char kTgaSignature[] = "TRUEVISION-XFILE.";  // 17 characters, then a 0 byte

struct TgaHeader {
  std::uint8_t IdLength = 0;
  std::uint8_t ColorMapType = 0;
  std::uint8_t ImageType = 0;
  std::uint16_t ColorMapFirst = 0;
  std::uint16_t ColorMapLength = 0;
  std::uint8_t ColorMapEntryBits = 0;
  std::uint16_t XOrigin = 0, YOrigin = 0;
  std::uint16_t Width = 0, Height = 0;
  std::uint8_t PixelDepth = 0;
  std::uint8_t Descriptor = 0;

  bool Compressed() const { return ImageType >= 9 && ImageType <= 11; }
  // 1 colour-mapped, 2 true colour, 3 grey (also for the coded types).
  int Kind() const { return ImageType & 7; }
  bool KnownType() const { return Kind() >= 1 && Kind() <= 3 && (ImageType & ~8) == Kind(); }
  bool TopDown() const { return (Descriptor & 0x20) != 0; }
  bool RightToLeft() const { return (Descriptor & 0x10) != 0; }
  // Colour-map entries this reader decodes.
  bool KnownMapEntry() const {
    return ColorMapEntryBits == 15 || ColorMapEntryBits == 16 || ColorMapEntryBits == 24 || ColorMapEntryBits == 32;
  }
  std::int64_t MapBytes() const { return std::int64_t(ColorMapLength) * ((ColorMapEntryBits + 7) / 8); }
};

inline TgaHeader ReadTgaHeader(TIEReader& r) {
  TgaHeader h;
  h.IdLength = r.U8();
  h.ColorMapType = r.U8();
  h.ImageType = r.U8();
  h.ColorMapFirst = r.U16LE();
  h.ColorMapLength = r.U16LE();
  h.ColorMapEntryBits = r.U8();
  h.XOrigin = r.U16LE();
  h.YOrigin = r.U16LE();
  h.Width = r.U16LE();
  h.Height = r.U16LE();
  h.PixelDepth = r.U8();
  h.Descriptor = r.U8();
  return h;
}

// 5-bit channel to 8 bits over the full range (31 is 255).
inline std::uint8_t TgaExpand5(unsigned v) { return static_cast<std::uint8_t>((v << 3) | (v >> 2)); }

}  // namespace pravik
