#include "journal/Plan.h"

#include <algorithm>
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

constexpr uint64_t kMaxPiece = uint64_t(64) << 20;

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// A full path of one of the shapes the program writes: a drive's, a share's, or either behind
// \\?\; no part of it climbs out of a folder.
bool Absolute(const std::u16string& path) {
  if (path.size() < 3 || path.size() > 32767) return false;
  if (path.find(u'\0') != std::u16string::npos) return false;
  const auto letter = [](char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
  };
  const auto drive = [&](size_t at) {
    return path.size() >= at + 3 && letter(path[at]) && path[at + 1] == u':' &&
           path[at + 2] == u'\\';
  };
  const auto share = [&](size_t at) {
    // server\share\..., both named
    const size_t slash = path.find(u'\\', at);
    return slash != std::u16string::npos && slash > at && slash + 1 < path.size() &&
           path[slash + 1] != u'\\';
  };
  bool shaped = false;
  if (path.starts_with(u"\\\\?\\UNC\\")) {
    shaped = share(8);
  } else if (path.starts_with(u"\\\\?\\")) {
    shaped = drive(4);
  } else if (path.starts_with(u"\\\\")) {
    shaped = path[2] != u'.' && path[2] != u'?' && share(2);
  } else {
    shaped = drive(0);
  }
  if (!shaped) return false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of(u"\\/", start);
    if (end == std::u16string::npos) end = path.size();
    if (path.compare(start, end - start, u"..") == 0) return false;
    start = end + 1;
  }
  return true;
}

// The temporary file the library writes beside `path`: ".tagwhirl-new-" process "-" time ".tmp".
bool TemporaryOf(const std::u16string& path, const std::u16string& temporary) {
  const std::u16string prefix = path + u".tagwhirl-new-";
  if (!temporary.starts_with(prefix) || !temporary.ends_with(u".tmp")) return false;
  const std::u16string middle =
      temporary.substr(prefix.size(), temporary.size() - prefix.size() - 4);
  const size_t dash = middle.find(u'-');
  if (dash == 0 || dash == std::u16string::npos || dash + 1 == middle.size()) return false;
  for (size_t i = 0; i < middle.size(); ++i) {
    if (i != dash && !IsDigit(middle[i])) return false;
  }
  return true;
}

// Or the one it writes in its folder of the file's volume,
// VOLUME\.tagwhirl-kept\USER\new\NAME.tagwhirl-new-PROCESS-NUMBER.tmp, where VOLUME is a folder
// the file lies in and NAME the file's own; either path may be in the long form (\\?\).
bool TemporaryElsewhereOf(const std::u16string& path, const std::u16string& temporary) {
  const auto plain = [](const std::u16string& text) {
    return text.starts_with(u"\\\\?\\") ? text.substr(4) : text;
  };
  const std::u16string file = plain(path), made = plain(temporary);
  const std::u16string ours = u"\\.tagwhirl-kept\\";
  const size_t at = made.find(ours);
  if (!Absolute(temporary) || at == std::u16string::npos || at == 0 ||
      !file.starts_with(made.substr(0, at + 1)))
    return false;
  const size_t user = at + ours.size();
  const size_t end = made.find(u'\\', user);
  if (end == std::u16string::npos || end == user || made.compare(end, 5, u"\\new\\") != 0)
    return false;
  const std::u16string userName = made.substr(user, end - user);
  if (userName == u"." || userName == u".." || userName.find(u'/') != std::u16string::npos)
    return false;
  return TemporaryOf(file.substr(file.find_last_of(u"\\/") + 1), made.substr(end + 5));
}

bool PiecesInside(const Record& r) {
  for (const OldBytes& piece : r.old) {
    if (piece.length > kMaxPiece || piece.offset > (uint64_t(1) << 62)) return false;
    if (!piece.blocks.empty() && piece.blocks.size() != BlocksOf(piece.length)) return false;
    if (r.kind == Kind::kRewrite) {
      if (!piece.bytes.empty()) return false;
      continue;
    }
    if (piece.offset > r.size) return false;
    if (piece.bytes.size() != std::min(piece.length, r.size - piece.offset) &&
        piece.oldLength != std::min(piece.length, r.size - piece.offset))
      return false;
  }
  return true;
}

enum class Found { kNew, kOld, kTorn, kForeign };

