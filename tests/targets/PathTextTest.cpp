#include "targets/PathText.h"

#include <gtest/gtest.h>

namespace {

// ソ (0x83 0x5C) and 表 (0x95 0x5C): double-byte characters whose second byte is a backslash.
const std::string kSo = "\x83\x5C";
const std::string kHyo = "\x95\x5C";

// Natively the table of 932; under Wine, the system's own, in the tests' Japanese locale.
TEST(PathText, LeadBytesOfTheAnsiCodePage) {
  EXPECT_TRUE(AnsiLeadBytes() == LeadBytes::CodePage932());
  EXPECT_TRUE(IsLeadByte(0x83));
  EXPECT_FALSE(IsLeadByte(0x5C));
}

TEST(PathText, LastComponentGoesByCharacter) {
  EXPECT_EQ("b.mp3", LastComponent("C:\\a\\b.mp3"));
  EXPECT_EQ("b.mp3", LastComponent("a/b.mp3"));
  EXPECT_EQ("b.mp3", LastComponent("C:b.mp3"));
  EXPECT_EQ("b.mp3", LastComponent("b.mp3"));
  EXPECT_EQ(kSo + ".mp3", LastComponent("C:\\x\\" + kSo + ".mp3"));
  EXPECT_EQ(kHyo + kSo, LastComponent("C:\\" + kSo + "\\" + kHyo + kSo));
  EXPECT_EQ("", LastComponent("C:\\dir\\"));
}

TEST(PathText, CutAtLastSeparator) {
  EXPECT_EQ("C:\\music\\" + kSo, CutAtLastSeparator("C:\\music\\" + kSo + "\\*.*"));
  EXPECT_EQ("C:", CutAtLastSeparator("C:\\*.*"));
  EXPECT_EQ("a", CutAtLastSeparator("a/b"));
  EXPECT_EQ("plain", CutAtLastSeparator("plain"));
}

TEST(PathText, EndsWithSeparatorOnlyForARealSeparator) {
  EXPECT_TRUE(EndsWithSeparator("C:\\"));
  EXPECT_TRUE(EndsWithSeparator("a/"));
  EXPECT_FALSE(EndsWithSeparator("C:\\" + kSo));
  EXPECT_TRUE(EndsWithSeparator("C:\\" + kSo + "\\"));
  EXPECT_FALSE(EndsWithSeparator(""));
}

TEST(PathText, JoinPathAddsOneSeparator) {
  EXPECT_EQ("C:\\a\\b", JoinPath("C:\\a", "b"));
  EXPECT_EQ("C:\\b", JoinPath("C:\\", "b"));
  // A search in a drive's root has the root "C:" (the pattern "C:\*.*" cut at its separator).
  EXPECT_EQ("C:\\b", JoinPath(CutAtLastSeparator("C:\\*.*"), "b"));
  EXPECT_EQ("C:\\" + kSo + "\\b", JoinPath("C:\\" + kSo, "b"));
}

TEST(PathText, LoneLeadByteAtTheEndStandsAlone) {
  EXPECT_EQ("\x83", LastComponent("a\\\x83"));
  EXPECT_FALSE(EndsWithSeparator("a\\\x83"));
}

}  // namespace
