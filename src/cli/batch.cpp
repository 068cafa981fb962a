// Planning and running a batch: listing, naming, sharding, then files side
// by side on a few threads, each file's messages printed whole.
#include "cli/batch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <new>
#include <thread>

#include <kestrune/io.h>
#include <kestrune/threads.h>

#include "cli/command.h"
#include "cli/interrupt.h"
#include "cli/options.h"
#include "cli/terminal_progress.h"

namespace fs = std::filesystem;

const char kNameHelp[] =
    "Name of each result in the output folder: {stem} is the input's name without its extension, {ext} the "
    "extension of the output format (--format's, else the input's when the tool writes its format, else png)";

namespace {

// Each weight unit of a file in the default scheduling: a file of this many
// source pixels or more gets a thread of its own for the heavy loops.
constexpr uint64_t kPixelsPerThread = uint64_t{1} << 20;

std::string FormatExtension(const std::string& format) {
  const std::string f = CLI::detail::to_lower(format);
  return f == "jpeg" ? "jpg" : f == "tiff" ? "tif" : f;
}

// {ext} for an input: --format's extension, else the input's own when the
// tool writes that format, else png.
std::string OutputExtension(const fs::path& input, const OutputOptions& output) {
  if (!output.format.empty()) return FormatExtension(output.format);
  const std::string ext = input.extension().string();
  if (ext.size() > 1 && kestrune::CanWrite(kestrune::FormatFromExtension(ext))) return ext.substr(1);
  return "png";
}

bool Hidden(const fs::path& path) { return path.filename().string().rfind('.', 0) == 0; }

// The same file or folder, or false when either cannot be told.
bool SamePlace(const fs::path& a, const fs::path& b) {
  std::error_code error;
  return fs::equivalent(a, b, error) && !error;
}

// A path as the JSON string of a report, bytes beyond ASCII as they are.
std::string Json(const std::string& text) {
  std::string out = "\"";
  for (const unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += char(c);
    }
  }
  return out + '"';
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

uintmax_t FileBytes(const std::string& path) {
  std::error_code error;
  const uintmax_t size = fs::file_size(path, error);
  return error ? 0 : size;
}

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

// The standard error of a running batch: the progress line, redrawn after
// each file, and each file's messages printed whole above it.
class BatchDisplay {
 public:
  BatchDisplay(bool quiet, int total, const BatchTally& tally)
      : line_(quiet), total_(total), tally_(tally), start_(std::chrono::steady_clock::now()) {}

  double Elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

  void Print(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    line_.Finish();
    std::cerr << text << std::flush;
    DrawLocked();
  }
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
  void DrawLocked() {
    if (!line_.enabled()) return;
    const int written = tally_.written, failed = tally_.failed, skipped = tally_.skipped;
    const int finished = written + failed + skipped;
    const double elapsed = Elapsed(), rate = elapsed > 0 ? (written + failed) / elapsed : 0;
    char text[160];
    int n = std::snprintf(text, sizeof text, "%d/%d files, %d failed", finished, total_, failed);
    if (written + failed > 0 && rate > 0) {
      const long left = long((total_ - finished) / rate + 0.5);
      std::snprintf(text + n, sizeof text - n, ", %.1f images/s, %ld:%02ld left", rate, left / 60, left % 60);
    }
    line_.Show(text, total_ > 0 ? 100.0f * finished / total_ : 100.0f);
  }

  std::mutex mutex_;
  TerminalProgress line_;
  const int total_;
  const BatchTally& tally_;
  const std::chrono::steady_clock::time_point start_;
};

// The report: one JSON object per input, appended as a line with a single
// write, so that a batch ended by a signal leaves whole lines and several
// processes may append to one file. A line that cannot be written whole is
// cut off again, and the report ends there.
class BatchReport {
 public:
  explicit BatchReport(int fd) : fd_(fd) {}
  ~BatchReport() {
    if (fd_ >= 0) ::close(fd_);
  }
  // False, with the reason in error(), when this line could not be written.
  bool Add(const BatchItem& item, const char* status, const std::string& message, double seconds,
           const FileSizes& sizes) {
    if (fd_ < 0) return true;
    std::string line = "{\"input\":" + Json(item.input) + ",\"output\":" + Json(item.output) +
                       ",\"status\":\"" + status + "\",\"message\":" + Json(message) +
                       ",\"seconds\":" + Seconds(seconds) +
                       ",\"input_bytes\":" + std::to_string(FileBytes(item.input)) +
                       ",\"output_bytes\":" + std::to_string(status[0] == 'f' ? 0 : FileBytes(item.output)) +
                       ",\"width\":" + std::to_string(sizes.width) + ",\"height\":" + std::to_string(sizes.height) +
                       ",\"output_width\":" + std::to_string(sizes.outWidth) +
                       ",\"output_height\":" + std::to_string(sizes.outHeight) + "}\n";
    std::lock_guard<std::mutex> lock(mutex_);
    // Only after a short write (a full disk, a size limit) is the rest tried,
    // for the system's reason; a line still cut short is removed.
    std::size_t done = 0;
    while (done < line.size()) {
      const ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
      if (n > 0) {
        done += std::size_t(n);
        continue;
      }
      error_ = std::strerror(n < 0 ? errno : ENOSPC);
      struct stat st {};
      const off_t end = ::lseek(fd_, 0, SEEK_CUR);
      if (done > 0 && end >= off_t(done) && ::fstat(fd_, &st) == 0 && st.st_size == end)
        (void)::ftruncate(fd_, end - off_t(done));
      ::close(fd_);
      fd_ = -1;
      return false;
    }
    return true;
  }
  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }

