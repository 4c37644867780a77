#include "mp3infp/OggFile.h"

#include <algorithm>
#include <cstring>

namespace mp3infp {
namespace {

constexpr size_t kPageHeaderSize = 27;
constexpr size_t kMaxPageHeader = kPageHeaderSize + 255;
constexpr uint8_t kContinued = 0x01;
constexpr uint8_t kFirstPage = 0x02;
constexpr uint8_t kLastPage = 0x04;
constexpr uint64_t kNoGranule = ~uint64_t(0);
// Header packets together larger than this (pictures of many megabytes) are not read.
constexpr uint64_t kMaxHeaderBytes = 64u << 20;
// Room left after an Opus comment list when the file is rewritten anyway, so that the next
// save of a few changed values fits in place.
constexpr size_t kOpusPadding = 1024;

constexpr std::string_view kVorbisId = "\x01vorbis";
constexpr std::string_view kVorbisComment = "\x03vorbis";
constexpr std::string_view kOpusHead = "OpusHead";
constexpr std::string_view kOpusTags = "OpusTags";

struct CrcTable {
  uint32_t entries[256];
  constexpr CrcTable() : entries() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t r = i << 24;
      for (int bit = 0; bit < 8; ++bit) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
      entries[i] = r;
    }
  }
};
constexpr CrcTable kCrcTable;

uint64_t ReadLittleEndian64(const uint8_t* p) {
  return uint64_t(ReadLittleEndian32(p)) | uint64_t(ReadLittleEndian32(p + 4)) << 32;
}

bool StartsWith(const Bytes& bytes, std::string_view magic) {
  return bytes.size() >= magic.size() && std::memcmp(bytes.data(), magic.data(), magic.size()) == 0;
}

// The fixed part of a page and its lacing values, as read from the file.
struct PageHeader {
  uint8_t fixed[kPageHeaderSize];
  uint8_t lacing[255];
  size_t segments = 0;
  uint32_t bodyLength = 0;

  uint8_t flags() const { return fixed[5]; }
  uint64_t granule() const { return ReadLittleEndian64(fixed + 6); }
  uint32_t serial() const { return ReadLittleEndian32(fixed + 14); }
  uint32_t crc() const { return ReadLittleEndian32(fixed + 22); }
  uint32_t headerLength() const { return uint32_t(kPageHeaderSize + segments); }
  uint32_t length() const { return headerLength() + bodyLength; }
};

// The page at `offset`, when one starts there and lies whole in the file.
bool ReadPageHeader(ByteSource& source, uint64_t offset, PageHeader& page) {
  const uint64_t size = source.Size();
  if (offset >= size || size - offset < kPageHeaderSize) return false;
  uint8_t buffer[kMaxPageHeader];
  const size_t wanted = size_t(std::min<uint64_t>(kMaxPageHeader, size - offset));
  if (!source.Read(offset, buffer, wanted)) return false;
  if (std::memcmp(buffer, "OggS", 4) != 0 || buffer[4] != 0) return false;
  page.segments = buffer[26];
  if (wanted < kPageHeaderSize + page.segments) return false;
  std::memcpy(page.fixed, buffer, kPageHeaderSize);
  std::memcpy(page.lacing, buffer + kPageHeaderSize, page.segments);
  page.bodyLength = 0;
  for (size_t i = 0; i < page.segments; ++i) page.bodyLength += page.lacing[i];
  return page.length() <= size - offset;
}

bool CrcMatches(const PageHeader& page, const Bytes& body) {
  uint8_t fixed[kPageHeaderSize];
  std::memcpy(fixed, page.fixed, kPageHeaderSize);
  std::memset(fixed + 22, 0, 4);
  uint32_t crc = OggCrc(fixed);
  crc = OggCrc({page.lacing, page.segments}, crc);
  crc = OggCrc(body, crc);
  return crc == page.crc();
}

// The checksum of a page whose sequence number changed from `oldSequence` to `newSequence`,
// from its old checksum alone: the checksum is linear, so the change is the checksum of the
// changed bytes followed by the rest of the page as zeros. Saves reading every page's body.
uint32_t MovedCrc(uint32_t oldCrc, uint32_t oldSequence, uint32_t newSequence, uint32_t length) {
  Bytes change;
  AppendLittleEndian32(change, oldSequence ^ newSequence);
  uint32_t crc = OggCrc(change);
  for (uint32_t i = 22; i < length; ++i) crc = (crc << 8) ^ kCrcTable.entries[crc >> 24];
  return oldCrc ^ crc;
}

void AppendLittleEndian64(Bytes& out, uint64_t v) {
  AppendLittleEndian32(out, uint32_t(v));
  AppendLittleEndian32(out, uint32_t(v >> 32));
}

