// PravikConvert.exe driven from another process as a user would: the handoff
// on the clipboard, the window found by its caption, controls clicked, message
// boxes read and answered, converted files checked.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "tests/windows/converter_test.h"

namespace pravik {
namespace {

using namespace wintest;
using namespace win32;

std::string ConverterPath() { return NativePath(PRAVIK_CONVERT_EXE); }

class Converter : public ::testing::Test {
 protected:
  void TearDown() override {
    // Whatever a failed test left running.
    for (Process& p : started_)
      if (p.handle != nullptr) WaitForExit(p, 0);
  }

  // Puts the handoff on the clipboard and starts the converter.
  Process& Start(const std::string& handoff) {
    SetClipboardText(handoff);
    started_.push_back(StartProgram(ConverterPath()));
    EXPECT_NE(started_.back().handle, nullptr) << "cannot start " << ConverterPath();
    return started_.back();
  }

  // Starts the converter on files of a folder and waits for its window.
  HWND Open(const std::string& folder, const std::vector<std::string>& names, Process** process = nullptr) {
    std::string handoff;
    for (const std::string& n : names) handoff += n + "|";
    Process& p = Start(handoff + folder + "|?STARTUP?");
    if (process != nullptr) *process = &p;
    HWND window = WaitForConverterWindow(p.id);
    EXPECT_NE(window, nullptr) << "no window";
    return window;
  }

  static void ChooseFormat(HWND window, const char* item) {
    for (int i = 0; i < 14; ++i) {
      HWND radio = FindControl(window, idFormatFirst + i);
      if (WindowText(radio) == item) {
        Send(radio, BM_CLICK);
        return;
      }
    }
    ADD_FAILURE() << "no format " << item;
  }

  // The next message box of the process, read and then answered.
  static MessageBoxSeen Answer(const Process& p, int button) {
    HWND box = WaitForDialog(p.id);
    if (box == nullptr) return {};
    MessageBoxSeen seen = ReadMessageBox(box);
    PressDialogButton(box, button);
    WaitFor([&] { return !IsWindow(box); }, 10000);
    return seen;
  }

  std::deque<Process> started_;  // references to its elements stay valid as it grows
};

// The converter's window as a test artifact: the test script's watcher takes
// the screenshot when asked through a file.
void KeepScreenshot() {
  const char* dir = std::getenv("PRAVIK_SCREENSHOT_DIR");
  if (dir == nullptr || *dir == 0) return;
  const std::string folder = NativePath(dir) + "\\";
  DeleteFileA((folder + "window.png").c_str());
  Sleep(500);  // let the window finish painting
  WriteFile(folder + "window.request", "");
  EXPECT_TRUE(WaitFor([&] { return FileExists(folder + "window.png"); }, 20000)) << "no screenshot taken";
}

struct ControlPlace {
  int id;
  const char* text;
  int x, y, w, h;  // in the parent's client area; w or h of 0: not checked (labels fit their text)
};

TEST_F(Converter, WindowShowsEveryControlInPlace) {
  const std::string src = FreshFolder("layout");
  WriteBmp(src + "a.bmp", Pattern(8, 8, 1));
  SetCursorPos(10, 10);
  Process* p = nullptr;
  HWND window = Open(src, {"a.bmp"}, &p);
  ASSERT_NE(window, nullptr);

  EXPECT_EQ(WindowText(window), "Pravik Image Converter");
  RECT client;
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, 243);
  EXPECT_EQ(client.bottom, 501);
  EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
  const LONG style = GetWindowLongW(window, GWL_STYLE);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);

