// A save's journal: what every file of the last save was before it, kept so that the save can be
// undone byte for byte, also after the program or the machine stopped in the middle of it.
//
// The journal lives in a folder of its own (the program picks a per-user data folder): a file of
// records, written ahead of every change (Recorder), and the originals of the files that were
// written anew (KeptStore). One save is kept: the next one replaces it. A lock file held from a
// save's start to its end keeps a second instance of the program out meanwhile.
//
// Win32 file API only, no windows.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "journal/KeptStore.h"
#include "journal/Plan.h"
#include "journal/Recorder.h"

namespace journal {

inline constexpr wchar_t kLockName[] = L"lock";
// Beside the records, when they had no room for the record of an undo that began (a full volume):
// the undo is not over, and no save replaces the journal until it is.
inline constexpr wchar_t kUndoingName[] = L"undoing";

// The program's side: one save's journal in `folder`.
class Journal {
 public:
  explicit Journal(std::wstring folder) : folder_(std::move(folder)), store_(folder_) {}
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;
  ~Journal();
  const std::wstring& folder() const { return folder_; }

  enum class State {
    kNone,        // nothing to undo
    kFinished,    // a save that ended
    kUnfinished,  // a save that stopped in the middle: the program or the machine stopped
    kBusy,        // another instance of the program holds the journal
    kUndoing,     // an undo that stopped in the middle
  };
  // What the folder holds, and whose save it is.
  State Inspect(uint64_t* owner = nullptr) const;

  // A save starts: the journal of the save before it is dropped. False when there can be no
  // journal (another instance is saving, the folder cannot be written): the save then goes on
  // without one, and cannot be undone. `paths`: the files the save may write anew, whose kept
  // originals' folders are made up front.
  bool Begin(uint64_t owner, const std::vector<std::wstring>& paths = {});
  bool active() const { return lock_ != INVALID_HANDLE_VALUE; }
  // Before a copy is made into an output folder: a file that the save creates. Not recorded (and
  // false) when something of that name exists already: it is not ours to remove.
  bool RecordCreated(const std::wstring& path);
  // A step of the save that failed and left `path` as it was (or never created it).
  void RecordAbandoned(const std::wstring& path);
  void End();

  struct Outcome {
    int restored = 0;                  // files given back their bytes
    int removed = 0;                   // copies the save made, removed
    std::vector<std::wstring> failed;  // left alone: changed since, deleted, locked
    bool damaged = false;  // the journal holds what no save of ours writes: nothing was done
    // For a damaged journal: the folders its kept originals were moved to, never deleted by us.
    std::vector<std::wstring> damagedAside;
    // Of the files left alone that were written anew: the file, and where its original from
    // before the save now lies.
    std::vector<std::pair<std::wstring, std::wstring>> keptAside;
    bool busy = false;  // another instance holds the journal: nothing was done
  };
  // Drops the journal of the save under way with what it kept: the save goes on without one.
  void Forget();

  // Gives every file of the journal's save its bytes back, removes the copies the save made and
  // drops the journal. Files changed since the save are left alone and named. Finishes an undo
  // that was stopped: what it restored already counts as restored.
  Outcome Undo();
  // For a save that stopped in the middle, whose files the user keeps: the file the save was
  // writing when it stopped gets its old bytes back (it may be half written), a file the stop left
  // gone gets its original back, the temporary files go, and the journal is dropped. A file that
  // is no longer the one the save wrote is named in `failed` and left alone.
  Outcome Keep();

 private:
  bool Lock();
  void Unlock();
  // The journal's records, read in pieces; with `light`, without the old bytes of writes in
  // place (ReadAt reads one record again).
  // `damagedInside`: whether whole records follow damage (Decoder::Finish).
  bool Read(std::vector<Record>& records, int* version = nullptr, bool light = false,
            bool* damagedInside = nullptr) const;
  // The record at `at` of the records file open as `file`.
  static bool ReadAt(HANDLE file, uint64_t at, int version, Record& record);
  Plan Planned(bool undo, std::vector<Record>& records, std::vector<Step>& steps,
               int& version) const;
  // Carries out one action; false when it should have changed a file and did not. `records` is
  // the records file, open for reading.
  static bool Carry(const Action& action, const Step& step, int version, HANDLE records);
  void Drop();
  // Marks an undo as begun (its record, or where that does not fit, kUndoingName).
  void MarkUndoing();
  // A journal that cannot be trusted is not acted on, nor deleted with what it kept.
  void SetAsideDamaged(Outcome& outcome);
  std::wstring Inside(const wchar_t* name) const { return folder_ + L"\\" + name; }

  // The records file as this journal's End left it, when nothing has touched it since: Inspect
  // then need not read and check it again (23 ms for the old tags of a thousand files, at every
  // save and every time a menu shows 元に戻す).
  bool EndedAsLeft() const;

  std::wstring folder_;
  KeptStore store_;
  HANDLE lock_ = INVALID_HANDLE_VALUE;
  Recorder recorder_;
  std::vector<std::wstring> created_;  // the copies this save recorded, for End
  struct Ended {
    bool valid = false;
    uint64_t owner = 0, size = 0, writeTime = 0;
  } ended_;
};

}  // namespace journal
