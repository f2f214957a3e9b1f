#include "cli/terminal.h"

#include <algorithm>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace pravik {

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}

namespace {

constexpr std::size_t kWidth = 79;  // stays on one line of an 80-column terminal

std::string Bar(int per, int width) {
  const int filled = std::clamp(per, 0, 100) * width / 100;
  std::string bar(1, '[');
  bar.append(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(width - filled), '-');
  bar += ']';
  return bar;
}

std::string Padded(int value, std::size_t width) {
  std::string s = std::to_string(value);
  return std::string(s.size() < width ? width - s.size() : 0, ' ') + s;
}

}  // namespace

void TTerminalProgress::Start(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  name_ = name;
  per_ = 0;
  DrawLocked(false);
}

void TTerminalProgress::Percent(const std::string& name, int per) {
  std::lock_guard<std::mutex> lock(mutex_);
  name_ = name;
  per_ = per;
  DrawLocked(false);
}

void TTerminalProgress::Done() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++done_;
  DrawLocked(true);
}

void TTerminalProgress::Print(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  ClearLocked();
  std::fprintf(stderr, "%s\n", line.c_str());
  DrawLocked(true);
}

void TTerminalProgress::Finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  ClearLocked();
  finished_ = true;
}

void TTerminalProgress::ClearLocked() {
  if (!enabled_ || shown_ == 0) return;
  std::fprintf(stderr, "\r%s\r", std::string(shown_, ' ').c_str());
  std::fflush(stderr);
  shown_ = 0;
}

void TTerminalProgress::DrawLocked(bool force) {
  if (!enabled_ || finished_) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && shown_ != 0 && now - last_ < std::chrono::milliseconds(100)) return;
  last_ = now;
  const int total = std::max(total_, 1);
  std::string line = Bar(per_, 16) + Padded(per_, 4) + "%  " + Bar(done_ * 100 / total, 16) + " " +
                     std::to_string(done_) + "/" + std::to_string(total_) + "  ";
  if (line.size() < kWidth) {
    const std::size_t room = kWidth - line.size();
    line += name_.size() <= room ? name_ : "..." + name_.substr(name_.size() - (room > 3 ? room - 3 : 0));
  }
  line.resize(std::min(line.size(), kWidth));
  const std::size_t padding = shown_ > line.size() ? shown_ - line.size() : 0;
  std::fprintf(stderr, "\r%s%s", line.c_str(), std::string(padding, ' ').c_str());
  std::fflush(stderr);
  shown_ = line.size() + padding;
}

}  // namespace pravik
