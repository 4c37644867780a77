// Fuzz target of the Ogg code: parse any bytes, set values, plan the save, carry it out in memory
// and parse the result again. Whatever the input, nothing may crash, and a file that is written
// must read back with the values set, the vendor and every other item unchanged, and every page
// after the headers as it was but for its sequence number, with a right checksum wherever the
// input's was right.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "mp3infp/OggFile.h"

namespace {

using namespace mp3infp;

#define Check(condition) \
  ((condition) ? void() : (std::fprintf(stderr, "check failed, line %d\n", __LINE__), std::abort()))

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
  const auto& codec = SystemCodec();
  (void)file->Stream();
  const auto others = Others(*file);
  const std::string vendor = file->vendor();

  // "表示テスト" in code page 932, written as bytes: the fuzz build's literals are UTF-8. Every
  // third size also sets a comment too long for one page, so that the pages after the headers
  // get renumbered.
  const std::string japanese = "\x95\x5C\x8E\xA6\x83\x65\x83\x58\x83\x67";
  std::vector<std::pair<std::string, std::string>> values = {
      {"INAM", japanese}, {"IART", "Artist"}, {"TRACK", "12"}};
  if (size % 3 == 0) values.push_back({"ICMT", std::string(70000, 'c')});
  for (const auto& [name, value] : values) {
    if (!file->Set(*ParseValueName(name), value, codec)) return 0;
  }
  const auto plan = file->Plan();
  if (!file->writable()) Check(!plan);
  if (!plan) return 0;

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
  const auto reread = OggFile::Parse(again);
  Check(reread && reread->writable() && reread->kind() == file->kind());
  for (const auto& [name, value] : values) {
    Check(reread->Get(*ParseValueName(name), codec) == value);
  }
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