 private:
  int fd_;
  std::mutex mutex_;
  std::string error_;
};

}  // namespace

void BatchOptions::Add(CLI::App& sub) {
  outputOption_ = sub.add_option("-o,--output-dir", outputDir,
                                 "Batch: the folder the results go into (made if missing; links in it are replaced, "
                                 "not followed)")
                      ->type_name("DIR");
  sub.add_option("--name", name, kNameHelp)->capture_default_str()->needs(outputOption_);
  sub.add_flag("--recursive", recursive, "Batch: descend into the input folders, keeping their tree")
      ->needs(outputOption_);
  CLI::Option* skip = sub.add_flag("--skip-existing", skipExisting, "Batch: leave results already there (resume)")
                          ->needs(outputOption_);
  sub.add_flag("--overwrite", overwrite, "Batch: replace results already there")->needs(outputOption_)->excludes(skip);
  sub.add_option("--jobs", jobs, "Batch: files run side by side (default: by their sizes, every thread busy)")
      ->check(DecimalDigits)
      ->check(CLI::Range(1, kestrune::kMaxThreads))
      ->type_name("N")
      ->needs(outputOption_);
  sub.add_option("--report", report, "Batch: append one JSON line per input to FILE")
      ->type_name("FILE")
      ->needs(outputOption_);
  sub.add_option_function<std::string>(
         "--shard",
         [this](const std::string& text) { ParseShard(text, shardIndex, shardCount); },
         "Batch: run only part I of N (0 <= I < N) of the sorted input list")
      ->check(CLI::Validator(
          [](std::string& text) {
            uint32_t i, n;
            return ParseShard(text, i, n) ? std::string() : "expected I/N with 0 <= I < N: " + text;
          },
          "I/N"))
      ->needs(outputOption_);
}

uint64_t Fnv1a(std::string_view bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (const unsigned char c : bytes) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

bool ParseShard(const std::string& text, uint32_t& index, uint32_t& count) {
  const std::size_t slash = text.find('/');
  if (slash == std::string::npos) return false;
  const std::string i = text.substr(0, slash), n = text.substr(slash + 1);
  std::string message;
  uint32_t a, b;
  if (!ParseUnsigned(n, 1, 1000000, b, message) || !ParseUnsigned(i, 0, b - 1, a, message)) return false;
  index = a, count = b;
  return true;
}

std::string ExpandName(const std::string& pattern, const std::string& stem, const std::string& ext,
                       std::string& problem) {
  std::string name;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '{' && pattern[i] != '}') {
      name += pattern[i];
      continue;
    }
    const std::size_t close = pattern.find('}', i);
    const std::string field = pattern[i] == '{' && close != std::string::npos ? pattern.substr(i, close - i + 1) : "";
    if (field == "{stem}") {
      name += stem;
    } else if (field == "{ext}") {
      name += ext;
    } else {
      problem = "--name " + Printable(pattern) + ": the fields are {stem} and {ext}";
      return {};
    }
    i = close;
  }
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
    problem = "--name " + Printable(pattern) + " gives " + Quoted(name) + ", which is no file name";
    return {};
  }
  return name;
}

