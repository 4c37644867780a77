// A batch of saves against the recording library: one report at the end. Esc is pressed through
// X in tests/app/StopSaveTest.py; here a stop is asked for at a chosen file.
#include "tags/SaveBatch.h"

#include <windows.h>

#include <gmock/gmock.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "resources/Texts.h"
#include "tags/SaveJournal.h"
#include "tags/TagLibrary.h"
#include "tests/mp3infp/WinSampleFiles.h"
#include "tests/support/RecordingLibrary.h"
#include "tests/support/WinTestSupport.h"

using ::testing::ElementsAreArray;

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  lines.push_back(text.substr(start));
  return lines;
}

struct StatusLine : Progress {
  void Begin(const char*, int) override {}
  void Advance() override {
    if (beforeFile) beforeFile(++files);
  }
  void End() override { text = "ready"; }
  void EndWith(const std::string& line) override { text = line; }
  std::string text;
  int files = 0;
  std::function<void(int)> beforeFile;
};

class SaveBatchTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(library.Open()); }
  void TearDown() override { library.Close(); }

  std::vector<EntryToSave> Entries(int count) {
    std::vector<EntryToSave> entries(count);
    for (int index = 0; index < count; ++index) {
      entries[index].fileName = "f" + std::to_string(index) + ".mp3";
      entries[index].path = scratch.AddFile(entries[index].fileName);
      entries[index].values[0] = "Artist";
    }
    return entries;
  }

  RecordingLibrary library;
  ScratchFolder scratch;
};

TEST_F(SaveBatchTest, FailuresMakeOneReportAtTheEnd) {
  const struct {
    const char* what;
    int files;
    DWORD saveResult;
    std::vector<int> readOnly;
    std::string caption;             // empty: no box
    std::vector<std::string> lines;  // "%0" stands for the first file's path, and so on
    int passedBy = 0;                // files the caller passes by besides
    std::string status;              // the status bar's last words
  } cases[] = {
      // The recording library keeps no journal: a save with it says that it cannot be undone.
      {"every file saved", 3, 0, {}, "", {}, 2,
       "3 個のファイルを保存しました（変更なし 2 個、失敗 0 個）（この保存は元に戻せません）"},
      {"one file of one", 1, 7, {}, "保存に失敗", {"%0"}, 0,
       "0 個のファイルを保存しました（変更なし 0 個、失敗 1 個）"},
      {"one read-only file of one", 1, 7, {0}, "読み取り専用", {"%0"}, 1,
       "0 個のファイルを保存しました（変更なし 1 個、失敗 1 個）"},
      {"each with its reason",
       3,
       7,
       {1},
       "エラー",
       {"3 個のファイルのうち 3 個を保存できませんでした。", "", "%0 : 保存に失敗",
        "%1 : 読み取り専用", "%2 : 保存に失敗"},
       0,
       "0 個のファイルを保存しました（変更なし 0 個、失敗 3 個）"},
      {"twenty named, the rest counted", 23, 7, {}, "エラー", {}, 0,
       "0 個のファイルを保存しました（変更なし 0 個、失敗 23 個）"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    const std::vector<EntryToSave> entries = Entries(test.files);
    for (int index : test.readOnly)
      SetFileAttributesA(entries[index].path.c_str(), FILE_ATTRIBUTE_READONLY);
    library.Configure(1, 2, 0, 0, test.saveResult);
    std::vector<SeenBox> boxes;
    {
      BoxWatcher watcher;
      StatusLine status;
      SaveBatch batch(nullptr, SaveKind::kSaveAll, test.files, nullptr, &status);
      for (const EntryToSave& entry : entries) EXPECT_TRUE(batch.Save(entry));
      for (int pass = 0; pass < test.passedBy; ++pass) batch.PassBy();
      EXPECT_EQ(test.saveResult ? test.files : 0, batch.failed());
      batch.Finish();
      boxes = watcher.boxes();
      EXPECT_EQ(status.text, test.status);
    }
    for (const EntryToSave& entry : entries)
      SetFileAttributesA(entry.path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_EQ(test.caption.empty() ? 0u : 1u, boxes.size());
    if (test.caption.empty()) continue;
    EXPECT_EQ(test.caption, boxes[0].caption);
    std::vector<std::string> expected = test.lines;
    if (test.files == 23) {
      expected = {"23 個のファイルのうち 23 個を保存できませんでした。", ""};
      for (int index = 0; index < 20; ++index)
        expected.push_back("%" + std::to_string(index) + " : 保存に失敗");
      expected.push_back("…ほか 3 件");
    }
    for (std::string& line : expected) {
      if (line[0] != '%') continue;
      const size_t end = line.find(' ');
      const int index = std::stoi(line.substr(1, end - 1));
      line = entries[index].path + (end == std::string::npos ? "" : line.substr(end));
    }
    EXPECT_THAT(Lines(boxes[0].text), ElementsAreArray(expected));
  }
}

// A stop asked for while a file is saved ends the batch after that file: no file after it is
// touched, and the status bar counts exactly the files saved.
TEST_F(SaveBatchTest, AStopEndsTheBatchAfterTheFileUnderWay) {
  for (int stopAfter : {2, 5}) {
    SCOPED_TRACE(stopAfter);
    const std::vector<EntryToSave> entries = Entries(5);
    library.Configure(1, 2, 0, 0, 0);
    StatusLine status;
    SaveBatch batch(nullptr, SaveKind::kSaveAll, 5, nullptr, &status);
    int looks = 0, asked = 0;
    batch.stopRequested = [&] { return ++looks == stopAfter; };
    while (asked < 5 && batch.Save(entries[asked++])) {
    }
    const size_t calls = library.Calls().size();
    EXPECT_FALSE(batch.Save(entries.back()));
    EXPECT_EQ(calls, library.Calls().size()) << "nothing is touched once stopped";
    batch.Finish();
    EXPECT_EQ(stopAfter, asked);
    EXPECT_EQ(stopAfter, batch.saved());
    EXPECT_EQ(ActiveFromWide(L"中断しました。" + std::to_wstring(stopAfter) +
                             L" / 5 個のファイルを保存しました" + texts::kSavedWithoutUndo),
              status.text)
        << "a library without a journal saves without undo";
  }
}

// The status bar's last words.
// Batches through the real library, with a journal of the test's own: what undo can give back,
// and what the user is told when it cannot.
class JournaledBatchTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(theTagLibrary.Open("mp3infp")); }
  void TearDown() override {
    UseSaveJournal(nullptr);
    theTagLibrary.Close();
  }

  // Tagged MP3 files with room for the new title (saved in place), each `frames` of audio; the
  // old tag is large enough that its record takes a page of its own on any volume.
  std::vector<EntryToSave> Songs(const std::string& folder, int count, int frames = 20) {
    std::vector<EntryToSave> entries(count);
    for (int index = 0; index < count; ++index) {
      samples::Bytes bytes = samples::Tag(3, samples::Frame(3, "TIT2", samples::Latin1Text("old")),
                                          9000);
      samples::Append(bytes, samples::MpegAudio(frames, index + 1));
      entries[index].fileName = "song" + std::to_string(index) + ".mp3";
      entries[index].path = scratch.AddFile(folder + "\\" + entries[index].fileName,
                                            std::string(bytes.begin(), bytes.end()));
      entries[index].values[2] = "新しい題名";  // the title
    }
    return entries;
  }

  // Runs one batch of `entries` into `folder` (null: in place), answering the question of saving
  // without undo with `answer`; how often it was asked.
  int Run(const std::vector<EntryToSave>& entries, const char* folder, bool answer,
          StatusLine& status, int sideBySide = 4) {
    int asked = 0;
    SaveBatch batch(nullptr, SaveKind::kSaveAll, int(entries.size()), folder, &status);
    batch.sideBySide = sideBySide;
    batch.stopRequested = [] { return false; };
    batch.saveWithoutUndo = [&] { return ++asked, answer; };
    SaveEntries(batch, entries);
    return asked;
  }

  ScratchFolder scratch;
};

