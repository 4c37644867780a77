// M4A files saved through mp3infp.dll as the program saves them: loaded, the plain field keys
// set, saved in place or through a new file; then read back through the DLL, the audio compared.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "mp3infp/Mp4File.h"
#include "tags/TagLibrary.h"
#include "tests/mp3infp/Mp4Samples.h"
#include "tests/mp3infp/WinSampleFiles.h"

namespace {

using namespace samples;

constexpr const char* kKeys[] = {"IART", "IPRD", "INAM", "TRACK", "IGNR", "ICRD", "ICMT"};
const std::string kValues[] = {"表示アーティスト", "アルバム～ソ", "題名－テスト", "7",
                               "ジャンル",         "2024",         "コメント表"};

// The media data: what follows the last "mdat" type, to the end of that box.
Bytes MediaData(const Bytes& file) {
  const Bytes type = Of("mdat");
  const auto at = std::search(file.begin(), file.end(), type.begin(), type.end());
  if (at == file.end()) return {};
  const size_t begin = size_t(at - file.begin()) - 4;
  const uint32_t size =
      uint32_t(file[begin]) << 24 | file[begin + 1] << 16 | file[begin + 2] << 8 | file[begin + 3];
  return Bytes(file.begin() + begin, file.begin() + std::min<size_t>(begin + size, file.size()));
}

TEST(Mp4Dll, EveryLayoutTakesThePlainKeysAndKeepsItsAudio) {
  TagLibrary library;
  ASSERT_TRUE(library.Open("mp3infp"));
  const ScratchFolder scratch("m4a表");
  const std::string& folder = scratch.path();
  Mp4Layout first, last, room;
  last.moovFirst = false;
  room.udta = Mp4Box("udta", {Mp4Meta({Mp4Box("ilst", {Mp4Track(1, 10)}), Mp4Free(800)})});
  const std::pair<const char*, Mp4Layout> cases[] = {
      {"\\moov first ソ.m4a", first}, {"\\moov last.m4b", last}, {"\\room.mp4", room}};
  for (const auto& [name, layout] : cases) {
    SCOPED_TRACE(name);
    const std::string path = folder + name;
    const Bytes old = Mp4File(layout);
    ASSERT_TRUE(WriteBytes(path, old));
    ASSERT_EQ(0u, library.Load(nullptr, path.c_str()));
    EXPECT_EQ(6u, library.GetType());
    EXPECT_EQ(0u, library.GetTagType());
    for (size_t i = 0; i < 7; ++i) EXPECT_EQ(0u, library.SetValue(kKeys[i], kValues[i].c_str()));
    ASSERT_EQ(0u, library.Save(path.c_str()));

    const Bytes saved = ReadBytes(path);
    EXPECT_EQ(MediaData(old), MediaData(saved));
    ASSERT_EQ(0u, library.Load(nullptr, path.c_str()));
    for (size_t i = 0; i < 7; ++i) {
      char buffer[256];
      ASSERT_NE(DWORD(-1), library.GetValue(kKeys[i], buffer, sizeof buffer));
      EXPECT_EQ(i == 3 && !layout.udta.empty() ? "7/10" : kValues[i], std::string(buffer));
    }
    // MP4 has no ID3 tags: a value for one fails the save and leaves the file as it was.
    EXPECT_NE(0u, library.SetValue("INAM_v2", "x"));
    EXPECT_NE(0u, library.Save(path.c_str()));
    EXPECT_EQ(saved, ReadBytes(path));
  }
}

TEST(Mp4Dll, AFileThatCannotBeWrittenSafelyFailsAndStaysAsItWas) {
  TagLibrary library;
  ASSERT_TRUE(library.Open("mp3infp"));
  const ScratchFolder scratch("m4a-broken");
  const std::string path = scratch / "fragmented.m4a";
  Bytes old = Mp4File({});
  Append(old, Mp4Box("moof", {Mp4Box("mfhd", Bytes(8, 0))}));
  ASSERT_TRUE(WriteBytes(path, old));
  ASSERT_EQ(0u, library.Load(nullptr, path.c_str()));
  EXPECT_EQ(6u, library.GetType());
  library.SetValue("INAM", "x");
  EXPECT_NE(0u, library.Save(path.c_str()));
  EXPECT_EQ(old, ReadBytes(path));
}

}  // namespace
