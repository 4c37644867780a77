// The sample rules shipped beside the program: they load, and each one fits the kind of path
// its comment promises, before any later rule does, in every audio format the tag library
// writes and in no other file of an album folder.
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

// Every sample rule ends with this piece: the extensions of the formats the tag library writes.
const std::string kAudio = R"(/\.(?i:mp3|rmp|wav|flac|ogg|oga|opus|m4a|m4b|mp4)$/)";

TEST(SampleRules, LoadInOrder) {
  EXPECT_THAT(SampleRules(), ElementsAre("$K - $A - $T" + kAudio, R"($A\[$Y] $B\$K $T)" + kAudio,
                                         R"($A\$B\Disc $I\$K $T)" + kAudio,
                                         R"($A\$B\$K - $T)" + kAudio, R"($A\$B\$K $T)" + kAudio,
                                         "$A - $T" + kAudio, "$K $T" + kAudio, "$T" + kAudio));
}

// Each kind of name in an album folder, with every extension found there: the audio files fit
// the rule meant for them, the cover, cue sheet, rip log and notes fit none.
TEST(SampleRules, EachFitsItsKindOfAudioFileAndNothingElse) {
  const struct {
    const char* stem;
    const char* fits;  // the rule without kAudio, and the values
  } kinds[] = {
      {R"(C:\m\01 - Artist - Title)", "$K - $A - $T -> A=Artist T=Title K=01"},
      {R"(C:\m\Artist\[2004] Album\01 Title)",
       R"($A\[$Y] $B\$K $T -> A=Artist B=Album T=Title K=01 Y=2004)"},
      {R"(C:\m\Artist\Album\Disc 2\01 Title)",
       R"($A\$B\Disc $I\$K $T -> A=Artist B=Album T=Title K=01)"},
      {R"(C:\m\Artist\Album\01 - Title)", R"($A\$B\$K - $T -> A=Artist B=Album T=Title K=01)"},
      {R"(C:\m\Artist\Album\01 Title)", R"($A\$B\$K $T -> A=Artist B=Album T=Title K=01)"},
      {R"(C:\m\Artist - Title)", "$A - $T -> A=Artist T=Title"},
      {R"(C:\01 Title)", "$K $T -> T=Title K=01"},
      {R"(C:\m\Title)", "$T -> T=Title"},
  };
  const char* audio[] = {"mp3",  "rmp", "wav", "flac", "ogg", "oga",
                         "opus", "m4a", "m4b", "mp4",  "MP3", "Flac"};
  const char* others[] = {"jpg", "cue", "log", "txt", "m3u", "mp3.txt", "flac.part", "mp3x"};
  const auto rules = SampleRules();
  for (const auto& kind : kinds) {
    std::string fits = kind.fits;
    fits.insert(fits.find(" ->"), kAudio);
    for (const char* extension : audio)
      EXPECT_EQ(FirstFit(rules, kind.stem + std::string(".") + extension), fits) << extension;
    for (const char* extension : others)
      EXPECT_EQ(FirstFit(rules, kind.stem + std::string(".") + extension), "none") << extension;
  }
  for (const char* name : {"cover.jpg", "folder.jpg", "Album.cue", "Album.log", "notes.txt"})
    EXPECT_EQ(FirstFit(rules, std::string(R"(C:\m\Artist\Album\)") + name), "none") << name;
}

}  // namespace
