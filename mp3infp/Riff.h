// RIFF files (form RMP3: MPEG audio in a `data` chunk; form WAVE) and their LIST/INFO chunks.
// Only the chunk headers are read to find the layout; chunks are kept as the bytes they are. RF64
// files (WAVE past 4 GiB) are RIFF files whose sizes that do not fit 32 bits are 0xFFFFFFFF in
// their headers and live in the `ds64` chunk, which comes first.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "mp3infp/ByteSource.h"
#include "mp3infp/SavePlan.h"

namespace mp3infp {

struct Chunk {
  std::string id;
  uint64_t offset = 0;  // of the chunk header
  uint64_t size = 0;    // of the data (from ds64 when the header's is 0xFFFFFFFF)
  bool padded = false;  // followed by the pad byte that evens an odd size
  uint64_t DataOffset() const { return offset + 8; }
  uint64_t End() const { return offset + 8 + size + (padded ? 1 : 0); }
};

struct RiffLayout {
  static constexpr size_t kMaxChunks = 4096;

  std::string form;          // "RMP3", "WAVE", ...
  uint64_t declaredEnd = 0;  // end of the RIFF chunk by its header (by ds64 in RF64)
  // RF64: where ds64 keeps the size of the RIFF chunk (64 bits), and the size in the header,
  // which is 0xFFFFFFFF when it does not fit.
  std::optional<uint64_t> ds64RiffSizeOffset;
  uint32_t headerSize = 0;
  uint64_t end = 0;  // end of the last chunk read
  std::vector<Chunk> chunks;
  // Every chunk lies inside the file and the RIFF chunk: the file can be written back.
  bool wellFormed = false;

  // Nothing when the file does not start with a RIFF (or RF64) header.
  static std::optional<RiffLayout> Parse(ByteSource& source);

  // The edits that declare the RIFF chunk `growth` bytes longer (in the header, and in ds64 for
  // RF64); nothing when the size no longer fits.
  std::optional<std::vector<Edit>> Resize(int64_t growth) const;
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
