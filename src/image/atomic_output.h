// AtomicOutput: writes a file all or nothing. The data goes to a temporary
// file beside the target (".NAME.<pid>-<n>.kestrune-tmp", created new), which
// is flushed to the disk and renamed over the target only when complete; on
// any failure, or when the object is destroyed before Commit, the temporary
// file is removed and the file that was at the path is untouched. A symbolic
// link at the path stays a link: the file it points to is replaced. Devices,
// FIFOs and other files that are not regular files are written directly.
#pragma once

#include <cstdio>
#include <string>

namespace kestrune {

class AtomicOutput {
 public:
  AtomicOutput() = default;
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;
  ~AtomicOutput();

  // Starts writing `path`. False, with the reason in error(), when the
  // temporary file cannot be created.
  bool Open(const std::string& path);
  // The stream to write into, between Open and Commit.
  std::FILE* file() const { return file_; }
  // Flushes, syncs, closes and moves the file into place. False, with the
  // reason in error(), when any of it fails; the target is then untouched.
  bool Commit();
  // Gives up: closes and removes the temporary file.
  void Abandon();
  // Gives up after a write failed with the system error `errnum`, which
  // error() then gives as the reason.
  void Abandon(int errnum) { Fail(errnum); }

  // The system's reason for the last failure ("No space left on device").
  const std::string& error() const { return error_; }
  // Where the data goes (the link's target for a link); empty before Open.
  const std::string& target() const { return target_; }
  // The temporary file being written; empty when the target is written
  // directly.
  const std::string& temporary() const { return temporary_; }

 private:
  bool Fail(int errnum);

  std::FILE* file_ = nullptr;
  std::string target_;
  std::string temporary_;  // empty when the target is written directly
  int slot_ = -1;          // entry in the table of files to remove on a signal
  std::string error_;
};

// The folder a write of `path` would put its temporary file in (the folder
// of the link's target for a link), whether it exists and can be written,
// and whether an existing path is something a file can be written to. Empty
// when a write may be attempted, else the reason.
std::string OutputPathProblem(const std::string& path);

// Removes the temporary files of the AtomicOutputs of this process that are
// open. Only unlinks, so it may be called from a signal handler.
void RemoveOpenTemporaryFiles();

}  // namespace kestrune
