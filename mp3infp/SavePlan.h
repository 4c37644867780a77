// How a save writes a file, shared by every format: the new file as a sequence of pieces, ranges
// of the old file kept and new bytes. The platform carries the plan out (FileIo.h), in place
// when it allows it.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "mp3infp/ByteSource.h"

namespace mp3infp {

struct SavePlan {
  struct Piece {
    uint64_t offset = 0;  // in the old file, for a kept range
    uint64_t length = 0;
    Bytes bytes;  // new bytes, when `kept` is false
    bool kept = false;
  };
  std::vector<Piece> pieces;
  uint64_t oldSize = 0;

  uint64_t NewSize() const;
  // Every kept range stays where it is and the file does not shrink, so that writing the new
  // bytes at their places (and appending) gives the new file.
  bool InPlace() const;
  // The new bytes with their offsets in the new file.
  struct Patch {
    uint64_t offset;
    const Bytes* bytes;
  };
  std::vector<Patch> Patches() const;
};

// One change of the old file: its `oldLength` bytes at `offset` become `bytes`.
struct Edit {
  uint64_t offset = 0;
  uint64_t oldLength = 0;
  Bytes bytes;
};

// The plan that makes `edits` (in the order of their offsets) to a file of `size` bytes and keeps
// everything else. Nothing when edits overlap or pass the end: the layout was misread, and
// writing would lose data.
std::optional<SavePlan> PlanEdits(uint64_t size, std::vector<Edit> edits);

}  // namespace mp3infp
