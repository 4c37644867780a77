// Vorbis comments, as FLAC, Ogg Vorbis and Opus carry them: items kept byte for byte, fields
// replaced by name in any case, lengths that pass the end refused.
#include <gtest/gtest.h>

#include "mp3infp/VorbisComment.h"
#include "tests/mp3infp/SampleFiles.h"

namespace {

using namespace samples;
using mp3infp::Field;
using mp3infp::VorbisComment;

TEST(VorbisComment, SettingReplacesEveryItemOfTheNameAndKeepsTheRest) {
  struct Case {
    std::vector<std::string> items;
    std::string name, value;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {{"TITLE=a", "GENRE=", "title=b", "X=1"}, "TITLE", "new", {"TITLE=new", "GENRE=", "X=1"}},
      {{"Artist=x"}, "ARTIST", "y", {"ARTIST=y"}},
      {{"GENRE=", "DATE=1999"}, "TITLE", "t", {"GENRE=", "DATE=1999", "TITLE=t"}},
      // A longer name that starts the same, and an item without '=', are other items.
      {{"TITLESORT=s", "TITLE", "TITLE=old"}, "TITLE", "n", {"TITLESORT=s", "TITLE", "TITLE=n"}},
      {{}, "COMMENT", "", {"COMMENT="}},
      {{"ARTIST=a", "TITLE=t", "artist=b", "ALBUM=x", "Artist=c"},
       "ARTIST",
       "n",
       {"ARTIST=n", "TITLE=t", "ALBUM=x"}},
  };
  for (const auto& c : cases) {
    auto comment = VorbisComment::Parse(VorbisCommentBody("vendor x", c.items));
    ASSERT_TRUE(comment);
    comment->Set(c.name, c.value);
    EXPECT_EQ(c.expected, comment->items()) << c.name << "=" << c.value;
    EXPECT_EQ(VorbisCommentBody("vendor x", c.expected), comment->Render());
  }
}

// A second comment of a file adds only names the first lacks, every item of such a name.
TEST(VorbisComment, MergingAddsTheItemsOfNamesNotThereYet) {
  struct Case {
    std::vector<std::string> first, second, expected;
  };
  const Case cases[] = {
      {{"TITLE=a", "X=1"},
       {"title=b", "ARTIST=c", "x=2", "ARTIST=d", "BARE", "TITLESORT=s"},
       {"TITLE=a", "X=1", "ARTIST=c", "ARTIST=d", "BARE", "TITLESORT=s"}},
      {{}, {"A=1", "A=2"}, {"A=1", "A=2"}},
      {{"A=1", "BARE"}, {"bare", "a=", "B="}, {"A=1", "BARE", "B="}},
  };
  for (const auto& c : cases) {
    auto comment = VorbisComment::Parse(VorbisCommentBody("first", c.first));
    comment->Merge(*VorbisComment::Parse(VorbisCommentBody("second", c.second)));
    EXPECT_EQ(VorbisCommentBody("first", c.expected), comment->Render());
  }
}

TEST(VorbisComment, BytesStayAsTheyWereUntilSet) {
  Bytes body = VorbisCommentBody("reference libFLAC 1.4.2 20221022",
                                 {"TITLE=\xE8\xA1\xA8", "GENRE=", "\xFF\xFE=binary"});
  body.push_back(0x01);  // a framing bit, as Ogg Vorbis has it
  const auto comment = VorbisComment::Parse(body);
  ASSERT_TRUE(comment);
  EXPECT_EQ(body, comment->Render());
  EXPECT_EQ("", *comment->Get("genre"));
  EXPECT_FALSE(comment->Get("ARTIST"));
  // UTF-8 in the comment, the code page outside.
  EXPECT_EQ("表", *comment->GetField(Field::kTitle, mp3infp::SystemCodec()));
}

TEST(VorbisComment, FieldsHaveTheirVorbisNames) {
  VorbisComment comment;
  const auto& codec = mp3infp::SystemCodec();
  const std::pair<Field, std::string> fields[] = {
      {Field::kArtist, "ARTIST"},     {Field::kAlbum, "ALBUM"}, {Field::kTitle, "TITLE"},
      {Field::kTrack, "TRACKNUMBER"}, {Field::kGenre, "GENRE"}, {Field::kYear, "DATE"},
      {Field::kComment, "COMMENT"}};
  for (const auto& [field, name] : fields) comment.SetField(field, "～" + name, codec);
  for (const auto& [field, name] : fields) {
    EXPECT_EQ("\xEF\xBD\x9E" + name, *comment.Get(name));  // U+FF5E in UTF-8
    EXPECT_EQ("～" + name, *comment.GetField(field, codec));
  }
}

TEST(VorbisComment, LengthsPastTheEndAreRefused) {
  const Bytes good = VorbisCommentBody("v", {"A=1", "B=2"});
  EXPECT_TRUE(VorbisComment::Parse(good));
  for (size_t cut = 0; cut < good.size(); ++cut) {
    EXPECT_FALSE(VorbisComment::Parse(std::span(good).first(cut))) << cut;
  }
  Bytes hugeCount = VorbisCommentBody("v", {});
  hugeCount[5] = hugeCount[6] = hugeCount[7] = hugeCount[8] = 0xFF;
  EXPECT_FALSE(VorbisComment::Parse(hugeCount));
  Bytes hugeVendor = good;
  hugeVendor[3] = 0x80;
  EXPECT_FALSE(VorbisComment::Parse(hugeVendor));
}

}  // namespace
