// Helpers shared by the test suites.
#include "support/test_support.h"

#include <atomic>
#include <random>
#include <unistd.h>

namespace kestrune {

std::filesystem::path SharedDir() { return std::filesystem::path(KESTRUNE_SHARED_DIR); }

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  path_ = std::filesystem::temp_directory_path() /
          ("kestrune-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace kestrune
