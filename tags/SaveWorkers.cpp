#include "tags/SaveWorkers.h"

SaveWorkers::SaveWorkers(int threads, Work work) : work_(std::move(work)) {
  for (int i = 0; i < threads; ++i) threads_.emplace_back(&SaveWorkers::Run, this);
}

SaveWorkers::~SaveWorkers() {
  {
    std::lock_guard lock(mutex_);
    waiting_.clear();
    ending_ = true;
  }
  started_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void SaveWorkers::Start(size_t index, const EntryToSave* entry) {
  {
    std::lock_guard lock(mutex_);
    waiting_.emplace_back(index, entry);
  }
  ++inFlight_;
  started_.notify_one();
}

bool SaveWorkers::Take(DWORD milliseconds, size_t* index, SaveOutcome* outcome) {
  std::unique_lock lock(mutex_);
  if (!finished_.wait_for(lock, milliseconds, [this] { return !done_.empty(); }))
    return false;
  *index = done_.front().first;
  *outcome = std::move(done_.front().second);
  done_.pop_front();
  --inFlight_;
  return true;
}

void SaveWorkers::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    started_.wait(lock, [this] { return ending_ || !waiting_.empty(); });
    if (waiting_.empty()) return;
    const auto [index, entry] = waiting_.front();
    waiting_.pop_front();
    lock.unlock();
    SaveOutcome outcome;
    try {
      outcome = work_(*entry);
    } catch (...) {
      // Out of memory in the middle of a file: it failed, as a file the library refused does.
      outcome.target = entry->path;
    }
    lock.lock();
    done_.emplace_back(index, std::move(outcome));
    finished_.notify_one();
  }
}
