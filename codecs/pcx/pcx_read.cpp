// PCX reader: a 128-byte header, scan lines with every colour plane of a row
// in turn (optionally run-length coded), and for 256-colour images a palette
// in the last 768 bytes.
#include <algorithm>
#include <cstring>
#include <vector>

#include "codecs/pcx/pcx.h"
#include "codecs/pcx/pcx_private.h"
#include "image/bitmap.h"
#include "imageio/limits.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/reader.h"
#include "imageio/stream.h"

namespace pravik {

namespace {

// How the plane lines of a row become pixels.
enum class PcxLayout {
  Mono,      // 1 plane of 1 bit: the bits are the ie1g row
  Indexed,   // up to 4 bits of index spread over the planes, into the header palette
  Palette8,  // 1 plane of 8 bits into the 256-colour palette
  RGB,       // 3 planes of 8 bits (a fourth plane, alpha, is dropped)
};

bool LayoutOf(int bits, int planes, PcxLayout& layout) {
  if (planes < 1) return false;
  if (bits == 1 && planes == 1) layout = PcxLayout::Mono;
  else if (bits == 8 && planes == 1) layout = PcxLayout::Palette8;
  else if (bits == 8 && (planes == 3 || planes == 4)) layout = PcxLayout::RGB;
  else if ((bits == 1 || bits == 2 || bits == 4) && bits * planes <= 4) layout = PcxLayout::Indexed;
  else return false;
  return true;
}

// Decodes plane lines from the image data in memory. A run that reaches past
// the end of a line is cut there and its rest starts the next line.
class PcxLineDecoder {
 public:
  PcxLineDecoder(const std::uint8_t* data, std::size_t size, bool rle) : p_(data), end_(data + size), rle_(rle) {}

  // Fills n bytes; false when the data ended first (the rest is then 0).
  bool Line(std::uint8_t* dst, std::size_t n) {
    if (!rle_) {
      const std::size_t k = std::min(n, static_cast<std::size_t>(end_ - p_));
      std::memcpy(dst, p_, k);
      p_ += k;
      if (k == n) return true;
      std::memset(dst + k, 0, n - k);
      return false;
    }
    std::size_t done = 0;
    while (done < n) {
      if (runLeft_ > 0) {
        const std::size_t k = std::min<std::size_t>(runLeft_, n - done);
        std::memset(dst + done, runValue_, k);
        done += k;
        runLeft_ -= static_cast<unsigned>(k);
        continue;
      }
      // Literal bytes are the common case: copy them without the run logic,
      // eight at a time while none of the eight is a run header.
      {
        const std::size_t span = std::min(n - done, static_cast<std::size_t>(end_ - p_));
        const std::uint8_t* s = p_;
        const std::uint8_t* const stop = p_ + span;
        std::uint8_t* d = dst + done;
        while (stop - s >= 8) {
          std::uint64_t w;
          std::memcpy(&w, s, 8);
          if ((w & (w << 1) & 0x8080808080808080ull) != 0) break;  // a byte of 0xC0 or more
          std::memcpy(d, s, 8);
          s += 8;
          d += 8;
        }
        while (s < stop && *s < 0xC0) *d++ = *s++;
        done += static_cast<std::size_t>(s - p_);
        p_ = s;
      }
      if (done == n) break;
      if (end_ - p_ < 2) {
        p_ = end_;
        std::memset(dst + done, 0, n - done);
        return false;
      }
      runLeft_ = p_[0] & 0x3Fu;
      runValue_ = p_[1];
      p_ += 2;
    }
    return true;
  }

