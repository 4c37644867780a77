#include "journal/Journal.h"

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
  HANDLE lock = active() ? INVALID_HANDLE_VALUE : TakeLock(Inside(kLockName), kLookPatience);
  if (lock == INVALID_HANDLE_VALUE && !active()) return State::kBusy;
  if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
  return endedAsLeft || records.back().kind == Kind::kEnd ? State::kFinished : State::kUnfinished;
}

void Journal::Drop() {
  ended_.valid = false;
  recorder_.Detach();
  DeleteFileW(Inside(kRecordsName).c_str());
  store_.DeleteAll();
}

bool Journal::Begin(uint64_t owner) {
  ended_ = {.owner = owner};
  if (!Lock()) return false;
  DeleteFileW(Inside(kRecordsName).c_str());
  store_.Retire();
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
  return recorder_.Append({.kind = Kind::kCreated, .path = {path.begin(), path.end()}}, false);
}

void Journal::RecordAbandoned(const std::wstring& path) { recorder_.Abandoned(path); }

void Journal::End() {
  if (!active()) return;
  const bool ended = recorder_.Append({.kind = Kind::kEnd}, true);
  Unlock();
  // Taken once no handle writes the file any more: a volume may set the time only at the close.
  ended_.valid = ended && SizeAndTime(Inside(kRecordsName), ended_.size, ended_.writeTime);
  store_.DeleteRetiredLater();
}

}  // namespace journal
