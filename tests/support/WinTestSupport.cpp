#include "tests/support/WinTestSupport.h"

#include <commctrl.h>
#include <shellapi.h>

#include "app/ShellModule.h"

ScratchFolder::ScratchFolder() {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  char name[MAX_PATH];
  GetTempFileNameA(temp, "tw", 0, name);
  DeleteFileA(name);
  CreateDirectoryA(name, nullptr);
  path_ = name;
}

ScratchFolder::~ScratchFolder() {
  // SHFileOperation wants a list ending in two NULs.
  std::string from = path_;
  from.push_back('\0');
  from.push_back('\0');
  SHFILEOPSTRUCTA operation = {};
  operation.wFunc = FO_DELETE;
  operation.pFrom = from.c_str();
  operation.fFlags = FOF_NO_UI;
  SHFileOperationA(&operation);
}

std::string ScratchFolder::AddFolder(const std::string& relative) {
  // Creates every folder on the way; separators are found by character, not by byte.
  const std::string full = path_ + "\\" + relative;
  for (const char* p = full.c_str() + path_.size() + 1; *p; p = CharNextA(p)) {
    if (*p == '\\') CreateDirectoryA(full.substr(0, p - full.c_str()).c_str(), nullptr);
  }
  CreateDirectoryA(full.c_str(), nullptr);
  return full;
}

std::string ScratchFolder::AddFile(const std::string& relative, const std::string& bytes) {
  const std::string full = path_ + "\\" + relative;
  const char* lastSeparator = nullptr;
  for (const char* p = relative.c_str(); *p; p = CharNextA(p)) {
    if (*p == '\\') lastSeparator = p;
  }
  if (lastSeparator) AddFolder(relative.substr(0, lastSeparator - relative.c_str()));
  HANDLE file = CreateFileA(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
  }
  return full;
}

void InitTestModule() {
  static bool done = false;
  if (done) return;
  done = true;
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES | ICC_COOL_CLASSES |
                                                        ICC_LISTVIEW_CLASSES | ICC_USEREX_CLASSES};
  InitCommonControlsEx(&controls);
  theModule.Init(GetModuleHandleA(nullptr));
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
  char className[64] = "", caption[512] = "";
  GetClassNameA(hwnd, className, sizeof className);
  GetWindowTextA(hwnd, caption, sizeof caption);
  if (wanted->className == className && (wanted->caption.empty() || wanted->caption == caption)) {
    wanted->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

std::thread DriveWindow(const std::string& className, const std::string& caption,
                        std::function<void(HWND)> drive) {
  return std::thread([className, caption, drive] {
    for (int waited = 0; waited < 15000; waited += 20) {
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
