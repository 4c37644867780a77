#include "journal/KeptStore.h"

#include <sddl.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <functional>
#include <memory>
#include <set>

#include "journal/FileState.h"

namespace journal {
namespace {

// The folder of the originals kept as links, and the prefix of those of earlier saves, which are
// deleted after the next save.
constexpr wchar_t kKeptFolder[] = L"kept";
constexpr wchar_t kRetiredPrefix[] = L"retired-";
constexpr unsigned kKeptPerFolder = 64;
// Kept originals whose file undo could not give them back: never deleted by us.
constexpr wchar_t kNotRestoredFolder[] = L"not-restored";
constexpr int kNotRestoredFolders = 9;  // not-restored, not-restored-2, ...
// In the journal's folder, one file for each folder on another volume that has held kept
// originals, its path inside: what a save's start retires and its end deletes there too.
constexpr wchar_t kVolumePrefix[] = L"volume-";
// Where the originals of a journal that cannot be trusted go, with its records.
constexpr wchar_t kDamagedFolder[] = L"damaged-journal";
constexpr wchar_t kTopFolder[] = L".tagwhirl-kept";

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

DWORD WINAPI DeleteRetiredThread(void* folders) {
  std::unique_ptr<std::vector<std::wstring>> owned(
      static_cast<std::vector<std::wstring>*>(folders));
  for (const std::wstring& folder : *owned) DeleteRetiredIn(folder);
  return 0;
}

bool IsPlainFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Moves the kept folder in `root` aside, for DeleteRetiredIn once the save is over.
void RetireIn(const std::wstring& root) {
  const std::wstring kept = root + L"\\" + kKeptFolder;
  const std::wstring retired = root + L"\\" + kRetiredPrefix +
                               std::to_wstring(GetCurrentProcessId()) + L"-" +
                               std::to_wstring(GetTickCount());
  if (Exists(kept) && !(IsPlainFolder(kept) && MoveFileW(kept.c_str(), retired.c_str())))
    DeleteKept(kept);
}

// The folder whose kept folder holds `kept` (root \ kept \ number \ name).
std::wstring RootOfKept(const std::wstring& kept) {
  std::wstring root = kept;
  for (int level = 0; level < 3 && root.rfind(L'\\') != std::wstring::npos; ++level)
    root.resize(root.rfind(L'\\'));
  return root;
}

// This user's folder name: the SID, which no other account shares.
const std::wstring& UserFolderName() {
  static const std::wstring name = [] {
    std::wstring result;
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
      DWORD size = 0;
      GetTokenInformation(token, TokenUser, nullptr, 0, &size);
      std::vector<uint8_t> user(size);
      wchar_t* text = nullptr;
      if (size && GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
          ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text)) {
        result = text;
        LocalFree(text);
      }
      CloseHandle(token);
    }
    wchar_t user[257];
    DWORD length = 257;
    if (result.empty() && GetUserNameW(user, &length)) result = user;
    return result.empty() ? std::wstring(L"user") : result;
  }();
  return name;
}

}  // namespace

std::wstring VolumeOf(const std::wstring& path) {
  std::wstring plain = path;
  if (plain.starts_with(L"\\\\?\\UNC\\"))
    plain = L"\\\\" + plain.substr(8);
  else if (plain.starts_with(L"\\\\?\\"))
    plain = plain.substr(4);
  wchar_t volume[MAX_PATH];
  if (!GetVolumePathNameW(plain.c_str(), volume, MAX_PATH)) return {};
  std::wstring root = volume;
  if (!root.empty() && root.back() != L'\\') root += L'\\';
  return root;
}

