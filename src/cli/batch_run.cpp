// Running a batch: files side by side in slots weighed by their sizes, each
// file's work with its messages captured whole, the tally kept for signals.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <new>
#include <thread>

#include <kestrune/io.h>
#include <kestrune/threads.h>

#include "cli/batch.h"
#include "cli/batch_report.h"
#include "cli/command.h"
#include "cli/interrupt.h"

namespace fs = std::filesystem;

namespace {

// Each weight unit of a file in the default scheduling: a file of this many
// source pixels or more gets a thread of its own for the heavy loops.
constexpr uint64_t kPixelsPerThread = uint64_t{1} << 20;

// Starts files in list order, each once `weight` of the slots are free, so
// that a large file waits for the whole machine and small ones share it.
class Slots {
 public:
  explicit Slots(int count) : free_(count) {}
  void Take(std::size_t turn, int weight) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return turn_ == turn && free_ >= weight; });
    free_ -= weight;
    ++turn_;
    changed_.notify_all();
  }
  void Give(int weight) {
    std::lock_guard<std::mutex> lock(mutex_);
    free_ += weight;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t turn_ = 0;
  int free_;
};

}  // namespace

int RunBatch(const std::vector<std::string>& inputs, const BatchOptions& batch, const OutputOptions& output, bool quiet,
             const FileWork& work) {
  std::vector<BatchItem> items;
  if (const int status = PlanBatch(inputs, batch, output, items); status != kExitOk) return status;

  // By default nothing is replaced: refused before any work.
  if (!batch.skipExisting && !batch.overwrite) {
    int existing = 0;
    const BatchItem* first = nullptr;
    for (const BatchItem& item : items) {
      std::error_code error;
      if (!item.output.empty() && fs::exists(fs::symlink_status(item.output, error))) {
        ++existing;
        if (!first) first = &item;
      }
    }
    if (first) {
      Diag() << "kestrune-cli: " << existing << " result(s) already exist, such as " << Quoted(first->output)
             << ": --skip-existing leaves them, --overwrite replaces them\n";
      return kExitUnwritable;
    }
  }
  std::error_code error;
  fs::create_directories(batch.outputDir, error);
  if (error || !fs::is_directory(batch.outputDir)) {
    Diag() << "kestrune-cli: cannot make the folder " << Quoted(batch.outputDir) << ": "
           << (error ? error.message() : "not a folder") << '\n';
    return kExitUnwritable;
  }
  BatchReport report;
  if (!batch.report.empty() && !report.Open(batch.report)) return kExitUnwritable;

  BatchTally tally;
  tally.total = int(items.size());
  BatchDisplay display(quiet, tally.total, tally);
  ReportTallyOnSignal(&tally);
  display.Draw();

  // --jobs N: N files at once. Otherwise as many as there are threads, a
  // file weighing one thread per kPixelsPerThread source pixels, so that
  // small files keep every core busy and a large one has them all.
  const bool weighted = batch.jobs == 0;
  const int slotCount = weighted ? kestrune::ThreadCount() : batch.jobs;
  const int workers = std::max(1, std::min<int>(slotCount, int(items.size())));
  Slots slots(slotCount);
  std::atomic<std::size_t> next{0};

  auto runOne = [&](const BatchItem& item, FileSizes& sizes, std::string& message) -> const char* {
    DiagCapture capture;
    int status = kExitOk;
    try {
      status = work(item.input, item.output, sizes);
    } catch (const std::bad_alloc&) {
      Diag() << "kestrune-cli: " << Quoted(item.input) << ": not enough memory\n";
      status = kExitOutOfMemory;
    }
    message = capture.Text();
    if (!message.empty()) display.Print(message);
    while (!message.empty() && message.back() == '\n') message.pop_back();
    return status == kExitOk ? "written" : "failed";
  };

  // A report line that cannot be written is said once; the results stay.
  auto record = [&](const BatchItem& item, const char* status, const std::string& message, double seconds,
                    const FileSizes& sizes) {
    if (!report.Add(item, status, message, seconds, sizes))
      display.Print("kestrune-cli: cannot write the report " + Quoted(batch.report) + ": " + report.error() + "\n");
  };
  auto worker = [&] {
    for (std::size_t i; (i = next++) < items.size();) {
      const BatchItem& item = items[i];
      std::error_code error;
      if (!item.problem.empty()) {
        slots.Take(i, 0);
        ++tally.failed;
        display.Print(item.problem + "\n");
        record(item, "failed", item.problem, 0, FileSizes{});
        display.Draw();
        continue;
      }
      if (batch.skipExisting && fs::exists(fs::symlink_status(item.output, error))) {
        slots.Take(i, 0);
        ++tally.skipped;
        record(item, "skipped", "already there", 0, FileSizes{});
        display.Draw();
        continue;
      }
      int weight = 1;
      if (weighted) {
        const kestrune::Result<kestrune::ImageInfo> info = kestrune::ReadImageInfo(item.input);
        if (info.ok())
          weight = int(std::clamp<uint64_t>(uint64_t{info->width} * info->height / kPixelsPerThread, 1, slotCount));
      }
      slots.Take(i, weight);
      const auto start = std::chrono::steady_clock::now();
      FileSizes sizes;
      std::string message;
      const char* status = runOne(item, sizes, message);
      slots.Give(weight);
      ++(status[0] == 'w' ? tally.written : tally.failed);
      record(item, status, message, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
             sizes);
      display.Draw();
    }
  };
  std::vector<std::thread> threads;
  for (int t = 1; t < workers; ++t) threads.emplace_back(worker);
  // The line is also redrawn every second, so that the rate and the time
  // left move on while large files run.
  std::mutex tickMutex;
  std::condition_variable tickStop;
  bool finished = false;
  std::thread ticker;
  if (display.enabled())
    ticker = std::thread([&] {
      std::unique_lock<std::mutex> lock(tickMutex);
      while (!tickStop.wait_for(lock, std::chrono::seconds(1), [&] { return finished; })) display.Draw();
    });
  worker();
  for (std::thread& thread : threads) thread.join();
  if (ticker.joinable()) {
    {
      std::lock_guard<std::mutex> lock(tickMutex);
      finished = true;
    }
    tickStop.notify_all();
    ticker.join();
  }
  ReportTallyOnSignal(nullptr);
  display.Finish();

  if (!quiet) PrintBatchSummary(batch, tally, display.Elapsed());
  return tally.failed > 0 ? kExitSomeFailed : report.failed() ? kExitUnwritable : kExitOk;
}
