// pravik-convert as scripts run it: options, output names, the replace
// policy, exit statuses, --info, and parallel runs that match serial ones.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/targets.h"
#include "imageio/codec_table.h"
#include "imageio/formats.h"

namespace pravik {
namespace {

namespace fs = std::filesystem;

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string ReadAll(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void WriteAll(const fs::path& p, const std::string& bytes) {
  std::ofstream f(p, std::ios::binary);
  f << bytes;
}

struct RunResult {
  int Status;
  std::string Out, Err;
};

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / (std::string("pravik-cli-") + info->test_suite_name() + "-" + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Runs pravik-convert with stdin from /dev/null (never a terminal).
  RunResult Run(const std::vector<std::string>& args) {
    std::string cmd = Quote(PRAVIK_CLI);
    for (const std::string& a : args) cmd.append(" ").append(Quote(a));
    const fs::path out = dir_ / ".stdout", err = dir_ / ".stderr";
    cmd += " </dev/null >";
    cmd += Quote(out.string());
    cmd += " 2>";
    cmd += Quote(err.string());
    const int raw = std::system(cmd.c_str());
    RunResult r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadAll(out), ReadAll(err)};
    fs::remove(out);
    fs::remove(err);
    return r;
  }

  fs::path Make(const std::string& sub) {
    fs::create_directories(dir_ / sub);
    return dir_ / sub;
  }
  static std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  static int Lines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

  fs::path dir_;
};

TEST_F(Cli, HelpAndVersion) {
  RunResult help = Run({"--help"});
  EXPECT_EQ(help.Status, 0);
  EXPECT_NE(help.Out.find("--no-clobber"), std::string::npos);
  RunResult version = Run({"--version"});
  EXPECT_EQ(version.Status, 0);
  EXPECT_EQ(version.Out.rfind("pravik-convert ", 0), 0u) << version.Out;
}

TEST_F(Cli, UsageErrorsExitWithTwo) {
  const fs::path src = dir_ / "a.bmp";
  WriteAll(src, "BM");
  const std::string a = src.string();
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"-f", "webp", a},
      {"-f", "", a},
      {"-q", "101", a},
      {"-q", "-1", a},
      {"-q", "high", a},
      {"-s", "12", a},
      {"-s", "64,,16", a},
      {"-s", "", a},
      {"-y", "--no-clobber", a},
      {"--bogus", a},
      {"-j", "0", a},
      {"-o", (dir_ / "missing").string(), a},
  };
  for (const auto& args : cases) {
    std::string shown;
    for (const auto& s : args) shown += s + " ";
    RunResult r = Run(args);
    EXPECT_EQ(r.Status, 2) << shown;
    EXPECT_FALSE(r.Err.empty()) << shown;
  }
  EXPECT_EQ(Names(dir_), (std::vector<std::string>{"a.bmp"}));
}

TEST_F(Cli, NotAnImageFileFailsWithOneLine) {
  const fs::path notes = dir_ / "notes.txt";
  WriteAll(notes, "just some notes, no picture here\n");
  RunResult r = Run({"--quiet", "-f", "png", notes.string()});
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err.rfind("pravik-convert: " + notes.string() + ": not an image file", 0), 0u) << r.Err;
  EXPECT_EQ(Lines(r.Err), 1);
  EXPECT_EQ(Names(dir_), (std::vector<std::string>{"notes.txt"}));

  RunResult missing = Run({"--quiet", (dir_ / "nothing.png").string(), dir_.string()});
  EXPECT_EQ(missing.Status, 1);
  EXPECT_NE(missing.Err.find("nothing.png: no such file"), std::string::npos) << missing.Err;
  EXPECT_NE(missing.Err.find(": is a folder"), std::string::npos) << missing.Err;

  // Without --quiet a summary line follows.
  RunResult summary = Run({"-f", "png", notes.string()});
  EXPECT_NE(summary.Err.find("0 of 1 file(s) converted, 1 failed"), std::string::npos) << summary.Err;
}

