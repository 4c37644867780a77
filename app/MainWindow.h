// The program's only top-level window. It owns the panes, takes the command-line paths into the
// list while it is created, and ends the program when it is destroyed.
#pragma once

#include <windows.h>

#include "app/MessagePump.h"
#include "app/Window.h"

class MainWindow : public Window, private PreDispatchHook, private IdleHook {
 public:
  // Creates the window; null when it cannot be created.
  HWND Create();

 private:
  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

  bool PreDispatch(MSG* message) override;
  bool IdleStep() override;

  bool OnCreate(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnDestroy(WPARAM wParam, LPARAM lParam, LRESULT* result);

  static const Handler<MainWindow> kHandlers[];

  HACCEL accelerators_ = nullptr;
};
