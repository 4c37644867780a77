// The rule input dialog on its own, driven from another thread while it runs.
#include "rules/RuleInputDialog.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "resources/resource.h"
#include "tests/support/WinTestSupport.h"

namespace {

const char kDialogTitle[] = "ルールを入力してください";

TEST(RuleInputDialog, WidensButNeverNarrowsOrGrowsTaller) {
  InitTestModule();
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
  EXPECT_EQ(IDCANCEL, dialog.DoModal(nullptr));
  driver.join();
  EXPECT_EQ("offered", dialog.ruleText());
  EXPECT_EQ(start.right - start.left + 120, wider.right - wider.left);
  EXPECT_EQ(start.bottom - start.top, wider.bottom - wider.top);
  EXPECT_EQ(editStart.right - editStart.left + 120, editWider.right - editWider.left);
  EXPECT_EQ(start.right - start.left, narrower.right - narrower.left);
}

}  // namespace
