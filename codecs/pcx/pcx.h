// PCX (PaintBrush) reader and writer, and one page of a multi-page DCX file.
#pragma once

#include <cstdint>

namespace pravik {

class TStream;
class TIEBitmap;
class TIOParamsVals;
struct TProgressRec;

// Reads one PCX image of DataSize bytes (header included) from the current
// position; an 8-bit palette is looked for in its last 768 bytes. Preview
// fills the parameters only. Bad data: Progress.Fail (rows decoded before stay).
void ReadPcxStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& IOParams, std::int64_t DataSize,
                   TProgressRec& Progress, bool Preview);
// Writes the image at 1, 4, 8 or 24 bits as BITSPERSAMPLE and SAMPLESPERPIXEL
// ask (other depths: 24), run-length coded unless PCX_COMPRESSION says not.
void WritePcxStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& IOParams, TProgressRec& Progress);

// DCX: the magic 987654321 and up to 1024 page offsets ended by 0.
bool IEDCXTryStream(TStream& Stream);
// Reads the page DCX_IMAGEINDEX (clamped to the pages there are).
void ReadDcxStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& IOParams, TProgressRec& Progress,
                   bool Preview);
// Writes a one-page DCX file holding the image as WritePcxStream writes it.
void WriteDcxStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& IOParams, TProgressRec& Progress);

// The format-specific parts of the load and save frames (codec table slots).
void IEPCXLoad(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview);
void IEPCXSave(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);
void IEDCXLoad(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview);
void IEDCXSave(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);

}  // namespace pravik
