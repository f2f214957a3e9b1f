// TIEBitmap storage, rows, pixels, palette, alpha channel and whole-image copies.
#include "image/bitmap.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <vector>

#include "image/colour.h"
#include "image/os.h"

namespace pravik {

std::int64_t IEDefMinFileSize = -1;
char iegDefTempPath[1024] = "";
std::int64_t iegMaxMemoryBlock = 0;

namespace {

constexpr std::int64_t kHeapLimit = 1'048'576;        // iemaAuto: heap below this size
constexpr std::int64_t kMinFragment = 10'485'760;     // fragments smaller than this are not worth it
constexpr std::int64_t kBlockSlack = 128;             // one-block store over-allocation
constexpr std::int64_t kBlockAlign = 64;
constexpr std::int64_t kFileCopyBlock = 1'048'576;

// Every block is zero-filled: rows a reader never reaches must not carry old
// memory contents into an output file.
struct FreeDeleter {
  void operator()(std::uint8_t* p) const { std::free(p); }
};
using Block = std::unique_ptr<std::uint8_t, FreeDeleter>;

Block AllocBlock(std::int64_t size) {
  if (size <= 0 || (iegMaxMemoryBlock > 0 && size > iegMaxMemoryBlock)) return nullptr;
  if (static_cast<std::uint64_t>(size) > std::numeric_limits<std::size_t>::max()) return nullptr;
  return Block(static_cast<std::uint8_t*>(std::calloc(1, static_cast<std::size_t>(size))));
}

std::int64_t DefaultFileStorageThreshold() {
  if (IEDefMinFileSize != -1) return IEDefMinFileSize;
  static const std::int64_t fromMemory = [] {
    const std::int64_t total = IETotalPhysicalMemory();
    return total > 0 ? static_cast<std::int64_t>(static_cast<double>(total) / 1.3) : std::int64_t{33'554'432};
  }();
  return fromMemory;
}

}  // namespace

// Where the rows live. ScanLine is the working row (valid until the next
// ScanLine); Hold/Release keep several rows of a file-backed store at once.
class RowStore {
 public:
  virtual ~RowStore() = default;
  virtual std::uint8_t* ScanLine(int row) = 0;
  virtual std::uint8_t* Hold(int row) { return ScanLine(row); }
  virtual void Release(int row) {}
  // Writes the working row back (file store); nothing to do in memory.
  virtual void Flush() {}
  virtual TIELocation Location() const { return ieMemory; }
};

namespace {

// One block, rows bottom-up, base aligned to 64 bytes.
class BlockStore final : public RowStore {
 public:
  BlockStore(Block block, std::int64_t rowLen, int height) : block_(std::move(block)), rowLen_(rowLen), height_(height) {
    const auto addr = reinterpret_cast<std::uintptr_t>(block_.get());
    base_ = block_.get() + ((kBlockAlign - addr % kBlockAlign) % kBlockAlign);
  }
  std::uint8_t* ScanLine(int row) override { return base_ + (height_ - 1 - row) * rowLen_; }

 private:
  Block block_;
  std::uint8_t* base_;
  std::int64_t rowLen_;
  int height_;
};

// Rows spread over several blocks, top-down.
class FragmentStore final : public RowStore {
 public:
  static std::unique_ptr<FragmentStore> Create(std::int64_t rowLen, int height) {
    for (std::int64_t count = 4; count < height; count *= 2) {
      const std::int64_t rowsPer = (height + count - 1) / count;
      const std::int64_t fragSize = rowsPer * rowLen;
      if (fragSize < kMinFragment && count > 4) return nullptr;
      std::unique_ptr<FragmentStore> store(new FragmentStore(rowLen, rowsPer));
      bool ok = true;
      for (std::int64_t i = 0; i < count && ok; ++i) {
        store->frags_.push_back(AllocBlock(fragSize));
        ok = store->frags_.back() != nullptr;
      }
      if (ok) return store;
    }
    return nullptr;
  }
  std::uint8_t* ScanLine(int row) override {
    return frags_[row / rowsPer_].get() + (row % rowsPer_) * rowLen_;
  }

