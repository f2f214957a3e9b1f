// Windows bitmap (.bmp, .dib, .rle) reader and writer.
#pragma once

#include <cstdint>
#include <memory>

namespace pravik {

class TStream;
class TIEBitmap;
class TIEMask;
class TIOParamsVals;
struct TProgressRec;

// Reads one bitmap starting at the stream's position. dataSize: bytes that
// belong to the bitmap (0: unknown). preview: fill the record only.
// noFileHeader: the stream starts at the info header. alphaMask receives the
// alpha of 32-bit pixels (null when they carry none) unless ignoreAlpha; an
// alpha mask declared in the header is honoured whatever ignoreAlpha says.
// Bad data: progress.Fail(reason).
void BMPReadStream(TStream& stream, TIEBitmap& bitmap, std::int64_t dataSize, TIOParamsVals& params,
                   TProgressRec& progress, bool preview, bool noFileHeader, std::unique_ptr<TIEMask>& alphaMask,
                   bool ignoreAlpha);

// Writes one complete bitmap file at the stream's position; the depth,
// header layout and run-length coding follow the record. saveAlpha: 32-bit
// pixels carry the image's alpha instead of 255.
void BMPWriteStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress,
                    bool saveAlpha);

// The load and save steps the front runs for BMP (codec table).
void BMPFrameRead(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview);
void BMPFrameWrite(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);

}  // namespace pravik
