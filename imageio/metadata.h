// Metadata objects owned by the parameter record: JPEG markers, IPTC records,
// tag stores, colour profiles and TIFF annotations. The codecs that read and
// write them decide what goes in; the record only creates, clears, copies and
// frees them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pravik {

// ---- JPEG markers ------------------------------------------------------------
struct TIEMarker {
  std::uint8_t Type = 0;            // 0xE0..0xEF (APP0..APP15) or 0xFE (COM)
  std::vector<std::uint8_t> Data;   // without code and length field
};

class TIEMarkerList {
 public:
  // A marker's data is at most this long (the 16-bit length field counts itself).
  static constexpr int MaxMarkerLength = 65533;

  // Data longer than MaxMarkerLength is cut to it. Returns the new index.
  int AddMarker(std::uint8_t type, const void* data, int length);
  void InsertMarker(int index, std::uint8_t type, const void* data, int length);
  void SetMarker(int index, std::uint8_t type, const void* data, int length);
  void DeleteMarker(int index);
  // First marker with that code, or -1.
  int IndexOf(std::uint8_t type) const;
  std::uint8_t GetMarkerType(int index) const { return markers_[index].Type; }
  const std::uint8_t* GetMarkerData(int index) const { return markers_[index].Data.data(); }
  int GetMarkerLength(int index) const { return static_cast<int>(markers_[index].Data.size()); }
  int GetCount() const { return static_cast<int>(markers_.size()); }
  void Clear() { markers_.clear(); }
  // By code (APP0..APP15, then COM); ICC_PROFILE chunks of APP2 by sequence
  // number; then an EXIF APP1 is moved to the place of the first APP1.
  void Sort();
  const std::vector<TIEMarker>& Markers() const { return markers_; }

 private:
  std::vector<TIEMarker> markers_;
};

// True when data is an EXIF block ("Exif", 0, 0, then a TIFF stream).
bool IEIsEXIFBlock(const std::uint8_t* data, std::int64_t length);

// ---- IPTC ---------------------------------------------------------------------
struct TIEIPTCItem {
  std::uint8_t Recnum = 0;
  std::uint8_t Dataset = 0;
  std::vector<std::uint8_t> Data;
};

class TIEIPTCInfoList {
 public:
  std::vector<TIEIPTCItem> Items;
  bool UserChanged = false;

  void Clear() {
    Items.clear();
    UserChanged = false;
  }
  bool IsEmpty() const { return Items.empty(); }
  // The standard buffer form; jpegForm prefixes the Photoshop resource header.
  // An empty list gives an empty buffer.
  std::vector<std::uint8_t> SaveToStandardBuffer(bool jpegForm) const;
  // Clears the list and parses data; true when at least one item was read.
  bool LoadFromStandardBuffer(const std::uint8_t* data, std::int64_t size);
};

// ---- tag stores (EXIF_TAGS, DICOM_TAGS) ---------------------------------------
struct TIETag {
  std::uint32_t Id = 0;      // tag number (DICOM: group << 16 | element)
  std::uint16_t Type = 0;    // the file's type code
  std::uint32_t Count = 0;
  std::vector<std::uint8_t> Data;
};

class TIETagStore {
 public:
  std::vector<TIETag> Tags;
  void Clear() { Tags.clear(); }
  bool IsEmpty() const { return Tags.empty(); }
  // Index of the first tag with that id, or -1.
  int IndexOf(std::uint32_t id) const;
};

// ---- colour profiles ----------------------------------------------------------
class TIEICC {
 public:
  // Raw profile bytes as stored in the file (empty: no profile).
  std::vector<std::uint8_t> Raw;
  // The profile stands for sRGB without carrying bytes of its own.
  bool IsSRGB = false;
  // The reader already applied this profile to the pixels.
  bool Applied = false;

  void Clear() {
    Raw.clear();
    IsSRGB = false;
    Applied = false;
  }
  bool IsEmpty() const { return Raw.empty() && !IsSRGB; }
  // A plausible ICC header: at least 128 bytes, the declared size fits, "acsp".
  bool IsValid() const;
  void LoadFromBuffer(const std::uint8_t* data, std::int64_t size);
};

// ---- TIFF imaging annotations -------------------------------------------------
class TIEImagingAnnot {
 public:
  std::vector<std::uint8_t> Raw;  // the tag's bytes, kept as read
  void Clear() { Raw.clear(); }
  bool IsEmpty() const { return Raw.empty(); }
};

}  // namespace pravik