 private:
  const std::uint8_t* p_;
  const std::uint8_t* end_;
  bool rle_;
  unsigned runLeft_ = 0;
  std::uint8_t runValue_ = 0;
};

// Index of pixel x in a line of `bits`-bit values, leftmost in the high bits.
inline unsigned PackedValue(const std::uint8_t* line, int x, int bits) {
  const int bit = x * bits;
  return (line[bit >> 3] >> (8 - bits - (bit & 7))) & ((1u << bits) - 1);
}

}  // namespace

void ReadPcxStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& IOParams, std::int64_t DataSize,
                   TProgressRec& Progress, bool Preview) {
  const std::int64_t start = Stream.GetPosition();
  const std::int64_t available = Stream.GetSize() - start;
  if (start < 0 || available < kPcxHeaderSize || DataSize < kPcxHeaderSize)
    return Progress.Fail("truncated PCX header");
  DataSize = std::min(DataSize, available);

  TIEReader r(Stream, DataSize, TIEReader::DefaultBufferSize);
  PcxHeader h;
  if (!ReadPcxHeader(r, h)) return Progress.Fail("truncated PCX header");
  if (h.Manufacturer != 10 || h.BitsPerPixel > 8 || h.Encoding > 1) return Progress.Fail("not a PCX file");

  // Right left of left (or bottom above top) is a broken header, not an empty image.
  const int width = int(h.XMax) - int(h.XMin) + 1;
  const int height = int(h.YMax) - int(h.YMin) + 1;
  if (width < 1 || height < 1) return Progress.Fail("bad PCX image size");
  // Layouts this reader does not decode are still described in preview.
  PcxLayout layout = PcxLayout::RGB;
  const bool decodable = LayoutOf(h.BitsPerPixel, h.Planes, layout);

  // The 256-colour palette: the last 768 bytes. Without room for one after
  // the header the file can only be grey.
  TRGB palette256[256];
  std::int64_t dataEnd = DataSize;  // offset from start where the scan lines end
  if (layout == PcxLayout::Palette8) {
    if (DataSize >= kPcxHeaderSize + 768) {
      dataEnd = DataSize - 768;
      r.SeekOffset(dataEnd);
      for (TRGB& c : palette256) {
        c.r = r.U8();
        c.g = r.U8();
        c.b = r.U8();
      }
      // The marker byte before the palette is not image data.
      if (dataEnd > kPcxHeaderSize) {
        r.SeekOffset(dataEnd - 1);
        if (r.U8() == 0x0C) --dataEnd;
      }
      r.SeekOffset(kPcxHeaderSize);
      if (r.Failed()) return Progress.Fail("truncated PCX palette");
    } else {
      for (int i = 0; i < 256; ++i) palette256[i] = CreateRGB(std::uint8_t(i), std::uint8_t(i), std::uint8_t(i));
    }
  }

  if (h.HRes == 0 || h.VRes == 0) {
    IOParams.SetDpiX(gDefaultDPIX);
    IOParams.SetDpiY(gDefaultDPIY);
  } else {
    IOParams.SetDpiX(h.HRes);
    IOParams.SetDpiY(h.VRes);
  }
  IOParams.BITSPERSAMPLE = h.BitsPerPixel;
  IOParams.SAMPLESPERPIXEL = h.Planes;
  IOParams.WIDTH = width;
  IOParams.HEIGHT = height;
  IOParams.ORIGINALWIDTH = width;
  IOParams.ORIGINALHEIGHT = height;
  IOParams.PCX_VERSION = h.Version;
  IOParams.FreeColorMap();
  if (layout == PcxLayout::Palette8) {
    IOParams.SetColorMap(palette256, 256);
  } else if (decodable && layout != PcxLayout::RGB) {
    const int bits = h.BitsPerPixel * h.Planes;
    if (h.Planes > 1) {
      // Planar colour (EGA and the like) is a palette image of that many bits.
      IOParams.BITSPERSAMPLE = bits == 1 ? 1 : 4;
      IOParams.SAMPLESPERPIXEL = 1;
    }
    IOParams.SetColorMap(h.Palette, 1 << bits);
  }
  if (Preview) return;

  if (!decodable) return Progress.Fail("unsupported PCX depth");
  // A plane line must hold the row; shorter lines mean a broken header.
  if (std::int64_t(h.BytesPerLine) * 8 < std::int64_t(width) * h.BitsPerPixel)
    return Progress.Fail("PCX line shorter than the image width");

  if (!IEImageSizeAllowed(width, height, layout == PcxLayout::Mono ? 1 : 24))
    return Progress.Fail("PCX image too large");
  // A cut file loads what it holds, but a header that claims a huge image
  // over a few bytes is refused before the image is allocated: the data must
  // hold a fair part of the shortest coding of the claimed lines.
  const std::int64_t lineBytes = std::int64_t(height) * h.Planes * h.BytesPerLine;
  const std::int64_t shortest = h.Encoding == 1 ? (lineBytes + 62) / 63 * 2 : lineBytes;
  if ((dataEnd - kPcxHeaderSize) * 16 < shortest) return Progress.Fail("PCX data far too short for the image size");
  Bitmap.ForceReallocate = true;
  if (!Bitmap.Allocate(width, height, layout == PcxLayout::Mono ? ie1g : ie24RGB))
    return Progress.Fail("not enough memory for the PCX image");

  // All scan lines are decoded from memory, read in one go.
  std::vector<std::uint8_t> data;
  try {
    data.resize(static_cast<std::size_t>(dataEnd - kPcxHeaderSize));
  } catch (const std::bad_alloc&) {
    return Progress.Fail("not enough memory for the PCX data");
  }
  r.SeekOffset(kPcxHeaderSize);
  if (!r.Read(data.data(), static_cast<std::int64_t>(data.size()))) return Progress.Fail("truncated PCX data");

  const std::size_t bpl = h.BytesPerLine;
  std::vector<std::uint8_t> lines(bpl * h.Planes + 1, 0);
  PcxLineDecoder decoder(data.data(), data.size(), h.Encoding == 1);
  const TRGB* headerPalette = h.Palette;
  const int planeBits = h.BitsPerPixel;
  const int monoBytes = (width + 7) / 8;
  const auto monoMask = static_cast<std::uint8_t>(0xFF00 >> (((width - 1) & 7) + 1));
  bool complete = true;

  Progress.PerCentFactor = 100.0 / height;
  for (int y = 0; y < height; ++y) {
    Progress.ReportDone(y);
    if (Progress.Aborted()) return;
    for (int p = 0; p < h.Planes && complete; ++p) complete = decoder.Line(&lines[bpl * p], bpl);
    std::uint8_t* row = Bitmap.GetScanLine(y);
    switch (layout) {
      case PcxLayout::Mono:
        std::memcpy(row, lines.data(), static_cast<std::size_t>(monoBytes));
        row[monoBytes - 1] &= monoMask;  // no stray bits past the width
        break;
      case PcxLayout::Palette8: {
        auto* out = reinterpret_cast<TRGB*>(row);
        for (int x = 0; x < width; ++x) out[x] = palette256[lines[x]];
        break;
      }
      case PcxLayout::RGB: {
        const std::uint8_t* red = lines.data();
        const std::uint8_t* green = red + bpl;
        const std::uint8_t* blue = green + bpl;
        for (int x = 0; x < width; ++x) {
          row[3 * x] = blue[x];
          row[3 * x + 1] = green[x];
          row[3 * x + 2] = red[x];
        }
        break;
      }
      case PcxLayout::Indexed: {
        // Plane k supplies the k-th group of index bits (plane 0 the lowest).
        auto* out = reinterpret_cast<TRGB*>(row);
        for (int x = 0; x < width; ++x) {
          unsigned index = 0;
          for (int p = 0; p < h.Planes; ++p) index |= PackedValue(&lines[bpl * p], x, planeBits) << (p * planeBits);
          out[x] = headerPalette[index];
        }
        break;
      }
    }
    if (!complete) {
      // The rows below stay 0, as allocated.
      return Progress.Fail("truncated PCX data");
    }
  }
  Progress.ReportDone(height);
}

}  // namespace pravik
