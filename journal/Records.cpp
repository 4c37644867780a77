#include "journal/Records.h"

#include <array>
#include <cstring>

namespace journal {
namespace {

// A record no journal of ours can hold: guards the reader against a length read from garbage.
constexpr uint32_t kMaxRecord = 64u << 20;

uint32_t Crc32(const uint8_t* data, size_t size) {
  static const auto table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

class Out {
 public:
  void U8(uint8_t v) { bytes.push_back(v); }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void U64(uint64_t v) {
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void Text(const std::u16string& text) {
    U32(static_cast<uint32_t>(text.size()));
    for (char16_t c : text) U8(static_cast<uint8_t>(c)), U8(static_cast<uint8_t>(c >> 8));
  }
  void Data(const std::vector<uint8_t>& data) {
    U32(static_cast<uint32_t>(data.size()));
    bytes.insert(bytes.end(), data.begin(), data.end());
  }
  std::vector<uint8_t> bytes;
};

class In {
 public:
  In(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool ok() const { return ok_; }
  bool AtEnd() const { return at_ == size_; }
  uint64_t Number(int bytes) {
    if (!Have(bytes)) return 0;
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint64_t(data_[at_ + i]) << (8 * i);
    at_ += bytes;
    return v;
  }
  std::u16string Text() {
    const uint64_t length = Number(4);
    if (!Have(length * 2)) return {};
    std::u16string text(length, u'\0');
    for (auto& c : text) c = static_cast<char16_t>(Number(2));
    return text;
  }
  std::vector<uint8_t> Data() {
    const uint64_t length = Number(4);
    if (!Have(length)) return {};
    std::vector<uint8_t> data(data_ + at_, data_ + at_ + length);
    at_ += length;
    return data;
  }

 private:
  bool Have(uint64_t bytes) {
    if (ok_ && bytes <= size_ - at_) return true;
    ok_ = false;
    return false;
  }
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
  bool ok_ = true;
};

bool HasPath(Kind kind) { return kind != Kind::kBegin && kind != Kind::kEnd; }

}  // namespace

std::vector<uint8_t> Encode(const Record& record) {
  Out body;
  body.U8(static_cast<uint8_t>(record.kind));
  if (record.kind == Kind::kBegin) body.U64(record.owner);
  if (HasPath(record.kind)) body.Text(record.path);
  if (record.kind == Kind::kRewrite) body.Text(record.temporary), body.Text(record.kept);
  if (record.kind == Kind::kInPlace || record.kind == Kind::kWritten)
    body.U64(record.size), body.U64(record.writeTime);
  if (record.kind == Kind::kInPlace) {
    body.U32(static_cast<uint32_t>(record.old.size()));
    for (const auto& old : record.old) {
      body.U64(old.offset), body.U64(old.length), body.Data(old.bytes);
    }
  }
  if (record.kind == Kind::kWritten) body.U64(record.fileId), body.U64(record.hash);

  Out whole;
  whole.U32(static_cast<uint32_t>(body.bytes.size()));
  whole.bytes.insert(whole.bytes.end(), body.bytes.begin(), body.bytes.end());
  whole.U32(Crc32(body.bytes.data(), body.bytes.size()));
  return whole.bytes;
}

bool Decode(const uint8_t* data, size_t size, std::vector<Record>& records) {
  records.clear();
  if (size < sizeof kMagic || std::memcmp(data, kMagic, sizeof kMagic) != 0) return false;
  size_t at = sizeof kMagic;
  while (size - at >= 8) {
    uint32_t length = 0, crc = 0;
    for (int i = 0; i < 4; ++i) length |= uint32_t(data[at + i]) << (8 * i);
    if (length == 0 || length > kMaxRecord || length > size - at - 8) break;
    const uint8_t* body = data + at + 4;
    for (int i = 0; i < 4; ++i) crc |= uint32_t(body[length + i]) << (8 * i);
    if (crc != Crc32(body, length)) break;

    In in(body, length);
    Record r;
    r.kind = static_cast<Kind>(in.Number(1));
    if (r.kind < Kind::kBegin || r.kind > Kind::kEnd) break;
    if (r.kind == Kind::kBegin) r.owner = in.Number(8);
    if (HasPath(r.kind)) r.path = in.Text();
    if (r.kind == Kind::kRewrite) r.temporary = in.Text(), r.kept = in.Text();
    if (r.kind == Kind::kInPlace || r.kind == Kind::kWritten)
      r.size = in.Number(8), r.writeTime = in.Number(8);
    if (r.kind == Kind::kInPlace) {
      const uint64_t count = in.Number(4);
      // Each piece takes at least 20 bytes: a count beyond that is damage, not a reason to
      // reserve memory.
      if (count > length / 20) break;
      r.old.resize(count);
      for (auto& old : r.old) {
        old.offset = in.Number(8), old.length = in.Number(8), old.bytes = in.Data();
      }
    }
    if (r.kind == Kind::kWritten) r.fileId = in.Number(8), r.hash = in.Number(8);
    if (!in.ok() || !in.AtEnd()) break;
    records.push_back(std::move(r));
    at += 8 + length;
  }
  return true;
}

uint64_t Hash(const uint8_t* data, size_t size, uint64_t seed) {
  uint64_t h = seed;
  for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 0x100000001b3ull;
  return h;
}

}  // namespace journal