// A copy into an output folder that the user changed after the save is named and left alone by
// undo, however the folder was typed: the program and the library must record it by one name.
TEST_F(JournaledBatchTest, UndoLeavesAChangedCopyAloneHoweverTheFolderWasTyped) {
  const std::string longName(200 - scratch.path().size(), 'L');
  const struct {
    const char* what;
    std::string folder;  // as typed, relative to the scratch folder when not absolute
  } cases[] = {
      {"relative", "out"},
      {"relative with dots", ".\\sub\\..\\out2"},
      {"past the limit with the library's temporary names", scratch / longName},
  };
  char working[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, working);
  SetCurrentDirectoryA(scratch.path().c_str());
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    SaveJournal journal(samples::Wide(scratch / "journal"), theTagLibrary);
    UseSaveJournal(&journal);
    const std::vector<EntryToSave> entries = Songs("in-" + std::to_string(&test - cases), 2);
    const std::string out = test.folder.find(':') == std::string::npos ? scratch / test.folder
                                                                        : test.folder;
    CreateDirectoryA((scratch / "sub").c_str(), nullptr);
    ASSERT_TRUE(CreateDirectoryA(out.c_str(), nullptr));
    StatusLine status;
    EXPECT_EQ(0, Run(entries, test.folder.c_str(), true, status));
    EXPECT_EQ("2 個のファイルを保存しました（変更なし 0 個、失敗 0 個）", status.text);
    ASSERT_TRUE(journal.CanUndo());
    // Another program changes the first copy after the save.
    const std::string changed = out + "\\" + entries[0].fileName;
    samples::Bytes edited = samples::ReadBytes(changed);
    edited.push_back('!');
    ASSERT_TRUE(samples::WriteBytes(changed, edited));

    const journal::Journal::Outcome outcome = journal.Undo();
    EXPECT_EQ(edited, samples::ReadBytes(changed));
    ASSERT_EQ(1u, outcome.failed.size()) << outcome.removed << " " << outcome.restored;
    EXPECT_EQ(1, outcome.removed);
    EXPECT_EQ(1, samples::CountFiles(out)) << "the unchanged copy is removed";
  }
  SetCurrentDirectoryA(working);
}

