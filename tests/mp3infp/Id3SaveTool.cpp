// Sets values into an MPEG or RIFF file as the library does, for the independent-reader checks:
//   Id3SaveTool IN OUT [NAME=VALUE]...   (values in code page 932; IN's extension counts)
// Writes OUT and prints "in place" or "rewritten"; exit status 2 when the file is refused.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "mp3infp/Id3File.h"

int main(int argc, char** argv) {
  using namespace mp3infp;
  if (argc < 3) return 1;
  std::ifstream in(argv[1], std::ios::binary);
  const Bytes old((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string path = argv[1];
  MemorySource source(old);
  auto file = ParseAudioFile(source, path.substr(std::min(path.size(), path.rfind('.'))));
  if (!dynamic_cast<Id3File*>(file.get())) return 2;
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
    if (piece.kept) {
      out.write(reinterpret_cast<const char*>(old.data() + piece.offset),
                std::streamsize(piece.length));
    } else {
      out.write(reinterpret_cast<const char*>(piece.bytes.data()),
                std::streamsize(piece.bytes.size()));
    }
  }
  std::puts(plan->InPlace() ? "in place" : "rewritten");
  return out ? 0 : 1;
}
