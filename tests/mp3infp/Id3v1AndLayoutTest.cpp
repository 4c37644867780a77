// ID3v1 fields, the end of MP3 files (APEv2, short files) and what the library calls an MP3 file.
#include <gtest/gtest.h>

#include "mp3infp/Id3v1Tag.h"
#include "mp3infp/Id3v2Tag.h"
#include "tests/mp3infp/FormatTestSupport.h"

namespace {

using namespace samples;
using mp3infp::Id3v1Tag;

Bytes TailTag(const Bytes& file) { return Bytes(file.end() - 128, file.end()); }

TEST(Id3v1, FieldsTrackAndGenre) {
  const Bytes saved = SaveBytes(MpegAudio(2), {{"INAM_v1", "Title"},
                                               {"IART_v1", "Artist"},
                                               {"IPRD_v1", "Album"},
                                               {"ICRD_v1", "2024-05-01"},
                                               {"ICMT_v1", "Comment"},
                                               {"TRACK_v1", "7/12"},
                                               {"IGNR_v1", "jpop"}});
  ASSERT_EQ(MpegAudio(2).size() + 128, saved.size());
  const Bytes tag = TailTag(saved);
  EXPECT_EQ("TAG", std::string(tag.begin(), tag.begin() + 3));
  EXPECT_EQ("Title", Get(saved, "INAM_v1"));
  EXPECT_EQ("2024", Get(saved, "ICRD_v1"));
  EXPECT_EQ("Comment", Get(saved, "ICMT_v1"));
  EXPECT_EQ(0, tag[125]);
  EXPECT_EQ(7, tag[126]);
  EXPECT_EQ(146, tag[127]);  // JPop
  EXPECT_EQ("JPop", Get(saved, "IGNR_v1"));
}

TEST(Id3v1, TrackOnlyWhenANumberFrom1To255GenreUnknownIs255) {
  for (const char* track : {"0", "256", "x", "", "-3"}) {
    const Bytes saved = SaveBytes(MpegAudio(1), {{"TRACK_v1", track}, {"IGNR_v1", "Enka-ish"}});
    EXPECT_EQ(0, TailTag(saved)[126]) << track;
    EXPECT_EQ(255, TailTag(saved)[127]);
  }
  EXPECT_EQ(255, TailTag(SaveBytes(MpegAudio(1), {{"TRACK_v1", "255"}}))[126]);
}

TEST(Id3v1, CodePageTextIsCutAtACharacterBoundary) {
  // One ASCII byte and sixteen double-byte characters: 33 bytes for a field of 30, and the 30th
  // byte would be the first half of a character.
  const std::string artist = "A表表表表表表表表表表表表表表表表";
  const Bytes saved = SaveBytes(MpegAudio(1), {{"IART_v1", artist}});
  EXPECT_EQ(artist.substr(0, 29), Get(saved, "IART_v1"));
  EXPECT_EQ(0, TailTag(saved)[33 + 29]);
  // The comment gives way to the track byte the same way.
  const Bytes withTrack =
      SaveBytes(MpegAudio(1), {{"ICMT_v1", "ABC表表表表表表表表表表表表表"}, {"TRACK_v1", "3"}});
  EXPECT_EQ("ABC表表表表表表表表表表表表", Get(withTrack, "ICMT_v1"));  // 27 of 28 bytes
}

TEST(Id3v1, SettingOneFieldLeavesEveryOtherByte) {
  Bytes old = MpegAudio(1);
  Bytes tag = Id3v1("Old title", "Artist", 9, 17);
  tag[93] = '1', tag[94] = '9', tag[95] = '9', tag[96] = '9';
  tag[60] = 0x55;  // junk after the artist's terminator
  Append(old, tag);
  bool inPlace = false;
  const Bytes saved = SaveBytes(old, {{"INAM_v1", "New"}}, &inPlace);
  EXPECT_TRUE(inPlace);
  ASSERT_EQ(old.size(), saved.size());
  for (size_t i = 33; i < 128; ++i) EXPECT_EQ(tag[i], TailTag(saved)[i]) << i;
  EXPECT_EQ("New", Get(saved, "INAM_v1"));
}

TEST(Layout, ApeTagBeforeId3v1IsKept) {
  Bytes old = MpegAudio(2);
  const Bytes ape = Ape("Title", "ape title");
  Append(old, ape);
  Append(old, Id3v1("v1", "a"));
  const Bytes saved = SaveBytes(old, {{"INAM_v1", "new"}, {"INAM_v2", "new2"}});
  ASSERT_FALSE(saved.empty());
  EXPECT_TRUE(std::equal(ape.begin(), ape.end(), saved.end() - 128 - ape.size()));
  EXPECT_EQ("new", Get(saved, "INAM_v1"));
  EXPECT_EQ("new2", Get(saved, "INAM_v2"));
}

TEST(Layout, Lyrics3BeforeId3v1IsKept) {
  Bytes old = MpegAudio(2);
  const Bytes lyrics = Of("LYRICSBEGININD00003110LYR00005hello000027LYRICS200");
  Append(old, lyrics);
  Append(old, Id3v1("v1", "a"));
  bool inPlace = false;
  const Bytes saved = SaveBytes(old, {{"IART_v1", "new"}}, &inPlace);
  EXPECT_TRUE(inPlace);
  EXPECT_TRUE(std::equal(lyrics.begin(), lyrics.end(), saved.end() - 128 - lyrics.size()));
  EXPECT_EQ("new", Get(saved, "IART_v1"));
}

TEST(Layout, ShortAndUnknownFiles) {
  // Shorter than an ID3v1 tag, yet MPEG audio: a tag is appended.
  const Bytes tiny{0xFF, 0xFB, 0x90, 0x64, 1, 2, 3};
  EXPECT_EQ(mp3infp::FileKind::kMp3, KindOf(tiny));
  const Bytes saved = SaveBytes(tiny, {{"INAM_v1", "t"}});
  ASSERT_EQ(tiny.size() + 128, saved.size());
  EXPECT_TRUE(std::equal(tiny.begin(), tiny.end(), saved.begin()));

  // Text, an empty file: no format we know, nothing to set.
  for (const Bytes& other : {Of("just some text, not audio"), Bytes{}}) {
    EXPECT_EQ(nullptr, ParseBytes(other, ".txt"));
    EXPECT_TRUE(SaveBytes(other, {{"INAM", "x"}}, nullptr, ".txt").empty());
  }
  // An ID3v1 tag on something that is neither MPEG nor named .mp3.
  Bytes tagged = Of("plain");
  Append(tagged, Id3v1("t", "a"));
  EXPECT_EQ(mp3infp::FileKind::kUnknown, KindOf(tagged, ".dat"));
  EXPECT_EQ(mp3infp::FileKind::kMp3, KindOf(tagged, ".MP3"));
}

TEST(Layout, TagFlagsAndPlainNames) {
  Bytes file = Tag(3, {}, 20);
  Append(file, MpegAudio(1));
  Append(file, Id3v1("t", "a"));
  EXPECT_EQ(3u, ParseBytes(file)->TagFlags());
  // The field key alone reaches every tag the file has.
  const Bytes saved = SaveBytes(file, {{"INAM", "both"}});
  EXPECT_EQ("both", Get(saved, "INAM_v1"));
  EXPECT_EQ("both", Get(saved, "INAM_v2"));
}

TEST(ValueNames, KeysAndSuffixes) {
  using mp3infp::Field;
  using mp3infp::TagKind;
  const auto name = mp3infp::ParseValueName("TRACK_rmp");
  ASSERT_TRUE(name);
  EXPECT_EQ(Field::kTrack, name->field);
  EXPECT_EQ(TagKind::kRiffInfo, name->tag);
  EXPECT_EQ(TagKind::kDefault, mp3infp::ParseValueName("ICMT")->tag);
  for (const char* bad : {"", "_v1", "INAM_v3", "inam", "TITLE"}) {
    EXPECT_FALSE(mp3infp::ParseValueName(bad)) << bad;
  }
}

TEST(TextCodec, WindowsMappingAndBoundaries) {
  const auto& codec = mp3infp::SystemCodec();
  // ～ (0x8160) and － (0x817C) are U+FF5E and U+FF0D in the Windows table.
  EXPECT_EQ(u"～－ソ", codec.ToUnicode("～－ソ"));
  EXPECT_EQ("～－ソ", codec.FromUnicode(u"～－ソ"));
  EXPECT_EQ("?", codec.FromUnicode(u"\u0E01"));
  EXPECT_EQ(2u, mp3infp::PrefixAtCharBoundary("ソA", 2, codec));
  EXPECT_EQ(0u, mp3infp::PrefixAtCharBoundary("ソA", 1, codec));
  const std::u16string emoji = u"\U0001F600";
  EXPECT_EQ(emoji, mp3infp::Utf8ToUtf16(mp3infp::Utf16ToUtf8(emoji)));
  EXPECT_EQ(u"\uFFFD", mp3infp::Utf8ToUtf16("\xC0"));
}

}  // namespace

