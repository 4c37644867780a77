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

// The line a rule stands on, as an editor counts lines, to tell the user which rule filled a row.
TEST(ParseRules, LineNumbersCountEveryLine) {
  const struct {
    const char* bytes;
    std::vector<int> lines;
  } cases[] = {
      {"// c\r\n$A - $T.mp3\r\n\r\n$T.mp3\r\n", {2, 4}},
      {"\xEF\xBB\xBFone\n  // c\n\ntwo", {1, 4}},
      {"a\rb\nc\x1A\nd\n", {1, 2}},
  };
  for (const auto& test : cases) {
    std::vector<std::string> rules;
    std::vector<int> lines;
    ParseRules(test.bytes, rules, &lines);
    EXPECT_EQ(lines, test.lines) << test.bytes;
    EXPECT_EQ(rules.size(), lines.size());
  }
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

// The rules file's code page: UTF-8 when the bytes are valid UTF-8, the system's legacy code page
// (932) otherwise; a UTF-8 byte-order mark is removed, any other first bytes stay.
TEST(RulesEncoding, Utf8OnlyWhenValidAndTheMarkRemoved) {
  using E = RulesEncoding;
  const char8_t* utf8Rule = u8"表示\\$A - $T.mp3";
  const std::string utf8(reinterpret_cast<const char*>(utf8Rule));
  struct Case {
    std::string bytes;
    E encoding;
    std::string left;
  } cases[] = {
      {"$A - $T.mp3\r\n", E::kUtf8, "$A - $T.mp3\r\n"},
      {"", E::kUtf8, ""},
      {utf8, E::kUtf8, utf8},
      {"\xEF\xBB\xBF" + utf8, E::kUtf8, utf8},
      {"\xEF\xBB\xBF", E::kUtf8, ""},
      // Code page 932 (the literals here are in it): ソ is 83 5C, 表 is 95 5C.
      {"ソロ\\$T.mp3", E::kSystemLegacy, "ソロ\\$T.mp3"},
      {"// 表示\r\n$T.mp3", E::kSystemLegacy, "// 表示\r\n$T.mp3"},
      // A mark followed by text that is not UTF-8 is not taken for one.
      {"\xEF\xBB\xBF表", E::kSystemLegacy, "\xEF\xBB\xBF表"},
      // Whatever follows Ctrl+Z is never read.
      {utf8 + "\x1A\x95", E::kUtf8, utf8 + "\x1A\x95"},
      {"\x95\x1A", E::kSystemLegacy, "\x95\x1A"},
  };
  for (auto& c : cases) {
    std::string bytes = c.bytes;
    EXPECT_EQ(c.encoding, TakeRulesEncoding(bytes)) << c.bytes;
    EXPECT_EQ(c.left, bytes) << c.bytes;
  }
}

TEST(RulesEncoding, WellFormedUtf8Only) {
  const std::pair<const char*, bool> cases[] = {
      {"plain", true},
      {"\xC3\xA9", true},           // é
      {"\xED\x95\x9C", true},       // 한
      {"\xF0\x9F\x98\x80", true},   // an emoji
      {"\xC3", false},              // cut short
      {"\xA9", false},              // a continuation byte alone
      {"\xC0\xAF", false},          // overlong '/'
      {"\xE0\x80\xAF", false},      // overlong '/'
      {"\xED\xA0\x80", false},      // a surrogate
      {"\xF4\x90\x80\x80", false},  // past U+10FFFF
      {"\xF5\x80\x80\x80", false},
      {"\x83\x5C", false},  // ソ in 932
      {"\xE3\x81", false},
  };
  for (const auto& [bytes, valid] : cases) EXPECT_EQ(valid, IsUtf8(bytes)) << bytes;
}

}  // namespace
