// Reporting a batch: the progress line and each file's messages on standard
// error, the JSON Lines report, and the closing summary.
#pragma once

#include <chrono>
#include <mutex>
#include <string>

#include "cli/batch.h"
#include "cli/interrupt.h"
#include "cli/terminal_progress.h"

// The standard error of a running batch: the progress line, redrawn after
// each file, and each file's messages printed whole above it.
class BatchDisplay {
 public:
  BatchDisplay(bool quiet, int total, const BatchTally& tally)
      : line_(quiet), total_(total), tally_(tally), start_(std::chrono::steady_clock::now()) {}

  double Elapsed() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count(); }

  void Print(const std::string& text);
  void Draw() {
    std::lock_guard<std::mutex> lock(mutex_);
    DrawLocked();
  }
  bool enabled() const { return line_.enabled(); }
  void Finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    line_.Finish();
  }

 private:
  void DrawLocked();

  std::mutex mutex_;
  TerminalProgress line_;
  const int total_;
  const BatchTally& tally_;
  const std::chrono::steady_clock::time_point start_;
};

// The report: one JSON object per input, appended as a line with a single
// write, so that a batch ended by a signal leaves whole lines and several
// processes may append to one file. A line that cannot be written whole is
// cut off again, and the report ends there. Without Open it takes nothing.
class BatchReport {
 public:
  BatchReport() = default;
  BatchReport(const BatchReport&) = delete;
  BatchReport& operator=(const BatchReport&) = delete;
  ~BatchReport();
  // Opens `path` for appending; false, said through Diag(), when it cannot.
  bool Open(const std::string& path);
  // False, with the reason in error(), when this line could not be written.
  bool Add(const BatchItem& item, const char* status, const std::string& message, double seconds,
           const FileSizes& sizes);
  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }

 private:
  int fd_ = -1;
  std::mutex mutex_;
  std::string error_;
};

// The closing line of a batch: how many files, in how long, written, skipped
// and failed, with the shard when there are several.
void PrintBatchSummary(const BatchOptions& batch, const BatchTally& tally, double elapsed);
