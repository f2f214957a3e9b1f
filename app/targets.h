// The fourteen target formats, in the order of the r_Format items: each
// one's extension, writer and the parameters the batch sets before writing.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace pravik {

class TImageIO;
class TIOParamsVals;

// What the batch reads from the window to set a format's parameters.
struct TTargetSettings {
  int Quality = 100;                         // imgTrackBar position, 0..100
  std::array<bool, 3> IconSizes{true, true, true};  // chkIcon: 64x64, 32x32, 16x16
};

struct TTargetFormat {
  const char* Item;       // the r_Format item ("JPEG 2000")
  const char* Name;       // the command line's name ("JPEG2000")
  const char* Extension;  // appended to the output stem (".jp2")
  int FileType;           // the format id the writer produces
  void (TImageIO::*Save)(const std::string& fileName);
  void (*SetParams)(TIOParamsVals& params, const TTargetSettings& settings);  // null: none
};

inline constexpr int kTargetFormatCount = 14;

// The row of an r_Format index, or null outside 0..13.
const TTargetFormat* TargetFormat(int index);

// The index of a format named by its item ("PostScript (PS)"), its command-line
// name ("PS", "JP2" too) or its extension ("jpg", ".tiff"), ignoring case and
// surrounding spaces; -1 for none.
int FindTargetFormat(std::string_view name);

// PNG_COMPRESSION for a track-bar position: 9 - pos * 9 div 100.
int PNGCompressionFor(int position);

// Sets the parameters of the format at index in params (nothing for an index
// outside 0..13 or a format without settings).
void ApplyTargetParams(int index, TIOParamsVals& params, const TTargetSettings& settings);

}  // namespace pravik
