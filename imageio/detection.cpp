// Content detection: the fixed sequence of content tests, and its combination
// with the file name's extension.
#include <exception>

#include "imageio/registry.h"
#include "imageio/stream.h"

namespace pravik {

namespace {

// Asks the run-time registered formats' own tests, in registry order.
int AskRegistry(TStream& stream, std::int64_t start) {
  for (int i = 0; i < IEFileFormatCount(); ++i) {
    const TIEFileFormatInfo* e = IEFileFormatAt(i);
    stream.Seek(start, soBeginning);
    if (e->TryFunction != nullptr && e->TryFunction(stream, e->FileType)) return e->FileType;
  }
  return 0;
}

}  // namespace

int FindStreamFormat(TStream& stream) {
  std::int64_t start = -1;
  try {
    start = stream.GetPosition();
  } catch (...) {
    return 0;
  }
  if (start < 0) return 0;
  int result = 0;
  try {
    for (int i = 0; i < IEContentTestCount() && result == 0; ++i) {
      const TIEContentTest& step = IEContentTestAt(i);
      stream.Seek(start, soBeginning);
      if (step.FileType == 0) {
        result = AskRegistry(stream, start);
      } else if (step.Test != nullptr && step.Test(stream)) {
        result = step.FileType;
      }
    }
  } catch (...) {
    // A stream that fails while being tested ends the detection.
  }
  try {
    stream.Seek(start, soBeginning);
  } catch (...) {
  }
  return result;
}

int FindFileFormat(const std::string& fileName, bool verify) {
  if (fileName.empty() || !IEFileExists(fileName)) return 0;
  int result = 0;
  try {
    TFileStream stream(fileName, TFileMode::fmOpenRead);
    result = FindStreamFormat(stream);
  } catch (...) {
    result = 0;
  }
  const TIEFileFormatInfo* entry = IEFileFormatGetInfo2(IEExtractFileExt(fileName));
  if (entry != nullptr && entry->FileType == ioRAW && result == ioTIFF) result = ioRAW;
  if (entry != nullptr && !entry->InternalFormat) return entry->FileType;
  if (verify && result != 0) {
    if (entry == nullptr) return 0;
    if (result == ioICO || result == ioCUR) result = entry->FileType;
    if (entry->FileType != result) result = 0;
  }
  return result;
}

}  // namespace pravik
