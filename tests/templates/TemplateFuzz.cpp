// Fuzz target over template text and path. The input is the template, a NUL byte and the path;
// without a NUL the whole input is the template, applied to a fixed path.
//
// Nothing may throw out of the matching core, nor out of the pattern builders except their refusal
// of a too long pattern (an escaping exception ends the run), and the cached core must give
// exactly what rebuilding every pattern gives, byte by byte and by character.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "templates/MatchRule.h"
#include "templates/Patterns.h"
#include "templates/RuleReport.h"

namespace {
// Paths hold at most 259 bytes and rules are single lines; longer inputs only slow the search.
constexpr size_t kMaxInput = 600;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t nul = input.find('\0');
  const std::string templateText = input.substr(0, nul);
  const std::string path = nul == std::string::npos
                               ? std::string("C:\\Music\\Artist\\Album\\01 Artist - Title.mp3")
                               : input.substr(nul + 1);

  // The builders may refuse a pattern that would be too long, and in no other way.
  try {
    BuildCheckPattern(templateText);
  } catch (const std::length_error&) {
  }
  for (int row = 0; row < kCodeCount; ++row) {
    try {
      BuildFieldPattern(templateText, row);
    } catch (const std::length_error&) {
    }
  }

  const RuleMatch cached = MatchRule(path, templateText);
  const RuleMatch uncached = MatchRuleUncached(path, templateText);
  if (cached.outcome != uncached.outcome || cached.error != uncached.error ||
      cached.values != uncached.values) {
    std::abort();
  }
  if (cached.outcome == RuleMatch::kError && cached.error.empty()) std::abort();
  if (cached.outcome != RuleMatch::kFits) {
    for (const auto& value : cached.values) {
      if (value) std::abort();
    }
  }
  if (cached.values[kCodeCount - 1]) std::abort();  // $I never yields a value

  // Taken by character, as in code page 932: the same agreement, and the same bounds.
  const LeadBytes cp932 = LeadBytes::CodePage932();
  const RuleMatch cachedCp932 = MatchRule(path, templateText, cp932);
  const RuleMatch uncachedCp932 = MatchRuleUncached(path, templateText, cp932);
  if (cachedCp932.outcome != uncachedCp932.outcome || cachedCp932.error != uncachedCp932.error ||
      cachedCp932.values != uncachedCp932.values) {
    std::abort();
  }
  if (cachedCp932.outcome == RuleMatch::kError && cachedCp932.error.empty()) std::abort();

  // The explanation of a rule that does not fit: never thrown out, and a rule that the path has
  // to its last piece is one that fits. Counting by the check pattern alone agrees.
  const RuleMiss miss = ClosestRule(path, {templateText}, cp932);
  if (miss.rule == 0 && miss.fitting == miss.pieces.size() &&
      cachedCp932.outcome != RuleMatch::kFits)
    std::abort();
  if (RuleFits(path, templateText, cp932).outcome != cachedCp932.outcome &&
      cachedCp932.outcome != RuleMatch::kError)
    std::abort();
  return 0;
}
