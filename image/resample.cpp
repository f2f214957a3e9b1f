// Resampling of TIEBitmap images. Every pass goes row by row through
// GetScanLine (so file-backed images work), reads its source rows read-only and
// writes its destination rows write-only, and keeps per-pixel work to integer
// arithmetic over tables built once per call.
#include "image/resample.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <vector>

#include "image/bitmap.h"

namespace pravik {

namespace {

// ---- shared helpers -------------------------------------------------------------

// Sets a bitmap's RowAccess for one pass and restores it afterwards.
class RowAccessScope {
 public:
  RowAccessScope(TIEBitmap& bitmap, std::uint8_t access) : bitmap_(bitmap), saved_(bitmap.RowAccess) {
    bitmap.RowAccess = access;
  }
  ~RowAccessScope() { bitmap_.RowAccess = saved_; }
  RowAccessScope(const RowAccessScope&) = delete;
  RowAccessScope& operator=(const RowAccessScope&) = delete;

 private:
  TIEBitmap& bitmap_;
  std::uint8_t saved_;
};

// Per-cent after each produced row: trunc(rows done * 100 / total).
class RowProgress {
 public:
  RowProgress(const TResampleProgress& progress, double total, bool onlyOnChange)
      : progress_(progress), total_(total), onlyOnChange_(onlyOnChange) {}
  void Row() {
    if (!progress_.Callback) return;
    ++done_;
    const int per = static_cast<int>(static_cast<double>(done_) * 100.0 / total_);
    if (onlyOnChange_ && per == last_) return;
    last_ = per;
    progress_.Callback(progress_.Sender, per);
  }

