// Any bytes as a journal file: reading stops at damage, and looks past it for a whole record,
// without reading past the data; every record it gives is written back to the same bytes, and
// undo planned over it, whatever the files are found to hold, acts only on a journal of our own
// shapes and never writes a file it named.
#include <cstdlib>
#include <cstring>
#include <set>

#include "journal/Plan.h"
#include "journal/Records.h"

namespace {

bool OwnsKept(const std::u16string& kept) { return kept.starts_with(u"C:\\j\\kept\\"); }

// What the files hold, drawn from the input's own hash so that every input plans the same.
journal::Observation Drawn(uint64_t& seed, const journal::Step& step) {
  const auto next = [&] { return seed = seed * 6364136223846793005ull + 1442695040888963407ull; };
  journal::Observation seen;
  seen.path = {
      .exists = (next() >> 60) != 0, .read = (next() >> 61) != 0, .link = (next() >> 58) == 0};
  seen.path.read = seen.path.read && seen.path.exists;
  if (step.written && (next() >> 62) != 0) {
    seen.path.size = step.written->size, seen.path.writeTime = step.written->writeTime;
    seen.path.fileId = step.written->fileId;
  }
  for (const auto& piece : step.before->old) {
    for (size_t b = 0; b < piece.blocks.size(); ++b) {
      const uint64_t pick = next() >> 62;
      const uint64_t old = b < piece.oldBlocks.size() ? piece.oldBlocks[b] : 0;
      seen.blocks.push_back({pick != 0, pick == 1 ? piece.blocks[b] : old, old});
    }
  }
  seen.temporaryExists = (next() >> 63) != 0;
  seen.kept = {.exists = (next() >> 62) != 0,
               .read = true,
               .fileId = (next() >> 63) ? step.before->fileId : 5};
  return seen;
}

void CheckPlan(const journal::Plan& plan, const std::vector<journal::Step>& steps,
               const std::vector<journal::Observation>& observed, bool trusted) {
  if (plan.damaged != !trusted || (plan.damaged && !plan.actions.empty())) std::abort();
  std::set<std::u16string> leftAlone, created;
  for (const auto& step : steps) {
    if (step.before->kind == journal::Kind::kCreated) created.insert(step.before->path);
  }
  for (const auto& action : plan.actions) {
    if (action.step >= steps.size()) std::abort();
    const journal::Record& before = *steps[action.step].before;
    // A file of the user's that is gone has its original only in the kept one.
    if (action.act == journal::Act::kDeleteKept && !observed[action.step].path.exists &&
        !created.count(before.path))
      std::abort();
    if (action.act == journal::Act::kLeaveAlone) leftAlone.insert(before.path);
    const bool writes = action.act == journal::Act::kRestoreInPlace ||
                        action.act == journal::Act::kPutKeptBack ||
                        action.act == journal::Act::kDeleteCreated;
    if (writes && leftAlone.count(before.path)) std::abort();
    if (action.act == journal::Act::kRestoreInPlace && before.kind != journal::Kind::kInPlace)
      std::abort();
    if ((action.act == journal::Act::kPutKeptBack || action.act == journal::Act::kDeleteKept ||
         action.act == journal::Act::kDeleteTemporary) &&
        before.kind != journal::Kind::kRewrite)
      std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<journal::Record> records;
  int version = 0;
  bool damagedInside = false;
  if (!journal::Decode(data, size, records, &version, &damagedInside)) return 0;
  size_t at = 4;
  for (const auto& record : records) {
    const auto bytes = journal::Encode(record, version);
    if (bytes.size() > size - at || std::memcmp(bytes.data(), data + at, bytes.size()) != 0)
      std::abort();
    at += bytes.size();
  }
  // Damage inside is a byte at least after the records read, and a whole record after it.
  if (damagedInside && size - at <= journal::kBareRecordSize) std::abort();

  std::vector<journal::Step> steps;
  if (!journal::StepsOf(records, steps)) return 0;
  uint64_t seed = journal::Hash(data, size);
  std::vector<journal::Observation> observed;
  for (const auto& step : steps) observed.push_back(Drawn(seed, step));
  const bool trusted = journal::Trusted(records, OwnsKept);
  CheckPlan(journal::PlanUndo(records, steps, observed, version, OwnsKept), steps, observed,
            trusted);
  CheckPlan(journal::PlanKeep(records, steps, observed, version, OwnsKept), steps, observed,
            trusted);
  return 0;
}
