// The program's journal of its last save: begun and ended around every batch of saves (保存,
// タグ情報を更新), handed to the tag library for the batch, and undone by 元に戻す.
//
// It lives in %LOCALAPPDATA%\tagwhirl\journal, or in the folder %TAGWHIRL_JOURNAL% names (on the
// volume of the music, the originals of rewritten files are kept as links instead of copies).
// One save is kept; the next one, of this instance or another, replaces it. This instance undoes
// only its own save.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "journal/Journal.h"

class TagLibrary;

class SaveJournal {
 public:
  SaveJournal(std::wstring folder, const TagLibrary& library);
  static std::wstring DefaultFolder();

  // A batch of saves starts and ends; nested batches join the outer one. Without a journal (the
  // folder cannot be written, another instance is saving) the batch saves as before and cannot
  // be undone.
  void Begin();
  void End();
  // Before a copy is made into an output folder, and after it failed.
  void RecordCreated(const std::string& path);
  void RecordCopyFailed(const std::string& path);

  // No journal from now on: saves cannot be undone (for measuring what the journal costs).
  void Disable() { disabled_ = true; }

  // Whether this instance's last save can be undone.
  bool CanUndo() const;
  journal::Journal::Outcome Undo();

  // At start: a save that another run left unfinished (it was ended, or the machine stopped),
  // or an undo it left unfinished (FoundStoppedUndo), which is finished by UndoUnfinished.
  bool FoundUnfinished() const;
  bool FoundStoppedUndo() const;
  journal::Journal::Outcome UndoUnfinished() { return journal_.Undo(); }
  void KeepUnfinished() { journal_.Keep(); }

 private:
  journal::Journal journal_;
  const TagLibrary& library_;
  const uint64_t owner_;
  int depth_ = 0;
  bool saved_ = false;  // this instance's save is in the journal
  bool disabled_ = false;
};

// The program's one journal, in the default folder, for theTagLibrary.
SaveJournal& TheSaveJournal();
