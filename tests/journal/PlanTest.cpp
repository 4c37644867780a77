// What undo does to a file, decided from its journal and from what the file holds now: the
// save's new bytes, its old ones, a write cut off between them, or another program's edit.
#include <gtest/gtest.h>

#include "journal/Plan.h"

using namespace journal;

namespace {

const std::u16string kPath = u"C:\\音楽\\a.mp3", kOther = u"D:\\b.flac";
const std::u16string kKept = u"C:\\j\\kept\\0\\kept-1-1.bin";
constexpr uint64_t kOldSize = 9000, kNewTime = 6, kFileId = 9, kOriginalId = 7;

std::vector<uint8_t> Filled(uint8_t value) { return std::vector<uint8_t>(6000, value); }
const std::vector<uint8_t> kOld = Filled('o'), kNew = Filled('n');

// Records as the reader gives them: encoded and decoded, which derives what the planner uses.
std::vector<Record> Read(const std::vector<Record>& records) {
  std::vector<uint8_t> file(kMagic, kMagic + 4);
  for (const Record& r : records) {
    const auto bytes = Encode(r);
    file.insert(file.end(), bytes.begin(), bytes.end());
  }
  std::vector<Record> read;
  Decode(file.data(), file.size(), read);
  return read;
}

Record InPlace(const std::u16string& path = kPath) {
  Record r{.kind = Kind::kInPlace, .path = path, .size = kOldSize, .writeTime = 5};
  r.old = {{.offset = 100,
            .length = kNew.size(),
            .bytes = kOld,
            .blocks = BlockHashes(kNew.data(), kNew.size())}};
  return r;
}
// As a third version journal records it: with the identity of the file it writes into.
Record Identified(Record r) {
  r.fileId = kFileId;
  return r;
}
Record Rewrite() {
  Record r{.kind = Kind::kRewrite, .path = kPath};
  r.temporary = kPath + u".tagwhirl-new-12-34.tmp";
  r.kept = kKept;
  r.fileId = kOriginalId;
  r.old = {{.offset = 0, .length = kNew.size(), .blocks = BlockHashes(kNew.data(), kNew.size())}};
  return r;
}
Record Written(const std::u16string& path = kPath) {
  return {.kind = Kind::kWritten,
          .path = path,
          .size = kOldSize + 10,
          .writeTime = kNewTime,
          .fileId = kFileId};
}

// What the file holds at the step's places.
enum class Holds { kNew, kOld, kTorn, kTornInBlock, kEditedLast, kForeign };

std::vector<BlockNow> Blocks(Holds holds) {
  std::vector<BlockNow> blocks;
  for (size_t start = 0; start < kNew.size(); start += kBlockSize) {
    const size_t length = std::min<size_t>(kBlockSize, kNew.size() - start);
    // Cut at the first block's end, or inside it; edited in the last block after a whole write.
    const bool isNew = holds == Holds::kNew || (holds == Holds::kTorn && start == 0) ||
                       (holds == Holds::kEditedLast && start == 0);
    const bool neither = holds == Holds::kForeign || (holds == Holds::kTornInBlock && start == 0) ||
                         (holds == Holds::kEditedLast && start > 0);
    const auto& bytes = neither ? Filled('x') : isNew ? kNew : kOld;
    const uint64_t hash = BlockHash(bytes.data() + start, length);
    blocks.push_back({true, hash, hash});
  }
  return blocks;
}

Observation Seen(Holds holds, bool asWritten = true, uint64_t fileId = kFileId) {
  Observation seen;
  seen.path = {
      .exists = true, .read = true, .size = kOldSize + 10, .writeTime = kNewTime, .fileId = fileId};
  if (!asWritten) seen.path.writeTime = 99;
  if (holds == Holds::kOld) seen.path.size = kOldSize, seen.path.writeTime = 5;
  seen.blocks = Blocks(holds);
  seen.kept = {.exists = true, .read = true, .fileId = kOriginalId};
  return seen;
}

bool OwnsKept(const std::u16string& kept) { return kept.starts_with(u"C:\\j\\kept\\"); }

struct Case {
  const char* what;
  std::vector<Record> records;        // Begin is added before them
  std::vector<Observation> observed;  // one for each step
  std::vector<Act> expected;
};

// The acts `plan` (PlanUndo or PlanKeep) gives for the case's journal, after a Begin.
template <typename Planner>
std::vector<Act> Planned(const Case& c, Planner plan) {
  std::vector<Record> records = {{.kind = Kind::kBegin, .owner = 1}};
  records.insert(records.end(), c.records.begin(), c.records.end());
  records = Read(records);
  std::vector<Step> steps;
  EXPECT_TRUE(StepsOf(records, steps)) << c.what;
  const Plan planned = plan(records, steps, c.observed, 2, OwnsKept);
  EXPECT_FALSE(planned.damaged) << c.what;
  std::vector<Act> acts;
  for (const Action& action : planned.actions) acts.push_back(action.act);
  return acts;
}

Observation Link(Observation seen) {
  seen.path.link = true;
  return seen;
}
Observation WithTemporary(Observation seen) {
  seen.temporaryExists = true;
  return seen;
}
Observation KeptNotOriginal(Observation seen) {
  seen.kept.fileId = 1234;
  return seen;
}
Observation Gone(Observation seen) {
  seen.path = {};
  seen.blocks.assign(seen.blocks.size(), BlockNow{});
  return seen;
}
Observation WithoutKept(Observation seen) {
  seen.kept = {};
  return seen;
}

const Record kEnd{.kind = Kind::kEnd}, kUndo{.kind = Kind::kUndo};
const Record kCreated{.kind = Kind::kCreated, .path = kPath};

TEST(JournalPlan, EachFileIsRestoredOnlyWhereItHoldsWhatTheSaveWrote) {
  using A = Act;
  const Case cases[] = {
      {"in place, as saved",
       {InPlace(), Written(), kEnd},
       {Seen(Holds::kNew)},
       {A::kRestoreInPlace}},
      {"in place, edited at the same size and time",
       {InPlace(), Written(), kEnd},
       {Seen(Holds::kForeign)},
       {A::kLeaveAlone}},
      {"in place, our bytes at another time",
       {InPlace(), Written(), kEnd},
       {Seen(Holds::kNew, false)},
       {A::kLeaveAlone}},
      {"in place, old bytes after a finished save",
       {InPlace(), Written(), kEnd},
       {Seen(Holds::kOld)},
       {A::kLeaveAlone}},
      {"in place, cut off before the write",
       {InPlace()},
       {Seen(Holds::kOld)},
       {A::kRestoredAlready}},
      {"in place, cut off in the middle", {InPlace()}, {Seen(Holds::kTorn)}, {A::kRestoreInPlace}},
      {"in place, cut off inside a block",
       {InPlace()},
       {Seen(Holds::kTornInBlock)},
       {A::kRestoreInPlace}},
      {"in place, cut off after the write", {InPlace()}, {Seen(Holds::kNew)}, {A::kRestoreInPlace}},
      {"in place, edited in its last block after the save",
       {InPlace(), Written(), kEnd},
       {Seen(Holds::kEditedLast)},
       {A::kLeaveAlone}},
      {"in place, cut off, then edited", {InPlace()}, {Seen(Holds::kForeign)}, {A::kLeaveAlone}},
      {"in place, undo stopped after it",
       {InPlace(), Written(), kEnd, kUndo},
       {Seen(Holds::kOld)},
       {A::kRestoredAlready}},
      {"in place, undo stopped in its middle",
       {InPlace(), Written(), kEnd, kUndo},
       {Seen(Holds::kTorn)},
       {A::kRestoreInPlace}},
      {"in place, undo stopped before it",
       {InPlace(), Written(), kEnd, kUndo},
       {Seen(Holds::kNew)},
       {A::kRestoreInPlace}},
      {"in place, its outcome lost in the middle of the save",
       {InPlace(), InPlace(kOther), Written(kOther), kEnd},
       {Seen(Holds::kNew), Seen(Holds::kNew)},
       {A::kRestoreInPlace, A::kLeaveAlone}},
      {"side by side, both cut off",
       {InPlace(), InPlace(kOther)},
       {Seen(Holds::kTorn), Seen(Holds::kNew)},
       {A::kRestoreInPlace, A::kRestoreInPlace}},
      {"side by side, one cut off and edited since",
       {InPlace(), InPlace(kOther), Written(kOther)},
       {Seen(Holds::kForeign), Seen(Holds::kNew)},
       {A::kRestoreInPlace, A::kLeaveAlone}},
      {"in place, now a link",
       {InPlace(), Written(), kEnd},
       {Link(Seen(Holds::kNew))},
       {A::kLeaveAlone}},
      {"in place twice, newest first",
       {InPlace(), Written(), InPlace(), Written(), kEnd},
       {Seen(Holds::kForeign), Seen(Holds::kNew)},
       {A::kRestoreInPlace, A::kRestoreInPlace}},
      {"in place twice, undo stopped between them",
       {InPlace(), Written(), InPlace(), Written(), kEnd, kUndo},
       {Seen(Holds::kNew), Seen(Holds::kOld)},
       {A::kRestoredAlready, A::kRestoreInPlace}},
      {"in place twice, undo stopped after both",
       {InPlace(), Written(), InPlace(), Written(), kEnd, kUndo},
       {Seen(Holds::kOld), Seen(Holds::kForeign)},
       {A::kRestoredAlready, A::kRestoredAlready}},
      {"in place, identified, cut off in the middle",
       {Identified(InPlace())},
       {Seen(Holds::kTorn)},
       {A::kRestoreInPlace}},
      {"in place, identified, cut off, another file of its bytes in its place",
       {Identified(InPlace())},
       {Seen(Holds::kTorn, true, 1234)},
       {A::kLeaveAlone}},
      {"in place, identified, undo stopped, another file in its place",
       {Identified(InPlace()), Written(), kEnd, kUndo},
       {Seen(Holds::kTorn, true, 1234)},
       {A::kLeaveAlone}},
      {"in place, abandoned",
       {InPlace(), {.kind = Kind::kAbandoned, .path = kPath}, kEnd},
       {Seen(Holds::kOld)},
       {}},

      {"rewritten, as saved", {Rewrite(), Written(), kEnd}, {Seen(Holds::kNew)}, {A::kPutKeptBack}},
      {"rewritten, edited at the same size and time",
       {Rewrite(), Written(), kEnd},
       {Seen(Holds::kForeign)},
       {A::kLeaveAlone}},
      {"rewritten, the kept original is another file",
       {Rewrite(), Written(), kEnd},
       {KeptNotOriginal(Seen(Holds::kNew))},
       {A::kLeaveAlone}},
      {"rewritten, the kept original gone",
       {Rewrite(), Written(), kEnd},
       {WithoutKept(Seen(Holds::kNew))},
       {A::kLeaveAlone}},
      {"rewritten, cut off before the rename",
       {Rewrite()},
       {WithTemporary(Seen(Holds::kForeign, true, kOriginalId))},
       {A::kDeleteTemporary, A::kDeleteKept, A::kRestoredAlready}},
      {"rewritten, cut off between deleting the file and the rename",
       {Rewrite()},
       {Gone(WithTemporary(Seen(Holds::kNew)))},
       {A::kLeaveAlone}},
      {"rewritten, cut off after the rename", {Rewrite()}, {Seen(Holds::kNew)}, {A::kPutKeptBack}},
      {"rewritten, cut off, then edited", {Rewrite()}, {Seen(Holds::kForeign)}, {A::kLeaveAlone}},
      {"rewritten, undo stopped after it",
       {Rewrite(), Written(), kEnd, kUndo},
       {WithoutKept(Seen(Holds::kForeign, true, kOriginalId))},
       {A::kRestoredAlready}},

      {"a copy, saved in place",
       {kCreated, InPlace(), Written(), kEnd},
       {Seen(Holds::kNew), Seen(Holds::kNew)},
       {A::kDeleteCreated}},
      {"a copy, edited since",
       {kCreated, InPlace(), Written(), kEnd},
       {Seen(Holds::kNew), Seen(Holds::kForeign)},
       {A::kLeaveAlone}},
      {"a copy, cut off", {kCreated}, {Seen(Holds::kForeign)}, {A::kDeleteCreated}},
      {"a copy nothing wrote",
       {kCreated, Written(), kEnd},
       {Seen(Holds::kNew)},
       {A::kDeleteCreated}},
      {"a copy nothing wrote, another file of its name now",
       {kCreated, Written(), kEnd},
       {Seen(Holds::kNew, true, 1234)},
       {A::kLeaveAlone}},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, Planned(c, PlanUndo)) << c.what;
}

// Keeping what an unfinished save did: its temporary files go, the write it was in the middle
// of is undone where that file is still as the save left it.
TEST(JournalPlan, AKeptSaveLosesNoFileItWasWriting) {
  using A = Act;
  const Case cases[] = {
      {"in place, cut off in the middle", {InPlace()}, {Seen(Holds::kTorn)}, {A::kRestoreInPlace}},
      {"in place, cut off, then edited", {InPlace()}, {Seen(Holds::kForeign)}, {}},
      {"in place, finished", {InPlace(), Written(), kEnd}, {Seen(Holds::kNew)}, {}},
      {"in place, identified, cut off in the middle",
       {Identified(InPlace())},
       {Seen(Holds::kTorn)},
       {A::kRestoreInPlace}},
      {"in place, identified, cut off, another file of its bytes in its place",
       {Identified(InPlace())},
       {Seen(Holds::kTorn, true, 1234)},
       {A::kLeaveAlone}},
      {"in place, identified, cut off, the file unreadable",
       {Identified(InPlace())},
       {Seen(Holds::kNew, true, 0)},
       {A::kLeaveAlone}},
      {"rewritten, cut off before the rename",
       {Rewrite()},
       {WithTemporary(Seen(Holds::kForeign, true, kOriginalId))},
       {A::kDeleteTemporary}},
      {"rewritten, cut off between deleting the file and the rename",
       {Rewrite()},
       {Gone(WithTemporary(Seen(Holds::kNew)))},
       {A::kDeleteTemporary, A::kPutKeptBack}},
      {"a copy, cut off while it was made",
       {kCreated},
       {Seen(Holds::kForeign)},
       {A::kDeleteCreated}},
      {"a copy, saved in place before the stop",
       {kCreated, InPlace(), Written()},
       {Seen(Holds::kNew), Seen(Holds::kNew)},
       {}},
      {"rewritten and gone, the kept original another file",
       {Rewrite()},
       {KeptNotOriginal(Gone(WithTemporary(Seen(Holds::kNew))))},
       {A::kDeleteTemporary}},
      // Files saved side by side: every write the stop may have cut off, nothing it finished.
      {"side by side, both cut off",
       {InPlace(), InPlace(kOther)},
       {Seen(Holds::kTorn), Seen(Holds::kNew)},
       {A::kRestoreInPlace, A::kRestoreInPlace}},
      {"side by side, one not begun, one finished",
       {InPlace(), InPlace(kOther), Written(kOther)},
       {Seen(Holds::kOld), Seen(Holds::kNew)},
       {}},
      {"side by side, one edited since",
       {InPlace(), InPlace(kOther)},
       {Seen(Holds::kForeign), Seen(Holds::kTorn)},
       {A::kRestoreInPlace}},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, Planned(c, PlanKeep)) << c.what;
}

// The library's folder for temporary files on the volume of kPath.
const std::u16string kOurs = u"C:\\.tagwhirl-kept\\S-1-5-21-7\\new\\";

TEST(JournalPlan, AJournalOfOtherShapesIsRefusedWhole) {
  const auto with = [](auto change) {
    std::vector<Record> records = {{.kind = Kind::kBegin}, Rewrite(), InPlace(kOther)};
    change(records);
    return records;
  };
  const struct {
    const char* what;
    std::vector<Record> records;
    bool trusted;
  } cases[] = {
      {"as saved", with([](auto&) {}), true},
      {"a share's path", with([](auto& r) { r[2].path = u"\\\\server\\music\\a.mp3"; }), true},
      {"a long path", with([](auto& r) { r[2].path = u"\\\\?\\C:\\a.mp3"; }), true},
      {"a relative path", with([](auto& r) { r[2].path = u"music\\a.mp3"; }), false},
      {"a path on the drive's current folder", with([](auto& r) { r[2].path = u"C:a.mp3"; }),
       false},
      {"a path climbing out", with([](auto& r) { r[2].path = u"C:\\m\\..\\Windows\\a.dll"; }),
       false},
      {"a device", with([](auto& r) { r[2].path = u"\\\\.\\PhysicalDrive0"; }), false},
      {"a temporary of another file",
       with([](auto& r) { r[1].temporary = u"C:\\Windows\\x.tagwhirl-new-1-2.tmp"; }), false},
      {"a temporary of another shape", with([](auto& r) { r[1].temporary = r[1].path + u".tmp"; }),
       false},
      {"a temporary in the library's folder of the volume",
       with([](auto& r) { r[1].temporary = kOurs + u"a.mp3.tagwhirl-new-12-34.tmp"; }), true},
      {"the same in the long form",
       with([](auto& r) { r[1].temporary = u"\\\\?\\" + kOurs + u"a.mp3.tagwhirl-new-12-34.tmp"; }),
       true},
      {"a temporary there of another file",
       with([](auto& r) { r[1].temporary = kOurs + u"b.mp3.tagwhirl-new-12-34.tmp"; }), false},
      {"a temporary in the folder of another volume", with([](auto& r) {
         r[1].temporary = u"D:\\.tagwhirl-kept\\S-1-5-21-7\\new\\a.mp3.tagwhirl-new-12-34.tmp";
       }),
       false},
      {"a temporary climbing out of the folder", with([](auto& r) {
         r[1].temporary = u"C:\\.tagwhirl-kept\\..\\new\\a.mp3.tagwhirl-new-12-34.tmp";
       }),
       false},
      {"a temporary in a folder of another name", with([](auto& r) {
         r[1].temporary = u"C:\\.tagwhirl-kept\\S-1-5-21-7\\kept\\a.mp3.tagwhirl-new-12-34.tmp";
       }),
       false},
      {"a kept original elsewhere", with([](auto& r) { r[1].kept = u"C:\\Users\\me\\doc.txt"; }),
       false},
      {"old bytes past the old end", with([](auto& r) { r[2].old[0].offset = kOldSize; }), false},
      {"more old bytes than the write covers",
       with([](auto& r) { r[2].old[0].bytes.push_back(0); }), false},
      {"blocks that do not count the new bytes",
       with([](auto& r) { r[2].old[0].blocks.push_back(0); }), false},
      {"a piece larger than any tag", with([](auto& r) { r[1].old[0].length = uint64_t(1) << 40; }),
       false},
  };
  for (const auto& c : cases) {
    const auto records = Read(c.records);
    ASSERT_EQ(c.records.size(), records.size()) << c.what;
    EXPECT_EQ(c.trusted, Trusted(records, OwnsKept)) << c.what;
    std::vector<Step> steps;
    StepsOf(records, steps);
    const std::vector<Observation> observed(steps.size(), Seen(Holds::kNew));
    const Plan plan = PlanUndo(records, steps, observed, 2, OwnsKept);
    EXPECT_EQ(!c.trusted, plan.damaged) << c.what;
    if (!c.trusted) {
      EXPECT_TRUE(plan.actions.empty()) << c.what;
    }
  }
}

}  // namespace