 private:
  FragmentStore(std::int64_t rowLen, std::int64_t rowsPer) : rowLen_(rowLen), rowsPer_(rowsPer) {}
  std::vector<Block> frags_;
  std::int64_t rowLen_, rowsPer_;
};

// Rows in a temporary file, top-down, fetched one at a time.
class FileStore final : public RowStore {
 public:
  FileStore(std::unique_ptr<TIETempFile> file, std::int64_t rowLen, const std::uint8_t& access)
      : file_(std::move(file)), rowLen_(rowLen), access_(&access), work_(static_cast<std::size_t>(rowLen)) {}
  // The store follows its owner's RowAccess; a new owner rebinds it.
  void BindAccess(const std::uint8_t& access) { access_ = &access; }
  ~FileStore() override {
    FlushWork();
    for (auto& [row, buf] : held_) WriteBack(row, buf);
  }
  std::uint8_t* ScanLine(int row) override {
    if (row == workRow_) {
      // Fetched read-only before and now wanted for writing: write it back later.
      workAccess_ |= (*access_ & iedWrite);
      return work_.data();
    }
    FlushWork();
    Fetch(row, work_);
    workRow_ = row;
    workAccess_ = *access_;
    return work_.data();
  }
  std::uint8_t* Hold(int row) override {
    auto& buf = held_[row];
    buf.assign(static_cast<std::size_t>(rowLen_), 0);
    Fetch(row, buf);
    return buf.data();
  }
  void Release(int row) override {
    auto it = held_.find(row);
    if (it == held_.end()) return;
    WriteBack(row, it->second);
    held_.erase(it);
  }
  TIELocation Location() const override { return ieFile; }
  void Flush() override { FlushWork(); }

  // Whole-file copy between two file stores of the same size.
  bool CopyFrom(FileStore& src) {
    src.FlushWork();
    workRow_ = -1;
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(std::min<std::int64_t>(kFileCopyBlock, file_->Size())));
    for (std::int64_t off = 0; off < file_->Size(); off += kFileCopyBlock) {
      const auto n = static_cast<std::size_t>(std::min<std::int64_t>(kFileCopyBlock, file_->Size() - off));
      if (!src.file_->ReadAt(off, buf.data(), n) || !file_->WriteAt(off, buf.data(), n)) return false;
    }
    return true;
  }
  std::int64_t FileSize() const { return file_->Size(); }

 private:
  void Fetch(int row, std::vector<std::uint8_t>& buf) {
    if (*access_ & iedRead) {
      if (!file_->ReadAt(row * rowLen_, buf.data(), buf.size())) std::fill(buf.begin(), buf.end(), 0);
    } else {
      std::fill(buf.begin(), buf.end(), 0);
    }
  }
  void WriteBack(int row, const std::vector<std::uint8_t>& buf) {
    if (*access_ & iedWrite) file_->WriteAt(row * rowLen_, buf.data(), buf.size());
  }
  void FlushWork() {
    if (workRow_ >= 0 && (workAccess_ & iedWrite)) file_->WriteAt(workRow_ * rowLen_, work_.data(), work_.size());
    workRow_ = -1;
  }

  std::unique_ptr<TIETempFile> file_;
  std::int64_t rowLen_;
  const std::uint8_t* access_;  // the owner's RowAccess, read at each fetch and release
  std::vector<std::uint8_t> work_;
  int workRow_ = -1;
  std::uint8_t workAccess_ = iedReadWrite;
  std::map<int, std::vector<std::uint8_t>> held_;
};

}  // namespace

// ---- construction -----------------------------------------------------------

// Copies rows from src to dst, fetching src read-only and dst write-only so a
// file-backed store never reads rows it is about to overwrite.
void TIEBitmap::CopyRows(TIEBitmap& src, TIEBitmap& dst, int rows, std::size_t bytes) {
  const std::uint8_t srcAccess = src.RowAccess, dstAccess = dst.RowAccess;
  src.RowAccess = iedRead;
  dst.RowAccess = iedWrite;
  for (int r = 0; r < rows; ++r) {
    const std::uint8_t* s = src.GetScanLine(r);
    std::memcpy(dst.GetScanLine(r), s, bytes);
  }
  if (src.store_) src.store_->Flush();
  if (dst.store_) dst.store_->Flush();
  src.RowAccess = srcAccess;
  dst.RowAccess = dstAccess;
}