// What the step's places hold now: its new bytes, the old ones (a write in place that did not
// happen, or was undone), a write cut off (new bytes up to a point and old ones after it, in the
// order they are written: the block the cut fell in holds neither), or anything else.
Found Classify(const Step& step, const Observation& now) {
  const Record& before = *step.before;
  const bool inPlace = before.kind == Kind::kInPlace;
  bool allNew = true, allOld = true, cut = true, pastCut = false;
  size_t k = 0;
  for (const OldBytes& piece : before.old) {
    for (size_t b = 0; b < piece.blocks.size(); ++b, ++k) {
      if (k >= now.blocks.size() || !now.blocks[k].read) return Found::kForeign;
      const bool isNew = now.blocks[k].whole == piece.blocks[b];
      const bool isOld =
          inPlace && b < piece.oldBlocks.size() && now.blocks[k].oldPart == piece.oldBlocks[b];
      allNew = allNew && isNew, allOld = allOld && isOld;
      if (!pastCut && !isNew) {
        pastCut = true;  // the block the cut fell in, whatever it holds
      } else if (pastCut && !isOld) {
        cut = false;
      }
    }
  }
  if (k != now.blocks.size()) return Found::kForeign;
  if (allNew) return Found::kNew;
  if (inPlace && allOld && now.path.size == before.size) return Found::kOld;
  if (inPlace && cut) return Found::kTorn;
  return Found::kForeign;
}

bool StateMatches(const Record& written, const FileNow& now) {
  return now.read && now.size == written.size && now.writeTime == written.writeTime &&
         now.fileId == written.fileId;
}

// Whether the file is still what a first version journal's write left.
bool UnchangedFirst(const Step& step, const Observation& now) {
  if (!StateMatches(*step.written, now.path)) return false;
  if (step.before->kind != Kind::kInPlace) return true;
  return now.hashRead && now.hash == step.written->hash;
}

// Whether the file is now another than the one a write in place was recorded for: a journal of
// the third version knows which file it wrote into.
bool AnotherFile(const Record& before, const FileNow& now) {
  return before.kind == Kind::kInPlace && before.fileId != 0 &&
         (!now.read || now.fileId != before.fileId);
}

enum class Verdict { kRestore, kAlready, kFail };

// How a step that nobody has undone yet in this plan is found: `checkState` for the newest write
// of a file, which must find the file as it left it; `mayBeOld` where the step may never have
// happened or been undone already (cut off, or an undo that was stopped).
Verdict Judge(const Step& step, const Observation& now, const FileNow& identity, bool checkState,
              bool mayBeOld) {
  if (now.path.link || AnotherFile(*step.before, now.path)) return Verdict::kFail;
  const bool stateOk = !checkState || (step.written && StateMatches(*step.written, now.path));
  if (step.before->kind == Kind::kRewrite) {
    if (identity.read && identity.fileId == step.before->fileId) return Verdict::kAlready;
    // The temporary file still there: the save stopped before its rename, unless the volume
    // renames over a file by deleting it first (FAT) and stopped between the two: the file is
    // then gone, its original only in the kept one, which must stay.
    if (!step.written && now.temporaryExists && now.path.exists) return Verdict::kAlready;
    return stateOk && Classify(step, now) == Found::kNew ? Verdict::kRestore : Verdict::kFail;
  }
  switch (Classify(step, now)) {
    case Found::kNew:
      return stateOk ? Verdict::kRestore : Verdict::kFail;
    case Found::kTorn:
      return mayBeOld ? Verdict::kRestore : Verdict::kFail;
    case Found::kOld:
      return mayBeOld ? Verdict::kAlready : Verdict::kFail;
    case Found::kForeign:
      break;
  }
  return Verdict::kFail;
}

}  // namespace

bool Trusted(const std::vector<Record>& records,
             const std::function<bool(const std::u16string&)>& ownsKept) {
  for (const Record& r : records) {
    if (r.kind == Kind::kBegin || r.kind == Kind::kEnd || r.kind == Kind::kUndo) continue;
    if (!Absolute(r.path)) return false;
    if (r.kind == Kind::kRewrite &&
        (!(TemporaryOf(r.path, r.temporary) || TemporaryElsewhereOf(r.path, r.temporary)) ||
         !Absolute(r.kept) || !ownsKept(r.kept)))
      return false;
    if (!PiecesInside(r)) return false;
  }
  return true;
}

