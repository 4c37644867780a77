// Writes files through mp3infp.dll, as the program saves them, for the independent readers of
// the Linux side (check_readers.py): the files go into mp3infp-readers/ with expected.tsv, one
// line per value: file, tag (v1, v2, info), field key, the value's code-page bytes in hex.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tags/TagLibrary.h"
#include "tests/mp3infp/WinSampleFiles.h"

namespace {

using namespace samples;

constexpr const char* kFolder = "mp3infp-readers";
constexpr const char* kKeys[] = {"IART", "IPRD", "INAM", "TRACK", "IGNR", "ICRD", "ICMT"};

std::string Hex(const std::string& bytes) {
  std::string out;
  char digits[3];
  for (unsigned char c : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", c);
    out += digits;
  }
  return out;
}

class ReaderSamples : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CreateDirectoryA(kFolder, nullptr);
    expected_ = std::fopen((std::string(kFolder) + "\\expected.tsv").c_str(), "wb");
  }
  static void TearDownTestSuite() { std::fclose(expected_); }
  void SetUp() override { ASSERT_TRUE(library.Open("mp3infp")); }

  static std::string PathOf(const std::string& name) { return std::string(kFolder) + "\\" + name; }

  // The program's save of one entry, then a line per value and tag the file now has.
  void Save(const std::string& name, const Bytes& content, const std::vector<std::string>& values) {
    const std::string path = PathOf(name);
    ASSERT_TRUE(WriteBytes(path, content));
    library.Load(nullptr, path.c_str());
    const bool mp3 = library.GetType() == 1;
    if (mp3 && !(library.GetTagType() & 3)) {
      ASSERT_EQ(0u, library.MakeId3v1(path.c_str()));
      ASSERT_EQ(0u, library.MakeId3v2(path.c_str()));
    }
    const DWORD flags = mp3 ? library.GetTagType() : 0;
    for (size_t i = 0; i < 7; ++i) {
      const std::string key = kKeys[i];
      if (values[i].empty()) continue;
      if (!mp3) library.SetValue(key.c_str(), values[i].c_str());
      if (flags & 1) library.SetValue((key + "_v1").c_str(), values[i].c_str());
      if (flags & 2) library.SetValue((key + "_v2").c_str(), values[i].c_str());
      if (flags & 4) library.SetValue((key + "_rmp").c_str(), values[i].c_str());
    }
    ASSERT_EQ(0u, library.Save(path.c_str()));

    // The values as they went in; the readers must give their Unicode back. A format without
    // the MP3 tags has one tag, named after the format.
    library.Load(nullptr, path.c_str());
    const DWORD type = library.GetType();
    const DWORD saved = mp3 ? library.GetTagType() : 4;
    const char* only = type == kMp3infpTypeWave  ? "info"
                       : type == kMp3infpTypeMp4 ? "mp4"
                                                 : "vorbis";
    const std::pair<DWORD, const char*> tags[] = {{1, "v1"}, {2, "v2"}, {4, mp3 ? "info" : only}};
    for (size_t i = 0; i < 7; ++i) {
      for (const auto& [flag, tag] : tags) {
        if (!(saved & flag) || values[i].empty()) continue;
        std::string value = values[i];
        if (flag == 1 && std::string(kKeys[i]) == "IGNR") {
          // ID3v1 holds a genre of the standard list, or none.
          char name[64];
          library.GetValue("IGNR_v1", name, sizeof name);
          if (!*name) continue;
          value = name;
        }
        std::fprintf(expected_, "%s\t%s\t%s\t%s\n", name.c_str(), tag, kKeys[i],
                     Hex(value).c_str());
      }
    }
  }

  TagLibrary library;
  static std::FILE* expected_;
};

std::FILE* ReaderSamples::expected_ = nullptr;

const std::vector<std::string> kJapanese = {
    "表示アーティスト～", "アルバム－ソ", "題名テスト", "12", "J-POP", "2023", "コメント表示"};
const std::vector<std::string> kAscii = {"Artist", "Album", "Title",        "3",
                                         "Rock",   "1999",  "Plain comment"};

Bytes Audio() { return MpegAudio(30); }

