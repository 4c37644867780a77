// Fuzz target of MPEG and RIFF (RF64 too) files with their ID3 and INFO tags: parse any bytes, set
// values, plan the save, carry it out in memory and parse the result again. Whatever the input,
// nothing may crash, and a file that is written must read back with the values set, no frame of
// a field set twice, every frame not set unchanged and the audio (bytes before the first frame
// included, or the RIFF data chunk) unchanged.
#include <algorithm>
#include <cstdint>
#include <string>

#include "mp3infp/Id3File.h"
#include "tests/mp3infp/FuzzSave.h"

namespace {

using namespace mp3infp;

bool IsOurFrame(const std::string& id) {
  for (const char* ours : {"TPE1", "TALB", "TIT2", "TRCK", "TCON", "TYER", "TDAT", "TDRC", "COMM",
                           "TP1", "TAL", "TT2", "TRK", "TCO", "TYE", "TDA", "COM"}) {
    if (id == ours) return true;
  }
  return false;
}

struct KeptFrame {
  std::string id;
  uint16_t flags;
  Bytes payload;
};

std::vector<KeptFrame> OtherFrames(const Id3File& file) {
  std::vector<KeptFrame> frames;
  if (!file.id3v2()) return frames;
  for (const auto& frame : file.id3v2()->frames()) {
    if (!IsOurFrame(frame->id())) frames.push_back({frame->id(), frame->flags(), frame->payload()});
  }
  return frames;
}

// The bytes between the ID3v2 tag and the ID3v1 tag of an MPEG file. The tag ends where its
// header says, or, when that claims the head of the audio, a little before.
Bytes Audio(const Bytes& file, const Id3File& parsed) {
  uint64_t begin = 0;
  if (file.size() >= 10 && parsed.kind() == FileKind::kMp3) {
    const uint64_t declared = Id3v2Tag::TotalSize(file.data()).value_or(0);
    const uint64_t end = parsed.id3v2End() ? parsed.id3v2End() : declared;
    Check(end <= declared && declared - end <= Id3v2Tag::kMaxOvershoot);
    begin = std::min<uint64_t>(end, file.size());
  }
  uint64_t end = file.size();
  if (parsed.id3v1() && end >= 128 && file[end - 128] == 'T') end -= 128;
  if (end < begin) return {};
  return Bytes(file.begin() + begin, file.begin() + end);
}

Bytes DataChunk(const Bytes& file) {
  MemorySource source(file);
  const auto layout = RiffLayout::Parse(source);
  if (!layout) return {};
  for (const auto& chunk : layout->chunks) {
    if (chunk.id == "data")
      return Bytes(file.begin() + chunk.DataOffset(),
                   file.begin() + chunk.DataOffset() + chunk.size);
  }
  return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1 << 20)) return 0;
  const Bytes input(data, data + size);
  MemorySource source(input);
  // The size also picks the extension and whether empty tags are made first, so that every
  // path gets exercised without spending input bytes on choices.
  const char* extension = (size / 4) % 2 ? ".wav" : ".mp3";
  const auto parsedFile = ParseAudioFile(source, extension);
  auto* id3 = dynamic_cast<Id3File*>(parsedFile.get());
  if (!id3) return 0;
  Id3File& file = *id3;
  const auto otherFrames = OtherFrames(file);
  const Bytes audio = Audio(input, file);
  const Bytes dataChunk = DataChunk(input);

  // Which names to set depends on the size, so that every kind gets exercised.
  const char* kSuffixes[] = {"", "_v1", "_v2", "_rmp"};
  const std::string suffix = kSuffixes[size % 4];
  const fuzzing::Values values = {{"INAM" + suffix, fuzzing::kJapanese},
                                  {"IART" + suffix, "Artist"},
                                  {"TRACK" + suffix, "12"},
                                  {"ICMT" + suffix, fuzzing::kJapanese + "!"},
                                  {"ICRD" + suffix, (size / 16) % 2 ? "2024-05-01" : "2024"}};
  if ((size / 8) % 2) {
    file.AddId3v1();
    file.AddId3v2();
  }
  const auto saved = fuzzing::SaveInMemory(file, input, values, false);
  if (!saved) return 0;
  const Bytes& output = *saved;
  const auto rereadFile = fuzzing::Reread(
      output, file, values, [&](ByteSource& again) { return ParseAudioFile(again, extension); },
      [](ValueName parsed, const std::string& value, const std::optional<std::string>& got) {
        if (!got) return false;
        if (parsed.tag == TagKind::kId3v2 && parsed.field == Field::kYear && value == "2024") {
          // A year keeps the day of that year that the tag may hold.
          return *got == value || got->starts_with(value + "-");
        }
        if (parsed.tag == TagKind::kId3v2 || parsed.tag == TagKind::kRiffInfo) {
          return *got == (parsed.field == Field::kTrack ? "12" : value);
        }
        if (parsed.tag == TagKind::kId3v1 && parsed.field == Field::kYear) return *got == "2024";
        return true;
      });
  const auto* rereadId3 = dynamic_cast<const Id3File*>(rereadFile.get());
  Check(rereadId3 != nullptr);
  const Id3File& reread = *rereadId3;
  // Every frame we did not set, in order, with its bytes; a 2.4 frame may now carry the
  // unsynchronisation flag that its tag header carried before.
  const auto after = OtherFrames(reread);
  Check(after.size() == otherFrames.size());
  for (size_t i = 0; i < after.size(); ++i) {
    Check(after[i].id == otherFrames[i].id);
    Check(after[i].payload == otherFrames[i].payload);
    Check((after[i].flags & ~0x0002) == (otherFrames[i].flags & ~0x0002));
  }
  // A field set into the ID3v2 tag leaves no second frame of it with an old value.
  if (reread.id3v2() && (suffix.empty() || suffix == "_v2")) {
    for (const char* id : {"TPE1", "TIT2", "TRCK", "TP1", "TT2", "TRK"}) {
      const auto& frames = reread.id3v2()->frames();
      Check(std::count_if(frames.begin(), frames.end(),
                          [&](const auto& frame) { return frame->id() == id; }) <= 1);
    }
  }
  if (file.kind() == FileKind::kMp3) {
    Check(Audio(output, reread) == audio);
  } else {
    Check(DataChunk(output) == dataChunk);
  }
  return 0;
}
