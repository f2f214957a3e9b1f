// Median-cut quantization on a 32x32x32 histogram of 5-bit colour cells.
// After the one pass that fills the histogram no pixel is looked at again:
// boxes of cells are split until there are n of them or none can be split,
// and a colour's index is the box of its cell.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "image/bitmap.h"
#include "image/quantize.h"

namespace pravik {

namespace {

constexpr int kSide = 32;  // cells per axis
constexpr int kCells = kSide * kSide * kSide;
constexpr double kFailedAxisCost = 17523.6;  // cost of an axis that cannot be cut; nothing at or above it is taken

constexpr int CellIndex(int r5, int g5, int b5) { return (r5 << 10) | (g5 << 5) | b5; }

// Axes in the order the split tries them.
enum Axis { kRed = 0, kGreen = 1, kBlue = 2 };

struct Box {
  std::array<int, 3> lo{};  // inclusive, 5-bit units
  std::array<int, 3> hi{};  // exclusive
  std::uint64_t count = 0;
  std::array<double, 3> mean{};
  double error = 0;
  std::array<std::array<std::uint64_t, kSide>, 3> h{};  // the box's pixels along each axis
};

}  // namespace

struct TMedianCutState {
  std::vector<std::uint64_t> hist = std::vector<std::uint64_t>(kCells);
  std::vector<Box> boxes;
  std::array<std::uint8_t, kCells> table{};
  // Pixel count in 64 bits: images of any size, not just up to 65535 a side.
  std::int64_t width = 0, height = 0, total = 0;

