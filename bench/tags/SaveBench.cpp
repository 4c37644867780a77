// Saving every row through the program's own path (the panel's save, SaveEntry, the tag library)
// in place and into an output folder, against plain copying of the same files.
//
//   SaveBench [files] [megabytes per file]     (defaults: 1000 files of 4 MB)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "window/Controls.h"
#include "app/MainWindow.h"
#include "window/ShellModule.h"
#include "bench/WindowBench.h"
#include "resources/resource.h"
#include "tags/TagLibrary.h"

namespace {

std::string Folder(const std::string& root, const char* name) {
  const std::string folder = root + "\\" + name;
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

// An ID3v2.3 tag with a title and 2 KiB of padding, then MPEG frames up to `bytes`.
void WriteMp3(const std::string& path, size_t bytes, int number) {
  std::string data = "ID3";
  data += std::string("\x03\x00\x00", 3);
  const std::string title = "\0Old title " + std::to_string(number);
  const std::string frame = std::string("TIT2") + std::string(3, '\0') +
                            static_cast<char>(title.size() + 1) + std::string(2, '\0') +
                            std::string(1, '\0') + title.substr(1);
  const size_t tagSize = frame.size() + 2048;
  data += static_cast<char>((tagSize >> 21) & 0x7F);
  data += static_cast<char>((tagSize >> 14) & 0x7F);
  data += static_cast<char>((tagSize >> 7) & 0x7F);
  data += static_cast<char>(tagSize & 0x7F);
  data += frame + std::string(2048, '\0');
  std::string mpeg("\xFF\xFB\x90\x64", 4);
  mpeg += std::string(413, '\x55');
  while (data.size() + mpeg.size() <= bytes) data += mpeg;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
  CloseHandle(file);
}

// Writes out what the last phase left in the system's cache, untimed, so that each timed phase
// starts from the same state instead of paying for the one before.
void Settle(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*.mp3").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    HANDLE file =
        CreateFileA((folder + "\\" + found.cFileName).c_str(), GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    FlushFileBuffers(file);
    CloseHandle(file);
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

void Empty(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*.mp3").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do DeleteFileA((folder + "\\" + found.cFileName).c_str());
  while (FindNextFileA(search, &found));
  FindClose(search);
}

}  // namespace

int main(int argc, char** argv) {
  const int files = argc > 1 ? std::atoi(argv[1]) : 1000;
  const double megabytes = argc > 2 ? std::atof(argv[2]) : 4.0;
  InitForWindows();
  if (!theTagLibrary.Open("mp3infp")) {
    std::printf("mp3infp.dll not found\n");
    return 1;
  }

  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string root = std::string(temp) + "tagwhirl-save-bench";
  CreateDirectoryA(root.c_str(), nullptr);
  const std::string source = Folder(root, "source"), out = Folder(root, "out"),
                    copies = Folder(root, "copies");
  Empty(source);
  Empty(out);
  Empty(copies);
  for (int i = 0; i < files; ++i)
    WriteMp3(source + "\\Artist " + std::to_string(i) + " - Title " + std::to_string(i) + ".mp3",
             static_cast<size_t>(megabytes * 1048576), i);

  // Plain copying of the same files is the yardstick. Copying and saving into a folder alternate
  // over two rounds, each pass first deleting what its previous pass wrote, so that both meet
  // the system's cache in the same state; the best pass of each counts.
  auto copyAll = [&] {
    Empty(copies);
    const double start = Now();
    for (int i = 0; i < files; ++i) {
      const std::string name =
          "\\Artist " + std::to_string(i) + " - Title " + std::to_string(i) + ".mp3";
      CopyFileA((source + name).c_str(), (copies + name).c_str(), TRUE);
    }
    const double seconds = Now() - start;
    Settle(copies);
    return seconds;
  };
  Settle(source);

  MainWindow window;
  if (!window.Create()) return 1;
  window.list().rules = {"$A - $T.mp3"};
  window.TakeIn(std::vector<std::string>{source});
  const int rows = window.list().RowCount();
  HWND panel = window.panel().hwnd();

  // In place: the new tag fits in the old one's padding.
  double start = Now();
  SendMessageA(panel, WM_COMMAND, IDOK, 0);
  const double inPlace = Now() - start;
  Settle(source);

  CheckRadioButton(panel, IDC_SAVE_IN_PLACE, IDC_SAVE_TO_FOLDER, IDC_SAVE_TO_FOLDER);
  SetDlgItemTextA(panel, IDC_FOLDER, out.c_str());
  double copying[2], intoFolder[2];
  for (int round = 0; round < 2; ++round) {
    copying[round] = copyAll();
    Empty(out);
    start = Now();
    SendMessageA(panel, WM_COMMAND, IDOK, 0);
    intoFolder[round] = Now() - start;
    Settle(out);
  }
  DestroyWindow(window.hwnd());
  PumpWaiting();
  const double bestCopying = std::min(copying[0], copying[1]);
  const double bestIntoFolder = std::min(intoFolder[0], intoFolder[1]);

  std::printf("rows saved:              %d files of %.2f MiB\n", rows, megabytes);
  std::printf("save in place:           %8.2f ms per file\n", inPlace / rows * 1000);
  for (int round = 0; round < 2; ++round) {
    std::printf("round %d: copying %8.2f ms per file, saving into a folder %8.2f ms per file\n",
                round + 1, copying[round] / files * 1000, intoFolder[round] / rows * 1000);
  }
  std::printf("save into a folder:      %8.2f ms per file  (%.2f x plain copying, best of each)\n",
              bestIntoFolder / rows * 1000, bestIntoFolder / bestCopying);
  Empty(source);
  Empty(out);
  Empty(copies);
  return rows == files ? 0 : 1;
}
