// Reads the files' own tag values (RowValues::current) on threads of its own, so that taking in
// and scrolling 10,000 files never waits for their tags. The rows drawn on screen are read first.
// What it has read is handed over in batches: it posts one message to the list, and posts again
// only once the list has taken what was there; the values themselves are only ever touched on the
// list's thread.
#pragma once

#include <windows.h>

#include <deque>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "targets/RowValues.h"
#include "targets/TargetItem.h"
#include "paths/SlimLock.h"

class CurrentTagReader {
 public:
  // `window` is told of what was read by `message`, posted.
  CurrentTagReader(HWND window, UINT message);
  // Stops after the file under way; its reading is dropped.
  ~CurrentTagReader();
  CurrentTagReader(const CurrentTagReader&) = delete;
  CurrentTagReader& operator=(const CurrentTagReader&) = delete;

  // Whether the tag library can read values apart from its current file; without that no row is
  // ever read and every pending value counts as a change.
  static bool Available();

  // Reads `item`'s file, at its turn. The item lives as long as the list.
  void Add(TargetItem* item);
  // `item` is on screen: read next, before the rows that are not.
  void Prefer(TargetItem* item);
  // Reads `item`'s file at once, on the calling thread, unless its values are known.
  void ReadNow(TargetItem* item);
  // Hands what was read to the items; the items whose values changed go into `updated`.
  void TakeReadings(std::vector<TargetItem*>* updated);

  // Holds the reader between two files while the list's thread writes or restores files: no
  // file is being read while it is written.
  class Pause {
   public:
    explicit Pause(CurrentTagReader* reader);
    ~Pause();
    Pause(const Pause&) = delete;
    Pause& operator=(const Pause&) = delete;

   private:
    CurrentTagReader* reader_;
  };

 private:
  struct Job {
    std::string path;
    unsigned generation;
  };
  struct Reading {
    TargetItem* item;
    unsigned generation;
    RowValues::Current state;
    TagValues values;
  };
  static Reading Read(TargetItem* item, const Job& job);
  void Run();

  HWND window_;
  UINT message_;
  SlimMutex mutex_;
  SlimCondition wake_;
  SlimCondition idle_;
  // The files still to read; `queue_` in the order taken in, `preferred_` last drawn first. An
  // item in either that is no longer in `waiting_` has been read already.
  std::unordered_map<TargetItem*, Job> waiting_;
  std::deque<TargetItem*> queue_;
  std::vector<TargetItem*> preferred_;
  std::vector<Reading> readings_;
  bool posted_ = false;
  DWORD lastPost_ = 0;
  int pauses_ = 0;
  // Files being read now, by all the threads.
  int reading_ = 0;
  bool stop_ = false;
  std::vector<std::thread> threads_;
};
