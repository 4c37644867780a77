// The Windows codecs: the system's own conversion for a code page.
#include <windows.h>

#include "mp3infp/TextCodec.h"
#include "paths/PathText.h"

namespace mp3infp {
namespace {

class CodePageCodec : public TextCodec {
 public:
  // `legacy` is the codec of ID3v1 text; null for this codec itself.
  CodePageCodec(UINT codePage, const TextCodec* legacy) : codePage_(codePage), legacy_(legacy) {}

  std::u16string ToUnicode(std::string_view ansi) const override {
    if (ansi.empty()) return {};
    const int length = MultiByteToWideChar(codePage_, 0, ansi.data(), int(ansi.size()), nullptr, 0);
    std::u16string out(length > 0 ? length : 0, u'\0');
    if (length > 0) {
      MultiByteToWideChar(codePage_, 0, ansi.data(), int(ansi.size()),
                          reinterpret_cast<wchar_t*>(out.data()), length);
    }
    return out;
  }

  std::string FromUnicode(std::u16string_view text) const override {
    if (text.empty()) return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    // The system takes no default character for UTF-8, which has one for everything anyway.
    const char* fallback = IsUtf8() ? nullptr : "?";
    const int length =
        WideCharToMultiByte(codePage_, 0, wide, int(text.size()), nullptr, 0, fallback, nullptr);
    std::string out(length > 0 ? length : 0, '\0');
    if (length > 0) {
      WideCharToMultiByte(codePage_, 0, wide, int(text.size()), out.data(), length, fallback,
                          nullptr);
    }
    return out;
  }

  bool IsLeadByte(uint8_t byte) const override {
    return !IsUtf8() && IsDBCSLeadByteEx(codePage_, byte) != FALSE;
  }

  bool IsUtf8() const override {
    return codePage_ == CP_UTF8 || (codePage_ == CP_ACP && GetACP() == CP_UTF8);
  }
  const TextCodec& Legacy() const override { return legacy_ ? *legacy_ : *this; }

 private:
  UINT codePage_;
  const TextCodec* legacy_;
};

}  // namespace

const TextCodec& SystemCodec() {
  // ID3v1 text is read by Japanese players in the system's legacy code page: when the program
  // runs in UTF-8, its text is still written in that one.
  static const CodePageCodec legacy(SystemLegacyCodePage(), nullptr);
  static const CodePageCodec codec(CP_ACP, GetACP() == SystemLegacyCodePage() ? nullptr : &legacy);
  return codec;
}

}  // namespace mp3infp
