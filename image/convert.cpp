// Pixel-format conversion of TIEBitmap, black and white, two-colour detection,
// row repacking and the row colour-space converter.
//
// Every conversion is one pass over the rows through GetScanLine, so it works
// with any row store. A table of row converters indexed by (source, target)
// holds every pair with a formula of its own; an empty cell means "through
// ie24RGB", done row by row through a TRGB buffer (the same pixels as
// converting the whole image to ie24RGB first, without the second image).
#include "image/convert.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "image/quantize.h"

namespace pravik {

const std::int32_t BWORDERPATTERN[64] = {
    0,  32, 8,  40, 2,  34, 10, 42, 48, 16, 56, 24, 50, 18, 58, 26, 12, 44, 4,  36, 14, 46,
    6,  38, 60, 28, 52, 20, 62, 30, 54, 22, 3,  35, 11, 43, 1,  33, 9,  41, 51, 19, 59, 27,
    49, 17, 57, 25, 15, 47, 7,  39, 13, 45, 5,  37, 63, 31, 55, 23, 61, 29, 53, 21,
};

TIEConvertColorFunction IEConvertColorFunction = IEDefaultConvertColorFunction;

namespace {

// ---- pixels ---------------------------------------------------------------------

struct TRGBA {
  std::uint8_t b, g, r, a;
};

// Rows are byte buffers; pixels are moved with memcpy so that no access is
// misaligned whatever the row's address.
template <class T>
inline T Load(const std::uint8_t* row, std::int64_t i) {
  T v;
  std::memcpy(&v, row + i * std::int64_t(sizeof(T)), sizeof(T));
  return v;
}
template <class T>
inline void Store(std::uint8_t* row, std::int64_t i, const T& v) {
  std::memcpy(row + i * std::int64_t(sizeof(T)), &v, sizeof(T));
}
inline bool Bit(const std::uint8_t* row, int x) { return (row[x >> 3] & (0x80 >> (x & 7))) != 0; }

// Truncation toward zero of a float-derived value; out-of-range values keep
// their low bits when stored (1.5 * 255 = 382 stores 126), NaN gives 0.
inline std::int64_t Trunc(double v) {
  if (std::isnan(v)) return 0;
  return static_cast<std::int64_t>(std::clamp(v, -9.0e18, 9.0e18));
}
inline std::uint8_t FloatByte(float f) { return static_cast<std::uint8_t>(Trunc(f * 255.0)); }
inline std::uint16_t FloatWord(float f) { return static_cast<std::uint16_t>(Trunc(f * 65535.0)); }
inline std::uint16_t Widen(std::uint8_t v) { return static_cast<std::uint16_t>(v * 257); }
inline TRGB Grey3(std::uint8_t v) { return TRGB{v, v, v}; }
inline TRGB48 Grey48(std::uint16_t w) { return TRGB48{w, w, w}; }
inline TRGBA Opaque(TRGB c) { return TRGBA{c.b, c.g, c.r, 255}; }

// v / 255 as float, for ie8g to ie32f.
const std::array<float, 256>& ByteToFloat() {
  static const std::array<float, 256> table = [] {
    std::array<float, 256> t{};
    for (int i = 0; i < 256; ++i) t[i] = static_cast<float>(i / 255.0L);
    return t;
  }();
  return table;
}

// ---- row converters -------------------------------------------------------------------

// What a row converter needs besides the two rows; set up once per conversion.
struct RowContext {
  int wr = 21, wg = 71, wb = 8;  // grey weights, read once from the globals
  // ie8p source: the palette and each entry's greys.
  const TRGB* palette = nullptr;
  std::array<std::uint8_t, 256> grey8{};
  std::array<std::uint16_t, 256> grey16{};
  std::array<float, 256> greyF{};
  // ie1g target.
  bool ordered = false;
  int level = 0;  // threshold
  int y = 0;      // current row, for the ordered pattern
  // ie8p target from ie24RGB.
  const TIEQuantizer* quantizer = nullptr;