TIEBitmap::TIEBitmap() : FileStorageThreshold(DefaultFileStorageThreshold()) {}

TIEBitmap::TIEBitmap(int width, int height, TIEPixelFormat format) : TIEBitmap() { Allocate(width, height, format); }

TIEBitmap::TIEBitmap(int width, int height, TIELocation location) : TIEBitmap() {
  servesAsAlpha_ = true;
  location_ = location == ieTBitmap ? ieMemory : location;
  if (Allocate(width, height, ie8g)) Fill(255);
}

TIEBitmap::~TIEBitmap() = default;

bool TIEBitmap::Allocate(int width, int height, TIEPixelFormat format) {
  if (!ForceReallocate && width == width_ && height == height_ && format == pixelFormat_ && !IsEmpty()) return true;
  FreeImage(true);
  width_ = width;
  height_ = height;
  pixelFormat_ = format;
  const bool ok = AllocateStore();
  if (!ok) FreeImage(true);
  ForceReallocate = false;
  return ok;
}

bool TIEBitmap::AllocateStore() {
  if (width_ < 1 || height_ < 1 || pixelFormat_ == ienull || pixelFormat_ >= IEPixelFormatCount) return false;
  if (pixelFormat_ == ie8p) {
    palette_ = std::make_unique<TRGB[]>(256);
    paletteLen_ = 256;
  }
  bitCount_ = IEPixelFormatBits[pixelFormat_];
  channelCount_ = IEPixelFormatChannels[pixelFormat_];
  const std::int64_t rowLen = IEBitmapRowLen(width_, bitCount_, bitAlignment_);
  if (rowLen <= 0 || rowLen > std::numeric_limits<std::int32_t>::max()) return false;
  rowLen_ = static_cast<int>(rowLen);
  const std::int64_t size = rowLen * height_;

  if (location_ == ieTBitmap) location_ = ieMemory;
  if (location_ == ieFile && size < FileStorageThreshold) location_ = ieMemory;
  else if (location_ == ieMemory && size > FileStorageThreshold) location_ = ieFile;

  auto makeFile = [&]() -> bool {
    auto file = TIETempFile::Create(iegDefTempPath, size);
    if (!file) return false;
    store_ = std::make_unique<FileStore>(std::move(file), rowLen, RowAccess);
    location_ = ieFile;
    return true;
  };
  if (location_ == ieFile && !makeFile()) location_ = ieMemory;
  if (location_ == ieMemory) {
    // iemaAuto and iemaVCL take small blocks from the heap, the rest zero-filled
    // from the system; both are calloc here.
    if (Block block = AllocBlock(size + kBlockSlack)) {
      store_ = std::make_unique<BlockStore>(std::move(block), rowLen, height_);
    } else if (auto frags = FragmentStore::Create(rowLen, height_)) {
      store_ = std::move(frags);
    } else if (!makeFile()) {
      return false;
    }
  }
  AllSet = false;
  return true;
}

void TIEBitmap::FreeStore() { store_.reset(); }

void TIEBitmap::FreeImage(bool freeAlpha) {
  FreeStore();
  palette_.reset();
  paletteLen_ = 0;
  width_ = height_ = rowLen_ = bitCount_ = channelCount_ = 0;
  AllSet = false;
  if (freeAlpha) alpha_.reset();
}

bool TIEBitmap::IsEmpty() const { return width_ == 0 || height_ == 0 || rowLen_ == 0 || bitCount_ == 0 || !store_; }

void TIEBitmap::Reshape(int width, int height, int alignment) {
  if (IsEmpty()) {
    width_ = width;
    height_ = height;
    bitAlignment_ = alignment;
    return;
  }
  auto oldStore = std::move(store_);
  auto oldPalette = std::move(palette_);
  const int oldWidth = width_, oldHeight = height_, oldRowLen = rowLen_, oldAlign = bitAlignment_;
  width_ = width;
  height_ = height;
  bitAlignment_ = alignment;
  if (!AllocateStore()) {
    // Keep the old image rather than lose it.
    store_ = std::move(oldStore);
    palette_ = std::move(oldPalette);
    width_ = oldWidth;
    height_ = oldHeight;
    rowLen_ = oldRowLen;
    bitAlignment_ = oldAlign;
    return;
  }
  if (oldPalette) palette_ = std::move(oldPalette);
  const int rows = std::min(oldHeight, height_);
  const auto bytes = static_cast<std::size_t>(std::min(oldRowLen, rowLen_));
  for (int r = 0; r < rows; ++r) std::memcpy(store_->ScanLine(r), oldStore->ScanLine(r), bytes);
  store_->Flush();
}

