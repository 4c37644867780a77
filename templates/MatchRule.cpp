#include "templates/MatchRule.h"

#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <boost/regex.hpp>

#include "templates/Patterns.h"

namespace {

constexpr int kCheck = -1;

// One pattern built from a template: compiled, or the reason why not.
struct CompiledPattern {
  bool built = false;
  std::string text;
  std::shared_ptr<const boost::regex> regex;
  std::string error;
};

// The text of the check pattern (kCheck) or of the field pattern of a CodeTable row. Errors are
// kept, not thrown: building fails on a template whose pattern would be too long.
CompiledPattern BuildText(const std::string& templateText, int which) {
  CompiledPattern pattern;
  try {
    pattern.text =
        which == kCheck ? BuildCheckPattern(templateText) : BuildFieldPattern(templateText, which);
    pattern.built = true;
  } catch (const std::exception& failure) {
    pattern.error = failure.what();
  } catch (...) {
    pattern.error = "unknown error while building the pattern";
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
    pattern.error = "unknown error while compiling the pattern";
  }
}

CompiledPattern Build(const std::string& templateText, int which) {
  CompiledPattern pattern = BuildText(templateText, which);
  Compile(pattern);
  return pattern;
}

// What one pattern gave on the path: found or not (and group 1, when it has groups), or the
// library's text when it did not compile or the search was given up.
struct SearchResult {
  bool found = false;
  bool failed = false;
  std::string error;
  std::optional<std::string> group1;
};

SearchResult Search(const CompiledPattern& pattern, const std::string& path) {
  SearchResult result;
  if (!pattern.regex) {
    result.failed = true;
    result.error = pattern.error;
    return result;
  }
  try {
    boost::smatch match;
    result.found = boost::regex_search(path, match, *pattern.regex);
    if (result.found && match.size() > 1) result.group1 = match.str(1);
  } catch (const std::exception& failure) {
    result.failed = true;
    result.error = failure.what();
  } catch (...) {
    result.failed = true;
    result.error = "unknown error while searching the pattern";
  }
  return result;
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
    if (field.found && field.group1 && CodeTable[row].fieldKey) result.values[row] = field.group1;
  }
  return result;
}

// Everything a template needs, compiled once: the check pattern and the field pattern of each
// row. A field pattern whose text equals an earlier one (usually the check pattern itself, for
// every code the template lacks) shares its compiled form and, per path, its search result.
struct CompiledTemplate {
  std::vector<CompiledPattern> patterns;  // patterns[0] is the check pattern
  std::array<int, kCodeCount> fieldPattern{};

  explicit CompiledTemplate(const std::string& templateText) {
    patterns.push_back(Build(templateText, kCheck));
    for (int row = 0; row < kCodeCount; ++row) {
      CompiledPattern field = BuildText(templateText, row);
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
  }

  RuleMatch Match(const std::string& path) const {
    std::vector<std::optional<SearchResult>> searched(patterns.size());
    return MatchSteps([&](int which) {
      const int index = which == kCheck ? 0 : fieldPattern[which];
      if (!searched[index]) searched[index] = Search(patterns[index], path);
      return *searched[index];
    });
  }
};

// Rules files hold a handful of templates and the user types a few more; the bound only keeps a
// long session from growing without end.
constexpr size_t kMaxCachedTemplates = 256;

std::mutex cacheMutex;
std::unordered_map<std::string, std::shared_ptr<const CompiledTemplate>> cache;

std::shared_ptr<const CompiledTemplate> CompiledFor(const std::string& templateText) {
  {
    std::lock_guard<std::mutex> lock(cacheMutex);
    const auto found = cache.find(templateText);
    if (found != cache.end()) return found->second;
  }
  auto compiled = std::make_shared<const CompiledTemplate>(templateText);
  std::lock_guard<std::mutex> lock(cacheMutex);
  if (cache.size() >= kMaxCachedTemplates) cache.clear();
  cache.emplace(templateText, compiled);
  return compiled;
}

}  // namespace

RuleMatch MatchRule(const std::string& path, const std::string& templateText) {
  try {
    return CompiledFor(templateText)->Match(path);
  } catch (const std::exception& failure) {
    return Error(failure.what());
  } catch (...) {
    return Error("unknown error while applying the template");
  }
}

RuleMatch MatchRuleUncached(const std::string& path, const std::string& templateText) {
  try {
    return MatchSteps([&](int which) { return Search(Build(templateText, which), path); });
  } catch (const std::exception& failure) {
    return Error(failure.what());
  } catch (...) {
    return Error("unknown error while applying the template");
  }
}

void ClearRuleCache() {
  std::lock_guard<std::mutex> lock(cacheMutex);
  cache.clear();
}
