// The Convert handler: the per-file loop, its reports, the replace check,
// progress, cancellation and the end of the batch, over fake codecs.
#include <gtest/gtest.h>

#include "app/handoff.h"
#include "fakes.h"

namespace pravik::testing {
namespace {

constexpr int kPNG = 6;

class Batch : public ::testing::Test {
 protected:
  // Puts the handoff for files of the scratch folder on the clipboard and runs start-up.
  void Start(const std::vector<std::string>& files) {
    w.clipboard.Block = MakeHandoff(files, dir.Folder());
    ASSERT_TRUE(dlg.ReadHandoff());
  }
  std::vector<std::string> Errors() const {
    std::vector<std::string> out;
    for (const auto& c : w.messages.Calls) {
      if (c.Caption == "Error") {
        EXPECT_EQ(c.Flags, mbOK + mbIconExclamation) << c.Text;
        out.push_back(c.Text);
      }
    }
    return out;
  }
  bool SuccessShown() const {
    for (const auto& c : w.messages.Calls)
      if (c.Text == "Successful convert file(s)!") return true;
    return false;
  }

  TScratchDir dir;
  TFakeCodecs codecs;
  TFakeWindow w;
  TmainDlg dlg{w.Ports()};
};

TEST_F(Batch, EveryFileConvertedEndsWithTheNotice) {
  dir.Write("a.bmp", TFakeCodecs::Source('G', '1'));
  dir.Write("b.gif", TFakeCodecs::Source('G', '2'));
  Start({"a.bmp", "b.gif"});
  w.r_Format.ItemIndex = kPNG;
  w.imgTrackBar.Position = 45;
  bool disabledDuringBatch = true;
  w.application.OnProcessMessages = [&] { disabledDuringBatch = disabledDuringBatch && !w.btnConvert.Enabled; };

  dlg.btnConvertClick(nullptr);

  EXPECT_EQ(dir.Read("a.png"), "pixel=1 bps=8 quality=80 png=5\n");
  EXPECT_EQ(dir.Read("b.png"), "pixel=2 bps=8 quality=80 png=5\n");
  ASSERT_EQ(w.messages.Calls.size(), 1u);
  EXPECT_EQ(w.messages.Calls[0].Text, "Successful convert file(s)!");
  EXPECT_EQ(w.messages.Calls[0].Caption, "Successful!");
  EXPECT_EQ(w.messages.Calls[0].Flags, 64);
  EXPECT_EQ(w.lblStatus.Caption, "Successful!");
  EXPECT_TRUE(w.application.Terminated);
  EXPECT_TRUE(w.btnConvert.Enabled);
  EXPECT_GT(w.application.ProcessCount, 0);
  EXPECT_TRUE(disabledDuringBatch);
  EXPECT_EQ(w.barTotal.Max, 2);
  EXPECT_EQ(w.barTotal.Positions, (std::vector<int>{1, 2}));
}

TEST_F(Batch, OutputNamePerFormatAndPattern) {
  dir.Write("photo.old.bmp", TFakeCodecs::Source('G', 'p'));
  Start({"photo.old.bmp"});
  w.txtName.Text = "x_*";
  const char* exts[] = {".jpg", ".jp2", ".gif", ".psd", ".tiff", ".bmp", ".png",
                        ".ico", ".pcx", ".tga", ".pxm", ".wbmp", ".ps",   ".pdf"};
  for (int i = 0; i < kTargetFormatCount; ++i) {
    w.r_Format.ItemIndex = i;
    dlg.btnConvertClick(nullptr);
    EXPECT_TRUE(dir.Exists(std::string("x_photo.old") + exts[i])) << exts[i];
  }
  EXPECT_EQ(dir.Names().size(), 15u);
  EXPECT_TRUE(Errors().empty());
}

TEST_F(Batch, FailuresAreReportedAndTheBatchGoesOn) {
  dir.Write("1.bmp", TFakeCodecs::Source('G', '1'));
  dir.Write("notes.txt", "just some notes, no picture here\n");
  dir.Write("bad.bmp", TFakeCodecs::Source('A', 'b'));
  dir.Write("boom.bmp", TFakeCodecs::Source('X', 'x'));
  dir.Write("wfail.bmp", TFakeCodecs::Source('G', 'F'));
  dir.Write("wthrow.bmp", TFakeCodecs::Source('G', 'T'));
  dir.Write("7.bmp", TFakeCodecs::Source('G', '7'));
  Start({"1.bmp", "notes.txt", "bad.bmp", "boom.bmp", "wfail.bmp", "wthrow.bmp", "7.bmp"});
  w.r_Format.ItemIndex = kPNG;

  dlg.btnConvertClick(nullptr);

  EXPECT_EQ(Errors(), (std::vector<std::string>{
                          "notes.txt is not an image file.",
                          "bad.bmp is not an image file.\nbroken header",
                          "boom.bmp could not be converted.\ncannot read the disk",
                          "wfail.bmp could not be converted.\nno room on device",
                          "wthrow.bmp could not be converted.\nwrite refused",
                      }));
  EXPECT_FALSE(SuccessShown());
  EXPECT_FALSE(w.application.Terminated);  // the window stays open
  EXPECT_TRUE(w.btnConvert.Enabled);
  EXPECT_EQ(w.lblStatus.Caption, "2 of 7 file(s) converted.");
  EXPECT_EQ(w.barTotal.Positions, (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(TFakeCodecs::Written(), (std::vector<char>{'1', '7'}));
  // No output for a failed file, no half image, no temporary file left.
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"1.bmp", "1.png", "7.bmp", "7.png", "bad.bmp", "boom.bmp",
                                                   "notes.txt", "wfail.bmp", "wthrow.bmp"}));
}

TEST_F(Batch, EmptyNameIsReportedNotConverted) {
  dir.Write("a.bmp", TFakeCodecs::Source('G', 'a'));
  Start({"", "a.bmp"});
  w.r_Format.ItemIndex = kPNG;
  dlg.btnConvertClick(nullptr);
  EXPECT_EQ(Errors(), (std::vector<std::string>{" is not an image file."}));
  EXPECT_TRUE(dir.Exists("a.png"));
  EXPECT_FALSE(dir.Exists(".png"));
}

TEST_F(Batch, MissingSaveFolderTouchesNothing) {
  dir.Write("a.bmp", TFakeCodecs::Source('G', 'a'));
  Start({"a.bmp"});
  const std::string missing = dir.Folder() + "nope";
  w.txtSave.Text = "  " + missing + " ";
  bool everDisabled = false;
  struct Watch : TValueButton {
    bool* flag;
    void SetEnabled(bool e) override {
      if (!e) *flag = true;
      TValueButton::SetEnabled(e);
    }
  } watch;
  watch.flag = &everDisabled;
  TMainDlgPorts ports = w.Ports();
  ports.btnConvert = &watch;
  TmainDlg other(ports);
  other.fileList = dlg.fileList;
  other.sourceDir = dlg.sourceDir;

  other.btnConvertClick(nullptr);

  ASSERT_EQ(w.messages.Calls.size(), 1u);
  EXPECT_EQ(w.messages.Calls[0].Text, "Directory " + missing + " is not exists.");
  EXPECT_EQ(w.messages.Calls[0].Caption, "Error");
  EXPECT_EQ(w.messages.Calls[0].Flags, 48);
  EXPECT_FALSE(everDisabled);
  EXPECT_TRUE(TFakeCodecs::Loaded().empty());
  EXPECT_FALSE(w.application.Terminated);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"a.bmp"}));
}

