// ResizePlane, the edge-directed resampler and NEDI give the same bits for
// any thread count.
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "resampling/edge_dir_resampler.h"
#include "resampling/linear_resampler.h"
#include "resampling/nedi.h"
#include "resampling/rgb_planes.h"

using namespace kestrune;

namespace {

TEST(ParallelResampling, ResizePlaneBothWays) {
  const Planes src = ChartPlanes(331, 250, 1);
  // Reduction with a wide kernel, enlargement, and a partial last row block.
  struct Case {
    uint32_t w, h;
    int filter;
  } cases[] = {{160, 117, FilterLanczos3}, {700, 523, FilterCatmullRom}, {97, 251, FilterSinc}};
  for (const Case& c : cases) {
    ExpectSameForAnyThreadCount([&] {
      std::vector<float> dst(std::size_t(c.w) * c.h, -1.0f);
      ResizePlane(src.p[0].data(), uint32_t(src.w), uint32_t(src.h), dst.data(), c.w, c.h, c.filter, 0.25f, -0.4f,
                  1.5f, -0.75f, 1.1f);
      return dst;
    });
  }
  // The row blocks together still give the plain per-column, per-row reading:
  // a constant plane stays constant.
  std::vector<float> flat(std::size_t(331) * 250, 42.0f), out(std::size_t(160) * 117);
  ScopedThreadCount scope(5);
  ResizePlane(flat.data(), 331, 250, out.data(), 160, 117, FilterCatmullRom, 0, 0, 0, 0, 1.0f);
  for (float v : out) ASSERT_NEAR(v, 42.0f, 1e-3f);
}

TEST(ParallelResampling, EdgeDirAnalyzeAndApply) {
  const Planes in = ChartPlanes(150, 110, 1);
  ExpectSameForAnyThreadCount([&] {
    Resampling::EdgeDirResampler r;
    r.SetSize(in.w, in.h);
    r.Analyze(in.p[0].data(), in.p[1].data(), in.p[2].data(), nullptr, nullptr, nullptr, 2);
    Planes out(2 * in.w, 2 * in.h);
    r.Apply(in.p[0].data(), in.p[1].data(), in.p[2].data(), out.p[0].data(), out.p[1].data(), out.p[2].data());
    // The stored weights as well: Analyze shares its rows out too.
    Planes weights(14, 4 * in.w * in.h);
    for (int row = 0; row < 2 * in.h; ++row)
      for (int col = 0; col < 2 * in.w; ++col) {
        float* u = weights.p[0].data() + (std::size_t(row) * 2 * in.w + col) * 14;
        r.StoredWeights(row, col, u, &weights.p[1][std::size_t(row) * 2 * in.w + col]);
      }
    return std::make_pair(out, weights);
  });
}

TEST(ParallelResampling, NediStripsAndSites) {
  // Big enough for interior sites with the training band, small enough for
  // the sanitizer build; strips of 8 rows as the pipeline runs them, and one
  // call for everything.
  const Planes in = ChartPlanes(72, 56, 1);
  for (int strip : {8, 1000}) {
    ExpectSameForAnyThreadCount([&] {
      Nedi nedi;
      nedi.referenceLoading = false;
      Planes out(2 * in.w, 2 * in.h);
      nedi.Init(in.p[0].data(), in.p[1].data(), in.p[2].data(), out.p[0].data(), out.p[1].data(), out.p[2].data(),
                in.w, in.h);
      for (int y = 0; y < in.h; y += strip) nedi.ProcessStrip(strip);
      return out;
    });
  }
}

}  // namespace
