// Threads of the heavy loops: how many to use and a parallel loop over
// independent index ranges (rows, row bands, block rows). The loops split
// only work whose results do not depend on each other, so every output is the
// same for any thread count.
#pragma once

#include <cstddef>
#include <functional>

#include "kestrune/threads.h"

namespace kestrune {

// The thread count a KESTRUNE_THREADS value asks for: a positive decimal
// integer (clamped to kMaxThreads), else 0 (not a valid setting).
int ParseThreadCount(const char* text);

// Calls body(begin, end) on disjoint subranges that together cover
// [first, last), each at least `grain` long (except a shorter whole range),
// on up to ThreadCount() threads, and returns when all are done. With one
// thread, or a range of at most one grain, it is a plain call on the calling
// thread. The body must not depend on how the range is cut.
void ParallelFor(std::ptrdiff_t first, std::ptrdiff_t last, std::ptrdiff_t grain,
                 const std::function<void(std::ptrdiff_t, std::ptrdiff_t)>& body);

// A grain that gives each piece at least `minSamples` samples of rows that
// are `rowSamples` long (at least one row), so that small planes are not cut
// into pieces too small to pay for their scheduling.
std::ptrdiff_t RowGrain(std::ptrdiff_t rowSamples, std::ptrdiff_t minSamples = 16384);

}  // namespace kestrune
