// Stands in for the converter when the extension's tests start "exPath": it
// records its command line and the clipboard text it finds, in
// probe-output.txt beside itself, and ends.
#include <windows.h>

#include <cstdio>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  std::string text = "(no text)";
  if (OpenClipboard(nullptr)) {
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
      if (auto p = static_cast<const char*>(GlobalLock(data))) {
        text = p;
        GlobalUnlock(data);
      }
    }
    CloseClipboard();
  }
  char self[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string out(self, n);
  out = out.substr(0, out.find_last_of('\\') + 1) + "probe-output.txt";
  // Written under another name and renamed, so that a reader never sees half a file.
  std::string partial = out + ".part";
  if (FILE* f = std::fopen(partial.c_str(), "wb")) {
    std::fprintf(f, "%s\n%s\n", GetCommandLineA(), text.c_str());
    std::fclose(f);
    MoveFileExA(partial.c_str(), out.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  return 0;
}
