// Saving, on the program's side, against a tag library that records its calls.
#include "tags/SaveEntry.h"

#include <windows.h>

#include <commctrl.h>
#include <gmock/gmock.h>

#include <algorithm>

#include "app/Controls.h"
#include "tags/TagLibrary.h"
#include "targets/TargetListView.h"
#include "tests/support/RecordingLibrary.h"
#include "tests/support/WinTestSupport.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class SaveEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitTestModule();
    ASSERT_TRUE(library.Open());
    Configure(1, 2);
    parent = CreateWindowA("STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 600, 400, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
    ASSERT_TRUE(list.Create(parent));
    list.InsertColumns();
    list.rules.clear();
  }
  void TearDown() override {
    DestroyWindow(parent);
    library.Close();
  }

  void Configure(DWORD type, DWORD flags, DWORD makeV1 = 0, DWORD makeV2 = 0, DWORD save = 0) {
    library.Configure(type, flags, makeV1, makeV2, save);
  }
  std::vector<std::string> Log() { return library.Calls(); }
  int AddRow(const std::string& name) {
    list.AddPath(scratch.AddFile(name, "audio bytes"));
    return list.RowCount() - 1;
  }

  RecordingLibrary library;
  HWND parent = nullptr;
  TargetListView list;
  ScratchFolder scratch;
};

TEST_F(SaveEntryTest, InPlaceSetsEveryNonEmptyFieldOfEachTagTheFileHas) {
  const int row = AddRow("song.mp3");
  list.SetCellText(row, 1, "Artist");
  list.SetCellText(row, 3, "Title");
  list.SetCellText(row, 4, "07");
  Configure(1, 1 | 2 | 4);
  EXPECT_TRUE(SaveEntry(list, row, nullptr));
  const std::string path = scratch / "song.mp3";
  EXPECT_THAT(Log(), ElementsAre("Load " + path, "Set IART_v1=Artist", "Set IART_v2=Artist",
                                 "Set IART_rmp=Artist", "Set INAM_v1=Title", "Set INAM_v2=Title",
                                 "Set INAM_rmp=Title", "Set TRACK_v1=07", "Set TRACK_v2=07",
                                 "Set TRACK_rmp=07", "Save " + path));
}

TEST_F(SaveEntryTest, MissingId3TagsAreCreatedFirstOnlyWhenNeitherExists) {
  const int row = AddRow("bare.mp3");
  list.SetCellText(row, 2, "Album");
  Configure(1, 0);
  EXPECT_TRUE(SaveEntry(list, row, nullptr));
  const std::string path = scratch / "bare.mp3";
  EXPECT_THAT(Log(), ElementsAre("Load " + path, "MakeId3v1 " + path, "MakeId3v2 " + path,
                                 "Set IPRD_v1=Album", "Set IPRD_v2=Album", "Save " + path));
  // A file with only an ID3v1 tag gets only the "_v1" value: no ID3v2 tag is made for it.
  Configure(1, 1);
  EXPECT_TRUE(SaveEntry(list, row, nullptr));
  EXPECT_THAT(Log(), ElementsAre("Load " + path, "Set IPRD_v1=Album", "Save " + path));
}

TEST_F(SaveEntryTest, NonMp3FilesGetThePlainNamesAndAllEmptyRowsSetNothing) {
  const int row = AddRow("sound.wav");
  list.SetCellText(row, 7, "note");
  Configure(2, 0);
  EXPECT_TRUE(SaveEntry(list, row, nullptr));
  const std::string path = scratch / "sound.wav";
  EXPECT_THAT(Log(), ElementsAre("Load " + path, "Set ICMT=note", "Save " + path));

  const int empty = AddRow("empty.mp3");
  Configure(1, 0);
  EXPECT_TRUE(SaveEntry(list, empty, nullptr));
  EXPECT_THAT(Log(), ElementsAre("Load " + scratch / "empty.mp3", "Save " + scratch / "empty.mp3"));
}

