// Windows file access for the library: paths through the wide-character API, reading a file as a
// ByteSource, and carrying out a SavePlan either in place or through a temporary file that
// replaces the original only when it is complete.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "journal/Recorder.h"
#include "mp3infp/ByteSource.h"
#include "mp3infp/SavePlan.h"

namespace mp3infp {

// The absolute wide path of a narrow (ANSI code page) path, with the \\?\ prefix when it is too
// long for the plain API. Empty when it cannot be converted.
std::wstring WidePath(const char* path);
bool SamePath(const std::wstring& a, const std::wstring& b);
// Orders paths without regard to case, as the file system compares them.
struct FolderLess {
  bool operator()(const std::wstring& a, const std::wstring& b) const {
    return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) ==
           CSTR_LESS_THAN;
  }
};

// Owns a file handle.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() { Close(); }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  // False when the system reports the close failed (a delayed write that could not be made).
  bool Close();
  // Closes the handle held and takes `handle` instead.
  void Reset(HANDLE handle) {
    Close();
    handle_ = handle;
  }
  // Gives the handle up to the caller.
  HANDLE Release() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// For reading only, sharing everything: a file others have open can still be read.
HANDLE OpenForReading(const std::wstring& path);
// For reading and writing, sharing only reading: fails on a read-only file or one that another
// handle may write to, before anything is written.
HANDLE OpenForWriting(const std::wstring& path);

// Parsing asks for headers a few bytes at a time, often the same ones twice; small reads come
// from a window read ahead (one read of 64 KiB instead of some 16 reads of the system for an MP3
// file's tags). The file must not change while a source reads it.
class FileSource : public ByteSource {
 public:
  explicit FileSource(HANDLE file);
  uint64_t Size() const override { return size_; }
  bool Read(uint64_t offset, void* buffer, size_t length) override;
  bool ok() const { return ok_; }

 private:
  static constexpr size_t kReadAhead = 64 * 1024;
  HANDLE file_;
  uint64_t size_ = 0;
  bool ok_ = false;
  std::vector<uint8_t> window_;
  uint64_t windowStart_ = 0;
};

// Where the bytes of a save go, and how they are made to stay. Tests put a writer in its place
// that fails part way, as a full disk would, or whose flush or close fails, as a removable or
// network drive's delayed write does.
class Writer {
 public:
  virtual ~Writer() = default;
  virtual bool Write(HANDLE file, uint64_t offset, const void* data, size_t length);
  virtual bool Flush(HANDLE file);
  // Closes the handle the file holds; false when that failed.
  virtual bool Close(FileHandle& file);
};
Writer& SystemWriter();

// Writes the new file of `plan` for the file at `path`, open in `file` (OpenForWriting). In place
// when the plan allows it, else through a temporary file, in the library's folder of the volume
// (TemporaryFolderFor) or beside the file; `file` is closed on return.
// On failure the file is as it was.
// Every write goes into the journal of the save under way, when there is one.
bool WritePlan(FileHandle& file, const std::wstring& path, const SavePlan& plan, Writer& writer);

// The journal the program gave the library (mp3infp_SetJournal).
journal::Recorder& LibraryJournal();

}  // namespace mp3infp
