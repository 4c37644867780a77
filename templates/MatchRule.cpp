#include "templates/MatchRule.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <boost/regex.hpp>

#include "templates/ActiveText.h"
#include "templates/Patterns.h"

namespace {

constexpr int kCheck = -1;

// The texts of failures that the regular-expression library does not describe itself.
constexpr const char16_t* kUnknownBuildError = u"パターンを作る途中で不明なエラーが起きました。";
constexpr const char16_t* kUnknownCompileError =
    u"パターンを解釈する途中で不明なエラーが起きました。";
constexpr const char16_t* kUnknownSearchError =
    u"パターンを照合する途中で不明なエラーが起きました。";
constexpr const char16_t* kUnknownApplyError =
    u"テンプレートを適用する途中で不明なエラーが起きました。";

// One pattern built from a template: compiled, or the reason why not.
struct CompiledPattern {
  bool built = false;
  std::string text;
  std::shared_ptr<const boost::regex> regex;
  std::string error;
};

// The text of the check pattern (kCheck) or of the field pattern of a CodeTable row. Errors are
// kept, not thrown: building fails on a template whose pattern would be too long.
CompiledPattern BuildText(const std::string& templateText, int which, const LeadBytes& leadBytes) {
  CompiledPattern pattern;
  try {
    pattern.text = which == kCheck ? BuildCheckPattern(templateText, leadBytes)
                                   : BuildFieldPattern(templateText, which, leadBytes);
    pattern.built = true;
  } catch (const std::exception& failure) {
    pattern.error = failure.what();
  } catch (...) {
    pattern.error = ActiveText(kUnknownBuildError);
  }
  return pattern;
}

// Boost.Regex throws regex_error for a pattern it cannot compile; the text is kept as the error.
void Compile(CompiledPattern& pattern) {
  if (!pattern.built) return;
  try {
    pattern.regex = std::make_shared<const boost::regex>(pattern.text, boost::regex::perl);
  } catch (const std::exception& failure) {
    pattern.error = failure.what();
  } catch (...) {
    pattern.error = ActiveText(kUnknownCompileError);
  }
}

CompiledPattern Build(const std::string& templateText, int which, const LeadBytes& leadBytes) {
  CompiledPattern pattern = BuildText(templateText, which, leadBytes);
  Compile(pattern);
  return pattern;
}

// What one pattern gave on the path: found or not (and the text of its value group, when it has
// one), or the library's text when it did not compile or the search was given up.
struct SearchResult {
  bool found = false;
  bool failed = false;
  std::string error;
  std::optional<std::string> value;
};

// The leftmost match that starts where a character starts. A search may find its leftmost match
// at a second byte: paired with the byte after it, such a byte could take a real separator as
// part of a character (東 ends in 0x9E, a lead byte in 932) and a value would run across it. The
// search then goes on from the next character; no match starts between.
bool SearchByCharacter(const std::string& path, boost::smatch& match, const boost::regex& regex,
                       const std::vector<bool>& characterStarts) {
  const auto begin = path.begin();
  auto from = begin;
  for (;;) {
    const boost::match_flag_type flags =
        from == begin ? boost::match_default : boost::match_default | boost::match_prev_avail;
    if (!boost::regex_search(from, path.end(), match, regex, flags, begin)) return false;
    size_t start = match[0].first - begin;
    if (characterStarts.empty() || characterStarts[start]) return true;
    while (!characterStarts[start]) ++start;  // the end always starts a character
    from = begin + start;
  }
}

SearchResult Search(const CompiledPattern& pattern, const std::string& path,
                    const std::vector<bool>& characterStarts) {
  SearchResult result;
  if (!pattern.regex) {
    result.failed = true;
    result.error = pattern.error;
    return result;
  }
  try {
    boost::smatch match;
    result.found = SearchByCharacter(path, match, *pattern.regex, characterStarts);
    const char* name = kValueGroup;
    if (result.found && match.named_subexpression_index(name, name + std::strlen(name)) > 0)
      result.value = match[name].str();
  } catch (const std::exception& failure) {
    result.failed = true;
    result.error = failure.what();
  } catch (...) {
    result.failed = true;
    result.error = ActiveText(kUnknownSearchError);
  }
  return result;
}

// Where characters start in `path`; empty when every byte is a character.
std::vector<bool> CharacterStarts(const std::string& path, const LeadBytes& leadBytes) {
  return leadBytes.none() ? std::vector<bool>() : leadBytes.CharacterStarts(path);
}

RuleMatch Error(const std::string& text) {
  RuleMatch match;
  match.outcome = RuleMatch::kError;
  match.error = text;
  return match;
}

// The steps of applying a template, given what each pattern (kCheck or a CodeTable row) gives on
// the path: the check pattern first, then, if it was found, the field pattern of every row.
template <class SearchPattern>
RuleMatch MatchSteps(SearchPattern&& search) {
  const SearchResult fits = search(kCheck);
  if (fits.failed) return Error(fits.error);
  if (!fits.found) return RuleMatch();
  RuleMatch result;
  result.outcome = RuleMatch::kFits;
  for (int row = 0; row < kCodeCount; ++row) {
    const SearchResult field = search(row);
    if (field.failed) return Error(field.error);
    if (field.found && field.value && CodeTable[row].fieldKey) result.values[row] = field.value;
  }
  return result;
}

// Everything a template needs, compiled once: the check pattern and the field pattern of each
// row. A field pattern whose text equals an earlier one (usually the check pattern itself, for
// every code the template lacks) shares its compiled form and, per path, its search result.
struct CompiledTemplate {
  std::vector<CompiledPattern> patterns;  // patterns[0] is the check pattern
  std::array<int, kCodeCount> fieldPattern{};

