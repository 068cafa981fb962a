// OpenCV set up the same way for every network the library runs: its own
// threads off (it would cut each convolution by its thread count), its
// optimised kernels off (they differ by what the CPU has), its log silent.
#pragma once

namespace kestrune {

void SameOpenCVEverywhere();

}  // namespace kestrune
