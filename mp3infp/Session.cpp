#include "mp3infp/Session.h"

#include <cstring>

#include "mp3infp/Id3File.h"
#include "mp3infp/mp3infp.h"
#include "paths/PathText.h"

namespace mp3infp {
namespace {

// False when the file cannot be read; `parsed` is null for a file of no format we know.
bool ParseOpen(HANDLE file, const std::string& extension, std::unique_ptr<AudioFile>& parsed) {
  parsed.reset();
  FileSource source(file);
  if (!source.ok()) return false;
  parsed = ParseAudioFile(source, extension);
  return true;
}

// False when the file cannot be opened; `parsed` is null for a file of no format we know.
bool ParseFile(const std::wstring& path, const std::string& extension,
               std::unique_ptr<AudioFile>& parsed) {
  parsed.reset();
  FileHandle file(OpenForReading(path));
  if (!file.valid()) return false;
  return ParseOpen(file.get(), extension, parsed);
}

}  // namespace

bool ReadAudioFile(const char* path, std::unique_ptr<AudioFile>& file) {
  const std::wstring wide = WidePath(path);
  if (wide.empty()) return false;
  return ParseFile(wide, ExtensionOf(path), file);
}

DWORD ReadValues(const char* path, std::string* block) {
  block->clear();
  std::unique_ptr<AudioFile> file;
  if (!ReadAudioFile(path, file)) return kCannotOpen;
  if (!file) return kCannotTag;
  for (Field field : {Field::kArtist, Field::kAlbum, Field::kTitle, Field::kTrack, Field::kGenre,
                      Field::kYear, Field::kComment}) {
    if (const auto value = file->Get({field, TagKind::kDefault}, SystemCodec())) *block += *value;
    block->push_back('\0');
  }
  return 0;
}

DWORD Session::Load(const char* path) {
  path_ = WidePath(path);
  extension_ = path ? ExtensionOf(path) : std::string();
  values_.clear();
  madeTags_ = 0;
  file_.reset();
  open_.Close();
  loaded_ = false;
  if (path_.empty()) return kCannotOpen;
  // Kept open for the save that usually follows: nothing else writes the file in between, and
  // the save does not open it again (under Wine, opening and closing are round trips to the
  // server that cost more than reading the tags). A file we may not write is only read.
  open_.Reset(OpenForWriting(path_));
  if (open_.valid()) {
    loaded_ = ParseOpen(open_.get(), extension_, file_);
    if (!file_) open_.Close();
  } else {
    loaded_ = ParseFile(path_, extension_, file_);
  }
  return loaded_ ? 0 : kCannotOpen;
}

DWORD Session::GetType() const {
  if (!file_) return 0;
  switch (file_->kind()) {
    case FileKind::kMp3:
    case FileKind::kRiffMp3:
      return kMp3infpTypeMp3;
    case FileKind::kWave:
      return kMp3infpTypeWave;
    case FileKind::kFlac:
      return kMp3infpTypeFlac;
    case FileKind::kOggVorbis:
      return kMp3infpTypeOggVorbis;
    case FileKind::kOpus:
      return kMp3infpTypeOpus;
    case FileKind::kMp4:
      return kMp3infpTypeMp4;
    case FileKind::kUnknown:
      break;
  }
  return kMp3infpTypeUnknown;
}

DWORD Session::GetTagType() const { return file_ ? file_->TagFlags() : 0; }

DWORD Session::GetValue(const char* name, char* buffer, DWORD bufferSize) const {
  if (buffer && bufferSize) buffer[0] = 0;
  const auto parsed = ParseValueName(name ? name : "");
  if (!parsed || !file_) return static_cast<DWORD>(-1);
  const auto value = file_->Get(*parsed, SystemCodec());
  if (!value) return static_cast<DWORD>(-1);
  if (buffer && bufferSize) {
    const size_t kept = PrefixAtCharBoundary(*value, bufferSize - 1, SystemCodec());
    std::memcpy(buffer, value->data(), kept);
    buffer[kept] = 0;
  }
  return static_cast<DWORD>(value->size());
}

DWORD Session::SetValue(const char* name, const char* value) {
  const auto parsed = ParseValueName(name ? name : "");
  if (!parsed || !loaded_) return kUnknownName;
  // Kept even when the file has no place for it, so that saving reports the failure.
  values_.emplace_back(*parsed, value ? value : "");
  return file_ && file_->Set(*parsed, values_.back().second, SystemCodec()) ? 0 : kCannotTag;
}

DWORD Session::Save(const char* path, Writer& writer) {
  // The save ends what Load began: the loaded file's handle is used, or let go.
  FileHandle loaded(open_.Release());
  if (values_.empty() && !madeTags_) return 0;
  const std::wstring target = WidePath(path);
  if (target.empty()) return kCannotOpen;
  FileHandle file;
  // Nothing else can have written the loaded file since Load parsed it (the handle shares
  // reading only), so that parse is written from: a second one cost as much as the write.
  std::unique_ptr<AudioFile> parsed;
  AudioFile* tags = nullptr;
  if (loaded.valid() && SamePath(target, path_)) {
    file.Reset(loaded.Release());
    tags = file_.get();
  } else {
    loaded.Close();
    file.Reset(OpenForWriting(target));
    if (!file.valid()) return kCannotOpen;
    FileSource source(file.get());
    if (!source.ok()) return kCannotOpen;
    parsed = ParseAudioFile(source, ExtensionOf(path));
    tags = parsed.get();
  }
  if (!tags) return kCannotTag;
  // The loaded parse has its tags made already; a copy's fresh one needs them.
  if (madeTags_ && parsed) {
    auto* id3 = dynamic_cast<Id3File*>(tags);
    if (!id3) return kCannotTag;
    if ((madeTags_ & kFlagId3v1) && !id3->AddId3v1()) return kCannotTag;
    if ((madeTags_ & kFlagId3v2) && !id3->AddId3v2()) return kCannotTag;
  }
  // Set again on the loaded parse too: a value set before its tag was made found no place then.
  for (const auto& [name, value] : values_) {
    if (!tags->Set(name, value, SystemCodec())) return kCannotTag;
  }
  const auto plan = tags->Plan();
  if (!plan) return kUnsafeToWrite;
  return WritePlan(file, target, *plan, writer) ? 0 : kWriteFailed;
}

DWORD Session::MakeTag(const char* path, bool id3v2, Writer& writer) {
  const std::wstring target = WidePath(path);
  if (target.empty()) return kCannotOpen;
  const uint32_t flag = id3v2 ? kFlagId3v2 : kFlagId3v1;
  if (loaded_ && SamePath(target, path_)) {
    // The loaded file: an untagged file is then rewritten once, at the save, instead of once for
    // each tag and again for the values. What would refuse the write refuses the tag now, as it
    // did when the tag was written at once.
    auto* loaded = dynamic_cast<Id3File*>(file_.get());
    if (!loaded || !loaded->IsMp3()) return kCannotTag;
    if (loaded->TagFlags() & flag) return 0;
    if (!loaded->writable()) return kUnsafeToWrite;
    if (!open_.valid() && !FileHandle(OpenForWriting(target)).valid()) return kCannotOpen;
    if (!(id3v2 ? loaded->AddId3v2() : loaded->AddId3v1())) return kCannotTag;
    madeTags_ |= flag;
    return 0;
  }
  FileHandle file(OpenForWriting(target));
  if (!file.valid()) return kCannotOpen;
  FileSource source(file.get());
  if (!source.ok()) return kCannotOpen;
  const auto parsed = ParseAudioFile(source, ExtensionOf(path));
  auto* tags = dynamic_cast<Id3File*>(parsed.get());
  if (!tags || !tags->IsMp3()) return kCannotTag;
  if (tags->TagFlags() & flag) return 0;
  if (!(id3v2 ? tags->AddId3v2() : tags->AddId3v1())) return kCannotTag;
  const auto plan = tags->Plan();
  if (!plan) return kUnsafeToWrite;
  return WritePlan(file, target, *plan, writer) ? 0 : kWriteFailed;
}

}  // namespace mp3infp
