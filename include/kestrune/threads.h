/// @file
/// The threads of the heavy loops. Every result is the same for any number of
/// threads.
#pragma once

#include "kestrune/export.h"

namespace kestrune {

/// The number of threads the heavy loops run on: the value given to
/// SetThreadCount, else the environment variable KESTRUNE_THREADS (a positive
/// decimal integer), else the number of cores available to the process.
KESTRUNE_API int ThreadCount();
/// Sets the thread count for the whole process (clamped to 1 .. kMaxThreads);
/// 0 or less returns to the default above. Not to be called while an
/// operation runs.
KESTRUNE_API void SetThreadCount(int threads);
/// The most threads SetThreadCount takes.
inline constexpr int kMaxThreads = 1024;

}  // namespace kestrune
