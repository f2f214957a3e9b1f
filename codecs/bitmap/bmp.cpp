// Windows bitmap reader: every info-header layout (12-byte core, 40, 64 and
// the later 52-124 byte ones), 1/4/8/16/24/32 bits, RLE4 and RLE8, bit fields.
#include "codecs/bitmap/bmp.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "codecs/bitmap/bmp_common.h"
#include "codecs/bitmap/bmp_rle.h"
#include "image/bitmap.h"
#include "image/mask.h"
#include "imageio/limits.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/reader.h"
#include "imageio/stream.h"

namespace pravik {

void BMPConvertedCopy(TIEBitmap& source, TIEBitmap& dest, TIEPixelFormat format) {
  dest.AssignImage(source);
  dest.ConvertToPixelFormat(format);
}

namespace {

std::uint32_t LE32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}
std::uint16_t LE16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

enum : std::uint32_t { kBI_RGB = 0, kBI_RLE8 = 1, kBI_RLE4 = 2, kBI_BITFIELDS = 3, kBI_ALPHABITFIELDS = 6 };

// One channel of a bit-field mask: value = ((pixel & mask) >> shift), kept to
// the lowest run of set bits and scaled to 8 bits (low bits 0 when shorter).
struct TBitField {
  std::uint32_t Mask = 0;
  int Shift = 0, Bits = 0;
  explicit TBitField(std::uint32_t mask = 0) : Mask(mask) {
    if (mask == 0) return;
    Shift = std::countr_zero(mask);
    Bits = std::countr_one(mask >> Shift);
    Mask = Bits >= 32 ? 0xFFFFFFFFu : ((1u << Bits) - 1u) << Shift;
  }
  std::uint8_t Get(std::uint32_t v) const {
    if (Bits == 0) return 0;
    const std::uint32_t c = (v & Mask) >> Shift;
    return static_cast<std::uint8_t>(Bits >= 8 ? c >> (Bits - 8) : c << (8 - Bits));
  }
};

struct TBMPHeader {
  std::int64_t Width = 0, Height = 0;
  bool TopDown = false;
  int BitCount = 0;
  std::uint32_t Compression = kBI_RGB;
  std::uint32_t ImageSize = 0;
  bool HaveMasks = false;
  std::uint32_t Masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
};

// Progress before each stored row, as per cent of the rows; false when the
// user stopped.
class TRowProgress {
 public:
  TRowProgress(TProgressRec& progress, int rows) : progress_(progress) {
    progress_.PerCentFactor = 100.0 / rows;
  }
  bool Before(int k) {
    const int per = static_cast<int>(k * progress_.PerCentFactor);
    if (per != last_) {
      last_ = per;
      progress_.Report(per);
    }
    return !progress_.Aborted();
  }

 private:
  TProgressRec& progress_;
  int last_ = -1;
};

// 32-bit alpha collected while rows are decoded; dropped afterwards when it
// carries nothing (all 0 or all 255).
class TAlphaCollector {
 public:
  TAlphaCollector(std::unique_ptr<TIEMask>& mask, bool active, int width, int height) : mask_(mask), active_(active) {
    if (!active_) return;
    if (!mask_) mask_ = std::make_unique<TIEMask>();
    mask_->AllocateBits(width, height, 8);
    mask_->Fill(255);
  }
  bool Active() const { return active_; }
  std::uint8_t* Row(int imageRow) { return mask_->GetScanLine(imageRow); }
  void Note(const std::uint8_t* row, int width) {
    for (int x = 0; x < width; ++x) {
      any_ |= row[x];
      all_ &= row[x];
    }
  }
  void Finish() {
    if (!active_) return;
    if (any_ == 0 || all_ == 0xFF) {
      mask_.reset();
    } else {
      mask_->SyncFull();
    }
  }

