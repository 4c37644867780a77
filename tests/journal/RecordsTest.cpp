// The journal's records read back as written, and a journal cut off or damaged anywhere gives
// exactly its whole records before the damage.
#include <gtest/gtest.h>

#include "journal/Records.h"

using journal::Kind;
using journal::Record;

namespace {

std::vector<Record> SomeRecords() {
  Record inPlace{.kind = Kind::kInPlace, .path = u"C:\\音楽\\a.mp3", .size = 5000};
  inPlace.writeTime = 0x01D9'0000'1234'5678ull;
  inPlace.old = {{0, 3, {1, 2, 3}}, {4872, 9, {}}, {4990, 20, std::vector<uint8_t>(10, 0xFF)}};
  Record rewrite{.kind = Kind::kRewrite, .path = u"D:\\b.flac"};
  rewrite.temporary = u"D:\\b.flac.tagwhirl-new-1-2.tmp";
  rewrite.kept = u"C:\\j\\kept-1-1.bin";
  Record written{.kind = Kind::kWritten, .path = u"D:\\b.flac", .size = 1, .writeTime = 2};
  written.fileId = 3, written.hash = 4;
  return {{.kind = Kind::kBegin, .owner = 0x1234'5678'9ABC'DEF0ull},
          inPlace,
          rewrite,
          written,
          {.kind = Kind::kAbandoned, .path = u"x"},
          {.kind = Kind::kCreated, .path = u"E:\\out\\c.m4a"},
          {.kind = Kind::kEnd}};
}

std::vector<uint8_t> FileOf(const std::vector<Record>& records, std::vector<size_t>* ends) {
  std::vector<uint8_t> file(journal::kMagic, journal::kMagic + 4);
  for (const Record& r : records) {
    const auto bytes = journal::Encode(r);
    file.insert(file.end(), bytes.begin(), bytes.end());
    if (ends) ends->push_back(file.size());
  }
  return file;
}

TEST(JournalRecords, ACutOrDamagedJournalGivesTheWholeRecordsBeforeIt) {
  const auto records = SomeRecords();
  std::vector<size_t> ends;
  const auto file = FileOf(records, &ends);
  std::vector<Record> read;
  ASSERT_TRUE(journal::Decode(file.data(), file.size(), read));
  EXPECT_EQ(records, read);

  for (size_t cut = 4; cut <= file.size(); ++cut) {
    const size_t whole = std::upper_bound(ends.begin(), ends.end(), cut) - ends.begin();
    ASSERT_TRUE(journal::Decode(file.data(), cut, read));
    EXPECT_EQ(std::vector<Record>(records.begin(), records.begin() + whole), read) << cut;

    // One byte changed inside the record that holds it: that record and all after it go.
    if (cut == file.size()) break;
    auto damaged = file;
    damaged[cut] ^= 0x40;
    const size_t hit = std::upper_bound(ends.begin(), ends.end(), cut) - ends.begin();
    ASSERT_TRUE(journal::Decode(damaged.data(), damaged.size(), read));
    EXPECT_EQ(std::vector<Record>(records.begin(), records.begin() + hit), read) << cut;
  }
  EXPECT_FALSE(journal::Decode(file.data(), 3, read));
  EXPECT_FALSE(journal::Decode(reinterpret_cast<const uint8_t*>("TWJ0"), 4, read));
}

}  // namespace
