#include "targets/CurrentTagReader.h"

#include "mp3infp/Session.h"
#include "tags/TagLibrary.h"

namespace {

// Most files' seven values fit; a long comment takes a second call.
constexpr DWORD kFirstBuffer = 2048;
// A batch is handed over when this many readings wait, or this long after the last: often enough
// that values appear as they are read, seldom enough that 10,000 files do not flood the queue.
constexpr size_t kBatchReadings = 256;
constexpr DWORD kBatchMilliseconds = 40;
// Under Wine each file's opening is a round trip to the server: two readers keep a second core
// busy while one waits.
constexpr int kReaderThreads = 2;

}  // namespace

CurrentTagReader::CurrentTagReader(HWND window, UINT message)
    : window_(window), message_(message) {}

CurrentTagReader::~CurrentTagReader() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

bool CurrentTagReader::Available() { return theTagLibrary.CanReadValues(); }

void CurrentTagReader::Add(TargetItem* item) {
  if (!Available()) return;
  std::lock_guard lock(mutex_);
  const auto [entry, added] = waiting_.try_emplace(item, Job{item->path, 0});
  entry->second.generation = item->values.generation;
  if (added) queue_.push_back(item);
  // Started with the first file, so that a list that never gets one has no thread.
  while (threads_.size() < kReaderThreads) threads_.emplace_back(&CurrentTagReader::Run, this);
  wake_.notify_one();
}

void CurrentTagReader::Prefer(TargetItem* item) {
  std::lock_guard lock(mutex_);
  if (!waiting_.count(item)) return;
  preferred_.push_back(item);
  wake_.notify_one();
}

void CurrentTagReader::ReadNow(TargetItem* item) {
  if (!Available() || item->values.state != RowValues::Current::kUnknown) return;
  {
    std::lock_guard lock(mutex_);
    waiting_.erase(item);
  }
  const Reading reading = Read(item, Job{item->path, item->values.generation});
  item->values.TakeReading(reading.generation, reading.state, reading.values);
}

void CurrentTagReader::TakeReadings(std::vector<TargetItem*>* updated) {
  std::vector<Reading> readings;
  {
    std::lock_guard lock(mutex_);
    readings.swap(readings_);
    posted_ = false;
  }
  for (const Reading& reading : readings) {
    if (reading.item->values.TakeReading(reading.generation, reading.state, reading.values))
      updated->push_back(reading.item);
  }
}

CurrentTagReader::Reading CurrentTagReader::Read(TargetItem* item, const Job& job) {
  Reading reading{item, job.generation, RowValues::Current::kUnreadable, {}};
  std::string block(kFirstBuffer, '\0');
  DWORD needed = 0;
  DWORD result =
      theTagLibrary.ReadValues(job.path.c_str(), block.data(), DWORD(block.size()), &needed);
  if (result == mp3infp::kBufferTooSmall && needed > block.size()) {
    block.resize(needed);
    result = theTagLibrary.ReadValues(job.path.c_str(), block.data(), DWORD(block.size()), &needed);
  }
  if (result == 0 && ValuesFromBlock(block.data(), needed, &reading.values))
    reading.state = RowValues::Current::kRead;
  else if (result == mp3infp::kCannotTag)
    reading.state = RowValues::Current::kNotTaggable;
  return reading;
}

void CurrentTagReader::Run() {
  // The window's thread comes first when the cores are busy: reading can wait, a click cannot.
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
  std::unique_lock lock(mutex_);
  while (!stop_) {
    // What waits is handed over before the reader sleeps: the last few files show too.
    const bool drained = queue_.empty() && preferred_.empty();
    if (!readings_.empty() && !posted_ &&
        (drained || pauses_ > 0 || readings_.size() >= kBatchReadings ||
         GetTickCount() - lastPost_ >= kBatchMilliseconds)) {
      posted_ = PostMessageA(window_, message_, 0, 0) != FALSE;
      lastPost_ = GetTickCount();
    }
    if (pauses_ > 0 || drained) {
      wake_.wait(lock);
      continue;
    }
    TargetItem* item;
    if (!preferred_.empty()) {
      item = preferred_.back();
      preferred_.pop_back();
    } else {
      item = queue_.front();
      queue_.pop_front();
    }
    const auto found = waiting_.find(item);
    if (found == waiting_.end()) continue;
    const Job job = std::move(found->second);
    waiting_.erase(found);
    ++reading_;
    lock.unlock();
    Reading reading = Read(item, job);
    lock.lock();
    --reading_;
    idle_.notify_all();
    readings_.push_back(std::move(reading));
  }
}

CurrentTagReader::Pause::Pause(CurrentTagReader* reader) : reader_(reader) {
  if (!reader_) return;
  std::unique_lock lock(reader_->mutex_);
  ++reader_->pauses_;
  reader_->idle_.wait(lock, [this] { return reader_->reading_ == 0; });
}

CurrentTagReader::Pause::~Pause() {
  if (!reader_) return;
  {
    std::lock_guard lock(reader_->mutex_);
    --reader_->pauses_;
  }
  reader_->wake_.notify_all();
}
