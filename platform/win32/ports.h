// The platform ports of the batch engine on Win32: the clipboard, message
// boxes and the application object (message loop, processing messages during
// a batch, termination, the handler for exceptions that escape a handler).
// Texts cross the ports as UTF-8.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "app/ports.h"

namespace pravik::win32 {

class TClipboard final : public IClipboard {
 public:
  // The CF_TEXT block whole, converted from the ANSI code page up to its
  // first zero byte (the engine's text ends there); empty without text.
  std::string GetTextBlock() override;
  void Clear() override;
};

class TMessageBoxes final : public IMessageBox {
 public:
  // Boxes are owned by the window while it is visible, so that they stay in
  // front of it and keep it disabled.
  void SetOwner(HWND owner) { owner_ = owner; }
  int ShowMessage(const std::string& text, const std::string& caption, int flags) override;

 private:
  HWND owner_ = nullptr;
};

class TApplication final : public IApplication {
 public:
  // The window whose dialog keys (Tab, Enter) the loops handle.
  void SetMainWindow(HWND hwnd) { main_ = hwnd; }

  void ProcessMessages() override;
  void Terminate() override { terminated_ = true; }
  void SetOnException(std::function<void()> handler) override { onException_ = std::move(handler); }

  bool Terminated() const { return terminated_; }
  // Runs the message loop until termination is requested (or WM_QUIT comes).
  void Run();
  // Calls a handler; what escapes it goes to the exception handler, or ends
  // the program when none is installed.
  template <typename Handler>
  void Guard(Handler&& handler) {
    try {
      handler();
    } catch (...) {
      OnException();
    }
  }

 private:
  bool Dispatch(MSG& msg);  // false for WM_QUIT
  void OnException();

  HWND main_ = nullptr;
  bool terminated_ = false;
  std::function<void()> onException_;
};

}  // namespace pravik::win32
