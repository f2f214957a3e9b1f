// PravikContext.dll under Wine: its exports and resources, registration and
// unregistration, creation through COM, and the context-menu handler's calls
// with a data object carrying files.
#include <algorithm>
#include <windows.h>
#include <oleauto.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "shellext/guids.h"
#include "tests/windows/file_data_object.h"
#include "tests/windows/win_test.h"

namespace pravik {
namespace {

using namespace wintest;

const std::string kClsid = kPravikExtClsidText;
const std::string kLibid = kPravikContextLibidText;
const std::string kHandlerKey = "*\\shellex\\ContextMenuHandlers\\PravikExt Class";
const std::string kConverterKey = "SOFTWARE\\greyhollis";

std::string DllPath() { return NativePath(PRAVIK_CONTEXT_DLL); }

std::string ProbeOutputPath() {
  std::string probe = NativePath(PRAVIK_HANDOFF_PROBE);
  return probe.substr(0, probe.find_last_of('\\') + 1) + "probe-output.txt";
}

class ShellExtension : public ::testing::Test {
 protected:
  using Fn = HRESULT(WINAPI*)();
  using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

  static void SetUpTestSuite() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    dll_ = LoadLibraryA(DllPath().c_str());
  }
  static void TearDownTestSuite() {
    if (dll_ != nullptr) FreeLibrary(dll_);
    dll_ = nullptr;
    CoUninitialize();
  }

  void SetUp() override {
    ASSERT_NE(dll_, nullptr) << "cannot load " << DllPath();
    ASSERT_EQ(Export<Fn>("DllRegisterServer")(), S_OK);
  }
  void TearDown() override {
    if (dll_ != nullptr) Export<Fn>("DllUnregisterServer")();
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kConverterKey);
  }

  template <typename F>
  static F Export(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll_, name)));
  }
  static HRESULT CanUnloadNow() { return Export<Fn>("DllCanUnloadNow")(); }

  // A handler created through COM, as the shell creates it.
  static IContextMenu* CreateHandler(const std::vector<std::string>& paths, bool offerDrop = true) {
    IShellExtInit* init = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_PravikExt, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                  reinterpret_cast<void**>(&init));
    EXPECT_EQ(hr, S_OK);
    if (FAILED(hr)) return nullptr;
    FileDataObject data(paths, offerDrop);
    EXPECT_EQ(init->Initialize(nullptr, &data, nullptr), S_OK);
    IContextMenu* menu = nullptr;
    EXPECT_EQ(init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)), S_OK);
    init->Release();
    return menu;
  }

  static HRESULT Invoke(IContextMenu* menu, LPCSTR verb) {
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof info;
    info.lpVerb = verb;
    info.nShow = SW_SHOWNORMAL;
    return menu->InvokeCommand(&info);
  }

  static inline HMODULE dll_ = nullptr;
};

TEST_F(ShellExtension, ExportsTheFourEntryPointsByOrdinal) {
  const char* names[] = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"};
  for (int ordinal = 1; ordinal <= 4; ++ordinal) {
    SCOPED_TRACE(names[ordinal - 1]);
    FARPROC byName = GetProcAddress(dll_, names[ordinal - 1]);
    ASSERT_NE(byName, nullptr);
    EXPECT_EQ(GetProcAddress(dll_, MAKEINTRESOURCEA(ordinal)), byName);
  }
}

