// Toolkit-free rules of the converter window: where it opens, and which tabs
// each target format shows. Every platform's window uses them.
#pragma once

#include <array>

namespace pravik {

struct TWindowPlace {
  int Left = 0;
  int Top = 0;
};

// The window's vertical centre at the pointer (px, py) and its left edge at
// the pointer, moved up or left to stay on a screen of sw x sh pixels; w and h
// are the window's outer size. Nothing moves it right or down again, so a
// window taller than the screen, or a pointer near the bottom, can end with a
// negative top.
constexpr TWindowPlace PlaceAtPointer(int px, int py, int sw, int sh, int w, int h) {
  const int half = h / 2;
  int top = py - half;
  if (top < 0) top = 0;
  if (py + half > sh) top -= py + half - sh;
  const int left = px + w > sw ? sw - w : px;
  return {left, top};
}

// The tab sheets of the page control, in order.
enum TFormatPage { pgQuality = 0, pgIconSize = 1, pgRename = 2, pgSave = 3 };
inline constexpr int kFormatPageCount = 4;
inline constexpr std::array<const char*, kFormatPageCount> kFormatPageCaptions = {"Quality", "Icon Size", "Rename",
                                                                                  "Save"};

struct TFormatTabs {
  bool Quality = false;
  bool IconSize = false;
  TFormatPage Active = pgRename;
};

// The tabs of an r_Format index 0..13 ("Rename" and "Save" always show); the
// caller hides the whole page control for any other index.
constexpr TFormatTabs FormatTabs(int index) {
  switch (index) {
    case 0:  // JPEG
    case 1:  // JPEG 2000
    case 6:  // PNG
      return {true, false, pgQuality};
    case 7:  // ICO
      return {false, true, pgIconSize};
    default:
      return {false, false, pgRename};
  }
}

static_assert(PlaceAtPointer(10, 10, 1024, 768, 250, 500).Top == 0);
static_assert(PlaceAtPointer(1000, 700, 1024, 768, 250, 500).Top == 268);
static_assert(PlaceAtPointer(1000, 700, 1024, 768, 250, 500).Left == 774);

}  // namespace pravik
