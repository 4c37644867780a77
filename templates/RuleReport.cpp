#include "templates/RuleReport.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "templates/ActiveText.h"
#include "templates/MatchRule.h"
#include "templates/Patterns.h"

namespace {

std::string T(const char16_t* text) { return ActiveText(text); }

// 「text」, as the program quotes a rule or a part of one.
std::string Quoted(const std::string& text) { return T(u"「") + text + T(u"」"); }

bool IsCodeLetter(char letter) { return letter != '\0' && std::strchr("ABTKGYCI", letter); }

// The end (one past the closing slash) of the slash piece that opens at `start`, or npos when
// no slash closes it: a backslash takes the byte after it along, as the matcher reads pieces.
size_t SlashPieceEnd(const std::string& text, size_t start) {
  for (size_t at = start + 1; at < text.size(); ++at) {
    if (text[at] == '\\')
      ++at;
    else if (text[at] == '/')
      return at + 1;
  }
  return std::string::npos;
}

int Separators(const std::string& path, const LeadBytes& leadBytes) {
  const std::vector<bool> starts =
      leadBytes.none() ? std::vector<bool>() : leadBytes.CharacterStarts(path);
  int count = 0;
  for (size_t at = 0; at < path.size(); ++at)
    count += path[at] == '\\' && (starts.empty() || starts[at]) ? 1 : 0;
  return count;
}

// How many pieces, from the left, the path has (see RuleMiss); npos when a pattern fails. The
// rule is read from the start of a name, so that a start in the extension ("3" of ".mp3" for
// $K) does not count; a rule that fits from the middle of a name is not explained as well. A
// path with fewer folders than the rule lacks the first separator it has no room for; up to
// there, the room asked for after each prefix is what the path has.
size_t FittingPieces(const std::string& path, const std::vector<RulePiece>& pieces,
                     const LeadBytes& leadBytes) {
  std::vector<int> foldersAfter(pieces.size() + 1, 0);
  for (size_t at = pieces.size(); at-- > 0;)
    foldersAfter[at] = foldersAfter[at + 1] + (pieces[at].kind == RulePiece::kFolder ? 1 : 0);
  const int separators = Separators(path, leadBytes);
  const int lacking = std::max(0, foldersAfter[0] - separators);
  size_t limit = pieces.size();
  for (size_t at = 0, seen = 0; lacking > 0 && at < pieces.size(); ++at) {
    if (pieces[at].kind == RulePiece::kFolder && ++seen > static_cast<size_t>(separators)) {
      limit = at;
      break;
    }
  }
  std::string prefix;
  for (size_t count = 0; count < limit; ++count) {
    prefix += pieces[count].text;
    RuleMatch found;
    try {
      const int room = std::max(0, foldersAfter[count + 1] - lacking);
      found = FindPattern(path, BuildPrefixPattern(prefix, room, leadBytes), leadBytes);
    } catch (const std::exception&) {
      return std::string::npos;
    }
    if (found.outcome == RuleMatch::kError) return std::string::npos;
    if (found.outcome == RuleMatch::kNoFit) return count;
  }
  return limit;
}

// Where the missing piece should have been: after the part of the rule that the name has.
std::string Before(const RuleMiss& miss) {
  std::string prefix;
  for (size_t at = 0; at < miss.fitting; ++at) prefix += miss.pieces[at].text;
  return prefix.empty() ? T(u"名前に") : Quoted(prefix) + T(u"の後に");
}

}  // namespace

std::vector<RulePiece> SplitRulePieces(const std::string& text, const LeadBytes& leadBytes) {
  std::vector<RulePiece> pieces;
  std::string literal;
  const auto add = [&](RulePiece::Kind kind, std::string pieceText) {
    if (!literal.empty()) pieces.push_back({RulePiece::kText, literal});
    literal.clear();
    pieces.push_back({kind, std::move(pieceText)});
  };
  for (size_t at = 0; at < text.size();) {
    const char byte = text[at];
    if (leadBytes[static_cast<unsigned char>(byte)] && at + 1 < text.size()) {
      literal += text.substr(at, 2);
      at += 2;
    } else if (byte == '$' && at + 1 < text.size() && IsCodeLetter(text[at + 1])) {
      // An argument runs to the last closing parenthesis of the template, as the matcher reads it.
      size_t end = at + 2;
      const size_t close = text.rfind(')');
      if (end < text.size() && text[end] == '(' && close != std::string::npos && close > end)
        end = close + 1;
      add(RulePiece::kCode, text.substr(at, end - at));
      at = end;
    } else if (byte == '/') {
      const size_t end = SlashPieceEnd(text, at);
      if (end != std::string::npos) add(RulePiece::kSlashPiece, text.substr(at, end - at));
      at = end == std::string::npos ? at + 1 : end;
    } else if (byte == '\\') {
      add(RulePiece::kFolder, "\\");
      ++at;
    } else {
      literal += byte;
      ++at;
    }
  }
  if (!literal.empty()) pieces.push_back({RulePiece::kText, literal});
  return pieces;
}

