#include "window/ShellModule.h"

#include <new>

ShellModule theModule;

namespace {

// Holds the registry lock for one scope.
class RegistryLock {
 public:
  explicit RegistryLock(CRITICAL_SECTION* lock) : lock_(lock) { EnterCriticalSection(lock_); }
  ~RegistryLock() { LeaveCriticalSection(lock_); }
  RegistryLock(const RegistryLock&) = delete;
  RegistryLock& operator=(const RegistryLock&) = delete;

 private:
  CRITICAL_SECTION* lock_;
};

}  // namespace

void ShellModule::Init(HINSTANCE instance) {
  instance_ = instance;
  uiThreadId_ = GetCurrentThreadId();
  InitializeCriticalSection(&lock_);
  pumps_.clear();
  initialised_ = true;
}

void ShellModule::Term() {
  if (!initialised_) return;
  std::vector<std::pair<DWORD, MessagePump*>>().swap(pumps_);
  DeleteCriticalSection(&lock_);
  initialised_ = false;
}

bool ShellModule::AddMessagePump(MessagePump* pump) {
  if (!initialised_) return false;
  RegistryLock hold(&lock_);
  try {
    pumps_.emplace_back(GetCurrentThreadId(), pump);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool ShellModule::RemoveMessagePump() {
  if (!initialised_) return false;
  RegistryLock hold(&lock_);
  const DWORD thread = GetCurrentThreadId();
  for (auto entry = pumps_.begin(); entry != pumps_.end(); ++entry) {
    if (entry->first == thread) {
      pumps_.erase(entry);  // keeps the order of the others
      return true;
    }
  }
  return false;
}

MessagePump* ShellModule::GetMessagePump(DWORD threadId) {
  if (!initialised_) return nullptr;
  RegistryLock hold(&lock_);
  for (const auto& entry : pumps_) {
    if (entry.first == threadId) return entry.second;
  }
  return nullptr;
}
