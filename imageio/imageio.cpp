#include "imageio/imageio.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <chrono>
#include <cmath>
#include <exception>
#include <system_error>

#include "image/resample.h"
#include "imageio/codec_table.h"
#include "imageio/registry.h"

namespace pravik {

namespace {

constexpr const char* kUnknownFormat = "unknown image format";

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string NotBuilt(int fileType) { return std::string(IECodecFor(fileType).Name) + " support is not built"; }

// Writers chosen by a file name's extension.
struct ExtWriter {
  const char* Ext;
  int FileType;
};
constexpr ExtWriter kSaveExtensions[] = {
    {".jpg", ioJPEG},  {".jpeg", ioJPEG}, {".jpe", ioJPEG},  {".jif", ioJPEG},  {".jp2", ioJP2},   {".j2k", ioJ2K},
    {".jpc", ioJ2K},   {".j2c", ioJ2K},   {".pcx", ioPCX},   {".dcx", ioDCX},   {".gif", ioGIF},   {".tif", ioTIFF},
    {".tiff", ioTIFF}, {".fax", ioTIFF},  {".g3f", ioTIFF},  {".g3n", ioTIFF},  {".png", ioPNG},   {".bmp", ioBMP},
    {".dib", ioBMP},   {".rle", ioBMP},   {".tga", ioTGA},   {".targa", ioTGA}, {".vda", ioTGA},   {".icb", ioTGA},
    {".vst", ioTGA},   {".win", ioTGA},   {".pxm", ioPXM},   {".pbm", ioPXM},   {".pgm", ioPXM},   {".ppm", ioPXM},
    {".ico", ioICO},   {".wbmp", ioWBMP}, {".ps", ioPS},     {".eps", ioPS},    {".pdf", ioPDF},   {".psd", ioPSD},
};

// Ids that have save operations of their own (the rest go through the registry).
bool HasSaveWrapper(int id) {
  switch (id) {
    case ioTIFF: case ioGIF: case ioJPEG: case ioPCX: case ioBMP: case ioICO: case ioPNG: case ioTGA:
    case ioPXM: case ioJP2: case ioJ2K: case ioWBMP: case ioPS: case ioPDF: case ioPSD: case ioDCX:
      return true;
    default:
      return false;
  }
}

// ---- the sound save: write a temporary file, replace the target only on success ----

class SafeTarget {
 public:
  explicit SafeTarget(const std::string& fileName) : target_(IEPathFromUTF8(fileName)), name_(fileName) {
    std::error_code ec;
    // Replacing a link replaces what it points to, as writing through it would.
    if (std::filesystem::is_symlink(target_, ec) && std::filesystem::exists(target_, ec)) {
      const std::filesystem::path real = std::filesystem::canonical(target_, ec);
      if (!ec) target_ = real;
    }
    const std::filesystem::path dir = target_.parent_path();
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0;; ++attempt) {
      const auto stamp = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
      const unsigned long long tag = stamp ^ (static_cast<unsigned long long>(counter.fetch_add(1)) << 40) ^
                                     reinterpret_cast<std::uintptr_t>(this);
      char suffix[40];
      std::snprintf(suffix, sizeof suffix, ".%012llx.tmp", tag & 0xFFFFFFFFFFFFull);
      std::filesystem::path tmp = target_.filename();
      tmp += suffix;
      temp_ = dir / tmp;
      const std::string tempName = IEPathToUTF8(temp_);
      try {
        stream_ = std::make_unique<TFileStream>(tempName, TFileMode::fmCreateNew);
        return;
      } catch (const EFCreateError& e) {
        if (attempt < 8 && IEFileExists(tempName)) continue;  // name taken: try another
        // Report the target, not our temporary name.
        const std::string prefix = "Cannot create file \"" + IEExpandFileName(tempName) + "\". ";
        const std::string what = e.what();
        const std::string why = what.compare(0, prefix.size(), prefix) == 0 ? what.substr(prefix.size()) : what;
        throw EFCreateError("Cannot create file \"" + IEExpandFileName(name_) + "\". " + why);
      }
    }
  }

  ~SafeTarget() {
    if (stream_) Discard();
  }

  TFileStream& Stream() { return *stream_; }

