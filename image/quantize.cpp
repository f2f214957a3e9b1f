// TIEQuantizer: picks the cheapest way to a palette (grey ramp, the image's
// own palette, its exact colours) and quantizes only when none applies.
#include "image/quantize.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "image/bitmap.h"
#include "image/neuquant.h"

namespace pravik {

int iegColorReductionAlgorithm = -1;
int iegColorReductionQuality = -1;

namespace {

enum class Method { kNone, kTable, kGreyRamp, kNeuQuant, kMedianCut };

constexpr std::uint32_t Key(TRGB c) { return (std::uint32_t(c.r) << 16) | (std::uint32_t(c.g) << 8) | c.b; }

// Colour -> first position, for at most 256 colours: open addressing at a
// load of at most one quarter, so a lookup is one or two probes.
class ColourSet {
 public:
  ColourSet() { keys_.fill(kEmpty); }

  int Find(std::uint32_t key) const {
    for (std::uint32_t i = Slot(key);; i = (i + 1) & kMask) {
      if (keys_[i] == key) return values_[i];
      if (keys_[i] == kEmpty) return -1;
    }
  }
  // Keeps the first position of a colour that is inserted twice.
  void Insert(std::uint32_t key, int value) {
    std::uint32_t i = Slot(key);
    while (keys_[i] != kEmpty) {
      if (keys_[i] == key) return;
      i = (i + 1) & kMask;
    }
    keys_[i] = key;
    values_[i] = static_cast<std::uint16_t>(value);
  }

 private:
  static constexpr int kSlots = 1024;
  static constexpr std::uint32_t kMask = kSlots - 1;
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;  // no 24-bit colour has it
  static std::uint32_t Slot(std::uint32_t key) { return (key * 0x9E3779B1u) >> 22; }

  std::array<std::uint32_t, kSlots> keys_;
  std::array<std::uint16_t, kSlots> values_{};
};

// Palette entry nearest to c by squared RGB distance, the first on ties.
int NearestEntry(const std::vector<TRGB>& colours, TRGB c) {
  int best = 0;
  int bestDist = 0x7FFFFFFF;
  for (int i = 0; i < static_cast<int>(colours.size()); ++i) {
    const int dr = colours[i].r - c.r, dg = colours[i].g - c.g, db = colours[i].b - c.b;
    const int d = dr * dr + dg * dg + db * db;
    if (d < bestDist) {
      bestDist = d;
      best = i;
    }
  }
  return best;
}

}  // namespace

struct TIEQuantizer::Impl {
  int n = 0;
  bool grey = false;
  int count = 0;
  Method method = Method::kNone;
  // kTable: the image's exact colours or the ie8p palette, and where each is.
  std::vector<TRGB> colours;
  ColourSet positions;
  std::unique_ptr<TNeuQuant> neuQuant;
  PMedianCutState medianCut;

  // Distinct colours of an ie24RGB image in order of first appearance, or
  // false as soon as there are more than n.
  bool BuildExactTable(TIEBitmap& bitmap);
  void UseColours(const TRGB* palette, int k);
};

void TIEQuantizer::Impl::UseColours(const TRGB* palette, int k) {
  colours.assign(palette, palette + k);
  for (int i = 0; i < k; ++i) positions.Insert(Key(colours[i]), i);
  method = Method::kTable;
}

bool TIEQuantizer::Impl::BuildExactTable(TIEBitmap& bitmap) {
  const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
  colours.reserve(n);
  std::uint32_t last = 0xFFFFFFFFu;  // runs of one colour skip the lookup
  for (int y = 0; y < height; ++y) {
    const auto* row = reinterpret_cast<const TRGB*>(bitmap.GetScanLine(y));
    for (int x = 0; x < width; ++x) {
      const std::uint32_t key = Key(row[x]);
      if (key == last) continue;
      last = key;
      if (positions.Find(key) >= 0) continue;
      if (static_cast<int>(colours.size()) == n) {
        colours.clear();
        positions = ColourSet();
        return false;
      }
      positions.Insert(key, static_cast<int>(colours.size()));
      colours.push_back(row[x]);
    }
  }
  return true;
}

TIEQuantizer::TIEQuantizer(TIEBitmap& bitmap, TRGB* palette, int /*spare*/, int n) : impl_(std::make_unique<Impl>()) {
  Impl& q = *impl_;
  // Colour counts come from files too: keep them in the palette's range.
  q.n = std::clamp(n, 1, 256);
  q.grey = bitmap.IsGrayScale();
  const TIEPixelFormat format = bitmap.GetPixelFormat();

  if (q.grey || format != ie24RGB) {
    if (format == ie8p) {
      const int k = std::min(q.n, bitmap.GetPaletteLen());
      for (int i = 0; i < k; ++i) palette[i] = bitmap.GetPalette(i);
      q.UseColours(palette, k);
      q.count = k;
    } else if (q.grey) {
      // Evenly from black to white, as a grey file of log2(n) bits reads its
      // levels; a ramp of 256 / n steps would never reach white (240 for 16).
      for (int i = 0; i < q.n; ++i) {
        const auto v = static_cast<std::uint8_t>(q.n == 1 ? 0 : (510 * i + q.n - 1) / (2 * (q.n - 1)));
        palette[i] = TRGB{v, v, v};
      }
      q.method = Method::kGreyRamp;
      q.count = q.n;
    }
    // A colour image in another format gets no palette and index 0.
    return;
  }

  if (q.BuildExactTable(bitmap)) {
    std::copy(q.colours.begin(), q.colours.end(), palette);
    q.method = Method::kTable;
    q.count = static_cast<int>(q.colours.size());
    return;
  }

  const int algorithm = iegColorReductionAlgorithm;
  const bool medianCut = algorithm == 1 || (algorithm == -1 && q.n < 128);
  if (medianCut) {
    q.medianCut = CreateMedianCutQuantizer(bitmap, palette, 255, q.n);
    q.method = Method::kMedianCut;
    q.count = MedianCutColorCount(*q.medianCut);
  } else {
    q.neuQuant = std::make_unique<TNeuQuant>(bitmap, palette, iegColorReductionQuality, q.n);
    q.method = Method::kNeuQuant;
    q.count = q.n;
  }
}

TIEQuantizer::~TIEQuantizer() = default;

int TIEQuantizer::GetRGBIndex(TRGB colour) const {
  const Impl& q = *impl_;
  // A grey image answers with its grey level scaled to n, also when it is an
  // ie8p image that kept its own palette: callers that found the image grey
  // store the index as the grey value.
  if (q.grey) return (colour.r * q.n) >> 8;
  switch (q.method) {
    case Method::kTable: {
      // Colours not in the table (a background colour, say) get the nearest
      // entry rather than an index outside the palette.
      const int i = q.positions.Find(Key(colour));
      return i >= 0 ? i : NearestEntry(q.colours, colour);
    }
    case Method::kNeuQuant:
      return q.neuQuant->FindIndex(colour);
    case Method::kMedianCut:
      return MedianCutFindIndex(*q.medianCut, colour);
    case Method::kGreyRamp:
    case Method::kNone:
      break;
  }
  return 0;
}

bool TIEQuantizer::IsGrayScale() const { return impl_->grey; }

int TIEQuantizer::ColorCount() const { return impl_->count; }

}  // namespace pravik
