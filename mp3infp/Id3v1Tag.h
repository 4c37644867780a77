// The 128-byte ID3v1 tag at the end of a file, version 1.1 (track byte) included. The tag keeps
// its bytes: setting a field rewrites that field's bytes only.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "mp3infp/AudioFile.h"
#include "mp3infp/ByteSource.h"
#include "mp3infp/TextCodec.h"

namespace mp3infp {

class Id3v1Tag {
 public:
  static constexpr size_t kSize = 128;
  static constexpr uint8_t kUnknownGenre = 255;

  // An empty tag: no text, no track, genre unknown.
  Id3v1Tag();
  static std::optional<Id3v1Tag> Parse(std::span<const uint8_t> bytes);

  // 0 when the tag has none (version 1.0).
  int track() const { return HasTrack() ? bytes_[126] : 0; }
  uint8_t genre() const { return bytes_[127]; }

  // `text` is in `codec`'s code page; the tag holds it in codec.Legacy()'s, a character that one
  // lacks replaced by '?', cut where a character ends.
  void SetComment(std::string_view text, const TextCodec& codec);
  // A number from 1 to 255 (optionally followed by "/total") goes into the track byte; anything
  // else leaves the tag without a track.
  void SetTrack(std::string_view text, const TextCodec& codec);
  // A name of the standard genre list (case does not matter) or its number; 255 otherwise.
  void SetGenre(std::string_view text);

  // The value of `field` in the legacy code page: the text, the track's number or the genre's
  // name ("" for none); and set from `text` in `codec`'s code page, as the setters above do.
  std::string Get(mp3infp::Field field) const;
  void Set(mp3infp::Field field, std::string_view text, const TextCodec& codec);

  const std::array<uint8_t, kSize>& bytes() const { return bytes_; }

 private:
  bool HasTrack() const { return bytes_[125] == 0 && bytes_[126] != 0; }
  std::string TextAt(size_t offset, size_t length) const;
  std::string comment() const { return TextAt(97, HasTrack() ? 28 : 30); }
  void SetText(size_t offset, size_t length, std::string_view text, const TextCodec& codec);
  // `bytes` are in `legacy`'s code page already.
  void SetField(size_t offset, size_t length, std::string_view bytes, const TextCodec& legacy);

  std::array<uint8_t, kSize> bytes_{};
};

// The name of a genre of the standard list, or nothing.
std::optional<std::string_view> GenreName(uint8_t genre);

}  // namespace mp3infp
