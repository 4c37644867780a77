// Finding and reading the rules file beside the executable.
#include "rules/RulesFile.h"

#include <windows.h>

#include <optional>

#include "paths/PathText.h"
#include "resources/Texts.h"

namespace {

// The whole file, or as much as could be read before an error; false when it cannot be opened.
bool ReadWholeFile(const std::string& path, std::string& bytes) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
    bytes.append(buffer, read);
  CloseHandle(file);
  return true;
}

// `rule` from code page `from` to the active code page; nothing when the active code page cannot
// hold one of its characters.
std::optional<std::string> ToActiveCodePage(const std::string& rule, UINT from) {
  if (from == GetACP() || rule.empty()) return rule;
  const int length = MultiByteToWideChar(from, 0, rule.data(), int(rule.size()), nullptr, 0);
  if (length <= 0) return std::nullopt;
  std::wstring wide(length, L'\0');
  MultiByteToWideChar(from, 0, rule.data(), int(rule.size()), wide.data(), length);
  if (GetACP() != CP_UTF8) {
    // A stand-in character would make another pattern of it: '?' is a regular expression.
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, nullptr, 0, nullptr,
                        &lossy);
    if (lossy) return std::nullopt;
  }
  return ActiveFromWide(wide);
}

}  // namespace

void LoadRulesFromFolder(const std::string& folder, std::vector<std::string>& rules,
                         std::vector<int>* lines, std::string* fileName) {
  std::string name = "rules.txt";
  // A folder of that name counts too: then opening fails and no rules are loaded.
  if (GetFileAttributesA(JoinPath(folder, name).c_str()) == INVALID_FILE_ATTRIBUTES)
    name = "_rules.txt";
  if (fileName) *fileName = name;
  const std::string path = JoinPath(folder, name);
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) return;
  const UINT from =
      TakeRulesEncoding(bytes) == RulesEncoding::kUtf8 ? CP_UTF8 : SystemLegacyCodePage();
  std::vector<std::string> texts;
  std::vector<int> numbers;
  ParseRules(bytes, texts, &numbers);
  for (size_t index = 0; index < texts.size(); ++index) {
    auto rule = ToActiveCodePage(texts[index], from);
    if (!rule) continue;
    rules.push_back(std::move(*rule));
    if (lines) lines->push_back(numbers[index]);
  }
}

void LoadRules(std::vector<std::string>& rules, std::vector<int>* lines, std::string* fileName) {
  const std::wstring folder = ProgramFolder();
  if (!folder.empty()) LoadRulesFromFolder(ActiveFromWide(folder), rules, lines, fileName);
}
