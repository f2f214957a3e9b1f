// Helpers for the Windows tests: registry reads, the clipboard, finding and
// answering message boxes and other windows, files and processes.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace pravik::wintest {

inline bool KeyExists(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// A string value, or "<missing>" when the key or the value is not there.
inline std::string RegString(HKEY root, const std::string& path, const char* name = nullptr) {
  char buffer[2048];
  DWORD size = sizeof buffer;
  if (RegGetValueA(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
    return "<missing>";
  return buffer;
}

inline void SetRegString(HKEY root, const std::string& path, const char* name, const std::string& value) {
  RegSetKeyValueA(root, path.c_str(), name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

inline void DeleteKeyTree(HKEY root, const std::string& path) {
  RegDeleteTreeA(root, path.c_str());
  RegDeleteKeyA(root, path.c_str());
}

// Opening can fail for a moment while another process holds the clipboard.
inline bool OpenClipboardPatiently() {
  for (int i = 0; i < 100; ++i) {
    if (OpenClipboard(nullptr)) return true;
    Sleep(20);
  }
  return false;
}

inline std::string ClipboardText() {
  std::string text = "<no text>";
  if (!OpenClipboardPatiently()) return "<not opened>";
  if (HANDLE data = GetClipboardData(CF_TEXT)) {
    if (auto p = static_cast<const char*>(GlobalLock(data))) {
      text = p;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

inline void SetClipboardText(const std::string& text) {
  if (!OpenClipboardPatiently()) return;
  EmptyClipboard();
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  memcpy(GlobalLock(mem), text.c_str(), text.size() + 1);
  GlobalUnlock(mem);
  if (SetClipboardData(CF_TEXT, mem) == nullptr) GlobalFree(mem);
  CloseClipboard();
}

inline void EmptyTheClipboard() {
  if (!OpenClipboardPatiently()) return;
  EmptyClipboard();
  CloseClipboard();
}

// Polls until the condition holds or the time is up; true when it held.
inline bool WaitFor(const std::function<bool()>& condition, int milliseconds = 20000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    Sleep(10);
  }
}

inline std::string WindowText(HWND hwnd) {
  char buffer[1024] = {};
  // WM_GETTEXT with a time limit: a window of a hung process must not hang the test.
  DWORD_PTR result = 0;
  SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000,
                      &result);
  return buffer;
}

inline std::string ClassName(HWND hwnd) {
  char buffer[256] = {};
  GetClassNameA(hwnd, buffer, sizeof buffer);
  return buffer;
}

inline std::vector<HWND> TopWindowsOf(DWORD process) {
  std::vector<HWND> found;
  struct Search {
    DWORD process;
    std::vector<HWND>* found;
  } search{process, &found};
  EnumWindows(
      [](HWND hwnd, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid == s->process && IsWindowVisible(hwnd)) s->found->push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return found;
}

inline std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> found;
  EnumChildWindows(
      parent,
      [](HWND hwnd, LPARAM p) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(p)->push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// A message box as the user sees it.
struct MessageBoxSeen {
  HWND hwnd = nullptr;
  std::string caption;
  std::string text;                  // the static texts, joined by "\n"
  std::vector<std::string> buttons;  // button captions in creation order
  bool hasIcon = false;
};

inline MessageBoxSeen ReadMessageBox(HWND hwnd) {
  MessageBoxSeen box;
  box.hwnd = hwnd;
  box.caption = WindowText(hwnd);
  for (HWND child : Children(hwnd)) {
    std::string cls = ClassName(child);
    if (_stricmp(cls.c_str(), "Button") == 0) {
      box.buttons.push_back(WindowText(child));
    } else if (_stricmp(cls.c_str(), "Static") == 0) {
      if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        // Some systems keep a hidden icon control in every box.
        box.hasIcon = box.hasIcon || (IsWindowVisible(child) &&
                                      SendMessageA(child, STM_GETICON, 0, 0) != 0);
      } else {
        std::string t = WindowText(child);
        if (!t.empty()) box.text += (box.text.empty() ? "" : "\n") + t;
      }
    }
  }
  return box;
}

// Waits for a visible dialog box (class #32770) of the process; null when none came.
inline HWND WaitForDialog(DWORD process, int milliseconds = 20000) {
  HWND found = nullptr;
  WaitFor(
      [&] {
        for (HWND hwnd : TopWindowsOf(process))
          if (ClassName(hwnd) == "#32770") {
            found = hwnd;
            return true;
          }
        return false;
      },
      milliseconds);
  return found;
}

// Presses a dialog's button by command id without waiting for what follows.
inline void PressDialogButton(HWND dialog, int id) {
  if (HWND button = GetDlgItem(dialog, id))
    PostMessageA(button, BM_CLICK, 0, 0);
  else
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

inline std::string ReadFile(const std::string& path) {
  std::string data;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, n);
    std::fclose(f);
  }
  return data;
}

inline void WriteFile(const std::string& path, const std::string& data) {
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
  }
}

inline bool FileExists(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// An empty folder of the given name under the tests' work folder.
inline std::string FreshFolder(const std::string& name) {
  std::string root = PRAVIK_TEST_WORK_DIR;
  for (char& c : root)
    if (c == '/') c = '\\';
  CreateDirectoryA(root.c_str(), nullptr);
  std::string folder = root + "\\" + name;
  // Remove what an earlier run left.
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) DeleteFileA((folder + "\\" + entry.cFileName).c_str());
    } while (FindNextFileA(find, &entry));
    FindClose(find);
  }
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder + "\\";
}

inline std::string NativePath(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

}  // namespace pravik::wintest