// Whether step `i` may have been under way when the save stopped: a step without an outcome in a
// save that did not end. Files are saved side by side, so in a second version journal that is any
// such step (its blocks tell what it got to); in a first version one only the last.
bool CutOff(const std::vector<Step>& steps, size_t i, bool finished, int version) {
  const Step& step = steps[i];
  return !finished && !step.written && !step.abandoned && (version >= 2 || i + 1 == steps.size());
}

Plan PlanUndo(const std::vector<Record>& records, const std::vector<Step>& steps,
              const std::vector<Observation>& observed, int version,
              const std::function<bool(const std::u16string&)>& ownsKept) {
  Plan plan;
  plan.damaged = steps.size() != observed.size() || !Trusted(records, ownsKept);
  if (plan.damaged) return plan;
  const bool finished = std::any_of(records.begin(), records.end(),
                                    [](const Record& r) { return r.kind == Kind::kEnd; });
  const bool resuming = std::any_of(records.begin(), records.end(),
                                    [](const Record& r) { return r.kind == Kind::kUndo; });
  const bool second = version >= 2;

  // How far each file is: not looked at yet; found as an undo that was stopped left it (its
  // older steps are judged by their bytes too); being undone (older steps follow without a
  // check); or left alone.
  enum class Mode { kFirst, kScan, kFollow, kFailed };
  std::map<std::u16string, Mode> mode;
  std::map<std::u16string, FileNow> identity;  // what each file will be, where known
  std::set<std::u16string> created, midSave;
  for (size_t i = 0; i < steps.size(); ++i) {
    const Step& step = steps[i];
    if (step.before->kind == Kind::kCreated) {
      if (!step.abandoned) created.insert(step.before->path);
      continue;
    }
    // An outcome lost in the middle of a save: whether the write happened is not known.
    if (!step.written && !step.abandoned && !CutOff(steps, i, finished, version))
      midSave.insert(step.before->path);
  }

  for (size_t i = steps.size(); i-- > 0;) {
    const Step& step = steps[i];
    const Observation& now = observed[i];
    const Record& before = *step.before;
    const std::u16string& key = before.path;
    const auto add = [&](Act act) { plan.actions.push_back({act, i}); };
    const auto fail = [&] {
      mode[key] = Mode::kFailed;
      add(Act::kLeaveAlone);
    };
    if (step.abandoned && !step.written) {
      // The library put the file back itself.
      if (before.kind == Kind::kRewrite) add(Act::kDeleteTemporary);
      continue;
    }
    auto found = mode.find(key);
    if (found == mode.end()) {
      found = mode.emplace(key, Mode::kFirst).first;
      identity[key] = now.path;
    }
    if (found->second == Mode::kFailed) continue;
    const bool first = found->second == Mode::kFirst;
    if (first && midSave.count(key)) {
      fail();
      continue;
    }
    const bool interrupted = CutOff(steps, i, finished, version);

    if (created.count(key)) {
      if (first && now.path.link) {
        fail();
        continue;
      }
      // A copy nothing wrote after it was made: deleted only while it is that file.
      if (first && step.written && before.kind == Kind::kCreated && now.path.exists &&
          !StateMatches(*step.written, now.path)) {
        fail();
        continue;
      }
      if (first && step.written && before.kind != Kind::kCreated) {
        const bool ours = second ? Judge(step, now, identity[key], true, false) == Verdict::kRestore
                                 : UnchangedFirst(step, now);
        if (!ours) {
          fail();
          continue;
        }
      }
      found->second = Mode::kFollow;
      if (before.kind == Kind::kRewrite) add(Act::kDeleteTemporary), add(Act::kDeleteKept);
      if (before.kind != Kind::kCreated) continue;
      if (now.path.exists) add(Act::kDeleteCreated);  // else never made, or removed after a failure
      continue;
    }
    if (before.kind == Kind::kCreated) continue;

    // Whether this step's bytes go back; a kFollow step's always do.
    Verdict verdict = Verdict::kRestore;
    if (found->second != Mode::kFollow) {
      if (second) {
        verdict = Judge(step, now, identity[key], first && step.written, resuming || interrupted);
      } else if (step.written) {
        verdict = UnchangedFirst(step, now) ? Verdict::kRestore : Verdict::kFail;
      }
      if (now.path.link) verdict = Verdict::kFail;
      // An undo that was stopped may have got past this step to an older one of the same file:
      // the file then holds what an older step found.
      if (verdict == Verdict::kFail && resuming && second && !now.path.link) {
        for (size_t j = i; j-- > 0;) {
          const Step& older = steps[j];
          if (older.before->path != key || older.before->kind == Kind::kCreated ||
              (older.abandoned && !older.written))
            continue;
          if (Judge(older, observed[j], identity[key], false, true) != Verdict::kFail) {
            verdict = Verdict::kAlready;
            break;
          }
        }
      }
    }
    if (verdict == Verdict::kFail) {
      fail();
      continue;
    }
    if (verdict == Verdict::kAlready) {
      if (before.kind == Kind::kRewrite) {
        if (now.temporaryExists) add(Act::kDeleteTemporary);
        if (now.kept.exists) add(Act::kDeleteKept);
      }
      add(Act::kRestoredAlready);
      found->second = resuming ? Mode::kScan : Mode::kFollow;
      continue;
    }
    found->second = Mode::kFollow;
    if (before.kind == Kind::kInPlace) {
      add(Act::kRestoreInPlace);
      continue;
    }
    // A rewrite: the kept original goes back, unless the save never got as far as replacing the
    // file: then the temporary file is still there, or the file is the kept original itself.
    const bool replaced = !now.temporaryExists;
    if (now.temporaryExists) add(Act::kDeleteTemporary);
    const FileNow& file = identity[key];
    const bool isOriginal = file.read && (second ? file.fileId == before.fileId
                                                 : now.kept.read && file.fileId == now.kept.fileId);
    if ((!second && !replaced && now.path.exists) || isOriginal) {
      if (now.kept.exists) add(Act::kDeleteKept);
      add(Act::kRestoredAlready);
      continue;
    }
    if (!now.kept.exists) {
      // Without the original the file was never replaced, unless the save got as far as its end.
      if (step.written || second) {
        fail();
      } else {
        add(Act::kRestoredAlready);
      }
      continue;
    }
    // A kept original that is not the file the save replaced is not put in its place.
    if (second && now.kept.read && now.kept.fileId != before.fileId) {
      fail();
      continue;
    }
    add(Act::kPutKeptBack);
    identity[key] = now.kept;
  }
  return plan;
}

