// RIFF and RF64 files: form RMP3 (MPEG audio in a `data` chunk, with LIST/INFO, an "id3 " chunk
// and an ID3v1 tag at the very end) and form WAVE (LIST/INFO, and an "id3 " chunk that other
// programs add, kept in step with it). Chunks we do not rewrite stay the bytes they are.
#pragma once

#include <memory>
#include <vector>

#include "mp3infp/Id3File.h"
#include "mp3infp/Riff.h"

namespace mp3infp {

class RiffFile final : public Id3File {
 public:
  // Nothing when the bytes are no RIFF file of form RMP3 or WAVE.
  static std::unique_ptr<RiffFile> Parse(ByteSource& source);

  FileKind kind() const override { return kind_; }
  uint32_t TagFlags() const override;
  const InfoList* info() const override { return infos_.empty() ? nullptr : &infos_.front().list; }
  // WAVE takes the name alone or "_rmp" into its INFO list, and into its "id3 " chunk when it has
  // one. RMP3 takes each suffix into its tag,
  // and the name alone into every tag it has (an ID3v2 tag when it has none).
  bool Set(ValueName name, std::string_view value, const TextCodec& codec) override;
  std::optional<std::string> Get(ValueName name, const TextCodec& codec) const override;
  std::optional<SavePlan> Plan() const override;
  StreamInfo Stream() const override { return stream_; }

 private:
  struct LocatedInfo {
    size_t chunk;  // index in riff_.chunks
    InfoList list;
    bool changed = false;
  };

  RiffFile(uint64_t size, RiffLayout layout) : Id3File(size), riff_(std::move(layout)) {}
  bool SetInfo(Field field, std::string_view text, const TextCodec& codec);

  FileKind kind_ = FileKind::kUnknown;
  RiffLayout riff_;
  std::optional<size_t> id3v2Chunk_;
  std::vector<LocatedInfo> infos_;
  StreamInfo stream_;
};

}  // namespace mp3infp
