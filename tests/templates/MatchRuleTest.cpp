// Applying a template to a path: fit, no fit, errors, and the values of each row. Runs natively
// and under Wine.
#include "templates/MatchRule.h"

#include <string>

#include <boost/regex.hpp>
#include <gmock/gmock.h>

namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

const std::string kSo = "\x83\x5C";    // katakana so, CP932
const std::string kHyou = "\x95\x5C";  // kanji hyou, CP932

enum Row { kArtist, kAlbum, kTitle, kTrack, kGenre, kYear, kComment, kSkip };

// Both ways of applying must agree on everything; each test sees the cached result.
RuleMatch Apply(const std::string& path, const std::string& templateText) {
  const RuleMatch uncached = MatchRuleUncached(path, templateText);
  const RuleMatch cached = MatchRule(path, templateText);
  EXPECT_EQ(cached.outcome, uncached.outcome);
  EXPECT_EQ(cached.error, uncached.error);
  EXPECT_EQ(cached.values, uncached.values);
  return cached;
}

// The values of rows 0 to 6 as one text, "-" for a row without a value, for compact expectations.
std::string Values(const RuleMatch& match) {
  std::string text;
  for (int row = 0; row < kCodeCount; ++row) {
    if (row > 0) text += '|';
    text += match.values[row] ? *match.values[row] : "-";
  }
  return text;
}

TEST(MatchRule, HyphenatedNameGivesLongestArtist) {
  const RuleMatch match = Apply(R"(C:\Music\A - B - C.mp3)", "$A - $T.mp3");
  ASSERT_EQ(match.outcome, RuleMatch::kFits);
  EXPECT_EQ(Values(match), "A - B|-|C|-|-|-|-|-");
}

TEST(MatchRule, TemplateNeedNotStartAtBeginningOfName) {
  const RuleMatch match = Apply(R"(C:\Music\Track01 - Song.mp3)", "$K - $T.mp3");
  ASSERT_EQ(match.outcome, RuleMatch::kFits);
  EXPECT_EQ(*match.values[kTrack], "01");
  EXPECT_EQ(*match.values[kTitle], "Song");
}

TEST(MatchRule, NoFitSetsNothing) {
  const RuleMatch match = Apply(R"(C:\Music\Song.mp3)", "$A - $T.mp3");
  EXPECT_EQ(match.outcome, RuleMatch::kNoFit);
  EXPECT_EQ(Values(match), "-|-|-|-|-|-|-|-");
  EXPECT_THAT(match.error, IsEmpty());
}

TEST(MatchRule, TemplateReachesIntoFolders) {
  const RuleMatch match = Apply(R"(D:\mp3\Artist\Album\03 Song.mp3)", R"($A\$B\$K $T.mp3)");
  ASSERT_EQ(match.outcome, RuleMatch::kFits);
  EXPECT_EQ(Values(match), "Artist|Album|Song|03|-|-|-|-");
}

TEST(MatchRule, OnlySkipCodeFitsEverythingWithoutValues) {
  for (const std::string path : {R"(C:\a.mp3)", "", R"(x\)", "\\"}) {
    const RuleMatch match = Apply(path, "$I");
    EXPECT_EQ(match.outcome, RuleMatch::kFits) << path;
    EXPECT_EQ(Values(match), "-|-|-|-|-|-|-|-");
  }
}

TEST(MatchRule, EmptyTemplateFitsEverythingWithoutValues) {
  const RuleMatch match = Apply(R"(C:\any\file.txt)", "");
  EXPECT_EQ(match.outcome, RuleMatch::kFits);
  EXPECT_EQ(Values(match), "-|-|-|-|-|-|-|-");
}

TEST(MatchRule, CodeAtTheEndTakesTheExtension) {
  EXPECT_EQ(*Apply(R"(C:\Artist - Song.mp3)", "$A - $T").values[kTitle], "Song.mp3");
  EXPECT_EQ(*Apply(R"(C:\Artist - Song.mp3)", "$A - $T.mp3").values[kTitle], "Song");
}

