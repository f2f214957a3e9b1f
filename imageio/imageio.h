// TImageIO: loads and saves images. It owns one image buffer and one
// parameter record; each load picks a reader (by content, by extension or by
// format id), each save one format's writer, and both run inside the same
// frame: open the stream, arm the abort flag, call the codec, record the
// result, finish with a final 100 per-cent report.
//
// Outcome: nothing is returned. AbortFlag set means the operation failed or
// was stopped (AbortReason then says why, when known); the record's FILETYPE
// and FILENAME say what was loaded or saved. Platform errors (a file that
// cannot be opened or created) and codec-library errors are exceptions.
//
// Saving to a file never leaves a half-written file: the writer writes a
// temporary file in the target's folder, which replaces the target only when
// the writer succeeded and is removed otherwise.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "image/bitmap.h"
#include "imageio/formats.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/stream.h"

namespace pravik {

// A set of pixel formats: bit f set for TIEPixelFormat f.
using TIEPixelFormatSet = std::uint16_t;
constexpr TIEPixelFormatSet IEPixelFormatBit(TIEPixelFormat f) { return static_cast<TIEPixelFormatSet>(1u << f); }

// The writer a save frame runs (a codec's slot or a registered format's).
using TIESaveWriter = void (*)(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);

class TImageIO {
 public:
  TImageIO();
  virtual ~TImageIO();
  TImageIO(const TImageIO&) = delete;
  TImageIO& operator=(const TImageIO&) = delete;

  // ---- state ------------------------------------------------------------------------
  TIEBitmap& IEBitmap() { return *bitmap_; }
  TIOParamsVals& IOParams() { return *params_; }
  const TIOParamsVals& IOParams() const { return *params_; }

  // Set by the front around codecs, by codecs on bad data, by the user (from a
  // progress handler) to stop the running codec at its next progress point.
  bool AbortFlag = false;
  // Why the last operation failed ("" when it did not, or when only the user
  // stopped it). Cleared when an operation starts.
  std::string AbortReason;

  TIEProgressEvent OnProgress;      // (Sender, per) per-cent reports
  TIEFinishWorkEvent OnFinishWork;  // (Sender) at the end of every load and save
  bool AutoAdjustDPI = false;       // after a load, make pixels square
  bool FilteredAdjustDPI = false;   // resample (instead of stretching) for that
  bool GetNativePixelFormat() const { return params_->ISNATIVEPIXELFORMAT; }
  void SetNativePixelFormat(bool value) { params_->ISNATIVEPIXELFORMAT = value; }

  // ---- loading ------------------------------------------------------------------------
  // By content first, else by extension.
  virtual void LoadFromFileAuto(const std::string& fileName);
  // By extension.
  virtual void LoadFromFile(const std::string& fileName);
  // With the reader of a format id.
  virtual void LoadFromFileFormat(const std::string& fileName, int fileType);
  // From the stream's current position, by content.
  void LoadFromStream(TStream& stream);
  void LoadFromStreamFormat(TStream& stream, int fileType);

  void LoadFromFileTIFF(const std::string& fileName) { LoadFileWith(ioTIFF, fileName); }
  void LoadFromFileGIF(const std::string& fileName) { LoadFileWith(ioGIF, fileName); }
  void LoadFromFileJpeg(const std::string& fileName) { LoadFileWith(ioJPEG, fileName); }
  void LoadFromFilePCX(const std::string& fileName) { LoadFileWith(ioPCX, fileName); }
  void LoadFromFileBMP(const std::string& fileName) { LoadFileWith(ioBMP, fileName); }
  void LoadFromFileICO(const std::string& fileName) { LoadFileWith(ioICO, fileName); }
  void LoadFromFileCUR(const std::string& fileName) { LoadFileWith(ioCUR, fileName); }
  void LoadFromFilePNG(const std::string& fileName) { LoadFileWith(ioPNG, fileName); }
  void LoadFromFileTGA(const std::string& fileName) { LoadFileWith(ioTGA, fileName); }
  void LoadFromFilePXM(const std::string& fileName) { LoadFileWith(ioPXM, fileName); }
  void LoadFromFileJP2(const std::string& fileName) { LoadFileWith(ioJP2, fileName); }
  void LoadFromFileJ2K(const std::string& fileName) { LoadFileWith(ioJ2K, fileName); }
  void LoadFromFileWBMP(const std::string& fileName) { LoadFileWith(ioWBMP, fileName); }
  void LoadFromFilePSD(const std::string& fileName) { LoadFileWith(ioPSD, fileName); }

