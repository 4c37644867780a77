// Fuzz target of the MP4 format: parse any bytes, set the seven fields, plan the save, carry it
// out in memory and parse the result again. Whatever the input, nothing may crash, and a file
// that is written must read back with the values set, keep the bytes before moov, and keep the
// bytes after moov (and the free boxes it took) in order.
#include <cstdint>
#include <string>

#include "mp3infp/Mp4File.h"
#include "mp3infp/Padding.h"
#include "tests/mp3infp/FuzzSave.h"

namespace {

using namespace mp3infp;

// The top-level boxes, read apart from the parser: where moov and the free boxes right after it
// begin and end. Nothing when there is no moov; the boxes end where a header does not fit (what
// follows moov may be bytes of no box).
struct TopLevel {
  uint64_t moovBegin = 0, moovEnd = 0, roomEnd = 0;
};
std::optional<TopLevel> ReadTopLevel(const Bytes& file) {
  TopLevel top;
  bool moov = false, afterMoov = false;
  for (uint64_t at = 0; at < file.size();) {
    if (file.size() - at < 8) break;
    uint64_t size = ReadBigEndian32(&file[at]), header = 8;
    if (size == 1) {
      if (file.size() - at < 16) break;
      size = uint64_t(ReadBigEndian32(&file[at + 8])) << 32 | ReadBigEndian32(&file[at + 12]);
      header = 16;
    } else if (size == 0) {
      size = file.size() - at;
    }
    if (size < header || size > file.size() - at) break;
    const std::string type(file.begin() + at + 4, file.begin() + at + 8);
    if (afterMoov && (type == "free" || type == "skip")) {
      top.roomEnd = at + size;
    } else {
      afterMoov = false;
    }
    if (type == "moov" && !moov) {
      moov = afterMoov = true;
      top.moovBegin = at, top.moovEnd = top.roomEnd = at + size;
    }
    at += size;
  }
  if (!moov) return std::nullopt;
  return top;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1 << 20)) return 0;
  const Bytes input(data, data + size);
  MemorySource source(input);
  auto file = Mp4File::Parse(source);
  if (!file) return 0;
  const auto& codec = SystemCodec();
  (void)file->Stream();
  for (int field = 0; field < 7; ++field) (void)file->Get({Field(field), TagKind::kDefault}, codec);

  // Which fields are set (and whether some are emptied) depends on the size, so that in place,
  // grown-into-free and rewritten saves all get exercised without spending input bytes.
  fuzzing::Values values = {
      {"INAM", fuzzing::kJapanese},
      {"TRACK", (size / 2) % 2 ? "7" : "7/9"},
      {"IGNR", (size / 4) % 2 ? "" : "Jazz"},
      {"ICMT", std::string(size % 97 * 13, 'c')},
  };
  if ((size / 8) % 2) values.push_back({"IART", "Artist"});
  const auto saved = fuzzing::SaveInMemory(*file, input, values, true);
  if (!saved) {
    Check(!file->writable());
    return 0;
  }
  const Bytes& output = *saved;
  // An emptied field is gone; a track keeps the total that was there.
  fuzzing::Reread(
      output, *file, values, Mp4File::Parse,
      [](ValueName name, const std::string& set, const std::optional<std::string>& got) {
        if (set.empty()) return !got;
        if (name.field == Field::kTrack) return got && got->starts_with("7");
        return got == set;
      });
  const auto before = ReadTopLevel(input), after = ReadTopLevel(output);
  Check(before && after);
  Check(before->moovBegin == after->moovBegin);
  Check(std::equal(input.begin(), input.begin() + before->moovBegin, output.begin()));
  // What follows moov and its free room, whether moved or not, is kept byte for byte.
  const uint64_t tail = input.size() - before->roomEnd;
  Check(output.size() >= tail);
  Check(std::equal(input.begin() + before->roomEnd, input.end(), output.end() - tail));
  // A large room is not pulled into moov: it grows by the new items and the padding at most.
  const uint64_t newItems = 4096;
  Check(after->moovEnd - after->moovBegin <=
        before->moovEnd - before->moovBegin + newItems + MostPadding(input.size()));
  return 0;
}
