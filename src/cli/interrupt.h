// Signals of kestrune-cli. SIGINT, SIGTERM and SIGHUP end the tool with
// status 128 + the signal after removing the temporary files of writes in
// progress, whatever disposition the tool inherited. For a command that can
// stop early, the first SIGINT only asks it to stop.
#pragma once

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
