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
std::atomic<const BatchTally*> g_tally{nullptr};
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<const BatchTally*>::is_always_lock_free);

void Say(const char* text, std::size_t length) {
  [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, text, length);
}

// Appends the decimal digits of `n` (>= 0) to `text` at `at`.
std::size_t PutNumber(char* text, std::size_t at, int n) {
  char digits[12];
  std::size_t count = 0;
  do digits[count++] = char('0' + n % 10);
  while ((n /= 10) > 0);
  while (count > 0) text[at++] = digits[--count];
  return at;
}

std::size_t PutText(char* text, std::size_t at, const char* words) {
  while (*words) text[at++] = *words++;
  return at;
}

// "N written, N skipped, N failed of N" for the batch summary.
void SayTally(const BatchTally& tally) {
  char text[200];
  std::size_t n = PutText(text, 0, "\nkestrune-cli: stopped by a signal: ");
  n = PutNumber(text, n, tally.written.load());
  n = PutText(text, n, " written, ");
  n = PutNumber(text, n, tally.skipped.load());
  n = PutText(text, n, " skipped, ");
  n = PutNumber(text, n, tally.failed.load());
  n = PutText(text, n, " failed of ");
  n = PutNumber(text, n, tally.total);
  n = PutText(text, n, "; the results in progress are removed\n");
  Say(text, n);
}

extern "C" void OnSignal(int signal) {
  if (signal == SIGINT && g_firstInterruptStops.load() && !g_stopRequested.exchange(true)) {
    static const char message[] = "\nkestrune-cli: stopping after the current step (Ctrl+C again to abort)\n";
    Say(message, sizeof message - 1);
    return;
  }
  kestrune::RemovePartialOutputs();
  if (const BatchTally* tally = g_tally.load()) {
    SayTally(*tally);
    ::_exit(128 + signal);
  }
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

void ReportTallyOnSignal(const BatchTally* tally) { g_tally.store(tally); }
