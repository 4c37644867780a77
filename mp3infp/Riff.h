// RIFF files (form RMP3: MPEG audio in a `data` chunk; form WAVE) and their LIST/INFO chunks.
// Only the chunk headers are read to find the layout; chunks are kept as the bytes they are.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "mp3infp/ByteSource.h"

namespace mp3infp {

struct Chunk {
  std::string id;
  uint64_t offset = 0;  // of the chunk header
  uint32_t size = 0;    // of the data
  bool padded = false;  // followed by the pad byte that evens an odd size
  uint64_t DataOffset() const { return offset + 8; }
  uint64_t End() const { return offset + 8 + size + (padded ? 1 : 0); }
};

struct RiffLayout {
  static constexpr size_t kMaxChunks = 4096;

  std::string form;          // "RMP3", "WAVE", ...
  uint64_t declaredEnd = 0;  // end of the RIFF chunk by its header
  uint64_t end = 0;          // end of the last chunk read
  std::vector<Chunk> chunks;
  // Every chunk lies inside the file and the RIFF chunk: the file can be written back.
  bool wellFormed = false;

  // Nothing when the file does not start with a RIFF header.
  static std::optional<RiffLayout> Parse(ByteSource& source);
};

// The subchunks of one LIST/INFO chunk, in their order; values are code-page bytes.
class InfoList {
 public:
  struct Item {
    std::string id;
    Bytes data;  // as stored, terminator included
  };

  // `data` is the LIST chunk's data after its "INFO" type. False when a subchunk does not fit.
  bool Parse(std::span<const uint8_t> data);

  bool Has(std::string_view id) const;
  // The value without its terminator.
  std::optional<std::string> Get(std::string_view id) const;
  void Set(std::string_view id, std::string_view value);

  // The whole LIST chunk, header and pad byte included.
  Bytes Render() const;
  const std::vector<Item>& items() const { return items_; }

 private:
  std::vector<Item> items_;
};

}  // namespace mp3infp
