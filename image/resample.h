// Resampling: a new image of another size from an old one, the alpha channel
// included. Point sampling (rfNone), fast linear (box average when reducing,
// linear when enlarging), the kernel filters and interpolating filters.
#pragma once

#include <cstdint>
#include <functional>

namespace pravik {

class TIEBitmap;

enum TResampleFilter : std::uint8_t {
  rfNone = 0,
  rfTriangle = 1,
  rfHermite = 2,
  rfBell = 3,
  rfBSpline = 4,
  rfLanczos3 = 5,
  rfMitchell = 6,
  rfNearest = 7,
  rfLinear = 8,
  rfFastLinear = 9,
  rfBilinear = 10,
  rfBicubic = 11,
  rfProjectBW = 12,  // darkest pixel of each window wins (keeps thin dark strokes)
  rfProjectWB = 13,  // lightest pixel of each window wins
};

// Per-cent reports, Callback(Sender, per) with per 0..100; an empty Callback
// reports nothing. Same shape as the I/O front's progress event.
struct TResampleProgress {
  std::function<void(void* Sender, int per)> Callback;
  void* Sender = nullptr;
};

class TImageProc {
 public:
  // The image Resample works on; not owned.
  void SetAttachedIEBitmap(TIEBitmap* bitmap) { bitmap_ = bitmap; }
  TIEBitmap* GetAttachedIEBitmap() const { return bitmap_; }

  // Replaces the attached image by a resampled copy. Sizes as for ResampleTo.
  void Resample(int newWidth, int newHeight, TResampleFilter filter = rfNone);
  // Allocates dest in the attached image's format and fills it. -1 keeps the
  // aspect ratio from the other size, 0 keeps the current size, other negative
  // values mean their absolute value, results below 1 become 1; nothing
  // happens when both sizes are negative or the image is empty.
  void ResampleTo(TIEBitmap& dest, int newWidth, int newHeight, TResampleFilter filter = rfNone);

  // Called with (this processor, per) while rows are produced.
  std::function<void(void* Sender, int per)> OnProgress;

 private:
  TIEBitmap* bitmap_ = nullptr;
};

// Fills dest (allocated at the target size) from source with filter, alpha
// channel included. Alpha-0 pixels of an ie24RGB source are made grey first
// (this changes source). An ie1g source with a filter other than rfNone gives
// an ie24RGB dest (ie1g for the projections).
void _IEResampleIEBitmap(TIEBitmap& source, TIEBitmap& dest, TResampleFilter filter,
                         const TResampleProgress& progress = {});
// Point sampling, any pixel format; dest must be allocated at the target size
// in source's format. Copies the palette of an ie8p source. No alpha.
void IEBmpStretchEx(TIEBitmap& source, TIEBitmap& dest, const TResampleProgress& progress = {});
// The filtered resamplers alone (no alpha, no ie1g): ie24RGB and ie8g for
// every filter but rfNone, ie48RGB and ie16g for rfBilinear and rfBicubic.
// Other combinations leave dest as it is.
void _ResampleEx(TIEBitmap& source, TIEBitmap& dest, TResampleFilter filter, const TResampleProgress& progress = {});
// Gives every pixel of an ie24RGB image whose alpha is 0 the colour (128, 128, 128).
void _IESetAlpha0Color(TIEBitmap& bitmap);

}  // namespace pravik