void TIEBitmap::SetWidth(int width) {
  if (width == width_) return;
  if (alpha_) alpha_->SetWidth(width);
  Reshape(width, height_, bitAlignment_);
}

void TIEBitmap::SetHeight(int height) {
  if (height == height_) return;
  if (alpha_) alpha_->SetHeight(height);
  Reshape(width_, height, bitAlignment_);
}

void TIEBitmap::SetBitAlignment(int bits) {
  if (bits != 8 && bits != 16 && bits != 32) return;
  if (location_ == ieMemory && !IsEmpty() && bits != bitAlignment_) {
    Reshape(width_, height_, bits);
    if (alpha_) alpha_->SetBitAlignment(bits);
  } else {
    bitAlignment_ = bits;
  }
  ForceReallocate = true;
}

void TIEBitmap::SetLocation(TIELocation location) {
  if (location == ieTBitmap) location = ieMemory;
  if (alpha_) alpha_->SetLocation(location);
  if (IsEmpty()) {
    location_ = location;
    return;
  }
  if (store_->Location() == location) return;
  auto oldStore = std::move(store_);
  const std::int64_t size = std::int64_t(rowLen_) * height_;
  if (location == ieFile) {
    auto file = TIETempFile::Create(iegDefTempPath, size);
    if (!file) {
      store_ = std::move(oldStore);
      return;
    }
    store_ = std::make_unique<FileStore>(std::move(file), rowLen_, RowAccess);
  } else if (Block block = AllocBlock(size + kBlockSlack)) {
    store_ = std::make_unique<BlockStore>(std::move(block), rowLen_, height_);
  } else if (auto frags = FragmentStore::Create(rowLen_, height_)) {
    store_ = std::move(frags);
  } else {
    store_ = std::move(oldStore);
    return;
  }
  location_ = location;
  for (int r = 0; r < height_; ++r) std::memcpy(store_->ScanLine(r), oldStore->ScanLine(r), static_cast<std::size_t>(rowLen_));
  store_->Flush();
}

// ---- rows and pixels ----------------------------------------------------------

std::uint8_t* TIEBitmap::GetScanLine(int row) {
  if (!store_ || row < 0 || row >= height_) return nullptr;
  return store_->ScanLine(row);
}

std::uint8_t* TIEBitmap::GetRow(int row) {
  if (!store_ || row < 0 || row >= height_) return nullptr;
  return store_->Hold(row);
}

void TIEBitmap::FreeRow(int row) {
  if (store_) store_->Release(row);
}

bool TIEBitmap::GetPixels_ie1g(int x, int y) { return (GetScanLine(y)[x >> 3] & (0x80 >> (x & 7))) != 0; }

void TIEBitmap::SetPixels_ie1g(int x, int y, bool value) {
  std::uint8_t& b = GetScanLine(y)[x >> 3];
  if (value) {
    b |= static_cast<std::uint8_t>(0x80 >> (x & 7));
  } else {
    b &= static_cast<std::uint8_t>(~(0x80 >> (x & 7)));
    AllSet = false;
  }
}

std::uint8_t TIEBitmap::GetPixels_ie8(int x, int y) { return GetScanLine(y)[x]; }

void TIEBitmap::SetPixels_ie8(int x, int y, std::uint8_t value) {
  GetScanLine(y)[x] = value;
  if (value != 255) AllSet = false;
}

std::uint16_t TIEBitmap::GetPixels_ie16g(int x, int y) {
  std::uint16_t v;
  std::memcpy(&v, GetScanLine(y) + 2 * std::int64_t(x), 2);
  return v;
}

void TIEBitmap::SetPixels_ie16g(int x, int y, std::uint16_t value) {
  std::memcpy(GetScanLine(y) + 2 * std::int64_t(x), &value, 2);
  if (value != 65535) AllSet = false;
}

