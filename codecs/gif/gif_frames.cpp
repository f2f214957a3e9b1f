// The GIF load step of the front: a file with one image loads as that image;
// a file with several loads as frames 0 to GIF_IMAGEINDEX drawn in turn on a
// canvas of the logical screen, each previous frame disposed of as its
// graphic control extension says.
#include <algorithm>
#include <cstring>

#include "codecs/gif/gif.h"
#include "codecs/gif/gif_lzw.h"
#include "codecs/gif/gif_walk.h"
#include "image/bitmap.h"
#include "image/mask.h"
#include "imageio/limits.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/stream.h"

namespace pravik {

namespace {

struct TRect {
  int X = 0, Y = 0, W = 0, H = 0;  // already clipped to the canvas
};

// Where a frame goes and what happens to it before the next one is drawn.
struct TFramePlace {
  int Left = 0, Top = 0;
  int Action = ioGIF_None;
};

TFramePlace PlaceOf(const TIOParamsVals& params) { return {params.GIF_XPOS, params.GIF_YPOS, params.GIF_ACTION}; }

// An ie24RGB canvas with an ie8g alpha channel (0 where nothing was drawn).
class TGIFCanvas {
 public:
  // pixelLimit: the largest canvas the file may ask for.
  explicit TGIFCanvas(std::int64_t pixelLimit) : pixelLimit_(pixelLimit) {}

  // Disposes of the previous frame, then draws this one. False (with a
  // failure reported) when the canvas would be too large.
  bool Draw(TIEBitmap& frame, const TFramePlace& place, TIOParamsVals& params, TProgressRec& progress);
  TIEBitmap& Image() { return canvas_; }

 private:
  TRect Clip(int x, int y, int w, int h) const;
  void Dispose();
  void Save(const TRect& r);

