// The registry of known formats (names, extensions, read/write availability)
// and content detection (which format a stream holds).
//
// The registry is filled on first use, in a fixed order, and read without
// locking afterwards; entries are added or removed only at start-up.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "imageio/formats.h"

namespace pravik {

class TStream;
class TIEBitmap;
class TIOParamsVals;
struct TProgressRec;

// Read function of a format registered at run time: (stream, image buffer,
// record, preview, progress).
using TIEReadFunction = void (*)(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool preview,
                                 TProgressRec& progress);
// Write function of a format registered at run time.
using TIEWriteFunction = void (*)(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);
// Content test of a format registered at run time: reads from the current
// position, restores it, answers whether the stream holds that format.
using TIETryFunction = bool (*)(TStream& stream, int fileType);

class TIEFileFormatInfo {
 public:
  std::int32_t FileType = 0;
  std::string FullName;
  std::string Extensions;  // upper case, without dots, separated by ";"
  bool InternalFormat = false;
  std::uint16_t DialogPages = 0;  // bit set of TPreviewParams
  // For internal formats these are placeholders: only whether they are set
  // matters (the front dispatches internal formats itself).
  TIEReadFunction ReadFunction = nullptr;
  TIEWriteFunction WriteFunction = nullptr;
  TIETryFunction TryFunction = nullptr;
};

// First entry with that id, or null.
TIEFileFormatInfo* IEFileFormatGetInfo(int fileType);
// First entry (registry order) with that extension, compared in lower case;
// one leading "." is ignored. Null when none.
TIEFileFormatInfo* IEFileFormatGetInfo2(std::string_view extension);
int IEFileFormatGetExtCount(int fileType);
// The index-th extension (0-based) of an entry; empty past the end or for an
// unknown id.
std::string IEFileFormatGetExt(int fileType, int index);
// Adds at the end (start-up only).
void IEFileFormatAdd(std::unique_ptr<TIEFileFormatInfo> entry);
void IEFileFormatRemove(int fileType);
// Re-derives the GIF entry's read and write availability from the installed
// default LZW routines.
void IEUpdateGIFStatus();
// Number of entries and the index-th in registry order (for listings).
int IEFileFormatCount();
TIEFileFormatInfo* IEFileFormatAt(int index);

// Id of the extension's entry, 0 without one.
int IEExtToFileFormat(std::string_view extension);
// The extension has an entry and it is internal.
bool IEIsInternalFormat(std::string_view extension);
// The file name's extension has an entry that can be read.
bool IsKnownFormat(std::string_view fileName);

// Content detection from the stream's current position; the position is the
// same afterwards. Never raises: read errors give 0.
int FindStreamFormat(TStream& stream);
// Content detection of a file combined with its extension (0 for an empty
// name, a missing file or a directory). With verify the content must agree
// with the extension.
int FindFileFormat(const std::string& fileName, bool verify);

// ---- the content tests, in the order they are asked ------------------------------
// A step answers for one format id; Test is null while the codec that owns the
// test is not part of the build, and such a step answers no. Registry-owned
// magic-number steps are always present.
using TIEContentTestFunc = bool (*)(TStream& stream);
struct TIEContentTest {
  int FileType;
  const char* Name;
  TIEContentTestFunc Test;
};
int IEContentTestCount();
// Mutable so tests can plug a fake test in (and must put the old one back).
TIEContentTest& IEContentTestAt(int index);
// The step of that name, or null.
TIEContentTest* IEFindContentTest(std::string_view name);

}  // namespace pravik
