// What the batch engine (TmainDlg) needs of the window and of the platform,
// as small abstract interfaces. The Win32 window implements them over its
// controls; the command line implements them over plain values and the
// terminal; tests implement them as in-memory fakes with scripted answers.
//
// Widgets are named by the controls they stand for (r_Format, imgTrackBar,
// chkIcon, txtName, txtSave, lblStatus, barConversion, barTotal, btnConvert).
// Every call comes from the thread that runs the batch.
#pragma once

#include <functional>
#include <string>

namespace pravik {

// ---- message boxes: flags and answers (the platform's numeric values) ------------------
inline constexpr int mbOK = 0;
inline constexpr int mbYesNo = 4;
inline constexpr int mbIconQuestion = 32;
inline constexpr int mbIconExclamation = 48;
inline constexpr int mbIconInformation = 64;
inline constexpr int idOK = 1;
inline constexpr int idYes = 6;
inline constexpr int idNo = 7;

// ---- widgets ---------------------------------------------------------------------------
class IForm {  // the window itself
 public:
  virtual ~IForm() = default;
  virtual void Show() = 0;
  virtual void Hide() = 0;
};

class IRadioGroup {  // r_Format: the target format
 public:
  virtual ~IRadioGroup() = default;
  virtual int GetItemIndex() const = 0;
};

class ITrackBar {  // imgTrackBar: quality, 0..100
 public:
  virtual ~ITrackBar() = default;
  virtual int GetPosition() const = 0;
};

class ICheckGroup {  // chkIcon: 0 = "64x64", 1 = "32x32", 2 = "16x16"
 public:
  virtual ~ICheckGroup() = default;
  virtual bool GetChecked(int index) const = 0;
  virtual void SetChecked(int index, bool checked) = 0;
};

class IEdit {  // txtName, txtSave
 public:
  virtual ~IEdit() = default;
  virtual std::string GetText() const = 0;
  virtual void SetText(const std::string& text) = 0;
};

class ILabel {  // lblStatus
 public:
  virtual ~ILabel() = default;
  virtual void SetCaption(const std::string& caption) = 0;
};

class IProgressBar {  // barConversion (0..100), barTotal (0..files)
 public:
  virtual ~IProgressBar() = default;
  virtual void SetMax(int max) = 0;
  virtual void SetPosition(int position) = 0;
};

class IButton {  // btnConvert
 public:
  virtual ~IButton() = default;
  virtual void SetEnabled(bool enabled) = 0;
};

// ---- platform ----------------------------------------------------------------------------
class IClipboard {
 public:
  virtual ~IClipboard() = default;
  // The clipboard's text block as stored, possibly with its terminating zero
  // and unused bytes after it; empty when the clipboard holds no text.
  virtual std::string GetTextBlock() = 0;
  virtual void Clear() = 0;
};

class IMessageBox {
 public:
  virtual ~IMessageBox() = default;
  // A modal box owned by the application; returns the button pressed (idYes ...).
  virtual int ShowMessage(const std::string& text, const std::string& caption, int flags) = 0;
};

class IApplication {
 public:
  virtual ~IApplication() = default;
  // Handles pending window messages (repaint, Cancel, closing, control
  // changes); may re-enter the batch's handlers.
  virtual void ProcessMessages() = 0;
  // Asks the message loop to end when it next runs; the caller keeps running.
  virtual void Terminate() = 0;
  // The handler for exceptions that escape an event handler.
  virtual void SetOnException(std::function<void()> handler) = 0;
};

// Everything the batch engine is wired to. All pointers must be set except
// clipboard, which only the start-up handoff reads.
struct TMainDlgPorts {
  IForm* form = nullptr;
  IRadioGroup* r_Format = nullptr;
  ITrackBar* imgTrackBar = nullptr;
  ICheckGroup* chkIcon = nullptr;
  IEdit* txtName = nullptr;
  IEdit* txtSave = nullptr;
  ILabel* lblStatus = nullptr;
  IProgressBar* barConversion = nullptr;
  IProgressBar* barTotal = nullptr;
  IButton* btnConvert = nullptr;
  IClipboard* clipboard = nullptr;
  IMessageBox* messages = nullptr;
  IApplication* application = nullptr;
};

}  // namespace pravik
