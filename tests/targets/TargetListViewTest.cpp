// The target list in a real window under Wine: intake, rules, cells and selection.
#include "targets/TargetListView.h"

#include <commctrl.h>
#include <gmock/gmock.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "resources/Texts.h"
#include "tags/SaveJournal.h"
#include "tags/TagLibrary.h"
#include "templates/ActiveText.h"
#include "tests/mp3infp/SampleFiles.h"
#include "tests/mp3infp/WinSampleFiles.h"
#include "window/Controls.h"
#include "tests/targets/TargetListFixture.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace samples;

namespace {

class TargetListTest : public TargetListFixture {
 protected:
  std::vector<std::string> RowPaths() {
    std::vector<std::string> paths;
    for (int row = 0; row < list.RowCount(); ++row) paths.push_back(list.ItemOfRow(row)->path);
    return paths;
  }
  std::vector<std::string> TagCells(int row) {
    std::vector<std::string> cells;
    for (int column = 1; column < TargetListView::kColumnCount; ++column)
      cells.push_back(list.CellText(row, column));
    return cells;
  }
};

TEST_F(TargetListTest, ListHasItsStylesAndColumns) {
  const DWORD exStyle = ListView_GetExtendedListViewStyle(list.hwnd());
  EXPECT_EQ(0x31u, exStyle & 0x31u);
  HWND header = ListView_GetHeader(list.hwnd());
  ASSERT_EQ(8, Header_GetItemCount(header));
  char title[64];
  LVCOLUMNA column = {};
  column.mask = LVCF_TEXT | LVCF_WIDTH;
  column.pszText = title;
  column.cchTextMax = sizeof title;
  ListView_GetColumn(list.hwnd(), 0, &column);
  EXPECT_STREQ("ファイル名", title);
  EXPECT_EQ(190, column.cx);
  ListView_GetColumn(list.hwnd(), 7, &column);
  EXPECT_STREQ("コメント", title);
  EXPECT_EQ(150, column.cx);
}

TEST_F(TargetListTest, FolderIsTakenDepthFirstInPreOrderWithAbsolutePaths) {
  scratch.AddFile("a.mp3");
  scratch.AddFile("sub1\\b.mp3");
  scratch.AddFile("sub1\\deep\\c.mp3");
  scratch.AddFile("sub1\\d.mp3");
  scratch.AddFolder("empty");
  scratch.AddFolder("only folders\\inner");
  scratch.AddFile("only folders\\inner\\e.mp3");
  scratch.AddFile("picture.jpg", "\xFF\xD8");
  scratch.AddFile("zero.mp3", "");
  const std::string hidden = scratch.AddFile("hidden.mp3");
  SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN);
  // The tag library's temporary files, whole, cut or empty, named directly too: never rows.
  scratch.AddFile("a.mp3.tagwhirl-new-12-345.tmp", "");
  scratch.AddFile("sub1\\gone.mp3.tagwhirl-new-1-2.tmp");
  scratch.AddFile("notes.mp3.tmp");

  list.AddPath(scratch.path());
  list.AddPath(scratch / "a.mp3.tagwhirl-new-12-345.tmp");

  const std::vector<std::string> paths = RowPaths();
  const std::set<std::string> expected = {scratch / "a.mp3",
                                          scratch / "sub1\\b.mp3",
                                          scratch / "sub1\\deep\\c.mp3",
                                          scratch / "sub1\\d.mp3",
                                          scratch / "only folders\\inner\\e.mp3",
                                          scratch / "picture.jpg",
                                          scratch / "zero.mp3",
                                          scratch / "hidden.mp3",
                                          scratch / "notes.mp3.tmp"};
  EXPECT_EQ(expected, std::set<std::string>(paths.begin(), paths.end()));

  // Pre-order: every folder's files form one unbroken run of rows.
  for (const std::string& folder : {scratch / "sub1\\", scratch / "sub1\\deep\\"}) {
    std::vector<int> rows;
    for (int row = 0; row < static_cast<int>(paths.size()); ++row)
      if (paths[row].rfind(folder, 0) == 0) rows.push_back(row);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.back() - rows.front() + 1, static_cast<int>(rows.size())) << folder;
  }
  for (int row = 0; row < list.RowCount(); ++row) {
    EXPECT_EQ(paths[row].substr(paths[row].rfind('\\') + 1), list.CellText(row, 0));
    EXPECT_EQ("", list.ItemOfRow(row)->rule);
  }
}

