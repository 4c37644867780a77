#include "journal/Plan.h"

#include <map>
#include <set>

namespace journal {

bool StepsOf(const std::vector<Record>& records, std::vector<Step>& steps) {
  steps.clear();
  if (records.empty() || records.front().kind != Kind::kBegin) return false;
  for (const Record& r : records) {
    if (r.kind == Kind::kInPlace || r.kind == Kind::kRewrite || r.kind == Kind::kCreated) {
      steps.push_back({&r});
    } else if (r.kind == Kind::kWritten || r.kind == Kind::kAbandoned) {
      // The latest step on that file without an outcome.
      for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
        if (step->before->path != r.path || step->written || step->abandoned) continue;
        if (r.kind == Kind::kWritten)
          step->written = &r;
        else
          step->abandoned = true;
        break;
      }
    }
  }
  return true;
}

namespace {

// Whether the file is still what the save's last write to it left.
bool Unchanged(const Step& step, const Observation& now) {
  const Record& written = *step.written;
  if (!now.path.read || now.path.size != written.size ||
      now.path.writeTime != written.writeTime || now.path.fileId != written.fileId)
    return false;
  if (step.before->kind != Kind::kInPlace) return true;
  return now.hashRead && now.hash == written.hash;
}

}  // namespace

std::vector<Action> PlanUndo(const std::vector<Record>& records, const std::vector<Step>& steps,
                             const std::vector<Observation>& observed) {
  std::vector<Action> actions;
  if (steps.size() != observed.size()) return actions;
  const bool finished = !records.empty() && records.back().kind == Kind::kEnd;
  std::set<std::u16string> created, failed, seen;
  // The identity each file will have once the newer steps are undone, where it is known.
  std::map<std::u16string, FileNow> identity;
  for (const Step& step : steps) {
    if (step.before->kind == Kind::kCreated && !step.abandoned) created.insert(step.before->path);
  }
  for (size_t i = steps.size(); i-- > 0;) {
    const Step& step = steps[i];
    const Observation& now = observed[i];
    const std::u16string& key = step.before->path;
    const auto add = [&](Act act) { actions.push_back({act, i}); };
    // The newest step that changed the file is compared with what the file is now; an older
    // one finds the file as the newer one's undoing left it.
    const bool latest = !seen.count(key);
    if (latest) identity[key] = now.path;
    if (step.written || !step.abandoned) seen.insert(key);
    if (failed.count(key)) continue;
    // Only the last step of an unfinished save can have been cut off; any other one without an
    // outcome failed, and the library or the program put its file back already.
    const bool interrupted = !finished && i + 1 == steps.size() && !step.written && !step.abandoned;
    if (latest && step.written && !Unchanged(step, now)) {
      failed.insert(key);
      add(Act::kLeaveAlone);
      continue;
    }
    if (created.count(key)) {
      if (step.before->kind == Kind::kRewrite) add(Act::kDeleteTemporary), add(Act::kDeleteKept);
      if (step.before->kind != Kind::kCreated) continue;
      if (!now.path.exists) continue;  // never made, or removed after a failure
      add(Act::kDeleteCreated);
      continue;
    }
    if (step.before->kind == Kind::kCreated) continue;
    if (!step.written && !interrupted) {
      if (step.before->kind == Kind::kRewrite) add(Act::kDeleteTemporary);
      continue;
    }
    if (step.before->kind == Kind::kInPlace) {
      add(Act::kRestoreInPlace);
      continue;
    }
    // A rewrite: the kept original goes back, unless the save never got as far as replacing the
    // file: then the temporary file is still there, or the file is the kept original itself.
    const bool replaced = !now.temporaryExists;
    if (now.temporaryExists) add(Act::kDeleteTemporary);
    if (!now.kept.exists) {
      // Without the original the file was never replaced, unless the save got as far as its end.
      if (step.written) {
        failed.insert(key);
        add(Act::kLeaveAlone);
      } else {
        add(Act::kRestoredAlready);
      }
      continue;
    }
    const FileNow& file = identity[key];
    if (!replaced || (file.read && now.kept.read && file.fileId == now.kept.fileId)) {
      add(Act::kDeleteKept), add(Act::kRestoredAlready);
      continue;
    }
    add(Act::kPutKeptBack);
    identity[key] = now.kept;
  }
  return actions;
}

std::vector<Action> PlanKeep(const std::vector<Record>& records, const std::vector<Step>& steps) {
  std::vector<Action> actions;
  for (size_t i = 0; i < steps.size(); ++i) {
    if (steps[i].before->kind == Kind::kRewrite) actions.push_back({Act::kDeleteTemporary, i});
  }
  const bool finished = !records.empty() && records.back().kind == Kind::kEnd;
  if (finished || steps.empty()) return actions;
  const Step& last = steps.back();
  if (last.written || last.abandoned) return actions;
  // The one write the stop may have cut off: a half-written tag or a half-made copy is worth less
  // than the file before the save.
  if (last.before->kind == Kind::kInPlace) actions.push_back({Act::kRestoreInPlace, steps.size() - 1});
  if (last.before->kind == Kind::kCreated) actions.push_back({Act::kDeleteCreated, steps.size() - 1});
  return actions;
}

}  // namespace journal