  // Closes the temporary file; replaces the target when ok. Returns false when
  // the file could not be completed (the target is then untouched). Raises
  // EFCreateError when the target cannot be replaced.
  bool Commit(bool ok) {
    const bool closed = stream_->Close();
    stream_.reset();
    if (!ok || !closed) {
      RemoveTemp();
      return closed;
    }
    std::error_code ec;
    // A replaced file keeps its permissions.
    const auto status = std::filesystem::status(target_, ec);
    if (!ec && std::filesystem::is_regular_file(status))
      std::filesystem::permissions(temp_, status.permissions(), ec);
    std::filesystem::rename(temp_, target_, ec);
    if (ec) {
      RemoveTemp();
      throw EFCreateError("Cannot create file \"" + IEExpandFileName(name_) + "\". " + ec.message());
    }
    return true;
  }

 private:
  void Discard() {
    stream_->Close();
    stream_.reset();
    RemoveTemp();
  }
  void RemoveTemp() {
    std::error_code ec;
    std::filesystem::remove(temp_, ec);
  }

  std::filesystem::path target_;
  std::filesystem::path temp_;
  std::string name_;
  std::unique_ptr<TFileStream> stream_;
};

}  // namespace

// ---- lifecycle --------------------------------------------------------------------------------

TImageIO::TImageIO() : bitmap_(std::make_unique<TIEBitmap>()), params_(std::make_unique<TIOParamsVals>(this)) {}

TImageIO::~TImageIO() = default;

// ---- frame pieces -------------------------------------------------------------------------------

TProgressRec TImageIO::MakeProgress(bool withCallback) {
  TProgressRec progress;
  if (withCallback) {
    progress.Callback = [this](void* sender, int per) { DoIntProgress(sender, per); };
    progress.Sender = this;
  }
  progress.AbortFlag = &AbortFlag;
  progress.AbortReason = &AbortReason;
  return progress;
}

void TImageIO::DoIntProgress(void* sender, int per) {
  if (OnProgress) OnProgress(sender, per);
}

void TImageIO::DoFinishWork() {
  DoIntProgress(this, 100);
  if (OnFinishWork) OnFinishWork(this);
}

bool TImageIO::MakeConsistentBitmap(TIEPixelFormatSet allowed) {
  return bitmap_ != nullptr && (allowed == 0 || (allowed & IEPixelFormatBit(bitmap_->GetPixelFormat())) != 0);
}

void TImageIO::FailNoReader(const std::string& reason) {
  AbortFlag = true;
  AbortReason = reason;
  params_->FILETYPE = 0;
  params_->FILENAME.clear();
  DoFinishWork();
}

void TImageIO::FailNoWriter(const std::string& reason) {
  AbortFlag = true;
  AbortReason = reason;
  DoFinishWork();
}

void TImageIO::NoteFailure(int fileType, bool saving) {
  if (AbortFlag && AbortReason.empty())
    AbortReason = std::string("the ") + IECodecFor(fileType).Name + (saving ? " writer" : " reader") + " stopped";
}

void TImageIO::CheckDPI() {
  if (params_->DPIX() < 2) params_->SetDpiX(gDefaultDPIX);
  if (params_->DPIY() < 2) params_->SetDpiY(gDefaultDPIY);
}

void TImageIO::AdjustDPI() {
  TIEBitmap& bmp = *bitmap_;
  const int dx = params_->DPIX(), dy = params_->DPIY();
  const int w = bmp.GetWidth(), h = bmp.GetHeight();
  if (bmp.IsEmpty() || dx == dy || dx < 1 || dy < 1 || w < 1 || h < 1) return;
  double nw = w, nh = h;
  if (h < w) {
    nh = std::trunc(static_cast<double>(h) / dy * dx);
  } else {
    nw = std::trunc(static_cast<double>(w) / dx * dy);
  }
  // A resolution pair from a file must not turn into an absurd allocation.
  constexpr double kMaxSide = 1 << 20;
  if (nw < 1 || nh < 1 || nw > kMaxSide || nh > kMaxSide) return;
  const int tw = static_cast<int>(nw), th = static_cast<int>(nh);
  TIEBitmap stretched;
  if (FilteredAdjustDPI) {
    if (bmp.GetPixelFormat() != ie24RGB) bmp.ConvertToPixelFormat(ie24RGB);
    if (!stretched.Allocate(tw, th, ie24RGB)) return;
    _IEResampleIEBitmap(bmp, stretched, rfFastLinear);
  } else {
    if (!stretched.Allocate(tw, th, bmp.GetPixelFormat())) return;
    IEBmpStretchEx(bmp, stretched);
    if (bmp.GetHasAlphaChannel()) {
      TIEBitmap* alpha = bmp.GetAlphaChannel();
      auto stretchedAlpha = std::make_unique<TIEBitmap>();
      if (stretchedAlpha->Allocate(tw, th, alpha->GetPixelFormat())) {
        IEBmpStretchEx(*alpha, *stretchedAlpha);
        stretched.SetAlphaChannel(stretchedAlpha.release());
      }
    }
  }
  stretched.SwitchTo(bmp);
  if (h < w) {
    params_->SetDpiY(dx);
  } else {
    params_->SetDpiX(dy);
  }
}

