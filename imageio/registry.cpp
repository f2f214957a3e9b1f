#include "imageio/registry.h"

#include <algorithm>
#include <vector>

#include "imageio/paramtypes.h"
#include "imageio/stream.h"

namespace pravik {

namespace {

// Internal formats are dispatched by the front itself; these only mark an
// entry as readable or writable.
void InternalRead(TStream&, TIEBitmap&, TIOParamsVals&, bool, TProgressRec&) {}
void InternalWrite(TStream&, TIEBitmap&, TIOParamsVals&, TProgressRec&) {}
bool InternalTry(TStream&, int) { return false; }

struct Seed {
  int FileType;
  const char* FullName;
  const char* Extensions;
  int Page;  // TPreviewParams bit, -1 for none
  bool Read, Write;
};

// Registry order decides which entry an extension shared by two formats finds.
constexpr Seed kSeeds[] = {
    {ioTIFF, "TIFF Bitmap", "TIF;TIFF;FAX;G3N;G3F;XIF", ppTIFF, true, true},
    {ioGIF, "CompuServe Bitmap", "GIF", ppGIF, true, true},
    {ioJPEG, "JPEG Bitmap", "JPG;JPEG;JPE;JIF", ppJPEG, true, true},
    {ioPCX, "PaintBrush", "PCX", ppPCX, true, true},
    {ioBMP, "Windows Bitmap", "BMP;DIB;RLE", ppBMP, true, true},
    {ioICO, "Windows Icon", "ICO", -1, true, true},
    {ioCUR, "Windows Cursor", "CUR", -1, true, false},
    {ioPNG, "Portable Network Graphics", "PNG", ppPNG, true, true},
    {ioDICOM, "DICOM Bitmap", "DCM;DIC;DICOM", -1, true, false},
    {ioWMF, "Windows Metafile", "WMF", -1, true, false},
    {ioEMF, "Enhanced Windows Metafile", "EMF", -1, true, false},
    {ioTGA, "Targa Bitmap", "TGA;TARGA;VDA;ICB;VST;PIX", ppTGA, true, true},
    {ioPXM, "Portable Pixmap, GrayMap, BitMap", "PXM;PPM;PGM;PBM", -1, true, true},
    {ioWBMP, "Wireless Bitmap", "WBMP", -1, true, true},
    {ioJP2, "JPEG2000", "JP2", ppJ2000, true, true},
    {ioJ2K, "JPEG2000 Code Stream", "J2K;JPC;J2C", ppJ2000, true, true},
    {ioPS, "PostScript Level 2", "PS;EPS", -1, false, true},
    {ioPDF, "Adobe PDF", "PDF", -1, false, true},
    {ioDCX, "Multipage PCX", "DCX", -1, true, true},
    {ioRAW, "Camera RAW", "CRW;CR2;NEF;RAW;PEF;RAF;X3F;BAY;ORF;SRF;MRW;DCR;SR2", -1, true, false},
    {ioPSD, "Photoshop PSD", "PSD", -1, true, true},
    {ioIEV, "Vectorial objects", "IEV", -1, true, true},
    {ioLYR, "Layers", "LYR", -1, true, true},
    {ioALL, "Layers and objects", "ALL", -1, true, true},
};

using Registry = std::vector<std::unique_ptr<TIEFileFormatInfo>>;

Registry& TheRegistry() {
  static Registry registry = [] {
    Registry r;
    for (const Seed& s : kSeeds) {
      auto e = std::make_unique<TIEFileFormatInfo>();
      e->FileType = s.FileType;
      e->FullName = s.FullName;
      e->Extensions = s.Extensions;
      e->InternalFormat = true;
      e->DialogPages = s.Page >= 0 ? static_cast<std::uint16_t>(1u << s.Page) : 0;
      e->ReadFunction = s.Read ? InternalRead : nullptr;
      e->WriteFunction = s.Write ? InternalWrite : nullptr;
      e->TryFunction = InternalTry;
      r.push_back(std::move(e));
    }
    return r;
  }();
  return registry;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// The entry's extensions, split at ";".
std::vector<std::string_view> SplitExtensions(const std::string& list) {
  std::vector<std::string_view> out;
  std::string_view rest(list);
  while (!rest.empty()) {
    const std::size_t semi = rest.find(';');
    out.push_back(rest.substr(0, semi));
    if (semi == std::string_view::npos) break;
    rest.remove_prefix(semi + 1);
  }
  return out;
}

}  // namespace

TIEFileFormatInfo* IEFileFormatGetInfo(int fileType) {
  for (auto& e : TheRegistry())
    if (e->FileType == fileType) return e.get();
  return nullptr;
}

TIEFileFormatInfo* IEFileFormatGetInfo2(std::string_view extension) {
  std::string ext = Lower(extension);
  if (!ext.empty() && ext.front() == '.') ext.erase(0, 1);
  if (ext.empty()) return nullptr;
  for (auto& e : TheRegistry())
    for (std::string_view candidate : SplitExtensions(e->Extensions))
      if (Lower(candidate) == ext) return e.get();
  return nullptr;
}

int IEFileFormatGetExtCount(int fileType) {
  const TIEFileFormatInfo* e = IEFileFormatGetInfo(fileType);
  return e == nullptr ? 0 : static_cast<int>(SplitExtensions(e->Extensions).size());
}

std::string IEFileFormatGetExt(int fileType, int index) {
  const TIEFileFormatInfo* e = IEFileFormatGetInfo(fileType);
  if (e == nullptr || index < 0) return {};
  const auto exts = SplitExtensions(e->Extensions);
  return index < static_cast<int>(exts.size()) ? std::string(exts[static_cast<std::size_t>(index)]) : std::string();
}

void IEFileFormatAdd(std::unique_ptr<TIEFileFormatInfo> entry) {
  if (entry) TheRegistry().push_back(std::move(entry));
}

void IEFileFormatRemove(int fileType) {
  Registry& r = TheRegistry();
  const auto it = std::find_if(r.begin(), r.end(), [&](const auto& e) { return e->FileType == fileType; });
  if (it != r.end()) r.erase(it);
}

void IEUpdateGIFStatus() {
  if (TIEFileFormatInfo* e = IEFileFormatGetInfo(ioGIF)) {
    e->ReadFunction = DefGIF_LZWDECOMPFUNC != nullptr ? InternalRead : nullptr;
    e->WriteFunction = DefGIF_LZWCOMPFUNC != nullptr ? InternalWrite : nullptr;
  }
}

int IEFileFormatCount() { return static_cast<int>(TheRegistry().size()); }

TIEFileFormatInfo* IEFileFormatAt(int index) {
  Registry& r = TheRegistry();
  return index >= 0 && index < static_cast<int>(r.size()) ? r[static_cast<std::size_t>(index)].get() : nullptr;
}

int IEExtToFileFormat(std::string_view extension) {
  const TIEFileFormatInfo* e = IEFileFormatGetInfo2(extension);
  return e == nullptr ? 0 : e->FileType;
}

bool IEIsInternalFormat(std::string_view extension) {
  const TIEFileFormatInfo* e = IEFileFormatGetInfo2(extension);
  return e != nullptr && e->InternalFormat;
}

bool IsKnownFormat(std::string_view fileName) {
  const TIEFileFormatInfo* e = IEFileFormatGetInfo2(IEExtractFileExt(std::string(fileName)));
  return e != nullptr && e->ReadFunction != nullptr;
}

}  // namespace pravik
