// Holds a file open from another process, reading and sharing only reading, as a player that is
// playing the file does:   HoldFile <path>
// Signals the event "tagwhirl-file-held" once the file is open and lets go when the event
// "tagwhirl-file-release" is set (or after 30 seconds).
#include <windows.h>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  HANDLE held = CreateEventA(nullptr, TRUE, FALSE, "tagwhirl-file-held");
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, "tagwhirl-file-release");
  SetEvent(held);
  WaitForSingleObject(release, 30000);
  CloseHandle(file);
  return 0;
}
