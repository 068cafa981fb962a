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
#include <utility>

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

std::string Quoted(const std::string& path) {
  std::string text = "'";
  text += path;
  text += '\'';
  return text;
}

}  // namespace

AtomicOutput::~AtomicOutput() { Abandon(); }

bool AtomicOutput::Fail(int errnum) { return Fail(std::string(std::strerror(errnum))); }

bool AtomicOutput::Fail(std::string reason) {
  error_ = std::move(reason);
  Abandon();
  return false;
}

bool AtomicOutput::OpenFolderWithin(const std::string& within, const std::string& path) {
  const std::string outside = Quoted(path) + " is not inside " + Quoted(within);
  std::size_t at = within.size();
  if (within.empty() || path.compare(0, at, within) != 0 ||
      (within.back() != '/' && at < path.size() && path[at] != '/'))
    return Fail(outside);
  // Folders opened only to name what is in them (O_PATH): one that may be
  // written but not listed serves as well.
  folder_ = ::open(within.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder_ < 0) return Fail(errno);
  for (;;) {
    while (at < path.size() && path[at] == '/') ++at;
    const std::size_t end = path.find('/', at);
    if (end == std::string::npos) break;
    const std::string part = path.substr(at, end - at);
    at = end;
    if (part == ".") continue;
    if (part == "..") return Fail(outside);
    if (::mkdirat(folder_, part.c_str(), 0777) != 0 && errno != EEXIST) return Fail(errno);
    const int next = ::openat(folder_, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      const int errnum = errno;
      struct stat st {};
      if (::fstatat(folder_, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        return Fail(Quoted(path.substr(0, end)) +
                    " is a symbolic link, which is not followed: nothing is written "
                    "outside " +
                    Quoted(within));
      return Fail(errnum);
    }
    ::close(folder_);
    folder_ = next;
  }
  name_ = path.substr(at);
  return name_.empty() || name_ == "." || name_ == ".." ? Fail(EISDIR) : true;
}

bool AtomicOutput::Open(const std::string& path, const std::string& within) {
  Abandon();
  error_.clear();
  struct stat existing {};
  bool exists = false;
  if (within.empty()) {
    target_ = ResolveTarget(path);
    exists = ::stat(target_.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
      if (S_ISDIR(existing.st_mode)) return Fail(EISDIR);
      // A device, a FIFO or a socket: nothing to replace, written as it is.
      file_ = std::fopen(target_.c_str(), "wb");
      return file_ != nullptr || Fail(errno);
    }
    folder_ = ::open(FolderOf(target_).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder_ < 0) return Fail(errno);
    name_ = fs::path(target_).filename().string();
  } else {
    // Whatever is at the path itself is replaced, never followed.
    target_ = path;
    if (!OpenFolderWithin(within, path)) return false;
    exists = ::fstatat(folder_, name_.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && S_ISDIR(existing.st_mode)) return Fail(EISDIR);
    // Only a file of this user's passes its permissions on.
    exists = exists && S_ISREG(existing.st_mode) && existing.st_uid == ::geteuid();
  }
  const std::string folder = FolderOf(target_);
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempName_ = ".kestrune-tmp-" + std::to_string(::getpid()) + "-" + std::to_string(g_counter.fetch_add(1));
    // Listed before it exists, so that no signal can leave it behind.
    slot_ = ClaimSlot(folder + "/" + tempName_);
    const int fd = ::openat(folder_, tempName_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      const int errnum = errno;
      ReleaseSlot(slot_);
      slot_ = -1;
      if (errnum == EEXIST) continue;
      return Fail(errnum);
    }
    temporary_ = folder + "/" + tempName_;
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
  if (::renameat(folder_, tempName_.c_str(), folder_, name_.c_str()) != 0) return Fail(errno);
  ReleaseSlot(slot_);
  slot_ = -1;
  temporary_.clear();
  // The rename itself reaches the disk with the folder.
  const int sync = ::openat(folder_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (sync >= 0) {
    (void)::fsync(sync);
    ::close(sync);
  }
  ::close(folder_);
  folder_ = -1;
  return true;
}

void AtomicOutput::Abandon() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (!temporary_.empty()) {
    ::unlinkat(folder_, tempName_.c_str(), 0);
    temporary_.clear();
  }
  ReleaseSlot(slot_);
  slot_ = -1;
  if (folder_ >= 0) {
    ::close(folder_);
    folder_ = -1;
  }
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
  if (::access(folder.c_str(), W_OK | X_OK) != 0)
    return "the folder " + folder + " cannot be written: " + std::strerror(errno);
  return {};
}

void RemoveOpenTemporaryFiles() {
  for (Slot& slot : g_slots)
    if (slot.state.load() == 2) ::unlink(slot.path);
}

}  // namespace kestrune
