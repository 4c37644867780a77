#include "app/CommandLine.h"

#include <gmock/gmock.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

std::vector<std::string> Tokenise(const std::string& text) {
  std::vector<std::string> paths;
  TokeniseCommandLine(text, paths);
  return paths;
}

TEST(CommandLine, EmptyOrBlankLineGivesNoPaths) {
  EXPECT_THAT(Tokenise(""), IsEmpty());
  EXPECT_THAT(Tokenise("  \t  "), IsEmpty());
}

TEST(CommandLine, BlanksAndTabsSeparateQuotesKeepBlanks) {
  EXPECT_THAT(Tokenise("a.mp3 \"b c.mp3\""), ElementsAre("a.mp3", "b c.mp3"));
  EXPECT_THAT(Tokenise("a\tb\t\t\"c\td\""), ElementsAre("a", "b", "c\td"));
}

TEST(CommandLine, QuotedPartsSplitFromAdjacentText) {
  EXPECT_THAT(Tokenise("\"C:\\x y\\z.mp3\"extra"), ElementsAre("C:\\x y\\z.mp3", "extra"));
  EXPECT_THAT(Tokenise("abc\"def ghi\""), ElementsAre("abc", "def ghi"));
  EXPECT_THAT(Tokenise("\"x\"\"y\"\"z\""), ElementsAre("x", "y", "z"));
}

TEST(CommandLine, EmptyQuotesAndUnclosedQuoteAreSkipped) {
  EXPECT_THAT(Tokenise("\"\""), IsEmpty());
  EXPECT_THAT(Tokenise("a \"\" b"), ElementsAre("a", "b"));
  EXPECT_THAT(Tokenise("\"my file.mp3"), ElementsAre("my", "file.mp3"));
}

TEST(CommandLine, DuplicatesStayInOrder) {
  EXPECT_THAT(Tokenise("x.mp3 y.mp3 x.mp3"), ElementsAre("x.mp3", "y.mp3", "x.mp3"));
}

TEST(CommandLine, AppendsToWhatIsThere) {
  std::vector<std::string> paths = {"first"};
  TokeniseCommandLine("second", paths);
  EXPECT_THAT(paths, ElementsAre("first", "second"));
}

TEST(CommandLine, DoubleByteCharactersPassUnchanged) {
  // ソ is 0x83 0x5C in CP932: its second byte is a backslash and must not disturb anything.
  const std::string so = "\x83\x5C";
  EXPECT_THAT(Tokenise("\"C:\\" + so + "ング\\a b.mp3\" " + so + ".mp3"),
              ElementsAre("C:\\" + so + "ング\\a b.mp3", so + ".mp3"));
  // A full-width blank (0x81 0x40) is not white space to the tokeniser.
  EXPECT_THAT(Tokenise("a\x81\x40"
                       "b"),
              ElementsAre("a\x81\x40"
                          "b"));
}

}  // namespace