TEST_F(ShellExtension, RegistrationWritesTheClassProgIdsHandlerAndTypeLibrary) {
  const std::string clsidKey = "CLSID\\" + kClsid;
  struct Entry {
    std::string key;
    const char* name;
    std::string value;
  } entries[] = {
      {"PravikContext.PravikExt.1", nullptr, "PravikExt Class"},
      {"PravikContext.PravikExt.1\\CLSID", nullptr, kClsid},
      {"PravikContext.PravikExt", nullptr, "PravikExt Class"},
      {"PravikContext.PravikExt\\CLSID", nullptr, kClsid},
      {"PravikContext.PravikExt\\CurVer", nullptr, "PravikContext.PravikExt.1"},
      {clsidKey, nullptr, "PravikExt Class"},
      {clsidKey + "\\ProgID", nullptr, "PravikContext.PravikExt.1"},
      {clsidKey + "\\VersionIndependentProgID", nullptr, "PravikContext.PravikExt"},
      {clsidKey + "\\InprocServer32", "ThreadingModel", "Apartment"},
      {clsidKey + "\\TypeLib", nullptr, kLibid},
      {kHandlerKey, nullptr, kClsid},
      {"TypeLib\\" + kLibid + "\\1.0", nullptr, "PravikContext 1.0 Type Library"},
  };
  for (const Entry& e : entries) EXPECT_EQ(RegString(HKEY_CLASSES_ROOT, e.key, e.name), e.value) << e.key;
  // Paths compared without regard to case: the registry keeps what the loader reports.
  EXPECT_EQ(_stricmp(RegString(HKEY_CLASSES_ROOT, clsidKey + "\\InprocServer32").c_str(), DllPath().c_str()), 0)
      << RegString(HKEY_CLASSES_ROOT, clsidKey + "\\InprocServer32");
  EXPECT_EQ(_stricmp(RegString(HKEY_CLASSES_ROOT, "TypeLib\\" + kLibid + "\\1.0\\0\\win64").c_str(), DllPath().c_str()),
            0);
}

TEST_F(ShellExtension, RegisteringAgainReplacesTheClassKeyWhole) {
  const std::string stale = "CLSID\\" + kClsid + "\\Stale";
  SetRegString(HKEY_CLASSES_ROOT, stale, nullptr, "left by an old version");
  ASSERT_TRUE(KeyExists(HKEY_CLASSES_ROOT, stale));
  EXPECT_EQ(Export<Fn>("DllRegisterServer")(), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, stale));
  EXPECT_EQ(RegString(HKEY_CLASSES_ROOT, kHandlerKey), kClsid);
}

TEST_F(ShellExtension, UnregistrationRemovesOurKeysAndKeepsTheSharedOnes) {
  const std::string neighbour = "*\\shellex\\ContextMenuHandlers\\Someone Else";
  SetRegString(HKEY_CLASSES_ROOT, neighbour, nullptr, "{00000000-0000-0000-0000-000000000001}");
  ASSERT_EQ(Export<Fn>("DllUnregisterServer")(), S_OK);
  for (const std::string& gone : {std::string("PravikContext.PravikExt.1"), std::string("PravikContext.PravikExt"),
                                  "CLSID\\" + kClsid, kHandlerKey, "TypeLib\\" + kLibid})
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, gone)) << gone;
  for (const std::string& kept :
       {std::string("*"), std::string("*\\shellex"), std::string("*\\shellex\\ContextMenuHandlers"),
        std::string("CLSID"), neighbour})
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kept)) << kept;
  // A second unregistration finds nothing to remove and still succeeds.
  EXPECT_EQ(Export<Fn>("DllUnregisterServer")(), S_OK);
  DeleteKeyTree(HKEY_CLASSES_ROOT, neighbour);
}

