// The records of a save's journal, as they lie in its file: what each write of the save changes,
// written before the change, and what the file is after it. Window-free, so that the reading of a
// journal torn by a crash is tested and fuzzed natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace journal {

enum class Kind : uint8_t {
  kBegin = 1,      // a save starts: whose it is
  kInPlace = 2,    // before a write in place: the old size, time and bytes under the new ones
  kRewrite = 3,    // before a file is written anew: the temporary file and the kept original
  kWritten = 4,    // after a write: what the file is now
  kAbandoned = 5,  // a write failed and left the file as it was
  kCreated = 6,    // before a copy is made in an output folder: the save created that file
  kEnd = 7,        // the save is over
};

// The bytes a write in place covers at `offset`: `length` new ones, over `bytes` (fewer where the
// new ones pass the old end).
struct OldBytes {
  uint64_t offset = 0;
  uint64_t length = 0;
  std::vector<uint8_t> bytes;

  bool operator==(const OldBytes&) const = default;
};

// One record; which members mean something depends on the kind.
struct Record {
  Kind kind = Kind::kEnd;
  uint64_t owner = 0;                // kBegin
  std::u16string path;               // all but kBegin and kEnd
  std::u16string temporary, kept;    // kRewrite
  uint64_t size = 0, writeTime = 0;  // kInPlace (old), kWritten (new)
  std::vector<OldBytes> old;         // kInPlace
  uint64_t fileId = 0, hash = 0;     // kWritten: the file's index and the hash of our bytes

  bool operator==(const Record&) const = default;
};

// What starts a journal file, before its records.
inline constexpr char kMagic[4] = {'T', 'W', 'J', '1'};

// The record in its stored form: length, kind, body, and a checksum over kind and body, so that
// a record cut short by a crash, or never completely written, is told from a whole one.
std::vector<uint8_t> Encode(const Record& record);

// The whole records of a journal file, in order, up to the first that is cut short or damaged
// (what follows one is not trusted). False when the file does not start as a journal does.
bool Decode(const uint8_t* data, size_t size, std::vector<Record>& records);

// FNV-1a, 64 bits: what identifies the bytes a write put in a file.
uint64_t Hash(const uint8_t* data, size_t size, uint64_t seed = 0xcbf29ce484222325ull);

}  // namespace journal
