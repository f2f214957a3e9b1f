// The command line's terminal: whether a stream is a terminal, and the
// progress line on stderr (the current file's bar and the whole run's bar)
// that failure lines and questions print above. Safe to use from every job.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

namespace pravik {

bool IsTerminal(std::FILE* stream);

class TTerminalProgress {
 public:
  // Draws nothing unless enabled; lines are printed either way.
  TTerminalProgress(bool enabled, int total) : enabled_(enabled), total_(total) {}

  void Start(const std::string& name);               // a job begins a file
  void Percent(const std::string& name, int per);    // a job's file is per cent done
  void Done();                                       // a file ended, whatever its outcome
  void Print(const std::string& line);               // one line on stderr, above the bar
  // Runs f with the bar cleared and no other output in between (for questions).
  template <class F>
  auto Exclusive(F&& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    ClearLocked();
    struct Redraw {
      TTerminalProgress* self;
      ~Redraw() { self->DrawLocked(true); }
    } redraw{this};
    return f();
  }
  void Finish();  // removes the bar

 private:
  void DrawLocked(bool force);
  void ClearLocked();

  std::mutex mutex_;
  bool enabled_;
  bool finished_ = false;
  int total_;
  int done_ = 0;
  std::string name_;
  int per_ = 0;
  std::size_t shown_ = 0;  // characters of the bar on screen
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace pravik