TEST_F(ShellExtension, TypeLibraryDescribesTheLibraryAndItsOneCoclass) {
  ITypeLib* library = nullptr;
  ASSERT_EQ(LoadRegTypeLib(LIBID_PRAVIKCONTEXTLib, 1, 0, 0, &library), S_OK);
  BSTR name = nullptr, doc = nullptr;
  ASSERT_EQ(library->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_STREQ(name, L"PRAVIKCONTEXTLib");
  EXPECT_STREQ(doc, L"PravikContext 1.0 Type Library");
  SysFreeString(name);
  SysFreeString(doc);
  EXPECT_EQ(library->GetTypeInfoCount(), 1u);
  ITypeInfo* info = nullptr;
  ASSERT_EQ(library->GetTypeInfoOfGuid(CLSID_PravikExt, &info), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  info->ReleaseTypeAttr(attr);
  ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_STREQ(name, L"PravikExt");
  EXPECT_STREQ(doc, L"PravikExt Class");
  SysFreeString(name);
  SysFreeString(doc);
  info->Release();
  library->Release();
}

TEST_F(ShellExtension, CarriesItsVersionStringAndBitmapResources) {
  std::string path = DllPath();
  DWORD size = GetFileVersionInfoSizeA(path.c_str(), nullptr);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
  char* text = nullptr;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904B0\\FileDescription",
                             reinterpret_cast<void**>(&text), &length));
  EXPECT_STREQ(text, "PravikContext Module");
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904B0\\ProductName",
                             reinterpret_cast<void**>(&text), &length));
  EXPECT_STREQ(text, "PravikContext Module");
  // Installers look for this entry before they call DllRegisterServer.
  EXPECT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904B0\\OLESelfRegister",
                             reinterpret_cast<void**>(&text), &length));

  char project[64] = {};
  EXPECT_GT(LoadStringA(dll_, 100, project, sizeof project), 0);
  EXPECT_STREQ(project, "PravikContext");
  EXPECT_NE(FindResourceA(dll_, MAKEINTRESOURCEA(101), "REGISTRY"), nullptr);

  HRSRC found = FindResourceA(dll_, MAKEINTRESOURCEA(201), MAKEINTRESOURCEA(2) /* RT_BITMAP */);
  ASSERT_NE(found, nullptr);
  auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(dll_, found)));
  EXPECT_EQ(header->biWidth, 13);
  EXPECT_EQ(header->biHeight, 13);
  EXPECT_EQ(header->biBitCount, 16);
}

TEST_F(ShellExtension, ClassFactoryCreatesOnlyOurClassAndCountsLocks) {
  IClassFactory* factory = nullptr;
  auto getClassObject = Export<GetClassObjectFn>("DllGetClassObject");
  EXPECT_EQ(getClassObject(GUID_NULL, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            CLASS_E_CLASSNOTAVAILABLE);
  ASSERT_EQ(getClassObject(CLSID_PravikExt, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(CanUnloadNow(), S_OK);
  factory->LockServer(TRUE);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  factory->LockServer(FALSE);
  EXPECT_EQ(CanUnloadNow(), S_OK);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, nullptr), E_POINTER);

  IUnknown* object = nullptr;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object)), E_NOINTERFACE);
  EXPECT_EQ(CanUnloadNow(), S_OK);  // the refused object is gone again
  factory->Release();
}

// An outer object that aggregates the handler: it counts the references that
// the handler's interfaces pass on to it.
class Outer final : public IUnknown {
 public:
  IUnknown* inner = nullptr;
  LONG refs = 1;
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IUnknown)) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    return inner->QueryInterface(riid, ppv);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
};

