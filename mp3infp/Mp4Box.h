// The boxes of an ISO base media file (MP4) as far as the tags need them: the header of a box,
// boxes made anew, and the tree of the movie box (moov) read from its bytes, rendered again with
// changed children and moved chunk offsets.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "mp3infp/ByteSource.h"

namespace mp3infp::mp4 {

using FourCc = std::array<uint8_t, 4>;

constexpr FourCc Cc(const char (&text)[5]) {
  return {uint8_t(text[0]), uint8_t(text[1]), uint8_t(text[2]), uint8_t(text[3])};
}
// The iTunes item names that begin with the copyright sign.
constexpr FourCc Copyright(const char (&text)[4]) {
  return {0xA9, uint8_t(text[0]), uint8_t(text[1]), uint8_t(text[2])};
}
inline FourCc TypeAt(const uint8_t* p) { return {p[0], p[1], p[2], p[3]}; }
inline bool IsFree(const FourCc& type) { return type == Cc("free") || type == Cc("skip"); }

inline uint64_t ReadBigEndian64(const uint8_t* p) {
  return uint64_t(ReadBigEndian32(p)) << 32 | ReadBigEndian32(p + 4);
}
inline uint16_t ReadBigEndian16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

// The header of the box at `p` with `available` bytes left in its parent. Nothing when it does
// not fit; size 0 (to the end) gives `available`.
struct Header {
  uint64_t size;
  uint32_t headerSize;
};
std::optional<Header> ReadHeader(const uint8_t* p, uint64_t available);

// A box header for `payload` bytes after it; the 64-bit form when asked or when needed.
void AppendHeader(Bytes& out, const FourCc& type, uint64_t payload, bool large = false);
Bytes MakeBox(const FourCc& type, const Bytes& payload);
// The header of a free box of `size` bytes in all (at least 8; 16 past 4 GiB), and the whole
// box with zeros after the header.
Bytes FreeHeader(uint64_t size);
Bytes FreeBox(uint64_t size);

// A box as read from moov (offsets within moov) or made anew. Only the containers on the way to
// the items and to the chunk offsets are opened; every other box is kept as its bytes.
struct Box {
  FourCc type{};
  uint64_t offset = 0;  // of the header, within moov
  uint64_t size = 0;
  uint32_t headerSize = 8;  // 16 with a 64-bit size
  bool container = false;
  Bytes prefix;  // a container's bytes before its children (meta's version and flags)
  std::vector<Box> children;
  // The whole bytes of a box made anew, or of bytes too short to be a box that end a container
  // (QuickTime's four zero bytes), kept as they are (`tail`).
  std::optional<Bytes> made;
  bool tail = false;
};

// The first child of `type` read from the file.
const Box* Child(const Box& parent, const FourCc& type);
Box* Child(Box& parent, const FourCc& type);

// The children [first, last) that a run of free boxes around children[at] spans with it: the
// room a rewritten box may take in place.
std::pair<size_t, size_t> WithFreeAround(const std::vector<Box>& children, size_t at);

// The movie box: its bytes and the tree read from them.
class Moov {
 public:
  // Reads the tree of `bytes`, a whole moov box with a header of `headerSize` bytes; false when
  // a box we open does not fit its parent, so that nothing in it can be rewritten safely.
  bool Read(Bytes bytes, uint32_t headerSize);

  const Box& root() const { return root_; }
  const Bytes& bytes() const { return bytes_; }
  // The bytes of a box read from moov, whole or after its header.
  const uint8_t* Begin(const Box& box) const { return bytes_.data() + box.offset; }
  const uint8_t* Payload(const Box& box) const { return Begin(box) + box.headerSize; }
  const uint8_t* End(const Box& box) const { return Begin(box) + box.size; }

  // The box (from `root`, a copy of root() changed) as bytes, every chunk offset from
  // `shiftFrom` on moved by `shift`. False when a moved offset would not fit its table.
  bool Render(const Box& box, int64_t shift, uint64_t shiftFrom, Bytes& out) const;

 private:
  bool ReadChildren(Box& parent, uint64_t begin, uint64_t end, int depth);

  Bytes bytes_;
  Box root_;
};

}  // namespace mp3infp::mp4
