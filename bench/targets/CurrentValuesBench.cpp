// The files' own tag values read into the list: how long until every row of a folder shows them,
// how long the window's thread went without handling a message meanwhile, and what they cost in
// memory. Run beside kid3-cli by bench/peer/current_values_bench.py.
//
//   CurrentValuesBench <folder> [rounds]   intake of the folder in a shown main window, then its
//                                          reading, each round in a fresh window
//   CurrentValuesBench demo [files]        the same on files it makes itself (the test run's size)
//
// A thread of the benchmark posts a message to the window's thread every 2 ms and waits for it to
// be handled: the longest wait is the longest the window would have kept a user waiting.
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/MainWindow.h"
#include "bench/WindowBench.h"
#include "tags/TagLibrary.h"

namespace {

const UINT kProbe = WM_APP + 40;

double WorkingSetMiB() {
  PROCESS_MEMORY_COUNTERS memory = {sizeof memory};
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  return memory.WorkingSetSize / 1048576.0;
}

// Posts to the thread that made it and measures how long each post waits to be handled.
class LatencyProbe {
 public:
  LatencyProbe() : target_(GetCurrentThreadId()), thread_([this] { Run(); }) {}
  ~LatencyProbe() {
    stop_ = true;
    thread_.join();
  }
  // Called by the window thread's loop for every message it takes.
  bool Handle(const MSG& message) {
    if (message.message != kProbe || message.hwnd) return false;
    const double waited = Now() - sentAt_.load();
    if (measuring_) longest_ = std::max(longest_, waited);
    handled_ = true;
    return true;
  }
  void Measure(bool on) { measuring_ = on; }
  double longest() const { return longest_; }

 private:
  void Run() {
    while (!stop_) {
      handled_ = false;
      sentAt_ = Now();
      if (!PostThreadMessageA(target_, kProbe, 0, 0)) break;
      while (!handled_ && !stop_) Sleep(1);
      Sleep(2);
    }
  }

  DWORD target_;
  std::atomic<double> sentAt_{0};
  std::atomic<bool> handled_{false};
  std::atomic<bool> stop_{false};
  bool measuring_ = false;
  double longest_ = 0;
  std::thread thread_;
};

struct Round {
  double intake = 0, firstPaint = 0, allShown = 0, longestGap = 0, memoryBefore = 0,
         memoryAfter = 0;
  int rows = 0;
};

Round RunRound(const std::string& folder) {
  Round round;
  MainWindow window;
  if (!window.Create()) return round;
  ShowWindow(window.hwnd(), SW_SHOWNOACTIVATE);
  PumpWaiting();
  // Made once the thread has its message queue, which its window gave it.
  LatencyProbe probe;
  window.list().rules = {"$A - $T.$I"};
  round.memoryBefore = WorkingSetMiB();
  const double start = Now();
  window.TakeIn(std::vector<std::string>{folder});
  round.intake = Now() - start;
  round.rows = window.list().RowCount();
  // The probe posted during the intake waited for the intake, which is not the reading's doing.
  for (MSG message; PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);) {
    if (probe.Handle(message)) break;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  // The list drawn whole again after the intake (the whole window, under Wine its themed scroll
  // bars) is the intake's last step, timed apart; the gaps measured are those of the reading.
  const double paintStart = Now();
  UpdateWindow(window.hwnd());
  round.firstPaint = Now() - paintStart;
  // The unread rows are counted every 100 ms, not at every message.
  probe.Measure(true);
  double lastCount = 0;
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (probe.Handle(message)) continue;
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    if (Now() - lastCount >= 0.1) {
      lastCount = Now();
      if (window.list().UnreadRows() == 0) break;
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
  round.allShown = Now() - start;
  probe.Measure(false);
  round.longestGap = probe.longest();
  round.memoryAfter = WorkingSetMiB();
  DestroyWindow(window.hwnd());
  PumpWaiting();
  return round;
}

int Demo(int files) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string folder = std::string(temp) + "tagwhirl-current-values-demo";
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string frame = std::string("\xFF\xFB\x90\x64", 4) + std::string(413, '\x55');
  for (int i = 0; i < files; ++i) {
    const std::string path = folder + "\\Artist " + std::to_string(i) + " - Title.mp3";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written;
    for (int f = 0; f < 4; ++f)
      WriteFile(file, frame.data(), DWORD(frame.size()), &written, nullptr);
    CloseHandle(file);
  }
  const Round round = RunRound(folder);
  std::printf("demo: %d rows, all shown %.3f s\n", round.rows, round.allShown);
  return round.rows == files ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  InitForWindows();
  if (!theTagLibrary.Open("mp3infp") || !theTagLibrary.CanReadValues()) {
    std::printf("mp3infp.dll with mp3infp_ReadValues is needed beside the benchmark\n");
    return 1;
  }
  if (argc >= 2 && std::string(argv[1]) == "demo") return Demo(argc >= 3 ? std::atoi(argv[2]) : 50);
  if (argc < 2) {
    std::printf("usage: CurrentValuesBench <folder> [rounds] | demo [files]\n");
    return 2;
  }
  const int rounds = argc >= 3 ? std::max(1, std::atoi(argv[2])) : 3;
  std::vector<double> shown;
  for (int i = 0; i < rounds; ++i) {
    const Round round = RunRound(argv[1]);
    shown.push_back(round.allShown);
    std::printf(
        "round %d: %d rows, intake %.3f s, first paint after it %.1f ms, all values shown %.3f s, "
        "longest gap %.1f ms, working set %.1f -> %.1f MiB\n",
        i + 1, round.rows, round.intake, round.firstPaint * 1000, round.allShown,
        round.longestGap * 1000,
        round.memoryBefore, round.memoryAfter);
  }
  std::sort(shown.begin(), shown.end());
  std::printf("median all values shown %.3f s\n", shown[shown.size() / 2]);
  theTagLibrary.Close();
  return 0;
}
