// A save of mixed files through the library, with a journal: undone to the files' exact bytes,
// also when the save was cut off at any write (a crash), and leaving alone what changed since.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "journal/Journal.h"
#include "journal/KeptStore.h"
#include "journal/Recorder.h"
#include "mp3infp/Leftovers.h"
#include "mp3infp/Session.h"
#include "tests/mp3infp/Mp4Samples.h"
#include "tests/mp3infp/WinSampleFiles.h"

using namespace samples;

namespace {

struct Sample {
  std::string name;
  Bytes bytes;
};

// In place and written anew, in every container.
std::vector<Sample> MixedSamples() {
  Bytes roomy = Tag(3, Frame(3, "TIT2", Latin1Text("old")), 600);
  Append(roomy, MpegAudio(8));
  Mp4Layout withRoom;
  withRoom.freeAfterMoov = 400;
  std::vector<Sample> samples = {
      {"roomy.mp3", roomy},
      {"bare.mp3", MpegAudio(12, 3)},
      {"padded.flac", Flac({FlacBlock(0, FlacStreamInfo()), FlacBlock(1, Bytes(800, 0), true)})},
      {"tight.flac", Flac({FlacBlock(0, FlacStreamInfo(), true)})},
      {"room.m4a", Mp4File(withRoom)},
      {"tight.m4a", Mp4File(Mp4Layout{})},
      // moov at the end grows in place, past the old end of the file.
      {"last.m4a", Mp4File(Mp4Layout{.moovFirst = false})},
  };
  for (const char* name : {"vorbis.ogg", "opus.opus"})
    samples.push_back({name, ReadBytes(std::string("Z:" TAGWHIRL_OGG_SAMPLES "/") + name)});
  return samples;
}

// Stops the save at its n-th write, as a crash would: nothing after it runs, no failure is
// recorded and nothing is put back.
class CrashingWriter : public mp3infp::Writer {
 public:
  explicit CrashingWriter(int writes) : left_(writes) {}
  bool Write(HANDLE file, uint64_t offset, const void* data, size_t length) override {
    if (left_-- == 0) {
      // Half of it reaches the disk.
      mp3infp::Writer::Write(file, offset, data, length / 2);
      throw std::runtime_error("crash");
    }
    return mp3infp::Writer::Write(file, offset, data, length);
  }

 private:
  int left_;
};

class JournalFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateDirectoryA(music.c_str(), nullptr);
    CreateDirectoryA(out.c_str(), nullptr);
    for (const Sample& s : MixedSamples()) {
      ASSERT_FALSE(s.bytes.empty()) << s.name;
      ASSERT_TRUE(WriteBytes(music + "\\" + s.name, s.bytes));
      before[s.name] = s.bytes;
    }
  }
  void TearDown() override { mp3infp::LibraryJournal().Detach(); }

  // Saves every file, in place or into a copy in `out`, once with short values, and once more
  // (unless `rounds` is 1) with a comment long enough to make every file be written anew.
  void SaveAll(journal::Journal& journal, bool intoFolder, mp3infp::Writer& writer,
               int rounds = 2) {
    for (int round = 0; round < rounds; ++round) {
      for (const auto& [name, bytes] : before) {
        std::string path = music + "\\" + name;
        if (intoFolder) {
          const std::string copy = out + "\\" + name;
          if (round == 0) {
            journal.RecordCreated(Wide(copy));
            ASSERT_TRUE(CopyFileA(path.c_str(), copy.c_str(), TRUE));
          }
          path = copy;
        }
        mp3infp::Session session;
        ASSERT_EQ(0u, session.Load(path.c_str())) << name;
        const bool mp3 = name.ends_with(".mp3");
        if (mp3 && name == "bare.mp3" && round == 0) session.MakeTag(path.c_str(), true);
        const std::string suffix = mp3 ? "_v2" : "";
        session.SetValue(("INAM" + suffix).c_str(), "新しい題名");
        session.SetValue(("ICMT" + suffix).c_str(),
                         round ? std::string(3000, 'c').c_str() : "short");
        ASSERT_EQ(0u, session.Save(path.c_str(), writer)) << name;
      }
    }
  }

  void ExpectAsBefore() {
    for (const auto& [name, bytes] : before)
      EXPECT_EQ(bytes, ReadBytes(music + "\\" + name)) << name;
    EXPECT_EQ(int(before.size()), CountFiles(music));
    EXPECT_EQ(0, CountFiles(out));
    EXPECT_EQ(1, CountFiles(scratch / "journal")) << "only the lock is left";
    EXPECT_EQ(0, OurTemporaries());
  }

  // The temporary files of this process in the library's folder of the music's volume, where
  // files written anew are made: undo and keep delete them by the journal's record.
  int OurTemporaries() const {
    const std::wstring folder = journal::MakeUserRootOn(journal::VolumeOf(Wide(music))) + L"\\new\\";
    int count = 0;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
      count += mp3infp::ProcessOfTemporary(found.cFileName) == GetCurrentProcessId();
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return count;
  }

  const ScratchFolder scratch{"journal"};
  const std::string music = scratch / "music", out = scratch / "out";
  const std::wstring folder = Wide(scratch / "journal");
  std::map<std::string, Bytes> before;
};

