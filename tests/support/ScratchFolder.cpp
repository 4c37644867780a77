#include "tests/support/ScratchFolder.h"

#include <windows.h>

namespace {

// Removes `folder` (a wide path in the \\?\ form, which goes beyond the path limit) with
// everything in it. A test may make paths longer than the limit: SHFileOperation under Wine does
// not follow them, and deleted files of the working folder instead. A link is removed, never
// followed.
void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      const DWORD attributes = found.dwFileAttributes;
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveTree(path);
      } else if (!DeleteFileW(path.c_str())) {
        RemoveDirectoryW(path.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

}  // namespace

ScratchFolder::ScratchFolder(const std::string& name) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  char unique[MAX_PATH];
  GetTempFileNameA(temp, "tw", 0, unique);
  DeleteFileA(unique);
  CreateDirectoryA(unique, nullptr);
  root_ = path_ = unique;
  if (!name.empty()) {
    path_ += "\\" + name;
    CreateDirectoryA(path_.c_str(), nullptr);
  }
}

ScratchFolder::~ScratchFolder() {
  wchar_t root[MAX_PATH];
  if (root_.empty() || !MultiByteToWideChar(CP_ACP, 0, root_.c_str(), -1, root, MAX_PATH)) return;
  RemoveTree(std::wstring(L"\\\\?\\") + root);
}

std::string ScratchFolder::AddFolder(const std::string& relative) const {
  // Creates every folder on the way; separators are found by character, not by byte.
  const std::string full = path_ + "\\" + relative;
  for (const char* p = full.c_str() + path_.size() + 1; *p; p = CharNextA(p)) {
    if (*p == '\\') CreateDirectoryA(full.substr(0, p - full.c_str()).c_str(), nullptr);
  }
  CreateDirectoryA(full.c_str(), nullptr);
  return full;
}

std::string ScratchFolder::AddFile(const std::string& relative, const std::string& bytes) const {
  const std::string full = path_ + "\\" + relative;
  const char* lastSeparator = nullptr;
  for (const char* p = relative.c_str(); *p; p = CharNextA(p)) {
    if (*p == '\\') lastSeparator = p;
  }
  if (lastSeparator) AddFolder(relative.substr(0, lastSeparator - relative.c_str()));
  HANDLE file = CreateFileA(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
  }
  return full;
}