TEST(MatchRule, TrackAndYearAreDigitsUnlessGivenAnArgument) {
  EXPECT_EQ(Apply(R"(C:\AB Song.mp3)", "$K $T.mp3").outcome, RuleMatch::kNoFit);
  EXPECT_EQ(Apply(R"(C:\1999x Song.mp3)", "$Y $T.mp3").outcome, RuleMatch::kNoFit);
  const RuleMatch match = Apply(R"(C:\AB Song.mp3)", "$K([A-Z]+) $T.mp3");
  ASSERT_EQ(match.outcome, RuleMatch::kFits);
  EXPECT_EQ(*match.values[kTrack], "AB");
}

TEST(MatchRule, LeadingZerosAndBlanksAreKept) {
  const RuleMatch match = Apply(R"(C:\007  Bond .mp3)", "$K $T.mp3");
  ASSERT_EQ(match.outcome, RuleMatch::kFits);
  EXPECT_EQ(*match.values[kTrack], "007");
  EXPECT_EQ(*match.values[kTitle], " Bond ");
}

TEST(MatchRule, EveryCodeOnce) {
  const RuleMatch match = Apply(R"(E:\Rock\1987\Artist\Album\05 Title [note] x.mp3)",
                                R"($G\$Y\$A\$B\$K $T [$C] $I.mp3)");
  ASSERT_EQ(match.outcome, RuleMatch::kFits);
  EXPECT_EQ(Values(match), "Artist|Album|Title|05|Rock|1987|note|-");
}

TEST(MatchRule, CodeTwiceTakesTheFirstGroup) {
  const RuleMatch match = Apply(R"(C:\One - Two.mp3)", "$A - $A.mp3");
  ASSERT_EQ(match.outcome, RuleMatch::kFits);
  EXPECT_EQ(*match.values[kArtist], "One");
}

TEST(MatchRule, OwnGroupBeforeTheCodeGivesTheValue) {
  // The slash piece's group comes first in the title's field pattern, and it is the only group of
  // the other rows' patterns: every row with a key takes its text.
  const RuleMatch match = Apply(R"(C:\x-42 Song.mp3)", "/(x|y)/-$K $T.mp3");
  ASSERT_EQ(match.outcome, RuleMatch::kFits);
  EXPECT_EQ(Values(match), "x|x|x|x|x|x|x|-");
}

TEST(MatchRule, GroupThatTookNoPartGivesEmptyText) {
  // The optional group is the only group of the patterns of the absent codes.
  const RuleMatch match = Apply(R"(C:\Song.mp3)", "$T/(x)?/.mp3");
  ASSERT_EQ(match.outcome, RuleMatch::kFits);
  EXPECT_EQ(Values(match), "||Song|||||-");
}

TEST(MatchRule, EmptyArgumentGivesEmptyValue) {
  const RuleMatch match = Apply(R"(C:\x Song.mp3)", "$A()x $T.mp3");
  ASSERT_EQ(match.outcome, RuleMatch::kFits);
  EXPECT_EQ(Values(match), "|-|Song|-|-|-|-|-");
}

TEST(MatchRule, ParenthesisAfterBlankIsLiteral) {
  const RuleMatch match = Apply(R"(C:\Song (live).mp3)", "$T (live).mp3");
  ASSERT_EQ(match.outcome, RuleMatch::kFits);
  EXPECT_EQ(*match.values[kTitle], "Song");
}

TEST(MatchRule, DoubledDollarFitsNothingTrailingDollarIsHarmless) {
  EXPECT_EQ(Apply(R"(C:\A - B.mp3)", "$$A - $T.mp3").outcome, RuleMatch::kNoFit);
  EXPECT_EQ(Apply(R"(C:\A - B.mp3)", "$A - $T.mp3$").outcome, RuleMatch::kFits);
}

TEST(MatchRule, MatchingIsCaseSensitive) {
  EXPECT_EQ(Apply(R"(C:\A - B.MP3)", "$A - $T.mp3").outcome, RuleMatch::kNoFit);
}

TEST(MatchRule, GreedyArgumentsThatStillWork) {
  const RuleMatch match = Apply(R"(C:\01 Song.mp3)", R"($K(\d+) $T(.+))");
  ASSERT_EQ(match.outcome, RuleMatch::kFits);
  EXPECT_EQ(*match.values[kTrack], "01");
  EXPECT_EQ(*match.values[kTitle], "Song.mp3");
}

