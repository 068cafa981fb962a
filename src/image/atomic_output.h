// AtomicOutput: writes a file all or nothing. The data goes to a temporary
// file beside the target (".kestrune-tmp-<pid>-<n>", created new and short
// whatever the target's name, so that any name the folder takes can be
// written), which is flushed to the disk and renamed over the target only
// when complete; on any failure, or when the object is destroyed before
// Commit, the temporary file is removed and the file that was at the path is
// untouched. A symbolic link at the path stays a link: the file it points to
// is replaced. Devices, FIFOs and other files that are not regular files are
// written directly. Written within a folder, nothing below that folder is
// followed: see Open.
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
  // temporary file cannot be created. With `within` (a folder that `path`
  // lies below), the folders between are made when missing and no symbolic
  // link below `within` is followed: whatever is at the path (a link, a FIFO)
  // but a folder is replaced by the file, and a link among the folders fails
  // the write.
  bool Open(const std::string& path, const std::string& within = {});
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
  // Where the data goes (the link's target for a link written without
  // `within`); empty before Open.
  const std::string& target() const { return target_; }
  // The temporary file being written; empty when the target is written
  // directly.
  const std::string& temporary() const { return temporary_; }

 private:
  bool Fail(int errnum);
  bool Fail(std::string reason);
  // Opens the folder `within`/`relative`'s folder, making the missing ones,
  // none of them followed if a link; sets folder_ and name_.
  bool OpenFolderWithin(const std::string& within, const std::string& relative);

  std::FILE* file_ = nullptr;
  std::string target_;
  std::string temporary_;  // empty when the target is written directly
  int folder_ = -1;        // the target's folder, while the temporary file is open
  std::string name_;       // the target's name in it
  std::string tempName_;   // the temporary file's name in it
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
