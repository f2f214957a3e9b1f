// The one place where codecs join the front: their load and save procedures,
// the pixel-format conversion their save frame does first, their content
// tests in detection order, and the default LZW routines.
#include "imageio/codec_table.h"

#include <array>
#include <cstring>

#include "codecs/bitmap/bmp.h"
#include "codecs/bitmap/ico.h"
#include "codecs/pcx/pcx.h"
#include "codecs/tga/tga.h"
#include "codecs/jpeg/jpeg.h"
#include "codecs/png/png_codec.h"
#include "codecs/bitmap/pxm.h"
#include "codecs/bitmap/wbmp.h"
#include "codecs/gif/gif.h"
#include "codecs/gif/gif_lzw.h"

#include "imageio/formats.h"
#include "imageio/paramtypes.h"
#include "imageio/registry.h"
#include "imageio/stream.h"

namespace pravik {

// ---- default LZW routines (installed by the GIF and TIFF codecs) -----------------------------
TGIFLZWDecompFunc DefGIF_LZWDECOMPFUNC = GIFLZWDecompress;
TGIFLZWCompFunc DefGIF_LZWCOMPFUNC = GIFLZWCompress;
TTIFFLZWDecompFunc DefTIFF_LZWDECOMPFUNC = nullptr;
TTIFFLZWCompFunc DefTIFF_LZWCOMPFUNC = nullptr;

// ---- codec slots ------------------------------------------------------------------------------
namespace {

std::array<TIECodec, IEMaxFileType + 2> MakeCodecs() {
  std::array<TIECodec, IEMaxFileType + 2> c{};
  for (int id = 0; id < static_cast<int>(c.size()); ++id) c[static_cast<std::size_t>(id)].FileType = id;
  // id, name, read, write, conversion before the writer
  const TIECodec slots[] = {
      {ioTIFF, "TIFF", nullptr, nullptr, iescNone},
      {ioGIF, "GIF", GIFFrameRead, GIFFrameWrite, iescNone},
      {ioJPEG, "JPEG", JPEGFrameRead, JPEGFrameWrite, iescTo24RGB},
      {ioPCX, "PCX", IEPCXLoad, IEPCXSave, iescTo24RGB},
      {ioBMP, "BMP", BMPFrameRead, BMPFrameWrite, iescNone},
      {ioICO, "ICO", ICOFrameRead, ICOFrameWrite, iescTo24RGB},
      {ioCUR, "CUR", CURFrameRead, nullptr, iescNone},
      {ioPNG, "PNG", PNGFrameRead, PNGFrameWrite, iescNone},
      {ioWMF, "WMF", nullptr, nullptr, iescNone},
      {ioEMF, "EMF", nullptr, nullptr, iescNone},
      {ioTGA, "TGA", IETGALoad, IETGASave, iescTo24RGB},
      {ioPXM, "PXM", PXMFrameRead, PXMWriteStream, iescTo24RGBor48},
      {ioJP2, "JPEG 2000", nullptr, nullptr, iescTo24RGB},
      {ioJ2K, "JPEG 2000 code stream", nullptr, nullptr, iescTo24RGB},
      {ioAVI, "AVI", nullptr, nullptr, iescNone},
      {ioWBMP, "WBMP", WBMPFrameRead, WBMPWriteStream, iescTo24RGB},
      {ioPS, "PostScript", nullptr, nullptr, iescTo24RGB},
      {ioPDF, "PDF", nullptr, nullptr, iescTo24RGB},
      {ioDCX, "DCX", IEDCXLoad, IEDCXSave, iescTo24RGB},
      {ioRAW, "camera raw", nullptr, nullptr, iescNone},
      {ioBMPRAW, "raw bitmap", nullptr, nullptr, iescNone},
      {ioPSD, "PSD", nullptr, nullptr, iescNone},
      {ioIEV, "IEV", nullptr, nullptr, iescNone},
      {ioLYR, "LYR", nullptr, nullptr, iescNone},
      {ioALL, "ALL", nullptr, nullptr, iescNone},
      {ioDICOM, "DICOM", nullptr, nullptr, iescNone},
  };
  for (const TIECodec& s : slots) c[static_cast<std::size_t>(s.FileType)] = s;
  c[IEMaxFileType + 1] = TIECodec{0, "unknown format", nullptr, nullptr, iescNone};
  return c;
}

std::array<TIECodec, IEMaxFileType + 2>& Codecs() {
  static std::array<TIECodec, IEMaxFileType + 2> codecs = MakeCodecs();
  return codecs;
}

}  // namespace

TIECodec& IECodecFor(int fileType) {
  auto& c = Codecs();
  if (fileType < 0 || fileType > IEMaxFileType || c[static_cast<std::size_t>(fileType)].Name[0] == '\0')
    return c[IEMaxFileType + 1];
  return c[static_cast<std::size_t>(fileType)];
}

// ---- content detection steps, in the order they are asked -----------------------------------
namespace {

// FileType 0 marks the place where the registry's own try functions are asked.
TIEContentTest gContentTests[] = {
    {ioJPEG, "TaggedJFIF", IETryTaggedJFIF},
    {ioGIF, "GIFSignature", IETryGIFSignature},
    {ioPCX, "TaggedPCX2", IETryTaggedPCX2},
    {ioPCX, "PCXTag", IETryPCXTag},
    {ioBMP, "BMPSignature", IETryBMPSignature},
    {ioPCX, "PCXHeader", IETryPCXHeader},
    {ioTIFF, "TaggedTIFF", IETryTaggedTIFF},
    {ioTIFF, "IsTIFFStream", nullptr},
    {ioPNG, "IsPNGStream", IsPNGStream},
    {ioDICOM, "IEDICOMTryStream", nullptr},
    {ioICO, "ICOTryStream", ICOTryStream},
    {ioCUR, "CURTryStream", CURTryStream},
    {ioTGA, "TryTGA", TryTGA},
    {ioPXM, "TryPXM", TryPXM},
    {ioJPEG, "JpegTryStream", IEJpegContentTest},
    {ioJP2, "J2KTryStreamJP2", nullptr},
    {ioJ2K, "J2KTryStreamJ2K", nullptr},
    {ioAVI, "AVISignature", IETryAVI},
    {ioDCX, "IEDCXTryStream", IEDCXTryStream},
    {ioWMF, "IEWMFTryStream", nullptr},
    {ioEMF, "IEEMFTryStream", nullptr},
    {ioPSD, "IETryPSD", nullptr},
    {ioIEV, "IETryIEV", nullptr},
    {ioLYR, "IETryLYR", nullptr},
    {ioALL, "IETryALL", nullptr},
    {0, "RegistryTryFunctions", nullptr},
    {ioRAW, "IERAWTryStream", nullptr},
};

}  // namespace

int IEContentTestCount() { return static_cast<int>(std::size(gContentTests)); }

TIEContentTest& IEContentTestAt(int index) { return gContentTests[index]; }

TIEContentTest* IEFindContentTest(std::string_view name) {
  for (TIEContentTest& t : gContentTests)
    if (name == t.Name) return &t;
  return nullptr;
}

// ---- registry-owned magic numbers ---------------------------------------------------------------
namespace {

// Reads n bytes from the current position when more than `needMoreThan` bytes
// remain, and moves back. False when they are not there.
bool Head(TStream& stream, std::uint8_t* buf, int n, std::int64_t needMoreThan) {
  const std::int64_t pos = stream.GetPosition();
  if (pos < 0 || stream.GetSize() - pos <= needMoreThan) return false;
  const std::int64_t got = stream.Read(buf, n);
  stream.Seek(pos, soBeginning);
  return got == n;
}

// The tag test: the first bytes up to the first zero (at most `limit`) equal tag.
bool TagIs(const std::uint8_t* buf, int limit, const char* tag) {
  int len = 0;
  while (len < limit && buf[len] != 0) ++len;
  return len == static_cast<int>(std::strlen(tag)) && std::memcmp(buf, tag, static_cast<std::size_t>(len)) == 0;
}

bool TaggedHeader(TStream& stream, const char* tag) {
  std::uint8_t b[12];
  return Head(stream, b, 12, 12) && TagIs(b, 5, tag);
}

}  // namespace

bool IETryTaggedJFIF(TStream& stream) { return TaggedHeader(stream, "JFIF"); }
bool IETryTaggedPCX2(TStream& stream) { return TaggedHeader(stream, "PCX2"); }
bool IETryTaggedTIFF(TStream& stream) { return TaggedHeader(stream, "TIFF"); }

bool IETryGIFSignature(TStream& stream) {
  std::uint8_t b[13];
  return Head(stream, b, 13, 13) && b[0] == 'G' && b[1] == 'I' && b[2] == 'F';
}

bool IETryPCXTag(TStream& stream) {
  std::uint8_t b[4];
  return Head(stream, b, 4, 4) && TagIs(b, 4, "PCX");
}

bool IETryBMPSignature(TStream& stream) {
  std::uint8_t b[14];
  return Head(stream, b, 14, 14) && b[0] == 'B' && b[1] == 'M';
}

bool IETryPCXHeader(TStream& stream) {
  std::uint8_t b[128];
  // Encoding and bits per pixel the reader takes, too: other files that start
  // with 0x0A (a TGA with a 10-byte identification field) are left to later tests.
  return Head(stream, b, 128, 128) && b[0] == 0x0A && b[1] <= 5 && b[2] <= 1 &&
         (b[3] == 1 || b[3] == 2 || b[3] == 4 || b[3] == 8);
}

bool IETryAVI(TStream& stream) {
  std::uint8_t b[12];
  return Head(stream, b, 12, 11) && std::memcmp(b, "RIFF", 4) == 0 && std::memcmp(b + 8, "AVI ", 4) == 0;
}

}  // namespace pravik
