#include "mp3infp/OggFile.h"

#include <algorithm>
#include <cstring>

#include "mp3infp/Padding.h"

namespace mp3infp {
namespace {

using ogg::PageHeader;

// Header packets together larger than this (pictures of many megabytes) are not read.
constexpr uint64_t kMaxHeaderBytes = 64u << 20;
// The streams a link may start side by side before the one we tag.
constexpr size_t kMaxStreams = 64;
constexpr uint8_t kFlacLastBlock = 0x80;
constexpr uint8_t kFlacCommentBlock = 4;
constexpr size_t kFlacBlockHeader = 4;
constexpr uint32_t kFlacMaxBlock = 0xFFFFFF;

bool StartsWith(std::span<const uint8_t> bytes, std::string_view magic) {
  return bytes.size() >= magic.size() && std::memcmp(bytes.data(), magic.data(), magic.size()) == 0;
}

bool IdentifyVorbis(const Bytes& packet, OggIdentification& out) {
  if (packet.size() < 30) return false;
  out.channels = packet[11];
  out.sampleRate = ReadLittleEndian32(packet.data() + 12);
  const auto nominal = static_cast<int32_t>(ReadLittleEndian32(packet.data() + 20));
  out.nominalBitRate = nominal > 0 ? uint32_t(nominal) : 0;
  out.headerPackets = 3;
  return true;
}

bool IdentifyOpus(const Bytes& packet, OggIdentification& out) {
  if (packet.size() < 19) return false;
  // A later major version may lay the stream out otherwise.
  out.understood = !(packet[8] & 0xF0);
  out.channels = packet[9];
  out.preSkip = uint32_t(packet[10]) | uint32_t(packet[11]) << 8;
  out.sampleRate = 48000;  // what every Opus decoder gives; the header's rate is the input's
  out.headerPackets = 2;
  return true;
}

// "\x7FFLAC", the mapping's version, the number of header packets after this one (0: unknown),
// then "fLaC" and the STREAMINFO block as in a FLAC file.
bool IdentifyFlac(const Bytes& packet, OggIdentification& out) {
  if (packet.size() < 51 || !StartsWith(std::span(packet).subspan(9), "fLaC") ||
      (packet[13] & 0x7F) != 0) {
    return false;
  }
  out.understood = packet[5] == 1;
  const size_t following = size_t(packet[7]) << 8 | packet[8];
  out.headerPackets = following ? following + 1 : 0;
  const uint8_t* info = packet.data() + 17;
  out.sampleRate = uint32_t(info[10]) << 12 | uint32_t(info[11]) << 4 | info[12] >> 4;
  out.channels = ((info[12] >> 1) & 7) + 1u;
  return true;
}

bool VorbisHeadersValid(const std::vector<Bytes>& packets) {
  return packets.size() == 3 && StartsWith(packets[2], "\x05vorbis");
}

bool OpusHeadersValid(const std::vector<Bytes>& packets) { return packets.size() == 2; }

// After the identification header, each packet a whole metadata block (the comment first); the
// last one says so, and only it.
bool FlacHeadersValid(const std::vector<Bytes>& packets) {
  for (size_t i = 1; i < packets.size(); ++i) {
    const Bytes& block = packets[i];
    if (block.size() < kFlacBlockHeader ||
        (ReadBigEndian32(block.data()) & kFlacMaxBlock) != block.size() - kFlacBlockHeader ||
        bool(block[0] & kFlacLastBlock) != (i + 1 == packets.size()) || (block[0] & 0x7F) == 0x7F) {
      return false;
    }
  }
  return true;
}

constexpr OggMapping kMappings[] = {
    {FileKind::kOggVorbis, "Ogg Vorbis", "\x01vorbis", "\x03vorbis", true, false, true,
     IdentifyVorbis, VorbisHeadersValid},
    {FileKind::kOpus, "Opus", "OpusHead", "OpusTags", false, true, true, IdentifyOpus,
     OpusHeadersValid},
    // FLAC in Ogg is FLAC to the caller (its tag, its audio); the format names the container.
    {FileKind::kFlac, "FLAC (Ogg)",
     "\x7F"
     "FLAC",
     "", false, false, false, IdentifyFlac, FlacHeadersValid},
};

const OggMapping* MappingOf(std::span<const uint8_t> firstPacket) {
  for (const OggMapping& mapping : kMappings) {
    if (StartsWith(firstPacket, mapping.idMagic)) return &mapping;
  }
  return nullptr;
}

}  // namespace

std::unique_ptr<OggFile> OggFile::Parse(ByteSource& source) {
  // The streams of a link begin with their first pages side by side; the first one of a codec
  // we know is the one we tag.
  uint64_t offset = 0;
  const OggMapping* mapping = nullptr;
  PageHeader page;
  std::vector<uint32_t> serials;
  for (size_t stream = 0; stream < kMaxStreams && !mapping; ++stream) {
    if (!ogg::ReadPageHeader(source, offset, page) || !(page.flags() & ogg::kFirstPage)) {
      return nullptr;
    }
    Bytes magic;
    if (!source.ReadBytes(offset + page.headerLength(), std::min<size_t>(page.bodyLength, 8),
                          magic)) {
      return nullptr;
    }
    mapping = MappingOf(magic);
    if (!mapping) {
      serials.push_back(page.serial());
      offset += page.length();
    }
  }
  if (!mapping) return nullptr;
  auto file = std::make_unique<OggFile>();
  // Two streams of one serial number: which pages are whose cannot be told.
  if (std::find(serials.begin(), serials.end(), page.serial()) != serials.end()) {
    file->sound_ = false;
  }
  file->mapping_ = mapping;
  file->size_ = source.Size();
  if (!file->ParseHeaders(source, offset)) {
    file->sound_ = false;
    return file;
  }
  file->ScanLaterPages(source);
  return file;
}

bool OggFile::ParseHeaders(ByteSource& source, uint64_t start) {
  std::vector<Bytes> packets;
  Bytes packet;
  bool pending = false;
  uint64_t offset = start;
  size_t ours = 0;
  auto complete = [&] {
    if (packets.size() < 2) return false;
    if (id_.headerPackets) return packets.size() >= id_.headerPackets;
    // FLAC without a count: the block that says it is the last one.
    return !packets.back().empty() && (packets.back()[0] & kFlacLastBlock);
  };
  while (!complete()) {
    PageHeader page;
    if (!ogg::ReadPageHeader(source, offset, page)) return false;
    const uint64_t pageOffset = offset;
    offset += page.length();
    if (offset - start > kMaxHeaderBytes) return false;
    if (ours == 0) {
      serial_ = page.serial();
      firstSequence_ = page.sequence();
    } else if (page.serial() != serial_) {
      // Another stream's page: it stays, and stays in order among the other streams' pages.
      continue;
    }
    // A page missing or out of order: what we would write around it could not be right.
    if (page.sequence() != firstSequence_ + uint32_t(ours)) sound_ = false;
    Bytes body;
    if (!source.ReadBytes(pageOffset + page.headerLength(), page.bodyLength, body)) return false;
    if (!ogg::CrcMatches(page, body)) sound_ = false;
    if ((ours == 0) != bool(page.flags() & ogg::kFirstPage)) sound_ = false;
    if (bool(page.flags() & ogg::kContinued) != pending) return false;
    if (ours > 0) headerPages_.push_back({pageOffset, page.length(), page.fixed});
    size_t position = 0;
    for (size_t i = 0; i < page.segments; ++i) {
      if (complete()) {
        // Packets after the identification header on the first page: not a stream we rewrite.
        if (ours == 0) {
          sound_ = false;
          break;
        }
        sharedAudio_ =
            SharedAudio{page.flags(), page.granule(),
                        Bytes(page.lacing.begin() + i, page.lacing.begin() + page.segments),
                        Bytes(body.begin() + position, body.end())};
        break;
      }
      packet.insert(packet.end(), body.begin() + position,
                    body.begin() + position + page.lacing[i]);
      position += page.lacing[i];
      if (page.lacing[i] < 255) {
        packets.push_back(std::move(packet));
        packet.clear();
        if (packets.size() == 1 && !mapping_->identify(packets[0], id_)) return false;
        // The identification header alone on the first page, the others after it.
        if (ours == 0 && i + 1 != page.segments) sound_ = false;
      }
    }
    pending = page.endsOpen();
    if (ours == 0 && packets.size() != 1) sound_ = false;
    if (page.flags() & ogg::kLastPage && !complete()) return false;
    ++ours;
    // Header pages carry granule position 0; a shared page's is its audio's.
    headerGranule_ = sharedAudio_ ? 0 : page.granule();
    headerEndsStream_ = !sharedAudio_ && (page.flags() & ogg::kLastPage);
    if (id_.headerPackets == 0 && packets.size() > 0xFFFF) return false;
  }
  if (!id_.understood || headerPages_.empty() || !mapping_->headersValid(packets)) sound_ = false;
  if (!ParseComment(packets[1])) return false;
  otherHeaders_.assign(packets.begin() + 2, packets.end());
  return true;
}

bool OggFile::ParseComment(const Bytes& packet) {
  std::span<const uint8_t> list(packet);
  if (mapping_->commentMagic.empty()) {
    // A FLAC metadata block; its header is written anew, keeping whether it is the last block.
    if (packet.size() < kFlacBlockHeader || (packet[0] & 0x7F) != kFlacCommentBlock) return false;
    framing_ = packet[0];
    list = list.subspan(kFlacBlockHeader);
  } else {
    if (!StartsWith(packet, mapping_->commentMagic)) return false;
    list = list.subspan(mapping_->commentMagic.size());
  }
  auto comment = VorbisComment::Parse(list);
  if (!comment) return false;
  comment_ = std::move(*comment);
  std::span<const uint8_t> trailing = comment_.tail();
  if (mapping_->framingBit) {
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
  trailingIsPadding_ =
      mapping_->reusesPadding && zeros && (mapping_->addsPadding || !trailing_.empty());
  oldCommentLength_ = packet.size();
  commentRead_ = true;
  return true;
}

void OggFile::ScanLaterPages(ByteSource& source) {
  if (sharedAudio_) {
    audioBytes_ += sharedAudio_->body.size();
    if (sharedAudio_->granule != ogg::kNoGranule) lastGranule_ = sharedAudio_->granule;
    if (sharedAudio_->flags & ogg::kLastPage) return;
  }
  if (headerEndsStream_ || headerPages_.empty()) return;
  uint64_t offset = headerPages_.back().End();
  uint32_t expected = firstSequence_ + uint32_t(headerPages_.size()) + 1;
  while (offset < size_) {
    PageHeader page;
    if (!ogg::ReadPageHeader(source, offset, page)) {
      renumberable_ = false;
      return;
    }
    const uint64_t pageOffset = offset;
    offset += page.length();
    // Another stream's page stays where it is among ours.
    if (page.serial() != serial_) continue;
    if ((page.flags() & ogg::kFirstPage) || page.sequence() != expected) renumberable_ = false;
    expected = page.sequence() + 1;
    laterPages_.push_back({pageOffset, page.length(), page.fixed});
    audioBytes_ += page.length();
    if (page.granule() != ogg::kNoGranule) lastGranule_ = page.granule();
    // What follows the end of the stream (the next link of a chain) is kept as it is.
    if (page.flags() & ogg::kLastPage) return;
  }
}

Bytes OggFile::RenderComment(size_t padding, bool withTrailing) const {
  Bytes tail;
  if (mapping_->framingBit) tail.push_back(framing_);
  if (withTrailing) tail.insert(tail.end(), trailing_.begin(), trailing_.end());
  tail.resize(tail.size() + padding, 0);
  const Bytes list = comment_.Render(tail);
  Bytes out(mapping_->commentMagic.begin(), mapping_->commentMagic.end());
  if (mapping_->commentMagic.empty()) {
    out.push_back(framing_);
    for (int shift = 16; shift >= 0; shift -= 8) out.push_back(uint8_t(list.size() >> shift));
  }
  out.insert(out.end(), list.begin(), list.end());
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
  if (mapping_->commentMagic.empty() && content - kFlacBlockHeader > kFlacMaxBlock) {
    return std::nullopt;  // more than a FLAC block can say
  }
  // With audio on the last header page, one page less for the headers keeps the page count.
  const size_t headerPagesWanted = headerPages_.size() - (sharedAudio_ ? 1 : 0);
  size_t padding = 0;
  if (trailingIsPadding_) {
    if (content <= oldCommentLength_) {
      // Room beyond the policy's share is given back rather than carried on.
      padding = std::min<uint64_t>(oldCommentLength_ - content, MostPadding(size_));
    } else if (mapping_->addsPadding) {
      const size_t largest = ogg::LargestFitting(others, headerPagesWanted);
      padding = content <= largest ? std::min<size_t>(kFreshPadding, largest - content)
                                   : size_t(kFreshPadding);
    }
  }
  const Bytes comment = RenderComment(padding, !trailingIsPadding_);
  std::vector<const Bytes*> packets{&comment};
  packets.insert(packets.end(), others.begin(), others.end());
  ogg::Paginated headers = ogg::Paginate(packets, serial_, firstSequence_ + 1, headerGranule_,
                                         headerEndsStream_, headerPagesWanted);
  size_t pages = headers.pages;
  if (sharedAudio_) {
    ogg::AppendPage(headers.bytes, sharedAudio_->flags & ogg::kLastPage, sharedAudio_->granule,
                    serial_, firstSequence_ + 1 + uint32_t(pages), sharedAudio_->lacing,
                    sharedAudio_->body);
    ++pages;
  }

  // The new header pages where the first old one was; other streams' pages that lay between the
  // old ones follow them, in their order.
  plan.pieces.push_back({0, headerPages_.front().offset, {}, true});
  plan.pieces.push_back(
      {headerPages_.front().offset, headerPages_.front().length, std::move(headers.bytes), false});
  for (size_t i = 1; i < headerPages_.size(); ++i) {
    const uint64_t from = headerPages_[i - 1].End();
    if (headerPages_[i].offset > from) {
      plan.pieces.push_back({from, headerPages_[i].offset - from, {}, true});
    }
  }
  uint64_t position = headerPages_.back().End();
  if (pages != headerPages_.size()) {
    if (!renumberable_) return std::nullopt;
    // The header pages changed in number: every later page of the stream moves by as many.
    const uint32_t shift = uint32_t(pages) - uint32_t(headerPages_.size());
    for (const Page& page : laterPages_) {
      if (page.offset > position)
        plan.pieces.push_back({position, page.offset - position, {}, true});
      const auto fixed = ogg::Renumbered(
          page.fixed, ReadLittleEndian32(page.fixed.data() + 18) + shift, page.length);
      plan.pieces.push_back(
          {page.offset, ogg::kPageHeaderSize, Bytes(fixed.begin(), fixed.end()), false});
      plan.pieces.push_back(
          {page.offset + ogg::kPageHeaderSize, page.length - ogg::kPageHeaderSize, {}, true});
      position = page.End();
    }
  }
  if (position < size_) plan.pieces.push_back({position, size_ - position, {}, true});
  return plan;
}

StreamInfo OggFile::Stream() const {
  StreamInfo info;
  info.format = mapping_->format;
  info.sampleRate = id_.sampleRate;
  info.channels = id_.channels;
  if (lastGranule_ && id_.sampleRate) {
    // A granule position is a sample count; Opus counts at 48 kHz from before its pre-skip.
    if (*lastGranule_ > id_.preSkip && *lastGranule_ < (uint64_t(1) << 62)) {
      info.seconds = double(*lastGranule_ - id_.preSkip) / id_.sampleRate;
    }
  }
  if (id_.nominalBitRate) {
    info.bitRate = id_.nominalBitRate;
  } else if (info.seconds > 0) {
    info.bitRate = uint32_t(double(audioBytes_) * 8 / info.seconds);
  }
  return info;
}

}  // namespace mp3infp