TEST_F(JournalFixture, UndoGivesEveryFileItsBytesBackAndRemovesTheCopies) {
  for (bool intoFolder : {false, true}) {
    SCOPED_TRACE(intoFolder ? "into a folder" : "in place");
    journal::Journal journal(folder);
    ASSERT_TRUE(journal.Begin(42));
    ASSERT_EQ(0u, mp3infp::LibraryJournal().Attach(folder.c_str()) ? 0u : 1u);
    SaveAll(journal, intoFolder, mp3infp::SystemWriter());
    mp3infp::LibraryJournal().Detach();
    journal.End();
    for (const auto& [name, bytes] : before) {
      EXPECT_NE(bytes, ReadBytes((intoFolder ? out : music) + "\\" + name)) << name;
    }
    uint64_t owner = 0;
    EXPECT_EQ(journal::Journal::State::kFinished, journal.Inspect(&owner));
    EXPECT_EQ(42u, owner);

    const auto outcome = journal.Undo();
    EXPECT_TRUE(outcome.failed.empty());
    EXPECT_EQ(intoFolder ? 0 : int(before.size()), outcome.restored);
    EXPECT_EQ(intoFolder ? int(before.size()) : 0, outcome.removed);
    ExpectAsBefore();
    EXPECT_EQ(journal::Journal::State::kNone, journal.Inspect());
  }
}

// Cut off at every write of the save in turn; then, as at the next start, the unfinished journal
// is found and undone, or kept: a kept file is whole, as before the save or as after it.
TEST_F(JournalFixture, ASaveCutOffAnywhereIsUndoneOrKeptWhole) {
  // Each file as each round of the save leaves it.
  std::map<std::string, Bytes> saved[2];
  for (int rounds : {1, 2}) {
    journal::Journal journal(folder);
    ASSERT_TRUE(journal.Begin(1));
    mp3infp::LibraryJournal().Attach(folder.c_str());
    SaveAll(journal, false, mp3infp::SystemWriter(), rounds);
    for (const auto& [name, bytes] : before)
      saved[rounds - 1][name] = ReadBytes(music + "\\" + name);
    mp3infp::LibraryJournal().Detach();
    journal.Undo();
  }
  for (int writes = 0; writes < 60; writes += 3) {
    for (bool undo : {true, false}) {
      SCOPED_TRACE(::testing::Message() << writes << (undo ? " undo" : " keep"));
      for (bool intoFolder : {false, true}) {
        {
          journal::Journal journal(folder);
          ASSERT_TRUE(journal.Begin(2));
          mp3infp::LibraryJournal().Attach(folder.c_str());
          CrashingWriter writer(writes);
          try {
            SaveAll(journal, intoFolder, writer);
          } catch (const std::runtime_error&) {
          }
          mp3infp::LibraryJournal().Detach();
        }
        journal::Journal next(folder);
        const auto state = next.Inspect();
        if (state == journal::Journal::State::kFinished) break;  // past the last write
        ASSERT_EQ(journal::Journal::State::kUnfinished, state);
        if (undo) {
          EXPECT_TRUE(next.Undo().failed.empty());
          ExpectAsBefore();
          continue;
        }
        next.Keep();
        for (const auto& [name, bytes] : before) {
          const Bytes now = ReadBytes(music + "\\" + name);
          EXPECT_TRUE(now == bytes || now == saved[0][name] || now == saved[1][name]) << name;
          ASSERT_TRUE(WriteBytes(music + "\\" + name, bytes));
        }
        EXPECT_EQ(int(before.size()), CountFiles(music)) << "no temporary file left";
        EXPECT_EQ(0, OurTemporaries()) << "no temporary file left";
        for (const auto& [name, bytes] : before) DeleteFileA((out + "\\" + name).c_str());
      }
    }
  }
}

