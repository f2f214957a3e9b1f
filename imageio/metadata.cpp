#include "imageio/metadata.h"

#include <algorithm>
#include <cstring>

namespace pravik {

// ---- TIEMarkerList -----------------------------------------------------------------

namespace {

TIEMarker MakeMarker(std::uint8_t type, const void* data, int length) {
  TIEMarker m;
  m.Type = type;
  length = std::clamp(length, 0, TIEMarkerList::MaxMarkerLength);
  if (data != nullptr && length > 0) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    m.Data.assign(p, p + length);
  }
  return m;
}

bool IsICCChunk(const TIEMarker& m) {
  return m.Type == 0xE2 && m.Data.size() > 13 && std::memcmp(m.Data.data(), "ICC_PROFILE", 11) == 0;
}

}  // namespace

int TIEMarkerList::AddMarker(std::uint8_t type, const void* data, int length) {
  markers_.push_back(MakeMarker(type, data, length));
  return GetCount() - 1;
}

void TIEMarkerList::InsertMarker(int index, std::uint8_t type, const void* data, int length) {
  index = std::clamp(index, 0, GetCount());
  markers_.insert(markers_.begin() + index, MakeMarker(type, data, length));
}

void TIEMarkerList::SetMarker(int index, std::uint8_t type, const void* data, int length) {
  if (index < 0 || index >= GetCount()) return;
  markers_[static_cast<std::size_t>(index)] = MakeMarker(type, data, length);
}

void TIEMarkerList::DeleteMarker(int index) {
  if (index < 0 || index >= GetCount()) return;
  markers_.erase(markers_.begin() + index);
}

int TIEMarkerList::IndexOf(std::uint8_t type) const {
  for (int i = 0; i < GetCount(); ++i)
    if (markers_[static_cast<std::size_t>(i)].Type == type) return i;
  return -1;
}

void TIEMarkerList::Sort() {
  // Stable, so markers with equal codes keep the order they were read in.
  std::stable_sort(markers_.begin(), markers_.end(), [](const TIEMarker& a, const TIEMarker& b) {
    if (a.Type != b.Type) return a.Type < b.Type;
    if (IsICCChunk(a) && IsICCChunk(b)) return a.Data[12] < b.Data[12];
    return false;
  });
  const int firstApp1 = IndexOf(0xE1);
  if (firstApp1 < 0) return;
  for (int i = firstApp1 + 1; i < GetCount() && markers_[static_cast<std::size_t>(i)].Type == 0xE1; ++i) {
    const TIEMarker& m = markers_[static_cast<std::size_t>(i)];
    if (IEIsEXIFBlock(m.Data.data(), static_cast<std::int64_t>(m.Data.size()))) {
      std::swap(markers_[static_cast<std::size_t>(firstApp1)], markers_[static_cast<std::size_t>(i)]);
      break;
    }
  }
}

bool IEIsEXIFBlock(const std::uint8_t* data, std::int64_t length) {
  return data != nullptr && length >= 6 && std::memcmp(data, "Exif\0\0", 6) == 0;
}

// ---- TIEIPTCInfoList -------------------------------------------------------------------

std::vector<std::uint8_t> TIEIPTCInfoList::SaveToStandardBuffer(bool jpegForm) const {
  std::vector<std::uint8_t> out;
  if (Items.empty()) return out;
  if (jpegForm) {
    static const std::uint8_t header[26] = {'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p', ' ', '3', '.', '0',
                                            0,   '8', 'B', 'I', 'M', 4,   4,   0,   0,   0,   0,   0,   0};
    out.assign(header, header + 26);
  } else {
    static const std::uint8_t version[7] = {0x1C, 0x02, 0x00, 0x00, 0x02, 0x00, 0x02};
    out.assign(version, version + 7);
  }
  const std::size_t recordsStart = jpegForm ? 26 : 0;
  for (const TIEIPTCItem& item : Items) {
    if ((item.Recnum == 2 && item.Dataset == 0) || item.Data.empty()) continue;
    out.push_back(0x1C);
    out.push_back(item.Recnum);
    out.push_back(item.Dataset);
    const std::size_t n = item.Data.size();
    if (n < 32768) {
      out.push_back(static_cast<std::uint8_t>(n >> 8));
      out.push_back(static_cast<std::uint8_t>(n));
    } else {
      const std::uint8_t ext[6] = {0x80, 0x04, std::uint8_t(n >> 24), std::uint8_t(n >> 16), std::uint8_t(n >> 8),
                                   std::uint8_t(n)};
      out.insert(out.end(), ext, ext + 6);
    }
    out.insert(out.end(), item.Data.begin(), item.Data.end());
  }
  if (jpegForm) {
    const std::size_t size = out.size() - recordsStart;
    out[22] = static_cast<std::uint8_t>(size >> 24);
    out[23] = static_cast<std::uint8_t>(size >> 16);
    out[24] = static_cast<std::uint8_t>(size >> 8);
    out[25] = static_cast<std::uint8_t>(size);
  }
  if (out.size() % 2 != 0) out.push_back(0);
  return out;
}

bool TIEIPTCInfoList::LoadFromStandardBuffer(const std::uint8_t* data, std::int64_t size) {
  Clear();
  if (data == nullptr || size <= 0) return false;
  std::int64_t pos = 0;
  static const char kPhotoshop[] = "Photoshop 3.0";
  if (size >= 13 && std::memcmp(data, kPhotoshop, 13) == 0) {
    static const std::uint8_t kResource[6] = {'8', 'B', 'I', 'M', 4, 4};
    const std::uint8_t* hit = std::search(data, data + size, kResource, kResource + 6);
    if (hit != data + size) pos = (hit - data) + 6;
  }
  while (pos < size && data[pos] != 0x1C) ++pos;
  while (pos + 1 < size && data[pos + 1] == 0x1C) ++pos;
  while (pos < size && data[pos] == 0x1C && size - pos > 5) {
    TIEIPTCItem item;
    item.Recnum = data[pos + 1];
    item.Dataset = data[pos + 2];
    std::int64_t length = (std::int64_t(data[pos + 3]) << 8) | data[pos + 4];
    std::int64_t start = pos + 5;
    if (data[pos + 3] & 0x80) {
      if (size - start < 4) break;
      length = (std::int64_t(data[start]) << 24) | (std::int64_t(data[start + 1]) << 16) |
               (std::int64_t(data[start + 2]) << 8) | std::int64_t(data[start + 3]);
      start += 4;
    }
    if (length > size - start) break;
    item.Data.assign(data + start, data + start + length);
    Items.push_back(std::move(item));
    pos = start + length;
  }
  UserChanged = false;
  return !Items.empty();
}

// ---- tags and profiles -------------------------------------------------------------------

int TIETagStore::IndexOf(std::uint32_t id) const {
  for (std::size_t i = 0; i < Tags.size(); ++i)
    if (Tags[i].Id == id) return static_cast<int>(i);
  return -1;
}

bool TIEICC::IsValid() const {
  if (Raw.size() < 128) return false;
  const std::uint32_t declared = (std::uint32_t(Raw[0]) << 24) | (std::uint32_t(Raw[1]) << 16) |
                                 (std::uint32_t(Raw[2]) << 8) | std::uint32_t(Raw[3]);
  return declared >= 128 && declared <= Raw.size() && std::memcmp(Raw.data() + 36, "acsp", 4) == 0;
}

void TIEICC::LoadFromBuffer(const std::uint8_t* data, std::int64_t size) {
  Clear();
  if (data != nullptr && size > 0) Raw.assign(data, data + size);
}

}  // namespace pravik
