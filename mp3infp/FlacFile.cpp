#include "mp3infp/FlacFile.h"

#include <algorithm>
#include <cstring>

#include "mp3infp/Id3v2Tag.h"
#include "mp3infp/Padding.h"

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

constexpr uint64_t kMaxBlockSize = 4 + uint64_t(kMaxBlockLength);

// PADDING blocks of `size` bytes in all, headers included (none, or at least 4 bytes). The first
// holds at most `most`, the room kept right after the comment; the rest goes into as few blocks
// as their 24-bit lengths allow, of even sizes, so that none is shorter than its header.
Bytes PaddingBlocks(uint64_t size, uint64_t most, bool last) {
  std::vector<uint64_t> sizes;
  if (size) {
    uint64_t first = std::min({size, std::max<uint64_t>(most, 8), kMaxBlockSize});
    uint64_t rest = size - first;
    if (rest && rest < 4) {
      first -= 4 - rest;
      rest = 4;
    }
    sizes.push_back(first);
    const uint64_t count = (rest + kMaxBlockSize - 1) / kMaxBlockSize;
    for (uint64_t i = 0; i < count; ++i) sizes.push_back(rest / count + (i < rest % count));
  }
  Bytes out(size, 0);
  uint64_t at = 0;
  for (size_t i = 0; i < sizes.size(); ++i) {
    const Bytes header =
        BlockHeader(FlacFile::kPadding, last && i + 1 == sizes.size(), uint32_t(sizes[i] - 4));
    std::copy(header.begin(), header.end(), out.begin() + at);
    at += sizes[i];
  }
  return out;
}

bool IsFrameSync(const uint8_t* p) { return p[0] == 0xFF && (p[1] & 0xFE) == 0xF8; }
bool IsMpegSync(const uint8_t* p) { return p[0] == 0xFF && (p[1] & 0xE0) == 0xE0; }

// Where "fLaC" starts: at `pos`, or, behind ID3v2 tags, after bytes that some taggers and
// rippers leave there (a tag's padding miscounted, a tag cut short). Only a bounded stretch is
// searched, only when the bytes behind the tags are no MPEG audio, and only a "fLaC" followed by
// a stream info block's header counts there, so that other audio is not taken for FLAC.
std::optional<uint64_t> FindStart(ByteSource& source, uint64_t pos) {
  const uint64_t size = source.Size();
  uint8_t head[4];
  if (size - pos < 4 || !source.Read(pos, head, 4)) return std::nullopt;
  if (std::memcmp(head, "fLaC", 4) == 0) return pos;
  if (pos == 0 || IsMpegSync(head)) return std::nullopt;
  constexpr uint8_t kMarker[] = {'f', 'L', 'a', 'C'};
  constexpr size_t kMarkerSize = sizeof kMarker + 4;
  Bytes window;
  if (!source.ReadBytes(
          pos, size_t(std::min<uint64_t>(size - pos, FlacFile::kMaxJunk + kMarkerSize)), window))
    return std::nullopt;
  for (auto at = window.begin();; ++at) {
    at = std::search(at, window.end(), std::begin(kMarker), std::end(kMarker));
    if (window.end() - at < ptrdiff_t(kMarkerSize)) return std::nullopt;
    if ((at[4] & ~kLastFlag) == FlacFile::kStreamInfo && at[5] == 0 && at[6] == 0 &&
        at[7] == kStreamInfoSize)
      return pos + uint64_t(at - window.begin());
  }
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
  const auto start = FindStart(source, pos);
  if (!start) return nullptr;
  pos = *start + 4;

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
    if (size - pos < 2 || !source.Read(pos, sync, 2) || !IsFrameSync(sync)) file->valid_ = false;
  }

  uint64_t commentBytes = 0;
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
      commentBytes += block.length;
      Bytes body;
      std::optional<VorbisComment> comment;
      if (commentBytes <= kMaxCommentRead && source.ReadBytes(block.offset + 4, block.length, body))
        comment = VorbisComment::Parse(body);
      if (!comment) {
        file->valid_ = false;
        continue;
      }
      // A tagger that looks for the comment in one place only may add a second one. A save
      // writes one comment: the first, as readers show it, with the names that only a later
      // one has, which would otherwise be lost. Names both have keep the first's values.
      if (file->comment_) {
        file->comment_->Merge(*comment);
      } else {
        file->comment_ = std::move(comment);
      }
      file->commentBlocks_.push_back(i);
    }
  }
  file->stream_.format = "FLAC";
  return file;
}

bool FlacFile::IsComment(size_t block) const {
  return std::find(commentBlocks_.begin(), commentBlocks_.end(), block) != commentBlocks_.end();
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

// The comment goes into a run of neighbouring blocks that are padding or old comments, filling
// it exactly or leaving room for a padding block's header. A run holding an old comment comes
// first; old comments outside the run become padding. No other block moves.
std::optional<SavePlan> FlacFile::PlanInPlace(const Bytes& body) const {
  const uint64_t needed = 4 + body.size();
  const auto isRoom = [&](size_t i) { return blocks_[i].type == kPadding || IsComment(i); };
  std::optional<std::pair<size_t, size_t>> chosen;  // [first, last] block of the run
  for (size_t begin = 0; begin < blocks_.size();) {
    if (!isRoom(begin)) {
      ++begin;
      continue;
    }
    size_t end = begin;
    bool holdsComment = IsComment(begin);
    while (end + 1 < blocks_.size() && isRoom(end + 1)) holdsComment |= IsComment(++end);
    const uint64_t room = blocks_[end].End() - blocks_[begin].offset;
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
  const Bytes padding = PaddingBlocks(room - needed, MostPadding(size_), runIsLast);
  run.bytes.insert(run.bytes.end(), padding.begin(), padding.end());
  edits.push_back(std::move(run));
  for (const size_t i : commentBlocks_) {
    if (i >= first && i <= last) continue;
    const Block& old = blocks_[i];
    edits.push_back(
        {old.offset, 4 + uint64_t(old.length),
         PaddingBlocks(4 + uint64_t(old.length), kMaxBlockSize, i + 1 == blocks_.size())});
  }
  std::sort(edits.begin(), edits.end(),
            [](const Edit& a, const Edit& b) { return a.offset < b.offset; });
  return PlanEdits(size_, std::move(edits));
}

// Every block but the padding, in its order, the comment where the first was (or after the
// stream info), then fresh padding flagged last, then the audio.
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
    if (IsComment(i)) {
      if (i == commentBlocks_.front()) addComment();  // the later ones are merged into it
    } else if (block.type != kPadding) {
      add(BlockHeader(block.type, false, block.length));
      keep(block.offset + 4, block.length);
      if (i == 0 && commentBlocks_.empty()) addComment();
    }
  }
  add(PaddingBlocks(4 + kFreshPadding, kMaxBlockSize, true));
  keep(audioStart_, size_ - audioStart_);
  return plan;
}

}  // namespace mp3infp