  void Rebuild(Box& box) const;
  static void Shrink(Box& box);
  void Statistics(Box& box) const;
  bool Split(Box& box, Box& upper) const;
};

void TMedianCutState::Rebuild(Box& box) const {
  for (auto& axis : box.h) axis.fill(0);
  for (int r = box.lo[kRed]; r < box.hi[kRed]; ++r) {
    for (int g = box.lo[kGreen]; g < box.hi[kGreen]; ++g) {
      const std::uint64_t* cells = &hist[CellIndex(r, g, 0)];
      std::uint64_t line = 0;
      for (int b = box.lo[kBlue]; b < box.hi[kBlue]; ++b) {
        line += cells[b];
        box.h[kBlue][b] += cells[b];
      }
      box.h[kRed][r] += line;
      box.h[kGreen][g] += line;
    }
  }
}

void TMedianCutState::Shrink(Box& box) {
  for (int a = 0; a < 3; ++a) {
    int lo = box.lo[a], hi = box.hi[a];
    while (lo < hi && box.h[a][lo] == 0) ++lo;
    while (hi > lo && box.h[a][hi - 1] == 0) --hi;
    if (lo < hi) {
      box.lo[a] = lo;
      box.hi[a] = hi;
    }
  }
}

void TMedianCutState::Statistics(Box& box) const {
  box.mean = {0, 0, 0};
  box.error = 0;
  if (box.count == 0) return;
  const double c = static_cast<double>(box.count);
  double error = 0;
  for (int a = 0; a < 3; ++a) {
    std::uint64_t sum = 0, sumSq = 0;
    for (int j = box.lo[a]; j < box.hi[a]; ++j) {
      sum += std::uint64_t(j) * box.h[a][j];
      sumSq += std::uint64_t(j) * j * box.h[a][j];
    }
    const double mean = static_cast<double>(sum) / c;
    box.mean[a] = mean;
    error += static_cast<double>(sumSq) - mean * mean * c;
  }
  box.error = error / static_cast<double>(total);
}

// Cuts box along the axis whose two halves have the smallest summed error.
// On success box becomes the lower half and upper the other.
bool TMedianCutState::Split(Box& box, Box& upper) const {
  if (box.error == 0 || box.count == 0) return false;
  const std::uint64_t c = box.count;
  double bestCost = kFailedAxisCost;
  Box bestLower, bestUpper;
  bool found = false;
  for (int a = 0; a < 3; ++a) {
    const int lo = box.lo[a], hi = box.hi[a];
    if (hi - lo <= 1) continue;
    const double mu = box.mean[a];
    const auto& h = box.h[a];
    const int s = static_cast<int>(std::nearbyint((lo + mu) / 2));  // halves to even
    // The mean is at most hi - 1, so the last cell past the box is empty and
    // can never improve the score; stopping at hi - 1 keeps the search inside.
    const int t = std::min(static_cast<int>(std::nearbyint((mu + hi) / 2)), hi - 1);
    std::uint64_t sum = 0;
    for (int j = lo; j < s; ++j) sum += h[j];
    double moment = 0, bestScore = -1;
    int bestE = s;
    std::uint64_t bestCount = c;
    for (int e = s; e <= t; ++e) {
      sum += h[e];
      if (sum == c) break;
      moment += static_cast<double>(h[e]) * e / static_cast<double>(c);
      const double d = mu - moment;
      const double score = (static_cast<double>(sum) / static_cast<double>(c - sum)) * (d * d);
      if (score > bestScore) {
        bestScore = score;
        bestE = e;
        bestCount = sum;
      }
    }
    if (bestCount == 0 || bestCount == c) continue;

    Box lower = box, higher = box;
    lower.hi[a] = bestE + 1;
    lower.count = bestCount;
    higher.lo[a] = bestE + 1;
    higher.count = c - bestCount;
    for (Box* part : {&lower, &higher}) {
      Rebuild(*part);
      Shrink(*part);
      Statistics(*part);
    }
    const double cost = lower.error + higher.error;
    if (cost < bestCost) {  // strict: red, then green, then blue win ties
      bestCost = cost;
      bestLower = lower;
      bestUpper = higher;
      found = true;
    }
  }
  if (!found) return false;
  box = bestLower;
  upper = bestUpper;
  return true;
}

void TMedianCutDeleter::operator()(TMedianCutState* state) const noexcept { delete state; }

PMedianCutState CreateMedianCutQuantizer(TIEBitmap& bitmap, TRGB* palette, int /*spare*/, int n) {
  if (bitmap.GetPixelFormat() != ie24RGB) throw std::invalid_argument("median cut: the image must be ie24RGB");
  if (n < 1 || n > 256) throw std::invalid_argument("median cut: colour count must be 1 to 256");
  PMedianCutState state(new TMedianCutState);
  TMedianCutState& st = *state;
  const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
  st.width = width;
  st.height = height;
  st.total = std::int64_t(width) * height;

  // One pass over the rows. 32-bit counters per row band keep the hot table
  // small; they are folded into the 64-bit histogram before they can overflow.
  {
    std::vector<std::uint32_t> band(kCells);
    std::int64_t inBand = 0;
    const std::int64_t bandLimit = std::int64_t(1) << 31;
    for (int y = 0; y < height; ++y) {
      const auto* row = reinterpret_cast<const TRGB*>(bitmap.GetScanLine(y));
      for (int x = 0; x < width; ++x) {
        const TRGB p = row[x];
        ++band[CellIndex(p.r >> 3, p.g >> 3, p.b >> 3)];
      }
      inBand += width;
      if (inBand + width >= bandLimit || y == height - 1) {
        for (int i = 0; i < kCells; ++i) st.hist[i] += band[i];
        std::fill(band.begin(), band.end(), 0u);
        inBand = 0;
      }
    }
  }

  st.boxes.reserve(n);
  Box first;
  first.lo = {0, 0, 0};
  first.hi = {kSide, kSide, kSide};
  first.count = static_cast<std::uint64_t>(st.total);
  st.Rebuild(first);
  st.Statistics(first);
  st.boxes.push_back(first);

  while (static_cast<int>(st.boxes.size()) < n) {
    int pick = -1;
    double largest = 0;
    for (int i = 0; i < static_cast<int>(st.boxes.size()); ++i) {
      if (st.boxes[i].error > largest) {
        largest = st.boxes[i].error;
        pick = i;
      }
    }
    if (pick < 0) break;
    Box upper;
    if (st.Split(st.boxes[pick], upper))
      st.boxes.push_back(upper);
    else
      st.boxes[pick].error = 0;
  }

  const auto channel = [](double mean) { return static_cast<std::uint8_t>(std::nearbyint(mean) * 8); };
  for (std::size_t k = 0; k < st.boxes.size(); ++k) {
    const Box& box = st.boxes[k];
    palette[k] = CreateRGB(channel(box.mean[kRed]), channel(box.mean[kGreen]), channel(box.mean[kBlue]));
    for (int r = box.lo[kRed]; r < box.hi[kRed]; ++r)
      for (int g = box.lo[kGreen]; g < box.hi[kGreen]; ++g)
        for (int b = box.lo[kBlue]; b < box.hi[kBlue]; ++b) st.table[CellIndex(r, g, b)] = static_cast<std::uint8_t>(k);
  }
  return state;
}

int MedianCutFindIndex(const TMedianCutState& state, TRGB colour) {
  return state.table[CellIndex(colour.r >> 3, colour.g >> 3, colour.b >> 3)];
}

int MedianCutColorCount(const TMedianCutState& state) { return static_cast<int>(state.boxes.size()); }

void FreeMedianCutQuantizer(PMedianCutState& state) { state.reset(); }

}  // namespace pravik
