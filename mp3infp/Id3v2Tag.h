// An ID3v2 tag (2.2, 2.3 or 2.4) at the head of a file or in a RIFF chunk. Parsing is bounded by
// the bytes at hand; a tag that is not well-formed to its end is read as far as it is and marked,
// so that it is never written back.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mp3infp/AudioFile.h"
#include "mp3infp/Id3v2Frame.h"

namespace mp3infp {

class Id3v2Tag {
 public:
  static constexpr size_t kHeaderSize = 10;
  static constexpr size_t kMaxFrames = 4096;
  // How far before its declared end a tag may really end. Some writers count the header into
  // the size, or set the footer flag of a 2.4 tag and write no footer: the size then claims 10
  // bytes of what follows. What follows (audio, "fLaC") is looked for this little before the
  // declared end too.
  static constexpr uint64_t kMaxOvershoot = 64;

  // An empty 2.3 tag.
  Id3v2Tag() = default;

  // The full size of the tag starting at `header` (10 bytes): header, body and footer; nothing
  // when these bytes are no ID3v2 header.
  static std::optional<uint64_t> TotalSize(const uint8_t* header);

  // Parses a tag from its bytes (header first); `data` may be shorter than the tag claims, which
  // marks the tag as cut.
  static Id3v2Tag Parse(std::span<const uint8_t> data);
  // Parses `data` as the whole tag, whatever size its header declares: a tag whose size
  // overstates it, once what follows has been found before its declared end.
  static Id3v2Tag ParseWhole(std::span<const uint8_t> data);

  int version() const { return version_; }
  // The tag can be written back without losing anything it holds.
  bool wellFormed() const { return wellFormed_; }
  const std::vector<std::unique_ptr<Frame>>& frames() const { return frames_; }

  // The value of `field`: the text of its frame (the first, when there are several); the comment
  // is the first COMM frame with an empty description, whatever its language; the recording date
  // is 2.4's TDRC as it is, or in 2.2/2.3 "YYYY-MM-DD" when the year frame holds four digits and
  // TDAT a day of that year, otherwise the year frame's text.
  std::optional<std::u16string> Get(Field field) const;
  // Sets `field` into the first frame that holds it and drops every other frame that held it
  // (other tags' duplicates would show the old value): every frame of its ID, and for the comment
  // every COMM frame with an empty description. Frames with a description are other tags' data
  // and stay. A date (RecordingDate.h) goes into 2.4's TDRC in its ISO form, or into 2.2/2.3's
  // year and TDAT; any other text goes into the year frame as it is.
  void Set(Field field, std::u16string_view text);

  // The whole tag: filling `room` bytes exactly when its frames fit there leaving no more
  // padding than the file of `fileSize` bytes may keep (Padding.h), else with fresh padding.
  // Empty when the tag cannot be rendered (a size that does not fit its field).
  Bytes Render(uint64_t room, uint64_t fileSize) const;

 private:
  // The frame ID of `field` (the year: the frame of the year alone) and of the day in this
  // version.
  std::string_view FrameId(Field field) const;
  std::string_view DayFrameId() const;
  Frame* Find(std::string_view id) const;
  std::optional<std::u16string> GetText(std::string_view id) const;
  void SetText(std::string_view id, std::u16string_view text);
  void Remove(std::string_view id);
  std::optional<std::u16string> GetComment() const;
  void SetComment(std::u16string_view text);
  std::optional<std::u16string> GetRecordingDate() const;
  void SetRecordingDate(std::u16string_view text);
  // The frames rendered, header and padding left out; empty when one does not fit its size field.
  std::optional<Bytes> RenderFrames() const;

  int version_ = 3;
  bool wellFormed_ = true;
  std::vector<std::unique_ptr<Frame>> frames_;
};

}  // namespace mp3infp
