#include "journal/Recorder.h"

namespace journal {
namespace {

std::u16string Stored(const std::wstring& text) { return {text.begin(), text.end()}; }

}  // namespace

bool (*theRecordWrite)(HANDLE file, const uint8_t* data, size_t size) = WriteAll;

bool Recorder::Attach(const wchar_t* folder) {
  std::lock_guard lock(mutex_);
  Close();
  stopped_ = false;
  // Numbers go on from save to save, so that no name is given twice in a process; the folders
  // count from the save's first, as the program made them (KeptStore::MakeFolders).
  keptBefore_ = kept_;
  if (!folder || !*folder) return true;
  store_ = KeptStore(folder);
  records_ = CreateFileW((std::wstring(folder) + L"\\" + kRecordsName).c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  return active();
}

void Recorder::Detach() {
  std::lock_guard lock(mutex_);
  Close();
}

void Recorder::Close() {
  if (active()) CloseHandle(records_);
  records_ = INVALID_HANDLE_VALUE;
}

bool Recorder::Append(const Record& record, bool flush) {
  if (!active()) return true;
  const std::vector<uint8_t> bytes = Encode(record);
  std::lock_guard lock(mutex_);
  if (stopped_) return false;
  // At the end each time: the program's copy of this code appends to the same file.
  LARGE_INTEGER end;
  if (!SetFilePointerEx(records_, LARGE_INTEGER{}, &end, FILE_END)) return Lose(-1);
  if (!theRecordWrite(records_, bytes.data(), bytes.size())) return Lose(end.QuadPart);
  // The records of single files are flushed once a second at most: a stop of the machine then
  // loses the undo of the files of that last second at worst, each of which holds its old bytes
  // or its new ones (a file written anew is flushed before its rename). Flushing each record made
  // a save of files with room seven times slower, and a rewrite a third slower.
  const DWORD now = GetTickCount();
  if (!flush && now - flushed_ < kFlushEvery) return true;
  flushed_ = now;
  // The records before this one may not have reached the disk either; what did is whole, and
  // the reading of a journal stops at its first torn record.
  return FlushFileBuffers(records_) || Lose(end.QuadPart);
}

bool Recorder::Lose(int64_t end) {
  // A torn record would hide every record after it, the save's end included, from undo: the
  // journal ends with the last record that was whole, and says no more.
  if (end >= 0) {
    LARGE_INTEGER position;
    position.QuadPart = end;
    if (SetFilePointerEx(records_, position, nullptr, FILE_BEGIN)) SetEndOfFile(records_);
  }
  stopped_ = true;
  return false;
}

bool Recorder::BeforeInPlace(const std::wstring& path, HANDLE file, uint64_t oldSize,
                             std::vector<OldBytes> old) {
  if (!active()) return true;
  if (stopped_) return false;
  FILETIME written;
  if (!GetFileTime(file, nullptr, nullptr, &written)) return false;
  Record r{.kind = Kind::kInPlace, .path = Stored(path), .size = oldSize};
  r.writeTime = Time(written);
  // Which file the bytes go into: a file put in its place after a crash, however like it, is not
  // given them back by undo or keep.
  r.fileId = FileId(file);
  r.old = std::move(old);
  // Written ahead; the system keeps it should the program stop (Append says when it is flushed).
  return Append(r, false);
}

bool Recorder::BeforeRewrite(const std::wstring& path, const std::wstring& temporary,
                             uint64_t originalId, std::vector<OldBytes> placed,
                             std::wstring& kept) {
  kept.clear();
  if (!active()) return true;
  if (stopped_) return false;
  {
    std::lock_guard lock(mutex_);
    const unsigned number = ++kept_;
    kept = store_.NameFor(path, number, number - keptBefore_ - 1);
  }
  Record r{.kind = Kind::kRewrite, .path = Stored(path)};
  r.temporary = Stored(temporary);
  r.kept = Stored(kept);
  r.fileId = originalId;
  r.old = std::move(placed);
  return Append(r, false);
}

bool Recorder::KeepOriginal(const std::wstring& path, const std::wstring& kept) {
  // Not under the lock: each kept name is the file's own, and a link made on another volume
  // takes as long as the write it keeps the original of.
  if (kept.empty() || store_.Keep(path, kept)) return true;
  stopped_ = true;
  return false;
}

bool Recorder::Written(const std::wstring& path, uint64_t fileId) {
  if (!active()) return true;
  const State now = StateOf(path, fileId);
  // Recorded also when the file's state could not be read: the write happened, and undo, finding
  // the file unlike this record, names it rather than taking the step for one never made.
  Record r{.kind = Kind::kWritten, .path = Stored(path), .size = now.size};
  r.writeTime = now.writeTime;
  r.fileId = now.read ? now.fileId : 0;
  return Append(r, false) && now.read;
}

void Recorder::Abandoned(const std::wstring& path) {
  Append({.kind = Kind::kAbandoned, .path = Stored(path)}, false);
}

}  // namespace journal