TEST(MatchRuleErrors, CheckPatternThatDoesNotCompile) {
  const std::string tmpl = R"($T(.+) - $K(\d+))";
  std::string libraryText;
  try {
    boost::regex(R"(.+) - \d+(\d+[^\\]*$)", boost::regex::perl);
  } catch (const boost::regex_error& error) {
    libraryText = error.what();
  }
  ASSERT_THAT(libraryText, Not(IsEmpty()));
  // Reported at every call, also when the compiled form is kept.
  for (int i = 0; i < 3; ++i) {
    const RuleMatch match = Apply(R"(C:\Song - 01.mp3)", tmpl);
    EXPECT_EQ(match.outcome, RuleMatch::kError);
    EXPECT_EQ(match.error, libraryText);
    EXPECT_EQ(Values(match), "-|-|-|-|-|-|-|-");
  }
  // Whatever the path.
  EXPECT_EQ(Apply("", tmpl).outcome, RuleMatch::kError);
}

TEST(MatchRuleErrors, FieldPatternThatDoesNotCompileAfterCheckCompiled) {
  // Checked in row order, the artist is stripped first and the title keeps its own argument; the
  // title's field pattern is built with the title first, whose greedy argument then swallows the
  // artist and leaves an escaped parenthesis inside its group: "(x\) [^\\]+(y)..." is unbalanced.
  const std::string tmpl = R"($T(x\) $A(y))";
  const RuleMatch fits = Apply(R"(C:\x y.mp3)", tmpl);
  EXPECT_EQ(fits.outcome, RuleMatch::kError);
  EXPECT_THAT(fits.error, Not(IsEmpty()));
  // When the check pattern does not fit, the field patterns are never reached.
  EXPECT_EQ(Apply(R"(C:\other.mp3)", tmpl).outcome, RuleMatch::kNoFit);
}

TEST(MatchRuleErrors, SearchBeyondTheLibraryLimitsIsAnError) {
  // Nested repetition on a long run of a's with no b: the library gives up and throws.
  const std::string path = "C:\\" + std::string(40, 'a') + ".mp3";
  const RuleMatch match = Apply(path, "$T((a+)+b)");
  ASSERT_EQ(match.outcome, RuleMatch::kError);
  std::string libraryText;
  try {
    boost::regex_search(path, boost::regex("(a+)+b[^\\\\]*$"));
  } catch (const std::runtime_error& error) {
    libraryText = error.what();
  }
  EXPECT_EQ(match.error, libraryText);
  EXPECT_THAT(match.error, HasSubstr("complexity"));
}

TEST(MatchRuleErrors, DeepNestingIsAnErrorNotACrash) {
  // Raw groups in a slash piece: nested a few hundred deep they still work; far deeper, the
  // library refuses them instead of running out of stack.
  const std::string fine = "/" + std::string(200, '(') + "x" + std::string(200, ')') + "/.mp3";
  EXPECT_EQ(Apply(R"(C:\x.mp3)", fine).outcome, RuleMatch::kFits);
  const std::string deep = "/" + std::string(5000, '(') + "x" + std::string(5000, ')') + "/.mp3";
  const RuleMatch match = Apply(R"(C:\x.mp3)", deep);
  EXPECT_EQ(match.outcome, RuleMatch::kError);
  EXPECT_THAT(match.error, Not(IsEmpty()));
}

TEST(MatchRuleErrors, PatternTooLongToBuildIsAnError) {
  const RuleMatch match = Apply(R"(C:\x.mp3)", "$A($0$A($T($B($0$K()");
  EXPECT_EQ(match.outcome, RuleMatch::kError);
  EXPECT_THAT(match.error, HasSubstr("longer than 65536"));
  // Only a field pattern is too long here; the check pattern comes first and does not compile.
  EXPECT_EQ(Apply(R"(C:\x.mp3)", "$T($A($0$0$0$K()").outcome, RuleMatch::kError);
}

