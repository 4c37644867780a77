#include "mp3infp/SavePlan.h"

namespace mp3infp {

uint64_t SavePlan::NewSize() const {
  uint64_t size = 0;
  for (const auto& piece : pieces) size += piece.kept ? piece.length : piece.bytes.size();
  return size;
}

bool SavePlan::InPlace() const {
  uint64_t position = 0;
  for (const auto& piece : pieces) {
    if (piece.kept && piece.offset != position) return false;
    position += piece.kept ? piece.length : piece.bytes.size();
  }
  return position >= oldSize;
}

std::vector<SavePlan::Patch> SavePlan::Patches() const {
  std::vector<Patch> patches;
  uint64_t position = 0;
  for (const auto& piece : pieces) {
    if (!piece.kept) patches.push_back({position, &piece.bytes});
    position += piece.kept ? piece.length : piece.bytes.size();
  }
  return patches;
}

std::optional<SavePlan> PlanEdits(uint64_t size, std::vector<Edit> edits) {
  SavePlan plan;
  plan.oldSize = size;
  uint64_t position = 0;
  for (Edit& edit : edits) {
    if (edit.offset < position || edit.offset > size || edit.oldLength > size - edit.offset)
      return std::nullopt;
    if (edit.offset > position) plan.pieces.push_back({position, edit.offset - position, {}, true});
    plan.pieces.push_back({edit.offset, edit.oldLength, std::move(edit.bytes), false});
    position = edit.offset + edit.oldLength;
  }
  if (position < size) plan.pieces.push_back({position, size - position, {}, true});
  return plan;
}

}  // namespace mp3infp
