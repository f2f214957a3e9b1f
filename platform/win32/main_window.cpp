#include "platform/win32/main_window.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <uxtheme.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "platform/win32/control_ids.h"
#include "platform/win32/single_instance.h"
#include "platform/win32/text.h"
#include "platform/window_logic.h"

namespace pravik::win32 {

namespace {

constexpr int kClientWidth = 243;
constexpr int kClientHeight = 501;
constexpr DWORD kWindowStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_TOPMOST | WS_EX_CONTROLPARENT;
constexpr wchar_t kPageClass[] = L"PravikConvertPage";
constexpr wchar_t kWebSite[] = L"https://example.org/pravik/";  // the product's page, to be set before release
constexpr wchar_t kLinkText[] = L"Pravik Image Converter on the web";

constexpr std::array<const wchar_t*, kTargetFormatCount> kFormatItems = {
    L"JPEG", L"JPEG 2000", L"GIF", L"PSD",  L"TIFF", L"BMP",  L"PNG",
    L"ICO",  L"PCX",       L"TGA", L"PXM",  L"WBMP", L"PostScript (PS)", L"PDF"};
constexpr std::array<const wchar_t*, 3> kIconItems = {L"64x64", L"32x32", L"16x16"};

// One control: its id, window class, caption, place and size in its parent
// (the window's client area, or a tab sheet), style, and the sheet it is on
// (-1: the window itself). Labels with a width of 0 take the width of their text.
struct TControlSpec {
  int id;
  const wchar_t* cls;
  const wchar_t* text;
  int x, y, w, h;
  DWORD style;
  int page;
};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
const TControlSpec kControls[] = {
    {idOnTop, WC_BUTTONW, L"Always on top", 8, 12, 110, 17, kChild | WS_TABSTOP | BS_AUTOCHECKBOX, -1},
    {idGroupFormat, WC_BUTTONW, L"Image Formats", 8, 40, 228, 249, kChild | BS_GROUPBOX, -1},
    {idPageControl, WC_TABCONTROLW, L"", 8, 300, 227, 77, kChild | WS_TABSTOP | WS_CLIPSIBLINGS, -1},
    {idTrackBar, TRACKBAR_CLASSW, L"", 11, 18, 166, 21, kChild | WS_TABSTOP | TBS_HORZ | TBS_NOTICKS, pgQuality},
    {idQualityPer, WC_STATICW, L"100 %", 182, 22, 0, 13, kChild | SS_LEFTNOWORDWRAP, pgQuality},
    {idName, WC_EDITW, L"", 6, 16, 208, 21, kChild | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, pgRename},
    {idSave, WC_EDITW, L"", 6, 16, 153, 21, kChild | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, pgSave},
    {idBrowse, WC_BUTTONW, L"browse...", 159, 16, 56, 21, kChild | WS_TABSTOP | BS_PUSHBUTTON, pgSave},
    {idConvert, WC_BUTTONW, L"Convert", 26, 383, 80, 28, kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, -1},
    {idCancel, WC_BUTTONW, L"Cancel", 136, 383, 80, 28, kChild | WS_TABSTOP | BS_PUSHBUTTON, -1},
    {idLabelCurrent, WC_STATICW, L"Current :", 10, 418, 0, 13, kChild | SS_LEFTNOWORDWRAP, -1},
    {idBarConversion, PROGRESS_CLASSW, L"", 54, 419, 181, 13, kChild | PBS_SMOOTH, -1},
    {idLabelTotal, WC_STATICW, L"Total :", 19, 436, 0, 13, kChild | SS_LEFTNOWORDWRAP, -1},
    {idBarTotal, PROGRESS_CLASSW, L"", 54, 438, 181, 12, kChild | PBS_SMOOTH, -1},
    {idLabelStatus, WC_STATICW, L"Status :", 13, 455, 0, 13, kChild | SS_LEFTNOWORDWRAP, -1},
    {idStatus, WC_STATICW, L"", 54, 455, 181, 13, kChild | SS_LEFTNOWORDWRAP | SS_ENDELLIPSIS, -1},
    {idLink, WC_STATICW, kLinkText, 8, 480, 225, 13, kChild | SS_CENTER | SS_NOTIFY, -1},
};

// r_Format inside groupFormat: 209 x 230 at (8, 11) of the group, two columns
// filled top to bottom.
constexpr int kFormatLeft = 8 + 8, kFormatTop = 40 + 11, kFormatWidth = 209, kFormatHeight = 230;
// chkIcon on the "Icon Size" sheet: 217 x 49 at (11, -1), three columns.
constexpr int kIconLeft = 11, kIconTop = -1, kIconWidth = 217, kIconHeight = 49;

// ---- progress bars that show their value as text --------------------------------------------

LRESULT CALLBACK ProgressTextProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR font) {
  if (message == WM_ERASEBKGND) return 1;
  if (message != WM_PAINT) return DefSubclassProc(hwnd, message, wParam, lParam);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  RECT rc;
  GetClientRect(hwnd, &rc);
  // Drawn off screen first: the bar, then its value over it, without flicker.
  HDC memory = CreateCompatibleDC(dc);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, rc.right, rc.bottom);
  HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
  FillRect(memory, &rc, GetSysColorBrush(COLOR_BTNFACE));
  DefSubclassProc(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT | PRF_ERASEBKGND);
  PBRANGE range = {};
  SendMessageW(hwnd, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  const int position = static_cast<int>(SendMessageW(hwnd, PBM_GETPOS, 0, 0));
  const int span = range.iHigh - range.iLow;
  const int percent = span > 0 ? std::clamp((position - range.iLow) * 100 / span, 0, 100) : 0;
  const std::wstring text = std::to_wstring(percent) + L"%";
  HGDIOBJ oldFont = SelectObject(memory, reinterpret_cast<HFONT>(font));
  SetBkMode(memory, TRANSPARENT);
  SetTextColor(memory, RGB(0, 0, 0));
  DrawTextW(memory, text.c_str(), -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(memory, oldFont);
  BitBlt(dc, 0, 0, rc.right, rc.bottom, memory, 0, 0, SRCCOPY);
  SelectObject(memory, oldBitmap);
  DeleteObject(bitmap);
  DeleteDC(memory);
  EndPaint(hwnd, &ps);
  return 0;
}

// ---- the link label: hand pointer, underline while the pointer is on it -----------------------

LRESULT CALLBACK LinkProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR hover) {
  bool* isHover = reinterpret_cast<bool*>(hover);
  switch (message) {
    case WM_SETCURSOR:
      SetCursor(LoadCursorW(nullptr, IDC_HAND));
      return TRUE;
    case WM_MOUSEMOVE:
      if (!*isHover) {
        *isHover = true;
        TRACKMOUSEEVENT track = {};
        track.cbSize = sizeof track;
        track.dwFlags = TME_LEAVE;
        track.hwndTrack = hwnd;
        TrackMouseEvent(&track);
        SendMessageW(GetParent(hwnd), WM_APP, 0, 0);  // the window swaps the font
      }
      break;
    case WM_MOUSELEAVE:
      *isHover = false;
      SendMessageW(GetParent(hwnd), WM_APP, 0, 0);
      break;
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

// The format group box paints only its frame and caption; its inside is
// filled here with the group's grey.
LRESULT CALLBACK GroupProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR brush) {
  if (message == WM_ERASEBKGND) {
    RECT rc;
    GetClientRect(hwnd, &rc);
    FillRect(reinterpret_cast<HDC>(wParam), &rc, reinterpret_cast<HBRUSH>(brush));
    return 1;
  }
  if (message == WM_PAINT) {
    // Some group boxes never erase: do it before they paint.
    RECT rc;
    if (GetUpdateRect(hwnd, &rc, FALSE)) {
      HDC dc = GetDC(hwnd);
      FillRect(dc, &rc, reinterpret_cast<HBRUSH>(brush));
      ReleaseDC(hwnd, dc);
    }
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

// Folder dialog: starts at the folder of the save edit, and names its new-folder button.
int CALLBACK BrowseCallback(HWND dialog, UINT message, LPARAM, LPARAM start) {
  if (message != BFFM_INITIALIZED) return 0;
  if (start != 0) SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, start);
  EnumChildWindows(
      dialog,
      [](HWND child, LPARAM) -> BOOL {
        wchar_t cls[16] = {};
        GetClassNameW(child, cls, 16);
        const int id = GetDlgCtrlID(child);
        if (_wcsicmp(cls, L"Button") == 0 && id != IDOK && id != IDCANCEL &&
            (GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK) <= BS_DEFPUSHBUTTON)
          SetWindowTextW(child, L"New folder...");
        return TRUE;
      },
      0);
  return 0;
}

}  // namespace

// ---- widget ports -----------------------------------------------------------------------------

struct TMainWindow::TPorts {
  struct Form final : IForm {
    TMainWindow* w;
    void Show() override {
      ShowWindow(w->hwnd_, SW_SHOW);
      SetForegroundWindow(w->hwnd_);
    }
    void Hide() override { ShowWindow(w->hwnd_, SW_HIDE); }
  };
  struct Radio final : IRadioGroup {
    TMainWindow* w;
    int GetItemIndex() const override {
      for (int i = 0; i < kTargetFormatCount; ++i)
        if (SendMessageW(w->Control(idFormatFirst + i), BM_GETCHECK, 0, 0) == BST_CHECKED) return i;
      return -1;
    }
  };
  struct Track final : ITrackBar {
    TMainWindow* w;
    int GetPosition() const override { return static_cast<int>(SendMessageW(w->Control(idTrackBar), TBM_GETPOS, 0, 0)); }
  };
  struct Checks final : ICheckGroup {
    TMainWindow* w;
    bool GetChecked(int index) const override {
      return index >= 0 && index < 3 &&
             SendMessageW(w->Control(idIconFirst + index), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    void SetChecked(int index, bool checked) override {
      if (index >= 0 && index < 3)
        SendMessageW(w->Control(idIconFirst + index), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    }
  };
  struct Edit final : IEdit {
    HWND hwnd = nullptr;
    std::string GetText() const override { return Narrow(win32::GetText(hwnd)); }
    void SetText(const std::string& text) override { SetWindowTextW(hwnd, Widen(text).c_str()); }
  };
  struct Label final : ILabel {
    HWND hwnd = nullptr;
    void SetCaption(const std::string& caption) override { SetWindowTextW(hwnd, Widen(caption).c_str()); }
  };
  struct Bar final : IProgressBar {
    HWND hwnd = nullptr;
    void SetMax(int max) override { SendMessageW(hwnd, PBM_SETRANGE32, 0, std::max(max, 0)); }
    void SetPosition(int position) override { SendMessageW(hwnd, PBM_SETPOS, position, 0); }
  };
  struct Button final : IButton {
    HWND hwnd = nullptr;
    void SetEnabled(bool enabled) override { EnableWindow(hwnd, enabled); }
  };

  Form form;
  Radio radio;
  Track track;
  Checks checks;
  Edit name, save;
  Label status;
  Bar conversion, total;
  Button convert;
};

// ---- creation ---------------------------------------------------------------------------------

TMainWindow::TMainWindow(HINSTANCE instance, TApplication& application, TMessageBoxes& messages, TClipboard& clipboard)
    : instance_(instance), application_(application), messages_(messages), clipboard_(clipboard) {}

TMainWindow::~TMainWindow() {
  if (tooltip_ != nullptr) DestroyWindow(tooltip_);
  if (hwnd_ != nullptr) {
    // The messages of its destruction find no handlers any more.
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
  dlg_.reset();
  for (HGDIOBJ object : {static_cast<HGDIOBJ>(font_), static_cast<HGDIOBJ>(linkFont_),
                         static_cast<HGDIOBJ>(groupBrush_), static_cast<HGDIOBJ>(pageBrush_)})
    if (object != nullptr) DeleteObject(object);
}

HWND TMainWindow::Control(int id) const {
  if (HWND direct = GetDlgItem(hwnd_, id)) return direct;
  for (HWND page : pages_)
    if (HWND onPage = GetDlgItem(page, id)) return onPage;
  return nullptr;
}

void TMainWindow::Create() {
  WNDCLASSEXW cls = {};
  cls.cbSize = sizeof cls;
  cls.lpfnWndProc = WindowProc;
  cls.hInstance = instance_;
  cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  cls.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  cls.hIcon = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(1), IMAGE_ICON, 32, 32, 0));
  cls.hIconSm = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(1), IMAGE_ICON, 16, 16, 0));
  cls.lpszClassName = kWindowClass;
  RegisterClassExW(&cls);
  WNDCLASSEXW page = {};
  page.cbSize = sizeof page;
  page.lpfnWndProc = PageProc;
  page.hInstance = instance_;
  page.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  page.lpszClassName = kPageClass;
  RegisterClassExW(&page);

  RECT outer = {0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&outer, kWindowStyle, FALSE, kWindowExStyle);
  hwnd_ = CreateWindowExW(kWindowExStyle, kWindowClass, kWindowCaption, kWindowStyle, 0, 0, outer.right - outer.left,
                          outer.bottom - outer.top, nullptr, nullptr, instance_, this);
  if (hwnd_ == nullptr) throw std::runtime_error("the window cannot be created");
  application_.SetMainWindow(hwnd_);
  messages_.SetOwner(hwnd_);

  CreateControls();

  // The batch engine over the controls.
  ports_ = std::make_unique<TPorts>();
  ports_->form.w = ports_->radio.w = ports_->track.w = ports_->checks.w = this;
  ports_->name.hwnd = Control(idName);
  ports_->save.hwnd = Control(idSave);
  ports_->status.hwnd = Control(idStatus);
  ports_->conversion.hwnd = Control(idBarConversion);
  ports_->total.hwnd = Control(idBarTotal);
  ports_->convert.hwnd = Control(idConvert);
  TMainDlgPorts ports;
  ports.form = &ports_->form;
  ports.r_Format = &ports_->radio;
  ports.imgTrackBar = &ports_->track;
  ports.chkIcon = &ports_->checks;
  ports.txtName = &ports_->name;
  ports.txtSave = &ports_->save;
  ports.lblStatus = &ports_->status;
  ports.barConversion = &ports_->conversion;
  ports.barTotal = &ports_->total;
  ports.btnConvert = &ports_->convert;
  ports.clipboard = &clipboard_;
  ports.messages = &messages_;
  ports.application = &application_;
  dlg_ = std::make_unique<TmainDlg>(ports);

  // First states.
  ports_->status.SetCaption("Ready");
  SendMessageW(Control(idTrackBar), TBM_SETPOS, TRUE, 100);
  ports_->conversion.SetPosition(0);
  ports_->total.SetPosition(0);
  imgTrackBarChange();
  SendMessageW(Control(idFormatFirst), BM_SETCHECK, BST_CHECKED, 0);
  ShowFormatTabs(0);
  SetStayOnTop(true);
  PlaceAtPointer();
}

void TMainWindow::CreateControls() {
  // "MS Sans Serif" 8 point, in pixels of the screen's resolution.
  HDC screen = GetDC(nullptr);
  const int height = -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72);
  ReleaseDC(nullptr, screen);
  font_ = CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
  linkFont_ = CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, TRUE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
  groupBrush_ = CreateSolidBrush(RGB(228, 228, 228));
  // Themed tab sheets are white; classic ones have the dialog colour.
  pageColour_ = IsAppThemed() ? RGB(255, 255, 255) : GetSysColor(COLOR_BTNFACE);
  pageBrush_ = CreateSolidBrush(pageColour_);

  HDC dc = GetDC(hwnd_);
  HGDIOBJ oldFont = SelectObject(dc, font_);
  auto make = [&](HWND parent, const wchar_t* cls, const wchar_t* text, int id, int x, int y, int w, int h,
                  DWORD style) {
    if (w == 0) {  // a label as wide as its text
      SIZE size = {};
      GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &size);
      w = size.cx + 2;
    }
    HWND control = CreateWindowExW(0, cls, text, style, x, y, w, h, parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    return control;
  };

  // The window's own controls, then the tab sheets over the page control's
  // display area, then what is on each sheet.
  for (const TControlSpec& c : kControls)
    if (c.page < 0) make(hwnd_, c.cls, c.text, c.id, c.x, c.y, c.w, c.h, c.style);
  tabs_ = GetDlgItem(hwnd_, idPageControl);
  for (int i = 0; i < kTargetFormatCount; ++i) {
    const int perColumn = (kTargetFormatCount + 1) / 2;
    const int column = i / perColumn, row = i % perColumn;
    const int rowHeight = kFormatHeight / perColumn;
    DWORD style = kChild | BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP | WS_TABSTOP : 0);
    make(hwnd_, WC_BUTTONW, kFormatItems[static_cast<size_t>(i)], idFormatFirst + i,
         kFormatLeft + 4 + column * (kFormatWidth / 2), kFormatTop + row * rowHeight + (rowHeight - 17) / 2,
         kFormatWidth / 2 - 2, 17, style);
  }