TEST_F(ReaderSamples, CreatedTagsVersion23) {
  Save("created23.mp3", Audio(), kJapanese);
  Save("ascii23.mp3", Audio(), kAscii);
}

TEST_F(ReaderSamples, ExistingVersion24WithOtherFrames) {
  Bytes body = Frame(4, "TIT2", {3, 'o', 'l', 'd'});
  Bytes picture{0, 'i', 'm', 'a', 'g', 'e', '/', 'p', 'n', 'g', 0, 3, 'c', 'o', 'v', 'e', 'r', 0};
  picture.resize(picture.size() + 500, 0x89);
  Append(body, Frame(4, "APIC", picture));
  Append(body, Frame(4, "USLT", {3, 'j', 'p', 'n', 0, 'l', 'y', 'r', 'i', 'c', 's'}));
  Append(body, Frame(4, "TXXX", {3, 'K', 'E', 'Y', 0, 'v', 'a', 'l'}));
  Append(body, Frame(4, "PRIV", {'o', 'w', 'n', 'e', 'r', 0, 1, 2, 3}));
  Append(body, Frame(4, "COMM", {3, 'e', 'n', 'g', 'd', 'e', 's', 'c', 0, 'k', 'e', 'p', 't'}));
  Bytes file = Tag(4, body, 64);
  Append(file, Audio());
  ASSERT_TRUE(WriteBytes(PathOf("existing24.orig.mp3"), file));
  Save("existing24.mp3", file, kJapanese);
}

TEST_F(ReaderSamples, ExistingVersion22) {
  Bytes file = Tag(2, Frame(2, "TT2", Latin1Text("old")), 32);
  Append(file, Audio());
  Save("existing22.mp3", file, kJapanese);
}

// Recording dates: split over TYER and TDAT up to 2.3, in ISO form in 2.4's TDRC.
TEST_F(ReaderSamples, RecordingDates) {
  std::vector<std::string> values = kAscii;
  values[5] = "2024-05-01";
  Save("dated23.mp3", Audio(), values);
  Bytes file22 = Tag(2, Frame(2, "TYE", Latin1Text("1999")), 32);
  Append(file22, Audio());
  Save("dated22.mp3", file22, values);
  values[5] = "2024/05/01";
  Bytes file24 = Tag(4, Frame(4, "TDRC", {3, '1', '9', '9', '9'}), 32);
  Append(file24, Audio());
  Save("dated24.mp3", file24, values);

  // A year of its own drops the day of the old year, and leaves the time.
  Bytes old = Frame(3, "TYER", Latin1Text("1999"));
  Append(old, Frame(3, "TDAT", Latin1Text("3112")));
  Append(old, Frame(3, "TIME", Latin1Text("2359")));
  Bytes redated = Tag(3, old, 32);
  Append(redated, Audio());
  values[5] = "2024";
  Save("redated23.mp3", redated, values);
}

// The samples that Debian's encoders made (make_format_samples.py), each saved into a copy; the
// sample stays beside it as NAME.orig for the comparison.
TEST_F(ReaderSamples, OtherFormats) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA("mp3infp-formats\\*.*", &data);
  ASSERT_NE(INVALID_HANDLE_VALUE, find) << "no samples: make_format_samples.py did not run";
  int count = 0;
  do {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::string name = data.cFileName;
    const Bytes sample = ReadBytes("mp3infp-formats\\" + name);
    ASSERT_TRUE(WriteBytes(PathOf(name + ".orig"), sample));
    Save(name, sample, kJapanese);
    ++count;
  } while (FindNextFileA(find, &data));
  FindClose(find);
  EXPECT_GT(count, 0);
}

TEST_F(ReaderSamples, RiffInfo) {
  Save("info.wav",
       Riff("WAVE", {Chunk("fmt ", WaveFormat()), Chunk("data", Bytes(8000, 0)),
                     InfoList({{"ISFT", "tool"}})}),
       kJapanese);
  Save("info.rmp", Riff("RMP3", {Chunk("data", Audio()), InfoList({{"INAM", "old"}})}), kJapanese);
}

}  // namespace
