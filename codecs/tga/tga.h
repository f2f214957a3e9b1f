// Truevision TGA (Targa) reader and writer.
#pragma once

#include <memory>

namespace pravik {

class TStream;
class TIEBitmap;
class TIEMask;
class TIOParamsVals;
struct TProgressRec;

// Content test: an 18-byte header of a kind this reader decodes, with its
// identification field and colour map inside the stream. The position is kept.
bool TryTGA(TStream& Stream);

// Reads the image at the current position. Preview fills the parameters
// only. Unless IgnoreAlpha, the alpha of 32-bit pixels, of grey-and-alpha
// pixels and of 32-bit colour maps goes into AlphaMask (created when null;
// reset to null when every alpha value is 0). Bad data: Progress.Fail.
void ReadTGAStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& IOParams, TProgressRec& Progress, bool Preview,
                   std::unique_ptr<TIEMask>& AlphaMask, bool IgnoreAlpha);
// Writes an ie24RGB or ie1g image at the depth the parameters ask for; with an
// AlphaMask that is not AllSet the file is 32-bit.
void WriteTGAStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& IOParams, TProgressRec& Progress,
                    const TIEMask* AlphaMask);

// The format-specific parts of the load and save frames (codec table slots).
void IETGALoad(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview);
void IETGASave(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);

}  // namespace pravik
