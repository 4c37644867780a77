// What undo does to each file of a save, decided from the journal's records and from what the
// files are now, without touching a file: the Win32 side gathers the observations and carries out
// the actions. Window-free, so that it is tested with the sanitizers and fuzzed natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "journal/Records.h"

namespace journal {

// One write of the save: its record before the change, and what followed it.
struct Step {
  const Record* before = nullptr;
  const Record* written = nullptr;
  bool abandoned = false;
};

// The steps of a journal in the order they were made; false when it holds no begun save.
bool StepsOf(const std::vector<Record>& records, std::vector<Step>& steps);

// What a file is now, as far as it could be read.
struct FileNow {
  bool exists = false;  // its entry in its folder was found
  bool read = false;    // and its size, time and identity were read
  bool link = false;    // it is a link (a reparse point) to something else
  uint64_t size = 0, writeTime = 0, fileId = 0;
};

// The bytes now under one block of a step's new bytes (Records.h): the BlockHash of the whole
// block and of its part over the old file's bytes.
struct BlockNow {
  bool read = false;
  uint64_t whole = 0, oldPart = 0;
};

// What one step's files are now, before undo changed anything.
struct Observation {
  FileNow path;
  // Each block of the step's pieces, in order (a second version journal).
  std::vector<BlockNow> blocks;
  // In a first version journal: the Hash of the bytes at the places of a write in place.
  bool hashRead = false;
  uint64_t hash = 0;
  bool temporaryExists = false;
  FileNow kept;
};

enum class Act : uint8_t {
  kRestoreInPlace,   // the step's old bytes, size and time go back
  kPutKeptBack,      // the kept original takes the file's place
  kDeleteTemporary,  // the step's temporary file goes, whatever it holds
  kDeleteKept,       // the kept original goes: the file is, or never stopped being, it
  kDeleteCreated,    // a copy the save made goes
  kLeaveAlone,       // the file changed since the save, or cannot be told: named, not touched
  kRestoredAlready,  // the file holds its old bytes
};

struct Action {
  Act act;
  size_t step;  // index into the steps
};

struct Plan {
  bool damaged = false;  // the journal holds what no save of ours writes: nothing is done
  std::vector<Action> actions;
};

// Whether the journal's records are of the shapes our saves write: absolute paths, temporary
// names beside their files or in the library's folder of their volume, kept originals that
// `ownsKept` says are ours, pieces inside the file.
bool Trusted(const std::vector<Record>& records,
             const std::function<bool(const std::u16string&)>& ownsKept);

// The actions that undo the save, newest step first: each write is undone on the bytes the next
// one found. `observed` has one entry for each step. An action whose file has failed before it
// (a restore that did not happen, a file left alone) is skipped by the one carrying them out.
// `version` is the journal's (Records.h).
Plan PlanUndo(const std::vector<Record>& records, const std::vector<Step>& steps,
              const std::vector<Observation>& observed, int version,
              const std::function<bool(const std::u16string&)>& ownsKept);

// The actions that keep what an unfinished save did: the temporary files go, and the one step
// the stop may have cut off is undone where it is ours.
Plan PlanKeep(const std::vector<Record>& records, const std::vector<Step>& steps,
              const std::vector<Observation>& observed, int version,
              const std::function<bool(const std::u16string&)>& ownsKept);

}  // namespace journal
