// A save's journal: what every file of the last save was before it, kept so that the save can be
// undone byte for byte, also after the program or the machine stopped in the middle of it.
//
// The journal lives in a folder of its own (the program picks a per-user data folder): a file of
// records, written ahead of every change, and the originals of the files that were written anew,
// kept as hard links: in the journal's folder for files on its volume, and for files on another
// volume in a folder of their own volume's (KeptRootOn), where that volume allows one, so that
// keeping them costs neither a copy nor room on the journal's volume; copies in the journal's
// folder otherwise. One save is kept: the next one replaces it. The
// program and the tag library, each with its own copy of this code, append to the same records:
// the program its start and end and the copies it makes, the library its writes. A lock file
// held from a save's start to its end keeps a second instance of the program out meanwhile.
//
// Win32 file API only, no windows.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "journal/Records.h"

namespace journal {

// The bytes a write in place put at `offset`.
struct Span {
  uint64_t offset;
  const uint8_t* data;
  size_t size;
};

// Appends records to the journal a save has open; each copy of this code has its own.
class Recorder {
 public:
  Recorder() = default;
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;
  ~Recorder() { Detach(); }

  // Records into the journal in `folder`; null or empty stops recording. False when the folder
  // holds no journal that a save has begun.
  bool Attach(const wchar_t* folder);
  void Detach();
  bool active() const { return records_ != INVALID_HANDLE_VALUE; }
  // A record or a kept original could not be written (a full volume): every later record is
  // refused, and with it the write that needed it, until the next Attach.
  bool stopped() const { return active() && stopped_; }

  // Before a write in place: the old size and time and the bytes the write will cover. False
  // when the record is not safely on disk; the write must then not go ahead.
  bool BeforeInPlace(const std::wstring& path, HANDLE file, uint64_t oldSize,
                     std::vector<OldBytes> old);
  // Before the file is written anew through `temporary`: names the file its original will be
  // kept as.
  bool BeforeRewrite(const std::wstring& path, const std::wstring& temporary, std::wstring& kept);
  // Just before the temporary file takes the original's place: keeps the original, as a hard
  // link or, where none can be made, a copy.
  bool KeepOriginal(const std::wstring& path, const std::wstring& kept);
  // After a write: what the file is now, so that undo can tell whether anything changed it
  // since. `ours` are the bytes a write in place put there (none for a file written anew);
  // `fileId` is the file's identity (FileId) when the caller had a handle to it, else 0.
  bool Written(const std::wstring& path, const std::vector<Span>& ours, uint64_t fileId = 0);
  // After a write that failed and left the file as it was.
  void Abandoned(const std::wstring& path);

  // Appends `record`; flushed to the disk when `flush`, and otherwise when the last flush is a
  // second old.
  bool Append(const Record& record, bool flush);

 private:
  static constexpr DWORD kFlushEvery = 1000;  // milliseconds
  static constexpr unsigned kKeptPerFolder = 64;

  // The folder whose kept folder takes the original of `path`: the journal's, or the one on the
  // file's own volume.
  const std::wstring& KeptRootFor(const std::wstring& path);

  std::wstring folder_;
  std::wstring volume_;  // the journal's
  std::map<std::wstring, std::wstring> rootOfVolume_;
  std::wstring lastFolder_, lastRoot_;  // one question a folder of files
  HANDLE records_ = INVALID_HANDLE_VALUE;
  unsigned kept_ = 0;
  bool stopped_ = false;
  DWORD flushed_ = GetTickCount();
};

// The file names inside a journal folder.
inline constexpr wchar_t kRecordsName[] = L"records.twj";
inline constexpr wchar_t kLockName[] = L"lock";
// The folder of the originals kept as links (in numbered folders of a few dozen each), and the
// prefix of those of earlier saves, which are deleted after the next save.
inline constexpr wchar_t kKeptFolder[] = L"kept";
inline constexpr wchar_t kRetiredPrefix[] = L"retired-";
// Kept originals whose file could not be given them back by undo: never deleted by us.
inline constexpr wchar_t kNotRestoredFolder[] = L"not-restored";
// In the journal's folder, one file for each folder on another volume that has held kept
// originals (its path inside): what a save's start retires and its end deletes there too.
inline constexpr wchar_t kVolumePrefix[] = L"volume-";

// The volume `path` lies on, as its root ("D:\\"); empty when the system cannot say.
std::wstring VolumeOf(const std::wstring& path);
// The folder at the root of `volume` that holds this user's kept originals of files on it:
// hidden and system, as the recycle bin's, one folder a user inside.
std::wstring KeptRootOn(const std::wstring& volume);
// Makes the folders of `root` (KeptRootOn) and its kept folder; false where the volume does not
// allow them, or a link stands in their place.
bool MakeKeptRoot(const std::wstring& root);

// The program's side: one save's journal in `folder`.
class Journal {
 public:
  explicit Journal(std::wstring folder) : folder_(std::move(folder)) {}
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;
  ~Journal();
  const std::wstring& folder() const { return folder_; }

  enum class State {
    kNone,        // nothing to undo
    kFinished,    // a save that ended
    kUnfinished,  // a save that stopped in the middle: the program or the machine stopped
    kBusy,        // another instance of the program holds the journal
  };
  // What the folder holds, and whose save it is.
  State Inspect(uint64_t* owner = nullptr) const;

  // A save starts: the journal of the save before it is dropped. False when there can be no
  // journal (another instance is saving, the folder cannot be written): the save then goes on
  // without one, and cannot be undone.
  bool Begin(uint64_t owner);
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
    // Of those written anew: the file, and where its original from before the save now lies.
    std::vector<std::pair<std::wstring, std::wstring>> keptAside;
  };
  // Drops the journal of the save under way with what it kept: the save goes on without one.
  void Forget();

  // Gives every file of the journal's save its bytes back, removes the copies the save made and
  // drops the journal. Files changed since the save are left alone and named.
  Outcome Undo();
  // For a save that stopped in the middle, whose files the user keeps: the file the save was
  // writing when it stopped gets its old bytes back (it may be half written), the temporary files
  // go, and the journal is dropped.
  void Keep();

 private:
  bool Lock();
  void Unlock();
  bool Read(std::vector<Record>& records) const;
  void Drop();
  std::wstring Inside(const wchar_t* name) const { return folder_ + L"\\" + name; }

  // The folders on other volumes that hold kept originals of this journal's saves.
  std::vector<std::wstring> VolumeRoots() const;

  // The records file as this journal's End left it, when nothing has touched it since: Inspect
  // then need not read and check it again (23 ms for the old tags of a thousand files, at every
  // save and every time a menu shows 元に戻す).
  bool EndedAsLeft() const;

  std::wstring folder_;
  HANDLE lock_ = INVALID_HANDLE_VALUE;
  Recorder recorder_;
  struct Ended {
    bool valid = false;
    uint64_t owner = 0, size = 0, writeTime = 0;
  } ended_;
};

// The identity of an open file on its volume.
uint64_t FileId(HANDLE file);

}  // namespace journal
