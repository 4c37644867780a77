// One audio file's tags as the library sees them: where each tag lies, what it holds, the
// values set into it, and how the file is written back (a SavePlan). Window-free: the platform
// supplies the bytes (ByteSource) and executes the plan.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "mp3infp/ByteSource.h"
#include "mp3infp/Id3v1Tag.h"
#include "mp3infp/Id3v2Tag.h"
#include "mp3infp/Riff.h"
#include "mp3infp/TextCodec.h"

namespace mp3infp {

enum class FileKind { kUnknown, kMp3, kRiffMp3, kWave };
enum class Field { kArtist, kAlbum, kTitle, kTrack, kGenre, kYear, kComment };
// Which tag a value name addresses: the field key alone, or with "_v1", "_v2", "_rmp".
enum class TagKind { kDefault, kId3v1, kId3v2, kRiffInfo };

struct ValueName {
  Field field;
  TagKind tag;
};
std::optional<ValueName> ParseValueName(std::string_view name);

// Tag flags, as mp3infp_mp3_GetTagType answers them.
constexpr uint32_t kFlagId3v1 = 1;
constexpr uint32_t kFlagId3v2 = 2;
constexpr uint32_t kFlagRiffInfo = 4;

// The new file as a sequence of pieces: ranges of the old file and new bytes.
struct SavePlan {
  struct Piece {
    uint64_t offset = 0;  // in the old file, for a kept range
    uint64_t length = 0;
    Bytes bytes;  // new bytes, when `kept` is false
    bool kept = false;
  };
  std::vector<Piece> pieces;
  uint64_t oldSize = 0;

  uint64_t NewSize() const;
  // Every kept range stays where it is and the file does not shrink, so that writing the new
  // bytes at their places (and appending) gives the new file.
  bool InPlace() const;
  // The new bytes with their offsets in the new file.
  struct Patch {
    uint64_t offset;
    const Bytes* bytes;
  };
  std::vector<Patch> Patches() const;
};

class TagFile {
 public:
  // `extension` (".mp3", any case) helps to recognise MPEG audio without tags.
  static TagFile Parse(ByteSource& source, std::string_view extension);

  FileKind kind() const { return kind_; }
  bool IsMp3() const { return kind_ == FileKind::kMp3 || kind_ == FileKind::kRiffMp3; }
  uint32_t TagFlags() const;
  // Everything we would rewrite was understood to its end.
  bool writable() const { return sound_; }
  bool modified() const { return id3v1Changed_ || id3v2Changed_ || infoChanged_; }

  const std::optional<Id3v1Tag>& id3v1() const { return id3v1_; }
  const std::optional<Id3v2Tag>& id3v2() const { return id3v2_; }
  const InfoList* info() const { return infos_.empty() ? nullptr : &infos_.front().list; }

  // Adds an empty tag (ID3v2 as version 2.3); true when the file has it afterwards.
  bool AddId3v1();
  bool AddId3v2();

  // Sets a value (code-page text) in memory; false when the file has no place for it.
  bool Set(ValueName name, std::string_view value, const TextCodec& codec);
  std::optional<std::string> Get(ValueName name, const TextCodec& codec) const;
  // The ID3v2 tag's value of `field` in Unicode, as Get reads it; nothing without the tag or
  // the frame.
  std::optional<std::u16string> Id3v2Text(Field field) const;

  // How to write the file; nothing when it cannot be written without losing data.
  std::optional<SavePlan> Plan() const;

 private:
  struct LocatedInfo {
    size_t chunk;  // index in riff_->chunks
    InfoList list;
    bool changed = false;
  };

  void ParseMp3(ByteSource& source, std::string_view extension);
  void ParseRiff(ByteSource& source);
  void ParseTail(ByteSource& source, uint64_t notBefore);
  bool SetId3v1(Field field, std::string_view value, const TextCodec& codec);
  bool SetId3v2(Field field, std::string_view value, const TextCodec& codec);
  bool SetInfo(Field field, std::string_view text, const TextCodec& codec);
  Bytes RenderId3v2(uint64_t room) const;

  uint64_t size_ = 0;
  FileKind kind_ = FileKind::kUnknown;
  bool sound_ = true;

  std::optional<Id3v2Tag> id3v2_;
  // Where the ID3v2 tag lies: the head of an MPEG file (with its padding) or the data of a
  // RIFF "id3 " chunk. Length 0 when the file has none yet.
  uint64_t id3v2Offset_ = 0;
  uint64_t id3v2Length_ = 0;
  std::optional<size_t> id3v2Chunk_;
  bool id3v2Changed_ = false;

  std::optional<Id3v1Tag> id3v1_;
  uint64_t id3v1Offset_ = 0;
  bool id3v1Existed_ = false;
  bool id3v1Changed_ = false;

  std::optional<RiffLayout> riff_;
  std::vector<LocatedInfo> infos_;
  bool infoChanged_ = false;
};

}  // namespace mp3infp
