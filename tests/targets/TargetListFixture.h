// A target list in a window of its own, with its columns and without stored rules (the test
// program's folder holds the sample rules; each test sets its own), and a scratch folder for the
// files it takes in.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <initializer_list>

#include "targets/TargetListView.h"
#include "tests/support/WinTestSupport.h"
#include "window/Controls.h"

class TargetListFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    InitTestModule();
    parent = CreateWindowA("STATIC", "", parentStyle, 50, 50, 600, 400, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
    ASSERT_TRUE(list.Create(parent));
    list.InsertColumns();
    list.rules.clear();
  }
  void TearDown() override { DestroyWindow(parent); }

  // Exactly these rows selected.
  void Select(std::initializer_list<int> rows) {
    SetItemState(list.hwnd(), -1, 0, LVIS_SELECTED);
    for (int row : rows) SetItemState(list.hwnd(), row, LVIS_SELECTED, LVIS_SELECTED);
  }

  // With WS_VISIBLE for the tests that open menus and dialogs.
  DWORD parentStyle = WS_OVERLAPPEDWINDOW;
  HWND parent = nullptr;
  TargetListView list;
  ScratchFolder scratch;
};
