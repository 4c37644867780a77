#include "mp3infp/Riff.h"

namespace mp3infp {
namespace {

bool IsChunkId(const uint8_t* p) {
  for (int i = 0; i < 4; ++i) {
    if (p[i] < 0x20 || p[i] > 0x7E) return false;
  }
  return true;
}

}  // namespace

std::optional<RiffLayout> RiffLayout::Parse(ByteSource& source) {
  uint8_t header[12];
  if (source.Size() < 12 || !source.Read(0, header, 12)) return std::nullopt;
  if (std::memcmp(header, "RIFF", 4) != 0) return std::nullopt;
  RiffLayout layout;
  layout.form.assign(reinterpret_cast<const char*>(header + 8), 4);
  layout.declaredEnd = 8 + uint64_t(ReadLittleEndian32(header + 4));
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
    const uint64_t dataEnd = pos + 8 + chunk.size;
    if (dataEnd > limit) {
      wellFormed = false;
      break;
    }
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
  layout.wellFormed = wellFormed && pos == limit;
  return layout;
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
