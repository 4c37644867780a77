// The list's commands that bring up windows of their own: the rule input dialog and the context
// menu, driven from another thread while the command runs.
#include <windows.h>

#include <commctrl.h>
#include <gmock/gmock.h>

#include "app/Controls.h"
#include "resources/resource.h"
#include "rules/RuleInputDialog.h"
#include "targets/TargetListView.h"
#include "tests/support/WinTestSupport.h"

using ::testing::ElementsAre;

namespace {

const char kDialogTitle[] = "ルールを入力してください";

RECT WindowRectOf(HWND hwnd) {
  RECT rect;
  GetWindowRect(hwnd, &rect);
  return rect;
}

class ListCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitTestModule();
    parent = CreateWindowA("STATIC", "", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 600, 400,
                           nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_TRUE(list.Create(parent));
    SetWindowPos(list.hwnd(), nullptr, 0, 0, 580, 360, SWP_NOZORDER);
    list.InsertColumns();
    list.rules.clear();
    for (const char* name : {"A - One.mp3", "B - Two.mp3", "Three.mp3"})
      list.AddPath(scratch.AddFile(name));
  }
  void TearDown() override { DestroyWindow(parent); }

  void Select(std::initializer_list<int> rows) {
    SetItemState(list.hwnd(), -1, 0, LVIS_SELECTED);
    for (int row : rows) SetItemState(list.hwnd(), row, LVIS_SELECTED, LVIS_SELECTED);
  }

  HWND parent = nullptr;
  TargetListView list;
  ScratchFolder scratch;
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

TEST_F(ListCommandsTest, RuleDialogWidensButNeverNarrowsOrGrowsTaller) {
  RuleInputDialog dialog(L"ルールを入力してください", "offered");
  RECT start = {}, wider = {}, narrower = {}, editStart = {}, editWider = {};
  std::thread driver = DriveWindow("#32770", kDialogTitle, [&](HWND hwnd) {
    HWND edit = GetDlgItem(hwnd, IDC_RULE_EDIT);
    start = WindowRectOf(hwnd);
    editStart = WindowRectOf(edit);
    const int width = start.right - start.left, height = start.bottom - start.top;
    SetWindowPos(hwnd, nullptr, 0, 0, width + 120, height + 80, SWP_NOMOVE | SWP_NOZORDER);
    wider = WindowRectOf(hwnd);
    editWider = WindowRectOf(edit);
    SetWindowPos(hwnd, nullptr, 0, 0, width - 60, height, SWP_NOMOVE | SWP_NOZORDER);
    narrower = WindowRectOf(hwnd);
    PostMessageA(hwnd, WM_COMMAND, IDCANCEL, 0);
  });
  EXPECT_EQ(IDCANCEL, dialog.DoModal(parent));
  driver.join();
  EXPECT_EQ("offered", dialog.ruleText());
  EXPECT_EQ(start.right - start.left + 120, wider.right - wider.left);
  EXPECT_EQ(start.bottom - start.top, wider.bottom - wider.top);
  EXPECT_EQ(editStart.right - editStart.left + 120, editWider.right - editWider.left);
  EXPECT_EQ(start.right - start.left, narrower.right - narrower.left);
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
  // Nothing selected: no menu at all.
  Select({});
  SendMessageA(list.hwnd(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list.hwnd()),
               MAKELPARAM(100, 100));

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
                                  "タグ情報を更新(&S)"));
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
              ElementsAre("ルールを適用(&A)", "リストから削除(&D)", "", "タグ情報を更新(&S)"));
}

}  // namespace
