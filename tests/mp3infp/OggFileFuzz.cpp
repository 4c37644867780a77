// Fuzz target of the Ogg code: parse any bytes, set values, plan the save, carry it out in memory
// and parse the result again. Whatever the input, nothing may crash, and a file that is written
// must read back with the values set, the vendor and every other item unchanged; every page
// after the tagged stream's headers, of whichever stream, as it was and in its place but for the
// sequence number, with a right checksum wherever the input's was right; and the tagged stream's
// pages numbered without a hole wherever the input's were.
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
  uint32_t serial, sequence;
  bool crcOk, last;
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
    const uint8_t* p = file.data() + offset;
    WalkedPage page{Bytes(p, p + length), ReadLittleEndian32(p + 14), ReadLittleEndian32(p + 18),
                    false, bool(p[5] & 4)};
    const uint32_t crc = ReadLittleEndian32(p + 22);
    std::fill(page.masked.begin() + 18, page.masked.begin() + 26, 0);
    Bytes zeroed(p, p + length);
    std::fill(zeroed.begin() + 22, zeroed.begin() + 26, 0);
    page.crcOk = OggCrc(zeroed) == crc;
    pages.push_back(std::move(page));
    offset += length;
  }
  return pages;
}

// The pages but the tagged stream's first `headers` + 1, in order.
std::vector<const WalkedPage*> AfterHeaders(const std::vector<WalkedPage>& pages, uint32_t serial,
                                            size_t headers) {
  std::vector<const WalkedPage*> out;
  size_t ours = 0;
  for (const auto& page : pages) {
    if (page.serial != serial || ours++ > headers) out.push_back(&page);
  }
  return out;
}

// Whether the tagged stream's pages up to its end are numbered one after the other.
bool Consecutive(const std::vector<WalkedPage>& pages, uint32_t serial) {
  std::optional<uint32_t> next;
  for (const auto& page : pages) {
    if (page.serial != serial) continue;
    if (next && page.sequence != *next) return false;
    next = page.sequence + 1;
    if (page.last) break;
  }
  return true;
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
  Check(reread->serial() == file->serial());

  const auto before = Walk(input), after = Walk(output);
  const uint32_t serial = file->serial();
  // Audio that shared the last header page comes out on a page of its own, right after them.
  const size_t split = file->audioOnHeaderPage() ? 1 : 0;
  Check(!reread->audioOnHeaderPage());
  size_t ours = 0;
  for (const auto& page : after) {
    if (page.serial == serial && ours++ <= reread->headerPageCount() + split) Check(page.crcOk);
  }
  const auto kept = AfterHeaders(before, serial, file->headerPageCount());
  const auto moved = AfterHeaders(after, serial, reread->headerPageCount() + split);
  Check(kept.size() == moved.size());
  for (size_t i = 0; i < kept.size(); ++i) {
    Check(moved[i]->masked == kept[i]->masked);
    Check(moved[i]->crcOk == kept[i]->crcOk);
  }
  if (Consecutive(before, serial)) Check(Consecutive(after, serial));
  return 0;
}
