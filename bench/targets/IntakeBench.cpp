// Intake of a large folder tree into a shown main window, with five rules, against a bare walk
// of the same tree and a walk that only inserts rows.
//
//   IntakeBench [files] [rounds]     (defaults: 10000 files, 3 rounds; prints the best round)
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "window/Controls.h"
#include "app/MainWindow.h"
#include "window/ShellModule.h"
#include "bench/WindowBench.h"
#include "resources/resource.h"
#include "targets/TargetListView.h"

namespace {

const char* const kRules[] = {
    "$K - $A - $T.mp3", "$A\\$B\\$K - $T.mp3", "$A\\$B\\$K $T.mp3", "$A - $T.mp3", "$K $T.mp3",
};

void MakeFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  CloseHandle(file);
}

// Artists, each with albums, each with tracks named as the third rule expects. Every other artist
// has Japanese names, whose lead bytes make code page 932 match by character.
std::string BuildTree(int files) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring root = std::wstring(temp) + L"tagwhirl-intake-mixed-" + std::to_wstring(files);
  char narrowRoot[MAX_PATH * 3];
  WideCharToMultiByte(CP_ACP, 0, root.c_str(), -1, narrowRoot, sizeof narrowRoot, nullptr, nullptr);
  // A marker beside the tree says that an earlier run built it whole.
  if (GetFileAttributesW((root + L".done").c_str()) != INVALID_FILE_ATTRIBUTES) return narrowRoot;
  CreateDirectoryW(root.c_str(), nullptr);
  const int tracksPerAlbum = 10, albumsPerArtist = 10;
  for (int made = 0; made < files;) {
    const int artist = made / (tracksPerAlbum * albumsPerArtist);
    const int album = made / tracksPerAlbum % albumsPerArtist;
    const bool japanese = artist % 2;
    const std::wstring artistFolder =
        root + (japanese ? L"\\\u6B4C\u624B " : L"\\Artist ") + std::to_wstring(artist);
    const std::wstring albumFolder =
        artistFolder + (japanese ? L"\\\u8868\u984C " : L"\\Album ") + std::to_wstring(album);
    CreateDirectoryW(artistFolder.c_str(), nullptr);
    CreateDirectoryW(albumFolder.c_str(), nullptr);
    for (int track = 1; track <= tracksPerAlbum && made < files; ++track, ++made) {
      wchar_t name[64];
      swprintf(name, 64, japanese ? L"\\%02d \u66F2\u540D %d.mp3" : L"\\%02d Title of song %d.mp3",
               track, made);
      MakeFile(albumFolder + name);
    }
  }
  MakeFile(root + L".done");
  return narrowRoot;
}

int BareWalk(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*.*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  do {
    if (!std::strcmp(found.cFileName, ".") || !std::strcmp(found.cFileName, "..")) continue;
    const std::string path = folder + "\\" + found.cFileName;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      count += BareWalk(path);
    else
      ++count;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return count;
}

double WorkingSetMiB(bool peak) {
  PROCESS_MEMORY_COUNTERS memory = {sizeof memory};
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  return (peak ? memory.PeakWorkingSetSize : memory.WorkingSetSize) / 1048576.0;
}

double Seconds(const std::function<void()>& work) {
  const double start = Now();
  work();
  return Now() - start;
}

// One intake into a fresh main window; returns seconds and the rows taken. With
// `selectAll`, also the time of Ctrl+A on the rows, with the rule box brought up to date.
double Intake(const std::string& root, bool withRules, int* rows, int* fitted,
              double* selectAll = nullptr) {
  MainWindow window;
  if (!window.Create()) return -1;
  // Shown, so that the status bar really paints the intake's progress.
  ShowWindow(window.hwnd(), SW_SHOWNOACTIVATE);
  PumpWaiting();
  // What the process holds before any row: the program, its libraries and Wine's.
  static bool told = false;
  if (!told)
    std::printf("  (working set before the first intake %.1f MiB)\n", WorkingSetMiB(false));
  told = true;
  TargetListView& list = window.list();
  list.rules.clear();
  if (withRules) list.rules.assign(std::begin(kRules), std::end(kRules));
  const std::vector<std::string> paths = {root};
  const double seconds = Seconds([&] { window.TakeIn(paths); });
  *rows = list.RowCount();
  *fitted = 0;
  for (int row = 0; row < *rows; ++row) *fitted += !list.ItemOfRow(row)->rule.empty();
  if (selectAll) {
    PumpWaiting();
    const double selecting =
        Seconds([&] { SendMessageA(window.hwnd(), WM_COMMAND, ID_SELECT_ALL, 0); });
    const double ruleBox = Seconds([&] { PumpWaiting(); });
    std::printf("  (selecting %.3f s, rule box %.3f s)\n", selecting, ruleBox);
    *selectAll = selecting + ruleBox;
  }
  DestroyWindow(window.hwnd());
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const int files = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  InitForWindows();

  const std::string root = BuildTree(files);
  double walk = 1e9, rowsOnly = 1e9, full = 1e9, selectAll = 1e9;
  int walked = 0, rows = 0, fitted = 0;
  for (int round = 0; round < rounds; ++round) {
    walk = std::min(walk, Seconds([&] { walked = BareWalk(root); }));
    rowsOnly = std::min(rowsOnly, Intake(root, false, &rows, &fitted));
    double selecting = 0;
    full = std::min(full, Intake(root, true, &rows, &fitted, &selecting));
    selectAll = std::min(selectAll, selecting);
  }

  std::printf("files in tree:                 %d (%d walked)\n", files, walked);
  std::printf("bare walk:                     %8.3f s\n", walk);
  std::printf("walk + row insertion:          %8.3f s\n", rowsOnly);
  std::printf("intake with %d rules:           %8.3f s  (%d rows, %d with a rule)\n",
              static_cast<int>(std::size(kRules)), full, rows, fitted);
  std::printf("intake / (walk + rows):        %8.2f\n", full / rowsOnly);
  std::printf("per file:                      %8.1f us\n", full / rows * 1e6);
  std::printf("Ctrl+A with the rule box:       %8.3f s\n", selectAll);
  std::printf("peak working set:              %8.1f MiB\n", WorkingSetMiB(true));
  return rows == files ? 0 : 1;
}
