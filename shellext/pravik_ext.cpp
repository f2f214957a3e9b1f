#include "shellext/pravik_ext.h"

#include <shellapi.h>

#include <cstring>
#include <new>

#include "shellext/module.h"
#include "shellext/resource.h"

namespace pravik {

namespace {

// The menu picture, loaded once for the module and shared by every handler.
// Explorer creates a handler for each right-click; one bitmap per handler that
// is never freed would use up the shell's GDI handles over a long session.
// The menus that show it live no longer than the module, which frees it when
// it is unloaded (ReleaseMenuBitmap from DllMain).
HBITMAP g_menuBitmap = nullptr;
bool g_menuBitmapTried = false;

HBITMAP MenuBitmap() {
  if (!g_menuBitmapTried) {
    g_menuBitmapTried = true;
    g_menuBitmap = LoadBitmapA(ModuleInstance(), MAKEINTRESOURCEA(IDB_MENUBITMAP));
  }
  return g_menuBitmap;
}

// Copies text into a caller's buffer of cch elements, cut to fit, always
// terminated (nothing is written when the buffer has no room at all).
template <typename Char>
void CopyText(const Char* text, Char* out, UINT cch) {
  if (out == nullptr || cch == 0) return;
  UINT i = 0;
  for (; i + 1 < cch && text[i] != 0; ++i) out[i] = text[i];
  out[i] = 0;
}

void PutOnClipboard(const std::string& text) {
  if (!OpenClipboard(nullptr)) return;  // busy: the converter will find no handoff and end
  EmptyClipboard();
  // The clipboard takes movable global memory; it owns the block once
  // SetClipboardData succeeds.
  if (HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, text.size() + 1)) {
    if (void* p = GlobalLock(mem)) {
      std::memcpy(p, text.c_str(), text.size() + 1);
      GlobalUnlock(mem);
      if (SetClipboardData(CF_TEXT, mem) == nullptr) GlobalFree(mem);
    } else {
      GlobalFree(mem);
    }
  }
  CloseClipboard();
}

// The converter's path from HKLM\SOFTWARE\greyhollis "exPath"; empty when the
// key or a string value is missing. The value is only read, so read access is
// all that is asked for: a shell running without administrator rights could
// not open the key with full access.
std::string ConverterPath() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kConverterKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return {};
  char buffer[1024];
  DWORD size = sizeof buffer - 1;  // room for a terminator the stored value may lack
  DWORD type = 0;
  LONG rc = RegQueryValueExA(key, kConverterValue, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
  buffer[size] = 0;
  return std::string(buffer);
}

}  // namespace

void ReleaseMenuBitmap() {
  if (g_menuBitmap != nullptr) DeleteObject(g_menuBitmap);
  g_menuBitmap = nullptr;
  g_menuBitmapTried = false;
}

std::string MakeHandoffText(const std::vector<std::string>& paths) {
  std::string text;
  for (const std::string& path : paths) {
    size_t slash = path.find_last_of('\\');
    text += (slash == std::string::npos ? path : path.substr(slash + 1)) + "|";
  }
  if (!paths.empty()) {
    size_t slash = paths.front().find_last_of('\\');
    if (slash != std::string::npos) text += paths.front().substr(0, slash + 1);
  }
  return text + "|?STARTUP?";
}

// ---- creation and reference counting ------------------------------------------------------

CPravikExt::CPravikExt(IUnknown* outer) : inner_(this), outer_(outer != nullptr ? outer : &inner_) {
  ModuleLock();
  m_hMenuBitmap = MenuBitmap();
}

CPravikExt::~CPravikExt() { ModuleUnlock(); }

HRESULT CPravikExt::Create(IUnknown* outer, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  // An aggregating object must ask for the inner object's own IUnknown.
  if (outer != nullptr && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  auto* object = new (std::nothrow) CPravikExt(outer);
  if (object == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = object->inner_.QueryInterface(riid, ppv);
  object->inner_.Release();  // the creation reference; the query holds the object now
  return hr;
}

STDMETHODIMP CPravikExt::Inner::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown)) {
    *ppv = static_cast<IUnknown*>(this);
  } else if (IsEqualIID(riid, IID_IShellExtInit)) {
    *ppv = static_cast<IShellExtInit*>(self);
  } else if (IsEqualIID(riid, IID_IContextMenu)) {
    *ppv = static_cast<IContextMenu*>(self);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  static_cast<IUnknown*>(*ppv)->AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CPravikExt::Inner::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&self->refs_)); }

