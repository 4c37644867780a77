#include "mp3infp/Leftovers.h"

#include <windows.h>

#include <mutex>
#include <set>

#include "mp3infp/FileIo.h"

namespace mp3infp {

void SweepLeftovers(const std::wstring& path) {
  const size_t separator = path.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return;
  const std::wstring folder = path.substr(0, separator + 1);
  // Held through the sweep: a save of another thread must not make its temporary file in the
  // folder while the sweep may still take it for a leftover.
  static std::mutex lock;
  static std::set<std::wstring, FolderLess> swept;
  std::lock_guard<std::mutex> hold(lock);
  if (!swept.insert(folder).second) return;
  // The pattern narrows the listing to candidates; the exact naming is checked on each name (a
  // pattern's "*" also matches names of other shapes).
  const std::wstring pattern = folder + L"*" + std::wstring(kTemporaryKind) + L"*.tmp";
  WIN32_FIND_DATAW found;
  const HANDLE search =
      FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
      continue;
    const std::wstring_view original = OriginalOfTemporary(found.cFileName);
    if (original.empty()) continue;
    const DWORD attributes = GetFileAttributesW((folder + std::wstring(original)).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    // Made by the library, never marked read-only by it: a read-only one is someone's copy.
    if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) continue;
    DeleteFileW((folder + found.cFileName).c_str());
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

namespace {

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

void SweepTemporaryFolder(const std::wstring& folder) {
  const std::wstring pattern = folder + L"\\*" + std::wstring(kTemporaryKind) + L"*.tmp";
  WIN32_FIND_DATAW found;
  const HANDLE search =
      FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (found.dwFileAttributes &
        (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY))
      continue;
    if (!IsTemporaryName(found.cFileName)) continue;
    const uint64_t process = ProcessOfTemporary(found.cFileName);
    if (process != GetCurrentProcessId() && Running(process)) continue;
    DeleteFileW((folder + L"\\" + found.cFileName).c_str());
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

}  // namespace mp3infp
