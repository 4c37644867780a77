// Saving, on the program's side, against a tag library that records its calls.
#include "tags/SaveEntry.h"

#include <windows.h>

#include <gmock/gmock.h>

#include <algorithm>

#include "tests/support/RecordingLibrary.h"
#include "tests/support/WinTestSupport.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

std::string ReadText(const std::string& path) {
  std::string text;
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char buffer[256];
  DWORD read = 0;
  if (ReadFile(file, buffer, sizeof buffer, &read, nullptr)) text.assign(buffer, read);
  CloseHandle(file);
  return text;
}

// The codes' places in an entry's values (CodeTable order).
enum { kArtist, kAlbum, kTitle, kTrack, kGenre, kYear, kComment };

class SaveEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library.Open());
    Configure(1, 2);
    // Stands for the rest of the program: a box of saving must keep it from taking input.
    parent = CreateWindowA("STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 600, 400, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
  }
  void TearDown() override {
    DestroyWindow(parent);
    library.Close();
  }

  void Configure(DWORD type, DWORD flags, DWORD makeV1 = 0, DWORD makeV2 = 0, DWORD save = 0) {
    library.Configure(type, flags, makeV1, makeV2, save);
  }
  std::vector<std::string> Log() { return library.Calls(); }
  // An entry for a new file of that name, in place under its own name.
  EntryToSave Entry(const std::string& name) {
    EntryToSave entry;
    entry.path = scratch.AddFile(name, "audio bytes");
    entry.fileName = name;
    return entry;
  }
  bool Save(const EntryToSave& entry, const char* folder = nullptr) {
    return SaveEntry(entry, folder, parent);
  }

  RecordingLibrary library;
  HWND parent = nullptr;
  ScratchFolder scratch;
};

TEST_F(SaveEntryTest, InPlaceSetsEveryNonEmptyFieldOfEachTagTheFileHas) {
  EntryToSave entry = Entry("song.mp3");
  entry.values[kArtist] = "Artist";
  entry.values[kTitle] = "Title";
  entry.values[kTrack] = "07";
  Configure(1, 1 | 2 | 4);
  EXPECT_TRUE(Save(entry));
  const std::string path = scratch / "song.mp3";
  EXPECT_THAT(Log(), ElementsAre("Load " + path, "Set IART_v1=Artist", "Set IART_v2=Artist",
                                 "Set IART_rmp=Artist", "Set INAM_v1=Title", "Set INAM_v2=Title",
                                 "Set INAM_rmp=Title", "Set TRACK_v1=07", "Set TRACK_v2=07",
                                 "Set TRACK_rmp=07", "Save " + path));
}

TEST_F(SaveEntryTest, MissingId3TagsAreCreatedFirstOnlyWhenNeitherExists) {
  EntryToSave entry = Entry("bare.mp3");
  entry.values[kAlbum] = "Album";
  Configure(1, 0);
  EXPECT_TRUE(Save(entry));
  const std::string path = scratch / "bare.mp3";
  EXPECT_THAT(Log(), ElementsAre("Load " + path, "MakeId3v1 " + path, "MakeId3v2 " + path,
                                 "Set IPRD_v1=Album", "Set IPRD_v2=Album", "Save " + path));
  // A file with only an ID3v1 tag gets only the "_v1" value: no ID3v2 tag is made for it.
  Configure(1, 1);
  EXPECT_TRUE(Save(entry));
  EXPECT_THAT(Log(), ElementsAre("Load " + path, "Set IPRD_v1=Album", "Save " + path));
}

TEST_F(SaveEntryTest, NonMp3FilesGetThePlainNamesAndAllEmptyRowsSetNothing) {
  EntryToSave entry = Entry("sound.wav");
  entry.values[kComment] = "note";
  Configure(2, 0);
  EXPECT_TRUE(Save(entry));
  const std::string path = scratch / "sound.wav";
  EXPECT_THAT(Log(), ElementsAre("Load " + path, "Set ICMT=note", "Save " + path));

  Configure(1, 0);
  EXPECT_TRUE(Save(Entry("empty.mp3")));
  EXPECT_THAT(Log(), ElementsAre("Load " + scratch / "empty.mp3", "Save " + scratch / "empty.mp3"));
}