  const ControlPlace places[] = {
      {idGroupFormat, "Image Formats", 8, 40, 228, 249},
      {idPageControl, "", 8, 300, 227, 77},
      {idConvert, "Convert", 26, 383, 80, 28},
      {idCancel, "Cancel", 136, 383, 80, 28},
      {idLabelCurrent, "Current :", 10, 418, 0, 13},
      {idBarConversion, "", 54, 419, 181, 13},
      {idLabelTotal, "Total :", 19, 436, 0, 13},
      {idBarTotal, "", 54, 438, 181, 12},
      {idLabelStatus, "Status :", 13, 455, 0, 13},
      {idStatus, "Ready", 54, 455, 0, 13},
      {idLink, nullptr, 8, 480, 225, 13},
      // on the tab sheets
      {idTrackBar, "", 11, 18, 166, 21},
      {idQualityPer, "100 %", 182, 22, 0, 13},
      {idName, "*", 6, 16, 208, 21},
      {idSave, src.c_str(), 6, 16, 153, 21},
      {idBrowse, "browse...", 159, 16, 56, 21},
  };
  for (const ControlPlace& c : places) {
    SCOPED_TRACE(testing::Message() << "control " << c.id);
    HWND control = FindControl(window, c.id);
    ASSERT_NE(control, nullptr);
    if (c.text != nullptr) {
      EXPECT_EQ(WindowText(control), c.text);
    }
    RECT rc = PlaceInParent(control);
    EXPECT_EQ(rc.left, c.x);
    EXPECT_EQ(rc.top, c.y);
    if (c.w != 0) {
      EXPECT_EQ(rc.right - rc.left, c.w);
    }
    if (c.h != 0) {
      EXPECT_EQ(rc.bottom - rc.top, c.h);
    }
  }
  EXPECT_NE(GetWindowLongW(FindControl(window, idConvert), GWL_STYLE) & BS_DEFPUSHBUTTON, 0);

  // The format radio group: fourteen items in two columns, the first chosen.
  const char* items[] = {"JPEG", "JPEG 2000", "GIF", "PSD", "TIFF", "BMP", "PNG",
                         "ICO",  "PCX",       "TGA", "PXM", "WBMP", "PostScript (PS)", "PDF"};
  RECT group = PlaceInParent(FindControl(window, idGroupFormat));
  for (int i = 0; i < 14; ++i) {
    HWND radio = FindControl(window, idFormatFirst + i);
    ASSERT_NE(radio, nullptr);
    EXPECT_EQ(WindowText(radio), items[i]);
    EXPECT_EQ(Send(radio, BM_GETCHECK), i == 0 ? BST_CHECKED : BST_UNCHECKED) << items[i];
    RECT rc = PlaceInParent(radio);
    EXPECT_TRUE(rc.left >= group.left && rc.right <= group.right && rc.top >= group.top && rc.bottom <= group.bottom)
        << items[i] << " outside the group";
    RECT first = PlaceInParent(FindControl(window, idFormatFirst + (i < 7 ? 0 : 7)));
    EXPECT_EQ(rc.left, first.left) << items[i] << " not in its column";
  }
  EXPECT_LT(PlaceInParent(FindControl(window, idFormatFirst)).left,
            PlaceInParent(FindControl(window, idFormatFirst + 7)).left);
  // Quality label, bars and icon boxes as the window starts.
  EXPECT_EQ(Send(FindControl(window, idTrackBar), TBM_GETPOS), 100);
  EXPECT_EQ(Send(FindControl(window, idTrackBar), TBM_GETRANGEMAX), 100);
  EXPECT_EQ(Send(FindControl(window, idBarConversion), PBM_GETPOS), 0);
  EXPECT_EQ(Send(FindControl(window, idBarTotal), PBM_GETPOS), 0);
  const char* sizes[] = {"64x64", "32x32", "16x16"};
  for (int i = 0; i < 3; ++i) {
    HWND box = FindControl(window, idIconFirst + i);
    EXPECT_EQ(WindowText(box), sizes[i]);
    EXPECT_EQ(Send(box, BM_GETCHECK), BST_CHECKED);
  }
  // Tabs as for JPEG: "Quality", "Rename", "Save", the first one showing.
  HWND tabs = FindControl(window, idPageControl);
  EXPECT_EQ(Send(tabs, TCM_GETITEMCOUNT), 3);
  EXPECT_EQ(Send(tabs, TCM_GETCURSEL), 0);
  EXPECT_TRUE(IsWindowVisible(FindControl(window, idTrackBar)));
  EXPECT_EQ(WindowText(FindControl(window, idOnTop)), "Always on top");
  EXPECT_EQ(Send(FindControl(window, idOnTop), BM_GETCHECK), BST_CHECKED);

  // Placed at the pointer (10, 10): the top clamped to the screen, the left at the pointer.
  RECT outer;
  GetWindowRect(window, &outer);
  EXPECT_EQ(outer.left, 10);
  EXPECT_EQ(outer.top, 0);

  KeepScreenshot();

  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForExit(*p), 0);
}

