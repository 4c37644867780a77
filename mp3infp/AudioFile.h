// One audio file as the library sees it, whatever its container: what its tag holds, the values
// set into it, and how the file is written back (a SavePlan). Each container has its own class
// (MpegFile, RiffFile, FlacFile, OggFile, Mp4File); all are window-free, reading the bytes they
// need through a ByteSource, so that they build natively for tests, sanitizers and fuzzing.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "mp3infp/ByteSource.h"
#include "mp3infp/SavePlan.h"
#include "mp3infp/TextCodec.h"

namespace mp3infp {

enum class FileKind { kUnknown, kMp3, kRiffMp3, kWave, kFlac, kOggVorbis, kOpus, kMp4 };
enum class Field { kArtist, kAlbum, kTitle, kTrack, kGenre, kYear, kComment };
// Which tag a value name addresses: the field key alone, or with "_v1", "_v2", "_rmp".
enum class TagKind { kDefault, kId3v1, kId3v2, kRiffInfo };

struct ValueName {
  Field field;
  TagKind tag;
};
std::optional<ValueName> ParseValueName(std::string_view name);
// The field key of `field` ("IART"...).
std::string_view KeyOf(Field field);

// Tag flags, as mp3infp_mp3_GetTagType answers them.
constexpr uint32_t kFlagId3v1 = 1;
constexpr uint32_t kFlagId3v2 = 2;
constexpr uint32_t kFlagRiffInfo = 4;

// What the property view shows of the stream; 0 / empty where unknown.
struct StreamInfo {
  std::string format;       // "FLAC", "Ogg Vorbis", "Opus", "MP4 (AAC)", "MPEG 1 Layer 3"...
  uint32_t sampleRate = 0;  // Hz
  uint32_t channels = 0;
  double seconds = 0;    // length
  uint32_t bitRate = 0;  // bits per second, nominal or average
};

class AudioFile {
 public:
  virtual ~AudioFile() = default;
  virtual FileKind kind() const = 0;
  // Everything we would rewrite was understood to its end; otherwise Plan() gives nothing.
  virtual bool writable() const = 0;
  // mp3infp_mp3_GetTagType's flags; 0 for every format other than MP3.
  virtual uint32_t TagFlags() const { return 0; }
  // Sets a value (code-page text) in memory; false when the file has no place for it. For FLAC,
  // Ogg, Opus and MP4 only names without a suffix (TagKind::kDefault) are accepted.
  virtual bool Set(ValueName name, std::string_view value, const TextCodec& codec) = 0;
  // The value in the code page (cut nowhere: the caller cuts at a character boundary); nothing
  // when the field is absent.
  virtual std::optional<std::string> Get(ValueName name, const TextCodec& codec) const = 0;
  // How to write the file; nothing when it cannot be written without losing data.
  virtual std::optional<SavePlan> Plan() const = 0;
  virtual StreamInfo Stream() const = 0;
};

// Recognises the format by content (the extension, ".mp3" in any case, only helps for MPEG audio
// without tags); nullptr when it is no format we know.
std::unique_ptr<AudioFile> ParseAudioFile(ByteSource& source, std::string_view extension);

}  // namespace mp3infp
