// How far long work on the list has got. The list and the main window report their steps here
// while their one thread is busy; the main window shows them in its status bar.
#pragma once

#include <string>

class Progress {
 public:
  virtual ~Progress() = default;
  // Work called `what` starts; `total` steps, or 0 when the count is not known in advance.
  virtual void Begin(const char* what, int total) = 0;
  // One more step is under way.
  virtual void Advance() = 0;
  virtual void End() = 0;
  // Ends the work and leaves `text` (what became of it) where the progress was shown.
  virtual void EndWith(const std::string& text) { End(); }
};

// Begin and End around a scope; nothing when there is no one to tell.
class ProgressScope {
 public:
  ProgressScope(Progress* progress, const char* what, int total) : progress_(progress) {
    if (progress_) progress_->Begin(what, total);
  }
  ~ProgressScope() {
    if (progress_) progress_->End();
  }
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;
  void Advance() {
    if (progress_) progress_->Advance();
  }

 private:
  Progress* progress_;
};
