// The status bar's progress during long work in the one thread: what it shows and how often,
// that only the status bar repaints meanwhile, that no message is pumped, and "Ready" afterwards.
#include "app/StatusProgress.h"

#include <commctrl.h>
#include <gmock/gmock.h>

#include <functional>

#include "window/Controls.h"
#include "app/MainWindow.h"
#include "app/Program.h"
#include "resources/resource.h"
#include "tests/support/RecordingLibrary.h"
#include "tests/support/WinTestSupport.h"

using ::testing::ElementsAreArray;

namespace {

// A clock that moves on three fifths of the interval at each reading: every second step shows.
DWORD now = 0;
DWORD SteppingClock() { return now += StatusProgress::kInterval * 3 / 5; }

// What the status bar was told and how often it and the list painted.
struct Watch {
  std::vector<std::string> texts;
  int statusPaints = 0;
  int listPaints = 0;
  WNDPROC statusProc = nullptr, listProc = nullptr;
} watch;

LRESULT CALLBACK StatusSpy(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == SB_SETTEXTA && LOWORD(wParam) == 0)
    watch.texts.push_back(reinterpret_cast<const char*>(lParam));
  if (message == WM_PAINT) ++watch.statusPaints;
  return CallWindowProcA(watch.statusProc, hwnd, message, wParam, lParam);
}

LRESULT CALLBACK ListSpy(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) ++watch.listPaints;
  return CallWindowProcA(watch.listProc, hwnd, message, wParam, lParam);
}

class StatusProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitTestModule();
    ASSERT_TRUE(library.Open());
    ASSERT_TRUE(window.Create());
    window.list().rules.clear();
    window.progress().clock = SteppingClock;
    ShowWindow(window.hwnd(), SW_SHOWNOACTIVATE);
    PumpWaitingMessages();
    watch = Watch();
    watch.statusProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window.statusBar(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StatusSpy)));
    watch.listProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window.list().hwnd(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ListSpy)));
  }
  void TearDown() override {
    DestroyWindow(window.hwnd());
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    library.Close();
  }

  RecordingLibrary library;
  ScratchFolder scratch;
  MainWindow window;
};

TEST_F(StatusProgressTest, LongWorkShowsItsStepsInTheStatusBarOnly) {
  const int kFiles = 7;
  for (int i = 0; i < kFiles; ++i) scratch.AddFile("song " + std::to_string(i) + ".mp3");
  struct Case {
    const char* name;
    std::function<void(MainWindow&)> work;
    std::vector<std::string> shown;
    // What stays in the status bar afterwards: an intake says what it added and filled, a save
    // what it saved, passed by and failed.
    std::string after = "Ready";
  };
  const Case cases[] = {
      {"intake of a folder",
       [&](MainWindow& w) { w.TakeIn(std::vector<std::string>{scratch.path()}); },
       {"読み込み中 1", "読み込み中 3", "読み込み中 5", "読み込み中 7", "Ready"},
       "7 個のファイルを追加し、そのうち 0 個を _rules.txt のルールで埋めました。"},
      {"保存(&S) of every row",
       [](MainWindow& w) { SendMessageA(w.panel().hwnd(), WM_COMMAND, IDOK, 0); },
       {"保存中 1 / 7", "保存中 3 / 7", "保存中 5 / 7", "保存中 7 / 7",
        "7 個のファイルを保存しました（変更なし 0 個、失敗 0 個）（この保存は元に戻せません）"},
       "7 個のファイルを保存しました（変更なし 0 個、失敗 0 個）（この保存は元に戻せません）"},
      {"タグ情報を更新(&S) of three selected rows",
       [](MainWindow& w) {
         for (int row : {1, 2, 5}) SetItemState(w.list().hwnd(), row, LVIS_SELECTED, LVIS_SELECTED);
         SendMessageA(w.list().hwnd(), WM_COMMAND, ID_UPDATE_TAGS, 0);
       },
       {"タグ情報を更新 1 / 3", "タグ情報を更新 3 / 3",
        "3 個のファイルを保存しました（変更なし 0 個、失敗 0 個）（この保存は元に戻せません）"},
       "3 個のファイルを保存しました（変更なし 0 個、失敗 0 個）（この保存は元に戻せません）"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    library.Configure(1, 3);
    PumpWaitingMessages();
    watch.texts.clear();
    watch.statusPaints = watch.listPaints = 0;
    // Still waiting afterwards: nothing pumped messages while the work ran.
    PostMessageA(window.hwnd(), WM_NULL, 0x7A6, 0);
    c.work(window);
    MSG marker;
    EXPECT_TRUE(PeekMessageA(&marker, window.hwnd(), WM_NULL, WM_NULL, PM_REMOVE));
    EXPECT_EQ(WPARAM(0x7A6), marker.wParam);

    EXPECT_THAT(watch.texts, ElementsAreArray(c.shown));
    EXPECT_GE(watch.statusPaints, static_cast<int>(c.shown.size()));
    EXPECT_EQ(0, watch.listPaints);
    EXPECT_EQ(c.after, GetWindowString(window.statusBar()));
    EXPECT_EQ(kFiles, window.list().RowCount());
  }
}

// Another process reads the status bar while this thread is busy and answers no message: it gets
// the text the system keeps for the window, which must follow the progress.
TEST_F(StatusProgressTest, AnotherProcessReadsTheProgressWhileTheThreadIsBusy) {
  const auto probeSees = [](const std::string& text) {
    std::string command = "WindowProbe.exe caption tagwhirl.MainWindow id:59393 \"" + text + "\"";
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
      return false;
    // Waiting without pumping, as a save does.
    WaitForSingleObject(process.hProcess, 30000);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code == 0;
  };
  StatusProgress& progress = window.progress();
  progress.Begin("保存中", 5000);
  for (int i = 0; i < 123; ++i) progress.Advance();
  EXPECT_TRUE(probeSees("保存中 123 / 5000"));
  progress.End();
  EXPECT_TRUE(probeSees("Ready"));
}

}  // namespace
