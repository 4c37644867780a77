// Which names are the library's own temporary files, what they were written for, and by which
// process.
#include <gtest/gtest.h>

#include "mp3infp/Leftovers.h"

namespace {

TEST(Leftovers, OnlyTheLibrarysOwnTemporaryNamesAreRecognised) {
  const struct {
    const wchar_t* name;
    const wchar_t* original;  // empty: not one of ours
    uint64_t process;
  } cases[] = {
      {L"song.mp3.tagwhirl-new-1234-56789.tmp", L"song.mp3", 1234},
      {L"曲.m4a.tagwhirl-new-4294967295-4294967295.tmp", L"曲.m4a", 4294967295},
      {L"a.tagwhirl-new-1.mp3.tagwhirl-new-9999999999-1.tmp", L"a.tagwhirl-new-1.mp3", 9999999999},
      {L"song.mp3.tmp", L"", 0},
      {L"song.mp3.tagwhirl-new-.tmp", L"", 0},
      {L"song.mp3.tagwhirl-new-12.tmp", L"", 0},
      {L"song.mp3.tagwhirl-new-x2-12.tmp", L"", 0},
      {L"song.mp3.tagwhirl-new-12-34.tmp.mp3", L"", 0},
      {L"song.mp3.TAGWHIRL-NEW-12-34.tmp", L"", 0},
      {L"song.mp3-tagwhirl-new-12-34.tmp", L"", 0},
      {L".tagwhirl-new-12-34.tmp", L"", 0},
      {L"song.mp3.tagwhirl-new-12345678901-34.tmp", L"", 0},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(std::wstring_view(test.original), mp3infp::OriginalOfTemporary(test.name))
        << static_cast<const void*>(test.name);
    EXPECT_EQ(*test.original != 0, mp3infp::IsTemporaryName(test.name));
    EXPECT_EQ(test.process, mp3infp::ProcessOfTemporary(test.name))
        << static_cast<const void*>(test.name);
  }
}

}  // namespace