TEST_F(ShellExtension, CanBeAggregated) {
  IClassFactory* factory = nullptr;
  ASSERT_EQ(Export<GetClassObjectFn>("DllGetClassObject")(CLSID_PravikExt, IID_IClassFactory,
                                                         reinterpret_cast<void**>(&factory)),
            S_OK);
  Outer outer;
  IUnknown* refused = nullptr;
  EXPECT_EQ(factory->CreateInstance(&outer, IID_IContextMenu, reinterpret_cast<void**>(&refused)),
            CLASS_E_NOAGGREGATION);
  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
  factory->Release();

  IContextMenu* menu = nullptr;
  ASSERT_EQ(outer.inner->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)), S_OK);
  EXPECT_EQ(outer.refs, 2);  // the interface's reference belongs to the outer object
  IUnknown* back = nullptr;
  ASSERT_EQ(menu->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&back)), S_OK);
  EXPECT_EQ(back, static_cast<IUnknown*>(&outer));  // identity is the aggregate's
  back->Release();
  menu->Release();
  EXPECT_EQ(outer.refs, 1);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  outer.inner->Release();
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(ShellExtension, LiveHandlerKeepsTheModuleLoaded) {
  IContextMenu* menu = CreateHandler({"C:\\pics\\a.png"});
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  IShellExtInit* init = nullptr;
  ASSERT_EQ(menu->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init)), S_OK);
  IDispatch* none = nullptr;
  EXPECT_EQ(menu->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&none)), E_NOINTERFACE);
  menu->Release();
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  init->Release();
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(ShellExtension, InitializeAsksForDroppedFilesInGlobalMemory) {
  IShellExtInit* init = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_PravikExt, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                             reinterpret_cast<void**>(&init)),
            S_OK);
  FileDataObject data({"C:\\pics\\a.png"});
  EXPECT_EQ(init->Initialize(nullptr, &data, nullptr), S_OK);
  EXPECT_EQ(data.asked.cfFormat, CF_HDROP);
  EXPECT_EQ(data.asked.ptd, nullptr);
  EXPECT_EQ(data.asked.dwAspect, static_cast<DWORD>(DVASPECT_CONTENT));
  EXPECT_EQ(data.asked.lindex, -1);
  EXPECT_EQ(data.asked.tymed, static_cast<DWORD>(TYMED_HGLOBAL));
  FileDataObject noFiles({}, false);
  EXPECT_EQ(init->Initialize(nullptr, &noFiles, nullptr), S_OK);
  init->Release();
}

struct MenuFlagsCase {
  UINT flags;
  bool added;
};

TEST_F(ShellExtension, QueryContextMenuAddsTheItemForTheRightFlags) {
  const MenuFlagsCase cases[] = {
      {CMF_NORMAL, true},
      {CMF_DEFAULTONLY, false},
      {CMF_NOVERBS, false},
      {CMF_DEFAULTONLY | CMF_NOVERBS, false},
      {CMF_VERBSONLY, true},
      {CMF_EXPLORE, true},
      {CMF_DEFAULTONLY | CMF_EXPLORE, true},
      {CMF_NOVERBS | CMF_VERBSONLY, true},
      {CMF_CANRENAME, true},  // 0x10: outside the low four bits
      {CMF_EXTENDEDVERBS | CMF_NOVERBS, false},
  };
  IContextMenu* handler = CreateHandler({"C:\\pics\\a.png"});
  ASSERT_NE(handler, nullptr);
  for (const MenuFlagsCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "flags 0x" << std::hex << c.flags);
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, 1, "Open");
    AppendMenuA(menu, MF_STRING, 2, "Properties");
    HRESULT hr = handler->QueryContextMenu(menu, 1, 100, 200, c.flags);
    if (!c.added) {
      EXPECT_EQ(hr, MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0));
      EXPECT_EQ(GetMenuItemCount(menu), 2);
    } else {
      EXPECT_EQ(hr, MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1));
      ASSERT_EQ(GetMenuItemCount(menu), 4);
      char text[64] = {};
      GetMenuStringA(menu, 1, text, sizeof text, MF_BYPOSITION);
      EXPECT_STREQ(text, "Convert image(s)...");
      EXPECT_EQ(GetMenuItemID(menu, 1), 100u);
      // The picture beside the item, then the separator below it.
      MENUITEMINFOA info = {};
      info.cbSize = sizeof info;
      info.fMask = MIIM_CHECKMARKS | MIIM_FTYPE;
      ASSERT_TRUE(GetMenuItemInfoA(menu, 1, TRUE, &info));
      EXPECT_NE(info.hbmpUnchecked, nullptr);
      EXPECT_EQ(info.hbmpChecked, nullptr);
      info.fMask = MIIM_FTYPE;
      ASSERT_TRUE(GetMenuItemInfoA(menu, 2, TRUE, &info));
      EXPECT_TRUE(info.fType & MFT_SEPARATOR);
      EXPECT_EQ(GetMenuItemID(menu, 3), 2u);
    }
    DestroyMenu(menu);
  }
  handler->Release();
}

