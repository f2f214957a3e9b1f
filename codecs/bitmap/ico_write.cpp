// Windows icon writer: one entry per requested size, resampled from the full
// image and reduced to the entry's depth, each with an AND mask that matches
// its transparency.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "codecs/bitmap/bmp_common.h"
#include "codecs/bitmap/ico.h"
#include "image/bitmap.h"
#include "image/quantize.h"
#include "image/resample.h"
#include "imageio/progress.h"
#include "imageio/reader.h"
#include "imageio/stream.h"

namespace pravik {

namespace {

struct TEntryInfo {
  int Width = 0, Height = 0, Bits = 0;
  std::uint32_t Offset = 0, Size = 0;
};

int EntryDepth(std::int32_t requested, const TIOParamsVals& params) {
  switch (requested) {
    case 1: case 4: case 8: case 32:
      return requested;
    case 0: {
      const int spp = params.SAMPLESPERPIXEL, bps = params.BITSPERSAMPLE;
      if (spp == 3 && bps == 8) return 24;
      if (spp == 4 && bps == 8) return 32;
      if (spp == 1 && bps == 1) return 1;
      if (spp == 1 && bps == 4) return 4;
      return 8;
    }
    default:
      return 24;
  }
}

// Writes one entry (header, palette, XOR bitmap, AND mask) of image, which
// is already at the entry's size.
void WriteEntry(TIEWriter& w, TIEBitmap& image, int bits, const TIOParamsVals& params, std::vector<TRGB>& lastPalette) {
  const int width = image.GetWidth(), height = image.GetHeight();
  // Transparency first: the pixel-format change below does not keep alpha.
  std::vector<std::uint8_t> clear;  // 1 where the pixel is (partly) transparent
  std::vector<std::uint8_t> alpha;
  if (image.GetHasAlphaChannel()) {
    TIEBitmap* a = image.GetAlphaChannel();
    clear.resize(std::size_t(width) * height);
    alpha.resize(clear.size());
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* row = a->GetScanLine(y);
      for (int x = 0; x < width; ++x) {
        alpha[std::size_t(y) * width + x] = row[x];
        clear[std::size_t(y) * width + x] = row[x] < 255;
      }
    }
  }
  auto isClear = [&](int x, int y) { return !clear.empty() && clear[std::size_t(y) * width + x] != 0; };
  const TIEPixelFormat wanted = bits == 1 ? ie1g : ie24RGB;
  if (image.GetPixelFormat() != wanted) image.ConvertToPixelFormat(wanted);

  const std::int64_t xorRow = IEBitmapRowLen(width, bits, 32);
  const std::int64_t andRow = IEBitmapRowLen(width, 1, 32);
  w.U32LE(40);
  w.U32LE(static_cast<std::uint32_t>(width));
  w.U32LE(static_cast<std::uint32_t>(height * 2));
  w.U16LE(1);
  w.U16LE(static_cast<std::uint16_t>(bits));
  w.U32LE(0);
  w.U32LE(bits <= 8 ? static_cast<std::uint32_t>(xorRow * height + std::int64_t(width) * height / 8) : 0u);
  w.U32LE(static_cast<std::uint32_t>(BMPPPMFromDpi(params.DPIX())));
  w.U32LE(static_cast<std::uint32_t>(BMPPPMFromDpi(params.DPIY())));
  w.U32LE(0);
  w.U32LE(0);

