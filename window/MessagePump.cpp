#include "window/MessagePump.h"

#include <new>

bool MessagePump::AddPreDispatchHook(PreDispatchHook* hook) {
  try {
    preDispatchHooks_.push_back(hook);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool MessagePump::OfferToHooks(MSG* message) {
  // The most recently registered hook is asked first.
  for (auto hook = preDispatchHooks_.rbegin(); hook != preDispatchHooks_.rend(); ++hook) {
    if ((*hook)->PreDispatch(message)) return true;
  }
  return false;
}

int MessagePump::RunPump() {
  for (;;) {
    const BOOL got = GetMessageA(&current_, nullptr, 0, 0);
    if (got == -1) continue;
    if (!got) return static_cast<int>(current_.wParam);

    if (!OfferToHooks(&current_)) {
      TranslateMessage(&current_);
      DispatchMessageA(&current_);
    }
  }
}
