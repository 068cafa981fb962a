// Premultiplication, its undoing, and the alpha half of a resize.
#include "resampling/alpha_planes.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "base/sample_buffer.h"
#include "base/threading.h"
#include "resampling/linear_resampler.h"

namespace kestrune {

namespace {

using Index = std::ptrdiff_t;
constexpr Index kGrain = 65536;

float ClampAlpha(float a) { return std::clamp(a, 0.0f, 255.0f); }

}  // namespace

bool IsOpaque(const float* alpha, std::size_t count) {
  std::atomic<bool> opaque{true};
  ParallelFor(0, Index(count), kGrain, [&](Index i0, Index i1) {
    for (Index i = i0; i < i1 && opaque.load(std::memory_order_relaxed); ++i)
      if (!(alpha[i] >= 255.0f)) opaque.store(false, std::memory_order_relaxed);
  });
  return opaque.load();
}

void Premultiply(float* const colour[3], const float* alpha, std::size_t count) {
  ParallelFor(0, Index(count), kGrain, [&](Index i0, Index i1) {
    for (Index i = i0; i < i1; ++i) {
      const float f = ClampAlpha(alpha[i]) / 255.0f;
      for (int c = 0; c < 3; ++c) colour[c][i] *= f;
    }
  });
}

FloatImage Premultiplied(const FloatImage& image) {
  FloatImage out(image.width, image.height);
  const std::size_t count = image.PixelCount();
  float* const planes[3] = {out.samples(0), out.samples(1), out.samples(2)};
  for (int c = 0; c < 3; ++c) CopyParallel(image.samples(c), count, planes[c]);
  Premultiply(planes, image.samples(FloatImage::kAlpha), count);
  return out;
}

void Unpremultiply(float* const colour[3], const float* divisor, float* alpha, std::size_t count) {
  ParallelFor(0, Index(count), kGrain, [&](Index i0, Index i1) {
    for (Index i = i0; i < i1; ++i) {
      const float a = ClampAlpha(alpha[i]);
      const float d = divisor[i] != 0.0f ? divisor[i] : a;  // read first: divisor may be alpha
      alpha[i] = a;
      if (a == 0.0f) {
        for (int c = 0; c < 3; ++c) colour[c][i] = 0.0f;
        continue;
      }
      for (int c = 0; c < 3; ++c) colour[c][i] = std::clamp(colour[c][i] * 255.0f / d, 0.0f, 255.0f);
    }
  });
}

int AlphaFilter(int filterType) {
  switch (filterType) {
    case FilterBox: return FilterBox;
    case FilterCubicBSpline: return FilterCubicBSpline;
    default: return FilterBilinear;
  }
}

void FinishAlphaResize(const float* alpha, uint32_t srcWidth, uint32_t srcHeight, FloatImage& out,
                       const ResizeSettings& o) {
  const int filter = o.filterType, alphaFilter = AlphaFilter(o.filterType);
  float* const outAlpha = out.samples(FloatImage::kAlpha);
  auto resize = [&](int type, float* dst) {
    ResizePlane(alpha, srcWidth, srcHeight, dst, o.width, o.height, type, o.offsetX, o.offsetY, o.deviationX,
                o.deviationY, o.smoothness);
  };
  resize(alphaFilter, outAlpha);
  float* const colour[3] = {out.samples(0), out.samples(1), out.samples(2)};
  if (alphaFilter == filter) {
    Unpremultiply(colour, outAlpha, outAlpha, out.PixelCount());
    return;
  }
  SampleBuffer divisor(out.PixelCount());  // written whole by the resize
  resize(filter, divisor.data());
  Unpremultiply(colour, divisor.data(), outAlpha, out.PixelCount());
}

void FillOpaque(FloatImage& image) {
  float* const alpha = image.samples(FloatImage::kAlpha);
  ParallelFor(0, Index(image.PixelCount()), kGrain,
              [&](Index i0, Index i1) { std::fill(alpha + i0, alpha + i1, 255.0f); });
}

void FillHiddenColour(float* const colour[3], const float* alpha, uint32_t width, uint32_t height) {
  const Index w = width, h = height, count = w * h;
  // The weight of each known pixel; 0 while its colour is still unknown.
  std::vector<float> weight(static_cast<std::size_t>(count));
  for (Index i = 0; i < count; ++i) weight[i] = alpha[i] > 0.0f ? std::min(alpha[i], 255.0f) / 255.0f : 0.0f;
  std::vector<uint8_t> queued(static_cast<std::size_t>(count), 0);
  std::vector<Index> ring, next;
  auto neighbours = [&](Index i, auto&& visit) {
    const Index x = i % w, y = i / w;
    for (Index ny = std::max<Index>(y - 1, 0); ny <= std::min(y + 1, h - 1); ++ny)
      for (Index nx = std::max<Index>(x - 1, 0); nx <= std::min(x + 1, w - 1); ++nx)
        if (nx != x || ny != y) visit(ny * w + nx);
  };
  // Queues the hidden, not yet queued neighbours of pixel i.
  auto queueAround = [&](Index i) {
    neighbours(i, [&](Index j) {
      if (weight[j] == 0.0f && !queued[j]) queued[j] = 1, next.push_back(j);
    });
  };
  bool anyVisible = false;
  for (Index i = 0; i < count; ++i)
    if (weight[i] > 0.0f) anyVisible = true, queueAround(i);
  if (!anyVisible) {
    for (int c = 0; c < 3; ++c) std::fill(colour[c], colour[c] + count, 0.0f);
    return;
  }
  std::vector<float> values;
  while (!next.empty()) {
    ring.swap(next);
    next.clear();
    // The ring's colours from the pixels known before it, then all at once.
    values.resize(3 * ring.size());
    for (std::size_t k = 0; k < ring.size(); ++k) {
      double sum[3] = {}, total = 0.0;
      neighbours(ring[k], [&](Index j) {
        if (weight[j] == 0.0f) return;
        for (int c = 0; c < 3; ++c) sum[c] += double(weight[j]) * colour[c][j];
        total += weight[j];
      });
      for (int c = 0; c < 3; ++c) values[3 * k + c] = static_cast<float>(sum[c] / total);
    }
    for (std::size_t k = 0; k < ring.size(); ++k) {
      for (int c = 0; c < 3; ++c) colour[c][ring[k]] = values[3 * k + c];
      weight[ring[k]] = 1.0f;
    }
    for (const Index i : ring) queueAround(i);
  }
}

void ClearHiddenColour(float* const colour[3], const float* alpha, std::size_t count) {
  ParallelFor(0, Index(count), kGrain, [&](Index i0, Index i1) {
    for (Index i = i0; i < i1; ++i)
      if (alpha[i] == 0.0f)
        for (int c = 0; c < 3; ++c) colour[c][i] = 0.0f;
  });
}

}  // namespace kestrune
