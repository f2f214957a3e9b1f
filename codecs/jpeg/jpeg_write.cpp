// JPEG encoding: ie24RGB rows go to libjpeg as they are (blue, green, red
// through libjpeg-turbo's extended input colour space, which also does the
// RGB and grey files); CMYK files and 1-bit images pass one row buffer.
#include <algorithm>
#include <memory>
#include <string>

#include "codecs/jpeg/jpeg.h"
#include "codecs/jpeg/jpeg_lib.h"
#include "codecs/jpeg/jpeg_private.h"
#include "image/bitmap.h"
#include "image/convert.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/stream.h"

namespace pravik {

using namespace jpegio;

namespace {

// File colour space and input colour space per TIOJPEGColorspace; anything
// else writes RGB.
struct ColourSpaceRow {
  J_COLOR_SPACE File;
  bool CMYKInput;
};
ColourSpaceRow FileColourSpace(TIOJPEGColorspace cs) {
  switch (cs) {
    case ioJPEG_GRAYLEV: return {JCS_GRAYSCALE, false};
    case ioJPEG_YCbCr: return {JCS_YCbCr, false};
    case ioJPEG_CMYK: return {JCS_CMYK, true};
    case ioJPEG_YCbCrK: return {JCS_YCCK, true};
    default: return {JCS_RGB, false};
  }
}

// Luminance sampling factors per TIOJPEGCromaSubsampling (chroma 1 x 1).
void LumaSampling(TIOJPEGCromaSubsampling s, int& h, int& v) {
  switch (s) {
    case ioJPEG_MEDIUM: h = 2, v = 1; break;
    case ioJPEG_NONE: h = 1, v = 1; break;
    default: h = 2, v = 2; break;
  }
}

UINT16 Density(int dpi, int fallback) {
  if (dpi <= 0) dpi = fallback;
  return static_cast<UINT16>(std::clamp(dpi, 1, 65535));
}

// Application and comment markers; libjpeg writes the Adobe marker (APP14)
// itself, and any other code in the list would break the file's structure.
bool IsWrittenMarker(std::uint8_t type) {
  return (type >= JPEG_APP0 && type <= JPEG_APP0 + 15 && type != JPEG_APP0 + 14) || type == JPEG_COM;
}

[[noreturn]] void Raise(Compressor& c, TProgressRec& progress) {
  const std::string text = c.err.message[0] != '\0' ? c.err.message : "JPEG encoding failed";
  progress.Fail(text);
  throw EIEJpegException(text);
}

}  // namespace

void WriteJPegStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
  if (width == 0 || height == 0 || bitmap.IsEmpty()) {
    progress.Fail("there is no image to save");
    return;
  }
  // ie1g rows are spread into a row buffer; other formats are written from a
  // converted copy, leaving the caller's bitmap as it is.
  TIEBitmap* source = &bitmap;
  std::unique_ptr<TIEBitmap> copy;
  const TIEPixelFormat pf = bitmap.GetPixelFormat();
  if (pf != ie24RGB && pf != ie1g) {
    copy = std::make_unique<TIEBitmap>();
    copy->Assign(bitmap);
    copy->ConvertToPixelFormat(ie24RGB);
    if (copy->GetPixelFormat() != ie24RGB) {
      progress.Fail("not enough memory to convert the image");
      return;
    }
    source = copy.get();
  }

  bool localAbort = false;
  bool* abortFlag = progress.AbortFlag != nullptr ? progress.AbortFlag : &localAbort;
  Compressor c;
  if (!c.Create()) Raise(c, progress);
  c.AttachDestination(stream, abortFlag);
  if (*abortFlag) return;