  // Palette entries: blue, green, red, 0.
  const auto putEntry = [&w](TRGB c) {
    w.U8(c.b);
    w.U8(c.g);
    w.U8(c.r);
    w.U8(0);
  };
  std::vector<std::uint8_t> row(static_cast<std::size_t>(xorRow));
  if (bits == 1) {
    for (TRGB c : {TRGB{0, 0, 0}, TRGB{255, 255, 255}}) putEntry(c);
    for (int y = height - 1; y >= 0; --y) {
      std::fill(row.begin(), row.end(), 0);
      std::memcpy(row.data(), image.GetScanLine(y), (std::size_t(width) + 7) / 8);
      for (int x = 0; x < width; ++x)  // black under the mask: transparent, not inverting
        if (isClear(x, y)) row[x >> 3] &= static_cast<std::uint8_t>(~(0x80 >> (x & 7)));
      if (width & 7) row[(width - 1) >> 3] &= static_cast<std::uint8_t>(0xFF00 >> (width & 7));
      w.Write(row.data(), xorRow);
    }
  } else if (bits == 4 || bits == 8) {
    const int n = bits == 8 ? 255 : 15;
    std::vector<TRGB> palette(static_cast<std::size_t>(n));
    TIEQuantizer q(image, palette.data(), 255, n);
    lastPalette = palette;
    // Entry 0 is black and marks the transparent pixels.
    w.Fill(0, 4);
    for (const TRGB& c : palette) putEntry(c);
    for (int y = height - 1; y >= 0; --y) {
      std::fill(row.begin(), row.end(), 0);
      const auto* px = reinterpret_cast<const TRGB*>(image.GetScanLine(y));
      for (int x = 0; x < width; ++x) {
        const int v = isClear(x, y) ? 0 : q.GetRGBIndex(px[x]) + 1;
        if (bits == 8) row[x] = static_cast<std::uint8_t>(v);
        else row[x >> 1] |= static_cast<std::uint8_t>(v << ((x & 1) ? 0 : 4));
      }
      w.Write(row.data(), xorRow);
    }
  } else {
    for (int y = height - 1; y >= 0; --y) {
      const auto* px = reinterpret_cast<const TRGB*>(image.GetScanLine(y));
      for (int x = 0; x < width; ++x) {
        std::uint8_t* d = row.data() + std::size_t(x) * (bits / 8);
        if (bits == 32) {
          std::memcpy(d, &px[x], 3);
          d[3] = alpha.empty() ? 255 : alpha[std::size_t(y) * width + x];
        } else if (isClear(x, y)) {
          std::memset(d, 0, 3);  // black under the mask: the screen shows through
        } else {
          std::memcpy(d, &px[x], 3);
        }
      }
      w.Write(row.data(), xorRow);
    }
  }
  // AND mask: 1 where the pixel is transparent.
  std::vector<std::uint8_t> mask(static_cast<std::size_t>(andRow));
  for (int y = height - 1; y >= 0; --y) {
    std::fill(mask.begin(), mask.end(), 0);
    for (int x = 0; x < width; ++x)
      if (isClear(x, y)) mask[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
    w.Write(mask.data(), andRow);
  }
}

}  // namespace

void ICOWriteStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress,
                    const TIOICOSize* sizes, const std::int32_t* bitCounts, int count) {
  if (bitmap.IsEmpty()) return progress.Fail("there is no image to save");
  count = std::clamp(count, 0, IEMaxICOImages);
  // The directory stores each side in one byte (0 meaning 256).
  for (int i = 0; i < count; ++i)
    if (sizes[i].Width < 1 || sizes[i].Width > 256 || sizes[i].Height < 1 || sizes[i].Height > 256)
      return progress.Fail("icon sizes must be 1 to 256 pixels");

  bool localAbort = false;
  bool& abortFlag = progress.AbortFlag != nullptr ? *progress.AbortFlag : localAbort;
  TIEWriter w(stream, abortFlag);
  const std::int64_t start = w.Position();
  w.U16LE(0);
  w.U16LE(1);
  w.U16LE(static_cast<std::uint16_t>(count));
  w.Fill(0, std::int64_t(count) * 16);
  progress.PerCentFactor = count > 0 ? 100.0 / count : 0.0;
  params.FreeColorMap();
  if (bitmap.GetPixelFormat() != ie24RGB) {
    params.BITSPERSAMPLE = 1;
    params.SAMPLESPERPIXEL = 1;
  }

  std::vector<TEntryInfo> entries(static_cast<std::size_t>(count));
  std::vector<TRGB> lastPalette;
  for (int i = 0; i < count; ++i) {
    progress.ReportDone(i);
    if (abortFlag) return;
    TIEBitmap scratch;
    scratch.Assign(bitmap);
    TImageProc proc;
    proc.SetAttachedIEBitmap(&scratch);
    proc.Resample(sizes[i].Width, sizes[i].Height, bitmap.GetPixelFormat() == ie1g ? rfNone : rfFastLinear);
    if (scratch.GetWidth() != sizes[i].Width || scratch.GetHeight() != sizes[i].Height)
      return progress.Fail("not enough memory to resample the icon");
    TEntryInfo& e = entries[static_cast<std::size_t>(i)];
    e.Width = sizes[i].Width;
    e.Height = sizes[i].Height;
    e.Bits = EntryDepth(bitCounts[i], params);
    e.Offset = static_cast<std::uint32_t>(w.Position() - start);
    WriteEntry(w, scratch, e.Bits, params, lastPalette);
    e.Size = static_cast<std::uint32_t>(w.Position() - start - e.Offset);
  }
  if (abortFlag) return;
  if (!lastPalette.empty()) params.SetColorMap(lastPalette.data(), static_cast<int>(lastPalette.size()));

  const std::int64_t end = w.Position();
  w.Seek(start + 6);
  for (const TEntryInfo& e : entries) {
    const bool paletted = e.Bits <= 8;
    w.U8(static_cast<std::uint8_t>(e.Width));
    w.U8(static_cast<std::uint8_t>(e.Height));
    w.U8(paletted ? static_cast<std::uint8_t>(std::min(1 << e.Bits, 255)) : 0);
    w.U8(0);
    w.U16LE(paletted ? 0 : 1);
    w.U16LE(paletted ? 0 : static_cast<std::uint16_t>(e.Bits));
    w.U32LE(e.Size);
    w.U32LE(e.Offset);
  }
  w.Seek(end);
}

void ICOFrameWrite(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  int count = 0;
  while (count < IEMaxICOImages && params.ICO_SIZES[count].Width > 0) ++count;
  ICOWriteStream(stream, bitmap, params, progress, params.ICO_SIZES.data(), params.ICO_BITCOUNT.data(), count);
}

}  // namespace pravik
