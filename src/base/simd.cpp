// Target selection for the Highway kernels: the override from KESTRUNE_SIMD
// and the forced targets of the tests, through Highway's mask of supported
// targets, which its dynamic dispatch consults at every call.
// The VNNI search of the block distances is compiled for AVX3_DL, which
// Highway only builds on request: the target must be known here too.
#ifndef HWY_WANT_AVX3_DL
#define HWY_WANT_AVX3_DL
#endif
#include "base/simd.h"

#include <hwy/targets.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace kestrune::simd {

namespace {

std::atomic<bool> scalarKernels{false};
std::mutex forceMutex;

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Highway's one-lane target is named apart from the plain scalar kernels.
std::string NameOf(int64_t target) { return target == HWY_SCALAR ? "hwy_scalar" : Lower(hwy::TargetName(target)); }

// Targets compiled into this build that the processor runs (read before any
// forcing, so unaffected by it).
int64_t Runnable() {
  static const int64_t targets = [] {
    hwy::SetSupportedTargetsForTest(0);
    return hwy::SupportedTargets() & HWY_TARGETS;
  }();
  return targets;
}

bool Force(std::string_view name) {
  const std::string want = Lower(name);
  std::lock_guard<std::mutex> lock(forceMutex);
  const int64_t runnable = Runnable();
  if (want.empty() || want == "auto") {
    scalarKernels = false;
    hwy::SetSupportedTargetsForTest(0);
    return true;
  }
  if (want == "scalar") {
    // Highway code without a scalar twin falls back to its emulated target.
    scalarKernels = true;
    hwy::SetSupportedTargetsForTest((runnable & HWY_BASELINE_SCALAR) ? HWY_BASELINE_SCALAR : 0);
    return true;
  }
  for (int64_t t = runnable; t != 0; t &= t - 1) {
    const int64_t target = t & -t;
    if (NameOf(target) != want) continue;
    // The worse targets stay allowed, for code not compiled for this one.
    scalarKernels = false;
    hwy::SetSupportedTargetsForTest(runnable & ~(target - 1));
    return true;
  }
  return false;
}

// A function-local static rather than std::call_once: every kernel call
// passes through here, and the static's guard is a single load once set,
// where call_once goes through thread-local storage and pthread_once.
void ApplyEnvironment() {
  static const bool applied = [] {
    const char* name = std::getenv("KESTRUNE_SIMD");
    if (name && *name && !Force(name))
      std::fprintf(stderr, "KESTRUNE_SIMD=%s is not available here; using the best instruction set\n", name);
    return true;
  }();
  (void)applied;
}

}  // namespace

bool ScalarKernels() {
  ApplyEnvironment();
  return scalarKernels.load(std::memory_order_relaxed);
}

bool ForceTarget(std::string_view name) {
  ApplyEnvironment();
  return Force(name);
}

std::vector<std::string> AvailableTargets() {
  std::vector<std::string> names{"scalar"};
  for (int64_t t = Runnable(); t != 0; t &= t - 1) names.push_back(NameOf(t & -t));
  return names;
}

}  // namespace kestrune::simd
