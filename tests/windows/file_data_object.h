// A stand-in for the shell's data object, for the extension's tests.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace pravik::wintest {

// The shell's data object for a selection: CF_HDROP in global memory, with
// the paths as 8-bit text. Records the format it was asked for.
class FileDataObject final : public IDataObject {
 public:
  explicit FileDataObject(std::vector<std::string> paths, bool offerDrop = true)
      : paths_(std::move(paths)), offerDrop_(offerDrop) {}

  FORMATETC asked = {};
  int getDataCalls = 0;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject)) {
      *ppv = static_cast<IDataObject*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }  // lives on the test's stack

  STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override {
    ++getDataCalls;
    asked = *format;
    if (!offerDrop_ || format->cfFormat != CF_HDROP) return DV_E_FORMATETC;
    size_t size = sizeof(DROPFILES) + 1;
    for (const std::string& p : paths_) size += p.size() + 1;
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    auto* drop = static_cast<DROPFILES*>(GlobalLock(mem));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = FALSE;
    char* out = reinterpret_cast<char*>(drop + 1);
    for (const std::string& p : paths_) {
      memcpy(out, p.c_str(), p.size() + 1);
      out += p.size() + 1;
    }
    GlobalUnlock(mem);
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = mem;
    medium->pUnkForRelease = nullptr;
    return S_OK;
  }
  STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
  STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

 private:
  std::vector<std::string> paths_;
  bool offerDrop_;
  ULONG refs_ = 1;
};

}  // namespace pravik::wintest
