// TIEBitmap: the one in-memory image. Rows live in one aligned block, in
// fragments, or in a temporary file; always reach them through GetScanLine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "image/pixel.h"

namespace pravik {

enum TIELocation : std::uint8_t { ieMemory = 0, ieFile = 1, ieTBitmap = 2 };
enum TIEMemoryAllocator : std::uint8_t { iemaVCL = 0, iemaSystem = 1, iemaAuto = 2 };
enum TIEDitherMethod : std::uint8_t { ieThreshold = 0, ieOrdered = 1 };
enum TIEHAlign : std::uint8_t { iehLeft = 0, iehCenter = 1, iehRight = 2 };
enum TIEVAlign : std::uint8_t { ievTop = 0, ievCenter = 1, ievBottom = 2 };
enum TFlipDir : std::uint8_t { fdHorizontal = 0, fdVertical = 1 };

// RowAccess: whether file-backed rows are read when fetched and written back
// when released.
enum TIERowAccess : std::uint8_t { iedRead = 1, iedWrite = 2, iedReadWrite = 3 };

// Process-wide: file-storage threshold for new bitmaps; -1 means "from the
// machine's physical memory". Tests lower it to run the file-backed store.
extern std::int64_t IEDefMinFileSize;
// Folder for temporary row files; empty means the system's temporary folder.
extern char iegDefTempPath[1024];
// Largest single memory block the allocator hands out; 0 means no limit.
// Lets tests reach the fragmented and file fallbacks.
extern std::int64_t iegMaxMemoryBlock;

class TIEQuantizer;
class TIEMask;
class RowStore;  // private to bitmap.cpp

class TIEBaseBitmap {
 public:
  virtual ~TIEBaseBitmap() = default;
  virtual std::uint8_t* GetScanLine(int row) = 0;
  virtual int GetBitCount() const = 0;
  virtual int GetHeight() const = 0;
  virtual int GetWidth() const = 0;
  virtual TIEPixelFormat GetPixelFormat() const = 0;
  virtual int GetRowLen() const = 0;
  virtual TRGB GetPalette(int index) const = 0;
  virtual void SetPalette(int index, TRGB colour) = 0;
  virtual int GetPaletteLen() const = 0;
  virtual bool Allocate(int width, int height, TIEPixelFormat format) = 0;
};

class TIEBitmap final : public TIEBaseBitmap {
 public:
  TIEBitmap();
  TIEBitmap(int width, int height, TIEPixelFormat format);
  // Alpha-channel constructor: ie8g, all 255, ServesAsAlpha set.
  TIEBitmap(int width, int height, TIELocation location);
  ~TIEBitmap() override;
  TIEBitmap(const TIEBitmap&) = delete;
  TIEBitmap& operator=(const TIEBitmap&) = delete;

  // ---- size and storage -------------------------------------------------------
  bool Allocate(int width, int height, TIEPixelFormat format) override;
  void FreeImage(bool freeAlpha = true);
  bool IsEmpty() const;
  void SetWidth(int width);
  void SetHeight(int height);
  void Resize(int newWidth, int newHeight, double background, double alphaFill, TIEHAlign halign, TIEVAlign valign);
  void SetBitAlignment(int bits);
  int GetBitAlignment() const { return bitAlignment_; }
  void SetLocation(TIELocation location);
  TIELocation GetLocation() const { return location_; }

  int GetWidth() const override { return width_; }
  int GetHeight() const override { return height_; }
  TIEPixelFormat GetPixelFormat() const override { return pixelFormat_; }
  int GetBitCount() const override { return bitCount_; }
  int GetChannelCount() const { return channelCount_; }
  int GetRowLen() const override { return rowLen_; }

  // ---- rows and pixels --------------------------------------------------------
  std::uint8_t* GetScanLine(int row) override;
  // Several rows may be held at once; each stays valid until FreeRow.
  std::uint8_t* GetRow(int row);
  void FreeRow(int row);

