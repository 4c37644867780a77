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

// The offset in `window` of the first "fLaC" that a stream info block's header follows, before
// `before`; nothing when there is none.
std::optional<size_t> FindMarker(const Bytes& window, size_t before) {
  constexpr uint8_t kMarker[] = {'f', 'L', 'a', 'C'};
  constexpr size_t kMarkerSize = sizeof kMarker + 4;
  for (auto at = window.begin();; ++at) {
    at = std::search(at, window.end(), std::begin(kMarker), std::end(kMarker));
    if (window.end() - at < ptrdiff_t(kMarkerSize) || size_t(at - window.begin()) >= before)
      return std::nullopt;
    if ((at[4] & ~kLastFlag) == FlacFile::kStreamInfo && at[5] == 0 && at[6] == 0 &&
        at[7] == kStreamInfoSize)
      return size_t(at - window.begin());
  }
}

// Where "fLaC" starts: at `pos`, or, behind ID3v2 tags (the last of which starts at `lastTag`),
// a little before `pos` where the tag's size claims the head of the stream, or after bytes that
// some taggers and rippers leave there (a tag's padding miscounted, a tag cut short). Only
// bounded stretches are searched, the one after `pos` only when the bytes there are no MPEG
// audio, and only a "fLaC" followed by a stream info block's header counts there, so that other
// audio is not taken for FLAC.
std::optional<uint64_t> FindStart(ByteSource& source, uint64_t pos, uint64_t lastTag) {
  const uint64_t size = source.Size();
  uint8_t head[4];
  if (size - pos < 4 || !source.Read(pos, head, 4)) return std::nullopt;
  if (std::memcmp(head, "fLaC", 4) == 0) return pos;
  if (pos == 0) return std::nullopt;
  constexpr size_t kMarkerSize = 8;
  Bytes window;
  // Before: only within the tag's last bytes, after its header.
  const uint64_t back = std::min(Id3v2Tag::kMaxOvershoot, pos - lastTag - Id3v2Tag::kHeaderSize);
  if (back &&
      source.ReadBytes(pos - back,
                       size_t(std::min<uint64_t>(size - pos + back, back + kMarkerSize)), window)) {
    if (const auto at = FindMarker(window, size_t(back))) return pos - back + *at;
  }
  if (IsMpegSync(head)) return std::nullopt;
  if (!source.ReadBytes(
          pos, size_t(std::min<uint64_t>(size - pos, FlacFile::kMaxJunk + kMarkerSize)), window))
    return std::nullopt;
  if (const auto at = FindMarker(window, window.size())) return pos + *at;
  return std::nullopt;
}

// The blocks after "fLaC" at `pos`, up to the one flagged last: `whole` when every one lies inside
// the file and makes sense (the walk would otherwise run into the audio, which is never to be
// taken for metadata); `end` is where the audio starts, or where the walk stopped.
struct Chain {
  std::vector<FlacFile::Block> blocks;
  uint64_t end = 0;
  bool whole = false;
};

// What a comment or picture block's contents take from the body at `at`, read as far as the file
// or a block's 24-bit length allows; nothing when they pass that.
std::optional<uint32_t> ContentsLength(ByteSource& source, uint64_t at, uint8_t type) {
  Bytes body;
  if (!source.ReadBytes(at, size_t(std::min<uint64_t>(source.Size() - at, kMaxBlockLength)), body))
    return std::nullopt;
  if (type == FlacFile::kVorbisComment) {
    const auto comment = VorbisComment::Parse(body);
    if (!comment) return std::nullopt;
    return uint32_t(body.size() - comment->tail().size());
  }
  // Picture type, MIME type, description, four numbers of the image, its data.
  uint64_t pos = 4;
  for (const uint64_t skipped : {0, 0, 16}) {
    pos += skipped;
    if (body.size() < 4 || pos > body.size() - 4) return std::nullopt;
    pos += 4 + uint64_t(ReadBigEndian32(&body[pos]));
    if (pos > body.size()) return std::nullopt;
  }
  return uint32_t(pos);
}

Chain WalkBlocks(ByteSource& source, uint64_t pos, bool byContents) {
  Chain chain;
  const uint64_t size = source.Size();
  for (bool last = false; !last;) {
    chain.end = pos;
    uint8_t header[4];
    if (chain.blocks.size() >= FlacFile::kMaxBlocks || size - pos < 4 ||
        !source.Read(pos, header, 4))
      return chain;
    FlacFile::Block block;
    block.type = header[0] & ~kLastFlag;
    block.offset = pos;
    block.length = uint32_t(header[1]) << 16 | uint32_t(header[2]) << 8 | header[3];
    last = header[0] & kLastFlag;
    const bool first = chain.blocks.empty();
    if (block.type == FlacFile::kInvalid || (block.type == FlacFile::kStreamInfo) != first ||
        (first && block.length < kStreamInfoSize))
      return chain;
    if (byContents &&
        (block.type == FlacFile::kVorbisComment || block.type == FlacFile::kPicture)) {
      const auto length = ContentsLength(source, pos + 4, block.type);
      if (!length) return chain;
      block.length = *length;
    }
    if (block.End() > size) return chain;
    chain.blocks.push_back(block);
    pos = block.End();
  }
  chain.end = pos;
  chain.whole = true;
  return chain;
}

bool FrameSyncAt(ByteSource& source, uint64_t at) {
  uint8_t sync[2];
  return source.Size() - at >= 2 && source.Read(at, sync, 2) && IsFrameSync(sync);
}

