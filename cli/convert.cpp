#include "cli/convert.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <numeric>
#include <thread>

#include "app/main.h"
#include "app/names.h"
#include "app/value_widgets.h"
#include "cli/terminal.h"
#include "imageio/registry.h"
#include "imageio/stream.h"

namespace pravik {

namespace {

std::atomic<bool> gStop{false};

constexpr const char* kProgram = "pravik-convert: ";

// ---- the ports over the terminal ---------------------------------------------------------------

// The replace question: answered by the policy, or asked on the terminal.
class TCliMessageBox : public IMessageBox {
 public:
  TCliMessageBox(TReplacePolicy policy, TTerminalProgress& progress) : policy_(policy), progress_(progress) {}

  int ShowMessage(const std::string& text, const std::string& caption, int flags) override {
    if ((flags & 0x0F) != mbYesNo) {
      progress_.Print(kProgram + caption + ": " + text);
      return idOK;
    }
    return progress_.Exclusive([&] {
      if (policy_ == TReplacePolicy::Yes) return idYes;
      if (policy_ == TReplacePolicy::No || gStop) return idNo;
      std::fprintf(stderr, "%s [y/N] ", text.c_str());
      std::fflush(stderr);
      std::string answer;
      if (!std::getline(std::cin, answer)) {
        policy_ = TReplacePolicy::No;  // no more answers will come
        std::fprintf(stderr, "\n");
        return idNo;
      }
      const std::string a = Trim(answer);
      return a == "y" || a == "Y" || a == "yes" || a == "Yes" || a == "YES" ? idYes : idNo;
    });
  }

 private:
  TReplacePolicy policy_;  // guarded by the progress lock
  TTerminalProgress& progress_;
};

class TCliProgressBar : public IProgressBar {
 public:
  explicit TCliProgressBar(TTerminalProgress& progress) : progress_(progress) {}
  void SetMax(int) override {}
  void SetPosition(int position) override { progress_.Percent(File, position); }
  std::string File;

 private:
  TTerminalProgress& progress_;
};

// Messages are "handled" by looking at the stop request: Ctrl+C works like
// the window's Cancel button.
class TCliApplication : public IApplication {
 public:
  void ProcessMessages() override {
    if (gStop && Dlg != nullptr && !Dlg->isStopped) Dlg->btnCancelClick(nullptr);
  }
  void Terminate() override {}
  void SetOnException(std::function<void()>) override {}
  TmainDlg* Dlg = nullptr;
};

// One job: its own window state and its own TImageIO.
class TJob {
 public:
  TJob(const TCliOptions& options, IMessageBox& messages, TTerminalProgress& progress)
      : conversion_(progress), dlg_(Ports(messages)) {
    r_Format_.ItemIndex = options.FormatIndex;
    imgTrackBar_.Position = options.Quality;
    chkIcon_.Checked = options.IconSizes;
    txtName_.Text = options.Pattern;
    application_.Dlg = &dlg_;
    dlg_.FreshRecordPerFile = true;
  }

  TFileResult Convert(const std::string& sourceFolder, const std::string& name, const std::string& outFolder,
                      const std::string& path) {
    conversion_.File = path;
    return dlg_.ConvertFile(sourceFolder, name, outFolder);
  }

 private:
  TMainDlgPorts Ports(IMessageBox& messages) {
    TMainDlgPorts p;
    p.form = &form_;
    p.r_Format = &r_Format_;
    p.imgTrackBar = &imgTrackBar_;
    p.chkIcon = &chkIcon_;
    p.txtName = &txtName_;
    p.txtSave = &txtSave_;
    p.lblStatus = &lblStatus_;
    p.barConversion = &conversion_;
    p.barTotal = &total_;
    p.btnConvert = &btnConvert_;
    p.messages = &messages;
    p.application = &application_;
    return p;
  }

