// tagwhirl's part of the comparison with another tagger on the same files (peer-bench.sh): tags
// from file names, saved in place, timed as the window handles it (intake, then the save loop,
// with the status bar's progress shown); and the floors any rewrite of those files has: a flushed
// copy of each to a new file, and the barest rewrite that flushes before it swaps.
//
//   PeerBench save <folder> <rule> [nojournal]
//                                      intake of the folder with the rule, then "保存(&S)" in place
//                                      (with `nojournal`, without the journal that undo needs)
//   PeerBench copy <from> <to> [over]  every file of <from> copied into <to> and flushed; with
//                                      `over`, over the copies already there, freeing their
//                                      blocks as a rewrite frees the original's
//   PeerBench rewrite <folder> [elsewhere <folder>] [keep <folder>] [threads <n>] [noflush]
//                                      every file of <folder> rewritten with 1 KiB more in front, as
//                                      the least a rewrite that keeps the flush before the swap
//                                      does: read, write beside, flush, rename over the original;
//                                      the new files made in another folder of the volume, from
//                                      several threads, or not flushed, to measure what each wins;
//                                      with `keep`, each original linked into that folder instead
//                                      of freed, as undo needs it kept
//   PeerBench patch <folder> [threads <n>] [noflush]
//                                      the least a write in place does: 4 KiB read, written back
//                                      and flushed in each file
//   PeerBench steps <folder> <rule>    the save loop taken apart: each step of saving a row
//                                      (reading the cells, Load, setting fields, Save) timed
//   PeerBench demo [files] [KiB]       each of these on files it makes itself (the test run's size)
//
// Each prints one line: what was timed, the seconds, the files.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/MainWindow.h"
#include "window/ShellModule.h"
#include "bench/BareRewrite.h"
#include "bench/WindowBench.h"
#include "resources/resource.h"
#include "tags/SaveEntry.h"
#include "tags/SaveJournal.h"
#include "tags/TagLibrary.h"
#include "templates/CodeTable.h"

