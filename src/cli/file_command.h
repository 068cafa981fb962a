// The commands that make an image file from another (convert, resize,
// upscale, downscale). Each takes IN OUT, or with -o DIR a batch of inputs
// (files and folders) written into DIR.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/cli_image_io.h"
#include "cli/command.h"

class FileCommand : public Command {
 public:
  void Setup(CLI::App& sub) final;
  int Run() final;
  bool StopsOnInterrupt() const final { return !batch_.Active() && StopsEarly(); }

 protected:
  // Declares the command's own settings.
  virtual void AddSettings(CLI::App& sub) = 0;
  // Checks the settings once, before any file; prints why and returns a
  // status when they are bad.
  virtual int Prepare() { return kExitOk; }
  // Makes `out` from `in`, printing through Diag(); returns an ExitStatus.
  // Called from several threads at once in a batch.
  virtual int Process(const std::string& in, const std::string& out, FileSizes& sizes) const = 0;
  // Whether a first Ctrl+C stops a single-file run early.
  virtual bool StopsEarly() const { return false; }

  bool InBatch() const { return batch_.Active(); }

  OutputOptions output_;
  bool quiet_ = false;

 private:
  std::vector<std::string> paths_;
  BatchOptions batch_;
};
