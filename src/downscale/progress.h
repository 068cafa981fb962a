// Progress: how a long operation reports its stage and percentage and learns
// that the user wants it to stop. The desktop program's progress dialog and
// the command-line tool's terminal bar each implement it.
#pragma once

#include <atomic>
#include <string>

namespace kestrune {

class Progress {
 public:
  virtual ~Progress() = default;

  // Shows the progress display with `text` as its status line and 0 percent,
  // and clears the cancel flag. With cancelEnabled false the user is offered
  // no way to cancel, so CancelRequested() stays false.
  virtual void Start(const std::string& text, bool cancelEnabled) = 0;
  // Replaces the status line; visible before the call returns.
  virtual void SetStatusText(const std::string& text) = 0;
  // Moves the bar to `percent` (0..100; other values are passed on unchecked);
  // visible before the call returns.
  virtual void SetProgress(float percent) = 0;
  // Removes the progress display.
  virtual void Finish() = 0;

  // True once the user asked to cancel the operation started last.
  bool CancelRequested() const { return cancel_.load(std::memory_order_relaxed); }
  // Records a cancel request. Safe to call from a signal handler and from
  // another thread.
  void RequestCancel() { cancel_.store(true, std::memory_order_relaxed); }

 protected:
  void ClearCancel() { cancel_.store(false, std::memory_order_relaxed); }

 private:
  std::atomic<bool> cancel_{false};
};

// A progress display that shows nothing (quiet runs, tests).
class NullProgress : public Progress {
 public:
  void Start(const std::string&, bool) override { ClearCancel(); }
  void SetStatusText(const std::string&) override {}
  void SetProgress(float) override {}
  void Finish() override {}
};

}  // namespace kestrune
