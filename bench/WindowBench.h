// What the benchmarks that run the program's windows share: the program's statics, its module
// state, a clock and a way to let posted work run.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "window/ShellModule.h"

// The benchmarks start no program, so they bring the statics the program's entry would.
std::vector<std::string> CommandLinePaths;

// Seconds on a monotonic clock. (<chrono> cannot be used: its micro sign has no CP932 form, which
// the narrow literals use.)
inline double Now() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / frequency.QuadPart;
}

// The common controls and the module state, as the program's entry sets them up.
inline void InitForWindows() {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES | ICC_COOL_CLASSES |
                                                        ICC_LISTVIEW_CLASSES | ICC_USEREX_CLASSES};
  InitCommonControlsEx(&controls);
  theModule.Init(GetModuleHandleA(nullptr));
}

// Runs whatever the windows have posted to themselves.
inline void PumpWaiting() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}
