// Process-wide state of the shell: the instance every resource is loaded from, the UI thread,
// and the registry through which a window finds the message pump of its own thread.
#pragma once

#include <windows.h>

#include <utility>
#include <vector>

class MessagePump;

class ShellModule {
 public:
  // Stores the instance and the calling thread, and creates the empty registry and its lock.
  void Init(HINSTANCE instance);
  // Frees the registry and deletes the lock.
  void Term();

  HINSTANCE instance() const { return instance_; }
  DWORD uiThreadId() const { return uiThreadId_; }

  // Registers `pump` for the calling thread; false when the registry cannot grow.
  bool AddMessagePump(MessagePump* pump);
  // Removes the first entry of the calling thread; false when there is none.
  bool RemoveMessagePump();
  // The pump of the first entry with `threadId`, or null.
  MessagePump* GetMessagePump(DWORD threadId);

 private:
  HINSTANCE instance_ = nullptr;
  DWORD uiThreadId_ = 0;
  bool initialised_ = false;
  CRITICAL_SECTION lock_;
  std::vector<std::pair<DWORD, MessagePump*>> pumps_;  // not owning; in order of registration
};

extern ShellModule theModule;
