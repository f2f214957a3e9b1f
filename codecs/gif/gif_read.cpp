// GIF reader: walks every block of the file (to count the images and gather
// the comments) and decodes the one image the record selects.
#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "codecs/gif/gif.h"
#include "codecs/gif/gif_lzw.h"
#include "codecs/gif/gif_walk.h"
#include "image/bitmap.h"
#include "image/mask.h"
#include "imageio/limits.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/reader.h"
#include "imageio/stream.h"

namespace pravik {

namespace {

// A colour table in TRGB order, padded with black to 256 entries so that any
// index byte can be looked up.
struct TColourTable {
  std::array<TRGB, 256> Colours{};
  int Count = 0;
  int Bits = 0;
};

bool ReadColourTable(TIEReader& r, int sizeCode, TColourTable& t) {
  t.Bits = (sizeCode & 7) + 1;
  t.Count = 1 << t.Bits;
  std::uint8_t raw[3 * 256];
  if (!r.Read(raw, 3 * t.Count)) return false;
  for (int i = 0; i < t.Count; ++i) t.Colours[i] = CreateRGB(raw[3 * i], raw[3 * i + 1], raw[3 * i + 2]);
  return true;
}

// Images without any colour table: index i shows as grey level i.
TColourTable GreyRamp() {
  TColourTable t;
  t.Bits = 8;
  t.Count = 256;
  for (int i = 0; i < 256; ++i) t.Colours[i] = TRGB{std::uint8_t(i), std::uint8_t(i), std::uint8_t(i)};
  return t;
}

// Skips sub-blocks up to and including the zero length byte, or to the end of
// the data; returns the bytes of data skipped. Never fails the reader.
std::int64_t SkipSubBlocks(TIEReader& r) {
  std::int64_t total = 0;
  while (!r.AtEnd()) {
    const int len = r.U8();
    if (len == 0) break;
    const std::int64_t n = std::min<std::int64_t>(len, r.Remaining());
    r.Skip(n);
    total += n;
  }
  return total;
}

std::uint16_t LE16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

struct TImageDescriptor {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  bool Interlaced = false;
};

// The state of one walk through the file.
class TGIFWalk {
 public:
  // sink null: decode the image at GIF_IMAGEINDEX into bitmap and mask.
  // Otherwise hand every image up to that index to the sink in turn.
  TGIFWalk(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview,
           std::unique_ptr<TIEMask>& mask, bool ignoreAlpha, const TGIFFrameSink* sink = nullptr)
      : stream_(stream), r_(stream), bitmap_(bitmap), params_(params), progress_(progress), preview_(preview),
        mask_(mask), ignoreAlpha_(ignoreAlpha), sink_(sink) {}

  // Returns the number of images seen.
  int Run();

 private:
  void Extension();
  // False when the walk has to stop.
  bool Image();
  // True for the images this walk decodes (and whose control extension it reads).
  bool Wanted() const { return sink_ != nullptr ? requested_ < 0 || seen_ <= requested_ : seen_ == requested_; }
  void DecodeSelected(const TImageDescriptor& d, const TColourTable& map, TIEBitmap& bitmap,
                      std::unique_ptr<TIEMask>& mask);
  void FillImage(const TImageDescriptor& d, const TColourTable& map, TIEPixelFormat format, const std::uint8_t* idx,
                 TIEBitmap& bitmap, std::unique_ptr<TIEMask>& mask);

  TStream& stream_;
  TIEReader r_;
  TIEBitmap& bitmap_;
  TIOParamsVals& params_;
  TProgressRec& progress_;
  const bool preview_;
  std::unique_ptr<TIEMask>& mask_;
  const bool ignoreAlpha_;
  const TGIFFrameSink* sink_;

