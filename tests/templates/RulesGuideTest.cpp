// The worked examples of the user's guide to rules (docs/rules.md), run through the matcher, so
// that the guide says what the program does. Each example is a fenced block of the kind
// "rule-example" in the guide:
//
//   rule  <template>          one or more, tried in this order as the rules file's rules are
//   path  <path of a file>
//   fits  <template> | none   which rule fits first; may be left out when the only rule fits
//   $X    <value>             every code that gets a value, with that value; no other code may
//
// The guide is UTF-8; the program's texts are in code page 932, so the examples are converted
// before they are matched. Runs natively and under Wine.
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

#include "templates/MatchRule.h"

namespace {

std::string ReadGuide() {
  std::ifstream in(TAGWHIRL_GUIDE, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// UTF-8 to code page 932; empty when the text has a character that the code page lacks.
std::string ToCp932(const std::string& utf8) {
  if (utf8.empty()) return utf8;
#ifdef _WIN32
  const int wide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                       static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring text(wide, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), wide);
  BOOL lost = FALSE;
  const int bytes = WideCharToMultiByte(932, 0, text.data(), wide, nullptr, 0, nullptr, &lost);
  std::string out(bytes, '\0');
  WideCharToMultiByte(932, 0, text.data(), wide, out.data(), bytes, nullptr, &lost);
  return wide == 0 || lost ? std::string() : out;
#else
  iconv_t codec = iconv_open("CP932", "UTF-8");
  std::string out(utf8.size() * 2, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* to = out.data();
  size_t outLeft = out.size();
  const size_t done = iconv(codec, &in, &inLeft, &to, &outLeft);
  iconv_close(codec);
  if (done == static_cast<size_t>(-1)) return std::string();
  out.resize(out.size() - outLeft);
  return out;
#endif
}

struct Example {
  int line = 0;  // where the block starts in the guide, for the failure messages
  std::vector<std::string> rules;
  std::string path;
  std::string fits;  // empty: the only rule fits
  std::map<char, std::string> values;
  std::vector<std::string> faults;  // lines the block's grammar does not allow
};

// "key   value" -> key and value; the value is everything after the run of blanks.
void SplitLine(const std::string& line, std::string& key, std::string& value) {
  const size_t keyEnd = line.find(' ');
  key = line.substr(0, keyEnd);
  const size_t valueStart =
      keyEnd == std::string::npos ? keyEnd : line.find_first_not_of(' ', keyEnd);
  value = valueStart == std::string::npos ? std::string() : line.substr(valueStart);
}

std::vector<Example> ExamplesOf(const std::string& guide) {
  std::vector<Example> examples;
  std::istringstream lines(guide);
  std::string line;
  Example* open = nullptr;
  for (int number = 1; std::getline(lines, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!open) {
      if (line == "```rule-example") {
        examples.emplace_back();
        open = &examples.back();
        open->line = number;
      }
      continue;
    }
    if (line == "```") {
      open = nullptr;
      continue;
    }
    std::string key, value;
    SplitLine(line, key, value);
    const std::string text = ToCp932(value);
    if (text.empty() && !value.empty()) {
      open->faults.push_back("not in code page 932: " + line);
    } else if (key == "rule") {
      open->rules.push_back(text);
    } else if (key == "path") {
      open->path = text;
    } else if (key == "fits") {
      open->fits = text;
    } else if (key.size() == 2 && key[0] == '$' && !open->values.count(key[1])) {
      open->values[key[1]] = text;
    } else {
      open->faults.push_back("unknown or repeated line: " + line);
    }
  }
  if (open) examples.back().faults.push_back("block not closed");
  return examples;
}

// What the rules give on the path, in the words of an example: the first rule that fits as
// "fits" and its values, or "fits none".
std::string Outcome(const std::vector<std::string>& rules, const std::string& path) {
  for (const std::string& rule : rules) {
    const RuleMatch match = MatchRule(path, rule);
    if (match.outcome == RuleMatch::kError) return "error in " + rule + ": " + match.error;
    if (match.outcome != RuleMatch::kFits) continue;
    std::string text = "fits " + rule;
    for (int row = 0; row < kCodeCount; ++row) {
      if (match.values[row])
        text += std::string("\n$") + CodeTable[row].code + " " + *match.values[row];
    }
    return text;
  }
  return "fits none";
}

// The same words from what the example promises.
std::string Promise(const Example& example) {
  if (example.fits == "none") return "fits none";
  std::string text = "fits " + (example.fits.empty() && example.rules.size() == 1 ? example.rules[0]
                                                                                  : example.fits);
  for (int row = 0; row < kCodeCount; ++row) {
    const auto value = example.values.find(CodeTable[row].code);
    if (value != example.values.end())
      text += std::string("\n$") + CodeTable[row].code + " " + value->second;
  }
  return text;
}

TEST(RulesGuide, EveryExampleGivesTheValuesItShows) {
  const std::string guide = ReadGuide();
  ASSERT_FALSE(guide.empty()) << "cannot read " << TAGWHIRL_GUIDE;
  const std::vector<Example> examples = ExamplesOf(guide);
  // A dozen in each language; fewer means that blocks went unseen (a changed fence, say).
  EXPECT_GE(examples.size(), 24u);
  for (const Example& example : examples) {
    SCOPED_TRACE("example at line " + std::to_string(example.line) + " of the guide");
    EXPECT_THAT(example.faults, ::testing::IsEmpty());
    ASSERT_FALSE(example.rules.empty());
    ASSERT_FALSE(example.path.empty());
    EXPECT_TRUE(example.fits.empty() || example.fits == "none" ||
                std::count(example.rules.begin(), example.rules.end(), example.fits) == 1)
        << "fits names no rule of the example: " << example.fits;
    EXPECT_EQ(Outcome(example.rules, example.path), Promise(example));
  }
}

// The reader of the examples itself: a block with a typo must fail, not pass unseen.
TEST(RulesGuide, ReaderCatchesBrokenBlocks) {
  const auto examples = ExamplesOf(
      "text\n```rule-example\nrule  $T.mp3\npath  C:\\a.mp3\n$T    a\n```\n"
      "```rule-example\nrul   $T.mp3\n$T    a\n$T    b\n```\n"
      "```rule-example\nrule  $T.mp3\n");
  ASSERT_EQ(examples.size(), 3u);
  EXPECT_THAT(examples[0].faults, ::testing::IsEmpty());
  EXPECT_EQ(examples[0].rules, std::vector<std::string>{"$T.mp3"});
  EXPECT_EQ(Promise(examples[0]), "fits $T.mp3\n$T a");
  EXPECT_EQ(Outcome(examples[0].rules, examples[0].path), "fits $T.mp3\n$T a");
  EXPECT_EQ(examples[1].faults.size(), 2u);  // the misspelt key and the repeated code
  EXPECT_EQ(examples[2].faults, std::vector<std::string>{"block not closed"});
}

}  // namespace
