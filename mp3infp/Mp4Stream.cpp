#include "mp3infp/Mp4Stream.h"

#include <algorithm>

namespace mp3infp::mp4 {
namespace {

// An MPEG-4 descriptor's length: up to four bytes of seven bits.
std::optional<uint32_t> DescriptorLength(const uint8_t*& p, const uint8_t* end) {
  uint32_t length = 0;
  for (int i = 0; i < 4; ++i) {
    if (p >= end) return std::nullopt;
    const uint8_t byte = *p++;
    length = length << 7 | (byte & 0x7F);
    if (!(byte & 0x80)) return length;
  }
  return length;
}

// The average bit rate of the DecoderConfigDescriptor in an esds payload; 0 when not found.
uint32_t EsdsAverageBitRate(const uint8_t* p, const uint8_t* end) {
  if (end - p < 4) return 0;
  p += 4;  // version and flags
  if (p >= end || *p++ != 0x03) return 0;
  auto length = DescriptorLength(p, end);
  if (!length || end - p < 3) return 0;
  const uint8_t flags = p[2];
  size_t skip = 3 + (flags & 0x80 ? 2 : 0) + (flags & 0x20 ? 2 : 0);
  if (flags & 0x40) {
    const size_t at = 3 + (flags & 0x80 ? 2 : 0);
    if (end - p <= ptrdiff_t(at)) return 0;
    skip += 1 + p[at];
  }
  if (end - p <= ptrdiff_t(skip)) return 0;
  p += skip;
  if (*p++ != 0x04) return 0;
  length = DescriptorLength(p, end);
  if (!length || end - p < 13) return 0;
  return ReadBigEndian32(p + 9);
}

// The time scale and length of an mvhd or mdhd box, version 0 or 1.
bool Duration(const Moov& moov, const Box* box, uint32_t& timescale, uint64_t& length) {
  if (!box) return false;
  const uint8_t *p = moov.Payload(*box), *end = moov.End(*box);
  if (end - p >= 20 && p[0] == 0) {
    timescale = ReadBigEndian32(p + 12);
    length = ReadBigEndian32(p + 16);
  } else if (end - p >= 32 && p[0] == 1) {
    timescale = ReadBigEndian32(p + 20);
    length = ReadBigEndian64(p + 24);
  } else {
    return false;
  }
  return timescale != 0;
}

// The codec, rate and channels of the first entry of a sample description.
void ReadSampleEntry(const Moov& moov, const Box& stsd, StreamInfo& stream) {
  const uint8_t *p = moov.Payload(stsd), *end = moov.End(stsd);
  const auto entry = end - p >= 8 ? ReadHeader(p + 8, uint64_t(end - p - 8)) : std::nullopt;
  if (!entry || entry->headerSize != 8 || entry->size < 36) return;
  const uint8_t* e = p + 8;
  const FourCc format = TypeAt(e + 4);
  const uint16_t version = ReadBigEndian16(e + 16);
  if (version == 0 || version == 1) {
    stream.channels = ReadBigEndian16(e + 24);
    stream.sampleRate = ReadBigEndian16(e + 32);
  }
  const uint64_t childrenAt = version == 1 ? 52 : version == 2 ? 72 : 36;
  for (uint64_t offset = childrenAt; offset < entry->size;) {
    const auto child = ReadHeader(e + offset, entry->size - offset);
    if (!child || ReadBigEndian32(e + offset) == 0) break;
    const uint8_t* c = e + offset + child->headerSize;
    const uint64_t size = child->size - child->headerSize;
    if (TypeAt(e + offset + 4) == Cc("esds")) {
      stream.bitRate = EsdsAverageBitRate(c, c + size);
    } else if (TypeAt(e + offset + 4) == Cc("alac") && size >= 28) {
      stream.channels = c[13];
      stream.bitRate = ReadBigEndian32(c + 20);
      stream.sampleRate = ReadBigEndian32(c + 24);
    }
    offset += child->size;
  }
  if (format == Cc("mp4a")) stream.format = "MP4 (AAC)";
  if (format == Cc("alac")) stream.format = "MP4 (ALAC)";
}

// The bits of every sample over the length, for a stream that states no nominal rate.
uint32_t AverageBitRate(const Moov& moov, const Box& stsz, uint32_t timescale, uint64_t length) {
  const uint8_t *p = moov.Payload(stsz), *end = moov.End(stsz);
  if (end - p < 12) return 0;
  const uint32_t sampleSize = ReadBigEndian32(p + 4);
  const uint64_t count = ReadBigEndian32(p + 8);
  uint64_t total = 0;
  if (sampleSize != 0) {
    total = sampleSize * count;
  } else if (count <= uint64_t(end - p - 12) / 4) {
    for (uint64_t i = 0; i < count; ++i) total += ReadBigEndian32(p + 12 + 4 * i);
  }
  return uint32_t(std::min<double>(UINT32_MAX, double(total) * 8 * timescale / double(length)));
}

}  // namespace

StreamInfo ReadStream(const Moov& moov) {
  StreamInfo stream;
  stream.format = "MP4";
  uint32_t timescale = 0;
  uint64_t length = 0;
  for (const Box& trak : moov.root().children) {
    if (trak.made || trak.type != Cc("trak") || !trak.container) continue;
    const Box* mdia = Child(trak, Cc("mdia"));
    const Box* handler = mdia ? Child(*mdia, Cc("hdlr")) : nullptr;
    if (!handler) continue;
    if (moov.End(*handler) - moov.Payload(*handler) < 12 ||
        TypeAt(moov.Payload(*handler) + 8) != Cc("soun"))
      continue;
    Duration(moov, Child(*mdia, Cc("mdhd")), timescale, length);
    const Box* minf = Child(*mdia, Cc("minf"));
    const Box* stbl = minf ? Child(*minf, Cc("stbl")) : nullptr;
    if (const Box* stsd = stbl ? Child(*stbl, Cc("stsd")) : nullptr) {
      ReadSampleEntry(moov, *stsd, stream);
    }
    if (stream.sampleRate == 0) stream.sampleRate = timescale;
    if (stream.bitRate == 0 && stbl && timescale && length) {
      if (const Box* stsz = Child(*stbl, Cc("stsz"))) {
        stream.bitRate = AverageBitRate(moov, *stsz, timescale, length);
      }
    }
    break;
  }
  if (timescale == 0 || length == 0)
    Duration(moov, Child(moov.root(), Cc("mvhd")), timescale, length);
  if (timescale != 0) stream.seconds = double(length) / timescale;
  return stream;
}

}  // namespace mp3infp::mp4
