// Helpers shared by the test suites: paths to the peer files and scratch
// files that clean themselves up.
#pragma once

#include <filesystem>
#include <set>
#include <string>

namespace kestrune {

// ../shared beside the repository (peer image suites).
std::filesystem::path SharedDir();

// The bytes of the file at `path` (empty when there is none).
std::string FileBytes(const std::string& path);

// The names in the folder `root` (none when it is missing); with `recursive`,
// the regular files below it instead, as paths relative to it.
std::set<std::string> Names(const std::filesystem::path& root, bool recursive = false);

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
