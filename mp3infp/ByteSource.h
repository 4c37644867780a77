// Random access to the bytes of a file being parsed. The format code reads only the regions it
// needs (the tags at the head and the tail, chunk headers), so that a tag can be updated in a
// large file without reading its audio.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace mp3infp {

using Bytes = std::vector<uint8_t>;

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Reads exactly `length` bytes at `offset`; false when they are not all there or reading fails.
  virtual bool Read(uint64_t offset, void* buffer, size_t length) = 0;

  // `length` bytes at `offset`, or false.
  bool ReadBytes(uint64_t offset, size_t length, Bytes& out) {
    out.resize(length);
    if (length == 0) return true;
    if (offset > Size() || length > Size() - offset) return false;
    return Read(offset, out.data(), length);
  }
};

class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::span<const uint8_t> data) : data_(data) {}
  uint64_t Size() const override { return data_.size(); }
  bool Read(uint64_t offset, void* buffer, size_t length) override {
    if (offset > data_.size() || length > data_.size() - offset) return false;
    if (length) std::memcpy(buffer, data_.data() + offset, length);
    return true;
  }

 private:
  std::span<const uint8_t> data_;
};

inline uint32_t ReadBigEndian32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint32_t ReadLittleEndian32(const uint8_t* p) {
  return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}
inline void AppendBigEndian32(Bytes& out, uint32_t v) {
  out.insert(out.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}
inline void AppendLittleEndian32(Bytes& out, uint32_t v) {
  out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
}
// ID3v2 "synchsafe" integers: seven bits per byte, the top bit always clear.
inline bool IsSyncSafe(const uint8_t* p) { return ((p[0] | p[1] | p[2] | p[3]) & 0x80) == 0; }
inline uint32_t ReadSyncSafe32(const uint8_t* p) {
  return uint32_t(p[0] & 0x7f) << 21 | uint32_t(p[1] & 0x7f) << 14 | uint32_t(p[2] & 0x7f) << 7 |
         (p[3] & 0x7f);
}
inline void AppendSyncSafe32(Bytes& out, uint32_t v) {
  out.insert(out.end(), {uint8_t((v >> 21) & 0x7f), uint8_t((v >> 14) & 0x7f),
                         uint8_t((v >> 7) & 0x7f), uint8_t(v & 0x7f)});
}

}  // namespace mp3infp
