// The main window in-process under Wine and X: creation order, layout, routing, keys.
#include "app/MainWindow.h"

#include <commctrl.h>
#include <shlobj.h>
#include <gmock/gmock.h>

#include <algorithm>
#include <cstring>

#include "window/Controls.h"
#include "app/Program.h"
#include "window/ShellModule.h"
#include "tests/support/RecordingLibrary.h"
#include "tests/support/WinTestSupport.h"

using ::testing::ElementsAre;

namespace {

void CALLBACK StopPump(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  PostQuitMessage(0);
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitTestModule();
    theModule.AddMessagePump(&pump);
  }
  void TearDown() override {
    if (IsWindow(window.hwnd())) DestroyWindow(window.hwnd());
    // The destruction posted its quit message; take it out of the queue.
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    theModule.RemoveMessagePump();
    CommandLinePaths.clear();
  }

  HWND Create() {
    HWND hwnd = window.Create();
    EXPECT_TRUE(hwnd);
    window.list().rules.clear();
    return hwnd;
  }

  // Runs the program's pump for `milliseconds`, so that hooks and accelerators take part.
  void RunPumpFor(int milliseconds) {
    SetTimer(nullptr, 0, milliseconds, StopPump);
    pump.RunPump();
  }

  MessagePump pump;
  MainWindow window;
  ScratchFolder scratch;
};

TEST_F(MainWindowTest, CommandLinePathsAreInTheListBeforeTheWindowShows) {
  const std::string a = scratch.AddFile("b\\Artist - Song.mp3");
  const std::string b = scratch.AddFile("a.mp3");
  CommandLinePaths = {a, scratch / "missing.mp3", b, a};
  HWND hwnd = Create();
  EXPECT_FALSE(IsWindowVisible(hwnd));
  TargetListView& list = window.list();
  ASSERT_EQ(3, list.RowCount());
  EXPECT_EQ(a, list.ItemOfRow(0)->path);
  EXPECT_EQ(b, list.ItemOfRow(1)->path);
  EXPECT_EQ(a, list.ItemOfRow(2)->path);
  EXPECT_EQ(nullptr, GetMenu(hwnd));
  char caption[64];
  GetWindowTextA(hwnd, caption, sizeof caption);
  EXPECT_STREQ("tagwhirl", caption);
}

TEST_F(MainWindowTest, RebarHoldsThePanelThenTheRuleBoxLocked) {
  Create();
  HWND rebar = window.rebar();
  ASSERT_TRUE(rebar);
  EXPECT_EQ(0xE800, GetDlgCtrlID(rebar));
  ASSERT_EQ(2, GetBandCount(rebar));
  char title[32] = "";
  REBARBANDINFOA band = {sizeof band};
  band.fMask = RBBIM_CHILD | RBBIM_ID | RBBIM_STYLE | RBBIM_TEXT;
  band.lpText = title;
  band.cch = sizeof title;
  SendMessageA(rebar, RB_GETBANDINFOA, 0, reinterpret_cast<LPARAM>(&band));
  EXPECT_EQ(window.panel().hwnd(), band.hwndChild);
  EXPECT_EQ(0xEB00u, band.wID);
  EXPECT_EQ(UINT(RBBS_CHILDEDGE | RBBS_BREAK | RBBS_NOGRIPPER),
            band.fStyle & (RBBS_CHILDEDGE | RBBS_BREAK | RBBS_NOGRIPPER));
  SendMessageA(rebar, RB_GETBANDINFOA, 1, reinterpret_cast<LPARAM>(&band));
  EXPECT_EQ(window.ruleCombo(), band.hwndChild);
  EXPECT_EQ(0xEB01u, band.wID);
  EXPECT_STREQ("ルール", title);
  EXPECT_TRUE(band.fStyle & RBBS_NOGRIPPER);
  EXPECT_EQ(0, GetDlgCtrlID(window.ruleCombo()));
  EXPECT_EQ(rebar, GetParent(window.panel().hwnd()));
  // The panel starts with saving in place chosen and an empty folder.
  EXPECT_FALSE(window.panel().SaveToFolder());
  EXPECT_EQ("", window.panel().FolderText());
}

