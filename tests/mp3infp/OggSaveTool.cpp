// A command-line shell around OggFile for the reader checks (check_ogg.py): the script makes
// files with the encoders of the system, saves values into them through this tool and reads the
// result with independent readers.
//   OggSaveTool info FILE
//   OggSaveTool save IN OUT [NAME VALUE]...   values in code page 932, as the library gets them
// Exit codes: 0 done, 1 usage or file error, 3 refused (not Ogg, not writable, no plan).
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "mp3infp/OggFile.h"

using namespace mp3infp;

namespace {

bool ReadFile(const char* path, Bytes& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 1;
  const std::string command = argv[1];
  Bytes input;
  if (!ReadFile(argv[2], input)) return 1;
  MemorySource source(input);
  auto file = OggFile::Parse(source);
  if (!file) return 3;
  if (command == "info") {
    const StreamInfo info = file->Stream();
    std::printf("format=%s\nwritable=%d\nrate=%u\nchannels=%u\nseconds=%.3f\nbitrate=%u\n",
                info.format.c_str(), file->writable(), info.sampleRate, info.channels, info.seconds,
                info.bitRate);
    for (const auto& item : file->items()) std::printf("item=%s\n", item.c_str());
    return 0;
  }
  if (command != "save" || argc < 4 || argc % 2) return 1;
  for (int i = 4; i + 1 < argc; i += 2) {
    const auto name = ParseValueName(argv[i]);
    if (!name || !file->Set(*name, argv[i + 1], SystemCodec())) return 3;
  }
  const auto plan = file->Plan();
  if (!plan) return 3;
  std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
  for (const auto& piece : plan->pieces) {
    if (piece.kept) {
      out.write(reinterpret_cast<const char*>(input.data() + piece.offset),
                std::streamsize(piece.length));
    } else {
      out.write(reinterpret_cast<const char*>(piece.bytes.data()),
                std::streamsize(piece.bytes.size()));
    }
  }
  std::printf("%s\n", plan->InPlace() ? "in-place" : "rewrite");
  return out ? 0 : 1;
}
