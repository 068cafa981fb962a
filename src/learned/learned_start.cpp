// The learned start through OpenCV's dnn module. OpenCV's own threads are
// turned off: it would cut each convolution into pieces by its thread count.
// Instead the picture is cut into blocks of kBlock x kBlock source samples on
// the whole picture's grid, and each block runs whole, on one thread, through
// a network of its own (a dnn::Net may not be used by two threads at once).
// Each block's input is the same for any thread count and any tile, and
// OpenCV 4.6 computes each output of a convolution from its own inputs alone
// (no Winograd or FFT forms, which mix neighbouring outputs), so the bits do
// not depend on threads or tiles. Nor on the CPU: OpenCV would pick its
// convolution kernels by what the CPU has (AVX2 and AVX-512 ones, with fused
// multiply-adds, change some 80 % of the corrections by up to a few units in
// the sixth digit), so its optimised code is turned off and every x86-64 CPU
// runs the same baseline (SSE2) kernels, at about twice the time. (An arm64
// build would run NEON ones, whose bits may differ from x86-64's.)
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/dnn.hpp>

#include "base/threading.h"
#include "learned/learned_start.h"
#include "learned/opencv_setup.h"
#include "resampling/fixed_upscalers.h"

namespace kestrune {

extern const unsigned char kLearnedStartOnnx[];
extern const std::size_t kLearnedStartOnnxSize;
extern const unsigned char kLearnedStartReducedOnnx[];
extern const std::size_t kLearnedStartReducedOnnxSize;
extern const unsigned char kLearnedStartJpegOnnx[];
extern const std::size_t kLearnedStartJpegOnnxSize;
extern const unsigned char kLearnedStartReducedJpegOnnx[];
extern const std::size_t kLearnedStartReducedJpegOnnxSize;

void SameOpenCVEverywhere() {
  static std::once_flag once;
  std::call_once(once, [] {
    cv::setNumThreads(1);
    cv::setUseOptimized(false);
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  });
}

std::unique_ptr<cv::dnn::Net> NetFromOnnx(const char* onnx, std::size_t size) {
  auto net = std::make_unique<cv::dnn::Net>(cv::dnn::readNetFromONNX(onnx, size));
  net->setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
  net->setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
  return net;
}

namespace {

constexpr int kBlock = 128;
constexpr int kBlockIn = kBlock + 2 * kLearnedRadius;

// Sample i of a plane of n samples, mirrored about its first and last
// samples as often as needed.
inline int Mirror(int i, int n) {
  if (n == 1) return 0;
  const int period = 2 * (n - 1);
  i %= period;
  if (i < 0) i += period;
  return i < n ? i : period - i;
}

}  // namespace

class LearnedNetwork {
 public:
  explicit LearnedNetwork(std::vector<char> onnx) : onnx_(std::move(onnx)) {}

  std::unique_ptr<cv::dnn::Net> Make() const { return NetFromOnnx(onnx_.data(), onnx_.size()); }
  std::unique_ptr<cv::dnn::Net> Take() const {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!pool_.empty()) {
        auto net = std::move(pool_.back());
        pool_.pop_back();
        return net;
      }
    }
    return Make();
  }
  void Give(std::unique_ptr<cv::dnn::Net> net) const {
    std::lock_guard<std::mutex> lock(mutex_);
    pool_.push_back(std::move(net));
  }

 private:
  std::vector<char> onnx_;
  mutable std::mutex mutex_;
  mutable std::vector<std::unique_ptr<cv::dnn::Net>> pool_;
};

namespace {

// The network of `onnx` when it loads and maps 2 x n x n differences to
// 4 x (n - 2 kLearnedRadius)^2 finite corrections; else null and the reason.
std::shared_ptr<const LearnedNetwork> Check(std::vector<char> onnx, const std::string& name, std::string* error) {
  SameOpenCVEverywhere();
  auto network = std::make_shared<LearnedNetwork>(std::move(onnx));
  try {
    auto net = network->Make();
    const int n = 2 * kLearnedRadius + 3;
    const int sizes[] = {1, 2, n, n};
    cv::Mat in(4, sizes, CV_32F);
    for (std::size_t i = 0; i < in.total(); ++i) in.ptr<float>()[i] = float(i % 7) - 3.0f;
    net->setInput(in);
    const cv::Mat outp = net->forward();
    const bool shape = outp.dims == 4 && outp.size[0] == 1 && outp.size[1] == 4 && outp.size[2] == 3 &&
                       outp.size[3] == 3 && outp.type() == CV_32F;
    if (!shape ||
        !std::all_of(outp.ptr<float>(), outp.ptr<float>() + outp.total(), [](float v) { return std::isfinite(v); })) {
      *error = "The learned start's weights in " + name +
               " are not its network: it must map two difference planes to four corrections, reading " +
               std::to_string(kLearnedRadius) + " samples around each.";
      return nullptr;
    }
    network->Give(std::move(net));
  } catch (const cv::Exception& e) {
    *error = "The learned start's weights in " + name + " are damaged: " + e.err;
    return nullptr;
  }
  return network;
}

}  // namespace

