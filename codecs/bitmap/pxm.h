// Netpbm bitmaps, grey maps and colour maps: P1-P6 read, P4/P5/P6 written.
//
// Read as:
//   P1, P4                         ie1g
//   P2, P5                         ie24RGB grey (samples scaled to 0..255)
//   P3, P6                         ie24RGB (samples scaled to 0..255)
//   P5, P6 with maxval above 255   big-endian words: ie16g / ie48RGB with
//                                  ISNATIVEPIXELFORMAT (scaled to the full
//                                  0..65535 range), else ie24RGB as above
// Header comments go to PXM_COMMENTS and come back into the header on writing.
#pragma once

namespace pravik {

class TStream;
class TIEBitmap;
class TIOParamsVals;
struct TProgressRec;

// True when the stream holds a Netpbm header: after comments, "P1".."P6"
// followed by two integers above 0. Reads from the current position and
// moves back.
bool TryPXM(TStream& stream);

// Fills bitmap and params from a P1-P6 file. With preview only params are
// filled. Bad data: progress.Fail(reason).
void PXMReadStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool preview, TProgressRec& progress);

// Writes P4, P5 or P6, chosen from BITSPERSAMPLE, SAMPLESPERPIXEL and the
// pixel format:
//   BITSPERSAMPLE 1, SAMPLESPERPIXEL 1, or an ie1g image    P4
//   BITSPERSAMPLE 8, SAMPLESPERPIXEL 1                      P5, maxval 255
//   BITSPERSAMPLE 16, SAMPLESPERPIXEL 3, an ie24RGB image   P6, maxval 65535 (b * 257)
//   an ie48RGB image                                        P6, maxval 65535
//   anything else                                           P6, maxval 255
void PXMWriteStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);

// The load frame's step: drops the buffer's alpha channel, then reads.
void PXMFrameRead(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview);

}  // namespace pravik