TEST_F(ShellExtension, GetCommandStringGivesTheHelpTextOnlyForOurItem) {
  IContextMenu* menu = CreateHandler({"C:\\pics\\a.png"});
  ASSERT_NE(menu, nullptr);
  struct Case {
    UINT_PTR idCmd;
    UINT type;
    UINT cch;
    std::wstring expected;  // compared as wide text, or as 8-bit text for the A forms
  } cases[] = {
      {0, GCS_HELPTEXTA, 64, L"Your Help String Here"},
      {3, GCS_HELPTEXTA, 64, L""},
      {0, GCS_HELPTEXTA, 5, L"Your"},  // cut to the buffer, terminator included
      {0, GCS_HELPTEXTW, 64, L"Your Help String Here"},
      {1, GCS_HELPTEXTW, 64, L""},
      {0, GCS_HELPTEXTW, 5, L"Your"},
      {0, GCS_VERBA, 64, L"untouched"},
      {0, GCS_VALIDATEA, 64, L"untouched"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "idCmd " << c.idCmd << " type " << c.type << " cch " << c.cch);
    if (c.type == GCS_HELPTEXTW) {
      wchar_t buffer[64] = L"untouched";
      EXPECT_EQ(menu->GetCommandString(c.idCmd, c.type, nullptr, reinterpret_cast<CHAR*>(buffer), c.cch), S_OK);
      EXPECT_EQ(std::wstring(buffer), c.expected);
    } else {
      char buffer[64] = "untouched";
      EXPECT_EQ(menu->GetCommandString(c.idCmd, c.type, nullptr, buffer, c.cch), S_OK);
      EXPECT_EQ(std::wstring(buffer, buffer + strlen(buffer)), c.expected);
    }
  }
  menu->Release();
}

TEST_F(ShellExtension, InvokeCommandRefusesVerbStringsAndOtherOffsets) {
  IContextMenu* menu = CreateHandler({"C:\\pics\\a.png"});
  ASSERT_NE(menu, nullptr);
  SetClipboardText("untouched");
  EXPECT_EQ(Invoke(menu, "open"), E_INVALIDARG);
  EXPECT_EQ(Invoke(menu, MAKEINTRESOURCEA(1)), E_INVALIDARG);
  EXPECT_EQ(ClipboardText(), "untouched");
  menu->Release();
}

// Runs InvokeCommand while another thread waits for the message box it may
// show, reads it and presses OK.
MessageBoxSeen InvokeAndAnswerBox(IContextMenu* menu, HRESULT& result) {
  MessageBoxSeen seen;
  std::thread watcher([&] {
    if (HWND box = WaitForDialog(GetCurrentProcessId(), 20000)) {
      seen = ReadMessageBox(box);
      PressDialogButton(box, IDOK);
    }
  });
  CMINVOKECOMMANDINFO info = {};
  info.cbSize = sizeof info;
  info.lpVerb = MAKEINTRESOURCEA(0);
  result = menu->InvokeCommand(&info);
  // Without a box the watcher waits out its time; tests that expect no box do not use this.
  watcher.join();
  return seen;
}