TEST_F(SaveEntryTest, FailuresAreReportedAndSavingGoesOn) {
  const int row = AddRow("song.mp3");
  list.SetCellText(row, 3, "Title");
  Configure(1, 0, 5, 5, 9);
  std::vector<SeenBox> boxes;
  bool saved = true;
  {
    BoxWatcher watcher;
    saved = SaveEntry(list, row, nullptr);
    boxes = watcher.boxes();
  }
  EXPECT_FALSE(saved);
  ASSERT_EQ(3u, boxes.size());
  EXPECT_EQ("mp3v1タグの作成に失敗", boxes[0].text);
  EXPECT_EQ("mp3v2タグの作成に失敗", boxes[1].text);
  EXPECT_EQ("保存に失敗", boxes[2].caption);
  EXPECT_EQ(scratch / "song.mp3", boxes[2].text);
  EXPECT_EQ(nullptr, boxes[2].owner);
}

// A save counts as done only when the file was written; every failure has its box, and the
// boxes keep the rest of the program from taking input while they are up.
TEST_F(SaveEntryTest, ASaveSucceedsOnlyWhenTheFileWasWritten) {
  struct {
    const char* what;
    bool deleteFile;
    bool emptyRow;
    DWORD tagFlags;
    DWORD failures;  // the result of tag creation and of saving
    bool saved;
    bool asksToSave;
    std::vector<std::string> boxCaptions;  // "" where the caption is the system's default
  } const cases[] = {
      {"the file is gone since it entered the list",
       true,
       false,
       2,
       0,
       false,
       false,
       {"保存に失敗"}},
      {"an all-empty row whose file loads", false, true, 0, 0, true, true, {}},
      {"the library cannot save", false, false, 2, 7, false, true, {"保存に失敗"}},
      {"tag creation and saving fail", false, false, 0, 7, false, true, {"", "", "保存に失敗"}},
  };
  int index = 0;
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    const int row = AddRow("song" + std::to_string(index++) + ".mp3");
    const std::string path = list.ItemOfRow(row)->path;
    if (!test.emptyRow) list.SetCellText(row, 3, "Title");
    if (test.deleteFile) DeleteFileA(path.c_str());
    Configure(1, test.tagFlags, test.failures, test.failures, test.failures);
    std::vector<SeenBox> boxes;
    bool saved = !test.saved;
    {
      BoxWatcher watcher(parent);
      saved = SaveEntry(list, row, nullptr);
      boxes = watcher.boxes();
    }
    EXPECT_EQ(test.saved, saved);
    const std::vector<std::string> calls = Log();
    EXPECT_EQ(test.asksToSave,
              std::find(calls.begin(), calls.end(), "Save " + path) != calls.end());
    ASSERT_EQ(test.boxCaptions.size(), boxes.size());
    for (size_t box = 0; box < boxes.size(); ++box) {
      if (!test.boxCaptions[box].empty()) EXPECT_EQ(test.boxCaptions[box], boxes[box].caption);
      EXPECT_EQ(nullptr, boxes[box].owner);
      EXPECT_FALSE(boxes[box].probeEnabled) << "box " << box << " is not task-modal";
    }
    EXPECT_TRUE(IsWindowEnabled(parent));
  }
}

TEST_F(SaveEntryTest, ACopyOfAReadOnlyFileIsWritableTheSourceStaysReadOnly) {
  const int row = AddRow("cd track.mp3");
  const std::string source = scratch / "cd track.mp3";
  SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_READONLY);
  const std::string out = scratch.AddFolder("out");
  Configure(1, 2);
  EXPECT_TRUE(SaveEntry(list, row, out.c_str()));
  const DWORD copy = GetFileAttributesA((out + "\\cd track.mp3").c_str());
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, copy);
  EXPECT_EQ(0u, copy & FILE_ATTRIBUTE_READONLY);
  EXPECT_NE(0u, GetFileAttributesA(source.c_str()) & FILE_ATTRIBUTE_READONLY);
  SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(SaveEntryTest, IntoAFolderTheCopyIsMadeFirstAndTaggedAlone) {
  const int row = AddRow("source.mp3");
  list.SetCellText(row, 0, "renamed.mp3");
  list.SetCellText(row, 3, "Title");
  const std::string out = scratch.AddFolder("out");
  Configure(1, 0);
  EXPECT_TRUE(SaveEntry(list, row, out.c_str()));
  const std::string copy = out + "\\renamed.mp3";
  // Tags are created in the copy, never in the user's original.
  EXPECT_THAT(Log(), ElementsAre("Load " + copy, "MakeId3v1 " + copy, "MakeId3v2 " + copy,
                                 "Set INAM_v1=Title", "Set INAM_v2=Title", "Save " + copy));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(copy.c_str()));
}