bool TImageIO::ConvertForSave(std::uint8_t conversion) {
  const TIEPixelFormat pf = bitmap_->GetPixelFormat();
  const bool keep = conversion == iescNone || pf == ie24RGB || pf == ie1g ||
                    (conversion == iescTo24RGBor48 && pf == ie48RGB);
  if (keep) return true;
  bitmap_->ConvertToPixelFormat(ie24RGB);
  return true;
}

// ---- load frames ---------------------------------------------------------------------------------

void TImageIO::RunLoad(int fileType, TStream& stream, const std::string& fileName) {
  const TIECodec& codec = IECodecFor(fileType);
  try {
    AbortFlag = false;
    if (MakeConsistentBitmap(0)) {
      params_->ResetInfo();
      TProgressRec progress = MakeProgress(true);
      codec.Read(stream, *bitmap_, *params_, progress, false);
      CheckDPI();
      if (AutoAdjustDPI && !AbortFlag) AdjustDPI();
      // Recorded even when the reader failed: the format was recognised.
      params_->FILENAME = fileName;
      params_->FILETYPE = fileType;
      NoteFailure(fileType, false);
      Update();
    }
  } catch (...) {
    DoFinishWork();
    throw;
  }
  DoFinishWork();
}

void TImageIO::LoadFileWith(int fileType, const std::string& fileName) {
  AbortReason.clear();
  if (IECodecFor(fileType).Read == nullptr) return FailNoReader(NotBuilt(fileType));
  TFileStream stream(fileName, TFileMode::fmOpenRead);
  RunLoad(fileType, stream, fileName);
}

void TImageIO::LoadStreamWith(int fileType, TStream& stream) {
  AbortReason.clear();
  if (IECodecFor(fileType).Read == nullptr) return FailNoReader(NotBuilt(fileType));
  RunLoad(fileType, stream, std::string());
}

void TImageIO::LoadExternal(int fileType, TStream* stream, const std::string& fileName) {
  const TIEFileFormatInfo* entry = IEFileFormatGetInfo(fileType);
  params_->FILENAME.clear();
  params_->FILETYPE = 0;
  params_->ResetInfo();
  if (entry == nullptr || entry->ReadFunction == nullptr) {
    AbortFlag = true;
    AbortReason = entry == nullptr ? kUnknownFormat : entry->FullName + " cannot be read";
    DoFinishWork();
    return;
  }
  AbortFlag = true;
  std::unique_ptr<TFileStream> file;
  if (stream == nullptr) {
    file = std::make_unique<TFileStream>(fileName, TFileMode::fmOpenRead);
    stream = file.get();
  }
  AbortFlag = false;
  TProgressRec progress = MakeProgress(true);
  params_->FILENAME = fileName;
  params_->FILETYPE = fileType;
  try {
    entry->ReadFunction(*stream, *bitmap_, *params_, false, progress);
  } catch (const std::exception& e) {
    AbortFlag = true;
    if (AbortReason.empty()) AbortReason = e.what();
  } catch (...) {
    AbortFlag = true;
  }
  if (!AbortFlag && AutoAdjustDPI) AdjustDPI();
  if (AbortFlag && AbortReason.empty()) AbortReason = "the " + entry->FullName + " reader stopped";
  Update();
  file.reset();
  DoFinishWork();
}

