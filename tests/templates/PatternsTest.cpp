// Pattern building: escaping, stripping codes, check and field patterns. Every
// expected pattern is written as a raw string: each backslash shown is one character.
#include "templates/Patterns.h"

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/regex.hpp>
#include <gmock/gmock.h>

#include "templates/CodeTable.h"

namespace {

// CP932 katakana so and kanji hyou: their second byte is 0x5C, a backslash to the patterns.
const std::string kSo = "\x83\x5C";
const std::string kHyou = "\x95\x5C";
const std::string kSoLead = "\x83";
const std::string kHyouLead = "\x95";

TEST(WorkedExample, ArtistHyphenTitle) {
  const std::string tmpl = "$A - $T.mp3";
  EXPECT_EQ(EscapeTemplate(tmpl), R"($A \- $T\.mp3)");
  EXPECT_EQ(BuildCheckPattern(tmpl), R"([^\\]+ \- [^\\]+\.mp3[^\\]*$)");
  EXPECT_EQ(BuildFieldPattern(tmpl, 0), R"((?<tagwhirl>[^\\]+) \- [^\\]+\.mp3[^\\]*$)");
  EXPECT_EQ(BuildFieldPattern(tmpl, 2), R"([^\\]+ \- (?<tagwhirl>[^\\]+)\.mp3[^\\]*$)");
  for (int row : {1, 3, 4, 5, 6, 7}) {
    EXPECT_EQ(BuildFieldPattern(tmpl, row), BuildCheckPattern(tmpl)) << row;
  }
}

TEST(WorkedExample, TrackWithArgument) {
  const std::string tmpl = R"($K(\d+) $T.mp3)";
  EXPECT_EQ(EscapeTemplate(tmpl), R"($K\(\\d\+\) $T\.mp3)");
  EXPECT_EQ(BuildFieldPattern(tmpl, 3), R"((?<tagwhirl>\d+) [^\\]+\.mp3[^\\]*$)");
  EXPECT_EQ(BuildCheckPattern(tmpl), R"(\d+ [^\\]+\.mp3[^\\]*$)");
  EXPECT_EQ(BuildFieldPattern(tmpl, 2), R"(\d+ (?<tagwhirl>[^\\]+)\.mp3[^\\]*$)");
}

TEST(EscapeTemplate, EscapesAsciiPunctuationButDollarAndApostrophe) {
  for (int byte = 1; byte < 256; ++byte) {
    const char c = static_cast<char>(byte);
    if (c == '/') continue;  // a lone slash disappears, see below
    const bool escaped = (byte >= 0x21 && byte <= 0x2F && c != '$' && c != '\'') ||
                         (byte >= 0x3A && byte <= 0x40) || (byte >= 0x5B && byte <= 0x60) ||
                         (byte >= 0x7B && byte <= 0x7E);
    const std::string expected = escaped ? std::string{'\\', c} : std::string(1, c);
    EXPECT_EQ(EscapeTemplate(std::string(1, c)), expected) << "byte " << byte;
  }
}

TEST(EscapeTemplate, SlashPiecesGoInRaw) {
  EXPECT_EQ(EscapeTemplate(R"(a/\d{2}(x|y)/b.c)"), R"(a\d{2}(x|y)b\.c)");
  // A backslash protects a slash inside a piece.
  EXPECT_EQ(EscapeTemplate(R"(/a\/b/)"), R"(a\/b)");
  EXPECT_EQ(EscapeTemplate("//"), "");
  EXPECT_EQ(EscapeTemplate("/x//y/"), "xy");
}

TEST(EscapeTemplate, LoneSlashDisappears) {
  EXPECT_EQ(EscapeTemplate("a/b"), "ab");
  EXPECT_EQ(EscapeTemplate("a/b/c/d"), "abcd");  // /b/ is a piece, the last slash is lone
  EXPECT_EQ(EscapeTemplate("/"), "");
  EXPECT_EQ(EscapeTemplate("a/"), "a");
  EXPECT_EQ(EscapeTemplate(R"(a\/b)"), R"(a\\b)");  // a slash never survives as literal text
}

TEST(EscapeTemplate, EmptyAndPlainText) {
  EXPECT_EQ(EscapeTemplate(""), "");
  EXPECT_EQ(EscapeTemplate("abc 123"), "abc 123");
}

TEST(EscapeTemplate, DoubleByteSecondBackslashIsEscapedLikeAnyBackslash) {
  EXPECT_EQ(EscapeTemplate(kSo + "$T"), kSoLead + R"(\\$T)");
  EXPECT_EQ(EscapeTemplate(kHyou + "-"), kHyouLead + R"(\\\-)");
}

TEST(CheckPattern, EmptyTemplateIsOnlyThePathTail) {
  EXPECT_EQ(BuildCheckPattern(""), R"([^\\]*$)");
}

TEST(CheckPattern, EveryCodeGetsItsDefault) {
  EXPECT_EQ(BuildCheckPattern("$A$B$T$K$G$Y$C$I"),
            R"([^\\]+[^\\]+[^\\]+\d+[^\\]+\d+[^\\]+[^\\]*[^\\]*$)");
  EXPECT_EQ(BuildCheckPattern(R"($A\$B\$K $T.mp3)"), R"([^\\]+\\[^\\]+\\\d+ [^\\]+\.mp3[^\\]*$)");
}

TEST(CheckPattern, LowerCaseAndUnknownLettersAreNoCodes) {
  EXPECT_EQ(BuildCheckPattern("$a $X"), R"($a $X[^\\]*$)");
  EXPECT_EQ(BuildCheckPattern("$$A"), R"($[^\\]+[^\\]*$)");
  EXPECT_EQ(BuildCheckPattern("$T$"), R"([^\\]+$[^\\]*$)");
}

TEST(CheckPattern, SpaceBeforeParenthesisMeansNoArgument) {
  EXPECT_EQ(BuildCheckPattern("$T (live)"), R"([^\\]+ \(live\)[^\\]*$)");
  EXPECT_EQ(BuildFieldPattern("$T (live)", 2), R"((?<tagwhirl>[^\\]+) \(live\)[^\\]*$)");
}

TEST(CheckPattern, EmptyArgumentMatchesEmptyText) {
  EXPECT_EQ(BuildCheckPattern("$A() x"), R"( x[^\\]*$)");
  EXPECT_EQ(BuildFieldPattern("$A() x", 0), R"((?<tagwhirl>) x[^\\]*$)");
}

TEST(CheckPattern, ArgumentsLoseOneLevelOfBackslashes) {
  // \d stays the digit class; a doubled backslash written in the argument is one backslash.
  EXPECT_EQ(BuildCheckPattern(R"($T([^\\]+?) x)"), R"([^\\]+? x[^\\]*$)");
  EXPECT_EQ(BuildFieldPattern(R"($T([^\\]+?) x)", 2), R"((?<tagwhirl>[^\\]+?) x[^\\]*$)");
  // The regex escape \x41 survives: escaping doubled its backslash, the format step halves it.
  EXPECT_EQ(BuildFieldPattern(R"($T(\x41))", 2), R"((?<tagwhirl>\x41)[^\\]*$)");
  // Raw in a slash piece, it is a control escape of the format itself and becomes the letter.
  EXPECT_EQ(BuildFieldPattern(R"($T(/\x41/))", 2), R"((?<tagwhirl>A)[^\\]*$)");
}

TEST(CheckPattern, SlashPieceInsideArgumentPassesTheFormatStep) {
  // The piece's \d loses its backslash: the argument is the letter d.
  EXPECT_EQ(BuildFieldPattern(R"($T(/\d+/))", 2), R"((?<tagwhirl>d+)[^\\]*$)");
  EXPECT_EQ(BuildCheckPattern(R"($T(/\d+/))"), R"(d+[^\\]*$)");
  // A doubled backslash leaves one.
  EXPECT_EQ(BuildFieldPattern(R"($T(/\\d+/))", 2), R"((?<tagwhirl>\d+)[^\\]*$)");
}

TEST(CheckPattern, SlashPieceOutsideArgumentsIsRaw) {
  EXPECT_EQ(BuildCheckPattern(R"($A - $T./(?:mp3|MP3)/)"),
            R"([^\\]+ \- [^\\]+\.(?:mp3|MP3)[^\\]*$)");
}

TEST(CheckPattern, ArgumentOfFirstOccurrenceServesAll) {
  EXPECT_EQ(BuildCheckPattern(R"($K(\d\d) $K)"), R"(\d\d \d\d[^\\]*$)");
  EXPECT_EQ(BuildCheckPattern(R"($K $K(\d\d))"), R"(\d+ \d+[^\\]*$)");
}

TEST(FieldPattern, CodeTwiceGivesTwoGroups) {
  EXPECT_EQ(BuildFieldPattern("$A - $A.mp3", 0), R"((?<tagwhirl>[^\\]+) \- ([^\\]+)\.mp3[^\\]*$)");
  EXPECT_EQ(BuildFieldPattern("$K$K", 3), R"((?<tagwhirl>\d+)(\d+)[^\\]*$)");
}

TEST(FieldPattern, SkipCodeIsAGroupToo) {
  EXPECT_EQ(BuildFieldPattern("$I$T", 7), R"((?<tagwhirl>[^\\]*)[^\\]+[^\\]*$)");
}

TEST(FieldPattern, EscapedPercentLosesItsBackslash) {
  EXPECT_EQ(BuildCheckPattern("100% $T"), R"(100\% [^\\]+[^\\]*$)");
  EXPECT_EQ(BuildFieldPattern("100% $T", 2), R"(100% (?<tagwhirl>[^\\]+)[^\\]*$)");
  EXPECT_EQ(BuildFieldPattern("100% $T", 0), R"(100% [^\\]+[^\\]*$)");
}

TEST(GreedyArgument, LaterCodeSwallowedButPatternsStillWork) {
  const std::string tmpl = R"($K(\d+) $T(.+))";
  EXPECT_EQ(BuildCheckPattern(tmpl), R"(\d+ .+[^\\]*$)");
  // Row 3 is built first: its argument runs to the last escaped parenthesis and takes $T along.
  EXPECT_EQ(BuildFieldPattern(tmpl, 3), R"((?<tagwhirl>\d+) [^\\]+(.+)[^\\]*$)");
  EXPECT_EQ(BuildFieldPattern(tmpl, 2), R"(\d+ (?<tagwhirl>.+)[^\\]*$)");
}

TEST(GreedyArgument, EarlierRowSwallowsLaterCodeIntoUnbalancedCheck) {
  const std::string tmpl = R"($T(.+) - $K(\d+))";
  EXPECT_EQ(BuildCheckPattern(tmpl), R"(.+) - \d+(\d+[^\\]*$)");
  EXPECT_EQ(BuildFieldPattern(tmpl, 3), R"(.+ \- (?<tagwhirl>\d+)[^\\]*$)");
}

TEST(ReplacementFormat, DollarReferencesOfArgumentsAreFilledIn) {
  // $1 in an argument is group 1 of the code's match: the escaped argument itself.
  EXPECT_EQ(BuildFieldPattern("$T(a$1)", 2), R"((?<tagwhirl>a\(a$1\))[^\\]*$)");
  EXPECT_EQ(BuildCheckPattern("$T(a$1)"), R"(a\(a$1\)[^\\]*$)");
  // An apostrophe is never escaped, so $' stays a reference: the text after the code.
  EXPECT_EQ(BuildCheckPattern("$T(a$') z"), R"(a z[^\\]*$ z[^\\]*$)");
  // The ampersand and the backtick are escaped first, so $& and $` stay as written.
  EXPECT_EQ(BuildFieldPattern("$T(a$&)", 2), R"((?<tagwhirl>a$&)[^\\]*$)");
  EXPECT_EQ(BuildCheckPattern("$T(a$`)"), R"(a$`[^\\]*$)");
  // The library's format writes one dollar sign for two.
  EXPECT_EQ(BuildFieldPattern("$T(x$$)", 2), R"((?<tagwhirl>x$)[^\\]*$)");
}

TEST(ReplacementFormat, TextCopiedByReferencesIsBounded) {
  // $0 copies the whole match of a code, its argument included, and every code row formats the
  // copies again: unbounded, this 17-byte template builds a field pattern of some 240 MB, and one
  // more $0 exhausts the memory.
  EXPECT_THROW(BuildFieldPattern("$T($A($0$0$0$K()", 0), std::length_error);
  EXPECT_LT(BuildCheckPattern("$T($A($0$0$0$K()").size(), kMaxPatternLength);
  EXPECT_THROW(BuildCheckPattern("$A($0$A($T($B($0$K()"), std::length_error);
  // Copies that stay small are built as usual.
  EXPECT_EQ(BuildFieldPattern("$A($0)", 0), R"((?<tagwhirl>$A\($0\))[^\\]*$)");
}

// Code page 932: the default patterns and the tail take a lead byte and the byte after it as one
// unit; what the user wrote (literal text, arguments, slash pieces) stays as it is.
TEST(DoubleByte, DefaultPatternsAndTailGoByCharacter) {
  const LeadBytes cp932 = LeadBytes::CodePage932();
  const std::string single = "[^\\\\\x81-\x9F\xE0-\xFC]";
  const std::string pair = "[\x81-\x9F\xE0-\xFC].";
  const std::string any = single + "*(?:" + pair + single + "*)*";
  const std::string some = "(?:" + single + "|" + pair + ")" + any;
  const std::string tail = any + "$";
  struct {
    std::string templateText;
    int row;  // -1: the check pattern
    std::string pattern;
  } const cases[] = {
      {"$A - $T.mp3", -1, some + " \\- " + some + "\\.mp3" + tail},
      {"$A - $T.mp3", 0, "(?<tagwhirl>" + some + ") \\- " + some + "\\.mp3" + tail},
      {"$A - $T.mp3", 2, some + " \\- (?<tagwhirl>" + some + ")\\.mp3" + tail},
      {"$I$K", -1, any + "\\d+" + tail},
      {"$I$K", 7, "(?<tagwhirl>" + any + ")\\d+" + tail},
      {"", -1, tail},
      {R"($K(\d+) $T.mp3)", 3, R"((?<tagwhirl>\d+) )" + some + R"(\.mp3)" + tail},
      {R"($T([^\\]+) /[^\\]x/)", -1, R"([^\\]+ [^\\]x)" + tail},
      {kSo + "$T", -1, kSoLead + R"(\\)" + some + tail},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.templateText + " row " + std::to_string(test.row));
    EXPECT_EQ(test.row < 0 ? BuildCheckPattern(test.templateText, cp932)
                           : BuildFieldPattern(test.templateText, test.row, cp932),
              test.pattern);
  }
  // Without lead bytes every pattern is the byte-wise one.
  EXPECT_EQ(BuildCheckPattern("$A - $T.mp3", LeadBytes()), R"([^\\]+ \- [^\\]+\.mp3[^\\]*$)");
}

