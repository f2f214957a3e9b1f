// CPravikExt: the context-menu handler the shell creates for a right-click on
// files. It keeps the selection (IShellExtInit), adds "Convert image(s)..."
// (IContextMenu) and, when invoked, puts the selection on the clipboard as the
// converter's handoff text and starts the converter named by
// HKLM\SOFTWARE\greyhollis "exPath".
//
// Apartment-threaded: every call comes on the thread that created the object.
// It can be aggregated; every live object holds a module lock.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace pravik {

inline constexpr char kMenuText[] = "Convert image(s)...";
inline constexpr char kHelpText[] = "Your Help String Here";
inline constexpr char kConverterKey[] = "SOFTWARE\\greyhollis";
inline constexpr char kConverterValue[] = "exPath";

// The handoff text for a selection of full paths: each item's name followed
// by "|", the first item's folder up to and including its last "\", then
// "|?STARTUP?". 'C:\pics\a.png', 'C:\pics\b.gif' -> 'a.png|b.gif|C:\pics\|?STARTUP?'.
std::string MakeHandoffText(const std::vector<std::string>& paths);

// Frees the menu picture the handlers share; for the module's unloading.
void ReleaseMenuBitmap();

class CPravikExt final : public IShellExtInit, public IContextMenu {
 public:
  // The class factory's creation: outer is the aggregating object or null.
  static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv);

  // IUnknown: delegates to the controlling unknown (the aggregate's or our own).
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IShellExtInit
  STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE pidlFolder, IDataObject* pDataObject, HKEY hkeyProgID) override;

  // IContextMenu
  STDMETHODIMP QueryContextMenu(HMENU hMenu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast, UINT uFlags) override;
  STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* pCommandInfo) override;
  STDMETHODIMP GetCommandString(UINT_PTR idCmd, UINT uType, UINT* pReserved, CHAR* pszName, UINT cchMax) override;

 private:
  explicit CPravikExt(IUnknown* outer);
  ~CPravikExt();

  // The object's own IUnknown, which holds the reference count; the
  // controlling unknown when the object is not aggregated.
  struct Inner final : IUnknown {
    CPravikExt* self;
    explicit Inner(CPravikExt* s) : self(s) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
  };

  Inner inner_;
  IUnknown* outer_;
  LONG refs_ = 1;

  std::vector<std::string> m_files;  // full paths, in the shell's order
  HBITMAP m_hMenuBitmap = nullptr;   // resource 201, null when it cannot be loaded
};

}  // namespace pravik
