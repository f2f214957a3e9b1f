// TGA reader and content test: colour-mapped, true-colour and grey images,
// raw or run-length coded, in any row order, with the version-2 extension
// area when the footer points at one.
#include <algorithm>
#include <cstring>
#include <vector>

#include "codecs/tga/tga.h"
#include "codecs/tga/tga_private.h"
#include "image/bitmap.h"
#include "image/mask.h"
#include "imageio/limits.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/reader.h"
#include "imageio/stream.h"

namespace pravik {

namespace {

bool KnownDepth(int depth) {
  return depth == 1 || depth == 4 || depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32;
}

// ---- content test ------------------------------------------------------------------------------

// The header alone says little (no magic number), so the test only takes
// combinations that real files use: the weak test must not claim files of
// formats asked after it. A TGA file it declines still loads by extension.
bool PlausibleHeader(const TgaHeader& h) {
  if (h.ColorMapType > 1 || !h.KnownType() || h.Width == 0 || h.Height == 0) return false;
  if (h.ColorMapType == 1 && (!h.KnownMapEntry() || h.ColorMapLength == 0)) return false;
  switch (h.Kind()) {
    case 1:
      return h.ColorMapType == 1 && (h.PixelDepth == 1 || h.PixelDepth == 4 || h.PixelDepth == 8);
    case 2:
      return h.PixelDepth == 15 || h.PixelDepth == 16 || h.PixelDepth == 24 || h.PixelDepth == 32;
    default:
      return h.PixelDepth == 1 || h.PixelDepth == 8 || h.PixelDepth == 16;
  }
}

// ---- pixels ----------------------------------------------------------------------------------

struct TgaPalette {
  TRGB Colours[256];
  std::uint8_t Alpha[256];
  bool HasAlpha = false;
};

// Decodes stored rows, raw or run-length coded, into elements of a fixed
// size (a pixel, or a byte of packed 1- and 4-bit pixels). A packet that
// reaches past the end of a row goes on at the start of the next one.
class TgaRowDecoder {
 public:
  TgaRowDecoder(TIEReader& r, bool rle, int elementBytes) : r_(r), rle_(rle), size_(elementBytes) {}

  // Fills count elements; false when the data ended first (the rest is 0).
  bool Row(std::uint8_t* dst, int count) {
    const std::size_t bytes = std::size_t(count) * size_;
    if (!rle_) return Fill(dst, bytes);
    int done = 0;
    while (done < count) {
      if (left_ == 0) {
        const std::uint8_t h = r_.U8();
        if (r_.Failed()) break;
        left_ = (h & 0x7F) + 1;
        run_ = (h & 0x80) != 0;
        if (run_ && !r_.Read(value_, size_)) break;
      }
      const int k = std::min(left_, count - done);
      std::uint8_t* out = dst + std::size_t(done) * size_;
      if (run_) {
        if (size_ == 1) {
          std::memset(out, value_[0], std::size_t(k));
        } else {
          for (int i = 0; i < k; ++i, out += size_) std::memcpy(out, value_, std::size_t(size_));
        }
      } else if (!Fill(out, std::size_t(k) * size_)) {
        std::memset(dst + std::size_t(done + k) * size_, 0, std::size_t(count - done - k) * size_);
        return false;
      }
      done += k;
      left_ -= k;
    }
    if (done == count) return true;
    std::memset(dst + std::size_t(done) * size_, 0, std::size_t(count - done) * size_);
    return false;
  }

 private:
  bool Fill(std::uint8_t* dst, std::size_t bytes) {
    const std::int64_t got = r_.ReadSome(dst, static_cast<std::int64_t>(bytes));
    if (got == static_cast<std::int64_t>(bytes)) return true;
    std::memset(dst + got, 0, bytes - std::size_t(got));
    return false;
  }

