// The source choice's network through OpenCV's dnn module, loaded once from
// the weights built into the library and run by one thread at a time.
#include "learned/source_choice.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>

#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>

#include "learned/opencv_setup.h"

namespace kestrune {

extern const unsigned char kSourceChoiceOnnx[];
extern const std::size_t kSourceChoiceOnnxSize;

namespace {

std::mutex netMutex;

// The built-in network, or null when it does not load; under netMutex.
cv::dnn::Net* Network() {
  static std::unique_ptr<cv::dnn::Net> net = []() -> std::unique_ptr<cv::dnn::Net> {
    SameOpenCVEverywhere();
    try {
      return NetFromOnnx(reinterpret_cast<const char*>(kSourceChoiceOnnx), kSourceChoiceOnnxSize);
    } catch (const cv::Exception&) {
      return nullptr;
    }
  }();
  return net.get();
}

}  // namespace

bool SourceChoiceBuilt() {
  std::lock_guard<std::mutex> lock(netMutex);
  return Network() != nullptr;
}

double SourceChoiceScore(const float* crop) {
  std::lock_guard<std::mutex> lock(netMutex);
  cv::dnn::Net* net = Network();
  if (net == nullptr) return 0.0;
  const int n = kChoiceCrop - 1;
  const int sizes[] = {1, 2, n, n};
  cv::Mat in(4, sizes, CV_32F);
  float* dx = in.ptr<float>(0, 0);
  float* dy = in.ptr<float>(0, 1);
  double contrast = 0.0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const float* at = crop + i * kChoiceCrop + j;
      dx[i * n + j] = at[1] - at[0];
      dy[i * n + j] = at[kChoiceCrop] - at[0];
      contrast += std::fabs(dx[i * n + j]) + std::fabs(dy[i * n + j]);
    }
  net->setInput(in);
  const cv::Mat scores = net->forward();
  double sum = 0.0;
  for (std::size_t i = 0; i < scores.total(); ++i) sum += scores.ptr<float>()[i];
  return sum / double(scores.total()) / std::max(contrast / (2.0 * n * n), 0.5);
}

}  // namespace kestrune