// The names in `folder` that `pattern` matches, "." and ".." left out.
std::vector<std::string> Names(const std::string& folder, const char* pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\" + pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (found.cFileName[0] != '.') names.push_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

// The original kept in `journal`'s folder of kept originals that holds `bytes`.
std::string KeptOriginalOf(const std::string& journal, const Bytes& bytes) {
  const std::string kept = journal + "\\kept";
  for (const std::string& folder : Names(kept, "*")) {
    for (const std::string& name : Names(kept + "\\" + folder, "*")) {
      const std::string path = kept + "\\" + folder + "\\" + name;
      if (ReadBytes(path) == bytes) return path;
    }
  }
  return {};
}

// Another program's edit of the value the save wrote, in place, with the file's time put back.
void EditKeepingTime(const std::string& path) {
  Bytes bytes = ReadBytes(path);
  const std::string value = "short";
  const auto at = std::search(bytes.begin(), bytes.end(), value.begin(), value.end());
  ASSERT_NE(bytes.end(), at) << path;
  *at ^= 1;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  FILETIME time;
  GetFileTime(file, nullptr, nullptr, &time);
  DWORD done = 0;
  WriteFile(file, bytes.data(), DWORD(bytes.size()), &done, nullptr);
  SetFileTime(file, nullptr, nullptr, &time);
  CloseHandle(file);
}

// What changed since the save is named and left as it is; everything else is undone.
TEST_F(JournalFixture, AFileChangedSinceIsNamedAndLeftAlone) {
  struct Case {
    const char* what;
    std::string name;
    void (*change)(const std::string& path, HANDLE& held);
    bool rewritten = false;  // its original from before the save was kept, and must stay
    // What stands in the way of setting that original aside.
    enum Obstacle {
      kNone,
      kFileInTheWay,       // a file where the folder of originals set aside goes
      kReadOnly,           // the original is held open by another program that lets it be read only
      kHeld,               // and held for nobody else: it cannot be moved nor copied until let go
      kHeldOnAFullVolume,  // and no record more fits on the journal's volume
    } obstacle = kNone;
  } cases[] = {
      {"grown", "padded.flac",
       [](const std::string& path, HANDLE&) {
         Bytes bytes = ReadBytes(path);
         bytes.push_back(1);
         WriteBytes(path, bytes);
       }},
      {"same size and time, other bytes in the tag", "roomy.mp3",
       [](const std::string& path, HANDLE&) { EditKeepingTime(path); }},
      // Written anew, then edited in its fresh padding by another tagger that kept the time.
      {"rewritten, same size and time, other bytes in the tag", "tight.flac",
       [](const std::string& path, HANDLE&) { EditKeepingTime(path); }, true},
      {"deleted", "tight.m4a", [](const std::string& path, HANDLE&) { DeleteFileA(path.c_str()); },
       true},
      {"locked", "bare.mp3",
       [](const std::string& path, HANDLE& held) {
         held = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
       },
       true},
      {"deleted, a file where its original is set aside", "tight.m4a",
       [](const std::string& path, HANDLE&) { DeleteFileA(path.c_str()); }, true,
       Case::kFileInTheWay},
      {"deleted, its original held open for reading", "tight.m4a",
       [](const std::string& path, HANDLE&) { DeleteFileA(path.c_str()); }, true, Case::kReadOnly},
      {"deleted, its original held open by another program", "tight.m4a",
       [](const std::string& path, HANDLE&) { DeleteFileA(path.c_str()); }, true, Case::kHeld},
      {"deleted, its original held open by another program, the journal's volume full", "tight.m4a",
       [](const std::string& path, HANDLE&) { DeleteFileA(path.c_str()); }, true,
       Case::kHeldOnAFullVolume},
  };
  const std::string journalFolder = scratch / "journal";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& [name, bytes] : before) WriteBytes(music + "\\" + name, bytes);
    journal::Journal journal(folder);
    ASSERT_TRUE(journal.Begin(3));
    mp3infp::LibraryJournal().Attach(folder.c_str());
    // Once: the files with room are written in place, the others anew.
    SaveAll(journal, false, mp3infp::SystemWriter(), 1);
    mp3infp::LibraryJournal().Detach();
    journal.End();
    const std::string changed = music + "\\" + c.name;
    HANDLE held = INVALID_HANDLE_VALUE;
    const Bytes saved = ReadBytes(changed);
    c.change(changed, held);
    // A locked file cannot be read; it holds what the save left.
    const Bytes afterChange = held == INVALID_HANDLE_VALUE ? ReadBytes(changed) : saved;

    if (c.obstacle == Case::kFileInTheWay) {
      RemoveDirectoryA((journalFolder + "\\not-restored").c_str());
      ASSERT_TRUE(WriteBytes(journalFolder + "\\not-restored", {1}));
    }
    const std::string kept = KeptOriginalOf(journalFolder, before[c.name]);
    HANDLE keptHeld = INVALID_HANDLE_VALUE;
    const bool keptLocked = c.obstacle == Case::kHeld || c.obstacle == Case::kHeldOnAFullVolume;
    if (c.obstacle == Case::kReadOnly || keptLocked) {
      keptHeld = CreateFileA(kept.c_str(), GENERIC_READ,
                             c.obstacle == Case::kReadOnly ? FILE_SHARE_READ : 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(INVALID_HANDLE_VALUE, keptHeld);
    }

    if (c.obstacle == Case::kHeldOnAFullVolume)
      journal::theRecordWrite = [](HANDLE, const uint8_t*, size_t) { return false; };
    auto outcome = journal.Undo();
    journal::theRecordWrite = journal::WriteAll;
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    ASSERT_EQ(1u, outcome.failed.size());
    EXPECT_EQ(Wide(changed), outcome.failed[0]);
    EXPECT_EQ(int(before.size()) - 1, outcome.restored);
    EXPECT_EQ(afterChange, ReadBytes(changed));
    if (keptLocked) {
      // Named where it is, and neither it nor its journal deleted: the next start finishes the
      // undo, and sets it aside then; no save replaces the journal before.
      ASSERT_EQ(1u, outcome.keptAside.size());
      EXPECT_EQ(Wide(kept), outcome.keptAside[0].second);
      EXPECT_EQ(journal::Journal::State::kUndoing, journal.Inspect());
      CloseHandle(keptHeld);
      keptHeld = INVALID_HANDLE_VALUE;
      EXPECT_EQ(before[c.name], ReadBytes(kept));
      journal::Journal next(folder);
      outcome = next.Undo();
      EXPECT_EQ(journal::Journal::State::kNone, next.Inspect());
    }
    if (keptHeld != INVALID_HANDLE_VALUE) CloseHandle(keptHeld);
    // Set aside where the journal's cleanup does not go, and named.
    ASSERT_EQ(c.rewritten ? 1u : 0u, outcome.keptAside.size());
    if (c.rewritten) {
      EXPECT_EQ(Wide(changed), outcome.keptAside[0].first);
      const std::wstring setAside =
          Wide(journalFolder +
               (c.obstacle == Case::kFileInTheWay ? "\\not-restored-2\\" : "\\not-restored\\"));
      EXPECT_EQ(setAside, outcome.keptAside[0].second.substr(0, setAside.size()));
      EXPECT_EQ(before[c.name], ReadBytes(outcome.keptAside[0].second));
      DeleteFileW(outcome.keptAside[0].second.c_str());
    }
    DeleteFileA((journalFolder + "\\not-restored").c_str());
    for (const auto& [name, bytes] : before) {
      if (name != c.name) {
        EXPECT_EQ(bytes, ReadBytes(music + "\\" + name)) << name;
      }
    }
  }
}

