// Appends the records of a save to its journal: all the tag library needs of it. The program and
// the library, each with its own copy of this code, append to the same file: the program its
// start and end and the copies it makes, the library its writes.
//
// Win32 file API only, no windows.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "journal/FileState.h"
#include "journal/KeptStore.h"
#include "journal/Records.h"
#include "paths/SlimLock.h"

namespace journal {

// The file of records inside a journal folder.
inline constexpr wchar_t kRecordsName[] = L"records.twj";

// How records reach their file: WriteAll, or in a test a write that fails part way, as one on a
// full volume does.
extern bool (*theRecordWrite)(HANDLE file, const uint8_t* data, size_t size);

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
  // Several threads may record at once (files saved side by side): each record is appended whole,
  // and kept originals get names of their own. Attach and Detach are made while none records.

  // Before a write in place: the file's identity, the old size and time and the bytes the write
  // will cover, with the hashes of the new ones (OldBytes::blocks). False when the record is not
  // safely on disk; the write must then not go ahead.
  bool BeforeInPlace(const std::wstring& path, HANDLE file, uint64_t oldSize,
                     std::vector<OldBytes> old);
  // Before the file is written anew through `temporary`: names the file its original will be
  // kept as. `originalId` is the original's identity (FileId), `placed` where the new file will
  // hold new bytes (offsets, lengths and blocks, no old bytes).
  bool BeforeRewrite(const std::wstring& path, const std::wstring& temporary, uint64_t originalId,
                     std::vector<OldBytes> placed, std::wstring& kept);
  // Just before the temporary file takes the original's place: keeps the original, as a hard
  // link or, where none can be made, a copy.
  bool KeepOriginal(const std::wstring& path, const std::wstring& kept);
  // After a write: what the file is now, so that undo can tell whether anything changed it
  // since. `fileId` is the file's identity (FileId) when the caller had a handle to it, else 0.
  bool Written(const std::wstring& path, uint64_t fileId = 0);
  // After a write that failed and left the file as it was.
  void Abandoned(const std::wstring& path);

  // Appends `record`; flushed to the disk when `flush`, and otherwise when the last flush is a
  // second old. False, and the recorder lost, when it could not be written whole.
  bool Append(const Record& record, bool flush);

 private:
  static constexpr DWORD kFlushEvery = 1000;  // milliseconds

  // Cuts the records back to `end` (where the failed append began; negative: unknown) and stops.
  bool Lose(int64_t end);

  // Detach, with the lock held.
  void Close();

  // Held while a record is appended or a kept original named. Slim: four threads append.
  SlimMutex mutex_;
  KeptStore store_;
  HANDLE records_ = INVALID_HANDLE_VALUE;
  unsigned kept_ = 0;
  unsigned keptBefore_ = 0;  // kept_ when attached
  std::atomic<bool> stopped_ = false;
  DWORD flushed_ = GetTickCount();
};

}  // namespace journal
