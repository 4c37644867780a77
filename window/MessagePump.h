// The UI thread's message loop, with the two ways a window takes part in it: filtering a message
// before it is dispatched, and doing work when the queue runs empty.
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

// No window of the program has idle work today; the pump keeps the way in for one that will.
class IdleHook {
 public:
  // One step of idle work; the pump ignores the result.
  virtual bool IdleStep() = 0;

 protected:
  ~IdleHook() = default;
};

class MessagePump {
 public:
  // Hooks are not owned; they must outlive the pump's run. False when the array cannot grow.
  bool AddPreDispatchHook(PreDispatchHook* hook);
  bool AddIdleHook(IdleHook* hook);

  // Runs until the quit message arrives and returns its wParam.
  int RunPump();

  // Whether a message of this kind makes idle work run again once the queue is empty. Mouse
  // moves, paints and the caret-blink timer arrive all the time and would keep idle work busy.
  static bool ReArmsIdle(UINT message);

 private:
  void IdlePass();
  bool OfferToHooks(MSG* message);

  MSG current_ = {};
  std::vector<PreDispatchHook*> preDispatchHooks_;
  std::vector<IdleHook*> idleHooks_;
};
