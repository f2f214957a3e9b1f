#include "platform/win32/single_instance.h"

#include <cstdint>

namespace pravik::win32 {

namespace {

// Kernel object names may not hold "\" except after the namespace prefix.
std::wstring ObjectName(std::wstring title) {
  for (wchar_t& c : title)
    if (c == L'\\') c = L'_';
  return L"Local\\" + title + L".OnlyOne";
}

}  // namespace

UINT ActivateMessage() {
  static const UINT message = RegisterWindowMessageW(L"PravikConvert.Activate");
  return message;
}

TSingleInstance::TSingleInstance(const std::wstring& title) : name_(ObjectName(title)) {
  mutex_ = CreateMutexW(nullptr, TRUE, name_.c_str());
  alreadyRunning_ = mutex_ != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
}

TSingleInstance::~TSingleInstance() {
  if (mapping_ != nullptr) CloseHandle(mapping_);
  if (mutex_ != nullptr) {
    if (!alreadyRunning_) ReleaseMutex(mutex_);
    CloseHandle(mutex_);
  }
}

void TSingleInstance::RecordWindow(HWND hwnd) {
  if (alreadyRunning_) return;
  mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(std::uint64_t),
                                (name_ + L".Window").c_str());
  if (mapping_ == nullptr) return;
  if (auto* slot = static_cast<std::uint64_t*>(MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, sizeof(std::uint64_t)))) {
    *slot = reinterpret_cast<std::uintptr_t>(hwnd);
    UnmapViewOfFile(slot);
  }
}

void TSingleInstance::ActivateRunning() const {
  HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, (name_ + L".Window").c_str());
  if (mapping == nullptr) return;  // the first instance has no window yet
  HWND hwnd = nullptr;
  if (auto* slot = static_cast<const std::uint64_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(std::uint64_t)))) {
    hwnd = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(*slot));
    UnmapViewOfFile(slot);
  }
  CloseHandle(mapping);
  if (hwnd == nullptr || !IsWindow(hwnd)) return;
  // This process was just started by the user and may hand the foreground on.
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  AllowSetForegroundWindow(pid);
  PostMessageW(hwnd, ActivateMessage(), 0, 0);
}

}  // namespace pravik::win32
