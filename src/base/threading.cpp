// Thread count (program setting, KESTRUNE_THREADS, cores) and the parallel
// loop, run by oneTBB inside a task arena of exactly that many threads.
#include "base/threading.h"

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/global_control.h>
#include <oneapi/tbb/info.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/task_arena.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace kestrune {

namespace {

std::atomic<int> g_setting{0};  // 0: not set by the program

int ClampThreads(long n) { return int(std::clamp<long>(n, 1, kMaxThreads)); }

int DefaultThreadCount() {
  static const int count = [] {
    if (const char* env = std::getenv("KESTRUNE_THREADS"))
      if (const int n = ParseThreadCount(env); n > 0) return n;
    return ClampThreads(tbb::info::default_concurrency());
  }();
  return count;
}

// One arena per thread count, kept for the life of the program so that its
// workers stay warm between loops. oneTBB keeps no more workers than cores
// unless told otherwise, so a larger count raises that limit.
std::shared_ptr<tbb::task_arena> ArenaFor(int threads) {
  static std::mutex mutex;
  static std::shared_ptr<tbb::task_arena> arena;
  static std::unique_ptr<tbb::global_control> workerLimit;
  std::lock_guard<std::mutex> lock(mutex);
  if (!arena || arena->max_concurrency() != threads) {
    using tbb::global_control;
    if (threads > tbb::info::default_concurrency() &&
        int(global_control::active_value(global_control::max_allowed_parallelism)) < threads)
      workerLimit = std::make_unique<global_control>(global_control::max_allowed_parallelism, std::size_t(threads));
    arena = std::make_shared<tbb::task_arena>(threads);
    arena->initialize();
  }
  return arena;
}

// Set while a thread runs a piece of a parallel loop: a loop inside it runs
// in the same arena instead of opening another.
thread_local int t_nesting = 0;
struct NestingGuard {
  NestingGuard() { ++t_nesting; }
  ~NestingGuard() { --t_nesting; }
};

}  // namespace

int ParseThreadCount(const char* text) {
  if (!text || *text < '0' || *text > '9') return 0;
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(text, &end, 10);
  if (*end != '\0') return 0;
  if (errno == ERANGE) return kMaxThreads;
  return n > 0 ? ClampThreads(n) : 0;
}

int ThreadCount() {
  const int set = g_setting.load(std::memory_order_relaxed);
  return set > 0 ? set : DefaultThreadCount();
}

void SetThreadCount(int threads) { g_setting.store(threads > 0 ? ClampThreads(threads) : 0); }

std::ptrdiff_t RowGrain(std::ptrdiff_t rowSamples, std::ptrdiff_t minSamples) {
  if (rowSamples <= 0) return 1;
  return std::max<std::ptrdiff_t>(1, (minSamples + rowSamples - 1) / rowSamples);
}

void ParallelFor(std::ptrdiff_t first, std::ptrdiff_t last, std::ptrdiff_t grain,
                 const std::function<void(std::ptrdiff_t, std::ptrdiff_t)>& body) {
  if (last <= first) return;
  grain = std::max<std::ptrdiff_t>(grain, 1);
  const int threads = ThreadCount();
  if (threads <= 1 || last - first <= grain) {
    body(first, last);
    return;
  }
  // The range is cut into equal pieces of at least one grain; the scheduler
  // hands out runs of consecutive pieces, each run one call of the body.
  const std::ptrdiff_t count = last - first, pieces = count / grain;
  const std::ptrdiff_t base = count / pieces, extra = count % pieces;
  auto start = [&](std::ptrdiff_t k) { return first + k * base + std::min(k, extra); };
  auto loop = [&] {
    tbb::parallel_for(tbb::blocked_range<std::ptrdiff_t>(0, pieces, 1),
                      [&](const tbb::blocked_range<std::ptrdiff_t>& r) {
                        NestingGuard guard;
                        body(start(r.begin()), start(r.end()));
                      });
  };
  if (t_nesting > 0)
    loop();
  else
    ArenaFor(threads)->execute(loop);
}

}  // namespace kestrune
