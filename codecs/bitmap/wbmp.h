// Wireless bitmaps (WBMP type 0): a header of multi-byte integers, then rows
// of bits, 1 white, the same as ie1g.
#pragma once

namespace pravik {

class TStream;
class TIEBitmap;
class TIOParamsVals;
struct TProgressRec;

// Reads a type 0 file into an ie1g image. With preview only params are
// filled. Bad data: progress.Fail(reason).
void WBMPReadStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool preview, TProgressRec& progress);

// Writes type 0. Other pixel formats are reduced to two levels first; an
// image larger than 255 pixels either way is scaled down, keeping its aspect
// ratio, to fit 255 x 255. The caller's image is left as it is.
void WBMPWriteStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);

// The load frame's step: drops the buffer's alpha channel, then reads.
void WBMPFrameRead(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview);

}  // namespace pravik