Plan PlanKeep(const std::vector<Record>& records, const std::vector<Step>& steps,
              const std::vector<Observation>& observed, int version,
              const std::function<bool(const std::u16string&)>& ownsKept) {
  Plan plan;
  plan.damaged = steps.size() != observed.size() || !Trusted(records, ownsKept);
  if (plan.damaged) return plan;
  for (size_t i = 0; i < steps.size(); ++i) {
    if (steps[i].before->kind != Kind::kRewrite) continue;
    plan.actions.push_back({Act::kDeleteTemporary, i});
    // Stopped between the delete and the rename of a volume that renames over a file so (FAT):
    // the original goes back rather than the file being lost with both of its versions.
    const Observation& now = observed[i];
    if (!steps[i].written && !now.path.exists && now.temporaryExists && now.kept.exists &&
        (version < 2 || (now.kept.read && now.kept.fileId == steps[i].before->fileId)))
      plan.actions.push_back({Act::kPutKeptBack, i});
  }
  const bool finished = std::any_of(records.begin(), records.end(),
                                    [](const Record& r) { return r.kind == Kind::kEnd; });
  // The writes the stop may have cut off: a half-written tag or a half-made copy is worth less
  // than the file before the save; a file someone changed since is theirs.
  for (size_t i = 0; i < steps.size(); ++i) {
    const Step& step = steps[i];
    if (!CutOff(steps, i, finished, version) || observed[i].path.link) continue;
    if (step.before->kind == Kind::kInPlace) {
      const Found found = Classify(step, observed[i]);
      if (version < 2 || found == Found::kNew || found == Found::kTorn) {
        // Its old bytes would go into a file the save never wrote: it is named instead.
        const bool another = AnotherFile(*step.before, observed[i].path);
        plan.actions.push_back({another ? Act::kLeaveAlone : Act::kRestoreInPlace, i});
      }
    }
    // A copy has no outcome of its own: one the library went on to write was whole.
    const auto writtenLater = [&] {
      for (size_t j = i + 1; j < steps.size(); ++j) {
        if (steps[j].before->path == step.before->path) return true;
      }
      return false;
    };
    if (step.before->kind == Kind::kCreated && !writtenLater())
      plan.actions.push_back({Act::kDeleteCreated, i});
  }
  return plan;
}

}  // namespace journal
