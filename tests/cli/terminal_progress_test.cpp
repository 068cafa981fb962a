// TerminalProgress: the drawn line, when it draws at all, and the cancel flag.
#include "cli/terminal_progress.h"

#include <cmath>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

namespace {

// Everything written to a temporary stream so far.
std::string Contents(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  int c;
  while ((c = std::fgetc(file)) != EOF) text += static_cast<char>(c);
  return text;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(TerminalProgress, PercentageRoundsLikeTheDialog) {
  // The integer part of percent + 0.5: 37.4 shows 37, 37.5 shows 38,
  // 99.996 shows 100 and 0.4 shows 0.
  EXPECT_NE(TerminalProgress::FormatLine("x", 37.4f, 80).find("  37 %"), std::string::npos);
  EXPECT_NE(TerminalProgress::FormatLine("x", 37.5f, 80).find("  38 %"), std::string::npos);
  EXPECT_NE(TerminalProgress::FormatLine("x", 99.996f, 80).find(" 100 %"), std::string::npos);
  EXPECT_NE(TerminalProgress::FormatLine("x", 0.4f, 80).find("   0 %"), std::string::npos);
  EXPECT_NE(TerminalProgress::FormatLine("x", NAN, 80).find("   0 %"), std::string::npos);
}

TEST(TerminalProgress, LineHoldsStatusAndBarWithinTheWidth) {
  const std::string status = "Searching for hints...  (best hint so far: 3.142)";
  const std::string empty = TerminalProgress::FormatLine(status, 0.0f, 100);
  const std::string half = TerminalProgress::FormatLine(status, 50.0f, 100);
  const std::string full = TerminalProgress::FormatLine(status, 100.0f, 100);
  EXPECT_EQ(empty.rfind(status, 0), 0u);  // the status text comes first, whole
  EXPECT_EQ(empty.size(), 99u);           // the last column stays free
  EXPECT_EQ(half.size(), 99u);
  EXPECT_EQ(Count(empty, "#"), 0u);
  EXPECT_EQ(Count(full, "-"), 0u);
  EXPECT_EQ(Count(half, "#"), Count(half, "-"));  // a 24-wide bar half filled

  // A narrow terminal cuts the status text short, never the bar.
  const std::string narrow = TerminalProgress::FormatLine(status, 50.0f, 40);
  EXPECT_EQ(narrow.size(), 39u);
  EXPECT_EQ(narrow.rfind("Searching", 0), 0u);
  EXPECT_NE(narrow.find("]  50 %"), std::string::npos);
}

TEST(TerminalProgress, DisabledWritesNothing) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  {
    TerminalProgress progress(file, false);
    progress.Start("Searching for hints...", false);
    progress.SetProgress(50.0f);
    progress.SetStatusText("Final scaling...");
    progress.Finish();
  }
  EXPECT_EQ(Contents(file), "");
  std::fclose(file);
}

TEST(TerminalProgress, RedrawsInPlaceOnlyOnChangeAndClearsAtTheEnd) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  TerminalProgress progress(file, true, 80);
  progress.Start("Searching for hints...", false);
  progress.SetProgress(0.1f);   // still shows 0 % and an empty bar: no redraw
  progress.SetProgress(10.0f);  // redraw
  progress.SetStatusText("Final scaling...");  // redraw
  progress.Finish();
  const std::string text = Contents(file);
  EXPECT_EQ(Count(text, "\r\033[K"), 4u);  // three lines drawn, one erased
  EXPECT_EQ(Count(text, "\n"), 0u);
  EXPECT_NE(text.find("Searching for hints..."), std::string::npos);
  EXPECT_NE(text.find("Final scaling..."), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 4), "\r\033[K");
  progress.Finish();  // a second Finish writes nothing more
  EXPECT_EQ(Contents(file), text);
  std::fclose(file);
}

TEST(TerminalProgress, StartClearsACancelRequest) {
  TerminalProgress progress(nullptr, false);
  EXPECT_FALSE(progress.CancelRequested());
  progress.RequestCancel();
  EXPECT_TRUE(progress.CancelRequested());
  progress.Start("Initializing...", true);
  EXPECT_FALSE(progress.CancelRequested());
}

}  // namespace
