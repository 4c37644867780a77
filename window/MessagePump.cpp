#include "window/MessagePump.h"

#include <new>

namespace {
// The system timer that blinks the caret; not in the SDK headers.
const UINT kCaretBlinkTimer = 0x0118;
}  // namespace

bool MessagePump::AddPreDispatchHook(PreDispatchHook* hook) {
  try {
    preDispatchHooks_.push_back(hook);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool MessagePump::AddIdleHook(IdleHook* hook) {
  try {
    idleHooks_.push_back(hook);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool MessagePump::ReArmsIdle(UINT message) {
  return message != WM_MOUSEMOVE && message != WM_NCMOUSEMOVE && message != WM_PAINT &&
         message != kCaretBlinkTimer;
}

void MessagePump::IdlePass() {
  for (IdleHook* hook : idleHooks_) hook->IdleStep();
}

bool MessagePump::OfferToHooks(MSG* message) {
  // The most recently registered hook is asked first.
  for (auto hook = preDispatchHooks_.rbegin(); hook != preDispatchHooks_.rend(); ++hook) {
    if ((*hook)->PreDispatch(message)) return true;
  }
  return false;
}

int MessagePump::RunPump() {
  // Idle work runs once each time the queue runs empty after a message that re-arms it, never in
  // a loop.
  bool idleEnabled = true;
  for (;;) {
    if (idleEnabled && !PeekMessageA(&current_, nullptr, 0, 0, PM_NOREMOVE)) {
      IdlePass();
      idleEnabled = false;
    }

    const BOOL got = GetMessageA(&current_, nullptr, 0, 0);
    if (got == -1) continue;  // an error leaves the idle state as it was
    if (!got) return static_cast<int>(current_.wParam);

    if (!OfferToHooks(&current_)) {
      TranslateMessage(&current_);
      DispatchMessageA(&current_);
    }

    if (ReArmsIdle(current_.message)) idleEnabled = true;
  }
}
