#include "targets/RowValues.h"

bool RowValues::IsChange(int field) const {
  const std::string& value = pending[field];
  if (value.empty() || state == Current::kNotTaggable) return false;
  return state != Current::kRead || value != current[field];
}

bool RowValues::HasChange() const {
  for (int field = 0; field < kTagFieldCount; ++field) {
    if (IsChange(field)) return true;
  }
  return false;
}

const std::string& RowValues::Shown(int field, bool* staying) const {
  *staying = pending[field].empty() && state == Current::kRead && !current[field].empty();
  return *staying ? current[field] : pending[field];
}

bool RowValues::TakeReading(unsigned readGeneration, Current found, const TagValues& values) {
  if (readGeneration != generation) return false;
  state = found;
  if (found == Current::kRead)
    current = values;
  else
    current = TagValues();
  return true;
}

void RowValues::Forget() {
  ++generation;
  state = Current::kUnknown;
}

std::vector<RowValues::Change> RowValues::Changes() const {
  std::vector<Change> changes;
  for (int field = 0; field < kTagFieldCount; ++field) {
    if (IsChange(field)) changes.push_back({field, current[field], pending[field]});
  }
  return changes;
}

bool ValuesFromBlock(const char* block, size_t size, TagValues* values) {
  TagValues found;
  size_t start = 0;
  for (std::string& value : found) {
    size_t end = start;
    while (end < size && block[end]) ++end;
    if (end == size) return false;
    value.assign(block + start, end - start);
    start = end + 1;
  }
  *values = found;
  return true;
}
