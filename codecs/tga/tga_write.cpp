// TGA writer: colour-mapped (2, 16 or 256 colours), 8-bit grey, 24-bit and
// 32-bit (with alpha) images, run-length coded where the parameters ask,
// followed by the version-2 extension area and footer. Also the TGA parts of
// the load and save frames.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "codecs/tga/tga.h"
#include "codecs/tga/tga_private.h"
#include "image/bitmap.h"
#include "image/colour.h"
#include "image/convert.h"
#include "image/mask.h"
#include "image/quantize.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/reader.h"
#include "imageio/stream.h"

namespace pravik {

namespace {

// Run-length codes a row of n elements of `size` bytes: runs of 2 to 128
// equal elements become run packets, everything between them raw packets of
// up to 128 elements. Packets never cross rows. Returns the coded length;
// out has room for n * (size + 1) bytes.
template <int size>
std::size_t TgaEncodeRowOf(const std::uint8_t* src, int n, std::uint8_t* out) {
  auto same = [&](int a, int b) { return std::memcmp(src + a * size, src + b * size, std::size_t(size)) == 0; };
  std::uint8_t* o = out;
  int i = 0;
  while (i < n) {
    int run = 1;
    while (i + run < n && run < 128 && same(i, i + run)) ++run;
    if (run >= 2) {
      *o++ = static_cast<std::uint8_t>(0x80 | (run - 1));
      std::memcpy(o, src + i * size, std::size_t(size));
      o += size;
      i += run;
      continue;
    }
    // Raw up to, not including, the first element that starts a run.
    int count = 0;
    while (i + count < n && count < 128 && !(i + count + 1 < n && same(i + count, i + count + 1))) ++count;
    *o++ = static_cast<std::uint8_t>(count - 1);
    std::memcpy(o, src + i * size, std::size_t(count) * size);
    o += std::size_t(count) * size;
    i += count;
  }
  return static_cast<std::size_t>(o - out);
}

std::size_t TgaEncodeRow(const std::uint8_t* src, int n, int size, std::uint8_t* out) {
  switch (size) {
    case 1: return TgaEncodeRowOf<1>(src, n, out);
    case 3: return TgaEncodeRowOf<3>(src, n, out);
    default: return TgaEncodeRowOf<4>(src, n, out);
  }
}

// A ratio as a 16-bit numerator over 10000, or over a smaller denominator
// when the value does not fit; 0 / 0 (not given) for values that are not positive.
void Ratio16(double v, std::uint16_t& num, std::uint16_t& den) {
  num = den = 0;
  if (!(v > 0) || !std::isfinite(v)) return;
  double d = 10000;
  if (v * d > 65535) d = std::max(1.0, std::floor(65535 / v));
  num = static_cast<std::uint16_t>(std::min(65535.0, std::round(v * d)));
  den = static_cast<std::uint16_t>(d);
}

void FixedText(TIEWriter& w, const std::string& s, int size) {
  const int n = std::min(static_cast<int>(s.size()), size - 1);
  w.Write(s.data(), n);
  w.Fill(0, size - n);
}

void WriteExtensionAndFooter(TIEWriter& w, const TIOParamsVals& p, std::int64_t start, bool alpha) {
  const std::int64_t offset = w.Position() - start;
  w.U16LE(kTgaExtensionSize);
  FixedText(w, p.TGA_AUTHOR, 41);
  w.Fill(0, 324);  // comments
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (IEDecodeDate(p.TGA_DATE, year, month, day) && year > 0 && year < 65536) {
    const double frac = p.TGA_DATE - std::floor(p.TGA_DATE);
    const int secs = std::min(86399, static_cast<int>(std::lround(frac * 86400)));
    hour = secs / 3600;
    minute = secs / 60 % 60;
    second = secs % 60;
  } else {
    year = month = day = 0;
  }
  for (int v : {month, day, year, hour, minute, second}) w.U16LE(static_cast<std::uint16_t>(v));
  FixedText(w, p.TGA_IMAGENAME, 41);
  w.Fill(0, 50);  // job time, software id and version
  w.U8(0);
  w.U8(p.TGA_BACKGROUND.r);
  w.U8(p.TGA_BACKGROUND.g);
  w.U8(p.TGA_BACKGROUND.b);
  std::uint16_t num, den;
  Ratio16(p.TGA_ASPECTRATIO, num, den);
  w.U16LE(num);
  w.U16LE(den);
  Ratio16(p.TGA_GAMMA, num, den);
  w.U16LE(num);
  w.U16LE(den);
  w.Fill(0, 12);  // colour correction, postage stamp and scan-line offsets
  w.U8(alpha ? 3 : 0);  // attributes: 3 = the alpha channel holds real data
  w.U32LE(static_cast<std::uint32_t>(offset));
  w.U32LE(0);
  w.Write(kTgaSignature, 18);  // with its 0 byte
}

}  // namespace

void WriteTGAStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& IOParams, TProgressRec& Progress,
                    const TIEMask* AlphaMask) {
  const TIEPixelFormat pf = Bitmap.GetPixelFormat();
  if (Bitmap.IsEmpty() || (pf != ie24RGB && pf != ie1g)) return Progress.Fail("TGA writer needs a colour or black-and-white image");
  const int width = Bitmap.GetWidth(), height = Bitmap.GetHeight();
  if (width > 65535 || height > 65535) return Progress.Fail("image too large for TGA");
  if (AlphaMask != nullptr && (AlphaMask->Width() != width || AlphaMask->Height() != height)) AlphaMask = nullptr;

  // What is asked: 1 bit (two colours), 16 or 256 colours, or true colour.
  int asked;
  if (IOParams.SAMPLESPERPIXEL == 1) {
    asked = IOParams.BITSPERSAMPLE == 1 || IOParams.BITSPERSAMPLE == 4 || IOParams.BITSPERSAMPLE == 8
                ? IOParams.BITSPERSAMPLE
                : 24;  // other grey depths keep every colour
  } else {
    asked = AlphaMask == nullptr || AlphaMask->AllSet ? 24 : 32;
  }
  if (asked == 32) IOParams.TGA_COMPRESSED = false;
  if (asked == 4 || asked == 8) IOParams.COLORMAPCOUNT = 1 << asked;
  const bool rle = IOParams.TGA_COMPRESSED;
  const bool grey = asked == 8 && IOParams.TGA_GRAYLEVEL;
  // Palette images are stored as 8-bit indexes into a map of 2, 16 or 256
  // entries: 1- and 4-bit pixels are not TGA layouts other readers take, and
  // a map keeps the two colours of a two-colour image.
  const bool mapped = asked == 1 || asked == 4 || (asked == 8 && !grey);
  const int mapLength = asked == 1 ? 2 : asked == 4 ? 16 : 256;
  const int depth = asked <= 8 ? 8 : asked;

  // The source in the pixel format the rows are taken from.
  TRGB palette[256];
  TIEBitmap* src = &Bitmap;
  std::unique_ptr<TIEBitmap> temp;
  if (asked == 1) {
    palette[0] = CreateRGB(0, 0, 0);
    palette[1] = CreateRGB(255, 255, 255);
    if (pf != ie1g) {
      temp = IETwoLevelCopy(Bitmap, palette[0], palette[1]);
      if (!temp) return Progress.Fail("not enough memory for the TGA image");
    }
  } else if (pf != ie24RGB) {
    temp = std::make_unique<TIEBitmap>(width, height, ie24RGB);
    temp->CopyAndConvertFormat(Bitmap);
  }
  if (temp) src = temp.get();
  if (src->IsEmpty()) return Progress.Fail("not enough memory for the TGA image");
  std::unique_ptr<TIEQuantizer> quantizer;
  if (mapped && asked != 1) quantizer = std::make_unique<TIEQuantizer>(*src, palette, 255, mapLength);

  bool localAbort = false;
  bool& abortFlag = Progress.AbortFlag != nullptr ? *Progress.AbortFlag : localAbort;
  TIEWriter w(Stream, abortFlag);
  const std::int64_t start = w.Position();

  const std::string& id = IOParams.TGA_DESCRIPTOR;
  const int idLength = std::min(static_cast<int>(id.size()), 254);
  w.U8(static_cast<std::uint8_t>(idLength + 1));
  w.U8(mapped ? 1 : 0);
  const int kind = mapped ? 1 : grey ? 3 : 2;
  w.U8(static_cast<std::uint8_t>(kind + (rle ? 8 : 0)));
  w.U16LE(0);
  // A grey image carries no map, so its map fields stay 0.
  w.U16LE(static_cast<std::uint16_t>(mapped ? mapLength : 0));
  w.U8(mapped ? 24 : 0);
  w.U16LE(static_cast<std::uint16_t>(IOParams.TGA_XPOS));
  w.U16LE(static_cast<std::uint16_t>(IOParams.TGA_YPOS));
  w.U16LE(static_cast<std::uint16_t>(width));
  w.U16LE(static_cast<std::uint16_t>(height));
  w.U8(static_cast<std::uint8_t>(depth));
  w.U8(depth == 32 ? 0x28 : 0x20);
  w.Write(id.data(), idLength);
  w.U8(0);
  if (mapped)
    for (int i = 0; i < mapLength; ++i) w.Write(&palette[i], 3);

  const int pixelBytes = depth / 8;
  std::vector<std::uint8_t> line(std::size_t(width) * pixelBytes, 0);
  std::vector<std::uint8_t> coded(rle ? std::size_t(width) * (pixelBytes + 1) : 0);
  Progress.PerCentFactor = 100.0 / height;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = src->GetScanLine(y);
    const auto* px = reinterpret_cast<const TRGB*>(row);
    const std::uint8_t* out = line.data();
    if (asked == 1) {
      for (int x = 0; x < width; ++x) line[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
    } else if (grey) {
      for (int x = 0; x < width; ++x) line[x] = _RGBToGray(px[x]);
    } else if (mapped) {
      for (int x = 0; x < width; ++x) line[x] = static_cast<std::uint8_t>(quantizer->GetRGBIndex(px[x]));
    } else if (depth == 24) {
      out = row;
    } else {
      const std::uint8_t* a = AlphaMask->GetScanLine(y);
      for (int x = 0; x < width; ++x) {
        std::memcpy(&line[4 * std::size_t(x)], &px[x], 3);
        line[4 * std::size_t(x) + 3] = a[x];
      }
    }
    if (rle) w.Write(coded.data(), static_cast<std::int64_t>(TgaEncodeRow(out, width, pixelBytes, coded.data())));
    else w.Write(out, std::int64_t(width) * pixelBytes);
    Progress.ReportDone(y + 1);
  }
  WriteExtensionAndFooter(w, IOParams, start, depth == 32);
  w.Flush();
}

// ---- frames ---------------------------------------------------------------------------------------

void IETGALoad(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview) {
  bitmap.RemoveAlphaChannel();
  std::unique_ptr<TIEMask> mask;
  ReadTGAStream(stream, bitmap, params, progress, preview, mask, false);
  if (mask && !preview && !bitmap.IsEmpty()) bitmap.GetAlphaChannel()->CopyFromTIEMask(mask.get());
}

void IETGASave(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  std::unique_ptr<TIEMask> mask;
  if (bitmap.GetHasAlphaChannel()) {
    mask = std::make_unique<TIEMask>();
    bitmap.GetAlphaChannel()->CopyToTIEMask(*mask);
  }
  WriteTGAStream(stream, bitmap, params, progress, mask.get());
}

}  // namespace pravik
