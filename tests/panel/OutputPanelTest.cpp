// The output panel's save button through the main window, against a recording tag library.
#include "panel/OutputPanel.h"

#include <gmock/gmock.h>

#include "window/Controls.h"
#include "app/MainWindow.h"
#include "app/Program.h"
#include "resources/resource.h"
#include "tags/TagLibrary.h"
#include "tests/support/RecordingLibrary.h"
#include "tests/support/WinTestSupport.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class OutputPanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitTestModule();
    ASSERT_TRUE(library.Open());
    library.Configure(2, 0);
    GetCurrentDirectoryA(MAX_PATH, previousDirectory);
    SetCurrentDirectoryA(scratch.path().c_str());
    for (const char* name : {"a.mp3", "b.mp3", "c.mp3"})
      CommandLinePaths.push_back(scratch.AddFile(name));
    ASSERT_TRUE(window.Create());
    panel = window.panel().hwnd();
    // The sample rules beside the test program filled some cells at intake; start empty.
    for (int row = 0; row < window.list().RowCount(); ++row) window.list().ClearTagColumns(row);
    library.Configure(2, 0);
  }
  void TearDown() override {
    DestroyWindow(window.hwnd());
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    CommandLinePaths.clear();
    SetCurrentDirectoryA(previousDirectory);
    library.Close();
  }

  std::vector<std::string> Log() { return library.Calls(); }
  void PressSave() { SendMessageA(panel, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); }

  RecordingLibrary library;
  char previousDirectory[MAX_PATH] = "";
  ScratchFolder scratch;
  MainWindow window;
  HWND panel = nullptr;
};

TEST_F(OutputPanelTest, SaveStartsInPlaceForEveryRowSelectedOrNot) {
  EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(panel, IDC_SAVE_IN_PLACE));
  SetItemState(window.list().hwnd(), 1, LVIS_SELECTED, LVIS_SELECTED);
  // A folder typed in changes nothing while "上書き(&W)" is chosen.
  SetDlgItemTextA(panel, IDC_FOLDER, "C:\\elsewhere");
  PressSave();
  EXPECT_THAT(Log(), ElementsAre("Load " + scratch / "a.mp3", "Save " + scratch / "a.mp3",
                                 "Load " + scratch / "b.mp3", "Save " + scratch / "b.mp3",
                                 "Load " + scratch / "c.mp3", "Save " + scratch / "c.mp3"));
}

TEST_F(OutputPanelTest, SaveIntoTheChosenFolder) {
  const std::string out = scratch.AddFolder("out");
  CheckRadioButton(panel, IDC_SAVE_IN_PLACE, IDC_SAVE_TO_FOLDER, IDC_SAVE_TO_FOLDER);
  SetDlgItemTextA(panel, IDC_FOLDER, out.c_str());
  PressSave();
  EXPECT_THAT(Log(), ElementsAre("Load " + out + "\\a.mp3", "Save " + out + "\\a.mp3",
                                 "Load " + out + "\\b.mp3", "Save " + out + "\\b.mp3",
                                 "Load " + out + "\\c.mp3", "Save " + out + "\\c.mp3"));
}

TEST_F(OutputPanelTest, AnEmptyFolderFieldIsStillAFolderNotInPlace) {
  const std::string work = scratch.AddFolder("work");
  SetCurrentDirectoryA(work.c_str());
  CheckRadioButton(panel, IDC_SAVE_IN_PLACE, IDC_SAVE_TO_FOLDER, IDC_SAVE_TO_FOLDER);
  PressSave();
  // The copies go where an empty folder text leads: the current folder.
  EXPECT_THAT(Log(), ElementsAre("Load a.mp3", "Save a.mp3", "Load b.mp3", "Save b.mp3",
                                 "Load c.mp3", "Save c.mp3"));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((work + "\\a.mp3").c_str()));
}

TEST_F(OutputPanelTest, ALongFolderTextIsCutAndEveryRowFails) {
  CheckRadioButton(panel, IDC_SAVE_IN_PLACE, IDC_SAVE_TO_FOLDER, IDC_SAVE_TO_FOLDER);
  const std::string folder = "C:\\" + std::string(297, 'f');
  SetDlgItemTextA(panel, IDC_FOLDER, folder.c_str());
  EXPECT_EQ(folder.substr(0, 259), window.panel().FolderText());
  std::vector<SeenBox> boxes;
  {
    BoxWatcher watcher;
    PressSave();
    boxes = watcher.boxes();
  }
  // One report at the end of the save, for the three rows.
  ASSERT_EQ(1u, boxes.size());
  EXPECT_THAT(boxes[0].text, ::testing::StartsWith("3 個のファイルのうち 3 個"));
  EXPECT_THAT(Log(), IsEmpty());
}

TEST_F(OutputPanelTest, WithNoRowsSaveDoesNothing) {
  SendMessageA(window.list().hwnd(), LVM_DELETEALLITEMS, 0, 0);
  PressSave();
  EXPECT_THAT(Log(), IsEmpty());
}

}  // namespace
