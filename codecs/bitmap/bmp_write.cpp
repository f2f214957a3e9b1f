// Windows bitmap writer: the depth follows the record (what the source's
// reader left there), palettes come from the quantizer, 4- and 8-bit images
// may be run-length coded.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "codecs/bitmap/bmp.h"
#include "codecs/bitmap/bmp_common.h"
#include "codecs/bitmap/bmp_rle.h"
#include "image/bitmap.h"
#include "image/convert.h"
#include "image/quantize.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/reader.h"
#include "imageio/stream.h"

namespace pravik {

namespace {

struct THeaderFields {
  TIOBMPVersion Version;
  int Width, Height, BitCount;
  std::uint32_t Compression, ImageSize, FileSize, PixelOffset, ColoursUsed;
  std::int32_t PPMX, PPMY;
};

int HeaderSize(TIOBMPVersion v) { return v == ioBMP_BMOS2V1 ? 12 : v == ioBMP_BMOS2V2 ? 64 : 40; }

void WriteHeaders(TIEWriter& w, const THeaderFields& f) {
  w.U8('B');
  w.U8('M');
  w.U32LE(f.FileSize);
  w.U32LE(0);
  w.U32LE(f.PixelOffset);
  if (f.Version == ioBMP_BMOS2V1) {
    w.U32LE(12);
    w.U16LE(static_cast<std::uint16_t>(f.Width));
    w.U16LE(static_cast<std::uint16_t>(f.Height));
    w.U16LE(1);
    w.U16LE(static_cast<std::uint16_t>(f.BitCount));
    return;
  }
  const int size = HeaderSize(f.Version);
  w.U32LE(static_cast<std::uint32_t>(size));
  w.U32LE(static_cast<std::uint32_t>(f.Width));
  w.U32LE(static_cast<std::uint32_t>(f.Height));  // positive: bottom-up
  w.U16LE(1);
  w.U16LE(static_cast<std::uint16_t>(f.BitCount));
  w.U32LE(f.Compression);
  w.U32LE(f.ImageSize);
  w.U32LE(static_cast<std::uint32_t>(f.PPMX));
  w.U32LE(static_cast<std::uint32_t>(f.PPMY));
  w.U32LE(f.ColoursUsed);
  w.U32LE(f.ColoursUsed);
  w.Fill(0, size - 40);
}

// The largest palette index of an ie8p image.
int MaxIndex(TIEBitmap& bitmap) {
  int m = 0;
  for (int y = 0; y < bitmap.GetHeight() && m < 255; ++y) {
    const std::uint8_t* row = bitmap.GetScanLine(y);
    m = std::max<int>(m, *std::max_element(row, row + bitmap.GetWidth()));
  }
  return m;
}

}  // namespace

void BMPWriteStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress,
                    bool saveAlpha) {
  if (bitmap.IsEmpty()) return progress.Fail("there is no image to save");
  const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
  int depth;
  if (params.BITSPERSAMPLE == 1) depth = 1;
  else if (params.BITSPERSAMPLE == 4) depth = 4;
  else if (params.SAMPLESPERPIXEL == 1) depth = 8;
  else depth = bitmap.GetHasAlphaChannel() ? 32 : 24;
  const TIOBMPVersion version = params.BMP_VERSION <= ioBMP_BMOS2V2 ? params.BMP_VERSION : ioBMP_BM;
  const bool core = version == ioBMP_BMOS2V1;
  if (core && (width > 0xFFFF || height > 0xFFFF)) return progress.Fail("image too large for an OS/2 1.x bitmap");
  const bool rle = !core && params.BMP_COMPRESSION == ioBMP_RLE && (depth == 4 || depth == 8);

  // ---- the pixels to write and their palette -------------------------------------
  TIEBitmap scratch;
  TIEBitmap* source = &bitmap;
  std::vector<TRGB> palette;
  std::unique_ptr<TIEQuantizer> quantizer;
  std::unique_ptr<TIEBitmap> twoLevel;
  if (depth == 4 || depth == 8) {
    const bool keepIndexes = bitmap.GetPixelFormat() == ie8p && (depth == 8 || MaxIndex(bitmap) < 16);
    if (!keepIndexes && bitmap.GetPixelFormat() != ie24RGB) {
      BMPConvertedCopy(bitmap, scratch, ie24RGB);
      source = &scratch;
    }
    palette.assign(std::size_t(1) << depth, TRGB{});
    quantizer = std::make_unique<TIEQuantizer>(*source, palette.data(), 255, 1 << depth);
  } else if (depth == 1) {
    palette = {TRGB{0, 0, 0}, TRGB{255, 255, 255}};
    if (bitmap.GetPixelFormat() != ie1g) {
      TRGB dark, light;
      twoLevel = IETwoLevelCopy(bitmap, dark, light);
      if (!twoLevel) return progress.Fail("not enough memory to convert the image");
      palette = {dark, light};
      source = twoLevel.get();
    }
  } else if (bitmap.GetPixelFormat() != ie24RGB) {
    BMPConvertedCopy(bitmap, scratch, ie24RGB);
    source = &scratch;
  }
  if (source->IsEmpty()) return progress.Fail("not enough memory to convert the image");
  if (depth <= 8) params.SetColorMap(palette.data(), static_cast<int>(palette.size()));
  TIEBitmap* alpha = depth == 32 && saveAlpha && bitmap.GetHasAlphaChannel() ? bitmap.GetAlphaChannel() : nullptr;

  // ---- headers and palette -----------------------------------------------------------
  bool localAbort = false;
  bool& abortFlag = progress.AbortFlag != nullptr ? *progress.AbortFlag : localAbort;
  TIEWriter w(stream, abortFlag);
  const std::int64_t start = w.Position();
  THeaderFields f{version,
                  width,
                  height,
                  0,
                  rle ? (depth == 4 ? 2u : 1u) : 0u,
                  0,
                  0,
                  0,
                  depth <= 8 ? (1u << depth) : 0u,
                  BMPPPMFromDpi(params.DPIX()),
                  BMPPPMFromDpi(params.DPIY())};
  WriteHeaders(w, f);
  for (const TRGB& c : palette) {
    w.U8(c.b);
    w.U8(c.g);
    w.U8(c.r);
    if (!core) w.U8(0);
  }
  const std::int64_t pixelStart = w.Position();

  // ---- rows, bottom first ---------------------------------------------------------------
  const std::int64_t rowBytes = IEBitmapRowLen(width, depth, 32);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(rowBytes));
  std::vector<std::uint8_t> indexes(depth == 4 || depth == 8 ? static_cast<std::size_t>(width) : 0);
  std::vector<std::uint8_t> coded;
  const bool indexSource = source->GetPixelFormat() == ie8p;
  progress.PerCentFactor = 100.0 / height;
  bool stopped = false;
  for (int y = height - 1; y >= 0; --y) {
    progress.ReportDone(height - 1 - y);
    if (abortFlag) {
      stopped = true;
      break;
    }
    const std::uint8_t* src = source->GetScanLine(y);
    switch (depth) {
      case 24:
        std::memcpy(row.data(), src, std::size_t(width) * 3);
        break;
      case 32: {
        const std::uint8_t* a = alpha != nullptr ? alpha->GetScanLine(y) : nullptr;
        for (int x = 0; x < width; ++x) {
          std::memcpy(&row[4 * std::size_t(x)], src + 3 * std::size_t(x), 3);
          row[4 * std::size_t(x) + 3] = a != nullptr ? a[x] : 255;
        }
        break;
      }
      case 1: {
        const std::size_t bytes = (std::size_t(width) + 7) / 8;
        std::memcpy(row.data(), src, bytes);
        if (width & 7) row[bytes - 1] &= static_cast<std::uint8_t>(0xFF00 >> (width & 7));
        break;
      }
      default: {  // 4 and 8 bits
        if (indexSource) {
          std::memcpy(indexes.data(), src, indexes.size());
        } else {
          const auto* px = reinterpret_cast<const TRGB*>(src);
          for (int x = 0; x < width; ++x) indexes[x] = static_cast<std::uint8_t>(quantizer->GetRGBIndex(px[x]));
        }
        if (rle) {
          coded.clear();
          if (depth == 8) BMPEncodeRLE8Row(indexes.data(), width, coded);
          else BMPEncodeRLE4Row(indexes.data(), width, coded);
          w.Write(coded.data(), static_cast<std::int64_t>(coded.size()));
          continue;
        }
        if (depth == 8) {
          std::memcpy(row.data(), indexes.data(), indexes.size());
        } else {
          std::fill(row.begin(), row.end(), 0);
          for (int x = 0; x < width; ++x)
            row[x >> 1] |= static_cast<std::uint8_t>((indexes[x] & 15) << ((x & 1) ? 0 : 4));
        }
        break;
      }
    }
    w.Write(row.data(), rowBytes);
  }
  if (rle && !stopped) {
    w.U8(0);
    w.U8(1);
  }
  if (stopped || abortFlag) return;

  const std::int64_t end = w.Position();
  f.BitCount = depth;
  f.FileSize = static_cast<std::uint32_t>(std::min<std::int64_t>(end - start, 0xFFFFFFFF));
  f.PixelOffset = static_cast<std::uint32_t>(pixelStart - start);
  f.ImageSize = static_cast<std::uint32_t>(std::min<std::int64_t>(end - pixelStart, 0xFFFFFFFF));
  w.Seek(start);
  WriteHeaders(w, f);
  w.Seek(end);
}

void BMPFrameWrite(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  BMPWriteStream(stream, bitmap, params, progress, params.BMP_HANDLETRANSPARENCY);
}

}  // namespace pravik
