// The JPEG content test, the embedded ICC profile, the metadata blocks the
// front keeps in the record (IPTC, XMP, the Photoshop resolution block) and
// the load and save steps of the front.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "codecs/jpeg/jpeg.h"
#include "codecs/jpeg/jpeg_private.h"
#include "image/bitmap.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/reader.h"
#include "imageio/stream.h"

namespace pravik {

// ---- content test ---------------------------------------------------------------------------

std::int64_t JpegTryStream(TStream& stream) {
  constexpr int kWindow = 150;
  const std::int64_t pos = stream.GetPosition();
  if (pos < 0) return -1;
  std::uint8_t buf[kWindow + 2];
  std::int64_t got = 0;
  try {
    while (got < static_cast<std::int64_t>(sizeof buf)) {
      const std::int64_t n = stream.Read(buf + got, static_cast<std::int64_t>(sizeof buf) - got);
      if (n <= 0) break;
      got += n;
    }
  } catch (const EStreamError&) {
  }
  stream.Seek(pos, soBeginning);
  for (int i = 0; i < kWindow && i + 2 < got; ++i)
    if (buf[i] == 0xFF && buf[i + 1] == 0xD8 && buf[i + 2] == 0xFF) return pos + i;
  return -1;
}

bool IEJpegContentTest(TStream& stream) { return JpegTryStream(stream) >= 0; }

// ---- ICC profile ------------------------------------------------------------------------------

namespace {

bool IsStartOfFrame(std::uint8_t m) { return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC; }

// The profile chunks of the APP2 segments before the frame header, joined in
// sequence order; empty when none, or when a chunk is missing (a partial
// profile describes no colour space).
std::vector<std::uint8_t> ReadICCChunks(TStream& stream) {
  TIEReader r(stream, 8192);
  if (r.U8() != 0xFF || r.U8() != 0xD8) return {};
  std::array<std::vector<std::uint8_t>, 256> chunks;
  std::array<bool, 256> seen{};
  int announced = 0, found = 0;
  while (r.Ok()) {
    if (r.U8() != 0xFF) continue;  // not at a marker: look for the next one
    std::uint8_t m = r.U8();
    while (m == 0xFF && r.Ok()) m = r.U8();
    if (!r.Ok() || m == 0xD9 || m == 0xDA || IsStartOfFrame(m)) break;
    if (m == 0x00 || m == 0x01 || (m >= 0xD0 && m <= 0xD7)) continue;  // no length field
    const int length = r.U16BE();
    if (!r.Ok() || length < 2) break;
    const int dataLength = length - 2;
    if (m == 0xE2 && dataLength > 14) {
      std::vector<std::uint8_t> data(static_cast<std::size_t>(dataLength));
      if (!r.Read(data.data(), dataLength)) break;
      if (std::memcmp(data.data(), "ICC_PROFILE\0", 12) != 0) continue;
      const int seq = data[12], count = data[13];
      if (announced == 0) announced = count;
      if (seq < 1 || seq > announced || seen[static_cast<std::size_t>(seq)]) continue;
      seen[static_cast<std::size_t>(seq)] = true;
      chunks[static_cast<std::size_t>(seq)].assign(data.begin() + 14, data.end());
      if (++found == announced) break;
    } else if (!r.Skip(dataLength)) {
      break;
    }
  }
  if (announced == 0 || found != announced) return {};
  std::vector<std::uint8_t> profile;
  for (int i = 1; i <= announced; ++i) {
    const auto& chunk = chunks[static_cast<std::size_t>(i)];
    profile.insert(profile.end(), chunk.begin(), chunk.end());
  }
  return profile;
}

}  // namespace

void IEGetJpegICC(TStream& stream, TIOParamsVals& params) {
  const std::int64_t pos = stream.GetPosition();
  const std::vector<std::uint8_t> profile = ReadICCChunks(stream);
  stream.Seek(pos, soBeginning);
  if (!profile.empty())
    params.GetInputICC().LoadFromBuffer(profile.data(), static_cast<std::int64_t>(profile.size()));
}

// ---- metadata blocks ----------------------------------------------------------------------------

bool jpegio::IsXMPMarker(const std::uint8_t* data, int length) {
  return length >= 30 && std::memcmp(data, kXMPHeader, 24) == 0;
}

void JpegLoadMetadata(TIOParamsVals& params) {
  const TIEMarkerList& list = params.JPEG_MARKERLIST;
  for (int i = 0; i < list.GetCount(); ++i) {
    if (list.GetMarkerType(i) == 0xED &&
        params.IPTC_INFO.LoadFromStandardBuffer(list.GetMarkerData(i), list.GetMarkerLength(i)))
      break;
  }
  for (int i = 0; i < list.GetCount(); ++i) {
    const std::uint8_t* data = list.GetMarkerData(i);
    const int length = list.GetMarkerLength(i);
    if (list.GetMarkerType(i) != 0xE1 || !jpegio::IsXMPMarker(data, length)) continue;
    const auto* zero = static_cast<const std::uint8_t*>(std::memchr(data, 0, static_cast<std::size_t>(length)));
    if (zero != nullptr)
      params.XMP_INFO.assign(reinterpret_cast<const char*>(zero + 1), static_cast<std::size_t>(data + length - zero - 1));
    break;
  }
}

namespace {

void PutU32BE(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

}  // namespace

void JpegUpdateResolutionBlock(TIOParamsVals& params) {
  TIEMarkerList& list = params.JPEG_MARKERLIST;
  const int index = list.IndexOf(0xED);
  if (index < 0) return;
  std::vector<std::uint8_t> data(list.GetMarkerData(index), list.GetMarkerData(index) + list.GetMarkerLength(index));
  static constexpr std::uint8_t kResource[] = {'8', 'B', 'I', 'M', 0x03, 0xED};
  const auto it = std::search(data.begin(), data.end(), std::begin(kResource), std::end(kResource));
  if (it == data.end()) return;
  std::size_t pos = static_cast<std::size_t>(it - data.begin()) + sizeof kResource;
  if (pos + 2 > data.size()) return;
  pos += 2 + ((std::size_t(data[pos]) << 8) | data[pos + 1]);  // the resource name
  if (pos + 4 > data.size()) return;
  const std::uint32_t size = (std::uint32_t(data[pos]) << 24) | (std::uint32_t(data[pos + 1]) << 16) |
                             (std::uint32_t(data[pos + 2]) << 8) | data[pos + 3];
  pos += 4;
  if (size < 16 || pos + 16 > data.size()) return;
  // Fixed-point dots per inch, unit 1 (inches) for the resolution and the size.
  std::uint8_t* p = data.data() + pos;
  PutU32BE(p, static_cast<std::uint32_t>(std::clamp(params.DPIX(), 0, 32767)) << 16);
  PutU32BE(p + 4, 0x00010001);
  PutU32BE(p + 8, static_cast<std::uint32_t>(std::clamp(params.DPIY(), 0, 32767)) << 16);
  PutU32BE(p + 12, 0x00010001);
  list.SetMarker(index, 0xED, data.data(), static_cast<int>(data.size()));
}

void JpegStoreIPTC(TIOParamsVals& params) {
  TIEMarkerList& list = params.JPEG_MARKERLIST;
  const TIEIPTCInfoList& iptc = params.IPTC_INFO;
  if (!iptc.UserChanged && (iptc.IsEmpty() || list.GetCount() > 0)) return;
  const std::vector<std::uint8_t> block = iptc.SaveToStandardBuffer(true);
  const int index = list.IndexOf(0xED);
  if (block.empty()) {
    if (index >= 0) list.DeleteMarker(index);
  } else if (block.size() <= static_cast<std::size_t>(TIEMarkerList::MaxMarkerLength)) {
    if (index >= 0) list.SetMarker(index, 0xED, block.data(), static_cast<int>(block.size()));
    else list.AddMarker(0xED, block.data(), static_cast<int>(block.size()));
  }
  // A block too long for one marker is not written cut short: the file keeps
  // the marker it had.
}

void JpegStoreXMP(TIOParamsVals& params) {
  const std::string& xmp = params.XMP_INFO;
  if (xmp.empty()) return;
  const std::size_t total = jpegio::kXMPHeaderLength + xmp.size();
  if (total > static_cast<std::size_t>(TIEMarkerList::MaxMarkerLength)) return;  // as for IPTC above
  TIEMarkerList& list = params.JPEG_MARKERLIST;
  for (int i = 0; i < list.GetCount(); ++i) {
    if (list.GetMarkerType(i) == 0xE1 && jpegio::IsXMPMarker(list.GetMarkerData(i), list.GetMarkerLength(i))) {
      list.DeleteMarker(i);
      break;
    }
  }
  std::vector<std::uint8_t> block(jpegio::kXMPHeader, jpegio::kXMPHeader + jpegio::kXMPHeaderLength);
  block.insert(block.end(), xmp.begin(), xmp.end());
  list.AddMarker(0xE1, block.data(), static_cast<int>(block.size()));
}

// ---- front steps ---------------------------------------------------------------------------------

void JPEGFrameRead(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview) {
  bitmap.RemoveAlphaChannel();
  ReadJPegStream(stream, nullptr, bitmap, params, progress, preview, false, true, false, true, true, -1,
                 params.ISNATIVEPIXELFORMAT);
}

void JPEGFrameWrite(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  JpegUpdateResolutionBlock(params);
  JpegStoreIPTC(params);
  // The EXIF block is rebuilt here once EXIF support lands; until then an EXIF
  // APP1 marker travels on as it was read.
  JpegStoreXMP(params);
  WriteJPegStream(stream, bitmap, params, progress);
}

}  // namespace pravik
