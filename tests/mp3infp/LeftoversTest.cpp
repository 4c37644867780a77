// Which names are the library's own temporary files, and what they were written for.
#include <gtest/gtest.h>

#include "mp3infp/Leftovers.h"

namespace {

TEST(Leftovers, OnlyTheLibrarysOwnTemporaryNamesAreRecognised) {
  const struct {
    const wchar_t* name;
    const wchar_t* original;  // empty: not one of ours
  } cases[] = {
      {L"song.mp3.tagwhirl-new-1234-56789.tmp", L"song.mp3"},
      {L"a.b.flac.tagwhirl-new-1-0.tmp", L"a.b.flac"},
      {L"曲.m4a.tagwhirl-new-4294967295-4294967295.tmp", L"曲.m4a"},
      {L"song.mp3.tmp", L""},
      {L"song.mp3.tagwhirl-new-.tmp", L""},
      {L"song.mp3.tagwhirl-new-12.tmp", L""},
      {L"song.mp3.tagwhirl-new--12.tmp", L""},
      {L"song.mp3.tagwhirl-new-x2-12.tmp", L""},
      {L"song.mp3.tagwhirl-new-12-34.tmp.mp3", L""},
      {L"song.mp3.tagwhirl-new-12-34.TMP", L""},
      {L"song.mp3.TAGWHIRL-NEW-12-34.tmp", L""},
      {L"song.mp3-tagwhirl-new-12-34.tmp", L""},
      {L".tagwhirl-new-12-34.tmp", L""},
      {L"song.mp3.tagwhirl-new-12345678901-34.tmp", L""},
      {L"tagwhirl-new-12-34.tmp", L""},
      {L"", L""},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(std::wstring_view(test.original), mp3infp::OriginalOfTemporary(test.name))
        << static_cast<const void*>(test.name);
    EXPECT_EQ(*test.original != 0, mp3infp::IsTemporaryName(test.name));
  }
}

}  // namespace
