#include "templates/Patterns.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <string>
#include <stdexcept>
#include <vector>

#include <boost/regex.hpp>

#include "templates/ActiveText.h"
#include "templates/CodeTable.h"

// Every step below is a Boost.Regex search or replace with the default flags, including the
// Perl-style replacement format: the replacement texts (default capture texts, arguments, group
// texts) are formats, not literal text, and that is what removes one level of backslashes from
// them. Doing the steps by hand instead would have to copy every rule of that format.

namespace {

// The fixed patterns, compiled once. Only texts built from a template are compiled per use.
struct FixedPatterns {
  // A complete slash piece, or the longest run without a slash (which may be empty).
  boost::regex split{R"re((\/(?:[^\/\\]|\\.)*\/|[^\/]*))re", boost::regex::perl};
  boost::regex slashPiece{R"re(\/(.*)\/)re", boost::regex::perl};
  // ASCII punctuation except the dollar sign (codes, anchors) and the apostrophe.
  boost::regex punctuation{R"re(([!-#%-&\(-\/:-@\[-`{-~]))re", boost::regex::perl};
  boost::regex unwrap{R"re(^\\\((.*)\\\)$)re", boost::regex::perl};
  boost::regex escapedPercent{R"re(\\%)re", boost::regex::perl};
  std::array<boost::regex, kCodeCount> findCode;

  FixedPatterns() {
    for (int row = 0; row < kCodeCount; ++row) {
      findCode[row] = boost::regex(CodeTable[row].findPattern, boost::regex::perl);
    }
  }
};

const FixedPatterns& Fixed() {
  static const FixedPatterns patterns;
  return patterns;
}

// An output iterator that appends to a text and refuses to let it grow past kMaxPatternLength.
// Replacement formats copy text ($' the rest of the text, $& and $0 the match, $` what went
// before), so a short template can otherwise multiply its size at every code row.
class BoundedAppender {
 public:
  using iterator_category = std::output_iterator_tag;
  using value_type = void;
  using difference_type = std::ptrdiff_t;
  using pointer = void;
  using reference = void;

  explicit BoundedAppender(std::string& text) : text_(&text) {}
  BoundedAppender& operator=(char c) {
    if (text_->size() >= kMaxPatternLength) {
      throw std::length_error(ActiveText(u"テンプレートから作るパターンが ") +
                              std::to_string(kMaxPatternLength) + ActiveText(u" 文字を超えます。"));
    }
    text_->push_back(c);
    return *this;
  }
  BoundedAppender& operator*() { return *this; }
  BoundedAppender& operator++() { return *this; }
  BoundedAppender operator++(int) { return *this; }

 private:
  std::string* text_;
};

// Replaces every match of `pattern` in `text` by `format`, a Perl-style replacement format.
std::string Replace(const std::string& text, const boost::regex& pattern,
                    const std::string& format) {
  std::string result;
  boost::regex_replace(BoundedAppender(result), text.begin(), text.end(), pattern, format);
  return result;
}

// The same, with the first match replaced by `firstFormat`: one pass, as regex_replace makes it,
// so that no replacement is searched again.
std::string ReplaceFirstApart(const std::string& text, const boost::regex& pattern,
                              const std::string& firstFormat, const std::string& format) {
  std::string result;
  BoundedAppender out(result);
  auto copied = text.begin();
  bool first = true;
  for (boost::sregex_iterator match(text.begin(), text.end(), pattern), end; match != end;
       ++match) {
    std::copy(match->prefix().first, match->prefix().second, out);
    match->format(out, first ? firstFormat : format);
    copied = (*match)[0].second;
    first = false;
  }
  std::copy(copied, text.end(), out);
  return result;
}

constexpr const char* kPunctuationReplacement = R"(\\$1)";
constexpr const char* kPathTail = R"([^\\]*$)";
// Any byte but a backslash: the unit of the path tail, and (with its backslashes doubled, as a
// replacement format) of the default capture texts other than the digits.
constexpr const char* kNonSeparator = R"([^\\])";
constexpr const char* kNonSeparatorFormat = R"([^\\\\])";

// A run of characters other than a backslash, where a character is a lead byte with the byte
// after it (whatever that is: 0x5C there is part of the character) or a byte that is neither a
// lead byte nor a backslash. `repeat` is '*' or '+'. The run is written unrolled, single bytes
// as one set repeated and each double-byte character between such runs: a repeated alternation
// of the two kinds of unit means the same, but the regular-expression engine walks it unit by
// unit with its backtracking state and took 20 times as long on long paths. Each offset can be
// split into units in one way only, so both forms try the same lengths in the same order and
// find the same matches. `backslash` is what stands for a backslash inside a set: two of them in
// a pattern, four in a replacement format. The lead bytes go in raw (see LeadBytes::SetText), so
// that one set text serves the pattern and the format alike.
std::string CharacterRun(const LeadBytes& leadBytes, const std::string& backslash, char repeat) {
  const std::string leads = leadBytes.SetText();
  const std::string single = "[^" + backslash + leads + "]";
  const std::string pair = "[" + leads + "].";
  const std::string run = single + "*(?:" + pair + single + "*)*";
  return repeat == '+' ? "(?:" + single + "|" + pair + ")" + run : run;
}

// `text` with its leading byte-wise run (`byteUnit` followed by '*' or '+') taken by character.
std::string ByCharacter(const std::string& text, const std::string& byteUnit,
                        const LeadBytes& leadBytes, const std::string& backslash) {
  if (leadBytes.none() || text.compare(0, byteUnit.size(), byteUnit) != 0 ||
      text.size() == byteUnit.size())
    return text;
  const char repeat = text[byteUnit.size()];
  if (repeat != '*' && repeat != '+') return text;
  return CharacterRun(leadBytes, backslash, repeat) + text.substr(byteUnit.size() + 1);
}

// The default capture text of a row; the digits are single bytes in every code page.
std::string DefaultCapture(int row, const LeadBytes& leadBytes) {
  return ByCharacter(CodeTable[row].defaultCapture, kNonSeparatorFormat, leadBytes, R"(\\\\)");
}

std::string PathTail(const LeadBytes& leadBytes) {
  return ByCharacter(kPathTail, kNonSeparator, leadBytes, R"(\\)");
}

// The pieces of a template: for each match of the split pattern, its group 1. After an empty
// match the next search starts one character further on, so a slash that opens no complete
// slash piece yields an empty piece and is itself dropped.
std::vector<std::string> SplitTemplate(const std::string& templateText) {
  std::vector<std::string> pieces;
  const std::string::const_iterator end = templateText.end();
  std::string::const_iterator position = templateText.begin();
  boost::smatch match;
  while (boost::regex_search(position, end, match, Fixed().split)) {
    pieces.push_back(match.str(1));
    if (match[0].second == end) break;
    position = match[0].length() == 0 ? match[0].second + 1 : match[0].second;
  }
  return pieces;
}

// Group 1 of the first match of row's find pattern: the argument with its escaped parentheses,
// or empty when the code is absent or has no argument.
std::string FirstArgument(const std::string& text, int row) {
  boost::smatch match;
  if (!boost::regex_search(text, match, Fixed().findCode[row])) return std::string();
  return match.str(1);
}

}  // namespace

