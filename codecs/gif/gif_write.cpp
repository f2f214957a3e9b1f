// GIF writer: one image with a global colour table, a graphic control
// extension, the LZW image data and a comment extension.
#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "codecs/gif/gif.h"
#include "image/bitmap.h"
#include "image/convert.h"
#include "image/quantize.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/reader.h"
#include "imageio/stream.h"

namespace pravik {

namespace {

// A pixel whose alpha is below this is written transparent (GIF has no partial
// transparency; half way is where other converters cut too).
constexpr std::uint8_t kTransparentBelow = 128;

bool HasTransparentPixels(TIEBitmap& bitmap) {
  if (!bitmap.GetHasAlphaChannel()) return false;
  TIEBitmap& alpha = *bitmap.GetAlphaChannel();
  if (alpha.GetPixelFormat() != ie8g) return false;
  const int w = alpha.GetWidth();
  for (int y = 0; y < alpha.GetHeight(); ++y) {
    const std::uint8_t* a = alpha.GetScanLine(y);
    for (int x = 0; x < w; ++x)
      if (a[x] < kTransparentBelow) return true;
  }
  return false;
}

// The palette and one index per pixel, top row first.
class TIndexedImage {
 public:
  TIndexedImage(TIEBitmap& source, int colours, bool transparency)
      : source_(source), w_(source.GetWidth()), h_(source.GetHeight()), n_(colours), transparency_(transparency) {}

  bool Build();
  std::uint8_t* Indexes() { return index_.get(); }
  TRGB* Palette() { return palette_.data(); }
  // The palette index a colour is written with (background, colour key).
  int IndexOf(TRGB colour) const {
    if (quantizer_) return quantizer_->GetRGBIndex(colour);
    return _GetSimilColor(palette_.data(), std::max(used_, 1), colour);
  }
  // True when the source's own palette indexes were kept.
  bool KeptPalette() const { return keptPalette_; }

 private:
  // Alpha row of the source, or null when no pixel is transparent.
  const std::uint8_t* AlphaRow(int y) { return alpha_ != nullptr ? alpha_->GetScanLine(y) : nullptr; }
  bool FromPalette();
  void FromBlackWhite(TIEBitmap& bw);
  bool ExactColours(TIEBitmap& rgb);
  void Quantized(TIEBitmap& rgb);

  TIEBitmap& source_;
  const int w_, h_, n_;
  const bool transparency_;
  TIEBitmap* alpha_ = nullptr;
  std::array<TRGB, 256> palette_{};
  std::unique_ptr<std::uint8_t[]> index_;
  std::unique_ptr<TIEQuantizer> quantizer_;
  int used_ = 0;  // leading palette entries that hold colours
  bool keptPalette_ = false;
};

bool TIndexedImage::Build() {
  const std::int64_t pixels = std::int64_t(w_) * h_;
  index_.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(pixels)]);
  if (!index_) return false;
  if (transparency_) alpha_ = source_.GetAlphaChannel();

  const TIEPixelFormat format = source_.GetPixelFormat();
  if (format == ie8p && FromPalette()) return true;
  if (format == ie1g) {
    FromBlackWhite(source_);
    return true;
  }
  // Everything else goes through three bytes per pixel.
  TIEBitmap copy;
  TIEBitmap* rgb = &source_;
  if (format != ie24RGB) {
    if (!copy.Allocate(w_, h_, ie24RGB)) return false;
    copy.CopyAndConvertFormat(source_);
    rgb = &copy;
  }
  if (ExactColours(*rgb)) return true;
  palette_.fill(TRGB{});
  used_ = 0;
  if (n_ <= 2) {
    // One bit per pixel and more than two colours: black and white.
    TIEBitmap bw;
    if (!bw.Allocate(w_, h_, ie1g)) return false;
    bw.CopyAndConvertFormat(*rgb);
    FromBlackWhite(bw);
    return true;
  }
  Quantized(*rgb);
  return true;
}

// An ie8p image keeps its indexes when they all fit below n.
bool TIndexedImage::FromPalette() {
  for (int y = 0; y < h_; ++y) {
    const std::uint8_t* row = source_.GetScanLine(y);
    const std::uint8_t* a = AlphaRow(y);
    for (int x = 0; x < w_; ++x)
      if (row[x] >= n_ && (a == nullptr || a[x] >= kTransparentBelow)) return false;
  }
  const int k = std::min(n_, source_.GetPaletteLen());
  for (int i = 0; i < k; ++i) palette_[i] = source_.GetPalette(i);
  used_ = k;
  for (int y = 0; y < h_; ++y) {
    const std::uint8_t* row = source_.GetScanLine(y);
    const std::uint8_t* a = AlphaRow(y);
    std::uint8_t* out = index_.get() + std::int64_t(y) * w_;
    for (int x = 0; x < w_; ++x)
      out[x] = a != nullptr && a[x] < kTransparentBelow ? static_cast<std::uint8_t>(n_) : row[x];
  }
  keptPalette_ = true;
  return true;
}

