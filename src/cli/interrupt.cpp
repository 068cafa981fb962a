// The signal handler and its registration. The handler only touches
// lock-free atomics, unlink and write, which are safe in a signal handler.
#include "cli/interrupt.h"

#include <unistd.h>

#include <kestrune/io.h>

namespace {

constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
std::atomic<std::atomic<bool>*> g_stopFlag{nullptr};
static_assert(std::atomic<std::atomic<bool>*>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

void Say(const char* text, std::size_t length) {
  [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, text, length);
}

extern "C" void OnSignal(int signal) {
  std::atomic<bool>* flag = g_stopFlag.load();
  if (signal == SIGINT && flag != nullptr && !flag->exchange(true)) {
    static const char message[] = "\nkestrune-cli: stopping after the current step (Ctrl+C again to abort)\n";
    Say(message, sizeof message - 1);
    return;
  }
  kestrune::RemovePartialOutputs();
  static const char message[] = "\nkestrune-cli: stopped by a signal, nothing written\n";
  Say(message, sizeof message - 1);
  ::_exit(128 + signal);
}

}  // namespace

InterruptHandlers::InterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = &OnSignal;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &action, &previous_[i]);
}

InterruptHandlers::~InterruptHandlers() {
  for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &previous_[i], nullptr);
}

StopOnInterrupt::StopOnInterrupt(std::atomic<bool>& flag) { g_stopFlag.store(&flag); }
StopOnInterrupt::~StopOnInterrupt() { g_stopFlag.store(nullptr); }
