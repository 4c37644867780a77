// Which bytes of the ANSI code page start a double-byte character. The patterns read the path
// byte by byte; with this table their default capture texts and their tail take such a character
// (the lead byte and the byte after it) as one unit, so that a second byte of 0x5C (ソ is
// 0x83 0x5C in code page 932) never counts as a folder separator.
//
// Window-free: the program fills it from the system's code page (paths/PathText.h).
#pragma once

#include <bitset>
#include <string>
#include <utility>
#include <vector>

class LeadBytes {
 public:
  // No lead bytes: every byte is a character of its own (single-byte code pages, UTF-8).
  LeadBytes() = default;
  // The bytes of the inclusive ranges, as the system describes a code page.
  explicit LeadBytes(const std::vector<std::pair<unsigned char, unsigned char>>& ranges);

  // The lead bytes of code page 932.
  static LeadBytes CodePage932();

  bool operator[](unsigned char byte) const { return bits_[byte]; }
  bool none() const { return bits_.none(); }
  bool operator==(const LeadBytes& other) const { return bits_ == other.bits_; }

  // The lead bytes as the inside of a regular-expression set: raw bytes and ranges of them
  // ("\x81-\x9F\xE0-\xFC" for 932). Lead bytes are all above 0x7F, so none of them is special
  // in a set or in a replacement format.
  std::string SetText() const;

  // For each offset of `text` and for its end: whether a character starts there, that is, the
  // offset is not that of a second byte. A lead byte at the end, or before a NUL, stands alone.
  std::vector<bool> CharacterStarts(const std::string& text) const;

 private:
  std::bitset<256> bits_;
};
