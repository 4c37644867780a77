// RIFF files: RMP3 with LIST/INFO and ID3 tags, WAVE, and the chunk layouts found in the wild.
#include <gtest/gtest.h>

#include "mp3infp/Riff.h"
#include "tests/mp3infp/FormatTestSupport.h"

namespace {

using namespace samples;

Bytes Rmp3(const std::vector<Bytes>& extra, int declaredExtra = 0) {
  std::vector<Bytes> chunks{Chunk("data", MpegAudio(2))};
  chunks.insert(chunks.end(), extra.begin(), extra.end());
  return Riff("RMP3", chunks, declaredExtra);
}

uint32_t DeclaredSize(const Bytes& file) {
  return file[4] | file[5] << 8 | file[6] << 16 | uint32_t(file[7]) << 24;
}

TEST(Riff, Rmp3InfoIsReadAndWrittenInCodePageBytes) {
  const Bytes old = Rmp3({InfoList({{"INAM", "old"}, {"ISFT", "some tool"}})});
  const auto file = ParseBytes(old, ".rmp");
  EXPECT_EQ(mp3infp::FileKind::kRiffMp3, file->kind());
  EXPECT_EQ(4u, file->TagFlags());
  EXPECT_EQ("old", Get(old, "INAM_rmp", ".rmp"));

  const Bytes saved = SaveBytes(
      old, {{"INAM_rmp", "新しい題名"}, {"TRACK_rmp", "3"}, {"IART_rmp", "表"}}, nullptr, ".rmp");
  ASSERT_FALSE(saved.empty());
  EXPECT_EQ("新しい題名", Get(saved, "INAM_rmp", ".rmp"));
  EXPECT_EQ("3", Get(saved, "TRACK_rmp", ".rmp"));
  EXPECT_EQ(saved.size() - 8, DeclaredSize(saved));
  // The other subchunk and the data chunk are as they were.
  EXPECT_EQ("some tool", *ParseId3(saved)->info()->Get("ISFT"));
  const Bytes data = Chunk("data", MpegAudio(2));
  EXPECT_TRUE(std::equal(data.begin(), data.end(), saved.begin() + 12));
}

TEST(Riff, Rmp3WithoutTagsGetsInfoAndId3Tags) {
  const Bytes old = Rmp3({});
  EXPECT_EQ(0u, ParseBytes(old)->TagFlags());
  auto file = ParseId3(old);
  ASSERT_TRUE(file->AddId3v1());
  ASSERT_TRUE(file->AddId3v2());
  const Bytes tagged = Apply(old, *file->Plan());
  EXPECT_EQ(3u, ParseBytes(tagged)->TagFlags());
  const Bytes saved = SaveBytes(tagged, {{"INAM_v1", "v1"}, {"INAM_v2", "v2"}, {"INAM_rmp", "r"}});
  ASSERT_FALSE(saved.empty());
  EXPECT_EQ(7u, ParseBytes(saved)->TagFlags());
  EXPECT_EQ("v1", Get(saved, "INAM_v1"));
  EXPECT_EQ("v2", Get(saved, "INAM_v2"));
  EXPECT_EQ("r", Get(saved, "INAM_rmp"));
  // The ID3v1 tag follows the RIFF chunk, whose size does not count it.
  EXPECT_EQ(saved.size() - 8 - 128, DeclaredSize(saved));
  const auto layout = [&] {
    mp3infp::MemorySource source(saved);
    return *mp3infp::RiffLayout::Parse(source);
  }();
  EXPECT_TRUE(layout.wellFormed);
}

TEST(Riff, Rmp3DateGoesIntoEachTagInItsOwnForm) {
  const Bytes old = Rmp3({InfoList({{"ICRD", "1999"}})});
  auto file = ParseId3(old, ".rmp");
  ASSERT_TRUE(file->AddId3v1() && file->AddId3v2());
  const Bytes tagged = Apply(old, *file->Plan());
  for (const char* date : {"2024/05/01", "2024.05.01"}) {
    const Bytes saved = SaveBytes(tagged, {{"ICRD", date}}, nullptr, ".rmp");
    ASSERT_EQ(7u, ParseBytes(saved)->TagFlags());
    EXPECT_EQ("2024", Get(saved, "ICRD_v1"));
    EXPECT_EQ("2024-05-01", Get(saved, "ICRD_v2"));
    // INFO takes the value as given: ICRD has no fixed form, and its readers show text.
    EXPECT_EQ(date, Get(saved, "ICRD_rmp"));
  }
}

TEST(Riff, WaveTakesThePlainNames) {
  const Bytes old = Riff("WAVE", {Chunk("fmt ", WaveFormat()), Chunk("data", Bytes(1000, 0x11))});
  EXPECT_EQ(mp3infp::FileKind::kWave, KindOf(old, ".wav"));
  const Bytes saved = SaveBytes(old, {{"INAM", "曲名"}, {"ICMT", "c"}}, nullptr, ".wav");
  EXPECT_EQ("曲名", Get(saved, "INAM", ".wav"));
  EXPECT_EQ("c", Get(saved, "ICMT", ".wav"));
  EXPECT_TRUE(std::equal(old.begin() + 12, old.end(), saved.begin() + 12));
  // ID3 names do not apply to WAVE.
  EXPECT_TRUE(SaveBytes(old, {{"INAM_v2", "x"}}, nullptr, ".wav").empty());
}

TEST(Riff, OddChunksWithAndWithoutPadByte) {
  const Bytes odd = Chunk("junk", Bytes(7, 0x33), true);
  const Bytes unpadded = Chunk("junq", Bytes(7, 0x44), false);
  const Bytes old = Rmp3({odd, unpadded, InfoList({{"INAM", "x"}})});
  const Bytes saved = SaveBytes(old, {{"INAM_rmp", "a much longer title"}});
  ASSERT_FALSE(saved.empty());
  EXPECT_EQ("a much longer title", Get(saved, "INAM_rmp"));
  // Everything before the LIST chunk is as it was, the missing pad byte included.
  const size_t before = old.size() - InfoList({{"INAM", "x"}}).size();
  EXPECT_TRUE(std::equal(old.begin() + 8, old.begin() + before, saved.begin() + 8));

  // An odd last chunk without pad byte: a new LIST chunk starts on an even offset.
  const Bytes endsOdd = Rmp3({Chunk("junk", Bytes(3, 1), false)});
  const Bytes appended = SaveBytes(endsOdd, {{"INAM_rmp", "t"}});
  ASSERT_EQ(0u, (endsOdd.size() + 1) % 2);
  EXPECT_EQ('L', appended[endsOdd.size() + 1]);
  EXPECT_EQ("t", Get(appended, "INAM_rmp"));

  // When that odd last chunk is the LIST being rewritten, it comes back even and the new ID3
  // chunk follows it directly: a stray pad byte would hide the ID3 chunk from readers.
  Bytes oddList = InfoList({{"INAM", "name"}});
  ASSERT_EQ(0u, oddList.size() % 2);
  oddList.pop_back();  // "name" and its terminator, unpadded: the chunk's size is odd
  oddList[4] = uint8_t(oddList.size() - 8);
  const Bytes listLast = Rmp3({oddList});
  auto file = ParseId3(listLast);
  ASSERT_TRUE(file->AddId3v2());
  ASSERT_TRUE(file->Set(*mp3infp::ParseValueName("INAM_rmp"), "x", mp3infp::SystemCodec()));
  const Bytes both = Apply(listLast, *file->Plan());
  mp3infp::MemorySource source(both);
  const auto layout = *mp3infp::RiffLayout::Parse(source);
  EXPECT_TRUE(layout.wellFormed);
  ASSERT_EQ(3u, layout.chunks.size());
  EXPECT_EQ("id3 ", layout.chunks[2].id);
  EXPECT_EQ("x", Get(both, "INAM_rmp"));
  EXPECT_TRUE(ParseBytes(both)->writable());
}

TEST(Riff, ChunksPastTheEndAreNotWritten) {
  Bytes truncated = Rmp3({InfoList({{"INAM", "x"}})});
  truncated.resize(truncated.size() - 3);
  EXPECT_TRUE(SaveBytes(truncated, {{"INAM_rmp", "y"}}).empty());
  // The RIFF header claims more than the file has.
  EXPECT_TRUE(SaveBytes(Rmp3({}, 100), {{"INAM_rmp", "y"}}).empty());
}

TEST(Riff, DuplicateInfoListsAreKeptInStep) {
  const Bytes old = Rmp3({InfoList({{"INAM", "one"}}), InfoList({{"INAM", "two"}, {"IART", "a"}})});
  EXPECT_EQ("one", Get(old, "INAM_rmp"));
  const Bytes saved = SaveBytes(old, {{"INAM_rmp", "new"}, {"IART_rmp", "b"}, {"ICMT_rmp", "c"}});
  mp3infp::MemorySource source(saved);
  const auto layout = *mp3infp::RiffLayout::Parse(source);
  int lists = 0;
  for (const auto& chunk : layout.chunks) {
    if (chunk.id != "LIST") continue;
    mp3infp::InfoList list;
    ASSERT_TRUE(list.Parse(std::span(saved).subspan(chunk.DataOffset() + 4, chunk.size - 4)));
    EXPECT_EQ("new", list.Get("INAM"));
    ++lists;
  }
  EXPECT_EQ(2, lists);
  EXPECT_EQ("b", Get(saved, "IART_rmp"));
  EXPECT_EQ("c", Get(saved, "ICMT_rmp"));
}

TEST(Riff, TrailingBytesAfterTheRiffChunkStay) {
  Bytes old = Rmp3({});
  const Bytes trailer = Of("trailing data that is not a tag");
  Append(old, trailer);
  const Bytes saved = SaveBytes(old, {{"INAM_rmp", "t"}});
  ASSERT_FALSE(saved.empty());
  EXPECT_TRUE(std::equal(trailer.rbegin(), trailer.rend(), saved.rbegin()));
  EXPECT_EQ("t", Get(saved, "INAM_rmp"));
}

}  // namespace