RuleMiss ClosestRule(const std::string& path, const std::vector<std::string>& rules,
                     const LeadBytes& leadBytes) {
  RuleMiss closest;
  for (size_t index = 0; index < rules.size(); ++index) {
    // A rule whose pieces compile one by one but not together (a greedy argument swallowing the
    // next code's) has its own error box; it explains nothing about the name.
    if (RuleFits(path, rules[index], leadBytes).outcome == RuleMatch::kError) continue;
    std::vector<RulePiece> pieces = SplitRulePieces(rules[index], leadBytes);
    const size_t fitting = FittingPieces(path, pieces, leadBytes);
    if (fitting == std::string::npos) continue;
    // The larger share of its pieces; codes fit almost anything, so a rule of many codes and
    // folders must not win by their number alone.
    if (closest.rule < 0 || fitting * closest.pieces.size() > closest.fitting * pieces.size()) {
      closest.rule = static_cast<int>(index);
      closest.pieces = std::move(pieces);
      closest.fitting = fitting;
    }
  }
  return closest;
}

std::string MissText(const RuleMiss& miss) {
  if (miss.fitting >= miss.pieces.size()) return std::string();
  const RulePiece& piece = miss.pieces[miss.fitting];
  switch (piece.kind) {
    case RulePiece::kText:
      return Before(miss) + Quoted(piece.text) + T(u"がありません");
    case RulePiece::kFolder:
      return Before(miss) + T(u"フォルダーの区切り「\\」がありません (フォルダーが足りません)");
    case RulePiece::kCode:
      if (piece.text.size() == 2 && (piece.text[1] == 'K' || piece.text[1] == 'Y'))
        return Before(miss) + Quoted(piece.text) + T(u"の数字がありません");
      if (piece.text.size() == 2)
        return Before(miss) + Quoted(piece.text) + T(u"に入る文字がありません");
      [[fallthrough]];
    case RulePiece::kSlashPiece:
      break;
  }
  return Before(miss) + Quoted(piece.text) + T(u"に合う所がありません");
}

std::string SourceText(const RuleSource& source, const std::string& rulesFileName) {
  switch (source.kind) {
    case RuleSource::kRulesFile:
      return source.line > 0
                 ? rulesFileName + T(u" の ") + std::to_string(source.line) + T(u" 行目")
                 : rulesFileName + T(u" ");
    case RuleSource::kRuleBox:
      return T(u"ルール欄");
    case RuleSource::kDialog:
      return T(u"「ルールを適用」の入力欄");
    case RuleSource::kNone:
      break;
  }
  return std::string();
}

std::string FilledText(const std::string& rule, const RuleSource& source,
                       const std::string& rulesFileName) {
  return SourceText(source, rulesFileName) + T(u"のルール") + Quoted(rule) + T(u"で埋めました。");
}

std::string MissedText(const std::string& rule, const RuleSource& source, const RuleMiss& miss) {
  std::string text =
      SourceText(source, std::string()) + T(u"のルール") + Quoted(rule) + T(u"は合いません");
  const std::string why = MissText(miss);
  return text + (why.empty() ? T(u"。") : T(u": ") + why + T(u"。"));
}

std::string NoStoredFitText(const std::vector<std::string>& rules, const std::vector<int>& lines,
                            const RuleMiss& closest, const std::string& rulesFileName) {
  if (rules.empty()) return rulesFileName + T(u" にルールがありません。");
  std::string text = rulesFileName + T(u" のどのルールにも合いません。");
  if (closest.rule < 0 || static_cast<size_t>(closest.rule) >= rules.size()) return text;
  RuleSource source{RuleSource::kRulesFile};
  if (static_cast<size_t>(closest.rule) < lines.size()) source.line = lines[closest.rule];
  const std::string where =
      source.line > 0 ? T(u" ") + std::to_string(source.line) + T(u" 行目のルール") : T(u"ルール");
  text += T(u"いちばん近い") + where + Quoted(rules[closest.rule]);
  const std::string why = MissText(closest);
  return text + (why.empty() ? T(u"。") : T(u": ") + why + T(u"。"));
}

std::string IntakeText(int added, int filled, const std::string& rulesFileName) {
  if (added == 0) return T(u"追加したファイルはありません。");
  return std::to_string(added) + T(u" 個のファイルを追加し、そのうち ") + std::to_string(filled) +
         T(u" 個を ") + rulesFileName + T(u" のルールで埋めました。");
}

std::string FitCountText(int fits, int selected, const std::string& error) {
  if (!error.empty()) return T(u"ルールの誤り: ") + error;
  return T(u"選んだ ") + std::to_string(selected) + T(u" 行のうち ") + std::to_string(fits) +
         T(u" 行に合います。");
}

FitCount CountFits(const std::vector<std::string>& paths, const std::string& templateText,
                   const LeadBytes& leadBytes) {
  FitCount count;
  for (const std::string& path : paths) {
    const RuleMatch fits = RuleFits(path, templateText, leadBytes);
    if (fits.outcome == RuleMatch::kError) {
      count.error = fits.error;
      break;
    }
    if (fits.outcome == RuleMatch::kFits) ++count.fits;
  }
  return count;
}