  void LoadFromStreamTIFF(TStream& stream) { LoadStreamWith(ioTIFF, stream); }
  void LoadFromStreamGIF(TStream& stream) { LoadStreamWith(ioGIF, stream); }
  void LoadFromStreamJpeg(TStream& stream) { LoadStreamWith(ioJPEG, stream); }
  void LoadFromStreamPCX(TStream& stream) { LoadStreamWith(ioPCX, stream); }
  void LoadFromStreamBMP(TStream& stream) { LoadStreamWith(ioBMP, stream); }
  void LoadFromStreamICO(TStream& stream) { LoadStreamWith(ioICO, stream); }
  void LoadFromStreamCUR(TStream& stream) { LoadStreamWith(ioCUR, stream); }
  void LoadFromStreamPNG(TStream& stream) { LoadStreamWith(ioPNG, stream); }
  void LoadFromStreamTGA(TStream& stream) { LoadStreamWith(ioTGA, stream); }
  void LoadFromStreamPXM(TStream& stream) { LoadStreamWith(ioPXM, stream); }
  void LoadFromStreamJP2(TStream& stream) { LoadStreamWith(ioJP2, stream); }
  void LoadFromStreamJ2K(TStream& stream) { LoadStreamWith(ioJ2K, stream); }
  void LoadFromStreamWBMP(TStream& stream) { LoadStreamWith(ioWBMP, stream); }
  void LoadFromStreamPSD(TStream& stream) { LoadStreamWith(ioPSD, stream); }

  // ---- parameters only (no pixels) ----------------------------------------------------
  void ParamsFromFile(const std::string& fileName);
  void ParamsFromFileFormat(const std::string& fileName, int fileType);
  void ParamsFromStream(TStream& stream);
  void ParamsFromStreamFormat(TStream& stream, int fileType);

  // ---- saving ---------------------------------------------------------------------------
  // By the lower-case extension of fileName; an unknown extension sets the
  // abort flag and writes nothing.
  void SaveToFile(const std::string& fileName);
  // With the writer of a format id.
  void SaveToFileFormat(const std::string& fileName, int fileType);
  void SaveToStream(TStream& stream, int fileType);

  void SaveToFileTIFF(const std::string& fileName) { SaveFileWith(ioTIFF, fileName); }
  void SaveToFileGIF(const std::string& fileName) { SaveFileWith(ioGIF, fileName); }
  void SaveToFileJpeg(const std::string& fileName) { SaveFileWith(ioJPEG, fileName); }
  void SaveToFilePCX(const std::string& fileName) { SaveFileWith(ioPCX, fileName); }
  void SaveToFileBMP(const std::string& fileName) { SaveFileWith(ioBMP, fileName); }
  void SaveToFileICO(const std::string& fileName) { SaveFileWith(ioICO, fileName); }
  void SaveToFilePNG(const std::string& fileName) { SaveFileWith(ioPNG, fileName); }
  void SaveToFileTGA(const std::string& fileName) { SaveFileWith(ioTGA, fileName); }
  void SaveToFilePXM(const std::string& fileName) { SaveFileWith(ioPXM, fileName); }
  void SaveToFileJP2(const std::string& fileName) { SaveFileWith(ioJP2, fileName); }
  void SaveToFileJ2K(const std::string& fileName) { SaveFileWith(ioJ2K, fileName); }
  void SaveToFileWBMP(const std::string& fileName) { SaveFileWith(ioWBMP, fileName); }
  void SaveToFilePS(const std::string& fileName) { SaveFileWith(ioPS, fileName); }
  void SaveToFilePDF(const std::string& fileName) { SaveFileWith(ioPDF, fileName); }
  void SaveToFilePSD(const std::string& fileName) { SaveFileWith(ioPSD, fileName); }

