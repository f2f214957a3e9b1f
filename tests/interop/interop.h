// Helpers for round trips through independent tools (ImageMagick, netpbm,
// libtiff, giflib, poppler, OpenJPEG). A test whose tool is missing skips.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "image/bitmap.h"

namespace pravik::interop {

// True when `name` is an executable on PATH.
inline bool HaveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

#define PRAVIK_REQUIRE_TOOL(name) \
  if (!::pravik::interop::HaveTool(name)) GTEST_SKIP() << name << " is not installed"

// Runs a shell command; true when it exits 0. Output goes to the test log only
// on failure (stderr is kept).
inline bool Run(const std::string& command) { return std::system((command + " >/dev/null").c_str()) == 0; }

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

}  // namespace pravik::interop
