// AtomicOutput: temporary file, flush, sync, rename; and the table of open
// temporary files that a signal handler can remove.
#include "image/atomic_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>

namespace kestrune {

namespace {

namespace fs = std::filesystem;

// Temporary files being written, for RemoveOpenTemporaryFiles: a slot is
// claimed, filled, then marked ready; a signal handler unlinks every ready
// slot. Writes beyond the table's size still clean up after themselves,
// except on a signal.
constexpr int kSlots = 64;
struct Slot {
  std::atomic<int> state{0};  // 0 free, 1 being filled or emptied, 2 ready
  char path[PATH_MAX];
};
Slot g_slots[kSlots];

int ClaimSlot(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (g_slots[i].state.compare_exchange_strong(expected, 1)) {
      std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
      g_slots[i].state.store(2);
      return i;
    }
  }
  return -1;
}

void ReleaseSlot(int slot) {
  if (slot >= 0) g_slots[slot].state.store(0);
}

// The file a write of `path` replaces: the final target of a chain of links
// (which need not exist yet), else the path itself.
std::string ResolveTarget(const std::string& path) {
  fs::path p(path);
  std::error_code ec;
  for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(p, ec)); ++hops) {
    const fs::path link = fs::read_symlink(p, ec);
    if (ec) break;
    p = link.is_absolute() ? link : p.parent_path() / link;
  }
  return p.string();
}

std::string FolderOf(const std::string& file) {
  const fs::path parent = fs::path(file).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

std::atomic<unsigned> g_counter{0};

}  // namespace

AtomicOutput::~AtomicOutput() { Abandon(); }

bool AtomicOutput::Fail(int errnum) {
  error_ = std::strerror(errnum);
  Abandon();
  return false;
}

bool AtomicOutput::Open(const std::string& path) {
  Abandon();
  error_.clear();
  target_ = ResolveTarget(path);
  struct stat existing {};
  const bool exists = ::stat(target_.c_str(), &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode)) {
    if (S_ISDIR(existing.st_mode)) return Fail(EISDIR);
    // A device, a FIFO or a socket: nothing to replace, written as it is.
    file_ = std::fopen(target_.c_str(), "wb");
    return file_ != nullptr || Fail(errno);
  }
  const std::string folder = FolderOf(target_);
  const std::string name = fs::path(target_).filename().string();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = folder + "/." + name + "." + std::to_string(::getpid()) + "-" +
                                  std::to_string(g_counter.fetch_add(1)) + ".kestrune-tmp";
    // Listed before it exists, so that no signal can leave it behind.
    slot_ = ClaimSlot(candidate);
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      const int errnum = errno;
      ReleaseSlot(slot_);
      slot_ = -1;
      if (errnum == EEXIST) continue;
      return Fail(errnum);
    }
    temporary_ = candidate;
    // A replaced file keeps its permissions.
    if (exists) (void)::fchmod(fd, existing.st_mode & 07777);
    file_ = ::fdopen(fd, "wb");
    if (file_ == nullptr) {
      const int errnum = errno;
      ::close(fd);
      return Fail(errnum);
    }
    return true;
  }
  return Fail(EEXIST);
}

bool AtomicOutput::Commit() {
  if (file_ == nullptr) return false;
  if (std::fflush(file_) != 0 || std::ferror(file_)) return Fail(errno != 0 ? errno : EIO);
  if (!temporary_.empty() && ::fsync(::fileno(file_)) != 0) return Fail(errno);
  std::FILE* file = file_;
  file_ = nullptr;
  if (std::fclose(file) != 0) return Fail(errno);
  if (temporary_.empty()) return true;
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) return Fail(errno);
  ReleaseSlot(slot_);
  slot_ = -1;
  temporary_.clear();
  // The rename itself reaches the disk with the folder.
  const int folder = ::open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    (void)::fsync(folder);
    ::close(folder);
  }
  return true;
}

void AtomicOutput::Abandon() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
    temporary_.clear();
  }
  ReleaseSlot(slot_);
  slot_ = -1;
}

std::string OutputPathProblem(const std::string& path) {
  if (path.empty()) return "no file name";
  const std::string target = ResolveTarget(path);
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
    if (!S_ISREG(st.st_mode)) return ::access(target.c_str(), W_OK) == 0 ? std::string() : std::strerror(errno);
  }
  const std::string folder = FolderOf(target);
  if (::stat(folder.c_str(), &st) != 0) return "the folder " + folder + " does not exist";
  if (!S_ISDIR(st.st_mode)) return folder + " is not a folder";
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return "the folder " + folder + " cannot be written: " + std::strerror(errno);
  return {};
}

void RemoveOpenTemporaryFiles() {
  for (Slot& slot : g_slots)
    if (slot.state.load() == 2) ::unlink(slot.path);
}

}  // namespace kestrune
