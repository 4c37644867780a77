#include "mp3infp/Leftovers.h"

#include <windows.h>

#include <mutex>
#include <set>

#include "mp3infp/FileIo.h"
#include "paths/SlimLock.h"

namespace mp3infp {
namespace {

// Calls `visit` with each plain file of `folder` (ending in a separator) whose name may be one of
// the library's temporary files: the pattern narrows the listing, and `visit` checks the exact
// naming (a pattern's "*" also matches names of other shapes). Folders and links are never
// candidates, nor a read-only file: the library never marks its own so, so that is someone's copy.
template <class Visit>
void ForEachCandidate(const std::wstring& folder, Visit visit) {
  const std::wstring pattern = folder + L"*" + std::wstring(kTemporaryKind) + L"*.tmp";
  WIN32_FIND_DATAW found;
  const HANDLE search =
      FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!(found.dwFileAttributes &
          (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY)))
      visit(found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

// Whether the process numbered `process` runs: one we may not ask about runs.
bool Running(uint64_t process) {
  if (process > MAXDWORD) return false;
  const HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(process));
  if (!handle) return GetLastError() == ERROR_ACCESS_DENIED;
  DWORD code = 0;
  const bool running = GetExitCodeProcess(handle, &code) && code == STILL_ACTIVE;
  CloseHandle(handle);
  return running;
}

}  // namespace

void SweepLeftovers(const std::wstring& path) {
  const size_t separator = path.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return;
  const std::wstring folder = path.substr(0, separator + 1);
  // Held through the sweep: a save of another thread must not make its temporary file in the
  // folder while the sweep may still take it for a leftover.
  static SlimMutex lock;
  static std::set<std::wstring, FolderLess> swept;
  std::lock_guard hold(lock);
  if (!swept.insert(folder).second) return;
  ForEachCandidate(folder, [&](const wchar_t* name) {
    const std::wstring_view original = OriginalOfTemporary(name);
    if (original.empty()) return;
    const DWORD attributes = GetFileAttributesW((folder + std::wstring(original)).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    DeleteFileW((folder + name).c_str());
  });
}

void SweepTemporaryFolder(const std::wstring& folder) {
  ForEachCandidate(folder + L"\\", [&](const wchar_t* name) {
    if (!IsTemporaryName(name)) return;
    const uint64_t process = ProcessOfTemporary(name);
    if (process != GetCurrentProcessId() && Running(process)) return;
    DeleteFileW((folder + L"\\" + name).c_str());
  });
}

}  // namespace mp3infp
