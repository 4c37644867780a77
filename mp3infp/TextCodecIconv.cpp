// The native build's codec: iconv's CP932 (Windows-31J), the table Windows itself uses (for
// example 0x8160 is U+FF5E FULLWIDTH TILDE there, not U+301C as in Shift_JIS).
#include <iconv.h>

#include <cerrno>
#include <mutex>

#include "mp3infp/TextCodec.h"

namespace mp3infp {
namespace {

class IconvCodec : public TextCodec {
 public:
  std::u16string ToUnicode(std::string_view ansi) const override {
    std::u16string out;
    size_t i = 0;
    while (i < ansi.size()) {
      const size_t length =
          IsLeadByte(static_cast<uint8_t>(ansi[i])) && i + 1 < ansi.size() ? 2 : 1;
      char16_t unit[2];
      const size_t produced = Convert(to_, ansi.substr(i, length), unit, sizeof unit);
      if (produced == 0) {
        out += u'\uFFFD';
      } else {
        out.append(unit, produced / 2);
      }
      i += length;
    }
    return out;
  }

  std::string FromUnicode(std::u16string_view text) const override {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
      size_t length = 1;
      if (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size()) length = 2;
      char bytes[8];
      const size_t produced = Convert(
          from_, std::string_view(reinterpret_cast<const char*>(text.data() + i), length * 2),
          bytes, sizeof bytes);
      if (produced == 0) {
        out += '?';
      } else {
        out.append(bytes, produced);
      }
      i += length;
    }
    return out;
  }

  bool IsLeadByte(uint8_t byte) const override {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
  }

 private:
  // One character at a time, so that a character iconv cannot convert costs only itself.
  size_t Convert(iconv_t cd, std::string_view in, void* out, size_t outSize) const {
    std::lock_guard lock(mutex_);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* inPtr = const_cast<char*>(in.data());
    size_t inLeft = in.size();
    char* outPtr = static_cast<char*>(out);
    size_t outLeft = outSize;
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) || inLeft) {
      return 0;
    }
    return outSize - outLeft;
  }

  iconv_t to_ = iconv_open("UTF-16LE", "CP932");
  iconv_t from_ = iconv_open("CP932", "UTF-16LE");
  mutable std::mutex mutex_;
};

}  // namespace

const TextCodec& SystemCodec() {
  static const IconvCodec codec;
  return codec;
}

}  // namespace mp3infp
