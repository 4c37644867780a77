// The program in the UTF-8 code page (this test program's manifest asks for it, as the program's
// does): names that code page 932 cannot write, beside Japanese ones, are taken in, matched,
// saved in place and into a folder, and shown whole.
#include <windows.h>

#include <commctrl.h>
#include <gmock/gmock.h>

#include <map>
#include <thread>

#include "window/Controls.h"
#include "mp3infp/PropertyDialogIds.h"
#include "rules/RulesFile.h"
#include "tags/TagLibrary.h"
#include "targets/TargetListView.h"
#include "tests/mp3infp/SampleFiles.h"
#include "tests/targets/TargetListFixture.h"

namespace {

std::string U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

std::wstring Wide(const std::string& utf8) {
  std::wstring wide(utf8.size() + 1, L'\0');
  wide.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), int(wide.size())) - 1);
  return wide;
}

std::string Repeat(const std::string& text, int times) {
  std::string out;
  while (times-- > 0) out += text;
  return out;
}

std::string FileBytes(const std::string& path) {
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes(GetFileSize(file, nullptr), '\0');
  DWORD read = 0;
  ReadFile(file, bytes.data(), DWORD(bytes.size()), &read, nullptr);
  CloseHandle(file);
  return bytes;
}

const samples::Bytes kAudio = samples::MpegAudio(3);
const std::string kMp3(kAudio.begin(), kAudio.end());

class Utf8Names : public TargetListFixture {
 protected:
  void SetUp() override {
    ASSERT_EQ(UINT(CP_UTF8), GetACP()) << "the test program's manifest asks for UTF-8";
    TargetListFixture::SetUp();
  }

  // Column 0 and the artist, album, title and track columns of each row, by file name.
  std::map<std::string, std::vector<std::string>> Rows() {
    std::map<std::string, std::vector<std::string>> rows;
    for (int row = 0; row < list.RowCount(); ++row)
      rows[list.CellText(row, 0)] = {list.CellText(row, 1), list.CellText(row, 2),
                                     list.CellText(row, 3), list.CellText(row, 4)};
    return rows;
  }
  // What the list control itself holds, in UTF-16.
  std::wstring WideCell(int row, int column) {
    wchar_t text[512] = L"";
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 512;
    SendMessageW(list.hwnd(), LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return text;
  }
};

TEST_F(Utf8Names, FolderIsTakenWholeAndEachRowGetsItsValuesFromItsRule) {
  list.rules = {"$K $T.mp3", "$A - $T.mp3"};
  const std::vector<std::vector<std::string>> files = {
      {U8(u8"Beyoncé - Halo.mp3"), U8(u8"Beyoncé"), "", "Halo", ""},
      {U8(u8"Sigur Rós - Hoppípolla.mp3"), U8(u8"Sigur Rós"), "", U8(u8"Hoppípolla"), ""},
      {U8(u8"방탄소년단 - Dynamite.mp3"), U8(u8"방탄소년단"), "", "Dynamite", ""},
      {U8(u8"🎵 Emoji - Song 😀.mp3"), U8(u8"🎵 Emoji"), "", U8(u8"Song 😀"), ""},
      {U8(u8"ソロ - 表示.mp3"), U8(u8"ソロ"), "", U8(u8"表示"), ""},
      {U8(u8"07 三十の歌.mp3"), "", "", U8(u8"三十の歌"), "07"},
  };
  for (const auto& file : files) scratch.AddFile(file[0], kMp3);
  {
    // In code page 932 a box would count the names it cannot write; here every name is taken.
    BoxWatcher watcher;
    list.AddPath(scratch.path());
    EXPECT_TRUE(watcher.boxes().empty());
  }

  const auto rows = Rows();
  ASSERT_EQ(files.size(), rows.size());
  for (const auto& file : files) {
    ASSERT_TRUE(rows.count(file[0])) << file[0];
    EXPECT_THAT(rows.at(file[0]), ::testing::ElementsAre(file[1], file[2], file[3], file[4]))
        << file[0];
  }
  for (int row = 0; row < list.RowCount(); ++row) {
    const std::string path = list.ItemOfRow(row)->path;
    EXPECT_EQ(Wide(path.substr(path.rfind('\\') + 1)), WideCell(row, 0)) << path;
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Wide(path).c_str())) << path;
  }
}

