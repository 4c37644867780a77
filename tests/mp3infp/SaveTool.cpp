// Sets values into a file as the library does, for the independent-reader checks
// (check_id3.py, check_flac.py, check_mp4.py, check_ogg.py):
//   SaveTool IN OUT [NAME=VALUE]...   values in code page 932; IN's extension counts
//     writes OUT, prints "in place" or "rewritten"; exit status 2 when the file is refused
//   SaveTool info IN                  an Ogg file's stream as the library describes it
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "mp3infp/AudioFile.h"
#include "mp3infp/OggFile.h"

using namespace mp3infp;

namespace {

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Extension(const std::string& path) {
  const size_t dot = path.rfind('.');
  return dot == std::string::npos ? "" : path.substr(dot);
}

int Info(const OggFile& file) {
  const StreamInfo info = file.Stream();
  std::printf("format=%s\nwritable=%d\nrate=%u\nchannels=%u\nseconds=%.3f\nbitrate=%u\n",
              info.format.c_str(), file.writable(), info.sampleRate, info.channels, info.seconds,
              info.bitRate);
  for (const auto& item : file.items()) std::printf("item=%s\n", item.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 1;
  const bool info = std::string(argv[1]) == "info";
  const std::string in = argv[info ? 2 : 1];
  const Bytes old = ReadBytes(in);
  MemorySource source(old);
  auto file = ParseAudioFile(source, Extension(in));
  if (info) {
    const auto* ogg = dynamic_cast<const OggFile*>(file.get());
    return ogg ? Info(*ogg) : 2;
  }
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
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  for (const auto& piece : plan->pieces) {
    const uint8_t* bytes = piece.kept ? old.data() + piece.offset : piece.bytes.data();
    out.write(reinterpret_cast<const char*>(bytes),
              std::streamsize(piece.kept ? piece.length : piece.bytes.size()));
  }
  std::puts(plan->InPlace() ? "in place" : "rewritten");
  return out ? 0 : 1;
}
