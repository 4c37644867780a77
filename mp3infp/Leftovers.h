// The library's own temporary files left behind. A save that rewrites a file writes the new one
// as NAME.tagwhirl-new-PID-NUMBER.tmp, in the library's folder of the volume (TemporaryFolder.h)
// or beside it, and renames it over NAME; a process ended between the two leaves the temporary
// file. The rename is atomic, so NAME is whole (old or new) and the temporary file is of no use
// to anyone.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mp3infp {

// What the library's temporary names carry between the original's name and the process id.
inline constexpr std::wstring_view kTemporaryKind = L".tagwhirl-new-";

// The original's name when `name` (a file name without folder) is one of the library's temporary
// names, NAME.tagwhirl-new-PID-TICK.tmp with decimal PID and TICK; empty otherwise.
inline std::wstring_view OriginalOfTemporary(std::wstring_view name) {
  constexpr std::wstring_view kEnd = L".tmp";
  if (name.size() <= kEnd.size() || name.substr(name.size() - kEnd.size()) != kEnd) return {};
  name.remove_suffix(kEnd.size());
  // Two runs of digits, each ended by what comes before it: "-" before TICK, the kind before PID.
  for (const std::wstring_view before : {std::wstring_view(L"-"), kTemporaryKind}) {
    size_t digits = 0;
    while (digits < name.size() && digits < 10 && name[name.size() - 1 - digits] >= L'0' &&
           name[name.size() - 1 - digits] <= L'9')
      ++digits;
    if (digits == 0) return {};
    name.remove_suffix(digits);
    if (name.size() <= before.size() || name.substr(name.size() - before.size()) != before)
      return {};
    name.remove_suffix(before.size());
  }
  return name;
}

inline bool IsTemporaryName(std::wstring_view name) { return !OriginalOfTemporary(name).empty(); }

// The process number in one of the library's temporary names; 0 for another name.
inline uint64_t ProcessOfTemporary(std::wstring_view name) {
  const std::wstring_view original = OriginalOfTemporary(name);
  if (original.empty()) return 0;
  uint64_t process = 0;
  for (size_t i = original.size() + kTemporaryKind.size(); name[i] != L'-'; ++i)
    process = process * 10 + (name[i] - L'0');
  return process;
}

#ifdef _WIN32
// Removes the temporary files of the library's naming in the folder of `path` whose original is
// there beside them; nothing else. Each folder is looked at once per process, with one listing
// of the names that match the pattern. A temporary file that a save (of this or another
// process) still holds open cannot be removed and stays.
void SweepLeftovers(const std::wstring& path);
// Removes the temporary files of the library's naming in its folder of a volume, `folder`
// (TemporaryFolderFor), that no other running process made: one made by another instance may be
// between its writing and its rename. One held open cannot be removed either, and stays; one of
// this process's number is an earlier process's, as the sweep comes before this one's saves.
void SweepTemporaryFolder(const std::wstring& folder);
#endif

}  // namespace mp3infp
