// Ogg Vorbis, Ogg Opus and FLAC in Ogg (RFC 3533, the Vorbis I specification, RFC 7845, the Ogg
// FLAC mapping). The tags are the comment header packet of the first audio stream of the file:
// "\x03vorbis", "OpusTags" or a FLAC VORBIS_COMMENT block, and a Vorbis comment as FLAC's.
// The mappings differ only in an OggMapping: how the stream begins and how its comment packet is
// framed; the pages themselves are OggPage's.
//
// A save lays the header packets after the identification header out over pages again, numbered
// on from the stream's first page. The pages that follow them are kept byte for byte as long as
// the header pages keep their number; only when the new packets need more pages (or fewer) are
// the sequence numbers of every later page of the stream moved and their checksums recomputed.
// Pages of other streams multiplexed with it (the video of a Theora file) stay as they are, in
// their order.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "mp3infp/AudioFile.h"
#include "mp3infp/OggPage.h"
#include "mp3infp/VorbisComment.h"

namespace mp3infp {

// What the identification header of a stream tells.
struct OggIdentification {
  uint32_t channels = 0;
  uint32_t sampleRate = 0;  // of the granule positions
  uint32_t nominalBitRate = 0;
  uint32_t preSkip = 0;      // granules before the first sample
  size_t headerPackets = 0;  // with the identification header; 0: up to a last block
  bool understood = true;    // a version whose layout we know
};

// One codec's way of carrying its headers in Ogg.
struct OggMapping {
  FileKind kind;
  const char* format;
  std::string_view idMagic;       // how the first packet starts
  std::string_view commentMagic;  // how the comment packet starts; empty: a FLAC block header
  bool framingBit;                // a set bit after the list ends the comment packet
  bool addsPadding;               // a save may leave zero bytes after the list
  bool reusesPadding;             // zero bytes found after the list are room to take
  bool (*identify)(const Bytes& packet, OggIdentification& out);
  // The header packets, the identification header first, are what the codec expects.
  bool (*headersValid)(const std::vector<Bytes>& packets);
};

class OggFile : public AudioFile {
 public:
  // nullptr unless the file starts with the first pages of a link holding a Vorbis, Opus or
  // FLAC stream.
  static std::unique_ptr<OggFile> Parse(ByteSource& source);

  FileKind kind() const override { return mapping_->kind; }
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
  // The tagged stream's serial number, and how many pages its headers take after the first.
  uint32_t serial() const { return serial_; }
  size_t headerPageCount() const { return headerPages_.size(); }
  // Audio packets begin on the last header page; a save moves them onto a page of their own.
  bool audioOnHeaderPage() const { return sharedAudio_.has_value(); }

 private:
  // A page of the tagged stream: where it lies and what a renumbering needs.
  struct Page {
    uint64_t offset;
    uint32_t length;
    std::array<uint8_t, ogg::kPageHeaderSize> fixed;
    uint64_t End() const { return offset + length; }
  };

  bool ParseHeaders(ByteSource& source, uint64_t start);
  bool ParseComment(const Bytes& packet);
  void ScanLaterPages(ByteSource& source);
  Bytes RenderComment(size_t padding, bool withTrailing) const;

  const OggMapping* mapping_ = nullptr;
  bool sound_ = true;
  bool changed_ = false;
  uint64_t size_ = 0;

  // The stream: its serial number, its first page's number, and the pages that hold the other
  // header packets (pages of other streams may lie between them).
  uint32_t serial_ = 0;
  uint32_t firstSequence_ = 0;
  std::vector<Page> headerPages_;
  uint64_t headerGranule_ = 0;
  bool headerEndsStream_ = false;
  std::vector<Bytes> otherHeaders_;  // after the comment: Vorbis' setup, FLAC's other blocks

  // Audio packets that began on the last header page (some muxers fill it up). A save ends the
  // headers' pages with the last header, as the mappings want, and moves these segments as they
  // are onto a page of their own that keeps the old page's granule position and end of stream.
  struct SharedAudio {
    uint8_t flags = 0;
    uint64_t granule = ogg::kNoGranule;
    Bytes lacing;
    Bytes body;
  };
  std::optional<SharedAudio> sharedAudio_;

  // The stream's pages after the headers up to its end, and whether they can be renumbered
  // exactly: every one whole, of this stream where it should be, numbered without a hole.
  std::vector<Page> laterPages_;
  bool renumberable_ = true;
  uint64_t audioBytes_ = 0;
  std::optional<uint64_t> lastGranule_;

  OggIdentification id_;

  // Comment header. The bytes after the list (Vorbis: after the framing byte) are kept; when
  // they are all zero they are padding, room that a later save may take.
  bool commentRead_ = false;
  VorbisComment comment_;
  uint8_t framing_ = 1;  // Vorbis: the framing byte; FLAC: the block header's first byte
  Bytes trailing_;
  bool trailingIsPadding_ = false;
  size_t oldCommentLength_ = 0;
};

}  // namespace mp3infp
