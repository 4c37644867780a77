// Helpers for the tests of the program's windows under Wine: scratch folders, the module state
// the windows need, and a watcher that answers the message boxes a test brings up.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ScratchFolder.h"

// Initialises the module state once per test program (the windows load their resources from
// the test program, which links the program's resources).
void InitTestModule();

// The window's rectangle on the screen.
RECT WindowRectOf(HWND hwnd);

// Processes every message waiting for this thread.
void PumpWaitingMessages();

struct SeenBox {
  std::string caption;
  std::string text;
  HWND owner;
  // Whether the watcher's probe window took input while the box was up (a task-modal box
  // without owner disables every window of its thread).
  bool probeEnabled = true;
};

// Answers the message boxes that come up while it lives by pressing their first button (OK),
// recording each box's caption, text and owner, and whether `probe` (when given) was enabled
// meanwhile. A box of the thread that made the watcher is seen by a hook on that thread as it is
// set up, before it can take any input: none is missed and none counted twice, however busy the
// machine. Boxes of other threads are looked for every few milliseconds.
class BoxWatcher {
 public:
  explicit BoxWatcher(HWND probe = nullptr);
  ~BoxWatcher();
  std::vector<SeenBox> boxes();

 private:
  static LRESULT CALLBACK AfterMessage(int code, WPARAM wParam, LPARAM lParam);
  void Watch();
  // Records the box and presses its button, unless it was seen before.
  void Answer(HWND box);
  HWND probe_;
  DWORD thread_id_;
  HHOOK hook_ = nullptr;
  std::atomic<bool> stop_{false};
  std::mutex lock_;
  std::vector<HWND> seen_;
  std::vector<SeenBox> boxes_;
  std::thread thread_;
};

// Waits on another thread, at most `waitMs`, for a visible top-level window of this process of
// `className` (and, when given, with the caption `caption`), then runs `drive` with it on that
// thread. Join the returned thread after the code that brings up the window has returned.
std::thread DriveWindow(const std::string& className, const std::string& caption,
                        std::function<void(HWND)> drive, int waitMs = 15000);
