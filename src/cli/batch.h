// Batch runs of the file commands: inputs (files, and folders with their
// trees under --recursive) written into one output folder under names from a
// template, existing outputs refused, skipped or replaced, files side by side,
// one progress line, a JSON Lines report, and stable shards of the input list
// so that several processes or machines share one run.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/cli_image_io.h"

// Sizes of one file's source and result, for the report (0 when unknown).
struct FileSizes {
  uint32_t width = 0, height = 0;
  uint32_t outWidth = 0, outHeight = 0;
};

struct BatchOptions {
  std::string outputDir;
  std::string name = "{stem}.{ext}";
  bool recursive = false;
  bool skipExisting = false;
  bool overwrite = false;
  int jobs = 0;  // 0: by the files' sizes
  std::string report;
  uint32_t shardIndex = 0, shardCount = 1;

  // Declares -o/--output-dir and the options that need it.
  void Add(CLI::App& sub);
  bool Active() const { return outputOption_ != nullptr && outputOption_->count() > 0; }

 private:
  CLI::Option* outputOption_ = nullptr;
};

// One file of a batch, or a folder that could not be listed.
struct BatchItem {
  std::string input;         // the path read
  std::string key;           // its path below the input it came from, '/'-separated
  std::string output;        // the path written; empty for a folder
  std::string problem = {};  // a folder's failure, the message said for it
};

// What --help and the README say of --name.
extern const char kNameHelp[];

// The 64-bit FNV-1a hash: the same on every machine and every build.
uint64_t Fnv1a(std::string_view bytes);

// Reads "I/N" with 0 <= I < N; false for anything else.
bool ParseShard(const std::string& text, uint32_t& index, uint32_t& count);

// The file name `pattern` gives for a source with `stem` and an output
// extension `ext`; empty, with `problem` set, for an unknown field or a name
// that is no plain file name.
std::string ExpandName(const std::string& pattern, const std::string& stem, const std::string& ext,
                       std::string& problem);

// Lists the inputs' files (a folder's readable-looking files, not hidden
// ones, its subfolders too with `recursive`, never the output folder, a
// folder that cannot be listed as an item with its problem), names their
// outputs, sorts them by key and keeps those of the shard. Refuses two files
// with one output, or an output that is an input. Returns kExitOk, else
// prints why and returns a status.
int PlanBatch(const std::vector<std::string>& inputs, const BatchOptions& batch, const OutputOptions& output,
              std::vector<BatchItem>& items);

// Makes `out` from `in`; returns an ExitStatus, messages through Diag().
using FileWork = std::function<int(const std::string& in, const std::string& out, FileSizes& sizes)>;

// Plans the batch, then runs `work` on each file that needs it (which writes
// with `output.within` set to the output folder). Returns kExitOk,
// kExitSomeFailed when a file or folder failed (the others are done),
// kExitUnwritable when only the report could not be written, or the status
// of a refusal before any work.
int RunBatch(const std::vector<std::string>& inputs, const BatchOptions& batch, const OutputOptions& output, bool quiet,
             const FileWork& work);