uint8_t Crc8(const uint8_t* p, size_t length) {
  uint8_t crc = 0;
  for (size_t i = 0; i < length; ++i) {
    crc ^= p[i];
    for (int bit = 0; bit < 8; ++bit) crc = uint8_t(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
  }
  return crc;
}

// An audio frame's header at the end of `chain`: sync code, fields that are defined and agree
// with the stream info (sample rate, channels, sample size, where the header gives them), and its
// CRC-8.
bool FrameOfStreamAt(ByteSource& source, const Chain& chain) {
  uint8_t info[kStreamInfoSize];
  uint8_t frame[16];
  const uint64_t at = chain.end;
  if (chain.blocks.empty() || !source.Read(chain.blocks[0].offset + 4, info, sizeof info) ||
      source.Size() - at < 6)
    return false;
  const size_t available = size_t(std::min<uint64_t>(sizeof frame, source.Size() - at));
  if (!source.Read(at, frame, available) || !IsFrameSync(frame) || (frame[3] & 1)) return false;
  const uint32_t rate = uint32_t(info[10]) << 12 | uint32_t(info[11]) << 4 | info[12] >> 4;
  const uint32_t channels = ((info[12] >> 1) & 7) + 1;
  const uint32_t bits = ((info[12] & 1) << 4 | info[13] >> 4) + 1;
  const uint32_t minBlock = uint32_t(info[0]) << 8 | info[1];
  const uint32_t maxBlock = uint32_t(info[2]) << 8 | info[3];
  if (rate == 0 || minBlock < 16 || maxBlock < minBlock) return false;

  const int blockCode = frame[2] >> 4, rateCode = frame[2] & 0x0F;
  const int channelCode = frame[3] >> 4, bitsCode = (frame[3] >> 1) & 7;
  constexpr uint32_t kRates[12] = {0,     88200, 176400, 192000, 8000,  16000,
                                   22050, 24000, 32000,  44100,  48000, 96000};
  constexpr uint32_t kBits[8] = {0, 8, 12, 0, 16, 20, 24, 32};
  if (blockCode == 0 || rateCode == 15 || (rateCode && rateCode < 12 && kRates[rateCode] != rate))
    return false;
  if (channelCode > 10 || (channelCode < 8 ? uint32_t(channelCode) + 1 : 2u) != channels)
    return false;
  if (bitsCode == 3 || (bitsCode && kBits[bitsCode] != bits)) return false;
  // The frame or sample number, coded as UTF-8 is, then the block size and sample rate that the
  // codes say follow.
  size_t pos = 4;
  int more = 0;
  if (frame[pos] < 0x80) {
    more = 0;
  } else {
    while (more < 7 && (frame[pos] << (more + 1) & 0x80)) ++more;
    if (more == 0 || more > 6) return false;
  }
  pos += 1 + more;
  pos += blockCode == 6 ? 1 : blockCode == 7 ? 2 : 0;
  pos += rateCode == 12 ? 1 : rateCode == 13 || rateCode == 14 ? 2 : 0;
  return pos < available && Crc8(frame, pos) == frame[pos];
}

}  // namespace

std::unique_ptr<FlacFile> FlacFile::Parse(ByteSource& source) {
  const uint64_t size = source.Size();
  uint64_t pos = 0, lastTag = 0, claimed = 0;
  uint8_t head[Id3v2Tag::kHeaderSize];
  // ID3v2 tags in front, which some taggers put there; they stay as they are.
  for (int stacked = 0; stacked < kMaxStackedId3Tags; ++stacked) {
    if (size - pos < sizeof head || !source.Read(pos, head, sizeof head)) break;
    const auto total = Id3v2Tag::TotalSize(head);
    if (!total) break;
    if (*total > size - pos) {
      claimed = pos + *total;
      break;
    }
    lastTag = pos;
    pos += *total;
  }
  const auto start = FindStart(source, pos, lastTag);
  if (!start) return nullptr;
  // "fLaC" inside what a tag claims beyond the file's end is read, not written: once a save
  // grows the file, the tag would fit and be skipped, and the stream not be found again.
  const bool claimedByTag = *start < claimed;
  pos = *start + 4;

  Chain chain = WalkBlocks(source, pos, false);
  // The audio starts with a frame's sync code; anything else means the walk misread the
  // metadata (a missing last-block flag, say).
  const bool whole = chain.whole && (chain.end == size || FrameSyncAt(source, chain.end));
  auto file = FromBlocks(source, std::move(chain.blocks), chain.end, whole && !claimedByTag);
  if (file->valid_ || claimedByTag) return file;
  // Some writers leave a comment or picture block whose stated length is not what its contents
  // take; decoders and other taggers read those two by their contents, and find the next block
  // where they end. That reading is trusted only when it leads exactly to an audio frame whose
  // header is whole and belongs to the stream that the stream info describes.
  Chain byContents = WalkBlocks(source, pos, true);
  if (byContents.whole && FrameOfStreamAt(source, byContents)) {
    auto read = FromBlocks(source, std::move(byContents.blocks), byContents.end, true);
    if (read->valid_) return read;
  }
  return file;
}

std::unique_ptr<FlacFile> FlacFile::FromBlocks(ByteSource& source, std::vector<Block> blocks,
                                               uint64_t audioStart, bool whole) {
  const uint64_t size = source.Size();
  std::unique_ptr<FlacFile> file(new FlacFile());
  file->size_ = size;
  file->blocks_ = std::move(blocks);
  file->audioStart_ = audioStart;
  file->valid_ = whole;

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
      // A slipped block gets its true length, as other taggers write it: the blocks behind it
      // move, and a reader that trusts the stated length would no longer land where it found
      // the next block or the audio before.
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
