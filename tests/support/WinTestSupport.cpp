#include "tests/support/WinTestSupport.h"

#include <commctrl.h>

#include "window/ShellModule.h"

void InitTestModule() {
  static bool done = false;
  if (done) return;
  done = true;
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES | ICC_COOL_CLASSES |
                                                        ICC_LISTVIEW_CLASSES | ICC_USEREX_CLASSES};
  InitCommonControlsEx(&controls);
  theModule.Init(GetModuleHandleA(nullptr));
}

RECT WindowRectOf(HWND hwnd) {
  RECT rect = {};
  GetWindowRect(hwnd, &rect);
  return rect;
}

void PumpWaitingMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

namespace {

// The watcher whose hook runs on this thread.
thread_local BoxWatcher* hookedWatcher = nullptr;

bool IsDialogBox(HWND hwnd) {
  char className[64] = "";
  GetClassNameA(hwnd, className, sizeof className);
  return std::string(className) == "#32770";
}

struct Found {
  DWORD process;
  DWORD skippedThread;
  std::vector<HWND> boxes;
};

BOOL CALLBACK FindBoxes(HWND hwnd, LPARAM context) {
  auto* found = reinterpret_cast<Found*>(context);
  DWORD process = 0;
  const DWORD thread = GetWindowThreadProcessId(hwnd, &process);
  if (process == found->process && thread != found->skippedThread && IsWindowVisible(hwnd) &&
      IsDialogBox(hwnd))
    found->boxes.push_back(hwnd);
  return TRUE;
}

BOOL CALLBACK FindStaticText(HWND child, LPARAM context) {
  char className[64] = "";
  GetClassNameA(child, className, sizeof className);
  char text[8192] = "";
  GetWindowTextA(child, text, sizeof text);
  if (std::string(className) == "Static" && text[0]) {
    *reinterpret_cast<std::string*>(context) = text;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

BoxWatcher::BoxWatcher(HWND probe)
    : probe_(probe),
      thread_id_(GetCurrentThreadId()),
      hook_(SetWindowsHookExA(WH_CALLWNDPROCRET, AfterMessage, nullptr, thread_id_)),
      thread_([this] { Watch(); }) {
  hookedWatcher = this;
}

BoxWatcher::~BoxWatcher() {
  hookedWatcher = nullptr;
  if (hook_) UnhookWindowsHookEx(hook_);
  stop_ = true;
  thread_.join();
}

std::vector<SeenBox> BoxWatcher::boxes() {
  std::lock_guard<std::mutex> hold(lock_);
  return boxes_;
}

LRESULT CALLBACK BoxWatcher::AfterMessage(int code, WPARAM wParam, LPARAM lParam) {
  const auto* message = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
  // A box has its text, its buttons and (task-modal) the other windows disabled once its
  // WM_INITDIALOG is handled; its modal loop has not begun, so the press posted waits for it.
  if (code == HC_ACTION && hookedWatcher && message->message == WM_INITDIALOG &&
      IsDialogBox(message->hwnd))
    hookedWatcher->Answer(message->hwnd);
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void BoxWatcher::Answer(HWND box) {
  SeenBox seen;
  {
    std::lock_guard<std::mutex> hold(lock_);
    for (HWND known : seen_) {
      if (known == box) return;
    }
    seen_.push_back(box);
  }
  char caption[512] = "";
  GetWindowTextA(box, caption, sizeof caption);
  seen.caption = caption;
  EnumChildWindows(box, FindStaticText, reinterpret_cast<LPARAM>(&seen.text));
  seen.owner = GetWindow(box, GW_OWNER);
  seen.probeEnabled = !probe_ || IsWindowEnabled(probe_);
  {
    std::lock_guard<std::mutex> hold(lock_);
    boxes_.push_back(seen);
  }
  HWND ok = FindWindowExA(box, nullptr, "Button", nullptr);
  PostMessageA(ok ? ok : box, ok ? BM_CLICK : WM_CLOSE, 0, 0);
}

void BoxWatcher::Watch() {
  while (!stop_) {
    // A box stays in the list of seen ones: a box that is slow to go is not counted again.
    Found found{GetCurrentProcessId(), hook_ ? thread_id_ : 0};
    EnumWindows(FindBoxes, reinterpret_cast<LPARAM>(&found));
    for (HWND box : found.boxes) Answer(box);
    Sleep(10);
  }
}

namespace {

struct Wanted {
  std::string className;
  std::string caption;
  HWND found = nullptr;
};

BOOL CALLBACK FindWanted(HWND hwnd, LPARAM context) {
  auto* wanted = reinterpret_cast<Wanted*>(context);
  DWORD process = 0;
  GetWindowThreadProcessId(hwnd, &process);
  if (process != GetCurrentProcessId() || !IsWindowVisible(hwnd)) return TRUE;
  char className[64] = "";
  GetClassNameA(hwnd, className, sizeof className);
  if (wanted->className != className) return TRUE;
  // The caption only of a window of the class: reading it sends a message to the window's
  // thread, which need not be taking messages while this one looks (a test may wait for it).
  char caption[512] = "";
  if (!wanted->caption.empty()) GetWindowTextA(hwnd, caption, sizeof caption);
  if (wanted->caption.empty() || wanted->caption == caption) {
    wanted->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

std::thread DriveWindow(const std::string& className, const std::string& caption,
                        std::function<void(HWND)> drive, int waitMs) {
  return std::thread([className, caption, drive, waitMs] {
    for (int waited = 0; waited < waitMs; waited += 20) {
      Wanted wanted{className, caption};
      EnumWindows(FindWanted, reinterpret_cast<LPARAM>(&wanted));
      if (wanted.found) {
        drive(wanted.found);
        return;
      }
      Sleep(20);
    }
  });
}