 private:
  std::unique_ptr<TIEMask>& mask_;
  bool active_;
  std::uint8_t any_ = 0, all_ = 0xFF;
};

bool IsBlack(TRGB c) { return c.r == 0 && c.g == 0 && c.b == 0; }
bool IsWhite(TRGB c) { return c.r == 255 && c.g == 255 && c.b == 255; }

// How a 1-bit file loads: as ie1g when its two colours are black and white
// (inverted when white comes first), otherwise with its colours.
enum class TOneBit { Plain, Inverted, Coloured };
TOneBit ClassifyOneBit(const std::vector<TRGB>& map) {
  if (map.size() < 2) return map.empty() ? TOneBit::Plain : TOneBit::Coloured;
  if (IsBlack(map[0]) && IsWhite(map[1])) return TOneBit::Plain;
  if (IsWhite(map[0]) && IsBlack(map[1])) return TOneBit::Inverted;
  return TOneBit::Coloured;
}

bool Supported(int bits, std::uint32_t compression) {
  switch (bits) {
    case 1: case 24: return compression == kBI_RGB;
    case 4: return compression == kBI_RGB || compression == kBI_RLE4;
    case 8: return compression == kBI_RGB || compression == kBI_RLE8;
    case 16: case 32: return compression == kBI_RGB || compression == kBI_BITFIELDS || compression == kBI_ALPHABITFIELDS;
    default: return false;
  }
}

// Sink of the run-length decoder: indexes or colours into the image.
template <bool Indexes>
struct TRLESink {
  TIEBitmap& Bitmap;
  const TBMPColourTable& Colours;
  bool TopDown;
  int Height;
  TRowProgress& Progress;
  std::uint8_t* Line_ = nullptr;

  void Row(int r) { Line_ = Bitmap.GetScanLine(TopDown ? Height - 1 - r : r); }
  void Put(int x, std::uint8_t v) {
    if constexpr (Indexes) {
      Line_[x] = v;
    } else {
      reinterpret_cast<TRGB*>(Line_)[x] = Colours.Entry[v];
    }
  }
  bool Line(int rowsDone) { return Progress.Before(rowsDone); }
};

}  // namespace

