#include "journal/Records.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace journal {
namespace {

// A record no journal of ours can hold: guards the reader against a length read from garbage.
constexpr uint32_t kMaxRecord = 64u << 20;
// Bytes looked through after damage before those a record can no longer start in are let go.
constexpr size_t kReadAhead = 1 << 20;

uint32_t Crc32(const uint8_t* data, size_t size) {
  // Eight bytes a step (slicing by eight): a save of a thousand tags with room writes some 5 MB of
  // records, which a byte a step took 16 ms of the processor to check-sum in the 32-bit build.
  static const auto table = [] {
    std::array<std::array<uint32_t, 256>, 8> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i) {
      for (int k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
    return t;
  }();
  uint32_t c = 0xFFFFFFFFu;
  for (; size >= 8; data += 8, size -= 8) {
    const uint32_t low = c ^ (uint32_t(data[0]) | uint32_t(data[1]) << 8 |
                              uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24);
    c = table[7][low & 0xFF] ^ table[6][(low >> 8) & 0xFF] ^ table[5][(low >> 16) & 0xFF] ^
        table[4][low >> 24] ^ table[3][data[4]] ^ table[2][data[5]] ^ table[1][data[6]] ^
        table[0][data[7]];
  }
  for (; size; ++data, --size) c = table[0][(c ^ *data) & 0xFF] ^ (c >> 8);
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

bool HasPath(Kind kind) {
  return kind != Kind::kBegin && kind != Kind::kEnd && kind != Kind::kUndo;
}
bool HasPieces(Kind kind, int version) {
  return kind == Kind::kInPlace || (version >= 2 && kind == Kind::kRewrite);
}

// Old bytes under each block of new ones.
void Derive(OldBytes& piece) {
  piece.oldLength = piece.bytes.size();
  piece.oldBlocks.clear();
  for (uint64_t start = 0; start < piece.length; start += kBlockSize) {
    const uint64_t end = std::min<uint64_t>(piece.oldLength, start + kBlockSize);
    const uint8_t* data = piece.bytes.data() + std::min<uint64_t>(start, piece.oldLength);
    piece.oldBlocks.push_back(BlockHash(data, start < end ? end - start : 0));
  }
}

}  // namespace

std::vector<uint8_t> Encode(const Record& record, int version) {
  Out body;
  body.U8(static_cast<uint8_t>(record.kind));
  if (record.kind == Kind::kBegin) body.U64(record.owner);
  if (HasPath(record.kind)) body.Text(record.path);
  if (record.kind == Kind::kRewrite) body.Text(record.temporary), body.Text(record.kept);
  if (record.kind == Kind::kRewrite && version >= 2) body.U64(record.fileId);
  if (record.kind == Kind::kInPlace || record.kind == Kind::kWritten)
    body.U64(record.size), body.U64(record.writeTime);
  if (record.kind == Kind::kInPlace && version >= 3) body.U64(record.fileId);
  if (HasPieces(record.kind, version)) {
    body.U32(static_cast<uint32_t>(record.old.size()));
    for (const auto& old : record.old) {
      body.U64(old.offset), body.U64(old.length), body.Data(old.bytes);
      if (version < 2) continue;
      body.U32(static_cast<uint32_t>(old.blocks.size()));
      for (uint64_t block : old.blocks) body.U64(block);
    }
  }
  if (record.kind == Kind::kWritten) body.U64(record.fileId), body.U64(record.hash);

  Out whole;
  whole.U32(static_cast<uint32_t>(body.bytes.size()));
  whole.bytes.insert(whole.bytes.end(), body.bytes.begin(), body.bytes.end());
  whole.U32(Crc32(body.bytes.data(), body.bytes.size()));
  return whole.bytes;
}

bool DecodeOne(const uint8_t* data, size_t size, int version, uint64_t at, Record& r,
               size_t& used) {
  if (size < 8) return false;
  uint32_t length = 0, crc = 0;
  for (int i = 0; i < 4; ++i) length |= uint32_t(data[i]) << (8 * i);
  if (length == 0 || length > kMaxRecord || length > size - 8) return false;
  const uint8_t* body = data + 4;
  for (int i = 0; i < 4; ++i) crc |= uint32_t(body[length + i]) << (8 * i);
  if (crc != Crc32(body, length)) return false;

  In in(body, length);
  r = Record{};
  r.at = at;
  r.kind = static_cast<Kind>(in.Number(1));
  if (r.kind < Kind::kBegin || r.kind > (version >= 2 ? Kind::kUndo : Kind::kEnd)) return false;
  if (r.kind == Kind::kBegin) r.owner = in.Number(8);
  if (HasPath(r.kind)) r.path = in.Text();
  if (r.kind == Kind::kRewrite) r.temporary = in.Text(), r.kept = in.Text();
  if (r.kind == Kind::kRewrite && version >= 2) r.fileId = in.Number(8);
  if (r.kind == Kind::kInPlace || r.kind == Kind::kWritten)
    r.size = in.Number(8), r.writeTime = in.Number(8);
  if (r.kind == Kind::kInPlace && version >= 3) r.fileId = in.Number(8);
  if (HasPieces(r.kind, version)) {
    const uint64_t count = in.Number(4);
    // Each piece takes at least 20 bytes: a count beyond that is damage, not a reason to
    // reserve memory.
    if (count > length / 20) return false;
    r.old.resize(count);
    for (auto& old : r.old) {
      old.offset = in.Number(8), old.length = in.Number(8), old.bytes = in.Data();
      if (version >= 2) {
        const uint64_t blocks = in.Number(4);
        if (blocks > length / 8) return false;
        old.blocks.resize(blocks);
        for (auto& block : old.blocks) block = in.Number(8);
      }
      if (old.length <= (uint64_t(64) << 20)) Derive(old);
    }
  }
  if (r.kind == Kind::kWritten) r.fileId = in.Number(8), r.hash = in.Number(8);
  if (!in.ok() || !in.AtEnd()) return false;
  used = 8 + length;
  return true;
}

bool Decoder::Probe(bool atEnd) {
  while (!found_ && probe_ + 8 <= pending_.size()) {
    uint32_t length = 0;
    for (int i = 0; i < 4; ++i) length |= uint32_t(pending_[probe_ + i]) << (8 * i);
    const size_t left = pending_.size() - probe_;
    if (length != 0 && length <= kMaxRecord && left - 8 < length && !atEnd) break;
    Record r;
    size_t used = 0;
    found_ = DecodeOne(pending_.data() + probe_, left, version_, 0, r, used);
    ++probe_;
  }
  // What no later record can start in is let go, so that the look takes bounded memory.
  if (!found_ && probe_ > kReadAhead) {
    pending_.erase(pending_.begin(), pending_.begin() + probe_);
    probe_ = 0;
  }
  return found_;
}

bool Decoder::Finish() {
  if (!version_) return false;
  // Bytes left over: a record cut short by the file's end, or one whose length is damage.
  if (!stopped_ && !pending_.empty()) probe_ = 1;
  return Probe(true);
}

bool Decoder::Feed(const uint8_t* data, size_t size, std::vector<Record>& records) {
  if (stopped_) {
    if (!found_) {
      pending_.insert(pending_.end(), data, data + size);
      Probe(false);
    }
    return false;
  }
  pending_.insert(pending_.end(), data, data + size);
  size_t at = 0;
  if (!version_) {
    if (pending_.size() < sizeof kMagic) return true;
    if (std::memcmp(pending_.data(), kMagic, sizeof kMagic) == 0) {
      version_ = 3;
    } else if (std::memcmp(pending_.data(), kMagicSecond, sizeof kMagic) == 0) {
      version_ = 2;
    } else if (std::memcmp(pending_.data(), kMagicFirst, sizeof kMagic) == 0) {
      version_ = 1;
    } else {
      stopped_ = true;
      return false;
    }
    at = sizeof kMagic;
  }
  while (true) {
    const size_t left = pending_.size() - at;
    if (left < 8) break;
    uint32_t length = 0;
    for (int i = 0; i < 4; ++i) length |= uint32_t(pending_[at + i]) << (8 * i);
    // Not whole yet: wait for more, unless the length itself is damage.
    if (length != 0 && length <= kMaxRecord && left - 8 < length) break;
    Record r;
    size_t used = 0;
    if (!DecodeOne(pending_.data() + at, left, version_, at_ + at, r, used)) {
      stopped_ = true;
      pending_.erase(pending_.begin(), pending_.begin() + at);
      probe_ = 1;
      Probe(false);
      return false;
    }
    if (light_) {
      for (auto& old : r.old) std::vector<uint8_t>().swap(old.bytes);
    }
    records.push_back(std::move(r));
    at += used;
  }
  pending_.erase(pending_.begin(), pending_.begin() + at);
  at_ += at;
  return true;
}

bool Decode(const uint8_t* data, size_t size, std::vector<Record>& records, int* version,
            bool* damagedInside) {
  records.clear();
  Decoder decoder;
  decoder.Feed(data, size, records);
  if (version) *version = decoder.version();
  if (damagedInside) *damagedInside = decoder.Finish();
  return decoder.started();
}

bool EndsWith(const uint8_t* tail, size_t size, Kind kind) {
  if (size < kBareRecordSize) return false;
  Record r;
  size_t used = 0;
  return DecodeOne(tail + size - kBareRecordSize, kBareRecordSize, 2, 0, r, used) && r.kind == kind;
}

uint64_t Hash(const uint8_t* data, size_t size, uint64_t seed) {
  uint64_t h = seed;
  for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 0x100000001b3ull;
  return h;
}

}  // namespace journal

namespace journal {

uint64_t BlockHash(const uint8_t* data, size_t size) {
  // Four lanes of eight bytes, so that the multiplications of one lane do not wait on another's.
  constexpr uint64_t kPrime = 0x100000001b3ull;
  uint64_t lane[4] = {0x9E3779B97F4A7C15ull ^ size, 0xC2B2AE3D27D4EB4Full, 0x165667B19E3779F9ull,
                      0x27D4EB2F165667C5ull};
  size_t i = 0;
  for (; i + 32 <= size; i += 32) {
    for (int k = 0; k < 4; ++k) {
      uint64_t word;
      std::memcpy(&word, data + i + 8 * k, 8);
      lane[k] = (lane[k] ^ word) * kPrime;
      lane[k] ^= lane[k] >> 29;
    }
  }
  uint64_t h = lane[0] ^ (lane[1] * 3) ^ (lane[2] * 5) ^ (lane[3] * 7);
  for (; i < size; ++i) h = (h ^ data[i]) * kPrime;
  h ^= h >> 31;
  return h * kPrime ^ (h >> 29);
}

std::vector<uint64_t> BlockHashes(const uint8_t* data, size_t size) {
  std::vector<uint64_t> hashes;
  for (size_t start = 0; start < size; start += kBlockSize)
    hashes.push_back(BlockHash(data + start, std::min<size_t>(kBlockSize, size - start)));
  return hashes;
}

}  // namespace journal
