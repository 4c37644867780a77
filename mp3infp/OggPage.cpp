#include "mp3infp/OggPage.h"

#include <algorithm>
#include <cstring>

namespace mp3infp {
namespace {

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

void AppendLittleEndian64(Bytes& out, uint64_t v) {
  AppendLittleEndian32(out, uint32_t(v));
  AppendLittleEndian32(out, uint32_t(v >> 32));
}

void PutLittleEndian32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

std::vector<uint8_t> LacingOf(const std::vector<const Bytes*>& packets) {
  std::vector<uint8_t> lacing;
  for (const Bytes* packet : packets) {
    lacing.insert(lacing.end(), packet->size() / 255, 255);
    lacing.push_back(uint8_t(packet->size() % 255));
  }
  return lacing;
}

}  // namespace

uint32_t OggCrc(std::span<const uint8_t> bytes, uint32_t crc) {
  for (uint8_t byte : bytes) crc = (crc << 8) ^ kCrcTable.entries[(crc >> 24) ^ byte];
  return crc;
}

namespace ogg {

uint64_t PageHeader::granule() const {
  return uint64_t(ReadLittleEndian32(fixed.data() + 6)) |
         uint64_t(ReadLittleEndian32(fixed.data() + 10)) << 32;
}

bool ReadPageHeader(ByteSource& source, uint64_t offset, PageHeader& page) {
  const uint64_t size = source.Size();
  if (offset >= size || size - offset < kPageHeaderSize) return false;
  uint8_t buffer[kPageHeaderSize + 255];
  const size_t wanted = size_t(std::min<uint64_t>(sizeof buffer, size - offset));
  if (!source.Read(offset, buffer, wanted)) return false;
  if (std::memcmp(buffer, "OggS", 4) != 0 || buffer[4] != 0) return false;
  page.segments = buffer[26];
  if (wanted < kPageHeaderSize + page.segments) return false;
  std::memcpy(page.fixed.data(), buffer, kPageHeaderSize);
  std::memcpy(page.lacing.data(), buffer + kPageHeaderSize, page.segments);
  page.bodyLength = 0;
  for (size_t i = 0; i < page.segments; ++i) page.bodyLength += page.lacing[i];
  return page.length() <= size - offset;
}

bool CrcMatches(const PageHeader& page, std::span<const uint8_t> body) {
  std::array<uint8_t, kPageHeaderSize> fixed = page.fixed;
  PutLittleEndian32(fixed.data() + 22, 0);
  uint32_t crc = OggCrc(fixed);
  crc = OggCrc({page.lacing.data(), page.segments}, crc);
  crc = OggCrc(body, crc);
  return crc == page.crc();
}

std::array<uint8_t, kPageHeaderSize> Renumbered(const std::array<uint8_t, kPageHeaderSize>& fixed,
                                                uint32_t sequence, uint32_t length) {
  const uint32_t old = ReadLittleEndian32(fixed.data() + 18);
  Bytes change;
  AppendLittleEndian32(change, old ^ sequence);
  uint32_t crc = OggCrc(change);
  for (uint32_t i = 22; i < length; ++i) crc = (crc << 8) ^ kCrcTable.entries[crc >> 24];
  std::array<uint8_t, kPageHeaderSize> out = fixed;
  PutLittleEndian32(out.data() + 18, sequence);
  PutLittleEndian32(out.data() + 22, ReadLittleEndian32(fixed.data() + 22) ^ crc);
  return out;
}

size_t LargestFitting(const std::vector<const Bytes*>& others, size_t pages) {
  const size_t segments = LacingOf(others).size();
  if (segments + 1 > pages * 255) return 0;
  return (pages * 255 - segments - 1) * 255 + 254;
}

void AppendPage(Bytes& out, uint8_t flags, uint64_t granule, uint32_t serial, uint32_t sequence,
                std::span<const uint8_t> lacing, std::span<const uint8_t> body) {
  const size_t start = out.size();
  out.insert(out.end(), {'O', 'g', 'g', 'S', 0, flags});
  AppendLittleEndian64(out, granule);
  AppendLittleEndian32(out, serial);
  AppendLittleEndian32(out, sequence);
  AppendLittleEndian32(out, 0);
  out.push_back(uint8_t(lacing.size()));
  out.insert(out.end(), lacing.begin(), lacing.end());
  out.insert(out.end(), body.begin(), body.end());
  PutLittleEndian32(out.data() + start + 22, OggCrc({out.data() + start, out.size() - start}));
}

Paginated Paginate(const std::vector<const Bytes*>& packets, uint32_t serial,
                   uint32_t firstSequence, uint64_t granule, bool endOfStream, size_t wanted) {
  const std::vector<uint8_t> lacing = LacingOf(packets);
  Bytes data;
  for (const Bytes* packet : packets) data.insert(data.end(), packet->begin(), packet->end());
  const size_t segments = lacing.size();
  Paginated result;
  const size_t pages = std::max((segments + 254) / 255, std::min(wanted, segments));
  result.pages = pages;
  Bytes& out = result.bytes;
  size_t segment = 0, position = 0;
  for (size_t page = 0; page < pages; ++page) {
    const size_t count = segments / pages + (page < segments % pages ? 1 : 0);
    const bool continued = segment > 0 && lacing[segment - 1] == 255;
    const bool packetEnds = std::any_of(lacing.begin() + segment, lacing.begin() + segment + count,
                                        [](uint8_t lace) { return lace < 255; });
    const std::span<const uint8_t> pageLacing(lacing.data() + segment, count);
    size_t bodyLength = 0;
    for (uint8_t lace : pageLacing) bodyLength += lace;
    AppendPage(
        out,
        uint8_t((continued ? kContinued : 0) | (endOfStream && page + 1 == pages ? kLastPage : 0)),
        packetEnds ? granule : kNoGranule, serial, firstSequence + uint32_t(page), pageLacing,
        {data.data() + position, bodyLength});
    position += bodyLength;
    segment += count;
  }
  return result;
}

}  // namespace ogg
}  // namespace mp3infp
