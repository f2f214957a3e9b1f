// PCX writer: 1 bit (two colours), 4 bits (16-colour header palette), 8 bits
// (256-colour palette at the end) or 24 bits in three planes.
#include <cstring>
#include <memory>
#include <vector>

#include "codecs/pcx/pcx.h"
#include "codecs/pcx/pcx_private.h"
#include "image/bitmap.h"
#include "image/convert.h"
#include "image/quantize.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/reader.h"
#include "imageio/stream.h"

namespace pravik {

namespace {

// Run-length codes one line of n bytes: runs of up to 63 equal bytes, and
// single bytes that would read as a run header, become (192 + count, byte).
// out has room for 2 n bytes. Returns the coded length.
std::size_t PcxEncodeLine(const std::uint8_t* src, std::size_t n, std::uint8_t* out) {
  std::uint8_t* o = out;
  std::size_t i = 0;
  while (i < n) {
    // Bytes that stand for themselves go out in one copy.
    std::size_t j = i;
    while (j < n && src[j] < 0xC0 && (j + 1 == n || src[j + 1] != src[j])) ++j;
    std::memcpy(o, src + i, j - i);
    o += j - i;
    i = j;
    if (i == n) break;
    const std::uint8_t b = src[i];
    std::size_t run = 1;
    while (i + run < n && run < 63 && src[i + run] == b) ++run;
    *o++ = static_cast<std::uint8_t>(0xC0 | run);
    *o++ = b;
    i += run;
  }
  return static_cast<std::size_t>(o - out);
}

void WriteHeader(TIEWriter& w, const PcxHeader& h) {
  w.U8(h.Manufacturer);
  w.U8(h.Version);
  w.U8(h.Encoding);
  w.U8(h.BitsPerPixel);
  w.U16LE(h.XMin);
  w.U16LE(h.YMin);
  w.U16LE(h.XMax);
  w.U16LE(h.YMax);
  w.U16LE(h.HRes);
  w.U16LE(h.VRes);
  for (const TRGB& c : h.Palette) {
    w.U8(c.r);
    w.U8(c.g);
    w.U8(c.b);
  }
  w.U8(0);
  w.U8(h.Planes);
  w.U16LE(h.BytesPerLine);
  w.U16LE(h.PaletteInfo);
  w.Fill(0, 58);
}

}  // namespace

void WritePcxStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& IOParams, TProgressRec& Progress) {
  const int width = Bitmap.GetWidth(), height = Bitmap.GetHeight();
  if (Bitmap.IsEmpty() || width < 1 || height < 1) return Progress.Fail("there is no image to save");

  int depth = IOParams.BITSPERSAMPLE == 1 ? 1 : IOParams.BITSPERSAMPLE * IOParams.SAMPLESPERPIXEL;
  // Depths PCX has no layout for are written as true colour.
  if (depth != 1 && depth != 4 && depth != 8) depth = 24;

  PcxHeader h;
  h.Version = static_cast<std::uint8_t>(IOParams.PCX_VERSION);
  h.Encoding = IOParams.PCX_COMPRESSION != ioPCX_UNCOMPRESSED ? 1 : 0;
  h.XMax = static_cast<std::uint16_t>(width - 1);
  h.YMax = static_cast<std::uint16_t>(height - 1);
  h.HRes = static_cast<std::uint16_t>(IOParams.DPIX());
  h.VRes = static_cast<std::uint16_t>(IOParams.DPIY());
  std::int64_t bpl = depth == 1 ? (width + 7) / 8 : depth == 4 ? (width + 1) / 2 : width;
  bpl += bpl & 1;  // always even
  if (width > 65536 || height > 65536 || bpl > 65535) return Progress.Fail("image too large for PCX");
  h.BytesPerLine = static_cast<std::uint16_t>(bpl);
  h.BitsPerPixel = depth == 24 ? 8 : static_cast<std::uint8_t>(depth);
  h.Planes = depth == 24 ? 3 : 1;
  h.PaletteInfo = depth == 24 ? 0 : 1;

  // The source in the pixel format the depth is taken from.
  TIEBitmap* src = &Bitmap;
  std::unique_ptr<TIEBitmap> temp;
  if (depth == 1) {
    h.Palette[0] = CreateRGB(0, 0, 0);
    h.Palette[1] = CreateRGB(255, 255, 255);
    if (Bitmap.GetPixelFormat() != ie1g) {
      temp = IETwoLevelCopy(Bitmap, h.Palette[0], h.Palette[1]);
      if (!temp) return Progress.Fail("not enough memory for the PCX image");
      src = temp.get();
    }
  } else if (Bitmap.GetPixelFormat() != ie24RGB) {
    temp = std::make_unique<TIEBitmap>(width, height, ie24RGB);
    temp->CopyAndConvertFormat(Bitmap);
    src = temp.get();
  }
  if (src->IsEmpty()) return Progress.Fail("not enough memory for the PCX image");

  TRGB palette256[256];
  std::unique_ptr<TIEQuantizer> quantizer;
  if (depth == 4 || depth == 8) {
    quantizer = std::make_unique<TIEQuantizer>(*src, depth == 4 ? h.Palette : palette256, 255, depth == 4 ? 16 : 256);
  }

  bool localAbort = false;
  bool& abortFlag = Progress.AbortFlag != nullptr ? *Progress.AbortFlag : localAbort;
  TIEWriter w(Stream, abortFlag);
  WriteHeader(w, h);

  const std::size_t lineLen = h.BytesPerLine;
  std::vector<std::uint8_t> lines(lineLen * h.Planes, 0);
  std::vector<std::uint8_t> coded(lineLen * 2);
  Progress.PerCentFactor = 100.0 / height;
  for (int y = 0; y < height; ++y) {
    Progress.ReportDone(y);
    if (Progress.Aborted()) return;
    const std::uint8_t* row = src->GetScanLine(y);
    const auto* px = reinterpret_cast<const TRGB*>(row);
    switch (depth) {
      case 1:
        std::memcpy(lines.data(), row, static_cast<std::size_t>((width + 7) / 8));
        break;
      case 4:
        std::memset(lines.data(), 0, lineLen);
        for (int x = 0; x < width; ++x)
          lines[x >> 1] |= static_cast<std::uint8_t>(quantizer->GetRGBIndex(px[x]) << ((x & 1) ? 0 : 4));
        break;
      case 8:
        for (int x = 0; x < width; ++x) lines[x] = static_cast<std::uint8_t>(quantizer->GetRGBIndex(px[x]));
        break;
      default: {
        std::uint8_t* red = lines.data();
        std::uint8_t* green = red + lineLen;
        std::uint8_t* blue = green + lineLen;
        for (int x = 0; x < width; ++x) {
          red[x] = px[x].r;
          green[x] = px[x].g;
          blue[x] = px[x].b;
        }
      }
    }
    // Lines are padded with zeros to the even length, so a coded line also
    // decodes to exactly bytes-per-line bytes.
    for (int p = 0; p < h.Planes; ++p) {
      const std::uint8_t* line = &lines[lineLen * p];
      if (h.Encoding == 1) w.Write(coded.data(), static_cast<std::int64_t>(PcxEncodeLine(line, lineLen, coded.data())));
      else w.Write(line, static_cast<std::int64_t>(lineLen));
    }
  }
  if (depth == 8 && !w.Aborted()) {
    w.U8(0x0C);
    for (const TRGB& c : palette256) {
      w.U8(c.r);
      w.U8(c.g);
      w.U8(c.b);
    }
  }
  w.Flush();
  Progress.ReportDone(height);
}

}  // namespace pravik
