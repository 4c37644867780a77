// What a rule did to a row, in words for the status bar: which rule filled it and where that
// rule came from, or why the rules did not fit it. Window-free; the texts are in the code page
// the program runs in (ActiveText.h), as its paths and rules are.
#pragma once

#include <string>
#include <vector>

#include "paths/LeadBytes.h"

// Where a rule applied to a row came from.
struct RuleSource {
  enum Kind { kNone, kRulesFile, kRuleBox, kDialog } kind = kNone;
  int line = 0;  // for kRulesFile, the rule's line in the file from 1; 0 when unknown
};

// A template in the pieces its writer sees: literal text, a code with its argument, a slash
// piece, a folder separator. Joined again they give the template (less any slash that opens no
// slash piece, which the matcher drops too).
struct RulePiece {
  enum Kind { kText, kCode, kSlashPiece, kFolder } kind = kText;
  std::string text;
};
// With lead bytes, a double-byte character stays in its text even when its second byte is a
// backslash.
std::vector<RulePiece> SplitRulePieces(const std::string& templateText,
                                       const LeadBytes& leadBytes = LeadBytes());

// How far a path goes with a rule, read left to right: the number of the rule's leading pieces
// that the path has, where "has" means that the template cut after those pieces is found in
// the path, from the start of a folder or file name, with room for the folders that the rest of
// the rule still has. All of them only when the rule fits. The closest of several rules is the one
// of which the path has the largest share of pieces; the first of those in the rules' order.
struct RuleMiss {
  int rule = -1;  // index in the rules given; -1 when no rule could be judged
  std::vector<RulePiece> pieces;
  size_t fitting = 0;
};
RuleMiss ClosestRule(const std::string& path, const std::vector<std::string>& rules,
                     const LeadBytes& leadBytes = LeadBytes());

// The piece the path lacks, after the part of the rule it has, in words: "「$K」の後に「 - 」が
// ありません" (no " - " after $K), "名前に「$K」の数字がありません" (no digits for $K in the name),
// and the like. Empty when nothing lacks.
std::string MissText(const RuleMiss& miss);

// "rules.txt の 3 行目", "ルール欄" (the rule box), "「ルールを適用」の入力欄" (the dialog).
std::string SourceText(const RuleSource& source, const std::string& rulesFileName);

// One row: filled by `rule` from `source`.
std::string FilledText(const std::string& rule, const RuleSource& source,
                       const std::string& rulesFileName);
// One row: the rule typed in the rule box or the dialog did not fit; `miss` says why.
std::string MissedText(const std::string& rule, const RuleSource& source, const RuleMiss& miss);
// One row that no rule of the rules file fits: why, for the closest one. `lines` are the rules'
// lines in the file (may be empty: no line is named then).
std::string NoStoredFitText(const std::vector<std::string>& rules, const std::vector<int>& lines,
                            const RuleMiss& closest, const std::string& rulesFileName);
// After an intake: how many rows were added and how many the rules file's rules filled.
std::string IntakeText(int added, int filled, const std::string& rulesFileName);
// How many of `paths` the template fits (RuleFits: compiled once, the check pattern alone), or
// the first error it gives.
struct FitCount {
  int fits = 0;
  std::string error;
};
FitCount CountFits(const std::vector<std::string>& paths, const std::string& templateText,
                   const LeadBytes& leadBytes = LeadBytes());

// As a rule is typed: how many of the selected rows it fits, or the error that it gives.
std::string FitCountText(int fits, int selected, const std::string& error);
