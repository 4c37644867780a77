// Progress shown in the main window's status bar while a long intake or save runs inside one
// message handler: "保存中 123 / 5000", "読み込み中 3456". Only the status bar is repainted, at
// once and at most four times a second; no message is pumped, so nothing else takes input
// meanwhile. "Ready" again at the end.
#pragma once

#include <windows.h>

#include <string>

#include "targets/Progress.h"

class StatusProgress : public Progress {
 public:
  void Attach(HWND statusBar, std::string ready);

  void Begin(const char* what, int total) override;
  void Advance() override;
  void End() override;
  void EndWith(const std::string& text) override;

  // Milliseconds; tests put a clock of their own here.
  DWORD (*clock)() = [] { return GetTickCount(); };
  // Under Wine a repaint of the status bar costs 1.5 to 3 ms (more on a wider window): ten a
  // second took 2% of a long save and of a large intake, four take under 1%, and the count
  // still visibly moves.
  static const DWORD kInterval = 250;

 private:
  void Show(const std::string& text);

  HWND statusBar_ = nullptr;
  std::string ready_;
  std::string what_;
  int total_ = 0;
  int done_ = 0;
  bool active_ = false;
  bool shown_ = false;
  DWORD lastShown_ = 0;
};
