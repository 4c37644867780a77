// A batch of saves against the recording library: one report at the end. Esc is pressed through
// X in tests/app/StopSaveTest.py; here a stop is asked for at a chosen file.
#include "tags/SaveBatch.h"

#include <windows.h>

#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "resources/Texts.h"
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
  void Advance() override {}
  void End() override {}
  void EndWith(const std::string& line) override { text = line; }
  std::string text;
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
      {"every file saved", 3, 0, {}, "", {}, 2,
       "3 個のファイルを保存しました（変更なし 2 個、失敗 0 個）"},
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
                             L" / 5 個のファイルを保存しました"),
              status.text);
  }
}

}  // namespace
