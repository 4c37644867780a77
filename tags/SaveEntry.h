// Writing a row's tag columns into its file through the tag library: in place, or into a copy in
// an output folder named after the row's file-name column.
#pragma once

#include <windows.h>

#include <array>
#include <string>

#include "tags/FailureReport.h"
#include "templates/CodeTable.h"

// What saving a row needs, handed over by the list: saving knows nothing of the list.
struct EntryToSave {
  // The entry's source path, as it entered the list.
  std::string path;
  // The file name column: the copy's name when saving into a folder.
  std::string fileName;
  // The tag columns by CodeTable row; a row without a field key ($I) has no column and is not
  // read. An empty value keeps the file's own.
  std::array<std::string, kCodeCount> values;
  // In place only: the file's own values are taken from the save's own reading of it, and a file
  // where every value equals its own (an empty one keeps it), or that cannot be tagged, is passed
  // by unwritten. For a row whose values the list has not read yet.
  bool passUnchanged = false;
};

// What became of one save.
struct SaveOutcome {
  bool saved = false;
  // The file written, or meant to be: the entry's path, or the copy's in the output folder.
  std::string target;
  // Why it failed, when it did.
  FailureReason reason = FailureReason::kSaveFailed;
  // The save made a new file at `target` (a copy into the output folder), which is still there.
  bool madeCopy = false;
  // The copy this save had made was removed again after a failure.
  bool copyRemoved = false;
  // passUnchanged: the file was passed by, as it was (`notTaggable`: the library cannot tag it).
  bool unchanged = false;
  bool notTaggable = false;
  // passUnchanged: the file's own values as the save read them, by code like
  // EntryToSave::values, when `found`.
  bool found = false;
  std::array<std::string, kCodeCount> current;
};

// How the copy into an output folder is made: CopyFileA, which tests replace by one that stops
// part way, as a full disk does.
using CopyFileFunction = BOOL(WINAPI*)(LPCSTR source, LPCSTR destination, BOOL failIfExists);
extern CopyFileFunction theCopyFile;

// Saves `entry` without showing anything; `folder` null saves in place. `owner` is the window the
// tag library's Load is given (the target list). A copy into the folder that fails, or whose tags
// cannot be saved, does not stay under the target name; a file that was there before is never
// touched.
SaveOutcome SaveEntryOutcome(const EntryToSave& entry, const char* folder, HWND owner);

// SaveEntryOutcome with its failure reported in a box of its own. True when the library saved the
// file.
bool SaveEntry(const EntryToSave& entry, const char* folder, HWND owner);

// Sets one field of the current file of the tag library, creating the ID3 tags of an MP3 file
// that has none. An empty value leaves the file's own value alone. False when the file has no
// tag to take the value and none could be made.
bool SetTagField(const std::string& path, const char* fieldKey, const std::string& value);
