#include "mp3infp/Session.h"

#include <cstring>

namespace mp3infp {
namespace {

std::optional<TagFile> ParseOpen(HANDLE file, const std::string& extension) {
  FileSource source(file);
  if (!source.ok()) return std::nullopt;
  return TagFile::Parse(source, extension);
}

std::optional<TagFile> ParseFile(const std::wstring& path, const std::string& extension) {
  FileHandle file(OpenForReading(path));
  if (!file.valid()) return std::nullopt;
  return ParseOpen(file.get(), extension);
}

}  // namespace

std::optional<TagFile> ReadTagFile(const char* path) {
  const std::wstring wide = WidePath(path);
  if (wide.empty()) return std::nullopt;
  return ParseFile(wide, ExtensionOf(path));
}

DWORD Session::Load(const char* path) {
  path_ = WidePath(path);
  extension_ = ExtensionOf(path);
  values_.clear();
  madeTags_ = 0;
  file_.reset();
  open_.Close();
  if (path_.empty()) return kCannotOpen;
  // Kept open for the save that usually follows: nothing else writes the file in between, and
  // the save does not open it again (under Wine, opening and closing are round trips to the
  // server that cost more than reading the tags). A file we may not write is only read.
  open_.Reset(OpenForWriting(path_));
  if (!open_.valid()) {
    file_ = ParseFile(path_, extension_);
  } else {
    file_ = ParseOpen(open_.get(), extension_);
    if (!file_) open_.Close();
  }
  return file_ ? 0 : kCannotOpen;
}

DWORD Session::GetType() const {
  if (!file_) return 0;
  switch (file_->kind()) {
    case FileKind::kMp3:
    case FileKind::kRiffMp3:
      return 1;
    case FileKind::kWave:
      return 2;
    case FileKind::kUnknown:
      break;
  }
  return 0;
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
  if (!parsed || !file_) return kUnknownName;
  // Kept even when the file has no place for it, so that saving reports the failure.
  values_.emplace_back(*parsed, value ? value : "");
  return file_->Set(*parsed, values_.back().second, SystemCodec()) ? 0 : kCannotTag;
}

DWORD Session::Save(const char* path, Writer& writer) {
  // The save ends what Load began: the loaded file's handle is used, or let go.
  FileHandle loaded(open_.Release());
  if (values_.empty() && !madeTags_) return 0;
  const std::wstring target = WidePath(path);
  if (target.empty()) return kCannotOpen;
  FileHandle file;
  if (loaded.valid() && SamePath(target, path_)) {
    file.Reset(loaded.Release());
  } else {
    loaded.Close();
    file.Reset(OpenForWriting(target));
  }
  if (!file.valid()) return kCannotOpen;
  FileSource source(file.get());
  if (!source.ok()) return kCannotOpen;
  TagFile tags = TagFile::Parse(source, ExtensionOf(path));
  if ((madeTags_ & kFlagId3v1) && !tags.AddId3v1()) return kCannotTag;
  if ((madeTags_ & kFlagId3v2) && !tags.AddId3v2()) return kCannotTag;
  for (const auto& [name, value] : values_) {
    if (!tags.Set(name, value, SystemCodec())) return kCannotTag;
  }
  const auto plan = tags.Plan();
  if (!plan) return kUnsafeToWrite;
  return WritePlan(file, target, *plan, writer) ? 0 : kWriteFailed;
}

DWORD Session::MakeTag(const char* path, bool id3v2, Writer& writer) {
  const std::wstring target = WidePath(path);
  if (target.empty()) return kCannotOpen;
  const uint32_t flag = id3v2 ? kFlagId3v2 : kFlagId3v1;
  if (file_ && SamePath(target, path_)) {
    // The loaded file: an untagged file is then rewritten once, at the save, instead of once for
    // each tag and again for the values. What would refuse the write refuses the tag now, as it
    // did when the tag was written at once.
    if (!file_->IsMp3()) return kCannotTag;
    if (file_->TagFlags() & flag) return 0;
    if (!file_->writable()) return kUnsafeToWrite;
    if (!open_.valid() && !FileHandle(OpenForWriting(target)).valid()) return kCannotOpen;
    if (!(id3v2 ? file_->AddId3v2() : file_->AddId3v1())) return kCannotTag;
    madeTags_ |= flag;
    return 0;
  }
  FileHandle file(OpenForWriting(target));
  if (!file.valid()) return kCannotOpen;
  FileSource source(file.get());
  if (!source.ok()) return kCannotOpen;
  TagFile tags = TagFile::Parse(source, ExtensionOf(path));
  if (!tags.IsMp3()) return kCannotTag;
  if (tags.TagFlags() & flag) return 0;
  if (!(id3v2 ? tags.AddId3v2() : tags.AddId3v1())) return kCannotTag;
  const auto plan = tags.Plan();
  if (!plan) return kUnsafeToWrite;
  return WritePlan(file, target, *plan, writer) ? 0 : kWriteFailed;
}

}  // namespace mp3infp
