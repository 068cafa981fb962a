// TerminalProgress: a one-line progress bar on standard error for the long
// commands of kestrune-cli, showing what the run is doing, a bar and the
// percentage. It draws only when the stream is a terminal and the user did
// not ask for --quiet. It asks the run to stop after a first Ctrl+C.
#pragma once

#include <cstdio>
#include <string>

#include <kestrune/progress.h>

class TerminalProgress : public kestrune::Progress {
 public:
  // Draws on stderr when stderr is a terminal and `quiet` is false.
  explicit TerminalProgress(bool quiet);
  // Draws on `stream` when `enabled`, whatever the stream is (for tests).
  TerminalProgress(std::FILE* stream, bool enabled, int columns = 80);
  ~TerminalProgress() override;

  void Report(const kestrune::ProgressReport& report) override;
  bool CancelRequested() override;
  // Draws `status` and `percent` (when enabled).
  void Show(const std::string& status, float percent) {
    if (enabled_) Draw(status, percent);
  }
  // Clears the line.
  void Finish();

  bool enabled() const { return enabled_; }

  // What the line says for a report: "Iteration 3 of 24", "NEDI: 48 of 512
  // rows", "Searching (best 3.142)", ...
  static std::string Describe(const kestrune::ProgressReport& report);
  // The line drawn for `status` at `percent` in `columns` characters: the
  // status text (cut short when needed), a bar and "N %" with N the integer
  // part of percent + 0.5.
  static std::string FormatLine(const std::string& status, float percent, int columns);

 private:
  void Draw(const std::string& status, float percent);

  std::FILE* stream_;
  bool enabled_;
  int columns_;
  std::string lastLine_;
};
