// What failed during one batch (of saves, or of an intake), shown in one box at the end: how many
// failed out of how many, the first names with each one's reason, and how many more.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Why a file failed; each has its fixed text (resources/Texts.h).
enum class FailureReason {
  kSaveFailed,   // the library could not write it
  kCopyFailed,   // the copy into the output folder could not be made
  kReadOnly,     // the file is read-only
  kLocked,       // another program holds the file
  kNotTaggable,  // not a file the library can tag
};

const wchar_t* ReasonText(FailureReason reason);

// Why saving `path` failed, as far as the file itself tells: read-only, held by another program,
// or else `fallback`.
FailureReason ClassifyFailure(const std::string& path, FailureReason fallback);

class FailureReport {
 public:
  struct Entry {
    std::string path;
    FailureReason reason;
    // The copy this save had made in the output folder was removed again.
    bool copyRemoved = false;
  };

  // Adds one failure; a second failure of the same file adds nothing.
  void Add(const std::string& path, FailureReason reason, bool copyRemoved = false);
  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const std::vector<Entry>& entries() const { return entries_; }

  // The box's text for `total` files tried.
  std::wstring Text(int total) const;
  // One task-modal box without owner, nothing when nothing failed. A report of one failure out
  // of one file is the single box it always was: the file's name, captioned with the reason.
  void Show(int total) const;

  // The names the box lists at most.
  static const size_t kListed = 20;

 private:
  std::vector<Entry> entries_;
};
