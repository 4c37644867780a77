#include "rules/RulesFile.h"

#include <boost/regex.hpp>

void ParseRules(const std::string& fileBytes, std::vector<std::string>& rules) {
  static const boost::regex comment(R"(^\s*//)", boost::regex::perl);

  const std::string text = fileBytes.substr(0, fileBytes.find('\x1A'));
  size_t start = 0;
  while (start < text.size()) {
    const size_t lineEnd = text.find('\n', start);
    const bool hasLineEnd = lineEnd != std::string::npos;
    std::string line = text.substr(start, hasLineEnd ? lineEnd - start : std::string::npos);
    start = hasLineEnd ? lineEnd + 1 : text.size();

    if (hasLineEnd && !line.empty() && line.back() == '\r') line.pop_back();
    line.resize(line.find('\0') == std::string::npos ? line.size() : line.find('\0'));
    if (line.empty() || boost::regex_search(line, comment)) continue;
    // Lines longer than a 260-byte buffer holds are kept whole rather than cut or dropped.
    rules.push_back(line);
  }
}
