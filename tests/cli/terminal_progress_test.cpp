// TerminalProgress: the drawn line, when it draws at all, and what it says
// for every stage (the dialog's own words).
#include "cli/terminal_progress.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(TerminalProgress, LineHoldsStatusBarAndRoundedPercentWithinTheWidth) {
  // The percentage as the dialog shows it: the integer part of percent + 0.5.
  const std::pair<float, const char*> percents[] = {
      {37.4f, "  37 %"}, {37.5f, "  38 %"}, {99.996f, " 100 %"}, {0.4f, "   0 %"}, {NAN, "   0 %"}};
  for (const auto& [percent, shown] : percents)
    EXPECT_NE(TerminalProgress::FormatLine("x", percent, 80).find(shown), std::string::npos) << percent;
  const std::string status = "Searching for hints...  (best hint so far: 3.142)";
  const std::string half = TerminalProgress::FormatLine(status, 50.0f, 100);
  EXPECT_EQ(half.rfind(status, 0), 0u);  // the status text comes first, whole
  EXPECT_EQ(half.size(), 99u);           // the last column stays free
  EXPECT_EQ(Count(half, "#"), Count(half, "-"));
  // A narrow terminal cuts the status text short, never the bar.
  const std::string narrow = TerminalProgress::FormatLine(status, 50.0f, 40);
  EXPECT_EQ(narrow.size(), 39u);
  EXPECT_EQ(narrow.rfind("Searching", 0), 0u);
  EXPECT_NE(narrow.find("]  50 %"), std::string::npos);
}

TEST(TerminalProgress, RedrawsInPlaceOnlyOnChangeAndClearsAtTheEnd) {
  // A hint search's first trial (twice), a later one with a score, the final scaling.
  kestrune::ProgressReport first, later, last;
  first.stage = later.stage = kestrune::Stage::kHintSearch;
  first.total = later.total = 64;
  later.step = 8, later.percent = 0.1f, later.bestScore = 3.14159f;
  last = later;
  last.stage = kestrune::Stage::kFinalScaling;
  for (bool enabled : {true, false}) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    TerminalProgress progress(file, enabled, 80);
    for (const auto* r : {&first, &first, &later, &last}) progress.Report(*r);
    progress.Finish();
    progress.Finish();  // a second Finish writes nothing more
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) text += char(c);
    std::fclose(file);
    EXPECT_EQ(text.empty(), !enabled);
    if (!enabled) continue;
    EXPECT_EQ(Count(text, "\r\033[K"), 4u);  // three lines drawn, one erased
    EXPECT_EQ(Count(text, "\n"), 0u);
    EXPECT_NE(text.find("Searching for hints (best so far: 3.142)"), std::string::npos);
    EXPECT_NE(text.find("Final scaling"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 4), "\r\033[K");
  }
}

TEST(TerminalProgress, DescribesEveryStage) {
  kestrune::ProgressReport r;
  r.estimate.height = 512;
  const std::pair<kestrune::Stage, const char*> plain[] = {{kestrune::Stage::kAllocating, "Allocating memory"},
                                                           {kestrune::Stage::kInitialEnlargement,
                                                            "Initial enlargement"},
                                                           {kestrune::Stage::kPreparing, "Analysing edge directions"},
                                                           {kestrune::Stage::kHintSearch, "Searching for hints"},
                                                           {kestrune::Stage::kFinalScaling, "Final scaling"}};
  for (const auto& [stage, text] : plain) {
    r.stage = stage;
    EXPECT_EQ(TerminalProgress::Describe(r), text);
  }
  r.stage = kestrune::Stage::kInitialEnlargement, r.rowsDone = 48;
  EXPECT_EQ(TerminalProgress::Describe(r), "Initial enlargement: 48 of 512 rows");
  r.stage = kestrune::Stage::kEnhancement, r.step = 11, r.total = 24, r.substitution = true;
  EXPECT_EQ(TerminalProgress::Describe(r), "Iteration 12 of 24 (fractal substitution)");
  // In tiles the tile leads, and the rows of the picture are not the tile's.
  r.tile = 4, r.tiles = 9;
  EXPECT_EQ(TerminalProgress::Describe(r), "Tile 5 of 9: Iteration 12 of 24 (fractal substitution)");
  r.stage = kestrune::Stage::kInitialEnlargement;
  EXPECT_EQ(TerminalProgress::Describe(r), "Tile 5 of 9: Initial enlargement");
}

}  // namespace
