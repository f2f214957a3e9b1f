// PNG decoding: libpng delivers rows in the bitmap's own layout (blue, green,
// red; little-endian 16-bit grey; packed 1-bit) and reads them straight into
// the bitmap. Only images with transparency pass a buffer, which is split
// into colour and alpha.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "codecs/png/png_codec.h"
#include "codecs/png/png_lib.h"
#include "image/bitmap.h"
#include "image/mask.h"
#include "imageio/limits.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/stream.h"

namespace pravik {

using namespace pngio;

namespace {

// A bKGD value at the file's depth as an 8-bit level.
std::uint8_t Level8(unsigned value, int depth) {
  if (depth == 16) return static_cast<std::uint8_t>(value >> 8);
  if (depth >= 8) return static_cast<std::uint8_t>(value);
  const unsigned maxValue = (1u << depth) - 1;
  return static_cast<std::uint8_t>(std::min(value, maxValue) * 255 / maxValue);
}

int DpiFromPixelsPerMetre(png_uint_32 ppm, int fallback) {
  const int dpi = static_cast<int>(std::nearbyint(ppm / 100.0 * 2.54));
  return dpi == 0 ? fallback : dpi;
}

class PngReader {
 public:
  PngReader(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress)
      : s_(stream), bitmap_(bitmap), params_(params), progress_(progress) {}

  void Run(bool headerOnly);

 private:
  bool Fail(const char* fallback) {
    progress_.Fail(s_.ctx.message[0] != '\0' ? s_.ctx.message : fallback);
    return false;
  }
  bool ReadHeader();
  void ReadTexts();
  bool ReadRows();
  void SplitAlpha(const std::uint8_t* rgba, int y);