TEST_F(TargetListTest, DoubleByteNamesWithBackslashSecondBytes) {
  // ソ and 表 end in 0x5C: neither may be taken for a separator by intake.
  const std::string so = "ソ";
  ASSERT_EQ('\x5C', so[1]);
  const std::string inSoFolder = scratch / "アニソ\\Artist - Title.mp3";
  const std::string soTitle = scratch / "表\\アニメ - 表示.mp3";
  scratch.AddFile("アニソ\\Artist - Title.mp3");
  scratch.AddFile("表\\アニメ - 表示.mp3");
  list.rules = {"$A - $T.mp3"};

  list.AddPath(scratch.path());

  const std::vector<std::string> paths = RowPaths();
  ASSERT_EQ((std::set<std::string>{inSoFolder, soTitle}),
            std::set<std::string>(paths.begin(), paths.end()));
  const int first = paths[0] == inSoFolder ? 0 : 1;
  const int second = 1 - first;
  EXPECT_EQ("Artist - Title.mp3", list.CellText(first, 0));
  EXPECT_EQ("アニメ - 表示.mp3", list.CellText(second, 0));
  EXPECT_EQ("$A - $T.mp3", list.ItemOfRow(first)->rule);
  EXPECT_THAT(TagCells(first), ElementsAre("Artist", "", "Title", "", "", "", ""));
  // Matching takes 表 whole: the title does not end at its 0x5C.
  EXPECT_EQ("$A - $T.mp3", list.ItemOfRow(second)->rule);
  EXPECT_THAT(TagCells(second), ElementsAre("アニメ", "", "表示", "", "", "", ""));
}

TEST_F(TargetListTest, RelativePathsDuplicatesAndMissingPaths) {
  scratch.AddFile("song.mp3");
  scratch.AddFile("dir\\inner.mp3");
  char previous[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, previous);
  SetCurrentDirectoryA(scratch.path().c_str());
  list.AddPath("song.mp3");
  list.AddPath("dir");
  list.AddPath("song.mp3");
  list.AddPath("no such file.mp3");
  list.AddPath(std::string(300, 'x'));
  list.AddPath(scratch.path() + "\\" + std::string(250, 'y') + ".mp3");
  list.AddPath("");
  SetCurrentDirectoryA(previous);

  EXPECT_THAT(RowPaths(), ElementsAre("song.mp3", scratch / "dir\\inner.mp3", "song.mp3"));
  EXPECT_NE(list.ItemOfRow(0), list.ItemOfRow(2));
  EXPECT_EQ(3u, list.items.size());
  EXPECT_EQ(nullptr, list.ItemOfRow(-1));
  EXPECT_EQ(nullptr, list.ItemOfRow(3));
}

TEST_F(TargetListTest, RulesAreTriedInOrderAndTheFirstFitIsRecorded) {
  const std::string file = scratch.AddFile("Artist - 07 Song.mp3");
  list.rules = {"$K $T.mp3x", "$A - $K $T.mp3", "$A - $T.mp3"};
  list.AddPath(file);
  ASSERT_EQ(1, list.RowCount());
  EXPECT_EQ("$A - $K $T.mp3", list.ItemOfRow(0)->rule);
  EXPECT_THAT(TagCells(0), ElementsAre("Artist", "", "Song", "07", "", "", ""));
}

