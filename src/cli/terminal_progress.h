// TerminalProgress: a one-line progress bar on standard error for the
// commands of kestrune-cli, showing the status text, a bar and the
// percentage. It draws only when the stream is a terminal and the user did
// not ask for --quiet; otherwise every call is a no-op.
#pragma once

#include <cstdio>
#include <string>

#include "downscale/progress.h"

using namespace kestrune;

class TerminalProgress : public Progress {
 public:
  // Draws on stderr when stderr is a terminal and `quiet` is false.
  explicit TerminalProgress(bool quiet);
  // Draws on `stream` when `enabled`, whatever the stream is (for tests).
  TerminalProgress(std::FILE* stream, bool enabled, int columns = 80);
  ~TerminalProgress() override;

  void Start(const std::string& text, bool cancelEnabled) override;
  void SetStatusText(const std::string& text) override;
  void SetProgress(float percent) override;
  void Finish() override;

  bool enabled() const { return enabled_; }

  // The line drawn for `status` at `percent` in `columns` characters:
  // the status text (cut short when needed), a bar and "N %" with N the
  // integer part of percent + 0.5.
  static std::string FormatLine(const std::string& status, float percent, int columns);

 private:
  void Draw();

  std::FILE* stream_;
  bool enabled_;
  int columns_;
  bool shown_ = false;
  std::string status_;
  float percent_ = 0.0f;
  std::string lastLine_;
};
