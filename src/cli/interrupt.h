// Signals of kestrune-cli. SIGINT, SIGTERM and SIGHUP end the tool with
// status 128 + the signal after removing the temporary files of writes in
// progress, whatever disposition the tool inherited. For a command that can
// stop early, the first SIGINT only asks it to stop.
#pragma once

#include <atomic>
#include <csignal>

// Installs the handlers for its lifetime and restores the previous ones.
class InterruptHandlers {
 public:
  // With `firstInterruptStops`, the first SIGINT sets StopRequested() (and
  // says so on stderr) instead of ending the tool; a second one ends it.
  explicit InterruptHandlers(bool firstInterruptStops);
  ~InterruptHandlers();
  InterruptHandlers(const InterruptHandlers&) = delete;
  InterruptHandlers& operator=(const InterruptHandlers&) = delete;

 private:
  struct sigaction previous_[3];
};

// True once a first SIGINT asked the running command to stop.
bool StopRequested();

// The counts of a running batch, kept up to date by its threads.
struct BatchTally {
  std::atomic<int> written{0}, skipped{0}, failed{0};
  int total = 0;
};
static_assert(std::atomic<int>::is_always_lock_free);

// While set (null clears it), a signal that ends the tool first says how far
// the batch got.
void ReportTallyOnSignal(const BatchTally* tally);
