// Driving PravikConvert.exe from another process: starting it, finding its
// window and controls, making bitmaps to convert and reading them back.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32/control_ids.h"
#include "tests/windows/win_test.h"

namespace pravik::wintest {

struct Process {
  HANDLE handle = nullptr;
  DWORD id = 0;
};

inline Process StartProgram(const std::string& path) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  std::string commandLine = "\"" + path + "\"";
  Process p;
  if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    CloseHandle(info.hThread);
    p.handle = info.hProcess;
    p.id = info.dwProcessId;
  }
  return p;
}

// The exit code, or -1 when the process still runs after the time (it is then ended).
inline int WaitForExit(Process& p, int milliseconds = 20000) {
  if (p.handle == nullptr) return -2;
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(p.handle, static_cast<DWORD>(milliseconds)) == WAIT_OBJECT_0) {
    GetExitCodeProcess(p.handle, &code);
  } else {
    TerminateProcess(p.handle, 99);
    WaitForSingleObject(p.handle, 5000);
  }
  CloseHandle(p.handle);
  p.handle = nullptr;
  return static_cast<int>(code);
}

inline HWND FindConverterWindow(DWORD process, bool visible = true) {
  HWND found = nullptr;
  for (HWND hwnd = FindWindowW(win32::kWindowClass, win32::kWindowCaption); hwnd != nullptr;
       hwnd = FindWindowExW(nullptr, hwnd, win32::kWindowClass, win32::kWindowCaption)) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if ((process == 0 || pid == process) && (!visible || IsWindowVisible(hwnd))) found = hwnd;
  }
  return found;
}

inline HWND WaitForConverterWindow(DWORD process, int milliseconds = 20000) {
  HWND found = nullptr;
  WaitFor([&] { return (found = FindConverterWindow(process)) != nullptr; }, milliseconds);
  return found;
}

// A control anywhere below the window (tab sheets hold some of them).
inline HWND FindControl(HWND window, int id) {
  for (HWND child : Children(window))
    if (GetDlgCtrlID(child) == id) return child;
  return nullptr;
}

// A control's place and size in its parent's client area.
inline RECT PlaceInParent(HWND control) {
  RECT rc;
  GetWindowRect(control, &rc);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rc), 2);
  return rc;
}

inline LRESULT Send(HWND hwnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_ABORTIFHUNG, 10000, &result);
  return static_cast<LRESULT>(result);
}

// Presses a button without waiting for what it starts (a batch, a modal box).
inline void Click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

inline void SetText(HWND control, const std::string& text) {
  SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG, 10000,
                      nullptr);
}

// ---- 24-bit bitmaps --------------------------------------------------------------------------

struct Pixels {
  int width = 0, height = 0;
  std::vector<std::uint8_t> bgr;  // rows top-down, 3 bytes a pixel
  bool operator==(const Pixels&) const = default;
};

inline Pixels Pattern(int width, int height, int seed) {
  Pixels p{width, height, std::vector<std::uint8_t>(static_cast<size_t>(width) * height * 3)};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      std::uint8_t* px = &p.bgr[(static_cast<size_t>(y) * width + x) * 3];
      px[0] = static_cast<std::uint8_t>(x * 7 + seed);
      px[1] = static_cast<std::uint8_t>(y * 5 + seed * 3);
      px[2] = static_cast<std::uint8_t>((x ^ y) + seed * 11);
    }
  return p;
}

inline void WriteBmp(const std::string& path, const Pixels& p) {
  const int stride = (p.width * 3 + 3) & ~3;
  const std::uint32_t imageSize = static_cast<std::uint32_t>(stride) * p.height;
  std::string data(54 + imageSize, '\0');
  auto put16 = [&](size_t at, std::uint16_t v) { memcpy(&data[at], &v, 2); };
  auto put32 = [&](size_t at, std::uint32_t v) { memcpy(&data[at], &v, 4); };
  data[0] = 'B';
  data[1] = 'M';
  put32(2, static_cast<std::uint32_t>(data.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(p.width));
  put32(22, static_cast<std::uint32_t>(p.height));
  put16(26, 1);
  put16(28, 24);
  put32(34, imageSize);
  for (int y = 0; y < p.height; ++y)
    memcpy(&data[54 + static_cast<size_t>(p.height - 1 - y) * stride], &p.bgr[static_cast<size_t>(y) * p.width * 3],
           static_cast<size_t>(p.width) * 3);
  WriteFile(path, data);
}

// Reads an uncompressed 24-bit bitmap (either row order); empty for anything else.
inline Pixels ReadBmp24(const std::string& path) {
  const std::string data = ReadFile(path);
  if (data.size() < 54 || data[0] != 'B' || data[1] != 'M') return {};
  auto get16 = [&](size_t at) {
    std::uint16_t v;
    memcpy(&v, &data[at], 2);
    return v;
  };
  auto get32 = [&](size_t at) {
    std::int32_t v;
    memcpy(&v, &data[at], 4);
    return v;
  };
  const std::int32_t offset = get32(10), width = get32(18), rawHeight = get32(22);
  if (get16(28) != 24 || get32(30) != 0 || width <= 0 || rawHeight == 0) return {};
  const int height = rawHeight < 0 ? -rawHeight : rawHeight;
  const int stride = (width * 3 + 3) & ~3;
  if (data.size() < static_cast<size_t>(offset) + static_cast<size_t>(stride) * height) return {};
  Pixels p{width, height, std::vector<std::uint8_t>(static_cast<size_t>(width) * height * 3)};
  for (int y = 0; y < height; ++y) {
    const int stored = rawHeight > 0 ? height - 1 - y : y;
    memcpy(&p.bgr[static_cast<size_t>(y) * width * 3], &data[offset + static_cast<size_t>(stored) * stride],
           static_cast<size_t>(width) * 3);
  }
  return p;
}

}  // namespace pravik::wintest