namespace {

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*.mp3").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do names.push_back(found.cFileName);
  while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

bool Flush(const std::string& path) {
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool ok = FlushFileBuffers(file) != FALSE;
  CloseHandle(file);
  return ok;
}

// Intake and the save of every row in place, as a user's click on "保存(&S)" runs it, in a shown
// main window so that the status bar really paints its progress.
int Save(const std::string& folder, const std::string& rule) {
  MainWindow window;
  if (!window.Create()) return 1;
  ShowWindow(window.hwnd(), SW_SHOWNOACTIVATE);
  PumpWaiting();
  window.list().rules = {rule};
  const double start = Now();
  window.TakeIn(std::vector<std::string>{folder});
  const double taken = Now();
  SendMessageA(window.panel().hwnd(), WM_COMMAND, IDOK, 0);
  const double saved = Now();
  const int rows = window.list().RowCount();
  DestroyWindow(window.hwnd());
  PumpWaiting();
  std::printf("save %.4f s (intake %.4f s, saving %.4f s), %d files\n", saved - start,
              taken - start, saved - taken, rows);
  return rows > 0 ? 0 : 1;
}

// The steps SaveEntry takes for a row saved in place, each timed on its own, summed over the rows.
int Steps(const std::string& folder, const std::string& rule) {
  MainWindow window;
  if (!window.Create()) return 1;
  TargetListView& list = window.list();
  list.rules = {rule};
  window.TakeIn(std::vector<std::string>{folder});
  const int rows = list.RowCount();
  double cells = 0, load = 0, fields = 0, save = 0;
  int failures = 0;
  for (int row = 0; row < rows; ++row) {
    double start = Now();
    const std::string path = list.ItemOfRow(row)->path;
    std::vector<std::string> values;
    for (int code = 0; code < kCodeCount; ++code) {
      if (CodeTable[code].fieldKey) values.push_back(list.CellText(row, code + 1));
    }
    double next = Now();
    cells += next - start, start = next;
    theTagLibrary.Load(list.hwnd(), path.c_str());
    next = Now();
    load += next - start, start = next;
    for (int code = 0, value = 0; code < kCodeCount; ++code) {
      if (CodeTable[code].fieldKey) SetTagField(path, CodeTable[code].fieldKey, values[value++]);
    }
    next = Now();
    fields += next - start, start = next;
    failures += theTagLibrary.Save(path.c_str()) != 0;
    save += Now() - start;
  }
  DestroyWindow(window.hwnd());
  PumpWaiting();
  const auto ms = [&](double seconds) { return seconds * 1000 / (rows ? rows : 1); };
  std::printf(
      "steps per row: cells %.3f ms, Load %.3f ms, fields %.3f ms, Save %.3f ms; "
      "total %.3f ms, %d files\n",
      ms(cells), ms(load), ms(fields), ms(save), ms(cells + load + fields + save), rows);
  return failures ? 1 : 0;
}

int Copy(const std::string& from, const std::string& to, bool over) {
  CreateDirectoryA(to.c_str(), nullptr);
  const std::vector<std::string> names = FilesIn(from);
  int failures = 0;
  const double start = Now();
  for (const std::string& name : names) {
    const std::string target = to + "\\" + name;
    if (!CopyFileA((from + "\\" + name).c_str(), target.c_str(), !over) || !Flush(target))
      ++failures;
  }
  const double seconds = Now() - start;
  std::printf("copy %.4f s, %d files\n", seconds, static_cast<int>(names.size()));
  return failures ? 1 : 0;
}

// How the bare rewrite (or, in place, the bare patch) is run: where its new files are made (beside
// each file when empty), from how many threads at once, and whether it flushes.
struct RewriteWay {
  std::string temporaries;
  std::string kept;
  bool inPlace = false;
  int threads = 1;
  bool flush = true;
};

struct RewriteWork {
  const std::string* folder;
  const std::vector<std::string>* names;
  const RewriteWay* way;
  volatile LONG next = -1;
  volatile LONG failures = 0;
};

// The least a write in place with room does: the first 4 KiB read and written back, flushed.
bool BarePatch(const std::string& path, bool flush) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char head[4096];
  DWORD done = 0;
  bool ok = ReadFile(file, head, sizeof head, &done, nullptr) &&
            SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 &&
            WriteFile(file, head, done, &done, nullptr) && (!flush || FlushFileBuffers(file));
  return CloseHandle(file) && ok;
}

DWORD WINAPI RewriteWorker(void* argument) {
  auto& work = *static_cast<RewriteWork*>(argument);
  std::vector<char> buffer;
  for (LONG i; (i = InterlockedIncrement(&work.next)) < LONG(work.names->size());) {
    const std::string& name = (*work.names)[i];
    const std::string path = *work.folder + "\\" + name;
    const std::string temporary =
        work.way->temporaries.empty() ? "" : work.way->temporaries + "\\" + name + ".new.tmp";
    // A few dozen links a folder, as the journal keeps them (under Wine a new name is looked for
    // through its whole folder), in folders made before the first write, as the journal makes them.
    std::string kept;
    if (!work.way->kept.empty()) kept = work.way->kept + "\\" + std::to_string(i / 64) + "\\" + name;
    if (work.way->inPlace ? !BarePatch(path, work.way->flush)
                          : !BareRewrite(path, buffer, temporary, work.way->flush, kept))
      InterlockedIncrement(&work.failures);
  }
  return 0;
}

int Rewrite(const std::string& folder, const RewriteWay& way) {
  const std::vector<std::string> names = FilesIn(folder);
  if (!way.temporaries.empty()) CreateDirectoryA(way.temporaries.c_str(), nullptr);
  if (!way.kept.empty()) CreateDirectoryA(way.kept.c_str(), nullptr);
  RewriteWork work{&folder, &names, &way};
  const double start = Now();
  for (size_t i = 0; !way.kept.empty() && i < names.size(); i += 64)
    CreateDirectoryA((way.kept + "\\" + std::to_string(i / 64)).c_str(), nullptr);
  std::vector<HANDLE> threads;
  for (int i = 1; i < way.threads; ++i)
    threads.push_back(CreateThread(nullptr, 0, RewriteWorker, &work, 0, nullptr));
  RewriteWorker(&work);
  for (HANDLE thread : threads) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  std::printf("%s %.4f s, %d files (%s%s, %d thread%s%s)\n", way.inPlace ? "patch" : "rewrite",
              Now() - start, static_cast<int>(names.size()),
              way.inPlace                  ? "in place"
              : way.temporaries.empty() ? "new files beside"
                                        : "new files elsewhere",
              way.kept.empty() ? "" : ", originals kept", way.threads, way.threads == 1 ? "" : "s", way.flush ? "" : ", no flush");
  return work.failures ? 1 : 0;
}

