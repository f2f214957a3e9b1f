// TmainDlg's batch logic: the start-up handoff, the Convert handler with its
// per-file loop, progress, cancellation and the end of the batch. It owns the
// TImageIO that does every load and save and reaches the window and the
// platform only through the ports of app/ports.h.
//
// Failures are reported per file and the batch goes on: a file that is not
// recognised or whose reader stopped on bad data, a save that failed, and a
// load or save that raised. The success notice comes only when every file was
// converted; otherwise the window stays open with a summary in the status line.
#pragma once

#include <string>
#include <vector>

#include "app/ports.h"
#include "app/targets.h"
#include "imageio/imageio.h"

namespace pravik {

// What happened to one file.
enum class TFileStatus {
  Converted,
  Skipped,      // the output exists and the user kept it
  NotImage,     // no reader recognised the file
  ReadFailed,   // the reader stopped on bad data
  WriteFailed,  // the writer failed
  Error,        // the load or the save raised (file cannot be opened or created ...)
  Stopped,      // Cancel or closing the window stopped this file
};

struct TFileResult {
  TFileStatus Status = TFileStatus::Converted;
  std::string Target;  // the output file (stem + extension)
  std::string Reason;  // why it failed, when known
};

// The message box text for a failed file (name as listed), empty for
// Converted, Skipped and Stopped.
std::string FailureMessage(const std::string& name, const TFileResult& result);
// One line for logs: "<path>: <what happened> (<reason>)"; empty when converted.
std::string FailureLine(const std::string& path, const TFileResult& result);

class TmainDlg {
 public:
  explicit TmainDlg(const TMainDlgPorts& ports);
  TmainDlg(const TmainDlg&) = delete;
  TmainDlg& operator=(const TmainDlg&) = delete;

  // Start-up half of the window's constructor: reads and empties the
  // clipboard, checks the icon boxes, installs AppException, parses the
  // handoff. Shows the window and returns true for a valid handoff; otherwise
  // requests termination and returns false (the window is never shown).
  bool ReadHandoff();

  // ---- event handlers --------------------------------------------------------------------
  void btnConvertClick(void* Sender);
  void imgCvtProgress(void* Sender, int per);
  void btnCancelClick(void* Sender);
  void FormClose(void* Sender);
  void AppException();

  // ---- names and the replace check -------------------------------------------------------
  std::string StripExtension(const std::string& name) const;
  // Reads txtName anew on every call.
  std::string ApplyRenamePattern(const std::string& stem) const;
  // Appends the extension of the format selected now and asks ReplaceDeclined.
  bool TargetDeclined(const std::string& pathStem);
  // True when the file exists and the user did not agree to replace it.
  bool ReplaceDeclined(const std::string& path);

  // One file of a batch: the replace check, the load, the target format's
  // parameters and the save. sourceFolder and outFolder are "" or end in a
  // folder delimiter. Reports nothing itself; the caller does.
  TFileResult ConvertFile(const std::string& sourceFolder, const std::string& name, const std::string& outFolder);

  // ---- batch state -------------------------------------------------------------------------
  std::vector<std::string> fileList;
  std::string sourceDir;
  std::string saveDir;
  bool isLoading = true;
  bool isStopped = false;
  // Start each file from a freshly defaulted record instead of what the
  // previous file left in it. The window keeps the record for the whole
  // batch (a reader's values steer the next writer); the command line sets
  // this so that each output depends on its own source only, whatever the
  // order or the number of parallel jobs.
  bool FreshRecordPerFile = false;

  TImageIO imgCvt;

 private:
  TTargetSettings ReadSettings() const;

  TMainDlgPorts ports_;
};

}  // namespace pravik
