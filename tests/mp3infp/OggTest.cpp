// Ogg Vorbis and Opus: pages built here packet by packet, so that each case shows its layout
// (shared pages, packets across pages, padding, broken pages); saved, walked page by page and
// read back.
#include <gtest/gtest.h>

#include <algorithm>

#include "mp3infp/OggFile.h"
#include "tests/mp3infp/FormatTestSupport.h"

namespace {

using namespace samples;
using mp3infp::OggFile;

constexpr uint32_t kSerial = 0x12345678;

void AppendLE64(Bytes& out, uint64_t v) {
  AppendLE32(out, uint32_t(v));
  AppendLE32(out, uint32_t(v >> 32));
}

Bytes PageOf(uint8_t flags, uint64_t granule, uint32_t serial, uint32_t sequence,
             const Bytes& lacing, const Bytes& body) {
  Bytes page = Of("OggS");
  page.push_back(0);
  page.push_back(flags);
  AppendLE64(page, granule);
  AppendLE32(page, serial);
  AppendLE32(page, sequence);
  AppendLE32(page, 0);
  page.push_back(uint8_t(lacing.size()));
  Append(page, lacing);
  Append(page, body);
  const uint32_t crc = mp3infp::OggCrc(page);
  for (int i = 0; i < 4; ++i) page[22 + i] = uint8_t(crc >> (8 * i));
  return page;
}

// `packets` laid out over pages of `segments[i]` lacing values each, numbered from `sequence`.
Bytes Paged(const std::vector<Bytes>& packets, const std::vector<size_t>& segments,
            uint32_t sequence, uint64_t granule = 0, uint8_t lastFlags = 0) {
  Bytes lacing, data;
  for (const auto& packet : packets) {
    lacing.insert(lacing.end(), packet.size() / 255, 255);
    lacing.push_back(uint8_t(packet.size() % 255));
    Append(data, packet);
  }
  Bytes out;
  size_t segment = 0, position = 0;
  for (size_t i = 0; i < segments.size(); ++i) {
    const Bytes pageLacing(lacing.begin() + segment, lacing.begin() + segment + segments[i]);
    size_t length = 0;
    for (uint8_t lace : pageLacing) length += lace;
    const bool continued = segment > 0 && lacing[segment - 1] == 255;
    const uint8_t flags = uint8_t((continued ? 1 : 0) | (i + 1 == segments.size() ? lastFlags : 0));
    Append(out, PageOf(flags, granule, kSerial, sequence + uint32_t(i), pageLacing,
                       Bytes(data.begin() + position, data.begin() + position + length)));
    segment += segments[i];
    position += length;
  }
  return out;
}

Bytes Text(const std::string& text) {
  Bytes out;
  AppendLE32(out, uint32_t(text.size()));
  Append(out, Of(text));
  return out;
}

enum Codec { kVorbis, kOpus, kFlac };

// FLAC in Ogg: a metadata block, its header big-endian.
Bytes FlacBlock(uint8_t type, const Bytes& body) {
  Bytes out{type, uint8_t(body.size() >> 16), uint8_t(body.size() >> 8), uint8_t(body.size())};
  Append(out, body);
  return out;
}

Bytes CommentPacket(Codec codec, const std::vector<std::string>& items, const Bytes& tail = {}) {
  Bytes out = Text("vendor");
  AppendLE32(out, uint32_t(items.size()));
  for (const auto& item : items) Append(out, Text(item));
  if (codec == kVorbis) out.push_back(1);
  Append(out, tail);
  if (codec == kFlac) return FlacBlock(4, out);  // a padding block follows
  Bytes packet = Of(codec == kOpus ? "OpusTags" : "\x03vorbis");
  Append(packet, out);
  return packet;
}

Bytes IdPacket(Codec codec) {
  Bytes out;
  if (codec == kFlac) {
    // Two header packets follow; STREAMINFO: 44100 Hz, stereo, 16 bits, 88200 samples.
    out =
        Of("\x7F"
           "FLAC");
    out.insert(out.end(), {1, 0, 0, 2});
    Append(out, Of("fLaC"));
    Bytes info{0x10, 0, 0x10, 0, 0, 0, 0, 0, 0, 0, 0x0A, 0xC4, 0x42, 0xF0, 0, 1, 0x58, 0x88};
    info.resize(34, 0);
    Append(out, FlacBlock(0, info));
  } else if (codec == kOpus) {
    out = Of("OpusHead");
    out.insert(out.end(), {1, 2, 0x38, 0x01});  // version 1, stereo, pre-skip 312
    AppendLE32(out, 44100);
    out.insert(out.end(), {0, 0, 0});
  } else {
    out = Of("\x01vorbis");
    AppendLE32(out, 0);
    out.push_back(2);
    AppendLE32(out, 44100);
    AppendLE32(out, 0);
    AppendLE32(out, 128000);
    AppendLE32(out, 0);
    out.insert(out.end(), {0xB8, 1});
  }
  return out;
}

Bytes SetupPacket() {
  Bytes out = Of("\x05vorbis");
  for (int i = 0; i < 700; ++i) out.push_back(uint8_t(i * 7));
  return out;
}

// Audio pages after the headers: `count` pages of two packets each, two seconds in all.
Bytes AudioPages(uint32_t sequence, int count, uint64_t samples) {
  Bytes out;
  for (int i = 0; i < count; ++i) {
    const Bytes a(300 + i, uint8_t(0x40 + i)), b(90, uint8_t(0x80 + i));
    const uint64_t granule = samples * (i + 1) / count;
    Bytes page = Paged({a, b}, {3}, sequence + i, granule, i + 1 == count ? 4 : 0);
    Append(out, page);
  }
  return out;
}

struct Layout {
  Codec codec = kVorbis;
  uint32_t firstSequence = 0;
  std::vector<std::string> items{"ARTIST=Old", "title=a", "REPLAYGAIN_TRACK_GAIN=-1 dB"};
  Bytes tail;                       // after the list (Vorbis: after the framing byte)
  std::vector<size_t> headerPages;  // lacing values per header page; empty: all on one page
  int audioPages = 3;
  // Tiny audio packets that follow the headers on their last page, the last of them going on to
  // a page of its own when `sharedOpen`.
  int sharedAudio = 0;
  bool sharedOpen = false;
};

uint64_t Samples(const Layout& layout) { return layout.codec == kOpus ? 96000 + 312 : 88200; }
// The granule position of the page the headers share with audio.
uint64_t SharedGranule(const Layout& layout) {
  return layout.audioPages ? Samples(layout) / (4 * layout.audioPages) : Samples(layout);
}

Bytes OggBytes(const Layout& layout) {
  const Bytes id = IdPacket(layout.codec);
  Bytes file = PageOf(2, 0, kSerial, layout.firstSequence, {uint8_t(id.size())}, id);
  std::vector<Bytes> headers{CommentPacket(layout.codec, layout.items, layout.tail)};
  if (layout.codec == kVorbis) headers.push_back(SetupPacket());
  if (layout.codec == kFlac) headers.push_back(FlacBlock(0x81, Bytes(20, 0)));
  std::vector<size_t> pages = layout.headerPages;
  if (pages.empty()) {
    size_t segments = 0;
    for (const auto& h : headers) segments += h.size() / 255 + 1;
    pages = {segments};
  }
  for (int i = 0; i < layout.sharedAudio; ++i) headers.push_back(Bytes(10 + i, uint8_t(0x20 + i)));
  pages.back() += size_t(layout.sharedAudio) + (layout.sharedOpen ? 1 : 0);
  if (layout.sharedOpen) {
    headers.push_back(Bytes(300, 0x33));
    pages.push_back(1);
  }
  const uint64_t granule = layout.sharedAudio ? SharedGranule(layout) : 0;
  Append(file, Paged(headers, pages, layout.firstSequence + 1, granule, layout.audioPages ? 0 : 4));
  const uint64_t samples = Samples(layout);
  Append(file,
         AudioPages(uint32_t(layout.firstSequence + 1 + pages.size()), layout.audioPages, samples));
  return file;
}

std::unique_ptr<OggFile> ParseOgg(const Bytes& bytes) {
  mp3infp::MemorySource source(bytes);
  return OggFile::Parse(source);
}

struct WalkedPage {
  uint8_t flags;
  uint64_t granule;
  uint32_t serial, sequence;
  Bytes lacing, body;
  bool crcOk;
};

// Every page of a file, each checked against its checksum; stops at bytes that are no page.
std::vector<WalkedPage> Walk(const Bytes& file) {
  std::vector<WalkedPage> out;
  size_t offset = 0;
  while (offset + 27 <= file.size() && offset + 27 + file[offset + 26] <= file.size() &&
         std::equal(file.begin() + offset, file.begin() + offset + 4, "OggS")) {
    const uint8_t* p = file.data() + offset;
    WalkedPage page;
    page.flags = p[5];
    page.granule = uint64_t(p[6]) | uint64_t(p[7]) << 8 | uint64_t(p[8]) << 16 |
                   uint64_t(p[9]) << 24 | uint64_t(p[10]) << 32 | uint64_t(p[11]) << 40 |
                   uint64_t(p[12]) << 48 | uint64_t(p[13]) << 56;
    page.serial = p[14] | p[15] << 8 | p[16] << 16 | uint32_t(p[17]) << 24;
    page.sequence = p[18] | p[19] << 8 | p[20] << 16 | uint32_t(p[21]) << 24;
    page.lacing.assign(p + 27, p + 27 + p[26]);
    size_t length = 0;
    for (uint8_t lace : page.lacing) length += lace;
    if (offset + 27 + p[26] + length > file.size()) break;
    page.body.assign(p + 27 + p[26], p + 27 + p[26] + length);
    Bytes zeroed(p, p + 27 + p[26] + length);
    std::fill(zeroed.begin() + 22, zeroed.begin() + 26, 0);
    const uint32_t crc = p[22] | p[23] << 8 | p[24] << 16 | uint32_t(p[25]) << 24;
    page.crcOk = mp3infp::OggCrc(zeroed) == crc;
    out.push_back(page);
    offset += zeroed.size();
  }
  return out;
}

// `file` with page `index` given the sequence number `sequence` and a right checksum.
Bytes Renumbered(Bytes file, size_t index, uint32_t sequence) {
  const auto pages = Walk(file);
  size_t offset = 0;
  for (size_t i = 0; i < index; ++i) offset += 27 + pages[i].lacing.size() + pages[i].body.size();
  const size_t length = 27 + pages[index].lacing.size() + pages[index].body.size();
  for (int i = 0; i < 4; ++i) {
    file[offset + 18 + i] = uint8_t(sequence >> (8 * i));
    file[offset + 22 + i] = 0;
  }
  const uint32_t crc = mp3infp::OggCrc({file.data() + offset, length});
  for (int i = 0; i < 4; ++i) file[offset + 22 + i] = uint8_t(crc >> (8 * i));
  return file;
}

// The bytes of the pages after the identification page and `headerPages` more.
Bytes AudioBytes(const Bytes& file, size_t headerPages) {
  const auto pages = Walk(file);
  size_t offset = 0;
  for (size_t i = 0; i <= headerPages && i < pages.size(); ++i) {
    offset += 27 + pages[i].lacing.size() + pages[i].body.size();
  }
  return Bytes(file.begin() + offset, file.end());
}

struct Saved {
  Bytes bytes;
  bool inPlace = false;
};

Saved SaveOgg(const Bytes& old, const Values& values) {
  auto file = ParseOgg(old);
  Saved saved;
  if (!file) return saved;
  for (const auto& [name, value] : values) {
    if (!file->Set(*mp3infp::ParseValueName(name), value, mp3infp::SystemCodec())) return saved;
  }
  const auto plan = file->Plan();
  if (!plan) return saved;
  saved.inPlace = plan->InPlace();
  saved.bytes = Apply(old, *plan);
  return saved;
}

std::string GetOgg(const Bytes& bytes, const char* name) {
  auto file = ParseOgg(bytes);
  if (!file) return "<not ogg>";
  return file->Get(*mp3infp::ParseValueName(name), mp3infp::SystemCodec()).value_or("<none>");
}

// What every save must keep: one stream, pages numbered from 0, every checksum right, and the
// audio pages (granule, flags, lacing, body) as they were.
void ExpectSound(const Bytes& old, const Bytes& saved, size_t oldHeaderPages) {
  const auto before = Walk(old), after = Walk(saved);
  ASSERT_FALSE(after.empty());
  size_t length = 0;
  for (size_t i = 0; i < after.size(); ++i) {
    EXPECT_TRUE(after[i].crcOk) << "page " << i;
    EXPECT_EQ(uint32_t(before[0].sequence + i), after[i].sequence);
    EXPECT_EQ(kSerial, after[i].serial);
    length += 27 + after[i].lacing.size() + after[i].body.size();
  }
  EXPECT_EQ(saved.size(), length);
  const size_t audio = before.size() - 1 - oldHeaderPages;
  ASSERT_GE(after.size(), audio);
  for (size_t i = 0; i < audio; ++i) {
    const auto& a = before[before.size() - audio + i];
    const auto& b = after[after.size() - audio + i];
    EXPECT_EQ(a.granule, b.granule);
    EXPECT_EQ(a.flags, b.flags);
    EXPECT_EQ(a.lacing, b.lacing);
    EXPECT_EQ(a.body, b.body);
  }
}

TEST(Ogg, ReadsFieldsAndStream) {
  struct Case {
    Codec codec;
    mp3infp::FileKind kind;
    const char* format;
    uint32_t rate, bitRate;  // 0: any average
  };
  const Case cases[] = {
      {kVorbis, mp3infp::FileKind::kOggVorbis, "Ogg Vorbis", 44100, 128000},
      {kOpus, mp3infp::FileKind::kOpus, "Opus", 48000, 0},
      {kFlac, mp3infp::FileKind::kFlac, "FLAC (Ogg)", 44100, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    Layout layout;
    layout.codec = c.codec;
    layout.items = {"artist=First", "ARTIST=Second", "TRACKNUMBER=3/12",
                    "GENRE=",       "DATE=2024",     "TITLE=\xE8\xA1\xA8\xE7\xA4\xBA"};
    const Bytes file = OggBytes(layout);
    auto parsed = ParseOgg(file);
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(parsed->writable());
    EXPECT_EQ(c.kind, parsed->kind());
    EXPECT_EQ("First", GetOgg(file, "IART"));
    EXPECT_EQ("3/12", GetOgg(file, "TRACK"));
    EXPECT_EQ("", GetOgg(file, "IGNR"));
    EXPECT_EQ("2024", GetOgg(file, "ICRD"));
    EXPECT_EQ("表示", GetOgg(file, "INAM"));
    EXPECT_EQ("<none>", GetOgg(file, "ICMT"));
    EXPECT_EQ("<none>", GetOgg(file, "IART_v2"));
    const auto stream = parsed->Stream();
    EXPECT_EQ(c.format, stream.format);
    EXPECT_EQ(c.rate, stream.sampleRate);
    EXPECT_EQ(2u, stream.channels);
    // Opus counts the pre-skip in its granules; the length leaves it out.
    EXPECT_DOUBLE_EQ(2.0, stream.seconds);
    if (c.bitRate) {
      EXPECT_EQ(c.bitRate, stream.bitRate);
    } else {
      EXPECT_GT(stream.bitRate, 0u);
    }
  }
}

TEST(Ogg, SettingAFieldReplacesEveryItemOfItAndKeepsTheOthers) {
  struct Case {
    std::vector<std::string> before, after;
  };
  const Case cases[] = {
      {{"title=a", "ARTIST=x", "Title=b"}, {"TITLE=New", "ARTIST=x"}},
      {{"ARTIST=x"}, {"ARTIST=x", "TITLE=New"}},
      // Not the field: a longer name, an item without "=", an empty item of another field.
      {{"TITLEX=a", "TITLE", "GENRE="}, {"TITLEX=a", "TITLE", "GENRE=", "TITLE=New"}},
      {{"A=1", "TITLE=old", "B=\xFF\xFE", "TITLE=older"}, {"A=1", "TITLE=New", "B=\xFF\xFE"}},
  };
  for (Codec codec : {kVorbis, kOpus, kFlac}) {
    for (const auto& c : cases) {
      Layout layout;
      layout.codec = codec;
      layout.items = c.before;
      const Bytes saved = SaveOgg(OggBytes(layout), {{"INAM", "New"}}).bytes;
      auto reread = ParseOgg(saved);
      ASSERT_TRUE(reread);
      EXPECT_EQ(c.after, reread->items());
      EXPECT_EQ("vendor", reread->vendor());
    }
  }
}

TEST(Ogg, ValuesAreStoredAsUtf8AndReadBackInTheCodePage) {
  const Bytes saved = SaveOgg(OggBytes({}), {{"IART", "表示～"}, {"TRACK", "7"}}).bytes;
  auto reread = ParseOgg(saved);
  ASSERT_TRUE(reread);
  // U+FF5E: code page 932's 0x8160, as Windows maps it.
  EXPECT_NE(reread->items().end(), std::find(reread->items().begin(), reread->items().end(),
                                             "ARTIST=\xE8\xA1\xA8\xE7\xA4\xBA\xEF\xBD\x9E"));
  EXPECT_EQ("表示～", GetOgg(saved, "IART"));
  EXPECT_EQ("7", GetOgg(saved, "TRACK"));
}

TEST(Ogg, PagesAreLaidOutAgainAndLaterPagesKeptOrRenumbered) {
  const std::string big(70000, 'x');
  struct Case {
    const char* name;
    Layout layout;
    Values values;
    bool inPlace;
    size_t headerPages;  // after the save
    bool audioBytesKept;
  };
  Layout shared;  // comment and setup on one page
  Layout spanning;
  spanning.items.push_back("METADATA_BLOCK_PICTURE=" + std::string(600, 'p'));
  spanning.headerPages = {2, 4};  // comment across pages, its end sharing one with the setup
  Layout headersOnly;             // a stream of headers alone: its last page ends it
  headersOnly.audioPages = 0;
  Layout vorbisPadded;
  vorbisPadded.tail = Bytes(40, 0);
  Layout vorbisBinary;
  vorbisBinary.tail = {7, 7};
  Layout opusPadded;
  opusPadded.codec = kOpus;
  opusPadded.tail = Bytes(100, 0);
  Layout opusTight;
  opusTight.codec = kOpus;
  Layout opusBinary;
  opusBinary.codec = kOpus;
  opusBinary.tail = {1, 'b', 'i', 'n', 0};
  Layout audioShared;  // audio packets after the setup header on its page
  audioShared.sharedAudio = 3;
  Layout streamShared = audioShared;  // the whole stream on that page
  streamShared.audioPages = 0;
  Layout audioOpen = audioShared;  // the last audio packet going on to the next page
  audioOpen.sharedOpen = true;
  Layout spanningShared = spanning;  // headers on one page less after the save
  spanningShared.sharedAudio = 2;
  const Case cases[] = {
      {"shared", shared, {{"INAM", "longer title"}}, false, 1, true},
      {"audio on the header page", audioShared, {{"INAM", "t"}}, false, 1, false},
      {"stream on the header page", streamShared, {{"INAM", "t"}}, true, 1, true},
      {"audio on the header page goes on", audioOpen, {{"ICMT", big}}, false, 2, false},
      {"spanning with audio", spanningShared, {{"IART", "A"}}, false, 1, true},
      {"opus audio on the header page",
       {.codec = kOpus, .sharedAudio = 2},
       {{"INAM", "t"}},
       false,
       1,
       false},
      {"flac audio on the header page",
       {.codec = kFlac, .audioPages = 0, .sharedAudio = 1},
       {{"INAM", "t"}},
       true,
       1,
       true},
      {"shared same length", shared, {{"INAM", "b"}}, true, 1, true},
      {"spanning", spanning, {{"IART", "A"}, {"ICMT", "c"}}, false, 2, true},
      {"grows to more pages", shared, {{"ICMT", big}}, false, 2, false},
      {"spanning grows", spanning, {{"ICMT", big}}, false, 2, true},
      // Nothing after the headers: the file only grows, which is in place.
      {"headers only", headersOnly, {{"ICMT", big}}, true, 2, true},
      {"vorbis padding taken", vorbisPadded, {{"IART", "Longer artist"}}, true, 1, true},
      {"vorbis binary kept", vorbisBinary, {{"IART", "A"}}, false, 1, true},
      {"opus padding taken", opusPadded, {{"IART", "Longer artist"}}, true, 1, true},
      {"opus without room", opusTight, {{"IART", "Longer artist"}}, false, 1, true},
      {"opus binary kept", opusBinary, {{"IART", "Longer artist"}}, false, 1, true},
      {"opus grows", opusTight, {{"ICMT", big}}, false, 2, false},
      {"flac", {.codec = kFlac}, {{"INAM", "longer title"}}, false, 1, true},
      {"flac grows", {.codec = kFlac}, {{"ICMT", big}}, false, 2, false},
      // The pages are numbered on from the stream's own first page, whatever its number.
      {"from page 7", {.firstSequence = 7}, {{"INAM", "longer title"}}, false, 1, true},
      {"grows from page 7", {.firstSequence = 7}, {{"ICMT", big}}, false, 2, false},
      {"opus grows across the wrap",
       {.codec = kOpus, .firstSequence = 0xFFFFFFFE},
       {{"ICMT", big}},
       false,
       2,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes old = OggBytes(c.layout);
    const size_t oldHeaderPages = c.layout.headerPages.empty() ? 1 : c.layout.headerPages.size();
    const Saved saved = SaveOgg(old, c.values);
    EXPECT_FALSE(saved.bytes.empty());
    if (saved.bytes.empty()) continue;
    EXPECT_EQ(c.inPlace, saved.inPlace);
    ExpectSound(old, saved.bytes, oldHeaderPages);
    const auto after = Walk(saved.bytes);
    ASSERT_GT(after.size(), c.headerPages);
    // The header pages: continued flags where a packet goes on, no audio, and the last one
    // ends the stream when the old one did. Audio that shared their last page follows on a
    // page of its own, as it was: its segments, its granule position, the end of the stream.
    const bool ends = c.layout.audioPages == 0;
    EXPECT_EQ(ends && !c.layout.sharedAudio ? 4 : 0, after[c.headerPages].flags & 4);
    if (c.layout.sharedAudio) {
      const auto& moved = after[c.headerPages + 1];
      const auto source = Walk(old)[oldHeaderPages];
      ASSERT_LE(moved.body.size(), source.body.size());
      const size_t audio = size_t(c.layout.sharedAudio) + (c.layout.sharedOpen ? 1 : 0);
      EXPECT_EQ(Bytes(source.lacing.end() - audio, source.lacing.end()), moved.lacing);
      EXPECT_TRUE(
          std::equal(moved.body.begin(), moved.body.end(), source.body.end() - moved.body.size()));
      EXPECT_EQ(SharedGranule(c.layout), moved.granule);
      EXPECT_EQ(ends && !c.layout.sharedOpen ? 4 : 0, moved.flags);
      EXPECT_EQ(0u, after[c.headerPages].granule);
    }
    if (c.audioBytesKept) {
      const Bytes audio = AudioBytes(old, oldHeaderPages);
      ASSERT_GE(saved.bytes.size(), audio.size());
      EXPECT_TRUE(std::equal(audio.begin(), audio.end(), saved.bytes.end() - audio.size()));
    }
    auto reread = ParseOgg(saved.bytes);
    ASSERT_TRUE(reread);
    EXPECT_TRUE(reread->writable());
    for (const auto& [name, value] : c.values) EXPECT_EQ(value, GetOgg(saved.bytes, name.c_str()));
    EXPECT_EQ("REPLAYGAIN_TRACK_GAIN=-1 dB", reread->items()[2]);
    EXPECT_DOUBLE_EQ(c.layout.audioPages || c.layout.sharedAudio ? 2.0 : 0.0,
                     reread->Stream().seconds);
  }
}

// Broken or unusual files: not taken for Ogg, or read but never written, or written only where
// their pages stay as they are.
TEST(Ogg, MalformedFilesAreRefusedUnchanged) {
  enum Outcome { kNotOgg, kNotWritable, kOnlyWithoutRenumbering };
  const Bytes good = OggBytes({});
  const size_t headerStart = Walk(good)[0].body.size() + 28;
  auto changed = [&](size_t offset, uint8_t value) {
    Bytes b = good;
    b[offset] = value;
    return b;
  };
  auto withComment = [&](const Bytes& comment) {
    Bytes b = PageOf(2, 0, kSerial, 0, {30}, IdPacket(kVorbis));
    Append(b, Paged({comment, SetupPacket()}, {comment.size() / 255 + 1 + 3}, 1));
    Append(b, AudioPages(2, 2, 88200));
    return b;
  };
  Bytes countTooLarge = CommentPacket(kVorbis, {"A=1"});
  countTooLarge[7 + 10] = 0xFF;
  Bytes itemPastEnd = CommentPacket(kVorbis, {"A=1"});
  itemPastEnd[7 + 14] = 0x40;
  Bytes noFraming = CommentPacket(kVorbis, {"A=1"});
  noFraming.back() = 0;
  // Pages missing: the stream's own numbers are then no guide to writing its pages anew.
  const Bytes holeInHeaders = Renumbered(good, 1, 2);
  Bytes holeInAudio = Renumbered(good, 3, 9);
  const Bytes firstPageRepeated = Renumbered(good, 1, 0);
  const Bytes continuedWithoutPacket = changed(headerStart + 5, 1);
  Bytes twoPacketsOnFirstPage =
      Paged({IdPacket(kVorbis), CommentPacket(kVorbis, {}), SetupPacket()}, {5}, 0, 0, 0);
  twoPacketsOnFirstPage[5] = 2;
  Bytes cutInAudio(good.begin(), good.end() - 50);
  Bytes garbageInAudio = good;
  garbageInAudio[good.size() - Walk(good).back().body.size() - 30] = 'X';
  Bytes opusVersion2 = OggBytes({.codec = kOpus});
  opusVersion2[28 + 8] = 0x20;

  struct Case {
    const char* name;
    Bytes bytes;
    Outcome outcome;
  } const cases[] = {
      {"empty", {}, kNotOgg},
      {"RIFF", Riff("WAVE", {Chunk("data", Bytes(100, 0))}), kNotOgg},
      {"first page not the first of a stream", changed(5, 0), kNotOgg},
      {"not Vorbis or Opus", changed(29, 'X'), kNotOgg},
      {"bad checksum on the first page", changed(40, 0x55), kNotWritable},
      {"bad checksum on a header page", changed(headerStart + 40, 0x55), kNotWritable},
      {"cut in the headers", Bytes(good.begin(), good.begin() + headerStart + 100), kNotWritable},
      {"item count past the end", withComment(countTooLarge), kNotWritable},
      {"item past the end", withComment(itemPastEnd), kNotWritable},
      {"no framing bit", withComment(noFraming), kNotWritable},
      {"a page missing between the headers", holeInHeaders, kNotWritable},
      {"header page numbered as the first", firstPageRepeated, kNotWritable},
      {"a page missing in the audio", holeInAudio, kOnlyWithoutRenumbering},
      {"continued page without a packet", continuedWithoutPacket, kNotWritable},
      {"headers on the first page", twoPacketsOnFirstPage, kNotWritable},
      {"unknown Opus major version", opusVersion2, kNotWritable},
      {"cut in the audio", cutInAudio, kOnlyWithoutRenumbering},
      {"garbage in the audio", garbageInAudio, kOnlyWithoutRenumbering},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto file = ParseOgg(c.bytes);
    if (c.outcome == kNotOgg) {
      EXPECT_FALSE(file);
      continue;
    }
    ASSERT_TRUE(file);
    EXPECT_EQ(c.outcome != kNotWritable, file->writable());
    EXPECT_TRUE(SaveOgg(c.bytes, {{"INAM", std::string(70000, 'x')}}).bytes.empty());
    const Saved small = SaveOgg(c.bytes, {{"INAM", "t"}});
    EXPECT_EQ(c.outcome == kOnlyWithoutRenumbering, !small.bytes.empty());
    if (!small.bytes.empty()) {
      const Bytes tail = AudioBytes(c.bytes, 1);
      EXPECT_TRUE(std::equal(tail.begin(), tail.end(), small.bytes.end() - tail.size()));
    }
  }
  // Names with a suffix address the tags of MP3 files.
  auto file = ParseOgg(good);
  EXPECT_FALSE(file->Set(*mp3infp::ParseValueName("INAM_v2"), "x", mp3infp::SystemCodec()));
}

// Another stream multiplexed with the tagged one (a video): its pages stay byte for byte and in
// their place among the audio pages, wherever the tagged stream's header pages lay.
TEST(Ogg, OtherStreamsPagesStayInTheirOrder) {
  Layout spanning;
  spanning.items.push_back("METADATA_BLOCK_PICTURE=" + std::string(600, 'p'));
  spanning.headerPages = {2, 4};
  struct Case {
    const char* name;
    Layout layout;
    std::string_view pattern;  // 'o' the next page of the tagged stream, 'f' of the other
  } const cases[] = {
      {"video first", {}, "fofoofofo"},
      {"video between our header pages", spanning, "ofoffoofoof"},
      {"opus", {.codec = kOpus}, "ofofoofo"},
      {"flac from page 3", {.codec = kFlac, .firstSequence = 3}, "foofffooof"},
  };
  for (const auto& c : cases) {
    const Bytes ours = OggBytes(c.layout);
    const auto ourPages = Walk(ours);
    Bytes old;
    for (size_t o = 0, f = 0, offset = 0; char p : c.pattern) {
      const Bytes body = f == 0 ? Of("\x80theora") : Bytes(100 + f, uint8_t(f));
      if (p == 'f') {
        Append(old, PageOf(f ? 0 : 2, f * 10, 99, uint32_t(f), {uint8_t(body.size())}, body));
        ++f;
        continue;
      }
      const size_t length = 27 + ourPages[o].lacing.size() + ourPages[o].body.size();
      ++o;
      old.insert(old.end(), ours.begin() + offset, ours.begin() + offset + length);
      offset += length;
    }
    for (const std::string& comment : {std::string("c"), std::string(70000, 'x')}) {
      SCOPED_TRACE(std::string(c.name) + (comment.size() > 1 ? ", grown" : ""));
      const Bytes saved = SaveOgg(old, {{"ICMT", comment}}).bytes;
      EXPECT_EQ(comment, GetOgg(saved, "ICMT"));
      // Every page but our header pages, in order: ours renumbered on from our first page.
      auto rest = [&](const Bytes& file) {
        std::vector<std::pair<uint32_t, Bytes>> out;
        uint32_t next = c.layout.firstSequence;
        for (const auto& page : Walk(file)) {
          EXPECT_TRUE(page.crcOk);
          if (page.serial == kSerial) {
            EXPECT_EQ(next++, page.sequence);
          }
          // Header pages carry granule 0, or none where no packet ends.
          if (page.serial != kSerial || page.granule + 1 > 1)
            out.emplace_back(page.serial, page.body);
        }
        return out;
      };
      EXPECT_TRUE(rest(old) == rest(saved));
    }
  }
}

}  // namespace
