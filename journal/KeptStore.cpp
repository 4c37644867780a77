#include "journal/KeptStore.h"

#include <cwchar>
#include <memory>

#include "journal/FileState.h"

namespace journal {
namespace {

// The folder of the originals kept as links, and the prefix of those of earlier saves, which are
// deleted after the next save.
constexpr wchar_t kKeptFolder[] = L"kept";
constexpr wchar_t kRetiredPrefix[] = L"retired-";
constexpr unsigned kKeptPerFolder = 64;

// Calls `visit` with the path and the entry of everything in `folder` that `pattern` (with
// wildcards) names, "." and ".." left out.
template <typename Visit>
void EachIn(const std::wstring& folder, const wchar_t* pattern, Visit visit) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\" + pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (std::wcscmp(found.cFileName, L".") != 0 && std::wcscmp(found.cFileName, L"..") != 0)
      visit(folder + L"\\" + found.cFileName, found);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

bool IsFolder(const WIN32_FIND_DATAW& found) {
  return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Deletes the files in `folder` that `pattern` names.
void DeleteMatching(const std::wstring& folder, const wchar_t* pattern) {
  EachIn(folder, pattern, [](const std::wstring& path, const WIN32_FIND_DATAW& found) {
    if (!IsFolder(found)) DeleteFileW(path.c_str());
  });
}

// Deletes `folder` with the files in it and in its folders of kept links.
void DeleteKept(const std::wstring& folder) {
  // A link or a junction in the folder's place is removed, never entered: what it leads to is not
  // ours.
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    RemoveDirectoryW(folder.c_str());
    return;
  }
  EachIn(folder, L"*", [](const std::wstring& path, const WIN32_FIND_DATAW& found) {
    if (!IsFolder(found)) {
      DeleteFileW(path.c_str());
      return;
    }
    // Only our own folders are entered: a link to another folder is removed, not followed.
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) DeleteMatching(path, L"*");
    RemoveDirectoryW(path.c_str());
  });
  RemoveDirectoryW(folder.c_str());
}

void DeleteRetiredIn(const std::wstring& folder) {
  EachIn(folder, (std::wstring(kRetiredPrefix) + L"*").c_str(),
         [](const std::wstring& path, const WIN32_FIND_DATAW& found) {
           if (IsFolder(found)) DeleteKept(path);
         });
}

DWORD WINAPI DeleteRetiredThread(void* folder) {
  std::unique_ptr<std::wstring> owned(static_cast<std::wstring*>(folder));
  DeleteRetiredIn(*owned);
  return 0;
}

}  // namespace

std::wstring KeptStore::NameFor(const std::wstring&, unsigned number) const {
  // A few dozen links to a folder: under Wine, making a name that is not there yet reads the whole
  // folder, and in one folder of a thousand links each new link took 0.75 ms, a seventh of the
  // whole rewrite of a 1 MiB file.
  return Inside(kKeptFolder) + L"\\" + std::to_wstring(number / kKeptPerFolder) + L"\\kept-" +
         std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(number) + L".bin";
}

bool KeptStore::Owns(const std::wstring& kept) const {
  const std::wstring top = Inside(kKeptFolder) + L"\\";
  if (journal_.empty() || kept.compare(0, top.size(), top) != 0) return false;
  // number \ kept- process - number .bin
  const auto digits = [&](size_t& at) {
    const size_t start = at;
    while (at < kept.size() && kept[at] >= L'0' && kept[at] <= L'9') ++at;
    return at > start && at - start <= 10;
  };
  size_t at = top.size();
  if (!digits(at) || kept.compare(at, 6, L"\\kept-") != 0) return false;
  at += 6;
  if (!digits(at) || at >= kept.size() || kept[at] != L'-') return false;
  ++at;
  return digits(at) && kept.compare(at, std::wstring::npos, L".bin") == 0;
}

bool KeptStore::Keep(const std::wstring& path, const std::wstring& kept) const {
  if (CreateHardLinkW(kept.c_str(), path.c_str(), nullptr)) return true;
  // The first link of its folder; or the folders were removed since the save began; or an
  // earlier program with our process number left the name.
  CreateDirectoryW(journal_.c_str(), nullptr);
  CreateDirectoryW(Inside(kKeptFolder).c_str(), nullptr);
  CreateDirectoryW(kept.substr(0, kept.rfind(L'\\')).c_str(), nullptr);
  DeleteFileW(kept.c_str());
  return CreateHardLinkW(kept.c_str(), path.c_str(), nullptr) ||
         CopyFileW(path.c_str(), kept.c_str(), TRUE);
}

void KeptStore::Retire() const {
  // The originals the last save kept are moved aside in one rename and deleted once this save
  // is over: deleting a thousand rewritten originals frees their blocks, which took as long as
  // saving a thousand tags with room.
  const std::wstring retired = Inside(kRetiredPrefix) + std::to_wstring(GetCurrentProcessId()) +
                               L"-" + std::to_wstring(GetTickCount());
  if (Exists(Inside(kKeptFolder)) && !MoveFileW(Inside(kKeptFolder).c_str(), retired.c_str()))
    DeleteKept(Inside(kKeptFolder));
  DeleteMatching(journal_, L"kept-*.bin");  // where an earlier version kept them
  CreateDirectoryW(Inside(kKeptFolder).c_str(), nullptr);
}

void KeptStore::DeleteRetired() const { DeleteRetiredIn(journal_); }

void KeptStore::DeleteRetiredLater() const {
  // While the user looks at the result; what a program ended meanwhile leaves, the next save's
  // end deletes.
  auto* folder = new std::wstring(journal_);
  HANDLE thread = CreateThread(nullptr, 0, DeleteRetiredThread, folder, 0, nullptr);
  if (thread) {
    CloseHandle(thread);
  } else {
    delete folder;
    DeleteRetiredIn(journal_);
  }
}

void KeptStore::DeleteAll() const {
  DeleteKept(Inside(kKeptFolder));
  DeleteMatching(journal_, L"kept-*.bin");
  DeleteRetiredIn(journal_);
}

}  // namespace journal
