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
  kUndo = 8,       // undo of the save began: what it did is told from what it had still to do
};

// The new bytes a write puts in a file are recorded before it as hashes of blocks of this size:
// after a crash each block is found old, new or neither, which tells a write cut off in the middle
// from another program's edit.
inline constexpr uint64_t kBlockSize = 4096;
inline uint64_t BlocksOf(uint64_t length) { return (length + kBlockSize - 1) / kBlockSize; }

// The bytes a write covers at `offset`: `length` new ones (hashed by blocks), over `bytes` (fewer
// where the new ones pass the old end, none in a file written anew).
struct OldBytes {
  uint64_t offset = 0;
  uint64_t length = 0;
  std::vector<uint8_t> bytes;
  std::vector<uint64_t> blocks;  // BlockHash of each kBlockSize of the new bytes
  // Not stored, derived by the reader: the count of old bytes and the BlockHash of the old bytes
  // under each block, kept when a reader drops the bytes themselves to bound its memory.
  uint64_t oldLength = 0;
  std::vector<uint64_t> oldBlocks;

  // As stored: what a reader derives is left out.
  bool operator==(const OldBytes& other) const {
    return offset == other.offset && length == other.length && bytes == other.bytes &&
           blocks == other.blocks;
  }
};

// One record; which members mean something depends on the kind.
struct Record {
  Kind kind = Kind::kEnd;
  uint64_t owner = 0;                // kBegin
  std::u16string path;               // all but kBegin and kEnd
  std::u16string temporary, kept;    // kRewrite
  uint64_t size = 0, writeTime = 0;  // kInPlace (old), kWritten (new)
  std::vector<OldBytes> old;         // kInPlace; kRewrite: where its new bytes go in the new file
  uint64_t fileId = 0, hash = 0;     // kWritten: the file's index (kRewrite: the original's,
                                     // kInPlace: the file's before the write, 0 where not known)
                                     // and, in a first version journal, the hash of our bytes
  uint64_t at = 0;                   // not stored: where the record starts in its journal file

  bool operator==(const Record& other) const {
    return kind == other.kind && owner == other.owner && path == other.path &&
           temporary == other.temporary && kept == other.kept && size == other.size &&
           writeTime == other.writeTime && old == other.old && fileId == other.fileId &&
           hash == other.hash;
  }
};

// What starts a journal file, before its records. A first version journal (kMagicFirst) has no
// block hashes and no original's identity, a second (kMagicSecond) no identity of a file written
// in place; both are still read and undone as they were then.
inline constexpr char kMagic[4] = {'T', 'W', 'J', '3'};
inline constexpr char kMagicSecond[4] = {'T', 'W', 'J', '2'};
inline constexpr char kMagicFirst[4] = {'T', 'W', 'J', '1'};
inline constexpr int kVersion = 3;

// The record in its stored form: length, kind, body, and a checksum over kind and body, so that
// a record cut short by a crash, or never completely written, is told from a whole one.
std::vector<uint8_t> Encode(const Record& record, int version = kVersion);

// The whole records of a journal file, in order, up to the first that is cut short or damaged
// (what follows one is not trusted). False when the file does not start as a journal does.
// `damagedInside` tells whether a whole record follows the damage (Decoder::Finish).
bool Decode(const uint8_t* data, size_t size, std::vector<Record>& records, int* version = nullptr,
            bool* damagedInside = nullptr);

// Reads a journal's records in pieces, so that a journal of any size takes bounded memory to read:
// Feed it the file's bytes in order, as many at a time as is convenient, and take the records.
class Decoder {
 public:
  // With `light`, the old bytes of writes in place are dropped once their hashes are taken: the
  // one who needs them reads their record again (ReadAt).
  explicit Decoder(bool light = false) : light_(light) {}
  // The records whole so far, appended to `records`; false once the journal is found not to be
  // one, or damaged (what follows is not trusted).
  bool Feed(const uint8_t* data, size_t size, std::vector<Record>& records);
  int version() const { return version_; }
  bool started() const { return version_ != 0; }
  bool stopped() const { return stopped_; }
  // Once the whole file was fed: whether the records end before the file's end at damage that
  // a whole record follows. A crash cuts a journal only at its end (what it never wrote reads as
  // nothing, or as zeros); a record found after the damage was written after the records lost
  // in it, which may be writes that happened: nothing of such a journal is acted on.
  bool Finish();

 private:
  // Looks for a whole record in pending_ from probe_ on; with `atEnd`, no more bytes come.
  bool Probe(bool atEnd);

  std::vector<uint8_t> pending_;
  size_t probe_ = 0;  // where in pending_ the next record after the damage is looked for
  bool found_ = false;
  uint64_t at_ = 0;  // where pending_ starts in the file
  bool light_;
  int version_ = 0;
  bool stopped_ = false;
};

// The one record at the start of `data` (as Feed would read it at file offset `at`); false when it
// is not whole.
bool DecodeOne(const uint8_t* data, size_t size, int version, uint64_t at, Record& record,
               size_t& used);

// Whether `tail` (the last bytes of a journal) is a whole record of `kind`, which has no body:
// read from the end of a file without reading the records before it.
bool EndsWith(const uint8_t* tail, size_t size, Kind kind);
inline constexpr size_t kBareRecordSize = 9;

// FNV-1a, 64 bits: what identified the bytes a write put in a file in a first version journal.
uint64_t Hash(const uint8_t* data, size_t size, uint64_t seed = 0xcbf29ce484222325ull);
// What identifies a block of new bytes: eight bytes a step, since every save hashes what it writes
// (a byte a step took 19 us for 4 KiB in the 32-bit program).
uint64_t BlockHash(const uint8_t* data, size_t size);
// The BlockHash of each kBlockSize bytes of `data`.
std::vector<uint64_t> BlockHashes(const uint8_t* data, size_t size);

}  // namespace journal