// The record of what a write left could not be appended (the journal's volume filled up just
// then): the file is given its bytes back from the hashes of what the write put, when the save
// was cut off there, or named, with its original set aside, when the save ended after it, since
// nothing then says whether another program changed it since.
TEST_F(JournalFixture, AWriteWhoseOutcomeWasNotRecordedIsUndoneOrNamed) {
  const struct {
    std::string name;
    bool rewritten;
    bool ended;
  } cases[] = {
      {"roomy.mp3", false, false},
      {"roomy.mp3", false, true},
      {"tight.flac", true, false},
      {"tight.flac", true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name + (c.ended ? ", ended" : ", cut off"));
    const std::string path = music + "\\" + c.name;
    ASSERT_TRUE(WriteBytes(path, before[c.name]));
    {
      journal::Journal journal(folder);
      ASSERT_TRUE(journal.Begin(8));
      mp3infp::LibraryJournal().Attach(folder.c_str());
      journal::theRecordWrite = [](HANDLE file, const uint8_t* data, size_t size) {
        // Half of the record reaches the disk.
        DWORD done = 0;
        if (size > 4 && data[4] == uint8_t(journal::Kind::kWritten))
          return WriteFile(file, data, DWORD(size / 2), &done, nullptr) && false;
        return journal::WriteAll(file, data, size);
      };
      mp3infp::Session session;
      ASSERT_EQ(0u, session.Load(path.c_str()));
      const std::string suffix = c.rewritten ? "" : "_v2";
      session.SetValue(("INAM" + suffix).c_str(), "新しい題名");
      session.SetValue(("ICMT" + suffix).c_str(), "short");
      const bool saved = session.Save(path.c_str(), mp3infp::SystemWriter()) == 0;
      journal::theRecordWrite = journal::WriteAll;
      ASSERT_TRUE(saved);
      EXPECT_TRUE(mp3infp::LibraryJournal().stopped());
      mp3infp::LibraryJournal().Detach();
      if (c.ended) journal.End();
    }
    const Bytes saved = ReadBytes(path);
    ASSERT_NE(before[c.name], saved);
    journal::Journal next(folder);
    EXPECT_EQ(c.ended ? journal::Journal::State::kFinished : journal::Journal::State::kUnfinished,
              next.Inspect());
    const auto outcome = next.Undo();
    if (!c.ended) {
      EXPECT_TRUE(outcome.failed.empty());
      EXPECT_EQ(1, outcome.restored);
      EXPECT_EQ(before[c.name], ReadBytes(path));
      continue;
    }
    ASSERT_EQ(1u, outcome.failed.size());
    EXPECT_EQ(saved, ReadBytes(path));
    ASSERT_EQ(c.rewritten ? 1u : 0u, outcome.keptAside.size());
    if (c.rewritten) {
      EXPECT_EQ(before[c.name], ReadBytes(outcome.keptAside[0].second));
      DeleteFileW(outcome.keptAside[0].second.c_str());
    }
  }
}

