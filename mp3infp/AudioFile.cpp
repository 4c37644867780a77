#include "mp3infp/AudioFile.h"

#include <cstring>

#include "mp3infp/FlacFile.h"
#include "mp3infp/Mp4File.h"
#include "mp3infp/MpegFile.h"
#include "mp3infp/OggFile.h"
#include "mp3infp/RiffFile.h"

namespace mp3infp {
namespace {

constexpr std::string_view kKeys[] = {"IART", "IPRD", "INAM", "TRACK", "IGNR", "ICRD", "ICMT"};

}  // namespace

std::string_view KeyOf(Field field) { return kKeys[static_cast<int>(field)]; }

std::optional<ValueName> ParseValueName(std::string_view name) {
  constexpr std::pair<std::string_view, TagKind> kSuffixes[] = {
      {"_v1", TagKind::kId3v1}, {"_v2", TagKind::kId3v2}, {"_rmp", TagKind::kRiffInfo}};
  TagKind tag = TagKind::kDefault;
  for (const auto& [suffix, kind] : kSuffixes) {
    if (name.size() > suffix.size() && name.ends_with(suffix)) {
      name.remove_suffix(suffix.size());
      tag = kind;
      break;
    }
  }
  for (size_t i = 0; i < std::size(kKeys); ++i) {
    if (kKeys[i] == name) return ValueName{static_cast<Field>(i), tag};
  }
  return std::nullopt;
}

std::unique_ptr<AudioFile> ParseAudioFile(ByteSource& source, std::string_view extension) {
  uint8_t magic[4];
  if (source.Size() >= sizeof magic && source.Read(0, magic, sizeof magic) &&
      (std::memcmp(magic, "RIFF", 4) == 0 || std::memcmp(magic, "RF64", 4) == 0)) {
    // A RIFF file of another form is nothing else either.
    return RiffFile::Parse(source);
  }
  // The containers with a magic of their own come before MPEG audio, which is recognised by a
  // frame header alone (or a tag): an ID3v2 tag may stand in front of a FLAC file too.
  if (auto flac = FlacFile::Parse(source)) return flac;
  if (auto ogg = OggFile::Parse(source)) return ogg;
  if (auto mp4 = Mp4File::Parse(source)) return mp4;
  return MpegFile::Parse(source, extension);
}

}  // namespace mp3infp
