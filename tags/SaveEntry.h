// Writing a row's tag columns into its file through the tag library: in place, or into a copy in
// an output folder named after the row's file-name column.
#pragma once

#include <windows.h>

#include <array>
#include <string>

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
};

// Saves `entry`; `folder` null saves in place. `owner` is the window the tag library's Load is
// given (the target list). True when the library saved the file; false after a failure that has
// been reported in a message box.
bool SaveEntry(const EntryToSave& entry, const char* folder, HWND owner);

// Sets one field of the current file of the tag library, creating the ID3 tags of an MP3 file
// that has none. An empty value leaves the file's own value alone.
void SetTagField(const std::string& path, const char* fieldKey, const std::string& value);