STDMETHODIMP_(ULONG) CPravikExt::Inner::Release() {
  LONG left = InterlockedDecrement(&self->refs_);
  if (left == 0) delete self;
  return static_cast<ULONG>(left);
}

STDMETHODIMP CPravikExt::QueryInterface(REFIID riid, void** ppv) { return outer_->QueryInterface(riid, ppv); }
STDMETHODIMP_(ULONG) CPravikExt::AddRef() { return outer_->AddRef(); }
STDMETHODIMP_(ULONG) CPravikExt::Release() { return outer_->Release(); }

// ---- IShellExtInit ------------------------------------------------------------------------

STDMETHODIMP CPravikExt::Initialize(PCIDLIST_ABSOLUTE, IDataObject* pDataObject, HKEY) {
  if (pDataObject == nullptr) return S_OK;
  FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium = {};
  if (FAILED(pDataObject->GetData(&format, &medium))) return S_OK;
  if (auto drop = static_cast<HDROP>(GlobalLock(medium.hGlobal))) {
    UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
      // Sized by the path itself: a fixed buffer would cut long paths into
      // names of other files.
      UINT length = DragQueryFileA(drop, i, nullptr, 0);
      std::string path(length + 1, '\0');
      path.resize(DragQueryFileA(drop, i, path.data(), length + 1));
      m_files.push_back(std::move(path));
    }
    GlobalUnlock(medium.hGlobal);
  }
  ReleaseStgMedium(&medium);
  return S_OK;
}

// ---- IContextMenu -------------------------------------------------------------------------

STDMETHODIMP CPravikExt::QueryContextMenu(HMENU hMenu, UINT indexMenu, UINT idCmdFirst, UINT, UINT uFlags) {
  if ((uFlags & 0x000F) != 0 && (uFlags & (CMF_VERBSONLY | CMF_EXPLORE)) == 0)
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
  InsertMenuA(hMenu, indexMenu, MF_BYPOSITION | MF_STRING, idCmdFirst, kMenuText);
  if (m_hMenuBitmap != nullptr) {
    SetMenuItemBitmaps(hMenu, indexMenu, MF_BYPOSITION, m_hMenuBitmap, nullptr);
    ++indexMenu;
  }
  InsertMenuA(hMenu, indexMenu, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
  return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1);
}

STDMETHODIMP CPravikExt::GetCommandString(UINT_PTR idCmd, UINT uType, UINT*, CHAR* pszName, UINT cchMax) {
  const char* help = idCmd == 0 ? kHelpText : "";
  if (uType == GCS_HELPTEXTA) {
    CopyText(help, pszName, cchMax);
  } else if (uType == GCS_HELPTEXTW) {
    wchar_t wide[64] = {};
    MultiByteToWideChar(CP_THREAD_ACP, 0, help, -1, wide, 64);
    CopyText(wide, reinterpret_cast<wchar_t*>(pszName), cchMax);
  }
  return S_OK;
}

STDMETHODIMP CPravikExt::InvokeCommand(CMINVOKECOMMANDINFO* pCommandInfo) {
  if (pCommandInfo == nullptr) return E_INVALIDARG;
  // A verb string (a pointer) or an offset other than our one item's.
  auto verb = reinterpret_cast<UINT_PTR>(pCommandInfo->lpVerb);
  if ((verb >> 16) != 0 || (verb & 0xFFFF) != 0) return E_INVALIDARG;
  // Without a selection there is nothing to hand over; the converter would
  // only open on an empty list.
  if (m_files.empty()) return S_OK;

  PutOnClipboard(MakeHandoffText(m_files));
  std::string converter = ConverterPath();
  if (converter.empty()) {
    MessageBoxA(nullptr, "Path not found", "", MB_OK);
    return S_OK;
  }
  ShellExecuteA(nullptr, nullptr, converter.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  return S_OK;
}

}  // namespace pravik