  PngReadStruct s_;
  TIEBitmap& bitmap_;
  TIOParamsVals& params_;
  TProgressRec& progress_;
  png_uint_32 width_ = 0, height_ = 0;
  int depth_ = 0, colourType_ = 0, interlace_ = 0, passes_ = 1;
  bool native_ = false;
};

bool PngReader::ReadHeader() {
  png_structp png = s_.png;
  png_infop info = s_.info;
  if (!PngGuarded(png, [&] {
        png_read_info(png, info);
        png_get_IHDR(png, info, &width_, &height_, &depth_, &colourType_, &interlace_, nullptr, nullptr);
      }))
    return Fail("not a PNG file");

  ReadTexts();
  png_color_16p bg = nullptr;
  if (png_get_bKGD(png, info, &bg) != 0 && bg != nullptr) {
    // libpng gives the palette colour for palette files and the grey level in
    // all three channels for grey files, at the file's depth.
    const int depth = colourType_ == PNG_COLOR_TYPE_PALETTE ? 8 : depth_;
    params_.PNG_BACKGROUND = CreateRGB(Level8(bg->red, depth), Level8(bg->green, depth), Level8(bg->blue, depth));
  }

  // Grey and palette files of 8 and 16 bits keep their own pixel formats when
  // asked to, unless they carry tRNS: transparency needs the RGB + alpha form.
  const bool greyOrPalette = colourType_ == PNG_COLOR_TYPE_GRAY || colourType_ == PNG_COLOR_TYPE_PALETTE;
  const bool hasTRNS = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  native_ = params_.ISNATIVEPIXELFORMAT && (depth_ == 8 || depth_ == 16) && greyOrPalette && !hasTRNS;
  const bool setUp = PngGuarded(png, [&] {
    if (native_) {
      if (depth_ == 16) png_set_swap(png);
    } else if (depth_ == 1 && colourType_ == PNG_COLOR_TYPE_GRAY && !hasTRNS) {
      // Packed 1-bit rows are ie1g rows as they stand (1 = white).
    } else {
      // Everything else becomes 8-bit blue, green, red (+ alpha); 1-bit
      // palette files too, whose colours libpng looks up itself.
      png_set_expand(png);
      png_set_strip_16(png);
      png_set_packing(png);
      if (colourType_ == PNG_COLOR_TYPE_GRAY || colourType_ == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
      png_set_bgr(png);
      if (hasTRNS) png_set_tRNS_to_alpha(png);
    }
    passes_ = png_set_interlace_handling(png);
    png_read_update_info(png, info);
  });
  if (!setUp) return Fail("bad PNG header");

  params_.WIDTH = params_.ORIGINALWIDTH = static_cast<std::int32_t>(width_);
  params_.HEIGHT = params_.ORIGINALHEIGHT = static_cast<std::int32_t>(height_);
  params_.BITSPERSAMPLE = depth_;
  switch (colourType_) {
    case PNG_COLOR_TYPE_GRAY_ALPHA: params_.SAMPLESPERPIXEL = 2; break;
    case PNG_COLOR_TYPE_RGB: params_.SAMPLESPERPIXEL = 3; break;
    case PNG_COLOR_TYPE_RGB_ALPHA: params_.SAMPLESPERPIXEL = 4; break;
    default: params_.SAMPLESPERPIXEL = 1; break;
  }
  params_.SetDpiX(DpiFromPixelsPerMetre(png_get_x_pixels_per_meter(png, info), gDefaultDPIX));
  params_.SetDpiY(DpiFromPixelsPerMetre(png_get_y_pixels_per_meter(png, info), gDefaultDPIY));

  params_.FreeColorMap();
  png_colorp palette = nullptr;
  int count = 0;
  if (colourType_ == PNG_COLOR_TYPE_PALETTE && png_get_PLTE(png, info, &palette, &count) != 0 && count > 0) {
    TRGB colours[256];
    count = std::min(count, 256);
    for (int i = 0; i < count; ++i) colours[i] = CreateRGB(palette[i].red, palette[i].green, palette[i].blue);
    params_.SetColorMap(colours, count);
  }
  params_.PNG_INTERLACED = interlace_ != PNG_INTERLACE_NONE;
  return true;
}

void PngReader::ReadTexts() {
  png_textp text = nullptr;
  int count = 0;
  params_.PNG_TEXTKEYS.clear();
  params_.PNG_TEXTVALUES.clear();
  if (png_get_text(s_.png, s_.info, &text, &count) <= 0 || text == nullptr) return;
  for (int i = 0; i < count; ++i) {
    params_.PNG_TEXTKEYS.emplace_back(text[i].key != nullptr ? text[i].key : "");
    params_.PNG_TEXTVALUES.emplace_back(text[i].text != nullptr ? text[i].text : "", text[i].text_length);
  }
}

void PngReader::SplitAlpha(const std::uint8_t* rgba, int y) {
  std::uint8_t* colour = bitmap_.GetScanLine(y);
  std::uint8_t* alpha = bitmap_.GetAlphaChannel()->GetScanLine(y);
  for (png_uint_32 x = 0; x < width_; ++x) {
    std::memcpy(colour + 3 * x, rgba + 4 * x, 3);
    alpha[x] = rgba[4 * x + 3];
  }
}

bool PngReader::ReadRows() {
  png_structp png = s_.png;
  const int channels = png_get_channels(png, s_.info);
  const std::size_t rowBytes = png_get_rowbytes(png, s_.info);
  const int width = static_cast<int>(width_), height = static_cast<int>(height_);

  TIEPixelFormat format = ie24RGB;
  if (native_) format = colourType_ == PNG_COLOR_TYPE_PALETTE ? ie8p : depth_ == 16 ? ie16g : ie8g;
  else if (channels == 1) format = ie1g;
  const bool alpha = channels == 4;
  if (!IEImageSizeAllowed(width, height, alpha ? 32 : IEPixelFormatBits[format])) return Fail("PNG image too large");
  bitmap_.ForceReallocate = true;  // rows the decoder does not reach stay 0
  if (!bitmap_.Allocate(width, height, format)) return Fail("not enough memory for the PNG image");
  // The row libpng delivers must be the row we give it room for.
  const std::size_t expected = alpha ? std::size_t(4) * width_ : static_cast<std::size_t>(bitmap_.GetRowLen());
  if (alpha ? rowBytes != expected : rowBytes > expected)
    return Fail("unsupported PNG layout");
  if (format == ie8p) {
    for (int i = 0; i < static_cast<int>(params_.COLORMAP.size()); ++i) bitmap_.SetPalette(i, params_.COLORMAP[i]);
    bitmap_.PaletteColorCount = 1 << depth_;
  }

  // Alpha rows are split off a buffer: one row, or for interlaced files the
  // whole image, where the passes accumulate.
  std::unique_ptr<std::uint8_t[]> buffer;
  const bool whole = alpha && passes_ > 1;
  if (alpha) {
    bitmap_.GetAlphaChannel()->AllSet = false;
    buffer = std::make_unique<std::uint8_t[]>(expected * (whole ? height_ : 1));
  }

  progress_.PerCentFactor = 100.0 / (static_cast<double>(height) * passes_);
  int lastPer = 0;
  std::int64_t done = 0;
  bool ok = true;
  for (int pass = 0; pass < passes_ && ok; ++pass) {
    for (int y = 0; y < height; ++y) {
      png_bytep row = !alpha ? bitmap_.GetScanLine(y) : whole ? buffer.get() + expected * y : buffer.get();
      if (!PngGuarded(png, [png, row] { png_read_row(png, row, nullptr); })) {
        ok = Fail("bad PNG data");
        break;
      }
      if (alpha && !whole) SplitAlpha(row, y);
      const int per = static_cast<int>(++done * progress_.PerCentFactor);
      if (per != lastPer) {
        lastPer = per;
        progress_.Report(per);
      }
      if (progress_.Aborted()) {
        ok = false;
        break;
      }
    }
  }
  if (whole)
    for (int y = 0; y < height; ++y) SplitAlpha(buffer.get() + expected * y, y);
  return ok;
}

void PngReader::Run(bool headerOnly) {
  if (!s_.Ok()) {
    progress_.Fail("cannot start the PNG decoder");
    return;
  }
  if (!ReadHeader() || headerOnly || !ReadRows()) return;
  png_structp png = s_.png;
  png_infop info = s_.info;
  // Chunks after the image data: text is kept; a file that ends before its
  // IEND marker still holds the whole image.
  if (PngGuarded(png, [png, info] { png_read_end(png, info); })) {
    ReadTexts();
  } else if (!s_.ctx.shortRead) {
    Fail("bad PNG data after the image");
  }
}

}  // namespace

void ReadPNGStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool headerOnly,
                   TProgressRec& progress) {
  PngReader reader(stream, bitmap, params, progress);
  reader.Run(headerOnly);
}

bool IsPNGStream(TStream& stream) {
  const std::int64_t pos = stream.GetPosition();
  if (pos < 0 || stream.GetSize() - pos <= 8) return false;
  std::uint8_t sig[8];
  const std::int64_t got = stream.Read(sig, 8);
  stream.Seek(pos, soBeginning);
  return got == 8 && sig[0] == 0x89 && sig[1] == 'P' && sig[2] == 'N' && sig[3] == 'G';
}

void PNGFrameRead(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview) {
  bitmap.RemoveAlphaChannel();
  ReadPNGStream(stream, bitmap, params, preview, progress);
}

void PNGFrameWrite(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  std::unique_ptr<TIEMask> mask;
  if (bitmap.GetHasAlphaChannel()) {
    mask = std::make_unique<TIEMask>();
    bitmap.GetAlphaChannel()->CopyToTIEMask(*mask);
  }
  WritePNGStream(stream, bitmap, params, mask.get(), progress);
}

}  // namespace pravik
