#include "fakes.h"

#include <algorithm>
#include <atomic>
#include <sstream>
#include <stdexcept>

#include "app/names.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/stream.h"

namespace pravik::testing {

// ---- scratch folder -------------------------------------------------------------------------

TScratchDir::TScratchDir() {
  static std::atomic<int> counter{0};
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = "pravik-app-";
  if (info != nullptr) name += std::string(info->test_suite_name()) + "-" + info->name();
  for (char& c : name)
    if (c == '/') c = '_';
  dir_ = std::filesystem::temp_directory_path() / (name + "-" + std::to_string(counter++));
  std::filesystem::remove_all(dir_);
  std::filesystem::create_directories(dir_);
}

TScratchDir::~TScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

std::string TScratchDir::Folder() const { return WithTrailingDelimiter(dir_.string()); }

void TScratchDir::Write(const std::string& name, const std::string& bytes) const {
  std::ofstream f(dir_ / name, std::ios::binary);
  f << bytes;
}

std::string TScratchDir::Read(const std::string& name) const {
  std::ifstream f(dir_ / name, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool TScratchDir::Exists(const std::string& name) const { return std::filesystem::exists(dir_ / name); }

std::vector<std::string> TScratchDir::Names() const {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir_)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// ---- fake codecs ------------------------------------------------------------------------------

namespace {

void FakeRead(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool) {
  std::string bytes(static_cast<std::size_t>(stream.GetSize()), '\0');
  stream.Read(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  const char command = bytes.size() > 3 ? bytes[2] : '?';
  const char pixel = bytes.size() > 3 ? bytes[3] : '?';
  switch (command) {
    case 'A':
      progress.Fail("broken header");
      return;
    case 'X':
      throw EReadError("cannot read the disk");
    case 'S':
      for (int k = 1; k <= 10; ++k) {
        progress.Report(k * 10);
        if (progress.Aborted()) return;
      }
      break;
    case 'B':
      params.BITSPERSAMPLE = 1;
      break;
    default:
      break;
  }
  bitmap.Allocate(2, 1, ie24RGB);
  std::fill_n(bitmap.GetScanLine(0), 6, static_cast<std::uint8_t>(pixel));
  params.WIDTH = 2;
  params.HEIGHT = 1;
  TFakeCodecs::Loaded().push_back(pixel);
}

void FakeWrite(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  const char pixel = static_cast<char>(bitmap.GetScanLine(0)[0]);
  if (pixel == 'F') return progress.Fail("no room on device");
  if (pixel == 'T') throw EWriteError("write refused");
  std::ostringstream text;
  text << "pixel=" << pixel << " bps=" << params.BITSPERSAMPLE << " quality=" << params.JPEG_QUALITY
       << " png=" << params.PNG_COMPRESSION << "\n";
  const std::string s = text.str();
  stream.Write(s.data(), static_cast<std::int64_t>(s.size()));
  if (pixel == 'W') {
    for (int k = 1; k <= 10; ++k) {
      progress.Report(k * 10);
      if (progress.Aborted()) return;
    }
  } else {
    progress.Report(50);
  }
  TFakeCodecs::Written().push_back(pixel);
}

std::vector<int> FakeSlots() {
  std::vector<int> ids{ioBMP};
  for (int i = 0; i < kTargetFormatCount; ++i) ids.push_back(TargetFormat(i)->FileType);
  return ids;
}

}  // namespace

TFakeCodecs::TFakeCodecs() {
  Loaded().clear();
  Written().clear();
  for (int id : FakeSlots()) {
    saved_.push_back(IECodecFor(id));
    IECodecFor(id).Write = FakeWrite;
  }
  IECodecFor(ioBMP).Read = FakeRead;
}

TFakeCodecs::~TFakeCodecs() {
  const std::vector<int> ids = FakeSlots();
  for (std::size_t i = ids.size(); i-- > 0;) IECodecFor(ids[i]) = saved_[i];
}

std::string TFakeCodecs::Source(char command, char pixel) {
  return std::string("BM") + command + pixel + std::string(16, '.');
}

std::vector<char>& TFakeCodecs::Loaded() {
  static std::vector<char> v;
  return v;
}

std::vector<char>& TFakeCodecs::Written() {
  static std::vector<char> v;
  return v;
}

}  // namespace pravik::testing
