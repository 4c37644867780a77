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
  inPlace.fileId = 0x0001'0000'0000'0042ull;
  inPlace.old = {{0, 3, {1, 2, 3}, {7}},
                 {4872, 9, {}, {8}},
                 {4990, 5000, std::vector<uint8_t>(10, 0xFF), {9, 10}}};
  Record rewrite{.kind = Kind::kRewrite, .path = u"D:\\b.flac"};
  rewrite.temporary = u"D:\\b.flac.tagwhirl-new-1-2.tmp";
  rewrite.kept = u"C:\\j\\kept-1-1.bin";
  rewrite.fileId = 77;
  rewrite.old = {{.offset = 0, .length = 10, .blocks = {11}}};
  Record written{.kind = Kind::kWritten, .path = u"D:\\b.flac", .size = 1, .writeTime = 2};
  written.fileId = 3, written.hash = 4;
  return {{.kind = Kind::kBegin, .owner = 0x1234'5678'9ABC'DEF0ull},
          inPlace,
          rewrite,
          written,
          {.kind = Kind::kAbandoned, .path = u"x"},
          {.kind = Kind::kCreated, .path = u"E:\\out\\c.m4a"},
          {.kind = Kind::kEnd},
          {.kind = Kind::kUndo}};
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

  bool damagedInside = true;
  for (size_t cut = 4; cut <= file.size(); ++cut) {
    const size_t whole = std::upper_bound(ends.begin(), ends.end(), cut) - ends.begin();
    ASSERT_TRUE(journal::Decode(file.data(), cut, read, nullptr, &damagedInside));
    EXPECT_EQ(std::vector<Record>(records.begin(), records.begin() + whole), read) << cut;
    EXPECT_FALSE(damagedInside) << "a journal cut short by a crash " << cut;

    // One byte changed inside the record that holds it: that record and all after it go, and
    // the journal is damaged inside where a whole record follows.
    if (cut == file.size()) break;
    auto damaged = file;
    damaged[cut] ^= 0x40;
    const size_t hit = std::upper_bound(ends.begin(), ends.end(), cut) - ends.begin();
    ASSERT_TRUE(journal::Decode(damaged.data(), damaged.size(), read, nullptr, &damagedInside));
    EXPECT_EQ(std::vector<Record>(records.begin(), records.begin() + hit), read) << cut;
    EXPECT_EQ(hit + 1 < records.size(), damagedInside) << cut;
  }
  // What a crash leaves of writes that never reached the disk: zeros, at the end or between
  // records that did.
  auto zeros = file;
  zeros.resize(file.size() + 300);
  ASSERT_TRUE(journal::Decode(zeros.data(), zeros.size(), read, nullptr, &damagedInside));
  EXPECT_EQ(records, read);
  EXPECT_FALSE(damagedInside);
  std::fill(zeros.begin() + ends[1], zeros.begin() + ends[2], 0);
  ASSERT_TRUE(journal::Decode(zeros.data(), zeros.size(), read, nullptr, &damagedInside));
  EXPECT_EQ(2u, read.size());
  EXPECT_TRUE(damagedInside);
  // Read in pieces of any size, as a journal larger than memory is: the same records.
  for (size_t piece : {1, 2, 7, 4096}) {
    journal::Decoder decoder(true);
    read.clear();
    for (size_t at = 0; at < file.size(); at += piece)
      ASSERT_TRUE(decoder.Feed(file.data() + at, std::min(piece, file.size() - at), read));
    ASSERT_EQ(records.size(), read.size()) << piece;
    for (size_t i = 0; i < read.size(); ++i) {
      EXPECT_EQ(i ? ends[i - 1] : 4, read[i].at) << piece;
      for (const auto& old : read[i].old) EXPECT_TRUE(old.bytes.empty()) << "light";
      EXPECT_EQ(records[i].path, read[i].path);
    }
  }
  // The last record, read from the file's tail alone.
  const auto end = file.end() - ends.back() + ends[ends.size() - 2];
  EXPECT_TRUE(
      journal::EndsWith(&*(end - journal::kBareRecordSize), journal::kBareRecordSize, Kind::kEnd));
  EXPECT_TRUE(journal::EndsWith(file.data(), file.size(), Kind::kUndo));
  EXPECT_FALSE(journal::EndsWith(file.data(), file.size() - 1, Kind::kUndo));

  EXPECT_FALSE(journal::Decode(file.data(), 3, read));
  EXPECT_FALSE(journal::Decode(reinterpret_cast<const uint8_t*>("TWJ0"), 4, read));
}

// Each record ends in the plain CRC-32 of its body (as zlib computes it, bit by bit here), which
// journals of every earlier build carry: a faster check sum must give the same.
TEST(JournalRecords, EachRecordEndsInTheCrc32OfItsBody) {
  const auto crc32 = [](const uint8_t* data, size_t size) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
      c ^= data[i];
      for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
  };
  std::vector<Record> records = SomeRecords();
  records[1].old[2].bytes.resize(1000, 0x5A);  // past the eight bytes a step, and an odd rest
  for (const Record& r : records) {
    const auto bytes = journal::Encode(r);
    const size_t body = bytes.size() - 8;
    uint32_t stored = 0;
    for (int i = 0; i < 4; ++i) stored |= uint32_t(bytes[4 + body + i]) << (8 * i);
    EXPECT_EQ(crc32(bytes.data() + 4, body), stored) << int(r.kind);
  }
}

// A journal of an earlier version is still read as it was written: the first without block
// hashes, the second without the identity of a file written in place.
TEST(JournalRecords, AnEarlierVersionJournalIsReadAsBefore) {
  const struct {
    int version;
    const char* magic;
  } cases[] = {{1, journal::kMagicFirst}, {2, journal::kMagicSecond}};
  for (const auto& c : cases) {
    std::vector<Record> records = SomeRecords();
    if (c.version == 1) records.pop_back();  // it had no undo record
    for (auto& r : records) {
      if (r.kind == Kind::kInPlace) r.fileId = 0;
      if (c.version > 1) continue;
      if (r.kind == Kind::kRewrite) r.fileId = 0, r.old.clear();
      for (auto& old : r.old) old.blocks.clear();
    }
    std::vector<uint8_t> file(c.magic, c.magic + 4);
    for (const Record& r : SomeRecords()) {
      if (c.version == 1 && r.kind == Kind::kUndo) continue;
      const auto bytes = journal::Encode(r, c.version);
      file.insert(file.end(), bytes.begin(), bytes.end());
    }
    std::vector<Record> read;
    int version = 0;
    ASSERT_TRUE(journal::Decode(file.data(), file.size(), read, &version));
    EXPECT_EQ(c.version, version);
    EXPECT_EQ(records, read) << c.version;
  }
}

}  // namespace
