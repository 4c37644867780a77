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

enum Row { kArtist, kAlbum, kTitle, kTrack, kGenre, kYear, kComment, kSkip };

// Both ways of applying must agree on everything; each test sees the cached result.
RuleMatch Apply(const std::string& path, const std::string& templateText,
                const LeadBytes& leadBytes = LeadBytes()) {
  const RuleMatch uncached = MatchRuleUncached(path, templateText, leadBytes);
  const RuleMatch cached = MatchRule(path, templateText, leadBytes);
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

// Groups that a template's slash pieces and arguments open are the user's regular expressions:
// they never give a value, nor move the group a code takes its value from, and a code the
// template lacks gets no value at all.
TEST(MatchRule, ValuesComeOnlyFromCodes) {
  const struct {
    const char* path;
    const char* templateText;
    const char* values;
  } cases[] = {
      {R"(C:\x-42 Song.mp3)", "/(x|y)/-$K $T.mp3", "-|-|Song|42|-|-|-|-"},
      {R"(C:\Song.mp3)", "$T/(x)?/.mp3", "-|-|Song|-|-|-|-|-"},
      {R"(C:\Artist\01 Song.flac)", R"($A\$K $T/\.(flac|m4a|opus)/)", "Artist|-|Song|01|-|-|-|-"},
      {R"(C:\Artist\01 Song.flac)", R"($A\$K $T/\.(?i:flac|m4a)$/)", "Artist|-|Song|01|-|-|-|-"},
      // A group in an argument, before the code and inside the code's own argument.
      {R"(C:\a1 - Song.mp3)", "$I((a|b)1) - $T.mp3", "-|-|Song|-|-|-|-|-"},
      {R"(C:\003 Song.mp3)", R"($K((0*)([1-9]\d*)) $T.mp3)", "-|-|Song|003|-|-|-|-"},
      // A backreference in a slash piece still counts the template's groups as before.
      {R"(C:\aa Song.mp3)", R"(/(a)\1/ $T.mp3)", "-|-|Song|-|-|-|-|-"},
      {R"(C:\One - Two.mp3)", "$A - $A.mp3", "One|-|-|-|-|-|-|-"},
      {R"(C:\x Song.mp3)", "$A()x $T.mp3", "|-|Song|-|-|-|-|-"},
  };
  for (const auto& test : cases) {
    for (const LeadBytes& leadBytes : {LeadBytes(), LeadBytes::CodePage932()}) {
      const RuleMatch match = Apply(test.path, test.templateText, leadBytes);
      EXPECT_EQ(match.outcome, RuleMatch::kFits) << test.templateText;
      EXPECT_EQ(Values(match), test.values) << test.templateText;
    }
  }
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
  EXPECT_EQ(match.error, "テンプレートから作るパターンが 65536 文字を超えます。");
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

// Code page 932 and one whose lead bytes run from 0x81 to 0xFE (936, 949 and 950 alike).
const LeadBytes kCp932 = LeadBytes::CodePage932();
const LeadBytes kWide = LeadBytes({{0x81, 0xFE}});
const LeadBytes kNoLeadBytes;

// CP932 texts. ソ, 表 and 十 end in 0x5C; 東京 and ぁ end in a byte that is also a lead byte.
const std::string kSoro = "\x83\x5C\x83\x8D";                         // ソロ
const std::string kHyouji = "\x95\x5C\x8E\xA6";                       // 表示
const std::string kSanjuuNoUta = "\x8E\x4F\x8F\x5C\x82\xCC\x89\xCC";  // 三十の歌
const std::string kAniso = "\x83\x41\x83\x6A\x83\x5C";                // アニソ
const std::string kToukyou = "\x93\x8C\x8B\x9E";                      // 東京
const std::string kSmallA = "\x82\x9F";                               // ぁ

struct DoubleByteCase {
  const char* what;
  const LeadBytes* leadBytes;
  std::string path;
  std::string templateText;
  RuleMatch::Outcome outcome;
  std::string values;  // as Values() gives them
};

TEST(DoubleByte, ACharacterIsNeverCutByTheDefaultPatterns) {
  const DoubleByteCase cases[] = {
      {"artist ends in a 0x5C second byte", &kCp932, "C:\\Music\\" + kSoro + " - Title.mp3",
       "$A - $T.mp3", RuleMatch::kFits, kSoro + "|-|Title|-|-|-|-|-"},
      {"folder holds a 0x5C second byte", &kCp932, "C:\\Music\\" + kHyouji + "\\Album\\01 Song.mp3",
       R"($A\$B\$K $T.mp3)", RuleMatch::kFits, kHyouji + "|Album|Song|01|-|-|-|-"},
      {"the tail takes a name with a 0x5C second byte", &kCp932,
       "C:\\Artist\\Album\\07 " + kSanjuuNoUta + ".mp3", R"($A\$B\$K $T.mp3)", RuleMatch::kFits,
       "Artist|Album|" + kSanjuuNoUta + "|07|-|-|-|-"},
      {"a template that ends with a code runs to the end", &kCp932,
       "C:\\x\\A - " + kHyouji + ".mp3", "$A - $T", RuleMatch::kFits,
       "A|-|" + kHyouji + ".mp3|-|-|-|-|-"},
      {"a file-name template below a folder ending in so", &kCp932,
       "C:\\" + kAniso + "\\Artist - Title.mp3", "$A - $T.mp3", RuleMatch::kFits,
       "Artist|-|Title|-|-|-|-|-"},
      {"a folder template over a folder ending in so", &kCp932,
       "C:\\" + kAniso + "\\Artist - Title.mp3", R"($B\$A - $T.mp3)", RuleMatch::kFits,
       "Artist|" + kAniso + "|Title|-|-|-|-|-"},
      // Searched from its second byte, 0x9E would pair with the separator after it.
      {"a folder ending in a lead-valued second byte", &kCp932,
       "C:\\" + kToukyou + "\\Artist - Title.mp3", "$A - $T.mp3", RuleMatch::kFits,
       "Artist|-|Title|-|-|-|-|-"},
      // From its second byte, ぁ would pair with the lead byte of ソ and leave its 0x5C alone.
      {"no match starts at a second byte", &kCp932, kSmallA + "\x83\x5C" + "01 Song.mp3",
       R"($A\$K $T.mp3)", RuleMatch::kNoFit, "-|-|-|-|-|-|-|-"},
      // The user's own regular expressions stay byte-wise: this argument stops at the 0x5C of ソ.
      {"an argument is the user's, byte for byte", &kCp932, "C:\\x\\" + kSoro + " - T.mp3",
       R"($A([^\\]+) - $T.mp3)", RuleMatch::kFits, "\x83\x8D|-|T|-|-|-|-|-"},
      {"literal text matches its own bytes", &kCp932, "C:\\x\\" + kSoro + " - Title.mp3",
       kSoro + " - $T.mp3", RuleMatch::kFits, "-|-|Title|-|-|-|-|-"},
      {"other double-byte code pages", &kWide, "C:\\x\\\xC4\x5C - T.mp3", "$A - $T.mp3",
       RuleMatch::kFits, "\xC4\x5C|-|T|-|-|-|-|-"},
      // Without lead bytes (single-byte code pages, UTF-8) every byte 0x5C is a separator.
      {"bytes: the artist after the 0x5C", &kNoLeadBytes, "C:\\Music\\" + kSoro + " - Title.mp3",
       "$A - $T.mp3", RuleMatch::kFits, "\x83\x8D|-|Title|-|-|-|-|-"},
      {"bytes: the folder cut at its 0x5C", &kNoLeadBytes,
       "C:\\Music\\" + kHyouji + "\\01 Song.mp3", R"($A\$B\$K $T.mp3)", RuleMatch::kFits,
       "\x95|\x8E\xA6|Song|01|-|-|-|-"},
      {"bytes: no fit across the 0x5C", &kNoLeadBytes,
       "C:\\Artist\\Album\\07 " + kSanjuuNoUta + ".mp3", R"($A\$B\$K $T.mp3)", RuleMatch::kNoFit,
       "-|-|-|-|-|-|-|-"},
  };
  for (const DoubleByteCase& test : cases) {
    SCOPED_TRACE(test.what);
    const RuleMatch match = Apply(test.path, test.templateText, *test.leadBytes);
    EXPECT_EQ(match.outcome, test.outcome);
    EXPECT_EQ(Values(match), test.values);
  }
}

TEST(DoubleByte, NamesWithoutLeadBytesGiveTheByteWiseResults) {
  const std::string templates[] = {"$A - $T.mp3",
                                   "$A - $T",
                                   R"($A\$B\$K $T.mp3)",
                                   "$K - $T.mp3",
                                   "$I$K $T.mp3",
                                   "$I - $T.mp3",
                                   R"($G\$Y\$A\$B\$K $T [$C] $I.mp3)",
                                   "$T (live).mp3",
                                   R"($K(\d+) $T.mp3)",
                                   "$A()x $T.mp3",
                                   "/(x|y)/-$K $T.mp3",
                                   "",
                                   "$T/(x)?/.mp3",
                                   "$A - $A.mp3",
                                   "$$A - $T.mp3",
                                   "$A - $T.mp3$"};
  const std::string paths[] = {R"(C:\Music\A - B - C.mp3)",
                               R"(D:\mp3\Artist\Album\03 Song.mp3)",
                               R"(E:\Rock\1987\Artist\Album\05 Title [note] x.mp3)",
                               R"(C:\x-42 Song.mp3)",
                               R"(Track01 - Song.mp3)",
                               R"(C:\Song (live).mp3)",
                               "C:\\\x7F\xA0\xFD\xFF - 12 x.mp3"};
  for (const std::string& templateText : templates) {
    for (const std::string& path : paths) {
      SCOPED_TRACE(templateText + " on " + path);
      const RuleMatch bytes = Apply(path, templateText, kNoLeadBytes);
      const RuleMatch characters = Apply(path, templateText, kCp932);
      EXPECT_EQ(characters.outcome, bytes.outcome);
      EXPECT_EQ(characters.values, bytes.values);
    }
  }
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
