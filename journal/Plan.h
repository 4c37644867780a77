// What undo does to each file of a save, decided from the journal's records and from what the
// files are now, without touching a file: the Win32 side gathers the observations and carries out
// the actions. Window-free, so that it is tested with the sanitizers and fuzzed natively.
#pragma once

#include <cstddef>
#include <cstdint>
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
  uint64_t size = 0, writeTime = 0, fileId = 0;
};

// What one step's files are now, before undo changed anything.
struct Observation {
  FileNow path;
  // The hash (as in Records.h) of the bytes at the places of the step's old bytes, when the step
  // wrote in place and they could be read.
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
  kLeaveAlone,       // the file changed since the save: named, not touched
  kRestoredAlready,  // the file holds its old bytes
};

struct Action {
  Act act;
  size_t step;  // index into the steps
};

// The actions that undo the save, newest step first: each write is undone on the bytes the next
// one found. `observed` has one entry for each step. An action whose file has failed before it
// (a restore that did not happen, a file left alone) is skipped by the one carrying them out.
std::vector<Action> PlanUndo(const std::vector<Record>& records, const std::vector<Step>& steps,
                             const std::vector<Observation>& observed);

// The actions that keep what an unfinished save did: the temporary files go, and the one step
// the stop may have cut off is undone.
std::vector<Action> PlanKeep(const std::vector<Record>& records, const std::vector<Step>& steps);

}  // namespace journal