  TColourTable global_;
  bool hasGlobal_ = false;
  // Graphic control bytes of the next image: packed, delay (2), transparent index.
  std::uint8_t control_[4] = {0, 0, 0, 0};
  int requested_ = 0;
  int seen_ = 0;
  bool truncated_ = false;
};

int TGIFWalk::Run() {
  std::uint8_t h[13];
  if (!r_.Read(h, 13) || h[0] != 'G' || h[1] != 'I' || h[2] != 'F') {
    progress_.Fail("not a GIF file");
    return 0;
  }
  params_.GIF_VERSION.assign(reinterpret_cast<const char*>(h), 6);
  params_.GIF_WINWIDTH = LE16(h + 6);
  params_.GIF_WINHEIGHT = LE16(h + 8);
  params_.GIF_RATIO = h[12];
  params_.SetDpiX(gDefaultDPIX);
  params_.SetDpiY(gDefaultDPIY);
  params_.SAMPLESPERPIXEL = 1;
  hasGlobal_ = (h[10] & 0x80) != 0;
  if (hasGlobal_) {
    if (!ReadColourTable(r_, h[10], global_)) {
      progress_.Fail("truncated GIF colour table");
      return 0;
    }
    if (h[11] < global_.Count) params_.GIF_BACKGROUND = global_.Colours[h[11]];
  }
  requested_ = params_.GIF_IMAGEINDEX;
  if (r_.AtEnd()) {
    progress_.Fail("the GIF file holds no image");
    return 0;
  }

  // Every pass reads at least one byte, so the walk ends; the end of the data
  // counts as the trailer.
  while (!progress_.Aborted()) {
    const int b = r_.U8();
    if (r_.Failed() || r_.AtEnd()) break;
    if (b == 0x21) {
      Extension();
    } else if (b == 0x2C) {
      if (!Image()) break;
    } else if (b == 0x3B) {
      break;
    }
    // Any other byte is padding between blocks.
  }
  if (truncated_) progress_.Fail("truncated GIF image data");
  return seen_;
}

void TGIFWalk::Extension() {
  const int label = r_.U8();
  if (label == 0xF9 && Wanted()) {
    // Graphic control: one sub-block of 4 bytes in well-formed files.
    const int len = r_.AtEnd() ? 0 : r_.U8();
    if (len == 0) return;
    std::uint8_t data[4] = {0, 0, 0, 0};
    const int take = std::min(len, 4);
    r_.ReadSome(data, take);
    r_.Skip(std::min<std::int64_t>(len - take, r_.Remaining()));
    std::memcpy(control_, data, 4);
    SkipSubBlocks(r_);
  } else if (label == 0xFE) {
    while (!r_.AtEnd()) {
      const int len = r_.U8();
      if (len == 0) break;
      char text[256];
      const auto got = static_cast<std::size_t>(r_.ReadSome(text, len));
      const std::size_t n = std::find(text, text + got, '\0') - text;
      if (n > 0) params_.GIF_COMMENTS.emplace_back(text, n);
    }
  } else {
    SkipSubBlocks(r_);
  }
}

bool TGIFWalk::Image() {
  std::uint8_t raw[9];
  if (!r_.Read(raw, 9)) return false;
  TImageDescriptor d;
  d.Left = LE16(raw);
  d.Top = LE16(raw + 2);
  d.Width = LE16(raw + 4);
  d.Height = LE16(raw + 6);
  d.Interlaced = (raw[8] & 0x40) != 0;
  TColourTable local;
  const bool hasLocal = (raw[8] & 0x80) != 0;
  if (hasLocal && !ReadColourTable(r_, raw[8], local)) return false;

  if (!Wanted()) {
    if (!r_.AtEnd()) r_.U8();  // minimum code size
    SkipSubBlocks(r_);
    ++seen_;
    return true;
  }

  progress_.Report(30);
  if (progress_.Aborted()) return false;
  const TColourTable map = hasLocal ? local : hasGlobal_ ? global_ : GreyRamp();
  params_.GIF_TRANSPCOLOR = map.Colours[control_[3]];
  params_.GIF_XPOS = d.Left;
  params_.GIF_YPOS = d.Top;
  params_.WIDTH = params_.ORIGINALWIDTH = d.Width;
  params_.HEIGHT = params_.ORIGINALHEIGHT = d.Height;
  params_.GIF_DELAYTIME = LE16(control_ + 1);
  params_.GIF_TRANSPARENT = (control_[0] & 1) != 0;
  params_.GIF_INTERLACED = d.Interlaced;
  params_.GIF_ACTION = static_cast<TIEGIFAction>((control_[0] >> 2) & 7);

  TIEBitmap frame;
  std::unique_ptr<TIEMask> frameMask;
  if (preview_) {
    if (!r_.AtEnd()) r_.U8();
    SkipSubBlocks(r_);
  } else if (sink_ != nullptr) {
    DecodeSelected(d, map, frame, frameMask);
  } else {
    DecodeSelected(d, map, bitmap_, mask_);
  }
  if (!progress_.Aborted()) {
    params_.SetColorMap(map.Colours.data(), map.Count);
    params_.BITSPERSAMPLE = map.Bits;
  }
  // A frame whose data ended early still goes to the sink; the walk reports
  // the failure at its end.
  if (sink_ != nullptr && !frame.IsEmpty() && !(*sink_)(frame, frameMask, seen_)) return false;
  // A control extension belongs to the one image that follows it.
  std::memset(control_, 0, sizeof control_);
  ++seen_;
  return !progress_.Aborted();
}

void TGIFWalk::DecodeSelected(const TImageDescriptor& d, const TColourTable& map, TIEBitmap& bitmap,
                              std::unique_ptr<TIEMask>& mask) {
  if (d.Width == 0 || d.Height == 0) return progress_.Fail("the GIF image has no pixels");

  // A few bytes of code stream cannot fill a huge image: refuse before
  // allocating anything (decompression bombs).
  const std::int64_t dataPos = r_.Position();
  if (!r_.AtEnd()) r_.U8();  // minimum code size
  const std::int64_t dataBytes = SkipSubBlocks(r_);
  r_.Seek(dataPos);
  const std::int64_t pixels = std::int64_t(d.Width) * d.Height;
  if (pixels > GIFLZWMaxPixels(dataBytes))
    return progress_.Fail("the GIF image is larger than its data could fill");

  const bool blackWhite = map.Bits == 1 && map.Colours[0] == TRGB{0, 0, 0} && map.Colours[1] == TRGB{255, 255, 255};
  const TIEPixelFormat format = blackWhite ? ie1g : params_.ISNATIVEPIXELFORMAT ? ie8p : ie24RGB;
  if (!IEImageSizeAllowed(d.Width, d.Height, 8) || !IEImageSizeAllowed(d.Width, d.Height, IEPixelFormatBits[format]))
    return progress_.Fail("the GIF image is too large");

  std::unique_ptr<std::uint8_t[]> idx(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(pixels)]());
  if (!idx) return progress_.Fail("not enough memory for the GIF image");

