// Fuzz target of the Ogg code: parse any bytes, set values, plan the save, carry it out in memory
// and parse the result again. Whatever the input, nothing may crash, and a file that is written
// must read back with the values set, the vendor and every other item unchanged, and every page
// after the headers as it was but for its sequence number, with a right checksum wherever the
// input's was right.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>

#include "mp3infp/OggFile.h"
#include "tests/mp3infp/FuzzSave.h"

namespace {

using namespace mp3infp;

struct WalkedPage {
  Bytes masked;  // the page with its sequence number and checksum zeroed
  bool crcOk;
};

// The whole pages from the start of the file, up to the first bytes that are no page.
std::vector<WalkedPage> Walk(const Bytes& file) {
  std::vector<WalkedPage> pages;
  size_t offset = 0;
  while (file.size() - offset >= 27 &&
         std::equal(file.begin() + offset, file.begin() + offset + 4, "OggS")) {
    const size_t segments = file[offset + 26];
    if (file.size() - offset - 27 < segments) break;
    size_t length = 27 + segments;
    for (size_t i = 0; i < segments; ++i) length += file[offset + 27 + i];
    if (file.size() - offset < length) break;
    WalkedPage page{Bytes(file.begin() + offset, file.begin() + offset + length), false};
    const uint32_t crc = ReadLittleEndian32(page.masked.data() + 22);
    std::fill(page.masked.begin() + 18, page.masked.begin() + 26, 0);
    Bytes zeroed(file.begin() + offset, file.begin() + offset + length);
    std::fill(zeroed.begin() + 22, zeroed.begin() + 26, 0);
    page.crcOk = OggCrc(zeroed) == crc;
    pages.push_back(std::move(page));
    offset += length;
  }
  return pages;
}

// How many pages the first `packets` packets take.
size_t HeaderPages(const std::vector<WalkedPage>& pages, size_t packets) {
  for (size_t i = 0; i < pages.size(); ++i) {
    const Bytes& page = pages[i].masked;
    for (size_t s = 0; s < page[26]; ++s) {
      if (page[27 + s] < 255 && --packets == 0) return i + 1;
    }
  }
  return pages.size();
}

bool IsOurs(const std::string& item) {
  const auto equals = item.find('=');
  std::string name = item.substr(0, equals);
  for (char& c : name) c = char(std::toupper(static_cast<unsigned char>(c)));
  return equals != std::string::npos &&
         (name == "ARTIST" || name == "ALBUM" || name == "TITLE" || name == "TRACKNUMBER" ||
          name == "GENRE" || name == "DATE" || name == "COMMENT");
}

std::vector<std::string> Others(const OggFile& file) {
  std::vector<std::string> others;
  for (const auto& item : file.items()) {
    if (!IsOurs(item)) others.push_back(item);
  }
  return others;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1 << 20)) return 0;
  const Bytes input(data, data + size);
  MemorySource source(input);
  auto file = OggFile::Parse(source);
  if (!file) return 0;
  (void)file->Stream();
  const auto others = Others(*file);
  const std::string vendor = file->vendor();

  // Every third size also sets a comment too long for one page, so that the pages after the
  // headers get renumbered.
  fuzzing::Values values = {{"INAM", fuzzing::kJapanese}, {"IART", "Artist"}, {"TRACK", "12"}};
  if (size % 3 == 0) values.push_back({"ICMT", std::string(70000, 'c')});
  const auto saved = fuzzing::SaveInMemory(*file, input, values, false);
  if (!saved) return 0;
  const Bytes& output = *saved;
  const auto reread = fuzzing::Reread(output, *file, values, OggFile::Parse);
  Check(Others(*reread) == others);
  Check(reread->vendor() == vendor);

  const auto before = Walk(input), after = Walk(output);
  const size_t packets = file->kind() == FileKind::kOpus ? 2 : 3;
  const size_t oldHeaders = HeaderPages(before, packets), newHeaders = HeaderPages(after, packets);
  for (size_t i = 0; i < newHeaders; ++i) Check(after[i].crcOk);
  Check(before.size() - oldHeaders == after.size() - newHeaders);
  for (size_t i = oldHeaders; i < before.size(); ++i) {
    const auto& moved = after[i - oldHeaders + newHeaders];
    Check(moved.masked == before[i].masked);
    Check(moved.crcOk == before[i].crcOk);
  }
  return 0;
}
