// PNG encoding. Colour type and depth follow the record: SAMPLESPERPIXEL 1
// asks for a grey or palette file (through the quantizer), anything else for
// RGB (+ alpha from the mask). Rows already in the file's layout (RGB, 16-bit
// RGB and grey, 8-bit grey, 1-bit) go to libpng straight from the bitmap;
// the others are built in one row buffer.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "codecs/png/png_codec.h"
#include "codecs/png/png_lib.h"
#include "image/bitmap.h"
#include "image/colour.h"
#include "image/convert.h"
#include "image/mask.h"
#include "image/quantize.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/stream.h"

namespace pravik {

using namespace pngio;

namespace {

constexpr const char* kCreateError = "Error on creating PNG";

// How each file row is made.
enum class RowKind : std::uint8_t {
  kBitmapRow,     // the bitmap row as it is
  kRGBA,          // ie24RGB or ie48RGB colour and the mask's alpha
  kPaletteIndex,  // ie8p indexes through a table
  kPaletteRGB,    // ie24RGB colours through the quantizer
  kPaletteAlpha,  // index 0 where the mask is not opaque, quantizer index + 1 elsewhere
  kGrey,          // grey levels of ie24RGB, ie8g or ie8p rows, at depth 8 or 16
  kPaletteExact,  // each colour-and-alpha pair its own entry
};

png_uint_32 PixelsPerMetre(int dpi, int fallback) {
  if (dpi <= 0) dpi = fallback;
  return static_cast<png_uint_32>(std::nearbyint(dpi * 100 / 2.54));
}

// A keyword libpng can store: after its clean-up (unprintable characters to
// spaces, spaces trimmed) something must remain.
bool UsableKeyword(const std::string& key) {
  for (unsigned char c : key)
    if ((c > 32 && c < 127) || c >= 161) return true;
  return false;
}

class PngWriter {
 public:
  PngWriter(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TIEMask* mask, TProgressRec& progress)
      : bitmap_(bitmap), params_(params), progress_(progress),
        abortFlag_(progress.AbortFlag != nullptr ? progress.AbortFlag : &localAbort_), s_(stream, abortFlag_) {
    if (mask != nullptr && !mask->AllSet && mask->BitsPerPixel() == 8 && mask->Width() == bitmap.GetWidth() &&
        mask->Height() == bitmap.GetHeight())
      mask_ = mask;
  }

  void Run();

 private:
  [[noreturn]] void Raise();
  bool Choose();
  void ChoosePalette(bool transparent);
  bool PartialAlpha() const;
  bool ChooseExactAlphaPalette();
  std::uint32_t ColourKey(const std::uint8_t* src, const std::uint8_t* alpha, int x) const;
  void SetUp();
  const std::uint8_t* MakeRow(int y);

  TIEBitmap& bitmap_;
  TIOParamsVals& params_;
  TProgressRec& progress_;
  bool localAbort_ = false;
  bool* abortFlag_;
  PngWriteStruct s_;
  TIEMask* mask_ = nullptr;  // null: no transparency

