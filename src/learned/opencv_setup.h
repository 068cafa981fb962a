// OpenCV set up the same way for every network the library runs: its own
// threads off (it would cut each convolution by its thread count), its
// optimised kernels off (they differ by what the CPU has), its log silent.
#pragma once

#include <cstddef>
#include <memory>

#include <opencv2/dnn.hpp>

namespace kestrune {

void SameOpenCVEverywhere();

// A network read from `size` bytes of ONNX, run by OpenCV's own CPU code;
// throws cv::Exception when they do not parse.
std::unique_ptr<cv::dnn::Net> NetFromOnnx(const char* onnx, std::size_t size);

}  // namespace kestrune
