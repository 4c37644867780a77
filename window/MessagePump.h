// The UI thread's message loop, in which a window may filter a message before it is dispatched.
#pragma once

#include <windows.h>

#include <vector>

class PreDispatchHook {
 public:
  // True when the hook has consumed `message`: it is then neither translated nor dispatched.
  virtual bool PreDispatch(MSG* message) = 0;

 protected:
  ~PreDispatchHook() = default;
};

class MessagePump {
 public:
  // Hooks are not owned; they must outlive the pump's run. False when the array cannot grow.
  bool AddPreDispatchHook(PreDispatchHook* hook);

  // Runs until the quit message arrives and returns its wParam.
  int RunPump();

 private:
  bool OfferToHooks(MSG* message);

  MSG current_ = {};
  std::vector<PreDispatchHook*> preDispatchHooks_;
};
