// In-memory stand-ins for the window and the platform, scripted message-box
// answers, fake codecs plugged into the front's slots, and a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/main.h"
#include "app/value_widgets.h"
#include "imageio/codec_table.h"

namespace pravik::testing {

class TRecordingLabel : public TValueLabel {
 public:
  void SetCaption(const std::string& caption) override {
    TValueLabel::SetCaption(caption);
    History.push_back(caption);
  }
  std::vector<std::string> History;
};

class TRecordingProgressBar : public TValueProgressBar {
 public:
  void SetPosition(int position) override {
    TValueProgressBar::SetPosition(position);
    Positions.push_back(position);
  }
  std::vector<int> Positions;
};

class TFakeClipboard : public IClipboard {
 public:
  std::string GetTextBlock() override { return Block; }
  void Clear() override {
    Block.clear();
    Cleared = true;
  }
  std::string Block;
  bool Cleared = false;
};

class TFakeMessageBox : public IMessageBox {
 public:
  struct Call {
    std::string Text, Caption;
    int Flags;
  };
  int ShowMessage(const std::string& text, const std::string& caption, int flags) override {
    Calls.push_back({text, caption, flags});
    if (Answers.empty()) return DefaultAnswer;
    const int a = Answers.front();
    Answers.pop_front();
    return a;
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const Call& c : Calls) t.push_back(c.Text);
    return t;
  }
  std::vector<Call> Calls;
  std::deque<int> Answers;
  int DefaultAnswer = idOK;
};

class TFakeApplication : public IApplication {
 public:
  void ProcessMessages() override {
    ++ProcessCount;
    if (OnProcessMessages) OnProcessMessages();
  }
  void Terminate() override { Terminated = true; }
  void SetOnException(std::function<void()> handler) override { ExceptionHandler = std::move(handler); }
  int ProcessCount = 0;
  std::function<void()> OnProcessMessages;
  bool Terminated = false;
  std::function<void()> ExceptionHandler;
};

struct TFakeWindow {
  TValueForm form;
  TValueRadioGroup r_Format;
  TValueTrackBar imgTrackBar;
  TValueCheckGroup chkIcon;
  TValueEdit txtName, txtSave;
  TRecordingLabel lblStatus;
  TRecordingProgressBar barConversion, barTotal;
  TValueButton btnConvert;
  TFakeClipboard clipboard;
  TFakeMessageBox messages;
  TFakeApplication application;

  TMainDlgPorts Ports() {
    TMainDlgPorts p;
    p.form = &form;
    p.r_Format = &r_Format;
    p.imgTrackBar = &imgTrackBar;
    p.chkIcon = &chkIcon;
    p.txtName = &txtName;
    p.txtSave = &txtSave;
    p.lblStatus = &lblStatus;
    p.barConversion = &barConversion;
    p.barTotal = &barTotal;
    p.btnConvert = &btnConvert;
    p.clipboard = &clipboard;
    p.messages = &messages;
    p.application = &application;
    return p;
  }
};

// A scratch folder removed at the end of the test.
class TScratchDir {
 public:
  TScratchDir();
  ~TScratchDir();
  TScratchDir(const TScratchDir&) = delete;
  TScratchDir& operator=(const TScratchDir&) = delete;
  // The folder with a trailing delimiter.
  std::string Folder() const;
  std::string Path(const std::string& name) const { return Folder() + name; }
  void Write(const std::string& name, const std::string& bytes) const;
  std::string Read(const std::string& name) const;
  bool Exists(const std::string& name) const;
  // Every file name in the folder, sorted.
  std::vector<std::string> Names() const;

 private:
  std::filesystem::path dir_;
};

// Fake codecs. The reader takes the BMP slot (content "BM" and more than 14
// bytes): byte 2 says what it does, byte 3 is the pixel value it loads.
//   'G' loads a 2x1 ie24RGB image        'B' as 'G' and sets BITSPERSAMPLE = 1
//   'A' stops on bad data ("broken header")  'X' raises ("cannot read the disk")
//   'S' reports progress ten times, stopping when the abort flag is set
// The writer takes every target format's slot and writes a text of what it
// saw; the loaded pixel value chooses what it does:
//   'F' fails ("no room on device")   'T' raises ("write refused")
//   'W' reports progress ten times, stopping when the abort flag is set
class TFakeCodecs {
 public:
  TFakeCodecs();
  ~TFakeCodecs();
  TFakeCodecs(const TFakeCodecs&) = delete;
  TFakeCodecs& operator=(const TFakeCodecs&) = delete;

  // The file content for a reader command and pixel value.
  static std::string Source(char command, char pixel);
  // Pixel values loaded, in order, and pixel values written.
  static std::vector<char>& Loaded();
  static std::vector<char>& Written();

 private:
  std::vector<TIECodec> saved_;
};

}  // namespace pravik::testing