float TIEBitmap::GetPixels_ie32f(int x, int y) {
  float v;
  std::memcpy(&v, GetScanLine(y) + 4 * std::int64_t(x), 4);
  return v;
}

void TIEBitmap::SetPixels_ie32f(int x, int y, float value) {
  std::memcpy(GetScanLine(y) + 4 * std::int64_t(x), &value, 4);
  if (value < 1.0f) AllSet = false;
}

TCMYK TIEBitmap::GetPixels_ieCMYK(int x, int y) {
  TCMYK v;
  std::memcpy(&v, GetScanLine(y) + 4 * std::int64_t(x), 4);
  return v;
}

void TIEBitmap::SetPixels_ieCMYK(int x, int y, TCMYK value) { std::memcpy(GetScanLine(y) + 4 * std::int64_t(x), &value, 4); }

TCIELab TIEBitmap::GetPixels_ieCIELab(int x, int y) {
  TCIELab v;
  std::memcpy(&v, GetScanLine(y) + 3 * std::int64_t(x), 3);
  return v;
}

void TIEBitmap::SetPixels_ieCIELab(int x, int y, TCIELab value) {
  std::memcpy(GetScanLine(y) + 3 * std::int64_t(x), &value, 3);
}

TRGB TIEBitmap::GetPixels_ie24RGB(int x, int y) { return *GetPPixels_ie24RGB(x, y); }

void TIEBitmap::SetPixels_ie24RGB(int x, int y, TRGB value) {
  *GetPPixels_ie24RGB(x, y) = value;
  if (!(value.r == 255 && value.g == 255 && value.b == 255)) AllSet = false;
}

TRGB48 TIEBitmap::GetPixels_ie48RGB(int x, int y) { return *GetPPixels_ie48RGB(x, y); }

void TIEBitmap::SetPixels_ie48RGB(int x, int y, TRGB48 value) {
  *GetPPixels_ie48RGB(x, y) = value;
  if (!(value.r == 65535 && value.g == 65535 && value.b == 65535)) AllSet = false;
}

TRGB* TIEBitmap::GetPPixels_ie24RGB(int x, int y) {
  return reinterpret_cast<TRGB*>(GetScanLine(y) + 3 * std::int64_t(x));
}

TRGB48* TIEBitmap::GetPPixels_ie48RGB(int x, int y) {
  return reinterpret_cast<TRGB48*>(GetScanLine(y) + 6 * std::int64_t(x));
}

TRGB TIEBitmap::GetPixels(int x, int y) {
  const std::uint8_t* row = GetScanLine(y);
  if (!row) return TRGB{};
  switch (pixelFormat_) {
    case ie1g: {
      const std::uint8_t v = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
      return TRGB{v, v, v};
    }
    case ie8p: return GetPalette(row[x]);
    case ie8g: return TRGB{row[x], row[x], row[x]};
    case ie16g: {
      const std::uint8_t v = row[2 * std::int64_t(x) + 1];
      return TRGB{v, v, v};
    }
    case ie24RGB: return *reinterpret_cast<const TRGB*>(row + 3 * std::int64_t(x));
    case ie32RGB: return *reinterpret_cast<const TRGB*>(row + 4 * std::int64_t(x));
    case ie32f: {
      float f;
      std::memcpy(&f, row + 4 * std::int64_t(x), 4);
      const double scaled = std::clamp<double>(f * 255.0, -1e9, 1e9);
      const auto v = static_cast<std::uint8_t>(static_cast<std::int64_t>(scaled));
      return TRGB{v, v, v};
    }
    case ieCMYK: return IECMYK2RGB(*reinterpret_cast<const TCMYK*>(row + 4 * std::int64_t(x)));
    case ieCIELab: return IECIELAB2RGB(*reinterpret_cast<const TCIELab*>(row + 3 * std::int64_t(x)));
    case ie48RGB: {
      const TRGB48 p = *reinterpret_cast<const TRGB48*>(row + 6 * std::int64_t(x));
      return CreateRGB(p.r >> 8, p.g >> 8, p.b >> 8);
    }
    default: return TRGB{};
  }
}