std::string EscapeTemplate(const std::string& templateText) {
  std::string result;
  for (const std::string& piece : SplitTemplate(templateText)) {
    boost::smatch match;
    if (boost::regex_match(piece, match, Fixed().slashPiece)) {
      result += match.str(1);
    } else {
      result += Replace(piece, Fixed().punctuation, kPunctuationReplacement);
    }
  }
  return result;
}

std::string StripCodes(const std::string& patternText, const LeadBytes& leadBytes) {
  std::string text = patternText;
  for (int row = 0; row < kCodeCount; ++row) {
    const std::string argument = FirstArgument(text, row);
    const std::string replacement =
        argument.empty() ? DefaultCapture(row, leadBytes) : Replace(argument, Fixed().unwrap, "$1");
    text = Replace(text, Fixed().findCode[row], replacement);
  }
  return text;
}

std::string BuildCheckPattern(const std::string& templateText, const LeadBytes& leadBytes) {
  return StripCodes(EscapeTemplate(templateText) + PathTail(leadBytes), leadBytes);
}

std::string BuildFieldPattern(const std::string& templateText, int row,
                              const LeadBytes& leadBytes) {
  std::string text = EscapeTemplate(templateText) + PathTail(leadBytes);
  const std::string argument = FirstArgument(text, row);
  const std::string inside =
      argument.empty() ? DefaultCapture(row, leadBytes) : Replace(argument, Fixed().unwrap, "$1");
  // As a format, an argument's escaped parentheses become the parentheses of a capture group.
  const std::string group = argument.empty() ? "(" + inside + ")" : argument;
  // The first occurrence is the group named for the value: groups that the template's own
  // regular expressions open before it then neither give the value nor move it.
  const std::string valueGroup = std::string("(?<") + kValueGroup + ">" + inside + ")";
  text = ReplaceFirstApart(text, Fixed().findCode[row], valueGroup, group);
  text = StripCodes(text, leadBytes);
  return Replace(text, Fixed().escapedPercent, "%");
}

std::string BuildPrefixPattern(const std::string& templatePrefix, int foldersAfter,
                               const LeadBytes& leadBytes) {
  const std::string run =
      leadBytes.none() ? std::string(R"([^\\]*)") : CharacterRun(leadBytes, R"(\\)", '*');
  std::string folders;
  for (int folder = 0; folder < foldersAfter; ++folder) folders += "(?:" + run + R"(\\))";
  // Grouped whole: a slash piece may hold an alternation at its top level.
  return R"((?:^|(?<=\\))(?:)" +
         StripCodes(EscapeTemplate(templatePrefix) + folders + PathTail(leadBytes), leadBytes) +
         ")";
}