TEST_F(Converter, OpensAtThePointerMovedOntoTheScreen) {
  const std::string src = FreshFolder("place");
  const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  const POINT pointers[] = {{10, 10}, {sw - 24, sh - 68}, {sw / 2, sh / 2}};
  for (POINT pointer : pointers) {
    SCOPED_TRACE(testing::Message() << "pointer " << pointer.x << ", " << pointer.y);
    SetCursorPos(pointer.x, pointer.y);
    Process* p = nullptr;
    HWND window = Open(src, {"a.bmp"}, &p);
    ASSERT_NE(window, nullptr);
    RECT rc;
    GetWindowRect(window, &rc);
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    int top = std::max<int>(pointer.y - h / 2, 0);
    if (pointer.y + h / 2 > sh) top -= pointer.y + h / 2 - sh;
    const int left = pointer.x + w > sw ? sw - w : pointer.x;
    EXPECT_EQ(rc.left, left);
    EXPECT_EQ(rc.top, top);
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForExit(*p), 0);
  }
}

TEST_F(Converter, TabsQualityLabelStayOnTopAndFolderDialogRespond) {
  const std::string src = FreshFolder("controls");
  Process* p = nullptr;
  HWND window = Open(src, {"a.bmp"}, &p);
  ASSERT_NE(window, nullptr);
  HWND tabs = FindControl(window, idPageControl);
  struct TabCase {
    const char* format;
    int tabs;
    int visiblePage;  // the sheet that shows
  } cases[] = {{"ICO", 3, 1}, {"PNG", 3, 0}, {"BMP", 2, 2}, {"PDF", 2, 2}, {"JPEG 2000", 3, 0}};
  for (const TabCase& c : cases) {
    SCOPED_TRACE(c.format);
    ChooseFormat(window, c.format);
    EXPECT_EQ(Send(tabs, TCM_GETITEMCOUNT), c.tabs);
    EXPECT_EQ(Send(tabs, TCM_GETCURSEL), 0);
    for (int page = 0; page < 4; ++page)
      EXPECT_EQ(IsWindowVisible(FindControl(window, idPageFirst + page)) != 0, page == c.visiblePage) << page;
  }

  // The quality label follows the track bar as the user moves it.
  HWND track = FindControl(window, idTrackBar);
  Send(track, TBM_SETPOS, TRUE, 38);
  Send(track, WM_KEYDOWN, VK_LEFT, 0);
  Send(track, WM_KEYUP, VK_LEFT, 0);
  EXPECT_EQ(Send(track, TBM_GETPOS), 37);
  EXPECT_EQ(WindowText(FindControl(window, idQualityPer)), "37 %");

  // Stay on top: the system menu command and the switch both toggle it.
  Send(window, WM_SYSCOMMAND, kSysCmdOnTop, 0);
  EXPECT_FALSE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_EQ(Send(FindControl(window, idOnTop), BM_GETCHECK), BST_UNCHECKED);
  Send(FindControl(window, idOnTop), BM_CLICK);
  EXPECT_EQ(Send(FindControl(window, idOnTop), BM_GETCHECK), BST_CHECKED);
  EXPECT_TRUE(WaitFor([&] { return (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }, 3000));

  // Browse, then Cancel in the dialog: the save folder stays.
  const std::string before = WindowText(FindControl(window, idSave));
  Click(FindControl(window, idBrowse));
  HWND dialog = WaitForDialog(p->id);
  ASSERT_NE(dialog, nullptr) << "no folder dialog";
  bool prompt = false, newFolder = false;
  std::string texts;
  for (HWND child : Children(dialog)) {
    texts += "[" + ClassName(child) + ":" + WindowText(child) + "]";
    prompt = prompt || WindowText(child) == "Select folder";
    newFolder = newFolder || WindowText(child) == "New folder...";
  }
  EXPECT_TRUE(prompt) << texts;
  EXPECT_TRUE(newFolder) << texts;
  PressDialogButton(dialog, IDCANCEL);
  EXPECT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
  EXPECT_EQ(WindowText(FindControl(window, idSave)), before);

  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForExit(*p), 0);
}

