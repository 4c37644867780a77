// FLAC files: "fLaC" (behind any ID3v2 tags and stray bytes after them, which stay), metadata
// blocks, then the audio frames and whatever follows them (an ID3v1 tag, say), which stay too.
// A comment or picture block whose stated length disagrees with its contents is read by its
// contents, as decoders read it, where that leads exactly to the first audio frame. A save in
// place leaves such a block as it is; a rewrite gives it a header stating its true length.
// The tag is the VORBIS_COMMENT block; a file with several gets one, holding what they held.
// Only block headers and comments are read; every other block (pictures, seek tables, cue
// sheets, application blocks) stays the bytes it is.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "mp3infp/AudioFile.h"
#include "mp3infp/VorbisComment.h"

namespace mp3infp {

class FlacFile final : public AudioFile {
 public:
  enum BlockType : uint8_t {
    kStreamInfo = 0,
    kPadding = 1,
    kApplication = 2,
    kSeekTable = 3,
    kVorbisComment = 4,
    kCueSheet = 5,
    kPicture = 6,
    kInvalid = 127,
  };
  struct Block {
    uint8_t type = 0;
    uint64_t offset = 0;  // of the 4-byte header
    uint32_t length = 0;  // of the body, up to the next block
    uint64_t End() const { return offset + 4 + length; }
  };
  static constexpr size_t kMaxBlocks = 4096;
  // The most bytes of all comment blocks together that are read.
  static constexpr uint32_t kMaxCommentRead = 16u << 20;
  // The most bytes between ID3v2 tags and "fLaC" that are searched for it.
  static constexpr uint32_t kMaxJunk = 64 * 1024;

  // Nothing when the bytes are no FLAC file (no "fLaC" at the head or behind ID3v2 tags).
  static std::unique_ptr<FlacFile> Parse(ByteSource& source);

  FileKind kind() const override { return FileKind::kFlac; }
  bool writable() const override { return valid_; }
  bool Set(ValueName name, std::string_view value, const TextCodec& codec) override;
  std::optional<std::string> Get(ValueName name, const TextCodec& codec) const override;
  std::optional<SavePlan> Plan() const override;
  StreamInfo Stream() const override { return stream_; }

  const std::vector<Block>& blocks() const { return blocks_; }
  // Where the audio frames start, after the last metadata block.
  uint64_t audioStart() const { return audioStart_; }
  const std::optional<VorbisComment>& comment() const { return comment_; }

 private:
  FlacFile() = default;
  // The file of these blocks, its comments read; `whole`: the blocks were read to the audio.
  static std::unique_ptr<FlacFile> FromBlocks(ByteSource& source, std::vector<Block> blocks,
                                              uint64_t audioStart, bool whole);
  bool IsComment(size_t block) const;
  std::optional<SavePlan> PlanInPlace(const Bytes& body) const;
  std::optional<SavePlan> PlanRewrite(const Bytes& body) const;

  uint64_t size_ = 0;
  bool valid_ = true;
  std::vector<Block> blocks_;
  uint64_t audioStart_ = 0;
  std::vector<size_t> commentBlocks_;  // indexes in blocks_, in order
  std::optional<VorbisComment> comment_;
  bool changed_ = false;
  StreamInfo stream_;
};

}  // namespace mp3infp
