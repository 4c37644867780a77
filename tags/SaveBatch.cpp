#include "tags/SaveBatch.h"

#include <algorithm>

#include "paths/PathText.h"
#include "resources/Texts.h"
#include "tags/SaveJournal.h"
#include "tags/SaveWorkers.h"
#include "tags/TagLibrary.h"

namespace {

// How long the wait for a file's end lasts before Esc is looked at again.
constexpr DWORD kLookForEsc = 50;

bool AskSaveWithoutUndo() {
  return MessageBoxW(nullptr, texts::kSaveWithoutUndo, texts::kSaveCaption,
                     MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2 | MB_TASKMODAL) == IDYES;
}

// What the journal is to keep of `sources`: each one's size, and where it is written.
std::vector<SaveJournal::FileToSave> FilesToSave(const std::vector<std::string>& sources,
                                                 const char* folder) {
  std::vector<SaveJournal::FileToSave> files;
  files.reserve(sources.size());
  const std::wstring outputFolder = folder ? FullPath(WideFromActive(folder)) + L"\\" : L"";
  for (const std::string& source : sources) {
    const std::wstring path = FullPath(WideFromActive(source));
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
      continue;
    files.push_back({folder ? outputFolder : path,
                     (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow});
  }
  return files;
}

}  // namespace

bool EscapePressed(HWND window) {
  const HWND root = window ? GetAncestor(window, GA_ROOT) : nullptr;
  // Esc typed into another program is not meant for us.
  if (!root || GetForegroundWindow() != root) return false;
  // Down now, or pressed and let go between two looks: a short press while one file is written.
  return (GetAsyncKeyState(VK_ESCAPE) & 0x8001) != 0;
}

SaveBatch::SaveBatch(HWND owner, SaveKind kind, int total, const char* folder, Progress* progress)
    : owner_(owner),
      kind_(kind),
      total_(total),
      inPlace_(folder == nullptr),
      folder_(folder ? folder : ""),
      progressSink_(progress) {
  if (progressSink_) {
    progressSink_->Begin(
        ActiveFromWide(kind == SaveKind::kSaveAll ? texts::kSaving : texts::kUpdatingTags).c_str(),
        total);
  }
  // Forget a press of Esc from before the batch (one that closed a menu, say): only a press
  // during the batch stops it.
  GetAsyncKeyState(VK_ESCAPE);
  stopRequested = [owner] { return EscapePressed(owner); };
  saveWithoutUndo = AskSaveWithoutUndo;
}

bool SaveBatch::Begin(const std::vector<std::string>& sources) {
  if (begun_) return !stopped_;
  begun_ = true;
  // ---- The batch begins: a journal of its saves starts here, before any file is touched. ----
  const SaveJournal::Start start = TheSaveJournal().Begin(FilesToSave(sources, folder()));
  if (start == SaveJournal::Start::kCannotRecord && !(saveWithoutUndo && saveWithoutUndo()))
    stopped_ = true;
  return !stopped_;
}

SaveBatch::~SaveBatch() { Finish(); }

bool SaveBatch::Save(const EntryToSave& entry, SaveOutcome* result) {
  if (!Begin({}) || finished_) return false;
  if (progressSink_) progressSink_->Advance();
  ++asked_;

  // ---- A journal keeps here what this save is about to change. ----
  SaveOutcome ownOutcome;
  SaveOutcome& outcome = result ? *result : ownOutcome;
  outcome = SaveEntryOutcome(entry, folder(), owner_);
  // ---- A journal records here what the save did (outcome.madeCopy: a copy it made). ----
  SaveJournal& journal = TheSaveJournal();
  if (!outcome.unchanged && journal.Stopped()) {
    // Asked once: without the journal it cannot stop again. A file whose write the journal
    // refused is as it was, and is not a failure of its own.
    if (!(saveWithoutUndo && saveWithoutUndo())) {
      stopped_ = true;
      saved_ += outcome.saved;
      return false;
    }
    journal.GoOnWithout();
    if (!outcome.saved) outcome = SaveEntryOutcome(entry, folder(), owner_);
  }

  Count(outcome);
  // Between files only: the file under way is always finished.
  if (stopRequested && stopRequested()) stopped_ = true;
  return !stopped_;
}

void SaveBatch::Count(const SaveOutcome& outcome) {
  if (outcome.unchanged)
    ++unchanged_;
  else if (outcome.saved)
    ++saved_;
  else
    report_.Add(outcome.target, outcome.reason, outcome.copyRemoved);
}

void SaveBatch::SaveEach(const std::vector<EntryToSave>& entries,
                         const std::function<void(size_t, const SaveOutcome&)>& done) {
  if (!Begin({}) || finished_) return;
  if (!inPlace_ || entries.size() < 2 || sideBySide < 2 || !theTagLibrary.CurrentFilePerThread()) {
    for (size_t i = 0; i < entries.size(); ++i) {
      SaveOutcome outcome;
      const bool goOn = Save(entries[i], &outcome);
      done(i, outcome);
      if (!goOn) break;
    }
    return;
  }
  const HWND owner = owner_;
  SaveWorkers workers(sideBySide,
                      [owner](const EntryToSave& entry) { return SaveEntryOutcome(entry, nullptr, owner); });
  std::vector<const std::string*> inFlight;
  const auto busy = [&inFlight](const std::string& path) {
    for (const std::string* other : inFlight) {
      if (lstrcmpiA(other->c_str(), path.c_str()) == 0) return true;
    }
    return false;
  };
  // Failed once the journal had stopped: refused for want of a record, or failed on their own.
  std::vector<size_t> refused;
  bool journalStopped = false;
  // At most every kLookForEsc, not after every file: under Wine each look asks the server twice,
  // which the files' own opening and closing queue behind. A press between two looks is kept.
  DWORD lastLook = GetTickCount();
  const auto lookForEsc = [&] {
    lastLook = GetTickCount();
    if (stopRequested && stopRequested()) stopped_ = true;
  };
  for (size_t next = 0;;) {
    while (!stopped_ && !journalStopped && workers.inFlight() < sideBySide &&
           next < entries.size() && !busy(entries[next].path)) {
      ++asked_;
      inFlight.push_back(&entries[next].path);
      workers.Start(next, &entries[next]);
      ++next;
    }
    if (workers.inFlight() == 0) {
      if (!journalStopped) break;
      journalStopped = false;
      if (!GoOnWithoutJournal(entries, refused, done)) break;
      refused.clear();
      continue;
    }
    size_t index;
    SaveOutcome outcome;
    if (!workers.Take(kLookForEsc, &index, &outcome)) {
      lookForEsc();
      continue;
    }
    inFlight.erase(std::find(inFlight.begin(), inFlight.end(), &entries[index].path));
    if (progressSink_) progressSink_->Advance();
    journalStopped = journalStopped || TheSaveJournal().Stopped();
    if (journalStopped && !outcome.saved && !outcome.unchanged) {
      refused.push_back(index);
    } else {
      Count(outcome);
    }
    done(index, outcome);
    if (GetTickCount() - lastLook >= kLookForEsc) lookForEsc();
  }
}

bool SaveBatch::GoOnWithoutJournal(const std::vector<EntryToSave>& entries,
                                   const std::vector<size_t>& refused,
                                   const std::function<void(size_t, const SaveOutcome&)>& done) {
  // Asked once, as a save one by one asks: a file the journal refused is as it was, and is not a
  // failure of its own.
  if (stopped_ || !(saveWithoutUndo && saveWithoutUndo())) {
    stopped_ = true;
    return false;
  }
  TheSaveJournal().GoOnWithout();
  for (size_t index : refused) {
    const SaveOutcome outcome = SaveEntryOutcome(entries[index], nullptr, owner_);
    Count(outcome);
    done(index, outcome);
  }
  return true;
}

void SaveBatch::PassBy() {
  if (stopped_ || finished_) return;
  if (progressSink_) progressSink_->Advance();
  ++unchanged_;
}

void SaveBatch::Finish() {
  if (finished_) return;
  finished_ = true;

  // ---- The batch ends: a journal of its saves is closed here. ----
  const bool undoable = TheSaveJournal().recording();
  if (begun_) TheSaveJournal().End();

  if (progressSink_) {
    const std::wstring note = undoable || saved_ == 0 ? L"" : texts::kSavedWithoutUndo;
    if (stopped_) {
      wchar_t text[256];
      wsprintfW(text, texts::kSaveStopped, saved_, total_);
      progressSink_->EndWith(ActiveFromWide(text + note));
    } else {
      wchar_t text[256];
      wsprintfW(text, texts::kSaveResult, saved_, unchanged_, failed());
      progressSink_->EndWith(ActiveFromWide(text + note));
    }
  }
  report_.Show(asked_);
}

void SaveEntries(SaveBatch& batch, const std::vector<EntryToSave>& entries) {
  std::vector<std::string> sources;
  sources.reserve(entries.size());
  for (const EntryToSave& entry : entries) sources.push_back(entry.path);
  if (batch.Begin(sources)) batch.SaveEach(entries, [](size_t, const SaveOutcome&) {});
  batch.Finish();
}