TEST_F(Utf8Names, FoldersAboveAreReadByCharacter) {
  const struct {
    std::string rule, path;
    std::vector<std::string> values;  // artist, album, title, track
  } cases[] = {
      {"$A\\$B\\$K $T.mp3",
       U8(u8"表示\\Album\\01 Song.mp3"),
       {U8(u8"表示"), "Album", "Song", "01"}},
      {"$A\\$B\\$K $T.mp3",
       U8(u8"Artist\\Álbum\\07 三十の歌.mp3"),
       {"Artist", U8(u8"Álbum"), U8(u8"三十の歌"), "07"}},
      {"$A\\$T.mp3", U8(u8"방탄소년단\\Dynamite.mp3"), {U8(u8"방탄소년단"), "", "Dynamite", ""}},
      {U8(u8"$A - ソ$T.mp3"), U8(u8"x\\Beyoncé - ソHalo.mp3"), {U8(u8"Beyoncé"), "", "Halo", ""}},
  };
  for (const auto& c : cases) {
    list.rules = {c.rule};
    list.AddPath(scratch.AddFile(c.path, kMp3));
    const int row = list.RowCount() - 1;
    ASSERT_GE(row, 0) << c.path;
    EXPECT_THAT(std::vector<std::string>({list.CellText(row, 1), list.CellText(row, 2),
                                          list.CellText(row, 3), list.CellText(row, 4)}),
                ::testing::ElementsAreArray(c.values))
        << c.path;
  }
}