  jpeg_compress_struct& ci = c.cinfo;
  const ColourSpaceRow space = FileColourSpace(params.JPEG_COLORSPACE);
  ci.image_width = static_cast<JDIMENSION>(width);
  ci.image_height = static_cast<JDIMENSION>(height);
  ci.input_components = space.CMYKInput ? 4 : 3;
  ci.in_color_space = space.CMYKInput ? JCS_CMYK : JCS_EXT_BGR;
  const bool setUp = JpegGuarded(c.err, [&] {
    jpeg_set_defaults(&ci);
    jpeg_set_colorspace(&ci, space.File);
    ci.density_unit = 1;
    ci.X_density = Density(params.DPIX(), gDefaultDPIX);
    ci.Y_density = Density(params.DPIY(), gDefaultDPIY);
    ci.dct_method = JpegDctMethod(params.JPEG_DCTMETHOD);
    ci.optimize_coding = params.JPEG_OPTIMALHUFFMAN ? TRUE : FALSE;
    ci.smoothing_factor = std::clamp(params.JPEG_SMOOTH, 0, 100);
    // libjpeg takes quality 0 (the converter's lowest setting) as 1.
    jpeg_set_quality(&ci, params.JPEG_QUALITY, TRUE);
    if (space.File == JCS_YCbCr) {
      LumaSampling(params.JPEG_CROMASUBSAMPLING, ci.comp_info[0].h_samp_factor, ci.comp_info[0].v_samp_factor);
      ci.comp_info[1].h_samp_factor = ci.comp_info[1].v_samp_factor = 1;
      ci.comp_info[2].h_samp_factor = ci.comp_info[2].v_samp_factor = 1;
    }
    // A CMYK file carries a JFIF header besides libjpeg's Adobe marker.
    if (space.File == JCS_CMYK) ci.write_JFIF_header = TRUE;
    if (params.JPEG_PROGRESSIVE) jpeg_simple_progression(&ci);
    jpeg_start_compress(&ci, TRUE);
  });
  if (!setUp) Raise(c, progress);

  // Markers in their order.
  TIEMarkerList& markers = params.JPEG_MARKERLIST;
  markers.Sort();
  const bool wroteMarkers = JpegGuarded(c.err, [&] {
    for (const TIEMarker& m : markers.Markers())
      if (IsWrittenMarker(m.Type))
        jpeg_write_marker(&ci, m.Type, m.Data.data(), static_cast<unsigned>(m.Data.size()));
  });
  if (!wroteMarkers) Raise(c, progress);

  std::unique_ptr<std::uint8_t[]> rgbRow, cmykRow;
  if (source->GetPixelFormat() == ie1g) rgbRow = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(width) * 3);
  if (space.CMYKInput) cmykRow = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(width) * 4);
  static constexpr TRGB kBlackWhite[2] = {TRGB{0, 0, 0}, TRGB{255, 255, 255}};
  progress.PerCentFactor = 100.0 / height;
  int lastPer = 0;
  while (static_cast<int>(ci.next_scanline) < height) {
    const int y = static_cast<int>(ci.next_scanline);
    std::uint8_t* row = source->GetScanLine(y);
    if (source->GetPixelFormat() == ie1g) {
      _ConvertXBitsToYBits(row, rgbRow.get(), 1, 24, width, kBlackWhite, 2, nullptr);
      row = rgbRow.get();
    }
    if (space.CMYKInput) {
      // Complemented ink, which libjpeg stores as Adobe-style inverted CMYK.
      IEConvertColorFunction(row, iecmsBGR, cmykRow.get(), iecmsCMYK, width, &params);
      row = cmykRow.get();
    }
    JSAMPROW rowPtr = row;
    if (!JpegGuarded(c.err, [&] { jpeg_write_scanlines(&ci, &rowPtr, 1); })) Raise(c, progress);
    const int per = static_cast<int>((y + 1) * progress.PerCentFactor);
    if (per != lastPer) {
      lastPer = per;
      progress.Report(per);
    }
    if (*abortFlag) break;
  }
  if (*abortFlag) return;  // the file stays as far as it got; the front discards it
  if (!JpegGuarded(c.err, [&ci] { jpeg_finish_compress(&ci); })) Raise(c, progress);
}

}  // namespace pravik