// A copy that nothing wrote after it was made is deleted by undo only while it is that file: a
// file of the same bytes, size and time put in its place (what a folder that became a link to
// a copy of itself shows) is named and left.
TEST_F(JournalFixture, ACopyNothingWroteIsRemovedOnlyWhileItIsThatFile) {
  const std::string copy = out + "\\roomy.mp3";
  for (bool replaced : {false, true}) {
    SCOPED_TRACE(replaced ? "another file in its place" : "as made");
    journal::Journal journal(folder);
    ASSERT_TRUE(journal.Begin(9));
    ASSERT_TRUE(journal.RecordCreated(Wide(copy)));
    ASSERT_TRUE(CopyFileA((music + "\\roomy.mp3").c_str(), copy.c_str(), TRUE));
    journal.End();
    if (replaced) {
      // Made beside it first, so that the system cannot give it the copy's identity again.
      const std::string other = out + "\\other.mp3";
      ASSERT_TRUE(CopyFileA(copy.c_str(), other.c_str(), TRUE));
      ASSERT_TRUE(DeleteFileA(copy.c_str()));
      ASSERT_TRUE(MoveFileA(other.c_str(), copy.c_str()));
    }
    const auto outcome = journal.Undo();
    EXPECT_EQ(replaced ? 0 : 1, outcome.removed);
    EXPECT_EQ(replaced ? 1u : 0u, outcome.failed.size());
    EXPECT_EQ(replaced, journal::Exists(Wide(copy)));
    DeleteFileA(copy.c_str());
  }
}

// A second instance of the program finds the journal held while a save is under way.
TEST_F(JournalFixture, AJournalInUseIsNotTakenOver) {
  journal::Journal first(folder), second(folder);
  ASSERT_TRUE(first.Begin(1));
  EXPECT_EQ(journal::Journal::State::kBusy, second.Inspect());
  EXPECT_FALSE(second.Begin(2));
  first.End();
  EXPECT_EQ(journal::Journal::State::kFinished, second.Inspect());
  // The save an instance ended is not mistaken for the one a later instance left unfinished.
  EXPECT_EQ(journal::Journal::State::kFinished, first.Inspect());
  {
    journal::Journal third(folder);
    ASSERT_TRUE(third.Begin(3));
  }  // stopped in the middle: no end record
  EXPECT_EQ(journal::Journal::State::kUnfinished, first.Inspect());
}

}  // namespace

namespace {
// Copies `from` with its folders into `to` (links become copies).
void CopyTree(const std::string& from, const std::string& to) {
  CreateDirectoryA(to.c_str(), nullptr);
  for (const std::string& name : Names(from, "*")) {
    const std::string source = from + "\\" + name, target = to + "\\" + name;
    if (GetFileAttributesA(source.c_str()) & FILE_ATTRIBUTE_DIRECTORY)
      CopyTree(source, target);
    else
      CopyFileA(source.c_str(), target.c_str(), FALSE);
  }
}

int CountRetired(const std::string& journal) {
  return static_cast<int>(Names(journal, "retired-*").size());
}

// The originals kept, in the numbered folders under `kept`.
int CountKept(const std::string& kept) {
  int count = 0;
  for (const std::string& folder : Names(kept, "*")) count += CountFiles(kept + "\\" + folder);
  return count;
}
}  // namespace