  bool GetPixels_ie1g(int x, int y);
  void SetPixels_ie1g(int x, int y, bool value);
  std::uint8_t GetPixels_ie8(int x, int y);
  void SetPixels_ie8(int x, int y, std::uint8_t value);
  std::uint16_t GetPixels_ie16g(int x, int y);
  void SetPixels_ie16g(int x, int y, std::uint16_t value);
  float GetPixels_ie32f(int x, int y);
  void SetPixels_ie32f(int x, int y, float value);
  TCMYK GetPixels_ieCMYK(int x, int y);
  void SetPixels_ieCMYK(int x, int y, TCMYK value);
  TCIELab GetPixels_ieCIELab(int x, int y);
  void SetPixels_ieCIELab(int x, int y, TCIELab value);
  TRGB GetPixels_ie24RGB(int x, int y);
  void SetPixels_ie24RGB(int x, int y, TRGB value);
  TRGB48 GetPixels_ie48RGB(int x, int y);
  void SetPixels_ie48RGB(int x, int y, TRGB48 value);
  TRGB* GetPPixels_ie24RGB(int x, int y);
  TRGB48* GetPPixels_ie48RGB(int x, int y);
  // Any format as TRGB.
  TRGB GetPixels(int x, int y);
  std::uint8_t GetAlpha(int x, int y);
  void SetAlpha(int x, int y, std::uint8_t value);

  // ---- palette ----------------------------------------------------------------
  TRGB GetPalette(int index) const override;
  void SetPalette(int index, TRGB colour) override;
  int GetPaletteLen() const override { return paletteLen_; }
  const TRGB* GetPaletteBuffer() const { return palette_.get(); }
  void CopyPaletteTo(TIEBitmap& dest) const;
  int PaletteColorCount = 256;

  // ---- alpha channel ----------------------------------------------------------
  TIEBitmap* GetAlphaChannel();
  void SetAlphaChannel(TIEBitmap* bitmap);  // takes ownership
  bool GetHasAlphaChannel() const { return alpha_ != nullptr; }
  void RemoveAlphaChannel(bool merge = false, TColor background = clWhite);
  void SynchronizeRGBA(bool toAlpha);
  void SyncFull();
  void MergeAlphaRectTo(TIEBitmap& dest, int srcX, int srcY, int dstX, int dstY, int width, int height);
  bool ServesAsAlpha() const { return servesAsAlpha_; }

  // ---- copying and filling ----------------------------------------------------
  void Assign(TIEBitmap& source);
  void AssignImage(TIEBitmap& source);
  void SwitchTo(TIEBitmap& dest);
  void CopyRectTo(TIEBitmap& dest, int srcX, int srcY, int dstX, int dstY, int width, int height);
  void CopyToTIEMask(TIEMask& mask);
  void CopyFromTIEMask(const TIEMask* mask);
  void Fill(double value);
  void FillRect(int x1, int y1, int x2, int y2, double value);
  bool IsGrayScale();
  bool IsAllBlack();

  // ---- pixel-format change (image/convert.cpp) --------------------------------
  void SetPixelFormat(TIEPixelFormat format);
  void ConvertToPixelFormat(TIEPixelFormat format);
  void CopyAndConvertFormat(TIEBitmap& source);

  // ---- public settings --------------------------------------------------------
  std::int64_t FileStorageThreshold;
  TIEDitherMethod DefaultDitherMethod = ieThreshold;
  TIEMemoryAllocator MemoryAllocator = iemaAuto;
  bool ForceReallocate = true;
  std::uint8_t RowAccess = iedReadWrite;
  bool AllSet = false;

 private:
  bool AllocateStore();
  void FreeStore();
  // Reallocates at a new size/alignment in the same format and copies the
  // overlapping top-left part (SetWidth, SetHeight, SetBitAlignment).
  void Reshape(int width, int height, int alignment);
  static void CopyRows(TIEBitmap& src, TIEBitmap& dst, int rows, std::size_t bytes);
  std::uint8_t* PixelPtr(int x, int y) { return GetScanLine(y) + (std::int64_t(x) * bitCount_ >> 3); }

  int width_ = 0, height_ = 0;
  TIEPixelFormat pixelFormat_ = ienull;
  int bitCount_ = 0, channelCount_ = 0, rowLen_ = 0;
  int bitAlignment_ = 32;
  std::unique_ptr<TRGB[]> palette_;
  int paletteLen_ = 0;
  std::unique_ptr<TIEBitmap> alpha_;
  bool servesAsAlpha_ = false;
  TIELocation location_ = ieFile;
  std::unique_ptr<RowStore> store_;

  friend class RowStore;
};

// Turns the image in place as an EXIF/TIFF orientation value prescribes (1-8).
void IEAdjustEXIFOrientation(TIEBitmap& bitmap, int orientation);
// Mirrors left-right or flips top-bottom (alpha channel too).
void _FlipEx(TIEBitmap& bitmap, TFlipDir direction);
// Turns by a multiple of 90 degrees, positive counter-clockwise (alpha too).
void _RotateEx(TIEBitmap& bitmap, int angle);

}  // namespace pravik
