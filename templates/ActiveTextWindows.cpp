#include <windows.h>

#include "templates/ActiveText.h"

std::string ActiveText(std::u16string_view text) {
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  // No default character: the system takes none for UTF-8.
  const int length =
      WideCharToMultiByte(CP_ACP, 0, wide, int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(length > 0 ? length : 0, '\0');
  if (length > 0)
    WideCharToMultiByte(CP_ACP, 0, wide, int(text.size()), out.data(), length, nullptr, nullptr);
  return out;
}