// The originals an earlier save kept are moved aside when the next save begins and deleted after
// it ends, not during it; that save is undone as any other.
TEST_F(JournalFixture, AnEarlierSavesOriginalsGoOnceTheNextSaveEnds) {
  const std::string kept = scratch / "journal\\kept";
  std::map<std::string, Bytes> afterFirst;
  for (int save = 0; save < 2; ++save) {
    journal::Journal journal(folder);
    ASSERT_TRUE(journal.Begin(7));
    EXPECT_EQ(0, CountKept(kept));
    EXPECT_EQ(save, CountRetired(scratch / "journal"));
    ASSERT_TRUE(mp3infp::LibraryJournal().Attach(folder.c_str()));
    SaveAll(journal, false, mp3infp::SystemWriter());
    mp3infp::LibraryJournal().Detach();
    EXPECT_LT(0, CountKept(kept)) << "rewritten originals are kept";
    journal.End();
    if (save == 0) {
      for (const auto& [name, bytes] : before) afterFirst[name] = ReadBytes(music + "\\" + name);
      continue;
    }
    for (int waited = 0; waited < 100 && CountRetired(scratch / "journal"); ++waited) Sleep(100);
    EXPECT_EQ(0, CountRetired(scratch / "journal"));
  }
  journal::Journal journal(folder);
  EXPECT_TRUE(journal.Undo().failed.empty());
  for (const auto& [name, bytes] : afterFirst)
    EXPECT_EQ(bytes, ReadBytes(music + "\\" + name)) << name << " is as after the first save";
}

// An undo stopped after it put files back (the journal is there again, with its undo record, as
// a kill before the journal was dropped leaves it): the next undo finishes, and every file it
// had restored counts as restored, none as changed since.
TEST_F(JournalFixture, AStoppedUndoIsFinishedAndCountsWhatItRestored) {
  const std::string journalFolder = scratch / "journal";
  const std::string aside = scratch / "aside";
  {
    journal::Journal journal(folder);
    ASSERT_TRUE(journal.Begin(5));
    mp3infp::LibraryJournal().Attach(folder.c_str());
    SaveAll(journal, false, mp3infp::SystemWriter());
    mp3infp::LibraryJournal().Detach();
    journal.End();
    CopyTree(journalFolder, aside);
    ASSERT_TRUE(journal.Undo().failed.empty());
  }
  ExpectAsBefore();
  CopyTree(aside, journalFolder);
  journal::Recorder recorder;
  ASSERT_TRUE(recorder.Attach(folder.c_str()));
  ASSERT_TRUE(recorder.Append({.kind = journal::Kind::kUndo}, true));
  recorder.Detach();

  journal::Journal next(folder);
  ASSERT_EQ(journal::Journal::State::kUndoing, next.Inspect());
  const auto outcome = next.Undo();
  EXPECT_TRUE(outcome.failed.empty()) << outcome.failed.size();
  EXPECT_EQ(int(before.size()), outcome.restored);
  ExpectAsBefore();
}

