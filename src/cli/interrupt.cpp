// The signal handler and its installation. The handler only touches
// lock-free atomics, unlink and write, which are safe in a signal handler.
#include "cli/interrupt.h"

#include <unistd.h>

#include <atomic>

#include <kestrune/io.h>

namespace {

constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
std::atomic<bool> g_firstInterruptStops{false};
std::atomic<bool> g_stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void Say(const char* text, std::size_t length) {
  [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, text, length);
}

extern "C" void OnSignal(int signal) {
  if (signal == SIGINT && g_firstInterruptStops.load() && !g_stopRequested.exchange(true)) {
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

InterruptHandlers::InterruptHandlers(bool firstInterruptStops) {
  g_stopRequested.store(false);
  g_firstInterruptStops.store(firstInterruptStops);
  struct sigaction action {};
  action.sa_handler = &OnSignal;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &action, &previous_[i]);
}

InterruptHandlers::~InterruptHandlers() {
  for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &previous_[i], nullptr);
  g_firstInterruptStops.store(false);
}

bool StopRequested() { return g_stopRequested.load(); }
