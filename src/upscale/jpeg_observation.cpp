// JpegObservation: the simulated picture sampled on the file's block grid,
// each block projected onto its coefficients' quantisation intervals, and
// the part outside them brought back to RGB pixels.
#include "upscale/jpeg_observation.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "base/threading.h"

namespace kestrune {

namespace {

// The orthonormal 8-point DCT-II: kBasis[k][n] = c(k) cos((2n + 1) k pi / 16),
// c(0) = sqrt(1/8), else 1/2. Its 2-D form is the JPEG DCT with libjpeg's
// scaling folded in: coefficient = this transform / Q.
struct Basis {
  float m[8][8];
  Basis() {
    const double pi = 3.14159265358979323846;
    for (int k = 0; k < 8; ++k)
      for (int n = 0; n < 8; ++n)
        m[k][n] = float((k == 0 ? std::sqrt(0.125) : 0.5) * std::cos((2 * n + 1) * k * pi / 16.0));
  }
};
const Basis kBasis;

// The JFIF colour transform, level-shifted: Y - 128, Cb - 128, Cr - 128.
constexpr float kToYcc[3][3] = {
    {0.299f, 0.587f, 0.114f}, {-0.168736f, -0.331264f, 0.5f}, {0.5f, -0.418688f, -0.081312f}};
constexpr float kShift[3] = {128.0f, 0.0f, 0.0f};

int FloorDiv(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

}  // namespace

bool JpegObservation::ProjectBlock(float* block, int stride, const int16_t* coefficients, const uint16_t* quant,
                                   float share) {
  const auto& c = kBasis.m;
  float t[8][8], f[8][8];
  for (int y = 0; y < 8; ++y)
    for (int u = 0; u < 8; ++u) {
      float s = 0.0f;
      for (int x = 0; x < 8; ++x) s += block[y * stride + x] * c[u][x];
      t[y][u] = s;
    }
  bool outside = false;
  for (int v = 0; v < 8; ++v)
    for (int u = 0; u < 8; ++u) {
      float s = 0.0f;
      for (int y = 0; y < 8; ++y) s += c[v][y] * t[y][u];
      const float q = float(quant[v * 8 + u]), k = float(coefficients[v * 8 + u]);
      const float lo = (k - share) * q, hi = (k + share) * q;
      const float d = s < lo ? s - lo : s > hi ? s - hi : 0.0f;
      f[v][u] = d;
      outside |= d != 0.0f;
    }
  if (!outside) {
    for (int y = 0; y < 8; ++y) std::fill(block + y * stride, block + y * stride + 8, 0.0f);
    return false;
  }
  for (int v = 0; v < 8; ++v)
    for (int x = 0; x < 8; ++x) {
      float s = 0.0f;
      for (int u = 0; u < 8; ++u) s += f[v][u] * c[u][x];
      t[v][x] = s;
    }
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      float s = 0.0f;
      for (int v = 0; v < 8; ++v) s += c[v][y] * t[v][x];
      block[y * stride + x] = s;
    }
  return true;
}

std::size_t JpegObservation::Bytes() const {
  std::size_t floats = 0;
  for (std::size_t c = 0; c < planes_.size(); ++c) floats += planes_[c].samples.size() + full_[c].size();
  return floats * sizeof(float);
}

int JpegObservation::BlockSide(const JpegCoefficients& jpeg) {
  int side = 8;
  for (const JpegComponent& c : jpeg.components) side = std::max({side, 8 * c.sx, 8 * c.sy});
  return side;
}

JpegObservation::JpegObservation(const JpegCoefficients& jpeg, int w, int h, int x0, int y0, float share)
    : w_(w), h_(h), share_(share) {
  for (const JpegComponent& c : jpeg.components) {
    Plane p;
    p.component = &c;
    p.ox = c.originX - x0;
    p.oy = c.originY - y0;
    p.gxLo = std::max(0, FloorDiv(-p.ox, c.sx));
    p.gxHi = std::min(8 * c.blocksX - 1, FloorDiv(w - 1 - p.ox, c.sx));
    p.gyLo = std::max(0, FloorDiv(-p.oy, c.sy));
    p.gyHi = std::min(8 * c.blocksY - 1, FloorDiv(h - 1 - p.oy, c.sy));
    p.gx0 = p.gxLo / 8 * 8;
    p.gy0 = p.gyLo / 8 * 8;
    p.columns = (p.gxHi / 8 + 1) * 8 - p.gx0;
    p.rows = (p.gyHi / 8 + 1) * 8 - p.gy0;
    p.samples.resize(std::size_t(p.columns) * std::size_t(p.rows));
    planes_.push_back(std::move(p));
  }
  for (std::size_t c = 0; c < planes_.size(); ++c) full_[c].resize(std::size_t(w) * std::size_t(h));
}

void JpegObservation::Sample(Plane& p, const float* const rgb[3], int component) {
  const JpegComponent& c = *p.component;
  const float* k = kToYcc[component];
  const float shift = kShift[component], area = float(c.sx * c.sy);
  ParallelFor(0, p.rows, RowGrain(std::ptrdiff_t(p.columns) * c.sx * c.sy), [&](std::ptrdiff_t j0, std::ptrdiff_t j1) {
    for (std::ptrdiff_t j = j0; j < j1; ++j) {
      float* row = p.samples.data() + std::size_t(j) * std::size_t(p.columns);
      const int top = p.oy + (p.gy0 + int(j)) * c.sy;
      for (int i = 0; i < p.columns; ++i) {
        const int left = p.ox + (p.gx0 + i) * c.sx;
        float sum = 0.0f;
        for (int dy = 0; dy < c.sy; ++dy) {
          const std::size_t y = std::size_t(std::clamp(top + dy, 0, h_ - 1)) * std::size_t(w_);
          for (int dx = 0; dx < c.sx; ++dx) {
            const std::size_t at = y + std::size_t(std::clamp(left + dx, 0, w_ - 1));
            sum += k[0] * rgb[0][at] + k[1] * rgb[1][at] + k[2] * rgb[2][at];
          }
        }
        row[i] = (area == 1.0f ? sum : sum / area) - shift;
      }
    }
  });
}

void JpegObservation::Project(Plane& p) {
  const JpegComponent& c = *p.component;
  const int bx0 = p.gx0 / 8, by0 = p.gy0 / 8, across = p.columns / 8;
  ParallelFor(0, p.rows / 8, 1, [&](std::ptrdiff_t b0, std::ptrdiff_t b1) {
    for (std::ptrdiff_t by = b0; by < b1; ++by)
      for (int bx = 0; bx < across; ++bx)
        ProjectBlock(p.samples.data() + std::size_t(by) * 8 * std::size_t(p.columns) + std::size_t(bx) * 8, p.columns,
                     c.Block(bx0 + bx, by0 + int(by)), c.quant, share_);
  });
}

void JpegObservation::Upsample(const Plane& p, float* out) {
  const JpegComponent& c = *p.component;
  // Each pixel's sample, and with chroma at half resolution the decoder's
  // triangle filter: 3/4 of it and 1/4 of its neighbour on the pixel's side,
  // repeated at the edge.
  struct Tap {
    int at, next;
  };
  auto taps = [](int n, int o, int s, int lo, int hi, int g0) {
    std::vector<Tap> t(std::size_t(n) > 0 ? std::size_t(n) : 0);
    for (int x = 0; x < n; ++x) {
      const int g = (x - o) / s;
      const int next = s == 1 ? g : std::clamp(((x - o) & 1) ? g + 1 : g - 1, lo, hi);
      t[std::size_t(x)] = {g - g0, next - g0};
    }
    return t;
  };
  const std::vector<Tap> across = taps(w_, p.ox, c.sx, p.gxLo, p.gxHi, p.gx0);
  const std::vector<Tap> down = taps(h_, p.oy, c.sy, p.gyLo, p.gyHi, p.gy0);
  ParallelFor(0, h_, RowGrain(w_), [&](std::ptrdiff_t y0, std::ptrdiff_t y1) {
    for (std::ptrdiff_t y = y0; y < y1; ++y) {
      const float* a = p.samples.data() + std::size_t(down[std::size_t(y)].at) * std::size_t(p.columns);
      const float* b = p.samples.data() + std::size_t(down[std::size_t(y)].next) * std::size_t(p.columns);
      float* row = out + std::size_t(y) * std::size_t(w_);
      for (int x = 0; x < w_; ++x) {
        const Tap& t = across[std::size_t(x)];
        const float near = c.sx == 1 ? a[t.at] : 0.75f * a[t.at] + 0.25f * a[t.next];
        if (c.sy == 1) {
          row[x] = near;
          continue;
        }
        const float far = c.sx == 1 ? b[t.at] : 0.75f * b[t.at] + 0.25f * b[t.next];
        row[x] = 0.75f * near + 0.25f * far;
      }
    }
  });
}

void JpegObservation::ComponentErrors(const float* const simulated[3]) {
  for (std::size_t c = 0; c < planes_.size(); ++c) {
    Sample(planes_[c], simulated, int(c));
    Project(planes_[c]);
    Upsample(planes_[c], full_[c].data());
  }
}

void JpegObservation::Start(const float* const rgb[3], float* const out[3]) {
  const std::size_t W = std::size_t(w_);
  for (int c = 0; c < 3; ++c)
    ParallelFor(0, h_, RowGrain(3 * w_), [&](std::ptrdiff_t y0, std::ptrdiff_t y1) {
      for (std::ptrdiff_t y = y0; y < y1; ++y) {
        const float* a = rgb[c] + std::size_t(std::max<std::ptrdiff_t>(y - 1, 0)) * W;
        const float* b = rgb[c] + std::size_t(y) * W;
        const float* d = rgb[c] + std::size_t(std::min<std::ptrdiff_t>(y + 1, h_ - 1)) * W;
        float* row = out[c] + std::size_t(y) * W;
        auto v = [&](int x) { return a[x] + 2.0f * b[x] + d[x]; };
        for (int x = 0; x < w_; ++x)
          row[x] = (v(std::max(x - 1, 0)) + 2.0f * v(x) + v(std::min(x + 1, w_ - 1))) * 0.0625f;
      }
    });
  const float share = share_;
  share_ = kStartShare;
  ComponentErrors(out);
  share_ = share;
  const bool grey = planes_.size() == 1;
  ParallelFor(0, std::ptrdiff_t(W) * h_, 16384, [&](std::ptrdiff_t i0, std::ptrdiff_t i1) {
    for (std::ptrdiff_t i = i0; i < i1; ++i) {
      const float y = full_[0][std::size_t(i)];
      const float cb = grey ? 0.0f : full_[1][std::size_t(i)], cr = grey ? 0.0f : full_[2][std::size_t(i)];
      out[0][i] -= y + 1.402f * cr;
      out[1][i] -= y - 0.344136f * cb - 0.714136f * cr;
      out[2][i] -= y + 1.772f * cb;
    }
  });
}

void JpegObservation::Error(const float* const simulated[3], float* const error[3], float gain) {
  ComponentErrors(simulated);
  const std::size_t n = std::size_t(w_) * std::size_t(h_);
  const bool grey = planes_.size() == 1;
  ParallelFor(0, std::ptrdiff_t(n), 16384, [&](std::ptrdiff_t i0, std::ptrdiff_t i1) {
    for (std::ptrdiff_t i = i0; i < i1; ++i) {
      const float y = full_[0][std::size_t(i)];
      if (grey) {
        error[0][i] = error[1][i] = error[2][i] = gain * y;
        continue;
      }
      const float cb = full_[1][std::size_t(i)], cr = full_[2][std::size_t(i)];
      error[0][i] = gain * (y + 1.402f * cr);
      error[1][i] = gain * (y - 0.344136f * cb - 0.714136f * cr);
      error[2][i] = gain * (y + 1.772f * cb);
    }
  });
}

}  // namespace kestrune
