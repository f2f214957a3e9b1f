// PNG reader and writer over libpng 1.6. (Named png_codec.h so that it is
// never mistaken for libpng's own png.h.)
#pragma once

#include <stdexcept>

namespace pravik {

class TStream;
class TIEBitmap;
class TIEMask;
class TIOParamsVals;
struct TProgressRec;

// Raised by the writer when libpng refuses the image ("Error on creating PNG").
class EInvalidGraphic : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Decodes the PNG at the stream's position; transparency (an alpha channel or
// tRNS) goes to the bitmap's alpha channel. headerOnly fills the record only.
// Bad data: progress.Fail(reason), with the rows read so far kept.
void ReadPNGStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool headerOnly,
                   TProgressRec& progress);

// Writes a complete PNG; colour type and depth follow SAMPLESPERPIXEL and
// BITSPERSAMPLE. mask (8-bit, or null) is the alpha channel, used when it
// is not AllSet. Raises EInvalidGraphic when libpng refuses the image.
void WritePNGStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TIEMask* mask,
                    TProgressRec& progress);

// The PNG signature's first four bytes follow, with more than 8 bytes left.
// Reads from the stream's position and moves back.
bool IsPNGStream(TStream& stream);

// The load and save steps the front runs for PNG (codec table).
void PNGFrameRead(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview);
void PNGFrameWrite(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);

}  // namespace pravik