  std::uint8_t Grey8(TRGB c) const { return static_cast<std::uint8_t>((c.r * wr + c.g * wg + c.b * wb) / 100); }
};

using RowConverter = void (*)(const std::uint8_t* src, std::uint8_t* dst, int n, const RowContext& ctx);

template <class In, class Out, class F>
inline void Map(const std::uint8_t* src, std::uint8_t* dst, int n, F f) {
  for (int x = 0; x < n; ++x) Store<Out>(dst, x, f(Load<In>(src, x)));
}
template <class Out, class F>
inline void MapBits(const std::uint8_t* src, std::uint8_t* dst, int n, F f) {
  for (int x = 0; x < n; ++x) Store<Out>(dst, x, f(Bit(src, x)));
}

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using RC = const RowContext&;

// ie1g (1 = white)
void G1To8p(const u8* s, u8* d, int n, RC) { MapBits<u8>(s, d, n, [](bool b) { return u8(b); }); }
void G1To8g(const u8* s, u8* d, int n, RC) { MapBits<u8>(s, d, n, [](bool b) { return u8(b ? 255 : 0); }); }
void G1To16g(const u8* s, u8* d, int n, RC) { MapBits<u16>(s, d, n, [](bool b) { return u16(b ? 65535 : 0); }); }
void G1To24(const u8* s, u8* d, int n, RC) { MapBits<TRGB>(s, d, n, [](bool b) { return Grey3(b ? 255 : 0); }); }
void G1To32f(const u8* s, u8* d, int n, RC) { MapBits<float>(s, d, n, [](bool b) { return b ? 1.0f : 0.0f; }); }
void G1To48(const u8* s, u8* d, int n, RC) { MapBits<TRGB48>(s, d, n, [](bool b) { return Grey48(b ? 65535 : 0); }); }
void G1To32RGB(const u8* s, u8* d, int n, RC) {
  MapBits<TRGBA>(s, d, n, [](bool b) { return Opaque(Grey3(b ? 255 : 0)); });
}

// ie8p (the palette's greys are computed once per conversion)
void P8To8g(const u8* s, u8* d, int n, RC c) { Map<u8, u8>(s, d, n, [&](u8 i) { return c.grey8[i]; }); }
void P8To16g(const u8* s, u8* d, int n, RC c) { Map<u8, u16>(s, d, n, [&](u8 i) { return c.grey16[i]; }); }
void P8To24(const u8* s, u8* d, int n, RC c) { Map<u8, TRGB>(s, d, n, [&](u8 i) { return c.palette[i]; }); }
void P8To32f(const u8* s, u8* d, int n, RC c) { Map<u8, float>(s, d, n, [&](u8 i) { return c.greyF[i]; }); }
void P8To48(const u8* s, u8* d, int n, RC c) {
  Map<u8, TRGB48>(s, d, n, [&](u8 i) {
    const TRGB p = c.palette[i];
    return TRGB48{Widen(p.r), Widen(p.g), Widen(p.b)};
  });
}
void P8To32RGB(const u8* s, u8* d, int n, RC c) { Map<u8, TRGBA>(s, d, n, [&](u8 i) { return Opaque(c.palette[i]); }); }

// ie8g
void G8To8p(const u8* s, u8* d, int n, RC) { std::memcpy(d, s, static_cast<std::size_t>(n)); }
void G8To16g(const u8* s, u8* d, int n, RC) { Map<u8, u16>(s, d, n, Widen); }
void G8To24(const u8* s, u8* d, int n, RC) { Map<u8, TRGB>(s, d, n, Grey3); }
void G8To32f(const u8* s, u8* d, int n, RC) {
  const auto& t = ByteToFloat();
  Map<u8, float>(s, d, n, [&](u8 v) { return t[v]; });
}
void G8To48(const u8* s, u8* d, int n, RC) { Map<u8, TRGB48>(s, d, n, [](u8 v) { return Grey48(Widen(v)); }); }
void G8To32RGB(const u8* s, u8* d, int n, RC) { Map<u8, TRGBA>(s, d, n, [](u8 v) { return Opaque(Grey3(v)); }); }

// ie16g (w): the high byte where 8 bits are wanted
void G16To8(const u8* s, u8* d, int n, RC) { Map<u16, u8>(s, d, n, [](u16 w) { return u8(w >> 8); }); }
void G16To24(const u8* s, u8* d, int n, RC) { Map<u16, TRGB>(s, d, n, [](u16 w) { return Grey3(u8(w >> 8)); }); }
void G16To32f(const u8* s, u8* d, int n, RC) {
  Map<u16, float>(s, d, n, [](u16 w) { return static_cast<float>(w / 65535.0L); });
}
void G16To48(const u8* s, u8* d, int n, RC) { Map<u16, TRGB48>(s, d, n, Grey48); }
void G16To32RGB(const u8* s, u8* d, int n, RC) {
  Map<u16, TRGBA>(s, d, n, [](u16 w) { return Opaque(Grey3(u8(w >> 8))); });
}

// ie24RGB
void RGBTo8p(const u8* s, u8* d, int n, RC c) {
  Map<TRGB, u8>(s, d, n, [&](TRGB p) { return static_cast<u8>(c.quantizer->GetRGBIndex(p)); });
}
void RGBTo8g(const u8* s, u8* d, int n, RC c) { Map<TRGB, u8>(s, d, n, [&](TRGB p) { return c.Grey8(p); }); }
void RGBTo16g(const u8* s, u8* d, int n, RC) {
  Map<TRGB, u16>(s, d, n, [](TRGB p) { return IEGrey16(Widen(p.r), Widen(p.g), Widen(p.b)); });
}
void RGBTo32f(const u8* s, u8* d, int n, RC) { Map<TRGB, float>(s, d, n, IEGreyF); }
void RGBToCMYK(const u8* s, u8* d, int n, RC) {
  IERGB2CMYKRow(reinterpret_cast<const TRGB*>(s), reinterpret_cast<TCMYK*>(d), n);
}
void RGBTo48(const u8* s, u8* d, int n, RC) {
  Map<TRGB, TRGB48>(s, d, n, [](TRGB p) { return TRGB48{Widen(p.r), Widen(p.g), Widen(p.b)}; });
}
void RGBToLab(const u8* s, u8* d, int n, RC) { Map<TRGB, TCIELab>(s, d, n, IERGB2CIELAB); }
void RGBTo32RGB(const u8* s, u8* d, int n, RC) { Map<TRGB, TRGBA>(s, d, n, Opaque); }

// Black and white from TRGB: threshold (grey >= level is white) or the ordered
// pattern (white where the pattern lies below grey div 4).
void RGBTo1g(const u8* s, u8* d, int n, RC c) {
  int pattern[8];
  for (int i = 0; i < 8; ++i) pattern[i] = BWORDERPATTERN[i * 8 + (c.y & 7)];
  int x = 0;
  for (int byte = 0; x < n; ++byte) {
    u8 acc = 0;
    const int end = std::min(n, x + 8);
    for (int mask = 0x80; x < end; ++x, mask >>= 1) {
      const int grey = c.Grey8(Load<TRGB>(s, x));
      const bool white = c.ordered ? pattern[x & 7] < (grey >> 2) : grey >= c.level;
      if (white) acc = static_cast<u8>(acc | mask);
    }
    d[byte] = acc;
  }
}

// ie32f (f): T(f x 255) or T(f x 65535)
void FTo8(const u8* s, u8* d, int n, RC) { Map<float, u8>(s, d, n, FloatByte); }
void FTo16g(const u8* s, u8* d, int n, RC) { Map<float, u16>(s, d, n, FloatWord); }
void FTo24(const u8* s, u8* d, int n, RC) { Map<float, TRGB>(s, d, n, [](float f) { return Grey3(FloatByte(f)); }); }
void FTo48(const u8* s, u8* d, int n, RC) { Map<float, TRGB48>(s, d, n, [](float f) { return Grey48(FloatWord(f)); }); }
void FTo32RGB(const u8* s, u8* d, int n, RC) {
  Map<float, TRGBA>(s, d, n, [](float f) { return Opaque(Grey3(FloatByte(f))); });
}

// ieCMYK, ieCIELab, ie32RGB: only to ie24RGB directly
void CMYKTo24(const u8* s, u8* d, int n, RC) {
  IECMYK2RGBRow(reinterpret_cast<const TCMYK*>(s), reinterpret_cast<TRGB*>(d), n);
}
void LabTo24(const u8* s, u8* d, int n, RC) { Map<TCIELab, TRGB>(s, d, n, IECIELAB2RGB); }
void RGBATo24(const u8* s, u8* d, int n, RC) {
  Map<TRGBA, TRGB>(s, d, n, [](TRGBA p) { return TRGB{p.b, p.g, p.r}; });
}

// ie48RGB (R16, G16, B16)
TRGB High(TRGB48 p) { return CreateRGB(u8(p.r >> 8), u8(p.g >> 8), u8(p.b >> 8)); }
void W48To8g(const u8* s, u8* d, int n, RC c) { Map<TRGB48, u8>(s, d, n, [&](TRGB48 p) { return c.Grey8(High(p)); }); }
void W48To16g(const u8* s, u8* d, int n, RC) {
  Map<TRGB48, u16>(s, d, n, [](TRGB48 p) { return IEGrey16(p.r, p.g, p.b); });
}
void W48To24(const u8* s, u8* d, int n, RC) { Map<TRGB48, TRGB>(s, d, n, High); }
// Scaled by 65535, the words' full range: scaling by 256 x 255 would put
// white at 1.0039, which reads back as 256 and wraps to black.
void W48To32f(const u8* s, u8* d, int n, RC) {
  Map<TRGB48, float>(s, d, n, [](TRGB48 p) {
    return static_cast<float>((0.2126L * p.r + 0.7152L * p.g + 0.0722L * p.b) / 65535);
  });
}
void W48To32RGB(const u8* s, u8* d, int n, RC) { Map<TRGB48, TRGBA>(s, d, n, [](TRGB48 p) { return Opaque(High(p)); }); }

// [source][target]; null: through ie24RGB (and the diagonal: same format).
// Targets ie1g from anything but ie24RGB, and ie8p from formats without a
// grey ramp, are null too: they go through TRGB rows or an ie24RGB image.
constexpr RowConverter kConverters[IEPixelFormatCount][IEPixelFormatCount] = {
    // ienull  ie1g    ie8p     ie8g     ie16g     ie24RGB    ie32f     ieCMYK     ie48RGB  ieCIELab  ie32RGB
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},        // ienull
    {nullptr, nullptr, G1To8p, G1To8g, G1To16g, G1To24, G1To32f, nullptr, G1To48, nullptr, G1To32RGB},         // ie1g
    {nullptr, nullptr, nullptr, P8To8g, P8To16g, P8To24, P8To32f, nullptr, P8To48, nullptr, P8To32RGB},        // ie8p
    {nullptr, nullptr, G8To8p, nullptr, G8To16g, G8To24, G8To32f, nullptr, G8To48, nullptr, G8To32RGB},        // ie8g
    {nullptr, nullptr, G16To8, G16To8, nullptr, G16To24, G16To32f, nullptr, G16To48, nullptr, G16To32RGB},     // ie16g
    {nullptr, RGBTo1g, RGBTo8p, RGBTo8g, RGBTo16g, nullptr, RGBTo32f, RGBToCMYK, RGBTo48, RGBToLab, RGBTo32RGB},  // ie24RGB
    {nullptr, nullptr, FTo8, FTo8, FTo16g, FTo24, nullptr, nullptr, FTo48, nullptr, FTo32RGB},                 // ie32f
    {nullptr, nullptr, nullptr, nullptr, nullptr, CMYKTo24, nullptr, nullptr, nullptr, nullptr, nullptr},      // ieCMYK
    {nullptr, nullptr, nullptr, W48To8g, W48To16g, W48To24, W48To32f, nullptr, nullptr, nullptr, W48To32RGB},  // ie48RGB
    {nullptr, nullptr, nullptr, nullptr, nullptr, LabTo24, nullptr, nullptr, nullptr, nullptr, nullptr},       // ieCIELab
    {nullptr, nullptr, nullptr, nullptr, nullptr, RGBATo24, nullptr, nullptr, nullptr, nullptr, nullptr},      // ie32RGB
};

bool ValidFormat(TIEPixelFormat f) { return f > ienull && f < IEPixelFormatCount; }

// Whether a conversion to ie8p needs the whole image as ie24RGB first (for
// the quantizer).
bool NeedsRGBImageFor8p(TIEPixelFormat source) {
  return source != ie24RGB && source != ie8p && kConverters[source][ie8p] == nullptr;
}

void PrepareSource(RowContext& ctx, const TIEBitmap& source) {
  ctx.wr = gRedToGrayCoef;
  ctx.wg = gGreenToGrayCoef;
  ctx.wb = gBlueToGrayCoef;
  if (source.GetPixelFormat() != ie8p) return;
  static const TRGB kNoPalette[256] = {};
  ctx.palette = source.GetPaletteBuffer() && source.GetPaletteLen() >= 256 ? source.GetPaletteBuffer() : kNoPalette;
  for (int i = 0; i < 256; ++i) {
    const TRGB p = ctx.palette[i];
    ctx.grey8[i] = ctx.Grey8(p);
    ctx.grey16[i] = IEGrey16(Widen(p.r), Widen(p.g), Widen(p.b));
    ctx.greyF[i] = IEGreyF(p);
  }
}

// Rows of any format as TRGB (as GetPixels reads them).
class RGBRows {
 public:
  explicit RGBRows(TIEBitmap& bitmap) : bitmap_(bitmap), format_(bitmap.GetPixelFormat()) {
    PrepareSource(ctx_, bitmap);
    if (format_ != ie24RGB && ValidFormat(format_)) {
      convert_ = kConverters[format_][ie24RGB];
      buffer_.resize(static_cast<std::size_t>(bitmap.GetWidth()));
    }
  }
  bool Ok() const { return !bitmap_.IsEmpty() && (format_ == ie24RGB || convert_ != nullptr); }
  // Valid until the next Row call or the next GetScanLine of the bitmap.
  const TRGB* Row(int y) {
    const std::uint8_t* src = bitmap_.GetScanLine(y);
    if (!convert_) return reinterpret_cast<const TRGB*>(src);
    convert_(src, reinterpret_cast<std::uint8_t*>(buffer_.data()), bitmap_.GetWidth(), ctx_);
    return buffer_.data();
  }