std::vector<uint8_t> LacingOf(const std::vector<const Bytes*>& packets) {
  std::vector<uint8_t> lacing;
  for (const Bytes* packet : packets) {
    lacing.insert(lacing.end(), packet->size() / 255, 255);
    lacing.push_back(uint8_t(packet->size() % 255));
  }
  return lacing;
}

// The largest packet that fits beside `others` on `pages` pages.
size_t LargestFitting(const std::vector<const Bytes*>& others, size_t pages) {
  const size_t segments = LacingOf(others).size();
  if (segments + 1 > pages * 255) return 0;
  return (pages * 255 - segments - 1) * 255 + 254;
}

// Lays `packets` out over pages that continue a stream after its first page. The pages number
// `wanted` when the lacing allows, so that the pages after them keep their sequence numbers;
// `pages` tells how many there are. Every page on which a packet ends carries `granule` (header
// packets all have the same), the others none.
Bytes Paginate(const std::vector<const Bytes*>& packets, uint32_t serial, uint64_t granule,
               bool endOfStream, size_t wanted, size_t& pages) {
  const std::vector<uint8_t> lacing = LacingOf(packets);
  Bytes data;
  for (const Bytes* packet : packets) data.insert(data.end(), packet->begin(), packet->end());
  const size_t segments = lacing.size();
  pages = std::max((segments + 254) / 255, std::min(wanted, segments));
  Bytes out;
  size_t segment = 0, position = 0;
  for (size_t page = 0; page < pages; ++page) {
    const size_t count = segments / pages + (page < segments % pages ? 1 : 0);
    const size_t start = out.size();
    const bool continued = segment > 0 && lacing[segment - 1] == 255;
    const bool packetEnds = std::any_of(lacing.begin() + segment, lacing.begin() + segment + count,
                                        [](uint8_t lace) { return lace < 255; });
    out.insert(out.end(), {'O', 'g', 'g', 'S', 0});
    out.push_back(
        uint8_t((continued ? kContinued : 0) | (endOfStream && page + 1 == pages ? kLastPage : 0)));
    AppendLittleEndian64(out, packetEnds ? granule : kNoGranule);
    AppendLittleEndian32(out, serial);
    AppendLittleEndian32(out, uint32_t(page + 1));
    AppendLittleEndian32(out, 0);
    out.push_back(uint8_t(count));
    size_t bodyLength = 0;
    for (size_t i = 0; i < count; ++i) {
      out.push_back(lacing[segment + i]);
      bodyLength += lacing[segment + i];
    }
    out.insert(out.end(), data.begin() + position, data.begin() + position + bodyLength);
    position += bodyLength;
    segment += count;
    const uint32_t crc = OggCrc({out.data() + start, out.size() - start});
    for (int i = 0; i < 4; ++i) out[start + 22 + i] = uint8_t(crc >> (8 * i));
  }
  return out;
}

}  // namespace

uint32_t OggCrc(std::span<const uint8_t> bytes, uint32_t crc) {
  for (uint8_t byte : bytes) crc = (crc << 8) ^ kCrcTable.entries[(crc >> 24) ^ byte];
  return crc;
}

std::unique_ptr<OggFile> OggFile::Parse(ByteSource& source) {
  PageHeader first;
  if (!ReadPageHeader(source, 0, first) || !(first.flags() & kFirstPage)) return nullptr;
  Bytes magic;
  if (!source.ReadBytes(first.headerLength(), std::min<size_t>(first.bodyLength, 8), magic)) {
    return nullptr;
  }
  auto file = std::make_unique<OggFile>();
  if (StartsWith(magic, kOpusHead)) {
    file->opus_ = true;
  } else if (!StartsWith(magic, kVorbisId)) {
    return nullptr;
  }
  file->size_ = source.Size();
  if (!file->ParseHeaders(source)) {
    file->sound_ = false;
    return file;
  }
  file->ScanLaterPages(source);
  return file;
}