// A journal that cannot be trusted (a crafted record, damage that more records follow, a start
// that is not a save's) is refused whole: no file is written, and every original it kept moves to
// a folder of its own that no later save deletes.
TEST_F(JournalFixture, AJournalThatCannotBeTrustedIsRefusedAndKeepsEveryOriginal) {
  const std::string journalFolder = scratch / "journal";
  const std::string records = journalFolder + "\\records.twj";
  const struct {
    const char* what;
    void (*damage)(const std::string& records);
    bool keep = false;     // offered at start, and the user keeps the files
    bool crafted = false;  // a record names a file by a relative path
  } cases[] = {
      {"a file named by a relative path", [](const std::string&) {}, false, true},
      {"a byte changed in the middle",
       [](const std::string& records) {
         Bytes bytes = ReadBytes(records);
         bytes[bytes.size() / 2] ^= 0x40;
         WriteBytes(records, bytes);
       },
       false},
      {"zeros where records were, more after them",
       [](const std::string& records) {
         Bytes bytes = ReadBytes(records);
         std::fill(bytes.begin() + bytes.size() / 3, bytes.begin() + bytes.size() / 2, 0);
         WriteBytes(records, bytes);
       },
       false},
      {"a start that is not a save's, kept",
       [](const std::string& records) {
         Bytes bytes = ReadBytes(records);
         bytes[6] ^= 0x40;
         WriteBytes(records, bytes);
       },
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& [name, bytes] : before) WriteBytes(music + "\\" + name, bytes);
    {
      journal::Journal journal(folder);
      ASSERT_TRUE(journal.Begin(6));
      mp3infp::LibraryJournal().Attach(folder.c_str());
      SaveAll(journal, false, mp3infp::SystemWriter(), 1);
      mp3infp::LibraryJournal().Detach();
      if (c.crafted) {
        journal::Recorder recorder;
        ASSERT_TRUE(recorder.Attach(folder.c_str()));
        journal::Record crafted{.kind = journal::Kind::kInPlace, .path = u"..\\music\\roomy.mp3"};
        crafted.old = {{.offset = 0, .length = 4, .bytes = {0, 0, 0, 0}}};
        crafted.size = 4;
        ASSERT_TRUE(recorder.Append(crafted, true));
      }
      journal.End();
    }
    c.damage(records);
    std::map<std::string, Bytes> saved;
    for (const auto& [name, bytes] : before) saved[name] = ReadBytes(music + "\\" + name);
    const int kept = CountKept(journalFolder + "\\kept");
    ASSERT_LT(0, kept) << "rewritten originals are kept";

    journal::Journal next(folder);
    // Offered, not taken for no journal, which the next save would replace.
    EXPECT_NE(journal::Journal::State::kNone, next.Inspect());
    const auto outcome = c.keep ? next.Keep() : next.Undo();
    EXPECT_TRUE(outcome.damaged);
    for (const auto& [name, bytes] : saved)
      EXPECT_EQ(bytes, ReadBytes(music + "\\" + name)) << name;
    ASSERT_EQ(1u, outcome.damagedAside.size());
    const std::string aside(outcome.damagedAside[0].begin(), outcome.damagedAside[0].end());
    EXPECT_EQ(kept, CountKept(aside + "\\kept"));
    EXPECT_TRUE(journal::Exists(Wide(aside + "\\records.twj")));
    EXPECT_EQ(journal::Journal::State::kNone, next.Inspect());

    // The next save and its cleanup leave them where they are.
    ASSERT_TRUE(next.Begin(7));
    next.End();
    for (int waited = 0; waited < 100 && Names(journalFolder, "retired-*").size(); ++waited)
      Sleep(100);
    EXPECT_EQ(kept, CountKept(aside + "\\kept"));
    next.Undo();
  }
}

// A write in place cut off by a crash, its file then replaced by another of the same bytes (as a
// folder that became a link to a copy of itself shows it): neither undo nor keep writes the old
// bytes into that other file; it is named.
TEST_F(JournalFixture, AWriteInPlaceIsPutBackOnlyIntoTheFileItWasMadeIn) {
  const std::string path = music + "\\roomy.mp3";
  for (bool undo : {true, false}) {
    for (bool replaced : {false, true}) {
      SCOPED_TRACE(::testing::Message()
                   << (undo ? "undo" : "keep") << (replaced ? ", another file in its place" : ""));
      ASSERT_TRUE(WriteBytes(path, before["roomy.mp3"]));
      {
        journal::Journal journal(folder);
        ASSERT_TRUE(journal.Begin(10));
        mp3infp::LibraryJournal().Attach(folder.c_str());
        mp3infp::Session session;
        ASSERT_EQ(0u, session.Load(path.c_str()));
        session.SetValue("INAM_v2", "新しい題名");
        CrashingWriter writer(0);
        EXPECT_THROW(session.Save(path.c_str(), writer), std::runtime_error);
        mp3infp::LibraryJournal().Detach();
      }
      const Bytes torn = ReadBytes(path);
      ASSERT_NE(before["roomy.mp3"], torn);
      if (replaced) {
        const std::string other = music + "\\other.tmp";
        ASSERT_TRUE(CopyFileA(path.c_str(), other.c_str(), TRUE));
        ASSERT_TRUE(DeleteFileA(path.c_str()));
        ASSERT_TRUE(MoveFileA(other.c_str(), path.c_str()));
      }
      journal::Journal next(folder);
      ASSERT_EQ(journal::Journal::State::kUnfinished, next.Inspect());
      const auto outcome = undo ? next.Undo() : next.Keep();
      EXPECT_EQ(replaced ? torn : before["roomy.mp3"], ReadBytes(path));
      ASSERT_EQ(replaced ? 1u : 0u, outcome.failed.size());
      if (replaced) {
        EXPECT_EQ(Wide(path), outcome.failed[0]);
      }
    }
  }
}