 private:
  TIEBitmap& bitmap_;
  TIEPixelFormat format_;
  RowContext ctx_;
  RowConverter convert_ = nullptr;
  std::vector<TRGB> buffer_;
};

// While converting, the source's file-backed rows are only read and the
// target's only written: nothing is read back from a file about to be
// overwritten, and nothing written to one only read.
class RowAccessScope {
 public:
  RowAccessScope(TIEBitmap& source, TIEBitmap& target)
      : source_(source), target_(target), sourceAccess_(source.RowAccess), targetAccess_(target.RowAccess) {
    source.RowAccess = iedRead;
    target.RowAccess = iedWrite;
  }
  ~RowAccessScope() {
    source_.RowAccess = sourceAccess_;
    target_.RowAccess = targetAccess_;
  }
  RowAccessScope(const RowAccessScope&) = delete;
  RowAccessScope& operator=(const RowAccessScope&) = delete;

 private:
  TIEBitmap& source_;
  TIEBitmap& target_;
  std::uint8_t sourceAccess_, targetAccess_;
};

void PackBits(std::uint8_t* dest, int x, bool value) {
  if (value) dest[x >> 3] = static_cast<std::uint8_t>(dest[x >> 3] | (0x80 >> (x & 7)));
}

}  // namespace

// ---- TIEBitmap pixel-format change ----------------------------------------------------

