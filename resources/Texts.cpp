#include "resources/Texts.h"

std::wstring WideFromActive(std::string_view text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring wide(length > 0 ? length : 0, L'\0');
  if (length > 0)
    MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), wide.data(), length);
  return wide;
}

std::string ActiveFromWide(std::wstring_view text) {
  if (text.empty()) return {};
  // No default character for UTF-8: the system refuses one there, and UTF-8 holds every
  // character anyway (a lone surrogate becomes U+FFFD).
  const char* fallback = GetACP() == CP_UTF8 ? nullptr : "?";
  const int length =
      WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0, fallback, nullptr);
  std::string narrow(length > 0 ? length : 0, '\0');
  if (length > 0) {
    WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), narrow.data(), length, fallback,
                        nullptr);
  }
  return narrow;
}

int ShowMessage(HWND owner, std::string_view text, const wchar_t* caption, UINT flags) {
  return MessageBoxW(owner, WideFromActive(text).c_str(), caption, flags);
}

int ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags) {
  return MessageBoxW(owner, text, caption, flags);
}
