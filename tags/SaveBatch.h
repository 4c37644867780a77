// One batch of saves: "保存" of every row, "タグ情報を更新" of the selection. Every save of a
// command runs through one SaveBatch, which
//  - shows the progress in the status bar,
//  - stops after the current file when the user presses Esc,
//  - collects the failures and shows them in one box at the end (a batch of one file keeps the
//    single box it always had),
//  - says in the status bar how many files were saved, had no change and failed (or, when the
//    user stopped it, how many were saved).
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "tags/FailureReport.h"
#include "tags/SaveEntry.h"
#include "targets/Progress.h"

enum class SaveKind { kSaveAll, kUpdateTags };

class SaveBatch {
 public:
  // `total` is how many saves the caller means to ask for; `folder` null saves in place, and is
  // read once here. `owner` is the window the library is given and whose being in the foreground
  // lets Esc stop the batch. `progress` may be null.
  SaveBatch(HWND owner, SaveKind kind, int total, const char* folder, Progress* progress);
  // Finishes the batch if Finish was not called.
  ~SaveBatch();
  SaveBatch(const SaveBatch&) = delete;
  SaveBatch& operator=(const SaveBatch&) = delete;

  // Before the first save: the source paths of the entries the batch means to save. Their sizes
  // and volumes tell what the journal will keep; when it has no room for that or cannot be
  // written, the user chooses between saving without undo and not saving. False when they chose
  // not to: the batch is stopped. The first Save calls it with no paths when the caller did not.
  bool Begin(const std::vector<std::string>& sources);
  // Saves one entry; its failure is collected for the report. False when the user has asked to
  // stop: the caller asks for no further save. When the journal stops recording during the
  // entry (its volume filled up), the user chooses as at Begin, and the entry is saved again
  // without one. A file the entry's passUnchanged leaves alone counts as passed by. What became
  // of the entry goes into `outcome` when not null.
  bool Save(const EntryToSave& entry, SaveOutcome* outcome = nullptr);
  // Saves `entries` as Save would, one after another, except in place with a library whose
  // current file is per thread: then several files side by side, started in the entries' order,
  // never two of the same path at once. Each entry's outcome goes to `done`, on this thread, as
  // it finishes. A stop (Esc, no save without undo) lets the files in flight finish.
  void SaveEach(const std::vector<EntryToSave>& entries,
                const std::function<void(size_t, const SaveOutcome&)>& done);
  // A file the caller passes by: nothing in it would change, or it cannot be tagged.
  void PassBy();
  // Shows the one report of what failed and the status text; only the first call does anything.
  void Finish();

  SaveKind kind() const { return kind_; }
  int saved() const { return saved_; }
  int unchanged() const { return unchanged_; }
  int failed() const { return static_cast<int>(report_.size()); }
  bool stopped() const { return stopped_; }
  const char* folder() const { return inPlace_ ? nullptr : folder_.c_str(); }

  // How many files a save in place writes at once, where the library allows more than one: enough
  // that the flushes of some overlap the reading and writing of the others (four threads patched
  // files four to six times as fast as one under Wine; eight, once the threads stopped waiting on
  // the server for each other, saved 300 files of 1 MiB a quarter faster than four, rewritten or
  // in place, as the system can then flush more files in one go), few enough that a stop leaves at
  // most that many files finishing. Tests put 1 here to have each file begun after the last ended.
  int sideBySide = 8;

  // Whether the user asked to stop; by default, whether Esc is down while the owner's window is
  // the foreground one. Tests put their own here.
  std::function<bool()> stopRequested;
  // Whether to save without undo, when the journal cannot record the batch; by default the one
  // box that asks. Tests put their own here.
  std::function<bool()> saveWithoutUndo;

 private:
  // Counts one outcome: saved, passed by unchanged, or failed (for the report).
  void Count(const SaveOutcome& outcome);
  // The journal stopped while files were saved side by side: asks once whether to go on
  // without undo. Yes saves `refused` (the entries that failed since) again, one by one.
  bool GoOnWithoutJournal(const std::vector<EntryToSave>& entries,
                          const std::vector<size_t>& refused,
                          const std::function<void(size_t, const SaveOutcome&)>& done);

  HWND owner_;
  SaveKind kind_;
  int total_;
  bool inPlace_;
  std::string folder_;
  Progress* progressSink_;
  FailureReport report_;
  int saved_ = 0;
  int unchanged_ = 0;
  int asked_ = 0;
  bool stopped_ = false;
  bool finished_ = false;
  bool begun_ = false;
};

// Saves `entries` in one batch with SaveEach, from Begin to Finish.
void SaveEntries(SaveBatch& batch, const std::vector<EntryToSave>& entries);

// Whether Esc is down, or was pressed since the last look, while `window`'s top-level window is
// the foreground one. Reads the key state only: no message is taken from the queue.
bool EscapePressed(HWND window);