void TIEBitmap::SetPixelFormat(TIEPixelFormat format) {
  if (format == pixelFormat_) return;
  ConvertToPixelFormat(format);
}

void TIEBitmap::ConvertToPixelFormat(TIEPixelFormat format) {
  if (format >= IEPixelFormatCount) return;
  if (IsEmpty()) {
    pixelFormat_ = format;  // nothing to convert; the next allocation takes it
    return;
  }
  // The quantizer works on a whole ie24RGB image.
  if (format == ie8p && NeedsRGBImageFor8p(pixelFormat_)) {
    ConvertToPixelFormat(ie24RGB);
    if (pixelFormat_ != ie24RGB) return;  // kept as it was: no memory for the step
  }
  // The scratch takes the old image (store, palette, alpha); this bitmap is
  // reallocated in the new format and filled from it.
  TIEBitmap scratch;
  SwitchTo(scratch);
  if (format == ienull) {
    pixelFormat_ = ienull;  // converting to "no image" drops it
    return;
  }
  ForceReallocate = true;
  if (!Allocate(scratch.width_, scratch.height_, format)) {
    // No room for the new store: keep the old image rather than lose it.
    scratch.SwitchTo(*this);
    return;
  }
  try {
    CopyAndConvertFormat(scratch);
  } catch (...) {
    scratch.SwitchTo(*this);
    throw;
  }
}

