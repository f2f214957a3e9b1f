// Enumerations and hook types held by the parameter record. Enumerations are
// stored in one byte; a few fields keep values past the named ones as read
// (GIF disposal 4-7, unknown filters), so code that indexes a table by one of
// them checks the range first.
#pragma once

#include <cstdint>

namespace pravik {

class TStream;

enum TIOTIFFCompression : std::uint8_t {
  ioTIFF_UNCOMPRESSED = 0,
  ioTIFF_CCITT1D = 1,
  ioTIFF_G3FAX1D = 2,
  ioTIFF_G3FAX2D = 3,
  ioTIFF_G4FAX = 4,
  ioTIFF_LZW = 5,
  ioTIFF_OLDJPEG = 6,
  ioTIFF_JPEG = 7,
  ioTIFF_PACKBITS = 8,
  ioTIFF_ZIP = 9,
  ioTIFF_DEFLATE = 10,
  ioTIFF_UNKNOWN = 11,
};

enum TIOTIFFPhotometInterpret : std::uint8_t {
  ioTIFF_WHITEISZERO = 0,
  ioTIFF_BLACKISZERO = 1,
  ioTIFF_RGB = 2,
  ioTIFF_RGBPALETTE = 3,
  ioTIFF_TRANSPMASK = 4,
  ioTIFF_CMYK = 5,
  ioTIFF_YCBCR = 6,
  ioTIFF_CIELAB = 7,
};

enum TIOByteOrder : std::uint8_t { ioBigEndian = 0, ioLittleEndian = 1 };

enum TIEGIFAction : std::uint8_t {
  ioGIF_None = 0,
  ioGIF_DontRemove = 1,
  ioGIF_DrawBackground = 2,
  ioGIF_RestorePrev = 3,
};

enum TIOJPEGColorspace : std::uint8_t {
  ioJPEG_RGB = 0,
  ioJPEG_GRAYLEV = 1,
  ioJPEG_YCbCr = 2,
  ioJPEG_CMYK = 3,
  ioJPEG_YCbCrK = 4,
};

enum TIOJPEGDctMethod : std::uint8_t { ioJPEG_ISLOW = 0, ioJPEG_IFAST = 1, ioJPEG_FLOAT = 2 };

enum TIOJPEGCromaSubsampling : std::uint8_t { ioJPEG_MEDIUM = 0, ioJPEG_HIGH = 1, ioJPEG_NONE = 2 };

enum TIOJPEGScale : std::uint8_t {
  ioJPEG_AUTOCALC = 0,
  ioJPEG_FULLSIZE = 1,
  ioJPEG_HALF = 2,
  ioJPEG_QUARTER = 3,
  ioJPEG_EIGHTH = 4,
};

enum TIOJ2000ColorSpace : std::uint8_t { ioJ2000_GRAYLEV = 0, ioJ2000_RGB = 1, ioJ2000_YCbCr = 2 };

enum TIOJ2000ScalableBy : std::uint8_t { ioJ2000_Rate = 0, ioJ2000_Resolution = 1 };

enum TIOBMPVersion : std::uint8_t { ioBMP_BM = 0, ioBMP_BM3 = 1, ioBMP_BMOS2V1 = 2, ioBMP_BMOS2V2 = 3 };

enum TIOBMPCompression : std::uint8_t { ioBMP_UNCOMPRESSED = 0, ioBMP_RLE = 1 };

enum TIOBMPRAWChannelOrder : std::uint8_t { coRGB = 0, coBGR = 1 };

enum TIOBMPRAWPlanes : std::uint8_t { plInterleaved = 0, plPlanar = 1 };

enum TIOPSCompression : std::uint8_t { ioPS_RLE = 0, ioPS_G4FAX = 1, ioPS_G3FAX2D = 2, ioPS_JPEG = 3 };

enum TIOPDFCompression : std::uint8_t {
  ioPDF_UNCOMPRESSED = 0,
  ioPDF_RLE = 1,
  ioPDF_G4FAX = 2,
  ioPDF_G3FAX2D = 3,
  ioPDF_JPEG = 4,
  ioPDF_LZW = 5,
};

enum TIOPCXCompression : std::uint8_t { ioPCX_UNCOMPRESSED = 0, ioPCX_RLE = 1 };

enum TIOPNGFilter : std::uint8_t { ioPNG_FILTER_NONE = 0, ioPNG_FILTER_SUB = 1, ioPNG_FILTER_PAETH = 2 };

// ---- replaceable LZW routines ----------------------------------------------------
// GIF image-data decoder: fills dest (width x height bytes, interlaced rows put
// in their places). On failure it moves the stream back to where it started.
using TGIFLZWDecompFunc = void (*)(TStream& stream, int height, int width, std::uint8_t* dest, bool interlaced);
// GIF image-data encoder: writes the whole image-data block of source
// (width x height index bytes, each below 2^bitsPerPixel).
using TGIFLZWCompFunc = void (*)(TStream& stream, int height, int width, bool interlaced, const std::uint8_t* source,
                                 int bitsPerPixel);
// TIFF strip decoder, called per row: returns the next decoded row of rowLen
// bytes, or null on a corrupt code stream. The strip's data (size bytes) stays
// the same for one strip; state starts null. Called with data null it frees
// the state.
using TTIFFLZWDecompFunc = const std::uint8_t* (*)(const std::uint8_t* data, std::int64_t size, int rowLen,
                                                    void*& state, int fillOrder);
// TIFF strip encoder: the first call (state null) starts a code stream, later
// calls continue it; a call with data null ends the stream and frees the state.
using TTIFFLZWCompFunc = void (*)(const std::uint8_t* data, int length, TStream& stream, void*& state);

// Process-wide defaults, installed by the GIF and TIFF codecs before any
// record is created (null until then; a null hook means "use the default").
extern TGIFLZWDecompFunc DefGIF_LZWDECOMPFUNC;
extern TGIFLZWCompFunc DefGIF_LZWCOMPFUNC;
extern TTIFFLZWDecompFunc DefTIFF_LZWDECOMPFUNC;
extern TTIFFLZWCompFunc DefTIFF_LZWCOMPFUNC;

}  // namespace pravik
