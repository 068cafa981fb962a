// AvailableMemoryBytes on Linux: /proc/meminfo, getrlimit and the cgroup v2
// limit of the process; elsewhere the limits alone.
#include "base/available_memory.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>

namespace kestrune {

namespace {

// A "Name:   123 kB" line of /proc/meminfo, in bytes.
uint64_t MeminfoBytes(const char* name) {
  std::ifstream meminfo("/proc/meminfo");
  std::string line;
  const std::size_t length = std::strlen(name);
  while (std::getline(meminfo, line))
    if (line.compare(0, length, name) == 0 && line.size() > length && line[length] == ':')
      return std::stoull(line.substr(length + 1)) * 1024;
  return UINT64_MAX;
}

// The memory left under the process's cgroup v2 limit, if it has one.
uint64_t CgroupBytes() {
  std::ifstream self("/proc/self/cgroup");
  std::string line, group;
  while (std::getline(self, line))
    if (line.rfind("0::", 0) == 0) group = line.substr(3);
  if (group.empty()) return UINT64_MAX;
  const std::string base = "/sys/fs/cgroup" + group;
  uint64_t limit = UINT64_MAX, current = 0;
  std::ifstream max(base + "/memory.max"), now(base + "/memory.current");
  std::string text;
  if (!(max >> text) || text == "max") return UINT64_MAX;
  limit = std::stoull(text);
  if (now >> current && current < limit) return limit - current;
  return 0;
}

// The room left under a resource limit of the process: the limit less what
// the process uses of it (the /proc/self/status line `used`, in kB).
uint64_t LimitBytes(int resource, const char* used) {
  rlimit limit{};
  if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
  std::ifstream status("/proc/self/status");
  std::string line;
  uint64_t inUse = 0;
  const std::size_t length = std::strlen(used);
  while (std::getline(status, line))
    if (line.compare(0, length, used) == 0 && line.size() > length && line[length] == ':')
      inUse = std::stoull(line.substr(length + 1)) * 1024;
  return limit.rlim_cur > inUse ? limit.rlim_cur - inUse : 0;
}

}  // namespace

uint64_t AvailableMemoryBytes() {
  uint64_t bytes = UINT64_MAX;
  try {
    const uint64_t available = MeminfoBytes("MemAvailable"), swap = MeminfoBytes("SwapFree");
    if (available != UINT64_MAX) bytes = available + (swap != UINT64_MAX ? swap : 0);
    bytes = std::min({bytes, CgroupBytes(), LimitBytes(RLIMIT_AS, "VmSize"), LimitBytes(RLIMIT_DATA, "VmData")});
  } catch (...) {
    // A number that cannot be read: say nothing rather than something wrong.
  }
  return bytes;
}

}  // namespace kestrune
