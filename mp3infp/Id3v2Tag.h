// An ID3v2 tag (2.2, 2.3 or 2.4) at the head of a file or in a RIFF chunk. Parsing is bounded by
// the bytes at hand; a tag that is not well-formed to its end is read as far as it is and marked,
// so that it is never written back.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mp3infp/Id3v2Frame.h"

namespace mp3infp {

class Id3v2Tag {
 public:
  static constexpr size_t kHeaderSize = 10;
  static constexpr size_t kMaxFrames = 4096;
  // The fresh padding of a tag that is written anew.
  static constexpr size_t kPadding = 1024;

  // An empty 2.3 tag.
  Id3v2Tag() = default;

  // The full size of the tag starting at `header` (10 bytes): header, body and footer; nothing
  // when these bytes are no ID3v2 header.
  static std::optional<uint64_t> TotalSize(const uint8_t* header);

  // Parses a tag from its bytes (header first); `data` may be shorter than the tag claims, which
  // marks the tag as cut.
  static Id3v2Tag Parse(std::span<const uint8_t> data);

  int version() const { return version_; }
  // The tag can be written back without losing anything it holds.
  bool wellFormed() const { return wellFormed_; }
  const std::vector<std::unique_ptr<Frame>>& frames() const { return frames_; }

  // The text of the first frame `id` (a 2.3/2.4 identifier; mapped for 2.2).
  std::optional<std::u16string> GetText(std::string_view id) const;
  void SetText(std::string_view id, std::u16string_view text);
  // The comment: the first COMM frame with an empty description, whatever its language.
  std::optional<std::u16string> GetComment() const;
  void SetComment(std::u16string_view text);
  // The recording date as one text: 2.4's TDRC as it is; in 2.2/2.3 "YYYY-MM-DD" when the year
  // frame holds four digits and TDAT a day of that year, otherwise the year frame's text.
  std::optional<std::u16string> GetRecordingDate() const;
  // A date (RecordingDate.h) goes into 2.4's TDRC in its ISO form, or into 2.2/2.3's year and
  // TDAT; any other text goes into the year frame as it is.
  void SetRecordingDate(std::u16string_view text);

  // The whole tag with at least `minimumSize` bytes (the rest padding), or with kPadding bytes of
  // padding when `minimumSize` is 0. Empty when the tag cannot be rendered in its version.
  Bytes Render(size_t minimumSize) const;

 private:
  std::string FrameId(std::string_view id) const;
  Frame* Find(std::string_view id) const;
  void Remove(std::string_view id);

  int version_ = 3;
  bool wellFormed_ = true;
  std::vector<std::unique_ptr<Frame>> frames_;
};

}  // namespace mp3infp
