#include "paths/PathText.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// ソ (0x83 0x5C) and 表 (0x95 0x5C): double-byte characters whose second byte is a backslash.
const std::string kSo = "\x83\x5C";
const std::string kHyo = "\x95\x5C";

// The lead bytes stand for the system's code page in every case below: natively those of 932,
// under Wine the system's own in the tests' Japanese locale. A table that lost them would take
// the second byte of ソ for a separator in every row.
TEST(PathText, SplittingGoesByCharacter) {
  struct {
    std::string path, lastComponent, cutAtLastSeparator, folder;
    bool endsWithSeparator;
  } const cases[] = {
      {"C:\\a\\b.mp3", "b.mp3", "C:\\a", "C:\\a\\", false},
      {"a/b.mp3", "b.mp3", "a", "a/", false},
      {"C:b.mp3", "b.mp3", "C:b.mp3", "", false},
      {"b.mp3", "b.mp3", "b.mp3", "", false},
      {"C:\\", "", "C:", "C:\\", true},
      {"C:\\dir\\", "", "C:\\dir", "C:\\dir\\", true},
      {"C:\\a/b.exe", "b.exe", "C:\\a", "C:\\a/", false},
      {"C:\\x\\" + kSo + ".mp3", kSo + ".mp3", "C:\\x", "C:\\x\\", false},
      {"C:\\" + kSo + "\\" + kHyo + kSo, kHyo + kSo, "C:\\" + kSo, "C:\\" + kSo + "\\", false},
      {"C:\\" + kSo, kSo, "C:", "C:\\", false},
      {"C:\\" + kSo + "\\", "", "C:\\" + kSo, "C:\\" + kSo + "\\", true},
      {"C:\\music\\" + kSo + "\\*.*", "*.*", "C:\\music\\" + kSo, "C:\\music\\" + kSo + "\\",
       false},
      {kSo + ".exe", kSo + ".exe", kSo + ".exe", "", false},
      // A lead byte at the very end stands alone.
      {"a\\\x83", "\x83", "a", "a\\", false},
      {"", "", "", "", false},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.path);
    EXPECT_EQ(test.lastComponent, LastComponent(test.path));
    EXPECT_EQ(test.cutAtLastSeparator, CutAtLastSeparator(test.path));
    EXPECT_EQ(test.folder, FolderOfPath(test.path));
    EXPECT_EQ(test.endsWithSeparator, EndsWithSeparator(test.path));
  }
}

TEST(PathText, JoinPathAddsOneSeparator) {
  struct {
    std::string folder, name, joined;
  } const cases[] = {
      {"C:\\a", "b", "C:\\a\\b"},
      {"C:\\", "b", "C:\\b"},
      {"C:\\a/", "b", "C:\\a/b"},
      // A search in a drive's root has the root "C:" (the pattern "C:\*.*" cut at its separator).
      {CutAtLastSeparator("C:\\*.*"), "b", "C:\\b"},
      {"C:\\" + kSo, "b", "C:\\" + kSo + "\\b"},
      {"", "rules.txt", "rules.txt"},
  };
  for (const auto& test : cases) EXPECT_EQ(test.joined, JoinPath(test.folder, test.name));
}

TEST(PathText, ExtensionIsTheLastDotOfTheLastComponent) {
  struct {
    std::string path, extension;
  } const cases[] = {
      {"C:\\a\\song.mp3", ".mp3"},
      {"C:\\a\\song.tar.m4a", ".m4a"},
      {"C:\\a.d\\song", ""},
      {"a.d/song", ""},
      {"song.", "."},
      {"", ""},
      // The second byte of ソ is no separator: the dot before it still counts.
      {"C:\\a\\b." + kSo, "." + kSo},
      {"C:\\a\\" + kSo + ".ogg", ".ogg"},
  };
  for (const auto& test : cases) EXPECT_EQ(test.extension, ExtensionOf(test.path)) << test.path;
}

// What the system's path limit counts: a double-byte character of 932 is one unit; in UTF-8 a
// character of up to three bytes is one and one of four is two; a byte that starts no character
// counts as the one stand-in the system puts for it.
TEST(PathText, Utf16LengthCountsWhatThePathLimitCounts) {
  const LeadBytes cp932 = LeadBytes::CodePage932(), none;
  struct {
    const char* what;
    std::string text;
    bool utf8;
    size_t units;
  } const cases[] = {
      {"ASCII", "C:\\a\\b.mp3", false, 10},
      {"932 pairs", "C:\\" + kSo + kHyo, false, 5},
      {"932 lone lead byte at the end", "ab\x83", false, 3},
      {"UTF-8 two and three bytes", "\xC3\xA9\xE3\x82\xBD", true, 2},
      {"UTF-8 four bytes", "a\xF0\x9F\x8E\xB5", true, 3},
      {"UTF-8 stray continuation", "a\x80\x80", true, 3},
      {"UTF-8 cut short", "\xE3\x82", true, 1},
      {"UTF-8 cut short, then ASCII", "\xE3\x82z", true, 2},
      {"UTF-8 overlong", "\xC0\xAF", true, 2},
      {"UTF-8 surrogate", "\xED\xA0\x80", true, 3},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(test.units, Utf16Length(test.text, test.utf8 ? none : cp932, test.utf8)) << test.what;
  }
  EXPECT_EQ(4u, PathLength("a" + kSo + kHyo + "b"));
}

TEST(LeadBytes, SetTextGivesRawBytesAndRanges) {
  EXPECT_EQ(LeadBytes().SetText(), "");
  EXPECT_TRUE(LeadBytes().none());
  EXPECT_EQ(LeadBytes::CodePage932().SetText(), "\x81-\x9F\xE0-\xFC");
  EXPECT_EQ(LeadBytes({{0x81, 0xFE}}).SetText(), "\x81-\xFE");
  // One byte alone, and two in a row, need no hyphen.
  EXPECT_EQ(LeadBytes({{0x90, 0x90}, {0xA0, 0xA1}}).SetText(), "\x90\xA0\xA1");
}

TEST(LeadBytes, CharacterStartsSkipSecondBytes) {
  const LeadBytes cp932 = LeadBytes::CodePage932();
  // ソ, a, 東 (0x93 0x8C), a lone lead byte at the end.
  const std::string text =
      "\x83\x5C"
      "a"
      "\x93\x8C"
      "\x81";
  EXPECT_EQ(cp932.CharacterStarts(text),
            (std::vector<bool>{true, false, true, true, false, true, true}));
  EXPECT_EQ(LeadBytes().CharacterStarts(text), std::vector<bool>(7, true));
}

}  // namespace
