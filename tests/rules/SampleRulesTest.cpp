// The sample rules shipped beside the program: they load, and each one fits the kind of path
// its comment promises, before any later rule does.
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gmock/gmock.h>

#include "rules/RulesFile.h"
#include "templates/MatchRule.h"

namespace {

using ::testing::ElementsAre;

std::vector<std::string> SampleRules() {
  // The tests run in the folder of the built programs, where the build puts the sample.
  std::ifstream in("_rules.txt", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> rules;
  ParseRules(bytes, rules);
  return rules;
}

// The first rule that fits, as intake tries them, and the values it gives.
std::string FirstFit(const std::vector<std::string>& rules, const std::string& path) {
  for (const std::string& rule : rules) {
    const RuleMatch match = MatchRule(path, rule);
    EXPECT_NE(match.outcome, RuleMatch::kError) << rule;
    if (match.outcome != RuleMatch::kFits) continue;
    std::string text = rule + " ->";
    for (int row = 0; row < kCodeCount; ++row) {
      if (match.values[row])
        text += std::string(" ") + CodeTable[row].code + "=" + *match.values[row];
    }
    return text;
  }
  return "none";
}

TEST(SampleRules, LoadInOrder) {
  EXPECT_THAT(SampleRules(),
              ElementsAre("$K - $A - $T.mp3", R"($A\[$Y] $B\$K $T.mp3)",
                          R"($A\$B\Disc $I\$K $T.mp3)", R"($A\$B\$K - $T.mp3)",
                          R"($A\$B\$K $T.mp3)", "$A - $T.mp3", "$K $T.mp3", "$T.mp3"));
}

TEST(SampleRules, EachFitsItsKindOfPath) {
  const auto rules = SampleRules();
  EXPECT_EQ(FirstFit(rules, R"(C:\mp3\01 - Artist - Title.mp3)"),
            "$K - $A - $T.mp3 -> A=Artist T=Title K=01");
  EXPECT_EQ(FirstFit(rules, R"(C:\mp3\Artist\[2004] Album\01 Title.mp3)"),
            R"($A\[$Y] $B\$K $T.mp3 -> A=Artist B=Album T=Title K=01 Y=2004)");
  EXPECT_EQ(FirstFit(rules, R"(C:\mp3\Artist\Album\Disc 2\01 Title.mp3)"),
            R"($A\$B\Disc $I\$K $T.mp3 -> A=Artist B=Album T=Title K=01)");
  EXPECT_EQ(FirstFit(rules, R"(C:\mp3\Artist\Album\01 - Title.mp3)"),
            R"($A\$B\$K - $T.mp3 -> A=Artist B=Album T=Title K=01)");
  EXPECT_EQ(FirstFit(rules, R"(C:\mp3\Artist\Album\01 Title.mp3)"),
            R"($A\$B\$K $T.mp3 -> A=Artist B=Album T=Title K=01)");
  EXPECT_EQ(FirstFit(rules, R"(C:\mp3\Artist - Title.mp3)"), "$A - $T.mp3 -> A=Artist T=Title");
  EXPECT_EQ(FirstFit(rules, R"(C:\01 Title.mp3)"), "$K $T.mp3 -> T=Title K=01");
  EXPECT_EQ(FirstFit(rules, R"(C:\mp3\Title.mp3)"), "$T.mp3 -> T=Title");
  EXPECT_EQ(FirstFit(rules, R"(C:\mp3\Title.MP3)"), "none");
}

}  // namespace
