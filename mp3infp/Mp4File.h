// MP4 audio (ISO base media files: .m4a, .mp4, .m4b with AAC or ALAC): the iTunes-style items of
// moov/udta/meta/ilst, and the stream as the sample description and the media header tell it.
//
// Only the movie box (moov) is read into memory; the media data is never read. A save rewrites
// the ilst box and, when it must grow beyond the free boxes around it, the whole moov box, moving
// every chunk offset (stco, co64) of every track when moov stands before the media data.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mp3infp/AudioFile.h"
#include "mp3infp/Mp4Box.h"

namespace mp3infp {

class Mp4File : public AudioFile {
 public:
  // nullptr when the file does not start with an ftyp box.
  static std::unique_ptr<Mp4File> Parse(ByteSource& source);

  FileKind kind() const override { return FileKind::kMp4; }
  bool writable() const override { return sound_; }
  bool Set(ValueName name, std::string_view value, const TextCodec& codec) override;
  std::optional<std::string> Get(ValueName name, const TextCodec& codec) const override;
  std::optional<SavePlan> Plan() const override;
  StreamInfo Stream() const override { return stream_; }

 private:
  using FourCc = mp4::FourCc;
  using Box = mp4::Box;

  Mp4File() = default;
  const Box* Meta() const;
  const Box* Ilst() const;
  // The first item of `type` with a data box: its type indicator and value.
  std::optional<std::pair<uint32_t, Bytes>> ItemData(const FourCc& type) const;
  void Change(const FourCc& type, std::optional<Bytes> item);
  Bytes RenderIlst() const;
  // moov with the new ilst followed by `padding` bytes of free box, chunk offsets from
  // `shiftFrom` on moved by `shift`; empty when an offset would not fit.
  Bytes RenderMoov(uint64_t padding, int64_t shift, uint64_t shiftFrom) const;

  bool sound_ = true;
  uint64_t fileSize_ = 0;
  uint64_t moovOffset_ = 0;  // in the file
  uint64_t moovSize_ = 0;
  // The free or skip boxes right after moov, which a grown moov may take.
  uint64_t freeAfterMoov_ = 0;
  mp4::Moov moov_;
  // Items set, in the order set: the new item's bytes, or nothing to remove the field.
  std::vector<std::pair<FourCc, std::optional<Bytes>>> changes_;
  StreamInfo stream_;
};

}  // namespace mp3infp
