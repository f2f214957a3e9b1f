// TmainDlg's window on Win32: the real controls at their places, the widget
// ports the batch engine reads and writes, and the handlers the engine does
// not own (format tabs, quality label, folder dialog, stay-on-top switch,
// link label, activation by a second instance).
#pragma once

#include "platform/win32/ports.h"  // first: it keeps IMessageBox::MessageBox's name

#include <array>
#include <memory>

#include "app/main.h"

namespace pravik::win32 {

class TMainWindow {
 public:
  TMainWindow(HINSTANCE instance, TApplication& application, TMessageBoxes& messages, TClipboard& clipboard);
  ~TMainWindow();
  TMainWindow(const TMainWindow&) = delete;
  TMainWindow& operator=(const TMainWindow&) = delete;

  // Creates the window (hidden) and its controls, sets their first states and
  // places the window at the pointer.
  void Create();
  // The start-up handoff: shows the window when the clipboard held one,
  // otherwise asks the application to end.
  void ReadHandoff();
  HWND Handle() const { return hwnd_; }

 private:
  struct TPorts;  // the widget ports over the controls

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void OnCommand(int id, int code);
  LRESULT OnColour(HDC dc, HWND control);

  void CreateControls();
  HWND Control(int id) const;
  void ShowFormatTabs(int index);
  void SelectPage(int page);
  void imgTrackBarChange();
  void btnBrowseClick();
  void SetStayOnTop(bool on);
  void BringToFront();
  void PlaceAtPointer();

  HINSTANCE instance_;
  TApplication& application_;
  TMessageBoxes& messages_;
  TClipboard& clipboard_;
  HWND hwnd_ = nullptr;
  HWND tabs_ = nullptr;
  std::array<HWND, 4> pages_{};
  HWND tooltip_ = nullptr;
  HFONT font_ = nullptr;
  HFONT linkFont_ = nullptr;       // the link label's font while the pointer is on it
  HBRUSH groupBrush_ = nullptr;    // the format group's light grey
  HBRUSH pageBrush_ = nullptr;     // the tab sheets' background
  COLORREF pageColour_ = 0;
  bool stayOnTop_ = true;
  bool linkHover_ = false;
  std::unique_ptr<TPorts> ports_;
  std::unique_ptr<TmainDlg> dlg_;
};

}  // namespace pravik::win32