void BMPReadStream(TStream& stream, TIEBitmap& bitmap, std::int64_t dataSize, TIOParamsVals& params,
                   TProgressRec& progress, bool preview, bool noFileHeader, std::unique_ptr<TIEMask>& alphaMask,
                   bool ignoreAlpha) {
  TIEReader r(stream);
  std::uint32_t fileSize = 0, pixelOffset = 0;
  if (noFileHeader) {
    fileSize = static_cast<std::uint32_t>(std::min<std::int64_t>(stream.GetSize(), 0xFFFFFFFF));
  } else {
    std::uint8_t fh[14];
    if (!r.Read(fh, 14) || fh[0] != 'B' || fh[1] != 'M') return progress.Fail("not a BMP file");
    fileSize = LE32(fh + 2);
    pixelOffset = LE32(fh + 10);
  }
  if (fileSize > 0 && dataSize <= 0) dataSize = fileSize;

  std::uint8_t sizeBytes[4];
  if (r.Peek(sizeBytes, 4) < 4) return progress.Fail("truncated BMP header");
  const std::uint32_t headerSize = LE32(sizeBytes);
  params.FreeColorMap();
  if (headerSize < 12) return progress.Fail("bad BMP header size");

  TBMPHeader h;
  std::vector<TRGB> colours;
  if (headerSize == 12) {
    std::uint8_t b[12];
    r.Read(b, 12);
    h.Width = LE16(b + 4);
    h.Height = LE16(b + 6);
    h.BitCount = LE16(b + 10);
    params.BMP_VERSION = ioBMP_BMOS2V1;
    params.SetDpiX(gDefaultDPIX);
    params.SetDpiY(gDefaultDPIY);
    if (h.BitCount >= 1 && h.BitCount <= 8) {
      colours.resize(std::size_t(1) << h.BitCount);
      for (TRGB& c : colours) {
        c.b = r.U8();
        c.g = r.U8();
        c.r = r.U8();
      }
    }
  } else {
    std::uint8_t b[64] = {};
    r.Read(b, std::min<std::uint32_t>(headerSize, 64));
    if (headerSize > 64) r.Skip(headerSize - 64);
    params.BMP_VERSION = headerSize == 64 ? ioBMP_BMOS2V2 : headerSize == 40 ? ioBMP_BM3 : ioBMP_BM;
    h.Width = static_cast<std::int32_t>(LE32(b + 4));
    h.Height = static_cast<std::int32_t>(LE32(b + 8));
    if (h.Height < 0) {
      h.TopDown = true;
      h.Height = -h.Height;
    }
    h.BitCount = LE16(b + 14);
    h.Compression = LE32(b + 16);
    h.ImageSize = LE32(b + 20);
    params.SetDpiX(BMPDpiFromPPM(static_cast<std::int32_t>(LE32(b + 24)), gDefaultDPIX));
    params.SetDpiY(BMPDpiFromPPM(static_cast<std::int32_t>(LE32(b + 28)), gDefaultDPIY));
    // Bit-field masks sit inside the later header layouts and right after the
    // 40-byte one, before any palette.
    if (h.Compression == kBI_BITFIELDS || h.Compression == kBI_ALPHABITFIELDS) {
      h.HaveMasks = true;
      const int count = h.Compression == kBI_ALPHABITFIELDS ? 4 : 3;
      if (headerSize >= 52 && headerSize != 64) {
        for (int i = 0; i < 3; ++i) h.Masks[i] = LE32(b + 40 + 4 * i);
        if (headerSize >= 56) h.Masks[3] = LE32(b + 52);
      } else {
        for (int i = 0; i < count; ++i) h.Masks[i] = r.U32LE();
      }
    }
    std::uint32_t used = LE32(b + 32);
    if (used > 256) used = 0;
    if (used == 0 && h.BitCount >= 1 && h.BitCount <= 8) used = 1u << h.BitCount;
    if (used > 0 && r.Require(used, 4)) {
      colours.resize(used);
      for (TRGB& c : colours) {
        c.b = r.U8();
        c.g = r.U8();
        c.r = r.U8();
        r.U8();
      }
    }
  }
  if (r.Failed()) return progress.Fail("truncated BMP header");
  params.SetColorMap(colours.data(), static_cast<int>(colours.size()));

  if (h.Compression == kBI_RGB || h.Compression == kBI_BITFIELDS || h.Compression == kBI_ALPHABITFIELDS)
    params.BMP_COMPRESSION = ioBMP_UNCOMPRESSED;
  else if (h.Compression == kBI_RLE8 || h.Compression == kBI_RLE4)
    params.BMP_COMPRESSION = ioBMP_RLE;

  if (h.Width < 0 || h.Height > 0x7FFFFFFF) return progress.Fail("bad BMP image size");
  params.WIDTH = params.ORIGINALWIDTH = static_cast<std::int32_t>(h.Width);
  params.HEIGHT = params.ORIGINALHEIGHT = static_cast<std::int32_t>(h.Height);
  static constexpr struct {
    int Bits, BitsPerSample, SamplesPerPixel;
  } kDepths[] = {{1, 1, 1}, {4, 4, 1}, {8, 8, 1}, {16, 5, 3}, {24, 8, 3}, {32, 8, 4}};
  for (const auto& d : kDepths)
    if (d.Bits == h.BitCount) {
      params.BITSPERSAMPLE = d.BitsPerSample;
      params.SAMPLESPERPIXEL = d.SamplesPerPixel;
    }
  if (preview) return;

  // ---- pixels -------------------------------------------------------------------
  const int width = static_cast<int>(h.Width), height = static_cast<int>(h.Height);
  if (width == 0 || height == 0) return progress.Fail("the BMP image has no pixels");
  if (!Supported(h.BitCount, h.Compression)) return progress.Fail("unsupported BMP depth or compression");

  const TOneBit oneBit = h.BitCount == 1 ? ClassifyOneBit(colours) : TOneBit::Plain;
  TIEPixelFormat format = ie24RGB;
  // Two colours other than black and white load as colours, like the 4- and
  // 8-bit palettes: indexes only when native formats are asked for.
  if (h.BitCount == 1) format = oneBit != TOneBit::Coloured ? ie1g : params.ISNATIVEPIXELFORMAT ? ie8p : ie24RGB;
  else if ((h.BitCount == 4 || h.BitCount == 8) && params.ISNATIVEPIXELFORMAT) format = ie8p;
  if (!IEImageSizeAllowed(width, height, IEPixelFormatBits[format])) return progress.Fail("BMP image too large");

  if (pixelOffset > 0 && !r.SeekOffset(pixelOffset)) return progress.Fail("BMP pixel data offset out of range");
  const bool rle = h.Compression == kBI_RLE8 || h.Compression == kBI_RLE4;
  std::int64_t rowBytes = 0, pixelBytes = 0;
  IECheckedRowLen(width, h.BitCount, 32, rowBytes);
  if (!IECheckedMul(rowBytes, height, pixelBytes)) return progress.Fail("BMP image too large");
  // A header that claims far more pixels than the file holds is refused
  // before anything is allocated; a file cut short near its end loads.
  if (!rle && r.Remaining() < pixelBytes && r.Remaining() < pixelBytes / 2)
    return progress.Fail("truncated BMP image data");
  // Run-length data may be far smaller than the image (deltas and an early
  // end skip whole areas), but a few bytes must not make a huge image: past
  // 64 MB of pixels, the data must hold a sixteenth of the shortest coding
  // without skips (runs of 255 pixels and an end of line per row).
  if (rle) {
    const std::int64_t decoded = std::int64_t(width) * height * std::max(1, IEPixelFormatBits[format] / 8);
    const std::int64_t shortest = std::int64_t(height) * ((std::int64_t(width) + 254) / 255 * 2 + 2);
    if (decoded > (std::int64_t(64) << 20) && r.Remaining() * 16 < shortest)
      return progress.Fail("BMP data far too short for the image size");
  }

  bitmap.ForceReallocate = true;
  if (!bitmap.Allocate(width, height, format)) return progress.Fail("not enough memory for the BMP image");
  TBMPColourTable table;
  table.Build(colours);
  if (format == ie8p) {
    const int entries = h.BitCount == 1 ? 2 : 1 << h.BitCount;
    for (int i = 0; i < 256; ++i) bitmap.SetPalette(i, table.Entry[i]);
    bitmap.PaletteColorCount = entries;
  }

  TRowProgress rows(progress, height);
  auto imageRow = [&](int k) { return h.TopDown ? k : height - 1 - k; };
  bool truncated = false;

  if (rle) {
    std::int64_t size = dataSize > 0 ? dataSize - r.Offset() : std::int64_t(h.ImageSize);
    if (size <= 0 || size > r.Remaining()) size = r.Remaining();
    std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
    r.Read(data.data(), size);
    const int bits = h.Compression == kBI_RLE8 ? 8 : 4;
    // Pixels the codes skip are index 0, whether the image keeps indexes or colours.
    if (format == ie24RGB && !(table.Entry[0] == TRGB{}))
      for (int y = 0; y < height; ++y) std::fill_n(reinterpret_cast<TRGB*>(bitmap.GetScanLine(y)), width, table.Entry[0]);
    TBMPRLEEnd end;
    if (format == ie8p) {
      TRLESink<true> sink{bitmap, table, h.TopDown, height, rows};
      end = BMPDecodeRLE(data.data(), data.size(), bits, width, height, sink);
    } else {
      TRLESink<false> sink{bitmap, table, h.TopDown, height, rows};
      end = BMPDecodeRLE(data.data(), data.size(), bits, width, height, sink);
    }
    truncated = end == TBMPRLEEnd::DataEnd;
  } else {
    // 1-bit (as ie1g) and 24-bit file rows are image rows: read them in place.
    const bool sameLayout = format == ie1g || h.BitCount == 24;
    const bool straight = sameLayout && bitmap.GetRowLen() == rowBytes;
    std::vector<std::uint8_t> buffer(straight ? 0 : static_cast<std::size_t>(rowBytes));
    const std::size_t copyBytes = static_cast<std::size_t>(std::min<std::int64_t>(rowBytes, bitmap.GetRowLen()));
    const bool customMasks = h.HaveMasks && (h.BitCount == 16 || !(h.Masks[0] == 0xFF0000 && h.Masks[1] == 0xFF00 &&
                                                                     h.Masks[2] == 0xFF));
    TBitField red, green, blue, alpha;
    if (h.BitCount == 16 || customMasks) {
      const bool defaults = !h.HaveMasks || (h.Masks[0] | h.Masks[1] | h.Masks[2]) == 0;
      red = TBitField(defaults ? (h.BitCount == 16 ? 0x7C00 : 0xFF0000) : h.Masks[0]);
      green = TBitField(defaults ? (h.BitCount == 16 ? 0x03E0 : 0xFF00) : h.Masks[1]);
      blue = TBitField(defaults ? (h.BitCount == 16 ? 0x001F : 0xFF) : h.Masks[2]);
      alpha = TBitField(h.Masks[3]);
    }
    // 32-bit pixels carry alpha in their fourth byte, or where an alpha mask says.
    const bool alphaSource = h.BitCount == 32 ? (!customMasks || alpha.Bits > 0) : alpha.Bits > 0;
    // ignoreAlpha is about the fourth byte of plain 32-bit pixels, which files
    // fill with anything; an alpha mask the header declares means alpha.
    const bool declaredAlpha = h.HaveMasks && h.Masks[3] != 0;
    TAlphaCollector alphaOut(alphaMask, alphaSource && (!ignoreAlpha || declaredAlpha), width, height);

    for (int k = 0; k < height; ++k) {
      if (!rows.Before(k)) break;
      const int y = imageRow(k);
      std::uint8_t* dst = bitmap.GetScanLine(y);
      std::uint8_t* src = straight ? dst : buffer.data();
      const std::int64_t got = r.ReadSome(src, rowBytes);
      if (got < rowBytes) {
        std::memset(src + got, 0, static_cast<std::size_t>(rowBytes - got));
        truncated = true;
      }
      if (sameLayout && !straight) std::memcpy(dst, src, copyBytes);
      auto* out = reinterpret_cast<TRGB*>(dst);
      switch (h.BitCount) {
        case 1:
          if (format == ie1g) {
            if (oneBit == TOneBit::Inverted)
              for (std::size_t i = 0; i < copyBytes; ++i) dst[i] = static_cast<std::uint8_t>(~dst[i]);
          } else if (format == ie8p) {
            for (int x = 0; x < width; ++x) dst[x] = (src[x >> 3] >> (7 - (x & 7))) & 1;
          } else {
            for (int x = 0; x < width; ++x) out[x] = table.Entry[(src[x >> 3] >> (7 - (x & 7))) & 1];
          }
          break;
        case 4:
          for (int x = 0; x < width; ++x) {
            const std::uint8_t v = (x & 1) ? (src[x >> 1] & 15) : (src[x >> 1] >> 4);
            if (format == ie8p) dst[x] = v;
            else out[x] = table.Entry[v];
          }
          break;
        case 8:
          if (format == ie8p) std::memcpy(dst, src, static_cast<std::size_t>(width));
          else
            for (int x = 0; x < width; ++x) out[x] = table.Entry[src[x]];
          break;
        case 16:
          for (int x = 0; x < width; ++x) {
            const std::uint32_t v = LE16(src + 2 * x);
            out[x] = TRGB{blue.Get(v), green.Get(v), red.Get(v)};
          }
          break;
        case 32:
          if (!customMasks) {
            for (int x = 0; x < width; ++x) out[x] = TRGB{src[4 * x], src[4 * x + 1], src[4 * x + 2]};
          } else {
            for (int x = 0; x < width; ++x) {
              const std::uint32_t v = LE32(src + 4 * x);
              out[x] = TRGB{blue.Get(v), green.Get(v), red.Get(v)};
            }
          }
          break;
        default:  // 24 bits: already in place
          break;
      }
      if (alphaOut.Active()) {
        std::uint8_t* a = alphaOut.Row(y);
        if (h.BitCount == 32 && !customMasks) {
          for (int x = 0; x < width; ++x) a[x] = src[4 * x + 3];
        } else {
          const int step = h.BitCount / 8;
          for (int x = 0; x < width; ++x)
            a[x] = alpha.Get(step == 2 ? LE16(src + 2 * x) : LE32(src + 4 * x));
        }
        alphaOut.Note(a, width);
      }
      if (truncated) break;  // the remaining rows stay 0
    }
    alphaOut.Finish();
  }
  if (truncated) progress.Fail("truncated BMP image data");
}

