// Where the codecs plug into the front: one slot per format id with the
// reader and writer the load and save frames call. A slot whose reader or
// writer is null makes the front fail cleanly ("<name> support is not built").
//
// A codec lands by filling its slot in codec_table.cpp (and, when it owns a
// content test, the matching step of the detection table in the same file).
#pragma once

#include <cstdint>

#include "image/pixel.h"

namespace pravik {

class TStream;
class TIEBitmap;
class TIOParamsVals;
struct TProgressRec;

// The format-specific part of a load frame: preparation (e.g. dropping the
// buffer's alpha channel), the reader call, and finishing (e.g. moving a
// returned mask into the alpha channel). With preview set only the record is
// filled. Bad data: progress.Fail(reason).
using TIECodecReadProc = void (*)(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress,
                                  bool preview);
// The format-specific part of a save frame, after the front's conversion.
using TIECodecWriteProc = void (*)(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params,
                                   TProgressRec& progress);

// What the save frame does to the buffer before the writer runs (in place: the
// loaded image itself changes).
enum TIESaveConversion : std::uint8_t {
  iescNone = 0,       // the writer takes every pixel format
  iescTo24RGB = 1,    // to ie24RGB unless ie24RGB or ie1g
  iescTo24RGBor48 = 2,  // as iescTo24RGB, but ie48RGB is kept too
};

struct TIECodec {
  int FileType = 0;
  const char* Name = "";  // short name for messages ("BMP")
  TIECodecReadProc Read = nullptr;
  TIECodecWriteProc Write = nullptr;
  TIESaveConversion SaveConversion = iescNone;
};

// ---- magic-number content tests owned by the registry ----------------------------
// Each reads from the stream's current position and moves it back.
bool IETryTaggedJFIF(TStream& stream);   // "JFIF", 0 (tagged stream header)
bool IETryGIFSignature(TStream& stream);  // "GIF", more than 13 bytes
bool IETryTaggedPCX2(TStream& stream);   // "PCX2", 0
bool IETryPCXTag(TStream& stream);       // "PCX", 0
bool IETryBMPSignature(TStream& stream);  // "BM", more than 14 bytes
bool IETryPCXHeader(TStream& stream);    // 0x0A, version <= 5, encoding <= 1, 1/2/4/8 bits, more than 128 bytes
bool IETryTaggedTIFF(TStream& stream);   // "TIFF", 0
bool IETryAVI(TStream& stream);          // "RIFF" .... "AVI "

// The slot of a format id (ids outside 0..IEMaxFileType share an empty slot).
// Mutable so that tests can put a fake codec in; put the old one back.
TIECodec& IECodecFor(int fileType);

}  // namespace pravik
