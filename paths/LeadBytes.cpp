#include "paths/LeadBytes.h"

LeadBytes::LeadBytes(const std::vector<std::pair<unsigned char, unsigned char>>& ranges) {
  for (const auto& [first, last] : ranges) {
    for (int byte = first; byte <= last; ++byte) bits_.set(byte);
  }
}

LeadBytes LeadBytes::CodePage932() { return LeadBytes({{0x81, 0x9F}, {0xE0, 0xFC}}); }

std::string LeadBytes::SetText() const {
  std::string text;
  for (int byte = 0; byte < 256;) {
    if (!bits_[byte]) {
      ++byte;
      continue;
    }
    int last = byte;
    while (last + 1 < 256 && bits_[last + 1]) ++last;
    text += static_cast<char>(byte);
    if (last > byte) {
      if (last > byte + 1) text += '-';
      text += static_cast<char>(last);
    }
    byte = last + 1;
  }
  return text;
}

std::vector<bool> LeadBytes::CharacterStarts(const std::string& text) const {
  std::vector<bool> starts(text.size() + 1, true);
  for (size_t i = 0; i < text.size(); ++i) {
    if (bits_[static_cast<unsigned char>(text[i])] && i + 1 < text.size() && text[i + 1] != 0) {
      starts[i + 1] = false;
      ++i;
    }
  }
  return starts;
}
