// The library's one current file and the values set for it. The entry points of mp3infp.dll are
// thin shells around one Session.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "mp3infp/FileIo.h"
#include "mp3infp/AudioFile.h"

namespace mp3infp {

// Results other than 0 (success).
constexpr DWORD kUnknownName = 2;
constexpr DWORD kCannotOpen = 3;
constexpr DWORD kCannotTag = 4;
constexpr DWORD kUnsafeToWrite = 5;
constexpr DWORD kWriteFailed = 6;

class Session {
 public:
  DWORD Load(const char* path);
  DWORD GetType() const;
  DWORD GetTagType() const;
  DWORD GetValue(const char* name, char* buffer, DWORD bufferSize) const;
  DWORD SetValue(const char* name, const char* value);
  // Writes the values set since Load into the file at `path`, which is parsed anew: it may be the
  // loaded file or a copy of it.
  DWORD Save(const char* path, Writer& writer = SystemWriter());
  DWORD MakeTag(const char* path, bool id3v2, Writer& writer = SystemWriter());

 private:
  void Reload();

  std::wstring path_;
  std::string extension_;
  // Null before a Load, after a failed one, and for a file of no format we know.
  std::unique_ptr<AudioFile> file_;
  bool loaded_ = false;
  std::vector<std::pair<ValueName, std::string>> values_;
};

// Reads the file at `path` without making it current into `file` (null for a file of no format we
// know); false when it cannot be opened.
bool ReadAudioFile(const char* path, std::unique_ptr<AudioFile>& file);

}  // namespace mp3infp
