// The parts of the enhancement iteration: the downsampling model, the robust
// residual, the regulariser, the step schedule and the residual's enlargement.
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "image/test_chart.h"
#include "resampling/edge_dir_resampler.h"
#include "resampling/fixed_upscalers.h"
#include "support/simd_targets.h"
#include "upscale/centred_grid.h"
#include "upscale/downsample2.h"
#include "upscale/enhancement.h"
#include "upscale/enhancement_schedule.h"
#include "upscale/estimate_update.h"
#include "upscale/regularization_gradient.h"
#include "upscale/robust_residual.h"
#include "upscale/working_planes.h"

using namespace kestrune;

namespace {

TEST(Downsample2, MirroredBordersAndInteriorByHand) {
  // A 6 x 6 plane (the estimate of a 3 x 3 source) varying along x only, and
  // one along y only: every output comes from the border formulas. The
  // planes are exactly as large as they must be, so that a read outside
  // them shows under the address sanitizer.
  const float a[6] = {8, 16, 40, 0, 24, 64};
  std::vector<float> alongX(36), alongY(36), tmp(18), out(9);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) alongX[y * 6 + x] = a[x], alongY[y * 6 + x] = a[y];
  auto check = [&](float sideLobe, const double(&expect)[3]) {
    for (const std::vector<float>* plane : {&alongX, &alongY}) {
      Downsample2(plane->data(), 6, 6, out.data(), 2, tmp.data(), sideLobe);
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
          EXPECT_EQ(out[y * 3 + x], static_cast<float>(expect[plane == &alongX ? x : y]))
              << "side lobe " << sideLobe << " at " << x << " " << y;
    }
  };
  // sideLobe 0: the kernel is 0.25, 0.5, 0.25 around samples 0, 2 and 4;
  // sample -1 reads sample 1 and sample 6 reads sample 4.
  check(0.0f, {0.25 * 16 + 0.5 * 8 + 0.25 * 16, 0.25 * 16 + 0.5 * 40 + 0.25 * 0, 0.25 * 0 + 0.5 * 24 + 0.25 * 64});
  // sideLobe 0.1: n = 1 / 1.6, weights 0.625 (centre), 0.3125, -0.0625 (both
  // far taps), exact in binary. Taps -3..3 around 0 read 3 2 1 0 1 2 3;
  // around 2 read 1 0 1 2 3 4 5; around 4 read 1 2 3 4 5 4 3.
  auto k = [&](const float* v, int i0, int i1, int i2, int i3, int i4, int i5, int i6) {
    return -0.0625 * v[i0] - 0.0625 * v[i1] + 0.3125 * v[i2] + 0.625 * v[i3] + 0.3125 * v[i4] - 0.0625 * v[i5] -
           0.0625 * v[i6];
  };
  check(0.1f, {k(a, 3, 2, 1, 0, 1, 2, 3), k(a, 1, 0, 1, 2, 3, 4, 5), k(a, 1, 2, 3, 4, 5, 4, 3)});
  // A 16-wide ramp: the symmetric kernel whose taps sum to 1 reproduces the
  // ramp at the interior outputs 2..6 (output x is 2x); output 7 (centre 14)
  // mirrors 16 -> 14 and 17 -> 13.
  float ramp[16 * 4], half[8 * 4], reduced[8 * 2];
  for (int i = 0; i < 64; ++i) ramp[i] = float(i % 16);
  Downsample2(ramp, 16, 4, reduced, 2, half, 0.1f);
  for (int x = 2; x <= 6; ++x) EXPECT_EQ(reduced[x], 2.0f * x) << x;
  EXPECT_EQ(reduced[7], static_cast<float>(k(ramp, 11, 12, 13, 14, 15, 14, 13)));
}

TEST(DownsampleCentred, AntialiasedBicubicByHand) {
  // Keys' cubic (a = -0.5) at a quarter, three, five and seven quarters is
  // 0.8671875, 0.2265625, -0.0703125, -0.0234375; stretched by two it is
  // halved: 111, 29, -9, -3 in 256ths at distances 0.5 .. 3.5 from an output
  // pixel's centre, which lies between input samples 2x and 2x + 1. An
  // impulse of 65536 at (5, 5) sits 0.5 from output 2's centre, 1.5 from 3's
  // and 2.5 from 1's; one at (0, 0) reaches output 0 at 0.5 and, mirrored
  // to -1, at 1.5 (111 + 29), and output 1 at 3.5 and 2.5 (-3 - 9).
  std::vector<float> plane(144), tmp(72), out(36);
  const struct {
    int at, outX, outY;
    float expect;
  } cases[] = {{5 * 12 + 5, 2, 2, 111 * 111}, {5 * 12 + 5, 3, 1, 29 * -9}, {5 * 12 + 5, 1, 4, -9 * -3},
               {5 * 12 + 5, 0, 2, 0},         {0, 0, 0, 140 * 140},        {0, 1, 0, -12 * 140}};
  for (const auto& k : cases) {
    std::fill(plane.begin(), plane.end(), 0.0f);
    plane[k.at] = 65536;
    ForEachSimdTarget([&](const std::string&) {
      DownsampleCentred(plane.data(), 12, 12, out.data(), tmp.data());
      EXPECT_EQ(out[k.outY * 6 + k.outX], k.expect) << k.at << " " << k.outX << " " << k.outY;
    });
  }
}

