// Windows icon and cursor reader: the directory, one entry's bitmap (1, 4, 8,
// 24 or 32 bits) and its AND mask turned into an alpha mask.
#include "codecs/bitmap/ico.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "codecs/bitmap/bmp.h"
#include "codecs/bitmap/bmp_common.h"
#include "codecs/png/png_codec.h"
#include "image/bitmap.h"
#include "image/mask.h"
#include "imageio/limits.h"
#include "imageio/progress.h"
#include "imageio/reader.h"
#include "imageio/stream.h"

namespace pravik {

namespace {

std::uint32_t LE32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}
std::uint16_t LE16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

constexpr std::uint8_t kPNGSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

struct TIconEntry {
  int Width = 0, Height = 0;  // the directory's bytes (0: see the header)
  int Colours = 0;
  int Planes = 0, BitCount = 0;  // a cursor's hot spot
  std::uint32_t Size = 0, Offset = 0;
};

TIconEntry ParseEntry(const std::uint8_t* e) {
  TIconEntry entry;
  entry.Width = e[0];
  entry.Height = e[1];
  entry.Colours = e[2];
  entry.Planes = LE16(e + 4);
  entry.BitCount = LE16(e + 6);
  entry.Size = LE32(e + 8);
  entry.Offset = LE32(e + 12);
  return entry;
}

// Smallest b with 2^b >= count.
int BitsForColours(int count) {
  int b = 0;
  while ((1 << b) < count && b < 31) ++b;
  return b;
}

bool TryDirectory(TStream& stream, int type) {
  const std::int64_t pos = stream.GetPosition();
  if (pos < 0 || stream.GetSize() - pos < 23) return false;
  bool ok = false;
  {
    TIEReader r(stream, 1024);
    const int reserved = r.U16LE(), kind = r.U16LE(), count = r.U16LE();
    ok = r.Ok() && reserved == 0 && kind == type && count != 0;
    for (int i = 0; ok && i < count; ++i) {
      std::uint8_t e[16];
      ok = r.Read(e, 16) && e[3] == 0 && LE32(e + 8) != 0 && LE32(e + 12) >= static_cast<std::uint32_t>(6 + 16 * (i + 1));
    }
  }
  stream.Seek(pos, soBeginning);
  return ok;
}

// Where a pixel of an entry is transparent: the AND mask, bottom row first.
class TAndMask {
 public:
  void Read(TIEReader& r, int width, int height) {
    rowBytes_ = IEBitmapRowLen(width, 1, 32);
    height_ = height;
    bits_.assign(static_cast<std::size_t>(rowBytes_ * height), 0);
    const std::int64_t got = r.ReadSome(bits_.data(), static_cast<std::int64_t>(bits_.size()));
    complete_ = got == static_cast<std::int64_t>(bits_.size());
  }
  bool Complete() const { return complete_; }
  bool Transparent(int x, int imageRow) const {
    const std::uint8_t* row = bits_.data() + std::size_t(height_ - 1 - imageRow) * std::size_t(rowBytes_);
    return (row[x >> 3] >> (7 - (x & 7))) & 1;
  }