// An entry found by extension or id: our codec, a run-time registered reader,
// or an internal format whose reader is not part of this build.
void TImageIO::LoadByEntry(int fileType, TStream* stream, const std::string& fileName) {
  const TIEFileFormatInfo* entry = IEFileFormatGetInfo(fileType);
  if (entry == nullptr) return FailNoReader(kUnknownFormat);
  if (!entry->InternalFormat) return LoadExternal(fileType, stream, fileName);
  if (IECodecFor(fileType).Read == nullptr) return FailNoReader(NotBuilt(fileType));
  if (stream != nullptr) return LoadStreamWith(fileType, *stream);
  LoadFileWith(fileType, fileName);
}

void TImageIO::LoadFromFileAuto(const std::string& fileName) {
  AbortReason.clear();
  const int fileType = FindFileFormat(fileName, false);
  if (fileType != 0) {
    LoadFromFileFormat(fileName, fileType);
  } else {
    LoadFromFile(fileName);
  }
}

void TImageIO::LoadFromFile(const std::string& fileName) {
  AbortReason.clear();
  if (fileName.empty()) return FailNoReader("no file name");
  const std::string lower = Lower(fileName);
  for (const char* scheme : {"http://", "https://", "ftp://"})
    if (lower.rfind(scheme, 0) == 0) return FailNoReader("loading from the network is not supported");
  const std::string ext = Lower(IEExtractFileExt(fileName));
  if (ext == ".avi") return FailNoReader(NotBuilt(ioAVI));
  const TIEFileFormatInfo* entry = IEFileFormatGetInfo2(ext);
  if (entry == nullptr) return FailNoReader(kUnknownFormat);
  LoadByEntry(entry->FileType, nullptr, fileName);
}

void TImageIO::LoadFromFileFormat(const std::string& fileName, int fileType) {
  AbortReason.clear();
  const TIEFileFormatInfo* entry = IEFileFormatGetInfo(fileType);
  if (entry == nullptr) return FailNoReader(fileType == ioAVI ? NotBuilt(ioAVI) : kUnknownFormat);
  if (entry->InternalFormat && IECodecFor(fileType).Read == nullptr) return LoadFromFile(fileName);
  LoadByEntry(fileType, nullptr, fileName);
}

void TImageIO::LoadFromStream(TStream& stream) { LoadFromStreamFormat(stream, FindStreamFormat(stream)); }

void TImageIO::LoadFromStreamFormat(TStream& stream, int fileType) {
  AbortReason.clear();
  LoadByEntry(fileType, &stream, std::string());
}

// ---- parameters only ------------------------------------------------------------------------------

void TImageIO::ParamsRun(int fileType, TStream* stream, const std::string& fileName) {
  AbortReason.clear();
  params_->FILETYPE = fileType;
  params_->ResetInfo();
  AbortFlag = true;
  std::unique_ptr<TFileStream> file;
  if (stream == nullptr) {
    file = std::make_unique<TFileStream>(fileName, TFileMode::fmOpenRead);
    stream = file.get();
  }
  TProgressRec progress = MakeProgress(false);
  AbortFlag = false;
  const TIECodec& codec = IECodecFor(fileType);
  const TIEFileFormatInfo* entry = IEFileFormatGetInfo(fileType);
  try {
    if (codec.Read != nullptr) {
      codec.Read(*stream, *bitmap_, *params_, progress, true);
    } else if (entry != nullptr && !entry->InternalFormat && entry->ReadFunction != nullptr) {
      entry->ReadFunction(*stream, *bitmap_, *params_, true, progress);
    } else {
      AbortFlag = true;
      AbortReason = entry == nullptr ? kUnknownFormat : NotBuilt(fileType);
    }
  } catch (const std::exception& e) {
    AbortFlag = true;
    if (AbortReason.empty()) AbortReason = e.what();
  }
  if (AbortFlag) params_->FILETYPE = 0;
  if (file) params_->FILENAME = fileName;
  file.reset();
  DoFinishWork();
}

void TImageIO::ParamsFromFile(const std::string& fileName) {
  try {
    ParamsRun(FindFileFormat(fileName, true), nullptr, fileName);
  } catch (const std::exception& e) {
    params_->FILETYPE = 0;
    AbortFlag = true;
    AbortReason = e.what();
  }
}

void TImageIO::ParamsFromFileFormat(const std::string& fileName, int fileType) {
  ParamsRun(fileType, nullptr, fileName);
}

void TImageIO::ParamsFromStream(TStream& stream) {
  try {
    ParamsRun(FindStreamFormat(stream), &stream, std::string());
  } catch (const std::exception& e) {
    params_->FILETYPE = 0;
    AbortFlag = true;
    AbortReason = e.what();
  }
}

