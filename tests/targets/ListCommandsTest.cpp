// The list's commands: those that bring up windows of their own (the rule input dialog, the
// context menu) driven from another thread while the command runs, and those that reach the tag
// library, against one that records its calls.
#include <windows.h>

#include <commctrl.h>
#include <gmock/gmock.h>

#include "window/Controls.h"
#include "resources/resource.h"
#include "targets/TargetListView.h"
#include "tests/support/RecordingLibrary.h"
#include "tests/targets/TargetListFixture.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

const char kDialogTitle[] = "ルールを入力してください";

class ListCommandsTest : public TargetListFixture {
 protected:
  void SetUp() override {
    parentStyle |= WS_VISIBLE;
    TargetListFixture::SetUp();
    SetWindowPos(list.hwnd(), nullptr, 0, 0, 580, 360, SWP_NOZORDER);
    for (const char* name : {"A - One.mp3", "B - Two.mp3", "Three.mp3"})
      list.AddPath(scratch.AddFile(name));
  }
};

TEST_F(ListCommandsTest, ApplyRuleOffersTheCommonRuleWhollySelectedAndAppliesTheTypedOne) {
  list.ItemOfRow(0)->rule = "$T.mp3";
  list.ItemOfRow(1)->rule = "$T.mp3";
  list.SetCellText(2, 7, "kept");
  Select({0, 1});
  std::string offered, title;
  DWORD selStart = 1, selEnd = 0;
  std::thread driver = DriveWindow("#32770", kDialogTitle, [&](HWND dialog) {
    char text[256];
    GetWindowTextA(dialog, text, sizeof text);
    title = text;
    HWND edit = GetDlgItem(dialog, IDC_RULE_EDIT);
    GetWindowTextA(edit, text, sizeof text);
    offered = text;
    SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart),
                 reinterpret_cast<LPARAM>(&selEnd));
    SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("$A - $T.mp3"));
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  });
  SendMessageA(list.hwnd(), WM_COMMAND, ID_APPLY_RULE, 0);
  driver.join();
  EXPECT_EQ(kDialogTitle, title);
  EXPECT_EQ("$T.mp3", offered);
  EXPECT_EQ(0u, selStart);
  EXPECT_EQ(offered.size(), selEnd);
  EXPECT_EQ("$A - $T.mp3", list.ItemOfRow(0)->rule);
  EXPECT_EQ("B", list.CellText(1, 1));
  EXPECT_EQ("Two", list.CellText(1, 3));
  EXPECT_EQ("kept", list.CellText(2, 7));
}

TEST_F(ListCommandsTest, CancelOrAnEmptyTextChangesNothing) {
  list.SetCellText(0, 1, "artist");
  list.ItemOfRow(0)->rule = "old";
  for (int answer : {IDCANCEL, IDOK}) {
    Select({0});
    std::thread driver = DriveWindow("#32770", kDialogTitle, [&](HWND dialog) {
      HWND edit = GetDlgItem(dialog, IDC_RULE_EDIT);
      SendMessageA(edit, WM_SETTEXT, 0,
                   reinterpret_cast<LPARAM>(answer == IDOK ? "" : "$A - $T.mp3"));
      PostMessageA(dialog, WM_COMMAND, answer, 0);
    });
    list.ApplyRuleCommand();
    driver.join();
    EXPECT_EQ("artist", list.CellText(0, 1));
    EXPECT_EQ("old", list.ItemOfRow(0)->rule);
  }
}

TEST_F(ListCommandsTest, InvalidTemplateIsReportedOncePerSelectedRow) {
  Select({0, 1, 2});
  list.SetCellText(0, 1, "artist");
  std::vector<SeenBox> boxes;
  {
    BoxWatcher watcher;
    list.ApplyRuleToSelection("$T((x)");
    boxes = watcher.boxes();
  }
  EXPECT_EQ(3u, boxes.size());
  EXPECT_EQ("", list.CellText(0, 1));
  for (const SeenBox& box : boxes) EXPECT_EQ("$T((x)", box.caption);
}

// The items of the popup menu that the list opens, read from the menu window.
std::vector<std::string> MenuItems(HWND menuWindow) {
  HMENU menu = reinterpret_cast<HMENU>(SendMessageA(menuWindow, MN_GETHMENU, 0, 0));
  std::vector<std::string> items;
  for (int index = 0; index < GetMenuItemCount(menu); ++index) {
    char text[128] = "";
    GetMenuStringA(menu, index, text, sizeof text, MF_BYPOSITION);
    items.push_back(text);
  }
  return items;
}

