// The single-file and batch forms shared by the file commands.
#include "cli/file_command.h"

void FileCommand::Setup(CLI::App& sub) {
  sub.add_option("PATHS", paths_,
                 "IN OUT; with -o DIR, inputs: image files and folders (" + std::string(kInputHelp) + ")")
      ->required();
  output_.Add(sub);
  sub.add_flag("--quiet", quiet_, "No progress line or summary");
  AddSettings(sub);
  batch_.Add(sub);
}

int FileCommand::Run() {
  if (const int status = Prepare(); status != kExitOk) return status;
  if (batch_.Active()) {
    // Results go only inside the output folder: links there are replaced.
    output_.within = batch_.outputDir;
    return RunBatch(paths_, batch_, output_, quiet_,
                    [this](const std::string& in, const std::string& out, FileSizes& sizes) {
                      return Process(in, out, sizes);
                    });
  }
  if (paths_.size() != 2) {
    Diag() << "kestrune-cli: expected IN OUT, or inputs (files and folders) with -o DIR\n";
    return kExitUsage;
  }
  if (const int status = CheckOutputImage(paths_[1], output_); status != kExitOk) return status;
  FileSizes sizes;
  return Process(paths_[0], paths_[1], sizes);
}
