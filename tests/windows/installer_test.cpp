// PravikSetup.exe under Wine: a silent install puts both programs in place,
// records the converter for the extension and registers the extension, which
// then starts the installed converter; the uninstaller takes all of it away.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "shellext/guids.h"
#include "tests/windows/converter_test.h"
#include "tests/windows/file_data_object.h"

namespace pravik {
namespace {

using namespace wintest;

const std::string kFolder = "C:\\Program Files\\Pravik Test";
const std::string kClsidKey = std::string("CLSID\\") + kPravikExtClsidText;
const std::string kHandlerKey = "*\\shellex\\ContextMenuHandlers\\PravikExt Class";
const std::string kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\PravikImageConverter";

int RunAndWait(const std::string& commandLine, int milliseconds = 60000) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) return -2;
  CloseHandle(info.hThread);
  Process p{info.hProcess, info.dwProcessId};
  return WaitForExit(p, milliseconds);
}

bool SamePath(const std::string& a, const std::string& b) { return _stricmp(a.c_str(), b.c_str()) == 0; }

TEST(Installer, InstallsSilentlyThenTheExtensionStartsTheConverterAndUninstallingRemovesAll) {
  const std::string setup = NativePath(PRAVIK_SETUP_EXE);
  if (!FileExists(setup)) GTEST_SKIP() << "no installer was built (makensis missing)";

  ASSERT_EQ(RunAndWait("\"" + setup + "\" /S /D=" + kFolder), 0);
  EXPECT_TRUE(FileExists(kFolder + "\\PravikConvert.exe"));
  EXPECT_TRUE(FileExists(kFolder + "\\PravikContext.dll"));
  EXPECT_TRUE(FileExists(kFolder + "\\Uninstall.exe"));
  EXPECT_TRUE(SamePath(RegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\greyhollis", "exPath"),
                       kFolder + "\\PravikConvert.exe"));
  EXPECT_TRUE(SamePath(RegString(HKEY_CLASSES_ROOT, kClsidKey + "\\InprocServer32"), kFolder + "\\PravikContext.dll"))
      << RegString(HKEY_CLASSES_ROOT, kClsidKey + "\\InprocServer32");
  EXPECT_EQ(RegString(HKEY_CLASSES_ROOT, kHandlerKey), kPravikExtClsidText);
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName"), "Pravik Image Converter");

  // The extension as the shell uses it: it hands a file over and the
  // installed converter opens on it.
  const std::string src = FreshFolder("installed");
  WriteBmp(src + "a.bmp", Pattern(4, 4, 9));
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    IShellExtInit* init = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_PravikExt, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                               reinterpret_cast<void**>(&init)),
              S_OK);
    FileDataObject data({src + "a.bmp"});
    EXPECT_EQ(init->Initialize(nullptr, &data, nullptr), S_OK);
    IContextMenu* menu = nullptr;
    ASSERT_EQ(init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)), S_OK);
    HMENU popup = CreatePopupMenu();
    EXPECT_EQ(menu->QueryContextMenu(popup, 0, 1, 100, CMF_NORMAL), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1));
    DestroyMenu(popup);
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof info;
    info.lpVerb = MAKEINTRESOURCEA(0);
    EXPECT_EQ(menu->InvokeCommand(&info), S_OK);
    menu->Release();
    init->Release();
  }
  CoFreeUnusedLibrariesEx(0, 0);
  CoUninitialize();
  HWND window = WaitForConverterWindow(0);
  ASSERT_NE(window, nullptr) << "the installed converter did not open";
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  EXPECT_EQ(WindowText(FindControl(window, win32::idSave)), src);
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_TRUE(WaitFor([&] { return !IsWindow(window); }));

  // The uninstaller hands over to a copy of itself and returns at once.
  ASSERT_EQ(RunAndWait("\"" + kFolder + "\\Uninstall.exe\" /S"), 0);
  EXPECT_TRUE(WaitFor([] { return GetFileAttributesA(kFolder.c_str()) == INVALID_FILE_ATTRIBUTES; }, 30000))
      << "the program folder is still there";
  EXPECT_TRUE(WaitFor([] { return !KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey); }, 10000));
  for (const std::string& key : {kClsidKey, kHandlerKey, std::string("PravikContext.PravikExt"),
                                 std::string("PravikContext.PravikExt.1"),
                                 std::string("TypeLib\\") + kPravikContextLibidText})
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "*\\shellex\\ContextMenuHandlers"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\greyhollis"));
}

}  // namespace
}  // namespace pravik
