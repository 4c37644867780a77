// Fuzz target of FLAC files: parse any bytes, set values, plan the save, carry it out in memory
// and parse the result again. Whatever the input, nothing may crash, and a file that is written
// must read back with the values set, with every item not set, the vendor string, every block
// other than comment and padding, whatever stands before "fLaC" and the audio unchanged, and
// exactly one comment block.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "mp3infp/FlacFile.h"

namespace {

using namespace mp3infp;

#define Check(condition) \
  ((condition) ? void() : (std::fprintf(stderr, "check failed, line %d\n", __LINE__), std::abort()))

struct Kept {
  uint8_t type;
  Bytes body;
  bool operator==(const Kept&) const = default;
};

std::vector<Kept> OtherBlocks(const Bytes& file, const FlacFile& flac) {
  std::vector<Kept> blocks;
  for (const auto& block : flac.blocks()) {
    if (block.type == FlacFile::kPadding || block.type == FlacFile::kVorbisComment) continue;
    blocks.push_back({block.type, Bytes(file.begin() + block.offset + 4,
                                        file.begin() + block.offset + 4 + block.length)});
  }
  return blocks;
}

// The items whose names are none of the fields set.
std::vector<std::string> OtherItems(const FlacFile& flac) {
  std::vector<std::string> items;
  if (!flac.comment()) return items;
  for (const std::string& item : flac.comment()->items()) {
    std::string name = item.substr(0, item.find('='));
    for (char& c : name) c = char(std::toupper(static_cast<unsigned char>(c)));
    if (name != "TITLE" && name != "ARTIST" && name != "TRACKNUMBER" && name != "COMMENT")
      items.push_back(item);
  }
  return items;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1 << 20)) return 0;
  const Bytes input(data, data + size);
  MemorySource source(input);
  const auto file = FlacFile::Parse(source);
  if (!file) return 0;
  const auto& codec = SystemCodec();
  // The size picks short or long values, so that both the in-place and the rewriting paths run.
  const std::string japanese = "\x95\x5C\x8E\xA6\x83\x65\x83\x58\x83\x67";
  const std::string longer = (size / 2) % 2 ? std::string(300, 'x') : "";
  const std::vector<std::pair<std::string, std::string>> values = {
      {"INAM", japanese}, {"IART", "Artist" + longer}, {"TRACK", "12"}, {"ICMT", japanese + "!"}};
  for (const auto& [name, value] : values) Check(file->Set(*ParseValueName(name), value, codec));
  const auto plan = file->Plan();
  if (!plan) {
    Check(!file->writable());
    return 0;
  }
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
  if (plan->InPlace()) Check(output.size() >= input.size());

  MemorySource again(output);
  const auto reread = FlacFile::Parse(again);
  Check(reread != nullptr);
  Check(reread->writable());
  for (const auto& [name, value] : values) {
    const auto got = reread->Get(*ParseValueName(name), codec);
    Check(got && *got == value);
  }
  int comments = 0;
  for (const auto& block : reread->blocks()) comments += block.type == FlacFile::kVorbisComment;
  Check(comments == 1);
  Check(reread->comment()->vendor() == (file->comment() ? file->comment()->vendor() : ""));
  MemorySource original(input);
  const auto before = FlacFile::Parse(original);
  Check(OtherItems(*before) == OtherItems(*reread));
  Check(OtherBlocks(input, *before) == OtherBlocks(output, *reread));
  const uint64_t head = before->blocks().front().offset;
  Check(reread->blocks().front().offset == head);
  Check(std::equal(input.begin(), input.begin() + head, output.begin()));
  Check(output.size() - reread->audioStart() == input.size() - before->audioStart());
  Check(std::equal(input.begin() + before->audioStart(), input.end(),
                   output.begin() + reread->audioStart()));
  return 0;
}
