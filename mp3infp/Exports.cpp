// The entry points of mp3infp.dll. Each one catches everything: no exception may cross into the
// calling program, which would end it.
#define MP3INFP_BUILDING
#include "mp3infp/mp3infp.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "mp3infp/PropertyDialog.h"
#include "mp3infp/Session.h"
#include "paths/SlimLock.h"

namespace {

constexpr DWORD kInternalError = 0x7FFFFFFF;

// Each thread's own current file. A program of one thread has the one current file it always
// had; one that saves several files at once does so from several threads, each with its Load,
// SetValue and Save on its own file. The lock guards the table, never a session: a session is
// used by its own thread only.
struct Sessions {
  // Taken by every call from every thread.
  SlimMutex mutex;
  std::map<DWORD, std::unique_ptr<mp3infp::Session>> byThread;
};

Sessions& TheSessions() {
  static Sessions sessions;
  return sessions;
}

mp3infp::Session& ThisThreadsSession() {
  Sessions& sessions = TheSessions();
  std::lock_guard lock(sessions.mutex);
  std::unique_ptr<mp3infp::Session>& session = sessions.byThread[GetCurrentThreadId()];
  if (!session) session = std::make_unique<mp3infp::Session>();
  return *session;
}

// A thread that ends lets its file go (a handle Load kept open for a Save that never came).
void EndThreadsSession() {
  std::unique_ptr<mp3infp::Session> ended;
  Sessions& sessions = TheSessions();
  {
    std::lock_guard lock(sessions.mutex);
    const auto found = sessions.byThread.find(GetCurrentThreadId());
    if (found == sessions.byThread.end()) return;
    ended = std::move(found->second);
    sessions.byThread.erase(found);
  }
}

template <class Body>
DWORD Guarded(DWORD onError, Body body) noexcept {
  try {
    return body(ThisThreadsSession());
  } catch (...) {
    return onError;
  }
}

}  // namespace

HINSTANCE theModule;

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) theModule = module;
  if (reason == DLL_THREAD_DETACH) {
    try {
      EndThreadsSession();
    } catch (...) {
    }
  }
  return TRUE;
}

DWORD WINAPI mp3infp_SetJournal(const wchar_t* folder) {
  return Guarded(kInternalError, [&](mp3infp::Session&) -> DWORD {
    return mp3infp::LibraryJournal().Attach(folder) ? 0 : 1;
  });
}

DWORD WINAPI mp3infp_ReadValues(const char* path, char* buffer, DWORD bufferSize, DWORD* needed) {
  // Outside the lock: it works on a file of its own, never on the current one.
  try {
    std::string block;
    const DWORD result = mp3infp::ReadValues(path, &block);
    if (needed) *needed = static_cast<DWORD>(block.size());
    if (result != 0) return result;
    if (!buffer || block.size() > bufferSize) return mp3infp::kBufferTooSmall;
    std::memcpy(buffer, block.data(), block.size());
    return 0;
  } catch (...) {
    return kInternalError;
  }
}

DWORD WINAPI mp3infp_GetThreadModel() { return 1; }

DWORD WINAPI mp3infp_GetJournalState() {
  return Guarded(0, [](mp3infp::Session&) -> DWORD {
    return mp3infp::LibraryJournal().stopped() ? 1 : 0;
  });
}

DWORD WINAPI mp3infp_Load(HWND, const char* path) {
  return Guarded(kInternalError, [&](mp3infp::Session& s) { return s.Load(path); });
}

DWORD WINAPI mp3infp_GetValue(const char* name, char* buffer, DWORD bufferSize) {
  if (buffer && bufferSize) buffer[0] = 0;
  return Guarded(static_cast<DWORD>(-1),
                 [&](mp3infp::Session& s) { return s.GetValue(name, buffer, bufferSize); });
}

DWORD WINAPI mp3infp_SetValue(const char* name, const char* value) {
  return Guarded(kInternalError, [&](mp3infp::Session& s) { return s.SetValue(name, value); });
}

DWORD WINAPI mp3infp_Save(const char* path) {
  return Guarded(kInternalError, [&](mp3infp::Session& s) { return s.Save(path); });
}

DWORD WINAPI mp3infp_GetType() {
  return Guarded(kMp3infpTypeUnknown, [](mp3infp::Session& s) { return s.GetType(); });
}

DWORD WINAPI mp3infp_mp3_GetTagType() {
  return Guarded(0, [](mp3infp::Session& s) { return s.GetTagType(); });
}

DWORD WINAPI mp3infp_mp3_MakeId3v1(const char* path) {
  return Guarded(kInternalError, [&](mp3infp::Session& s) { return s.MakeTag(path, false); });
}

DWORD WINAPI mp3infp_mp3_MakeId3v2(const char* path) {
  return Guarded(kInternalError, [&](mp3infp::Session& s) { return s.MakeTag(path, true); });
}

DWORD WINAPI mp3infp_ViewPropEx(HWND owner, const char* path, DWORD, DWORD, DWORD, DWORD) {
  // Not under the lock: the dialog is modal and its owner's messages keep flowing meanwhile.
  try {
    return mp3infp::ShowPropertyDialog(theModule, owner, path) ? 0 : 1;
  } catch (...) {
    return kInternalError;
  }
}
