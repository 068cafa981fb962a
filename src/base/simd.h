// The instruction set of the vector kernels. Every kernel has a plain scalar
// form and a Highway form compiled for several targets and chosen at run
// time; all of them compute the same bits. KESTRUNE_SIMD, read at the first
// kernel call, forces one of them: "scalar" for the plain loops, or a
// Highway target ("emu128", "sse4", "avx2", "avx3", "neon", "sve", ...).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrune::simd {

// True when the plain scalar kernels are to run instead of the vector ones.
// Every kernel asks before it dispatches, so the first call also applies
// KESTRUNE_SIMD.
bool ScalarKernels();

// Restricts the kernels to one instruction set by name (case-insensitive):
// "scalar" or a name from AvailableTargets(); "" or "auto" restores the best
// one the processor runs. Returns false, changing nothing, for a name this
// build did not compile or this processor cannot run.
bool ForceTarget(std::string_view name);

// The instruction sets that can run here: "scalar", then the Highway targets
// this build compiled and the processor supports, best first, in lower case.
std::vector<std::string> AvailableTargets();

}  // namespace kestrune::simd
