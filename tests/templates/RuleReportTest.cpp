// The words for what a rule did to a row: the closest rule and the piece a name lacks, and the
// status texts. Runs natively and under Wine.
#include "templates/RuleReport.h"

#include <gmock/gmock.h>

#include "templates/ActiveText.h"
#include "templates/MatchRule.h"

namespace {

const std::string kAudio = R"(/\.(?i:mp3|flac|m4a|ogg|opus)$/)";

// The pieces as "kind:text" joined by blanks, for compact expectations.
std::string Pieces(const std::string& rule) {
  std::string text;
  for (const RulePiece& piece : SplitRulePieces(rule, LeadBytes::CodePage932()))
    text += (text.empty() ? "" : " ") + std::string(1, "tcsf"[piece.kind]) + ":" + piece.text;
  return text;
}

TEST(RuleReport, PiecesRejoinIntoTheRule) {
  const struct {
    std::string rule, pieces;
  } cases[] = {
      {"$K - $A - $T.mp3", "c:$K t: -  c:$A t: -  c:$T t:.mp3"},
      {R"($A\[$Y] $B\$K $T)" + kAudio,
       R"(c:$A f:\ t:[ c:$Y t:]  c:$B f:\ c:$K t:  c:$T s:)" + kAudio},
      {R"(/0*/$K([1-9]\d*) $T.mp3)", R"(s:/0*/ c:$K([1-9]\d*) t:  c:$T t:.mp3)"},
      {"$a - $T$", "t:$a -  c:$T t:$"},
      {"a/b $T", "t:ab  c:$T"},           // a slash that opens no slash piece is dropped
      {"\x83\x5C$T", "t:\x83\x5C c:$T"},  // ソ ends in the byte of a backslash
  };
  for (const auto& test : cases) EXPECT_EQ(Pieces(test.rule), test.pieces) << test.rule;
}

// On a table of names and rules: which rule comes closest, and what the name lacks.
TEST(RuleReport, ClosestRuleSaysWhatTheNameLacks) {
  const std::vector<std::string> samples = {"$K - $A - $T" + kAudio, R"($A\$B\$K $T)" + kAudio,
                                            "$A - $T" + kAudio};
  const struct {
    std::string path;
    std::vector<std::string> rules;
    int closest;
    std::u16string why;
  } cases[] = {
      {R"(C:\m\01 Song.mp3)", {"$K - $A - $T.mp3"}, 0, u"「$K」の後に「 - 」がありません"},
      {R"(C:\m\Song - Artist.ogg)", {"$K - $A - $T.mp3"}, 0, u"名前に「$K」の数字がありません"},
      {R"(C:\m\01 - A - Song.flac)",
       {"$K - $A - $T.mp3"},
       0,
       u"「$K - $A - $T」の後に「.mp3」がありません"},
      {R"(C:\Song.mp3)",
       {R"($A\$B\$K $T.mp3)"},
       0,
       u"「$A\\$B」の後にフォルダーの区切り「\\」がありません (フォルダーが足りません)"},
      {R"(C:\m\A\B\Song.mp3)",
       {R"($A\$B\$K $T.mp3)"},
       0,
       u"「$A\\$B\\」の後に「$K」の数字がありません"},
      {R"(C:\m\1 Song.mp3)",
       {R"($K(\d\d) $T.mp3)"},
       0,
       u"名前に「$K(\\d\\d)」に合う所がありません"},
      {R"(C:\m\Disc\A - T.mp3)", {R"(Disc $I\$T.mp3)"}, 0, u"名前に「Disc 」がありません"},
      {R"(C:\m\A\01 T.ogg)",
       {R"($A\$B\$K $T.mp3)"},
       0,
       u"「$A\\$B\\$K $T」の後に「.mp3」がありません"},
      // The closest of several: the largest share of pieces, the first of equals.
      {R"(C:\m\cover.jpg)", samples, 1, u"「$A\\$B\\」の後に「$K」の数字がありません"},
      {R"(C:\m\Artist - Title.cue)", samples, 2,
       u"「$A - $T」の後に「" + std::u16string(kAudio.begin(), kAudio.end()) +
           u"」に合う所がありません"},
      {R"(C:\m\01 - A - B.txt)", samples, 1,
       u"「$A\\$B\\$K $T」の後に「" + std::u16string(kAudio.begin(), kAudio.end()) +
           u"」に合う所がありません"},
      // A rule that does not compile is passed over.
      {R"(C:\m\01 x.mp3)", {"$T((.mp3)", "$K - $T.mp3"}, 1, u"「$K」の後に「 - 」がありません"},
      {R"(C:\m\x.mp3)", {"$T((.mp3)"}, -1, u""},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.path);
    for (const std::string& rule : test.rules)
      ASSERT_NE(MatchRule(test.path, rule).outcome, RuleMatch::kFits) << rule;
    const RuleMiss miss = ClosestRule(test.path, test.rules, LeadBytes::CodePage932());
    EXPECT_EQ(miss.rule, test.closest);
    EXPECT_EQ(MissText(miss), ActiveText(test.why));
  }
}

