// Files on the Windows side of the tests: reading and writing whole files, comparing audio bytes.
// Scratch folders are the shared ones (tests/support/ScratchFolder.h).
#pragma once

#include <windows.h>

#include <string>

#include "tests/mp3infp/SampleFiles.h"
#include "tests/support/ScratchFolder.h"

namespace samples {

inline bool WriteBytes(const std::string& path, const Bytes& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  CloseHandle(file);
  return ok;
}

inline Bytes ReadBytes(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  LARGE_INTEGER size;
  GetFileSizeEx(file, &size);
  Bytes bytes(size_t(size.QuadPart));
  DWORD read = 0;
  if (!bytes.empty()) ReadFile(file, bytes.data(), DWORD(bytes.size()), &read, nullptr);
  CloseHandle(file);
  return bytes;
}

inline std::wstring Wide(const std::string& ansi) {
  std::wstring wide(ansi.size() + 1, L'\0');
  wide.resize(MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, wide.data(), int(wide.size())) - 1);
  return wide;
}

inline Bytes ReadBytes(const std::string& path) { return ReadBytes(Wide(path)); }

// FNV-1a, to compare audio without printing it.
inline uint64_t Hash(const Bytes& bytes, size_t begin, size_t end) {
  uint64_t hash = 1469598103934665603ull;
  for (size_t i = begin; i < end && i < bytes.size(); ++i)
    hash = (hash ^ bytes[i]) * 1099511628211ull;
  return hash;
}

inline int CountFiles(const std::string& folder) {
  int count = 0;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++count;
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return count;
}

inline DWORD FileIndex(const std::string& path) {
  HANDLE file = CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  BY_HANDLE_FILE_INFORMATION info{};
  GetFileInformationByHandle(file, &info);
  CloseHandle(file);
  return info.nFileIndexLow;
}

}  // namespace samples
