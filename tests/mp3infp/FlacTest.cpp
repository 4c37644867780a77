// FLAC: the Vorbis comment block written into the room there is (padding at the end or between
// blocks, the old comment's own place), or the file rewritten with fresh padding; every other
// block, the audio and an ID3v2 tag in front kept byte for byte; malformed files refused.
#include <gtest/gtest.h>

#include <algorithm>

#include "mp3infp/FlacFile.h"
#include "mp3infp/Padding.h"
#include "tests/mp3infp/FormatTestSupport.h"

namespace {

using namespace samples;
using mp3infp::FlacFile;

constexpr uint8_t kInfo = FlacFile::kStreamInfo, kPad = FlacFile::kPadding,
                  kApp = FlacFile::kApplication, kSeek = FlacFile::kSeekTable,
                  kComment = FlacFile::kVorbisComment, kPicture = FlacFile::kPicture;

// The blocks of a FLAC file as this test reads them, apart from the library: type, flag, body.
struct BlockBytes {
  uint8_t type;
  bool last;
  Bytes body;
};
struct Layout {
  size_t start = 0;  // of "fLaC"
  std::vector<BlockBytes> blocks;
  size_t audio = 0;  // where the blocks end
};
Layout Walk(const Bytes& file) {
  Layout layout;
  // The first "fLaC": no tag in front in these files holds one, and a tag's size may overstate it.
  const Bytes magic = Of("fLaC");
  layout.start =
      size_t(std::search(file.begin(), file.end(), magic.begin(), magic.end()) - file.begin());
  size_t pos = layout.start + 4;
  while (pos + 4 <= file.size()) {
    const size_t length = file[pos + 1] << 16 | file[pos + 2] << 8 | file[pos + 3];
    if (pos + 4 + length > file.size()) break;
    layout.blocks.push_back({uint8_t(file[pos] & 0x7F), (file[pos] & 0x80) != 0,
                             Bytes(file.begin() + pos + 4, file.begin() + pos + 4 + length)});
    pos += 4 + length;
    if (layout.blocks.back().last) break;
  }
  layout.audio = pos;
  return layout;
}

Bytes Body(const Layout& layout, uint8_t type) {
  for (const auto& block : layout.blocks) {
    if (block.type == type) return block.body;
  }
  return {};
}

Bytes Tail(const Bytes& file, size_t from) { return Bytes(file.begin() + from, file.end()); }

// Checks that `saved` has a valid chain of blocks, one comment, and the bytes of `old` before
// "fLaC", in every other block but padding, and after the metadata; gives the comment's body.
Bytes OnlyTheCommentChanged(const Bytes& old, const Bytes& saved) {
  const Layout before = Walk(old), after = Walk(saved);
  EXPECT_EQ(Bytes(old.begin(), old.begin() + before.start),
            Bytes(saved.begin(), saved.begin() + after.start));
  EXPECT_EQ(Tail(old, before.audio), Tail(saved, after.audio));
  if (after.blocks.empty()) return {};
  EXPECT_EQ(kInfo, after.blocks.front().type);
  std::vector<Bytes> kept[2], comments;
  for (int i = 0; i < 2; ++i) {
    for (const auto& block : (i ? after : before).blocks) {
      if (block.type != kPad && block.type != kComment) kept[i].push_back(block.body);
      if (i && block.type == kComment) comments.push_back(block.body);
      if (i) {
        EXPECT_EQ(&block == &after.blocks.back(), block.last);
      }
    }
  }
  EXPECT_EQ(kept[0], kept[1]);
  EXPECT_EQ(1u, comments.size());
  // The padding right behind the comment is bounded; any more room is in further blocks.
  for (size_t i = 1; i < after.blocks.size(); ++i) {
    if (after.blocks[i - 1].type == kComment && after.blocks[i].type == kPad) {
      EXPECT_LE(after.blocks[i].body.size() + 4, mp3infp::MostPadding(old.size()));
    }
  }
  return comments.empty() ? Bytes() : comments[0];
}

const Bytes kPictureBody = [] {
  Bytes body(600, 0x89);
  body[0] = 0;
  return body;
}();
const Bytes kOldComment =
    VorbisCommentBody("reference libFLAC 1.4.2 20221022", {"TITLE=old", "GENRE=", "X=1"});

TEST(Flac, RoomIsUsedWhereverItIsOtherwiseTheFileIsRewrittenWithPadding) {
  const Bytes info = FlacBlock(kInfo, FlacStreamInfo());
  const Bytes app = FlacBlock(kApp, Of("abcdsome application data"));
  const Bytes seek = FlacBlock(kSeek, Bytes(18, 0x5E));
  const Bytes secondBody = VorbisCommentBody("other", {"ARTIST=a2", "DATE=2"});
  const Bytes large =
      FlacBlock(kComment, VorbisCommentBody("v", {"TITLE=" + std::string(9 << 20, 'o')}));
  const Bytes id3 = Tag(3, Frame(3, "TIT2", Latin1Text("id3 title")), 20);
  // Tags whose size claims the head of the stream ("fLaC" and 6 bytes more).
  const Bytes footerless = OvershootingTag(4, Frame(4, "TIT2", Latin1Text("id3 title")), 0);
  const Bytes counted = OvershootingTag(3, Frame(3, "TIT2", Latin1Text("id3 title")), 20);
  Bytes v1 = Of("TAG"), junk = id3;
  v1.resize(128, 'v');
  Append(junk, {0, 0, 0xFF, 0xFB, 0x90, 0x64, 'f', 'L', 'a'});
  const auto utf8 = [](const char* text) {
    return mp3infp::Utf16ToUtf8(mp3infp::SystemCodec().ToUnicode(text));
  };
  // The comment as the values below make it, with room for it and a little over the bound.
  const Bytes exact = FlacBlock(
      kComment, VorbisCommentBody("v", {"TITLE=" + utf8("新しい題名"),
                                        "ARTIST=" + utf8("表示アーティスト"), "TRACKNUMBER=3"}));
  struct Case {
    const char* what;
    std::vector<Bytes> blocks;
    bool inPlace;
    Bytes front = {}, back = {};  // around "fLaC" and the audio
  };
  const Case cases[] = {
      {"padding at the end",
       {info, FlacBlock(kComment, kOldComment), FlacBlock(kPad, Bytes(200), true)},
       true},
      {"padding between blocks",
       {info, FlacBlock(kComment, kOldComment), FlacBlock(kPad, Bytes(200)),
        FlacBlock(kPicture, kPictureBody, true)},
       true},
      {"padding before the comment",
       {info, seek, FlacBlock(kPad, Bytes(200)), FlacBlock(kComment, kOldComment, true)},
       true},
      {"padding away from the comment: the old one becomes padding",
       {info, FlacBlock(kComment, kOldComment), FlacBlock(kPicture, kPictureBody), app,
        FlacBlock(kPad, Bytes(300), true)},
       true},
      {"no comment yet, padding", {info, seek, FlacBlock(kPad, Bytes(300), true)}, true},
      {"no room at all",
       {info, FlacBlock(kComment, kOldComment), FlacBlock(kPicture, kPictureBody, true)},
       false},
      {"no comment, no padding", {info, FlacBlock(kPicture, kPictureBody, true)}, false},
      {"padding too small",
       {info, FlacBlock(kComment, kOldComment), FlacBlock(kPad, {}, true)},
       false},
      {"two comments side by side",
       {info, FlacBlock(kComment, kOldComment), FlacBlock(kComment, secondBody),
        FlacBlock(kPad, Bytes(64), true)},
       true},
      {"two comments apart, no room",
       {info, FlacBlock(kComment, kOldComment), FlacBlock(kPicture, kPictureBody),
        FlacBlock(kComment, secondBody, true)},
       false},
      // Room beyond what one block's 24-bit length can say.
      {"two full padding blocks",
       {info, FlacBlock(kComment, kOldComment), FlacBlock(kPad, Bytes(0xFFFFFF)),
        FlacBlock(kPad, Bytes(0xFFFFFF), true)},
       true},
      {"a large comment that shrinks", {info, large, FlacBlock(kPad, Bytes(9 << 20), true)}, true},
      {"a little over the bound, too little for another header",
       {info, exact, FlacBlock(kPad, Bytes(mp3infp::MostPadding(0) - 2), true)},
       true},
      {"junk between an ID3v2 tag and fLaC",
       {info, FlacBlock(kComment, kOldComment), FlacBlock(kPad, Bytes(200), true)},
       true,
       junk},
      {"a tag in front flagged with a footer it lacks",
       {info, FlacBlock(kComment, kOldComment), FlacBlock(kPad, Bytes(200), true)},
       true,
       footerless},
      {"a tag in front whose size counts its header, no room",
       {info, FlacBlock(kComment, kOldComment, true)},
       false,
       counted},
      {"an ID3v1 tag after the audio",
       {info, FlacBlock(kComment, kOldComment, true)},
       false,
       {},
       v1},
      {"junk after the audio",
       {info, FlacBlock(kComment, kOldComment), FlacBlock(kPad, Bytes(200), true)},
       true,
       {},
       Of("junk")},
  };
  const Values values = {{"INAM", "新しい題名"}, {"IART", "表示アーティスト"}, {"TRACK", "3"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes old = c.front;
    Append(old, Flac(c.blocks));
    Append(old, c.back);
    bool inPlace = false;
    const Bytes saved = SaveBytes(old, values, &inPlace, ".flac");
    ASSERT_FALSE(saved.empty());
    EXPECT_EQ(c.inPlace, inPlace);
    if (c.inPlace) {
      EXPECT_EQ(old.size(), saved.size());
    }
    OnlyTheCommentChanged(old, saved);
    // A rewritten file leaves room for the next save.
    if (!c.inPlace) {
      EXPECT_EQ(Bytes(mp3infp::kFreshPadding), Walk(saved).blocks.back().body);
    }
    EXPECT_EQ("新しい題名", Get(saved, "INAM", ".flac"));
    EXPECT_EQ("表示アーティスト", Get(saved, "IART", ".flac"));
    EXPECT_EQ("3", Get(saved, "TRACK", ".flac"));
    EXPECT_TRUE(ParseBytes(saved, ".flac")->writable());
    // The next save of the same values fits in place.
    bool again = false;
    EXPECT_EQ(saved, SaveBytes(saved, values, &again, ".flac"));
    EXPECT_TRUE(again);
  }
}

TEST(Flac, CommentItemsOtherThanTheFieldsSetStayAsTheyWere) {
  const Bytes old =
      Flac({FlacBlock(kInfo, FlacStreamInfo()),
            FlacBlock(kComment, VorbisCommentBody("vendor \xE2\x9C\x93",
                                                  {
                                                      "title=one",
                                                      "GENRE=",
                                                      "REPLAYGAIN_TRACK_GAIN=-6.1 dB",
                                                      "Title=two",
                                                      "ARTIST=a",
                                                  })),
            FlacBlock(kPad, Bytes(100)),
            // A second comment: only the names the first lacks come through.
            FlacBlock(kComment, VorbisCommentBody("x", {"artist=b", "LABEL=l"}), true)});
  const Bytes saved = SaveBytes(old, {{"INAM", "三"}, {"ICMT", "c"}}, nullptr, ".flac");
  EXPECT_EQ(VorbisCommentBody("vendor \xE2\x9C\x93",
                              {"TITLE=\xE4\xB8\x89", "GENRE=", "REPLAYGAIN_TRACK_GAIN=-6.1 dB",
                               "ARTIST=a", "LABEL=l", "COMMENT=c"}),
            Body(Walk(saved), kComment));
  EXPECT_EQ("", Get(saved, "IGNR", ".flac"));
  EXPECT_EQ("<none>", Get(saved, "IPRD", ".flac"));
}

TEST(Flac, AnId3v2TagInFrontStays) {
  Bytes old = Tag(3, Frame(3, "TIT2", Latin1Text("id3 title")), 50);
  const size_t tagSize = old.size();
  Append(old, Flac({FlacBlock(kInfo, FlacStreamInfo()), FlacBlock(kComment, kOldComment, true)}));
  EXPECT_EQ(mp3infp::FileKind::kFlac, KindOf(old, ".flac"));
  EXPECT_EQ(mp3infp::FileKind::kFlac, KindOf(old, ".mp3"));
  for (const Values& values : {Values{{"INAM", "t"}}, Values{{"INAM", std::string(500, 'x')}}}) {
    const Bytes saved = SaveBytes(old, values, nullptr, ".flac");
    ASSERT_FALSE(saved.empty());
    EXPECT_TRUE(std::equal(old.begin(), old.begin() + tagSize, saved.begin()));
    EXPECT_EQ(values[0].second, Get(saved, "INAM", ".flac"));
    EXPECT_EQ(Tail(old, Walk(old).audio), Tail(saved, Walk(saved).audio));
  }
}

TEST(Flac, OnlyTheNamesWithoutSuffixAndTheStream) {
  const Bytes old = Flac({FlacBlock(kInfo, FlacStreamInfo(48000, 1, 96000), true)});
  const auto file = ParseBytes(old, ".flac");
  ASSERT_TRUE(file);
  const auto& codec = mp3infp::SystemCodec();
  for (const char* name : {"INAM_v1", "INAM_v2", "INAM_rmp"})
    EXPECT_FALSE(file->Set(*mp3infp::ParseValueName(name), "x", codec)) << name;
  EXPECT_EQ(0u, file->TagFlags());
  const auto stream = file->Stream();
  EXPECT_EQ("FLAC", stream.format);
  EXPECT_EQ(48000u, stream.sampleRate);
  EXPECT_EQ(1u, stream.channels);
  EXPECT_DOUBLE_EQ(2.0, stream.seconds);
  EXPECT_EQ(uint32_t(3000 * 8 / 2), stream.bitRate);
}

// A comment or picture block whose stated length disagrees with its contents is read by them, as
// decoders read it, where the audio's first frame (its header whole and of this stream) is found
// where the contents end. The slipped block's contents stay as they are, and so does its header
// in a save in place; a rewrite states their true length. Anything short of that is refused.
TEST(Flac, SlippedBlocksAreReadByTheirContentsWhereTheyLeadToTheAudio) {
  const Bytes info = FlacBlock(kInfo, FlacStreamInfo());
  const Bytes picture = FlacBlock(kPicture, FlacPictureBody(Bytes(300, 0x89)));
  const Bytes comment = FlacBlock(kComment, kOldComment);
  // The block with its header stating `length`, or the last-block flag.
  const auto stated = [](Bytes block, int64_t change, bool last = false) {
    const uint32_t length = uint32_t(int64_t(block.size() - 4) + change);
    block[0] |= last ? 0x80 : 0;
    block[1] = uint8_t(length >> 16), block[2] = uint8_t(length >> 8), block[3] = uint8_t(length);
    return block;
  };
  Bytes unread = FlacBlock(kPicture, FlacPictureBody(Bytes(300, 0x89)));
  Append(unread, Bytes(20, 0x5A));
  unread = stated(unread, 0);
  Bytes badCrc = FlacAudio(3000);
  badCrc[5] ^= 1;
  Bytes cut = stated(FlacBlock(kPicture, FlacPictureBody(Bytes(30000, 1))), -29000);
  cut.resize(1500);
  const Bytes pad = FlacBlock(kPad, Bytes(200), true);
  struct Case {
    const char* what;
    std::vector<Bytes> blocks;
    Bytes slipped;  // the block that must come through as it is; empty: refused
    bool inPlace = true;
    Bytes front = Flac({}, {}), back = FlacAudio(3000);
  };
  const Case cases[] = {
      {"a picture whose contents leave bytes unread", {info, unread, comment, pad}, unread},
      {"a picture stated short", {info, stated(picture, -10), comment, pad}, stated(picture, -10)},
      {"a picture stated long", {info, stated(picture, 7), comment, pad}, stated(picture, 7)},
      {"a comment stated short", {info, picture, stated(comment, -5), pad}, picture},
      {"a comment stated long", {info, stated(comment, 3), picture, pad}, picture},
      {"a last picture stated short, no room",
       {info, comment, stated(picture, -10, true)},
       stated(picture, -10, true),
       false},
      {"a frame header whose CRC-8 is wrong",
       {info, stated(picture, -10), pad},
       {},
       true,
       Flac({}, {}),
       badCrc},
      {"a frame of another sample rate",
       {FlacBlock(kInfo, FlacStreamInfo(48000)), stated(picture, -10), pad},
       {}},
      {"no frame where the contents end",
       {info, stated(picture, -10), pad},
       {},
       true,
       Flac({}, {}),
       Of("no audio")},
      {"a seek table stated long", {info, stated(FlacBlock(kSeek, Bytes(18, 1)), 4), pad}, {}},
      {"a picture whose data passes the end", {info, cut}, {}, true, Flac({}, {}), {}},
  };
  const Values values = {{"INAM", "新しい題名"}, {"TRACK", "3"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes old = c.front;
    for (const Bytes& block : c.blocks) Append(old, block);
    Append(old, c.back);
    bool inPlace = false;
    const Bytes saved = SaveBytes(old, values, &inPlace, ".flac");
    ASSERT_EQ(mp3infp::FileKind::kFlac, KindOf(old, ".flac"));
    if (c.slipped.empty()) {
      EXPECT_TRUE(saved.empty());
      continue;
    }
    ASSERT_FALSE(saved.empty());
    EXPECT_EQ(c.inPlace, inPlace);
    // The slipped block's contents: in place with its header as it was, rewritten with one that
    // states their true length; its last-block flag follows the chain.
    const Bytes whole =
        inPlace ? c.slipped : FlacBlock(0, Bytes(c.slipped.begin() + 4, c.slipped.end()));
    const Bytes kept(whole.begin() + 1, whole.end());
    EXPECT_NE(saved.end(), std::search(saved.begin(), saved.end(), kept.begin(), kept.end()));
    EXPECT_TRUE(std::equal(c.back.begin(), c.back.end(), saved.end() - c.back.size()));
    EXPECT_EQ("新しい題名", Get(saved, "INAM", ".flac"));
    EXPECT_EQ("3", Get(saved, "TRACK", ".flac"));
    EXPECT_EQ(saved, SaveBytes(saved, values, &inPlace, ".flac"));
    EXPECT_TRUE(inPlace);
  }
}

// The file without its last `count` bytes.
Bytes Cut(Bytes bytes, size_t count) {
  bytes.erase(bytes.end() - static_cast<ptrdiff_t>(std::min(count, bytes.size())), bytes.end());
  return bytes;
}

TEST(Flac, MalformedFilesAreNotWritten) {
  const Bytes info = FlacBlock(kInfo, FlacStreamInfo());
  Bytes cutComment = FlacBlock(kComment, kOldComment, true);
  cutComment[4] = 0xFF;  // the vendor string's length passes the block's end
  Bytes claimed = Tag(3, Frame(3, "TIT2", Latin1Text("t")), 0);
  Append(claimed, {'I', 'D', '3', 3, 0, 0, 0, 0x40, 0, 0});
  Append(claimed, Flac({info, FlacBlock(kComment, kOldComment, true)}));
  struct Case {
    const char* what;
    Bytes file;
  };
  const Case cases[] = {
      {"no last-block flag", Flac({info, FlacBlock(kComment, kOldComment)})},
      {"a block past the end", Cut(Flac({info, FlacBlock(kPad, Bytes(100), true)}, {}), 10)},
      {"cut in a block header", Cut(Flac({info, FlacBlock(kPad, Bytes(10), true)}, {}), 12)},
      {"stream info not first", Flac({FlacBlock(kComment, kOldComment), info})},
      {"a second stream info", Flac({info, FlacBlock(kInfo, FlacStreamInfo(), true)})},
      {"stream info too short", Flac({FlacBlock(kInfo, Bytes(20), true)})},
      {"an invalid block type", Flac({info, FlacBlock(127, {}, true)})},
      {"a comment whose lengths pass its end", Flac({info, cutComment})},
      {"a second comment whose lengths pass its end",
       Flac({info, FlacBlock(kComment, kOldComment), cutComment})},
      {"no frame after the metadata", Flac({info, FlacBlock(kPad, {}, true)}, Of("not audio"))},
      {"fLaC inside what a second tag claims beyond the end", claimed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto file = ParseBytes(c.file, ".flac");
    ASSERT_TRUE(file);
    EXPECT_EQ(mp3infp::FileKind::kFlac, file->kind());
    EXPECT_FALSE(file->writable());
    EXPECT_TRUE(SaveBytes(c.file, {{"INAM", "x"}}, nullptr, ".flac").empty());
  }
  // Cut anywhere before the audio: never written, never a crash.
  const Bytes whole = Flac({info, FlacBlock(kComment, kOldComment, true)}, {});
  for (size_t cut = 4; cut < whole.size(); ++cut) {
    const Bytes part(whole.begin(), whole.begin() + cut);
    EXPECT_TRUE(SaveBytes(part, {{"INAM", "x"}}, nullptr, ".flac").empty()) << cut;
  }
  EXPECT_EQ(mp3infp::FileKind::kUnknown, KindOf(Of("fLaX and more bytes"), ".flac"));
  // Behind an ID3v2 tag, "fLaC" is looked for only so far, and only before a stream info block.
  const Bytes id3 = Tag(3, Frame(3, "TIT2", Latin1Text("t")), 0);
  const Bytes fake = {0, 'f', 'L', 'a', 'C', kComment, 0, 0, 0x22};
  for (const Bytes& junk : {Bytes(FlacFile::kMaxJunk + 1, 0), fake}) {
    Bytes file = id3;
    Append(file, junk);
    Append(file, Flac({info, FlacBlock(kComment, kOldComment, true)}));
    const auto parsed = ParseBytes(file, ".flac");
    EXPECT_EQ(junk == fake,
              parsed && parsed->kind() == mp3infp::FileKind::kFlac && parsed->writable());
  }
}

}  // namespace