TEST(RobustResidual, SignedFourthRoot) {
  const float sim[5] = {16, 0, 7, 100, 1}, src[5] = {0, 16, 7, 99, 82}, expect[5] = {2, -2, 0, 1, -3};
  float r[5];
  RobustResidual(sim, src, 5, r);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(r[i], expect[i]) << i;
}

TEST(RegularizationGradient, MirroredNeighboursByHand) {
  // One bright pixel at (0, 0) of a 2 x 2 plane; each shift d adds
  // a_d (sign(x(p) - x(p+d)) - sign(x(p-d) - x(p))), a = 0.5 axially and
  // 0.5^sqrt(2) diagonally, reads beyond the plane mirrored (-1 reads 1).
  // (0, 0): 2a per diagonal, 1 per axial shift; (0, 1) sees the bright pixel
  // on both sides of the horizontal shifts: -1 each; (1, 1): -2a per diagonal.
  const float a = static_cast<float>(std::pow(0.5, std::sqrt(2.0)));
  const float x[4] = {4, 0, 0, 0};
  float r[4];
  RegularizationGradient(x, 2, 2, r);
  EXPECT_FLOAT_EQ(r[0], 4 + 8 * a);
  EXPECT_EQ(r[1], -2.0f);
  EXPECT_EQ(r[2], -2.0f);
  EXPECT_FLOAT_EQ(r[3], -8 * a);
}

TEST(RegularizationGradient, EveryInstructionSetGivesTheScalarPlanes) {
  // Scalar bits from: the regulariser on ties, signed zeros, a NaN and
  // neighbouring infinities, on wide, narrow, single-row and single-column
  // planes; Downsample2 on samples whose double sums round differently in
  // float, with the default side lobe (its normalisation is inexact); the
  // robust residual and the update (weighted or not, both clamps reached).
  // The one-pass gradient and update equal the two passes, on one band of
  // rows and several (a band's edge rows read neighbours before they change).
  for (const auto& [W, H] : {std::pair{37, 6}, std::pair{17, 3}, std::pair{9, 2}, std::pair{1, 5}, std::pair{6, 1},
                             std::pair{38, 6}, std::pair{20, 4}, std::pair{13, 97}}) {
    if (W % 2 == 0 && H % 2 == 0 && W >= 4 && H >= 4) {
      std::vector<float> y(W * H);
      for (int i = 0; i < W * H; ++i) y[i] = float((i * 7919) % 255) * 0.37f + float(i) * 0.013f;
      ExpectSameOnEveryTarget([&] {
        std::vector<float> out(W * H / 2), tmp(W * H / 2);
        Downsample2(y.data(), W, H, out.data(), 2, tmp.data(), 0.02f);
        DownsampleCentred(y.data(), W, H, out.data() + W * H / 4, tmp.data());
        return out;
      });
    }
    SCOPED_TRACE(testing::Message() << W << " x " << H);
    std::vector<float> x(W * H);
    for (int i = 0; i < W * H; ++i) x[i] = float((i * 7919) % 5) - 2.0f;
    if (W * H > 160) x[40] = -0.0f, x[41] = 0.0f, x[100] = std::nanf(""), x[150] = x[151] = INFINITY;
    std::vector<float> y(W * H), z(W * H);
    for (int i = 0; i < W * H; ++i) y[i] = float((i * 7919) % 263) * 1.01f - 3.0f, z[i] = float(i % 17) * 0.3f - 2.0f;
    ExpectSameOnEveryTarget([&] {
      std::vector<float> r(W * H), residual(W * H), weighted(y), plain(y);
      RegularizationGradient(x.data(), W, H, r.data());
      RobustResidual(y.data(), x.data(), residual.size(), residual.data());
      UpdateEstimate(weighted.data(), z.data(), x.data(), z.data(), 3.0f, 0.03f, 0, W * H);
      UpdateEstimate(plain.data(), x.data(), z.data(), nullptr, 40.0f, 0.5f, 0, W * H);
      for (const auto* part : {&residual, &weighted, &plain}) r.insert(r.end(), part->begin(), part->end());
      return r;
    });
    for (const float* v : {static_cast<const float*>(z.data()), static_cast<const float*>(nullptr)}) {
      std::vector<float> twoPasses(y), onePass(y), r(W * H);
      RegularizationGradient(twoPasses.data(), W, H, r.data());
      UpdateEstimate(twoPasses.data(), z.data(), r.data(), v, 3.0f, 0.03f, 0, W * H);
      RegularizedUpdate(onePass.data(), W, H, z.data(), v, 3.0f, 0.03f);
      EXPECT_EQ(0, std::memcmp(onePass.data(), twoPasses.data(), onePass.size() * sizeof(float)));
    }
  }
}

