#include "journal/Journal.h"

#include <sddl.h>

#include <algorithm>
#include <cwchar>
#include <map>
#include <memory>
#include <set>
#include <utility>

namespace journal {
namespace {

std::u16string Stored(const std::wstring& text) { return {text.begin(), text.end()}; }
std::wstring Named(const std::u16string& text) { return {text.begin(), text.end()}; }

uint64_t Time(const FILETIME& time) {
  return (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Seek(HANDLE file, uint64_t offset, DWORD from = FILE_BEGIN) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(file, position, nullptr, from) != FALSE;
}

bool WriteAll(HANDLE file, const uint8_t* data, size_t size) {
  while (size) {
    DWORD done = 0;
    if (!WriteFile(file, data, static_cast<DWORD>(std::min<size_t>(size, 1 << 20)), &done,
                   nullptr) ||
        done == 0)
      return false;
    data += done, size -= done;
  }
  return true;
}

bool ReadAll(HANDLE file, uint8_t* data, size_t size) {
  while (size) {
    DWORD done = 0;
    if (!ReadFile(file, data, static_cast<DWORD>(std::min<size_t>(size, 1 << 20)), &done,
                  nullptr) ||
        done == 0)
      return false;
    data += done, size -= done;
  }
  return true;
}

// The size and time of the file's entry in its folder.
bool SizeAndTime(const std::wstring& path, uint64_t& size, uint64_t& writeTime) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
  size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  writeTime = Time(data.ftLastWriteTime);
  return true;
}

// What a file is now, read after our handle that wrote it closed (a volume may set the time only
// then), also of a file another program has locked: the save records it and undo compares it
// through the same StateOf.
struct State {
  bool read = false;
  uint64_t size = 0, writeTime = 0, fileId = 0;
};

// Size and time come from the file's entry in its folder, which asks the system for nothing
// else; the identity from a handle opened for its attributes only, or `fileId` when the caller
// had one.
State StateOf(const std::wstring& path, uint64_t fileId = 0) {
  State state;
  if (!SizeAndTime(path, state.size, state.writeTime)) return {};
  if (!fileId) {
    HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    fileId = FileId(file);
    CloseHandle(file);
  }
  state.read = fileId != 0;
  state.fileId = fileId;
  return state;
}

// The hash of the bytes at the places a write in place put its own; false when they cannot be
// read.
bool HashAt(HANDLE file, const std::vector<std::pair<uint64_t, size_t>>& places, uint64_t& hash) {
  hash = Hash(nullptr, 0);
  std::vector<uint8_t> bytes;
  for (const auto& [offset, size] : places) {
    if (size > (64u << 20)) return false;  // no tag of ours is this large: a damaged record
    bytes.resize(size);
    if (size && (!Seek(file, offset) || !ReadAll(file, bytes.data(), size))) return false;
    hash = Hash(bytes.data(), size, hash);
  }
  return true;
}

// One write of the save: its record before the change, and what followed it.
struct Step {
  const Record* before = nullptr;
  const Record* written = nullptr;
  bool abandoned = false;
};

// The steps of a journal in the order they were made; false when it holds no begun save.
bool StepsOf(const std::vector<Record>& records, std::vector<Step>& steps) {
  steps.clear();
  if (records.empty() || records.front().kind != Kind::kBegin) return false;
  for (const Record& r : records) {
    if (r.kind == Kind::kInPlace || r.kind == Kind::kRewrite || r.kind == Kind::kCreated) {
      steps.push_back({&r});
    } else if (r.kind == Kind::kWritten || r.kind == Kind::kAbandoned) {
      // The latest step on that file without an outcome.
      for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
        if (step->before->path != r.path || step->written || step->abandoned) continue;
        if (r.kind == Kind::kWritten)
          step->written = &r;
        else
          step->abandoned = true;
        break;
      }
    }
  }
  return true;
}

// Whether the file is still what the save's last write to it left.
bool Unchanged(const std::wstring& path, const Step& step) {
  const Record& written = *step.written;
  const State now = StateOf(path);
  if (!now.read || now.size != written.size || now.writeTime != written.writeTime ||
      now.fileId != written.fileId)
    return false;
  if (step.before->kind != Kind::kInPlace) return true;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::vector<std::pair<uint64_t, size_t>> places;
  for (const auto& old : step.before->old) places.emplace_back(old.offset, size_t(old.length));
  uint64_t hash = 0;
  const bool read = HashAt(file, places, hash);
  CloseHandle(file);
  return read && hash == written.hash;
}

// Writes the old bytes back over a write in place, cuts the file to its old size and gives it
// its old time.
bool RestoreInPlace(const std::wstring& path, const Record& before) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  for (const auto& old : before.old) {
    ok = ok && Seek(file, old.offset) && WriteAll(file, old.bytes.data(), old.bytes.size());
  }
  FILETIME time = {static_cast<DWORD>(before.writeTime),
                   static_cast<DWORD>(before.writeTime >> 32)};
  ok = ok && Seek(file, before.size) && SetEndOfFile(file) && FlushFileBuffers(file) &&
       SetFileTime(file, nullptr, nullptr, &time);
  CloseHandle(file);
  return ok;
}

