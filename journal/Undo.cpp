// Undo and keep: the Win32 side of the planner. It reads what each step's files are now, asks
// Plan for the actions and carries them out.
#include <algorithm>
#include <set>

#include "journal/Journal.h"
#include "journal/Plan.h"

namespace journal {
namespace {

std::wstring Named(const std::u16string& text) { return {text.begin(), text.end()}; }

FileNow Now(const std::wstring& path) {
  FileNow now;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  now.exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (!now.exists) return now;
  now.link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  const State state = StateOf(path);
  now.read = state.read;
  now.size = state.size, now.writeTime = state.writeTime, now.fileId = state.fileId;
  return now;
}

// The bytes now under each block of the step's new bytes.
std::vector<BlockNow> BlocksNow(HANDLE file, const Record& before) {
  std::vector<BlockNow> blocks;
  LARGE_INTEGER size;
  const bool sized = GetFileSizeEx(file, &size) != FALSE;
  std::vector<uint8_t> bytes;
  for (const OldBytes& piece : before.old) {
    for (uint64_t start = 0; start < piece.length; start += kBlockSize) {
      BlockNow block;
      const uint64_t at = piece.offset + start;
      const uint64_t length = std::min<uint64_t>(kBlockSize, piece.length - start);
      const uint64_t old = before.kind == Kind::kInPlace && piece.oldLength > start
                               ? std::min<uint64_t>(length, piece.oldLength - start)
                               : 0;
      const uint64_t there = sized && uint64_t(size.QuadPart) > at
                                 ? std::min<uint64_t>(length, size.QuadPart - at)
                                 : 0;
      bytes.resize(there);
      if (sized && there >= old &&
          (!there || (Seek(file, at) && ReadAll(file, bytes.data(), there)))) {
        block.read = true;
        block.whole = BlockHash(bytes.data(), there);
        block.oldPart = BlockHash(bytes.data(), old);
      }
      blocks.push_back(block);
    }
  }
  return blocks;
}

Observation Observe(const Step& step, int version) {
  Observation seen;
  const Record& before = *step.before;
  const std::wstring path = Named(before.path);
  seen.path = Now(path);
  if (before.kind == Kind::kRewrite) {
    seen.temporaryExists = Exists(Named(before.temporary));
    seen.kept = Now(Named(before.kept));
  }
  if (before.kind == Kind::kCreated || !seen.path.read || seen.path.link) return seen;
  const bool firstHash = version < 2 && before.kind == Kind::kInPlace && step.written &&
                         seen.path.size == step.written->size &&
                         seen.path.writeTime == step.written->writeTime;
  if (version < 2 && !firstHash) return seen;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return seen;
  if (version >= 2) {
    seen.blocks = BlocksNow(file, before);
  } else {
    std::vector<std::pair<uint64_t, size_t>> places;
    for (const auto& old : before.old) places.emplace_back(old.offset, size_t(old.length));
    seen.hashRead = HashAt(file, places, seen.hash);
  }
  CloseHandle(file);
  return seen;
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

}  // namespace

bool Journal::Carry(const Action& action, const Step& step, int version, HANDLE records) {
  const Record& before = *step.before;
  const std::wstring path = Named(before.path);
  switch (action.act) {
    case Act::kRestoreInPlace: {
      // The reader dropped the old bytes to bound its memory: their record is read again.
      Record whole;
      if (!ReadAt(records, before.at, version, whole)) return false;
      // The same record as planned, with its old bytes again.
      Record planned = before;
      for (size_t i = 0; i < planned.old.size() && i < whole.old.size(); ++i)
        planned.old[i].bytes = whole.old[i].bytes;
      return planned == whole && RestoreInPlace(path, whole);
    }
    case Act::kPutKeptBack:
      return PutBack(Named(before.kept), path);
    case Act::kDeleteTemporary:
      DeleteFileW(Named(before.temporary).c_str());
      return true;
    case Act::kDeleteKept:
      DeleteFileW(Named(before.kept).c_str());
      return true;
    case Act::kDeleteCreated:
      return DeleteFileW(path.c_str()) != FALSE;
    case Act::kLeaveAlone:
      return false;
    case Act::kRestoredAlready:
      return true;
  }
  return false;
}

Plan Journal::Planned(bool undo, std::vector<Record>& records, std::vector<Step>& steps,
                      int& version) const {
  bool damagedInside = false;
  const bool read = Read(records, &version, true, &damagedInside);
  // An undo that began where its record did not fit is resumed as one whose record did.
  if (read && Exists(Inside(kUndoingName))) records.push_back({.kind = Kind::kUndo});
  // A journal whose records stop at damage that more records follow hides the steps after it:
  // planned without them, their originals would be deleted, and older writes undone on the bytes
  // of newer ones. Looking for the next whole record instead could find one inside another's old
  // bytes. Nothing of it is trusted.
  if (!read || !StepsOf(records, steps) || damagedInside) {
    Plan refused;
    refused.damaged = Exists(Inside(kRecordsName));
    return refused;
  }
  std::vector<Observation> observed;
  observed.reserve(steps.size());
  for (const Step& step : steps) observed.push_back(Observe(step, version));
  const auto owns = [this](const std::u16string& kept) { return store_.Owns(Named(kept)); };
  return undo ? PlanUndo(records, steps, observed, version, owns)
              : PlanKeep(records, steps, observed, version, owns);
}

Journal::Outcome Journal::Undo() {
  Outcome outcome;
  if (!Lock()) {
    outcome.busy = true;
    return outcome;
  }
  std::vector<Record> records;
  std::vector<Step> steps;
  int version = 0;
  const Plan plan = Planned(true, records, steps, version);
  if (plan.damaged) {
    SetAsideDamaged(outcome);
    Unlock();
    return outcome;
  }
  // Before the first change: should this undo be stopped, the next start finishes it.
  if (!plan.actions.empty()) MarkUndoing();
  HANDLE reading =
      CreateFileW(Inside(kRecordsName).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  std::set<std::u16string> failed, restored;
  for (const Action& action : plan.actions) {
    const Step& step = steps[action.step];
    const std::u16string& key = step.before->path;
    if (failed.count(key)) continue;
    if (!Carry(action, step, version, reading)) {
      failed.insert(key);
      outcome.failed.push_back(Named(key));
      continue;
    }
    if (action.act == Act::kDeleteCreated) ++outcome.removed;
    if (action.act == Act::kRestoreInPlace || action.act == Act::kPutKeptBack ||
        action.act == Act::kRestoredAlready)
      restored.insert(key);
  }
  if (reading != INVALID_HANDLE_VALUE) CloseHandle(reading);
  for (const auto& key : restored) outcome.restored += !failed.count(key);
  std::reverse(outcome.failed.begin(), outcome.failed.end());
  // The earliest original kept of a file left alone is that file before the save: it is never
  // deleted, but moved where the cleanup below does not reach, and the user is told where.
  std::set<std::u16string> setAside;
  bool heldBack = false;
  for (const Step& step : steps) {
    const std::u16string& key = step.before->path;
    const std::wstring kept = Named(step.before->kept);
    if (step.before->kind != Kind::kRewrite || !failed.count(key) || setAside.count(key) ||
        !store_.Owns(kept) || !Exists(kept))
      continue;
    setAside.insert(key);
    const std::wstring aside = SetAside(kept, Named(key));
    heldBack = heldBack || aside == kept;
    outcome.keptAside.emplace_back(Named(key), aside);
  }
  // An original that could not be set aside stays where it is, and the journal with it, as an
  // undo that was stopped: no save replaces such a journal, and the next start finishes the undo,
  // setting the original aside then.
  if (heldBack && Inspect() != State::kUndoing) MarkUndoing();
  if (!heldBack) Drop();
  Unlock();
  return outcome;
}

Journal::Outcome Journal::Keep() {
  Outcome outcome;
  if (!Lock()) {
    outcome.busy = true;
    return outcome;
  }
  std::vector<Record> records;
  std::vector<Step> steps;
  int version = 0;
  const Plan plan = Planned(false, records, steps, version);
  if (plan.damaged) {
    SetAsideDamaged(outcome);
    Unlock();
    return outcome;
  }
  HANDLE reading =
      CreateFileW(Inside(kRecordsName).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool heldBack = false;
  for (const Action& action : plan.actions) {
    const Step& step = steps[action.step];
    if (Carry(action, step, version, reading)) continue;
    if (action.act != Act::kDeleteTemporary) outcome.failed.push_back(Named(step.before->path));
    if (action.act != Act::kPutKeptBack) continue;
    // The file's only version left: never deleted with the journal.
    const std::wstring kept = Named(step.before->kept);
    heldBack = heldBack || SetAside(kept, Named(step.before->path)) == kept;
  }
  if (reading != INVALID_HANDLE_VALUE) CloseHandle(reading);
  // Else the journal stays as it was, and the next start offers it again.
  if (!heldBack) Drop();
  Unlock();
  return outcome;
}

}  // namespace journal