void TIEBitmap::CopyAndConvertFormat(TIEBitmap& source) {
  if (&source == this || IsEmpty() || source.IsEmpty()) return;
  if (source.width_ != width_ || source.height_ != height_) return;
  if (!ValidFormat(source.pixelFormat_) || !ValidFormat(pixelFormat_)) return;
  const TIEPixelFormat target = pixelFormat_;

  if (target == ie8p && NeedsRGBImageFor8p(source.pixelFormat_)) {
    source.ConvertToPixelFormat(ie24RGB);
    if (source.pixelFormat_ != ie24RGB) return;  // no memory for the intermediate image
  }
  const bool threshold = target == ie1g && DefaultDitherMethod != ieOrdered;
  if (threshold && (source.pixelFormat_ == ieCMYK || source.pixelFormat_ == ieCIELab)) {
    // The threshold reads the image twice (means, then pixels): convert the
    // colour once. Without memory for it the rows are converted twice instead.
    source.ConvertToPixelFormat(ie24RGB);
  }
  const TIEPixelFormat from = source.pixelFormat_;
  const int width = width_, height = height_;

  if (from == target) {
    RowAccessScope access(source, *this);
    const auto bytes = static_cast<std::size_t>(std::min(rowLen_, source.rowLen_));
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* s = source.GetScanLine(y);
      std::memcpy(GetScanLine(y), s, bytes);
    }
    for (int i = 0; i < paletteLen_; ++i) SetPalette(i, source.GetPalette(i));
  } else if (threshold) {
    _ConvertToBWThresholdEx(source, *this, -1);
  } else {
    RowContext ctx;
    PrepareSource(ctx, source);
    ctx.ordered = target == ie1g;
    std::optional<TIEQuantizer> quantizer;
    if (target == ie8p) {
      TRGB palette[256] = {};  // entries nobody sets stay black, never stale
      if (from == ie1g) {
        palette[1] = TRGB{255, 255, 255};
      } else if (from == ie24RGB) {
        quantizer.emplace(source, palette, 255, std::clamp(PaletteColorCount, 1, 256));
        ctx.quantizer = &*quantizer;
      } else {
        for (int i = 0; i < 256; ++i) palette[i] = Grey3(static_cast<std::uint8_t>(i));
      }
      for (int i = 0; i < paletteLen_; ++i) SetPalette(i, palette[i]);
    }
    // A direct converter, or source -> TRGB row -> target.
    RowConverter first = kConverters[from][target];
    RowConverter second = nullptr;
    if (!first) {
      first = kConverters[from][ie24RGB];
      second = kConverters[ie24RGB][target];
    }
    std::vector<TRGB> middle(second ? static_cast<std::size_t>(width) : 0);
    auto* mid = reinterpret_cast<std::uint8_t*>(middle.data());
    RowAccessScope access(source, *this);
    for (int y = 0; y < height; ++y) {
      ctx.y = y;
      const std::uint8_t* s = source.GetScanLine(y);
      std::uint8_t* d = GetScanLine(y);
      if (second) {
        first(s, mid, width, ctx);
        second(mid, d, width, ctx);
      } else {
        first(s, d, width, ctx);
      }
    }
  }
  if (source.alpha_ && !servesAsAlpha_) alpha_ = std::move(source.alpha_);
}