TEST_F(Converter, ConvertsToBmpAskingBeforeReplacing) {
  const std::string src = FreshFolder("convert-src");
  const std::string out = FreshFolder("convert-out");
  const Pixels a = Pattern(37, 21, 1), b = Pattern(16, 40, 2);
  WriteBmp(src + "a.bmp", a);
  WriteBmp(src + "b.bmp", b);
  WriteFile(out + "a.bmp", "an older file");
  Process* p = nullptr;
  HWND window = Open(src, {"a.bmp", "b.bmp"}, &p);
  ASSERT_NE(window, nullptr);
  ChooseFormat(window, "BMP");
  SetText(FindControl(window, idSave), out.substr(0, out.size() - 1));  // no trailing "\": it is added
  Click(FindControl(window, idConvert));

  MessageBoxSeen replace = Answer(*p, IDYES);
  EXPECT_EQ(replace.caption, "Confirm File Replace");
  EXPECT_EQ(replace.text, "Would you like to replace existing a.bmp file?");
  EXPECT_EQ(replace.buttons, (std::vector<std::string>{"&Yes", "&No"}));
  EXPECT_TRUE(replace.hasIcon);
  MessageBoxSeen done = Answer(*p, IDOK);
  EXPECT_EQ(done.caption, "Successful!");
  EXPECT_EQ(done.text, "Successful convert file(s)!");
  EXPECT_EQ(WaitForExit(*p), 0);

  EXPECT_EQ(ReadBmp24(out + "a.bmp"), a);
  EXPECT_EQ(ReadBmp24(out + "b.bmp"), b);
  EXPECT_EQ(ReadBmp24(src + "a.bmp"), a);  // sources untouched
}

TEST_F(Converter, AnsweringNoKeepsTheFileAndTheWindowOpen) {
  const std::string src = FreshFolder("keep-src");
  WriteBmp(src + "a.bmp", Pattern(9, 9, 3));
  WriteBmp(src + "b.bmp", Pattern(9, 9, 4));
  Process* p = nullptr;
  HWND window = Open(src, {"a.bmp", "b.bmp"}, &p);
  ASSERT_NE(window, nullptr);
  ChooseFormat(window, "BMP");
  SetText(FindControl(window, idName), "copy_*");
  WriteFile(src + "copy_a.bmp", "keep me");
  // Enter in the rename edit presses the default button, Convert.
  PostMessageW(FindControl(window, idName), WM_KEYDOWN, VK_RETURN, 0);
  PostMessageW(FindControl(window, idName), WM_KEYUP, VK_RETURN, 0);
  MessageBoxSeen replace = Answer(*p, IDNO);
  EXPECT_EQ(replace.text, "Would you like to replace existing copy_a.bmp file?");
  ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(FindControl(window, idConvert)) != 0; }));
  EXPECT_EQ(ReadFile(src + "copy_a.bmp"), "keep me");
  EXPECT_EQ(ReadBmp24(src + "copy_b.bmp"), Pattern(9, 9, 4));
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_EQ(Send(FindControl(window, idBarTotal), PBM_GETPOS), 2);  // the skipped file did not advance it
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForExit(*p), 0);
}

// Names travel as 8-bit text in the system code page; the files are opened by
// their wide names.
TEST_F(Converter, ConvertsFilesWithNamesOutsideAscii) {
  const std::string src = FreshFolder("names");
  const std::wstring wideSrc(src.begin(), src.end());
  const std::wstring name = L"caf\u00e9 \u00e0 la cr\u00e8me.bmp";
  const Pixels image = Pattern(5, 7, 6);
  {
    std::string data;
    WriteBmp(src + "plain.bmp", image);
    data = ReadFile(src + "plain.bmp");
    FILE* f = _wfopen((wideSrc + name).c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
  }
  // What the extension puts on the clipboard: the names in the ANSI code page.
  auto ansi = [](const std::wstring& text) {
    std::string out(static_cast<size_t>(WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr)), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, out.data(), static_cast<int>(out.size()), nullptr, nullptr);
    out.pop_back();
    return out;
  };
  ASSERT_EQ(ansi(name).find('?'), std::string::npos) << "the name is not in this system's code page";
  SetClipboardText(ansi(name) + "|" + src + "|?STARTUP?");
  started_.push_back(StartProgram(ConverterPath()));
  Process& p = started_.back();
  HWND window = WaitForConverterWindow(p.id);
  ASSERT_NE(window, nullptr);
  ChooseFormat(window, "BMP");
  SetText(FindControl(window, idName), "out_*");
  Click(FindControl(window, idConvert));
  MessageBoxSeen done = Answer(p, IDOK);
  EXPECT_EQ(done.text, "Successful convert file(s)!");
  EXPECT_EQ(WaitForExit(p), 0);
  std::string converted;
  if (FILE* f = _wfopen((wideSrc + L"out_" + name).c_str(), L"rb")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) converted.append(buffer, n);
    fclose(f);
  }
  WriteFile(src + "check.bmp", converted);
  EXPECT_EQ(ReadBmp24(src + "check.bmp"), image);
}

