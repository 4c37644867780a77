#include "mp3infp/Riff.h"

namespace mp3infp {
namespace {

bool IsChunkId(const uint8_t* p) {
  for (int i = 0; i < 4; ++i) {
    if (p[i] < 0x20 || p[i] > 0x7E) return false;
  }
  return true;
}

uint64_t ReadLittleEndian64(const uint8_t* p) {
  return uint64_t(ReadLittleEndian32(p + 4)) << 32 | ReadLittleEndian32(p);
}

constexpr uint32_t kSizeInDs64 = 0xFFFFFFFF;
// ds64: the sizes of the RIFF chunk, of `data` and the sample count (8 bytes each), the length
// of the table that follows (4 bytes), then entries of an id and a size (12 bytes).
constexpr size_t kDs64Fixed = 28;
constexpr uint32_t kMaxDs64Table = 64;

struct Ds64 {
  uint64_t riffSize = 0, dataSize = 0;
  std::vector<std::pair<std::string, uint64_t>> table;
};

std::optional<Ds64> ReadDs64(ByteSource& source) {
  uint8_t header[8 + kDs64Fixed];
  if (!source.Read(12, header, sizeof header) || std::memcmp(header, "ds64", 4) != 0)
    return std::nullopt;
  const uint32_t size = ReadLittleEndian32(header + 4);
  const uint8_t* data = header + 8;
  const uint32_t entries = ReadLittleEndian32(data + 24);
  if (size < kDs64Fixed || entries > kMaxDs64Table || (size - kDs64Fixed) / 12 < entries)
    return std::nullopt;
  Ds64 ds64{ReadLittleEndian64(data), ReadLittleEndian64(data + 8), {}};
  for (uint32_t i = 0; i < entries; ++i) {
    uint8_t entry[12];
    if (!source.Read(12 + 8 + kDs64Fixed + 12 * i, entry, sizeof entry)) return std::nullopt;
    ds64.table.emplace_back(std::string(reinterpret_cast<const char*>(entry), 4),
                            ReadLittleEndian64(entry + 4));
  }
  return ds64;
}

}  // namespace

std::optional<RiffLayout> RiffLayout::Parse(ByteSource& source) {
  uint8_t header[12];
  if (source.Size() < 12 || !source.Read(0, header, 12)) return std::nullopt;
  const bool rf64 = std::memcmp(header, "RF64", 4) == 0;
  if (std::memcmp(header, "RIFF", 4) != 0 && !rf64) return std::nullopt;
  RiffLayout layout;
  layout.form.assign(reinterpret_cast<const char*>(header + 8), 4);
  layout.headerSize = ReadLittleEndian32(header + 4);
  layout.declaredEnd = 8 + uint64_t(layout.headerSize);
  std::optional<Ds64> ds64;
  if (rf64) {
    ds64 = ReadDs64(source);
    // Without its sizes the file cannot be laid out; it is read as far as its header says.
    if (ds64) {
      layout.declaredEnd = 8 + ds64->riffSize;
      layout.ds64RiffSizeOffset = 12 + 8;
    }
  }
  const uint64_t fileSize = source.Size();
  bool wellFormed = layout.declaredEnd <= fileSize;
  const uint64_t limit = std::min(layout.declaredEnd, fileSize);

  uint64_t pos = 12;
  while (pos < limit) {
    uint8_t chunkHeader[8];
    if (limit - pos < 8 || !source.Read(pos, chunkHeader, 8) || !IsChunkId(chunkHeader) ||
        layout.chunks.size() >= kMaxChunks) {
      wellFormed = false;
      break;
    }
    Chunk chunk;
    chunk.id.assign(reinterpret_cast<const char*>(chunkHeader), 4);
    chunk.offset = pos;
    chunk.size = ReadLittleEndian32(chunkHeader + 4);
    if (ds64 && chunk.size == kSizeInDs64) {
      if (chunk.id == "data") chunk.size = ds64->dataSize;
      for (const auto& [id, size] : ds64->table) {
        if (id == chunk.id) chunk.size = size;
      }
    }
    if (chunk.size > limit - pos - 8) {
      wellFormed = false;
      break;
    }
    const uint64_t dataEnd = pos + 8 + chunk.size;
    if ((chunk.size & 1) && dataEnd < limit) {
      // The pad byte is missing after some writers' odd chunks: take it only when a chunk (or
      // the end) follows it, and not when one follows without it.
      const auto chunkFitsAt = [&](uint64_t at) {
        uint8_t next[8];
        return at == limit || (limit - at >= 8 && source.Read(at, next, 8) && IsChunkId(next) &&
                               ReadLittleEndian32(next + 4) <= limit - at - 8);
      };
      chunk.padded = chunkFitsAt(dataEnd + 1) || !chunkFitsAt(dataEnd);
    }
    layout.chunks.push_back(chunk);
    pos = chunk.End();
  }
  layout.end = std::min(pos, limit);
  layout.wellFormed = wellFormed && pos == limit && (!rf64 || ds64);
  return layout;
}

std::optional<std::vector<Edit>> RiffLayout::Resize(int64_t growth) const {
  std::vector<Edit> edits;
  if (growth == 0) return edits;
  const int64_t size = int64_t(declaredEnd) - 8 + growth;
  if (size < 4) return std::nullopt;
  const bool fits32 = size <= int64_t(UINT32_MAX);
  if (!ds64RiffSizeOffset && !fits32) return std::nullopt;
  // An RF64 header that gave the size itself keeps doing so while it fits.
  if (!ds64RiffSizeOffset || headerSize != kSizeInDs64) {
    Bytes field;
    AppendLittleEndian32(field, fits32 ? uint32_t(size) : kSizeInDs64);
    edits.push_back({4, 4, std::move(field)});
  }
  if (ds64RiffSizeOffset) {
    Bytes field;
    AppendLittleEndian32(field, uint32_t(uint64_t(size)));
    AppendLittleEndian32(field, uint32_t(uint64_t(size) >> 32));
    edits.push_back({*ds64RiffSizeOffset, 8, std::move(field)});
  }
  return edits;
}

bool InfoList::Parse(std::span<const uint8_t> data) {
  items_.clear();
  size_t pos = 0;
  while (pos + 8 <= data.size()) {
    if (!IsChunkId(&data[pos]) || items_.size() >= RiffLayout::kMaxChunks) return false;
    const uint32_t size = ReadLittleEndian32(&data[pos + 4]);
    if (size > data.size() - pos - 8) return false;
    Item item;
    item.id.assign(reinterpret_cast<const char*>(&data[pos]), 4);
    item.data.assign(data.begin() + pos + 8, data.begin() + pos + 8 + size);
    items_.push_back(std::move(item));
    pos += 8 + size + (size & 1);
  }
  // The pad byte may be missing after the last subchunk. Zero bytes after the last one are
  // padding too; anything else there is not understood, and the list is not rewritten.
  for (size_t i = pos; i < data.size(); ++i) {
    if (data[i]) return false;
  }
  return true;
}

bool InfoList::Has(std::string_view id) const {
  for (const auto& item : items_) {
    if (item.id == id) return true;
  }
  return false;
}

std::optional<std::string> InfoList::Get(std::string_view id) const {
  for (const auto& item : items_) {
    if (item.id != id) continue;
    std::string value(item.data.begin(), item.data.end());
    value.resize(std::min(value.size(), value.find('\0')));
    return value;
  }
  return std::nullopt;
}

void InfoList::Set(std::string_view id, std::string_view value) {
  Bytes data(value.begin(), value.end());
  data.push_back(0);
  for (auto& item : items_) {
    if (item.id == id) {
      item.data = std::move(data);
      return;
    }
  }
  items_.push_back({std::string(id), std::move(data)});
}

Bytes InfoList::Render() const {
  Bytes body{'I', 'N', 'F', 'O'};
  for (const auto& item : items_) {
    body.insert(body.end(), item.id.begin(), item.id.end());
    AppendLittleEndian32(body, uint32_t(item.data.size()));
    body.insert(body.end(), item.data.begin(), item.data.end());
    if (item.data.size() & 1) body.push_back(0);
  }
  Bytes out{'L', 'I', 'S', 'T'};
  AppendLittleEndian32(out, uint32_t(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

}  // namespace mp3infp
