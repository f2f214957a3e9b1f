// Widgets that only hold their values: the command line's controls and the
// starting point of test fakes. Each field is public so the owner can set and
// read it directly.
#pragma once

#include <array>
#include <string>

#include "app/ports.h"

namespace pravik {

class TValueForm : public IForm {
 public:
  void Show() override { Visible = true; }
  void Hide() override { Visible = false; }
  bool Visible = false;
};

class TValueRadioGroup : public IRadioGroup {
 public:
  int GetItemIndex() const override { return ItemIndex; }
  int ItemIndex = 0;
};

class TValueTrackBar : public ITrackBar {
 public:
  int GetPosition() const override { return Position; }
  int Position = 100;
};

class TValueCheckGroup : public ICheckGroup {
 public:
  bool GetChecked(int index) const override { return index >= 0 && index < 3 && Checked[index]; }
  void SetChecked(int index, bool checked) override {
    if (index >= 0 && index < 3) Checked[index] = checked;
  }
  std::array<bool, 3> Checked{};
};

class TValueEdit : public IEdit {
 public:
  TValueEdit() = default;
  explicit TValueEdit(std::string text) : Text(std::move(text)) {}
  std::string GetText() const override { return Text; }
  void SetText(const std::string& text) override { Text = text; }
  std::string Text;
};

class TValueLabel : public ILabel {
 public:
  void SetCaption(const std::string& caption) override { Caption = caption; }
  std::string Caption;
};

class TValueProgressBar : public IProgressBar {
 public:
  void SetMax(int max) override { Max = max; }
  void SetPosition(int position) override { Position = position; }
  int Max = 100;
  int Position = 0;
};

class TValueButton : public IButton {
 public:
  void SetEnabled(bool enabled) override { Enabled = enabled; }
  bool Enabled = true;
};

}  // namespace pravik