 private:
  const TResampleProgress& progress_;
  double total_;
  bool onlyOnChange_;
  std::int64_t done_ = 0;
  int last_ = -1;
};

// A private work image that follows the destination's storage rule, so a
// file-backed destination gets a file-backed work image too.
bool AllocateWork(TIEBitmap& work, const TIEBitmap& like, int width, int height, TIEPixelFormat format) {
  work.FileStorageThreshold = like.FileStorageThreshold;
  return work.Allocate(width, height, format);
}

template <typename T, typename A>
inline T ClampTo(A v) {
  constexpr A kMax = static_cast<A>(std::numeric_limits<T>::max());
  return static_cast<T>(v < 0 ? 0 : (v > kMax ? kMax : v));
}

// Exact division by a fixed divisor d > 0 of numerators 0..maxN through one
// multiplication: with 2^k > maxN * d and m = ceil(2^k / d), (n * m) >> k
// equals n div d (the rounding error n * (m * d - 2^k) / 2^k stays below 1 / d).
// Needs maxN < 2^31 and d <= 2^31 so that maxN * d and n * m (below 2 maxN^2)
// fit 64 bits.
struct Divider {
  std::uint64_t m = 1;
  int k = 0;
  Divider() = default;
  Divider(std::uint64_t d, std::uint64_t maxN) {
    k = std::bit_width(maxN * d);
    m = ((std::uint64_t{1} << k) + d - 1) / d;
  }
  std::uint64_t operator()(std::uint64_t n) const { return (n * m) >> k; }
};

// Unpacks an ie1g row (MSB first, 1 = white) into bytes 0 / 255.
void UnpackBits(const std::uint8_t* s, std::uint8_t* d, int width) {
  for (int x = 0; x < width; ++x) d[x] = (s[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
}

// Packs bytes into an ie1g row: 128 and above is white. Padding bits stay 0.
void PackBits(const std::uint8_t* s, std::uint8_t* d, int width, int rowLen) {
  std::memset(d, 0, static_cast<std::size_t>(rowLen));
  for (int x = 0; x < width; ++x)
    if (s[x] >= 128) d[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
}

// ---- point sampling -------------------------------------------------------------

template <int N>
void StretchPixels(const std::uint8_t* s, std::uint8_t* d, const std::vector<int>& xs) {
  for (std::size_t x = 0; x < xs.size(); ++x) std::memcpy(d + x * N, s + std::size_t(xs[x]) * N, N);
}

void StretchRow(const std::uint8_t* s, std::uint8_t* d, const std::vector<int>& xs, int bitCount) {
  switch (bitCount) {
    case 1:
      std::memset(d, 0, (xs.size() + 7) / 8);
      for (std::size_t x = 0; x < xs.size(); ++x)
        if (s[xs[x] >> 3] & (0x80 >> (xs[x] & 7))) d[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
      break;
    case 8:
      StretchPixels<1>(s, d, xs);
      break;
    case 16:
      StretchPixels<2>(s, d, xs);
      break;
    case 24:
      StretchPixels<3>(s, d, xs);
      break;
    case 32:
      StretchPixels<4>(s, d, xs);
      break;
    case 48:
      StretchPixels<6>(s, d, xs);
      break;
    default:
      break;
  }
}

// ---- fast linear ----------------------------------------------------------------

constexpr int kFastOne = 131072;  // 17-bit fraction

// sum div count; the multiplication holds for 32-bit sums, wider ones divide.
template <typename Sum>
inline Sum Average(Sum sum, const Divider& div, int count) {
  if constexpr (sizeof(Sum) <= 4)
    return static_cast<Sum>(div(sum));
  else
    return sum / static_cast<Sum>(count);
}

// Linear interpolation when enlarging, averages over windows that share their
// boundary pixel when reducing; C bytes per pixel. Sum is the accumulator of a
// reduction window (32 bits unless a window could overflow it).
template <int C, typename Sum>
void FastLinear(TIEBitmap& src, TIEBitmap& dst, RowProgress& progress) {
  const int sw = src.GetWidth(), sh = src.GetHeight(), dw = dst.GetWidth(), dh = dst.GetHeight();
  const double sx = static_cast<double>(dw) / sw, sy = static_cast<double>(dh) / sh;

  std::vector<int> x0(dw), x1(dw), xf(dw);
  std::vector<Divider> xdiv(dw);
  for (int i = 0; i < dw; ++i) {
    const double p = i / sx;
    const int t = static_cast<int>(p);
    x0[i] = std::min(t, sw - 1);
    xf[i] = static_cast<int>((p - t) * kFastOne);
    x1[i] = std::clamp(static_cast<int>(std::min(i + 1, dw - 1) / sx + 0.0000000001), x0[i], sw - 1);
    // An axis that keeps its size is copied: a window of two would blur it
    // and shift it by half a pixel.
    if (dw == sw) x1[i] = x0[i];
    if constexpr (sizeof(Sum) <= 4) {
      const auto count = static_cast<std::uint64_t>(x1[i] - x0[i] + 1);
      xdiv[i] = Divider(count, 255 * count);
    }
  }

  TIEBitmap work;
  if (!AllocateWork(work, dst, dw, sh, C == 3 ? ie24RGB : ie8g)) return;
  const std::size_t n = static_cast<std::size_t>(dw) * C;

  {  // horizontal pass: source rows into work rows
    RowAccessScope sa(src, iedRead), wa(work, iedWrite);
    for (int y = 0; y < sh; ++y) {
      const std::uint8_t* s = src.GetScanLine(y);
      std::uint8_t* w = work.GetScanLine(y);
      if (sx > 1) {
        for (int i = 0; i < dw; ++i) {
          const std::uint8_t* a = s + std::size_t(x0[i]) * C;
          const std::uint8_t* b = s + std::size_t(std::min(x0[i] + 1, sw - 1)) * C;
          const int f = xf[i];
          for (int c = 0; c < C; ++c) w[i * C + c] = static_cast<std::uint8_t>(a[c] + (((b[c] - a[c]) * f) >> 17));
        }
      } else {
        for (int i = 0; i < dw; ++i) {
          Sum sum[C] = {};
          for (const std::uint8_t *p = s + std::size_t(x0[i]) * C, *e = s + std::size_t(x1[i] + 1) * C; p < e; p += C)
            for (int c = 0; c < C; ++c) sum[c] += p[c];
          for (int c = 0; c < C; ++c)
            w[i * C + c] = static_cast<std::uint8_t>(Average(sum[c], xdiv[i], x1[i] - x0[i] + 1));
        }
      }
      progress.Row();
    }
  }

  {  // vertical pass: work rows into destination rows
    RowAccessScope wa(work, iedRead), da(dst, iedWrite);
    std::vector<std::uint8_t> upper(sy > 1 ? n : 0);
    std::vector<Sum> acc(sy > 1 ? 0 : n);
    for (int y = 0; y < dh; ++y) {
      std::uint8_t* d = dst.GetScanLine(y);
      if (sy > 1) {
        const double p = y / sy;
        const int t = static_cast<int>(p);
        const int y0 = std::min(t, sh - 1);
        const int f = static_cast<int>((p - t) * kFastOne);
        const std::uint8_t* a = work.GetScanLine(y0);
        if (f == 0) {
          std::memcpy(d, a, n);
        } else {
          // The work image may be file-backed: one row pointer at a time.
          std::memcpy(upper.data(), a, n);
          const std::uint8_t* b = work.GetScanLine(std::min(y0 + 1, sh - 1));
          for (std::size_t k = 0; k < n; ++k)
            d[k] = static_cast<std::uint8_t>(upper[k] + (((b[k] - upper[k]) * f) >> 17));
        }
      } else {
        const int y0 = std::min(static_cast<int>(y / sy), sh - 1);
        const int y1 = dh == sh ? y0 : std::clamp(static_cast<int>(std::min(y + 1, dh - 1) / sy), y0, sh - 1);
        std::fill(acc.begin(), acc.end(), Sum{0});
        for (int r = y0; r <= y1; ++r) {
          const std::uint8_t* w = work.GetScanLine(r);
          for (std::size_t k = 0; k < n; ++k) acc[k] += w[k];
        }
        const auto count = static_cast<std::uint64_t>(y1 - y0 + 1);
        Divider div;
        if constexpr (sizeof(Sum) <= 4) div = Divider(count, 255 * count);
        for (std::size_t k = 0; k < n; ++k) d[k] = static_cast<std::uint8_t>(Average(acc[k], div, y1 - y0 + 1));
      }
      progress.Row();
    }
  }
}

template <int C>
void FastLinear(TIEBitmap& src, TIEBitmap& dst, const TResampleProgress& progress) {
  const int sw = src.GetWidth(), sh = src.GetHeight(), dw = dst.GetWidth(), dh = dst.GetHeight();
  if (sw == dw && sh == dh) {
    dst.Assign(src);
    return;
  }
  RowProgress rows(progress, sh + dh + 0.5, false);
  // A reduction window spans at most about source / destination + 2 pixels;
  // 32-bit sums (and their reciprocal division) hold 8 million of them.
  const std::int64_t longest = std::max<std::int64_t>(sw / dw, sh / dh) + 2;
  if (longest * 255 < std::numeric_limits<std::int32_t>::max())
    FastLinear<C, std::uint32_t>(src, dst, rows);
  else
    FastLinear<C, std::uint64_t>(src, dst, rows);
}

// ---- separable weighted resampling ------------------------------------------------

// For each output index: the source indexes and integer weights that make it,
// and how their weighted sum becomes a sample: (sum + bias) / divisor.
struct Taps {
  struct Out {
    int first = 0, count = 0;
    std::int64_t divisor = 1, bias = 0;  // divisor > 0
    Divider divide;                      // divisor as a multiplication, for 32-bit sums
  };
  std::vector<Out> out;
  std::vector<int> index;
  std::vector<int> weight;
  std::int64_t largestAbsSum = 0;  // of one output's |weights|: bounds the accumulator

  void Begin() {
    out.emplace_back();
    out.back().first = static_cast<int>(index.size());
  }
  void Add(int i, int w) {
    index.push_back(i);
    weight.push_back(w);
    ++out.back().count;
  }
  std::int64_t CurrentSum(bool absolute) const {
    std::int64_t s = 0;
    for (int k = out.back().first; k < out.back().first + out.back().count; ++k)
      s += absolute ? std::abs(weight[k]) : weight[k];
    return s;
  }
  void Finish(std::int64_t divisor, std::int64_t bias) {
    Out& o = out.back();
    if (divisor < 0) {
      // Same truncated quotient with both signs turned: keeps divisors positive.
      for (int k = o.first; k < o.first + o.count; ++k) weight[k] = -weight[k];
      divisor = -divisor;
    }
    o.divisor = divisor;
    o.bias = bias;
    largestAbsSum = std::max(largestAbsSum, CurrentSum(true));
  }
  // Called once all outputs are in, with the largest sample value.
  void PrepareDividers(std::int64_t maxSample) {
    const auto maxN = static_cast<std::uint64_t>(largestAbsSum * maxSample);
    for (Out& o : out)
      o.divide = Divider(static_cast<std::uint64_t>(o.divisor), maxN + static_cast<std::uint64_t>(o.bias));
  }
};

// (sum + bias) div divisor, clamped to T. A sum at or below 0 gives 0 whatever
// the rounding, so only positive sums are divided.
template <typename T, typename Acc>
inline T Finish(Acc acc, const Taps::Out& o) {
  const Acc n = acc + static_cast<Acc>(o.bias);
  if (n <= 0) return 0;
  if constexpr (sizeof(Acc) <= 4)
    return ClampTo<T>(o.divide(static_cast<std::uint64_t>(n)));
  else
    return ClampTo<T>(n / o.divisor);
}

// Two passes, horizontal first, into a work image of destination width and
// source height in the source's format; T is the sample type (one or three per
// pixel), Acc the accumulator.
template <typename T, int C, typename Acc>
void Separable(TIEBitmap& src, TIEBitmap& dst, const Taps& tx, const Taps& ty, RowProgress& progress) {
  const int sh = src.GetHeight(), dw = dst.GetWidth(), dh = dst.GetHeight();
  TIEBitmap work;
  if (!AllocateWork(work, dst, dw, sh, src.GetPixelFormat())) return;
  const std::size_t n = static_cast<std::size_t>(dw) * C;

  {
    RowAccessScope sa(src, iedRead), wa(work, iedWrite);
    for (int y = 0; y < sh; ++y) {
      const T* s = reinterpret_cast<const T*>(src.GetScanLine(y));
      T* w = reinterpret_cast<T*>(work.GetScanLine(y));
      for (int x = 0; x < dw; ++x) {
        const Taps::Out& o = tx.out[x];
        Acc acc[C] = {};
        for (int k = o.first, e = o.first + o.count; k < e; ++k) {
          const T* p = s + std::size_t(tx.index[k]) * C;
          const Acc wt = tx.weight[k];
          for (int c = 0; c < C; ++c) acc[c] += wt * static_cast<Acc>(p[c]);
        }
        for (int c = 0; c < C; ++c) w[x * C + c] = Finish<T>(acc[c], o);
      }
      progress.Row();
    }
  }

  {
    RowAccessScope wa(work, iedRead), da(dst, iedWrite);
    std::vector<Acc> acc(n);
    for (int y = 0; y < dh; ++y) {
      const Taps::Out& o = ty.out[y];
      T* d = reinterpret_cast<T*>(dst.GetScanLine(y));
      std::fill(acc.begin(), acc.end(), Acc{0});
      for (int k = o.first, e = o.first + o.count; k < e; ++k) {
        const T* r = reinterpret_cast<const T*>(work.GetScanLine(ty.index[k]));
        const Acc wt = ty.weight[k];
        for (std::size_t i = 0; i < n; ++i) acc[i] += wt * static_cast<Acc>(r[i]);
      }
      for (std::size_t i = 0; i < n; ++i) d[i] = Finish<T>(acc[i], o);
      progress.Row();
    }
  }
}

template <typename T, int C>
void RunSeparable(TIEBitmap& src, TIEBitmap& dst, Taps& tx, Taps& ty, const TResampleProgress& progress) {
  RowProgress rows(progress, src.GetHeight() + dst.GetHeight() + 0.5, true);
  constexpr std::int64_t kMaxSample = std::numeric_limits<T>::max();
  const std::int64_t largest = std::max(tx.largestAbsSum, ty.largestAbsSum);
  // Sums and biases are bounded by largest * (kMaxSample + 1).
  if (largest * (kMaxSample + 1) < std::numeric_limits<std::int32_t>::max()) {
    tx.PrepareDividers(kMaxSample);
    ty.PrepareDividers(kMaxSample);
    Separable<T, C, std::int32_t>(src, dst, tx, ty, rows);
  } else {
    Separable<T, C, std::int64_t>(src, dst, tx, ty, rows);
  }
}

// ---- the kernel filters (rfTriangle .. rfLinear) ------------------------------------

double Triangle(double t) {
  const double a = std::fabs(t);
  return a < 1.0 ? 1.0 - a : 0.0;
}
double Hermite(double t) {
  const double a = std::fabs(t);
  return a < 1.0 ? a * a * (2.0 * a - 3.0) + 1.0 : 0.0;
}
double Bell(double t) {
  const double a = std::fabs(t);
  if (a < 0.5) return 0.75 - a * a;
  if (a < 1.5) return 0.5 * (a - 1.5) * (a - 1.5);
  return 0.0;
}
double BSpline(double t) {
  const double a = std::fabs(t);
  if (a < 1.0) return a * a * a / 2.0 - a * a + 2.0 / 3.0;
  if (a < 2.0) return (2.0 - a) * (2.0 - a) * (2.0 - a) / 6.0;
  return 0.0;
}
double Sinc(double x) {
  if (x == 0.0) return 1.0;
  x *= std::numbers::pi;
  return std::sin(x) / x;
}
double Lanczos3(double t) { return std::fabs(t) < 3.0 ? Sinc(t) * Sinc(t / 3.0) : 0.0; }
double Mitchell(double t) {
  const double a = std::fabs(t);
  if (a < 1.0) return (7.0 * a * a * a - 12.0 * a * a + 16.0 / 3.0) / 6.0;
  if (a < 2.0) return (-7.0 / 3.0 * a * a * a + 12.0 * a * a - 20.0 * a + 32.0 / 3.0) / 6.0;
  return 0.0;
}
double Nearest(double t) { return t > -0.5 && t <= 0.5 ? 1.0 : 0.0; }
// Catmull-Rom: interpolates (passes through the samples), for rfBicubic.
double CatmullRom(double t) {
  const double a = std::fabs(t);
  if (a < 1.0) return 1.5 * a * a * a - 2.5 * a * a + 1.0;
  if (a < 2.0) return -0.5 * a * a * a + 2.5 * a * a - 4.0 * a + 2.0;
  return 0.0;
}

struct Kernel {
  double (*fn)(double);
  double support;
};

// Indexed by TResampleFilter 1..8.
constexpr Kernel kKernels[9] = {
    {nullptr, 0.0},  {Triangle, 1.0}, {Hermite, 1.0}, {Bell, 1.5},     {BSpline, 2.0},
    {Lanczos3, 3.0}, {Mitchell, 2.0}, {Nearest, 1.0}, {Triangle, 1.0},
};

double RoundHalfEven(double v) {
  const double r = std::round(v);  // halves away from zero
  return std::fabs(v - std::trunc(v)) == 0.5 ? 2.0 * std::round(v / 2.0) : r;
}

// Outside the image: mirrored at the edges, then clamped into it.
int MirrorIndex(std::int64_t i, int size) {
  if (i < 0)
    i = -i;
  else if (i >= size)
    i = 2 * std::int64_t(size) - 1 - i;
  return static_cast<int>(std::clamp<std::int64_t>(i, 0, size - 1));
}

// Weights are kernel values x 256, rounded half to even, corners aligned:
// scale = (dst - 1) / (src - 1). When reducing, the kernel is widened by
// 1 / scale and its values scaled by scale.
Taps GeneralTaps(int srcSize, int dstSize, const Kernel& kernel) {
  Taps taps;
  taps.out.reserve(static_cast<std::size_t>(dstSize));
  const double scale = (srcSize == 1 || dstSize == 1) ? static_cast<double>(dstSize) / srcSize
                                                      : static_cast<double>(dstSize - 1) / (srcSize - 1);
  const bool reducing = scale < 1.0;
  const double width = reducing ? kernel.support / scale : kernel.support;
  for (int x = 0; x < dstSize; ++x) {
    const double c = x / scale;
    const auto lo = static_cast<std::int64_t>(std::floor(c - width));
    const auto hi = static_cast<std::int64_t>(std::ceil(c + width));
    auto addAll = [&](double factor) {
      for (std::int64_t i = lo; i <= hi; ++i) {
        const double d = reducing ? (c - static_cast<double>(i)) * scale : c - static_cast<double>(i);
        const int w = static_cast<int>(RoundHalfEven(kernel.fn(d) * 256.0 * factor));
        if (w != 0) taps.Add(MirrorIndex(i, srcSize), w);
      }
    };
    taps.Begin();
    addAll(reducing ? scale : 1.0);
    // A strong reduction (beyond about 1:500) rounds every scaled weight to 0,
    // which would make the pixel black; the unscaled weights have the same
    // shape, and the division by their sum normalises them alike.
    if (reducing && taps.out.back().count == 0) addAll(1.0);
    const std::int64_t sum = taps.CurrentSum(false);
    taps.Finish(sum != 0 ? sum : 256, 0);
  }
  return taps;
}

// Interpolating taps (rfBilinear, rfBicubic): pixel centres aligned, the
// kernel widened when reducing so every source pixel counts, edges clamped,
// integer weights summing exactly to kInterpOne and the result rounded.
constexpr int kInterpOne = 1 << 14;

Taps InterpTaps(int srcSize, int dstSize, const Kernel& kernel) {
  Taps taps;
  taps.out.reserve(static_cast<std::size_t>(dstSize));
  const double scale = static_cast<double>(dstSize) / srcSize;
  const double stretch = std::min(scale, 1.0);
  const double width = kernel.support / stretch;
  std::vector<double> values;
  for (int x = 0; x < dstSize; ++x) {
    const double c = (x + 0.5) / scale - 0.5;
    const auto lo = static_cast<std::int64_t>(std::floor(c - width));
    const auto hi = static_cast<std::int64_t>(std::ceil(c + width));
    values.clear();
    double sum = 0.0;
    for (std::int64_t i = lo; i <= hi; ++i) {
      values.push_back(kernel.fn((c - static_cast<double>(i)) * stretch));
      sum += values.back();
    }
    taps.Begin();
    if (sum <= 0.0) {
      taps.Add(static_cast<int>(std::clamp<std::int64_t>(std::llround(c), 0, srcSize - 1)), kInterpOne);
    } else {
      // Weights as steps of the rounded running total: small weights of a
      // strong reduction add up instead of all rounding to 0.
      int total = 0, largest = -1;
      double running = 0.0;
      for (std::int64_t i = lo; i <= hi; ++i) {
        running += values[std::size_t(i - lo)] / sum * kInterpOne;
        const int w = static_cast<int>(std::llround(running)) - total;
        if (w == 0) continue;
        taps.Add(static_cast<int>(std::clamp<std::int64_t>(i, 0, srcSize - 1)), w);
        const int k = static_cast<int>(taps.weight.size()) - 1;
        if (largest < 0 || std::abs(w) > std::abs(taps.weight[largest])) largest = k;
        total += w;
      }
      if (largest >= 0) taps.weight[largest] += kInterpOne - total;  // rounding leftovers
    }
    taps.Finish(kInterpOne, kInterpOne / 2);
  }
  return taps;
}

// ---- projection (rfProjectBW, rfProjectWB) -------------------------------------------

// Each destination pixel covers a window of source pixels; the darkest (BW) or
// lightest (WB) value of the window wins, per channel. Fetch(y) gives source
// row y as C bytes per pixel; Store(y, row) writes destination row y.
template <int C, typename Fetch, typename Store>
void Project(int sw, int sh, int dw, int dh, bool darkest, Fetch fetch, Store store, RowProgress& progress) {
  auto window = [](int i, int src, int dst, int& lo, int& hi) {
    lo = static_cast<int>(std::int64_t(i) * src / dst);
    hi = std::max(lo, static_cast<int>((std::int64_t(i + 1) * src + dst - 1) / dst) - 1);
  };
  std::vector<int> x0(dw), x1(dw);
  for (int x = 0; x < dw; ++x) window(x, sw, dw, x0[x], x1[x]);
  const std::uint8_t start = darkest ? 255 : 0;
  std::vector<std::uint8_t> acc(static_cast<std::size_t>(dw) * C);
  for (int y = 0; y < dh; ++y) {
    int y0, y1;
    window(y, sh, dh, y0, y1);
    std::fill(acc.begin(), acc.end(), start);
    for (int r = y0; r <= y1; ++r) {
      const std::uint8_t* s = fetch(r);
      for (int x = 0; x < dw; ++x) {
        std::uint8_t* a = &acc[std::size_t(x) * C];
        for (int i = x0[x]; i <= x1[x]; ++i)
          for (int c = 0; c < C; ++c)
            a[c] = darkest ? std::min(a[c], s[std::size_t(i) * C + c]) : std::max(a[c], s[std::size_t(i) * C + c]);
      }
    }
    store(y, acc.data());
    progress.Row();
  }
}

void Project24(TIEBitmap& src, TIEBitmap& dst, bool darkest, const TResampleProgress& progress) {
  const int dh = dst.GetHeight();
  const std::size_t n = static_cast<std::size_t>(dst.GetWidth()) * 3;
  RowProgress rows(progress, dh, true);
  RowAccessScope sa(src, iedRead), da(dst, iedWrite);
  Project<3>(
      src.GetWidth(), src.GetHeight(), dst.GetWidth(), dh, darkest, [&](int y) { return src.GetScanLine(y); },
      [&](int y, const std::uint8_t* row) { std::memcpy(dst.GetScanLine(y), row, n); }, rows);
}

// ---- 1-bit sources --------------------------------------------------------------------

// The projections stay 1-bit; the other filters run on a grey copy and give an
// ie24RGB destination.
void Resample1Bit(TIEBitmap& src, TIEBitmap& dst, TResampleFilter filter, const TResampleProgress& progress) {
  const int sw = src.GetWidth(), sh = src.GetHeight(), dw = dst.GetWidth(), dh = dst.GetHeight();
  if (filter == rfProjectBW || filter == rfProjectWB) {
    if (dst.GetPixelFormat() != ie1g && !dst.Allocate(dw, dh, ie1g)) return;
    std::vector<std::uint8_t> unpacked(static_cast<std::size_t>(sw));
    const int rowLen = dst.GetRowLen();
    RowProgress rows(progress, dh, true);
    RowAccessScope sa(src, iedRead), da(dst, iedWrite);
    Project<1>(
        sw, sh, dw, dh, filter == rfProjectBW,
        [&](int y) {
          UnpackBits(src.GetScanLine(y), unpacked.data(), sw);
          return static_cast<const std::uint8_t*>(unpacked.data());
        },
        [&](int y, const std::uint8_t* row) { PackBits(row, dst.GetScanLine(y), dw, rowLen); }, rows);
    return;
  }
  TIEBitmap grey, greyOut;
  if (!AllocateWork(grey, src, sw, sh, ie8g) || !AllocateWork(greyOut, dst, dw, dh, ie8g)) return;
  {
    RowAccessScope sa(src, iedRead), ga(grey, iedWrite);
    for (int y = 0; y < sh; ++y) UnpackBits(src.GetScanLine(y), grey.GetScanLine(y), sw);
  }
  _ResampleEx(grey, greyOut, filter, progress);
  if (!dst.Allocate(dw, dh, ie24RGB)) return;
  RowAccessScope ga(greyOut, iedRead), da(dst, iedWrite);
  for (int y = 0; y < dh; ++y) {
    const std::uint8_t* g = greyOut.GetScanLine(y);
    std::uint8_t* d = dst.GetScanLine(y);
    for (int x = 0; x < dw; ++x) d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = g[x];
  }
}

// What _ResampleEx handles.
bool FilteredSupported(TIEPixelFormat format, TResampleFilter filter) {
  if (format == ie24RGB || format == ie8g) return filter != rfNone && filter <= rfProjectWB;
  if (format == ie48RGB || format == ie16g) return filter == rfBilinear || filter == rfBicubic;
  return false;
}

void ResampleAlpha(TIEBitmap& src, TIEBitmap& dst, TResampleFilter filter) {
  TIEBitmap* sa = src.GetAlphaChannel();
  if (!sa || sa->IsEmpty() || dst.IsEmpty()) return;
  TIEBitmap* da = dst.GetAlphaChannel();
  if (!da) return;
  if (da->GetWidth() != dst.GetWidth() || da->GetHeight() != dst.GetHeight() || da->GetPixelFormat() != ie8g) {
    da->ForceReallocate = true;
    if (!da->Allocate(dst.GetWidth(), dst.GetHeight(), ie8g)) return;
  }
  if (filter == rfNone)
    IEBmpStretchEx(*sa, *da);
  else
    _ResampleEx(*sa, *da, filter);
  da->AllSet = sa->AllSet;
}

}  // namespace

// ---- entry points ------------------------------------------------------------------

void _IESetAlpha0Color(TIEBitmap& bitmap) {
  if (bitmap.GetPixelFormat() != ie24RGB || bitmap.IsEmpty() || !bitmap.GetHasAlphaChannel()) return;
  TIEBitmap* alpha = bitmap.GetAlphaChannel();
  if (!alpha || alpha->IsEmpty()) return;
  const int w = std::min(bitmap.GetWidth(), alpha->GetWidth()), h = std::min(bitmap.GetHeight(), alpha->GetHeight());
  const TRGB grey{128, 128, 128};
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* a = alpha->GetScanLine(y);
    auto* p = reinterpret_cast<TRGB*>(bitmap.GetScanLine(y));
    for (int x = 0; x < w; ++x)
      if (a[x] == 0) p[x] = grey;
  }
}

void IEBmpStretchEx(TIEBitmap& source, TIEBitmap& dest, const TResampleProgress& progress) {
  if (&source == &dest || source.IsEmpty() || dest.IsEmpty() || source.GetPixelFormat() != dest.GetPixelFormat())
    return;
  const int sw = source.GetWidth(), sh = source.GetHeight(), dw = dest.GetWidth(), dh = dest.GetHeight();
  const double rx = static_cast<double>(sw) / dw, ry = static_cast<double>(sh) / dh;
  std::vector<int> xs(static_cast<std::size_t>(dw));
  for (int x = 0; x < dw; ++x) xs[x] = std::min(static_cast<int>(x * rx), sw - 1);
  std::vector<std::uint8_t> line(static_cast<std::size_t>(dest.GetRowLen()));
  RowProgress rows(progress, dh, true);
  {
    RowAccessScope sa(source, iedRead), da(dest, iedWrite);
    int built = -1;
    for (int y = 0; y < dh; ++y) {
      const int sy = std::min(static_cast<int>(y * ry), sh - 1);
      if (sy != built) {
        StretchRow(source.GetScanLine(sy), line.data(), xs, source.GetBitCount());
        built = sy;
      }
      std::memcpy(dest.GetScanLine(y), line.data(), line.size());
      rows.Row();
    }
  }
  if (source.GetPixelFormat() == ie8p) source.CopyPaletteTo(dest);
}

void _ResampleEx(TIEBitmap& source, TIEBitmap& dest, TResampleFilter filter, const TResampleProgress& progress) {
  if (&source == &dest || source.IsEmpty() || dest.IsEmpty()) return;
  const TIEPixelFormat format = source.GetPixelFormat();
  if (!FilteredSupported(format, filter)) return;
  const bool interpolating = filter == rfBilinear || filter == rfBicubic;
  const bool kernel = filter >= rfTriangle && filter <= rfLinear;
  const int sw = source.GetWidth(), sh = source.GetHeight(), dw = dest.GetWidth(), dh = dest.GetHeight();
  // The resamplers write rows in the source's layout.
  if (dest.GetPixelFormat() != format && !dest.Allocate(dw, dh, format)) return;

  if (interpolating) {
    const Kernel k = filter == rfBilinear ? Kernel{Triangle, 1.0} : Kernel{CatmullRom, 2.0};
    Taps tx = InterpTaps(sw, dw, k), ty = InterpTaps(sh, dh, k);
    switch (format) {
      case ie24RGB:
        RunSeparable<std::uint8_t, 3>(source, dest, tx, ty, progress);
        break;
      case ie8g:
        RunSeparable<std::uint8_t, 1>(source, dest, tx, ty, progress);
        break;
      case ie48RGB:
        RunSeparable<std::uint16_t, 3>(source, dest, tx, ty, progress);
        break;
      default:
        RunSeparable<std::uint16_t, 1>(source, dest, tx, ty, progress);
        break;
    }
  } else if (kernel) {
    Taps tx = GeneralTaps(sw, dw, kKernels[filter]), ty = GeneralTaps(sh, dh, kKernels[filter]);
    if (format == ie24RGB)
      RunSeparable<std::uint8_t, 3>(source, dest, tx, ty, progress);
    else
      RunSeparable<std::uint8_t, 1>(source, dest, tx, ty, progress);
  } else if (format == ie8g) {
    FastLinear<1>(source, dest, progress);  // rfFastLinear and the projections on grey
  } else if (filter == rfFastLinear) {
    FastLinear<3>(source, dest, progress);
  } else {
    Project24(source, dest, filter == rfProjectBW, progress);
  }
}

void _IEResampleIEBitmap(TIEBitmap& source, TIEBitmap& dest, TResampleFilter filter,
                         const TResampleProgress& progress) {
  if (&source == &dest || source.IsEmpty() || dest.IsEmpty()) return;
  // Transparent pixels keep whatever colour they had; grey keeps it from
  // bleeding into the visible neighbours they are averaged with.
  if (source.GetHasAlphaChannel() && source.GetPixelFormat() == ie24RGB) _IESetAlpha0Color(source);
  if (filter == rfNone)
    IEBmpStretchEx(source, dest, progress);
  else if (source.GetPixelFormat() == ie1g)
    Resample1Bit(source, dest, filter, progress);
  else if (FilteredSupported(source.GetPixelFormat(), filter))
    _ResampleEx(source, dest, filter, progress);
  // No filter of that kind for this format: rather than leave dest unfilled
  // (a black image), words are interpolated and the other formats (palette
  // indexes among them) point sampled.
  else if (source.GetPixelFormat() == ie48RGB || source.GetPixelFormat() == ie16g)
    _ResampleEx(source, dest, rfBilinear, progress);
  else
    IEBmpStretchEx(source, dest, progress);
  if (source.GetHasAlphaChannel()) ResampleAlpha(source, dest, filter);
}

void TImageProc::ResampleTo(TIEBitmap& dest, int newWidth, int newHeight, TResampleFilter filter) {
  if (!bitmap_ || bitmap_->IsEmpty() || (newWidth < 0 && newHeight < 0)) return;
  if (&dest == bitmap_) {
    Resample(newWidth, newHeight, filter);
    return;
  }
  const std::int64_t width = bitmap_->GetWidth(), height = bitmap_->GetHeight();
  std::int64_t w = newWidth == 0 ? width : newWidth, h = newHeight == 0 ? height : newHeight;
  if (w < -1) w = -w;
  if (h < -1) h = -h;
  if (w == -1) w = h * width / height;
  if (h == -1) h = w * height / width;
  constexpr std::int64_t kMax = std::numeric_limits<int>::max();
  w = std::clamp<std::int64_t>(w, 1, kMax);
  h = std::clamp<std::int64_t>(h, 1, kMax);
  dest.ForceReallocate = true;
  if (!dest.Allocate(static_cast<int>(w), static_cast<int>(h), bitmap_->GetPixelFormat())) return;
  _IEResampleIEBitmap(*bitmap_, dest, filter, TResampleProgress{OnProgress, this});
}

void TImageProc::Resample(int newWidth, int newHeight, TResampleFilter filter) {
  if (!bitmap_ || bitmap_->IsEmpty()) return;
  TIEBitmap resampled;
  ResampleTo(resampled, newWidth, newHeight, filter);
  // Nothing produced (both sizes negative, no memory): keep the image.
  if (!resampled.IsEmpty()) bitmap_->Assign(resampled);
}

}  // namespace pravik
