// StdioFile: a FILE* that closes itself, so every return path of a reader or
// writer releases its file.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace kestrune {

struct StdioFileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using StdioFile = std::unique_ptr<std::FILE, StdioFileCloser>;

inline StdioFile OpenStdioFile(const std::string& path, const char* mode) {
  return StdioFile(std::fopen(path.c_str(), mode));
}

}  // namespace kestrune
