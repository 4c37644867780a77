#include "tests/support/RecordingLibrary.h"

#include <sstream>

#include "tags/TagLibrary.h"

bool RecordingLibrary::Open() {
  if (!theTagLibrary.Open("fake_mp3infp")) return false;
  HMODULE fake = GetModuleHandleA("fake_mp3infp");
  configure_ = reinterpret_cast<ConfigureFn>(
      reinterpret_cast<void*>(GetProcAddress(fake, "fake_Configure")));
  readLog_ = reinterpret_cast<LogFn>(reinterpret_cast<void*>(GetProcAddress(fake, "fake_Log")));
  return configure_ && readLog_;
}

void RecordingLibrary::Close() { theTagLibrary.Close(); }

void RecordingLibrary::Configure(DWORD type, DWORD tagFlags, DWORD makeV1, DWORD makeV2,
                                 DWORD save) {
  configure_(type, tagFlags, makeV1, makeV2, save);
}

std::vector<std::string> RecordingLibrary::Calls() const {
  char text[8192];
  readLog_(text, sizeof text);
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}