  TIEBitmap* image_ = &bitmap_;  // what is encoded: the bitmap or a converted copy
  std::unique_ptr<TIEBitmap> copy_;
  std::unique_ptr<TIEQuantizer> quantizer_;
  TRGB quantPalette_[256]{};
  std::vector<png_color> filePalette_;
  std::uint8_t indexTable_[256]{};  // ie8p index -> file index
  std::vector<png_byte> entryAlpha_;  // tRNS of kPaletteExact
  std::unordered_map<std::uint32_t, std::uint8_t> exactIndex_;  // ColourKey -> file index
  int colourType_ = PNG_COLOR_TYPE_RGB;
  int depth_ = 8;
  RowKind kind_ = RowKind::kBitmapRow;
  std::unique_ptr<std::uint8_t[]> row_;
};

void PngWriter::Raise() {
  const std::string reason = s_.ctx.message[0] != '\0' ? std::string(kCreateError) + ": " + s_.ctx.message
                                                       : std::string(kCreateError);
  progress_.Fail(reason);
  throw EInvalidGraphic(kCreateError);
}

// The image to encode and the file's colour type and depth.
bool PngWriter::Choose() {
  if (params_.SAMPLESPERPIXEL == 1 && params_.BITSPERSAMPLE != 1 && params_.BITSPERSAMPLE != 8 &&
      params_.BITSPERSAMPLE != 16)
    params_.BITSPERSAMPLE = 8;
  const int spp = params_.SAMPLESPERPIXEL, bits = params_.BITSPERSAMPLE;
  const TIEPixelFormat pf = bitmap_.GetPixelFormat();
  auto convertedCopy = [&](TIEPixelFormat target) {
    copy_ = std::make_unique<TIEBitmap>();
    copy_->Assign(bitmap_);
    copy_->ConvertToPixelFormat(target);
    image_ = copy_.get();
    return copy_->GetPixelFormat() == target;
  };

  // One bit per pixel: black and white as a 1-bit grey file (the darker of
  // two colours black). Two other colours keep their colours in a 1-bit
  // palette file, and a transparent image takes the palette paths below; a
  // grey file would lose either.
  if (spp == 1 && bits == 1 && mask_ == nullptr) {
    depth_ = 1;
    kind_ = RowKind::kBitmapRow;
    colourType_ = PNG_COLOR_TYPE_GRAY;
    if (pf == ie1g) return true;
    TRGB dark, light;
    copy_ = IETwoLevelCopy(bitmap_, dark, light);
    if (!copy_) return false;
    image_ = copy_.get();
    if (dark == TRGB{0, 0, 0} && light == TRGB{255, 255, 255}) return true;
    colourType_ = PNG_COLOR_TYPE_PALETTE;
    filePalette_ = {png_color{dark.r, dark.g, dark.b}, png_color{light.r, light.g, light.b}};
    return true;
  }
  if (spp == 1) {
    // Grey images with transparency become palette files through their colours.
    const bool keep = pf == ie8p || pf == ie24RGB || (mask_ == nullptr && (pf == ie8g || pf == ie16g));
    if (!keep && !convertedCopy(ie24RGB)) return false;
    // With transparency and at most 256 colour-and-alpha pairs (every fully
    // transparent pixel one pair) the palette is exact, an alpha per entry;
    // more pairs with partial transparency go out as RGB + alpha, so smooth
    // edges survive; more pairs with all-or-nothing alpha are quantized.
    if (mask_ != nullptr && ChooseExactAlphaPalette()) return true;
    if (mask_ != nullptr && PartialAlpha()) {
      if (image_->GetPixelFormat() != ie24RGB && !convertedCopy(ie24RGB)) return false;
      colourType_ = PNG_COLOR_TYPE_RGB_ALPHA;
      depth_ = 8;
      kind_ = RowKind::kRGBA;
      return true;
    }
    ChoosePalette(mask_ != nullptr);
    return true;
  }
  // RGB: 16 bits per sample for 48-bit images that ask for them, else 8.
  if (pf == ie48RGB && bits == 16) {
    depth_ = 16;
  } else if (pf != ie24RGB && !convertedCopy(ie24RGB)) {
    return false;
  }
  colourType_ = mask_ != nullptr ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
  kind_ = mask_ != nullptr ? RowKind::kRGBA : RowKind::kBitmapRow;
  return true;
}

bool PngWriter::PartialAlpha() const {
  for (int y = 0; y < mask_->Height(); ++y) {
    const std::uint8_t* a = mask_->GetScanLine(y);
    for (int x = 0; x < mask_->Width(); ++x)
      if (a[x] != 0 && a[x] != 255) return true;
  }
  return false;
}

// Alpha in the top byte; every fully transparent pixel shares one key.
std::uint32_t PngWriter::ColourKey(const std::uint8_t* src, const std::uint8_t* alpha, int x) const {
  if (alpha[x] == 0) return 0;
  const TRGB c = image_->GetPixelFormat() == ie24RGB ? reinterpret_cast<const TRGB*>(src)[x] : image_->GetPalette(src[x]);
  return std::uint32_t(alpha[x]) << 24 | std::uint32_t(c.r) << 16 | std::uint32_t(c.g) << 8 | c.b;
}

bool PngWriter::ChooseExactAlphaPalette() {
  const TIEPixelFormat pf = image_->GetPixelFormat();
  if (pf != ie24RGB && pf != ie8p) return false;
  std::vector<std::uint32_t> keys;
  for (int y = 0; y < image_->GetHeight(); ++y) {
    const std::uint8_t* src = image_->GetScanLine(y);
    const std::uint8_t* a = mask_->GetScanLine(y);
    for (int x = 0; x < image_->GetWidth(); ++x) {
      const std::uint32_t key = ColourKey(src, a, x);
      if (!exactIndex_.try_emplace(key, 0).second) continue;
      if (keys.size() == 256) {
        exactIndex_.clear();
        return false;
      }
      keys.push_back(key);
    }
  }
  // Entries that are not opaque first: tRNS then lists only those.
  std::stable_partition(keys.begin(), keys.end(), [](std::uint32_t k) { return (k >> 24) != 255; });
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const std::uint32_t k = keys[i];
    exactIndex_[k] = static_cast<std::uint8_t>(i);
    filePalette_.push_back(png_color{png_byte(k >> 16), png_byte(k >> 8), png_byte(k)});
    if ((k >> 24) != 255) entryAlpha_.push_back(png_byte(k >> 24));
  }
  colourType_ = PNG_COLOR_TYPE_PALETTE;
  depth_ = 8;
  kind_ = RowKind::kPaletteExact;
  return true;
}

void PngWriter::ChoosePalette(bool transparent) {
  TIEBitmap& image = *image_;
  const TIEPixelFormat pf = image.GetPixelFormat();
  if (transparent) {
    // Entry 0 is the background and fully transparent; the image's colours
    // follow it.
    const int n = std::min(1 << std::min(params_.BITSPERSAMPLE, 8), 255);
    quantizer_ = std::make_unique<TIEQuantizer>(image, quantPalette_, 255, n);
    const int count = std::clamp(quantizer_->ColorCount(), 1, 255);
    const TRGB bg = params_.PNG_BACKGROUND;
    filePalette_.push_back(png_color{bg.r, bg.g, bg.b});
    for (int i = 0; i < count; ++i)
      filePalette_.push_back(png_color{quantPalette_[i].r, quantPalette_[i].g, quantPalette_[i].b});
    if (pf == ie8p)
      for (int i = 0; i < 256; ++i)
        indexTable_[i] = static_cast<std::uint8_t>(quantizer_->GetRGBIndex(image.GetPalette(i)) + 1);
    colourType_ = PNG_COLOR_TYPE_PALETTE;
    depth_ = 8;
    kind_ = RowKind::kPaletteAlpha;
    return;
  }
  quantizer_ = std::make_unique<TIEQuantizer>(image, quantPalette_, 255, 256);
  if (quantizer_->IsGrayScale()) {
    colourType_ = PNG_COLOR_TYPE_GRAY;
    depth_ = params_.BITSPERSAMPLE;
    kind_ = pf == ie16g && depth_ == 16 ? RowKind::kBitmapRow
            : pf == ie8g && depth_ == 8 ? RowKind::kBitmapRow
                                        : RowKind::kGrey;
    return;
  }
  // A colour image: an 8-bit palette (PNG has no 16-bit palettes).
  const int count = std::clamp(quantizer_->ColorCount(), 1, 256);
  for (int i = 0; i < count; ++i)
    filePalette_.push_back(png_color{quantPalette_[i].r, quantPalette_[i].g, quantPalette_[i].b});
  if (pf == ie8p) {
    for (int i = 0; i < 256; ++i)
      indexTable_[i] = static_cast<std::uint8_t>(i < count ? i : quantizer_->GetRGBIndex(image.GetPalette(i)));
    kind_ = RowKind::kPaletteIndex;
  } else {
    kind_ = RowKind::kPaletteRGB;
  }
  colourType_ = PNG_COLOR_TYPE_PALETTE;
  depth_ = 8;
}

void PngWriter::SetUp() {
  png_structp png = s_.png;
  png_infop info = s_.info;
  const int width = image_->GetWidth(), height = image_->GetHeight();
  const TRGB bg = params_.PNG_BACKGROUND;
  png_color_16 background{};
  if (colourType_ == PNG_COLOR_TYPE_PALETTE && !quantizer_) {
    // A palette made without the quantizer: the nearest entry.
    auto distance = [&bg](const png_color& c) {
      return (c.red - bg.r) * (c.red - bg.r) + (c.green - bg.g) * (c.green - bg.g) + (c.blue - bg.b) * (c.blue - bg.b);
    };
    std::size_t best = 0;
    for (std::size_t i = 1; i < filePalette_.size(); ++i)
      if (distance(filePalette_[i]) < distance(filePalette_[best])) best = i;
    background.index = static_cast<png_byte>(best);
  } else if (colourType_ == PNG_COLOR_TYPE_PALETTE) {
    background.index = kind_ == RowKind::kPaletteAlpha ? 0 : static_cast<png_byte>(quantizer_->GetRGBIndex(bg));
  } else if (colourType_ == PNG_COLOR_TYPE_GRAY) {
    const unsigned grey = _RGBToGray(bg);
    background.gray = static_cast<png_uint_16>(depth_ == 1 ? grey >> 7 : depth_ == 16 ? grey * 257 : grey);
  } else {
    const unsigned scale = depth_ == 16 ? 257 : 1;
    background.red = static_cast<png_uint_16>(bg.r * scale);
    background.green = static_cast<png_uint_16>(bg.g * scale);
    background.blue = static_cast<png_uint_16>(bg.b * scale);
  }
  png_byte transparent[1] = {0};

  std::vector<png_text> texts;
  const std::size_t pairs = std::min(params_.PNG_TEXTKEYS.size(), params_.PNG_TEXTVALUES.size());
  for (std::size_t i = 0; i < pairs; ++i) {
    if (!UsableKeyword(params_.PNG_TEXTKEYS[i])) continue;  // libpng would refuse the whole file
    png_text t{};
    t.compression = PNG_TEXT_COMPRESSION_NONE;
    t.key = const_cast<png_charp>(params_.PNG_TEXTKEYS[i].c_str());
    t.text = const_cast<png_charp>(params_.PNG_TEXTVALUES[i].c_str());
    t.text_length = std::strlen(t.text);
    texts.push_back(t);
  }

  int filter = -1;
  switch (params_.PNG_FILTER) {
    case ioPNG_FILTER_NONE: filter = PNG_FILTER_NONE; break;
    case ioPNG_FILTER_SUB: filter = PNG_FILTER_SUB; break;
    case ioPNG_FILTER_PAETH: filter = PNG_FILTER_PAETH; break;
    default: break;  // libpng's own choice
  }
  const int level = std::clamp(params_.PNG_COMPRESSION, 0, 9);
  const bool interlace = params_.PNG_INTERLACED;
  const png_uint_32 xppm = PixelsPerMetre(params_.DPIX(), gDefaultDPIX);
  const png_uint_32 yppm = PixelsPerMetre(params_.DPIY(), gDefaultDPIY);

  const bool ok = PngGuarded(png, [&] {
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), depth_, colourType_,
                 interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!filePalette_.empty()) png_set_PLTE(png, info, filePalette_.data(), static_cast<int>(filePalette_.size()));
    if (kind_ == RowKind::kPaletteAlpha) png_set_tRNS(png, info, transparent, 1, nullptr);
    if (!entryAlpha_.empty())
      png_set_tRNS(png, info, entryAlpha_.data(), static_cast<int>(entryAlpha_.size()), nullptr);
    png_set_pHYs(png, info, xppm, yppm, PNG_RESOLUTION_METER);
    if (filter >= 0) png_set_filter(png, PNG_FILTER_TYPE_BASE, filter);
    png_set_bKGD(png, info, &background);
    png_set_compression_level(png, level);
    png_set_compression_buffer_size(png, 65536);  // fewer, larger IDAT chunks
    // ie24RGB rows are blue first; ie48RGB rows are red first, in
    // little-endian words.
    if (depth_ != 16) png_set_bgr(png);
    if (!texts.empty()) png_set_text(png, info, texts.data(), static_cast<int>(texts.size()));
    png_write_info(png, info);
    if (depth_ == 16) png_set_swap(png);  // only takes once libpng knows the depth
  });
  if (!ok) Raise();
}