  void SaveToStreamTIFF(TStream& stream) { SaveStreamWith(ioTIFF, stream); }
  void SaveToStreamGIF(TStream& stream) { SaveStreamWith(ioGIF, stream); }
  void SaveToStreamJpeg(TStream& stream) { SaveStreamWith(ioJPEG, stream); }
  void SaveToStreamPCX(TStream& stream) { SaveStreamWith(ioPCX, stream); }
  void SaveToStreamBMP(TStream& stream) { SaveStreamWith(ioBMP, stream); }
  void SaveToStreamICO(TStream& stream) { SaveStreamWith(ioICO, stream); }
  void SaveToStreamPNG(TStream& stream) { SaveStreamWith(ioPNG, stream); }
  void SaveToStreamTGA(TStream& stream) { SaveStreamWith(ioTGA, stream); }
  void SaveToStreamPXM(TStream& stream) { SaveStreamWith(ioPXM, stream); }
  void SaveToStreamJP2(TStream& stream) { SaveStreamWith(ioJP2, stream); }
  void SaveToStreamJ2K(TStream& stream) { SaveStreamWith(ioJ2K, stream); }
  void SaveToStreamWBMP(TStream& stream) { SaveStreamWith(ioWBMP, stream); }
  void SaveToStreamPS(TStream& stream) { SaveStreamWith(ioPS, stream); }
  void SaveToStreamPDF(TStream& stream) { SaveStreamWith(ioPDF, stream); }
  void SaveToStreamPSD(TStream& stream) { SaveStreamWith(ioPSD, stream); }

  // ---- frame operations ---------------------------------------------------------------
  // True when the buffer's pixel format is in allowed (an empty set allows all).
  bool MakeConsistentBitmap(TIEPixelFormatSet allowed);
  // The component's progress method: calls OnProgress.
  void DoIntProgress(void* sender, int per);
  // A final 100 per-cent report, then OnFinishWork.
  void DoFinishWork();
  // DPIX or DPIY below 2 becomes the default resolution.
  void CheckDPI();
  // Stretches the image so that its pixels are square.
  void AdjustDPI();
  // Operations always run on the calling thread.
  bool IsInsideAsyncThreads() const { return false; }
  // Tells an attached viewer that the image changed (there is none).
  void Update() {}

 private:
  void LoadFileWith(int fileType, const std::string& fileName);
  void LoadStreamWith(int fileType, TStream& stream);
  void SaveFileWith(int fileType, const std::string& fileName);
  void SaveStreamWith(int fileType, TStream& stream);
  void RunLoad(int fileType, TStream& stream, const std::string& fileName);
  void RunSave(int fileType, TStream& stream, TIESaveWriter writer, std::uint8_t conversion);
  void SaveFileThrough(int fileType, const std::string& fileName, TIESaveWriter writer, std::uint8_t conversion);
  void LoadByEntry(int fileType, TStream* stream, const std::string& fileName);
  void LoadExternal(int fileType, TStream* stream, const std::string& fileName);
  void ParamsRun(int fileType, TStream* stream, const std::string& fileName);
  bool ConvertForSave(std::uint8_t conversion);
  void FailNoReader(const std::string& reason);
  void FailNoWriter(const std::string& reason);
  TProgressRec MakeProgress(bool withCallback);
  void NoteFailure(int fileType, bool saving);

  std::unique_ptr<TIEBitmap> bitmap_;
  std::unique_ptr<TIOParamsVals> params_;
};

}  // namespace pravik
