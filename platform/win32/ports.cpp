#include "platform/win32/ports.h"

#include <cstring>

#include "platform/win32/text.h"

namespace pravik::win32 {

namespace {

// The extension that wrote the handoff may hold the clipboard a moment longer.
bool OpenClipboardSoon() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (OpenClipboard(nullptr)) return true;
    Sleep(10);
  }
  return false;
}

}  // namespace

std::string TClipboard::GetTextBlock() {
  if (!OpenClipboardSoon()) return {};
  std::string text;
  if (HANDLE data = GetClipboardData(CF_TEXT)) {
    if (auto block = static_cast<const char*>(GlobalLock(data))) {
      size_t size = GlobalSize(data);
      text = Narrow(Widen(std::string_view(block, strnlen(block, size)), CP_ACP));
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

void TClipboard::Clear() {
  if (!OpenClipboardSoon()) return;
  EmptyClipboard();
  CloseClipboard();
}

int TMessageBoxes::ShowMessage(const std::string& text, const std::string& caption, int flags) {
  HWND owner = owner_ != nullptr && IsWindowVisible(owner_) ? owner_ : nullptr;
  return ::MessageBoxW(owner, Widen(text).c_str(), Widen(caption).c_str(), static_cast<UINT>(flags));
}

bool TApplication::Dispatch(MSG& msg) {
  if (msg.message == WM_QUIT) return false;
  if (main_ == nullptr || !IsDialogMessageW(main_, &msg)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

void TApplication::ProcessMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (!Dispatch(msg)) {
      terminated_ = true;
      break;
    }
  }
}

void TApplication::Run() {
  MSG msg;
  while (!terminated_) {
    if (GetMessageW(&msg, nullptr, 0, 0) <= 0) break;
    Dispatch(msg);
  }
}

void TApplication::OnException() {
  // The handler itself must not raise: that would end the program without
  // its finishing steps.
  try {
    if (onException_) {
      onException_();
      return;
    }
  } catch (...) {
  }
  terminated_ = true;
}

}  // namespace pravik::win32
