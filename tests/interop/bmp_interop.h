// Helpers shared by the BMP and icon round trips: ImageMagick's view of a
// file as a PAM (colours and alpha), and our view through the front.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "image/bitmap.h"
#include "interop/interop.h"

namespace pravik::interop {

// An image as ImageMagick decodes it: 8-bit RGB rows, top first, and alpha
// (255 where the file has none).
struct TMagickImage {
  int Width = 0, Height = 0;
  std::vector<TRGB> Pixels;
  std::vector<std::uint8_t> Alpha;
  bool HasAlpha = false;
  TRGB At(int x, int y) const { return Pixels[std::size_t(y) * Width + x]; }
  std::uint8_t AlphaAt(int x, int y) const { return Alpha[std::size_t(y) * Width + x]; }
};

// Runs `convert <source> -depth 8 pam:<file>` and parses the PAM. source may
// carry a frame selector ("a.ico[1]").
inline bool MagickRead(const std::string& source, const std::string& pamFile, TMagickImage& out) {
  if (!Run("convert '" + source + "' -depth 8 pam:'" + pamFile + "' 2>/dev/null")) return false;
  std::ifstream in(pamFile, std::ios::binary);
  std::string line, tuple;
  int depth = 0, maxval = 0;
  while (std::getline(in, line) && line != "ENDHDR") {
    std::istringstream f(line);
    std::string key;
    f >> key;
    if (key == "WIDTH") f >> out.Width;
    else if (key == "HEIGHT") f >> out.Height;
    else if (key == "DEPTH") f >> depth;
    else if (key == "MAXVAL") f >> maxval;
    else if (key == "TUPLTYPE") f >> tuple;
  }
  if (out.Width < 1 || out.Height < 1 || depth < 1 || depth > 4 || maxval != 255) return false;
  std::vector<std::uint8_t> data(std::size_t(out.Width) * out.Height * depth);
  in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!in) return false;
  out.HasAlpha = depth == 2 || depth == 4;
  out.Pixels.resize(std::size_t(out.Width) * out.Height);
  out.Alpha.assign(out.Pixels.size(), 255);
  for (std::size_t i = 0; i < out.Pixels.size(); ++i) {
    const std::uint8_t* p = data.data() + i * depth;
    out.Pixels[i] = depth >= 3 ? CreateRGB(p[0], p[1], p[2]) : CreateRGB(p[0], p[0], p[0]);
    if (out.HasAlpha) out.Alpha[i] = p[depth - 1];
  }
  return true;
}

// Largest channel difference between our image and ImageMagick's, over the
// pixels where opaqueOnly is false or ImageMagick's alpha is 255.
inline int MaxDifference(TIEBitmap& ours, const TMagickImage& theirs, bool opaqueOnly = false) {
  int worst = 0;
  for (int y = 0; y < theirs.Height; ++y)
    for (int x = 0; x < theirs.Width; ++x) {
      if (opaqueOnly && theirs.AlphaAt(x, y) != 255) continue;
      const TRGB a = ours.GetPixels(x, y), b = theirs.At(x, y);
      worst = std::max({worst, std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
    }
  return worst;
}

}  // namespace pravik::interop
