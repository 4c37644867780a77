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
constexpr DWORD kBufferTooSmall = 7;

class Session {
 public:
  DWORD Load(const char* path);
  DWORD GetType() const;
  DWORD GetTagType() const;
  DWORD GetValue(const char* name, char* buffer, DWORD bufferSize) const;
  DWORD SetValue(const char* name, const char* value);
  // Writes the tags made and the values set since Load into the file at `path`, which is parsed
  // anew: it may be the loaded file or a copy of it.
  DWORD Save(const char* path, Writer& writer = SystemWriter());
  // An empty tag for the loaded file is made in memory only and written with the values at the
  // next Save, into whatever file that Save names; the tag flags show it at once. Any other file
  // gets its tag written at once.
  DWORD MakeTag(const char* path, bool id3v2, Writer& writer = SystemWriter());

 private:
  std::wstring path_;
  std::string extension_;
  // Null before a Load, after a failed one, and for a file of no format we know.
  std::unique_ptr<AudioFile> file_;
  bool loaded_ = false;
  std::vector<std::pair<ValueName, std::string>> values_;
  // The loaded file, open for reading and writing from Load to the next Save, when it may be
  // written.
  FileHandle open_;
  // Flags of the tags MakeTag made for the loaded file since Load.
  uint32_t madeTags_ = 0;
};

// Reads the file at `path` without making it current into `file` (null for a file of no format we
// know); false when it cannot be opened.
bool ReadAudioFile(const char* path, std::unique_ptr<AudioFile>& file);

// mp3infp_ReadValues' work: the seven values of the file at `path`, each followed by a NUL, into
// `block`. 0, kCannotOpen or kCannotTag.
DWORD ReadValues(const char* path, std::string* block);

}  // namespace mp3infp
