#include "mp3infp/TextCodec.h"

namespace mp3infp {

size_t PrefixAtCharBoundary(std::string_view text, size_t limit, const TextCodec& codec) {
  if (codec.IsUtf8()) {
    if (limit >= text.size()) return text.size();
    size_t end = limit;
    while (end > 0 && (static_cast<uint8_t>(text[end]) & 0xC0) == 0x80) --end;
    return end;
  }
  size_t end = 0;
  while (end < text.size()) {
    const size_t step =
        codec.IsLeadByte(static_cast<uint8_t>(text[end])) && end + 1 < text.size() ? 2 : 1;
    if (end + step > limit) break;
    end += step;
  }
  return end;
}

std::u16string Utf8Codec::ToUnicode(std::string_view text) const { return Utf8ToUtf16(text); }

std::string Utf8Codec::FromUnicode(std::u16string_view text) const { return Utf16ToUtf8(text); }

std::string Recode(std::string_view text, const TextCodec& from, const TextCodec& to) {
  if (&from == &to) return std::string(text);
  return to.FromUnicode(from.ToUnicode(text));
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | c >> 6);
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | c >> 12);
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | c >> 18);
      out += char(0x80 | ((c >> 12) & 0x3F));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const uint8_t b = static_cast<uint8_t>(text[i]);
    uint32_t c = 0xFFFD;
    size_t length = 1;
    uint32_t minimum = 0;
    if (b < 0x80) {
      c = b;
    } else if ((b & 0xE0) == 0xC0) {
      length = 2, c = b & 0x1F, minimum = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      length = 3, c = b & 0x0F, minimum = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      length = 4, c = b & 0x07, minimum = 0x10000;
    }
    if (length > 1) {
      bool valid = i + length <= text.size();
      for (size_t k = 1; valid && k < length; ++k) {
        const uint8_t next = static_cast<uint8_t>(text[i + k]);
        if ((next & 0xC0) != 0x80) valid = false;
        c = c << 6 | (next & 0x3F);
      }
      if (!valid || c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        c = 0xFFFD;
        length = 1;
      }
    }
    if (c >= 0x10000) {
      out += char16_t(0xD800 + ((c - 0x10000) >> 10));
      out += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += char16_t(c);
    }
    i += length;
  }
  return out;
}

std::u16string Latin1ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char c : text) out += char16_t(static_cast<uint8_t>(c));
  return out;
}

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<uint8_t>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace mp3infp