// Each of the seven values goes to its own field, whatever the others hold.
TEST_F(SaveEntryTest, EachValueGoesToItsField) {
  const std::pair<int, const char*> fields[] = {
      {kArtist, "IART"}, {kAlbum, "IPRD"}, {kTitle, "INAM"},   {kTrack, "TRACK"},
      {kGenre, "IGNR"},  {kYear, "ICRD"},  {kComment, "ICMT"},
  };
  for (const auto& [value, key] : fields) {
    SCOPED_TRACE(key);
    EntryToSave entry = Entry(std::string(key) + ".wav");
    entry.values[value] = "v";
    Configure(2, 0);
    EXPECT_TRUE(Save(entry));
    EXPECT_THAT(Log(), ElementsAre("Load " + entry.path, std::string("Set ") + key + "=v",
                                   "Save " + entry.path));
  }
}

// A file whose tags cannot be made has nothing to take the values: it fails once, named, without
// a save that would write nothing and report success.
TEST_F(SaveEntryTest, FailedTagCreationIsOneFailureOfTheFile) {
  EntryToSave entry = Entry("song.mp3");
  entry.values[kTitle] = "Title";
  entry.values[kArtist] = "Artist";
  Configure(1, 0, 5, 5, 9);
  std::vector<SeenBox> boxes;
  bool saved = true;
  {
    BoxWatcher watcher;
    saved = Save(entry);
    boxes = watcher.boxes();
  }
  EXPECT_FALSE(saved);
  const std::string path = scratch / "song.mp3";
  EXPECT_THAT(Log(), ElementsAre("Load " + path, "MakeId3v1 " + path, "MakeId3v2 " + path));
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ("保存に失敗", boxes[0].caption);
  EXPECT_EQ(path, boxes[0].text);
  EXPECT_EQ(nullptr, boxes[0].owner);
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
    std::vector<std::string> boxCaptions;
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
      {"tag creation and saving fail", false, false, 0, 7, false, false, {"保存に失敗"}},
  };
  int index = 0;
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    EntryToSave entry = Entry("song" + std::to_string(index++) + ".mp3");
    const std::string& path = entry.path;
    if (!test.emptyRow) entry.values[kTitle] = "Title";
    if (test.deleteFile) DeleteFileA(path.c_str());
    Configure(1, test.tagFlags, test.failures, test.failures, test.failures);
    std::vector<SeenBox> boxes;
    bool saved = !test.saved;
    {
      BoxWatcher watcher(parent);
      saved = Save(entry);
      boxes = watcher.boxes();
    }
    EXPECT_EQ(test.saved, saved);
    const std::vector<std::string> calls = Log();
    EXPECT_EQ(test.asksToSave,
              std::find(calls.begin(), calls.end(), "Save " + path) != calls.end());
    ASSERT_EQ(test.boxCaptions.size(), boxes.size());
    for (size_t box = 0; box < boxes.size(); ++box) {
      EXPECT_EQ(test.boxCaptions[box], boxes[box].caption);
      EXPECT_EQ(nullptr, boxes[box].owner);
      EXPECT_FALSE(boxes[box].probeEnabled) << "box " << box << " is not task-modal";
    }
    EXPECT_TRUE(IsWindowEnabled(parent));
  }
}

