#include "image/colour.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace pravik {

int gRedToGrayCoef = 21, gGreenToGrayCoef = 71, gBlueToGrayCoef = 8;
bool iegUseCMYKProfile = true;
bool iegEnableCMS = false;

namespace {

std::uint8_t Clamp255(double v) { return static_cast<std::uint8_t>(std::clamp<double>(std::trunc(v), 0, 255)); }

// sRGB channel byte made linear; a table because the pow dominates the L*a*b*
// conversion and there are only 256 inputs.
const std::array<double, 256>& LinearTable() {
  static const std::array<double, 256> table = [] {
    std::array<double, 256> t{};
    for (int i = 0; i < 256; ++i) {
      const double v = i / 255.0;
      t[i] = v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    }
    return t;
  }();
  return table;
}

TRGB PlainCMYK2RGB(TCMYK c) {
  return CreateRGB(static_cast<std::uint8_t>(c.c * c.k / 255), static_cast<std::uint8_t>(c.m * c.k / 255),
                   static_cast<std::uint8_t>(c.y * c.k / 255));
}

TCMYK PlainRGB2CMYK(TRGB c) {
  int k = std::max({c.r, c.g, c.b});
  if (k == 0) k = 1;
  return TCMYK{static_cast<std::uint8_t>(c.r * 255 / k), static_cast<std::uint8_t>(c.g * 255 / k),
               static_cast<std::uint8_t>(c.b * 255 / k), static_cast<std::uint8_t>(k)};
}

}  // namespace

void IECMYK2RGBRow(const TCMYK* src, TRGB* dst, int count) {
  if (count <= 0) return;
  if (iegUseCMYKProfile && IECMYKProfileToRGB(src, dst, count)) return;
  // Forward order keeps an in-place call safe: pixel i is read before any
  // write reaches its bytes.
  for (int i = 0; i < count; ++i) dst[i] = PlainCMYK2RGB(src[i]);
}

void IERGB2CMYKRow(const TRGB* src, TCMYK* dst, int count) {
  if (count <= 0) return;
  if (iegUseCMYKProfile && IECMYKProfileFromRGB(src, dst, count)) return;
  for (int i = 0; i < count; ++i) dst[i] = PlainRGB2CMYK(src[i]);
}

TRGB IECMYK2RGB(TCMYK c) {
  TRGB out;
  IECMYK2RGBRow(&c, &out, 1);
  return out;
}

TCMYK IERGB2CMYK(TRGB c) {
  TCMYK out;
  IERGB2CMYKRow(&c, &out, 1);
  return out;
}

TCIELab IERGB2CIELAB(TRGB c) {
  const auto& lin = LinearTable();
  const double r = lin[c.r], g = lin[c.g], b = lin[c.b];
  const double x = (0.412453 * r + 0.35758 * g + 0.180423 * b) / 0.95047;
  const double y = 0.212671 * r + 0.71516 * g + 0.072169 * b;
  const double z = (0.019334 * r + 0.119193 * g + 0.950227 * b) / 1.088883;
  auto f = [](double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0; };
  const double l = y > 0.008856 ? 116.0 * f(y) - 16.0 : 903.3 * y;
  const double a = 500.0 * (f(x) - f(y));
  const double bb = 200.0 * (f(y) - f(z));
  // Truncated, and stored modulo 256 like every byte store of these formulas.
  return TCIELab{static_cast<std::uint8_t>(static_cast<int>(l * 255.0 / 100.0)), static_cast<std::int8_t>(static_cast<int>(a)),
                 static_cast<std::int8_t>(static_cast<int>(bb))};
}

TRGB IECIELAB2RGB(TCIELab c) {
  const double fy = (c.l * 100.0 / 255.0 + 16.0) / 116.0;
  const double fx = fy + c.a / 500.0;
  const double fz = fy - c.b / 200.0;
  auto inv = [](double t) {
    const double t3 = t * t * t;
    return t3 > 0.008856 ? t3 : (t - 16.0 / 116.0) / 7.787;
  };
  const double y = inv(fy), x = inv(fx) * 0.95047, z = inv(fz) * 1.08883;
  auto comp = [](double v) {
    v = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
    // nearbyint rounds halves to even in the default rounding mode.
    return static_cast<std::uint8_t>(std::clamp<double>(std::nearbyint(v * 255.0), 0, 255));
  };
  return CreateRGB(comp(3.2406 * x - 1.5372 * y - 0.4986 * z), comp(-0.9689 * x + 1.8758 * y + 0.0415 * z),
                   comp(0.0557 * x - 0.204 * y + 1.057 * z));
}

void IERGB2YCbCr(TRGB c, std::uint8_t& y, std::uint8_t& cb, std::uint8_t& cr) {
  y = Clamp255(0.299 * c.r + 0.587 * c.g + 0.114 * c.b);
  cb = Clamp255(-0.16874 * c.r - 0.33126 * c.g + 0.5 * c.b + 128);
  cr = Clamp255(0.5 * c.r - 0.41869 * c.g - 0.08131 * c.b + 128);
}

void IEYCbCr2RGB(TRGB& c, int y, int cb, int cr) {
  c.r = Clamp255(y + 1.402 * (cr - 128));
  c.g = Clamp255(y - 0.34414 * (cb - 128) - 0.71414 * (cr - 128));
  c.b = Clamp255(y + 1.772 * (cb - 128));
}

}  // namespace pravik
