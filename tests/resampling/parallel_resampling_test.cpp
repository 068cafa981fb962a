// The edge-directed resampler gives the same bits for any thread count.
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "resampling/edge_dir_resampler.h"
#include "resampling/rgb_planes.h"

using namespace kestrune;

namespace {

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

}  // namespace
