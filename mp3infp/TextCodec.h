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
  // UTF-8 has no lead bytes in the sense above: its characters are one to four bytes long.
  virtual bool IsUtf8() const { return false; }
  // The codec of ID3v1 text: the system's legacy code page, which Japanese players read it in,
  // whatever code page the library's callers run in. The codec itself unless the two differ.
  virtual const TextCodec& Legacy() const { return *this; }
};

// The codec of the platform: CP_ACP on Windows (its Legacy() the system's legacy ANSI code page),
// CP932 elsewhere.
const TextCodec& SystemCodec();

// Narrow strings in UTF-8, as a program running in the UTF-8 code page passes them, with
// `legacy` for ID3v1 text.
class Utf8Codec : public TextCodec {
 public:
  explicit Utf8Codec(const TextCodec& legacy) : legacy_(legacy) {}
  std::u16string ToUnicode(std::string_view text) const override;
  std::string FromUnicode(std::u16string_view text) const override;
  bool IsLeadByte(uint8_t) const override { return false; }
  bool IsUtf8() const override { return true; }
  const TextCodec& Legacy() const override { return legacy_; }

 private:
  const TextCodec& legacy_;
};

// `text` of codec `from` in codec `to`; unchanged when they are the same codec.
std::string Recode(std::string_view text, const TextCodec& from, const TextCodec& to);

// The length of the longest prefix of `text` of at most `limit` bytes that ends on a character
// boundary: a double-byte or UTF-8 character is never cut.
size_t PrefixAtCharBoundary(std::string_view text, size_t limit, const TextCodec& codec);

std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);  // invalid sequences become U+FFFD
std::u16string Latin1ToUtf16(std::string_view text);
bool IsAscii(std::string_view text);

}  // namespace mp3infp
