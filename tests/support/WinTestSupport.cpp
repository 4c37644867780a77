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

BoxWatcher::BoxWatcher(HWND probe) : probe_(probe), thread_([this] { Watch(); }) {}

BoxWatcher::~BoxWatcher() {
  stop_ = true;
  thread_.join();
}

std::vector<SeenBox> BoxWatcher::boxes() {
  std::lock_guard<std::mutex> hold(lock_);
  return boxes_;
}

namespace {

struct Found {
  DWORD process;
  HWND box = nullptr;
};

BOOL CALLBACK FindBox(HWND hwnd, LPARAM context) {
  auto* found = reinterpret_cast<Found*>(context);
  DWORD process = 0;
  GetWindowThreadProcessId(hwnd, &process);
  char className[64] = "";
  GetClassNameA(hwnd, className, sizeof className);
  if (process == found->process && IsWindowVisible(hwnd) && std::string(className) == "#32770") {
    found->box = hwnd;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK FindStaticText(HWND child, LPARAM context) {
  char className[64] = "";
  GetClassNameA(child, className, sizeof className);
  char text[1024] = "";
  GetWindowTextA(child, text, sizeof text);
  if (std::string(className) == "Static" && text[0]) {
    *reinterpret_cast<std::string*>(context) = text;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

void BoxWatcher::Watch() {
  while (!stop_) {
    Found found{GetCurrentProcessId()};
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&found));
    if (found.box) {
      SeenBox seen;
      char caption[512] = "";
      GetWindowTextA(found.box, caption, sizeof caption);
      seen.caption = caption;
      EnumChildWindows(found.box, FindStaticText, reinterpret_cast<LPARAM>(&seen.text));
      seen.owner = GetWindow(found.box, GW_OWNER);
      seen.probeEnabled = !probe_ || IsWindowEnabled(probe_);
      {
        std::lock_guard<std::mutex> hold(lock_);
        boxes_.push_back(seen);
      }
      HWND ok = FindWindowExA(found.box, nullptr, "Button", nullptr);
      PostMessageA(ok ? ok : found.box, ok ? BM_CLICK : WM_CLOSE, 0, 0);
      // Wait until this box has gone before looking for the next one.
      for (int i = 0; i < 400 && IsWindow(found.box) && IsWindowVisible(found.box); ++i) Sleep(5);
    }
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
