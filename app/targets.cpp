#include "app/targets.h"

#include "app/names.h"
#include "imageio/imageio.h"

namespace pravik {

namespace {

void SetJpeg(TIOParamsVals& p, const TTargetSettings& s) { p.JPEG_QUALITY = s.Quality; }
void SetJ2000(TIOParamsVals& p, const TTargetSettings& s) { p.J2000_RATE = s.Quality / 100.0; }
void SetGif(TIOParamsVals& p, const TTargetSettings&) {
  p.BITSPERSAMPLE = 8;
  p.GIF_TRANSPARENT = true;
  p.GIF_INTERLACED = true;
  // A loaded GIF is its whole composed screen; the offset its frame had there
  // (or an earlier file's) would put a margin around the written image.
  p.GIF_XPOS = 0;
  p.GIF_YPOS = 0;
}
void SetTiff(TIOParamsVals& p, const TTargetSettings&) { p.TIFF_COMPRESSION = ioTIFF_UNCOMPRESSED; }
void SetPng(TIOParamsVals& p, const TTargetSettings& s) {
  p.PNG_FILTER = ioPNG_FILTER_PAETH;
  p.PNG_COMPRESSION = PNGCompressionFor(s.Quality);
}
// One entry per checked box from the first on; later entries keep their
// values, so an icon with no box checked holds whatever entry 0 held.
void SetIco(TIOParamsVals& p, const TTargetSettings& s) {
  static constexpr int kSides[3] = {64, 32, 16};
  std::size_t entry = 0;
  for (int box = 0; box < 3; ++box)
    if (s.IconSizes[static_cast<std::size_t>(box)]) p.ICO_SIZES[entry++] = TIOICOSize{kSides[box], kSides[box]};
  // The icon holds exactly the ticked sizes: pairs left by an earlier batch or
  // by a loaded icon would add images nobody asked for. Nothing ticked keeps
  // the one 64 x 64 image a fresh record describes.
  if (entry == 0) p.ICO_SIZES[entry++] = TIOICOSize{64, 64};
  for (; entry < p.ICO_SIZES.size(); ++entry) p.ICO_SIZES[entry] = TIOICOSize{0, 0};
  p.ICO_BITCOUNT[0] = 32;
}
void SetPcx(TIOParamsVals& p, const TTargetSettings&) {
  p.BITSPERSAMPLE = 8;
  p.SAMPLESPERPIXEL = 3;
}

// The format table of the window and the command line.
constexpr TTargetFormat kTargets[kTargetFormatCount] = {
    {"JPEG", "JPEG", ".jpg", ioJPEG, &TImageIO::SaveToFileJpeg, SetJpeg},
    // A ".jp2" file holds the boxed JP2 format; a bare code stream there is
    // misread by tools that go by the extension.
    {"JPEG 2000", "JPEG2000", ".jp2", ioJP2, &TImageIO::SaveToFileJP2, SetJ2000},
    {"GIF", "GIF", ".gif", ioGIF, &TImageIO::SaveToFileGIF, SetGif},
    {"PSD", "PSD", ".psd", ioPSD, &TImageIO::SaveToFilePSD, nullptr},
    {"TIFF", "TIFF", ".tiff", ioTIFF, &TImageIO::SaveToFileTIFF, SetTiff},
    {"BMP", "BMP", ".bmp", ioBMP, &TImageIO::SaveToFileBMP, nullptr},
    {"PNG", "PNG", ".png", ioPNG, &TImageIO::SaveToFilePNG, SetPng},
    {"ICO", "ICO", ".ico", ioICO, &TImageIO::SaveToFileICO, SetIco},
    {"PCX", "PCX", ".pcx", ioPCX, &TImageIO::SaveToFilePCX, SetPcx},
    {"TGA", "TGA", ".tga", ioTGA, &TImageIO::SaveToFileTGA, nullptr},
    {"PXM", "PXM", ".pxm", ioPXM, &TImageIO::SaveToFilePXM, nullptr},
    {"WBMP", "WBMP", ".wbmp", ioWBMP, &TImageIO::SaveToFileWBMP, nullptr},
    {"PostScript (PS)", "PS", ".ps", ioPS, &TImageIO::SaveToFilePS, nullptr},
    {"PDF", "PDF", ".pdf", ioPDF, &TImageIO::SaveToFilePDF, nullptr},
};

// Further names the command line accepts.
struct Alias {
  const char* Name;
  int Index;
};
constexpr Alias kAliases[] = {{"JP2", 1}, {"JPG", 0}, {"TIF", 4}, {"POSTSCRIPT", 12}};

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

const TTargetFormat* TargetFormat(int index) {
  return index >= 0 && index < kTargetFormatCount ? &kTargets[index] : nullptr;
}

int FindTargetFormat(std::string_view name) {
  const std::string n = Trim(name);
  if (n.empty()) return -1;
  const std::string_view bare = n.front() == '.' ? std::string_view(n).substr(1) : std::string_view(n);
  for (int i = 0; i < kTargetFormatCount; ++i) {
    const TTargetFormat& t = kTargets[i];
    if (SameText(n, t.Item) || SameText(n, t.Name) || SameText(bare, t.Extension + 1)) return i;
  }
  for (const Alias& a : kAliases)
    if (SameText(bare, a.Name)) return a.Index;
  return -1;
}

int PNGCompressionFor(int position) { return 9 - position * 9 / 100; }

void ApplyTargetParams(int index, TIOParamsVals& params, const TTargetSettings& settings) {
  const TTargetFormat* t = TargetFormat(index);
  if (t != nullptr && t->SetParams != nullptr) t->SetParams(params, settings);
}

}  // namespace pravik