// ---- black and white ----------------------------------------------------------------------

void _GetMediaContrastRGB(TIEBitmap& bitmap, int& r, int& g, int& b) {
  r = g = b = 128;
  RGBRows rows(bitmap);
  if (!rows.Ok()) return;
  const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
  std::int64_t sr = 0, sg = 0, sb = 0;
  for (int y = 0; y < height; ++y) {
    const TRGB* p = rows.Row(y);
    std::int64_t rr = 0, rg = 0, rb = 0;
    for (int x = 0; x < width; ++x) {
      rr += p[x].r;
      rg += p[x].g;
      rb += p[x].b;
    }
    sr += rr / width;
    sg += rg / width;
    sb += rb / width;
  }
  r = static_cast<int>(sr / height);
  g = static_cast<int>(sg / height);
  b = static_cast<int>(sb / height);
}

void _ConvertToBWThresholdEx(TIEBitmap& source, TIEBitmap& dest, int level, const std::function<void(int per)>& progress) {
  if (&source == &dest || source.IsEmpty()) return;
  if (source.GetPixelFormat() == ie1g) {
    dest.AssignImage(source);
    return;
  }
  RGBRows rows(source);
  if (!rows.Ok()) return;
  const int width = source.GetWidth(), height = source.GetHeight();
  if (dest.GetPixelFormat() != ie1g || dest.GetWidth() != width || dest.GetHeight() != height || dest.IsEmpty()) {
    dest.ForceReallocate = true;
    if (!dest.Allocate(width, height, ie1g)) return;
  }
  if (level < 0) {
    int r, g, b;
    _GetMediaContrastRGB(source, r, g, b);
    // "grey >= mean" makes an all-black image (mean 0) all white; from 1 up,
    // black stays black and an all-white image stays white.
    level = std::max<int>(1, _RGBToGray(CreateRGB(static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
                                                  static_cast<std::uint8_t>(b))));
  }
  RowContext ctx;
  PrepareSource(ctx, source);
  ctx.level = level;
  RowAccessScope access(source, dest);
  for (int y = 0; y < height; ++y) {
    const TRGB* p = rows.Row(y);
    RGBTo1g(reinterpret_cast<const std::uint8_t*>(p), dest.GetScanLine(y), width, ctx);
    if (progress) progress(static_cast<int>((y + 1) * std::int64_t(100) / height));
  }
}

void _Negative1BitEx(TIEBitmap& bitmap) {
  if (bitmap.GetPixelFormat() != ie1g || bitmap.IsEmpty()) return;
  const int len = bitmap.GetRowLen();
  for (int y = 0; y < bitmap.GetHeight(); ++y) {
    std::uint8_t* row = bitmap.GetScanLine(y);
    for (int i = 0; i < len; ++i) row[i] = static_cast<std::uint8_t>(~row[i]);
  }
}

std::unique_ptr<TIEBitmap> _ConvertTo1bitEx(TIEBitmap& bitmap, TRGB& colour1, TRGB& colour2) {
  RGBRows rows(bitmap);
  if (!rows.Ok()) return nullptr;
  const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
  auto result = std::make_unique<TIEBitmap>();
  if (!result->Allocate(width, height, ie1g)) return nullptr;
  int colours = 0;
  for (int y = 0; y < height && colours <= 2; ++y) {
    const TRGB* p = rows.Row(y);
    std::uint8_t* d = result->GetScanLine(y);
    for (int x = 0; x < width; ++x) {
      const TRGB c = p[x];
      if (colours == 0) {
        colour1 = c;
        colours = 1;
      } else if (!(c == colour1)) {
        if (colours == 1) {
          colour2 = c;
          colours = 2;
        } else if (!(c == colour2)) {
          colours = 3;
        }
      }
      PackBits(d, x, !(c == colour1));
    }
  }
  if (colours != 2) return nullptr;
  // Grey of each colour rounded to the nearest integer, halves to even.
  auto roundedGrey = [](TRGB c) {
    const int s = gRedToGrayCoef * c.r + gGreenToGrayCoef * c.g + gBlueToGrayCoef * c.b;
    int q = s / 100;
    const int rest = s % 100;
    if (rest > 50 || (rest == 50 && (q & 1))) ++q;
    return q;
  };
  if (roundedGrey(colour2) < roundedGrey(colour1)) {
    _Negative1BitEx(*result);
    std::swap(colour1, colour2);
  }
  return result;
}

