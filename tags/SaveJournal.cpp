#include "tags/SaveJournal.h"

#include <shlobj.h>

#include "resources/Texts.h"
#include "tags/TagLibrary.h"

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

void SaveJournal::Begin() {
  if (depth_++ > 0 || journal_.folder().empty() || disabled_) return;
  // An unfinished journal of another run is not dropped unseen: the program offers it at start,
  // and a save does not replace it before then.
  if (FoundUnfinished()) return;
  saved_ = false;
  if (!journal_.Begin(owner_)) return;
  if (library_.SetJournal(journal_.folder().c_str()) != 0) {
    // A library without a journal: its writes could not be undone, so there is nothing to offer.
    journal_.End();
    journal_.Undo();
  }
}

void SaveJournal::End() {
  if (depth_ == 0 || --depth_ > 0 || !journal_.active()) return;
  library_.SetJournal(nullptr);
  journal_.End();
  saved_ = true;
}

void SaveJournal::RecordCreated(const std::string& path) {
  journal_.RecordCreated(WideFromActive(path));
}

void SaveJournal::RecordCopyFailed(const std::string& path) {
  journal_.RecordAbandoned(WideFromActive(path));
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
  return !journal_.folder().empty() && journal_.Inspect() == journal::Journal::State::kUnfinished;
}

SaveJournal& TheSaveJournal() {
  static SaveJournal journal(SaveJournal::DefaultFolder(), theTagLibrary);
  return journal;
}
