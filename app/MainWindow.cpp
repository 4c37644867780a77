#include "app/MainWindow.h"

#include "app/ShellModule.h"
#include "resources/resource.h"

namespace {
const char kClassName[] = "tagwhirl.MainWindow";
const DWORD kStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
const DWORD kExStyle = WS_EX_APPWINDOW | WS_EX_WINDOWEDGE;

bool RegisterMainWindowClass(HINSTANCE instance) {
  WNDCLASSEXA existing = {sizeof existing};
  if (GetClassInfoExA(instance, kClassName, &existing)) return true;
  WNDCLASSEXA windowClass = {sizeof windowClass};
  windowClass.style = CS_DBLCLKS;
  windowClass.lpfnWndProc = Window::WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = kClassName;
  windowClass.hIcon = static_cast<HICON>(
      LoadImageA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
  windowClass.hIconSm = static_cast<HICON>(
      LoadImageA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
  return RegisterClassExA(&windowClass) != 0;
}
}  // namespace

const Handler<MainWindow> MainWindow::kHandlers[] = {
    OnMessage<MainWindow>(WM_CREATE, &MainWindow::OnCreate),
    OnMessage<MainWindow>(WM_DESTROY, &MainWindow::OnDestroy),
};

HWND MainWindow::Create() {
  const HINSTANCE instance = theModule.instance();
  char caption[256] = "";
  LoadStringA(instance, IDR_MAINFRAME, caption, sizeof caption);
  if (!RegisterMainWindowClass(instance)) return nullptr;
  HWND hwnd = CreateWindowExA(kExStyle, kClassName, caption, kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, this);
  if (!hwnd) return nullptr;
  accelerators_ = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
  return hwnd;
}

bool MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  return DispatchTable(this, kHandlers, message, wParam, lParam, result);
}

bool MainWindow::OnCreate(WPARAM, LPARAM, LRESULT* result) {
  if (MessagePump* pump = theModule.GetMessagePump(GetCurrentThreadId())) {
    pump->AddPreDispatchHook(this);
    pump->AddIdleHook(this);
  }
  *result = 0;
  return true;
}

bool MainWindow::OnDestroy(WPARAM, LPARAM, LRESULT* result) {
  // The top-level window's end is the program's end.
  const LONG style = GetWindowLongA(hwnd(), GWL_STYLE);
  if (!(style & (WS_CHILD | WS_POPUP))) PostQuitMessage(1);
  *result = 0;
  return true;
}

bool MainWindow::PreDispatch(MSG* message) {
  return accelerators_ && TranslateAcceleratorA(hwnd(), accelerators_, message);
}

bool MainWindow::IdleStep() { return false; }
