// Placeholder entry points: the library answers "no file it can tag" to everything until the
// format code arrives. Every entry point exists, so the program starts.
#define MP3INFP_BUILDING
#include "mp3infp/mp3infp.h"

DWORD WINAPI mp3infp_Load(HWND, const char*) { return 1; }
DWORD WINAPI mp3infp_GetValue(const char*, char* buffer, DWORD bufferSize) {
  if (buffer && bufferSize) buffer[0] = 0;
  return static_cast<DWORD>(-1);
}
DWORD WINAPI mp3infp_SetValue(const char*, const char*) { return 1; }
DWORD WINAPI mp3infp_Save(const char*) { return 1; }
DWORD WINAPI mp3infp_GetType() { return kMp3infpTypeUnknown; }
DWORD WINAPI mp3infp_mp3_GetTagType() { return 0; }
DWORD WINAPI mp3infp_mp3_MakeId3v1(const char*) { return 1; }
DWORD WINAPI mp3infp_mp3_MakeId3v2(const char*) { return 1; }
DWORD WINAPI mp3infp_ViewPropEx(HWND, const char*, DWORD, DWORD, DWORD, DWORD) { return 1; }