// A rule that fits from the start of a name goes all the way; one that does not stops short,
// so the explanation always names a piece. (The fuzz target checks the second half on any
// template.)
TEST(RuleReport, FittingRulesGoAllTheWayOthersStopShort) {
  const std::string rules[] = {"$K - $A - $T.mp3", R"($A\$B\$K $T)" + kAudio,
                               "$T (live).mp3",    R"($A\[$Y] $B\$K $T.mp3)",
                               "$I-$K $T.mp3",     "$A - $T$"};
  const std::string paths[] = {R"(C:\m\01 - A - T.mp3)", R"(C:\A\B\01 T.flac)",
                               R"(C:\m\T (live).mp3)",   R"(D:\A\[2004] B\05 T.mp3)",
                               R"(C:\2-05 T.mp3)",       R"(C:\x\A - T)",
                               R"(C:\x\cover.jpg)"};
  for (const std::string& rule : rules) {
    for (const std::string& path : paths) {
      const RuleMiss miss = ClosestRule(path, {rule});
      ASSERT_EQ(miss.rule, 0) << rule << " on " << path;
      const bool fits = MatchRule(path, rule).outcome == RuleMatch::kFits;
      EXPECT_EQ(miss.fitting == miss.pieces.size(), fits) << rule << " on " << path;
      EXPECT_EQ(MissText(miss).empty(), fits) << rule << " on " << path;
    }
  }
}

TEST(RuleReport, StatusTexts) {
  const RuleSource line3{RuleSource::kRulesFile, 3};
  RuleMiss miss = ClosestRule(R"(C:\01 Song.mp3)", {"$A - $T.mp3", "$K - $T.mp3"});
  const struct {
    std::string text;
    std::u16string expected;
  } cases[] = {
      {FilledText("$A - $T.mp3", line3, "rules.txt"),
       u"rules.txt の 3 行目のルール「$A - $T.mp3」で埋めました。"},
      {FilledText("$T.mp3", {RuleSource::kRuleBox}, "rules.txt"),
       u"ルール欄のルール「$T.mp3」で埋めました。"},
      {FilledText("$T.mp3", {RuleSource::kRulesFile, 0}, "_rules.txt"),
       u"_rules.txt のルール「$T.mp3」で埋めました。"},
      {MissedText("$K - $T.mp3", {RuleSource::kDialog},
                  ClosestRule(R"(C:\x.mp3)", {"$K - $T.mp3"})),
       u"「ルールを適用」の入力欄のルール「$K - $T.mp3」は合いません: "
       u"名前に「$K」の数字がありません。"},
      {NoStoredFitText({"$A - $T.mp3", "$K - $T.mp3"}, {12, 14}, miss, "rules.txt"),
       u"rules.txt のどのルールにも合いません。いちばん近い 12 行目のルール「$A - $T.mp3」: "
       u"「$A」の後に「 - 」がありません。"},
      {NoStoredFitText({}, {}, RuleMiss(), "_rules.txt"), u"_rules.txt にルールがありません。"},
      {IntakeText(7, 5, "_rules.txt"),
       u"7 個のファイルを追加し、そのうち 5 個を _rules.txt のルールで埋めました。"},
      {IntakeText(0, 0, "rules.txt"), u"追加したファイルはありません。"},
      {FitCountText(8123, 10000, ""), u"選んだ 10000 行のうち 8123 行に合います。"},
      {FitCountText(0, 3, "Unmatched ("), u"ルールの誤り: Unmatched ("},
  };
  for (const auto& test : cases) EXPECT_EQ(test.text, ActiveText(test.expected));
}

// Counting by the check pattern alone gives MatchRule's outcome.
TEST(RuleReport, RuleFitsAgreesWithMatchRule) {
  const std::string rules[] = {
      "$K - $A - $T.mp3", R"($A\$B\$K $T)" + kAudio, "$T((.mp3", R"($T(x\) $A(y))", "", "$a - $T"};
  const std::string paths[] = {R"(C:\m\01 - A - T.mp3)", R"(C:\A\B\01 T.flac)", R"(C:\x y.mp3)",
                               "C:\\\x83\x5C\\01 T.ogg", R"(C:\x\cover.jpg)"};
  for (const std::string& rule : rules) {
    for (const std::string& path : paths) {
      for (const LeadBytes& leadBytes : {LeadBytes(), LeadBytes::CodePage932()}) {
        const RuleMatch fits = RuleFits(path, rule, leadBytes);
        const RuleMatch match = MatchRule(path, rule, leadBytes);
        EXPECT_EQ(fits.outcome, match.outcome) << rule << " on " << path;
        EXPECT_EQ(fits.error, match.error) << rule << " on " << path;
      }
    }
  }
}

}  // namespace