const std::uint8_t* PngWriter::MakeRow(int y) {
  TIEBitmap& image = *image_;
  const int width = image.GetWidth();
  const TIEPixelFormat pf = image.GetPixelFormat();
  const std::uint8_t* src = image.GetScanLine(y);
  std::uint8_t* out = row_.get();
  switch (kind_) {
    case RowKind::kBitmapRow:
      return src;
    case RowKind::kRGBA: {
      const std::uint8_t* a = mask_->GetScanLine(y);
      if (depth_ == 16) {
        auto* o = reinterpret_cast<std::uint16_t*>(out);
        const auto* s = reinterpret_cast<const std::uint16_t*>(src);
        for (int x = 0; x < width; ++x) {
          std::memcpy(o + 4 * x, s + 3 * x, 6);  // ie48RGB is red first, as the file
          o[4 * x + 3] = static_cast<std::uint16_t>(a[x] * 257);
        }
      } else {
        for (int x = 0; x < width; ++x) {
          std::memcpy(out + 4 * x, src + 3 * x, 3);
          out[4 * x + 3] = a[x];
        }
      }
      return out;
    }
    case RowKind::kPaletteIndex:
      for (int x = 0; x < width; ++x) out[x] = indexTable_[src[x]];
      return out;
    case RowKind::kPaletteRGB: {
      const auto* p = reinterpret_cast<const TRGB*>(src);
      for (int x = 0; x < width; ++x) out[x] = static_cast<std::uint8_t>(quantizer_->GetRGBIndex(p[x]));
      return out;
    }
    case RowKind::kPaletteAlpha: {
      // Only fully opaque pixels keep their colour.
      const std::uint8_t* a = mask_->GetScanLine(y);
      if (pf == ie8p) {
        for (int x = 0; x < width; ++x) out[x] = a[x] == 255 ? indexTable_[src[x]] : 0;
      } else {
        const auto* p = reinterpret_cast<const TRGB*>(src);
        for (int x = 0; x < width; ++x)
          out[x] = a[x] == 255 ? static_cast<std::uint8_t>(quantizer_->GetRGBIndex(p[x]) + 1) : 0;
      }
      return out;
    }
    case RowKind::kPaletteExact: {
      const std::uint8_t* a = mask_->GetScanLine(y);
      for (int x = 0; x < width; ++x) out[x] = exactIndex_.find(ColourKey(src, a, x))->second;
      return out;
    }
    case RowKind::kGrey: {
      auto level = [&](int x) -> unsigned {
        switch (pf) {
          case ie8g: return src[x];
          case ie8p: return image.GetPalette(src[x]).r;
          case ie16g: return reinterpret_cast<const std::uint16_t*>(src)[x] >> 8;
          default: return src[3 * x + 2];  // a grey ie24RGB pixel: its red channel
        }
      };
      if (depth_ == 16) {
        auto* o = reinterpret_cast<std::uint16_t*>(out);
        for (int x = 0; x < width; ++x) o[x] = static_cast<std::uint16_t>(level(x) * 257);
      } else {
        for (int x = 0; x < width; ++x) out[x] = static_cast<std::uint8_t>(level(x));
      }
      return out;
    }
  }
  return src;
}

