#include "tags/SaveBatch.h"

#include "resources/Texts.h"
#include "tags/SaveJournal.h"

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

  // ---- The batch begins: a journal of its saves starts here, before any file is touched. ----
  TheSaveJournal().Begin();
}

SaveBatch::~SaveBatch() { Finish(); }

bool SaveBatch::Save(const EntryToSave& entry) {
  if (stopped_ || finished_) return false;
  if (progressSink_) progressSink_->Advance();
  ++asked_;

  // ---- A journal keeps here what this save is about to change. ----
  const SaveOutcome outcome = SaveEntryOutcome(entry, folder(), owner_);
  // ---- A journal records here what the save did (outcome.madeCopy: a copy it made). ----

  if (outcome.saved)
    ++saved_;
  else
    report_.Add(outcome.target, outcome.reason, outcome.copyRemoved);
  // Between files only: the file under way is always finished.
  if (stopRequested && stopRequested()) stopped_ = true;
  return !stopped_;
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
  TheSaveJournal().End();

  if (progressSink_) {
    if (stopped_) {
      wchar_t text[256];
      wsprintfW(text, texts::kSaveStopped, saved_, total_);
      progressSink_->EndWith(ActiveFromWide(text));
    } else {
      wchar_t text[256];
      wsprintfW(text, texts::kSaveResult, saved_, unchanged_, failed());
      progressSink_->EndWith(ActiveFromWide(text));
    }
  }
  report_.Show(asked_);
}