  TCITEMW item = {};
  item.mask = TCIF_TEXT;
  item.pszText = const_cast<wchar_t*>(L"Quality");
  SendMessageW(tabs_, TCM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  RECT display;
  GetClientRect(tabs_, &display);
  SendMessageW(tabs_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
  SendMessageW(tabs_, TCM_DELETEALLITEMS, 0, 0);
  for (int p = 0; p < kFormatPageCount; ++p) {
    pages_[static_cast<size_t>(p)] =
        CreateWindowExW(WS_EX_CONTROLPARENT, kPageClass, Widen(kFormatPageCaptions[static_cast<size_t>(p)]).c_str(),
                        WS_CHILD | WS_CLIPSIBLINGS, 8 + display.left, 300 + display.top, display.right - display.left,
                        display.bottom - display.top, hwnd_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(idPageFirst + p)), instance_, this);
    // Above the page control, which would otherwise paint over the sheet.
    SetWindowPos(pages_[static_cast<size_t>(p)], HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  for (const TControlSpec& c : kControls)
    if (c.page >= 0) make(pages_[static_cast<size_t>(c.page)], c.cls, c.text, c.id, c.x, c.y, c.w, c.h, c.style);
  for (int i = 0; i < 3; ++i)
    make(pages_[pgIconSize], WC_BUTTONW, kIconItems[static_cast<size_t>(i)], idIconFirst + i,
         kIconLeft + 8 + i * (kIconWidth / 3), kIconTop + (kIconHeight - 17) / 2, kIconWidth / 3 - 10, 17,
         kChild | WS_TABSTOP | BS_AUTOCHECKBOX);
  SelectObject(dc, oldFont);
  ReleaseDC(hwnd_, dc);

  HWND track = Control(idTrackBar);
  SendMessageW(track, TBM_SETRANGE, FALSE, MAKELPARAM(0, 100));
  SendMessageW(track, TBM_SETLINESIZE, 0, 1);
  SendMessageW(track, TBM_SETPAGESIZE, 0, 2);
  for (int id : {idBarConversion, idBarTotal}) {
    SendMessageW(Control(id), PBM_SETRANGE32, 0, 100);
    SetWindowSubclass(Control(id), ProgressTextProc, 1, reinterpret_cast<DWORD_PTR>(font_));
  }
  SetWindowSubclass(Control(idGroupFormat), GroupProc, 1, reinterpret_cast<DWORD_PTR>(groupBrush_));
  SetWindowSubclass(Control(idLink), LinkProc, 1, reinterpret_cast<DWORD_PTR>(&linkHover_));
  SendMessageW(Control(idName), EM_SETLIMITTEXT, 1024, 0);
  SendMessageW(Control(idSave), EM_SETLIMITTEXT, MAX_PATH * 4, 0);

  // The stay-on-top switch: the check box with its hint, and the system menu item.
  // The hint window has no owner: the system moves a window's owned popups
  // along with it in the z-order, and some systems then lose the window's own
  // stay-on-top state.
  tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance_, nullptr);
  TTTOOLINFOW tool = {};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = hwnd_;
  tool.uId = reinterpret_cast<UINT_PTR>(Control(idOnTop));
  tool.lpszText = const_cast<wchar_t*>(L"Always on top");
  SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  HMENU system = GetSystemMenu(hwnd_, FALSE);
  InsertMenuW(system, 6, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
  InsertMenuW(system, 7, MF_BYPOSITION | MF_STRING, kSysCmdOnTop, L"Always on &top");
}

void TMainWindow::ReadHandoff() { dlg_->ReadHandoff(); }

// ---- placement and the window's own handlers -------------------------------------------------

void TMainWindow::PlaceAtPointer() {
  POINT pointer = {};
  GetCursorPos(&pointer);
  RECT rc;
  GetWindowRect(hwnd_, &rc);
  const TWindowPlace place = pravik::PlaceAtPointer(pointer.x, pointer.y, GetSystemMetrics(SM_CXSCREEN),
                                                    GetSystemMetrics(SM_CYSCREEN), rc.right - rc.left,
                                                    rc.bottom - rc.top);
  SetWindowPos(hwnd_, nullptr, place.Left, place.Top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TMainWindow::ShowFormatTabs(int index) {
  ShowWindow(tabs_, SW_SHOW);
  if (index < 0 || index >= kTargetFormatCount) {
    ShowWindow(tabs_, SW_HIDE);
    for (HWND page : pages_) ShowWindow(page, SW_HIDE);
    return;
  }
  ShowWindow(tabs_, SW_HIDE);
  const TFormatTabs shown = FormatTabs(index);
  const bool visible[kFormatPageCount] = {shown.Quality, shown.IconSize, true, true};
  // A tab control has no hidden tabs: the visible ones are its items, each
  // remembering its sheet.
  SendMessageW(tabs_, TCM_DELETEALLITEMS, 0, 0);
  int activeItem = 0;
  for (int p = 0, item = 0; p < kFormatPageCount; ++p) {
    if (!visible[p]) continue;
    std::wstring caption = Widen(kFormatPageCaptions[static_cast<size_t>(p)]);
    TCITEMW tab = {};
    tab.mask = TCIF_TEXT | TCIF_PARAM;
    tab.pszText = caption.data();
    tab.lParam = p;
    SendMessageW(tabs_, TCM_INSERTITEMW, item, reinterpret_cast<LPARAM>(&tab));
    if (p == shown.Active) activeItem = item;
    ++item;
  }
  SendMessageW(tabs_, TCM_SETCURSEL, activeItem, 0);
  SelectPage(shown.Active);
  ShowWindow(tabs_, SW_SHOW);
}

void TMainWindow::SelectPage(int page) {
  for (int p = 0; p < kFormatPageCount; ++p) ShowWindow(pages_[static_cast<size_t>(p)], p == page ? SW_SHOW : SW_HIDE);
}

void TMainWindow::imgTrackBarChange() {
  const int position = ports_ ? ports_->track.GetPosition() : 100;
  SetWindowTextW(Control(idQualityPer), (std::to_wstring(position) + L" %").c_str());
}

void TMainWindow::btnBrowseClick() {
  std::wstring start = GetText(Control(idSave));
  BROWSEINFOW info = {};
  info.hwndOwner = hwnd_;
  info.lpszTitle = L"Select folder";
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  info.lpfn = BrowseCallback;
  info.lParam = start.empty() ? 0 : reinterpret_cast<LPARAM>(start.c_str());
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
  if (chosen == nullptr) return;
  wchar_t path[MAX_PATH] = {};
  if (SHGetPathFromIDListW(chosen, path)) SetWindowTextW(Control(idSave), path);
  CoTaskMemFree(chosen);
}

void TMainWindow::SetStayOnTop(bool on) {
  stayOnTop_ = on;
  SetWindowPos(hwnd_, on ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  CheckMenuItem(GetSystemMenu(hwnd_, FALSE), kSysCmdOnTop, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
  SendMessageW(Control(idOnTop), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TMainWindow::BringToFront() {
  if (!IsWindowVisible(hwnd_)) return;  // still starting, or already ending
  if (IsIconic(hwnd_)) ShowWindow(hwnd_, SW_RESTORE);
  BringWindowToTop(hwnd_);
  SetForegroundWindow(hwnd_);
}

// ---- messages ---------------------------------------------------------------------------------

LRESULT CALLBACK TMainWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<TMainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<TMainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  LRESULT result = 0;
  bool handled = false;
  // What escapes a handler goes to the application's exception handler.
  self->application_.Guard([&] {
    result = self->Handle(message, wParam, lParam);
    handled = true;
  });
  return handled ? result : 0;
}

LRESULT CALLBACK TMainWindow::PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE)
    SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
  auto* self = reinterpret_cast<TMainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_HSCROLL:
      // The sheets are containers only: their controls report to the window.
      return SendMessageW(GetParent(hwnd), message, wParam, lParam);
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      if (self != nullptr) {
        SetBkColor(reinterpret_cast<HDC>(wParam), self->pageColour_);
        return reinterpret_cast<LRESULT>(self->pageBrush_);
      }
      break;
    case WM_ERASEBKGND:
      if (self != nullptr) {
        RECT rc;
        GetClientRect(hwnd, &rc);
        FillRect(reinterpret_cast<HDC>(wParam), &rc, self->pageBrush_);
        return 1;
      }
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT TMainWindow::OnColour(HDC dc, HWND control) {
  const int id = GetDlgCtrlID(control);
  if (id == idGroupFormat || (id >= idFormatFirst && id < idFormatFirst + kTargetFormatCount)) {
    SetBkColor(dc, RGB(228, 228, 228));
    return reinterpret_cast<LRESULT>(groupBrush_);
  }
  if (id == idLink) SetTextColor(dc, RGB(128, 128, 128));
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

void TMainWindow::OnCommand(int id, int code) {
  if (id >= idFormatFirst && id < idFormatFirst + kTargetFormatCount) {
    if (code == BN_CLICKED) ShowFormatTabs(ports_->radio.GetItemIndex());  // r_FormatClick
    return;
  }
  switch (id) {
    case idConvert:
      // Enter reaches here too; a running batch has Convert disabled.
      if (IsWindowEnabled(Control(idConvert))) dlg_->btnConvertClick(this);
      break;
    case idCancel:
      dlg_->btnCancelClick(this);
      break;
    case idBrowse:
      btnBrowseClick();
      break;
    case idOnTop:
      SetStayOnTop(SendMessageW(Control(idOnTop), BM_GETCHECK, 0, 0) == BST_CHECKED);
      break;
    case idLink:
      if (code == STN_CLICKED) ShellExecuteW(hwnd_, L"open", kWebSite, nullptr, nullptr, SW_SHOWNORMAL);
      break;
  }
}

LRESULT TMainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == ActivateMessage()) {
    BringToFront();
    return 0;
  }
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->hwndFrom == tabs_ && header->code == TCN_SELCHANGE) {
        TCITEMW tab = {};
        tab.mask = TCIF_PARAM;
        const int item = static_cast<int>(SendMessageW(tabs_, TCM_GETCURSEL, 0, 0));
        if (SendMessageW(tabs_, TCM_GETITEMW, item, reinterpret_cast<LPARAM>(&tab))) SelectPage(static_cast<int>(tab.lParam));
      }
      return 0;
    }
    case WM_HSCROLL:
      if (reinterpret_cast<HWND>(lParam) == Control(idTrackBar)) imgTrackBarChange();
      return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return OnColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_ERASEBKGND: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      RECT rc;
      GetClientRect(hwnd_, &rc);
      FillRect(dc, &rc, GetSysColorBrush(COLOR_BTNFACE));
      RECT group = {8, 40, 8 + 228, 40 + 249};
      FillRect(dc, &group, groupBrush_);
      return 1;
    }
    case WM_APP:  // the link label's pointer came or went
      SendMessageW(Control(idLink), WM_SETFONT, reinterpret_cast<WPARAM>(linkHover_ ? linkFont_ : font_), TRUE);
      return 0;
    case DM_GETDEFID:
      return MAKELRESULT(idConvert, DC_HASDEFID);
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == kSysCmdOnTop) {
        SetStayOnTop(!stayOnTop_);
        return 0;
      }
      break;
    case WM_CLOSE:
      dlg_->FormClose(this);
      return 0;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

}  // namespace pravik::win32
