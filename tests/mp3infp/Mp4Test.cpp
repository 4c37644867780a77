// MP4 files: the ilst items of the seven fields, the layouts a save meets (moov before or after
// mdat, stco or co64, free room or none, no udta), the stream, and malformed boxes.
#include <gtest/gtest.h>

#include <algorithm>

#include "mp3infp/Mp4File.h"
#include "tests/mp3infp/FormatTestSupport.h"
#include "tests/mp3infp/Mp4Samples.h"

namespace {

using namespace samples;

std::unique_ptr<mp3infp::Mp4File> ParseMp4(const Bytes& bytes) {
  mp3infp::MemorySource source(bytes);
  return mp3infp::Mp4File::Parse(source);
}

// The file after setting `values`; empty when refused.
Bytes SaveMp4(const Bytes& old, const Values& values, bool* inPlace = nullptr) {
  auto file = ParseMp4(old);
  if (!file) return {};
  for (const auto& [name, value] : values) {
    if (!file->Set(*mp3infp::ParseValueName(name), value, mp3infp::SystemCodec())) return {};
  }
  const auto plan = file->Plan();
  if (!plan) return {};
  if (inPlace) *inPlace = plan->InPlace();
  return Apply(old, *plan);
}

std::string GetMp4(const Bytes& bytes, const char* name) {
  const auto file = ParseMp4(bytes);
  return file->Get(*mp3infp::ParseValueName(name), mp3infp::SystemCodec()).value_or("<none>");
}

uint64_t Be(const Bytes& b, size_t at, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | b[at + i];
  return v;
}

// A reader of its own, apart from the one under test: the payload range of the box at `path`
// ("moov/udta/meta/ilst"), opening meta's version and flags.
std::optional<std::pair<size_t, size_t>> Find(const Bytes& b, std::string_view path,
                                              size_t begin = 0, size_t end = SIZE_MAX) {
  end = std::min(end, b.size());
  const std::string_view name = path.substr(0, path.find('/'));
  for (size_t at = begin; at + 8 <= end;) {
    uint64_t size = Be(b, at, 4), header = 8;
    if (size == 1) size = Be(b, at + 8, 8), header = 16;
    if (size == 0) size = end - at;
    if (size < header || at + size > end) return std::nullopt;
    if (std::string_view(reinterpret_cast<const char*>(&b[at + 4]), 4) == name) {
      size_t payload = at + header + (name == "meta" ? 4 : 0);
      if (name.size() == path.size()) return std::pair{payload, at + size};
      return Find(b, path.substr(name.size() + 1), payload, at + size);
    }
    at += size;
  }
  return std::nullopt;
}

std::vector<uint64_t> ChunkOffsets(const Bytes& b) {
  std::vector<uint64_t> offsets;
  for (const char* type : {"stco", "co64"}) {
    const auto box = Find(b, std::string("moov/trak/mdia/minf/stbl/") + type);
    if (!box) continue;
    const int width = type[1] == 't' ? 4 : 8;
    for (uint64_t i = 0; i < Be(b, box->first + 4, 4); ++i)
      offsets.push_back(Be(b, box->first + 8 + width * i, width));
  }
  return offsets;
}

Bytes Slice(const Bytes& b, std::pair<size_t, size_t> range) {
  return Bytes(b.begin() + range.first, b.begin() + range.second);
}

bool Contains(const Bytes& haystack, const Bytes& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
         haystack.end();
}

const Bytes kFreeform = Mp4Freeform("iTunNORM", " 00000001 00000002");
const Bytes kCover = Mp4Item("covr", Bytes(700, 0xCC), 13);

Bytes TaggedUdta(std::vector<Bytes> extra = {}) {
  std::vector<Bytes> ilst{Mp4Text(C("nam"), "Old title"), kFreeform, Mp4Track(2, 12), kCover};
  std::vector<Bytes> meta{Mp4Box("ilst", ilst)};
  meta.insert(meta.end(), extra.begin(), extra.end());
  return Mp4Box("udta", {Mp4Meta(meta)});
}

// Every layout saved: the values read back, every chunk offset still points at the same audio
// bytes, the items not set are kept byte for byte, and a second save of the same size fits in
// place.
TEST(Mp4, SavesInEveryLayoutKeepingTheAudioWhereItsOffsetsSay) {
  struct Case {
    const char* name;
    Mp4Layout layout;
    bool inPlace;
  };
  const auto layout = [](bool moovFirst, bool co64, Bytes udta, uint32_t freeAfter = 0) {
    Mp4Layout l;
    l.moovFirst = moovFirst, l.co64 = co64, l.udta = std::move(udta), l.freeAfterMoov = freeAfter;
    return l;
  };
  const Case cases[] = {
      {"moov first, no room", layout(true, false, TaggedUdta()), false},
      {"moov last, no room", layout(false, false, TaggedUdta()), true},
      {"co64, moov first", layout(true, true, TaggedUdta()), false},
      {"free in meta", layout(true, false, TaggedUdta({Mp4Free(600)})), true},
      {"free after moov", layout(true, false, TaggedUdta(), 900), true},
      {"no udta", layout(true, false, {}), false},
      {"no udta, moov last", layout(false, true, {}), true},
      {"udta without meta", layout(true, false, Mp4Box("udta", {Mp4Box("cprt", Of("xx"))})), false},
      {"meta without ilst", layout(true, false, Mp4Box("udta", {Mp4Meta({Mp4Free(16)})})), false},
      {"QuickTime udta terminator",
       layout(true, false,
              [] {
                Bytes udta = TaggedUdta();
                udta.insert(udta.end(), 4, 0);
                udta[3] += 4;
                return udta;
              }()),
       false},
  };
  const Values values{{"IART", "新しい人"},
                      {"IPRD", "Album"},
                      {"INAM", "Title"},
                      {"TRACK", "5"},
                      {"IGNR", "Jazz"},
                      {"ICRD", "2024"},
                      {"ICMT", std::string(300, 'c')}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes old = Mp4File(c.layout);
    const auto oldMdat = Find(old, "mdat");
    ASSERT_TRUE(ParseMp4(old)->writable());
    bool inPlace = false;
    const Bytes saved = SaveMp4(old, values, &inPlace);
    ASSERT_FALSE(saved.empty());
    EXPECT_EQ(c.inPlace, inPlace);
    for (const auto& [name, value] : values) {
      if (name != "TRACK") {
        EXPECT_EQ(value, GetMp4(saved, name.c_str()));
      }
    }
    // The total of a tagged sample is kept.
    EXPECT_EQ(Contains(old, kCover) ? "5/12" : "5", GetMp4(saved, "TRACK"));
    EXPECT_EQ(Slice(old, *oldMdat), Slice(saved, *Find(saved, "mdat")));
    const auto oldOffsets = ChunkOffsets(old), newOffsets = ChunkOffsets(saved);
    ASSERT_EQ(oldOffsets.size(), newOffsets.size());
    for (size_t i = 0; i < oldOffsets.size(); ++i) {
      ASSERT_LE(newOffsets[i] + c.layout.chunkSize, saved.size());
      EXPECT_TRUE(std::equal(old.begin() + oldOffsets[i],
                             old.begin() + oldOffsets[i] + c.layout.chunkSize,
                             saved.begin() + newOffsets[i]));
    }
    const auto ilst = Find(saved, "moov/udta/meta/ilst");
    ASSERT_TRUE(ilst);
    if (!c.layout.udta.empty() && Contains(old, kCover)) {
      EXPECT_TRUE(Contains(Slice(saved, *ilst), kFreeform));
      EXPECT_TRUE(Contains(Slice(saved, *ilst), kCover));
    }
    EXPECT_TRUE(Find(saved, "moov/udta/meta/hdlr"));
    EXPECT_EQ(mp3infp::FileKind::kMp4, ParseMp4(saved)->kind());
    EXPECT_TRUE(ParseMp4(saved)->writable());

    bool again = false;
    const Bytes second = SaveMp4(saved, {{"INAM", "Other"}, {"IART", "Someone else"}}, &again);
    EXPECT_TRUE(again);
    EXPECT_EQ(saved.size(), second.size());
    EXPECT_EQ("Other", GetMp4(second, "INAM"));
    EXPECT_EQ("Album", GetMp4(second, "IPRD"));
  }
}

TEST(Mp4, FieldsReplaceEveryItemOfTheirKind) {
  const Bytes gnre = Mp4Item("gnre", {0, 8}, 0);  // ID3v1 genre 7, Hip-Hop
  const Bytes noData = Mp4Box(C("cmt"), {Mp4Box("xxxx", Of("no data here"))});
  struct Case {
    std::vector<Bytes> items;
    Values set;
    const char* name;
    const char* expected;  // "<refused>" when Set refuses
  };
  const Case cases[] = {
      {{Mp4Track(3, 12)}, {}, "TRACK", "3/12"},
      {{Mp4Track(3, 0)}, {}, "TRACK", "3"},
      {{Mp4Track(3, 12)}, {{"TRACK", "7"}}, "TRACK", "7/12"},
      {{Mp4Track(3, 12)}, {{"TRACK", " 8 / 10 "}}, "TRACK", "8/10"},
      {{}, {{"TRACK", "65535"}}, "TRACK", "65535"},
      {{Mp4Track(3, 12)}, {{"TRACK", "A1"}}, "TRACK", "<refused>"},
      {{}, {{"TRACK", "65536"}}, "TRACK", "<refused>"},
      {{}, {{"TRACK", "1/"}}, "TRACK", "<refused>"},
      {{Mp4Track(3, 12)}, {{"TRACK", ""}}, "TRACK", "<none>"},
      {{gnre}, {}, "IGNR", "Hip-Hop"},
      {{gnre, Mp4Text(C("gen"), "Text")}, {}, "IGNR", "Text"},
      {{gnre}, {{"IGNR", "Rock"}}, "IGNR", "Rock"},
      {{Mp4Text(C("ART"), "one"), Mp4Text(C("ART"), "two")}, {{"IART", "three"}}, "IART", "three"},
      {{Mp4Box(C("ART"), {Mp4Box("data", Of("\0\0\0\1\0\0\0\0one")),
                          Mp4Box("data", Of("\0\0\0\1\0\0\0\0two"))})},
       {{"IART", "three"}},
       "IART",
       "three"},
      {{Mp4Text(C("ART"), "one")}, {{"IART", ""}}, "IART", "<none>"},
      {{noData, Mp4Text(C("cmt"), "second")}, {}, "ICMT", "second"},
      {{noData}, {}, "ICMT", "<none>"},
      {{Mp4Item(C("nam"), {0, 'A', 0x30, 0x42}, 2)}, {}, "INAM", "Aあ"},  // UTF-16
      {{Mp4Text(C("nam"), "x")}, {{"INAM_v2", "y"}}, "INAM", "<refused>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " -> " + c.expected);
    Mp4Layout layout;
    layout.udta = Mp4Box("udta", {Mp4Meta({Mp4Box("ilst", c.items)})});
    const Bytes old = Mp4File(layout);
    const Bytes saved = SaveMp4(old, c.set);
    if (std::string_view(c.expected) == "<refused>") {
      EXPECT_TRUE(saved.empty());
      continue;
    }
    ASSERT_FALSE(saved.empty());
    EXPECT_EQ(c.expected, GetMp4(saved, c.name));
    const Bytes ilst = Slice(saved, *Find(saved, "moov/udta/meta/ilst"));
    if (!c.set.empty() && c.set[0].first == "IGNR") {
      EXPECT_FALSE(Contains(ilst, gnre));
    }
    if (!c.set.empty() && c.set[0].first == "IART") {
      EXPECT_FALSE(Contains(ilst, Of("one")));
      EXPECT_FALSE(Contains(ilst, Of("two")));
    }
  }
}

TEST(Mp4, NewItemsAreUtf8TextWithLocaleZero) {
  const Bytes saved = SaveMp4(Mp4File({}), {{"INAM", "表"}, {"TRACK", "4/9"}});
  const Bytes ilst = Slice(saved, *Find(saved, "moov/udta/meta/ilst"));
  EXPECT_EQ(ilst, [] {
    Bytes out = Mp4Text(C("nam"), "\xE8\xA1\xA8");
    Append(out, Mp4Track(4, 9));
    return out;
  }());
  // The handler that makes readers take the items as iTunes metadata.
  const Bytes hdlr = Slice(saved, *Find(saved, "moov/udta/meta/hdlr"));
  EXPECT_EQ(Of("mdirappl"), Bytes(hdlr.begin() + 8, hdlr.begin() + 16));
}

TEST(Mp4, StreamFromTheSampleDescription) {
  Mp4Layout aac, alac;
  alac.alac = true;
  const auto a = ParseMp4(Mp4File(aac))->Stream();
  EXPECT_EQ("MP4 (AAC)", a.format);
  EXPECT_EQ(44100u, a.sampleRate);
  EXPECT_EQ(2u, a.channels);
  EXPECT_DOUBLE_EQ(2.0, a.seconds);
  EXPECT_EQ(128000u, a.bitRate);
  const auto l = ParseMp4(Mp4File(alac))->Stream();
  EXPECT_EQ("MP4 (ALAC)", l.format);
  EXPECT_EQ(44100u, l.sampleRate);
  EXPECT_EQ(2u, l.channels);
  EXPECT_EQ(705000u, l.bitRate);
}

// Malformed and unusual files: read as far as they go, written only when every box we would
// rewrite is understood, never a crash.
TEST(Mp4, MalformedBoxesAreRefusedOrHandled) {
  const Bytes good = Mp4File({.moovFirst = false, .udta = TaggedUdta()});
  const auto moov = Find(good, "moov");
  const size_t moovAt = moov->first - 8;
  const auto patched = [&](size_t at, std::vector<uint8_t> bytes) {
    Bytes b = good;
    std::copy(bytes.begin(), bytes.end(), b.begin() + at);
    return b;
  };
  const auto moov64 = [&] {
    Bytes b(good.begin(), good.begin() + moovAt);
    Append(b, Mp4Box64("moov", Bytes(good.begin() + moov->first, good.end())));
    return b;
  };
  const auto ilst = Find(good, "moov/udta/meta/ilst");
  const auto appended = [](Bytes b, const Bytes& tail) {
    Append(b, tail);
    return b;
  };
  Bytes id3v1 = Of("TAGOld title");
  id3v1.resize(128, 0);
  struct Case {
    const char* name;
    Bytes bytes;
    bool writable;
    size_t keptTail = 0;  // bytes at the end that are no box, kept as they were
  };
  const Case cases[] = {
      {"moov size 0, to the end", patched(moovAt, {0, 0, 0, 0}), true},
      {"moov with a 64-bit size", moov64(), true},
      {"moov past the end", patched(moovAt, {0, 1, 0, 0}), false},
      {"mdat past the end", patched(28, {0x7F, 0, 0, 0}), false},
      {"a zero byte appended", appended(good, {0}), true, 1},
      {"ID3v1 appended", appended(good, id3v1), true, 128},
      {"ID3v1 after moov first", appended(Mp4File({.udta = TaggedUdta()}), id3v1), true, 128},
      {"junk appended", appended(good, Bytes(40, 0xFF)), true, 40},
      {"ID3v1 after a box past the end", appended(appended(good, {0, 0, 1, 0, 'f', 'r', 'e', 'e'}), id3v1),
       false},
      {"box smaller than its header", patched(moovAt, {0, 0, 0, 4}), false},
      {"ilst size 0 inside", patched(ilst->first - 8, {0, 0, 0, 0}), false},
      {"ilst past meta", patched(ilst->first - 8, {0, 0, 0x10, 0}), false},
      {"stray bytes closing ilst",
       Mp4File({.udta = Mp4Box("udta", {Mp4Meta({Mp4Box(
                                            "ilst", {Mp4Text(C("ART"), "a"), Bytes{1, 2, 3}})})})}),
       true},
      {"fragmented",
       [&] {
         Bytes b = good;
         Append(b, Mp4Box("moof", Of("mfhd")));
         return b;
       }(),
       false},
      {"64-bit size in 12 bytes",
       [&] {
         Bytes b = good;
         Append(b, {0, 0, 0, 1, 'f', 'r', 'e', 'e', 0, 0, 0, 0});
         return b;
       }(),
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto file = ParseMp4(c.bytes);
    ASSERT_TRUE(file);
    EXPECT_EQ(c.writable, file->writable());
    const Bytes saved = SaveMp4(c.bytes, {{"INAM", "new"}, {"TRACK", "1"}});
    ASSERT_EQ(c.writable, !saved.empty());
    if (c.writable) {
      EXPECT_EQ("new", GetMp4(saved, "INAM"));
      EXPECT_TRUE(ParseMp4(saved)->writable());
      EXPECT_EQ(Slice(c.bytes, *Find(c.bytes, "mdat")), Slice(saved, *Find(saved, "mdat")));
      EXPECT_TRUE(std::equal(c.bytes.end() - c.keptTail, c.bytes.end(), saved.end() - c.keptTail));
    }
  }
  EXPECT_FALSE(ParseMp4(Of("RIFF\0\0\0\0WAVE")));
  EXPECT_FALSE(ParseMp4(Of("\0\0\0")));
}

// A large room after moov, or inside it, is not all pulled into moov, where it would make moov
// huge (past what a later load reads): moov keeps what the items need and a few KiB, the rest
// stays a free box of its own right after moov. The file keeps its size and the audio its place.
TEST(Mp4, LargeRoomStaysOutsideMoov) {
  const uint32_t large = 300000;  // past the most padding of a small file
  struct Case {
    const char* name;
    Mp4Layout layout;
    bool topLevelFree;  // a free box stays after moov
  };
  const auto layout = [](bool moovFirst, Bytes udta, uint32_t freeAfter) {
    Mp4Layout l;
    l.moovFirst = moovFirst, l.udta = std::move(udta), l.freeAfterMoov = freeAfter;
    return l;
  };
  const Case cases[] = {
      {"small free after moov", layout(true, TaggedUdta(), 900), false},
      {"large free after moov", layout(true, TaggedUdta(), large), true},
      {"large free after moov, no udta", layout(true, {}, large), true},
      {"large free after moov last", layout(false, TaggedUdta(), large), true},
      {"large free inside meta", layout(true, TaggedUdta({Mp4Free(large)}), 0), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes old = Mp4File(c.layout);
    bool inPlace = false;
    const Bytes saved =
        SaveMp4(old, {{"INAM", "Title"}, {"ICMT", std::string(100, 'c')}}, &inPlace);
    ASSERT_FALSE(saved.empty());
    EXPECT_TRUE(inPlace);
    EXPECT_EQ(old.size(), saved.size());
    EXPECT_EQ("Title", GetMp4(saved, "INAM"));
    EXPECT_FALSE(Contains(saved, Of("Old title")));  // no stale copy left in a free box
    EXPECT_EQ(ChunkOffsets(old), ChunkOffsets(saved));
    const auto moov = *Find(saved, "moov");
    EXPECT_LE(moov.second - moov.first, c.topLevelFree ? 16384u : 4096u);
    const auto after = Find(saved, "free", moov.second);
    EXPECT_EQ(c.topLevelFree, after && after->first == moov.second + 8);
    bool again = false;
    const Bytes second = SaveMp4(saved, {{"INAM", std::string(600, 't')}}, &again);
    EXPECT_TRUE(again);
    EXPECT_EQ(std::string(600, 't'), GetMp4(second, "INAM"));
  }
}

// A moov whose chunk offsets would pass 4 GiB after growing cannot keep them in stco.
TEST(Mp4, StcoOverflowIsRefused) {
  Mp4Layout layout;
  Bytes old = Mp4File(layout);
  const auto stco = Find(old, "moov/trak/mdia/minf/stbl/stco");
  for (int i = 0; i < 4; ++i) old[stco->first + 8 + i] = 0xFF;  // first chunk near 4 GiB
  // The offset points past the end, which only the move could notice.
  EXPECT_TRUE(SaveMp4(old, {{"INAM", "x"}}).empty());
}

}  // namespace
