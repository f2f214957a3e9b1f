// Helpers for round trips through independent tools (ImageMagick, netpbm,
// libtiff, giflib, poppler, OpenJPEG). A test whose tool is missing skips.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "image/bitmap.h"
#include "imageio/imageio.h"

namespace pravik::interop {

// ---- tools and files -----------------------------------------------------------------------

// True when `name` is an executable on PATH.
inline bool HaveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

#define PRAVIK_REQUIRE_TOOL(name) \
  if (!::pravik::interop::HaveTool(name)) GTEST_SKIP() << name << " is not installed"

// Runs a shell command; true when it exits 0. Output goes to the test log only
// on failure (stderr is kept).
inline bool Run(const std::string& command) { return std::system((command + " >/dev/null").c_str()) == 0; }

// A shell command whose own redirections hold (Run sends the output to /dev/null).
inline bool Sh(const std::string& command) { return Run("(" + command + ")"); }

// A fresh folder for one test, removed afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            (std::string("pravik-interop-") + info->test_suite_name() + "-" + info->name());
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() { std::filesystem::remove_all(path_); }
  std::string File(const std::string& leaf) const { return (path_ / leaf).string(); }

 private:
  std::filesystem::path path_;
};

inline std::vector<std::uint8_t> FileBytes(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void SaveBytes(const std::string& file, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Loads a file through the front by its content; true when a format took it.
inline bool Load(TImageIO& io, const std::string& file, bool native = false) {
  io.SetNativePixelFormat(native);
  io.LoadFromFileAuto(file);
  return !io.AbortFlag && io.IOParams().FILETYPE != 0;
}

// ---- ImageMagick's view through PAM --------------------------------------------------------

// A PAM file as ImageMagick writes it: Depth samples per pixel, rows top first,
// one byte per sample up to Maxval 255, two (big-endian) above.
struct TPam {
  int Width = 0, Height = 0, Depth = 0, Maxval = 0;
  std::vector<std::uint16_t> Samples;
  std::uint16_t At(int x, int y, int c) const { return Samples[(std::size_t(y) * Width + x) * Depth + c]; }
};

inline bool ReadPam(const std::string& file, TPam& pam) {
  std::ifstream in(file, std::ios::binary);
  std::string line;
  if (!std::getline(in, line) || line != "P7") return false;
  while (std::getline(in, line) && line != "ENDHDR") {
    std::istringstream f(line);
    std::string key;
    f >> key;
    if (key == "WIDTH") f >> pam.Width;
    else if (key == "HEIGHT") f >> pam.Height;
    else if (key == "DEPTH") f >> pam.Depth;
    else if (key == "MAXVAL") f >> pam.Maxval;
  }
  if (pam.Width < 1 || pam.Height < 1 || pam.Depth < 1 || pam.Depth > 4 || pam.Maxval < 1 || pam.Maxval > 65535)
    return false;
  const int bytes = pam.Maxval > 255 ? 2 : 1;
  std::vector<std::uint8_t> raw(std::size_t(pam.Width) * pam.Height * pam.Depth * bytes);
  in.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(raw.size()));
  if (!in) return false;
  pam.Samples.resize(raw.size() / bytes);
  for (std::size_t i = 0; i < pam.Samples.size(); ++i)
    pam.Samples[i] = bytes == 2 ? std::uint16_t((raw[2 * i] << 8) | raw[2 * i + 1]) : raw[i];
  return true;
}

// An image as 8-bit colours and alpha (255 where the source has none), rows
// top first: ImageMagick's decode of a file, or ours.
struct TPixels {
  int Width = 0, Height = 0;
  std::vector<TRGB> Colour;
  std::vector<std::uint8_t> Alpha;
  bool HasAlpha = false;
  TRGB At(int x, int y) const { return Colour[std::size_t(y) * Width + x]; }
  std::uint8_t AlphaAt(int x, int y) const { return Alpha[std::size_t(y) * Width + x]; }
};

// The colours of an 8-bit PAM: grey (depth 1, 2) or RGB (3, 4), alpha last.
inline bool ParsePam(const std::string& file, TPixels& out) {
  TPam pam;
  if (!ReadPam(file, pam) || pam.Maxval != 255) return false;
  out.Width = pam.Width;
  out.Height = pam.Height;
  out.HasAlpha = pam.Depth == 2 || pam.Depth == 4;
  out.Colour.resize(std::size_t(out.Width) * out.Height);
  out.Alpha.assign(out.Colour.size(), 255);
  for (std::size_t i = 0; i < out.Colour.size(); ++i) {
    const std::uint16_t* p = pam.Samples.data() + i * pam.Depth;
    const auto s = [&](int c) { return std::uint8_t(p[c]); };
    out.Colour[i] = pam.Depth >= 3 ? CreateRGB(s(0), s(1), s(2)) : CreateRGB(s(0), s(0), s(0));
    if (out.HasAlpha) out.Alpha[i] = s(pam.Depth - 1);
  }
  return true;
}

// Runs `convert <source> -depth 8 pam:<file>` and parses the PAM. source may
// carry a frame selector ("a.ico[1]").
inline bool MagickRead(const std::string& source, const std::string& pamFile, TPixels& out) {
  return Run("convert '" + source + "' -depth 8 pam:'" + pamFile + "' 2>/dev/null") && ParsePam(pamFile, out);
}

// Our image in the same form.
inline TPixels OurPixels(TIEBitmap& b) {
  TPixels p;
  p.Width = b.GetWidth();
  p.Height = b.GetHeight();
  p.HasAlpha = b.GetHasAlphaChannel();
  for (int y = 0; y < p.Height; ++y)
    for (int x = 0; x < p.Width; ++x) {
      p.Colour.push_back(b.GetPixels(x, y));
      p.Alpha.push_back(p.HasAlpha ? b.GetAlpha(x, y) : 255);
    }
  return p;
}

// Largest channel difference between our image and ImageMagick's, over the
// pixels where opaqueOnly is false or ImageMagick's alpha is 255.
inline int MaxDifference(TIEBitmap& ours, const TPixels& theirs, bool opaqueOnly = false) {
  int worst = 0;
  for (int y = 0; y < theirs.Height; ++y)
    for (int x = 0; x < theirs.Width; ++x) {
      if (opaqueOnly && theirs.AlphaAt(x, y) != 255) continue;
      const TRGB a = ours.GetPixels(x, y), b = theirs.At(x, y);
      worst = std::max({worst, std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
    }
  return worst;
}

// ---- raw RGBA bytes ------------------------------------------------------------------------

// The image as ImageMagick decodes it (turned upright): red, green, blue, alpha bytes.
inline bool MagickRGBA(const std::string& file, const std::string& scratch, std::vector<std::uint8_t>& rgba) {
  if (!Run("convert '" + file + "' -auto-orient -depth 8 'rgba:" + scratch + "'")) return false;
  rgba = FileBytes(scratch);
  return true;
}

// Our image as red, green, blue, alpha bytes (255 without an alpha channel).
inline std::vector<std::uint8_t> OurRGBA(TIEBitmap& bmp) {
  std::vector<std::uint8_t> out;
  const bool alpha = bmp.GetHasAlphaChannel();
  for (int y = 0; y < bmp.GetHeight(); ++y)
    for (int x = 0; x < bmp.GetWidth(); ++x) {
      const TRGB p = bmp.GetPixels(x, y);
      out.insert(out.end(), {p.r, p.g, p.b, alpha ? bmp.GetAlpha(x, y) : std::uint8_t(255)});
    }
  return out;
}

// Raw red, green, blue bytes of an image, as ImageMagick's rgb: input takes them.
inline std::vector<std::uint8_t> RGBBytes(TIEBitmap& bmp) {
  std::vector<std::uint8_t> out;
  for (int y = 0; y < bmp.GetHeight(); ++y)
    for (int x = 0; x < bmp.GetWidth(); ++x) {
      const TRGB p = bmp.GetPixels(x, y);
      out.insert(out.end(), {p.r, p.g, p.b});
    }
  return out;
}

// Has ImageMagick write `target` from raw 8-bit samples (layout "rgb" or
// "rgba"), kept in rawFile, with its output options.
inline bool MagickWrite(const std::vector<std::uint8_t>& samples, const std::string& layout, int width, int height,
                        const std::string& rawFile, const std::string& options, const std::string& target) {
  SaveBytes(rawFile, samples);
  return Run("convert -size " + std::to_string(width) + "x" + std::to_string(height) + " -depth 8 '" + layout + ":" +
             rawFile + "' " + options + " '" + target + "'");
}

// Where alpha is 0 in both the colour does not matter. tolerance: per channel.
inline ::testing::AssertionResult SameRGBA(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b,
                                           int width, int tolerance = 0, bool compareAlpha = true) {
  if (a.size() != b.size()) return ::testing::AssertionFailure() << "sizes " << a.size() << " vs " << b.size();
  auto near = [&](std::size_t i) { return std::abs(int(a[i]) - int(b[i])) <= tolerance; };
  for (std::size_t i = 0; i < a.size(); i += 4) {
    const bool invisible = compareAlpha && a[i + 3] == 0 && b[i + 3] == 0;
    const bool same = invisible || (near(i) && near(i + 1) && near(i + 2) && (!compareAlpha || a[i + 3] == b[i + 3]));
    if (!same)
      return ::testing::AssertionFailure()
             << "pixel (" << (i / 4) % width << ", " << (i / 4) / width << "): " << int(a[i]) << "," << int(a[i + 1])
             << "," << int(a[i + 2]) << "," << int(a[i + 3]) << " vs " << int(b[i]) << "," << int(b[i + 1]) << ","
             << int(b[i + 2]) << "," << int(b[i + 3]);
  }
  return ::testing::AssertionSuccess();
}

// ---- our images ----------------------------------------------------------------------------

// Pixels of two images compared as TRGB (any pixel formats); the first
// difference is reported.
inline ::testing::AssertionResult SamePixels(TIEBitmap& a, TIEBitmap& b) {
  if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight())
    return ::testing::AssertionFailure() << "size " << a.GetWidth() << "x" << a.GetHeight() << " vs " << b.GetWidth()
                                         << "x" << b.GetHeight();
  for (int y = 0; y < a.GetHeight(); ++y)
    for (int x = 0; x < a.GetWidth(); ++x) {
      const TRGB p = a.GetPixels(x, y), q = b.GetPixels(x, y);
      if (!(p == q))
        return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << "): " << int(p.r) << "," << int(p.g)
                                             << "," << int(p.b) << " vs " << int(q.r) << "," << int(q.g) << ","
                                             << int(q.b);
    }
  return ::testing::AssertionSuccess();
}

// A test picture: a smooth colour field (many colours) or, with `colours`
// set, a pattern of that many distinct colours, so palette depths are exact.
inline void MakePicture(TIEBitmap& bmp, int width, int height, int colours = 0) {
  bmp.Allocate(width, height, ie24RGB);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      if (colours == 0) {
        bmp.SetPixels_ie24RGB(x, y, CreateRGB(std::uint8_t(x * 255 / width), std::uint8_t(y * 255 / height),
                                              std::uint8_t((x * y) & 255)));
      } else {
        const int k = (x / 3 + y) % colours;  // runs of 3 equal pixels, for the run-length coders
        bmp.SetPixels_ie24RGB(x, y, CreateRGB(std::uint8_t(k * 37), std::uint8_t(255 - k * 11), std::uint8_t(k * 5)));
      }
    }
}

// k colours in diagonal bands, so palettes are exact.
inline void Bands(TIEBitmap& bmp, int w, int h, int k) {
  bmp.Allocate(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int i = (x / 2 + y / 3) % k;
      bmp.SetPixels_ie24RGB(x, y, CreateRGB(std::uint8_t(i * 37), std::uint8_t(255 - i * 11), std::uint8_t(i * 97)));
    }
}

}  // namespace pravik::interop