TEST_F(MainWindowTest, PanesFollowResizing) {
  HWND hwnd = Create();
  ShowWindow(hwnd, SW_SHOWNORMAL);
  auto check = [&] {
    RECT client;
    GetClientRect(hwnd, &client);
    const RECT rebar = RectInParent(window.rebar(), hwnd);
    const RECT status = RectInParent(window.statusBar(), hwnd);
    const RECT list = RectInParent(window.list().hwnd(), hwnd);
    EXPECT_EQ(0, rebar.top);
    EXPECT_GT(rebar.bottom, rebar.top);
    EXPECT_EQ(rebar.bottom, list.top);
    EXPECT_EQ(status.top, list.bottom);
    EXPECT_EQ(client.bottom, status.bottom);
    EXPECT_EQ(client.right, list.right);
    EXPECT_EQ(0, list.left);
    // The panel's row stands above the rule box's row.
    EXPECT_LT(RectInParent(window.panel().hwnd(), hwnd).top,
              RectInParent(window.ruleCombo(), hwnd).top);
  };
  SetWindowPos(hwnd, nullptr, 0, 0, 900, 650, SWP_NOZORDER | SWP_NOMOVE);
  PumpWaitingMessages();
  check();
  SetWindowPos(hwnd, nullptr, 0, 0, 500, 400, SWP_NOZORDER | SWP_NOMOVE);
  PumpWaitingMessages();
  check();
  const RECT before = RectInParent(window.list().hwnd(), hwnd);
  ShowWindow(hwnd, SW_MINIMIZE);
  PumpWaitingMessages();
  ShowWindow(hwnd, SW_RESTORE);
  PumpWaitingMessages();
  check();
  const RECT after = RectInParent(window.list().hwnd(), hwnd);
  EXPECT_TRUE(EqualRect(&before, &after));
  // The status bar shows "Ready" in its one part, with a sizing grip.
  EXPECT_EQ("Ready", GetWindowString(window.statusBar()));
  EXPECT_TRUE(GetWindowLongA(window.statusBar(), GWL_STYLE) & SBARS_SIZEGRIP);
}

TEST_F(MainWindowTest, DroppedFilesAndFoldersArrive) {
  const std::string file = scratch.AddFile("one.mp3");
  scratch.AddFile("folder\\two.mp3");
  Create();
  // A drop handle as the shell makes it: DROPFILES followed by the names, each NUL-ended.
  std::string names = file + '\0' + scratch / "folder" + '\0' + file + '\0' + '\0';
  HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + names.size());
  auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = FALSE;
  std::memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), names.data(), names.size());
  GlobalUnlock(memory);
  EXPECT_EQ(0, SendMessageA(window.hwnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0));
  TargetListView& list = window.list();
  ASSERT_EQ(3, list.RowCount());
  EXPECT_EQ(file, list.ItemOfRow(0)->path);
  EXPECT_EQ(scratch / "folder\\two.mp3", list.ItemOfRow(1)->path);
  EXPECT_EQ(file, list.ItemOfRow(2)->path);
}

TEST_F(MainWindowTest, SelectionShowsTheCommonRuleInTheRuleBox) {
  for (const char* name : {"a.mp3", "b.mp3", "c.mp3"})
    CommandLinePaths.push_back(scratch.AddFile(name));
  Create();
  TargetListView& list = window.list();
  list.ItemOfRow(0)->rule = "$T.mp3";
  list.ItemOfRow(1)->rule = "$T.mp3";
  list.ItemOfRow(2)->rule = "$A.mp3";
  HWND edit = GetComboEdit(window.ruleCombo());
  // The box follows once the batch of changes is over, that is, when the queue is next read.
  auto select = [&](int row, bool on) {
    SetItemState(list.hwnd(), row, on ? LVIS_SELECTED : 0, LVIS_SELECTED);
    PumpWaitingMessages();
  };
  select(0, true);
  EXPECT_EQ("$T.mp3", GetWindowString(edit));
  select(1, true);
  EXPECT_EQ("$T.mp3", GetWindowString(edit));
  select(2, true);
  EXPECT_EQ("", GetWindowString(edit));
  select(2, false);
  EXPECT_EQ("$T.mp3", GetWindowString(edit));
  // A change of another state bit leaves the box alone.
  SetWindowTextA(edit, "typed");
  SetItemState(list.hwnd(), 2, LVIS_FOCUSED, LVIS_FOCUSED);
  PumpWaitingMessages();
  EXPECT_EQ("typed", GetWindowString(edit));
  // Many changes at once bring one update, with the same result.
  select(-1, true);
  EXPECT_EQ("", GetWindowString(edit));
}

