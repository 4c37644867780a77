// mp3infp.dll saving Ogg Vorbis, Opus and FLAC files as the program saves them: load, the plain
// field keys, save in place or through a new file; the values read back through the library, the
// audio pages kept, and the files it must refuse left as they were.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tags/TagLibrary.h"
#include "tests/mp3infp/WinSampleFiles.h"

namespace {

using namespace samples;

constexpr const char* kKeys[] = {"IART", "IPRD", "INAM", "TRACK", "IGNR", "ICRD", "ICMT"};
const std::vector<std::string> kValues = {"表示アーティスト", "アルバム～ソ", "題名－テスト", "7",
                                          "ジャンル",         "2024",         "コメント表"};

std::string Sample(const std::string& name) {
  return std::string("Z:" TAGWHIRL_OGG_SAMPLES "/") + name;
}

class OggDll : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(library.Open("mp3infp")); }
  void TearDown() override { library.Close(); }

  DWORD Save(const std::string& path, const std::vector<std::string>& values) {
    library.Load(nullptr, path.c_str());
    EXPECT_NE(1u, library.GetType());
    for (size_t i = 0; i < 7; ++i) {
      if (!values[i].empty()) library.SetValue(kKeys[i], values[i].c_str());
    }
    return library.Save(path.c_str());
  }

  std::string Value(const char* name, DWORD* length = nullptr) {
    char buffer[256];
    const DWORD got = library.GetValue(name, buffer, sizeof buffer);
    if (length) *length = got;
    return got == DWORD(-1) ? "<none>" : buffer;
  }

  TagLibrary library;
};

TEST_F(OggDll, SavesEveryFieldAndKeepsTheAudioPages) {
  const ScratchFolder scratch("ogg");
  const std::string& folder = scratch.path();
  for (const char* name : {"vorbis.ogg", "opus.opus", "picture.opus", "chain.ogg", "flac.oga",
                           "flac-ffmpeg.oga", "theora.ogg", "multiplexed.ogg", "from5.ogg"}) {
    SCOPED_TRACE(name);
    const Bytes old = ReadBytes(Sample(name));
    ASSERT_FALSE(old.empty());
    const std::string path = folder + "\\" + name;
    ASSERT_TRUE(WriteBytes(path, old));
    ASSERT_EQ(0u, Save(path, kValues));
    library.Load(nullptr, path.c_str());
    for (size_t i = 0; i < 7; ++i) EXPECT_EQ(kValues[i], Value(kKeys[i])) << kKeys[i];
    // The last 100 bytes lie in the audio pages, which keep their numbers here.
    const Bytes saved = ReadBytes(path);
    EXPECT_EQ(Hash(old, old.size() - 100, old.size()),
              Hash(saved, saved.size() - 100, saved.size()));

    // A comment too long for the header pages: the file is replaced, its pages renumbered.
    std::vector<std::string> values(7);
    values[6] = std::string(70000, 'c');
    ASSERT_EQ(0u, Save(path, values));
    library.Load(nullptr, path.c_str());
    DWORD length = 0;
    Value("ICMT", &length);
    EXPECT_EQ(70000u, length);
    EXPECT_EQ(kValues[0], Value("IART"));
  }
}

TEST_F(OggDll, FilesItCannotRewriteExactlyStayAsTheyWere) {
  const ScratchFolder scratch("ogg-refused");
  const std::string& folder = scratch.path();
  for (const char* name : {"hole.ogg", "cut.opus"}) {
    SCOPED_TRACE(name);
    const Bytes old = ReadBytes(Sample(name));
    const std::string path = folder + "\\" + name;
    ASSERT_TRUE(WriteBytes(path, old));
    std::vector<std::string> values(7);
    values[6] = std::string(70000, 'c');
    EXPECT_NE(0u, Save(path, values));
    EXPECT_EQ(old, ReadBytes(path));
  }
}

}  // namespace