TEST(MatchRuleCache, ManyTemplatesStayCorrectPastTheBound) {
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 600; ++i) {
      const std::string number = std::to_string(i);
      const RuleMatch match = Apply(R"(C:\)" + number + " Song.mp3", number + " $T.mp3");
      ASSERT_EQ(match.outcome, RuleMatch::kFits);
      ASSERT_EQ(*match.values[kTitle], "Song");
    }
  }
  ClearRuleCache();
  EXPECT_EQ(Apply(R"(C:\A - B.mp3)", "$A - $T.mp3").outcome, RuleMatch::kFits);
}

// Bytes 0x5C inside double-byte characters are separators to the patterns.
TEST(DoubleByte, ValuesDoNotRunAcrossSecondByteBackslash) {
  const std::string folder = "C:\\" + kSo + "\\";
  // The artist cannot reach back over the so: it starts after it.
  RuleMatch match = Apply(folder + kSo + "Artist - Title.mp3", "$A - $T.mp3");
  ASSERT_EQ(match.outcome, RuleMatch::kFits);
  EXPECT_EQ(*match.values[kArtist], "Artist");
  // A template for the whole name fits only the part after the hyou.
  match = Apply(folder + "Artist - " + kHyou + "Title.mp3", "$A - $T.mp3");
  EXPECT_EQ(match.outcome, RuleMatch::kNoFit);
  match = Apply(folder + "Artist " + kHyou + "Title.mp3", "$T.mp3");
  ASSERT_EQ(match.outcome, RuleMatch::kFits);
  EXPECT_EQ(*match.values[kTitle], "Title");
}

TEST(DoubleByte, FolderTemplateSplitsAtSecondByte) {
  // "hyou shi" as album folder: the byte 0x5C of hyou divides it, so the artist is the lone lead
  // byte and the album is the rest.
  const std::string shi = "\x8E\x86";
  const RuleMatch match =
      Apply("C:\\Artist\\" + kHyou + shi + "\\01 Song.mp3", R"($A\$B\$K $T.mp3)");
  ASSERT_EQ(match.outcome, RuleMatch::kFits);
  EXPECT_EQ(*match.values[kArtist], "\x95");
  EXPECT_EQ(*match.values[kAlbum], shi);
  EXPECT_EQ(*match.values[kTrack], "01");
}

TEST(DoubleByte, TemplateTextMatchesItsOwnBytes) {
  const RuleMatch match = Apply("C:\\x\\" + kSo + "ng - Title.mp3", kSo + "ng - $T.mp3");
  ASSERT_EQ(match.outcome, RuleMatch::kFits);
  EXPECT_EQ(*match.values[kTitle], "Title");
  // Other double-byte characters (no 0x5C) are ordinary bytes of a value.
  const std::string kana = "\x82\xA0\x82\xA2";  // hiragana a, i
  EXPECT_EQ(*Apply("C:\\" + kana + " - " + kana + ".mp3", "$A - $T.mp3").values[kTitle], kana);
}

// The character classes come from the library's character traits, chosen per build: the C++
// locale natively and with MinGW (whose Boost configuration turns the Win32 traits off), the
// Win32 locale with other Windows compilers. Whatever the traits, single bytes must be classed
// as in the C locale: only 0 to 9 are digits.
TEST(ByteClasses, OnlyAsciiDigitsAreDigits) {
  for (int byte = 1; byte < 256; ++byte) {
    const std::string path = std::string(R"(C:\x)") + static_cast<char>(byte) + ".mp3";
    const bool digit = byte >= '0' && byte <= '9';
    EXPECT_EQ(Apply(path, "$K.mp3").outcome, digit ? RuleMatch::kFits : RuleMatch::kNoFit)
        << "byte " << byte;
  }
}

TEST(ByteClasses, EveryByteButBackslashCanBeInAValue) {
  for (int byte = 1; byte < 256; ++byte) {
    const std::string path = std::string(R"(C:\x)") + static_cast<char>(byte) + "y.mp3";
    const RuleMatch match = Apply(path, "x$Ty.mp3");
    if (byte == '\\') {
      EXPECT_EQ(match.outcome, RuleMatch::kNoFit);
      continue;
    }
    ASSERT_EQ(match.outcome, RuleMatch::kFits) << "byte " << byte;
    EXPECT_EQ(*match.values[kTitle], std::string(1, static_cast<char>(byte)));
  }
}

}  // namespace