// Instances with journals of their own keep the originals of files on another volume in folders
// of their own there: what one journal names as its own, and retires at a save's start, is never
// the other's.
TEST_F(JournalFixture, AJournalRetiresOnlyItsOwnKeptOriginalsOnAVolume) {
  const std::wstring other = Wide(scratch / "other-journal");
  CreateDirectoryW(other.c_str(), nullptr);
  const std::wstring volume = journal::VolumeOf(folder);
  ASSERT_FALSE(volume.empty());
  const std::wstring mine = journal::KeptRootOn(volume, folder);
  const std::wstring theirs = journal::KeptRootOn(volume, other);
  ASSERT_NE(mine, theirs);
  const std::wstring name = L"\\kept\\0\\kept-1-1.bin";
  // What a journal of an earlier version named there, shared by all: still its own to put back.
  const std::wstring shared = mine.substr(0, mine.rfind(L'\\')) + name;
  const journal::KeptStore store(folder);
  const struct {
    std::wstring kept;
    bool owned;
  } cases[] = {{mine + name, true}, {theirs + name, false}, {shared, true}};
  for (const auto& c : cases)
    EXPECT_EQ(c.owned, store.Owns(c.kept)) << std::string(c.kept.begin(), c.kept.end());

  // Their original on the volume, and a note in my journal's folder naming their folder, as a
  // journal copied from theirs would hold: my save's start leaves it.
  ASSERT_TRUE(journal::MakeKeptRoot(theirs));
  CreateDirectoryW((theirs + L"\\kept\\0").c_str(), nullptr);
  ASSERT_TRUE(
      WriteBytes(std::string(theirs.begin(), theirs.end()) + "\\kept\\0\\kept-1-1.bin", {1, 2, 3}));
  CreateDirectoryW(folder.c_str(), nullptr);
  for (const std::wstring& root : {mine, theirs}) {
    const std::string note = scratch / "journal\\volume-" + std::to_string(root.size()) +
                             (root == mine ? "1" : "2") + ".txt";
    HANDLE file = CreateFileA(note.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_TRUE(journal::WriteAll(file, reinterpret_cast<const uint8_t*>(root.data()),
                                  root.size() * sizeof(wchar_t)));
    CloseHandle(file);
  }
  ASSERT_TRUE(journal::MakeKeptRoot(mine));
  const std::vector<std::wstring> roots = store.VolumeRoots();
  EXPECT_EQ(std::vector<std::wstring>{mine}, roots);
  store.Retire();
  store.DeleteAll();
  EXPECT_EQ(Bytes({1, 2, 3}), ReadBytes(theirs + name));
  journal::KeptStore(other).DeleteAll();
  DeleteFileW((theirs + name).c_str());
  for (const std::wstring& root : {mine, theirs}) {
    RemoveDirectoryW((root + L"\\kept\\0").c_str());
    RemoveDirectoryW((root + L"\\kept").c_str());
    RemoveDirectoryW(root.c_str());
  }
  const std::wstring user = mine.substr(0, mine.rfind(L'\\'));
  RemoveDirectoryW(user.c_str());
  RemoveDirectoryW(user.substr(0, user.rfind(L'\\')).c_str());
}

// The folders of a save's kept originals are made before it writes (made among its writes, each
// slowed the links that followed), and every save numbers its folders from the first, however
// many originals the process kept before.
TEST_F(JournalFixture, EachSaveKeepsItsOriginalsInFoldersMadeBeforeItWrites) {
  const std::string kept = scratch / "journal\\kept";
  const std::wstring file = Wide(music + "\\" + MixedSamples().front().name);
  journal::Recorder recorder;
  for (int save = 0; save < 2; ++save) {
    journal::Journal journal(folder);
    ASSERT_TRUE(journal.Begin(7, std::vector<std::wstring>(65, file)));
    std::vector<std::string> made = Names(kept, "*");
    std::sort(made.begin(), made.end());
    EXPECT_EQ((std::vector<std::string>{"0", "1"}), made) << "save " << save;
    ASSERT_TRUE(recorder.Attach(folder.c_str()));
    for (int i = 0; i < 65; ++i) {
      std::wstring name;
      ASSERT_TRUE(recorder.BeforeRewrite(file, file + L".tmp", 0, {}, name));
      EXPECT_EQ(Wide(kept + (i < 64 ? "\\0\\" : "\\1\\")),
                name.substr(0, name.rfind(L'\\') + 1))
          << "save " << save << ", original " << i;
    }
    recorder.Detach();
    journal.Forget();
  }
}