void PngWriter::Run() {
  if (bitmap_.IsEmpty()) {
    progress_.Fail("there is no image to save");
    return;
  }
  if (!s_.Ok()) Raise();
  if (!Choose()) {
    progress_.Fail("not enough memory to convert the image");
    return;
  }
  SetUp();
  const int width = image_->GetWidth(), height = image_->GetHeight();
  row_ = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(width) * 8);
  png_structp png = s_.png;
  int passes = 1;
  if (!PngGuarded(png, [&] { passes = png_set_interlace_handling(png); })) Raise();
  progress_.PerCentFactor = 100.0 / (static_cast<double>(height) * passes);
  int lastPer = 0;
  std::int64_t done = 0;
  for (int pass = 0; pass < passes && !*abortFlag_; ++pass) {
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* row = MakeRow(y);
      if (!PngGuarded(png, [png, row] { png_write_row(png, row); })) Raise();
      const int per = static_cast<int>(++done * progress_.PerCentFactor);
      if (per != lastPer) {
        lastPer = per;
        progress_.Report(per);
      }
      if (*abortFlag_) break;
    }
  }
  if (*abortFlag_) return;  // stopped or a short write: no end chunk
  png_infop info = s_.info;
  if (!PngGuarded(png, [png, info] { png_write_end(png, info); })) Raise();
}

}  // namespace

void WritePNGStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TIEMask* mask,
                    TProgressRec& progress) {
  PngWriter writer(stream, bitmap, params, mask, progress);
  writer.Run();
}

}  // namespace pravik