// MPEG frames without any tag, up to `bytes`.
void WriteUntagged(const std::string& path, size_t bytes) {
  std::string frame("\xFF\xFB\x90\x64", 4);
  frame += std::string(413, '\x55');
  std::string data;
  while (data.size() + frame.size() <= bytes) data += frame;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
  CloseHandle(file);
}

void Empty(const std::string& folder) {
  for (const std::string& name : FilesIn(folder)) DeleteFileA((folder + "\\" + name).c_str());
  RemoveDirectoryA(folder.c_str());
}

int Demo(int files, size_t kib) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string root = std::string(temp) + "tagwhirl-peer-demo";
  const std::string work = root + "\\work", copies = root + "\\copies";
  Empty(work);
  Empty(copies);
  Empty(root + "\\kept\\0");
  Empty(root + "\\kept");
  CreateDirectoryA(root.c_str(), nullptr);
  CreateDirectoryA(work.c_str(), nullptr);
  for (int i = 0; i < files; ++i) {
    WriteUntagged(work + "\\Artist " + std::to_string(i) + " - Title " + std::to_string(i) + ".mp3",
                  kib * 1024);
  }
  int status = Copy(work, copies, false);
  status |= Rewrite(copies, {});
  status |= Rewrite(copies, {.temporaries = root + "\\new", .threads = 2});
  status |= Rewrite(copies, {.kept = root + "\\kept", .threads = 2});
  status |= Rewrite(copies, {.inPlace = true, .threads = 2});
  status |= Save(work, "$A - $T.mp3");
  status |= Save(work, "$T - $A.mp3");
  status |= Steps(work, "$A - $T.mp3");
  Empty(work);
  Empty(copies);
  Empty(root + "\\kept\\0");
  Empty(root + "\\kept");
  RemoveDirectoryA((root + "\\new").c_str());
  RemoveDirectoryA(root.c_str());
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  InitForWindows();
  if (!theTagLibrary.Open("mp3infp")) {
    std::printf("mp3infp.dll not found\n");
    return 2;
  }
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "save" && argc > 3) {
    // What the journal of the save costs shows against a save without one.
    if (argc > 4 && std::string(argv[4]) == "nojournal") TheSaveJournal().Disable();
    return Save(argv[2], argv[3]);
  }
  if (mode == "copy" && argc > 3)
    return Copy(argv[2], argv[3], argc > 4 && std::string(argv[4]) == "over");
  if ((mode == "rewrite" || mode == "patch") && argc > 2) {
    RewriteWay way{.inPlace = mode == "patch"};
    for (int i = 3; i < argc; ++i) {
      const std::string option = argv[i];
      if (option == "elsewhere" && i + 1 < argc) way.temporaries = argv[++i];
      if (option == "keep" && i + 1 < argc) way.kept = argv[++i];
      if (option == "threads" && i + 1 < argc) way.threads = std::max(1, std::atoi(argv[++i]));
      if (option == "noflush") way.flush = false;
    }
    return Rewrite(argv[2], way);
  }
  if (mode == "steps" && argc > 3) return Steps(argv[2], argv[3]);
  if (mode == "demo")
    return Demo(argc > 2 ? std::atoi(argv[2]) : 20, argc > 3 ? std::atoi(argv[3]) : 64);
  std::fprintf(
      stderr,
      "usage: PeerBench save <folder> <rule> | copy <from> <to> [over] | rewrite <folder> "
      "[elsewhere <folder>] [keep <folder>] [threads <n>] [noflush] | patch <folder> [threads <n>] [noflush] | "
      "steps <folder> <rule> | demo [files] [KiB]\n");
  return 2;
}
