// Helpers shared by the test suites.
#include "support/test_support.h"

#include <unistd.h>
#include <atomic>
#include <fstream>
#include <iterator>
#include <random>

namespace kestrune {

std::filesystem::path SharedDir() { return std::filesystem::path(KESTRUNE_SHARED_DIR); }

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::set<std::string> Names(const std::filesystem::path& root, bool recursive) {
  namespace fs = std::filesystem;
  std::set<std::string> names;
  if (!fs::exists(root)) return names;
  if (!recursive)
    for (const auto& entry : fs::directory_iterator(root)) names.insert(entry.path().filename().string());
  else
    for (const auto& entry : fs::recursive_directory_iterator(root))
      if (entry.is_regular_file()) names.insert(entry.path().lexically_relative(root).string());
  return names;
}

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
