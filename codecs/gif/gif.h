// GIF (87a and 89a) reader and writer: one image of a file, or the
// composition of an animation's frames up to the selected one.
#pragma once

#include <memory>

namespace pravik {

class TStream;
class TIEBitmap;
class TIEMask;
class TIOParamsVals;
struct TProgressRec;

// Walks the whole file from the stream's position, decodes the image at
// GIF_IMAGEINDEX into bitmap and fills the GIF fields of the record.
// imageCount receives the number of images in the file. The image's
// transparent pixels come back as alphaMask (0 transparent, 255 opaque; null
// when every pixel is opaque) unless ignoreAlpha. preview: the record only.
// Bad data: progress.Fail(reason).
void ReadGIFStream(TStream& stream, TIEBitmap& bitmap, int& imageCount, TIOParamsVals& params,
                   TProgressRec& progress, bool preview, std::unique_ptr<TIEMask>& alphaMask, bool ignoreAlpha);

// Writes bitmap as a one-image GIF file: a palette of at most 2^BITSPERSAMPLE
// colours, pixels with alpha below 128 transparent, then the graphic control
// extension, the image (interlaced when GIF_INTERLACED) and the comments.
// Sets GIF_TRANSPARENT when it writes transparent pixels.
void WriteGIFStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);

// The load and save steps the front runs for GIF (codec table). A file with
// several images loads as frames 0 to GIF_IMAGEINDEX composed on the logical
// screen, transparent where no frame has drawn.
void GIFFrameRead(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview);
void GIFFrameWrite(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);

}  // namespace pravik
