// The in-process server around CPravikExt: the module's lock count, the class
// factory, registration (registry script resource plus type library) and the
// four exports.
#include <windows.h>
#include <oleauto.h>

#include <new>
#include <string>

#include "shellext/guids.h"
#include "shellext/module.h"
#include "shellext/pravik_ext.h"
#include "shellext/registrar.h"
#include "shellext/resource.h"

namespace pravik {

namespace {

HINSTANCE g_instance = nullptr;
LONG g_locks = 0;

class TClassFactory final : public IClassFactory {
 public:
  // One static factory: it lives as long as the module and counts no references.
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *ppv = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    return CPravikExt::Create(outer, riid, ppv);
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock)
      ModuleLock();
    else
      ModuleUnlock();
    return S_OK;
  }
};

TClassFactory g_factory;

std::wstring ModulePathW() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(g_instance, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::string ModulePathA() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    DWORD n = GetModuleFileNameA(g_instance, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

HRESULT RunScript(bool doRegister) {
  HRSRC found = FindResourceA(g_instance, MAKEINTRESOURCEA(IDR_PRAVIKEXT), "REGISTRY");
  HGLOBAL loaded = found != nullptr ? LoadResource(g_instance, found) : nullptr;
  const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (data == nullptr) return HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND);
  std::string_view script(static_cast<const char*>(data), SizeofResource(g_instance, found));
  std::string module = ModulePathA();
  if (module.empty()) return HRESULT_FROM_WIN32(GetLastError());
  return RunRegistryScript(script, {{"MODULE", module}, {"APPID", ""}}, doRegister);
}

HRESULT RegisterTypeLibrary() {
  std::wstring path = ModulePathW();
  ITypeLib* library = nullptr;
  HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
  if (FAILED(hr)) return hr;
  // The help folder is the module's own.
  std::wstring folder = path.substr(0, path.find_last_of(L'\\') + 1);
  hr = RegisterTypeLib(library, path.data(), folder.data());
  library->Release();
  return hr;
}

HRESULT UnregisterTypeLibrary() {
  ITypeLib* library = nullptr;
  HRESULT hr = LoadTypeLibEx(ModulePathW().c_str(), REGKIND_NONE, &library);
  if (FAILED(hr)) return hr;
  TLIBATTR* attr = nullptr;
  hr = library->GetLibAttr(&attr);
  if (SUCCEEDED(hr)) {
    // Already gone counts as done: unregistering twice is not an error.
    BSTR registered = nullptr;
    if (SUCCEEDED(QueryPathOfRegTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid,
                                        &registered))) {
      SysFreeString(registered);
      hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    }
    library->ReleaseTLibAttr(attr);
  }
  library->Release();
  return hr;
}

}  // namespace

HINSTANCE ModuleInstance() { return g_instance; }
void ModuleLock() { InterlockedIncrement(&g_locks); }
void ModuleUnlock() { InterlockedDecrement(&g_locks); }
LONG ModuleLockCount() { return InterlockedCompareExchange(&g_locks, 0, 0); }

}  // namespace pravik

using namespace pravik;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_instance = instance;
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    // Unloaded while the process goes on (FreeLibrary): give back the menu
    // picture. At process exit the system reclaims it.
    ReleaseMenuBitmap();
  }
  return TRUE;
}

STDAPI DllCanUnloadNow() { return ModuleLockCount() == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualCLSID(rclsid, CLSID_PravikExt)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

STDAPI DllRegisterServer() {
  HRESULT hr = RunScript(true);
  if (FAILED(hr)) return hr;
  return RegisterTypeLibrary();
}

STDAPI DllUnregisterServer() {
  HRESULT hr = RunScript(false);
  if (FAILED(hr)) return hr;
  return UnregisterTypeLibrary();
}