std::uint8_t TIEBitmap::GetAlpha(int x, int y) {
  if (servesAsAlpha_) return GetPixels_ie8(x, y);
  TIEBitmap* a = GetAlphaChannel();
  return a && !a->IsEmpty() ? a->GetPixels_ie8(x, y) : 255;
}

void TIEBitmap::SetAlpha(int x, int y, std::uint8_t value) {
  if (servesAsAlpha_) {
    SetPixels_ie8(x, y, value);
    return;
  }
  TIEBitmap* a = GetAlphaChannel();
  if (!a || a->IsEmpty()) return;
  a->SetPixels_ie8(x, y, value);
  if (value != 255) AllSet = false;
}

// ---- palette ------------------------------------------------------------------

TRGB TIEBitmap::GetPalette(int index) const {
  if (!palette_ || index < 0 || index >= paletteLen_) return TRGB{};
  return palette_[index];
}

void TIEBitmap::SetPalette(int index, TRGB colour) {
  if (!palette_ || index < 0 || index >= paletteLen_) return;
  palette_[index] = colour;
}

void TIEBitmap::CopyPaletteTo(TIEBitmap& dest) const {
  if (&dest == this) return;
  dest.palette_.reset();
  dest.paletteLen_ = 0;
  dest.PaletteColorCount = 256;
  if (!palette_) return;
  dest.palette_ = std::make_unique<TRGB[]>(256);
  std::copy(palette_.get(), palette_.get() + paletteLen_, dest.palette_.get());
  dest.paletteLen_ = paletteLen_;
  dest.PaletteColorCount = PaletteColorCount;
}

// ---- alpha channel ------------------------------------------------------------

TIEBitmap* TIEBitmap::GetAlphaChannel() {
  if (servesAsAlpha_) return nullptr;
  if (!alpha_) alpha_ = std::make_unique<TIEBitmap>(width_, height_, location_ == ieFile ? ieFile : ieMemory);
  return alpha_.get();
}

void TIEBitmap::SetAlphaChannel(TIEBitmap* bitmap) {
  if (servesAsAlpha_ || bitmap == alpha_.get()) return;
  alpha_.reset(bitmap);
  if (bitmap) bitmap->servesAsAlpha_ = true;
}

void TIEBitmap::RemoveAlphaChannel(bool merge, TColor background) {
  if (servesAsAlpha_ || !alpha_) return;
  if (merge && pixelFormat_ == ie24RGB && !alpha_->IsEmpty()) {
    const TRGB bg = TColor2TRGB(background);
    const int w = std::min(width_, alpha_->GetWidth()), h = std::min(height_, alpha_->GetHeight());
    // Blend as c' = b + floor((c - b) * a / 256); the shift floors negative values too.
    auto blend = [](int c, int b, int a) { return static_cast<std::uint8_t>(b + (((c - b) * a) >> 8)); };
    for (int y = 0; y < h; ++y) {
      const std::uint8_t* a = alpha_->GetScanLine(y);
      auto* p = reinterpret_cast<TRGB*>(GetScanLine(y));
      for (int x = 0; x < w; ++x) {
        p[x].b = blend(p[x].b, bg.b, a[x]);
        p[x].g = blend(p[x].g, bg.g, a[x]);
        p[x].r = blend(p[x].r, bg.r, a[x]);
      }
    }
  }
  alpha_.reset();
}

void TIEBitmap::SynchronizeRGBA(bool toAlpha) {
  if (pixelFormat_ != ie32RGB || IsEmpty()) return;
  TIEBitmap* a = GetAlphaChannel();
  if (!a || a->IsEmpty()) return;
  for (int y = 0; y < height_; ++y) {
    std::uint8_t* p = GetScanLine(y);
    std::uint8_t* q = a->GetScanLine(y);
    for (int x = 0; x < width_; ++x) {
      if (toAlpha) q[x] = p[4 * x + 3];
      else p[4 * x + 3] = q[x];
    }
  }
  if (toAlpha) a->SyncFull();
}

