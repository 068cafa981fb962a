// Thread count settings; the parallel loop visits every index once in pieces
// of at least the grain, fills and copies buffers whole, nests, and passes
// exceptions on.
#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/sample_buffer.h"
#include "base/threading.h"
#include "support/thread_count.h"

using namespace kestrune;

namespace {

TEST(Threading, CountSettings) {
  const int defaultCount = ThreadCount();
  EXPECT_GE(defaultCount, 1);
  {
    ScopedThreadCount tooMany(kMaxThreads + 5);
    EXPECT_EQ(ThreadCount(), kMaxThreads);
  }
  EXPECT_EQ(ThreadCount(), defaultCount);  // 0 is the default
  SetThreadCount(-4);
  EXPECT_EQ(ThreadCount(), defaultCount);

  const std::pair<const char*, int> parsed[] = {{"1", 1},     {"16", 16}, {"99999999999999999999", kMaxThreads},
                                                {nullptr, 0}, {"", 0},    {"0", 0},
                                                {"-2", 0},    {"+3", 0},  {" 4", 0},
                                                {"4 ", 0},    {"4x", 0},  {"two", 0},
                                                {"1.5", 0}};
  for (const auto& [text, count] : parsed) EXPECT_EQ(ParseThreadCount(text), count) << (text ? text : "null");
}

TEST(Threading, ParallelForCoversEveryIndexOnceInGrainSizedPiecesNestsAndThrows) {
  for (int threads : kThreadCountsToCompare) {
    ScopedThreadCount scope(threads);
    for (std::ptrdiff_t grain : {1, 7, 1000}) {
      std::vector<std::atomic<int>> hits(1003);
      std::atomic<int> shortPieces{0};
      ParallelFor(-3, 1000, grain, [&](std::ptrdiff_t a, std::ptrdiff_t b) {
        EXPECT_LT(a, b);
        // Only a range of at most one grain may be shorter than the grain.
        if (b - a < grain) ++shortPieces;
        for (std::ptrdiff_t i = a; i < b; ++i) ++hits[std::size_t(i + 3)];
      });
      for (const auto& h : hits) ASSERT_EQ(h.load(), 1) << threads << " threads, grain " << grain;
      EXPECT_EQ(shortPieces.load(), 0);
    }
    for (std::ptrdiff_t end : {5, 2}) ParallelFor(5, end, 1, [&](std::ptrdiff_t, std::ptrdiff_t) { FAIL(); });
    // A piece's exception reaches the caller; the loop works on, also nested.
    EXPECT_THROW(ParallelFor(0, 100, 1,
                             [](std::ptrdiff_t a, std::ptrdiff_t b) {
                               if (a <= 50 && 50 < b) throw std::runtime_error("piece failed");
                             }),
                 std::runtime_error);
    std::vector<std::atomic<int>> hits(64 * 64);
    ParallelFor(0, 64, 1, [&](std::ptrdiff_t a, std::ptrdiff_t b) {
      for (std::ptrdiff_t y = a; y < b; ++y)
        ParallelFor(0, 64, 1, [&](std::ptrdiff_t c, std::ptrdiff_t d) {
          for (std::ptrdiff_t x = c; x < d; ++x) ++hits[std::size_t(y * 64 + x)];
        });
    });
    for (const auto& h : hits) ASSERT_EQ(h.load(), 1);
  }
}

TEST(Threading, PlaneBuffersAreFilledAndCopiedWhole) {
  // A piece of the fill, several with a remainder, one sample, a block large
  // enough for huge pages; then shrinking a buffer that holds data.
  for (int threads : kThreadCountsToCompare) {
    ScopedThreadCount scope(threads);
    for (std::size_t n : {std::size_t(65536), std::size_t(200003), std::size_t(1), kLargeBlockBytes / 4 + 3}) {
      SampleBuffer a;
      AssignParallel(a, n, 7.5f);
      EXPECT_EQ(std::count(a.begin(), a.end(), 7.5f), std::ptrdiff_t(n)) << n;
      SampleBuffer b;
      AssignParallel(b, n + 5, -1.0f);
      CopyParallel(a.data(), n, b.data());
      EXPECT_EQ(std::count(b.begin(), b.begin() + std::ptrdiff_t(n), 7.5f), std::ptrdiff_t(n)) << n;
      EXPECT_EQ(std::count(b.begin() + std::ptrdiff_t(n), b.end(), -1.0f), 5) << n;
      AssignParallel(b, 3);
      EXPECT_EQ(std::vector<float>(b.begin(), b.end()), std::vector<float>(3, 0.0f));
    }
  }
}

}  // namespace
