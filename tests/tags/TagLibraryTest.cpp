#include "tags/TagLibrary.h"

#include <gtest/gtest.h>

namespace {

TEST(TagLibrary, ResolvesAllNineEntryPointsOfOurLibrary) {
  TagLibrary library;
  ASSERT_TRUE(library.Open("mp3infp"));
  EXPECT_EQ(9, library.ResolvedCount());
  library.Close();
  EXPECT_FALSE(library.IsOpen());
}

TEST(TagLibrary, MissingLibraryIsNotOpened) {
  TagLibrary library;
  EXPECT_FALSE(library.Open("no_such_tag_library"));
  EXPECT_FALSE(library.IsOpen());
  EXPECT_EQ(0, library.ResolvedCount());
}

TEST(TagLibrary, MissingEntryPointsFailLikeTheirOperation) {
  // A library of the same contract with only Load and GetType.
  TagLibrary library;
  ASSERT_TRUE(library.Open("partial_mp3infp"));
  EXPECT_EQ(2, library.ResolvedCount());
  EXPECT_EQ(0u, library.Load(nullptr, "x.mp3"));
  EXPECT_EQ(1u, library.GetType());

  EXPECT_NE(0u, library.Save("x.mp3"));
  EXPECT_NE(0u, library.MakeId3v1("x.mp3"));
  EXPECT_NE(0u, library.MakeId3v2("x.mp3"));
  EXPECT_NE(0u, library.SetValue("INAM_v2", "title"));
  EXPECT_NE(0u, library.ViewPropEx(nullptr, "x.mp3"));
  EXPECT_EQ(0u, library.GetTagType());
  char value[8] = "junk";
  EXPECT_EQ(static_cast<DWORD>(-1), library.GetValue("INAM", value, sizeof value));
  EXPECT_STREQ("", value);
}

TEST(TagLibrary, ClosedLibraryAnswersSafely) {
  TagLibrary library;
  EXPECT_EQ(kMp3infpTypeUnknown, library.GetType());
  EXPECT_NE(0u, library.Save("x.mp3"));
  EXPECT_NE(0u, library.Load(nullptr, "x.mp3"));
}

}  // namespace
