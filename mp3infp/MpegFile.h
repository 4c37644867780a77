// MPEG audio with its tags: an ID3v2 tag at the head (more may be stacked behind it; they stay
// part of what follows ours), an ID3v1 tag at the end, anything between them (APEv2, Lyrics3,
// junk before the first frame) kept as it is.
#pragma once

#include <memory>
#include <optional>

#include "mp3infp/Id3File.h"

namespace mp3infp {

// The stream of the MPEG audio between `begin` and `end`, from its first frame header (and the
// frame count of a Xing, Info or VBRI header, when the first frame holds one).
StreamInfo ReadMpegStream(ByteSource& source, uint64_t begin, uint64_t end);

// How far past the tags the first frame is looked for.
constexpr uint64_t kMaxBytesBeforeAudio = 64 * 1024;
// Where the MPEG audio between `begin` and `end` starts: at `begin` when a frame header is there,
// else at the first of two consecutive frame headers within kMaxBytesBeforeAudio.
std::optional<uint64_t> FindMpegAudio(ByteSource& source, uint64_t begin, uint64_t end);

class MpegFile final : public Id3File {
 public:
  // Nothing when the bytes are no MPEG audio: no ID3v2 tag and no frame header at the head, and
  // no ID3v1 tag on a file whose `extension` names MPEG audio.
  static std::unique_ptr<MpegFile> Parse(ByteSource& source, std::string_view extension);

  FileKind kind() const override { return FileKind::kMp3; }
  uint32_t TagFlags() const override;
  // The name alone reaches every tag the file has; a file without any gets an ID3v2 tag.
  bool Set(ValueName name, std::string_view value, const TextCodec& codec) override;
  std::optional<std::string> Get(ValueName name, const TextCodec& codec) const override;
  std::optional<SavePlan> Plan() const override;
  StreamInfo Stream() const override { return stream_; }

 private:
  explicit MpegFile(uint64_t size) : Id3File(size) {}

  StreamInfo stream_;
};

}  // namespace mp3infp
