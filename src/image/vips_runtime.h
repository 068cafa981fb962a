// libvips for the program: started once per process with the loaders it
// marks untrusted blocked, so that a user's file reaches only the decoders
// chosen here, and with its operation cache off (every file is read once).
// One read or write at a time goes through libvips: its error buffer is
// shared by the process, and its warnings, which come from its worker
// threads, are collected for the read under way. Internal to the image layer.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include <vips/vips8>

#include "image/format_readers.h"

namespace kestrune::vipsio {

extern std::mutex g_vipsMutex;  // one read or write at a time

// Collects libvips's warnings into `into` while it lives.
class WarningCapture {
 public:
  explicit WarningCapture(std::vector<std::string>& into);
  ~WarningCapture();
  WarningCapture(const WarningCapture&) = delete;
  WarningCapture& operator=(const WarningCapture&) = delete;
};

// Empty when libvips runs, else why it does not.
const std::string& StartVips();

// The file `in` as a libvips source, from its first byte.
vips::VSource OpenSource(const VipsInput& in);

// The file `in` opened for sequential reading, failing as `failOn` says.
vips::VImage Load(const VipsInput& in, VipsFailOn failOn);

}  // namespace kestrune::vipsio