TEST_F(SaveEntryTest, ACopyOfAReadOnlyFileIsWritableTheSourceStaysReadOnly) {
  const EntryToSave entry = Entry("cd track.mp3");
  const std::string& source = entry.path;
  SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_READONLY);
  const std::string out = scratch.AddFolder("out");
  Configure(1, 2);
  EXPECT_TRUE(Save(entry, out.c_str()));
  const DWORD copy = GetFileAttributesA((out + "\\cd track.mp3").c_str());
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, copy);
  EXPECT_EQ(0u, copy & FILE_ATTRIBUTE_READONLY);
  EXPECT_NE(0u, GetFileAttributesA(source.c_str()) & FILE_ATTRIBUTE_READONLY);
  SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(SaveEntryTest, IntoAFolderTheCopyIsMadeFirstAndTaggedAlone) {
  EntryToSave entry = Entry("source.mp3");
  entry.fileName = "renamed.mp3";
  entry.values[kTitle] = "Title";
  const std::string out = scratch.AddFolder("out");
  Configure(1, 0);
  EXPECT_TRUE(Save(entry, out.c_str()));
  const std::string copy = out + "\\renamed.mp3";
  // Tags are created in the copy, never in the user's original.
  EXPECT_THAT(Log(), ElementsAre("Load " + copy, "MakeId3v1 " + copy, "MakeId3v2 " + copy,
                                 "Set INAM_v1=Title", "Set INAM_v2=Title", "Save " + copy));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(copy.c_str()));
}

// Writes half of the source and fails as a full disk does, leaving that half behind.
BOOL WINAPI CopyCutByAFullDisk(LPCSTR source, LPCSTR destination, BOOL) {
  const std::string bytes = ReadText(source);
  HANDLE file = CreateFileA(destination, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FALSE;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size() / 2), &written, nullptr);
  CloseHandle(file);
  SetLastError(ERROR_DISK_FULL);
  return FALSE;
}

// A copy that fails, or whose tags cannot be saved, does not stay under the target name; a file
// that was there before is never touched.
TEST_F(SaveEntryTest, AFailedCopyIsReportedAndOnlyWhatTheSaveMadeIsRemoved) {
  const std::string out = scratch.AddFolder("out");
  // Someone else's file of that name is already there: it must not get our tags, nor go.
  const std::string other = scratch.AddFile("out\\taken.mp3", "someone else's file");
  const struct {
    const char* what;
    std::string fileName, folder;
    DWORD saveResult;
    const char* caption;
    std::string boxText;
    bool copyStays;
    CopyFileFunction copy = CopyFileA;
  } cases[] = {
      {"a file of that name is there", "taken.mp3", out, 0, "コピーに失敗", other, true},
      {"no such folder", "x.mp3", scratch / "none", 0, "コピーに失敗", scratch / "none\\x.mp3",
       false},
      {"beyond the path limit", std::string(200, 'n') + ".mp3", scratch / std::string(100, 'f'), 0,
       "コピーに失敗", "", false},
      {"the copy cannot be tagged", "new.mp3", out, 7, "保存に失敗",
       out + "\\new.mp3\n（作成したコピーは削除しました）", false},
      {"the disk fills during the copy", "cut.mp3", out, 0, "コピーに失敗",
       out + "\\cut.mp3\n（作成したコピーは削除しました）", false, CopyCutByAFullDisk},
      {"the copy is tagged", "good.mp3", out, 0, nullptr, "", true},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    EntryToSave entry = Entry("source.mp3");
    entry.fileName = test.fileName;
    entry.values[kTitle] = "Title";
    Configure(1, 2, 0, 0, test.saveResult);
    std::vector<SeenBox> boxes;
    bool saved = false;
    {
      BoxWatcher watcher;
      theCopyFile = test.copy;
      saved = Save(entry, test.folder.c_str());
      theCopyFile = CopyFileA;
      boxes = watcher.boxes();
    }
    EXPECT_EQ(test.caption == nullptr, saved);
    ASSERT_EQ(test.caption ? 1u : 0u, boxes.size());
    if (test.caption) {
      EXPECT_EQ(test.caption, boxes[0].caption);
    }
    if (!test.boxText.empty()) {
      EXPECT_EQ(test.boxText, boxes[0].text);
    }
    const std::string target = test.folder + "\\" + test.fileName;
    EXPECT_EQ(test.copyStays, GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES);
  }
  EXPECT_EQ("someone else's file", ReadText(other));
}

}  // namespace
