// Helpers shared by the test suites: paths to the peer files and scratch
// files that clean themselves up.
#pragma once

#include <filesystem>
#include <string>

namespace kestrune {

// ../shared beside the repository (peer image suites).
std::filesystem::path SharedDir();

// A fresh directory under the system temporary folder, removed on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace kestrune
