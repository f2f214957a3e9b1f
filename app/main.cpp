#include "app/main.h"

#include <algorithm>
#include <exception>
#include <new>

#include "app/handoff.h"
#include "app/names.h"
#include "imageio/stream.h"

namespace pravik {

namespace {

bool IsFailure(TFileStatus s) {
  return s == TFileStatus::NotImage || s == TFileStatus::ReadFailed || s == TFileStatus::WriteFailed ||
         s == TFileStatus::Error;
}

std::string WithReason(std::string text, const std::string& reason, const char* open, const char* close) {
  if (!reason.empty()) text += open + reason + close;
  return text;
}

}  // namespace

std::string FailureMessage(const std::string& name, const TFileResult& result) {
  switch (result.Status) {
    case TFileStatus::NotImage:
      return name + " is not an image file.";
    case TFileStatus::ReadFailed:
      return WithReason(name + " is not an image file.", result.Reason, "\n", "");
    case TFileStatus::WriteFailed:
    case TFileStatus::Error:
      return WithReason(name + " could not be converted.", result.Reason, "\n", "");
    default:
      return {};
  }
}

std::string FailureLine(const std::string& path, const TFileResult& result) {
  switch (result.Status) {
    case TFileStatus::Converted:
      return {};
    case TFileStatus::Skipped:
      return path + ": skipped, " + result.Target + " exists";
    case TFileStatus::NotImage:
    case TFileStatus::ReadFailed:
      return WithReason(path + ": not an image file", result.Reason, " (", ")");
    case TFileStatus::WriteFailed:
    case TFileStatus::Error:
      return WithReason(path + ": could not be converted to " + result.Target, result.Reason, " (", ")");
    case TFileStatus::Stopped:
      return path + ": stopped";
  }
  return {};
}

TmainDlg::TmainDlg(const TMainDlgPorts& ports) : ports_(ports) {
  imgCvt.OnProgress = [this](void* sender, int per) { imgCvtProgress(sender, per); };
}

// ---- start-up ------------------------------------------------------------------------------

bool TmainDlg::ReadHandoff() {
  std::string block;
  if (ports_.clipboard != nullptr) {
    block = ports_.clipboard->GetTextBlock();
    ports_.clipboard->Clear();  // whatever it held: a stale handoff must not start a second batch
  }
  for (int box = 0; box < 3; ++box) ports_.chkIcon->SetChecked(box, true);
  ports_.application->SetOnException([this] { AppException(); });

  std::optional<THandoff> handoff = ParseHandoff(block);
  if (!handoff) {
    ports_.application->Terminate();
    return false;
  }
  fileList = std::move(handoff->Files);
  sourceDir = WithTrailingDelimiter(handoff->Folder);
  saveDir = handoff->Folder;
  ports_.txtSave->SetText(handoff->Folder);
  ports_.txtName->SetText("*");
  ports_.form->Show();
  return true;
}

// ---- names and the replace check -------------------------------------------------------------

std::string TmainDlg::StripExtension(const std::string& name) const { return pravik::StripExtension(name); }

std::string TmainDlg::ApplyRenamePattern(const std::string& stem) const {
  return pravik::ApplyRenamePattern(ports_.txtName->GetText(), stem);
}

bool TmainDlg::TargetDeclined(const std::string& pathStem) {
  const TTargetFormat* format = TargetFormat(ports_.r_Format->GetItemIndex());
  return ReplaceDeclined(pathStem + (format != nullptr ? format->Extension : ""));
}

bool TmainDlg::ReplaceDeclined(const std::string& path) {
  ports_.lblStatus->SetCaption("");
  if (!IEFileExists(path)) return false;
  const int answer = ports_.messages->ShowMessage(
      "Would you like to replace existing " + ExtractFileName(path) + " file?", "Confirm File Replace",
      mbYesNo + mbIconQuestion);
  return answer != idYes;
}

TTargetSettings TmainDlg::ReadSettings() const {
  TTargetSettings s;
  s.Quality = ports_.imgTrackBar->GetPosition();
  for (int box = 0; box < 3; ++box) s.IconSizes[static_cast<std::size_t>(box)] = ports_.chkIcon->GetChecked(box);
  return s;
}

// ---- one file ---------------------------------------------------------------------------------

TFileResult TmainDlg::ConvertFile(const std::string& sourceFolder, const std::string& name,
                                  const std::string& outFolder) {
  TFileResult result;
  // The format is taken once per file, so that the replace check and the
  // writer agree even when the user picks another format while it loads.
  const int index = ports_.r_Format->GetItemIndex();
  const TTargetFormat* format = TargetFormat(index);
  if (format == nullptr) {
    result.Status = TFileStatus::Error;
    result.Reason = "no target format is selected";
    return result;
  }
  result.Target = outFolder + ApplyRenamePattern(StripExtension(name)) + format->Extension;
  if (ReplaceDeclined(result.Target)) {
    result.Status = TFileStatus::Skipped;
    return result;
  }

  TIOParamsVals& params = imgCvt.IOParams();
  if (FreshRecordPerFile) params.SetDefaultParams();
  try {
    imgCvt.LoadFromFileAuto(sourceFolder + name);
    if (isStopped) {
      // Writing what a stopped reader left would give a half image.
      result.Status = TFileStatus::Stopped;
    } else if (params.FILETYPE == 0) {
      result.Status = TFileStatus::NotImage;
      result.Reason = imgCvt.AbortReason;
    } else if (imgCvt.AbortFlag) {
      result.Status = TFileStatus::ReadFailed;
      result.Reason = imgCvt.AbortReason;
    } else {
      ApplyTargetParams(index, params, ReadSettings());
      isLoading = false;
      (imgCvt.*(format->Save))(result.Target);
      if (imgCvt.AbortFlag) {
        result.Status = isStopped ? TFileStatus::Stopped : TFileStatus::WriteFailed;
        result.Reason = imgCvt.AbortReason;
      }
    }
  } catch (const std::bad_alloc&) {
    result.Status = TFileStatus::Error;
    result.Reason = "not enough memory";
  } catch (const std::exception& e) {
    result.Status = isStopped ? TFileStatus::Stopped : TFileStatus::Error;
    result.Reason = e.what();
  }
  params.ResetInfo();
  isLoading = true;
  return result;
}

// ---- the batch ---------------------------------------------------------------------------------

void TmainDlg::btnConvertClick(void* /*Sender*/) {
  if (Trim(ports_.txtName->GetText()).empty()) ports_.txtName->SetText("*");
  saveDir = Trim(ports_.txtSave->GetText());
  if (!IEDirectoryExists(saveDir)) {
    ports_.messages->ShowMessage("Directory " + saveDir + " is not exists.", "Error", mbOK + mbIconExclamation);
    return;
  }
  saveDir = WithTrailingDelimiter(saveDir);

  ports_.btnConvert->SetEnabled(false);
  const int n = static_cast<int>(fileList.size());
  ports_.barTotal->SetMax(n);
  bool skipped = false;
  int converted = 0, failed = 0;
  for (int i = 0; i < n && !isStopped; ++i) {
    const std::string name = fileList[static_cast<std::size_t>(i)];
    const TFileResult result = ConvertFile(sourceDir, name, saveDir);
    if (result.Status == TFileStatus::Skipped) {
      skipped = true;
      continue;
    }
    if (result.Status == TFileStatus::Converted) ++converted;
    if (IsFailure(result.Status)) {
      ++failed;
      ports_.messages->ShowMessage(FailureMessage(name, result), "Error", mbOK + mbIconExclamation);
    }
    ports_.barTotal->SetPosition(i + 1);
  }

  if (isStopped) {
    // Cancel or closing the window has already asked the program to end.
  } else if (!skipped && failed == 0) {
    ports_.lblStatus->SetCaption("Successful!");
    ports_.messages->ShowMessage("Successful convert file(s)!", "Successful!", mbOK + mbIconInformation);
    ports_.application->Terminate();
  } else {
    ports_.lblStatus->SetCaption(std::to_string(converted) + " of " + std::to_string(n) + " file(s) converted.");
  }
  ports_.btnConvert->SetEnabled(true);
}

void TmainDlg::imgCvtProgress(void* /*Sender*/, int per) {
  ports_.barConversion->SetPosition(std::clamp(per, 0, 100));
  ports_.lblStatus->SetCaption(isLoading ? "Loading..." : "Saving...");
  ports_.application->ProcessMessages();
}

void TmainDlg::btnCancelClick(void* /*Sender*/) {
  ports_.form->Hide();
  imgCvt.AbortFlag = true;
  isStopped = true;
  ports_.application->Terminate();
}

void TmainDlg::FormClose(void* Sender) { btnCancelClick(Sender); }

void TmainDlg::AppException() { ports_.application->Terminate(); }

}  // namespace pravik