  TValueForm form_;
  TValueRadioGroup r_Format_;
  TValueTrackBar imgTrackBar_;
  TValueCheckGroup chkIcon_;
  TValueEdit txtName_, txtSave_;
  TValueLabel lblStatus_;
  TCliProgressBar conversion_;
  TValueProgressBar total_;
  TValueButton btnConvert_;
  TCliApplication application_;
  TmainDlg dlg_;
};

// ---- planning ---------------------------------------------------------------------------------

struct TPlannedFile {
  std::string Path;          // as given
  std::string SourceFolder;  // "" or ending in a delimiter
  std::string Name;
  std::string OutFolder;
  std::string Target;
};

std::string PathKey(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(IEPathFromUTF8(path), ec);
  if (ec) return path;
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(p, ec);
  return IEPathToUTF8(ec ? p.lexically_normal() : canonical);
}

// Files that share a path (a target, or one's target is another's source)
// must run one after the other in command-line order, so that parallel runs
// end as a serial run does. Returns groups of file indexes, each in order.
std::vector<std::vector<std::size_t>> Chains(const std::vector<TPlannedFile>& files) {
  std::vector<std::size_t> parent(files.size());
  std::iota(parent.begin(), parent.end(), std::size_t{0});
  auto find = [&](std::size_t i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
  };
  std::map<std::string, std::size_t> owner;
  for (std::size_t i = 0; i < files.size(); ++i) {
    for (const std::string& key : {PathKey(files[i].Path), PathKey(files[i].Target)}) {
      const auto [it, fresh] = owner.emplace(key, i);
      if (!fresh) parent[find(i)] = find(it->second);
    }
  }
  std::map<std::size_t, std::vector<std::size_t>> groups;  // by root; members in command-line order
  for (std::size_t i = 0; i < files.size(); ++i) groups[find(i)].push_back(i);
  std::vector<std::vector<std::size_t>> chains;
  for (auto& [root, members] : groups) chains.push_back(std::move(members));
  std::sort(chains.begin(), chains.end(), [](const auto& a, const auto& b) { return a.front() < b.front(); });
  return chains;
}

}  // namespace

void RequestStop() { gStop = true; }

int RunConvert(const TCliOptions& options) {
  const TTargetFormat* format = TargetFormat(options.FormatIndex);
  if (format == nullptr) return kExitUsage;
  IEFileFormatCount();  // fill the registry before the jobs start

  TTerminalProgress progress(options.Progress, static_cast<int>(options.Files.size()));
  std::vector<TPlannedFile> planned;
  int failed = 0, skipped = 0, converted = 0;
  for (const std::string& path : options.Files) {
    if (!IEFileExists(path)) {
      progress.Print(kProgram + path + (IEDirectoryExists(path) ? ": is a folder" : ": no such file"));
      progress.Done();
      ++failed;
      continue;
    }
    TPlannedFile f;
    f.Path = path;
    f.SourceFolder = ExtractFilePath(path);
    f.Name = ExtractFileName(path);
    f.OutFolder = options.OutputDir.empty() ? f.SourceFolder : WithTrailingDelimiter(options.OutputDir);
    f.Target = f.OutFolder + ApplyRenamePattern(options.Pattern, StripExtension(f.Name)) + format->Extension;
    planned.push_back(std::move(f));
  }

  const std::vector<std::vector<std::size_t>> chains = Chains(planned);
  std::vector<TFileResult> results(planned.size());
  std::vector<char> ran(planned.size(), 0);  // one byte each: jobs write their own entries
  TCliMessageBox messages(options.Replace, progress);
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    TJob job(options, messages, progress);
    for (std::size_t c; (c = next++) < chains.size();) {
      for (std::size_t i : chains[c]) {
        if (gStop) return;
        const TPlannedFile& f = planned[i];
        progress.Start(f.Path);
        TFileResult& r = results[i];
        r = job.Convert(f.SourceFolder, f.Name, f.OutFolder, f.Path);
        ran[i] = 1;
        if (r.Status != TFileStatus::Converted && r.Status != TFileStatus::Stopped)
          progress.Print(kProgram + FailureLine(f.Path, r));
        progress.Done();
      }
    }
  };
  const std::size_t jobs = std::clamp<std::size_t>(static_cast<std::size_t>(std::max(options.Jobs, 1)), 1,
                                                   std::max<std::size_t>(chains.size(), 1));
  if (jobs == 1) {
    work();
  } else {
    std::vector<std::thread> threads;
    for (std::size_t j = 0; j < jobs; ++j) threads.emplace_back(work);
    for (std::thread& t : threads) t.join();
  }
  progress.Finish();

  for (std::size_t i = 0; i < planned.size(); ++i) {
    if (!ran[i]) continue;
    switch (results[i].Status) {
      case TFileStatus::Converted: ++converted; break;
      case TFileStatus::Skipped: ++skipped; break;
      case TFileStatus::Stopped: break;
      default: ++failed; break;
    }
  }
  const int total = static_cast<int>(options.Files.size());
  if (options.Summary) {
    std::string line = kProgram + std::to_string(converted) + " of " + std::to_string(total) + " file(s) converted";
    if (failed > 0) line += ", " + std::to_string(failed) + " failed";
    if (skipped > 0) line += ", " + std::to_string(skipped) + " skipped";
    if (gStop) line += ", stopped";
    std::fprintf(stderr, "%s\n", line.c_str());
  }
  if (gStop) return kExitInterrupted;
  return converted == total ? kExitConverted : kExitSomeFailed;
}

int RunInfo(const std::vector<std::string>& files) {
  TImageIO io;
  int status = kExitConverted;
  for (const std::string& path : files) {
    std::string failure;
    if (!IEFileExists(path)) {
      failure = IEDirectoryExists(path) ? "is a folder" : "no such file";
    } else {
      try {
        io.IOParams().SetDefaultParams();
        const int fileType = FindFileFormat(path, false);
        if (fileType == 0) {
          failure = "not an image file (unknown image format)";
        } else {
          io.ParamsFromFileFormat(path, fileType);
          if (io.AbortFlag || io.IOParams().FILETYPE == 0)
            failure = "not an image file" + (io.AbortReason.empty() ? std::string() : " (" + io.AbortReason + ")");
        }
      } catch (const std::exception& e) {
        failure = e.what();
      }
    }
    if (!failure.empty()) {
      std::fflush(stdout);
      std::fprintf(stderr, "%s%s: %s\n", kProgram, path.c_str(), failure.c_str());
      status = kExitSomeFailed;
      continue;
    }
    const TIOParamsVals& p = io.IOParams();
    std::printf("%s: %s, %dx%d, %d bits per sample, %d samples per pixel\n", path.c_str(),
                p.GetFileTypeStr().c_str(), p.WIDTH, p.HEIGHT, p.BITSPERSAMPLE, p.SAMPLESPERPIXEL);
  }
  std::fflush(stdout);
  return status;
}

}  // namespace pravik
