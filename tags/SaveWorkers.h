// Saves files side by side on threads of their own: while one file waits for its flush to reach
// the disk, the next is read and written. The thread that starts the saves takes their outcomes
// back one by one, as they finish; it keeps the progress, the look for Esc and the report.
#pragma once

#include <windows.h>

#include <cstddef>
#include <deque>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include "tags/SaveEntry.h"
#include "paths/SlimLock.h"

class SaveWorkers {
 public:
  using Work = std::function<SaveOutcome(const EntryToSave&)>;

  // `threads` threads run `work`, each on one entry at a time.
  SaveWorkers(int threads, Work work);
  // Lets the saves in flight finish (their outcomes are dropped), then ends the threads.
  ~SaveWorkers();
  SaveWorkers(const SaveWorkers&) = delete;
  SaveWorkers& operator=(const SaveWorkers&) = delete;

  // Starts the save of `entry`, which stays alive until its outcome is taken, known as `index`.
  void Start(size_t index, const EntryToSave* entry);
  // Saves started whose outcome has not been taken.
  int inFlight() const { return inFlight_; }
  // The next outcome to finish, waiting at most `milliseconds`; false when none came by then.
  bool Take(DWORD milliseconds, size_t* index, SaveOutcome* outcome);

 private:
  void Run();

  Work work_;
  SlimMutex mutex_;
  SlimCondition started_, finished_;
  std::deque<std::pair<size_t, const EntryToSave*>> waiting_;
  std::deque<std::pair<size_t, SaveOutcome>> done_;
  int inFlight_ = 0;
  bool ending_ = false;
  std::vector<std::thread> threads_;
};