// The replace check comes before the source is read, so the output name of
// every format shows in the skip line even where no codec is built.
TEST_F(Cli, OutputNamesAndNoClobber) {
  const fs::path out = Make("out");
  const fs::path src = dir_ / "photo.old.bmp";
  WriteAll(src, "not really a bitmap");
  const std::pair<const char*, const char*> formats[] = {
      {"JPEG", ".jpg"}, {"JPEG2000", ".jp2"}, {"jp2", ".jp2"},  {"GIF", ".gif"},   {"psd", ".psd"},
      {"TIFF", ".tiff"}, {"BMP", ".bmp"},     {"PNG", ".png"},  {"ico", ".ico"},   {"PCX", ".pcx"},
      {"TGA", ".tga"},   {"PXM", ".pxm"},     {"WBMP", ".wbmp"}, {"PS", ".ps"},     {"PostScript (PS)", ".ps"},
      {"pdf", ".pdf"},   {"JPEG 2000", ".jp2"},
  };
  for (const auto& [name, ext] : formats) {
    const fs::path target = out / (std::string("x_photo.old") + ext);
    WriteAll(target, "keep me");
    for (const char* policy : {"--no-clobber", ""}) {  // no terminal: never replace either way
      std::vector<std::string> args{"--quiet", "-f", name, "-n", "x_*", "-o", out.string(), src.string()};
      if (*policy) args.insert(args.begin(), policy);
      RunResult r = Run(args);
      EXPECT_EQ(r.Status, 1) << name;
      EXPECT_EQ(r.Err, "pravik-convert: " + src.string() + ": skipped, " + target.string() + " exists\n") << name;
      EXPECT_EQ(ReadAll(target), "keep me");
    }
    fs::remove(target);
  }
  EXPECT_TRUE(fs::is_empty(out));
}

TEST_F(Cli, DefaultOutputFolderIsTheSourceFolder) {
  const fs::path sub = Make("sub");
  WriteAll(sub / "a.bmp", "not really a bitmap");
  WriteAll(sub / "a.png", "keep me");
  RunResult r = Run({"--quiet", "-f", "png", (sub / "a.bmp").string()});
  EXPECT_EQ(r.Err, "pravik-convert: " + (sub / "a.bmp").string() + ": skipped, " + (sub / "a.png").string() +
                       " exists\n");
}

// --yes replaces, but a source that cannot be converted leaves the existing
// output as it was.
TEST_F(Cli, YesNeverDestroysAnOutputForAFailedFile) {
  WriteAll(dir_ / "a.txt", "plain words");
  WriteAll(dir_ / "a.png", "keep me");
  RunResult r = Run({"--quiet", "-y", "-f", "png", (dir_ / "a.txt").string()});
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("not an image file"), std::string::npos);
  EXPECT_EQ(ReadAll(dir_ / "a.png"), "keep me");
  EXPECT_EQ(Names(dir_), (std::vector<std::string>{"a.png", "a.txt"}));
}

TEST_F(Cli, InfoDescribesWithoutConverting) {
  WriteAll(dir_ / "notes.txt", "plain words");
  const fs::path sample = fs::path(PRAVIK_SHARED_DIR) / "corpus" / "pillow" / "01r_00.pcx";
  if (!fs::exists(sample)) GTEST_SKIP() << "no corpus";
  fs::copy_file(sample, dir_ / "s.pcx");
  RunResult r = Run({"--info", (dir_ / "notes.txt").string(), (dir_ / "s.pcx").string()});
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("notes.txt: not an image file"), std::string::npos) << r.Err;
  if (IECodecFor(ioPCX).Read != nullptr) {
    EXPECT_EQ(Lines(r.Err), 1);
    EXPECT_NE(r.Out.find((dir_ / "s.pcx").string() + ": PaintBrush (PCX)"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("bits per sample"), std::string::npos);
  } else {
    EXPECT_NE(r.Err.find("s.pcx: not an image file (PCX support is not built)"), std::string::npos) << r.Err;
    EXPECT_EQ(r.Out, "");
  }
  EXPECT_EQ(Names(dir_), (std::vector<std::string>{"notes.txt", "s.pcx"}));
}

// ---- with real codecs ------------------------------------------------------------------------

