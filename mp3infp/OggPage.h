// Ogg pages (RFC 3533): the page header, its checksum, the lacing values that cut packets into
// segments, and the layout of packets over new pages. Nothing here knows which codec a stream
// carries.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "mp3infp/ByteSource.h"

namespace mp3infp {

// The Ogg page checksum: CRC-32 with the polynomial 0x04C11DB7, unreflected, starting at zero,
// over the page with its checksum field set to zero.
uint32_t OggCrc(std::span<const uint8_t> bytes, uint32_t crc = 0);

namespace ogg {

constexpr size_t kPageHeaderSize = 27;
constexpr uint8_t kContinued = 0x01;
constexpr uint8_t kFirstPage = 0x02;
constexpr uint8_t kLastPage = 0x04;
constexpr uint64_t kNoGranule = ~uint64_t(0);

// The fixed part of a page and its lacing values, as read from the file.
struct PageHeader {
  std::array<uint8_t, kPageHeaderSize> fixed{};
  std::array<uint8_t, 255> lacing{};
  size_t segments = 0;
  uint32_t bodyLength = 0;

  uint8_t flags() const { return fixed[5]; }
  uint64_t granule() const;
  uint32_t serial() const { return ReadLittleEndian32(fixed.data() + 14); }
  uint32_t sequence() const { return ReadLittleEndian32(fixed.data() + 18); }
  uint32_t crc() const { return ReadLittleEndian32(fixed.data() + 22); }
  uint32_t headerLength() const { return uint32_t(kPageHeaderSize + segments); }
  uint32_t length() const { return headerLength() + bodyLength; }
  // Whether the last packet on the page goes on to the next page.
  bool endsOpen() const { return segments > 0 && lacing[segments - 1] == 255; }
};

// The page at `offset`, when one starts there and lies whole in the file.
bool ReadPageHeader(ByteSource& source, uint64_t offset, PageHeader& page);
bool CrcMatches(const PageHeader& page, std::span<const uint8_t> body);

// The fixed header of a page of `length` bytes given the sequence number `sequence`, with its
// checksum mended from the old one alone: the checksum is linear, so the change is the checksum
// of the changed bytes followed by the rest of the page as zeros. Saves reading every body.
std::array<uint8_t, kPageHeaderSize> Renumbered(const std::array<uint8_t, kPageHeaderSize>& fixed,
                                                uint32_t sequence, uint32_t length);

// The largest packet that fits beside `others` on `pages` pages.
size_t LargestFitting(const std::vector<const Bytes*>& others, size_t pages);

// A page of at most 255 `lacing` values and their `body`, its checksum computed.
void AppendPage(Bytes& out, uint8_t flags, uint64_t granule, uint32_t serial, uint32_t sequence,
                std::span<const uint8_t> lacing, std::span<const uint8_t> body);

// Header packets laid out over pages that continue a stream, numbered from `firstSequence`.
// The pages number `wanted` when the lacing allows, so that the pages after them keep their
// sequence numbers. Every page on which a packet ends carries `granule` (header packets all have
// the same), the others none; the last one ends the stream when `endOfStream`.
struct Paginated {
  Bytes bytes;
  size_t pages = 0;
};
Paginated Paginate(const std::vector<const Bytes*>& packets, uint32_t serial,
                   uint32_t firstSequence, uint64_t granule, bool endOfStream, size_t wanted);

}  // namespace ogg
}  // namespace mp3infp
