// Three-plane pictures for the edge-directed resampler and NEDI tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/test_chart.h"
#include "support/thread_count.h"

namespace kestrune {

struct Planes {
  Planes(int w, int h) : w(w), h(h) {
    for (auto& p : p) p.assign(std::size_t(w) * h, 0.0f);
  }
  int w, h;
  std::vector<float> p[3];
  float& at(int c, int y, int x) { return p[c][std::size_t(y) * w + x]; }
  float at(int c, int y, int x) const { return p[c][std::size_t(y) * w + x]; }
  // The same size and bits.
  bool operator==(const Planes& o) const {
    return w == o.w && h == o.h && SameBits(p[0], o.p[0]) && SameBits(p[1], o.p[1]) && SameBits(p[2], o.p[2]);
  }
};

// The test chart of w x h as three planes.
inline Planes ChartPlanes(int w, int h, uint32_t seed) {
  const FloatImage img = RenderTestChart(w, h, seed);
  Planes out(w, h);
  for (int c = 0; c < 3; ++c) out.p[c].assign(img.samples(c), img.samples(c) + img.PixelCount());
  return out;
}

}  // namespace kestrune
