#include "journal/FileState.h"

#include <algorithm>

#include "journal/Records.h"

namespace journal {

uint64_t Time(const FILETIME& time) {
  return (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Seek(HANDLE file, uint64_t offset, DWORD from) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(file, position, nullptr, from) != FALSE;
}

bool WriteAll(HANDLE file, const uint8_t* data, size_t size) {
  while (size) {
    DWORD done = 0;
    if (!WriteFile(file, data, static_cast<DWORD>(std::min<size_t>(size, 1 << 20)), &done,
                   nullptr) ||
        done == 0)
      return false;
    data += done, size -= done;
  }
  return true;
}

bool ReadAll(HANDLE file, uint8_t* data, size_t size) {
  while (size) {
    DWORD done = 0;
    if (!ReadFile(file, data, static_cast<DWORD>(std::min<size_t>(size, 1 << 20)), &done,
                  nullptr) ||
        done == 0)
      return false;
    data += done, size -= done;
  }
  return true;
}

bool SizeAndTime(const std::wstring& path, uint64_t& size, uint64_t& writeTime) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
  size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  writeTime = Time(data.ftLastWriteTime);
  return true;
}

// Size and time come from the file's entry in its folder, which asks the system for nothing
// else; the identity from a handle opened for its attributes only, or `fileId` when the caller
// had one.
State StateOf(const std::wstring& path, uint64_t fileId) {
  State state;
  if (!SizeAndTime(path, state.size, state.writeTime)) return {};
  if (!fileId) {
    HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    fileId = FileId(file);
    CloseHandle(file);
  }
  state.read = fileId != 0;
  state.fileId = fileId;
  return state;
}

bool HashAt(HANDLE file, const std::vector<std::pair<uint64_t, size_t>>& places, uint64_t& hash) {
  hash = Hash(nullptr, 0);
  std::vector<uint8_t> bytes;
  for (const auto& [offset, size] : places) {
    if (size > (64u << 20)) return false;  // no tag of ours is this large: a damaged record
    bytes.resize(size);
    if (size && (!Seek(file, offset) || !ReadAll(file, bytes.data(), size))) return false;
    hash = Hash(bytes.data(), size, hash);
  }
  return true;
}

uint64_t FileId(HANDLE file) {
  // The file index alone, as the system keeps it. GetFileInformationByHandle gives it too, but
  // asks for the volume's serial number with it, which under Wine is a request to another
  // process: half a millisecond a file, most of what the journal cost a save of tags with room.
  struct IoStatus {
    LONG status;
    ULONG_PTR information;
  };
  using Query = LONG(WINAPI*)(HANDLE, IoStatus*, void*, ULONG, int);
  static const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
  constexpr int kFileInternalInformation = 6;
  IoStatus status;
  LARGE_INTEGER index;
  if (query && query(file, &status, &index, sizeof index, kFileInternalInformation) >= 0)
    return static_cast<uint64_t>(index.QuadPart);
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return 0;
  return (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

}  // namespace journal
