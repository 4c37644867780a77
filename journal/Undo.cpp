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
  uint64_t size = 0, writeTime = 0;
  now.exists = SizeAndTime(path, size, writeTime);
  const State state = StateOf(path);
  now.read = state.read;
  now.size = state.size, now.writeTime = state.writeTime, now.fileId = state.fileId;
  return now;
}

Observation Observe(const Step& step) {
  Observation seen;
  const std::wstring path = Named(step.before->path);
  seen.path = Now(path);
  if (step.before->kind == Kind::kInPlace && step.written && seen.path.read &&
      seen.path.size == step.written->size && seen.path.writeTime == step.written->writeTime) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      std::vector<std::pair<uint64_t, size_t>> places;
      for (const auto& old : step.before->old) places.emplace_back(old.offset, size_t(old.length));
      seen.hashRead = HashAt(file, places, seen.hash);
      CloseHandle(file);
    }
  }
  if (step.before->kind == Kind::kRewrite) {
    seen.temporaryExists = Exists(Named(step.before->temporary));
    seen.kept = Now(Named(step.before->kept));
  }
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

// Carries out one action; false when it should have changed a file and did not.
bool Carry(const Action& action, const Step& step) {
  const Record& before = *step.before;
  const std::wstring path = Named(before.path);
  switch (action.act) {
    case Act::kRestoreInPlace:
      return RestoreInPlace(path, before);
    case Act::kPutKeptBack:
      return MoveFileExW(Named(before.kept).c_str(), path.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED |
                             MOVEFILE_WRITE_THROUGH) != FALSE;
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

}  // namespace

Journal::Outcome Journal::Undo() {
  Outcome outcome;
  std::vector<Record> records;
  std::vector<Step> steps;
  if (!Lock()) {
    outcome.busy = true;
    return outcome;
  }
  if (!Read(records) || !StepsOf(records, steps)) {
    Unlock();
    return outcome;
  }
  std::vector<Observation> observed;
  observed.reserve(steps.size());
  for (const Step& step : steps) observed.push_back(Observe(step));

  std::set<std::u16string> failed, restored;
  for (const Action& action : PlanUndo(records, steps, observed)) {
    const Step& step = steps[action.step];
    const std::u16string& key = step.before->path;
    if (failed.count(key)) continue;
    if (!Carry(action, step)) {
      failed.insert(key);
      outcome.failed.push_back(Named(key));
      continue;
    }
    if (action.act == Act::kDeleteCreated) ++outcome.removed;
    if (action.act == Act::kRestoreInPlace || action.act == Act::kPutKeptBack ||
        action.act == Act::kRestoredAlready)
      restored.insert(key);
  }
  for (const auto& key : restored) outcome.restored += !failed.count(key);
  std::reverse(outcome.failed.begin(), outcome.failed.end());
  Drop();
  Unlock();
  return outcome;
}

void Journal::Keep() {
  std::vector<Record> records;
  std::vector<Step> steps;
  if (!Lock()) return;
  if (Read(records) && StepsOf(records, steps)) {
    for (const Action& action : PlanKeep(records, steps)) Carry(action, steps[action.step]);
  }
  Drop();
  Unlock();
}

}  // namespace journal