namespace {

// A device-independent bitmap saved without its file header (".dib" files
// taken from the clipboard) starts with the size of a known info header.
bool StartsWithInfoHeader(TStream& stream) {
  const std::int64_t pos = stream.GetPosition();
  std::uint8_t b[4] = {0, 0, 0, 0};
  const std::int64_t got = stream.Read(b, 4);
  stream.Seek(pos, soBeginning);
  if (got < 4 || (b[0] == 'B' && b[1] == 'M')) return false;
  switch (LE32(b)) {
    case 12: case 40: case 52: case 56: case 64: case 108: case 124: return true;
    default: return false;
  }
}

}  // namespace

void BMPFrameRead(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview) {
  std::unique_ptr<TIEMask> alpha;
  const bool noFileHeader = StartsWithInfoHeader(stream);
  if (preview) {
    BMPReadStream(stream, bitmap, stream.GetSize(), params, progress, true, noFileHeader, alpha, true);
    return;
  }
  bitmap.RemoveAlphaChannel(false);
  BMPReadStream(stream, bitmap, 0, params, progress, false, noFileHeader, alpha, !params.BMP_HANDLETRANSPARENCY);
  if (alpha) bitmap.GetAlphaChannel()->CopyFromTIEMask(alpha.get());
}

}  // namespace pravik