TEST_F(ListCommandsTest, ContextMenuDependsOnTheSelection) {
  SetForegroundWindow(parent);
  // Nothing selected: no menu at all. One that opened all the same is closed, so that the test
  // fails instead of waiting on the menu for ever.
  Select({});
  bool opened = false;
  std::thread watch = DriveWindow(
      "#32768", "",
      [&](HWND menu) {
        opened = true;
        PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
      },
      1000);
  SendMessageA(list.hwnd(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list.hwnd()),
               MAKELPARAM(100, 100));
  watch.join();
  EXPECT_FALSE(opened);

  std::vector<std::string> single, several;
  RECT singleAt = {};
  Select({1});
  std::thread driver = DriveWindow("#32768", "", [&](HWND menu) {
    single = MenuItems(menu);
    GetWindowRect(menu, &singleAt);
    PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
  });
  // From the keyboard: the menu opens at the centre of the list.
  SendMessageA(list.hwnd(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list.hwnd()), -1);
  driver.join();
  EXPECT_THAT(single, ElementsAre("プロパティ(&R)", "ルールを適用(&A)", "リストから削除(&D)", "",
                                  "タグ情報を更新(&S)", "元に戻す(&U)"));
  RECT listRect = WindowRectOf(list.hwnd());
  EXPECT_EQ((listRect.left + listRect.right) / 2, singleAt.left);
  EXPECT_EQ((listRect.top + listRect.bottom) / 2, singleAt.top);

  Select({0, 2});
  driver = DriveWindow("#32768", "", [&](HWND menu) {
    several = MenuItems(menu);
    PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
  });
  SendMessageA(list.hwnd(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list.hwnd()),
               MAKELPARAM(120, 130));
  driver.join();
  EXPECT_THAT(several,
              ElementsAre("ルールを適用(&A)", "リストから削除(&D)", "", "タグ情報を更新(&S)",
                          "元に戻す(&U)"));
}

class ListSavingTest : public ListCommandsTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library.Open());
    ListCommandsTest::SetUp();
  }
  void TearDown() override {
    ListCommandsTest::TearDown();
    library.Close();
  }

  RecordingLibrary library;
};

// Each selected row goes to saving with its entry's path and its own cells.
TEST_F(ListSavingTest, UpdateTagsSavesTheSelectionInPlaceInRowOrder) {
  list.SetCellText(0, 0, "shown name.mp3");  // in place the file keeps its name
  list.SetCellText(2, 3, "Title");
  list.SetCellText(2, 7, "note");
  list.SetCellText(1, 1, "not selected");
  Select({2, 0});
  library.Configure(1, 2, 0, 0, 1);
  const std::string one = scratch / "A - One.mp3", three = scratch / "Three.mp3";
  {
    BoxWatcher watcher;  // every save fails; the next row follows, and one report names both
    list.UpdateTags();
    const std::vector<SeenBox> boxes = watcher.boxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("エラー", boxes[0].caption);
    EXPECT_THAT(boxes[0].text, HasSubstr("\n" + one + " : 保存に失敗\n" + three + " : 保存に失敗"));
  }
  EXPECT_THAT(library.Calls(),
              ElementsAre("Load " + one, "Save " + one, "Load " + three, "Set INAM_v2=Title",
                          "Set ICMT_v2=note", "Save " + three));
}

TEST_F(ListSavingTest, PropertiesShowTheSelectedFile) {
  Select({1});
  SendMessageA(list.hwnd(), WM_COMMAND, ID_PROPERTIES, 0);
  EXPECT_THAT(library.Calls(), ElementsAre("ViewPropEx " + scratch / "B - Two.mp3"));
}

TEST_F(ListCommandsTest, RemoveSelectedDeletesFromTheHighestIndexDown) {
  Select({0, 2});
  // A cell being typed into keeps its text in its own row, not in one that moves into its place.
  ASSERT_TRUE(list.EditCell(1, 1));
  SetWindowTextW(list.cellEditor().edit(), L"Typed");
  SendMessageA(list.hwnd(), WM_COMMAND, ID_REMOVE_FROM_LIST, 0);
  ASSERT_EQ(1, list.RowCount());
  EXPECT_EQ("B - Two.mp3", list.CellText(0, 0));
  EXPECT_FALSE(list.cellEditor().IsOpen());
  EXPECT_EQ("Typed", list.CellText(0, 1));
  EXPECT_EQ(3u, list.items.size());
  // The Delete key removes nothing.
  Select({0});
  SendMessageA(list.hwnd(), WM_KEYDOWN, VK_DELETE, 0);
  EXPECT_EQ(1, list.RowCount());
}

}  // namespace
