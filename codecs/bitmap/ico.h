// Windows icon (.ico) reader and writer, cursor (.cur) reader.
#pragma once

#include <cstdint>
#include <memory>

#include "imageio/params.h"

namespace pravik {

class TStream;
class TIEBitmap;
class TIEMask;
struct TProgressRec;

// Content tests: an icon (type 1) or cursor (type 2) directory whose entries
// look sound. The stream position is restored.
bool ICOTryStream(TStream& stream);
bool CURTryStream(TStream& stream);

// Number of entries in the directory at the stream's position (position kept);
// 0 when there is no directory.
int _EnumICOImStream(TStream& stream);

// Loads the entry ICO_IMAGEINDEX (CUR_IMAGEINDEX) into bitmap; the icon
// reader also lists the directory in ICO_SIZES and ICO_BITCOUNT. alphaMask
// receives the transparency unless ignoreAlpha. Bad data: progress.Fail.
void ICOReadStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool preview, TProgressRec& progress,
                   std::unique_ptr<TIEMask>& alphaMask, bool ignoreAlpha);
void CURReadStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool preview, TProgressRec& progress,
                   std::unique_ptr<TIEMask>& alphaMask, bool ignoreAlpha);

// Writes an icon with one entry per size, each resampled from bitmap and
// reduced to bitCounts[i] bits (0: from the record's depth).
void ICOWriteStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress,
                    const TIOICOSize* sizes, const std::int32_t* bitCounts, int count);

// The load and save steps the front runs for ICO and CUR (codec table).
void ICOFrameRead(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview);
void CURFrameRead(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview);
void ICOFrameWrite(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);

}  // namespace pravik
