// Multi-page PCX (DCX): one page is read, a one-page file is written. Also the
// PCX and DCX parts of the load and save frames.
#include <algorithm>
#include <cstring>
#include <vector>

#include "codecs/pcx/pcx.h"
#include "codecs/pcx/pcx_private.h"
#include "image/bitmap.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/reader.h"
#include "imageio/stream.h"

namespace pravik {

namespace {

constexpr std::uint32_t kDcxMagic = 987654321;  // 0x3ADE68B1
constexpr int kDcxMaxPages = 1024;
constexpr std::int64_t kDcxHeaderSize = 4 + 4 * kDcxMaxPages;

}  // namespace

bool IEDCXTryStream(TStream& Stream) {
  const std::int64_t pos = Stream.GetPosition();
  std::uint8_t b[8];
  const bool ok = Stream.Read(b, 8) == 8 &&
                  (std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 |
                   std::uint32_t(b[3]) << 24) == kDcxMagic;
  Stream.Seek(pos, soBeginning);
  return ok;
}

void ReadDcxStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& IOParams, TProgressRec& Progress,
                   bool Preview) {
  const std::int64_t start = Stream.GetPosition();
  std::vector<std::int64_t> pages;
  std::int64_t size = 0;
  {
    TIEReader r(Stream, kDcxHeaderSize, 4096);
    size = Stream.GetSize() - start;
    if (r.U32LE() != kDcxMagic || r.Failed()) return Progress.Fail("not a DCX file");
    // The table ends at a 0 entry, or where the file ends for a cut table.
    while (static_cast<int>(pages.size()) < kDcxMaxPages && r.Fits(4)) {
      const std::uint32_t offset = r.U32LE();
      if (offset == 0) break;
      pages.push_back(offset);
    }
  }
  if (pages.empty()) return Progress.Fail("DCX file without pages");
  const int index = std::clamp(IOParams.DCX_IMAGEINDEX, 0, static_cast<int>(pages.size()) - 1);
  const std::int64_t offset = pages[static_cast<std::size_t>(index)];
  if (offset < 4 || offset >= size) return Progress.Fail("DCX page offset past the end of the file");
  // The page ends where the next page (in file order) starts.
  std::int64_t next = size;
  for (const std::int64_t o : pages)
    if (o > offset) next = std::min(next, o);
  Stream.Seek(start + offset, soBeginning);
  ReadPcxStream(Stream, Bitmap, IOParams, next - offset, Progress, Preview);
}

void WriteDcxStream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& IOParams, TProgressRec& Progress) {
  bool localAbort = false;
  bool& abortFlag = Progress.AbortFlag != nullptr ? *Progress.AbortFlag : localAbort;
  {
    // The full table, as DCX readers expect: the one page right after it.
    TIEWriter w(Stream, abortFlag);
    w.U32LE(kDcxMagic);
    w.U32LE(static_cast<std::uint32_t>(kDcxHeaderSize));
    w.Fill(0, kDcxHeaderSize - 8);
  }
  if (abortFlag) return;
  WritePcxStream(Stream, Bitmap, IOParams, Progress);
}

// ---- frames -------------------------------------------------------------------------------------

void IEPCXLoad(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview) {
  bitmap.RemoveAlphaChannel();
  std::int64_t pos = stream.GetPosition();
  std::int64_t size = stream.GetSize() - pos;
  // Content detection names tagged streams PCX too: "PCX2", 0 and the image
  // size in bytes 8 to 11 before the image, or "PCX", 0 before the image.
  std::uint8_t tag[12] = {};
  const std::int64_t got = stream.Read(tag, 12);
  stream.Seek(pos, soBeginning);
  if (got == 12 && std::memcmp(tag, "PCX2\0", 5) == 0) {
    const std::int64_t length =
        std::int64_t(tag[8]) | std::int64_t(tag[9]) << 8 | std::int64_t(tag[10]) << 16 | std::int64_t(tag[11]) << 24;
    stream.Seek(pos + 12, soBeginning);
    ReadPcxStream(stream, bitmap, params, std::min(length, size - 12), progress, preview);
    stream.Seek(pos + 12 + std::min(length, size - 12), soBeginning);
    return;
  }
  if (got >= 4 && std::memcmp(tag, "PCX\0", 4) == 0) {
    pos += 4;
    size -= 4;
    stream.Seek(pos, soBeginning);
  }
  ReadPcxStream(stream, bitmap, params, size, progress, preview);
}

void IEPCXSave(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  WritePcxStream(stream, bitmap, params, progress);
}

void IEDCXLoad(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview) {
  bitmap.RemoveAlphaChannel();
  ReadDcxStream(stream, bitmap, params, progress, preview);
}

void IEDCXSave(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  WriteDcxStream(stream, bitmap, params, progress);
}

}  // namespace pravik