// A target whose writer is built and whose output carries no clock time.
const char* WritableFormat() {
  for (const char* name : {"BMP", "PXM", "PNG", "TIFF", "GIF", "PCX", "WBMP", "JPEG", "JPEG2000", "PSD", "ICO"}) {
    const TTargetFormat* t = TargetFormat(FindTargetFormat(name));
    if (IECodecFor(t->FileType).Write != nullptr) return name;
  }
  return nullptr;
}

// Small, well-formed samples of the corpus, copied with collision-free names.
std::vector<std::string> CopySamples(const fs::path& to) {
  const fs::path corpus = fs::path(PRAVIK_SHARED_DIR) / "corpus" / "pillow";
  std::vector<fs::path> picks;
  if (fs::exists(corpus)) {
    for (const auto& e : fs::directory_iterator(corpus)) {
      const std::string n = e.path().filename().string();
      if (!e.is_regular_file() || e.file_size() > 100000 || n.find("crash") != std::string::npos ||
          n.find("oom") != std::string::npos || n.find("timeout") != std::string::npos || n.rfind("LICENSE", 0) == 0)
        continue;
      picks.push_back(e.path());
    }
  }
  std::sort(picks.begin(), picks.end());
  if (picks.size() > 60) picks.resize(60);
  std::vector<std::string> files;
  for (std::size_t i = 0; i < picks.size(); ++i) {
    fs::path dest = to / std::string("s").append(std::to_string(i));
    dest += picks[i].extension();
    fs::copy_file(picks[i], dest);
    files.push_back(dest.string());
  }
  return files;
}

TEST_F(Cli, ParallelRunsMatchSerialRuns) {
  const char* format = WritableFormat();
  if (format == nullptr) GTEST_SKIP() << "no writer is built yet";
  const fs::path src = Make("src");
  std::vector<std::string> files = CopySamples(src);
  if (files.empty()) GTEST_SKIP() << "no corpus";
  // Sources whose outputs collide ("same.a", "same.b"): with -y the later one
  // wins, in every run.
  const std::size_t samples = files.size();
  for (std::size_t i = 0; i < samples; i += std::max<std::size_t>(samples / 4, 1)) {
    const fs::path dest = src / std::string("same.").append(std::to_string(i));
    fs::copy_file(files[i], dest);
    files.push_back(dest.string());
  }

  auto convert = [&](const char* jobs, const std::string& outName) {
    const fs::path out = Make(outName);
    std::vector<std::string> args{"--quiet", "-y", "-f", format, "-n", "*", "-j", jobs, "-o", out.string()};
    args.insert(args.end(), files.begin(), files.end());
    return Run(args);
  };
  const RunResult serial = convert("1", "serial");
  const RunResult parallel = convert("4", "parallel");
  const std::vector<std::string> names = Names(dir_ / "serial");
  if (names.empty()) GTEST_SKIP() << "no sample could be read with the codecs built so far";
  EXPECT_EQ(serial.Status, parallel.Status);
  EXPECT_EQ(Lines(serial.Err), Lines(parallel.Err));
  ASSERT_EQ(names, Names(dir_ / "parallel"));
  for (const std::string& n : names) EXPECT_TRUE(ReadAll(dir_ / "serial" / n) == ReadAll(dir_ / "parallel" / n)) << n;

  // Every file that converted converts again on its own: exit status 0.
  std::vector<std::string> good;
  for (const std::string& f : files) {
    const std::string stem = fs::path(f).stem().string();
    if (std::find_if(names.begin(), names.end(), [&](const std::string& n) { return fs::path(n).stem() == stem; }) !=
            names.end() &&
        stem.rfind("same", 0) != 0)
      good.push_back(f);
  }
  ASSERT_FALSE(good.empty());
  const fs::path again = Make("again");
  std::vector<std::string> args{"--quiet", "-f", format, "-o", again.string()};
  args.insert(args.end(), good.begin(), good.end());
  RunResult ok = Run(args);
  EXPECT_EQ(ok.Status, 0) << ok.Err;
  EXPECT_EQ(ok.Err, "");
}

}  // namespace
}  // namespace pravik