// Gives `path` the bytes of the original kept as `kept`, and deletes that then. On one volume a
// rename; across volumes the original is copied beside the file, flushed and renamed over it, so
// that the name holds the file or its original, never a part of either. A kept original that
// did not take the file's place stays.
bool PutBack(const std::wstring& kept, const std::wstring& path) {
  if (MoveFileExW(kept.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  // The shape of the library's temporary files, which it sweeps away should we stop meanwhile.
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

// The folder whose kept folder holds `kept`: the journal's, or one on another volume.
std::wstring KeptRootOf(const std::wstring& kept) {
  std::wstring root = kept;
  for (int level = 0; level < 3 && root.rfind(L'\\') != std::wstring::npos; ++level)
    root.resize(root.rfind(L'\\'));
  return root;
}

// Moves the original of `path`, kept as `kept`, where no cleanup of ours goes: beside the kept
// folder, under the file's own name. Where it now lies; `kept` itself when it could not move.
std::wstring SetAside(const std::wstring& kept, const std::wstring& path) {
  const std::wstring folder = KeptRootOf(kept) + L"\\" + kNotRestoredFolder;
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
  const size_t dot = name.rfind(L'.');
  const std::wstring stem = name.substr(0, dot), extension = dot == std::wstring::npos ? L"" : name.substr(dot);
  for (int number = 1; number < 1000; ++number) {
    const std::wstring aside = folder + L"\\" +
                               (number == 1 ? name : stem + L" (" + std::to_wstring(number) + L")" + extension);
    if (Exists(aside)) continue;
    if (MoveFileExW(kept.c_str(), aside.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH))
      return aside;
    break;
  }
  return kept;
}

// This user's folder name: the SID, which no other user's account shares.
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

bool IsPlainFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Puts the kept original back in the file's place, unless the save never got as far as
// replacing it: then the temporary file is still there, or the kept link is the file itself.
bool RestoreRewrite(const std::wstring& path, const Step& step) {
  const std::wstring temporary = Named(step.before->temporary), kept = Named(step.before->kept);
  const bool replaced = !DeleteFileW(temporary.c_str());
  // Without the link the original was never replaced, unless the save got as far as its end.
  if (!Exists(kept)) return !step.written;
  const State original = StateOf(kept), now = StateOf(path);
  if (!replaced || (now.read && original.read && now.fileId == original.fileId)) {
    DeleteFileW(kept.c_str());
    return true;
  }
  return PutBack(kept, path);
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

bool MakeKeptRoot(const std::wstring& root) {
  const std::wstring top = root.substr(0, root.rfind(L'\\'));
  if (CreateDirectoryW(top.c_str(), nullptr))
    SetFileAttributesW(top.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  if (!IsPlainFolder(top)) return false;
  CreateDirectoryW(root.c_str(), nullptr);
  const std::wstring kept = root + L"\\" + kKeptFolder;
  CreateDirectoryW(kept.c_str(), nullptr);
  return IsPlainFolder(root) && IsPlainFolder(kept);
}

std::wstring KeptRootOn(const std::wstring& volume) {
  return volume + L".tagwhirl-kept\\" + UserFolderName();
}

uint64_t FileId(HANDLE file) {
  // The file index alone, as the system keeps it. GetFileInformationByHandle gives it too, but
  // asks for the volume's serial number with it, which under Wine is a request to another
  // process: half a millisecond a file, most of what the journal cost a save of tags with room.
  struct IoStatus {
    LONG status;
    ULONG_PTR information;
  };
  using Query = LONG(WINAPI*)(HANDLE, IoStatus*, void*, ULONG, int);
  static const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
  constexpr int kFileInternalInformation = 6;
  IoStatus status;
  LARGE_INTEGER index;
  if (query && query(file, &status, &index, sizeof index, kFileInternalInformation) >= 0)
    return static_cast<uint64_t>(index.QuadPart);
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return 0;
  return (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

// ---- Recorder

bool Recorder::Attach(const wchar_t* folder) {
  Detach();
  stopped_ = false;
  if (!folder || !*folder) return true;
  folder_ = folder;
  volume_ = VolumeOf(folder_);
  rootOfVolume_.clear();
  lastFolder_.clear();
  records_ = CreateFileW((folder_ + L"\\" + kRecordsName).c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  return active();
}

void Recorder::Detach() {
  if (active()) CloseHandle(records_);
  records_ = INVALID_HANDLE_VALUE;
}

bool Recorder::Append(const Record& record, bool flush) {
  if (!active()) return true;
  if (stopped_) return false;
  const std::vector<uint8_t> bytes = Encode(record);
  // At the end each time: the program's copy of this code appends to the same file.
  if (!Seek(records_, 0, FILE_END) || !WriteAll(records_, bytes.data(), bytes.size())) {
    stopped_ = true;
    return false;
  }
  // The records of single files are flushed once a second at most: a stop of the machine then
  // loses the undo of the files of that last second at worst, each of which holds its old bytes
  // or its new ones (a file written anew is flushed before its rename). Flushing each record made
  // a save of files with room seven times slower, and a rewrite a third slower.
  const DWORD now = GetTickCount();
  if (!flush && now - flushed_ < kFlushEvery) return true;
  flushed_ = now;
  return FlushFileBuffers(records_) != FALSE;
}

bool Recorder::BeforeInPlace(const std::wstring& path, HANDLE file, uint64_t oldSize,
                             std::vector<OldBytes> old) {
  if (!active()) return true;
  FILETIME written;
  if (!GetFileTime(file, nullptr, nullptr, &written)) return false;
  Record r{.kind = Kind::kInPlace, .path = Stored(path), .size = oldSize};
  r.writeTime = Time(written);
  r.old = std::move(old);
  // Written ahead; the system keeps it should the program stop (Append says when it is flushed).
  return Append(r, false);
}

const std::wstring& Recorder::KeptRootFor(const std::wstring& path) {
  const std::wstring folder = path.substr(0, path.find_last_of(L'\\') + 1);
  if (folder == lastFolder_) return lastRoot_;
  lastFolder_ = folder;
  const std::wstring volume = VolumeOf(folder);
  if (volume.empty() || volume == volume_) return lastRoot_ = folder_;
  auto known = rootOfVolume_.find(volume);
  if (known == rootOfVolume_.end()) {
    std::wstring root = KeptRootOn(volume);
    // Named in the journal's folder first: the program's next save must find what we keep there.
    const std::wstring name = folder_ + L"\\" + kVolumePrefix +
                              std::to_wstring(Hash(reinterpret_cast<const uint8_t*>(root.data()),
                                                   root.size() * sizeof(wchar_t))) + L".txt";
    HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    bool named = file != INVALID_HANDLE_VALUE &&
                 WriteAll(file, reinterpret_cast<const uint8_t*>(root.data()),
                          root.size() * sizeof(wchar_t)) && FlushFileBuffers(file);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    // A volume that allows no folder of ours (read-only, a share): copies in the journal's.
    if (!named || !MakeKeptRoot(root)) root = folder_;
    known = rootOfVolume_.emplace(volume, root).first;
  }
  return lastRoot_ = known->second;
}

bool Recorder::BeforeRewrite(const std::wstring& path, const std::wstring& temporary,
                             std::wstring& kept) {
  kept.clear();
  if (!active()) return true;
  // A few dozen links to a folder: under Wine, making a name that is not there yet reads the whole
  // folder, and in one folder of a thousand links each new link took 0.75 ms, a seventh of the
  // whole rewrite of a 1 MiB file.
  const unsigned number = ++kept_;
  kept = KeptRootFor(path) + L"\\" + kKeptFolder + L"\\" + std::to_wstring(number / kKeptPerFolder) +
         L"\\kept-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(number) +
         L".bin";
  Record r{.kind = Kind::kRewrite, .path = Stored(path)};
  r.temporary = Stored(temporary);
  r.kept = Stored(kept);
  return Append(r, false);
}

bool Recorder::KeepOriginal(const std::wstring& path, const std::wstring& kept) {
  if (kept.empty()) return true;
  if (CreateHardLinkW(kept.c_str(), path.c_str(), nullptr)) return true;
  // The first link of its folder; or the folders were removed since the save began; or an
  // earlier program with our process number left the name.
  const std::wstring root = KeptRootOf(kept);
  CreateDirectoryW(root.c_str(), nullptr);
  CreateDirectoryW((root + L"\\" + kKeptFolder).c_str(), nullptr);
  CreateDirectoryW(kept.substr(0, kept.rfind(L'\\')).c_str(), nullptr);
  DeleteFileW(kept.c_str());
  if (CreateHardLinkW(kept.c_str(), path.c_str(), nullptr) ||
      CopyFileW(path.c_str(), kept.c_str(), TRUE))
    return true;
  // Most likely no room for the copy: what it left goes, and the journal stops as on a record
  // that could not be written.
  DeleteFileW(kept.c_str());
  stopped_ = true;
  return false;
}

bool Recorder::Written(const std::wstring& path, const std::vector<Span>& ours, uint64_t fileId) {
  if (!active()) return true;
  const State now = StateOf(path, fileId);
  Record r{.kind = Kind::kWritten, .path = Stored(path), .size = now.size};
  r.writeTime = now.writeTime;
  r.fileId = now.fileId;
  r.hash = Hash(nullptr, 0);
  for (const Span& span : ours) r.hash = Hash(span.data, span.size, r.hash);
  // Should it be lost, undo treats the write as unfinished and restores the file without comparing
  // it first, which is what the record would have allowed anyway.
  return now.read && Append(r, false);
}

void Recorder::Abandoned(const std::wstring& path) {
  Append({.kind = Kind::kAbandoned, .path = Stored(path)}, false);
}

// ---- Journal

Journal::~Journal() { Unlock(); }

bool Journal::Lock() {
  if (active()) return true;
  CreateDirectoryW(folder_.c_str(), nullptr);
  lock_ = CreateFileW(Inside(kLockName).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return active();
}

void Journal::Unlock() {
  recorder_.Detach();
  if (active()) CloseHandle(lock_);
  lock_ = INVALID_HANDLE_VALUE;
}

bool Journal::Read(std::vector<Record>& records) const {
  records.clear();
  HANDLE file =
      CreateFileW(Inside(kRecordsName).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  std::vector<uint8_t> bytes;
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart < (LONGLONG(1) << 31);
  if (ok) bytes.resize(static_cast<size_t>(size.QuadPart));
  ok = ok && (bytes.empty() || ReadAll(file, bytes.data(), bytes.size()));
  CloseHandle(file);
  return ok && Decode(bytes.data(), bytes.size(), records);
}

bool Journal::EndedAsLeft() const {
  uint64_t size = 0, writeTime = 0;
  return ended_.valid && SizeAndTime(Inside(kRecordsName), size, writeTime) &&
         size == ended_.size && writeTime == ended_.writeTime;
}

Journal::State Journal::Inspect(uint64_t* owner) const {
  const bool endedAsLeft = EndedAsLeft();
  std::vector<Record> records;
  if (!endedAsLeft && (!Read(records) || records.empty() || records.front().kind != Kind::kBegin))
    return State::kNone;
  if (owner) *owner = endedAsLeft ? ended_.owner : records.front().owner;
  HANDLE lock = CreateFileW(Inside(kLockName).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (lock == INVALID_HANDLE_VALUE && !active()) return State::kBusy;
  if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
  return endedAsLeft || records.back().kind == Kind::kEnd ? State::kFinished : State::kUnfinished;
}

namespace {

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
  // A link in the kept folder's place is removed, never entered.
  if (!IsPlainFolder(folder)) {
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

// The originals kept for a save that can no longer be undone, moved aside by Begin.
void DeleteRetired(const std::wstring& folder) {
  EachIn(folder, (std::wstring(kRetiredPrefix) + L"*").c_str(),
         [](const std::wstring& path, const WIN32_FIND_DATAW& found) {
           if (IsFolder(found)) DeleteKept(path);
         });
}

DWORD WINAPI DeleteRetiredThread(void* folders) {
  std::unique_ptr<std::vector<std::wstring>> owned(static_cast<std::vector<std::wstring>*>(folders));
  for (const std::wstring& folder : *owned) DeleteRetired(folder);
  return 0;
}

// Moves the kept folder in `root` aside, for DeleteRetired once the save is over.
void Retire(const std::wstring& root) {
  const std::wstring kept = root + L"\\" + kKeptFolder;
  const std::wstring retired = root + L"\\" + kRetiredPrefix +
                               std::to_wstring(GetCurrentProcessId()) + L"-" +
                               std::to_wstring(GetTickCount());
  if (Exists(kept) && !(IsPlainFolder(kept) && MoveFileW(kept.c_str(), retired.c_str())))
    DeleteKept(kept);
}

}  // namespace

std::vector<std::wstring> Journal::VolumeRoots() const {
  std::vector<std::wstring> roots;
  EachIn(folder_, (std::wstring(kVolumePrefix) + L"*").c_str(),
         [&roots](const std::wstring& path, const WIN32_FIND_DATAW& found) {
           if (IsFolder(found) || found.nFileSizeHigh || found.nFileSizeLow > 2 * MAX_PATH * 2)
             return;
           HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
           if (file == INVALID_HANDLE_VALUE) return;
           std::wstring root(found.nFileSizeLow / sizeof(wchar_t), L'\0');
           const bool read = ReadAll(file, reinterpret_cast<uint8_t*>(root.data()),
                                     root.size() * sizeof(wchar_t));
           CloseHandle(file);
           // Only a folder of our own shape, whatever the file says.
           if (read && !root.empty() && KeptRootOn(VolumeOf(root)) == root) roots.push_back(root);
         });
  return roots;
}

void Journal::Drop() {
  ended_.valid = false;
  recorder_.Detach();
  DeleteFileW(Inside(kRecordsName).c_str());
  DeleteKept(Inside(kKeptFolder));
  DeleteMatching(folder_, L"kept-*.bin");  // where an earlier version kept them
  DeleteRetired(folder_);
  for (const std::wstring& root : VolumeRoots()) {
    DeleteKept(root + L"\\" + kKeptFolder);
    DeleteRetired(root);
  }
}

bool Journal::Begin(uint64_t owner) {
  ended_ = {.owner = owner};
  if (!Lock()) return false;
  DeleteFileW(Inside(kRecordsName).c_str());
  // The originals the last save kept are moved aside in one rename and deleted once this save
  // is over: deleting a thousand rewritten originals frees their blocks, which took as long as
  // saving a thousand tags with room.
  const std::wstring retired = Inside(kRetiredPrefix) + std::to_wstring(GetCurrentProcessId()) +
                               L"-" + std::to_wstring(GetTickCount());
  if (Exists(Inside(kKeptFolder)) && !MoveFileW(Inside(kKeptFolder).c_str(), retired.c_str()))
    DeleteKept(Inside(kKeptFolder));
  for (const std::wstring& root : VolumeRoots()) Retire(root);
  DeleteMatching(folder_, L"kept-*.bin");
  CreateDirectoryW(Inside(kKeptFolder).c_str(), nullptr);
  HANDLE records = CreateFileW(Inside(kRecordsName).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                               nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool ok = records != INVALID_HANDLE_VALUE;
  ok = ok && WriteAll(records, reinterpret_cast<const uint8_t*>(kMagic), sizeof kMagic);
  if (records != INVALID_HANDLE_VALUE) CloseHandle(records);
  ok = ok && recorder_.Attach(folder_.c_str()) &&
       recorder_.Append({.kind = Kind::kBegin, .owner = owner}, true);
  if (!ok) {
    Drop();
    Unlock();
  }
  return ok;
}

bool Journal::RecordCreated(const std::wstring& path) {
  if (!active() || Exists(path)) return false;
  return recorder_.Append({.kind = Kind::kCreated, .path = Stored(path)}, false);
}

void Journal::RecordAbandoned(const std::wstring& path) { recorder_.Abandoned(path); }

void Journal::End() {
  if (!active()) return;
  const bool ended = recorder_.Append({.kind = Kind::kEnd}, true);
  Unlock();
  // Taken once no handle writes the file any more: a volume may set the time only at the close.
  ended_.valid = ended && SizeAndTime(Inside(kRecordsName), ended_.size, ended_.writeTime);
  // While the user looks at the result; what a program ended meanwhile leaves, the next save's
  // end deletes.
  auto* folders = new std::vector<std::wstring>(VolumeRoots());
  folders->push_back(folder_);
  HANDLE thread = CreateThread(nullptr, 0, DeleteRetiredThread, folders, 0, nullptr);
  if (thread) {
    CloseHandle(thread);
  } else {
    DeleteRetiredThread(folders);
  }
}

void Journal::Forget() {
  if (!active()) return;
  Drop();
  Unlock();
}

Journal::Outcome Journal::Undo() {
  Outcome outcome;
  std::vector<Record> records;
  std::vector<Step> steps;
  if (!Lock()) return outcome;
  if (!Read(records) || !StepsOf(records, steps)) {
    Unlock();
    return outcome;
  }
  const bool finished = records.back().kind == Kind::kEnd;

  std::set<std::u16string> created, failed, restored, seen;
  for (const Step& step : steps) {
    if (step.before->kind == Kind::kCreated && !step.abandoned) created.insert(step.before->path);
  }
  // Newest first: each write is undone on the bytes the next one found.
  for (size_t i = steps.size(); i-- > 0;) {
    const Step& step = steps[i];
    const std::u16string& key = step.before->path;
    const std::wstring path = Named(key);
    // The newest step that changed the file is compared with what the file is now; an older
    // one finds the file as the newer one's undoing left it.
    const bool latest = !seen.count(key);
    if (step.written || !step.abandoned) seen.insert(key);
    if (failed.count(key)) continue;
    // Only the last step of an unfinished save can have been cut off; any other one without an
    // outcome failed, and the library or the program put its file back already.
    const bool interrupted = !finished && i + 1 == steps.size() && !step.written && !step.abandoned;
    if (latest && step.written && !Unchanged(path, step)) {
      failed.insert(key);
      outcome.failed.push_back(path);
      continue;
    }
    if (created.count(key)) {
      if (step.before->kind == Kind::kRewrite) {
        DeleteFileW(Named(step.before->temporary).c_str());
        DeleteFileW(Named(step.before->kept).c_str());
      }
      if (step.before->kind != Kind::kCreated) continue;
      if (!Exists(path)) continue;  // never made, or removed after a failure
      if (DeleteFileW(path.c_str())) {
        ++outcome.removed;
      } else {
        failed.insert(key);
        outcome.failed.push_back(path);
      }
      continue;
    }
    if (step.before->kind == Kind::kCreated) continue;
    if (!step.written && !interrupted) {
      if (step.before->kind == Kind::kRewrite) {
        DeleteFileW(Named(step.before->temporary).c_str());
      }
      continue;
    }
    const bool ok = step.before->kind == Kind::kInPlace ? RestoreInPlace(path, *step.before)
                                                        : RestoreRewrite(path, step);
    if (ok) {
      restored.insert(key);
    } else {
      failed.insert(key);
      outcome.failed.push_back(path);
    }
  }
  for (const auto& key : restored) outcome.restored += !failed.count(key);
  std::reverse(outcome.failed.begin(), outcome.failed.end());
  // The earliest original kept of a file left alone is what it was before the save: it stays
  // where the cleanup below does not reach, and the user is told where.
  std::set<std::u16string> setAside;
  for (const Step& step : steps) {
    const std::u16string& key = step.before->path;
    if (step.before->kind != Kind::kRewrite || !failed.count(key) || created.count(key) ||
        setAside.count(key) || !Exists(Named(step.before->kept)))
      continue;
    setAside.insert(key);
    outcome.keptAside.emplace_back(Named(key), SetAside(Named(step.before->kept), Named(key)));
  }
  Drop();
  Unlock();
  return outcome;
}

void Journal::Keep() {
  std::vector<Record> records;
  std::vector<Step> steps;
  if (!Lock()) return;
  if (Read(records) && StepsOf(records, steps)) {
    for (const Step& step : steps) {
      if (step.before->kind == Kind::kRewrite) DeleteFileW(Named(step.before->temporary).c_str());
    }
    const bool finished = records.back().kind == Kind::kEnd;
    if (!finished && !steps.empty()) {
      const Step& last = steps.back();
      const std::wstring path = Named(last.before->path);
      if (!last.written && !last.abandoned) {
        // The one write the stop may have cut off: a half-written tag or a half-made copy is
        // worth less than the file before the save.
        if (last.before->kind == Kind::kInPlace) RestoreInPlace(path, *last.before);
        if (last.before->kind == Kind::kCreated) DeleteFileW(path.c_str());
      }
    }
  }
  Drop();
  Unlock();
}

}  // namespace journal
