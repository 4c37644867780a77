// ID3v2: versions, encodings, frames kept byte for byte, and the malformed tags found in the wild.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "mp3infp/Id3v2Tag.h"
#include "mp3infp/Padding.h"
#include "tests/mp3infp/FormatTestSupport.h"

namespace {

using namespace samples;
using mp3infp::Id3v2Tag;

// The frames of the file's ID3v2 tag as (id, flags, payload).
struct FrameBytes {
  std::string id;
  uint16_t flags;
  Bytes payload;
  bool operator==(const FrameBytes&) const = default;
};
std::vector<FrameBytes> FramesOf(const Bytes& file) {
  std::vector<FrameBytes> out;
  const auto tag = Id3v2Tag::Parse(file);
  for (const auto& frame : tag.frames())
    out.push_back({frame->id(), frame->flags(), frame->payload()});
  return out;
}
const FrameBytes* Find(const std::vector<FrameBytes>& frames, std::string_view id) {
  for (const auto& f : frames) {
    if (f.id == id) return &f;
  }
  return nullptr;
}

Bytes FileWithTag(const Bytes& tag) {
  Bytes file = tag;
  Append(file, MpegAudio(3));
  return file;
}

TEST(Id3v2, NewTagIsVersion23WithAsciiAsLatin1AndJapaneseAsUtf16) {
  const Bytes old = MpegAudio(3);
  const Bytes saved = SaveBytes(old, {{"INAM_v2", "Title"}, {"IART_v2", "表示～ソ"}});
  ASSERT_FALSE(saved.empty());
  EXPECT_EQ(3, saved[3]);
  const auto frames = FramesOf(saved);
  ASSERT_TRUE(Find(frames, "TIT2"));
  EXPECT_EQ(Latin1Text("Title"), Find(frames, "TIT2")->payload);
  // UTF-16 with a little-endian byte order mark; ～ is U+FF5E, as Windows maps 0x8160.
  const Bytes artist{1, 0xFF, 0xFE, 0x68, 0x88, 0x3A, 0x79, 0x5E, 0xFF, 0xBD, 0x30};
  EXPECT_EQ(artist, Find(frames, "TPE1")->payload);
  EXPECT_EQ("表示～ソ", Get(saved, "IART_v2"));
  // A fresh tag brings about 1 KiB of padding for the next save.
  const auto total = Id3v2Tag::TotalSize(saved.data());
  EXPECT_GE(*total, 1024u);
  EXPECT_TRUE(std::equal(old.begin(), old.end(), saved.begin() + *total));
}

TEST(Id3v2, KeepsVersionAndUsesEachVersionsFramesAndEncoding) {
  // 2.4: UTF-8, year in TDRC.
  const Bytes v24 =
      SaveBytes(FileWithTag(Tag(4, {}, 100)), {{"INAM_v2", "表"}, {"ICRD_v2", "2024"}});
  EXPECT_EQ(4, v24[3]);
  auto frames = FramesOf(v24);
  EXPECT_EQ((Bytes{3, 0xE8, 0xA1, 0xA8}), Find(frames, "TIT2")->payload);
  EXPECT_TRUE(Find(frames, "TDRC"));
  EXPECT_FALSE(Find(frames, "TYER"));
  EXPECT_EQ("2024", Get(v24, "ICRD_v2"));

  // 2.2: three-letter ids, UCS-2.
  const Bytes v22 = SaveBytes(FileWithTag(Tag(2, Frame(2, "TT2", Latin1Text("old")), 100)),
                              {{"INAM_v2", "表"}, {"IPRD_v2", "Album"}});
  EXPECT_EQ(2, v22[3]);
  frames = FramesOf(v22);
  EXPECT_EQ((Bytes{1, 0xFF, 0xFE, 0x68, 0x88}), Find(frames, "TT2")->payload);
  EXPECT_EQ(Latin1Text("Album"), Find(frames, "TAL")->payload);
  EXPECT_EQ("表", Get(v22, "INAM_v2"));
}

// The recording date: a tag of `version` with a year, a day (each left out when empty) and other
// frames that a date must not touch.
Bytes DatedTag(int version, std::string_view year, std::string_view dayMonth) {
  const bool v22 = version == 2;
  Bytes body = Frame(version, v22 ? "TT2" : "TIT2", Latin1Text("title"));
  if (!year.empty()) Append(body, Frame(version, v22 ? "TYE" : "TYER", Latin1Text(year)));
  if (!dayMonth.empty()) Append(body, Frame(version, v22 ? "TDA" : "TDAT", Latin1Text(dayMonth)));
  Append(body, Frame(version, v22 ? "TIM" : "TIME", Latin1Text("1230")));
  Append(body, Frame(version, v22 ? "TXX" : "TXXX", {0, 'K', 0, 'V'}));
  return FileWithTag(Tag(version, body, 64));
}

// Every frame of `before` other than `except` is in `after` with the same bytes.
void ExpectOthersKept(const Bytes& before, const Bytes& after,
                      std::initializer_list<std::string_view> except) {
  const auto old = FramesOf(before);
  const auto now = FramesOf(after);
  for (const auto& frame : old) {
    if (std::find(except.begin(), except.end(), frame.id) != except.end()) continue;
    const FrameBytes* kept = Find(now, frame.id);
    ASSERT_TRUE(kept) << frame.id;
    EXPECT_EQ(frame, *kept) << frame.id;
  }
}

TEST(Id3v2RecordingDate, DateIsSplitIntoYearAndDayMonthIn23And22) {
  for (const char* value : {"2024-05-01", "2024/05/01", "2024.05.01"}) {
    const Bytes old = DatedTag(3, "1999", "");
    const Bytes saved = SaveBytes(old, {{"ICRD_v2", value}});
    const auto frames = FramesOf(saved);
    ASSERT_TRUE(Find(frames, "TYER") && Find(frames, "TDAT")) << value;
    EXPECT_EQ(Latin1Text("2024"), Find(frames, "TYER")->payload) << value;
    EXPECT_EQ(Latin1Text("0105"), Find(frames, "TDAT")->payload) << value;
    EXPECT_EQ("2024-05-01", Get(saved, "ICRD_v2")) << value;
    EXPECT_EQ("2024-05-01", Get(saved, "ICRD"));
    ExpectOthersKept(old, saved, {"TYER"});
  }

  // An existing day is replaced; a leap day is a day.
  Bytes saved = SaveBytes(DatedTag(3, "2024", "0105"), {{"ICRD_v2", "2024-02-29"}});
  EXPECT_EQ(Latin1Text("2902"), Find(FramesOf(saved), "TDAT")->payload);
  EXPECT_EQ("2024-02-29", Get(saved, "ICRD_v2"));

  // Year and month: the year only, since TDAT has no place for a month without a day.
  saved = SaveBytes(DatedTag(3, "", ""), {{"ICRD_v2", "2024/05"}});
  EXPECT_EQ(Latin1Text("2024"), Find(FramesOf(saved), "TYER")->payload);
  EXPECT_FALSE(Find(FramesOf(saved), "TDAT"));

  const Bytes old22 = DatedTag(2, "1999", "");
  saved = SaveBytes(old22, {{"ICRD_v2", "2024.12.31"}});
  const auto frames = FramesOf(saved);
  EXPECT_EQ(2, saved[3]);
  EXPECT_EQ(Latin1Text("2024"), Find(frames, "TYE")->payload);
  EXPECT_EQ(Latin1Text("3112"), Find(frames, "TDA")->payload);
  EXPECT_FALSE(Find(frames, "TDAT") || Find(frames, "TYER"));
  EXPECT_EQ("2024-12-31", Get(saved, "ICRD_v2"));
  ExpectOthersKept(old22, saved, {"TYE"});
}

TEST(Id3v2RecordingDate, ADayStaysOnlyWhileYearAndMonthAgree) {
  struct Case {
    const char *year, *value, *readBack;
    bool dayKept;
  };
  const Case cases[] = {
      {"2024", "2024", "2024-05-01", true},     // the same year says nothing against the day
      {"2024", "2024-05", "2024-05-01", true},  // nor does the same month
      {"2024", "2023", "2023", false},
      {"2024", "2024-06", "2024", false},
      {"2024", "2023-05", "2023", false},
      {"", "2024", "2024", false},       // a day of no known year
      {"2024", "1990s", "1990s", true},  // text is no year: nothing to compare the day with
  };
  for (const auto& c : cases) {
    const Bytes old = DatedTag(3, c.year, "0105");
    const Bytes saved = SaveBytes(old, {{"ICRD_v2", c.value}});
    EXPECT_EQ(c.readBack, Get(saved, "ICRD_v2")) << c.value;
    const auto frames = FramesOf(saved);
    const auto* day = Find(frames, "TDAT");
    EXPECT_EQ(c.dayKept, day != nullptr) << c.value;
    if (day) {
      EXPECT_EQ(*Find(FramesOf(old), "TDAT"), *day) << c.value;
    }
    ExpectOthersKept(old, saved, {"TYER", "TDAT"});
  }

  // 2.2 the same; and a day we cannot even read (compressed) goes with its year too.
  Bytes saved = SaveBytes(DatedTag(2, "2024", "0105"), {{"ICRD_v2", "2023"}});
  EXPECT_FALSE(Find(FramesOf(saved), "TDA"));
  Bytes body = Frame(3, "TYER", Latin1Text("2024"));
  Append(body, Frame(3, "TDAT", {0, 0, 0, 5, 0x78, 0x9C, 1}, 0x0080));
  saved = SaveBytes(FileWithTag(Tag(3, body, 10)), {{"ICRD_v2", "2023"}});
  EXPECT_FALSE(Find(FramesOf(saved), "TDAT"));
  EXPECT_EQ("2023", Get(saved, "ICRD_v2"));
}

TEST(Id3v2RecordingDate, AnythingButAValidDateIsKeptAsText) {
  for (const char* value : {"1990s",          "2024年",           "2024-13-01",
                            "2024-13",        "2024-00",          "2024-00-10",
                            "2024-05-00",     "2024-04-31",       "2023-02-29",
                            "2024-5-1",       "2024-05/01",       "2024-05-",
                            "2024-",          "24-05-01",         "202a-05-01",
                            "20240501",       " 2024-05-01",      "2024-05-01 ",
                            "２０２４-05-01", "2024-05-01T10:00", ""}) {
    for (int version : {3, 4}) {
      const Bytes old = DatedTag(version, "", "");
      const Bytes saved = SaveBytes(old, {{"ICRD_v2", value}});
      const auto frames = FramesOf(saved);
      const auto* year = Find(frames, version == 3 ? "TYER" : "TDRC");
      ASSERT_TRUE(year) << value;
      EXPECT_EQ(value, Get(saved, "ICRD_v2")) << value;
      EXPECT_FALSE(Find(frames, "TDAT")) << value;
      ExpectOthersKept(old, saved, {});
    }
  }
}

TEST(Id3v2RecordingDate, Version24TakesTheIsoFormAndLeavesOldFrames) {
  // A 2.4 tag converted from 2.3 may still hold TYER and TDAT: not ours to change there.
  Bytes body = Frame(4, "TYER", Latin1Text("1999"));
  Append(body, Frame(4, "TDAT", Latin1Text("0101")));
  const Bytes old = FileWithTag(Tag(4, body, 64));
  const std::pair<const char*, const char*> cases[] = {
      {"2024/05/01", "2024-05-01"}, {"2024.05", "2024-05"}, {"2024", "2024"}};
  for (const auto& [value, stored] : cases) {
    const Bytes saved = SaveBytes(old, {{"ICRD_v2", value}});
    const auto frames = FramesOf(saved);
    ASSERT_TRUE(Find(frames, "TDRC")) << value;
    Bytes utf8{3};
    Append(utf8, Of(stored));
    EXPECT_EQ(utf8, Find(frames, "TDRC")->payload) << value;
    EXPECT_EQ(stored, Get(saved, "ICRD_v2"));
    ExpectOthersKept(old, saved, {});
  }
}

TEST(Id3v2RecordingDate, ReadingJoinsOnlyAFourDigitYearWithAValidDay) {
  struct Case {
    const char *year, *dayMonth, *read;
  };
  const Case cases[] = {
      {"2024", "0105", "2024-05-01"},
      {"2024", "2902", "2024-02-29"},
      {"2023", "2902", "2023"},
      {"2024", "3204", "2024"},
      {"2024", "0113", "2024"},
      {"2024", "105", "2024"},
      {"2024", "01-05", "2024"},
      {"24", "0105", "24"},
      {"2024-05-01", "", "2024-05-01"},
      {"1990s", "0105", "1990s"},
      {"", "0105", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.read, Get(DatedTag(3, c.year, c.dayMonth), "ICRD_v2")) << c.year << c.dayMonth;
    EXPECT_EQ(c.read, Get(DatedTag(2, c.year, c.dayMonth), "ICRD_v2")) << c.year << c.dayMonth;
  }
  // The year in UTF-16 reads the same.
  Bytes body = Frame(3, "TYER", {1, 0xFF, 0xFE, '2', 0, '0', 0, '2', 0, '4', 0});
  Append(body, Frame(3, "TDAT", Latin1Text("0105")));
  EXPECT_EQ("2024-05-01", Get(FileWithTag(Tag(3, body, 0)), "ICRD_v2"));
}

TEST(Id3v2, FramesNotSetAreKeptByteForByte) {
  Bytes picture{0, 'i', 'm', 'a', 'g', 'e', '/', 'p', 'n', 'g', 0, 3, 0};
  for (int i = 0; i < 300; ++i) picture.push_back(uint8_t(i * 7));
  Bytes body = Frame(3, "APIC", picture);
  Append(body, Frame(3, "USLT", {1, 'j', 'p', 'n', 0xFF, 0xFE, 0, 0, 0xFF, 0xFE, 0x42, 0x30}));
  Append(body, Frame(3, "TXXX", {0, 'K', 0, 'V'}));
  Append(body, Frame(3, "PRIV", {'o', 'w', 'n', 0, 1, 2, 3}));
  Append(body, Frame(3, "XYZW", {9, 8, 7}, 0x8000));
  // Compressed and grouped: the flags and the bytes go back as they came.
  Append(body, Frame(3, "TALB", {0, 0, 0, 0x10, 0x78, 0x9C, 1, 2}, 0x00A0));
  // A title in UTF-16 that we do not set keeps its encoding.
  Append(body, Frame(3, "TIT2", {1, 0xFE, 0xFF, 0x30, 0x42}));
  Append(body,
         Frame(3, "COMM", {0, 'e', 'n', 'g', 'i', 'T', 'u', 'n', 'N', 'O', 'R', 'M', 0, '1'}));
  const Bytes old = FileWithTag(Tag(3, body, 0));
  const auto before = FramesOf(old);

  const Bytes saved = SaveBytes(old, {{"IART_v2", "Artist"}, {"ICMT_v2", "コメント"}});
  const auto after = FramesOf(saved);
  for (const auto& frame : before) {
    const FrameBytes* kept = Find(after, frame.id);
    ASSERT_TRUE(kept) << frame.id;
    EXPECT_EQ(frame, *kept) << frame.id;
  }
  // Our comment is a new frame beside the one with a description.
  EXPECT_EQ(2, std::count_if(after.begin(), after.end(), [](auto& f) { return f.id == "COMM"; }));
  EXPECT_EQ("コメント", Get(saved, "ICMT_v2"));
  const Bytes audio = MpegAudio(3);
  EXPECT_TRUE(std::equal(audio.rbegin(), audio.rend(), saved.rbegin()));
}

// Frames with format flags (compressed, encrypted, grouped, unsynchronised, with a data length)
// stay as they are beside ours; one of our fields in such a frame is replaced, plainly, only
// when that field is set. Whatever the flags, the tag's size still walks to its padding.
TEST(Id3v2, FramesWithFormatFlagsAreKeptOrReplacedWhole) {
  struct Case {
    const char* name;
    int version;
    uint8_t tagFlags;
    std::string id;
    uint16_t flags;
    const char* set;               // the field given "2024"
    std::optional<uint16_t> kept;  // the flags written back; nothing: replaced, plainly
  } const cases[] = {
      {"2.3 compressed artist, title set", 3, 0, "TPE1", 0x0080, "INAM_v2", 0x0080},
      {"2.3 compressed artist, artist set", 3, 0, "TPE1", 0x0080, "IART_v2", {}},
      {"2.3 compressed, tag unsynchronised", 3, 0x80, "APIC", 0x0080, "IART_v2", 0x0080},
      {"2.3 encrypted and grouped", 3, 0, "PRIV", 0x0060, "IART_v2", 0x0060},
      {"2.3 kept when altered, read only", 3, 0, "TXXX", 0xA000, "IART_v2", 0xA000},
      {"2.4 compressed artist, title set", 4, 0, "TPE1", 0x0009, "INAM_v2", 0x0009},
      {"2.4 compressed artist, artist set", 4, 0, "TPE1", 0x0009, "IART_v2", {}},
      {"2.4 unsynchronised with data length", 4, 0, "APIC", 0x0003, "IART_v2", 0x0003},
      // The tag's flag moves onto each frame kept.
      {"2.4 compressed, tag unsynchronised", 4, 0x80, "APIC", 0x0009, "IART_v2", 0x000B},
      {"2.4 grouped and encrypted", 4, 0, "PRIV", 0x0044, "IART_v2", 0x0044},
      {"2.4 compressed year, year set", 4, 0, "TDRC", 0x0009, "ICRD_v2", {}},
      // A comment we cannot read may have a description: it stays, and ours comes beside it.
      {"2.4 compressed comment", 4, 0, "COMM", 0x0009, "ICMT_v2", 0x0009},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // A zlib stream after its size (2.3) or data length (2.4), with bytes that
    // unsynchronisation would change.
    Bytes payload;
    c.version == 4 ? AppendSyncSafe(payload, 17) : AppendBE32(payload, 17);
    payload.insert(payload.end(), {0x78, 0x9C, 0xFF, 0xE0, 0x00, 0xFF, 0x00, 0x4B, 0x03, 0x00});
    Bytes body = Frame(c.version, "TIT2", Latin1Text("old"));
    Append(body, Frame(c.version, c.id, payload, c.flags));
    Append(body, Frame(c.version, "TALB", Latin1Text("album")));
    if (c.tagFlags & 0x80 && c.version == 3) {
      Bytes stored;  // a zero after every FF
      for (uint8_t b : body) {
        stored.push_back(b);
        if (b == 0xFF) stored.push_back(0);
      }
      body = stored;
    }
    const Bytes old = FileWithTag(Tag(c.version, body, 20, c.tagFlags));
    const Bytes saved = SaveBytes(old, {{c.set, "2024"}});
    ASSERT_FALSE(saved.empty());
    EXPECT_EQ(0, saved[5]);
    ASSERT_TRUE(Id3v2Tag::Parse(saved).wellFormed());
    const auto frames = FramesOf(saved);
    const size_t expected = c.id == "COMM" ? 2 : 1;
    ASSERT_EQ(expected, size_t(std::count_if(frames.begin(), frames.end(),
                                             [&](auto& f) { return f.id == c.id; })));
    const FrameBytes* frame = Find(frames, c.id);
    if (c.kept) {
      EXPECT_EQ((FrameBytes{c.id, *c.kept, payload}), *frame);
    } else {
      EXPECT_EQ(0, frame->flags);
    }
    EXPECT_EQ("2024", Get(saved, c.set));
    EXPECT_EQ("album", Get(saved, "IPRD_v2"));
    const Bytes audio = MpegAudio(3);
    EXPECT_TRUE(
        std::equal(audio.begin(), audio.end(), saved.begin() + *Id3v2Tag::TotalSize(saved.data())));
  }
}

TEST(Id3v2, CommentReplacesOnlyTheOneWithoutDescriptionKeepingItsLanguage) {
  Bytes body = Frame(3, "COMM", {0, 'e', 'n', 'g', 0, 'o', 'l', 'd'});
  Append(body, Frame(3, "COMM", {0, 'e', 'n', 'g', 'd', 0, 'x'}));
  const Bytes saved = SaveBytes(FileWithTag(Tag(3, body, 50)), {{"ICMT_v2", "new"}});
  const auto frames = FramesOf(saved);
  ASSERT_EQ(2u, frames.size());
  EXPECT_EQ((Bytes{0, 'e', 'n', 'g', 0, 'n', 'e', 'w'}), frames[0].payload);
  EXPECT_EQ((Bytes{0, 'e', 'n', 'g', 'd', 0, 'x'}), frames[1].payload);
}

TEST(Id3v2, FitsIntoPaddingInPlaceOtherwiseRewrites) {
  const Bytes roomy = FileWithTag(Tag(3, Frame(3, "TIT2", Latin1Text("a")), 200));
  bool inPlace = false;
  const Bytes fitted = SaveBytes(roomy, {{"INAM_v2", "a longer title"}}, &inPlace);
  EXPECT_TRUE(inPlace);
  EXPECT_EQ(roomy.size(), fitted.size());
  EXPECT_EQ("a longer title", Get(fitted, "INAM_v2"));

  const Bytes tight = FileWithTag(Tag(3, Frame(3, "TIT2", Latin1Text("a")), 0));
  const Bytes grown = SaveBytes(tight, {{"INAM_v2", "a longer title"}}, &inPlace);
  EXPECT_FALSE(inPlace);
  EXPECT_EQ(tight.size() + 13 + mp3infp::kFreshPadding, grown.size());
}

// Room beyond what the padding policy keeps is given back by writing the file anew; within it,
// the tag keeps all of it and the save stays in place.
TEST(Id3v2, PaddingIsBoundedByThePolicy) {
  const Bytes audio = MpegAudio(3);
  const uint64_t most = mp3infp::MostPadding(audio.size() + 200 * 1024);
  struct Case {
    size_t padding;
    bool inPlace;
  };
  for (const Case c :
       {Case{1000, true}, Case{size_t(most - 100), true}, Case{size_t(most + 100 * 1024), false}}) {
    Bytes old = Tag(3, Frame(3, "TIT2", Latin1Text("title")), c.padding);
    Append(old, audio);
    bool inPlace = false;
    const Bytes saved = SaveBytes(old, {{"INAM_v2", "x"}}, &inPlace);
    EXPECT_EQ(c.inPlace, inPlace) << c.padding;
    const uint64_t tag = *Id3v2Tag::TotalSize(saved.data());
    EXPECT_EQ(c.inPlace ? old.size() - audio.size() : 10 + 12 + mp3infp::kFreshPadding, tag);
    EXPECT_TRUE(std::equal(audio.begin(), audio.end(), saved.begin() + tag));
  }
}

// Setting a field leaves no second frame of it behind with the old value: readers differ in
// which one they show. Other frames, comments with a description among them, stay as they were.
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) Append(out, part);
  return out;
}