namespace {

// The folder this user's kept originals on `volume` went to before each journal had its own:
// what an earlier version's journal names is still put back and deleted by name, but nothing
// there is retired, since it may be another instance's.
std::wstring SharedKeptRootOn(const std::wstring& volume) {
  return volume + kTopFolder + L"\\" + UserFolderName();
}

// A name for the journal in `folder`, the same however the folder is spelt in case.
std::wstring JournalName(const std::wstring& folder) {
  std::wstring full(MAX_PATH, L'\0');
  DWORD length = GetFullPathNameW(folder.c_str(), DWORD(full.size()), full.data(), nullptr);
  if (length >= full.size()) {
    full.resize(length);
    length = GetFullPathNameW(folder.c_str(), DWORD(full.size()), full.data(), nullptr);
  }
  full.resize(length < full.size() ? length : 0);
  if (full.empty()) full = folder;
  while (full.size() > 3 && full.back() == L'\\') full.pop_back();
  uint64_t hash = 0xcbf29ce484222325ull;
  for (wchar_t c : full) hash = (hash ^ uint16_t(std::towupper(c))) * 0x100000001b3ull;
  std::wstring name = L"journal-";
  for (int shift = 60; shift >= 0; shift -= 4) name += L"0123456789abcdef"[(hash >> shift) & 15];
  return name;
}

}  // namespace

std::wstring KeptRootOn(const std::wstring& volume, const std::wstring& journalFolder) {
  return SharedKeptRootOn(volume) + L"\\" + JournalName(journalFolder);
}

