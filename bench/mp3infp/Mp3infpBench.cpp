// Saving new values into many audio files through mp3infp.dll: with room for the new tag (the
// ID3v2 padding, FLAC's PADDING block, a free box beside an MP4 file's items: the tag is
// rewritten in place) and without (the file is written anew beside the old one), against copying
// the same files.
//   Mp3infpBench [files] [KiB per file] [files per folder] [mp3|flac|m4a]
// (default 1000 MP3 files of 4096 KiB, in album folders of 12)
#include <windows.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/BareRewrite.h"
#include "tags/TagLibrary.h"
#include "tests/mp3infp/Mp4Samples.h"

namespace {

using Bytes = std::vector<unsigned char>;

void AppendSyncSafe(Bytes& out, unsigned v) {
  out.insert(
      out.end(),
      {static_cast<unsigned char>((v >> 21) & 0x7f), static_cast<unsigned char>((v >> 14) & 0x7f),
       static_cast<unsigned char>((v >> 7) & 0x7f), static_cast<unsigned char>(v & 0x7f)});
}

// An ID3v2.3 tag with a title and `padding` bytes of room, then MPEG frames up to `size`.
Bytes MakeMp3(size_t size, size_t padding) {
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

void AppendBlock(Bytes& out, unsigned char type, const Bytes& body) {
  out.push_back(type);
  out.insert(out.end(), {static_cast<unsigned char>(body.size() >> 16),
                         static_cast<unsigned char>(body.size() >> 8),
                         static_cast<unsigned char>(body.size())});
  out.insert(out.end(), body.begin(), body.end());
}

// A FLAC file as the reference encoder writes it: stream info, seek table, a comment with a
// title, `padding` bytes of PADDING (none: the comment is the last block), then audio frames up
// to `size`.
Bytes MakeFlac(size_t size, size_t padding) {
  Bytes file = {'f', 'L', 'a', 'C'};
  Bytes info = {0x10, 0x00, 0x10, 0x00, 0,    0, 0,    0,    0,
                0,    0x0A, 0xC4, 0x42, 0xF0, 0, 0x2B, 0x11, 0x00};
  info.resize(34, 0x5A);
  AppendBlock(file, 0, info);
  AppendBlock(file, 3, Bytes(18 * 10, 0));
  const std::string vendor = "reference libFLAC 1.4.2 20221022", title = "TITLE=abc";
  Bytes comment = {static_cast<unsigned char>(vendor.size()), 0, 0, 0};
  comment.insert(comment.end(), vendor.begin(), vendor.end());
  comment.insert(comment.end(), {1, 0, 0, 0, static_cast<unsigned char>(title.size()), 0, 0, 0});
  comment.insert(comment.end(), title.begin(), title.end());
  AppendBlock(file, padding ? 4 : 4 | 0x80, comment);
  if (padding) AppendBlock(file, 1 | 0x80, Bytes(padding, 0));
  unsigned seed = 7;
  while (file.size() < size) {
    file.insert(file.end(), {0xFF, 0xF8, 0x69, 0x08});
    for (int i = 4; i < 4096; ++i)
      file.push_back(static_cast<unsigned char>((seed = seed * 1103515245u + 12345u) >> 16));
  }
  file.resize(size);
  return file;
}

// An M4A file as iTunes and ffmpeg's faststart lay it out: moov, holding a sound track and
// udta/meta/ilst with a title, before mdat, whose chunks of 4 KiB the track's stco points at.
// With room, a free box of `padding` bytes follows ilst inside meta; without, moov must grow, and
// with it every chunk offset.
Bytes MakeM4a(size_t size, size_t padding) {
  using namespace samples;
  std::vector<Bytes> meta{Mp4Box("ilst", {Mp4Text(C("nam"), "abc")})};
  if (padding) meta.push_back(Mp4Free(uint32_t(padding)));
  Mp4Layout layout;
  layout.udta = Mp4Box("udta", {Mp4Meta(meta)});
  layout.chunkSize = 4096;
  layout.chunks = int(std::max<size_t>(size / layout.chunkSize, 1));
  return Mp4File(layout);
}

// On disk, as a user's files are: a file whose blocks are not yet allocated is cheaper to replace.
bool Flush(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool ok = FlushFileBuffers(file);
  CloseHandle(file);
  return ok;
}

bool Write(const std::string& path, const Bytes& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size() && Flush(path);
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

constexpr const char* kKinds[] = {"room", "tight", "copy", "bare"};

int filesPerFolder = 12;
std::string format = "mp3";

std::string KindFolder(const char* kind) { return std::string("mp3infp-bench\\") + kind; }

std::string FolderOf(const char* kind, int i) {
  return KindFolder(kind) + "\\" + std::to_string(i / filesPerFolder);
}

// A folder per kind, each split into album folders as a user's files are. Wine scans a folder
// for every name that does not exist yet (a save creates and renames two), at a cost that grows
// with the folder: in one folder of 1,000 files the scans alone cost more than a tenth of a save.
std::string PathOf(const char* kind, int i) {
  return FolderOf(kind, i) + "\\" + std::to_string(i % filesPerFolder) + "." + format;
}

// What a timed pass wrote goes to disk before the next pass starts, untimed, so that no pass
// competes with the write-back of the one before.
void Settle(const char* kind, int first, int last) {
  for (int i = first; i < last; ++i) Flush(PathOf(kind, i));
}

// Seconds for saving new values into files [first, last) of `kind`, as the program saves an
// entry.
double SaveAll(const TagLibrary& library, const char* kind, int first, int last, int* failures) {
  const double start = Now();
  for (int i = first; i < last; ++i) {
    const std::string path = PathOf(kind, i);
    // Only MP3 files take the names of one tag; the others have one tag.
    const std::string suffix = format == "mp3" ? "_v2" : "";
    library.Load(nullptr, path.c_str());
    library.SetValue(("INAM" + suffix).c_str(), "新しい題名");
    library.SetValue(("IART" + suffix).c_str(), "アーティスト");
    library.SetValue(("TRACK" + suffix).c_str(), std::to_string(i + 1).c_str());
    if (library.Save(path.c_str()) != 0) ++*failures;
  }
  const double seconds = Now() - start;
  Settle(kind, first, last);
  return seconds;
}

// Four ways of copying: to a name that does not exist yet, with and without a flush; and over
// the last copy, which frees the old blocks as any rewrite of a file must, with and without a
// flush. A flushed copy waits for the disk as a save does before its new file takes the old one's
// place.
enum class Copy { kToNew, kToNewFlushed, kOver, kOverFlushed };

// Seconds for copying files [first, last) of the files without room.
double CopyAll(Copy how, int first, int last) {
  const bool toNew = how == Copy::kToNew || how == Copy::kToNewFlushed;
  const bool flushed = how == Copy::kToNewFlushed || how == Copy::kOverFlushed;
  // Untimed: the copies are made missing, or present, and that state reaches the disk.
  for (int i = first; i < last; ++i) {
    if (toNew) {
      DeleteFileA(PathOf("copy", i).c_str());
    } else {
      CopyFileA(PathOf("tight", i).c_str(), PathOf("copy", i).c_str(), TRUE);
    }
  }
  Settle("copy", first, last);
  Write("mp3infp-bench\\settled", Bytes(1));

  const double start = Now();
  for (int i = first; i < last; ++i) {
    CopyFileA(PathOf("tight", i).c_str(), PathOf("copy", i).c_str(), FALSE);
    if (flushed) Flush(PathOf("copy", i));
  }
  const double seconds = Now() - start;
  Settle("copy", first, last);
  return seconds;
}

// Seconds for the bare rewrite of files [first, last) of `bare` (copies of the files without
// room), beside which the library's rewrite is timed.
double BareRewriteAll(int first, int last, int* failures) {
  static std::vector<char> buffer;
  const double start = Now();
  for (int i = first; i < last; ++i) *failures += !BareRewrite(PathOf("bare", i), buffer);
  const double seconds = Now() - start;
  Settle("bare", first, last);
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
  const size_t kib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 4096;
  if (argc > 3) filesPerFolder = std::atoi(argv[3]);
  if (argc > 4) format = argv[4];
  TagLibrary library;
  if (count <= 0 || kib == 0 || filesPerFolder <= 0 ||
      (format != "mp3" && format != "flac" && format != "m4a") || !library.Open("mp3infp")) {
    std::fprintf(stderr,
                 "usage: Mp3infpBench [files] [KiB per file] [files per folder] [mp3|flac|m4a]; "
                 "mp3infp.dll must be beside it\n");
    return 2;
  }
  CreateDirectoryA("mp3infp-bench", nullptr);
  for (const char* kind : kKinds) {
    CreateDirectoryA(KindFolder(kind).c_str(), nullptr);
    for (int i = 0; i < count; i += filesPerFolder)
      CreateDirectoryA(FolderOf(kind, i).c_str(), nullptr);
  }
  const auto make = format == "flac" ? MakeFlac : format == "m4a" ? MakeM4a : MakeMp3;
  const Bytes roomy = make(kib * 1024, 4096);
  const Bytes tight = make(kib * 1024, 0);
  for (int i = 0; i < count; ++i) {
    if (!Write(PathOf("room", i), roomy) || !Write(PathOf("tight", i), tight) ||
        !Write(PathOf("bare", i), tight)) {
      std::fprintf(stderr, "cannot write the sample files\n");
      return 2;
    }
  }

  // The files are taken in batches, and every way of copying and saving is timed on each batch.
  // Over a long run a disk can change speed several-fold (on a virtual disk, copying to a new
  // name went from 2.3 to 15 ms per file after some 5 GB), and each way should see the same disk.
  // What a way leaves behind can also slow the next one (after the saves, whatever came next was
  // twice as slow, whichever way it was), so the order turns by one way from batch to batch.
  constexpr int kBatch = 50;
  constexpr int kWays = 7;  // the four copies, saving with and without room, the bare rewrite
  double seconds[kWays] = {};
  int failures = 0;
  for (int first = 0, batch = 0; first < count; first += kBatch, ++batch) {
    const int last = std::min(count, first + kBatch);
    for (int k = 0; k < kWays; ++k) {
      const int way = (batch + k) % kWays;
      if (way < 4) {
        seconds[way] += CopyAll(static_cast<Copy>(way), first, last);
      } else if (way == 6) {
        seconds[way] += BareRewriteAll(first, last, &failures);
      } else {
        seconds[way] += SaveAll(library, way == 4 ? "room" : "tight", first, last, &failures);
      }
    }
  }
  const double* copying = seconds;
  const double inPlace = seconds[4], rewriting = seconds[5], bare = seconds[6];

  DeleteFileA("mp3infp-bench\\settled");
  for (const char* kind : kKinds) {
    for (int i = 0; i < count; ++i) DeleteFileA(PathOf(kind, i).c_str());
    for (int i = 0; i < count; i += filesPerFolder) RemoveDirectoryA(FolderOf(kind, i).c_str());
    RemoveDirectoryA(KindFolder(kind).c_str());
  }
  RemoveDirectoryA("mp3infp-bench");

  const auto perFile = [&](double total) { return total * 1000.0 / count; };
  std::printf("%d %s files of %zu KiB, %d per folder\n", count, format.c_str(), kib,
              filesPerFolder);
  const char* kCopyNames[] = {"to a new file", "to a new file, flushed", "over the last copy",
                              "over it, flushed"};
  for (int i = 0; i < 4; ++i) {
    std::printf("copying %-24s %8.3f ms per file\n", kCopyNames[i], perFile(copying[i]));
  }
  std::printf("saving, room in the padding: %8.3f ms per file (target < 2 ms)\n", perFile(inPlace));
  std::printf(
      "saving, no room (rewritten): %8.3f ms per file; x copying: %.2f, %.2f, %.2f, %.2f "
      "(target <= 1.2 x)\n",
      perFile(rewriting), rewriting / copying[0], rewriting / copying[1], rewriting / copying[2],
      rewriting / copying[3]);
  std::printf("bare rewrite (read, write beside, flush, rename): %8.3f ms per file; no room x it: "
              "%.2f\n",
              perFile(bare), rewriting / bare);
  std::printf("failed saves: %d\n", failures);
  return failures ? 1 : 0;
}
