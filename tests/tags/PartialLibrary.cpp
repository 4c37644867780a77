// A library of the tag library's name pattern that lacks most entry points, as another file of
// that name might.
#include <windows.h>

extern "C" __declspec(dllexport) DWORD WINAPI mp3infp_Load(HWND, const char*) { return 0; }
extern "C" __declspec(dllexport) DWORD WINAPI mp3infp_GetType() { return 1; }
