// Saving new values into many MP3 files through mp3infp.dll: with room in the ID3v2 padding (the
// tag is rewritten in place) and without (the file is written anew beside the old one), against
// copying the same files.
//   Mp3infpBench [files] [KiB per file]     (default 1000 files of 4096 KiB)
#include <windows.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "tags/TagLibrary.h"

namespace {

using Bytes = std::vector<unsigned char>;

void AppendSyncSafe(Bytes& out, unsigned v) {
  out.insert(
      out.end(),
      {static_cast<unsigned char>((v >> 21) & 0x7f), static_cast<unsigned char>((v >> 14) & 0x7f),
       static_cast<unsigned char>((v >> 7) & 0x7f), static_cast<unsigned char>(v & 0x7f)});
}

// An ID3v2.3 tag with a title and `padding` bytes of room, then MPEG frames up to `size`.
Bytes MakeFile(size_t size, size_t padding) {
  const std::string title =
      "\x01\xFF\xFE"
      "a\0b\0c\0";
  Bytes frame = {'T', 'I', 'T', '2', 0, 0, 0, static_cast<unsigned char>(title.size()), 0, 0};
  frame.insert(frame.end(), title.begin(), title.end());
  Bytes file = {'I', 'D', '3', 3, 0, 0};
  AppendSyncSafe(file, unsigned(frame.size() + padding));
  file.insert(file.end(), frame.begin(), frame.end());
  file.resize(file.size() + padding, 0);
  unsigned seed = 7;
  while (file.size() < size) {
    file.insert(file.end(), {0xFF, 0xFB, 0x90, 0x64});
    for (int i = 4; i < 417; ++i)
      file.push_back(static_cast<unsigned char>((seed = seed * 1103515245u + 12345u) >> 16));
  }
  file.resize(size);
  return file;
}

bool Write(const std::string& path, const Bytes& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return double(counter.QuadPart) / double(frequency.QuadPart);
}

std::string PathOf(const char* kind, int i) {
  return std::string("mp3infp-bench\\") + kind + std::to_string(i) + ".mp3";
}

// Seconds for saving new values into every file of `kind`, as the program saves an entry.
double SaveAll(const TagLibrary& library, const char* kind, int count, int* failures) {
  const double start = Now();
  for (int i = 0; i < count; ++i) {
    const std::string path = PathOf(kind, i);
    library.Load(nullptr, path.c_str());
    library.SetValue("INAM_v2", "新しい題名");
    library.SetValue("IART_v2", "アーティスト");
    library.SetValue("TRACK_v2", std::to_string(i + 1).c_str());
    if (library.Save(path.c_str()) != 0) ++*failures;
  }
  return Now() - start;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
  const size_t kib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 4096;
  TagLibrary library;
  if (count <= 0 || kib == 0 || !library.Open("mp3infp")) {
    std::fprintf(stderr,
                 "usage: Mp3infpBench [files] [KiB per file]; mp3infp.dll must be beside it\n");
    return 2;
  }
  CreateDirectoryA("mp3infp-bench", nullptr);
  const Bytes roomy = MakeFile(kib * 1024, 4096);
  const Bytes tight = MakeFile(kib * 1024, 0);
  for (int i = 0; i < count; ++i) {
    if (!Write(PathOf("room", i), roomy) || !Write(PathOf("tight", i), tight)) {
      std::fprintf(stderr, "cannot write the sample files\n");
      return 2;
    }
  }

  // Copying is timed before and after the saves, as the disk's write-back state drifts over
  // a long run; the ratios use the faster of the two.
  const auto copyAll = [&] {
    for (int i = 0; i < count; ++i) DeleteFileA(PathOf("copy", i).c_str());
    const double start = Now();
    for (int i = 0; i < count; ++i) {
      CopyFileA(PathOf("tight", i).c_str(), PathOf("copy", i).c_str(), FALSE);
    }
    return Now() - start;
  };
  const double copyingBefore = copyAll();
  int failures = 0;
  const double inPlace = SaveAll(library, "room", count, &failures);
  const double rewriting = SaveAll(library, "tight", count, &failures);
  const double copyingAfter = copyAll();
  const double copying = std::min(copyingBefore, copyingAfter);

  for (int i = 0; i < count; ++i) {
    for (const char* kind : {"room", "tight", "copy"}) DeleteFileA(PathOf(kind, i).c_str());
  }
  RemoveDirectoryA("mp3infp-bench");

  const auto perFile = [&](double seconds) { return seconds * 1000.0 / count; };
  std::printf("%d files of %zu KiB\n", count, kib);
  std::printf("copying (CopyFile):             %8.3f ms per file (%.3f before, %.3f after)\n",
              perFile(copying), perFile(copyingBefore), perFile(copyingAfter));
  std::printf("saving, room in the padding:    %8.3f ms per file (%.2f x copying; target < 2 ms)\n",
              perFile(inPlace), inPlace / copying);
  std::printf(
      "saving, no room (file rewritten): %6.3f ms per file (%.2f x copying; target <= 1.2 x)\n",
      perFile(rewriting), rewriting / copying);
  std::printf("failed saves: %d\n", failures);
  return failures ? 1 : 0;
}
