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
  // field pattern matched and has at least one capture group: the text of group 1 (empty when
  // that group took part in no match). Values are taken as matched: no trimming, no conversion.
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

// Forgets every compiled template (for the benchmark's cold figures).
void ClearRuleCache();
