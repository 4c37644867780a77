#include "tags/SaveJournal.h"

#include <shlobj.h>

#include <algorithm>
#include <map>

#include "paths/PathText.h"
#include "resources/Texts.h"
#include "tags/TagLibrary.h"

namespace {

// What a save keeps of one file on the journal's volume, at most, besides the original of a file
// written anew that is kept as a copy there: its records (paths, sizes, the hash) and the old
// bytes under a write in place. Those are the file's tags, written in place only when the new
// ones fit into the room of the old; tags larger than this (large cover art) are rare, and a
// save that meets enough of them to fill the volume is stopped by the journal itself.
constexpr uint64_t kRecordsOfAFile = 4 << 10;
constexpr uint64_t kOldTagsOfAFile = 256 << 10;

// The room the user may still fill on the volume of `folder`, which may not exist yet.
uint64_t FreeRoom(std::wstring folder) {
  for (;;) {
    ULARGE_INTEGER free;
    if (GetDiskFreeSpaceExW(folder.c_str(), &free, nullptr, nullptr)) return free.QuadPart;
    const size_t cut = folder.find_last_of(L'\\');
    if (cut == std::wstring::npos || cut == 0) return 0;
    folder.resize(cut);
  }
}

SaveJournal* theReplacement = nullptr;

}  // namespace

uint64_t RoomToKeep(const std::wstring& journalFolder,
                    const std::vector<SaveJournal::FileToSave>& files) {
  const std::wstring journalVolume = journal::VolumeOf(journalFolder);
  // Asked once per folder: a thousand files of one album are one question.
  std::map<std::wstring, bool> linked;
  uint64_t room = 0;
  for (const SaveJournal::FileToSave& file : files) {
    const std::wstring folder = file.path.substr(0, file.path.find_last_of(L'\\') + 1);
    auto known = linked.find(folder);
    if (known == linked.end()) {
      const std::wstring volume = journal::VolumeOf(file.path);
      known = linked
                  .emplace(folder, !volume.empty() && (volume == journalVolume ||
                                                       journal::MakeKeptRoot(journal::KeptRootOn(
                                                           volume, journalFolder))))
                  .first;
    }
    // A file written anew keeps its original as a link on its own volume, which takes no room,
    // and where no folder can be made there, as a copy in the journal's folder.
    room += kRecordsOfAFile + (known->second ? std::min(file.size, kOldTagsOfAFile) : file.size);
  }
  return room;
}

SaveJournal::SaveJournal(std::wstring folder, const TagLibrary& library)
    : journal_(std::move(folder)),
      library_(library),
      // Unique among the instances that may share the journal: the process id is reused only
      // after the process ended, and then the time differs.
      owner_((uint64_t(GetCurrentProcessId()) << 32) | GetTickCount()) {}

std::wstring SaveJournal::DefaultFolder() {
  wchar_t chosen[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"TAGWHIRL_JOURNAL", chosen, MAX_PATH);
  if (length > 0 && length < MAX_PATH) return chosen;
  wchar_t local[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, local)))
    return {};
  const std::wstring program = std::wstring(local) + L"\\tagwhirl";
  CreateDirectoryW(program.c_str(), nullptr);
  return program + L"\\journal";
}

SaveJournal::Start SaveJournal::Begin(const std::vector<FileToSave>& files) {
  if (depth_++ > 0) return recording() ? Start::kRecording : Start::kWithout;
  recordFailed_ = false;
  if (disabled_ || !library_.HasJournal()) return Start::kWithout;
  if (journal_.folder().empty()) return Start::kCannotRecord;
  // An unfinished journal of another run is not dropped unseen: the program offers it at start,
  // and a save does not replace it before then.
  if (FoundUnfinished()) return Start::kWithout;
  saved_ = false;
  if (RoomToKeep(journal_.folder(), files) > FreeRoom(journal_.folder()))
    return Start::kCannotRecord;
  std::vector<std::wstring> paths;
  paths.reserve(files.size());
  for (const FileToSave& file : files) paths.push_back(file.path);
  if (!journal_.Begin(owner_, paths)) {
    return journal_.Inspect() == journal::Journal::State::kBusy ? Start::kWithout
                                                                : Start::kCannotRecord;
  }
  if (library_.SetJournal(journal_.folder().c_str()) != 0) {
    // The library could not open the records: its writes could not be undone.
    journal_.Forget();
    return Start::kCannotRecord;
  }
  return Start::kRecording;
}

bool SaveJournal::Stopped() const {
  return journal_.active() && (recordFailed_ || library_.JournalStopped());
}

void SaveJournal::GoOnWithout() {
  library_.SetJournal(nullptr);
  journal_.Forget();
  recordFailed_ = false;
}

void SaveJournal::End() {
  if (depth_ == 0 || --depth_ > 0 || !journal_.active()) return;
  library_.SetJournal(nullptr);
  journal_.End();
  saved_ = true;
}

bool SaveJournal::RecordCreated(const std::string& path) {
  if (!journal_.active()) return true;
  // Spelt as the library spells the copy in the records of its writes to it.
  const std::wstring full = FullPath(WideFromActive(path));
  if (journal_.RecordCreated(full)) return true;
  // Not recorded because a file of that name is there: the copy fails on it, as it must.
  if (GetFileAttributesW(full.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  recordFailed_ = true;
  return false;
}

void SaveJournal::RecordCopyFailed(const std::string& path) {
  journal_.RecordAbandoned(FullPath(WideFromActive(path)));
}

bool SaveJournal::CanUndo() const {
  uint64_t owner = 0;
  return saved_ && journal_.Inspect(&owner) == journal::Journal::State::kFinished &&
         owner == owner_;
}

journal::Journal::Outcome SaveJournal::Undo() {
  if (!CanUndo()) return {};
  journal::Journal::Outcome outcome = journal_.Undo();
  // Another instance took the journal between the look and the undo: it is still ours to undo.
  saved_ = outcome.busy;
  return outcome;
}

bool SaveJournal::FoundUnfinished() const {
  if (journal_.folder().empty()) return false;
  const auto state = journal_.Inspect();
  return state == journal::Journal::State::kUnfinished ||
         state == journal::Journal::State::kUndoing;
}

bool SaveJournal::FoundStoppedUndo() const {
  return !journal_.folder().empty() && journal_.Inspect() == journal::Journal::State::kUndoing;
}

SaveJournal& TheSaveJournal() {
  if (theReplacement) return *theReplacement;
  static SaveJournal journal(SaveJournal::DefaultFolder(), theTagLibrary);
  return journal;
}

void UseSaveJournal(SaveJournal* journal) { theReplacement = journal; }