bool LearnedStartBuilt() { return true; }

std::string_view BuiltInLearnedWeights() {
  return {reinterpret_cast<const char*>(kLearnedStartOnnx), kLearnedStartOnnxSize};
}

namespace {

struct BuiltIn {
  BuiltIn(const unsigned char* onnx, std::size_t size) {
    const char* bytes = reinterpret_cast<const char*>(onnx);
    network = Check(std::vector<char>(bytes, bytes + size), "the library", &error);
  }
  std::string error;
  std::shared_ptr<const LearnedNetwork> network;
};

}  // namespace

std::shared_ptr<const LearnedNetwork> BuiltInLearnedNetwork(std::string* error, LearnedFor kind) {
  static const BuiltIn camera(kLearnedStartOnnx, kLearnedStartOnnxSize);
  static const BuiltIn software(kLearnedStartReducedOnnx, kLearnedStartReducedOnnxSize);
  static const BuiltIn cameraJpeg(kLearnedStartJpegOnnx, kLearnedStartJpegOnnxSize);
  static const BuiltIn softwareJpeg(kLearnedStartReducedJpegOnnx, kLearnedStartReducedJpegOnnxSize);
  const BuiltIn* const builtIns[] = {&camera, &software, &cameraJpeg, &softwareJpeg};
  const BuiltIn& builtIn = *builtIns[static_cast<int>(kind)];
  if (builtIn.network == nullptr && error != nullptr) *error = builtIn.error;
  return builtIn.network;
}

std::shared_ptr<const LearnedNetwork> LoadLearnedNetwork(const std::string& path, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  std::vector<char> bytes;
  if (file) bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (!file && !file.eof()) {
    *error = "The learned start's weights cannot be read from " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  return Check(std::move(bytes), path, error);
}

void LearnedUpscale2(const LearnedNetwork& network, const float* const src[3], int w, int h, float* const out[3],
                     int originX, int originY) {
  for (int c = 0; c < 3; ++c) UpscaleBicubic2(src[c], w, h, out[c]);

  std::vector<float> luma(std::size_t(w) * std::size_t(h));
  ParallelFor(0, h, RowGrain(w), [&](std::ptrdiff_t y0, std::ptrdiff_t y1) {
    for (std::size_t i = std::size_t(y0) * w; i < std::size_t(y1) * w; ++i)
      luma[i] = 0.299f * src[0][i] + 0.587f * src[1][i] + 0.114f * src[2][i];
  });

  // The blocks of the picture's grid that hold the planes' samples.
  const int bx0 = originX / kBlock, by0 = originY / kBlock;
  const int across = (originX + w - 1) / kBlock - bx0 + 1, down = (originY + h - 1) / kBlock - by0 + 1;
  const std::size_t W = 2 * std::size_t(w);
  SameOpenCVEverywhere();
  ParallelFor(0, std::ptrdiff_t(across) * down, 1, [&](std::ptrdiff_t b0, std::ptrdiff_t b1) {
    auto net = network.Take();
    const int sizes[] = {1, 2, kBlockIn, kBlockIn};
    cv::Mat in(4, sizes, CV_32F);
    for (std::ptrdiff_t b = b0; b < b1; ++b) {
      // The block's first site, in the planes' coordinates.
      const int x0 = (bx0 + int(b % across)) * kBlock - originX, y0 = (by0 + int(b / across)) * kBlock - originY;
      float* dx = in.ptr<float>(0, 0);
      float* dy = in.ptr<float>(0, 1);
      for (int i = 0; i < kBlockIn; ++i) {
        const int y = y0 - kLearnedRadius + i;
        const float* row = luma.data() + std::size_t(Mirror(y, h)) * w;
        const float* below = luma.data() + std::size_t(Mirror(y + 1, h)) * w;
        for (int j = 0; j < kBlockIn; ++j) {
          const int x = Mirror(x0 - kLearnedRadius + j, w), right = Mirror(x0 - kLearnedRadius + j + 1, w);
          dx[i * kBlockIn + j] = row[right] - row[x];
          dy[i * kBlockIn + j] = below[x] - row[x];
        }
      }
      net->setInput(in);
      const cv::Mat corrections = net->forward();
      for (int phase = 0; phase < 4; ++phase) {
        const float* r = corrections.ptr<float>(0, phase);
        for (int i = std::max(0, -y0); i < kBlock && y0 + i < h; ++i)
          for (int j = std::max(0, -x0); j < kBlock && x0 + j < w; ++j) {
            const std::size_t at = (2 * std::size_t(y0 + i) + phase / 2) * W + 2 * std::size_t(x0 + j) + phase % 2;
            const float v = r[i * kBlock + j];
            for (int c = 0; c < 3; ++c) out[c][at] += v;
          }
      }
    }
    network.Give(std::move(net));
  });
}

}  // namespace kestrune
