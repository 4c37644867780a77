// A caller whose narrow strings are UTF-8 (the program in the UTF-8 code page): ID3v1 and RIFF
// INFO text still goes into the file in the legacy code page (932, in which this file's narrow
// literals are), ID3v2 keeps every character. Runs natively and under Wine.
#include <gtest/gtest.h>

#include "tests/mp3infp/FormatTestSupport.h"

namespace {

using namespace samples;

// Windows writes a character that the code page lacks as its best fit where it has one, as it
// always has for this library; iconv has no best fit.
#ifdef _WIN32
const std::string kBeyonce = "Beyonce", kSigurRos = "Sigur Ros";
#else
const std::string kBeyonce = "Beyonc?", kSigurRos = "Sigur R?s";
#endif

std::string U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

std::string Repeat(const std::string& text, int times) {
  std::string out;
  while (times-- > 0) out += text;
  return out;
}

class Utf8Caller : public ::testing::Test {
 protected:
  // `values` set as a UTF-8 caller sets them; the saved file.
  Bytes Save(const Bytes& old, const Values& values, std::string_view extension = ".mp3") {
    const auto file = ParseBytes(old, extension);
    if (!file) return {};
    for (const auto& [name, value] : values) {
      const auto parsed = mp3infp::ParseValueName(name);
      if (!parsed || !file->Set(*parsed, value, utf8)) return {};
    }
    const auto plan = file->Plan();
    return plan ? Apply(old, *plan) : Bytes();
  }
  std::string Read(const Bytes& bytes, const char* name, std::string_view extension = ".mp3") {
    const auto parsed = mp3infp::ParseValueName(name);
    const auto file = ParseBytes(bytes, extension);
    return file ? file->Get(*parsed, utf8).value_or("<none>") : "<none>";
  }

  const mp3infp::Utf8Codec utf8{mp3infp::SystemCodec()};
};

TEST_F(Utf8Caller, Id3v1InTheLegacyCodePageId3v2Whole) {
  struct Case {
    std::string value;
    std::string v1Bytes;  // the title field as stored
    std::string v1Read;   // what a UTF-8 caller reads back
  } cases[] = {
      {U8(u8"表示ソ十"), "表示ソ十", U8(u8"表示ソ十")},
      {U8(u8"Beyoncé"), kBeyonce, kBeyonce},
      {U8(u8"방탄소년단"), "?????", "?????"},
      {"ASCII only", "ASCII only", "ASCII only"},
      // 16 kanji take 48 bytes in UTF-8 and 32 in 932: the field keeps 15 whole ones.
      {Repeat(U8(u8"漢"), 16), Repeat("漢", 15), Repeat(U8(u8"漢"), 15)},
      {"a" + Repeat(U8(u8"漢"), 15), "a" + Repeat("漢", 14), "a" + Repeat(U8(u8"漢"), 14)},
  };
  for (const auto& c : cases) {
    const Bytes saved = Save(MpegAudio(2), {{"INAM_v1", c.value}, {"INAM_v2", c.value}});
    ASSERT_FALSE(saved.empty()) << c.value;
    const std::string field(saved.end() - 125, saved.end() - 95);
    EXPECT_EQ(c.v1Bytes, field.substr(0, field.find('\0'))) << c.value;
    EXPECT_EQ(c.v1Read, Read(saved, "INAM_v1")) << c.value;
    EXPECT_EQ(c.value, Read(saved, "INAM_v2")) << c.value;
  }
  // Characters outside the Basic Multilingual Plane, in ID3v2 and through the legacy table.
  const std::string emoji = U8(u8"🎵 Song 😀");
  const Bytes saved = Save(MpegAudio(2), {{"IART_v1", emoji}, {"IART_v2", emoji}});
  EXPECT_EQ(emoji, Read(saved, "IART_v2"));
  const std::string v1 = Read(saved, "IART_v1");
  EXPECT_EQ(" Song ", v1.substr(v1.find(' '), 6));
  EXPECT_EQ(std::string::npos, v1.find('\xF0'));
}

TEST_F(Utf8Caller, RiffInfoInTheLegacyCodePage) {
  const Bytes wave = Riff("WAVE", {Chunk("fmt ", WaveFormat()), Chunk("data", Bytes(8, 0))});
  const Bytes saved = Save(wave, {{"IART", U8(u8"表示")}, {"INAM", U8(u8"Sigur Rós")}}, ".wav");
  ASSERT_FALSE(saved.empty());
  const std::string bytes(saved.begin(), saved.end());
  EXPECT_NE(std::string::npos, bytes.find(std::string("IART\x05\0\0\0表示", 12)));
  EXPECT_EQ(U8(u8"表示"), Read(saved, "IART", ".wav"));
  EXPECT_EQ(kSigurRos, Read(saved, "INAM", ".wav"));
}

TEST(Utf8Codec, PrefixesEndWhereACharacterEnds) {
  const mp3infp::Utf8Codec codec(mp3infp::SystemCodec());
  const struct {
    std::string text;
    size_t limit, kept;
  } cases[] = {
      {"abc", 10, 3},       {"abc", 2, 2},      {U8(u8"aé"), 2, 1}, {U8(u8"aé"), 3, 3},
      {U8(u8"表示"), 5, 3}, {U8(u8"😀x"), 3, 0}, {U8(u8"😀x"), 4, 4}, {"", 0, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.kept, mp3infp::PrefixAtCharBoundary(c.text, c.limit, codec)) << c.text;
}

}  // namespace
