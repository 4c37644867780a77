// Conversion between the ANSI code page (the narrow strings of the library's callers) and
// Unicode. Windows converts with the system's own tables (CP_ACP); the native build, which exists
// for tests and fuzzing, uses iconv's CP932, whose table matches Windows'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mp3infp {

class TextCodec {
 public:
  virtual ~TextCodec() = default;
  virtual std::u16string ToUnicode(std::string_view ansi) const = 0;
  // Characters the code page lacks become '?'.
  virtual std::string FromUnicode(std::u16string_view text) const = 0;
  virtual bool IsLeadByte(uint8_t byte) const = 0;
};

// The codec of the platform: CP_ACP on Windows, CP932 elsewhere.
const TextCodec& SystemCodec();

// The length of the longest prefix of `text` of at most `limit` bytes that ends on a character
// boundary: a double-byte character is never cut in half.
size_t PrefixAtCharBoundary(std::string_view text, size_t limit, const TextCodec& codec);

std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);  // invalid sequences become U+FFFD
std::u16string Latin1ToUtf16(std::string_view text);
bool IsAscii(std::string_view text);

}  // namespace mp3infp