 private:
  std::vector<std::uint8_t> bits_;
  std::int64_t rowBytes_ = 0;
  int height_ = 0;
  bool complete_ = true;
};

enum class TIconKind { Icon, Cursor };

// The entry the icon reader loads for index: that entry when its size bytes
// are set, else the last one (a 256-pixel entry has size bytes 0).
int ChooseIconEntry(const std::vector<TIconEntry>& entries, int index) {
  return entries[index].Width != 0 && entries[index].Height != 0 ? index : static_cast<int>(entries.size()) - 1;
}

// An entry that holds a whole PNG file (the form Windows Vista and later use
// for large icons, and some tools for every size). The PNG's own alpha
// becomes the icon's transparency.
void ReadPNGEntry(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool preview, TProgressRec& progress,
                  std::unique_ptr<TIEMask>& alphaMask, bool ignoreAlpha) {
  params.FreeColorMap();
  ReadPNGStream(stream, bitmap, params, preview, progress);
  if (preview || !bitmap.GetHasAlphaChannel()) return;
  if (!ignoreAlpha) {
    if (!alphaMask) alphaMask = std::make_unique<TIEMask>();
    bitmap.GetAlphaChannel()->CopyToTIEMask(*alphaMask);
  }
  bitmap.RemoveAlphaChannel(false);
}

void ReadIconOrCursor(TIconKind kind, TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool preview,
                      TProgressRec& progress, std::unique_ptr<TIEMask>& alphaMask, bool ignoreAlpha) {
  const bool cursor = kind == TIconKind::Cursor;
  const std::int64_t start = stream.GetPosition();
  if (!cursor) {
    std::uint8_t sig[2] = {0, 0};
    const std::int64_t got = stream.Read(sig, 2);
    stream.Seek(start, soBeginning);
    if (got == 2 && sig[0] == 'B' && sig[1] == 'M') {
      BMPReadStream(stream, bitmap, stream.GetSize(), params, progress, preview, false, alphaMask, ignoreAlpha);
      return;
    }
  }
  TIEReader r(stream);
  std::uint8_t dir[6];
  if (!r.Read(dir, 6) || LE16(dir) != 0) return progress.Fail(cursor ? "not a cursor file" : "not an icon file");
  const int count = LE16(dir + 4);
  const int index = cursor ? params.CUR_IMAGEINDEX : params.ICO_IMAGEINDEX;
  // Loading nothing while reporting success would leave the previous image
  // in the buffer to be saved under this file's name.
  if (index < 0 || index >= count) return progress.Fail(cursor ? "no such cursor image" : "no such icon image");
  const int listed = static_cast<int>(std::min<std::int64_t>(count, r.Remaining() / 16));
  if (listed <= index) return progress.Fail(cursor ? "truncated cursor directory" : "truncated icon directory");
  std::vector<TIconEntry> entries(static_cast<std::size_t>(listed));
  for (TIconEntry& e : entries) {
    std::uint8_t b[16];
    r.Read(b, 16);
    e = ParseEntry(b);
  }

  int chosen = index;
  if (!cursor) {
    for (auto& s : params.ICO_SIZES) s = TIOICOSize{};
    for (int i = 0; i < std::min(listed, IEMaxICOImages); ++i) {
      const TIconEntry& e = entries[i];
      if (e.Width == 0 || e.Height == 0) continue;
      params.ICO_SIZES[i] = TIOICOSize{e.Width, e.Height};
      params.ICO_BITCOUNT[i] = e.BitCount != 0 ? e.BitCount : e.Colours != 0 ? BitsForColours(e.Colours) : 24;
    }
    chosen = ChooseIconEntry(entries, index);
  }
  const TIconEntry& entry = entries[chosen];
  if (!r.InWindow(entry.Offset, 40) || !r.SeekOffset(entry.Offset))
    return progress.Fail(cursor ? "cursor image offset out of range" : "icon image offset out of range");

  // ---- the entry's bitmap header ---------------------------------------------------
  std::uint8_t hb[40];
  r.Read(hb, 40);
  if (std::memcmp(hb, kPNGSignature, 8) == 0) {
    r.SeekOffset(entry.Offset);
    r.Sync();
    return ReadPNGEntry(stream, bitmap, params, preview, progress, alphaMask, ignoreAlpha);
  }
  const std::uint32_t headerSize = LE32(hb);
  if (headerSize < 40) return progress.Fail(cursor ? "unsupported cursor image" : "unsupported icon image");
  r.Skip(headerSize - 40);
  const std::int32_t headerWidth = static_cast<std::int32_t>(LE32(hb + 4));
  const std::int32_t headerHeight = static_cast<std::int32_t>(LE32(hb + 8));
  const int headerBits = LE16(hb + 14);
  const std::uint32_t compression = LE32(hb + 16);
  const std::uint32_t coloursUsed = LE32(hb + 32);
  if (r.Failed()) return progress.Fail(cursor ? "truncated cursor image" : "truncated icon image");
  if (compression != 0) return progress.Fail("compressed icon images are not supported");
  params.SetDpiX(BMPDpiFromPPM(std::max(0, static_cast<std::int32_t>(LE32(hb + 24))), gDefaultDPIX));
  params.SetDpiY(BMPDpiFromPPM(std::max(0, static_cast<std::int32_t>(LE32(hb + 28))), gDefaultDPIY));

  int bits = headerBits;
  if (bits == 0 && !cursor) bits = entry.BitCount;
  if (bits == 0 && entry.Colours != 0) bits = BitsForColours(entry.Colours);
  if (bits == 0) return progress.Fail(cursor ? "cursor image without a depth" : "icon image without a depth");
  if (bits <= 8) {
    params.BITSPERSAMPLE = bits;
    params.SAMPLESPERPIXEL = 1;
  } else {
    params.BITSPERSAMPLE = 8;
    params.SAMPLESPERPIXEL = bits == 32 ? 4 : 3;
  }
  if (cursor) {
    params.CUR_XHOTSPOT = entry.Planes;
    params.CUR_YHOTSPOT = entry.BitCount;
    if (bits <= 8) params.SAMPLESPERPIXEL = 1;
  }

  // Size: the directory's bytes, the header where a byte is 0; the header
  // (which lays out the data) also wins where the two disagree, unless it is
  // implausible.
  std::int64_t width = entry.Width != 0 ? entry.Width : headerWidth;
  std::int64_t height = entry.Height != 0 ? entry.Height : headerHeight / 2;
  if (entry.Width != 0 && entry.Height != 0 && headerWidth > 0 && headerHeight > 0 && headerWidth < 2048 &&
      headerHeight < 2048 && (entry.Width != headerWidth || entry.Height != headerHeight / 2) && headerHeight >= 2) {
    width = headerWidth;
    height = headerHeight / 2;
  }

  params.FreeColorMap();
  std::vector<TRGB> colours;
  if (bits <= 8) {
    int n = 1 << bits;
    if (cursor && entry.Colours != 0) n = std::min(n, entry.Colours == 255 ? 256 : entry.Colours);
    else if (!cursor && coloursUsed > 0 && coloursUsed < static_cast<std::uint32_t>(n)) n = static_cast<int>(coloursUsed);
    if (!r.Require(n, 4)) return progress.Fail(cursor ? "truncated cursor palette" : "truncated icon palette");
    colours.resize(static_cast<std::size_t>(n));
    for (TRGB& c : colours) {
      c.b = r.U8();
      c.g = r.U8();
      c.r = r.U8();
      r.U8();
    }
    params.SetColorMap(colours.data(), n);
  }
  if (width < 0 || height < 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF)
    return progress.Fail(cursor ? "bad cursor image size" : "bad icon image size");
  params.WIDTH = params.ORIGINALWIDTH = static_cast<std::int32_t>(width);
  params.HEIGHT = params.ORIGINALHEIGHT = static_cast<std::int32_t>(height);
  if (preview) return;

  // ---- pixels ----------------------------------------------------------------------
  if (width == 0 || height == 0) return progress.Fail(cursor ? "bad cursor image size" : "bad icon image size");
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
    return progress.Fail(cursor ? "unsupported cursor depth" : "unsupported icon depth");
  const int w = static_cast<int>(width), h = static_cast<int>(height);
  std::int64_t xorRow = 0, xorBytes = 0;
  if (!IECheckedRowLen(w, bits, 32, xorRow) || !IECheckedMul(xorRow, h, xorBytes))
    return progress.Fail("icon image too large");
  const bool blackWhite = bits == 1 && colours.size() == 2 &&
                          ((colours[0] == TRGB{0, 0, 0} && colours[1] == TRGB{255, 255, 255}) ||
                           (colours[0] == TRGB{255, 255, 255} && colours[1] == TRGB{0, 0, 0}));
  const bool inverted = blackWhite && colours[0].r == 255;
  const TIEPixelFormat format = blackWhite ? ie1g : ie24RGB;
  if (!IEImageSizeAllowed(w, h, IEPixelFormatBits[format])) return progress.Fail("icon image too large");
  if (r.Remaining() < xorBytes / 2) return progress.Fail(cursor ? "truncated cursor image" : "truncated icon image");

  bitmap.ForceReallocate = true;
  if (!bitmap.Allocate(w, h, format)) return progress.Fail("not enough memory for the icon image");
  const bool wantAlpha = !ignoreAlpha;
  if (wantAlpha) {
    if (!alphaMask) alphaMask = std::make_unique<TIEMask>();
    alphaMask->AllocateBits(w, h, 8);
    alphaMask->Fill(255);
    alphaMask->AllSet = false;
  }
  const TRGB background = cursor ? params.CUR_BACKGROUND : params.ICO_BACKGROUND;
  TBMPColourTable table;
  table.Build(colours);

  bool truncated = false;
  std::vector<std::uint8_t> row(static_cast<std::size_t>(xorRow));
  auto readRow = [&](std::uint8_t* dest) {
    const std::int64_t got = r.ReadSome(dest, xorRow);
    if (got < xorRow) {
      std::memset(dest + got, 0, static_cast<std::size_t>(xorRow - got));
      truncated = true;
    }
  };
  TAndMask andMask;

  if (bits == 32 || bits == 24) {
    bool anyAlpha = false;
    for (int i = 0; i < h; ++i) {
      const int y = h - 1 - i;
      readRow(row.data());
      auto* out = reinterpret_cast<TRGB*>(bitmap.GetScanLine(y));
      const int step = bits / 8;
      for (int x = 0; x < w; ++x) out[x] = TRGB{row[step * x], row[step * x + 1], row[step * x + 2]};
      if (bits == 32 && wantAlpha) {
        std::uint8_t* a = alphaMask->GetScanLine(y);
        for (int x = 0; x < w; ++x) {
          a[x] = row[4 * x + 3];
          anyAlpha |= a[x] != 0;
        }
      }
    }
    // Without alpha bytes the AND mask tells the transparent pixels (24-bit
    // entries have no other way to carry them).
    if (wantAlpha && !truncated && (bits == 24 || !anyAlpha) && r.Fits(h, IEBitmapRowLen(w, 1, 32))) {
      andMask.Read(r, w, h);
      for (int y = 0; y < h; ++y) {
        std::uint8_t* a = alphaMask->GetScanLine(y);
        for (int x = 0; x < w; ++x) a[x] = andMask.Transparent(x, y) ? 0 : 255;
      }
    }
  } else {
    std::vector<std::uint8_t> xorData(static_cast<std::size_t>(xorBytes));
    for (int i = 0; i < h; ++i) readRow(xorData.data() + std::size_t(i) * std::size_t(xorRow));
    andMask.Read(r, w, h);  // short masks read as opaque
    for (int y = 0; y < h; ++y) {
      const std::uint8_t* src = xorData.data() + std::size_t(h - 1 - y) * std::size_t(xorRow);
      std::uint8_t* a = wantAlpha ? alphaMask->GetScanLine(y) : nullptr;
      if (format == ie1g) {
        std::uint8_t* out = bitmap.GetScanLine(y);
        const bool whiteBehind = background == TRGB{255, 255, 255};
        std::memcpy(out, src, static_cast<std::size_t>(std::min<std::int64_t>(xorRow, bitmap.GetRowLen())));
        for (int x = 0; x < w; ++x) {
          const std::uint8_t bit = static_cast<std::uint8_t>(0x80 >> (x & 7));
          if (inverted) out[x >> 3] ^= bit;
          if (!andMask.Transparent(x, y)) continue;
          if (a != nullptr) a[x] = 0;
          // A transparent pixel shows the background; one that inverts the
          // screen shows the background's inverse.
          if (whiteBehind) out[x >> 3] ^= bit;
        }
        continue;
      }
      auto* out = reinterpret_cast<TRGB*>(bitmap.GetScanLine(y));
      for (int x = 0; x < w; ++x) {
        int v;
        if (bits == 8) v = src[x];
        else if (bits == 4) v = (x & 1) ? (src[x >> 1] & 15) : (src[x >> 1] >> 4);
        else v = (src[x >> 3] >> (7 - (x & 7))) & 1;
        if (andMask.Transparent(x, y)) {
          out[x] = background;
          if (a != nullptr) a[x] = 0;
        } else {
          out[x] = table.Entry[v];
        }
      }
    }
  }
  if (wantAlpha && !cursor) {
    alphaMask->SyncFull();
    if (alphaMask->AllSet) alphaMask.reset();
  }
  if (truncated) progress.Fail(cursor ? "truncated cursor image" : "truncated icon image");
}

void FrameRead(TIconKind kind, TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress,
               bool preview) {
  std::unique_ptr<TIEMask> alpha;
  if (preview) {
    ReadIconOrCursor(kind, stream, bitmap, params, true, progress, alpha, true);
    return;
  }
  bitmap.RemoveAlphaChannel(false);
  ReadIconOrCursor(kind, stream, bitmap, params, false, progress, alpha, false);
  if (alpha && !bitmap.IsEmpty()) bitmap.GetAlphaChannel()->CopyFromTIEMask(alpha.get());
}

}  // namespace

