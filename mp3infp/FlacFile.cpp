#include "mp3infp/FlacFile.h"

#include <algorithm>
#include <cstring>

#include "mp3infp/Id3v2Tag.h"

namespace mp3infp {
namespace {

constexpr uint8_t kLastFlag = 0x80;
constexpr uint32_t kStreamInfoSize = 34;
constexpr uint32_t kMaxBlockLength = 0xFFFFFF;
constexpr int kMaxStackedId3Tags = 8;

Bytes BlockHeader(uint8_t type, bool last, uint32_t length) {
  return {uint8_t(type | (last ? kLastFlag : 0)), uint8_t(length >> 16), uint8_t(length >> 8),
          uint8_t(length)};
}

// A PADDING block of `size` bytes in all, header included (at least 4).
Bytes PaddingBlock(uint64_t size, bool last) {
  Bytes out = BlockHeader(FlacFile::kPadding, last, uint32_t(size - 4));
  out.resize(size, 0);
  return out;
}

}  // namespace

std::unique_ptr<FlacFile> FlacFile::Parse(ByteSource& source) {
  const uint64_t size = source.Size();
  uint64_t pos = 0;
  uint8_t head[Id3v2Tag::kHeaderSize];
  // ID3v2 tags in front, which some taggers put there; they stay as they are.
  for (int stacked = 0; stacked < kMaxStackedId3Tags; ++stacked) {
    if (size - pos < sizeof head || !source.Read(pos, head, sizeof head)) break;
    const auto total = Id3v2Tag::TotalSize(head);
    if (!total || *total > size - pos) break;
    pos += *total;
  }
  if (size - pos < 4 || !source.Read(pos, head, 4) || std::memcmp(head, "fLaC", 4) != 0)
    return nullptr;
  pos += 4;

  std::unique_ptr<FlacFile> file(new FlacFile());
  file->size_ = size;
  // Every block up to the one flagged last must lie inside the file and make sense; the walk
  // would otherwise run into the audio, which is never to be taken for metadata.
  bool last = false;
  while (!last) {
    uint8_t header[4];
    if (file->blocks_.size() >= kMaxBlocks || size - pos < 4 || !source.Read(pos, header, 4)) {
      file->valid_ = false;
      break;
    }
    Block block;
    block.type = header[0] & ~kLastFlag;
    block.offset = pos;
    block.length = uint32_t(header[1]) << 16 | uint32_t(header[2]) << 8 | header[3];
    last = header[0] & kLastFlag;
    const bool first = file->blocks_.empty();
    if (block.type == kInvalid || (block.type == kStreamInfo) != first ||
        (first && block.length < kStreamInfoSize) || block.End() > size) {
      file->valid_ = false;
      break;
    }
    file->blocks_.push_back(block);
    pos = block.End();
  }
  file->audioStart_ = pos;
  // The audio starts with a frame's sync code; anything else means the walk misread the
  // metadata (a missing last-block flag, say).
  if (file->valid_ && pos < size) {
    uint8_t sync[2] = {0, 0};
    if (size - pos < 2 || !source.Read(pos, sync, 2) || sync[0] != 0xFF || (sync[1] & 0xFE) != 0xF8)
      file->valid_ = false;
  }

  for (size_t i = 0; i < file->blocks_.size(); ++i) {
    const Block& block = file->blocks_[i];
    if (block.type == kStreamInfo) {
      uint8_t info[kStreamInfoSize];
      if (!source.Read(block.offset + 4, info, sizeof info)) continue;
      StreamInfo& stream = file->stream_;
      stream.sampleRate = uint32_t(info[10]) << 12 | uint32_t(info[11]) << 4 | info[12] >> 4;
      stream.channels = ((info[12] >> 1) & 7) + 1;
      const uint64_t samples = uint64_t(info[13] & 0x0F) << 32 | ReadBigEndian32(info + 14);
      if (stream.sampleRate) stream.seconds = double(samples) / stream.sampleRate;
      if (stream.seconds > 0 && file->valid_)
        stream.bitRate = uint32_t(double(size - file->audioStart_) * 8 / stream.seconds);
    } else if (block.type == kVorbisComment) {
      // One comment block is the standard; with two, a reader could go on seeing the old values.
      if (file->commentBlock_ || block.length > kMaxCommentRead) {
        file->valid_ = false;
        continue;
      }
      file->commentBlock_ = i;
      Bytes body;
      if (source.ReadBytes(block.offset + 4, block.length, body))
        file->comment_ = VorbisComment::Parse(body);
      if (!file->comment_) file->valid_ = false;
    }
  }
  file->stream_.format = "FLAC";
  return file;
}

bool FlacFile::Set(ValueName name, std::string_view value, const TextCodec& codec) {
  if (name.tag != TagKind::kDefault) return false;
  if (!comment_) comment_.emplace();
  comment_->SetField(name.field, value, codec);
  changed_ = true;
  return true;
}

std::optional<std::string> FlacFile::Get(ValueName name, const TextCodec& codec) const {
  if (name.tag != TagKind::kDefault || !comment_) return std::nullopt;
  return comment_->GetField(name.field, codec);
}

std::optional<SavePlan> FlacFile::Plan() const {
  if (!valid_) return std::nullopt;
  if (!changed_) return PlanEdits(size_, {});
  const Bytes body = comment_->Render();
  if (body.size() > kMaxBlockLength) return std::nullopt;
  if (auto plan = PlanInPlace(body)) return plan;
  return PlanRewrite(body);
}

// The comment goes into a run of neighbouring blocks that are padding or the old comment,
// filling it exactly or leaving room for a padding block's header. The run holding the old
// comment comes first; in any other run, the old comment becomes padding. No other block moves.
std::optional<SavePlan> FlacFile::PlanInPlace(const Bytes& body) const {
  const uint64_t needed = 4 + body.size();
  const auto isRoom = [&](size_t i) { return blocks_[i].type == kPadding || commentBlock_ == i; };
  std::optional<std::pair<size_t, size_t>> chosen;  // [first, last] block of the run
  for (size_t begin = 0; begin < blocks_.size();) {
    if (!isRoom(begin)) {
      ++begin;
      continue;
    }
    size_t end = begin;
    while (end + 1 < blocks_.size() && isRoom(end + 1)) ++end;
    const uint64_t room = blocks_[end].End() - blocks_[begin].offset;
    const bool holdsComment = commentBlock_ && *commentBlock_ >= begin && *commentBlock_ <= end;
    if (room == needed || room >= needed + 4) {
      if (holdsComment) {
        chosen = {begin, end};
        break;
      }
      if (!chosen) chosen = {begin, end};
    }
    begin = end + 1;
  }
  if (!chosen) return std::nullopt;

  const auto [first, last] = *chosen;
  const bool runIsLast = last + 1 == blocks_.size();
  const uint64_t room = blocks_[last].End() - blocks_[first].offset;
  std::vector<Edit> edits;
  Edit run{blocks_[first].offset, room,
           BlockHeader(kVorbisComment, runIsLast && room == needed, uint32_t(body.size()))};
  run.bytes.insert(run.bytes.end(), body.begin(), body.end());
  if (room > needed) {
    const Bytes padding = PaddingBlock(room - needed, runIsLast);
    run.bytes.insert(run.bytes.end(), padding.begin(), padding.end());
  }
  edits.push_back(std::move(run));
  if (commentBlock_ && (*commentBlock_ < first || *commentBlock_ > last)) {
    const Block& old = blocks_[*commentBlock_];
    edits.push_back({old.offset, 4 + uint64_t(old.length),
                     PaddingBlock(4 + uint64_t(old.length), *commentBlock_ + 1 == blocks_.size())});
  }
  std::sort(edits.begin(), edits.end(),
            [](const Edit& a, const Edit& b) { return a.offset < b.offset; });
  return PlanEdits(size_, std::move(edits));
}

// Every block but the padding, in its order, the comment where it was (or after the stream
// info), then fresh padding flagged last, then the audio.
std::optional<SavePlan> FlacFile::PlanRewrite(const Bytes& body) const {
  SavePlan plan;
  plan.oldSize = size_;
  const auto keep = [&](uint64_t offset, uint64_t length) {
    if (length) plan.pieces.push_back({offset, length, {}, true});
  };
  const auto add = [&](Bytes bytes) { plan.pieces.push_back({0, 0, std::move(bytes), false}); };
  const auto addComment = [&] {
    Bytes block = BlockHeader(kVorbisComment, false, uint32_t(body.size()));
    block.insert(block.end(), body.begin(), body.end());
    add(std::move(block));
  };
  keep(0, blocks_.front().offset);
  for (size_t i = 0; i < blocks_.size(); ++i) {
    const Block& block = blocks_[i];
    if (commentBlock_ == i) {
      addComment();
    } else if (block.type != kPadding) {
      add(BlockHeader(block.type, false, block.length));
      keep(block.offset + 4, block.length);
      if (i == 0 && !commentBlock_) addComment();
    }
  }
  add(PaddingBlock(4 + kFreshPadding, true));
  keep(audioStart_, size_ - audioStart_);
  return plan;
}

}  // namespace mp3infp