TEST_F(Converter, ReportsAMissingFolderAndFilesThatAreNotImages) {
  const std::string src = FreshFolder("errors");
  WriteFile(src + "notes.txt", "not a picture");
  Process* p = nullptr;
  HWND window = Open(src, {"notes.txt"}, &p);
  ASSERT_NE(window, nullptr);
  ChooseFormat(window, "BMP");
  SetText(FindControl(window, idSave), "Z:\\no\\such\\folder");
  Click(FindControl(window, idConvert));
  MessageBoxSeen missing = Answer(*p, IDOK);
  EXPECT_EQ(missing.caption, "Error");
  EXPECT_EQ(missing.text, "Directory Z:\\no\\such\\folder is not exists.");
  EXPECT_TRUE(IsWindowEnabled(FindControl(window, idConvert)));

  SetText(FindControl(window, idSave), src);
  Click(FindControl(window, idConvert));
  MessageBoxSeen notImage = Answer(*p, IDOK);
  EXPECT_EQ(notImage.caption, "Error");
  EXPECT_EQ(notImage.text, "notes.txt is not an image file.");
  // A failed file is no success: the window stays open.
  ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(FindControl(window, idConvert)) != 0; }));
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_EQ(WaitForDialog(p->id, 300), nullptr);
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForExit(*p), 0);
}

TEST_F(Converter, CancelStopsTheBatchBeforeTheNextFile) {
  const std::string src = FreshFolder("cancel-src");
  const std::string out = FreshFolder("cancel-out");
  const int files = 24;
  std::vector<std::string> names;
  const Pixels big = Pattern(900, 700, 5);
  for (int i = 0; i < files; ++i) {
    names.push_back("big" + std::to_string(i) + ".bmp");
    WriteBmp(src + names.back(), big);
  }
  Process* p = nullptr;
  HWND window = Open(src, names, &p);
  ASSERT_NE(window, nullptr);
  ChooseFormat(window, "BMP");
  SetText(FindControl(window, idSave), out);
  HWND total = FindControl(window, idBarTotal);
  Click(FindControl(window, idConvert));
  ASSERT_TRUE(WaitFor([&] { return Send(total, PBM_GETPOS) >= 1; }, 30000)) << "the batch did not start";
  Click(FindControl(window, idCancel));
  // The window goes at once; the program ends without a success notice.
  bool boxSeen = false;
  WaitFor([&] {
    boxSeen = boxSeen || WaitForDialog(p->id, 0) != nullptr;
    return WaitForSingleObject(p->handle, 0) == WAIT_OBJECT_0;
  });
  EXPECT_FALSE(boxSeen);
  EXPECT_EQ(WaitForExit(*p), 0);
  int written = 0;
  for (const std::string& n : names) written += FileExists(out + n) ? 1 : 0;
  EXPECT_GE(written, 1);
  EXPECT_LT(written, files);
  // What was written is whole; a stopped file leaves nothing behind.
  for (const std::string& n : names) {
    if (FileExists(out + n)) {
      EXPECT_EQ(ReadBmp24(out + n), big) << n;
    }
  }
}

TEST_F(Converter, WithoutTheHandoffMarkerNoWindowOpens) {
  Process& p = Start("a.bmp|C:\\pics\\|");
  bool windowSeen = false;
  WaitFor([&] {
    windowSeen = windowSeen || FindConverterWindow(p.id) != nullptr;
    return WaitForSingleObject(p.handle, 0) == WAIT_OBJECT_0;
  });
  EXPECT_EQ(WaitForExit(p), 0);
  EXPECT_FALSE(windowSeen);
  EXPECT_EQ(ClipboardText(), "<no text>");  // emptied all the same
}

TEST_F(Converter, SecondStartBringsTheFirstWindowForwardAndEnds) {
  const std::string first = FreshFolder("first");
  Process* p1 = nullptr;
  HWND window = Open(first, {"a.bmp"}, &p1);
  ASSERT_NE(window, nullptr);
  Send(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(WaitFor([&] { return IsIconic(window) != 0; }));

  Process& p2 = Start("b.bmp|C:\\elsewhere\\|?STARTUP?");
  EXPECT_EQ(WaitForExit(p2), 0);
  EXPECT_EQ(ClipboardText(), "<no text>");  // the second handoff is dropped
  EXPECT_TRUE(WaitFor([&] { return !IsIconic(window) && GetForegroundWindow() == window; }, 10000));
  EXPECT_EQ(FindConverterWindow(0), window);  // still the only window
  EXPECT_EQ(WindowText(FindControl(window, idSave)), first);
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForExit(*p1), 0);
}

}  // namespace
}  // namespace pravik
