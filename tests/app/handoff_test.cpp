// The clipboard handoff: its grammar and what start-up does with it.
#include <gtest/gtest.h>

#include "app/handoff.h"
#include "fakes.h"

namespace pravik::testing {
namespace {

struct HandoffCase {
  const char* Label;
  std::string Block;
  bool Valid;
  std::vector<std::string> Files;
  std::string Folder;
};

TEST(Handoff, Grammar) {
  using namespace std::string_literals;
  const HandoffCase cases[] = {
      {"no marker", "a.png|b.gif|C:\\pics\\|", false, {}, ""},
      {"empty text", "", false, {}, ""},
      {"marker without any bar", "?STARTUP?", false, {}, ""},
      {"folder only", "C:\\pics\\|?STARTUP?", true, {}, "C:\\pics\\"},
      {"two files", "a.png|b.gif|C:\\pics\\|?STARTUP?", true, {"a.png", "b.gif"}, "C:\\pics\\"},
      {"pieces are trimmed", " a.png\t|\r\nb c.gif |  C:\\pics\\ |?STARTUP?", true, {"a.png", "b c.gif"},
       "C:\\pics\\"},
      {"empty pieces stay", "a.png||C:\\pics\\|?STARTUP?", true, {"a.png", ""}, "C:\\pics\\"},
      {"empty folder", "a.png||?STARTUP?", true, {"a.png"}, ""},
      {"marker anywhere", "?STARTUP?|a.png|C:\\pics\\|", true, {"?STARTUP?", "a.png"}, "C:\\pics\\"},
      {"text after the marker is dropped", "a.png|C:\\pics\\|?STARTUP?junk", true, {"a.png"}, "C:\\pics\\"},
      // A clipboard block carries its terminating zero and unused bytes after
      // it; a "|" there must not turn the marker into a file and garbage into the folder.
      {"bytes after the zero", "a.png|C:\\pics\\|?STARTUP?\0zz|q|\0\0"s, true, {"a.png"}, "C:\\pics\\"},
      {"marker only after the zero", "a.png|C:\\pics\\|\0?STARTUP?"s, false, {}, ""},
      {"8-bit names", "caf\xe9.jpg|D:\\\xc4rger\\|?STARTUP?", true, {"caf\xe9.jpg"}, "D:\\\xc4rger\\"},
  };
  for (const HandoffCase& c : cases) {
    SCOPED_TRACE(c.Label);
    const std::optional<THandoff> h = ParseHandoff(c.Block);
    ASSERT_EQ(h.has_value(), c.Valid);
    if (!h) continue;
    EXPECT_EQ(h->Files, c.Files);
    EXPECT_EQ(h->Folder, c.Folder);
  }
}

TEST(Handoff, MakeHandoffRoundTrips) {
  const std::vector<std::string> files{"a.png", "b c.gif"};
  const std::string text = MakeHandoff(files, "C:\\pics\\");
  EXPECT_EQ(text, "a.png|b c.gif|C:\\pics\\|?STARTUP?");
  const std::optional<THandoff> h = ParseHandoff(text);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->Files, files);
}

TEST(Handoff, StartUpWithValidText) {
  TFakeWindow w;
  w.clipboard.Block = std::string("a.png|b.gif|/pics/|?STARTUP?\0junk", 34);
  TmainDlg dlg(w.Ports());
  EXPECT_TRUE(dlg.ReadHandoff());
  EXPECT_TRUE(w.clipboard.Cleared);
  EXPECT_EQ(dlg.fileList, (std::vector<std::string>{"a.png", "b.gif"}));
  EXPECT_EQ(dlg.sourceDir, "/pics/");
  EXPECT_EQ(dlg.saveDir, "/pics/");
  EXPECT_EQ(w.txtSave.Text, "/pics/");
  EXPECT_EQ(w.txtName.Text, "*");
  EXPECT_EQ(w.chkIcon.Checked, (std::array<bool, 3>{true, true, true}));
  EXPECT_TRUE(w.form.Visible);
  EXPECT_FALSE(w.application.Terminated);
  EXPECT_TRUE(w.messages.Calls.empty());
  // The exception handler ends the program without a message.
  ASSERT_TRUE(w.application.ExceptionHandler);
  w.application.ExceptionHandler();
  EXPECT_TRUE(w.application.Terminated);
  EXPECT_TRUE(w.messages.Calls.empty());
}

TEST(Handoff, StartUpWithInvalidTextEndsSilently) {
  for (const char* text : {"", "just some copied text", "?STARTUP?"}) {
    SCOPED_TRACE(text);
    TFakeWindow w;
    w.clipboard.Block = text;
    TmainDlg dlg(w.Ports());
    EXPECT_FALSE(dlg.ReadHandoff());
    EXPECT_TRUE(w.clipboard.Cleared);  // emptied all the same
    EXPECT_TRUE(w.application.Terminated);
    EXPECT_FALSE(w.form.Visible);
    EXPECT_TRUE(dlg.fileList.empty());
    EXPECT_TRUE(w.messages.Calls.empty());
    EXPECT_EQ(w.chkIcon.Checked, (std::array<bool, 3>{true, true, true}));
  }
}

TEST(Handoff, FolderWithoutDelimiterStillReadsFromIt) {
  TFakeWindow w;
  w.clipboard.Block = "a.png|/pics|?STARTUP?";
  TmainDlg dlg(w.Ports());
  ASSERT_TRUE(dlg.ReadHandoff());
  EXPECT_EQ(dlg.sourceDir, "/pics/");
  EXPECT_EQ(w.txtSave.Text, "/pics");
}

}  // namespace
}  // namespace pravik::testing
