// Fuzz target of the MP4 format: parse any bytes, set the seven fields, plan the save, carry it
// out in memory and parse the result again. Whatever the input, nothing may crash, and a file
// that is written must read back with the values set, keep the bytes before moov, and keep the
// bytes after moov (and the free boxes it took) in order.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "mp3infp/Mp4File.h"

namespace {

using namespace mp3infp;

#define Check(condition) \
  ((condition) ? void() : (std::fprintf(stderr, "check failed, line %d\n", __LINE__), std::abort()))

// The top-level boxes, read apart from the parser: where moov and the free boxes right after it
// begin and end. Nothing when the boxes do not tile the file.
struct TopLevel {
  uint64_t moovBegin = 0, moovEnd = 0, roomEnd = 0;
};
std::optional<TopLevel> ReadTopLevel(const Bytes& file) {
  TopLevel top;
  bool moov = false, afterMoov = false;
  for (uint64_t at = 0; at < file.size();) {
    if (file.size() - at < 8) return std::nullopt;
    uint64_t size = ReadBigEndian32(&file[at]), header = 8;
    if (size == 1) {
      if (file.size() - at < 16) return std::nullopt;
      size = uint64_t(ReadBigEndian32(&file[at + 8])) << 32 | ReadBigEndian32(&file[at + 12]);
      header = 16;
    } else if (size == 0) {
      size = file.size() - at;
    }
    if (size < header || size > file.size() - at) return std::nullopt;
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
  const std::string japanese = "\x95\x5C\x8E\xA6\x83\x65\x83\x58\x83\x67";
  std::vector<std::pair<Field, std::string>> values = {
      {Field::kTitle, japanese},
      {Field::kTrack, (size / 2) % 2 ? "7" : "7/9"},
      {Field::kGenre, (size / 4) % 2 ? "" : "Jazz"},
      {Field::kComment, std::string(size % 97 * 13, 'c')},
  };
  if ((size / 8) % 2) values.push_back({Field::kArtist, "Artist"});
  for (const auto& [field, value] : values) {
    Check(file->Set({field, TagKind::kDefault}, value, codec));
  }
  const auto plan = file->Plan();
  if (!plan) {
    Check(!file->writable());
    return 0;
  }
  Check(file->writable());

  Bytes output;
  for (const auto& piece : plan->pieces) {
    if (piece.kept) {
      Check(piece.offset + piece.length <= input.size());
      output.insert(output.end(), input.begin() + piece.offset,
                    input.begin() + piece.offset + piece.length);
    } else {
      output.insert(output.end(), piece.bytes.begin(), piece.bytes.end());
    }
  }
  Check(output.size() == plan->NewSize());

  MemorySource again(output);
  const auto reread = Mp4File::Parse(again);
  Check(reread && reread->writable());
  for (const auto& [field, value] : values) {
    const auto got = reread->Get({field, TagKind::kDefault}, codec);
    if (value.empty()) {
      Check(!got);
    } else if (field == Field::kTrack) {
      Check(got && got->starts_with("7"));
    } else {
      Check(got == value);
    }
  }
  const auto before = ReadTopLevel(input), after = ReadTopLevel(output);
  Check(before && after);
  Check(before->moovBegin == after->moovBegin);
  Check(std::equal(input.begin(), input.begin() + before->moovBegin, output.begin()));
  // What follows moov and its free room, whether moved or not, is kept byte for byte.
  const uint64_t tail = input.size() - before->roomEnd;
  Check(output.size() >= tail);
  Check(std::equal(input.begin() + before->roomEnd, input.end(), output.end() - tail));
  return 0;
}