TEST_F(ShellExtension, InvokeCommandHandsTheSelectionOverAndStartsTheConverter) {
  SetRegString(HKEY_LOCAL_MACHINE, kConverterKey, "exPath", NativePath(PRAVIK_HANDOFF_PROBE));
  struct Case {
    std::vector<std::string> paths;
    std::string handoff;
  } cases[] = {
      {{"C:\\pics\\a.png", "C:\\pics\\b.gif"}, "a.png|b.gif|C:\\pics\\|?STARTUP?"},
      {{"D:\\x\\photo.jpg"}, "photo.jpg|D:\\x\\|?STARTUP?"},
      {{"E:\\deep\\er\\1.bmp", "E:\\deep\\er\\2.bmp", "E:\\deep\\er\\3.bmp"}, "1.bmp|2.bmp|3.bmp|E:\\deep\\er\\|?STARTUP?"},
      {{"loose.tga"}, "loose.tga||?STARTUP?"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.handoff);
    DeleteFileA(ProbeOutputPath().c_str());
    IContextMenu* menu = CreateHandler(c.paths);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(Invoke(menu, MAKEINTRESOURCEA(0)), S_OK);
    EXPECT_EQ(ClipboardText(), c.handoff);
    // Complete means both lines are there: under Wine a replaced file can be
    // seen empty for a moment.
    ASSERT_TRUE(WaitFor([] {
      const std::string text = FileExists(ProbeOutputPath()) ? ReadFile(ProbeOutputPath()) : std::string();
      return std::count(text.begin(), text.end(), '\n') >= 2;
    })) << "the converter was not started";
    std::string seen = ReadFile(ProbeOutputPath());
    std::string commandLine = seen.substr(0, seen.find('\n'));
    // Started with no arguments: the command line is the program alone.
    std::string program = NativePath(PRAVIK_HANDOFF_PROBE);
    EXPECT_NE(commandLine.find(program.substr(program.find_last_of('\\') + 1)), std::string::npos) << commandLine;
    size_t end = commandLine.rfind(".exe");
    ASSERT_NE(end, std::string::npos) << commandLine;
    std::string rest = commandLine.substr(end + 4);
    EXPECT_TRUE(rest.empty() || rest == "\"" || rest == "\" ") << commandLine;
    EXPECT_EQ(seen.substr(seen.find('\n') + 1), c.handoff + "\n");
    menu->Release();
  }
}

TEST_F(ShellExtension, InvokeCommandWithoutTheConverterKeyShowsPathNotFound) {
  DeleteKeyTree(HKEY_LOCAL_MACHINE, kConverterKey);
  DeleteFileA(ProbeOutputPath().c_str());
  IContextMenu* menu = CreateHandler({"C:\\pics\\a.png"});
  ASSERT_NE(menu, nullptr);
  HRESULT hr = E_FAIL;
  MessageBoxSeen box = InvokeAndAnswerBox(menu, hr);
  EXPECT_EQ(hr, S_OK);
  ASSERT_NE(box.hwnd, nullptr) << "no message box";
  EXPECT_EQ(box.text, "Path not found");
  EXPECT_EQ(box.caption, "");
  EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"});
  EXPECT_FALSE(box.hasIcon);
  // The handoff is on the clipboard all the same; nothing was started.
  EXPECT_EQ(ClipboardText(), "a.png|C:\\pics\\|?STARTUP?");
  Sleep(300);
  EXPECT_FALSE(FileExists(ProbeOutputPath()));
  menu->Release();
}

TEST_F(ShellExtension, InvokeCommandWithTheKeyButNoPathValueShowsPathNotFound) {
  SetRegString(HKEY_LOCAL_MACHINE, kConverterKey, "somethingElse", "x");
  IContextMenu* menu = CreateHandler({"C:\\pics\\a.png"});
  ASSERT_NE(menu, nullptr);
  HRESULT hr = E_FAIL;
  MessageBoxSeen box = InvokeAndAnswerBox(menu, hr);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(box.text, "Path not found");
  menu->Release();
}

TEST_F(ShellExtension, InvokeCommandWithoutSelectionDoesNothing) {
  SetRegString(HKEY_LOCAL_MACHINE, kConverterKey, "exPath", NativePath(PRAVIK_HANDOFF_PROBE));
  DeleteFileA(ProbeOutputPath().c_str());
  SetClipboardText("untouched");
  IContextMenu* menu = CreateHandler({}, false);
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(Invoke(menu, MAKEINTRESOURCEA(0)), S_OK);
  EXPECT_EQ(ClipboardText(), "untouched");
  Sleep(300);
  EXPECT_FALSE(FileExists(ProbeOutputPath()));
  menu->Release();
}

}  // namespace
}  // namespace pravik