TEST_F(Utf8Names, PathLimitCountsCharactersNotBytes) {
  // Folders of 60 kanji (180 bytes each, under the 255-byte names of the Linux file systems).
  const std::string component = Repeat(U8(u8"表"), 60);
  std::string relative = component + "\\" + component + "\\" + component + "\\";
  const size_t base = Wide(scratch.path()).size() + 1 + Wide(relative).size();
  ASSERT_LT(base + 6, size_t(MAX_PATH));
  // 259 characters take more than 500 bytes here, yet name a file the program can open.
  const std::string fits = relative + Repeat("a", int(MAX_PATH - 1 - base - 4)) + ".mp3";
  const std::string tooLong = relative + Repeat("b", int(MAX_PATH - base - 4)) + ".mp3";
  const std::string fitsPath = scratch.AddFile(fits, kMp3);
  ASSERT_EQ(size_t(MAX_PATH - 1), Wide(fitsPath).size());
  ASSERT_GT(fitsPath.size(), size_t(500));
  const std::wstring longPath = L"\\\\?\\" + Wide(scratch / tooLong);
  HANDLE file = CreateFileW(longPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  CloseHandle(file);

  list.AddPath(fitsPath);
  list.AddPath(scratch / tooLong);
  ASSERT_EQ(1, list.RowCount());
  EXPECT_EQ(fitsPath, list.ItemOfRow(0)->path);
}

TEST_F(Utf8Names, SavedInPlaceAndIntoAFolderWithId3v1InCodePage932) {
  ASSERT_TRUE(theTagLibrary.Open("mp3infp"));
  list.rules = {"$A - $T.mp3"};
  const struct {
    std::string name, artist, title, v1Artist;  // v1Artist: the ID3v1 bytes, in code page 932
  } cases[] = {
      // Windows writes a character that 932 lacks as its best fit, where it has one.
      {U8(u8"Beyoncé - Halo.mp3"), U8(u8"Beyoncé"), "Halo", "Beyonce"},
      {U8(u8"방탄소년단 - Dynamite 😀.mp3"), U8(u8"방탄소년단"), U8(u8"Dynamite 😀"), "?????"},
      {U8(u8"ソロ - 表示.mp3"), U8(u8"ソロ"), U8(u8"表示"), "\x83\x5C\x83\x8D"},
  };
  const std::string music = scratch.AddFolder("music");
  const std::string out = scratch.AddFolder(U8(u8"出力 Ó"));
  for (const auto& c : cases) scratch.AddFile("music\\" + c.name, kMp3);
  list.AddPath(music);
  ASSERT_EQ(3, list.RowCount());
  {
    BoxWatcher watcher;
    for (int row = 0; row < list.RowCount(); ++row) {
      EXPECT_TRUE(list.SaveRow(row, nullptr)) << row;
      EXPECT_TRUE(list.SaveRow(row, out.c_str())) << row;
    }
    EXPECT_TRUE(watcher.boxes().empty());
  }
  for (const auto& c : cases) {
    for (const std::string& path : {music + "\\" + c.name, out + "\\" + c.name}) {
      const std::string bytes = FileBytes(path);
      ASSERT_GT(bytes.size(), kMp3.size() + 128) << path;
      EXPECT_EQ(c.v1Artist, std::string(bytes.data() + bytes.size() - 95).substr(0, 30)) << path;
      theTagLibrary.Load(nullptr, path.c_str());
      char value[256] = "";
      theTagLibrary.GetValue("IART_v2", value, sizeof value);
      EXPECT_EQ(c.artist, value) << path;
      theTagLibrary.GetValue("INAM_v2", value, sizeof value);
      EXPECT_EQ(c.title, value) << path;
    }
  }
  theTagLibrary.Close();
}

TEST_F(Utf8Names, PropertyViewShowsTheWholeNameAndItsValues) {
  ASSERT_TRUE(theTagLibrary.Open("mp3infp"));
  const std::string path = scratch.AddFile(U8(u8"방탄소년단 - Dynamite 😀 Beyoncé.mp3"), kMp3);
  theTagLibrary.Load(nullptr, path.c_str());
  theTagLibrary.MakeId3v2(path.c_str());
  theTagLibrary.Load(nullptr, path.c_str());
  theTagLibrary.SetValue("INAM_v2", U8(u8"Dynamite 😀").c_str());
  ASSERT_EQ(0u, theTagLibrary.Save(path.c_str()));

  std::wstring shownPath, shownTitle;
  std::thread watcher([&] {
    for (int i = 0; i < 200; ++i) {
      Sleep(50);
      HWND dialog = FindWindowW(L"#32770", L"タグ情報");
      if (!dialog || !IsWindowVisible(dialog)) continue;
      wchar_t text[512] = L"";
      GetDlgItemTextW(dialog, IDC_PROP_PATH, text, 512);
      shownPath = text;
      // The ID3v2 column's title field.
      GetDlgItemTextW(dialog, IDC_PROP_FIELD_BASE + 10, text, 512);
      shownTitle = text;
      PostMessageW(dialog, WM_COMMAND, IDOK, 0);
      return;
    }
  });
  EXPECT_EQ(0u, theTagLibrary.ViewPropEx(nullptr, path.c_str()));
  watcher.join();
  theTagLibrary.Close();
  EXPECT_EQ(Wide(path), shownPath);
  EXPECT_EQ(L"Dynamite \U0001F600", shownTitle);
}

// The same rules from a file in code page 932, in UTF-8 and in UTF-8 with a byte-order mark.
TEST_F(Utf8Names, RulesFileIn932OrUtf8GivesTheSameRules) {
  const std::vector<std::string> expected = {U8(u8"$A\\ソ\\$T.mp3"), U8(u8"表示 - $T.mp3"),
                                             U8(u8"Beyoncé - $T.mp3")};
  const std::string cp932 = "// comment\r\n$A\\\x83\x5C\\$T.mp3\r\n\x95\x5C\x8E\xA6 - $T.mp3\r\n";
  const std::string utf8 =
      "// comment\r\n" + expected[0] + "\r\n" + expected[1] + "\r\n" + expected[2] + "\r\n";
  for (const std::string& bytes : {cp932, utf8, "\xEF\xBB\xBF" + utf8}) {
    ScratchFolder folder;
    folder.AddFile("rules.txt", bytes);
    std::vector<std::string> rules;
    LoadRulesFromFolder(folder.path(), rules);
    const size_t count = bytes == cp932 ? 2 : 3;
    EXPECT_THAT(rules, ::testing::ElementsAreArray(expected.begin(), expected.begin() + count))
        << bytes;
  }
}

}  // namespace
