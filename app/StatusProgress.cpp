#include "app/StatusProgress.h"

#include <commctrl.h>

void StatusProgress::Attach(HWND statusBar, std::string ready) {
  statusBar_ = statusBar;
  ready_ = std::move(ready);
}

void StatusProgress::Begin(const char* what, int total) {
  what_ = what;
  total_ = total;
  done_ = 0;
  shown_ = false;
  active_ = true;
}

void StatusProgress::Advance() {
  if (!active_) return;
  ++done_;
  const DWORD now = clock();
  if (shown_ && now - lastShown_ < kInterval) return;
  shown_ = true;
  lastShown_ = now;
  std::string text = what_ + " " + std::to_string(done_);
  if (total_ > 0) text += " / " + std::to_string(total_);
  Show(text);
}

void StatusProgress::End() {
  if (shown_) Show(ready_);
  shown_ = active_ = false;
}

void StatusProgress::EndWith(const std::string& text) {
  Show(text);
  shown_ = active_ = false;
}

void StatusProgress::Show(const std::string& text) {
  if (!statusBar_) return;
  SendMessageA(statusBar_, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text.c_str()));
  // The busy thread answers no one's questions until the work is done; the text the system keeps
  // for the window can still be read by other processes (accessibility tools, the tests).
  DefWindowProcA(statusBar_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  UpdateWindow(statusBar_);
}