// Where the journal cannot take the batch, before it or in its middle, the user chooses once
// between saving without undo and stopping; a save without undo says so when it ends. A small
// volume is a tmpfs the test's wrapper mounts (tests/tags/small_volume.sh).
TEST_F(JournaledBatchTest, WithoutRoomForTheJournalTheUserChoosesOnce) {
  wchar_t small[MAX_PATH] = L"";
  GetEnvironmentVariableW(L"TAGWHIRL_SMALL_VOLUME", small, MAX_PATH);
  scratch.AddFile("blocker");
  enum Place { kScratch, kUnderAFile, kSmallVolume };
  const std::string stopped = "中断しました。%d / 3 個のファイルを保存しました";
  const std::string without = ActiveFromWide(texts::kSavedWithoutUndo);
  const std::string ended = "%d 個のファイルを保存しました（変更なし 0 個、失敗 0 個）";
  const struct {
    const char* what;
    Place journal;
    int frames;      // of each of the three songs
    int fillBefore;  // the volume fills up before this file (1-based); 0: never
    bool answer;     // to the question of saving without undo
    int asked, saved;
    std::string status;  // %d: the files saved
    bool undoable;
    int files = 3;
    int sideBySide = 1;  // one by one: the volume fills up before a given file
  } cases[] = {
      {"room for the journal", kScratch, 20, 0, true, 0, 3, ended, true},
      {"a journal that cannot be begun, saved without", kUnderAFile, 20, 0, true, 1, 3,
       ended + without, false},
      {"a journal that cannot be begun, stopped", kUnderAFile, 20, 0, false, 1, 0, stopped, false},
      {"no room for the originals it would keep", kSmallVolume, 1000, 0, true, 1, 3,
       ended + without, false},
      {"the volume fills up in the middle, saved without", kSmallVolume, 20, 2, true, 1, 3,
       ended + without, false},
      {"the volume fills up in the middle, stopped", kSmallVolume, 20, 2, false, 1, 1, stopped,
       false},
      // Once two files have ended, at most six have begun: a later one finds the volume full.
      {"the volume fills up while files are saved side by side, saved without", kSmallVolume, 20,
       2, true, 1, 12, ended + without, false, 12, 4},
  };
  int round = 0;
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    if (test.journal == kSmallVolume && !*small) {
      std::printf("[ SKIPPED  ] %s: no small volume (TAGWHIRL_SMALL_VOLUME): mounting a tmpfs is "
                  "not allowed here\n", test.what);
      continue;
    }
    const std::wstring place = test.journal == kScratch     ? samples::Wide(scratch.path())
                               : test.journal == kUnderAFile ? samples::Wide(scratch / "blocker")
                                                             : std::wstring(small);
    const std::wstring filler = place + L"\\filler";
    const std::wstring folder = place + L"\\journal" + std::to_wstring(++round);
    SaveJournal journal(folder, theTagLibrary);
    UseSaveJournal(&journal);
    const std::vector<EntryToSave> entries =
        Songs(std::string("in-") + test.what, test.files, test.frames);
    std::vector<samples::Bytes> before;
    for (const EntryToSave& entry : entries) before.push_back(samples::ReadBytes(entry.path));

    StatusLine status;
    status.beforeFile = [&](int file) {
      if (file != test.fillBefore) return;
      HANDLE fill = CreateFileW(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                nullptr);
      static const std::vector<char> zeros(1 << 16);
      for (DWORD chunk = zeros.size(), done; chunk; chunk /= 2) {
        while (WriteFile(fill, zeros.data(), chunk, &done, nullptr) && done == chunk) {
        }
      }
      CloseHandle(fill);
    };
    EXPECT_EQ(test.asked, Run(entries, nullptr, test.answer, status, test.sideBySide));
    DeleteFileW(filler.c_str());
    char expected[256];
    std::snprintf(expected, sizeof expected, test.status.c_str(), test.saved);
    EXPECT_EQ(expected, status.text);
    int saved = 0;
    for (size_t index = 0; index < entries.size(); ++index)
      saved += samples::ReadBytes(entries[index].path) != before[index];
    EXPECT_EQ(test.saved, saved);
    if (test.undoable) {
      ASSERT_TRUE(journal.CanUndo());
      EXPECT_EQ(test.files, journal.Undo().restored);
      for (size_t index = 0; index < entries.size(); ++index)
        EXPECT_EQ(before[index], samples::ReadBytes(entries[index].path));
    } else if (test.answer) {
      EXPECT_FALSE(journal.CanUndo());
    }
    if (test.journal == kSmallVolume && test.answer) {
      EXPECT_LE(samples::CountFiles(ActiveFromWide(folder)), 1)
          << "what the journal kept is dropped: only its lock is left";
    }
  }
}

}  // namespace
