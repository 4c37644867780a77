// Two instances sharing the journal, and a journal that stops taking records: neither may let a
// file change that undo does not know of, nor lose the undo of what was recorded.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

#include "journal/Journal.h"
#include "tests/support/ScratchFolder.h"

namespace {

std::wstring Wide(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<journal::Record> RecordsIn(const std::wstring& folder) {
  HANDLE file = CreateFileW((folder + L"\\" + journal::kRecordsName).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  std::vector<uint8_t> bytes(GetFileSize(file, nullptr));
  DWORD read = 0;
  ReadFile(file, bytes.data(), DWORD(bytes.size()), &read, nullptr);
  CloseHandle(file);
  std::vector<journal::Record> records;
  EXPECT_TRUE(journal::Decode(bytes.data(), read, records));
  return records;
}

TEST(JournalLock, AnotherInstanceLookingNeverCostsASaveItsJournalNorAnUndoItsSave) {
  const ScratchFolder scratch;
  const std::wstring folder = Wide(scratch / "journal");
  journal::Journal saver(folder), looker(folder);
  ASSERT_TRUE(saver.Begin(1));
  saver.End();

  // The other instance looks as often as a busy user's menus could make it.
  std::atomic<bool> done{false};
  std::thread looking([&] {
    while (!done) looker.Inspect();
  });
  int withoutJournal = 0;
  for (int i = 0; i < 50; ++i) {
    withoutJournal += !saver.Begin(1);
    saver.End();
  }
  const journal::Journal::Outcome undone = saver.Undo();
  done = true;
  looking.join();
  EXPECT_EQ(0, withoutJournal);
  EXPECT_FALSE(undone.busy);

  // While the other instance really saves, an undo does nothing and says why.
  ASSERT_TRUE(looker.Begin(2));
  journal::Journal late(folder);
  EXPECT_TRUE(late.Undo().busy);
  EXPECT_EQ(journal::Journal::State::kBusy, late.Inspect());
  looker.End();
  EXPECT_EQ(journal::Journal::State::kFinished, late.Inspect());
}

TEST(JournalLock, AnAppendThatFailsLeavesEveryWholeRecordAndRefusesFurtherWrites) {
  const ScratchFolder scratch;
  const std::wstring folder = Wide(scratch / "journal");
  journal::Journal journal(folder);
  ASSERT_TRUE(journal.Begin(7));
  journal::Recorder library;
  ASSERT_TRUE(library.Attach(folder.c_str()));
  const std::wstring music = Wide(scratch.AddFile("a.mp3", "0123456789"));
  ASSERT_TRUE(journal.RecordCreated(Wide(scratch / "copy.mp3")));

  // The volume fills half way through the next record.
  journal::theRecordWrite = [](HANDLE file, const uint8_t* data, size_t size) {
    DWORD done = 0;
    WriteFile(file, data, DWORD(size / 2), &done, nullptr);
    return false;
  };
  HANDLE file = CreateFileW(music.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            0, nullptr);
  EXPECT_FALSE(library.BeforeInPlace(music, file, 10, {{.offset = 0, .length = 2}}));
  EXPECT_TRUE(library.stopped());
  journal::theRecordWrite = journal::WriteAll;

  // Lost stays lost, also once there is room again: the program decides how the save goes on.
  std::wstring kept;
  EXPECT_FALSE(library.BeforeInPlace(music, file, 10, {{.offset = 0, .length = 2}}));
  EXPECT_FALSE(library.BeforeRewrite(music, music + L".new.tmp", 0, {}, kept));
  CloseHandle(file);
  const auto records = RecordsIn(folder);
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ(journal::Kind::kCreated, records.back().kind);

  // Going on without undo: attached to nothing, the library writes again.
  EXPECT_TRUE(library.Attach(nullptr));
  EXPECT_FALSE(library.stopped());
  EXPECT_TRUE(library.BeforeRewrite(music, music + L".new.tmp", 0, {}, kept));
  journal.End();
}

}  // namespace