  // The decoder reads the stream itself; the default one also says whether
  // the data reached every pixel.
  const TGIFLZWDecompFunc decoder = params_.GIF_LZWDECOMPFUNC ? params_.GIF_LZWDECOMPFUNC : DefGIF_LZWDECOMPFUNC;
  if (decoder == nullptr) return progress_.Fail("no GIF decoder is installed");
  r_.Sync();
  if (decoder == &GIFLZWDecompress) {
    std::int64_t stored = 0;
    if (GIFLZWDecode(stream_, d.Height, d.Width, idx.get(), d.Interlaced, stored) && stored < pixels)
      truncated_ = true;
  } else {
    decoder(stream_, d.Height, d.Width, idx.get(), d.Interlaced);
  }
  const std::int64_t after = stream_.GetPosition();
  if (after == dataPos) return progress_.Fail("corrupt GIF image data");
  r_.Seek(after);
  progress_.Report(70);
  if (progress_.Aborted()) return;

  if (!bitmap.Allocate(d.Width, d.Height, format)) return progress_.Fail("not enough memory for the GIF image");
  FillImage(d, map, format, idx.get(), bitmap, mask);
}

void TGIFWalk::FillImage(const TImageDescriptor& d, const TColourTable& map, TIEPixelFormat format,
                         const std::uint8_t* idx, TIEBitmap& bitmap, std::unique_ptr<TIEMask>& maskOut) {
  const int w = d.Width;
  TIEMask* mask = nullptr;
  if (!ignoreAlpha_ && params_.GIF_TRANSPARENT) {
    if (!maskOut) maskOut = std::make_unique<TIEMask>();
    mask = maskOut.get();
    mask->AllocateBits(w, d.Height, 8);
    mask->Fill(255);
  }
  const std::uint8_t transparent = control_[3];
  if (format == ie8p) {
    for (int i = 0; i < map.Count; ++i) bitmap.SetPalette(i, map.Colours[i]);
    bitmap.PaletteColorCount = map.Count;
  }
  for (int y = 0; y < d.Height; ++y) {
    const std::uint8_t* in = idx + std::int64_t(y) * w;
    std::uint8_t* row = bitmap.GetScanLine(y);
    switch (format) {
      case ie8p:
        std::memcpy(row, in, static_cast<std::size_t>(w));
        break;
      case ie1g: {
        std::memset(row, 0, static_cast<std::size_t>((w + 7) / 8));
        for (int x = 0; x < w; ++x)
          if (in[x] == 1) row[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
        break;
      }
      default: {
        auto* out = reinterpret_cast<TRGB*>(row);
        for (int x = 0; x < w; ++x) out[x] = map.Colours[in[x]];
        break;
      }
    }
    if (mask != nullptr) {
      std::uint8_t* m = mask->GetScanLine(y);
      for (int x = 0; x < w; ++x)
        if (in[x] == transparent) m[x] = 0;
    }
  }
  if (mask != nullptr) {
    mask->SyncFull();
    if (mask->AllSet) maskOut.reset();
  }
}

}  // namespace

void ReadGIFStream(TStream& stream, TIEBitmap& bitmap, int& imageCount, TIOParamsVals& params,
                   TProgressRec& progress, bool preview, std::unique_ptr<TIEMask>& alphaMask, bool ignoreAlpha) {
  imageCount = 0;
  progress.Report(0);
  if (progress.Aborted()) return;
  TGIFWalk walk(stream, bitmap, params, progress, preview, alphaMask, ignoreAlpha);
  imageCount = walk.Run();
  params.SetImageCount(imageCount);
  if (!progress.Aborted()) progress.Report(100);
}

int ReadGIFFrames(TStream& stream, TIOParamsVals& params, TProgressRec& progress, const TGIFFrameSink& sink) {
  progress.Report(0);
  if (progress.Aborted()) return 0;
  TIEBitmap unused;
  std::unique_ptr<TIEMask> unusedMask;
  TGIFWalk walk(stream, unused, params, progress, false, unusedMask, false, &sink);
  const int count = walk.Run();
  params.SetImageCount(count);
  if (!progress.Aborted()) progress.Report(100);
  return count;
}

}  // namespace pravik