bool ICOTryStream(TStream& stream) { return TryDirectory(stream, 1); }
bool CURTryStream(TStream& stream) { return TryDirectory(stream, 2); }

int _EnumICOImStream(TStream& stream) {
  const std::int64_t pos = stream.GetPosition();
  std::uint8_t dir[6];
  const std::int64_t got = stream.Read(dir, 6);
  stream.Seek(pos, soBeginning);
  return got == 6 ? LE16(dir + 4) : 0;
}

void ICOReadStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool preview, TProgressRec& progress,
                   std::unique_ptr<TIEMask>& alphaMask, bool ignoreAlpha) {
  ReadIconOrCursor(TIconKind::Icon, stream, bitmap, params, preview, progress, alphaMask, ignoreAlpha);
}

void CURReadStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool preview, TProgressRec& progress,
                   std::unique_ptr<TIEMask>& alphaMask, bool ignoreAlpha) {
  ReadIconOrCursor(TIconKind::Cursor, stream, bitmap, params, preview, progress, alphaMask, ignoreAlpha);
}

void ICOFrameRead(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview) {
  FrameRead(TIconKind::Icon, stream, bitmap, params, progress, preview);
}

void CURFrameRead(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview) {
  FrameRead(TIconKind::Cursor, stream, bitmap, params, progress, preview);
}

}  // namespace pravik