bool OggFile::ParseHeaders(ByteSource& source) {
  const size_t wanted = opus_ ? 2 : 3;
  std::vector<Bytes> packets;
  Bytes packet;
  bool pending = false;
  uint64_t offset = 0, read = 0;
  size_t ours = 0;
  while (packets.size() < wanted) {
    PageHeader page;
    if (!ReadPageHeader(source, offset, page)) return false;
    const uint64_t pageOffset = offset;
    offset += page.length();
    if (ours == 0) serial_ = page.serial();
    if (page.serial() != serial_) {
      // Another stream's pages between ours: multiplexed, which a rewrite of our pages alone
      // cannot keep in order.
      sound_ = false;
      continue;
    }
    Bytes body;
    read += page.length();
    if (read > kMaxHeaderBytes ||
        !source.ReadBytes(pageOffset + page.headerLength(), page.bodyLength, body)) {
      return false;
    }
    if (!CrcMatches(page, body)) sound_ = false;
    if ((ours == 0) != bool(page.flags() & kFirstPage)) sound_ = false;
    if (bool(page.flags() & kContinued) != pending) return false;
    if (ours == 1) headerBegin_ = pageOffset;
    size_t position = 0;
    for (size_t i = 0; i < page.segments; ++i) {
      if (packets.size() == wanted) {
        // An audio packet on the last header page: a layout we do not rewrite.
        sound_ = false;
        break;
      }
      packet.insert(packet.end(), body.begin() + position,
                    body.begin() + position + page.lacing[i]);
      position += page.lacing[i];
      if (page.lacing[i] < 255) {
        packets.push_back(std::move(packet));
        packet.clear();
        // The identification header alone on the first page, the others after it.
        if (ours == 0 && i + 1 != page.segments) sound_ = false;
      }
    }
    pending = page.segments > 0 && page.lacing[page.segments - 1] == 255;
    if (ours == 0 && packets.size() != 1) sound_ = false;
    if (page.flags() & kLastPage && packets.size() < wanted) return false;
    ++ours;
    headerEnd_ = offset;
    headerGranule_ = page.granule();
    headerEndsStream_ = page.flags() & kLastPage;
  }
  headerPages_ = ours - 1;
  if (!ParseIdentification(packets[0])) return false;
  if (!ParseComment(packets[1])) return false;
  otherHeaders_.assign(packets.begin() + 2, packets.end());
  if (!opus_ && !StartsWith(otherHeaders_[0], "\x05vorbis")) sound_ = false;
  return true;
}

bool OggFile::ParseIdentification(const Bytes& packet) {
  if (opus_) {
    if (packet.size() < 19) return false;
    // A later major version may lay the stream out otherwise.
    if (packet[8] & 0xF0) sound_ = false;
    channels_ = packet[9];
    preSkip_ = uint32_t(packet[10]) | uint32_t(packet[11]) << 8;
    sampleRate_ = 48000;  // what every Opus decoder gives; the header's rate is the input's
    return true;
  }
  if (packet.size() < 30) return false;
  channels_ = packet[11];
  sampleRate_ = ReadLittleEndian32(packet.data() + 12);
  const auto nominal = static_cast<int32_t>(ReadLittleEndian32(packet.data() + 20));
  nominalBitRate_ = nominal > 0 ? uint32_t(nominal) : 0;
  return true;
}

bool OggFile::ParseComment(const Bytes& packet) {
  const std::string_view magic = opus_ ? kOpusTags : kVorbisComment;
  if (!StartsWith(packet, magic)) return false;
  auto comment = VorbisComment::Parse(std::span(packet).subspan(magic.size()));
  if (!comment) return false;
  comment_ = std::move(*comment);
  std::span<const uint8_t> trailing = comment_.tail();
  if (!opus_) {
    // The framing bit ends a Vorbis comment header; without it decoders refuse the stream.
    if (trailing.empty() || !(trailing[0] & 1)) {
      sound_ = false;
    } else {
      framing_ = trailing[0];
      trailing = trailing.subspan(1);
    }
  }
  trailing_.assign(trailing.begin(), trailing.end());
  const bool zeros = std::all_of(trailing_.begin(), trailing_.end(), [](uint8_t b) { return !b; });
  // Opus allows padding after the list (RFC 7845, 5.2), Vorbis has no such room: there we only
  // reuse zero bytes that an earlier tagger left after the framing byte, and never add any.
  trailingIsPadding_ = zeros && (opus_ || !trailing_.empty());
  oldCommentLength_ = packet.size();
  commentRead_ = true;
  return true;
}

void OggFile::ScanLaterPages(ByteSource& source) {
  uint64_t offset = headerEnd_;
  streamEnd_ = headerEnd_;
  if (headerEndsStream_) return;
  while (offset < size_) {
    PageHeader page;
    if (!ReadPageHeader(source, offset, page)) {
      renumberable_ = false;
      return;
    }
    if (page.serial() != serial_ || (page.flags() & kFirstPage)) {
      // A page of another stream before this one ended: a multiplexed file.
      sound_ = false;
      return;
    }
    Page later{offset, page.length(), {}};
    std::memcpy(later.header.data(), page.fixed, kPageHeaderSize);
    laterPages_.push_back(later);
    if (page.granule() != kNoGranule) lastGranule_ = page.granule();
    offset += page.length();
    streamEnd_ = offset;
    // What follows the end of the stream (the next link of a chain) is kept as it is.
    if (page.flags() & kLastPage) return;
  }
}