void TIEBitmap::SyncFull() {
  AllSet = false;
  if (IsEmpty()) return;
  if (pixelFormat_ == ie32f) {
    for (int y = 0; y < height_; ++y) {
      const std::uint8_t* row = GetScanLine(y);
      for (int x = 0; x < width_; ++x) {
        float f;
        std::memcpy(&f, row + 4 * x, 4);
        if (!(f >= 1.0f)) return;
      }
    }
    AllSet = true;
    return;
  }
  // Whole bytes must be 255; a 1-bit row's trailing pixels are checked alone so
  // padding bits do not count.
  const std::int64_t bits = std::int64_t(width_) * bitCount_;
  const std::size_t fullBytes = static_cast<std::size_t>(bits / 8);
  const int tailBits = static_cast<int>(bits % 8);
  const std::uint8_t tailMask = static_cast<std::uint8_t>(0xFF00 >> tailBits);
  for (int y = 0; y < height_; ++y) {
    const std::uint8_t* row = GetScanLine(y);
    for (std::size_t i = 0; i < fullBytes; ++i)
      if (row[i] != 255) return;
    if (tailBits && (row[fullBytes] & tailMask) != tailMask) return;
  }
  AllSet = true;
}

// ---- whole-image copies -------------------------------------------------------

void TIEBitmap::Assign(TIEBitmap& source) {
  if (&source == this) return;
  if (source.IsEmpty()) {
    FreeImage(!servesAsAlpha_);
    return;
  }
  bitAlignment_ = source.bitAlignment_;
  DefaultDitherMethod = source.DefaultDitherMethod;
  ForceReallocate = true;
  if (!Allocate(source.width_, source.height_, source.pixelFormat_)) return;
  auto* dstFile = dynamic_cast<FileStore*>(store_.get());
  auto* srcFile = dynamic_cast<FileStore*>(source.store_.get());
  if (dstFile && srcFile && dstFile->FileSize() == srcFile->FileSize()) {
    dstFile->CopyFrom(*srcFile);
  } else {
    CopyRows(source, *this, height_, static_cast<std::size_t>(std::min(rowLen_, source.rowLen_)));
  }
  source.CopyPaletteTo(*this);
  AllSet = source.AllSet;
  if (!servesAsAlpha_) {
    if (source.alpha_) GetAlphaChannel()->Assign(*source.alpha_);
    else alpha_.reset();
  }
}

void TIEBitmap::AssignImage(TIEBitmap& source) {
  if (&source == this || source.IsEmpty()) return;
  std::unique_ptr<TIEBitmap> ownAlpha = std::move(alpha_);
  ForceReallocate = true;
  const bool ok = Allocate(source.width_, source.height_, source.pixelFormat_);
  alpha_ = std::move(ownAlpha);
  if (!ok) return;
  CopyRows(source, *this, height_, static_cast<std::size_t>(std::min(rowLen_, source.rowLen_)));
  source.CopyPaletteTo(*this);
  DefaultDitherMethod = source.DefaultDitherMethod;
  AllSet = false;
}

void TIEBitmap::SwitchTo(TIEBitmap& dest) {
  if (&dest == this) return;
  dest.FreeImage(true);
  dest.width_ = width_;
  dest.height_ = height_;
  dest.pixelFormat_ = pixelFormat_;
  dest.bitCount_ = bitCount_;
  dest.channelCount_ = channelCount_;
  dest.rowLen_ = rowLen_;
  dest.bitAlignment_ = bitAlignment_;
  dest.palette_ = std::move(palette_);
  dest.paletteLen_ = paletteLen_;
  dest.PaletteColorCount = PaletteColorCount;
  dest.alpha_ = std::move(alpha_);
  dest.location_ = location_;
  dest.AllSet = AllSet;
  dest.MemoryAllocator = MemoryAllocator;
  dest.DefaultDitherMethod = DefaultDitherMethod;
  dest.FileStorageThreshold = FileStorageThreshold;
  // A file store reads the owner's RowAccess by reference: hand it over with the
  // same setting, rebound to the new owner.
  if (auto* fs = dynamic_cast<FileStore*>(store_.get())) {
    dest.RowAccess = RowAccess;
    fs->BindAccess(dest.RowAccess);
  }
  dest.store_ = std::move(store_);
  dest.ForceReallocate = false;
  paletteLen_ = 0;
  width_ = height_ = rowLen_ = bitCount_ = channelCount_ = 0;
  AllSet = false;
  ForceReallocate = true;
}

}  // namespace pravik