int PlanBatch(const std::vector<std::string>& inputs, const BatchOptions& batch, const OutputOptions& output,
              std::vector<BatchItem>& items) {
  const fs::path outDir(batch.outputDir);
  std::string problem;
  auto add = [&](const fs::path& file, const fs::path& below) {
    const std::string name = ExpandName(batch.name, file.stem().string(), OutputExtension(file, output), problem);
    if (name.empty()) return false;
    const fs::path out = outDir / below.parent_path() / name;
    if (output.format.empty() && !kestrune::CanWrite(kestrune::FormatFromExtension(name))) {
      problem = "cannot write " + Quoted(out.string()) + ": the name names no format the tool writes (use --format)";
      return false;
    }
    items.push_back({file.string(), below.generic_string(), out.string()});
    return true;
  };
  try {
    for (const std::string& input : inputs) {
      const fs::path path(input);
      if (input == "-") {
        Diag() << "kestrune-cli: a batch reads files, not standard input\n";
        return kExitUsage;
      }
      if (!fs::is_directory(path)) {
        if (!fs::exists(path)) {
          Diag() << "kestrune-cli: cannot read " << Quoted(input) << ": no such file or folder\n";
          return kExitUnreadable;
        }
        if (!add(path, path.filename())) break;
        continue;
      }
      // A folder: the files whose extensions name a format the tool reads,
      // with --recursive its subfolders' too (not hidden ones, links or the
      // output folder). Each folder is read whole and closed before the next,
      // so a deep tree holds one open at a time; one that cannot be read is a
      // failed input of its own and the others go on.
      std::vector<fs::path> folders{path};
      while (!folders.empty() && problem.empty()) {
        const fs::path folder = std::move(folders.back());
        folders.pop_back();
        std::error_code error;
        std::vector<fs::directory_entry> entries;
        for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
          entries.push_back(*it);
        if (error) {
          items.push_back({folder.string(), folder.lexically_relative(path).generic_string(), "",
                           "kestrune-cli: cannot read " + Quoted(folder.string()) + ": " + error.message()});
          continue;
        }
        for (const fs::directory_entry& entry : entries) {
          if (Hidden(entry.path())) continue;
          if (batch.recursive && entry.is_directory(error) && !entry.is_symlink(error)) {
            if (!SamePlace(entry.path(), outDir)) folders.push_back(entry.path());
          } else if (entry.is_regular_file(error) &&
                     kestrune::FormatFromExtension(entry.path().string()) != kestrune::FileFormat::kUnknown &&
                     !add(entry.path(), entry.path().lexically_relative(path))) {
            break;
          }
        }
      }
      if (!problem.empty()) break;
    }
  } catch (const fs::filesystem_error& e) {
    Diag() << "kestrune-cli: cannot read " << Quoted(e.path1().string()) << ": " << e.code().message() << '\n';
    return kExitUnreadable;
  }
  if (!problem.empty()) {
    Diag() << "kestrune-cli: " << problem << '\n';
    return kExitUsage;
  }

  std::sort(items.begin(), items.end(), [](const BatchItem& a, const BatchItem& b) {
    return a.key != b.key ? a.key < b.key : a.input < b.input;
  });
  // Every output once, and never an input: checked on the whole list, so
  // that every shard refuses the same runs.
  std::map<std::string, const BatchItem*> outputs;
  for (const BatchItem& item : items) {
    if (item.output.empty()) continue;
    const auto [it, fresh] = outputs.emplace(fs::path(item.output).lexically_normal().string(), &item);
    if (!fresh) {
      Diag() << "kestrune-cli: " << Quoted(it->second->input) << " and " << Quoted(item.input)
             << " would both be written to " << Quoted(item.output) << "\n";
      return kExitUsage;
    }
  }
  for (const BatchItem& item : items) {
    if (item.output.empty()) continue;
    if (SamePlace(item.input, item.output) || outputs.count(fs::path(item.input).lexically_normal().string())) {
      Diag() << "kestrune-cli: " << Quoted(item.input) << " is also an output of the batch\n";
      return kExitUsage;
    }
  }
  std::erase_if(items, [&](const BatchItem& item) { return Fnv1a(item.key) % batch.shardCount != batch.shardIndex; });
  return kExitOk;
}

int RunBatch(const std::vector<std::string>& inputs, const BatchOptions& batch, const OutputOptions& output,
             bool quiet, const FileWork& work) {
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
  int reportFd = -1;
  if (!batch.report.empty()) {
    reportFd = ::open(batch.report.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (reportFd < 0) {
      Diag() << "kestrune-cli: cannot write " << Quoted(batch.report) << ": " << std::strerror(errno) << '\n';
      return kExitUnwritable;
    }
  }
  BatchReport report(reportFd);

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

  if (!quiet) {
    const double elapsed = display.Elapsed();
    char text[256];
    std::string shard;
    if (batch.shardCount > 1)
      shard = " (shard " + std::to_string(batch.shardIndex) + "/" + std::to_string(batch.shardCount) + ")";
    std::snprintf(text, sizeof text, "kestrune-cli: %d files%s in %.1f s: %d written, %d skipped, %d failed\n",
                  tally.total, shard.c_str(), elapsed, tally.written.load(), tally.skipped.load(), tally.failed.load());
    std::cerr << text;
  }
  return tally.failed > 0 ? kExitSomeFailed : report.failed() ? kExitUnwritable : kExitOk;
}