Bytes OggFile::RenderComment(size_t padding, bool withTrailing) const {
  Bytes tail;
  if (!opus_) tail.push_back(framing_);
  if (withTrailing) tail.insert(tail.end(), trailing_.begin(), trailing_.end());
  tail.resize(tail.size() + padding, 0);
  const std::string_view magic = opus_ ? kOpusTags : kVorbisComment;
  Bytes out(magic.begin(), magic.end());
  const Bytes comment = comment_.Render(tail);
  out.insert(out.end(), comment.begin(), comment.end());
  return out;
}

bool OggFile::Set(ValueName name, std::string_view value, const TextCodec& codec) {
  if (name.tag != TagKind::kDefault || !commentRead_) return false;
  comment_.SetField(name.field, value, codec);
  changed_ = true;
  return true;
}

std::optional<std::string> OggFile::Get(ValueName name, const TextCodec& codec) const {
  if (name.tag != TagKind::kDefault) return std::nullopt;
  return comment_.GetField(name.field, codec);
}

std::optional<SavePlan> OggFile::Plan() const {
  if (!sound_ || !commentRead_) return std::nullopt;
  SavePlan plan;
  plan.oldSize = size_;
  if (!changed_) {
    plan.pieces.push_back({0, size_, {}, true});
    return plan;
  }

  std::vector<const Bytes*> others;
  for (const auto& header : otherHeaders_) others.push_back(&header);
  const size_t content = RenderComment(0, !trailingIsPadding_).size();
  size_t padding = 0;
  if (trailingIsPadding_) {
    if (content <= oldCommentLength_) {
      padding = oldCommentLength_ - content;
    } else if (opus_) {
      const size_t largest = LargestFitting(others, headerPages_);
      padding = content <= largest ? std::min(kOpusPadding, largest - content) : kOpusPadding;
    }
  }
  const Bytes comment = RenderComment(padding, !trailingIsPadding_);
  std::vector<const Bytes*> packets{&comment};
  packets.insert(packets.end(), others.begin(), others.end());
  size_t pages = 0;
  Bytes headers =
      Paginate(packets, serial_, headerGranule_, headerEndsStream_, headerPages_, pages);

  plan.pieces.push_back({0, headerBegin_, {}, true});
  plan.pieces.push_back({headerBegin_, headerEnd_ - headerBegin_, std::move(headers), false});
  if (pages == headerPages_) {
    if (headerEnd_ < size_) plan.pieces.push_back({headerEnd_, size_ - headerEnd_, {}, true});
    return plan;
  }
  if (!renumberable_) return std::nullopt;
  // The header pages changed in number: every later page of the stream moves by as many.
  const uint32_t shift = uint32_t(pages) - uint32_t(headerPages_);
  for (const Page& page : laterPages_) {
    Bytes header(page.header.begin(), page.header.end());
    const uint32_t sequence = ReadLittleEndian32(header.data() + 18);
    const uint32_t moved = sequence + shift;
    const uint32_t crc =
        MovedCrc(ReadLittleEndian32(header.data() + 22), sequence, moved, page.length);
    for (int i = 0; i < 4; ++i) {
      header[18 + i] = uint8_t(moved >> (8 * i));
      header[22 + i] = uint8_t(crc >> (8 * i));
    }
    plan.pieces.push_back({page.offset, kPageHeaderSize, std::move(header), false});
    plan.pieces.push_back({page.offset + kPageHeaderSize, page.length - kPageHeaderSize, {}, true});
  }
  if (streamEnd_ < size_) plan.pieces.push_back({streamEnd_, size_ - streamEnd_, {}, true});
  return plan;
}

StreamInfo OggFile::Stream() const {
  StreamInfo info;
  info.format = opus_ ? "Opus" : "Ogg Vorbis";
  info.sampleRate = sampleRate_;
  info.channels = channels_;
  if (lastGranule_ && sampleRate_) {
    const uint64_t skipped = opus_ ? preSkip_ : 0;
    // A granule position is a sample count; Opus counts at 48 kHz from before its pre-skip.
    if (*lastGranule_ > skipped && *lastGranule_ < (uint64_t(1) << 62)) {
      info.seconds = double(*lastGranule_ - skipped) / sampleRate_;
    }
  }
  if (nominalBitRate_) {
    info.bitRate = nominalBitRate_;
  } else if (info.seconds > 0) {
    info.bitRate = uint32_t(double(streamEnd_ - headerEnd_) * 8 / info.seconds);
  }
  return info;
}

}  // namespace mp3infp
