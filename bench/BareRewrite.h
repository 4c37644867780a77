// The least a rewrite of a file that keeps the flush before the swap does: the file read whole,
// written beside it with 1 KiB more in front, flushed, and renamed over it. No parsing, no tag,
// no access list: what the system charges such a rewrite (under Wine a new name, which it looks
// for through the whole folder, and freeing the original's blocks at the rename), so that the
// benchmarks can show what the tag library adds to it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// `buffer` is kept by the caller from file to file: allocated afresh, a block of a mebibyte comes
// back as new pages each time, which cost as much as writing it. The new file is made as
// `temporary` (beside the file when empty), to compare where it is made; `flush` false shows what
// the flush costs. With `kept` given, the original is linked there before the swap instead of
// being freed, as a save that undo can take back keeps it.
inline bool BareRewrite(const std::string& path, std::vector<char>& buffer,
                        std::string temporary = {}, bool flush = true,
                        const std::string& kept = {}) {
  if (temporary.empty()) temporary = path + ".new.tmp";
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size = {};
  DWORD read = 0, written = 0;
  bool ok = GetFileSizeEx(file, &size) != FALSE;
  if (ok) {
    buffer.assign(1024 + static_cast<size_t>(size.QuadPart), '\0');
    ok = ReadFile(file, buffer.data() + 1024, static_cast<DWORD>(size.QuadPart), &read, nullptr) &&
         read == size.QuadPart;
  }
  HANDLE copy = ok ? CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)
                   : INVALID_HANDLE_VALUE;
  ok = copy != INVALID_HANDLE_VALUE &&
       WriteFile(copy, buffer.data(), static_cast<DWORD>(buffer.size()), &written, nullptr) &&
       (!flush || FlushFileBuffers(copy));
  if (copy != INVALID_HANDLE_VALUE) CloseHandle(copy);
  CloseHandle(file);
  // The original stays as a second link, as the journal keeps it: its blocks are not freed.
  if (ok && !kept.empty()) ok = CreateHardLinkA(kept.c_str(), path.c_str(), nullptr) != FALSE;
  if (ok && MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  DeleteFileA(temporary.c_str());
  return false;
}