  LeadBytes leadBytes;
  // The byte-wise patterns, for paths without a lead byte: on those they find what the patterns
  // by character find (Patterns.h), at a sixth of the cost. Only when every pattern by character
  // compiled, so that a template that fails, fails on every path.
  std::unique_ptr<const CompiledTemplate> byteWise;

  CompiledTemplate(const std::string& templateText, const LeadBytes& leadBytes)
      : leadBytes(leadBytes) {
    patterns.push_back(Build(templateText, kCheck, leadBytes));
    for (int row = 0; row < kCodeCount; ++row) {
      CompiledPattern field = BuildText(templateText, row, leadBytes);
      int index = 0;
      while (index < static_cast<int>(patterns.size()) &&
             !(field.built && patterns[index].built && patterns[index].text == field.text)) {
        ++index;
      }
      if (index == static_cast<int>(patterns.size())) {
        Compile(field);
        patterns.push_back(std::move(field));
      }
      fieldPattern[row] = index;
    }
    const bool compiled = std::all_of(patterns.begin(), patterns.end(),
                                      [](const CompiledPattern& pattern) { return pattern.regex; });
    if (!leadBytes.none() && compiled)
      byteWise = std::make_unique<const CompiledTemplate>(templateText, LeadBytes());
  }

  // The check pattern alone; where it is found, a field pattern that did not compile is the
  // error that Match would report.
  RuleMatch Fits(const std::string& path) const {
    if (byteWise && std::none_of(path.begin(), path.end(), [&](char byte) {
          return leadBytes[static_cast<unsigned char>(byte)];
        }))
      return byteWise->Fits(path);
    const SearchResult fits = Search(patterns[0], path, CharacterStarts(path, leadBytes));
    if (fits.failed) return Error(fits.error);
    RuleMatch result;
    if (!fits.found) return result;
    for (int row = 0; row < kCodeCount; ++row) {
      if (!patterns[fieldPattern[row]].regex) return Error(patterns[fieldPattern[row]].error);
    }
    result.outcome = RuleMatch::kFits;
    return result;
  }

  RuleMatch Match(const std::string& path) const {
    if (byteWise && std::none_of(path.begin(), path.end(), [&](char byte) {
          return leadBytes[static_cast<unsigned char>(byte)];
        }))
      return byteWise->Match(path);
    std::vector<std::optional<SearchResult>> searched(patterns.size());
    const std::vector<bool> characterStarts = CharacterStarts(path, leadBytes);
    return MatchSteps([&](int which) {
      const int index = which == kCheck ? 0 : fieldPattern[which];
      if (!searched[index]) searched[index] = Search(patterns[index], path, characterStarts);
      return *searched[index];
    });
  }
};

// Rules files hold a handful of templates and the user types a few more; the bound only keeps a
// long session from growing without end.
constexpr size_t kMaxCachedTemplates = 256;

std::mutex cacheMutex;
std::unordered_map<std::string, std::shared_ptr<const CompiledTemplate>> cache;

std::shared_ptr<const CompiledTemplate> CompiledFor(const std::string& templateText,
                                                    const LeadBytes& leadBytes) {
  // The program has one code page; a test that tries another replaces the entry.
  {
    std::lock_guard<std::mutex> lock(cacheMutex);
    const auto found = cache.find(templateText);
    if (found != cache.end() && found->second->leadBytes == leadBytes) return found->second;
  }
  auto compiled = std::make_shared<const CompiledTemplate>(templateText, leadBytes);
  std::lock_guard<std::mutex> lock(cacheMutex);
  if (cache.size() >= kMaxCachedTemplates) cache.clear();
  cache[templateText] = compiled;
  return compiled;
}

}  // namespace

RuleMatch MatchRule(const std::string& path, const std::string& templateText,
                    const LeadBytes& leadBytes) {
  try {
    return CompiledFor(templateText, leadBytes)->Match(path);
  } catch (const std::exception& failure) {
    return Error(failure.what());
  } catch (...) {
    return Error(ActiveText(kUnknownApplyError));
  }
}

RuleMatch MatchRuleUncached(const std::string& path, const std::string& templateText,
                            const LeadBytes& leadBytes) {
  try {
    const std::vector<bool> characterStarts = CharacterStarts(path, leadBytes);
    return MatchSteps([&](int which) {
      return Search(Build(templateText, which, leadBytes), path, characterStarts);
    });
  } catch (const std::exception& failure) {
    return Error(failure.what());
  } catch (...) {
    return Error(ActiveText(kUnknownApplyError));
  }
}

RuleMatch RuleFits(const std::string& path, const std::string& templateText,
                   const LeadBytes& leadBytes) {
  try {
    return CompiledFor(templateText, leadBytes)->Fits(path);
  } catch (const std::exception& failure) {
    return Error(failure.what());
  } catch (...) {
    return Error(ActiveText(kUnknownApplyError));
  }
}

RuleMatch FindPattern(const std::string& path, const std::string& pattern,
                      const LeadBytes& leadBytes) {
  CompiledPattern compiled;
  compiled.built = true;
  compiled.text = pattern;
  Compile(compiled);
  const SearchResult found = Search(compiled, path, CharacterStarts(path, leadBytes));
  if (found.failed) return Error(found.error);
  RuleMatch result;
  if (found.found) result.outcome = RuleMatch::kFits;
  return result;
}

void ClearRuleCache() {
  std::lock_guard<std::mutex> lock(cacheMutex);
  cache.clear();
}