namespace {

Bytes Ds64(uint64_t riffSize, uint64_t dataSize) {
  Bytes data;
  for (uint64_t v : {riffSize, dataSize, dataSize / 4}) {
    AppendLE32(data, uint32_t(v));
    AppendLE32(data, uint32_t(v >> 32));
  }
  AppendLE32(data, 0);  // no table
  return Chunk("ds64", data);
}

// RF64: the sizes that do not fit 32 bits are in ds64, which is kept in step; a file whose sizes
// do not add up is refused, as a RIFF file is.
TEST(Riff, Rf64IsTaggedWithItsSizesInDs64) {
  Bytes dataChunk = Chunk("data", Bytes(1000, 0x11));
  std::fill_n(dataChunk.begin() + 4, 4, 0xFF);
  const auto rf64 = [&](int64_t skew, bool withDs64) {
    const size_t size = 4 + 36 + 24 + dataChunk.size();
    Bytes file = Of("RF64\xFF\xFF\xFF\xFFWAVE");
    if (withDs64) Append(file, Ds64(uint64_t(int64_t(size) + skew), 1000));
    Append(file, Chunk("fmt ", WaveFormat()));
    Append(file, dataChunk);
    return file;
  };
  struct Case {
    const char* what;
    Bytes file;
    bool written;
  };
  const Case cases[] = {
      {"sound", rf64(0, true), true},
      {"ds64 claims more than the file", rf64(100, true), false},
      {"no ds64", rf64(0, false), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(mp3infp::FileKind::kWave, KindOf(c.file, ".wav"));
    const Bytes saved = SaveBytes(c.file, {{"INAM", "title"}}, nullptr, ".wav");
    ASSERT_EQ(c.written, !saved.empty());
    if (saved.empty()) continue;
    EXPECT_EQ("title", Get(saved, "INAM", ".wav"));
    EXPECT_EQ(0xFFFFFFFFu, DeclaredSize(saved));
    EXPECT_EQ(saved.size() - 8, DeclaredSize(Bytes(saved.begin() + 16, saved.end())));
    EXPECT_TRUE(std::equal(dataChunk.begin(), dataChunk.end(), saved.begin() + 12 + 36 + 24));
  }
}

}  // namespace