namespace {

TEST(Layout, StreamOfMpegAndWave) {
  // One MPEG 2 layer III frame header, mono, 64 kbit/s at 22,050 Hz, then bytes.
  Bytes mpeg2{0xFF, 0xF3, 0x80, 0xC0};
  mpeg2.resize(8000, 0x11);
  // An MPEG 1 frame whose Xing header counts 100 frames.
  Bytes vbr = MpegAudio(1);
  std::copy_n("Xing\0\0\0\x01\0\0\0\x64", 12, vbr.begin() + 36);
  Append(vbr, MpegAudio(20));
  Bytes tagged = Tag(3, Frame(3, "TIT2", Latin1Text("t")), 100);
  Append(tagged, MpegAudio(10));
  Append(tagged, Id3v1("t", "a"));
  struct Case {
    const char* what;
    Bytes file;
    std::string format;
    uint32_t rate, channels, bitRate;
    double seconds;
  };
  const Case cases[] = {
      {"bare MPEG 1", MpegAudio(10), "MPEG 1 Layer 3", 44100, 2, 128000, 4170 * 8 / 128000.0},
      {"tags around it", tagged, "MPEG 1 Layer 3", 44100, 2, 128000, 4170 * 8 / 128000.0},
      {"MPEG 2 mono", mpeg2, "MPEG 2 Layer 3", 22050, 1, 64000, 8000 * 8 / 64000.0},
      {"VBR", vbr, "MPEG 1 Layer 3", 44100, 2, uint32_t(21 * 417 * 8 / (100 * 1152 / 44100.0)),
       100 * 1152 / 44100.0},
      {"RIFF MP3", Riff("RMP3", {Chunk("data", MpegAudio(10))}), "MPEG 1 Layer 3", 44100, 2, 128000,
       4170 * 8 / 128000.0},
      {"WAVE", Riff("WAVE", {Chunk("fmt ", WaveFormat()), Chunk("data", Bytes(17640))}),
       "WAVE (PCM)", 44100, 2, 44100 * 32, 0.1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto file = ParseBytes(c.file);
    ASSERT_TRUE(file);
    const auto stream = file->Stream();
    EXPECT_EQ(c.format, stream.format);
    EXPECT_EQ(c.rate, stream.sampleRate);
    EXPECT_EQ(c.channels, stream.channels);
    EXPECT_EQ(c.bitRate, stream.bitRate);
    EXPECT_NEAR(c.seconds, stream.seconds, 1e-9);
  }
}

}  // namespace

namespace {

// Bytes before the first frame, which broken rippers leave: the audio is found past them when
// two frame headers follow each other there, and every byte after the tag stays. Behind an ID3v2
// tag there must be audio within that bound (or nothing but tags), and audio that starts a little
// before a tag's declared end gets the tag written with its true size: the bytes the size claimed
// are the head of the first frame. Anything else is refused: another container, say, whose head
// a save would overwrite.
TEST(Layout, BytesBeforeTheFirstFrame) {
  Bytes junk(3000);
  for (size_t i = 0; i < junk.size(); ++i) junk[i] = uint8_t(i * 7 % 255);
  junk[1000] = 0xFF, junk[1001] = 0xFB, junk[1002] = 0x90;  // a lone header: not the audio
  const Bytes frames = Frame(3, "TIT2", Latin1Text("old"));
  const Bytes tag = Tag(3, frames, 0);
  const Bytes footerless = OvershootingTag(4, Frame(4, "TIT2", Latin1Text("old")), 0);
  const Bytes counted = OvershootingTag(3, frames, 30);
  Bytes ogg = Of("OggS");
  Append(ogg, junk);
  struct Case {
    const char* what;
    std::vector<Bytes> parts;  // the file; what follows a tag must stay as it is
    const char* extension;
    bool taken;
  };
  const Case cases[] = {
      {"zeros at the head", {Bytes(2000), MpegAudio(3)}, ".mp3", true},
      {"junk at the head", {junk, MpegAudio(3)}, ".mp3", true},
      {"junk at the head of a file not named MPEG", {junk, MpegAudio(3)}, ".dat", false},
      {"one frame after junk", {junk, MpegAudio(1)}, ".mp3", false},
      {"zeros after a tag", {tag, Bytes(2000), MpegAudio(3)}, ".dat", true},
      {"junk after a tag", {tag, junk, MpegAudio(3)}, ".mp3", true},
      {"a tag alone", {tag}, ".mp3", true},
      {"a tag flagged with a footer it lacks", {footerless, MpegAudio(3)}, ".mp3", true},
      {"a tag whose size counts its header", {counted, MpegAudio(3)}, ".mp3", true},
      {"junk past the bound", {tag, Bytes(70 * 1024, 1), MpegAudio(3)}, ".mp3", false},
      {"junk after a tag, no audio", {tag, junk}, ".mp3", false},
      // What a save makes of junk with an ID3v1 tag, named as MPEG audio, which is taken.
      {"junk and an ID3v1 tag after a tag, named MPEG", {tag, junk, Id3v1("t", "a")}, ".mp3", true},
      {"junk and an ID3v1 tag after a tag", {tag, junk, Id3v1("t", "a")}, ".dat", false},
      {"an Ogg page behind a tag whose size counts its header", {counted, ogg}, ".mp3", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes old;
    for (const Bytes& part : c.parts) Append(old, part);
    const auto file = ParseBytes(old, c.extension);
    ASSERT_EQ(c.taken, file != nullptr);
    if (!file) {
      EXPECT_TRUE(SaveBytes(old, {{"INAM_v2", "new"}}, nullptr, c.extension).empty());
      continue;
    }
    EXPECT_EQ(c.parts.back()[0] == 0xFF ? 44100u : 0u, file->Stream().sampleRate);
    const Bytes saved = SaveBytes(old, {{"INAM_v2", "new"}}, nullptr, c.extension);
    ASSERT_FALSE(saved.empty());
    EXPECT_EQ("new", Get(saved, "INAM_v2", c.extension));
    const size_t oldTag = c.parts[0][0] == 'I' ? c.parts[0].size() : 0;
    const size_t kept = old.size() - oldTag;
    EXPECT_TRUE(std::equal(old.begin() + oldTag, old.end(), saved.end() - kept));
    if (oldTag) {
      EXPECT_EQ(saved.size() - kept, *mp3infp::Id3v2Tag::TotalSize(saved.data()));
    }
  }
}

}  // namespace