// One box per broken stored rule and intake; outside an intake every AddPath is one.
TEST_F(TargetListTest, BrokenRuleIsReportedOncePerIntakeAndTheNextRuleTried) {
  for (const char* name : {"A - B.mp3", "C - D.mp3", "E - F.mp3"}) scratch.AddFile(name);
  list.rules = {"$T((.mp3)", "$K.mp3x", "$A - $T((.mp3)", "$A - $T.mp3"};
  struct {
    const char* what;
    std::function<void()> takeIn;
    size_t boxes;
  } const cases[] = {
      {"a folder", [&] { list.AddPath(scratch.path()); }, 2},
      {"three files in one intake",
       [&] {
         TargetListView::Intake intake(list);
         for (const char* name : {"A - B.mp3", "C - D.mp3", "E - F.mp3"})
           list.AddPath(scratch / name);
       },
       2},
      {"three files, each its own intake",
       [&] {
         for (const char* name : {"A - B.mp3", "C - D.mp3", "E - F.mp3"})
           list.AddPath(scratch / name);
       },
       6},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    SendMessageA(list.hwnd(), LVM_DELETEALLITEMS, 0, 0);
    std::vector<SeenBox> boxes;
    {
      BoxWatcher watcher;
      test.takeIn();
      boxes = watcher.boxes();
    }
    ASSERT_EQ(test.boxes, boxes.size());
    EXPECT_EQ("$T((.mp3)", boxes[0].caption);
    EXPECT_EQ("$A - $T((.mp3)", boxes[1].caption);
    ASSERT_EQ(3, list.RowCount());
    for (int row = 0; row < 3; ++row) EXPECT_EQ("$A - $T.mp3", list.ItemOfRow(row)->rule);
  }
}

TEST_F(TargetListTest, BrokenRuleIsReportedPerFileAndTheNextRuleTried) {
  const std::string first = scratch.AddFile("A - B.mp3");
  const std::string second = scratch.AddFile("C - D.mp3");
  list.rules = {"$T((.mp3)", "$A - $T.mp3"};
  std::vector<SeenBox> boxes;
  {
    BoxWatcher watcher;
    list.AddPath(first);
    list.AddPath(second);
    boxes = watcher.boxes();
  }
  ASSERT_EQ(2u, boxes.size());
  for (const SeenBox& box : boxes) {
    EXPECT_EQ("$T((.mp3)", box.caption);
    EXPECT_FALSE(box.text.empty());
    // A box owned by a child window is owned by that window's top-level ancestor.
    EXPECT_EQ(GetAncestor(list.hwnd(), GA_ROOT), box.owner);
  }
  EXPECT_EQ("$A - $T.mp3", list.ItemOfRow(1)->rule);
  EXPECT_EQ("D", list.CellText(1, 3));
}

