// The Windows codec: the system's own conversion for the ANSI code page.
#include <windows.h>

#include "mp3infp/TextCodec.h"

namespace mp3infp {
namespace {

class AnsiCodePageCodec : public TextCodec {
 public:
  std::u16string ToUnicode(std::string_view ansi) const override {
    if (ansi.empty()) return {};
    const int length = MultiByteToWideChar(CP_ACP, 0, ansi.data(), int(ansi.size()), nullptr, 0);
    std::u16string out(length > 0 ? length : 0, u'\0');
    if (length > 0) {
      MultiByteToWideChar(CP_ACP, 0, ansi.data(), int(ansi.size()),
                          reinterpret_cast<wchar_t*>(out.data()), length);
    }
    return out;
  }

  std::string FromUnicode(std::u16string_view text) const override {
    if (text.empty()) return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int length =
        WideCharToMultiByte(CP_ACP, 0, wide, int(text.size()), nullptr, 0, "?", nullptr);
    std::string out(length > 0 ? length : 0, '\0');
    if (length > 0) {
      WideCharToMultiByte(CP_ACP, 0, wide, int(text.size()), out.data(), length, "?", nullptr);
    }
    return out;
  }

  bool IsLeadByte(uint8_t byte) const override { return IsDBCSLeadByte(byte) != FALSE; }
};

}  // namespace

const TextCodec& SystemCodec() {
  static const AnsiCodePageCodec codec;
  return codec;
}

}  // namespace mp3infp