TEST_F(Batch, OtherSaveFolderWithoutDelimiter) {
  TScratchDir out;
  dir.Write("a.bmp", TFakeCodecs::Source('G', 'a'));
  Start({"a.bmp"});
  std::string folder = out.Folder();
  folder.pop_back();
  w.txtSave.Text = folder;
  w.r_Format.ItemIndex = kPNG;
  dlg.btnConvertClick(nullptr);
  EXPECT_EQ(out.Names(), (std::vector<std::string>{"a.png"}));
  EXPECT_EQ(dlg.saveDir, out.Folder());
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"a.bmp"}));  // sources still read from the handoff folder
}

TEST_F(Batch, ClearedRenamePatternBecomesStar) {
  dir.Write("a.bmp", TFakeCodecs::Source('G', 'a'));
  Start({"a.bmp"});
  w.txtName.Text = " \t";
  w.r_Format.ItemIndex = kPNG;
  dlg.btnConvertClick(nullptr);
  EXPECT_EQ(w.txtName.Text, "*");
  EXPECT_TRUE(dir.Exists("a.png"));
}

TEST_F(Batch, ReplaceCheckWithScriptedAnswers) {
  dir.Write("a.bmp", TFakeCodecs::Source('G', 'a'));
  dir.Write("b.bmp", TFakeCodecs::Source('G', 'b'));
  dir.Write("a.png", "keep me");
  Start({"a.bmp", "b.bmp"});
  w.r_Format.ItemIndex = kPNG;
  w.messages.Answers = {idNo};

  dlg.btnConvertClick(nullptr);

  ASSERT_EQ(w.messages.Calls.size(), 1u);
  EXPECT_EQ(w.messages.Calls[0].Text, "Would you like to replace existing a.png file?");
  EXPECT_EQ(w.messages.Calls[0].Caption, "Confirm File Replace");
  EXPECT_EQ(w.messages.Calls[0].Flags, 36);
  EXPECT_EQ(dir.Read("a.png"), "keep me");
  EXPECT_TRUE(dir.Exists("b.png"));
  EXPECT_EQ(TFakeCodecs::Loaded(), (std::vector<char>{'b'}));  // a skipped file is not even read
  EXPECT_EQ(w.barTotal.Positions, (std::vector<int>{2}));      // nor counted
  EXPECT_FALSE(w.application.Terminated);
  EXPECT_TRUE(w.btnConvert.Enabled);
  EXPECT_EQ(w.lblStatus.Caption, "1 of 2 file(s) converted.");

  // Convert again walks the whole list again; both outputs exist now.
  w.messages.Calls.clear();
  w.messages.Answers = {idYes, idYes};
  dlg.btnConvertClick(nullptr);
  EXPECT_EQ(w.messages.Texts(), (std::vector<std::string>{"Would you like to replace existing a.png file?",
                                                          "Would you like to replace existing b.png file?",
                                                          "Successful convert file(s)!"}));
  EXPECT_EQ(dir.Read("a.png"), "pixel=a bps=8 quality=80 png=0\n");
  EXPECT_TRUE(w.application.Terminated);
}

