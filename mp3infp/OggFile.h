// Ogg Vorbis and Ogg Opus files (RFC 3533, the Vorbis I specification, RFC 7845). The tags are
// the comment header packet of the first logical stream: "\x03vorbis" or "OpusTags" and a
// Vorbis comment, as FLAC's.
//
// A save lays the header packets after the identification header out over pages again. The
// pages that follow them are kept byte for byte as long as the header pages keep their number;
// only when the new packets need more pages (or fewer) are the sequence numbers of every later
// page of the stream moved and their checksums recomputed.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "mp3infp/AudioFile.h"
#include "mp3infp/VorbisComment.h"

namespace mp3infp {

// The Ogg page checksum: CRC-32 with the polynomial 0x04C11DB7, unreflected, starting at zero,
// over the page with its checksum field set to zero.
uint32_t OggCrc(std::span<const uint8_t> bytes, uint32_t crc = 0);

class OggFile : public AudioFile {
 public:
  // nullptr unless the file starts with the first page of a Vorbis or Opus stream.
  static std::unique_ptr<OggFile> Parse(ByteSource& source);

  FileKind kind() const override { return opus_ ? FileKind::kOpus : FileKind::kOggVorbis; }
  bool writable() const override { return sound_; }
  // Only the plain names: the comment list is the one tag of the file.
  bool Set(ValueName name, std::string_view value, const TextCodec& codec) override;
  // The first item of the field.
  std::optional<std::string> Get(ValueName name, const TextCodec& codec) const override;
  std::optional<SavePlan> Plan() const override;
  StreamInfo Stream() const override;

  // The comment items as stored ("NAME=value", UTF-8), in order.
  const std::vector<std::string>& items() const { return comment_.items(); }
  const std::string& vendor() const { return comment_.vendor(); }

 private:
  // A page of the stream after its header pages: what a renumbering needs.
  struct Page {
    uint64_t offset;
    uint32_t length;
    std::array<uint8_t, 27> header;  // the fixed part, before the lacing values
  };

  bool ParseHeaders(ByteSource& source);
  bool ParseIdentification(const std::vector<uint8_t>& packet);
  bool ParseComment(const std::vector<uint8_t>& packet);
  void ScanLaterPages(ByteSource& source);
  std::vector<uint8_t> RenderComment(size_t padding, bool withTrailing) const;

  bool opus_ = false;
  bool sound_ = true;
  bool changed_ = false;
  uint64_t size_ = 0;

  // The stream: its serial number, the first page (identification header only), and the pages
  // that hold the other header packets, [headerBegin_, headerEnd_).
  uint32_t serial_ = 0;
  uint64_t headerBegin_ = 0;
  uint64_t headerEnd_ = 0;
  size_t headerPages_ = 0;
  uint64_t headerGranule_ = 0;
  bool headerEndsStream_ = false;
  std::vector<std::vector<uint8_t>> otherHeaders_;  // the Vorbis setup header

  // The pages after the headers up to the end of the stream, and whether they can be renumbered
  // exactly: every one whole and of this stream.
  std::vector<Page> laterPages_;
  bool renumberable_ = true;
  uint64_t streamEnd_ = 0;
  std::optional<uint64_t> lastGranule_;

  // Identification header.
  uint32_t channels_ = 0;
  uint32_t sampleRate_ = 0;
  uint32_t nominalBitRate_ = 0;
  uint32_t preSkip_ = 0;

  // Comment header. The bytes after the list (Vorbis: after the framing byte) are kept; when
  // they are all zero they are padding, room that a later save may take.
  bool commentRead_ = false;
  VorbisComment comment_;
  uint8_t framing_ = 1;
  std::vector<uint8_t> trailing_;
  bool trailingIsPadding_ = false;
  size_t oldCommentLength_ = 0;
};

}  // namespace mp3infp
