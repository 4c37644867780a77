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
#include <vector>

#include "journal/Journal.h"

class TagLibrary;

class SaveJournal {
 public:
  SaveJournal(std::wstring folder, const TagLibrary& library);
  static std::wstring DefaultFolder();

  // A file a batch means to save: `path` is where it is written (the output folder, for a copy),
  // `size` what it holds before.
  struct FileToSave {
    std::wstring path;
    uint64_t size = 0;
  };
  enum class Start {
    kRecording,     // the batch's saves can be undone
    kWithout,       // no journal and nothing the user could do about it: another instance is
                    // saving, a run's unfinished save waits for its offer, an older library
    kCannotRecord,  // no room for what the saves will keep, or the journal cannot be written
  };
  // A batch of saves starts and ends; nested batches join the outer one. Without a journal the
  // batch saves as before and cannot be undone.
  Start Begin(const std::vector<FileToSave>& files = {});
  void End();
  // Whether the batch's saves so far are recorded (false after GoOnWithout too).
  bool recording() const { return journal_.active(); }
  // A record could not be written in the middle of the batch (its volume filled up): the
  // library refuses the write that needed it, and every later one, until the user has chosen.
  bool Stopped() const;
  // The batch goes on without a journal: the one begun is dropped, with what it kept.
  void GoOnWithout();

  // Before a copy is made into an output folder, and after it failed. False when the copy must
  // not be made: a journal is recording and the record could not be written.
  bool RecordCreated(const std::string& path);
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
  journal::Journal::Outcome KeepUnfinished() { return journal_.Keep(); }

 private:
  journal::Journal journal_;
  const TagLibrary& library_;
  const uint64_t owner_;
  int depth_ = 0;
  bool saved_ = false;  // this instance's save is in the journal
  bool disabled_ = false;
  bool recordFailed_ = false;  // the program's own record of a copy
};

// The room on the journal's volume a save of `files` may take: what Begin asks to be free.
uint64_t RoomToKeep(const std::wstring& journalFolder,
                    const std::vector<SaveJournal::FileToSave>& files);

// The program's one journal, in the default folder, for theTagLibrary.
SaveJournal& TheSaveJournal();
// Tests put a journal of their own in its place; null gives the program's back.
void UseSaveJournal(SaveJournal* journal);
