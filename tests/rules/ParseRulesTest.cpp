// Reading the bytes of a rules file: line ends, comments, odd bytes. Runs natively and under Wine.
#include "rules/RulesFile.h"

#include <string>
#include <vector>

#include <gmock/gmock.h>

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::vector<std::string> Parse(const std::string& bytes) {
  std::vector<std::string> rules;
  ParseRules(bytes, rules);
  return rules;
}

TEST(ParseRules, RulesInFileOrderDuplicatesKept) {
  EXPECT_THAT(Parse("$A - $T.mp3\n$K $T.mp3\n$A - $T.mp3\n"),
              ElementsAre("$A - $T.mp3", "$K $T.mp3", "$A - $T.mp3"));
}

TEST(ParseRules, AppendsToWhatIsThere) {
  std::vector<std::string> rules = {"first"};
  ParseRules("second\n", rules);
  EXPECT_THAT(rules, ElementsAre("first", "second"));
}

TEST(ParseRules, CrLfAndLfGiveTheSameRules) {
  const auto lf = Parse("// c\n$A - $T.mp3\n\n$T.mp3\n");
  EXPECT_THAT(lf, ElementsAre("$A - $T.mp3", "$T.mp3"));
  EXPECT_EQ(Parse("// c\r\n$A - $T.mp3\r\n\r\n$T.mp3\r\n"), lf);
}

TEST(ParseRules, LoneCarriageReturnStays) {
  EXPECT_THAT(Parse("a\rb\n"), ElementsAre("a\rb"));
  EXPECT_THAT(Parse("a\r\r\nb"), ElementsAre("a\r", "b"));
  EXPECT_THAT(Parse("end\r"), ElementsAre("end\r"));  // no LF follows at the end of the file
}

TEST(ParseRules, LastLineNeedsNoLineEnd) {
  EXPECT_THAT(Parse("one\ntwo"), ElementsAre("one", "two"));
}

TEST(ParseRules, EmptyAndCommentOnlyFilesGiveNothing) {
  EXPECT_THAT(Parse(""), IsEmpty());
  EXPECT_THAT(Parse("\n\r\n\n"), IsEmpty());
  EXPECT_THAT(Parse("// a\r\n\r\n  // b\r\n"), IsEmpty());
}

TEST(ParseRules, CommentsStartWithBlanksAndTwoSlashes) {
  EXPECT_THAT(Parse("//\n// x\n\t//a\n   //\n//$A - $T.mp3\n\v\f //x\n"), IsEmpty());
  EXPECT_THAT(Parse("a//\n/ /a\n$A - //$T\n/x\n"), ElementsAre("a//", "/ /a", "$A - //$T", "/x"));
}

TEST(ParseRules, BlankLinesAreRules) { EXPECT_THAT(Parse("   \n\t\n"), ElementsAre("   ", "\t")); }

TEST(ParseRules, NoTrimmingNoUnescaping) {
  EXPECT_THAT(Parse("  $A \\ $T.mp3 \t\n"), ElementsAre("  $A \\ $T.mp3 \t"));
}

TEST(ParseRules, ByteOrderMarkIsNotWhiteSpace) {
  EXPECT_THAT(Parse("\xEF\xBB\xBF// comment\nx\n"), ElementsAre("\xEF\xBB\xBF// comment", "x"));
}

TEST(ParseRules, CtrlZEndsTheFile) {
  EXPECT_THAT(Parse("one\ntw\x1Ao\nthree\n"), ElementsAre("one", "tw"));
  EXPECT_THAT(Parse(std::string("\x1A") + "one\n"), IsEmpty());
  EXPECT_THAT(Parse("one\r\x1A\n"), ElementsAre("one\r"));
}

TEST(ParseRules, LineTextEndsAtNul) {
  EXPECT_THAT(Parse(std::string("ab\0cd\nx\n", 8)), ElementsAre("ab", "x"));
  // A line that begins with NUL is empty; one whose text before the NUL is blank is a rule.
  EXPECT_THAT(Parse(std::string("\0abc\n  \0//\n", 11)), ElementsAre("  "));
}

TEST(ParseRules, LongLinesAreKeptWholeAndReadingGoesOn) {
  const std::string exact(259, 'a');
  const std::string longer(260, 'b');
  const std::string huge = "$A - $T" + std::string(5000, 'c');
  EXPECT_THAT(Parse(exact + "\n" + longer + "\r\n" + huge + "\nlast"),
              ElementsAre(exact, longer, huge, "last"));
}

TEST(ParseRules, CarriageReturnStartsALineForTheCommentTest) {
  // The comment pattern's ^ also matches after a CR inside the line, and \s takes a CR too.
  EXPECT_THAT(Parse("x\r//y\n\r//z\n"), IsEmpty());
}

TEST(ParseRules, DoubleByteTextKeptByteForByte) {
  const std::string so = "\x83\x5C";  // katakana so, second byte 0x5C
  EXPECT_THAT(Parse("$A\\" + so + "$T.mp3\r\n"), ElementsAre("$A\\" + so + "$T.mp3"));
  // A full-width blank (0x81 0x40) is not white space: the line is a rule.
  EXPECT_THAT(Parse("\x81\x40//x\n"), ElementsAre("\x81\x40//x"));
}

// The white-space class comes from the library's character traits, which may differ between the
// builds (see MatchRuleTest); for single bytes both must agree with the C locale.
TEST(ParseRules, WhiteSpaceBeforeSlashesIsTheCLocales) {
  for (int byte = 1; byte < 256; ++byte) {
    if (byte == '\n' || byte == 0x1A) continue;  // these end lines or the file
    // White space, or a third slash.
    const bool comment = byte == ' ' || (byte >= '\t' && byte <= '\r') || byte == '/';
    const std::string line = std::string(1, static_cast<char>(byte)) + "//";
    EXPECT_EQ(Parse(line + "\n").size(), comment ? 0u : 1u) << "byte " << byte;
  }
}

}  // namespace
