// Signals of kestrune-cli. SIGINT, SIGTERM and SIGHUP end the tool with
// status 128 + the signal after removing the temporary files of writes in
// progress, whatever disposition the tool inherited. While a run that can
// stop early is registered, the first SIGINT only asks it to stop.
#pragma once

#include <atomic>
#include <csignal>

// Installs the handlers for its lifetime and restores the previous ones.
class InterruptHandlers {
 public:
  InterruptHandlers();
  ~InterruptHandlers();
  InterruptHandlers(const InterruptHandlers&) = delete;
  InterruptHandlers& operator=(const InterruptHandlers&) = delete;

 private:
  struct sigaction previous_[3];
};

// While it exists, the first SIGINT sets `flag` (and prints a line saying
// so) instead of ending the tool; a second one ends it.
class StopOnInterrupt {
 public:
  explicit StopOnInterrupt(std::atomic<bool>& flag);
  ~StopOnInterrupt();
  StopOnInterrupt(const StopOnInterrupt&) = delete;
  StopOnInterrupt& operator=(const StopOnInterrupt&) = delete;
};
