// One converter at a time. The first instance owns a named mutex derived from
// the application's title and records its window in a small named shared
// block; a later instance finds the mutex taken, asks the recorded window to
// come to the front, and ends.
#pragma once

#include <windows.h>

#include <string>

namespace pravik::win32 {

// The message a later instance posts to the running window: restore, raise,
// make foreground.
UINT ActivateMessage();

class TSingleInstance {
 public:
  explicit TSingleInstance(const std::wstring& title);
  ~TSingleInstance();
  TSingleInstance(const TSingleInstance&) = delete;
  TSingleInstance& operator=(const TSingleInstance&) = delete;

  // True when another instance held the mutex first.
  bool AlreadyRunning() const { return alreadyRunning_; }
  // First instance: records its window where a later one looks for it.
  void RecordWindow(HWND hwnd);
  // Later instance: asks the running one to come to the front.
  void ActivateRunning() const;

 private:
  std::wstring name_;
  HANDLE mutex_ = nullptr;
  HANDLE mapping_ = nullptr;
  bool alreadyRunning_ = false;
};

}  // namespace pravik::win32
