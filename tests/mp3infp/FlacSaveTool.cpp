// Sets values into a FLAC file as the library does, for the independent-reader checks
// (check_flac.py):   FlacSaveTool IN OUT [NAME=VALUE]...   (values in code page 932)
// Writes OUT and prints "in place" or "rewritten"; exit status 2 when the file is refused.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "mp3infp/FlacFile.h"

int main(int argc, char** argv) {
  using namespace mp3infp;
  if (argc < 3) return 1;
  std::ifstream in(argv[1], std::ios::binary);
  const Bytes old((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  MemorySource source(old);
  auto file = FlacFile::Parse(source);
  if (!file) return 2;
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    const size_t equals = arg.find('=');
    const auto name = ParseValueName(arg.substr(0, equals));
    if (equals == std::string::npos || !name ||
        !file->Set(*name, arg.substr(equals + 1), SystemCodec()))
      return 2;
  }
  const auto plan = file->Plan();
  if (!plan) return 2;
  std::ofstream out(argv[2], std::ios::binary);
  for (const auto& piece : plan->pieces) {
    const uint8_t* bytes = piece.kept ? old.data() + piece.offset : piece.bytes.data();
    out.write(reinterpret_cast<const char*>(bytes),
              std::streamsize(piece.kept ? piece.length : piece.bytes.size()));
  }
  std::puts(plan->InPlace() ? "in place" : "rewritten");
  return out ? 0 : 1;
}