TEST(EnhancementSchedule, StepsAndSubstitutions) {
  // The defaults: beta 3.0, 16 iterations, 2 substitutions, 24 steps worked
  // out by hand. No substitutions: 16 iterations, decay by 0.75 in each of
  // the last 8. Fewer than 8 iterations: 5 - 8 wraps around, the step never
  // decays and no substitution starts; the run still has 5 + 4 * 2
  // iterations. beta 0: a substitution starts in iteration 0, whose start
  // index means "none running", so iteration 1 starts another; that one ends
  // in iteration 4 and the second counted one starts in 5. NaN: the
  // comparison is false, nothing starts.
  const struct {
    uint32_t substitutions, iterations;
    float beta;
    std::size_t total;
    std::vector<uint32_t> starts;
    std::vector<double> betas;
  } cases[] = {{2, 16, 3.0f, 24, {11, 15}, {3.0,    3.0,    3.0,    3.0,    3.0,    3.0,    3.0,    3.0,
                                            3.0,    2.25,   1.6875, 1.2656, 0.9492, 0.4983, 1.5,    1.125,
                                            0.8438, 0.4430, 1.5,    1.125,  0.8438, 0.6328, 0.4746, 0.3560}},
               {0,
                16,
                3.0f,
                16,
                {},
                {3.0, 3.0, 3.0, 3.0, 3.0, 3.0, 3.0, 3.0, 3.0, 2.25, 1.6875, 1.2656, 0.9492, 0.7119, 0.53394, 0.40045}},
               {2, 5, 3.0f, 13, {}, std::vector<double>(13, 3.0)},
               {2, 16, 0.0f, 24, {0, 1, 5}, std::vector<double>(24, 0.0)},
               {2, 16, std::nanf(""), 24, {}, {}}};
  for (const auto& c : cases) {
    SRParams params;
    params.fractalSubsts = c.substitutions, params.iterations = c.iterations, params.beta = c.beta;
    EnhancementSchedule schedule(params);
    std::vector<float> betas;      // the step used in the update of each iteration
    std::vector<uint32_t> starts;  // iterations in which a substitution starts
    for (uint32_t it = 0; it < schedule.total; ++it) {
      if (schedule.StartsSubstitution(it)) starts.push_back(it);
      schedule.FinishFractalStep(it);
      betas.push_back(schedule.beta);
      schedule.Decay(it);
    }
    ASSERT_EQ(betas.size(), c.total);
    EXPECT_EQ(starts, c.starts);
    for (std::size_t it = 0; it < c.betas.size(); ++it) EXPECT_NEAR(betas[it], c.betas[it], 5e-5) << it;
  }
}

TEST(EnhancementIteration, ResidualEnlargementByTheChosenResampler) {
  // edgeDirIterations -1: the bilinear x2 of the residual; 0: the edge-
  // directed resampler without direction weights, which is the bicubic x2.
  const int w = 9, h = 8;
  const FloatImage source = RenderTestChart(w, h, 5);
  for (int edge : {-1, 0}) {
    SRParams params;
    params.edgeDirIterations = edge, params.fractalSubsts = 0;
    FloatImage estimate(2 * w, 2 * h);
    for (int c = 0; c < 3; ++c) UpscaleBilinear2(source.samples(c), w, h, estimate.samples(c));
    WorkingPlanes planes(w, h);
    Resampling::EdgeDirResampler resampler;
    resampler.SetSize(w, h);
    resampler.Analyze(source.samples(0), source.samples(1), source.samples(2), nullptr, nullptr, nullptr, 0);
    const EnhancementContext context{{source.samples(0), source.samples(1), source.samples(2)},
                                     w,
                                     h,
                                     {estimate.samples(0), estimate.samples(1), estimate.samples(2)},
                                     &planes,
                                     &params,
                                     &resampler,
                                     nullptr,
                                     {}};
    EnhancementSchedule schedule(params);
    EnhancementIteration(schedule, 0, context);
    for (int c = 0; c < 3; ++c) {
      std::vector<float> expect(4 * w * h);
      if (edge == -1)
        UpscaleBilinear2(planes.residual[c].data(), w, h, expect.data());
      else
        UpscaleBicubic2(planes.residual[c].data(), w, h, expect.data());
      ASSERT_EQ(expect, std::vector<float>(planes.enlargedResidual[c].begin(), planes.enlargedResidual[c].end()))
          << edge;
    }
  }
}

}  // namespace
