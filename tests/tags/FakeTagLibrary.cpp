// A tag library of the same contract that does nothing to files but records every call, so that
// the program's side of saving can be checked call by call. fake_Configure sets its answers.
#include <windows.h>

#include <string>

namespace {
std::string log;
DWORD type = 1;
DWORD tagFlags = 0;
DWORD makeV1Result = 0;
DWORD makeV2Result = 0;
DWORD saveResult = 0;

void Record(const std::string& line) { log += line + "\n"; }
}  // namespace

#define EXPORT extern "C" __declspec(dllexport)

EXPORT void WINAPI fake_Configure(DWORD fileType, DWORD flags, DWORD makeV1, DWORD makeV2,
                                  DWORD save) {
  type = fileType;
  tagFlags = flags;
  makeV1Result = makeV1;
  makeV2Result = makeV2;
  saveResult = save;
  log.clear();
}

EXPORT DWORD WINAPI fake_Log(char* buffer, DWORD size) {
  lstrcpynA(buffer, log.c_str(), static_cast<int>(size));
  return static_cast<DWORD>(log.size());
}

// As the real library: a file that cannot be opened does not load.
EXPORT DWORD WINAPI mp3infp_Load(HWND, const char* path) {
  Record(std::string("Load ") + path);
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(file);
  return 0;
}
EXPORT DWORD WINAPI mp3infp_GetValue(const char*, char* buffer, DWORD size) {
  if (size) buffer[0] = 0;
  return static_cast<DWORD>(-1);
}
EXPORT DWORD WINAPI mp3infp_SetValue(const char* name, const char* value) {
  Record(std::string("Set ") + name + "=" + value);
  return 0;
}
EXPORT DWORD WINAPI mp3infp_Save(const char* path) {
  Record(std::string("Save ") + path);
  return saveResult;
}
EXPORT DWORD WINAPI mp3infp_GetType() { return type; }
EXPORT DWORD WINAPI mp3infp_mp3_GetTagType() { return tagFlags; }
EXPORT DWORD WINAPI mp3infp_mp3_MakeId3v1(const char* path) {
  Record(std::string("MakeId3v1 ") + path);
  if (makeV1Result == 0) tagFlags |= 1;
  return makeV1Result;
}
EXPORT DWORD WINAPI mp3infp_mp3_MakeId3v2(const char* path) {
  Record(std::string("MakeId3v2 ") + path);
  if (makeV2Result == 0) tagFlags |= 2;
  return makeV2Result;
}
EXPORT DWORD WINAPI mp3infp_ViewPropEx(HWND, const char* path, DWORD, DWORD, DWORD, DWORD) {
  Record(std::string("ViewPropEx ") + path);
  return 0;
}
