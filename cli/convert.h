// pravik-convert's run: the files, the jobs that convert them through the
// batch engine, and the exit status.
//
// Each job has its own TImageIO, and every file starts from a freshly
// defaulted parameter record, as a one-file batch in the window does: the
// window's carry-over of a reader's values into the next writer would make an
// output depend on which file its job converted before. Files that share a
// path (the same target, or one's target is another's source) run in
// command-line order in one job. So the output of -j N is the output of -j 1.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace pravik {

enum class TReplacePolicy { Ask, Yes, No };

struct TCliOptions {
  int FormatIndex = 0;  // r_Format index
  int Quality = 100;    // imgTrackBar position
  std::array<bool, 3> IconSizes{true, true, true};
  std::string Pattern = "*";
  std::string OutputDir;  // "" = each source's folder
  TReplacePolicy Replace = TReplacePolicy::No;
  int Jobs = 1;
  bool Progress = false;  // draw the bars on stderr
  bool Summary = true;    // a last line with the counts
  std::vector<std::string> Files;
};

// Exit statuses.
inline constexpr int kExitConverted = 0;    // every file converted
inline constexpr int kExitSomeFailed = 1;   // a file failed or was skipped
inline constexpr int kExitUsage = 2;        // bad options
inline constexpr int kExitInterrupted = 130;

// Converts the files; returns the exit status.
int RunConvert(const TCliOptions& options);
// Prints what each file is on stdout; returns the exit status.
int RunInfo(const std::vector<std::string>& files);

// Stops the running jobs at their next progress point (from a signal handler).
void RequestStop();

}  // namespace pravik