  TIEReader& r_;
  bool rle_;
  int size_;
  int left_ = 0;
  bool run_ = false;
  std::uint8_t value_[4] = {};
};

TRGB Colour15(unsigned v) {
  return CreateRGB(TgaExpand5((v >> 10) & 31), TgaExpand5((v >> 5) & 31), TgaExpand5(v & 31));
}

void ReverseRow1(std::uint8_t* row, int width) {
  std::vector<std::uint8_t> copy(row, row + (width + 7) / 8);
  for (int x = 0; x < width; ++x) {
    const int from = width - 1 - x;
    const bool bit = (copy[from >> 3] >> (7 - (from & 7))) & 1;
    if (bit) row[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
    else row[x >> 3] &= static_cast<std::uint8_t>(~(0x80 >> (x & 7)));
  }
}

// ---- extension area --------------------------------------------------------------------------

std::string FixedText(const std::uint8_t* p, int size) {
  int n = 0;
  while (n < size && p[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n));
}

unsigned U16At(const std::uint8_t* p) { return unsigned(p[0]) | (unsigned(p[1]) << 8); }

void ReadExtension(TIEReader& r, TIOParamsVals& params) {
  if (r.Size() < kTgaHeaderSize + kTgaFooterSize) return;
  std::uint8_t footer[kTgaFooterSize];
  r.SeekOffset(r.Size() - kTgaFooterSize);
  if (!r.Read(footer, kTgaFooterSize) || std::memcmp(footer + 8, kTgaSignature, 17) != 0) return;
  const std::uint32_t offset = std::uint32_t(U16At(footer)) | (std::uint32_t(U16At(footer + 2)) << 16);
  // Offset 0 means the file has no extension area.
  if (offset < kTgaHeaderSize || !r.InWindow(offset, kTgaExtensionSize)) return;
  std::uint8_t e[kTgaExtensionSize];
  r.SeekOffset(offset);
  if (!r.Read(e, kTgaExtensionSize)) return;
  params.TGA_AUTHOR = FixedText(e + 2, 41);
  params.TGA_IMAGENAME = FixedText(e + 379, 41);
  const unsigned month = U16At(e + 367), day = U16At(e + 369), year = U16At(e + 371);
  const unsigned hour = U16At(e + 373), minute = U16At(e + 375), second = U16At(e + 377);
  if (month != 0 && day != 0 && year != 0 && year < 2500 && month < 13 && day < 32 && hour < 24 && minute < 60 &&
      second < 60) {
    // A day the month does not have (31 April) is not a date.
    const double date = IEEncodeDate(int(year), int(month), int(day));
    int y, m, d;
    if (IEDecodeDate(date, y, m, d) && y == int(year) && m == int(month) && d == int(day))
      params.TGA_DATE = date + (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  }
  params.TGA_BACKGROUND = CreateRGB(e[471], e[472], e[473]);
  const unsigned aspectNum = U16At(e + 474), aspectDen = U16At(e + 476);
  if (aspectNum != 0 && aspectDen != 0) params.TGA_ASPECTRATIO = double(aspectNum) / aspectDen;
  const unsigned gammaNum = U16At(e + 478), gammaDen = U16At(e + 480);
  if (gammaNum != 0 && gammaDen != 0) params.TGA_GAMMA = double(gammaNum) / gammaDen;
}

}  // namespace

bool TryTGA(TStream& Stream) {
  const std::int64_t pos = Stream.GetPosition();
  bool ok = false;
  {
    TIEReader r(Stream, 4096);
    std::uint8_t b[3] = {};
    r.Peek(b, 3);
    // A Netpbm header ("P5" and a line feed, ...) is never a TGA file.
    const bool netpbm = b[0] == 'P' && b[1] >= '2' && b[1] <= '6' && (b[2] == ' ' || b[2] == '#' || b[2] == '\n');
    const TgaHeader h = ReadTgaHeader(r);
    std::int64_t before = 0;
    if (!netpbm && r.Ok() && PlausibleHeader(h)) {
      before = h.IdLength + (h.ColorMapType == 1 ? h.MapBytes() : 0);
      // The identification field and the colour map must be there, and some pixel data.
      ok = r.Fits(before + 1);
    }
  }
  Stream.Seek(pos, soBeginning);
  return ok;
}

void ReadTGAStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& IOParams, TProgressRec& Progress, bool Preview,
                   std::unique_ptr<TIEMask>& AlphaMask, bool IgnoreAlpha) {
  TIEReader r(Stream);

  IOParams.TGA_AUTHOR.clear();
  IOParams.TGA_IMAGENAME.clear();
  IOParams.TGA_DATE = IENow();
  IOParams.TGA_BACKGROUND = TRGB{};
  IOParams.TGA_ASPECTRATIO = 1.0;
  IOParams.TGA_GAMMA = 2.2;
  ReadExtension(r, IOParams);
  r.SeekOffset(0);

  const TgaHeader h = ReadTgaHeader(r);
  if (r.Failed()) return Progress.Fail("truncated TGA header");
  IOParams.TGA_XPOS = h.XOrigin;
  IOParams.TGA_YPOS = h.YOrigin;
  if (!h.KnownType() || !KnownDepth(h.PixelDepth)) return Progress.Fail("unsupported TGA image type or depth");
  const int depth = h.PixelDepth == 15 ? 16 : h.PixelDepth;
  const bool grey = h.Kind() == 3;

  std::string descriptor(h.IdLength, '\0');
  if (!r.Read(descriptor.data(), h.IdLength)) return Progress.Fail("truncated TGA identification field");
  IOParams.TGA_DESCRIPTOR = std::move(descriptor);

  // Indexes the file's colour map does not define keep this default palette.
  TgaPalette pal;
  for (int i = 0; i < 256; ++i) {
    pal.Colours[i] = CreateRGB(static_cast<std::uint8_t>((i >> 5) * 32 + 28),
                               static_cast<std::uint8_t>(((i >> 2) & 7) * 32 + 28),
                               static_cast<std::uint8_t>((i & 3) * 64 + 60));
    pal.Alpha[i] = 255;
  }
  bool hasMap = false;
  int mapCount = 0;
  if (h.ColorMapType == 1) {
    if (!r.Require(h.MapBytes())) return Progress.Fail("truncated TGA colour map");
    if (h.KnownMapEntry()) {
      hasMap = true;
      pal.HasAlpha = h.ColorMapEntryBits == 32;
      const int entryBytes = (h.ColorMapEntryBits + 7) / 8;
      // Entries past the 256 an 8-bit index reaches are read and dropped.
      for (int k = 0; k < h.ColorMapLength; ++k) {
        std::uint8_t e[4] = {};
        r.Read(e, entryBytes);
        const int i = h.ColorMapFirst + k;
        if (i > 255) continue;
        if (entryBytes == 2) {
          pal.Colours[i] = Colour15(U16At(e));
        } else {
          pal.Colours[i] = TRGB{e[0], e[1], e[2]};
          if (entryBytes == 4) pal.Alpha[i] = e[3];
        }
      }
      mapCount = std::min(256, h.ColorMapFirst + h.ColorMapLength);
    } else if (h.Kind() == 1) {
      return Progress.Fail("unsupported TGA colour map entry size");
    } else {
      r.Skip(h.MapBytes());  // a map a true-colour image does not need
    }
  }
  if (r.Failed()) return Progress.Fail("truncated TGA colour map");

  const bool mapped = hasMap && !grey;
  if (mapped) {
    IOParams.SetColorMap(pal.Colours, mapCount);
    IOParams.TGA_GRAYLEVEL = false;
  } else {
    IOParams.FreeColorMap();
    if (depth == 8 || (grey && depth == 16)) {
      for (int i = 0; i < 256; ++i) pal.Colours[i] = CreateRGB(std::uint8_t(i), std::uint8_t(i), std::uint8_t(i));
      pal.HasAlpha = false;
      IOParams.TGA_GRAYLEVEL = true;
    } else if (depth == 1) {
      pal.Colours[0] = CreateRGB(0, 0, 0);
      pal.Colours[1] = CreateRGB(255, 255, 255);
    }
  }
  IOParams.TGA_COMPRESSED = h.Compressed();

  const int width = h.Width, height = h.Height;
  IOParams.WIDTH = width;
  IOParams.HEIGHT = height;
  IOParams.ORIGINALWIDTH = width;
  IOParams.ORIGINALHEIGHT = height;
  IOParams.SetDpiX(gDefaultDPIX);
  IOParams.SetDpiY(gDefaultDPIY);
  // Grey with alpha is described as the colour image with alpha it becomes.
  struct Samples {
    int Depth, Bits, Count;
  };
  static constexpr Samples kSamples[] = {{1, 1, 1}, {4, 4, 1}, {8, 8, 1}, {16, 5, 3}, {24, 8, 3}, {32, 8, 4}};
  for (const Samples& s : kSamples)
    if (s.Depth == depth) {
      IOParams.BITSPERSAMPLE = s.Bits;
      IOParams.SAMPLESPERPIXEL = s.Count;
    }
  if (grey && depth == 16) {
    IOParams.BITSPERSAMPLE = 8;
    IOParams.SAMPLESPERPIXEL = 4;
  }
  if (Preview) return;

  if (width < 1 || height < 1) return Progress.Fail("bad TGA image size");
  if (!IEImageSizeAllowed(width, height, depth == 1 ? 1 : 24)) return Progress.Fail("TGA image too large");
  // Elements: bytes of packed pixels below 8 bits, else whole pixels.
  const int elementBytes = depth < 8 ? 1 : depth / 8;
  const int elements = depth == 1 ? (width + 7) / 8 : depth == 4 ? (width + 1) / 2 : width;
  // A cut file loads what it holds, but a header that claims a huge image
  // over a few bytes is refused before the image is allocated: the data must
  // hold a fair part of the shortest coding of the claimed rows.
  const std::int64_t total = std::int64_t(elements) * height;
  const std::int64_t shortest = h.Compressed() ? (total + 127) / 128 * (1 + elementBytes) : total * elementBytes;
  if (r.Remaining() * 16 < shortest) return Progress.Fail("TGA data far too short for the image size");
  Bitmap.ForceReallocate = true;
  if (!Bitmap.Allocate(width, height, depth == 1 ? ie1g : ie24RGB))
    return Progress.Fail("not enough memory for the TGA image");

  // 16-bit colour carries alpha in bit 15 when the descriptor counts alpha bits.
  const bool alpha15 = depth == 16 && !grey && (h.Descriptor & 0x0F) != 0;
  const bool alphaPixels =
      depth == 32 || (grey && depth == 16) || alpha15 || ((depth == 8 || depth == 4) && pal.HasAlpha);
  TIEMask* mask = nullptr;
  if (alphaPixels && !IgnoreAlpha) {
    if (!AlphaMask) AlphaMask = std::make_unique<TIEMask>();
    AlphaMask->AllocateBits(width, height, 8);
    AlphaMask->Fill(255);
    AlphaMask->AllSet = false;
    mask = AlphaMask.get();
  }

  std::vector<std::uint8_t> raw(std::size_t(elements) * elementBytes + 4, 0);
  TgaRowDecoder decoder(r, h.Compressed(), elementBytes);
  const bool topDown = h.TopDown(), reverse = h.RightToLeft();
  const auto monoMask = static_cast<std::uint8_t>(0xFF00 >> (((width - 1) & 7) + 1));
  bool complete = true;

  Progress.PerCentFactor = 100.0 / height;
  for (int done = 0; done < height && complete; ++done) {
    const int y = topDown ? done : height - 1 - done;
    std::uint8_t* row = Bitmap.GetScanLine(y);
    auto* out = reinterpret_cast<TRGB*>(row);
    std::uint8_t* alpha = mask != nullptr ? mask->GetScanLine(y) : nullptr;
    // True colour goes straight into the image row.
    complete = decoder.Row(depth == 24 ? row : raw.data(), elements);
    const std::uint8_t* s = raw.data();
    switch (depth) {
      case 1:
        std::memcpy(row, s, std::size_t(elements));
        row[elements - 1] &= monoMask;
        break;
      case 4:
        for (int x = 0; x < width; ++x) {
          const unsigned i = (s[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
          out[x] = pal.Colours[i];
          if (alpha) alpha[x] = pal.Alpha[i];
        }
        break;
      case 8:
        for (int x = 0; x < width; ++x) out[x] = pal.Colours[s[x]];
        if (alpha)
          for (int x = 0; x < width; ++x) alpha[x] = pal.Alpha[s[x]];
        break;
      case 16:
        if (grey) {
          for (int x = 0; x < width; ++x) {
            out[x] = pal.Colours[s[2 * x]];
            if (alpha) alpha[x] = s[2 * x + 1];
          }
        } else {
          for (int x = 0; x < width; ++x) out[x] = Colour15(U16At(s + 2 * x));
          if (alpha && alpha15)
            for (int x = 0; x < width; ++x) alpha[x] = (s[2 * x + 1] & 0x80) ? 255 : 0;
        }
        break;
      case 24:
        break;
      case 32:
        for (int x = 0; x < width; ++x) {
          out[x] = TRGB{s[4 * x], s[4 * x + 1], s[4 * x + 2]};
          if (alpha) alpha[x] = s[4 * x + 3];
        }
        break;
    }
    if (reverse) {
      if (depth == 1) ReverseRow1(row, width);
      else std::reverse(out, out + width);
      if (alpha) std::reverse(alpha, alpha + width);
    }
    Progress.ReportDone(done + 1);
    if (Progress.Aborted()) break;
  }

  // An alpha channel of nothing but 0 is taken for none: such files are
  // common and would otherwise load invisible.
  if (mask != nullptr) {
    bool any = false;
    for (int y = 0; y < height && !any; ++y) {
      const std::uint8_t* a = mask->GetScanLine(y);
      any = std::any_of(a, a + width, [](std::uint8_t v) { return v != 0; });
    }
    if (!any) AlphaMask.reset();
  }
  if (!complete) Progress.Fail("truncated TGA data");
}

}  // namespace pravik