TEST_F(SaveEntryTest, AFailedCopyIsReportedAndNothingIsSaved) {
  const int row = AddRow("source.mp3");
  list.SetCellText(row, 3, "Title");
  const std::string out = scratch.AddFolder("out");
  // Someone else's file of that name is already there: it must not get our tags.
  const std::string other = scratch.AddFile("out\\source.mp3", "someone else's file");
  std::vector<SeenBox> boxes;
  bool saved = true;
  {
    BoxWatcher watcher;
    saved = SaveEntry(list, row, out.c_str());
    saved = saved || SaveEntry(list, row, (scratch / "no such folder").c_str());
    boxes = watcher.boxes();
  }
  EXPECT_FALSE(saved);
  EXPECT_THAT(Log(), IsEmpty());
  ASSERT_EQ(2u, boxes.size());
  EXPECT_EQ("保存に失敗", boxes[0].caption);
  EXPECT_EQ(other, boxes[0].text);
  EXPECT_EQ(scratch / "no such folder\\source.mp3", boxes[1].text);
}

TEST_F(SaveEntryTest, AFolderAndNameBeyondThePathLimitFail) {
  const int row = AddRow("source.mp3");
  list.SetCellText(row, 0, std::string(200, 'n') + ".mp3");
  const std::string folder = scratch / std::string(100, 'f');
  std::vector<SeenBox> boxes;
  {
    BoxWatcher watcher;
    EXPECT_FALSE(SaveEntry(list, row, folder.c_str()));
    boxes = watcher.boxes();
  }
  EXPECT_THAT(Log(), IsEmpty());
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ("保存に失敗", boxes[0].caption);
}

TEST_F(SaveEntryTest, UpdateTagsSavesTheSelectionInPlaceInRowOrder) {
  for (const char* name : {"0.mp3", "1.mp3", "2.mp3", "3.mp3"}) AddRow(name);
  for (int row : {3, 0, 2}) SetItemState(list.hwnd(), row, LVIS_SELECTED, LVIS_SELECTED);
  Configure(1, 2, 0, 0, 1);
  {
    BoxWatcher watcher;  // every save fails; each failure has its box and the next row follows
    list.UpdateTags();
    EXPECT_EQ(3u, watcher.boxes().size());
  }
  EXPECT_THAT(Log(), ElementsAre("Load " + scratch / "0.mp3", "Save " + scratch / "0.mp3",
                                 "Load " + scratch / "2.mp3", "Save " + scratch / "2.mp3",
                                 "Load " + scratch / "3.mp3", "Save " + scratch / "3.mp3"));
}

TEST_F(SaveEntryTest, PropertiesShowTheSelectedFile) {
  AddRow("0.mp3");
  AddRow("1.mp3");
  SetItemState(list.hwnd(), 1, LVIS_SELECTED, LVIS_SELECTED);
  SendMessageA(list.hwnd(), WM_COMMAND, 32776, 0);
  EXPECT_THAT(Log(), ElementsAre("ViewPropEx " + scratch / "1.mp3"));
}

TEST_F(SaveEntryTest, RemoveSelectedDeletesFromTheHighestIndexDown) {
  for (const char* name : {"0.mp3", "1.mp3", "2.mp3", "3.mp3", "4.mp3", "5.mp3"}) AddRow(name);
  for (int row : {1, 3, 4}) SetItemState(list.hwnd(), row, LVIS_SELECTED, LVIS_SELECTED);
  SendMessageA(list.hwnd(), WM_COMMAND, 32773, 0);
  ASSERT_EQ(3, list.RowCount());
  EXPECT_EQ("0.mp3", list.CellText(0, 0));
  EXPECT_EQ("2.mp3", list.CellText(1, 0));
  EXPECT_EQ("5.mp3", list.CellText(2, 0));
  EXPECT_EQ(6u, list.items.size());
  // The Delete key removes nothing.
  SetItemState(list.hwnd(), 0, LVIS_SELECTED, LVIS_SELECTED);
  SendMessageA(list.hwnd(), WM_KEYDOWN, VK_DELETE, 0);
  EXPECT_EQ(3, list.RowCount());
}

}  // namespace
