// PravikConvert.exe: started by the Explorer extension with the selection on
// the clipboard. Start-up: the library's process-wide state, the application
// (single instance), the window with the handoff, the message loop.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include "imageio/params.h"
#include "imageio/registry.h"
#include "platform/win32/control_ids.h"
#include "platform/win32/main_window.h"
#include "platform/win32/ports.h"
#include "platform/win32/single_instance.h"

namespace {

// The library's process-wide state, made before the first window message so
// that nothing is first built in the middle of a batch: the format registry
// with the GIF entry's availability from the default LZW routines. The
// default resolution (gDefaultDPIX/Y, 300) keeps its initial value.
void InitializeUnits() {
  pravik::IEFileFormatCount();
  pravik::IEUpdateGIFStatus();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  using namespace pravik::win32;
  InitializeUnits();
  // The folder dialog is a COM object that needs a single-threaded apartment.
  const bool ole = SUCCEEDED(OleInitialize(nullptr));
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS | ICC_TAB_CLASSES;
  InitCommonControlsEx(&controls);

  TApplication application;
  TMessageBoxes messages;
  TClipboard clipboard;
  {
    TSingleInstance onlyOne(kWindowCaption);
    if (onlyOne.AlreadyRunning()) {
      // The handoff of a second start is taken off the clipboard and dropped:
      // the running converter keeps its own files.
      clipboard.GetTextBlock();
      clipboard.Clear();
      onlyOne.ActivateRunning();
    } else {
      TMainWindow window(instance, application, messages, clipboard);
      application.Guard([&] {
        window.Create();
        onlyOne.RecordWindow(window.Handle());
        window.ReadHandoff();
      });
      application.Run();
    }
  }
  if (ole) OleUninitialize();
  return 0;
}
