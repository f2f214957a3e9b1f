// pravik-convert: converts image files to one format from the command line,
// through the same batch engine and parameter mapping as the window.
#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <thread>

#include "app/names.h"
#include "app/targets.h"
#include "cli/convert.h"
#include "cli/terminal.h"
#include "imageio/stream.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

#ifndef PRAVIK_VERSION
#define PRAVIK_VERSION "0.0.0"
#endif

namespace {

using namespace pravik;

extern "C" void OnInterrupt(int) {
  RequestStop();
  // A second Ctrl+C ends the program at once.
  std::signal(SIGINT, SIG_DFL);
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "pravik-convert: %s\nRun with --help for more information.\n", message.c_str());
  return kExitUsage;
}

// "64,32,16" or a subset, in any order.
bool ParseIconSizes(const std::string& text, std::array<bool, 3>& boxes) {
  boxes = {false, false, false};
  bool any = false;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string piece = Trim(std::string_view(text).substr(start, comma - start));
    if (piece == "64") boxes[0] = true;
    else if (piece == "32") boxes[1] = true;
    else if (piece == "16") boxes[2] = true;
    else return false;
    any = true;
    start = comma + 1;
  }
  return any;
}

#ifdef _WIN32
// The arguments as UTF-8, whatever the console's code page.
std::vector<std::string> Utf8Arguments() {
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 0; wide != nullptr && i < count; ++i) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? static_cast<std::size_t>(n - 1) : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, s.data(), n, nullptr, nullptr);
    args.push_back(std::move(s));
  }
  LocalFree(wide);
  return args;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv, argv + argc);
#ifdef _WIN32
  arguments = Utf8Arguments();
#endif

  CLI::App app{"Converts image files to one format.", "pravik-convert"};
  app.set_version_flag("--version", "pravik-convert " PRAVIK_VERSION);
  std::string formatName = "JPEG";
  int quality = 100;
  std::string iconSizes = "64,32,16";
  std::string pattern = "*";
  std::string outputDir;
  bool yes = false, noClobber = false, info = false, quiet = false;
  int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::vector<std::string> files;

  app.add_option("-f,--format", formatName,
                 "JPEG, JPEG2000 (also JP2), GIF, PSD, TIFF, BMP, PNG, ICO, PCX, TGA, PXM, WBMP, PS, PDF; "
                 "any case; the window's item names and the extensions work too")
      ->capture_default_str();
  app.add_option("-q,--quality", quality,
                 "0..100, the window's quality bar: JPEG quality, JPEG 2000 rate (N/100), "
                 "PNG compression (9 - N*9/100)")
      ->check(CLI::Range(0, 100))
      ->capture_default_str();
  app.add_option("-s,--icon-sizes", iconSizes, "ICO images: a subset of 64,32,16")->capture_default_str();
  app.add_option("-n,--rename", pattern, "output name; \"*\" stands for the source name without its extension")
      ->capture_default_str();
  app.add_option("-o,--output", outputDir, "output folder (default: the folder of each source file)");
  CLI::Option* yesOption = app.add_flag("-y,--yes", yes, "replace existing outputs");
  CLI::Option* noClobberOption =
      app.add_flag("--no-clobber", noClobber, "never replace; skip (default unless asking on a terminal)");
  yesOption->excludes(noClobberOption);
  app.add_option("-j,--jobs", jobs, "files converted in parallel (default: the number of cores)")
      ->check(CLI::Range(1, 1024));
  app.add_flag("--info", info, "print what each file is, without converting");
  app.add_flag("--quiet", quiet, "no progress");
  app.add_option("FILE", files, "image files")->required();
  app.footer(
      "Each output is named by the rename pattern plus the format's extension (.jpg, .jp2, .gif, .psd, .tiff,\n"
      ".bmp, .png, .ico, .pcx, .tga, .pxm, .wbmp, .ps, .pdf). Every file is converted on its own: outputs do\n"
      "not depend on the other files or on -j.\n"
      "Exit status: 0 every file converted, 1 a file failed or was skipped, 2 usage error.");

  try {
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend() - 1);
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kExitUsage;
  }

  if (info) return RunInfo(files);

  TCliOptions options;
  options.FormatIndex = FindTargetFormat(formatName);
  if (options.FormatIndex < 0)
    return UsageError("unknown format \"" + formatName +
                      "\"; use JPEG, JPEG2000, GIF, PSD, TIFF, BMP, PNG, ICO, PCX, TGA, PXM, WBMP, PS or PDF");
  options.Quality = quality;
  if (!ParseIconSizes(iconSizes, options.IconSizes))
    return UsageError("--icon-sizes takes a subset of 64,32,16, not \"" + iconSizes + "\"");
  options.Pattern = Trim(pattern).empty() ? "*" : pattern;
  outputDir = Trim(outputDir);
  if (!outputDir.empty() && !IEDirectoryExists(outputDir))
    return UsageError("output folder \"" + outputDir + "\" does not exist");
  options.OutputDir = outputDir;
  const bool interactive = IsTerminal(stdin) && IsTerminal(stderr);
  options.Replace = yes ? TReplacePolicy::Yes : (noClobber || !interactive) ? TReplacePolicy::No : TReplacePolicy::Ask;
  options.Jobs = jobs;
  options.Files = files;
  options.Progress = !quiet && IsTerminal(stderr);
  options.Summary = !quiet;

  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  return RunConvert(options);
}