void TImageIO::ParamsFromStreamFormat(TStream& stream, int fileType) { ParamsRun(fileType, &stream, std::string()); }

// ---- save frames -------------------------------------------------------------------------------------

void TImageIO::RunSave(int fileType, TStream& stream, TIESaveWriter writer, std::uint8_t conversion) {
  try {
    AbortFlag = false;
    if (MakeConsistentBitmap(0)) {
      if (bitmap_->IsEmpty()) {
        AbortFlag = true;
        AbortReason = "there is no image to save";
      } else if (ConvertForSave(conversion)) {
        TProgressRec progress = MakeProgress(true);
        writer(stream, *bitmap_, *params_, progress);
        NoteFailure(fileType, true);
      }
    }
  } catch (...) {
    DoFinishWork();
    throw;
  }
  DoFinishWork();
}

void TImageIO::SaveFileThrough(int fileType, const std::string& fileName, TIESaveWriter writer,
                               std::uint8_t conversion) {
  SafeTarget target(fileName);
  RunSave(fileType, target.Stream(), writer, conversion);
  if (!target.Commit(!AbortFlag)) {
    AbortFlag = true;
    AbortReason = "could not finish writing \"" + fileName + "\" (disk full?)";
  }
  params_->FILENAME = fileName;
  params_->FILETYPE = fileType;
}

void TImageIO::SaveFileWith(int fileType, const std::string& fileName) {
  AbortReason.clear();
  const TIECodec& codec = IECodecFor(fileType);
  if (codec.Write == nullptr) return FailNoWriter(NotBuilt(fileType));
  SaveFileThrough(fileType, fileName, codec.Write, codec.SaveConversion);
}

void TImageIO::SaveStreamWith(int fileType, TStream& stream) {
  AbortReason.clear();
  const TIECodec& codec = IECodecFor(fileType);
  if (codec.Write == nullptr) return FailNoWriter(NotBuilt(fileType));
  RunSave(fileType, stream, codec.Write, codec.SaveConversion);
}

void TImageIO::SaveToFile(const std::string& fileName) {
  AbortReason.clear();
  if (fileName.empty()) return;
  const std::string ext = Lower(IEExtractFileExt(fileName));
  for (const ExtWriter& w : kSaveExtensions)
    if (ext == w.Ext) return SaveFileWith(w.FileType, fileName);
  const TIEFileFormatInfo* entry = IEFileFormatGetInfo2(ext);
  if (entry != nullptr && !entry->InternalFormat && entry->WriteFunction != nullptr) {
    params_->FILENAME = fileName;
    params_->FILETYPE = entry->FileType;
    return SaveFileThrough(entry->FileType, fileName, entry->WriteFunction, iescTo24RGB);
  }
  AbortFlag = true;
  AbortReason = ext.empty() ? "the file name has no extension" : "no writer for \"" + ext + "\" files";
}

void TImageIO::SaveToFileFormat(const std::string& fileName, int fileType) {
  AbortReason.clear();
  if (IECodecFor(fileType).Write != nullptr || HasSaveWrapper(fileType)) return SaveFileWith(fileType, fileName);
  const TIEFileFormatInfo* entry = IEFileFormatGetInfo(fileType);
  if (entry != nullptr && !entry->InternalFormat && entry->WriteFunction != nullptr)
    return SaveFileThrough(fileType, fileName, entry->WriteFunction, iescTo24RGB);
  AbortFlag = true;
  AbortReason = entry == nullptr ? kUnknownFormat : entry->FullName + " cannot be written";
}

void TImageIO::SaveToStream(TStream& stream, int fileType) {
  AbortReason.clear();
  if (IECodecFor(fileType).Write != nullptr || HasSaveWrapper(fileType)) return SaveStreamWith(fileType, stream);
  const TIEFileFormatInfo* entry = IEFileFormatGetInfo(fileType);
  if (entry != nullptr && !entry->InternalFormat && entry->WriteFunction != nullptr)
    return RunSave(fileType, stream, entry->WriteFunction, iescTo24RGB);
  AbortFlag = true;
  AbortReason = entry == nullptr ? kUnknownFormat : entry->FullName + " cannot be written";
}

}  // namespace pravik
