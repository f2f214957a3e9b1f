// WBMP reader and writer (type 0: no extension headers, one bit per pixel).
#include "codecs/bitmap/wbmp.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "image/bitmap.h"
#include "image/convert.h"
#include "image/resample.h"
#include "imageio/limits.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/reader.h"
#include "imageio/stream.h"

namespace pravik {
namespace {

using u8 = std::uint8_t;
using i64 = std::int64_t;

// Multi-byte integers: 7 bits a byte, most significant group first, the top
// bit set on every byte but the last. Four bytes (28 bits) are the most we
// take; a longer one is refused rather than misread as the next field.
bool ReadMBI(TIEReader& r, std::uint32_t& value) {
  value = 0;
  for (int i = 0; i < 4; ++i) {
    if (r.AtEnd()) return false;
    const u8 b = r.U8();
    value = (value << 7) | (b & 0x7Fu);
    if ((b & 0x80) == 0) return true;
  }
  return false;
}

void WriteMBI(TIEWriter& out, std::uint32_t value) {
  u8 groups[5];
  int n = 0;
  do {
    groups[n++] = static_cast<u8>(value & 0x7F);
    value >>= 7;
  } while (value != 0);
  while (n > 1) out.U8(static_cast<u8>(groups[--n] | 0x80));
  out.U8(groups[0]);
}

// A file shorter than its rows still loads what it holds (the rest zero, the
// load reported as failed), but a few header bytes must not make us allocate
// far more than the file could ever fill.
bool WorthAllocating(i64 decodedBytes, i64 rasterBytes, i64 available) {
  constexpr i64 kAlwaysAllowed = i64(16) << 20;
  return available >= rasterBytes || decodedBytes <= kAlwaysAllowed || available >= decodedBytes / 16;
}

constexpr int kMaxSide = 255;

// The size an image is scaled down to: the longer side 255, the other in
// proportion (at least 1). Unchanged when both sides fit.
void FitSize(int width, int height, int& newWidth, int& newHeight) {
  newWidth = width;
  newHeight = height;
  if (width <= kMaxSide && height <= kMaxSide) return;
  if (width > height) {
    newWidth = kMaxSide;
    newHeight = static_cast<int>(std::max<i64>(1, i64(height) * kMaxSide / width));
  } else {
    newWidth = static_cast<int>(std::max<i64>(1, i64(width) * kMaxSide / height));
    newHeight = kMaxSide;
  }
}

}  // namespace

void WBMPReadStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool preview, TProgressRec& progress) {
  TIEReader r(stream);
  // The fixed header is one byte whose top bit announces extension headers;
  // read as a multi-byte integer, 0x80 0x00 would pass for 0.
  std::uint32_t type = 0, fixedHeader = 0, width = 0, height = 0;
  bool ok = ReadMBI(r, type) && !r.AtEnd();
  if (ok) fixedHeader = r.U8();
  if (!ok || !ReadMBI(r, width) || !ReadMBI(r, height)) return progress.Fail("bad WBMP header");
  if (type != 0 || fixedHeader != 0) return progress.Fail("unsupported WBMP type");
  if (width == 0 || height == 0) return progress.Fail("bad image size");

  params.BITSPERSAMPLE = 1;
  params.SAMPLESPERPIXEL = 1;
  params.WIDTH = params.ORIGINALWIDTH = static_cast<int>(width);
  params.HEIGHT = params.ORIGINALHEIGHT = static_cast<int>(height);
  params.SetDpiX(gDefaultDPIX);
  params.SetDpiY(gDefaultDPIY);
  params.FreeColorMap();
  if (preview) return;

  const i64 rowBytes = (i64(width) + 7) / 8;
  if (!IEImageSizeAllowed(width, height, 1)) return progress.Fail("image too large");
  if (!WorthAllocating(IEBitmapRowLen(width, 1, 32) * height, rowBytes * height, r.Remaining()))
    return progress.Fail("the file is too short for its image size");
  bitmap.FreeImage(true);  // a fresh, zero-filled buffer: rows not reached stay 0
  if (!bitmap.Allocate(static_cast<int>(width), static_cast<int>(height), ie1g))
    return progress.Fail("not enough memory for the image");

  progress.PerCentFactor = 100.0 / height;
  for (int y = 0; y < static_cast<int>(height); ++y) {
    u8* row = bitmap.GetScanLine(y);
    const i64 got = r.ReadSome(row, rowBytes);
    if (got < rowBytes) {
      std::memset(row + got, 0, static_cast<std::size_t>(rowBytes - got));
      return progress.Fail("truncated data");
    }
    progress.ReportDone(y + 1);
    if (progress.Aborted()) return;
  }
}

void WBMPFrameRead(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview) {
  if (!preview) bitmap.RemoveAlphaChannel();
  WBMPReadStream(stream, bitmap, params, preview, progress);
}

void WBMPWriteStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  if (bitmap.IsEmpty()) return progress.Fail("there is no image to save");
  int width, height;
  FitSize(bitmap.GetWidth(), bitmap.GetHeight(), width, height);
  const bool scale = width != bitmap.GetWidth() || height != bitmap.GetHeight();
  const bool twoLevel = bitmap.GetPixelFormat() == ie1g;

  // The rows written come from an ie1g image: the caller's own when it is one
  // and fits, otherwise a working copy.
  TIEBitmap* image = &bitmap;
  TIEBitmap small, bw;
  bw.DefaultDitherMethod = bitmap.DefaultDitherMethod;
  if (scale) {
    // Scaled as a whole picture (box average), then reduced to two levels: a
    // two-level source by majority, a colour one by the usual conversion.
    TIEBitmap rgb;
    TIEBitmap* colour = &bitmap;
    if (!twoLevel && bitmap.GetPixelFormat() != ie24RGB) {
      if (!rgb.Allocate(bitmap.GetWidth(), bitmap.GetHeight(), ie24RGB))
        return progress.Fail("not enough memory for the image");
      rgb.CopyAndConvertFormat(bitmap);
      colour = &rgb;
    }
    if (!small.Allocate(width, height, ie24RGB)) return progress.Fail("not enough memory for the image");
    if (twoLevel) {
      _IEResampleIEBitmap(bitmap, small, rfFastLinear);
      _ConvertToBWThresholdEx(small, bw, 128);
    } else {
      _ResampleEx(*colour, small, rfFastLinear);  // leaves the caller's alpha channel alone
      if (bw.Allocate(width, height, ie1g)) bw.CopyAndConvertFormat(small);
    }
    image = &bw;
  } else if (!twoLevel) {
    if (bw.Allocate(width, height, ie1g)) bw.CopyAndConvertFormat(bitmap);
    image = &bw;
  }
  if (image->IsEmpty() || image->GetPixelFormat() != ie1g) return progress.Fail("not enough memory for the image");

  bool localAbort = false;
  bool& abortFlag = progress.AbortFlag != nullptr ? *progress.AbortFlag : localAbort;
  TIEWriter out(stream, abortFlag);
  WriteMBI(out, 0);  // type 0
  WriteMBI(out, 0);  // fixed header: no extension headers
  WriteMBI(out, static_cast<std::uint32_t>(width));
  WriteMBI(out, static_cast<std::uint32_t>(height));
  const i64 rowBytes = (i64(width) + 7) / 8;
  progress.PerCentFactor = 100.0 / height;
  for (int y = 0; y < height; ++y) {
    out.Write(image->GetScanLine(y), rowBytes);
    progress.ReportDone(y + 1);
    if (abortFlag) break;  // a failed write or the user's stop
  }
}

}  // namespace pravik
