// What path texts need to know of the system: its code pages, and where the program is.
#include <windows.h>

#include "paths/PathText.h"

namespace {

LeadBytes ReadAnsiLeadBytes() {
  CPINFO info = {};
  if (!GetCPInfo(CP_ACP, &info)) return LeadBytes();
  std::vector<std::pair<unsigned char, unsigned char>> ranges;
  for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2)
    ranges.emplace_back(info.LeadByte[i], info.LeadByte[i + 1]);
  return LeadBytes(ranges);
}

}  // namespace

const LeadBytes& AnsiLeadBytes() {
  static const LeadBytes leadBytes = ReadAnsiLeadBytes();
  return leadBytes;
}

bool AnsiIsUtf8() { return GetACP() == CP_UTF8; }

unsigned SystemLegacyCodePage() {
  const LCTYPE type = LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER;
  const int size = sizeof(DWORD) / sizeof(wchar_t);
  DWORD codePage = 0;
  // Wine knows the system locale only by its number.
  if (!GetLocaleInfoEx(LOCALE_NAME_SYSTEM_DEFAULT, type, reinterpret_cast<LPWSTR>(&codePage), size))
    GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, type, reinterpret_cast<LPWSTR>(&codePage), size);
  return codePage ? codePage : GetACP();
}

std::wstring ProgramFolder() {
  // Wide, so that the buffer holds the path limit in characters whatever bytes they take, and
  // the folder's name may be anything the file system holds.
  wchar_t module[kMaxPath];
  const DWORD length = GetModuleFileNameW(nullptr, module, kMaxPath);
  // A truncated name (length == kMaxPath) names no folder we could trust.
  if (length == 0 || length >= kMaxPath) return {};
  std::wstring path(module, length);
  const size_t cut = path.find_last_of(L"\\/");
  if (cut == std::wstring::npos) return {};
  path.resize(cut + 1);
  return path;
}

std::wstring FullPath(const std::wstring& path) {
  if (path.starts_with(L"\\\\?\\")) return path;
  const std::wstring full = AbsolutePath(path);
  // Room for the temporary names beside the file too.
  if (full.empty() || full.size() + 40 < kMaxPath) return full;
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::wstring AbsolutePath(const std::wstring& path) {
  if (path.empty()) return {};
  const DWORD fullLength = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (fullLength == 0) return {};
  std::wstring full(fullLength, L'\0');
  const DWORD written = GetFullPathNameW(path.c_str(), fullLength, full.data(), nullptr);
  if (written == 0 || written >= fullLength) return {};
  full.resize(written);
  return full;
}
