// NeuQuant colour quantization (Anthony Dekker's Kohonen network), with the
// network size set to the number of colours asked for. Values are kept at 16
// times the 8-bit scale; all arithmetic is integer and deterministic.
#include "image/neuquant.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <numeric>
#include <stdexcept>

#include "image/bitmap.h"

namespace pravik {

namespace {

constexpr int kCycles = 100;              // learning is split into this many phases
constexpr int kInitAlpha = 1024;          // learning rate at the start (10 bits)
constexpr int kRadiusBias = 64;           // neighbourhood radius is kept at 64 times scale
constexpr int kRadiusDec = 30;            // radius shrinks by 1/30 per phase
constexpr int kRadBias = 256;             // neighbourhood weights scale (8 bits)
constexpr int kAlphaRadBias = 262144;     // 1 << (10 + 8)
constexpr std::int32_t kIntBias = 65536;  // frequencies and biases scale (16 bits)
constexpr std::int32_t kBeta = 64;        // kIntBias >> 10
constexpr std::int32_t kBetaGamma = 65536;

// Modular inverse of a mod m (gcd 1 assumed), by the extended Euclidean algorithm.
std::int64_t InverseMod(std::int64_t a, std::int64_t m) {
  std::int64_t r0 = m, r1 = a % m, t0 = 0, t1 = 1;
  while (r1 != 0) {
    const std::int64_t q = r0 / r1;
    std::int64_t t = r0 - q * r1;
    r0 = r1;
    r1 = t;
    t = t0 - q * t1;
    t0 = t1;
    t1 = t;
  }
  return t0 < 0 ? t0 + m : t0;
}

void NeighbourWeights(std::vector<std::int32_t>& w, int rad, int alpha) {
  const std::int64_t rad2 = std::int64_t(rad) * rad;
  for (int i = 0; i < rad; ++i)
    w[i] = alpha * static_cast<std::int32_t>((rad2 - std::int64_t(i) * i) * kRadBias / rad2);
}

// Position of the first smallest value. Two plain loops (the minimum, then
// where it is) vectorise, where one loop tracking both would not.
int FirstMinimum(const std::int32_t* v, int n) {
  std::int32_t m = v[0];
  for (int i = 1; i < n; ++i) m = std::min(m, v[i]);
  int i = 0;
  while (v[i] != m) ++i;
  return i;
}

int RadiusToRad(int radius) { return radius > 127 ? radius / kRadiusBias : 0; }

}  // namespace

int NeuQuantSamplingFactor(std::int64_t pixels, int quality) {
  double f;
  if (quality == -1) {
    if (pixels < 2000) return 1;
    f = std::nearbyint(static_cast<double>(pixels - 2000) * 13.0 / 148000.0 + 2.0);  // halves to even
  } else {
    f = std::trunc((100 - quality) / 100.0 * 29.0) + 1.0;
  }
  return static_cast<int>(std::clamp(f, 1.0, 30.0));
}

int NeuQuantStep(std::int64_t pixels) {
  const std::int64_t len = 3 * pixels;
  for (const int prime : {499, 491, 487})
    if (len % prime != 0) return prime;
  return 503;
}

std::vector<TRGB> NeuQuantSamples(TIEBitmap& bitmap, int factor) {
  const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
  const std::int64_t pixels = std::int64_t(width) * height;
  if (pixels <= 0 || factor < 1) return {};
  const std::int64_t samples = pixels / factor;
  const std::int64_t step = NeuQuantStep(pixels);
  std::vector<TRGB> out(static_cast<std::size_t>(samples) + 1);  // + 1: sink for pixels nobody samples

  if (step < pixels && std::gcd(step, pixels) == 1) {
    // Sample i sits at pixel i * step mod pixels, so pixel q is sample
    // q * step^-1 mod pixels: one pass over the rows fills the samples in
    // visiting order without random access to the image.
    const std::int64_t inv = InverseMod(step, pixels);
    std::int64_t i = 0;
    for (int y = 0; y < height; ++y) {
      const auto* row = reinterpret_cast<const TRGB*>(bitmap.GetScanLine(y));
      for (int x = 0; x < width; ++x) {
        out[static_cast<std::size_t>(i < samples ? i : samples)] = row[x];
        i += inv;
        if (i >= pixels) i -= pixels;
      }
    }
  } else {
    // Tiny images (the step exceeds the pixel count) and pixel counts that all
    // four primes divide: follow the walk literally, the row wrapping around.
    std::int64_t p = 0;
    for (std::int64_t i = 0; i < samples; ++i) {
      const int y = static_cast<int>((p / width) % height);
      out[static_cast<std::size_t>(i)] = reinterpret_cast<const TRGB*>(bitmap.GetScanLine(y))[p % width];
      p += step;
      if (p >= pixels) p -= pixels;
    }
  }
  out.pop_back();
  return out;
}

TNeuQuant::TNeuQuant(TIEBitmap& bitmap, TRGB* palette, int quality, int n)
    : n_(n), factor_(NeuQuantSamplingFactor(std::int64_t(bitmap.GetWidth()) * bitmap.GetHeight(), quality)) {
  if (n < 1 || n > 256) throw std::invalid_argument("NeuQuant: colour count must be 1 to 256");
  if (bitmap.GetPixelFormat() != ie24RGB) throw std::invalid_argument("NeuQuant: the image must be ie24RGB");
  Learn(NeuQuantSamples(bitmap, factor_));
  Finish(palette);
}

TNeuQuant::TNeuQuant(const std::vector<TRGB>& samples, TRGB* palette, int factor, int n) : n_(n), factor_(factor) {
  if (n < 1 || n > 256) throw std::invalid_argument("NeuQuant: colour count must be 1 to 256");
  Learn(samples);
  Finish(palette);
}

void TNeuQuant::Learn(const std::vector<TRGB>& samples) {
  const int n = n_;
  // Structure of arrays: the contest runs over every neuron for every sample.
  std::vector<std::int32_t> nb(n), ng(n), nr(n), freq(n), bias(n), dist(n), biasDist(n);
  for (int i = 0; i < n; ++i) {
    nb[i] = ng[i] = nr[i] = i * 4096 / n;
    freq[i] = kIntBias / n;
    bias[i] = 0;
  }

  const std::int64_t count = static_cast<std::int64_t>(samples.size());
  const int alphadec = 30 + (factor_ - 1) / 3;
  std::int64_t delta = count / kCycles;
  if (delta == 0) delta = 1;
  int alpha = kInitAlpha;
  int radius = (n / 8) * kRadiusBias;
  int rad = RadiusToRad(radius);
  std::vector<std::int32_t> weights(std::max(n / 8, 1));
  NeighbourWeights(weights, rad, alpha);

  for (std::int64_t s = 0; s < count; ++s) {
    const TRGB px = samples[static_cast<std::size_t>(s)];
    const std::int32_t b = px.b << 4, g = px.g << 4, r = px.r << 4;

    // Contest: the winner is the neuron with the smallest biased distance; the
    // plain nearest one has its frequency raised and its bias lowered. The bias
    // is shifted as an unsigned value, so a negative bias wins by far.
    for (int i = 0; i < n; ++i) dist[i] = std::abs(nb[i] - b) + std::abs(ng[i] - g) + std::abs(nr[i] - r);
    for (int i = 0; i < n; ++i)
      biasDist[i] = dist[i] - static_cast<std::int32_t>(static_cast<std::uint32_t>(bias[i]) >> 12);
    const int bestpos = FirstMinimum(dist.data(), n);
    const int bestbiaspos = FirstMinimum(biasDist.data(), n);
    for (int i = 0; i < n; ++i) {
      const std::int32_t betafreq = static_cast<std::int32_t>(static_cast<std::uint32_t>(freq[i]) >> 10);
      freq[i] -= betafreq;
      bias[i] =
          static_cast<std::int32_t>(static_cast<std::uint32_t>(bias[i]) + (static_cast<std::uint32_t>(betafreq) << 10));
    }
    freq[bestpos] += kBeta;
    bias[bestpos] = static_cast<std::int32_t>(static_cast<std::uint32_t>(bias[bestpos]) - kBetaGamma);

    // Move the winner towards the sample, and its neighbours by their weight.
    const int j0 = bestbiaspos;
    nb[j0] -= (nb[j0] - b) * alpha / kInitAlpha;
    ng[j0] -= (ng[j0] - g) * alpha / kInitAlpha;
    nr[j0] -= (nr[j0] - r) * alpha / kInitAlpha;
    if (rad > 0) {
      const int lo = std::max(j0 - rad, -1), hi = std::min(j0 + rad, n);
      int up = j0 + 1, down = j0 - 1, m = 1;
      while (up < hi || down > lo) {
        const std::int64_t a = weights[m++];
        if (up < hi) {
          nb[up] -= static_cast<std::int32_t>((nb[up] - b) * a / kAlphaRadBias);
          ng[up] -= static_cast<std::int32_t>((ng[up] - g) * a / kAlphaRadBias);
          nr[up] -= static_cast<std::int32_t>((nr[up] - r) * a / kAlphaRadBias);
          ++up;
        }
        if (down > lo) {
          nb[down] -= static_cast<std::int32_t>((nb[down] - b) * a / kAlphaRadBias);
          ng[down] -= static_cast<std::int32_t>((ng[down] - g) * a / kAlphaRadBias);
          nr[down] -= static_cast<std::int32_t>((nr[down] - r) * a / kAlphaRadBias);
          --down;
        }
      }
    }

    if ((s + 1) % delta == 0) {
      alpha -= alpha / alphadec;
      radius -= radius / kRadiusDec;
      rad = RadiusToRad(radius);
      NeighbourWeights(weights, rad, alpha);
    }
  }

  net_.resize(n);
  for (int i = 0; i < n; ++i) net_[i] = Neuron{nb[i], ng[i], nr[i], i};
}

void TNeuQuant::Finish(TRGB* palette) {
  const int n = n_;
  for (int i = 0; i < n; ++i) {
    Neuron& nu = net_[i];
    for (std::int32_t* v : {&nu.b, &nu.g, &nu.r}) *v = std::min((*v + 8) / 16, 255);
    palette[i] =
        TRGB{static_cast<std::uint8_t>(nu.b), static_cast<std::uint8_t>(nu.g), static_cast<std::uint8_t>(nu.r)};
  }

  // Selection sort by green (first smallest on ties, swapped into place), then
  // the green index: each green points at the middle of its run of neurons,
  // greens between runs at the start of the next run, greens above the last
  // run at the last neuron.
  int previous = 0, start = 0;
  for (int i = 0; i < n; ++i) {
    int small = i;
    for (int j = i + 1; j < n; ++j)
      if (net_[j].g < net_[small].g) small = j;
    std::swap(net_[i], net_[small]);
    const int green = net_[i].g;
    if (green != previous) {
      greenIndex_[previous] = (start + i) >> 1;
      for (int j = previous + 1; j < green; ++j) greenIndex_[j] = i;
      previous = green;
      start = i;
    }
  }
  greenIndex_[previous] = (start + n - 1) >> 1;
  for (int j = previous + 1; j < 256; ++j) greenIndex_[j] = n - 1;
}

int TNeuQuant::FindIndex(TRGB colour) const {
  // A few thousand lookups (a background colour, a small image) are cheaper
  // searched than memoised.
  constexpr std::uint32_t kMemoAfter = 1u << 14;
  if (!memo_.known) {
    // lookups_ past kMemoAfter: the memory was refused; searching every
    // time is only slower.
    if (lookups_ != kMemoAfter) {
      if (lookups_ < kMemoAfter) ++lookups_;
      return Search(colour);
    }
    memo_.index.reset(new (std::nothrow) std::uint8_t[std::size_t(1) << 24]);  // read only where known
    memo_.known.reset(new (std::nothrow) std::uint64_t[(std::size_t(1) << 24) / 64]());
    if (!memo_.index || !memo_.known) {
      memo_.index.reset();
      memo_.known.reset();
      lookups_ = kMemoAfter + 1;
      return Search(colour);
    }
  }
  const std::uint32_t key = (std::uint32_t(colour.r) << 16) | (std::uint32_t(colour.g) << 8) | colour.b;
  std::uint64_t& word = memo_.known[key >> 6];
  const std::uint64_t bit = std::uint64_t(1) << (key & 63);
  if (word & bit) return memo_.index[key];
  const int i = Search(colour);
  memo_.index[key] = static_cast<std::uint8_t>(i);
  word |= bit;
  return i;
}

// The same answer as walking up and down from the green index at once and
// keeping each strictly nearer neuron: that walk returns the nearest neuron
// (sum of absolute differences) that it meets first, and it meets neurons in
// order of their rank (0 for the index entry, 1 the one below, 2 the one
// above it, ...). So the answer is the smallest (distance, rank); each side
// is scanned on its own, and ends where green alone cannot beat the best.
int TNeuQuant::Search(TRGB colour) const {
  const int b = colour.b, g = colour.g, r = colour.r;
  const int n = n_;
  const int start = greenIndex_[g];
  constexpr int kRankBits = 9;  // ranks are below 512
  int best = 1000 << kRankBits;
  for (int k = start, rank = 0; k < n; ++k, rank += 2) {
    const Neuron& p = net_[k];
    const int dg = p.g - g;
    if ((dg << kRankBits) + rank >= best) break;
    const int key = ((std::abs(dg) + std::abs(p.b - b) + std::abs(p.r - r)) << kRankBits) + rank;
    best = std::min(best, key);
  }
  for (int k = start - 1, rank = 1; k >= 0; --k, rank += 2) {
    const Neuron& p = net_[k];
    const int dg = g - p.g;
    if ((dg << kRankBits) + rank >= best) break;
    const int key = ((dg + std::abs(p.b - b) + std::abs(p.r - r)) << kRankBits) + rank;
    best = std::min(best, key);
  }
  const int rank = best & ((1 << kRankBits) - 1);
  return net_[(rank & 1) ? start - 1 - (rank >> 1) : start + (rank >> 1)].index;
}

}  // namespace pravik