namespace {

bool MakeUserFolder(const std::wstring& user) {
  const std::wstring top = user.substr(0, user.rfind(L'\\'));
  if (CreateDirectoryW(top.c_str(), nullptr))
    SetFileAttributesW(top.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  if (!IsPlainFolder(top)) return false;
  CreateDirectoryW(user.c_str(), nullptr);
  return IsPlainFolder(user);
}

}  // namespace

std::wstring MakeUserRootOn(const std::wstring& volume) {
  const std::wstring user = SharedKeptRootOn(volume);
  return MakeUserFolder(user) ? user : std::wstring();
}

bool MakeKeptRoot(const std::wstring& root) {
  if (!MakeUserFolder(root.substr(0, root.rfind(L'\\')))) return false;
  CreateDirectoryW(root.c_str(), nullptr);
  const std::wstring kept = root + L"\\" + kKeptFolder;
  CreateDirectoryW(kept.c_str(), nullptr);
  return IsPlainFolder(root) && IsPlainFolder(kept);
}

bool PutBack(const std::wstring& kept, const std::wstring& path) {
  // On one volume, a rename.
  if (MoveFileExW(kept.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  // Across volumes (a copy in the journal's folder): copied beside the file, flushed, and renamed
  // over it, so that the name holds the file or its original, never a part of either. The
  // library's temporary shape, which it sweeps away should we stop meanwhile.
  const std::wstring beside = path + L".tagwhirl-new-" + std::to_wstring(GetCurrentProcessId()) +
                              L"-" + std::to_wstring(GetTickCount()) + L".tmp";
  bool ok = CopyFileW(kept.c_str(), beside.c_str(), TRUE) != FALSE;
  if (ok) {
    HANDLE copy = CreateFileW(beside.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ok = copy != INVALID_HANDLE_VALUE && FlushFileBuffers(copy);
    if (copy != INVALID_HANDLE_VALUE) CloseHandle(copy);
  }
  ok = ok && MoveFileExW(beside.c_str(), path.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) {
    DeleteFileW(beside.c_str());
    return false;
  }
  DeleteFileW(kept.c_str());
  return true;
}

namespace {

// Copies `from` as `to` (a name not taken), flushed, and keeps the copy only when it reads back
// as every byte of `from`.
bool CopyVerified(const std::wstring& from, const std::wstring& to) {
  if (!CopyFileW(from.c_str(), to.c_str(), TRUE)) return false;
  HANDLE source = CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  HANDLE copy = CreateFileW(to.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  bool same =
      source != INVALID_HANDLE_VALUE && copy != INVALID_HANDLE_VALUE && FlushFileBuffers(copy);
  LARGE_INTEGER size = {}, copied = {};
  same = same && GetFileSizeEx(source, &size) && GetFileSizeEx(copy, &copied) &&
         size.QuadPart == copied.QuadPart;
  std::vector<uint8_t> one(1 << 20), other(1 << 20);
  for (int64_t left = size.QuadPart; same && left > 0;) {
    const size_t piece = size_t(std::min<int64_t>(left, int64_t(one.size())));
    same = ReadAll(source, one.data(), piece) && ReadAll(copy, other.data(), piece) &&
           std::equal(one.begin(), one.begin() + piece, other.begin());
    left -= int64_t(piece);
  }
  if (source != INVALID_HANDLE_VALUE) CloseHandle(source);
  if (copy != INVALID_HANDLE_VALUE) CloseHandle(copy);
  if (!same) DeleteFileW(to.c_str());
  return same;
}

}  // namespace

std::wstring SetAside(const std::wstring& kept, const std::wstring& path) {
  const std::wstring root = RootOfKept(kept);
  const std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
  const size_t dot = name.rfind(L'.');
  const std::wstring stem = name.substr(0, dot);
  const std::wstring extension = dot == std::wstring::npos ? L"" : name.substr(dot);
  // Another folder where something else took the first one's name: a file, or a link, whose
  // target is not ours to write into.
  for (int folderNumber = 1; folderNumber <= kNotRestoredFolders; ++folderNumber) {
    const std::wstring folder =
        root + L"\\" + kNotRestoredFolder +
        (folderNumber == 1 ? std::wstring() : L"-" + std::to_wstring(folderNumber));
    CreateDirectoryW(folder.c_str(), nullptr);
    if (!IsPlainFolder(folder)) continue;
    for (int number = 1; number < 1000; ++number) {
      const std::wstring aside =
          folder + L"\\" +
          (number == 1 ? name : stem + L" (" + std::to_wstring(number) + L")" + extension);
      if (Exists(aside)) continue;
      if (MoveFileExW(kept.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH)) return aside;
      // Held by another program that lets it be read but not moved (a scanner, a player): a
      // copy, and the kept one goes with the journal's cleanup, or stays while it is held.
      if (CopyVerified(kept, aside)) {
        DeleteFileW(kept.c_str());
        return aside;
      }
      break;
    }
  }
  return kept;
}

const std::wstring& KeptStore::RootFor(const std::wstring& path) {
  const std::wstring folder = path.substr(0, path.find_last_of(L'\\') + 1);
  if (!lastFolder_.empty() && folder == lastFolder_) return lastRoot_;
  lastFolder_ = folder;
  if (volume_.empty()) volume_ = VolumeOf(journal_);
  const std::wstring volume = VolumeOf(folder);
  if (volume.empty() || volume == volume_) return lastRoot_ = journal_;
  auto known = rootOfVolume_.find(volume);
  if (known == rootOfVolume_.end()) {
    std::wstring root = RootOn(volume);
    // Named in the journal's folder first: the next save must find what we keep there.
    const std::wstring name =
        Inside(kVolumePrefix) + std::to_wstring(std::hash<std::wstring>()(root)) + L".txt";
    HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool named = file != INVALID_HANDLE_VALUE &&
                       WriteAll(file, reinterpret_cast<const uint8_t*>(root.data()),
                                root.size() * sizeof(wchar_t)) &&
                       FlushFileBuffers(file);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    // A volume that allows no folder of ours (read-only, a share): copies in the journal's.
    if (!named || !MakeKeptRoot(root)) root = journal_;
    known = rootOfVolume_.emplace(volume, root).first;
  }
  return lastRoot_ = known->second;
}

std::vector<std::wstring> KeptStore::VolumeRoots() const {
  std::vector<std::wstring> roots;
  EachIn(journal_, (std::wstring(kVolumePrefix) + L"*").c_str(),
         [this, &roots](const std::wstring& path, const WIN32_FIND_DATAW& found) {
           if (IsFolder(found) || found.nFileSizeHigh || found.nFileSizeLow > 4 * MAX_PATH) return;
           HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
           if (file == INVALID_HANDLE_VALUE) return;
           std::wstring root(found.nFileSizeLow / sizeof(wchar_t), L'\0');
           const bool read = ReadAll(file, reinterpret_cast<uint8_t*>(root.data()),
                                     root.size() * sizeof(wchar_t));
           CloseHandle(file);
           // Only a folder of our own shape, whatever the file says.
           if (read && !root.empty() && RootOn(VolumeOf(root)) == root) roots.push_back(root);
         });
  return roots;
}

const std::wstring& KeptStore::RootOn(const std::wstring& volume) const {
  auto known = rootOn_.find(volume);
  if (known == rootOn_.end()) known = rootOn_.emplace(volume, KeptRootOn(volume, journal_)).first;
  return known->second;
}

std::wstring KeptStore::NameFor(const std::wstring& path, unsigned number, unsigned ordinal) {
  // A few dozen links to a folder: under Wine, making a name that is not there yet reads the whole
  // folder, and in one folder of a thousand links each new link took 0.75 ms, a seventh of the
  // whole rewrite of a 1 MiB file.
  return RootFor(path) + L"\\" + kKeptFolder + L"\\" + std::to_wstring(ordinal / kKeptPerFolder) +
         L"\\kept-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(number) +
         L".bin";
}

bool KeptStore::Owns(const std::wstring& kept) const {
  std::wstring top = Inside(kKeptFolder) + L"\\";
  // Or in the folder of kept originals on the file's own volume, this journal's or, named by an
  // earlier version's journal, the one all journals shared.
  if (kept.compare(0, top.size(), top) != 0) {
    const std::wstring volume = VolumeOf(kept);
    top = RootOn(volume) + L"\\" + kKeptFolder + L"\\";
    if (kept.compare(0, top.size(), top) != 0)
      top = SharedKeptRootOn(volume) + L"\\" + kKeptFolder + L"\\";
  }
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

void KeptStore::MakeFolders(const std::vector<std::wstring>& paths) {
  // Made while the save writes, a folder cost the links made into it soon after far more than
  // the folder itself: a thousand rewrites of 1 MiB that kept their originals took 2.0 to 2.9 s
  // with each folder made at its first link, 1.5 to 1.8 s with the folders made before, against
  // 1.4 to 1.8 s freeing the originals (natively, eight threads, interleaved).
  // Only where originals have been kept before: the journal's own volume, and the volumes its
  // folder names already. A save that keeps nothing on another volume leaves no trace there.
  if (volume_.empty()) volume_ = VolumeOf(journal_);
  std::map<std::wstring, std::wstring> known;  // volume -> root
  for (const std::wstring& root : VolumeRoots()) known.emplace(VolumeOf(root), root);
  std::set<std::wstring> roots;
  std::wstring lastFolder;
  for (const std::wstring& path : paths) {
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\') + 1);
    if (folder == lastFolder) continue;
    lastFolder = folder;
    const std::wstring volume = VolumeOf(folder);
    if (volume.empty() || volume == volume_) {
      roots.insert(journal_);
    } else if (auto root = known.find(volume); root != known.end()) {
      roots.insert(root->second);
    }
  }
  const unsigned folders = unsigned((paths.size() + kKeptPerFolder - 1) / kKeptPerFolder);
  for (const std::wstring& root : roots) {
    const std::wstring kept = root + L"\\" + kKeptFolder;
    CreateDirectoryW(kept.c_str(), nullptr);
    for (unsigned folder = 0; folder < folders; ++folder)
      CreateDirectoryW((kept + L"\\" + std::to_wstring(folder)).c_str(), nullptr);
  }
}

bool KeptStore::Keep(const std::wstring& path, const std::wstring& kept) const {
  if (CreateHardLinkW(kept.c_str(), path.c_str(), nullptr)) return true;
  // The first link of its folder; or the folders were removed since the save began; or an
  // earlier program with our process number left the name.
  const std::wstring root = RootOfKept(kept);
  CreateDirectoryW(root.c_str(), nullptr);
  CreateDirectoryW((root + L"\\" + kKeptFolder).c_str(), nullptr);
  CreateDirectoryW(kept.substr(0, kept.rfind(L'\\')).c_str(), nullptr);
  DeleteFileW(kept.c_str());
  if (CreateHardLinkW(kept.c_str(), path.c_str(), nullptr) ||
      CopyFileW(path.c_str(), kept.c_str(), TRUE))
    return true;
  // Most likely no room for the copy: what it left goes.
  DeleteFileW(kept.c_str());
  return false;
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
  for (const std::wstring& root : VolumeRoots()) RetireIn(root);
}

void KeptStore::DeleteRetired() const {
  DeleteRetiredIn(journal_);
  for (const std::wstring& root : VolumeRoots()) DeleteRetiredIn(root);
}

void KeptStore::DeleteRetiredLater() const {
  // While the user looks at the result; what a program ended meanwhile leaves, the next save's
  // end deletes.
  auto* folders = new std::vector<std::wstring>(VolumeRoots());
  folders->push_back(journal_);
  HANDLE thread = CreateThread(nullptr, 0, DeleteRetiredThread, folders, 0, nullptr);
  if (thread) {
    CloseHandle(thread);
  } else {
    DeleteRetiredThread(folders);
  }
}

void KeptStore::DeleteAll() const {
  DeleteKept(Inside(kKeptFolder));
  DeleteMatching(journal_, L"kept-*.bin");
  DeleteRetiredIn(journal_);
  for (const std::wstring& root : VolumeRoots()) {
    DeleteKept(root + L"\\" + kKeptFolder);
    DeleteRetiredIn(root);
  }
}

namespace {

// A folder of `root` that nothing of ours deletes, named for a damaged journal: the first of
// damaged-journal, damaged-journal-2, ... not there yet. Empty when none could be made.
std::wstring NewDamagedFolder(const std::wstring& root) {
  for (int number = 1; number < 1000; ++number) {
    const std::wstring folder = root + L"\\" + kDamagedFolder +
                                (number == 1 ? std::wstring() : L"-" + std::to_wstring(number));
    if (GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
    if (CreateDirectoryW(folder.c_str(), nullptr) && IsPlainFolder(folder)) return folder;
    return {};
  }
  return {};
}

bool HoldsFiles(const std::wstring& folder) {
  bool any = false;
  EachIn(folder, L"*", [&any](const std::wstring& path, const WIN32_FIND_DATAW& found) {
    if (!IsFolder(found))
      any = true;
    else if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
      any = any || HoldsFiles(path);
  });
  return any;
}

// Moves `from` into `folder` whole, or where that is refused (a file in it held open), file by
// file: what cannot be moved at all stays where it was.
void MoveInto(const std::wstring& from, const std::wstring& folder) {
  const std::wstring to = folder + from.substr(from.rfind(L'\\'));
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return;
  if (!IsPlainFolder(from)) return;
  CreateDirectoryW(to.c_str(), nullptr);
  EachIn(from, L"*", [&to](const std::wstring& path, const WIN32_FIND_DATAW& found) {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return;
    if (IsFolder(found))
      MoveInto(path, to);
    else
      MoveFileExW(path.c_str(), (to + L"\\" + found.cFileName).c_str(), MOVEFILE_WRITE_THROUGH);
  });
}

}  // namespace

std::vector<std::wstring> KeptStore::SetAsideAll(const std::wstring& records) const {
  std::vector<std::wstring> holding;
  std::vector<std::wstring> roots = VolumeRoots();
  roots.insert(roots.begin(), journal_);
  for (const std::wstring& root : roots) {
    const std::wstring kept = root + L"\\" + kKeptFolder;
    const bool isJournal = root == journal_;
    std::vector<std::wstring> loose;  // where an earlier version kept them
    if (isJournal) {
      EachIn(journal_, L"kept-*.bin",
             [&loose](const std::wstring& path, const WIN32_FIND_DATAW& found) {
               if (!IsFolder(found)) loose.push_back(path);
             });
    }
    const bool keeps = (IsPlainFolder(kept) && HoldsFiles(kept)) || !loose.empty();
    if (!keeps && !(isJournal && Exists(records))) continue;
    const std::wstring folder = NewDamagedFolder(root);
    // Without a folder of its own the originals stay where they are: Retire then finds them.
    if (folder.empty()) continue;
    if (isJournal && Exists(records)) MoveInto(records, folder);
    for (const std::wstring& file : loose) MoveInto(file, folder);
    if (IsPlainFolder(kept)) MoveInto(kept, folder);
    if (keeps) holding.push_back(folder);
  }
  return holding;
}

}  // namespace journal
