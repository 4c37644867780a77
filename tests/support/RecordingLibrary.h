// The recording tag library (tests/tags/FakeTagLibrary.cpp) loaded as the program's library:
// its answers are set with Configure, and Calls gives what the program asked of it, in order.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class RecordingLibrary {
 public:
  // Loads it into theTagLibrary; false when it is not there.
  bool Open();
  void Close();
  // The file kind, the tag flags, and the results of tag creation and of saving. Forgets the
  // calls so far.
  void Configure(DWORD type, DWORD tagFlags, DWORD makeV1 = 0, DWORD makeV2 = 0, DWORD save = 0);
  std::vector<std::string> Calls() const;

 private:
  typedef void(WINAPI* ConfigureFn)(DWORD, DWORD, DWORD, DWORD, DWORD);
  typedef DWORD(WINAPI* LogFn)(char*, DWORD);
  ConfigureFn configure_ = nullptr;
  LogFn readLog_ = nullptr;
};
