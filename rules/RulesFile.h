// The rules file: templates kept by hand, one per line, beside the executable.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Appends the rules of a rules file's bytes to `rules`, in file order. The bytes are read the way
// the C runtime's text mode reads them on Windows, done here by hand so that every build agrees:
// CR LF counts as LF (a lone CR stays in its line), the byte 0x1A ends the file, and a line's
// text ends at its first NUL. Empty lines and lines in which "^\s*//" is found are skipped;
// every other line is kept byte for byte, however long it is.
// With `lines`, each rule's line number (from 1) is appended there too.
void ParseRules(const std::string& fileBytes, std::vector<std::string>& rules,
                std::vector<int>* lines = nullptr);

// Whether `bytes` are well-formed UTF-8: no stray or missing continuation byte, no overlong form,
// no surrogate, nothing past U+10FFFF.
bool IsUtf8(std::string_view bytes);

// The code page of a rules file. Files written before the program ran in UTF-8 are in the
// system's legacy code page (932 on Japanese systems), which a text of any length in it almost
// never passes for UTF-8; a file that is valid UTF-8 is read as UTF-8.
enum class RulesEncoding { kUtf8, kSystemLegacy };
// The encoding of `fileBytes`; a UTF-8 byte-order mark, which then says nothing else, is removed.
RulesEncoding TakeRulesEncoding(std::string& fileBytes);

#ifdef _WIN32
// Appends the rules of "rules.txt" beside the executable, or of "_rules.txt" there when no file
// or folder named "rules.txt" exists. A file that cannot be opened gives no rules and no message.
// Its rules are converted to the active code page; a rule with a character that code page cannot
// hold is left out, as it could never fit a path the program sees.
// With `lines`, each rule's line in the file; with `fileName`, the name of the file looked for
// ("rules.txt" or "_rules.txt"), for telling the user where a rule came from.
void LoadRules(std::vector<std::string>& rules, std::vector<int>* lines = nullptr,
               std::string* fileName = nullptr);

// The same lookup in `folder` (with or without a trailing separator).
void LoadRulesFromFolder(const std::string& folder, std::vector<std::string>& rules,
                         std::vector<int>* lines = nullptr, std::string* fileName = nullptr);
#endif
