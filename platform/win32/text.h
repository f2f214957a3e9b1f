// Text between the batch engine (UTF-8) and Windows (UTF-16, and 8-bit text
// in the ANSI code page on the clipboard).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace pravik::win32 {

inline std::wstring Widen(std::string_view text, UINT codePage = CP_UTF8) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

inline std::string Narrow(std::wstring_view text, UINT codePage = CP_UTF8) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), narrow.data(), n, nullptr, nullptr);
  return narrow;
}

inline std::wstring GetText(HWND hwnd) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

}  // namespace pravik::win32
