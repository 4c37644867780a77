// Fuzz target of FLAC files: parse any bytes, set values, plan the save, carry it out in memory
// and parse the result again. Whatever the input, nothing may crash, and a file that is written
// must read back with the values set, with every item not set (those of later comments merged
// into the first), the vendor string, every block other than comment and padding (in place,
// with its stated length), whatever stands before "fLaC" and the audio unchanged, exactly one
// comment block and bounded padding right behind it.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>

#include "mp3infp/FlacFile.h"
#include "mp3infp/Padding.h"
#include "tests/mp3infp/FuzzSave.h"

namespace {

using namespace mp3infp;

// A block other than comment and padding: type, contents, and the length its header states,
// which in a slipped block is not the contents' length.
struct Kept {
  uint8_t type;
  Bytes body;
  uint32_t stated;
};

std::vector<Kept> OtherBlocks(const Bytes& file, const FlacFile& flac) {
  std::vector<Kept> blocks;
  for (const auto& block : flac.blocks()) {
    if (block.type == FlacFile::kPadding || block.type == FlacFile::kVorbisComment) continue;
    const uint8_t* header = &file[block.offset];
    blocks.push_back(
        {block.type,
         Bytes(file.begin() + block.offset + 4, file.begin() + block.offset + 4 + block.length),
         uint32_t(header[1] << 16 | header[2] << 8 | header[3])});
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
  // The size picks short or long values, so that both the in-place and the rewriting paths run.
  const std::string longer = (size / 2) % 2 ? std::string(300, 'x') : "";
  const fuzzing::Values values = {{"INAM", fuzzing::kJapanese},
                                  {"IART", "Artist" + longer},
                                  {"TRACK", "12"},
                                  {"ICMT", fuzzing::kJapanese + "!"}};
  bool inPlace = false;
  const auto saved = fuzzing::SaveInMemory(*file, input, values, true, &inPlace);
  if (!saved) {
    Check(!file->writable());
    return 0;
  }
  const Bytes& output = *saved;
  if (inPlace) Check(output.size() >= input.size());
  const auto reread = fuzzing::Reread(output, *file, values, FlacFile::Parse);
  int comments = 0;
  const auto& blocks = reread->blocks();
  for (size_t i = 0; i < blocks.size(); ++i) {
    comments += blocks[i].type == FlacFile::kVorbisComment;
    // The room right behind the comment is bounded; more stays in further blocks.
    if (i && blocks[i - 1].type == FlacFile::kVorbisComment && blocks[i].type == FlacFile::kPadding)
      Check(4 + blocks[i].length <= MostPadding(input.size()));
  }
  Check(comments == 1);
  Check(reread->comment()->vendor() == (file->comment() ? file->comment()->vendor() : ""));
  MemorySource original(input);
  const auto before = FlacFile::Parse(original);
  Check(OtherItems(*before) == OtherItems(*reread));
  // A slipped block keeps its stated length when the blocks stay where they were; a rewrite
  // states the true one.
  const auto kept = OtherBlocks(input, *before), written = OtherBlocks(output, *reread);
  Check(kept.size() == written.size());
  for (size_t i = 0; i < kept.size(); ++i) {
    Check(kept[i].type == written[i].type && kept[i].body == written[i].body);
    Check(written[i].stated == written[i].body.size() ||
          (inPlace && written[i].stated == kept[i].stated));
  }
  const uint64_t head = before->blocks().front().offset;
  Check(reread->blocks().front().offset == head);
  Check(std::equal(input.begin(), input.begin() + head, output.begin()));
  Check(output.size() - reread->audioStart() == input.size() - before->audioStart());
  Check(std::equal(input.begin() + before->audioStart(), input.end(),
                   output.begin() + reread->audioStart()));
  return 0;
}