TEST_F(Batch, PatternWithoutStarAsksFromTheSecondFile) {
  for (char c : {'a', 'b', 'c'}) dir.Write(std::string(1, c) + ".bmp", TFakeCodecs::Source('G', c));
  Start({"a.bmp", "b.bmp", "c.bmp"});
  w.txtName.Text = "pic";
  w.r_Format.ItemIndex = kPNG;
  w.messages.Answers = {idYes, idNo};
  dlg.btnConvertClick(nullptr);
  EXPECT_EQ(w.messages.Texts(), (std::vector<std::string>{"Would you like to replace existing pic.png file?",
                                                          "Would you like to replace existing pic.png file?"}));
  EXPECT_EQ(dir.Read("pic.png"), "pixel=b bps=8 quality=80 png=0\n");
  EXPECT_FALSE(SuccessShown());
}

TEST_F(Batch, ProgressShowsPhaseAndPerCent) {
  dir.Write("a.bmp", TFakeCodecs::Source('S', 'W'));
  Start({"a.bmp"});
  w.r_Format.ItemIndex = kPNG;
  dlg.btnConvertClick(nullptr);
  const auto& h = w.lblStatus.History;
  const auto firstSaving = std::find(h.begin(), h.end(), "Saving...");
  ASSERT_NE(firstSaving, h.end());
  EXPECT_NE(std::find(h.begin(), firstSaving, "Loading..."), firstSaving);
  EXPECT_EQ(std::find(firstSaving, h.end(), "Loading..."), h.end());
  // Ten reports from the reader, ten from the writer, a final 100 from each frame.
  std::vector<int> expected;
  for (int pass = 0; pass < 2; ++pass) {
    for (int k = 1; k <= 10; ++k) expected.push_back(k * 10);
    expected.push_back(100);
  }
  EXPECT_EQ(w.barConversion.Positions, expected);
  EXPECT_TRUE(dlg.isLoading);
}

TEST_F(Batch, CancelWhileLoadingTheSecondOfFiveFiles) {
  for (char c : {'1', '2', '3', '4', '5'}) dir.Write(std::string(1, c) + ".bmp", TFakeCodecs::Source('S', c));
  Start({"1.bmp", "2.bmp", "3.bmp", "4.bmp", "5.bmp"});
  w.r_Format.ItemIndex = kPNG;
  int reportsOfSecond = 0;
  w.application.OnProcessMessages = [&] {
    if (dlg.isStopped) return;
    if (TFakeCodecs::Loaded().size() == 1 && w.lblStatus.Caption == "Loading..." && ++reportsOfSecond == 3)
      dlg.btnCancelClick(nullptr);
  };

  dlg.btnConvertClick(nullptr);

  EXPECT_FALSE(w.form.Visible);
  EXPECT_TRUE(w.application.Terminated);
  EXPECT_TRUE(dlg.isStopped);
  EXPECT_TRUE(w.messages.Calls.empty());  // no error, no success notice
  EXPECT_EQ(reportsOfSecond, 3);          // the reader stopped at its next test of the flag
  EXPECT_EQ(TFakeCodecs::Loaded(), (std::vector<char>{'1'}));
  EXPECT_EQ(TFakeCodecs::Written(), (std::vector<char>{'1'}));
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"1.bmp", "1.png", "2.bmp", "3.bmp", "4.bmp", "5.bmp"}));
}

