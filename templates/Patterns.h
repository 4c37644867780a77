// Turning a template into regular expressions (Perl syntax, byte by byte).
//
// A template is literal text with codes ($A artist, $B album, $T title, $K track, $G genre,
// $Y year, $C comment, $I text to skip), each optionally followed by an argument in parentheses
// that replaces the code's default pattern, and slash pieces (/.../) whose inside goes into the
// pattern as a raw regular expression. Every pattern ends with a tail that lets the match run on
// to the end of the last path component, so a template is matched against the end of a path.
//
// All four are pure functions. A result may be a pattern that does not compile, which the caller
// reports (see MatchRule). They fail, with std::length_error, only when a text would grow past
// kMaxPatternLength. That takes arguments that copy text through the replacement format ($0, $&,
// $' or $`, each copy formatted again at the next code row): unbounded, the 17-byte template
// `$T($A($0$0$0$K()` builds a field pattern of 240 MB. Ordinary templates give patterns of a few
// hundred bytes.
#pragma once

#include <cstddef>
#include <string>

#include "paths/LeadBytes.h"

constexpr std::size_t kMaxPatternLength = 65536;

// The template with its literal text escaped, its slash pieces inserted raw and its codes (with
// their arguments, escaped too) left in place. `$A - $T.mp3` gives `$A \- $T\.mp3`.
std::string EscapeTemplate(const std::string& templateText);

// `patternText` with every code and its argument replaced by a pattern without a capture group:
// the first occurrence's argument, unwrapped, or the row's default pattern.
// With lead bytes, the default patterns take a double-byte character as one unit.
std::string StripCodes(const std::string& patternText, const LeadBytes& leadBytes = LeadBytes());

// The pattern that tells whether a path fits the template at all.
// `$A - $T.mp3` gives `[^\\]+ \- [^\\]+\.mp3[^\\]*$`. With lead bytes, every default pattern and
// the tail take a lead byte and the byte after it as one unit: `[^\\]` becomes
// `(?:[L].|[^\\L])`, L standing for the set of lead bytes. Without lead bytes, or on paths
// without them, the results are those of the byte-wise patterns.
std::string BuildCheckPattern(const std::string& templateText,
                              const LeadBytes& leadBytes = LeadBytes());

// The name of the capture group that holds a code's value in its field pattern.
constexpr const char* kValueGroup = "tagwhirl";

// The pattern in which every occurrence of the code of CodeTable row `row` is a capture group,
// the first one named kValueGroup; without the code, the check pattern. For row 0,
// `$A - $T.mp3` gives `(?<tagwhirl>[^\\]+) \- [^\\]+\.mp3[^\\]*$`.
std::string BuildFieldPattern(const std::string& templateText, int row,
                              const LeadBytes& leadBytes = LeadBytes());

// The pattern that tells whether a path has the start of a template: `templatePrefix` (the
// template cut where one of its pieces ends), starting where the path or one of its folder or
// file names starts, then anything, as long as `foldersAfter` folder separators are still to
// come, up to the end of the path. Where it is found, the check pattern of the whole template
// (with no folders after) is found too.
std::string BuildPrefixPattern(const std::string& templatePrefix, int foldersAfter,
                               const LeadBytes& leadBytes = LeadBytes());