TEST_F(MainWindowTest, EndOfEditingInTheRuleBoxAppliesItToTheSelection) {
  CommandLinePaths = {scratch.AddFile("X - One.mp3"), scratch.AddFile("Y - Two.mp3")};
  HWND hwnd = Create();
  ShowWindow(hwnd, SW_SHOWNORMAL);
  TargetListView& list = window.list();
  // The sample rules beside the test program have been applied at intake; start from scratch.
  for (int row = 0; row < 2; ++row) {
    list.ClearTagColumns(row);
    list.ItemOfRow(row)->rule.clear();
  }
  SetItemState(list.hwnd(), -1, 0, LVIS_SELECTED);
  SetItemState(list.hwnd(), 1, LVIS_SELECTED, LVIS_SELECTED);
  HWND edit = GetComboEdit(window.ruleCombo());
  SetFocus(edit);
  SetWindowTextA(edit, "$A - $T.mp3");
  // Leaving the box ends the editing.
  SetFocus(list.hwnd());
  PumpWaitingMessages();
  EXPECT_EQ("", list.ItemOfRow(0)->rule);
  EXPECT_EQ("$A - $T.mp3", list.ItemOfRow(1)->rule);
  EXPECT_EQ("Y", list.CellText(1, 1));
  EXPECT_EQ("Two", list.CellText(1, 3));
}