std::unique_ptr<TIEBitmap> IETwoLevelCopy(TIEBitmap& bitmap, TRGB& dark, TRGB& light) {
  if (auto two = _ConvertTo1bitEx(bitmap, dark, light)) return two;
  const TRGB black{0, 0, 0}, white{255, 255, 255};
  dark = black;
  light = white;
  auto copy = std::make_unique<TIEBitmap>();
  if (!copy->Allocate(bitmap.GetWidth(), bitmap.GetHeight(), ie1g)) return nullptr;
  RGBRows rows(bitmap);
  bool single = rows.Ok();
  const TRGB only = single ? rows.Row(0)[0] : black;
  for (int y = 0; y < bitmap.GetHeight() && single; ++y) {
    const TRGB* p = rows.Row(y);
    for (int x = 0; x < bitmap.GetWidth() && single; ++x) single = p[x] == only;
  }
  if (!single) {
    copy->CopyAndConvertFormat(bitmap);
  } else if (only == white) {
    copy->Fill(1);
  } else if (!(only == black)) {
    dark = light = only;  // every bit 0
  }
  return copy;
}

// ---- palettes and rows for writers ------------------------------------------------------------

int _GetSimilColor(const TRGB* palette, int count, TRGB colour) {
  int best = 0, bestDistance = 1000;
  for (int i = 0; i < count; ++i) {
    const TRGB p = palette[i];
    const int d = std::abs(p.r - colour.r) + std::abs(p.g - colour.g) + std::abs(p.b - colour.b);
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  return best;
}

void _BGR2RGB(std::uint8_t* row, int count) {
  for (std::int64_t i = 0; i < count; ++i) std::swap(row[3 * i], row[3 * i + 2]);
}

void _RGB2BGR(std::uint8_t* row, int count) { _BGR2RGB(row, count); }

void _CopyBGR_RGB(std::uint8_t* dest, const std::uint8_t* source, int count) {
  for (std::int64_t i = 0; i < count; ++i) {
    const std::uint8_t b = source[3 * i], g = source[3 * i + 1], r = source[3 * i + 2];
    dest[3 * i] = r;
    dest[3 * i + 1] = g;
    dest[3 * i + 2] = b;
  }
}

int _ConvertXBitsToYBits(const std::uint8_t* source, std::uint8_t* dest, int sourceBits, int destBits, int count,
                         const TRGB* palette, int paletteCount, const TIEQuantizer* quantizer) {
  if (count <= 0 || !source || !dest) return 0;
  // The palette is copied first: dest may be the caller's palette buffer.
  TRGB pal[256] = {};
  const int palCount = palette ? std::clamp(paletteCount, 0, 256) : 0;
  if (palCount > 0) std::memcpy(pal, palette, sizeof(TRGB) * static_cast<std::size_t>(palCount));
  auto entry = [&](int i) { return i < palCount ? pal[i] : TRGB{}; };
  auto index = [&](TRGB c) {
    return quantizer ? quantizer->GetRGBIndex(c) : _GetSimilColor(pal, palCount, c);
  };
  auto nibble = [](const std::uint8_t* s, int x) { return (x & 1) ? s[x >> 1] & 0x0F : s[x >> 1] >> 4; };
  auto orNibble = [](std::uint8_t* d, int x, int v) {
    v &= 0x0F;
    d[x >> 1] = static_cast<std::uint8_t>(d[x >> 1] | ((x & 1) ? v : v << 4));
  };
  const int bytes1 = (count + 7) / 8, bytes4 = (count + 1) / 2;
  const std::int64_t n = count;

  switch (sourceBits * 100 + destBits) {
    case 2404:
      for (int x = 0; x < count; ++x) orNibble(dest, x, index(Load<TRGB>(source, x)));
      return bytes4;
    case 2408:
      for (int x = 0; x < count; ++x) dest[x] = static_cast<std::uint8_t>(index(Load<TRGB>(source, x)));
      return count;
    case 2424: std::memmove(dest, source, static_cast<std::size_t>(n * 3)); return count * 3;
    case 3224:
      for (int x = 0; x < count; ++x) std::memmove(dest + 3 * std::int64_t(x), source + 4 * std::int64_t(x), 3);
      return count * 3;
    case 801: {
      std::vector<std::uint8_t> bits(static_cast<std::size_t>(bytes1), 0);  // source and dest may overlap
      for (int x = 0; x < count; ++x) PackBits(bits.data(), x, source[x] != 0);
      std::memcpy(dest, bits.data(), bits.size());
      return bytes1;
    }
    case 808: std::memmove(dest, source, static_cast<std::size_t>(n)); return count;
    case 824:
      for (int x = count - 1; x >= 0; --x) Store<TRGB>(dest, x, entry(source[x]));  // backwards: may grow in place
      return count * 3;
    case 101: std::memmove(dest, source, static_cast<std::size_t>(bytes1)); return bytes1;
    case 104:
      for (int x = 0; x < count; ++x) orNibble(dest, x, Bit(source, x) ? 1 : 0);
      return bytes4;
    case 108:
      for (int x = 0; x < count; ++x) dest[x] = Bit(source, x) ? 1 : 0;
      return count;
    case 124:
      for (int x = 0; x < count; ++x) Store<TRGB>(dest, x, entry(Bit(source, x) ? 1 : 0));
      return count * 3;
    case 404: std::memmove(dest, source, static_cast<std::size_t>(bytes4)); return bytes4;
    case 408:
      for (int x = 0; x < count; ++x) dest[x] = static_cast<std::uint8_t>(nibble(source, x));
      return count;
    case 424:
      for (int x = 0; x < count; ++x) Store<TRGB>(dest, x, entry(nibble(source, x)));
      return count * 3;
    default: return 0;
  }
}

// ---- row colour-space converter ------------------------------------------------------------------

void IEDefaultConvertColorFunction(const void* source, TIEColorSpace sourceSpace, void* dest, TIEColorSpace destSpace,
                                   int count, const void* params) {
  // Colour management with the image's own profiles (iegEnableCMS) is never
  // switched on in this system; every pair below uses the built-in formulas.
  (void)params;
  if (count <= 0 || !source || !dest) return;
  const auto* s = static_cast<const std::uint8_t*>(source);
  auto* d = static_cast<std::uint8_t*>(dest);
  // Each pixel is read whole before it is written, so same-size pairs may
  // run in place.
  if (destSpace == iecmsBGR) {
    switch (sourceSpace) {
      case iecmsRGB: _CopyBGR_RGB(d, s, count); return;
      case iecmsBGR: std::memmove(d, s, static_cast<std::size_t>(count) * 3); return;
      case iecmsCMYK: IECMYK2RGBRow(reinterpret_cast<const TCMYK*>(s), reinterpret_cast<TRGB*>(d), count); return;
      case iecmsCMYK6: {
        // Plain ink amounts: complemented into a copy (the caller's row is
        // left as it was), a chunk at a time.
        TCMYK chunk[256];
        for (int done = 0; done < count;) {
          const int k = std::min(256, count - done);
          for (int i = 0; i < k; ++i) {
            const std::uint8_t* p = s + 4 * std::int64_t(done + i);
            chunk[i] = TCMYK{u8(255 - p[0]), u8(255 - p[1]), u8(255 - p[2]), u8(255 - p[3])};
          }
          IECMYK2RGBRow(chunk, reinterpret_cast<TRGB*>(d) + done, k);
          done += k;
        }
        return;
      }
      case iecmsCIELab: Map<TCIELab, TRGB>(s, d, count, IECIELAB2RGB); return;
      case iecmsRGB48:  // little-endian words: the high byte is the second
        for (std::int64_t i = 0; i < count; ++i) {
          const std::uint8_t r = s[6 * i + 1], g = s[6 * i + 3], b = s[6 * i + 5];
          Store<TRGB>(d, i, CreateRGB(r, g, b));
        }
        return;
      case iecmsRGB48_SE:  // big-endian words: the high byte is the first
        for (std::int64_t i = 0; i < count; ++i) {
          const std::uint8_t r = s[6 * i], g = s[6 * i + 2], b = s[6 * i + 4];
          Store<TRGB>(d, i, CreateRGB(r, g, b));
        }
        return;
      case iecmsYCBCR:
        for (std::int64_t i = 0; i < count; ++i) {
          TRGB c;
          IEYCbCr2RGB(c, s[3 * i], s[3 * i + 1], s[3 * i + 2]);
          Store<TRGB>(d, i, c);
        }
        return;
      default: return;
    }
  }
  if (sourceSpace != iecmsBGR) return;
  switch (destSpace) {
    case iecmsCMYK: IERGB2CMYKRow(reinterpret_cast<const TRGB*>(s), reinterpret_cast<TCMYK*>(d), count); return;
    case iecmsCIELab: Map<TRGB, TCIELab>(s, d, count, IERGB2CIELAB); return;
    case iecmsGray8:
      for (std::int64_t i = 0; i < count; ++i) d[i] = _RGBToGray(Load<TRGB>(s, i));
      return;
    default: return;
  }
}

}  // namespace pravik