TEST_F(Batch, ClosingWhileSavingLeavesNoPartialFile) {
  dir.Write("a.bmp", TFakeCodecs::Source('G', 'W'));
  dir.Write("b.bmp", TFakeCodecs::Source('G', 'b'));
  Start({"a.bmp", "b.bmp"});
  w.r_Format.ItemIndex = kPNG;
  w.application.OnProcessMessages = [&] {
    if (w.lblStatus.Caption == "Saving..." && w.barConversion.Position == 30) dlg.FormClose(nullptr);
  };
  dlg.btnConvertClick(nullptr);
  EXPECT_TRUE(w.application.Terminated);
  EXPECT_TRUE(w.messages.Calls.empty());
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"a.bmp", "b.bmp"}));
}

// The window keeps one record for the batch: what a reader left steers the
// next writer. The command line starts every file from a defaulted record.
TEST_F(Batch, RecordCarriesOverUnlessFreshPerFile) {
  dir.Write("a.bmp", TFakeCodecs::Source('B', 'a'));
  dir.Write("b.bmp", TFakeCodecs::Source('G', 'b'));
  Start({"a.bmp", "b.bmp"});
  w.r_Format.ItemIndex = 0;  // JPEG: sets the quality only
  w.imgTrackBar.Position = 70;
  dlg.btnConvertClick(nullptr);
  EXPECT_EQ(dir.Read("b.jpg"), "pixel=b bps=1 quality=70 png=5\n");

  TScratchDir out;
  w.txtSave.Text = out.Folder();
  dlg.FreshRecordPerFile = true;
  dlg.btnConvertClick(nullptr);
  EXPECT_EQ(out.Read("a.jpg"), "pixel=a bps=1 quality=70 png=5\n");
  EXPECT_EQ(out.Read("b.jpg"), "pixel=b bps=8 quality=70 png=5\n");
}

// The replace check and the writer use the same format: a change made while a
// file loads applies from the next file and never overwrites unasked.
TEST_F(Batch, FormatChangedWhileLoadingAppliesToTheNextFile) {
  dir.Write("a.bmp", TFakeCodecs::Source('S', 'a'));
  dir.Write("b.bmp", TFakeCodecs::Source('G', 'b'));
  dir.Write("a.png", "keep me");
  Start({"a.bmp", "b.bmp"});
  w.r_Format.ItemIndex = 0;
  w.application.OnProcessMessages = [&] { w.r_Format.ItemIndex = kPNG; };
  dlg.btnConvertClick(nullptr);
  EXPECT_TRUE(w.messages.Texts() == std::vector<std::string>{"Successful convert file(s)!"});
  EXPECT_EQ(dir.Read("a.png"), "keep me");
  EXPECT_TRUE(dir.Exists("a.jpg"));
  EXPECT_TRUE(dir.Exists("b.png"));
}

TEST_F(Batch, FolderOnlyHandoffEndsWithTheNotice) {
  Start({});
  EXPECT_TRUE(dlg.fileList.empty());
  EXPECT_TRUE(w.form.Visible);
  dlg.btnConvertClick(nullptr);
  EXPECT_EQ(w.messages.Texts(), (std::vector<std::string>{"Successful convert file(s)!"}));
  EXPECT_TRUE(w.application.Terminated);
}

TEST(FileResult, Lines) {
  EXPECT_EQ(FailureLine("d/a.txt", {TFileStatus::NotImage, "d/a.jpg", "unknown image format"}),
            "d/a.txt: not an image file (unknown image format)");
  EXPECT_EQ(FailureLine("d/a.bmp", {TFileStatus::WriteFailed, "o/a.png", ""}),
            "d/a.bmp: could not be converted to o/a.png");
  EXPECT_EQ(FailureLine("d/a.bmp", {TFileStatus::Skipped, "o/a.png", ""}), "d/a.bmp: skipped, o/a.png exists");
  EXPECT_EQ(FailureLine("d/a.bmp", {TFileStatus::Converted, "o/a.png", ""}), "");
  EXPECT_EQ(FailureMessage("a.bmp", {TFileStatus::ReadFailed, "", ""}), "a.bmp is not an image file.");
}

}  // namespace
}  // namespace pravik::testing