// Links made by the build (tests/targets/CMakeLists.txt): music\self and music\inner\up lead
// back to music, music\away and music\inner\away to elsewhere, which holds c.mp3.
TEST_F(TargetListTest, IntakeEntersEveryFolderOnceThroughLinks) {
  char program[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  const std::string links = std::string(program, std::strrchr(program, '\\')) + "\\intake-links";
  if (GetFileAttributesA((links + "\\music\\self").c_str()) == INVALID_FILE_ATTRIBUTES)
    GTEST_SKIP() << "no links at " << links;

  list.AddPath(links + "\\music");
  std::vector<std::string> paths = RowPaths();
  std::sort(paths.begin(), paths.end());
  ASSERT_EQ(3u, paths.size());
  EXPECT_EQ(links + "\\music\\a.mp3", paths[0]);
  // Only one of the two links to elsewhere is followed, in the order the search finds them.
  EXPECT_THAT(paths[1], ::testing::AnyOf(links + "\\music\\away\\c.mp3",
                                         links + "\\music\\inner\\away\\c.mp3"));
  EXPECT_EQ(links + "\\music\\inner\\b.mp3", paths[2]);

  // A dropped link is taken as the user gave it; each intake starts afresh.
  list.AddPath(links + "\\music\\away");
  EXPECT_EQ(links + "\\music\\away\\c.mp3", list.ItemOfRow(3)->path);
  // The same folder twice in one intake is searched once.
  SendMessageA(list.hwnd(), LVM_DELETEALLITEMS, 0, 0);
  {
    TargetListView::Intake intake(list);
    list.AddPath(links + "\\elsewhere");
    list.AddPath(links + "\\music\\away");
  }
  EXPECT_THAT(RowPaths(), ElementsAre(links + "\\elsewhere\\c.mp3"));

  // A folder dropped with its sub-folder, in either order: the identity the listing gives a
  // sub-folder is the one the folder gives itself when named.
  for (const bool parentFirst : {true, false}) {
    SendMessageA(list.hwnd(), LVM_DELETEALLITEMS, 0, 0);
    {
      TargetListView::Intake intake(list);
      if (parentFirst) list.AddPath(links + "\\music");
      list.AddPath(links + "\\music\\inner");
      if (!parentFirst) list.AddPath(links + "\\music");
    }
    paths = RowPaths();
    EXPECT_EQ(1, std::count(paths.begin(), paths.end(), links + "\\music\\inner\\b.mp3"))
        << parentFirst;
    EXPECT_EQ(3u, paths.size()) << parentFirst;
  }
}

// Names that the ANSI code page cannot hold are left out, but never silently: one box after the
// intake says how many, with up to five of them.
TEST_F(TargetListTest, NamesTheCodePageCannotHoldAreReportedOnce) {
  struct {
    int unwritable;
  } const cases[] = {{0}, {3}, {7}};
  for (const auto& test : cases) {
    SCOPED_TRACE(test.unwritable);
    ScratchFolder folder;
    folder.AddFile("plain.mp3");
    for (int i = 0; i < test.unwritable; ++i) {
      // é, 한 and ó: code page 932 has none of them.
      const wchar_t* letters[] = {L"\u00E9", L"\uD55C", L"\u00F3"};
      const std::wstring name = std::wstring(letters[i % 3]) + std::to_wstring(i) + L".mp3";
      wchar_t wideFolder[MAX_PATH];
      MultiByteToWideChar(CP_ACP, 0, folder.path().c_str(), -1, wideFolder, MAX_PATH);
      const std::wstring path = std::wstring(wideFolder) + L"\\" + name;
      CloseHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    }
    SendMessageA(list.hwnd(), LVM_DELETEALLITEMS, 0, 0);
    std::vector<SeenBox> boxes;
    {
      BoxWatcher watcher(parent);
      list.AddPath(folder.path());
      boxes = watcher.boxes();
    }
    EXPECT_THAT(RowPaths(), ElementsAre(folder / "plain.mp3"));
    if (test.unwritable == 0) {
      EXPECT_THAT(boxes, IsEmpty());
      continue;
    }
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("エラー", boxes[0].caption);
    EXPECT_EQ(nullptr, boxes[0].owner);
    EXPECT_FALSE(boxes[0].probeEnabled);
    std::vector<std::string> lines;
    std::istringstream text(boxes[0].text);
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    const size_t listed = std::min(test.unwritable, 5);
    ASSERT_EQ(1 + listed + (test.unwritable > 5 ? 1 : 0), lines.size());
    EXPECT_EQ(0u, lines[0].find(std::to_string(test.unwritable) + " 個の"));
    // The names as the code page shows them, in the order of the file system.
    for (size_t line = 1; line <= listed; ++line)
      EXPECT_THAT(lines[line], ::testing::EndsWith(".mp3"));
    if (test.unwritable > 5) EXPECT_EQ("ほか 2 個", lines.back());
  }
}

TEST_F(TargetListTest, CommonRuleOfTheSelection) {
  for (const char* name : {"a - 1.mp3", "b - 2.mp3", "c - 3.mp3", "plain.mp3"})
    list.AddPath(scratch.AddFile(name));
  list.ItemOfRow(0)->rule = "R";
  list.ItemOfRow(1)->rule = "R";
  list.ItemOfRow(2)->rule = "S";

  auto common = [&] { return list.CommonRule(GetNextSelected(list.hwnd(), -1), -1); };
  Select({});
  EXPECT_EQ("", common());
  Select({0});
  EXPECT_EQ("R", common());
  Select({0, 1});
  EXPECT_EQ("R", common());
  Select({1, 2});
  EXPECT_EQ("", common());
  // An entry without a rule counts as the empty rule wherever it stands.
  Select({0, 3});
  EXPECT_EQ("", common());
  Select({3, 0});
  EXPECT_EQ("", common());
  Select({3});
  EXPECT_EQ("", common());
  EXPECT_THAT(list.SelectedRows(), ElementsAre(3));
}

TEST_F(TargetListTest, ApplyRuleToSelectionClearsThenRefills) {
  for (const char* name : {"X - One.mp3", "Y - Two.mp3", "NoDash.mp3"})
    list.AddPath(scratch.AddFile(name));
  list.SetCellText(0, 7, "old comment");
  list.SetCellText(2, 1, "old artist");
  list.ItemOfRow(2)->rule = "old";

  Select({0, 2});
  list.ApplyRuleToSelection("$A - $T.mp3");
  EXPECT_THAT(TagCells(0), ElementsAre("X", "", "One", "", "", "", ""));
  EXPECT_EQ("$A - $T.mp3", list.ItemOfRow(0)->rule);
  // The template does not fit: the columns stay empty and the old rule is kept.
  EXPECT_THAT(TagCells(2), ElementsAre("", "", "", "", "", "", ""));
  EXPECT_EQ("old", list.ItemOfRow(2)->rule);
  // Unselected rows are untouched.
  EXPECT_EQ("", list.ItemOfRow(1)->rule);
}

// A mixed album folder through one intake with rules of every format, then rules typed for
// single rows: what the status bar says of each row, and of the intake.
TEST_F(TargetListTest, StatusSaysWhatEachRuleDid) {
  const std::string audio = R"(/\.(?i:mp3|flac|m4a|ogg|opus)$/)";
  list.rules = {"$K - $A - $T" + audio, "$A - $T" + audio};
  list.ruleLines = {12, 15};
  list.rulesFileName = "_rules.txt";
  const std::string album = scratch.AddFolder("Album");
  for (const char* name :
       {"01 - A - One.flac", "B - Two.M4A", "Three.opus", "cover.jpg", "Album.cue", "C - Four.ogg"})
    scratch.AddFile(std::string("Album\\") + name);
  list.AddPath(album);
  EXPECT_EQ(list.lastIntake().added, 6);
  EXPECT_EQ(list.lastIntake().filled, 3);

  const auto rowOf = [&](const std::string& name) {
    for (int row = 0; row < list.RowCount(); ++row)
      if (list.CellText(row, 0) == name) return row;
    return -1;
  };
  const std::u16string closest =
      u"_rules.txt のどのルールにも合いません。いちばん近い 15 行目のルール「$A - $T" +
      std::u16string(audio.begin(), audio.end()) + u"」: ";
  const struct {
    const char* name;
    std::u16string status;
  } rows[] = {
      {"01 - A - One.flac", u"_rules.txt の 12 行目のルール「$K - $A - $T" +
                                std::u16string(audio.begin(), audio.end()) + u"」で埋めました。"},
      {"B - Two.M4A", u"_rules.txt の 15 行目のルール「$A - $T" +
                          std::u16string(audio.begin(), audio.end()) + u"」で埋めました。"},
      {"Three.opus", closest + u"「$A」の後に「 - 」がありません。"},
      {"cover.jpg", closest + u"「$A」の後に「 - 」がありません。"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(list.RowStatus(rowOf(row.name)), ActiveText(row.status)) << row.name;

  // Typed for one row: in the dialog a rule that does not fit, then in the rule box one that does.
  Select({rowOf("Three.opus")});
  EXPECT_EQ(list.SelectionFitCount("$K $T.opus"),
            ActiveText(u"選んだ 1 行のうち 0 行に合います。"));
  list.ApplyRuleToSelection("$K $T.opus", RuleSource::kDialog);
  EXPECT_EQ(list.RowStatus(rowOf("Three.opus")),
            ActiveText(u"「ルールを適用」の入力欄のルール「$K $T.opus」は合いません: "
                       u"名前に「$K」の数字がありません。"));
  list.ApplyRuleToSelection("$T.opus");
  EXPECT_EQ(list.RowStatus(rowOf("Three.opus")),
            ActiveText(u"ルール欄のルール「$T.opus」で埋めました。"));
  Select({0, 1, 2, 3, 4, 5});
  EXPECT_EQ(list.SelectionFitCount("$T" + audio),
            ActiveText(u"選んだ 6 行のうち 4 行に合います。"));
}

// A mixed album through the real tag library: each row's own values are read in the background,
// the changes a rule makes are told apart from the values it leaves, a save writes only the files
// it changes and says so, a second save touches nothing, and a value typed into a cell is saved
// like any other.
class CurrentValuesTest : public TargetListTest {
 protected:
  struct StatusLine : Progress {
    void Begin(const char*, int) override {}
    void Advance() override {}
    void End() override { text = "(no count)"; }
    void EndWith(const std::string& said) override { text = said; }
    std::string text;
  };

  void SetUp() override {
    TargetListTest::SetUp();
    ASSERT_TRUE(theTagLibrary.Open("mp3infp"));
    // Each test's own journal, in its own scratch folder.
    journal_.emplace(WideFromActive(scratch / "journal"), theTagLibrary);
    UseSaveJournal(&*journal_);
    list.progress = &status;
  }
  // The list, and its reader, go before the library.
  void TearDown() override {
    TargetListTest::TearDown();
    UseSaveJournal(nullptr);
    journal_.reset();
    theTagLibrary.Close();
  }

  // Lets the list take what its reader posts until every row is read.
  bool ReadAll() {
    for (const DWORD start = GetTickCount(); GetTickCount() - start < 20000; Sleep(5)) {
      MSG message;
      while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
      if (list.UnreadRows() == 0) return true;
    }
    return false;
  }
  int RowOf(const std::string& name) {
    for (int row = 0; row < list.RowCount(); ++row)
      if (list.CellText(row, 0) == name) return row;
    return -1;
  }
  // The status bar's words after a save of every row in place, which shows no box.
  std::string SaveAll() {
    std::vector<int> rows(list.RowCount());
    for (int row = 0; row < list.RowCount(); ++row) rows[row] = row;
    BoxWatcher watcher;
    list.SaveRows(rows, SaveKind::kSaveAll, nullptr);
    EXPECT_EQ(watcher.boxes().size(), 0u);
    return status.text;
  }
  // Every file's bytes and modification time.
  std::map<std::string, std::pair<Bytes, FILETIME>> Snapshot() {
    std::map<std::string, std::pair<Bytes, FILETIME>> files;
    for (int row = 0; row < list.RowCount(); ++row) {
      const std::string& path = list.ItemOfRow(row)->path;
      WIN32_FILE_ATTRIBUTE_DATA data = {};
      GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
      files[path] = {ReadBytes(path), data.ftLastWriteTime};
    }
    return files;
  }

  StatusLine status;
  std::optional<SaveJournal> journal_;
};

std::string SavedText(int saved, int unchanged, int failed) {
  wchar_t text[256];
  wsprintfW(text, texts::kSaveResult, saved, unchanged, failed);
  return ActiveFromWide(text);
}

TEST_F(CurrentValuesTest, MixedAlbumShowsChangesAndSavesOnlyThem) {
  using Current = RowValues::Current;
  const Bytes tagged = Tag(3,
                           [] {
                             Bytes frames = Frame(3, "TPE1", Latin1Text("unknown"));
                             Append(frames, Frame(3, "TCON", Latin1Text("Ambient")));
                             return frames;
                           }(),
                           64);
  Bytes mp3 = tagged;
  Append(mp3, MpegAudio(8));
  const Bytes flac =
      Flac({FlacBlock(0, FlacStreamInfo()),
            FlacBlock(4, VorbisCommentBody("test", {"ARTIST=Nils Frahm", "TITLE=Hammers"}), true)});
  const std::string album = scratch.AddFolder("Album");
  scratch.AddFile("Album\\Nils Frahm - Says.mp3", std::string(mp3.begin(), mp3.end()));
  scratch.AddFile("Album\\Nils Frahm - Hammers.flac", std::string(flac.begin(), flac.end()));
  const Bytes bare = MpegAudio(8);
  scratch.AddFile("Album\\Nils Frahm - Sunson.mp3", std::string(bare.begin(), bare.end()));
  scratch.AddFile("Album\\cover.jpg", "\xFF\xD8\xFF\xE0 not really a picture");
  scratch.AddFile("Album\\Album.cue", "FILE \"Says.mp3\" MP3\r\n");
  list.AddPath(album);
  ASSERT_TRUE(ReadAll());
  list.SelectAll();
  list.ApplyRuleToSelection("$A - $T.$I");

  const struct {
    const char* name;
    Current state;
    const char* artist;
    const char* genre;
    bool change;
  } rows[] = {
      {"Nils Frahm - Says.mp3", Current::kRead, "unknown", "Ambient", true},
      {"Nils Frahm - Hammers.flac", Current::kRead, "Nils Frahm", "", false},
      {"Nils Frahm - Sunson.mp3", Current::kRead, "", "", true},
      {"cover.jpg", Current::kNotTaggable, "", "", false},
      {"Album.cue", Current::kNotTaggable, "", "", false},
  };
  for (const auto& row : rows) {
    const RowValues& values = list.ItemOfRow(RowOf(row.name))->values;
    EXPECT_EQ(values.state, row.state) << row.name;
    EXPECT_EQ(values.current[0], row.artist) << row.name;
    EXPECT_EQ(values.current[4], row.genre) << row.name;
    EXPECT_EQ(values.HasChange(), row.change) << row.name;
  }
  // The genre that stays is shown, and only the artist is told as a change, before the rule.
  const int says = RowOf("Nils Frahm - Says.mp3");
  bool staying = false;
  EXPECT_EQ(list.ItemOfRow(says)->values.Shown(4, &staying), "Ambient");
  EXPECT_TRUE(staying);
  Select({says});
  const std::wstring said = list.SelectionStatus("Ready");
  EXPECT_EQ(said.find(L"アーティスト: unknown → Nils Frahm、タイトル: （なし） → Says　"), 0u)
      << ActiveFromWide(said);
  EXPECT_NE(said.find(WideFromActive(list.RowStatus(says))), std::wstring::npos);

  EXPECT_EQ(SaveAll(), SavedText(2, 3, 0));
  EXPECT_FALSE(list.ItemOfRow(says)->values.HasChange());
  EXPECT_EQ(list.ItemOfRow(says)->values.current[0], "Nils Frahm");

  // Values not read yet, as right after intake: the save judges each file on its own reading.
  for (int row = 0; row < list.RowCount(); ++row) list.ItemOfRow(row)->values.Forget();
  const auto before = Snapshot();
  EXPECT_EQ(SaveAll(), SavedText(0, 5, 0));
  const auto after = Snapshot();
  for (const auto& [path, file] : before) {
    EXPECT_EQ(after.at(path).first, file.first) << path;
    EXPECT_EQ(CompareFileTime(&after.at(path).second, &file.second), 0) << path;
  }
  for (const auto& row : rows) {
    const RowValues& values = list.ItemOfRow(RowOf(row.name))->values;
    EXPECT_EQ(values.state, row.state) << row.name;
    EXPECT_FALSE(values.HasChange()) << row.name;
  }

  // Typed into a cell: Esc drops it, Enter keeps it as a change that is saved, and undone.
  const int hammers = RowOf("Nils Frahm - Hammers.flac");
  const std::string flacPath = list.ItemOfRow(hammers)->path;
  // Sized, so that its cells are where a click finds them.
  SetWindowPos(list.hwnd(), nullptr, 0, 0, 900, 300, SWP_NOZORDER);
  RECT genre = {};
  genre.top = 5;
  genre.left = LVIR_LABEL;
  ASSERT_TRUE(SendMessageA(list.hwnd(), LVM_GETSUBITEMRECT, hammers, LPARAM(&genre)));
  const LPARAM inGenre = MAKELPARAM((genre.left + genre.right) / 2, (genre.top + genre.bottom) / 2);
  SetItemState(list.hwnd(), hammers, LVIS_FOCUSED, LVIS_FOCUSED);
  for (const WPARAM key : {VK_ESCAPE, VK_RETURN}) {
    // A double click opens the cell under it, and F2 the column last clicked, over the cell.
    SendMessageA(list.hwnd(), WM_LBUTTONDBLCLK, MK_LBUTTON, inGenre);
    ASSERT_TRUE(list.cellEditor().IsOpen());
    list.cellEditor().Close(false);
    SendMessageA(list.hwnd(), WM_KEYDOWN, VK_F2, 0);
    ASSERT_TRUE(list.cellEditor().IsOpen());
    RECT at;
    GetWindowRect(list.cellEditor().edit(), &at);
    MapWindowPoints(nullptr, list.hwnd(), reinterpret_cast<POINT*>(&at), 2);
    EXPECT_EQ(at.left, genre.left);
    SetWindowTextW(list.cellEditor().edit(), L"Piano");
    SendMessageW(list.cellEditor().edit(), WM_KEYDOWN, key, 0);
    EXPECT_FALSE(list.cellEditor().IsOpen());
  }
  EXPECT_EQ(list.CellText(hammers, 5), "Piano");
  EXPECT_TRUE(list.ItemOfRow(hammers)->values.IsChange(4));
  EXPECT_EQ(SaveAll(), SavedText(1, 4, 0));
  EXPECT_EQ(list.ItemOfRow(hammers)->values.current[4], "Piano");
  {
    BoxWatcher watcher;
    list.UndoLastSave();
    EXPECT_EQ(watcher.boxes().size(), 0u);
  }
  EXPECT_EQ(ReadBytes(flacPath), before.at(flacPath).first);
  ASSERT_TRUE(ReadAll());
  EXPECT_EQ(list.ItemOfRow(hammers)->values.current[4], "");
  EXPECT_TRUE(list.ItemOfRow(hammers)->values.IsChange(4));
}

// Files saved side by side, some in place and some written anew: each gets its own values, the
// same file in two rows is saved once and then found unchanged, and undo gives every byte back.
TEST_F(CurrentValuesTest, FilesSavedSideBySideAreEachWrittenAndUndone) {
  const Bytes bare = MpegAudio(8);
  Bytes tagged = Tag(3, Frame(3, "TPE1", Latin1Text("unknown")), 256);
  Append(tagged, MpegAudio(8));
  const Bytes flac = Flac({FlacBlock(0, FlacStreamInfo()),
                           FlacBlock(4, VorbisCommentBody("test", {"ARTIST=x"}), true)});
  const std::string folder = scratch.AddFolder("Many");
  for (int i = 0; i < 24; ++i) {
    const Bytes& bytes = i % 3 == 0 ? bare : i % 3 == 1 ? tagged : flac;
    const std::string name = "Many\\Artist " + std::to_string(i) + " - Title.";
    scratch.AddFile(name + (i % 3 == 2 ? "flac" : "mp3"), std::string(bytes.begin(), bytes.end()));
  }
  list.AddPath(folder);
  list.AddPath(folder + "\\Artist 1 - Title.mp3");
  ASSERT_EQ(list.RowCount(), 25);
  ASSERT_TRUE(ReadAll());
  list.SelectAll();
  list.ApplyRuleToSelection("$A - $T.$I");
  // Judged by the saves themselves, which must not take the same file at once.
  for (int row = 0; row < list.RowCount(); ++row) list.ItemOfRow(row)->values.Forget();
  const auto before = Snapshot();
  EXPECT_EQ(SaveAll(), SavedText(24, 1, 0));
  for (int row = 0; row < list.RowCount(); ++row) {
    char block[512];
    TagValues values;
    const std::string& path = list.ItemOfRow(row)->path;
    ASSERT_EQ(theTagLibrary.ReadValues(path.c_str(), block, sizeof block, nullptr), 0u) << path;
    ASSERT_TRUE(ValuesFromBlock(block, sizeof block, &values));
    const std::string name = list.CellText(row, 0);
    EXPECT_EQ(values[0] + " - " + values[2], name.substr(0, name.rfind('.'))) << path;
  }
  {
    BoxWatcher watcher;
    list.UndoLastSave();
    EXPECT_EQ(watcher.boxes().size(), 0u);
  }
  for (const auto& [path, file] : before) EXPECT_EQ(ReadBytes(path), file.first) << path;
}

TEST_F(TargetListTest, EntriesOutliveDeletedRowsAndNewRowsGoLast) {
  for (const char* name : {"0.mp3", "1.mp3", "2.mp3"}) list.AddPath(scratch.AddFile(name));
  TargetItem* last = list.ItemOfRow(2);
  DeleteItem(list.hwnd(), 1);
  DeleteItem(list.hwnd(), 0);
  EXPECT_EQ(3u, list.items.size());
  EXPECT_EQ(last, list.ItemOfRow(0));
  list.AddPath(scratch.AddFile("3.mp3"));
  EXPECT_EQ("3.mp3", list.CellText(1, 0));
}

TEST_F(TargetListTest, LongCellTextsAreReadWhole) {
  list.AddPath(scratch.AddFile("a.mp3"));
  const std::string longText(3000, 'v');
  list.SetCellText(0, 7, longText);
  EXPECT_EQ(longText, list.CellText(0, 7));
}

TEST_F(TargetListTest, SelectAllSelectsEveryRow) {
  for (const char* name : {"0.mp3", "1.mp3", "2.mp3"}) list.AddPath(scratch.AddFile(name));
  Select({1});
  list.SelectAll();
  EXPECT_THAT(list.SelectedRows(), ElementsAre(0, 1, 2));
}

}  // namespace
