// Reading tag values out of a path with a template: the window-free core of applying a rule.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "templates/CodeTable.h"
#include "paths/LeadBytes.h"

struct RuleMatch {
  enum Outcome { kFits, kNoFit, kError } outcome = kNoFit;
  // When outcome is kError: the regular-expression library's own text, or one of our own fixed
  // texts (in Japanese, as the program's others): for a template whose pattern would grow past
  // kMaxPatternLength (see Patterns.h), or for a failure that the library does not describe.
  std::string error;
  // Indexed by CodeTable row. Set, when the template fits, for each row with a field key whose
  // code the template holds: the text at the code's first occurrence (empty when that took part
  // in no match). Groups of the template's own regular expressions never give a value. Values
  // are taken as matched: no trimming, no conversion.
  std::array<std::optional<std::string>, kCodeCount> values;
};

// Searches the template's check pattern in the whole path; when it is found, searches each
// row's field pattern and collects the values. Never throws: a pattern that does not compile, a
// search that the library gives up (a pattern too complex for its matching limits) and a pattern
// too long to build give kError, at every call. Compiled patterns are kept per template text,
// which changes nothing that a caller can see.
//
// `leadBytes` are those of the code page of the path and the template (the program passes
// AnsiLeadBytes(), paths/PathText.h): the default patterns then take a double-byte character
// as one unit, and a match starts only where a character starts. Without lead bytes, and for
// paths without them, every byte is a character.
RuleMatch MatchRule(const std::string& path, const std::string& templateText,
                    const LeadBytes& leadBytes = LeadBytes());

// The same result, rebuilding and recompiling every pattern at each call (one pattern at a time,
// and only as far as needed). Kept for the benchmark and as the reference that the fuzz target
// compares MatchRule with.
RuleMatch MatchRuleUncached(const std::string& path, const std::string& templateText,
                            const LeadBytes& leadBytes = LeadBytes());

// Whether the template fits the path, as MatchRule's outcome says, by its check pattern alone
// and with the patterns compiled once per template as MatchRule keeps them: for counting the
// paths a rule fits. No values are set. A field pattern that does not compile is an error here
// too, where the check pattern is found; a field pattern's search, which the library could give
// up, is not tried.
RuleMatch RuleFits(const std::string& path, const std::string& templateText,
                   const LeadBytes& leadBytes = LeadBytes());

// Whether `pattern`, a regular expression built from a template (Patterns.h), is found in the
// path, searched as MatchRule searches: kFits, kNoFit, or kError with the library's text.
RuleMatch FindPattern(const std::string& path, const std::string& pattern,
                      const LeadBytes& leadBytes = LeadBytes());

// Forgets every compiled template (for the benchmark's cold figures).
void ClearRuleCache();
