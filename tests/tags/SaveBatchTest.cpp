// A batch of saves against the recording library: one report at the end, and a stop between files.
#include "tags/SaveBatch.h"

#include <windows.h>

#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "tests/support/RecordingLibrary.h"
#include "tests/support/WinTestSupport.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

class RecordingProgress : public Progress {
 public:
  void Begin(const char* what, int total) override {
    steps.push_back(std::string(what) + " " + std::to_string(total));
  }
  void Advance() override { steps.push_back("+"); }
  void End() override { steps.push_back("end"); }
  void EndWith(const std::string& text) override { steps.push_back("end: " + text); }
  std::vector<std::string> steps;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  lines.push_back(text.substr(start));
  return lines;
}

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
  } cases[] = {
      {"every file saved", 3, 0, {}, "", {}},
      {"one file of one", 1, 7, {}, "保存に失敗", {"%0"}},
      {"one read-only file of one", 1, 7, {0}, "読み取り専用", {"%0"}},
      {"each with its reason",
       3,
       7,
       {1},
       "エラー",
       {"3 個のファイルのうち 3 個を保存できませんでした。", "", "%0 : 保存に失敗",
        "%1 : 読み取り専用", "%2 : 保存に失敗"}},
      {"twenty named, the rest counted", 23, 7, {}, "エラー", {}},
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
      SaveBatch batch(nullptr, SaveKind::kSaveAll, test.files, nullptr, nullptr);
      for (const EntryToSave& entry : entries) EXPECT_TRUE(batch.Save(entry));
      EXPECT_EQ(test.saveResult ? test.files : 0, batch.failed());
      batch.Finish();
      boxes = watcher.boxes();
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

// Esc stops the batch after the file under way; the status bar tells how many were saved.
TEST_F(SaveBatchTest, AStopEndsTheBatchAfterTheCurrentFile) {
  const std::vector<EntryToSave> entries = Entries(5);
  library.Configure(2, 0);
  RecordingProgress progress;
  int looks = 0;
  std::vector<bool> answers;
  {
    SaveBatch batch(nullptr, SaveKind::kUpdateTags, 5, nullptr, &progress);
    batch.stopRequested = [&] { return ++looks == 2; };
    for (const EntryToSave& entry : entries) {
      answers.push_back(batch.Save(entry));
      if (!answers.back()) break;
    }
    EXPECT_TRUE(batch.stopped());
    EXPECT_EQ(2, batch.saved());
  }
  EXPECT_THAT(answers, ElementsAre(true, false));
  EXPECT_THAT(library.Calls(),
              ElementsAre("Load " + entries[0].path, "Set IART=Artist", "Save " + entries[0].path,
                          "Load " + entries[1].path, "Set IART=Artist", "Save " + entries[1].path));
  EXPECT_THAT(progress.steps, ElementsAre("タグ情報を更新 5", "+", "+",
                                          "end: 中断しました。2 / 5 個のファイルを保存しました"));
}

}  // namespace
