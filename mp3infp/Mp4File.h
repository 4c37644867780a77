// MP4 audio (ISO base media files: .m4a, .mp4, .m4b with AAC or ALAC): the iTunes-style items of
// moov/udta/meta/ilst, and the stream as the sample description and the media header tell it.
//
// Only the movie box (moov) is read into memory; the media data is never read. A save rewrites
// the ilst box and, when it must grow beyond the free boxes around it, the whole moov box, moving
// every chunk offset (stco, co64) of every track when moov stands before the media data.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mp3infp/AudioFile.h"

namespace mp3infp {

class Mp4File : public AudioFile {
 public:
  // Padding left after the ilst box when moov is rewritten, so that the next save fits in place.
  static constexpr uint32_t kPadding = 2048;

  // nullptr when the file does not start with an ftyp box.
  static std::unique_ptr<Mp4File> Parse(ByteSource& source);

  FileKind kind() const override { return FileKind::kMp4; }
  bool writable() const override { return sound_; }
  bool Set(ValueName name, std::string_view value, const TextCodec& codec) override;
  std::optional<std::string> Get(ValueName name, const TextCodec& codec) const override;
  std::optional<SavePlan> Plan() const override;
  StreamInfo Stream() const override { return stream_; }

  using FourCc = std::array<uint8_t, 4>;

  // A box as read from moov (offsets within moov) or made anew. Only the containers on the way
  // to the items and to the chunk offsets are opened; every other box is kept as its bytes.
  struct Box {
    FourCc type{};
    uint64_t offset = 0;  // of the header, within moov
    uint64_t size = 0;
    uint32_t headerSize = 8;  // 16 with a 64-bit size
    bool container = false;
    Bytes prefix;  // a container's bytes before its children (meta's version and flags)
    std::vector<Box> children;
    // The whole bytes of a box made anew, or of bytes too short to be a box that end a
    // container (QuickTime's four zero bytes), kept as they are (`tail`).
    std::optional<Bytes> made;
    bool tail = false;
  };

 private:
  Mp4File() = default;
  void ParseChildren(Box& parent, uint64_t begin, uint64_t end, int depth);
  void ReadStream();
  const Box* Ilst() const;
  // The first item of `type` with a data box: its type indicator and value.
  std::optional<std::pair<uint32_t, Bytes>> ItemData(const FourCc& type) const;
  void Change(const FourCc& type, std::optional<Bytes> item);
  Bytes RenderIlst() const;
  // moov with the new ilst followed by `padding` bytes of free box, chunk offsets from
  // `shiftFrom` on moved by `shift`; empty when an offset would not fit.
  Bytes RenderMoov(uint64_t padding, int64_t shift, uint64_t shiftFrom) const;
  bool RenderBox(const Box& box, int64_t shift, uint64_t shiftFrom, Bytes& out) const;

  bool sound_ = true;
  uint64_t fileSize_ = 0;
  uint64_t moovOffset_ = 0;  // in the file
  uint64_t moovSize_ = 0;
  // The free or skip boxes right after moov, which a grown moov may take.
  uint64_t freeAfterMoov_ = 0;
  Bytes moovBytes_;
  Box moov_;
  // Items set, in the order set: the new item's bytes, or nothing to remove the field.
  std::vector<std::pair<FourCc, std::optional<Bytes>>> changes_;
  StreamInfo stream_;
};

}  // namespace mp3infp
