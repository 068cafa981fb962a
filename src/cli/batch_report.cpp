// Reporting a batch: the progress line, the JSON Lines report, the summary.
#include "cli/batch_report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "cli/cli_image_io.h"

namespace fs = std::filesystem;

namespace {

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

}  // namespace

void BatchDisplay::Print(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  line_.Finish();
  std::cerr << text << std::flush;
  DrawLocked();
}

void BatchDisplay::DrawLocked() {
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

BatchReport::~BatchReport() {
  if (fd_ >= 0) ::close(fd_);
}

bool BatchReport::Open(const std::string& path) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd_ >= 0) return true;
  Diag() << "kestrune-cli: cannot write " << Quoted(path) << ": " << std::strerror(errno) << '\n';
  return false;
}

bool BatchReport::Add(const BatchItem& item, const char* status, const std::string& message, double seconds,
                      const FileSizes& sizes) {
  if (fd_ < 0) return true;
  std::string line = "{\"input\":" + Json(item.input) + ",\"output\":" + Json(item.output) + ",\"status\":\"" + status +
                     "\",\"message\":" + Json(message) + ",\"seconds\":" + Seconds(seconds) +
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

void PrintBatchSummary(const BatchOptions& batch, const BatchTally& tally, double elapsed) {
  char text[256];
  std::string shard;
  if (batch.shardCount > 1)
    shard = " (shard " + std::to_string(batch.shardIndex) + "/" + std::to_string(batch.shardCount) + ")";
  std::snprintf(text, sizeof text, "kestrune-cli: %d files%s in %.1f s: %d written, %d skipped, %d failed\n",
                tally.total, shard.c_str(), elapsed, tally.written.load(), tally.skipped.load(), tally.failed.load());
  std::cerr << text;
}
