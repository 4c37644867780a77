// Writing a row's tag columns into its file through the tag library: in place, or into a copy in
// an output folder named after the row's file-name column.
#pragma once

#include <string>

class TargetListView;

// Saves row `row` of `list`; `folder` null saves in place. True when the library saved the file;
// false after a failure that has been reported in a message box.
bool SaveEntry(TargetListView& list, int row, const char* folder);

// Sets one field of the current file of the tag library, creating the ID3 tags of an MP3 file
// that has none. An empty value leaves the file's own value alone.
void SetTagField(const std::string& path, const char* fieldKey, const std::string& value);
