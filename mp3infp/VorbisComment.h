// A Vorbis comment, the tag of FLAC, Ogg Vorbis and Opus: a vendor string and "NAME=value" items
// in UTF-8, lengths little-endian. Items stay the bytes they are (an empty "GENRE=" included);
// setting a field replaces every item of that name, case-insensitively, at the place of the
// first.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mp3infp/AudioFile.h"

namespace mp3infp {

class VorbisComment {
 public:
  VorbisComment() = default;
  // `data` is the comment alone: a FLAC block's body, an Ogg packet after its signature. Nothing
  // when a length passes the end. The bytes after the last item (Vorbis' framing bit, Opus'
  // binary data) are kept.
  static std::optional<VorbisComment> Parse(std::span<const uint8_t> data);

  // The item name of a field: ARTIST, ALBUM, TITLE, TRACKNUMBER, GENRE, DATE, COMMENT.
  static std::string_view NameOf(Field field);

  // Adds the items of `other` whose names this comment has none of, in their order: what a
  // second comment of the same file adds without overriding the first.
  void Merge(const VorbisComment& other);

  // The UTF-8 value of the first item `name`; nothing when there is none.
  std::optional<std::string> Get(std::string_view name) const;
  void Set(std::string_view name, std::string_view utf8Value);
  // The same for a field, in the code page.
  std::optional<std::string> GetField(Field field, const TextCodec& codec) const;
  void SetField(Field field, std::string_view value, const TextCodec& codec);

  Bytes Render() const { return Render(tail_); }
  // The same with other bytes after the last item: an Ogg comment packet grown or shrunk within
  // its padding.
  Bytes Render(std::span<const uint8_t> tail) const;

  const std::string& vendor() const { return vendor_; }
  const std::vector<std::string>& items() const { return items_; }
  const Bytes& tail() const { return tail_; }

 private:
  std::string vendor_;
  std::vector<std::string> items_;
  Bytes tail_;
};

}  // namespace mp3infp
