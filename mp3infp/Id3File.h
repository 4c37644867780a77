// What MPEG audio files share, bare (MpegFile) or wrapped in RIFF (RiffFile, which also reads
// WAVE and the ID3v2 tag of its "id3 " chunk): ID3v1 and ID3v2 tags, the tag flags of the MP3
// calls, and the empty tags those calls make.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "mp3infp/AudioFile.h"
#include "mp3infp/Id3v1Tag.h"
#include "mp3infp/Id3v2Tag.h"
#include "mp3infp/Riff.h"

namespace mp3infp {

class Id3File : public AudioFile {
 public:
  bool IsMp3() const { return kind() == FileKind::kMp3 || kind() == FileKind::kRiffMp3; }
  bool writable() const override { return valid_; }

  const std::optional<Id3v1Tag>& id3v1() const { return id3v1_; }
  const std::optional<Id3v2Tag>& id3v2() const { return id3v2_; }
  // Where the ID3v2 tag read from the file ends (0 without one): in an MPEG file, where what
  // follows it begins, which may be before the end its header declares.
  uint64_t id3v2End() const { return id3v2Length_ ? id3v2Offset_ + id3v2Length_ : 0; }
  // The items of the first LIST/INFO chunk; nullptr when the file has none.
  virtual const InfoList* info() const { return nullptr; }

  // Adds an empty tag (ID3v2 as version 2.3); true when the file has it afterwards.
  bool AddId3v1();
  bool AddId3v2();
  // The ID3v2 tag's value of `field` in Unicode, as Get reads it; nothing without the tag or the
  // frame.
  std::optional<std::u16string> Id3v2Text(Field field) const;

 protected:
  explicit Id3File(uint64_t size) : size_(size) {}

  bool SetId3v1(Field field, std::string_view value, const TextCodec& codec);
  bool SetId3v2(Field field, std::string_view value, const TextCodec& codec);
  // The flags of the ID3 tags the file has.
  uint32_t Id3TagFlags() const;
  // Sets the value where its name points: the tag its suffix names, or (a plain name) every tag
  // the file has, and a new ID3v2 tag when none of them took it. `setInfo` sets it in the RIFF
  // INFO list (false where there is none to set); `hasInfo` says whether the file has one.
  template <class SetInfo>
  bool SetByName(ValueName name, std::string_view value, const TextCodec& codec, bool hasInfo,
                 SetInfo setInfo) {
    switch (name.tag) {
      case TagKind::kId3v1:
        return SetId3v1(name.field, value, codec);
      case TagKind::kId3v2:
        return SetId3v2(name.field, value, codec);
      case TagKind::kRiffInfo:
        return setInfo();
      case TagKind::kDefault:
        break;
    }
    bool done = false;
    if (id3v1_) done = SetId3v1(name.field, value, codec) || done;
    if (id3v2_) done = SetId3v2(name.field, value, codec) || done;
    if (hasInfo) done = setInfo() || done;
    return done || SetId3v2(name.field, value, codec);
  }
  // The value of the ID3 tags for `name`: the ID3v2 frame first, then the ID3v1 field. Nothing
  // when the name reaches no ID3 tag that the file has.
  std::optional<std::string> GetId3(ValueName name, const TextCodec& codec) const;

  // Reads an ID3v1 tag at the end of the file, when one is there and starts at or after
  // `notBefore`.
  void ReadId3v1AtEnd(ByteSource& source, uint64_t notBefore);
  void ForgetId3v1();
  // The ID3v2 tag rendered to fill `room` bytes exactly when it fits with no more padding than
  // the file may keep (Padding.h), else with fresh padding; empty when it cannot be rendered.
  Bytes RenderId3v2(uint64_t room) const;
  // The edit that writes the ID3v1 tag, when it changed.
  void AddId3v1Edit(std::vector<Edit>& edits) const;

  uint64_t size_ = 0;
  // Everything we would rewrite was understood to its end.
  bool valid_ = true;

  std::optional<Id3v2Tag> id3v2_;
  // Where the ID3v2 tag lies: the head of an MPEG file (with its padding) or the data of a RIFF
  // "id3 " chunk. Length 0 when the file has none yet.
  uint64_t id3v2Offset_ = 0;
  uint64_t id3v2Length_ = 0;
  bool id3v2Changed_ = false;

  std::optional<Id3v1Tag> id3v1_;
  uint64_t id3v1Offset_ = 0;
  bool id3v1Existed_ = false;
  bool id3v1Changed_ = false;
};

}  // namespace mp3infp
