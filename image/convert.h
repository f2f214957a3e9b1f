// Pixel-format conversion helpers around TIEBitmap::SetPixelFormat: black and
// white (threshold or ordered dithering), two-colour detection for 1-bit
// writers, row repacking for writers, and the row colour-space converter that
// codecs call through IEConvertColorFunction.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "image/bitmap.h"
#include "image/colour.h"
#include "image/pixel.h"

namespace pravik {

class TIEQuantizer;

// 8 x 8 Bayer matrix, indexed (x mod 8) * 8 + (y mod 8).
extern const std::int32_t BWORDERPATTERN[64];

// Two-colour detection: an ie1g copy of bitmap whose 0 bits are Colour1 (the
// darker colour) and 1 bits Colour2, or null when the image has one colour or
// more than two.
std::unique_ptr<TIEBitmap> _ConvertTo1bitEx(TIEBitmap& bitmap, TRGB& colour1, TRGB& colour2);

// The 1-bit copy a writer of two-colour files saves, with the colours of its
// 0 and 1 bits: the image's own two colours (_ConvertTo1bitEx); a one-colour
// image as that colour (black or white as a black-and-white image); anything
// else converted to black and white. Null only when memory runs out.
std::unique_ptr<TIEBitmap> IETwoLevelCopy(TIEBitmap& bitmap, TRGB& dark, TRGB& light);

// Inverts every bit of every row of an ie1g bitmap, padding included.
void _Negative1BitEx(TIEBitmap& bitmap);

// Binarizes source into dest (made ie1g at source's size if it is not): a
// pixel is white when its grey is at least level. A negative level means
// automatic, the grey of the channel means. progress gets per cent per row.
void _ConvertToBWThresholdEx(TIEBitmap& source, TIEBitmap& dest, int level,
                             const std::function<void(int per)>& progress = {});

// Mean of each channel: per row sum div width, then those summed div height.
// 128 each when the bitmap holds no pixels.
void _GetMediaContrastRGB(TIEBitmap& bitmap, int& r, int& g, int& b);

// Index of the palette entry nearest to colour (sum of channel differences;
// the first of equals wins); 0 for an empty palette.
int _GetSimilColor(const TRGB* palette, int count, TRGB colour);

// Swap the first and third byte of count 3-byte pixels (BGR <-> RGB).
void _BGR2RGB(std::uint8_t* row, int count);
void _RGB2BGR(std::uint8_t* row, int count);
void _CopyBGR_RGB(std::uint8_t* dest, const std::uint8_t* source, int count);

// Repacks one row of count pixels from sourceBits to destBits per pixel for a
// writer (pairs: 24->4, 24->8, 24->24, 32->24, 8->1, 8->8, 8->24, 1->1, 1->4,
// 1->8, 1->24, 4->4, 4->8, 4->24). Packed outputs put the first pixel in the
// most significant bits; 24->4, 1->4 are OR-ed into dest, so dest must arrive
// zeroed. 24-bit pixels are TRGB. Palette indexes outside the palette give
// black; a null quantizer means "nearest palette entry". Returns the bytes
// written, 0 for a pair it does not handle.
int _ConvertXBitsToYBits(const std::uint8_t* source, std::uint8_t* dest, int sourceBits, int destBits, int count,
                         const TRGB* palette, int paletteCount, const TIEQuantizer* quantizer);

// ---- row colour-space converter ------------------------------------------------

enum TIEColorSpace : std::uint8_t {
  iecmsRGB,       // red, green, blue bytes
  iecmsBGR,       // TRGB
  iecmsCMYK,      // TCMYK (complemented ink)
  iecmsCMYK6,     // four bytes of plain ink amounts (0 = no ink)
  iecmsCIELab,    // TCIELab
  iecmsGray8,     // one byte
  iecmsRGB48,     // red, green, blue little-endian words
  iecmsRGB48_SE,  // red, green, blue big-endian words
  iecmsYCBCR,     // Y, Cb, Cr bytes
};

// Converts count pixels of one row. params is the caller's parameter record;
// only colour management with the image's own profiles would read it, and
// this system never turns that on (iegEnableCMS).
using TIEConvertColorFunction = void (*)(const void* source, TIEColorSpace sourceSpace, void* dest,
                                         TIEColorSpace destSpace, int count, const void* params);

// Pairs: RGB->BGR, BGR->BGR, BGR->CMYK, BGR->CIELab, BGR->Gray8, CMYK->BGR,
// CMYK6->BGR, CIELab->BGR, RGB48->BGR, RGB48_SE->BGR, YCBCR->BGR; any other
// pair leaves dest as it is. Same-size pairs may convert in place.
void IEDefaultConvertColorFunction(const void* source, TIEColorSpace sourceSpace, void* dest,
                                   TIEColorSpace destSpace, int count, const void* params);

extern TIEConvertColorFunction IEConvertColorFunction;  // IEDefaultConvertColorFunction

}  // namespace pravik
