#include "rules/RulesFile.h"

#include <boost/regex.hpp>

bool IsUtf8(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char lead = static_cast<unsigned char>(bytes[i]);
    size_t length = 1;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;   // overlong
      if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;   // overlong
      if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
    } else {
      return false;
    }
    if (i + length > bytes.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
      if (k == 1 ? next < low || next > high : (next & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

RulesEncoding TakeRulesEncoding(std::string& fileBytes) {
  static constexpr std::string_view kBom = "\xEF\xBB\xBF";
  // What follows Ctrl+Z is never read, so it does not decide either.
  if (!IsUtf8(std::string_view(fileBytes).substr(0, fileBytes.find('\x1A')))) {
    return RulesEncoding::kSystemLegacy;
  }
  if (std::string_view(fileBytes).substr(0, kBom.size()) == kBom) fileBytes.erase(0, kBom.size());
  return RulesEncoding::kUtf8;
}

void ParseRules(const std::string& fileBytes, std::vector<std::string>& rules,
                std::vector<int>* lines) {
  static const boost::regex comment(R"(^\s*//)", boost::regex::perl);

  const std::string text = fileBytes.substr(0, fileBytes.find('\x1A'));
  size_t start = 0;
  for (int number = 1; start < text.size(); ++number) {
    const size_t lineEnd = text.find('\n', start);
    const bool hasLineEnd = lineEnd != std::string::npos;
    std::string line = text.substr(start, hasLineEnd ? lineEnd - start : std::string::npos);
    start = hasLineEnd ? lineEnd + 1 : text.size();

    if (hasLineEnd && !line.empty() && line.back() == '\r') line.pop_back();
    line.resize(line.find('\0') == std::string::npos ? line.size() : line.find('\0'));
    if (line.empty() || boost::regex_search(line, comment)) continue;
    // Lines longer than a 260-byte buffer holds are kept whole rather than cut or dropped.
    rules.push_back(line);
    if (lines) lines->push_back(number);
  }
}
