// A one-line progress bar on a terminal: "\r" and an erase-line sequence
// redraw the line in place, and it is redrawn only when what it shows
// changes, so frequent reports cost little.
#include "cli/terminal_progress.h"

#include "cli/interrupt.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Width of the terminal behind `fd`, or 80 when it cannot be told.
int TerminalColumns(int fd) {
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

// Integer part of percent + 0.5, as the progress dialog shows it; NaN shows
// 0 and huge values are clamped so that the conversion stays defined.
long RoundedPercent(float percent) {
  if (std::isnan(percent)) return 0;
  return static_cast<long>(std::clamp(percent, -1e6f, 1e6f) + 0.5f);
}

}  // namespace

TerminalProgress::TerminalProgress(bool quiet)
    : stream_(stderr),
      enabled_(!quiet && ::isatty(STDERR_FILENO) == 1),
      columns_(enabled_ ? TerminalColumns(STDERR_FILENO) : 80) {}

TerminalProgress::TerminalProgress(std::FILE* stream, bool enabled, int columns)
    : stream_(stream), enabled_(enabled), columns_(columns) {}

TerminalProgress::~TerminalProgress() { Finish(); }

std::string TerminalProgress::Describe(const kestrune::ProgressReport& r) {
  using kestrune::Stage;
  char text[96];
  // A large picture is enlarged tile by tile: the tile leads the line.
  if (r.tiles > 0) {
    kestrune::ProgressReport tile = r;
    tile.tiles = 0;
    tile.rowsDone = 0;
    std::snprintf(text, sizeof text, "Tile %u of %u: ", r.tile + 1, r.tiles);
    return text + Describe(tile);
  }
  switch (r.stage) {
    case Stage::kAllocating: return "Allocating memory";
    case Stage::kInitialEnlargement:
      if (r.rowsDone == 0) return "Initial enlargement";
      std::snprintf(text, sizeof text, "Initial enlargement: %u of %u rows", r.rowsDone, r.estimate.height);
      return text;
    case Stage::kPreparing: return "Analysing edge directions";
    case Stage::kEnhancement:
      std::snprintf(text, sizeof text, "Iteration %u of %u%s", r.step + 1, r.total,
                    r.substitution ? " (fractal substitution)" : "");
      return text;
    case Stage::kHintSearch:
      if (r.bestScore < 0.0f) return "Searching for hints";
      std::snprintf(text, sizeof text, "Searching for hints (best so far: %.3f)", static_cast<double>(r.bestScore));
      return text;
    case Stage::kFinalScaling: return "Final scaling";
  }
  return {};
}

std::string TerminalProgress::FormatLine(const std::string& status, float percent, int columns) {
  char percentText[32];
  std::snprintf(percentText, sizeof percentText, "%4ld %%", RoundedPercent(percent));

  // Keep one column free: writing the last column makes some terminals wrap.
  const int usable = std::max(columns - 1, 16);
  const int barWidth = std::clamp(usable / 4, 10, 40);
  const int statusWidth = usable - barWidth - 3 - static_cast<int>(std::char_traits<char>::length(percentText));

  std::string line;
  if (statusWidth > 0) {
    std::string text = status.substr(0, static_cast<std::size_t>(statusWidth));
    text.resize(static_cast<std::size_t>(statusWidth), ' ');
    line = text + ' ';
  }
  float fraction = percent / 100.0f;
  if (!(fraction > 0.0f)) fraction = 0.0f;
  if (fraction > 1.0f) fraction = 1.0f;
  const int filled = static_cast<int>(fraction * static_cast<float>(barWidth));
  line += '[';
  line.append(static_cast<std::size_t>(filled), '#');
  line.append(static_cast<std::size_t>(barWidth - filled), '-');
  line += ']';
  line += percentText;
  return line;
}

void TerminalProgress::Report(const kestrune::ProgressReport& report) {
  if (enabled_) Draw(Describe(report), report.percent);
}

bool TerminalProgress::CancelRequested() { return StopRequested(); }

void TerminalProgress::Finish() {
  if (enabled_ && !lastLine_.empty()) {
    std::fputs("\r\033[K", stream_);
    std::fflush(stream_);
  }
  lastLine_.clear();
}

void TerminalProgress::Draw(const std::string& status, float percent) {
  std::string line = FormatLine(status, percent, columns_);
  if (line == lastLine_) return;
  std::fputs("\r\033[K", stream_);
  std::fputs(line.c_str(), stream_);
  std::fflush(stream_);
  lastLine_ = std::move(line);
}
