#include "journal/Journal.h"

#include <set>

namespace journal {

Journal::~Journal() { Unlock(); }

namespace {

// The lock is a file opened for nobody else. Another instance looks at it for a moment at every
// context menu and every save's start: a lock refused while that look lasts is asked for again
// for a while, so that the look never makes a save go without its journal, nor an undo fail.
HANDLE TakeLock(const std::wstring& path, DWORD patience) {
  const DWORD start = GetTickCount();
  for (;;) {
    HANDLE lock = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (lock != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION ||
        GetTickCount() - start >= patience)
      return lock;
    Sleep(2);
  }
}

// Long enough to outlast any look by another instance; short beside a save that holds it.
constexpr DWORD kLockPatience = 1500;  // milliseconds
constexpr DWORD kLookPatience = 50;

}  // namespace

bool Journal::Lock() {
  if (active()) return true;
  CreateDirectoryW(folder_.c_str(), nullptr);
  lock_ = TakeLock(Inside(kLockName), kLockPatience);
  return active();
}

void Journal::Unlock() {
  recorder_.Detach();
  if (active()) CloseHandle(lock_);
  lock_ = INVALID_HANDLE_VALUE;
}

namespace {

// What is read of the journal at a time: its records take memory as they are kept, but a journal
// of any size is read through this much.
constexpr DWORD kReadPiece = 1 << 20;

HANDLE OpenRecords(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool Journal::Read(std::vector<Record>& records, int* version, bool light,
                   bool* damagedInside) const {
  records.clear();
  if (damagedInside) *damagedInside = false;
  HANDLE file = OpenRecords(Inside(kRecordsName));
  if (file == INVALID_HANDLE_VALUE) return false;
  Decoder decoder(light);
  std::vector<uint8_t> piece(kReadPiece);
  DWORD done = 0;
  bool ok = true;
  while ((ok = ReadFile(file, piece.data(), kReadPiece, &done, nullptr) != FALSE) && done > 0) {
    // Past damage only when asked whether records follow it.
    if (!decoder.Feed(piece.data(), done, records) && !damagedInside) break;
  }
  CloseHandle(file);
  if (damagedInside) *damagedInside = decoder.Finish();
  if (version) *version = decoder.version();
  return ok && decoder.started();
}

bool Journal::ReadAt(HANDLE file, uint64_t at, int version, Record& record) {
  uint8_t head[4];
  std::vector<uint8_t> bytes;
  bool ok = Seek(file, at) && ReadAll(file, head, sizeof head);
  const uint32_t length = ok ? head[0] | head[1] << 8 | head[2] << 16 | uint32_t(head[3]) << 24 : 0;
  ok = ok && length <= (64u << 20);
  if (ok) {
    bytes.resize(size_t(length) + 8);
    std::copy(head, head + 4, bytes.begin());
    ok = ReadAll(file, bytes.data() + 4, length + 4);
  }
  size_t used = 0;
  return ok && DecodeOne(bytes.data(), bytes.size(), version, at, record, used);
}

bool Journal::EndedAsLeft() const {
  uint64_t size = 0, writeTime = 0;
  return ended_.valid && SizeAndTime(Inside(kRecordsName), size, writeTime) &&
         size == ended_.size && writeTime == ended_.writeTime;
}

Journal::State Journal::Inspect(uint64_t* owner) const {
  const bool endedAsLeft = EndedAsLeft();
  State state = State::kFinished;
  if (!endedAsLeft) {
    // Its first record and its last, read where they lie: the records between them, of any
    // number, are read when the journal is undone.
    HANDLE file = OpenRecords(Inside(kRecordsName));
    if (file == INVALID_HANDLE_VALUE) return State::kNone;
    // The magic and the begin record: kind and owner.
    std::vector<uint8_t> head(sizeof kMagic + 8 + 9), tail(kBareRecordSize);
    LARGE_INTEGER size;
    bool read = ReadAll(file, head.data(), head.size()) && GetFileSizeEx(file, &size);
    const bool hasTail = read && uint64_t(size.QuadPart) >= head.size() + tail.size();
    read = read && (!hasTail || (Seek(file, size.QuadPart - tail.size()) &&
                                 ReadAll(file, tail.data(), tail.size())));
    const bool sized = GetFileSizeEx(file, &size) != FALSE;
    CloseHandle(file);
    std::vector<Record> first;
    if (read && Decode(head.data(), head.size(), first) && !first.empty() &&
        first.front().kind == Kind::kBegin) {
      if (owner) *owner = first.front().owner;
      state = !hasTail                                          ? State::kUnfinished
              : EndsWith(tail.data(), tail.size(), Kind::kEnd)  ? State::kFinished
              : EndsWith(tail.data(), tail.size(), Kind::kUndo) ? State::kUndoing
                                                                : State::kUnfinished;
    } else {
      // Records that do not start as a save's are a journal damaged, not one that is not there:
      // offered as unfinished, refused, and what it kept set aside rather than replaced. Only the
      // magic is a save whose start did not reach the disk, which kept nothing yet.
      if (!sized || size.QuadPart <= LONGLONG(sizeof kMagic)) return State::kNone;
      if (owner) *owner = 0;
      state = State::kUnfinished;
    }
  } else if (owner) {
    *owner = ended_.owner;
  }
  if (Exists(Inside(kUndoingName))) state = State::kUndoing;
  HANDLE lock = active() ? INVALID_HANDLE_VALUE : TakeLock(Inside(kLockName), kLookPatience);
  if (lock == INVALID_HANDLE_VALUE && !active()) return State::kBusy;
  if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
  return state;
}

void Journal::Drop() {
  ended_.valid = false;
  recorder_.Detach();
  DeleteFileW(Inside(kRecordsName).c_str());
  DeleteFileW(Inside(kUndoingName).c_str());
  store_.DeleteAll();
}

void Journal::MarkUndoing() {
  ended_.valid = false;
  recorder_.Attach(folder_.c_str());
  const bool recorded = recorder_.Append({.kind = Kind::kUndo}, true);
  recorder_.Detach();
  if (recorded) return;
  // A file of no bytes takes no room of the volume's data.
  HANDLE mark = CreateFileW(Inside(kUndoingName).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (mark != INVALID_HANDLE_VALUE) FlushFileBuffers(mark), CloseHandle(mark);
}

void Journal::SetAsideDamaged(Outcome& outcome) {
  outcome.damaged = true;
  ended_.valid = false;
  recorder_.Detach();
  outcome.damagedAside = store_.SetAsideAll(Inside(kRecordsName));
  DeleteFileW(Inside(kUndoingName).c_str());
}

void Journal::Forget() {
  if (!active()) return;
  Drop();
  Unlock();
}

bool Journal::Begin(uint64_t owner, const std::vector<std::wstring>& paths) {
  ended_ = {.owner = owner};
  created_.clear();
  if (!Lock()) return false;
  DeleteFileW(Inside(kRecordsName).c_str());
  DeleteFileW(Inside(kUndoingName).c_str());
  store_.Retire();
  store_.MakeFolders(paths);
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
  // Undo takes only full paths from a journal: a folder typed relative to the current one is
  // recorded as the full path it names now.
  std::wstring full(GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
  const DWORD length =
      full.empty() ? 0 : GetFullPathNameW(path.c_str(), DWORD(full.size()), full.data(), nullptr);
  if (length == 0 || length >= full.size()) return false;
  full.resize(length);
  if (!recorder_.Append({.kind = Kind::kCreated, .path = {full.begin(), full.end()}}, false))
    return false;
  created_.push_back(std::move(full));
  return true;
}

void Journal::RecordAbandoned(const std::wstring& path) { recorder_.Abandoned(path); }

void Journal::End() {
  if (!active()) return;
  // What each copy the library did not write is as the save leaves it, so that undo deletes that
  // file only: in a folder that became a link to another one since, the name stands for another
  // file. A copy the library wrote has its own record of that. (Asking every copy took 0.35 ms
  // a copy, a third of a second for a thousand; reading the records back takes a few.)
  std::set<std::u16string> written;
  std::vector<Record> records;
  if (!created_.empty() && Read(records, nullptr, true)) {
    for (const Record& r : records) {
      if (r.kind == Kind::kInPlace || r.kind == Kind::kRewrite) written.insert(r.path);
    }
  }
  for (const std::wstring& path : created_) {
    if (written.count({path.begin(), path.end()})) continue;
    const journal::State now = StateOf(path);
    if (!now.read) continue;
    Record made{.kind = Kind::kWritten, .path = {path.begin(), path.end()}, .size = now.size};
    made.writeTime = now.writeTime;
    made.fileId = now.fileId;
    recorder_.Append(made, false);
  }
  created_.clear();
  const bool ended = recorder_.Append({.kind = Kind::kEnd}, true);
  Unlock();
  // Taken once no handle writes the file any more: a volume may set the time only at the close.
  ended_.valid = ended && SizeAndTime(Inside(kRecordsName), ended_.size, ended_.writeTime);
  store_.DeleteRetiredLater();
}

}  // namespace journal