  const std::int64_t pixelLimit_;
  TIEBitmap canvas_;
  TRGB background_{};
  TRect previous_;
  int previousAction_ = ioGIF_None;
  // What a "restore previous" frame covered, with its alpha.
  TIEBitmap saved_;
  TRect savedRect_;
};

TRect TGIFCanvas::Clip(int x, int y, int w, int h) const {
  TRect r;
  const std::int64_t x1 = std::min<std::int64_t>(std::int64_t(x) + w, canvas_.GetWidth());
  const std::int64_t y1 = std::min<std::int64_t>(std::int64_t(y) + h, canvas_.GetHeight());
  r.X = x;
  r.Y = y;
  r.W = static_cast<int>(std::max<std::int64_t>(0, x1 - x));
  r.H = static_cast<int>(std::max<std::int64_t>(0, y1 - y));
  return r;
}

void TGIFCanvas::Dispose() {
  const TRect& r = previous_;
  if (r.W <= 0 || r.H <= 0) return;
  TIEBitmap& alpha = *canvas_.GetAlphaChannel();
  if (previousAction_ == ioGIF_DrawBackground) {
    canvas_.FillRect(r.X, r.Y, r.X + r.W - 1, r.Y + r.H - 1, TRGB2TColor(background_));
    alpha.FillRect(r.X, r.Y, r.X + r.W - 1, r.Y + r.H - 1, 0);
  } else if (previousAction_ == ioGIF_RestorePrev && !saved_.IsEmpty()) {
    const TRect& s = savedRect_;
    for (int y = 0; y < s.H; ++y) {
      std::memcpy(canvas_.GetScanLine(s.Y + y) + 3 * std::int64_t(s.X), saved_.GetScanLine(y),
                  3 * static_cast<std::size_t>(s.W));
      std::memcpy(alpha.GetScanLine(s.Y + y) + s.X, saved_.GetAlphaChannel()->GetScanLine(y),
                  static_cast<std::size_t>(s.W));
    }
  }
}

void TGIFCanvas::Save(const TRect& r) {
  saved_.FreeImage();
  savedRect_ = r;
  if (r.W <= 0 || r.H <= 0 || !saved_.Allocate(r.W, r.H, ie24RGB)) return;
  TIEBitmap& alpha = *canvas_.GetAlphaChannel();
  TIEBitmap& savedAlpha = *saved_.GetAlphaChannel();
  for (int y = 0; y < r.H; ++y) {
    std::memcpy(saved_.GetScanLine(y), canvas_.GetScanLine(r.Y + y) + 3 * std::int64_t(r.X),
                3 * static_cast<std::size_t>(r.W));
    std::memcpy(savedAlpha.GetScanLine(y), alpha.GetScanLine(r.Y + y) + r.X, static_cast<std::size_t>(r.W));
  }
}

bool TGIFCanvas::Draw(TIEBitmap& frame, const TFramePlace& place, TIOParamsVals& params, TProgressRec& progress) {
  if (!canvas_.IsEmpty()) Dispose();
  const int fw = frame.GetWidth(), fh = frame.GetHeight();
  const int w = std::max(params.GIF_WINWIDTH, fw), h = std::max(params.GIF_WINHEIGHT, fh);
  if (std::int64_t(w) * h > pixelLimit_ || !IEImageSizeAllowed(w, h, 32)) {
    progress.Fail("the GIF logical screen is larger than the file could fill");
    return false;
  }
  const double backgroundValue = TRGB2TColor(params.GIF_BACKGROUND);
  if (canvas_.IsEmpty()) {
    background_ = params.GIF_BACKGROUND;
    if (!canvas_.Allocate(w, h, ie24RGB)) {
      progress.Fail("not enough memory for the GIF frames");
      return false;
    }
    canvas_.Fill(backgroundValue);
    canvas_.GetAlphaChannel()->Fill(0);
  } else if (canvas_.GetWidth() < w || canvas_.GetHeight() < h) {
    // Space no frame has drawn on stays transparent.
    canvas_.Resize(std::max(w, canvas_.GetWidth()), std::max(h, canvas_.GetHeight()), backgroundValue, 0, iehLeft,
                   ievTop);
  }

  const TRect r = Clip(place.Left, place.Top, fw, fh);
  if (place.Action == ioGIF_RestorePrev) Save(r);
  if (frame.GetPixelFormat() != ie24RGB) frame.ConvertToPixelFormat(ie24RGB);
  TIEBitmap* frameAlpha = frame.GetHasAlphaChannel() ? frame.GetAlphaChannel() : nullptr;
  TIEBitmap& alpha = *canvas_.GetAlphaChannel();
  for (int y = 0; y < r.H; ++y) {
    const auto* src = reinterpret_cast<const TRGB*>(frame.GetScanLine(y));
    auto* dst = reinterpret_cast<TRGB*>(canvas_.GetScanLine(r.Y + y)) + r.X;
    std::uint8_t* da = alpha.GetScanLine(r.Y + y) + r.X;
    if (frameAlpha == nullptr) {
      std::memcpy(dst, src, 3 * static_cast<std::size_t>(r.W));
      std::memset(da, 255, static_cast<std::size_t>(r.W));
      continue;
    }
    const std::uint8_t* sa = frameAlpha->GetScanLine(y);
    for (int x = 0; x < r.W; ++x) {
      const int a = sa[x];
      if (a == 255) {
        dst[x] = src[x];
      } else if (a != 0) {
        auto mix = [a](int s, int d) { return static_cast<std::uint8_t>((s * a + d * (255 - a) + 127) / 255); };
        dst[x] = TRGB{mix(src[x].b, dst[x].b), mix(src[x].g, dst[x].g), mix(src[x].r, dst[x].r)};
      }
      da[x] = std::max<std::uint8_t>(da[x], static_cast<std::uint8_t>(a));
    }
  }
  alpha.AllSet = false;

  previous_ = r;
  previousAction_ = place.Action;
  params.GIF_ACTION = ioGIF_DrawBackground;
  params.GIF_XPOS = params.GIF_YPOS = 0;
  return true;
}

bool IsBlackWhite(TIEBitmap& bitmap) {
  for (int y = 0; y < bitmap.GetHeight(); ++y) {
    const auto* row = reinterpret_cast<const TRGB*>(bitmap.GetScanLine(y));
    for (int x = 0; x < bitmap.GetWidth(); ++x) {
      const TRGB c = row[x];
      if (!(c == TRGB{0, 0, 0}) && !(c == TRGB{255, 255, 255})) return false;
    }
  }
  return true;
}

}  // namespace

void GIFFrameRead(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview) {
  int count = 0;
  if (preview) {
    std::unique_ptr<TIEMask> none;
    ReadGIFStream(stream, bitmap, count, params, progress, true, none, true);
    return;
  }
  bitmap.RemoveAlphaChannel(false);
  const std::int64_t start = stream.GetPosition();
  const int requested = params.GIF_IMAGEINDEX;
  // Past the first frame the reader's own per cent would restart for each
  // frame: report per frame instead, out of the images a first walk counts.
  TProgressRec frameProgress = progress;
  int total = 0;
  if (requested >= 1) {
    frameProgress.Callback = nullptr;
    TIEBitmap none;
    std::unique_ptr<TIEMask> noMask;
    ReadGIFStream(stream, none, total, params, frameProgress, true, noMask, true);
    if (progress.Aborted()) return;
    stream.Seek(start, soBeginning);
    params.GIF_COMMENTS.clear();
  }

  // One walk decodes frames 0 to the requested one. Frame 0 is kept aside
  // until a second image shows that there is something to compose.
  TGIFCanvas canvas(GIFLZWMaxPixels(stream.GetSize() - start));
  TIEBitmap first;
  TFramePlace firstPlace;
  TIEPixelFormat frameFormat = ie24RGB;
  const TGIFFrameSink sink = [&](TIEBitmap& frame, std::unique_ptr<TIEMask>& mask, int index) {
    if (mask) frame.GetAlphaChannel()->CopyFromTIEMask(mask.get());
    frameFormat = frame.GetPixelFormat();
    const TFramePlace place = PlaceOf(params);
    bool ok = true;
    if (index == 0) {
      frame.SwitchTo(first);
      firstPlace = place;
    } else {
      if (canvas.Image().IsEmpty()) ok = canvas.Draw(first, firstPlace, params, progress);
      ok = ok && canvas.Draw(frame, place, params, progress);
    }
    if (total > 0) progress.Report(static_cast<int>(std::int64_t(index) * 100 / total));
    return ok;
  };
  count = ReadGIFFrames(stream, params, frameProgress, sink);
  params.GIF_IMAGEINDEX = requested;
  if (first.IsEmpty()) {
    if (!progress.Aborted()) progress.Fail("the GIF file holds no image");
    return;
  }
  if (count < 2) {
    first.SwitchTo(bitmap);
    return;
  }
  // Frame 0 alone was asked for (or the data ended in it): it still goes on
  // the logical screen.
  if (canvas.Image().IsEmpty() && !canvas.Draw(first, firstPlace, params, progress)) return;

  // The composition is the loaded image: its size is the canvas's.
  TIEBitmap& result = canvas.Image();
  TIEBitmap* alpha = result.GetAlphaChannel();
  alpha->SyncFull();
  const bool opaque = alpha->AllSet;
  result.SwitchTo(bitmap);
  if (opaque) bitmap.RemoveAlphaChannel(false);
  // Back to the frame's own format where nothing is lost by it: a palette
  // when native formats were asked for, black and white only when the
  // composition holds nothing else.
  if (frameFormat == ie8p || (frameFormat == ie1g && IsBlackWhite(bitmap))) bitmap.ConvertToPixelFormat(frameFormat);
  params.WIDTH = bitmap.GetWidth();
  params.HEIGHT = bitmap.GetHeight();
}

}  // namespace pravik