TEST_F(MainWindowTest, SystemMenuHelpShowsInTheStatusBar) {
  Create();
  HWND status = window.statusBar();
  SendMessageA(window.hwnd(), WM_MENUSELECT, MAKEWPARAM(SC_MOVE, MF_SYSMENU),
               reinterpret_cast<LPARAM>(GetSystemMenu(window.hwnd(), FALSE)));
  EXPECT_TRUE(SendMessageA(status, SB_ISSIMPLE, 0, 0));
  char text[256] = "";
  SendMessageA(status, SB_GETTEXTA, SB_SIMPLEID, reinterpret_cast<LPARAM>(text));
  // Wine's status bar answers for the simple part under index 0.
  if (!text[0]) SendMessageA(status, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
  EXPECT_STREQ("Change the window position", text);
  SendMessageA(window.hwnd(), WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
  EXPECT_FALSE(SendMessageA(status, SB_ISSIMPLE, 0, 0));
  EXPECT_EQ("Ready", GetWindowString(status));
}

TEST_F(MainWindowTest, DestructionPostsQuitWithCodeOne) {
  HWND hwnd = Create();
  DestroyWindow(hwnd);
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(1u, message.wParam);
}

// Real keys through the system's input queue.
void Press(const std::vector<WORD>& keys) {
  std::vector<INPUT> inputs;
  for (WORD key : keys) {
    INPUT input = {INPUT_KEYBOARD};
    input.ki.wVk = key;
    inputs.push_back(input);
  }
  for (auto key = keys.end(); key != keys.begin();) {
    --key;
    INPUT input = {INPUT_KEYBOARD};
    input.ki.wVk = *key;
    input.ki.dwFlags = KEYEVENTF_KEYUP;
    inputs.push_back(input);
  }
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

TEST_F(MainWindowTest, AcceleratorKeysActOnTheListEvenFromTheRuleBox) {
  for (const char* name : {"a.mp3", "b.mp3", "c.mp3"})
    CommandLinePaths.push_back(scratch.AddFile(name));
  HWND hwnd = Create();
  for (int row = 0; row < 3; ++row) window.list().ItemOfRow(row)->rule = "abcdef";
  ShowWindow(hwnd, SW_SHOWNORMAL);
  SetForegroundWindow(hwnd);
  HWND edit = GetComboEdit(window.ruleCombo());
  SetFocus(edit);
  SetWindowTextA(edit, "abcdef");
  SendMessageA(edit, EM_SETSEL, 1, 3);
  RunPumpFor(200);
  ASSERT_EQ(edit, GetFocus());

  Press({VK_CONTROL, 'A'});
  RunPumpFor(300);
  EXPECT_THAT(window.list().SelectedRows(), ElementsAre(0, 1, 2));
  EXPECT_EQ("abcdef", GetWindowString(edit));
  DWORD start = 0, end = 0;
  SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(1u, start);
  EXPECT_EQ(3u, end);

  // The clipboard and undo keys of the table are swallowed: the field's text stays.
  SetFocus(edit);
  SetWindowTextA(edit, "abcdef");
  SendMessageA(edit, EM_SETSEL, 0, -1);
  Press({VK_CONTROL, 'X'});
  Press({VK_CONTROL, 'V'});
  Press({VK_SHIFT, VK_INSERT});
  Press({VK_SHIFT, VK_DELETE});
  Press({VK_CONTROL, 'Z'});
  RunPumpFor(300);
  EXPECT_EQ("abcdef", GetWindowString(edit));
}

TEST_F(MainWindowTest, ThePanelHasDialogKeys) {
  HWND hwnd = Create();
  ShowWindow(hwnd, SW_SHOWNORMAL);
  SetForegroundWindow(hwnd);
  HWND panel = window.panel().hwnd();
  HWND folder = GetDlgItem(panel, 1004);
  SetFocus(folder);
  RunPumpFor(150);
  ASSERT_EQ(folder, GetFocus());
  // Tab goes on to "参照(&B)..." as in a dialog.
  Press({VK_TAB});
  RunPumpFor(200);
  EXPECT_EQ(GetDlgItem(panel, 1005), GetFocus());
  // The access key of "出力先を指定(&D)" chooses it.
  Press({VK_MENU, 'D'});
  RunPumpFor(200);
  EXPECT_TRUE(window.panel().SaveToFolder());
}

// Enter saves only on "保存(&S)" itself; Alt+S saves from anywhere in the panel. Enter in the
// folder field or on a radio button, and a letter without Alt, do nothing.
TEST_F(MainWindowTest, OnlyTheSaveButtonOrItsAccessKeySaves) {
  RecordingLibrary library;
  ASSERT_TRUE(library.Open());
  CommandLinePaths.push_back(scratch.AddFile("a.mp3"));
  HWND hwnd = Create();
  ShowWindow(hwnd, SW_SHOWNORMAL);
  SetForegroundWindow(hwnd);
  HWND panel = window.panel().hwnd();
  struct {
    const char* what;
    int focus;
    std::vector<WORD> keys;
    bool saves;
  } const cases[] = {
      {"Enter in the folder field", 1004, {VK_RETURN}, false},
      {"Enter on a radio button", 1002, {VK_RETURN}, false},
      {"S alone on a radio button", 1002, {'S'}, false},
      {"Enter on the save button", IDOK, {VK_RETURN}, true},
      {"Alt+S in the folder field", 1004, {VK_MENU, 'S'}, true},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    library.Configure(2, 0);
    SetFocus(GetDlgItem(panel, test.focus));
    RunPumpFor(150);
    ASSERT_EQ(GetDlgItem(panel, test.focus), GetFocus());
    Press(test.keys);
    RunPumpFor(300);
    const std::vector<std::string> calls = library.Calls();
    EXPECT_EQ(test.saves ? 1 : 0,
              std::count(calls.begin(), calls.end(), "Save " + scratch / "a.mp3"));
    EXPECT_EQ("", GetWindowString(GetDlgItem(panel, 1004)));
  }
  DestroyWindow(hwnd);
  library.Close();
}

}  // namespace