void TIndexedImage::FromBlackWhite(TIEBitmap& bw) {
  palette_[0] = TRGB{0, 0, 0};
  palette_[1] = TRGB{255, 255, 255};
  used_ = 2;
  for (int y = 0; y < h_; ++y) {
    const std::uint8_t* row = bw.GetScanLine(y);
    const std::uint8_t* a = AlphaRow(y);
    std::uint8_t* out = index_.get() + std::int64_t(y) * w_;
    for (int x = 0; x < w_; ++x) out[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
    if (a != nullptr)
      for (int x = 0; x < w_; ++x)
        if (a[x] < kTransparentBelow) out[x] = static_cast<std::uint8_t>(n_);
  }
}

// Images with at most n colours (graphics, grey images with few levels) keep
// them exactly. Gives up at the (n+1)-th colour.
bool TIndexedImage::ExactColours(TIEBitmap& rgb) {
  constexpr int kSlots = 1024;  // power of two, at least four times 256
  std::array<std::uint32_t, kSlots> keys{};  // colour + 1; 0 = empty
  std::array<std::uint8_t, kSlots> values{};
  int count = 0;
  std::uint32_t lastKey = 0xFFFFFFFFu;
  std::uint8_t lastIndex = 0;
  for (int y = 0; y < h_; ++y) {
    const auto* row = reinterpret_cast<const TRGB*>(rgb.GetScanLine(y));
    const std::uint8_t* a = AlphaRow(y);
    std::uint8_t* out = index_.get() + std::int64_t(y) * w_;
    for (int x = 0; x < w_; ++x) {
      if (a != nullptr && a[x] < kTransparentBelow) {
        out[x] = static_cast<std::uint8_t>(n_);
        continue;
      }
      const TRGB c = row[x];
      const std::uint32_t key = std::uint32_t(c.b) | (std::uint32_t(c.g) << 8) | (std::uint32_t(c.r) << 16);
      if (key != lastKey) {
        std::uint32_t slot = (key * 2654435761u) >> 22;
        while (keys[slot] != 0 && keys[slot] != key + 1) slot = (slot + 1) & (kSlots - 1);
        if (keys[slot] == 0) {
          if (count == n_) return false;
          keys[slot] = key + 1;
          values[slot] = static_cast<std::uint8_t>(count);
          palette_[count++] = c;
          used_ = count;
        }
        lastKey = key;
        lastIndex = values[slot];
      }
      out[x] = lastIndex;
    }
  }
  return true;
}

void TIndexedImage::Quantized(TIEBitmap& rgb) {
  quantizer_ = std::make_unique<TIEQuantizer>(rgb, palette_.data(), 255, n_);
  const TIEQuantizer& q = *quantizer_;
  for (int y = 0; y < h_; ++y) {
    const auto* row = reinterpret_cast<const TRGB*>(rgb.GetScanLine(y));
    const std::uint8_t* a = AlphaRow(y);
    std::uint8_t* out = index_.get() + std::int64_t(y) * w_;
    TRGB last = row[0];
    auto lastIndex = static_cast<std::uint8_t>(q.GetRGBIndex(last));
    for (int x = 0; x < w_; ++x) {
      if (a != nullptr && a[x] < kTransparentBelow) {
        out[x] = static_cast<std::uint8_t>(n_);
        continue;
      }
      if (!(row[x] == last)) {
        last = row[x];
        lastIndex = static_cast<std::uint8_t>(q.GetRGBIndex(last));
      }
      out[x] = lastIndex;
    }
  }
}

// Hands the encoder's writes on and notes a stream that takes fewer bytes
// than offered (or raises), as SafeStreamWrite does.
class TCheckedWrites final : public TStream {
 public:
  TCheckedWrites(TStream& stream, bool& abortFlag) : stream_(stream), abortFlag_(abortFlag) {}
  std::int64_t Read(void* buffer, std::int64_t count) override { return stream_.Read(buffer, count); }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    SafeStreamWrite(stream_, abortFlag_, buffer, count);
    return count;
  }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override { return stream_.Seek(offset, origin); }
  std::int64_t GetSize() override { return stream_.GetSize(); }

 private:
  TStream& stream_;
  bool& abortFlag_;
};

}  // namespace

void WriteGIFStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  progress.Report(0);
  if (progress.Aborted()) return;
  const int w = bitmap.GetWidth(), h = bitmap.GetHeight();
  if (bitmap.IsEmpty() || w < 1 || h < 1) return progress.Fail("there is no image to save");
  if (w > 0xFFFF || h > 0xFFFF) return progress.Fail("the image is too large for GIF (65535 pixels at most)");

  int bits = params.BITSPERSAMPLE;
  if (bits < 1 || bits > 8) bits = 8;
  const bool transparency = HasTransparentPixels(bitmap);
  // Two colours and a transparent slot need two bits.
  if (transparency && bits == 1) bits = 2;
  const int slots = 1 << bits;
  const int colours = transparency ? slots - 1 : slots;

  TIndexedImage image(bitmap, colours, transparency);
  if (!image.Build()) return progress.Fail("not enough memory to write the GIF image");
  if (transparency) params.GIF_TRANSPARENT = true;

  // Without an alpha channel only a palette image names a transparent colour
  // (the entry nearest GIF_TRANSPCOLOR): a true-colour image has no
  // transparent pixels, and keying out a colour would punch holes in it.
  bool keyed = false;
  int transparentIndex = 0;
  if (transparency) {
    transparentIndex = colours;
  } else if (params.GIF_TRANSPARENT && image.KeptPalette()) {
    keyed = true;
    transparentIndex = image.IndexOf(params.GIF_TRANSPCOLOR);
  }
  TRGB* palette = image.Palette();
  if (transparency) palette[colours] = params.GIF_TRANSPCOLOR;
  const int background = image.IndexOf(params.GIF_BACKGROUND);

  progress.Report(30);
  if (progress.Aborted()) return;

  bool localAbort = false;
  bool& abortFlag = progress.AbortFlag != nullptr ? *progress.AbortFlag : localAbort;
  TIEWriter out(stream, abortFlag);
  // The image lies inside the logical screen, wherever GIF_XPOS/GIF_YPOS put it.
  const int left = params.GIF_XPOS & 0xFFFF, top = params.GIF_YPOS & 0xFFFF;
  out.Text("GIF89a");
  out.U16LE(static_cast<std::uint16_t>(std::min(0xFFFF, left + w)));
  out.U16LE(static_cast<std::uint16_t>(std::min(0xFFFF, top + h)));
  out.U8(static_cast<std::uint8_t>(0x80 | ((bits - 1) << 4) | (bits - 1)));
  out.U8(static_cast<std::uint8_t>(background));
  out.U8(0);
  for (int i = 0; i < slots; ++i) {
    const std::uint8_t rgb[3] = {palette[i].r, palette[i].g, palette[i].b};
    out.Write(rgb, 3);
  }

  const std::uint8_t control[8] = {0x21,
                                   0xF9,
                                   0x04,
                                   static_cast<std::uint8_t>(((transparency || keyed) ? 1 : 0) |
                                                             ((params.GIF_ACTION & 7) << 2)),
                                   static_cast<std::uint8_t>(params.GIF_DELAYTIME),
                                   static_cast<std::uint8_t>(params.GIF_DELAYTIME >> 8),
                                   static_cast<std::uint8_t>(transparentIndex),
                                   0};
  out.Write(control, 8);
  out.U8(0x2C);
  out.U16LE(static_cast<std::uint16_t>(left));
  out.U16LE(static_cast<std::uint16_t>(top));
  out.U16LE(static_cast<std::uint16_t>(w));
  out.U16LE(static_cast<std::uint16_t>(h));
  out.U8(params.GIF_INTERLACED ? 0x40 : 0x00);

  progress.Report(70);
  if (progress.Aborted()) return;
  const TGIFLZWCompFunc encoder = params.GIF_LZWCOMPFUNC ? params.GIF_LZWCOMPFUNC : DefGIF_LZWCOMPFUNC;
  if (encoder == nullptr) return progress.Fail("no GIF encoder is installed");
  out.Flush();
  TCheckedWrites checked(stream, abortFlag);
  encoder(checked, h, w, params.GIF_INTERLACED, image.Indexes(), bits);

  // Comments: long ones split into 255-byte sub-blocks; empty ones dropped
  // (a zero length would end the extension). Without any text there is no
  // comment extension: an empty one trips giflib's readers.
  const bool anyComment = std::any_of(params.GIF_COMMENTS.begin(), params.GIF_COMMENTS.end(),
                                      [](const std::string& c) { return !c.empty(); });
  if (anyComment) {
    out.U8(0x21);
    out.U8(0xFE);
    for (const std::string& comment : params.GIF_COMMENTS) {
      for (std::size_t at = 0; at < comment.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, comment.size() - at);
        out.U8(static_cast<std::uint8_t>(n));
        out.Write(comment.data() + at, static_cast<std::int64_t>(n));
      }
    }
    out.U8(0);
  }
  out.U8(0x3B);
  out.Flush();
  progress.Report(100);
}

void GIFFrameWrite(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  WriteGIFStream(stream, bitmap, params, progress);
}

}  // namespace pravik