TEST(Id3v2, SettingAFieldReplacesEveryFrameThatHeldIt) {
  const Bytes described{0, 'e', 'n', 'g', 'i', 'T', 'u', 'n', 0, 'x'};
  struct Case {
    int version;
    Bytes body;
    const char* name;
    std::string id;
    Bytes payload;  // of the one frame of `id` left
  };
  const Case cases[] = {
      {3,
       Cat({Frame(3, "TPE1", Latin1Text("one")), Frame(3, "TIT2", Latin1Text("t")),
            Frame(3, "TPE1", Latin1Text("two"))}),
       "IART_v2", "TPE1", Latin1Text("new")},
      {2, Cat({Frame(2, "TP1", Latin1Text("one")), Frame(2, "TP1", Latin1Text("two"))}), "IART_v2",
       "TP1", Latin1Text("new")},
      {4,
       Cat({Frame(4, "TDRC", Latin1Text("1999")), Frame(4, "TDRC", Latin1Text("2000"))}),
       "ICRD_v2",
       "TDRC",
       {3, '2', '0', '2', '4'}},
      {3,
       Cat({Frame(3, "TYER", Latin1Text("1999")), Frame(3, "TDAT", Latin1Text("0101")),
            Frame(3, "TDAT", Latin1Text("0202"))}),
       "ICRD_v2", "TYER", Latin1Text("2024")},
      // Every comment without a description, whatever its language; the first one's language.
      {3,
       Cat({Frame(3, "COMM", {0, 'j', 'p', 'n', 0, 'a'}), Frame(3, "COMM", described),
            Frame(3, "COMM", {0, 'e', 'n', 'g', 0, 'b'})}),
       "ICMT_v2",
       "COMM",
       {0, 'j', 'p', 'n', 0, 'n', 'e', 'w'}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    const Bytes other = Frame(c.version, c.version == 2 ? "TXX" : "TXXX", {0, 'k', 0, 'v'});
    const Bytes old = FileWithTag(Tag(c.version, Cat({c.body, other}), 64));
    const std::string value = c.id == "TDRC" || c.id == "TYER" ? "2024" : "new";
    const Bytes saved = SaveBytes(old, {{c.name, value}});
    ASSERT_FALSE(saved.empty());
    const auto frames = FramesOf(saved);
    EXPECT_EQ(1, std::count_if(frames.begin(), frames.end(), [&](const auto& f) {
                return f.id == c.id && f.payload != described;
              }));
    EXPECT_EQ(c.payload, Find(frames, c.id)->payload);
    EXPECT_EQ(value, Get(saved, c.name));
    EXPECT_FALSE(c.id == "TYER" && Find(frames, "TDAT"));  // a day of the old year goes
    for (const auto& frame : FramesOf(old)) {
      if (frame.id == c.id || frame.id == "TDAT") continue;
      EXPECT_TRUE(std::count(frames.begin(), frames.end(), frame)) << frame.id;
    }
    EXPECT_TRUE(c.id != "COMM" ||
                std::count(frames.begin(), frames.end(), FrameBytes{"COMM", 0, described}));
  }
}

TEST(Id3v2, UnsynchronisedTagsAreReadAndKeptFramesMeanTheSame) {
  // 2.3: the whole tag, frame headers included; FF 00 in the stored bytes is FF.
  Bytes body = Frame(3, "PRIV", {'o', 0, 0xFF, 0xE0, 7});
  Append(body, Frame(3, "TIT2", Latin1Text("x")));
  Bytes stored;
  for (size_t i = 0; i < body.size(); ++i) {
    stored.push_back(body[i]);
    if (body[i] == 0xFF && (i + 1 == body.size() || body[i + 1] >= 0xE0 || body[i + 1] == 0)) {
      stored.push_back(0);
    }
  }
  const Bytes v23 = FileWithTag(Tag(3, stored, 10, 0x80));
  auto frames = FramesOf(v23);
  ASSERT_EQ(2u, frames.size());
  EXPECT_EQ((Bytes{'o', 0, 0xFF, 0xE0, 7}), frames[0].payload);
  Bytes saved = SaveBytes(v23, {{"IART_v2", "A"}});
  EXPECT_EQ(0, saved[5]);  // written without unsynchronisation
  EXPECT_EQ((Bytes{'o', 0, 0xFF, 0xE0, 7}), Find(FramesOf(saved), "PRIV")->payload);

  // 2.4: per frame, with the unsynchronisation and data length flags.
  // UTF-16 "表" after its byte order mark FF FE, stored as FF 00 FE, behind a data length.
  Bytes v24body = Frame(4, "TIT2", {0, 0, 0, 5, 1, 0xFF, 0x00, 0xFE, 0x68, 0x88}, 0x0003);
  Append(v24body, Frame(4, "PRIV", {'p', 0, 0xFF, 0x00, 0xF0}, 0x0002));
  const Bytes v24 = FileWithTag(Tag(4, v24body, 10));
  EXPECT_EQ("表", Get(v24, "INAM_v2"));
  saved = SaveBytes(v24, {{"IART_v2", "A"}});
  frames = FramesOf(saved);
  EXPECT_EQ(0x0002, Find(frames, "PRIV")->flags);
  EXPECT_EQ((Bytes{'p', 0, 0xFF, 0x00, 0xF0}), Find(frames, "PRIV")->payload);

  // 2.4 with the flag in the tag header only: kept frames carry it themselves afterwards, and
  // their content is read without the inserted zeros.
  Bytes headerOnly = Frame(4, "PRIV", {'q', 0, 0xFF, 0x00, 0xF0});
  Append(headerOnly, Frame(4, "TIT2", {1, 0xFF, 0x00, 0xFE, 0x68, 0x88}));
  const Bytes v24tag = FileWithTag(Tag(4, headerOnly, 10, 0x80));
  EXPECT_EQ("表", Get(v24tag, "INAM_v2"));
  // A comment replaced there is written plainly, without the flag: its language "\xFE\xFF\xFF"
  // followed by the empty description's zero must not read as unsynchronised bytes.
  // Stored unsynchronised: FE FF FF 00 becomes FE FF 00 FF 00 00.
  Append(headerOnly, Frame(4, "COMM", {0, 0xFE, 0xFF, 0, 0xFF, 0, 0, 'o', 'l', 'd'}));
  const Bytes withComment = FileWithTag(Tag(4, headerOnly, 10, 0x80));
  saved = SaveBytes(withComment, {{"IART_v2", "A"}, {"ICMT_v2", "new"}});
  EXPECT_EQ(0, saved[5]);
  frames = FramesOf(saved);
  EXPECT_EQ(0x0002, Find(frames, "PRIV")->flags);
  ASSERT_EQ(1, std::count_if(frames.begin(), frames.end(), [](auto& f) { return f.id == "COMM"; }));
  EXPECT_EQ(0, Find(frames, "COMM")->flags);
  EXPECT_EQ(0, Find(frames, "TPE1")->flags);
  EXPECT_EQ("new", Get(saved, "ICMT_v2"));
  EXPECT_EQ("表", Get(saved, "INAM_v2"));
}

TEST(Id3v2, ExtendedHeadersRealAndClaimed) {
  Bytes ext23;
  AppendBE32(ext23, 6);
  ext23.insert(ext23.end(), {0, 0, 0, 0, 0, 0});
  Append(ext23, Frame(3, "TIT2", Latin1Text("t3")));
  EXPECT_EQ("t3", Get(FileWithTag(Tag(3, ext23, 10, 0x40)), "INAM_v2"));

  Bytes ext24;
  AppendSyncSafe(ext24, 6);
  ext24.insert(ext24.end(), {1, 0});
  Append(ext24, Frame(4, "TIT2", Latin1Text("t4")));
  const Bytes file24 = FileWithTag(Tag(4, ext24, 10, 0x40));
  EXPECT_EQ("t4", Get(file24, "INAM_v2"));
  const Bytes saved = SaveBytes(file24, {{"IART_v2", "A"}});
  EXPECT_EQ(0, saved[5]);  // the extended header (a CRC of old frames) is not written back
  EXPECT_EQ("t4", Get(saved, "INAM_v2"));

  // The flag is set but frames follow at once.
  const Bytes claimed = FileWithTag(Tag(3, Frame(3, "TIT2", Latin1Text("c")), 10, 0x40));
  EXPECT_EQ("c", Get(claimed, "INAM_v2"));
  EXPECT_FALSE(SaveBytes(claimed, {{"IART_v2", "A"}}).empty());
}

TEST(Id3v2, Version24WithPlainFrameSizes) {
  // 200 bytes: as a synchsafe number 0x000000C8 would be invalid (top bit set).
  Bytes body = Frame(4, "PRIV", Bytes(200, 'x'), 0, true);
  Append(body, Frame(4, "TIT2", Latin1Text("after"), 0, true));
  const Bytes file = FileWithTag(Tag(4, body, 20));
  EXPECT_EQ("after", Get(file, "INAM_v2"));
  const Bytes saved = SaveBytes(file, {{"IART_v2", "A"}});
  ASSERT_FALSE(saved.empty());
  const auto frames = FramesOf(saved);
  EXPECT_EQ(Bytes(200, 'x'), Find(frames, "PRIV")->payload);
  EXPECT_EQ("after", Get(saved, "INAM_v2"));
}

TEST(Id3v2, BrokenTagsAreReadAsFarAsSoundButNeverWritten) {
  const Bytes title = Frame(3, "TIT2", Latin1Text("ok"));
  // A frame claiming more than the tag holds.
  Bytes overrun = title;
  Append(overrun, Frame(3, "TPE1", Latin1Text("artist")));
  overrun[overrun.size() - 17 + 6] = 0x40;  // TPE1's size grows by 16 KiB
  Bytes file = FileWithTag(Tag(3, overrun, 0));
  EXPECT_EQ("ok", Get(file, "INAM_v2"));
  EXPECT_TRUE(SaveBytes(file, {{"IART_v2", "A"}}).empty());

  // A tag claiming more than the file holds, and a file cut in the middle of a frame.
  Bytes big = Tag(3, title, 0);
  big[8] = 0x7F;
  EXPECT_EQ("ok", Get(big, "INAM_v2"));
  EXPECT_TRUE(SaveBytes(big, {{"IART_v2", "A"}}).empty());
  Bytes cut = Tag(3, Frame(3, "APIC", Bytes(100, 1)), 0);
  cut.resize(50);
  EXPECT_TRUE(SaveBytes(cut, {{"IART_v2", "A"}}).empty());

  // An invalid frame id after a good frame.
  Bytes invalid = title;
  Append(invalid, Frame(3, "t!2x", Latin1Text("bad")));
  EXPECT_TRUE(SaveBytes(FileWithTag(Tag(3, invalid, 0)), {{"IART_v2", "A"}}).empty());

  // 2.2 marked compressed.
  EXPECT_TRUE(SaveBytes(FileWithTag(Tag(2, {}, 10, 0x40)), {{"IART_v2", "A"}}).empty());
}

TEST(Id3v2, ZeroSizeFramesAreKept) {
  Bytes body = Frame(3, "TIT2", {});
  Append(body, Frame(3, "TPE1", Latin1Text("a")));
  const Bytes saved = SaveBytes(FileWithTag(Tag(3, body, 10)), {{"IPRD_v2", "B"}});
  const auto frames = FramesOf(saved);
  ASSERT_TRUE(Find(frames, "TIT2"));
  EXPECT_TRUE(Find(frames, "TIT2")->payload.empty());
  EXPECT_EQ("a", Get(saved, "IART_v2"));
}

TEST(Id3v2, TwoStackedTagsOnlyTheFirstIsOurs) {
  Bytes file = Tag(3, Frame(3, "TIT2", Latin1Text("first")), 0);
  const Bytes second = Tag(3, Frame(3, "TIT2", Latin1Text("second")), 0);
  Append(file, second);
  Append(file, MpegAudio(2));
  const Bytes saved = SaveBytes(file, {{"INAM_v2", "new"}});
  EXPECT_EQ("new", Get(saved, "INAM_v2"));
  const auto total = *Id3v2Tag::TotalSize(saved.data());
  EXPECT_TRUE(std::equal(second.begin(), second.end(), saved.begin() + total));
}

TEST(Id3v2, ManyFramesAreCapped) {
  Bytes body;
  for (size_t i = 0; i < Id3v2Tag::kMaxFrames + 1; ++i) Append(body, Frame(3, "PRIV", {}));
  const Bytes file = FileWithTag(Tag(3, body, 0));
  EXPECT_FALSE(Id3v2Tag::Parse(file).wellFormed());
  EXPECT_TRUE(SaveBytes(file, {{"IART_v2", "A"}}).empty());
}

}  // namespace
