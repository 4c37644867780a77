// What a file of a save is: its size, time and identity, and the bytes at the places a write put
// its own. The save records these and undo compares them through the same functions, so that a
// file nobody touched since is always found unchanged.
//
// Win32 file API only, no windows.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace journal {

uint64_t Time(const FILETIME& time);
bool Exists(const std::wstring& path);
bool Seek(HANDLE file, uint64_t offset, DWORD from = FILE_BEGIN);
bool WriteAll(HANDLE file, const uint8_t* data, size_t size);
bool ReadAll(HANDLE file, uint8_t* data, size_t size);

// The size and time of the file's entry in its folder.
bool SizeAndTime(const std::wstring& path, uint64_t& size, uint64_t& writeTime);

// What a file is now, read after our handle that wrote it closed (a volume may set the time only
// then), also of a file another program has locked.
struct State {
  bool read = false;
  uint64_t size = 0, writeTime = 0, fileId = 0;
};
// `fileId` when the caller had a handle to the file, else 0.
State StateOf(const std::wstring& path, uint64_t fileId = 0);

// The hash of the bytes at `places` (offset, size); false when they cannot be read.
bool HashAt(HANDLE file, const std::vector<std::pair<uint64_t, size_t>>& places, uint64_t& hash);

// The identity of an open file on its volume.
uint64_t FileId(HANDLE file);

}  // namespace journal