// Without lead bytes (a single-byte code page, or UTF-8) every byte 0x5C is a backslash.
TEST(DoubleByte, SecondByteBackslashSplitsLikeASeparator) {
  // The template's own so is escaped as bytes, so it matches those two bytes of a path.
  EXPECT_EQ(BuildCheckPattern(kSo + " $T.mp3"), kSoLead + R"(\\ [^\\]+\.mp3[^\\]*$)");
  EXPECT_EQ(BuildFieldPattern("$A" + kHyou + "$T", 0),
            R"((?<tagwhirl>[^\\]+))" + kHyouLead + R"(\\[^\\]+[^\\]*$)");
}

TEST(DoubleByte, SecondByteBackslashProtectsASlash) {
  // In /so/ the closing slash follows the byte 0x5C, which protects it: no slash piece, and
  // both slashes are dropped as lone slashes. In /so/x/ the protected slash is inside the piece.
  EXPECT_EQ(EscapeTemplate("/" + kSo + "/"), kSoLead + R"(\\)");
  EXPECT_EQ(EscapeTemplate("/" + kSo + "/x/"), kSoLead + R"(\/x)");
}

// The runs by character are written unrolled for speed; they must find what the plain repeated
// alternation of the two kinds of unit finds, at the same place and with the same group.
TEST(DoubleByte, UnrolledRunsMatchAsThePlainAlternation) {
  const LeadBytes cp932 = LeadBytes::CodePage932();
  const std::string leads = "\x81-\x9F\xE0-\xFC";
  const std::string single = "[^\\\\" + leads + "]", pair = "[" + leads + "].";
  const std::string any = single + "*(?:" + pair + single + "*)*";
  const std::string some = "(?:" + single + "|" + pair + ")" + any;
  const std::string unit = "(?:" + pair + "|" + single + ")";
  const auto plain = [&](std::string pattern) {
    for (const auto& [from, to] : {std::pair{some, unit + "+"}, std::pair{any, unit + "*"}}) {
      for (size_t at; (at = pattern.find(from)) != std::string::npos;)
        pattern.replace(at, from.size(), to);
    }
    return pattern;
  };
  const std::string pieces[] = {"a",    "1",    " ", "-",   "\\",       "_",
                                ".mp3", "\x81", kSo, kHyou, "\x83\x5F", "\x82\xA0"};
  std::mt19937 random(7);
  for (const std::string templateText :
       {"$A - $T.mp3", "$A\\$B\\$K $T.mp3", "$I$K", "$A_$T", "$A\x83\x5F$T", "$A$T"}) {
    for (int row = -1; row < kCodeCount; ++row) {
      const std::string unrolled = row < 0 ? BuildCheckPattern(templateText, cp932)
                                           : BuildFieldPattern(templateText, row, cp932);
      SCOPED_TRACE(unrolled);
      const boost::regex fast(unrolled), slow(plain(unrolled));
      for (int n = 0; n < 300; ++n) {
        std::string path;
        for (int length = random() % 12; length > 0; --length)
          path += pieces[random() % std::size(pieces)];
        boost::smatch fastMatch, slowMatch;
        const bool found = boost::regex_search(path, fastMatch, fast);
        ASSERT_EQ(found, boost::regex_search(path, slowMatch, slow)) << path;
        if (!found) continue;
        EXPECT_EQ(fastMatch.prefix().length(), slowMatch.prefix().length()) << path;
        EXPECT_EQ(fastMatch.str(0), slowMatch.str(0)) << path;
        if (fastMatch.size() > 1) EXPECT_EQ(fastMatch.str(1), slowMatch.str(1)) << path;
      }
    }
  }
}

}  // namespace
