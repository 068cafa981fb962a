// The parts of the enhancement iteration: the downsampling model with its
// mirrored borders, the robust residual, the regulariser with its mirrored
// border reads and the step-size schedule with its fractal substitutions.
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

// A 6 x 6 plane (the estimate of a 3 x 3 source) varying along x only, and
// one varying along y only. Every output of the 3 x 3 result comes from the
// border formulas; the planes are exactly as large as they must be, so that
// a read outside them shows under the address sanitizer.
TEST(Downsample2, ThreeByThreeUsesTheMirroredBordersOnly) {
  const float a[6] = {8, 16, 40, 0, 24, 64};
  std::vector<float> alongX(36), alongY(36), tmp(18), out(9);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) alongX[y * 6 + x] = a[x], alongY[y * 6 + x] = a[y];

  // Both planes, reduced with `sideLobe`, give expect[x] (along x) and
  // expect[y] (along y) in every row and column.
  auto check = [&](float sideLobe, const double (&expect)[3]) {
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
  auto k = [&](int i0, int i1, int i2, int i3, int i4, int i5, int i6) {
    return -0.0625 * a[i0] - 0.0625 * a[i1] + 0.3125 * a[i2] + 0.625 * a[i3] + 0.3125 * a[i4] - 0.0625 * a[i5] -
           0.0625 * a[i6];
  };
  check(0.1f, {k(3, 2, 1, 0, 1, 2, 3), k(1, 0, 1, 2, 3, 4, 5), k(1, 2, 3, 4, 5, 4, 3)});
}

TEST(Downsample2, InteriorTakesEverySecondFilteredSample) {
  // A 16-wide ramp row: the symmetric kernel whose taps sum to 1 reproduces
  // the ramp at the interior outputs 2..6, so output x is 2x.
  std::vector<float> plane(16 * 4), tmp(8 * 4), out(8 * 2);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 16; ++x) plane[y * 16 + x] = float(x);
  Downsample2(plane.data(), 16, 4, out.data(), 2, tmp.data(), 0.1f);
  for (int x = 2; x <= 6; ++x) EXPECT_EQ(out[x], 2.0f * x) << x;
  // Border output 7 (centre 14) mirrors 15 -> 15 and 16 -> 14, 17 -> 13.
  const double last = -0.0625 * 11 - 0.0625 * 12 + 0.3125 * 13 + 0.625 * 14 + 0.3125 * 15 - 0.0625 * 14 - 0.0625 * 13;
  EXPECT_EQ(out[7], static_cast<float>(last));
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
               {5 * 12 + 5, 0, 2, 0},         {0, 0, 0, 140 * 140},       {0, 1, 0, -12 * 140}};
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
  // A 2 x 2 plane with one bright pixel at (0, 0) against 0 elsewhere; each
  // shift d adds a_d (sign(x(p) - x(p+d)) - sign(x(p-d) - x(p))), with
  // a = 0.5 for axial shifts and 0.5^sqrt(2) for diagonal ones, and reads
  // beyond the plane mirrored (-1 reads 1, 2 reads 0). Every neighbour of
  // (0, 0) is 0: 2a per diagonal, 1 per axial shift. (0, 1) sees the bright
  // pixel on both sides of the horizontal shifts: -1 each. All diagonal
  // neighbours of (1, 1) are the bright pixel: -2a each.
  const float a = static_cast<float>(std::pow(0.5, std::sqrt(2.0)));
  EXPECT_FLOAT_EQ(a, 0.37521422f);
  const float x[4] = {4, 0, 0, 0};
  float r[4];
  RegularizationGradient(x, 2, 2, r);
  EXPECT_FLOAT_EQ(r[0], 4 + 8 * a);
  EXPECT_EQ(r[1], -2.0f);
  EXPECT_EQ(r[2], -2.0f);
  EXPECT_FLOAT_EQ(r[3], -8 * a);
}

TEST(RegularizationGradient, EveryInstructionSetGivesTheScalarPlanes) {
  // Ties, signed zeros, a NaN and neighbouring infinities (whose difference
  // is NaN either way round): the interior by the vector kernels and the
  // border pixels must give exactly the scalar rule, on wide, narrow and
  // single-row or single-column planes. Downsample2 (even sizes from 4 up)
  // likewise, on samples whose double sums round differently in float, with
  // the default side lobe, whose normalisation is not exact; the
  // robust residual and the clamped update (weighted or not, both clamps
  // reached) on every sample; the one-pass gradient and update as the two
  // passes, on planes of one band of rows and of several (a band's edge rows
  // read its neighbours before they change).
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
    ExpectSameOnEveryTarget([&] {
      std::vector<float> r(W * H);
      RegularizationGradient(x.data(), W, H, r.data());
      return r;
    });
    std::vector<float> y(W * H), z(W * H);
    for (int i = 0; i < W * H; ++i) y[i] = float((i * 7919) % 263) * 1.01f - 3.0f, z[i] = float(i % 17) * 0.3f - 2.0f;
    ExpectSameOnEveryTarget([&] {
      std::vector<float> residual(W * H), weighted(y), plain(y);
      RobustResidual(y.data(), x.data(), residual.size(), residual.data());
      UpdateEstimate(weighted.data(), z.data(), x.data(), z.data(), 3.0f, 0.03f, 0, W * H);
      UpdateEstimate(plain.data(), x.data(), z.data(), nullptr, 40.0f, 0.5f, 0, W * H);
      residual.insert(residual.end(), weighted.begin(), weighted.end());
      residual.insert(residual.end(), plain.begin(), plain.end());
      return residual;
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

struct ScheduleRun {
  std::vector<float> betas;          // the step used in the update of each iteration
  std::vector<uint32_t> starts;      // iterations in which a substitution starts
};

ScheduleRun RunSchedule(const SRParams& params) {
  EnhancementSchedule schedule(params);
  ScheduleRun run;
  for (uint32_t it = 0; it < schedule.total; ++it) {
    if (schedule.StartsSubstitution(it)) run.starts.push_back(it);
    schedule.FinishFractalStep(it);
    run.betas.push_back(schedule.beta);
    schedule.Decay(it);
  }
  return run;
}

TEST(EnhancementSchedule, DefaultScheduleOfTwentyFourIterations) {
  SRParams params;  // beta 3.0, 16 iterations, 2 substitutions
  const ScheduleRun run = RunSchedule(params);
  const double expected[24] = {3.0,    3.0,    3.0,    3.0,    3.0,    3.0,    3.0,    3.0,
                               3.0,    2.25,   1.6875, 1.2656, 0.9492, 0.4983, 1.5,    1.125,
                               0.8438, 0.4430, 1.5,    1.125,  0.8438, 0.6328, 0.4746, 0.3560};
  ASSERT_EQ(run.betas.size(), 24u);
  for (int it = 0; it < 24; ++it) EXPECT_NEAR(run.betas[it], expected[it], 0.00005) << "iteration " << it;
  EXPECT_EQ(run.starts, (std::vector<uint32_t>{11, 15}));
}

TEST(EnhancementSchedule, EdgeCases) {
  SRParams params;
  // No substitutions: 16 iterations, decay by 0.75 in each of the last 8.
  params.fractalSubsts = 0;
  ScheduleRun run = RunSchedule(params);
  ASSERT_EQ(run.betas.size(), 16u);
  EXPECT_TRUE(run.starts.empty());
  for (int it = 0; it <= 8; ++it) EXPECT_EQ(run.betas[it], 3.0f);
  EXPECT_NEAR(run.betas[15], 3.0 * std::pow(0.75, 7), 1e-6);

  // Fewer than 8 iterations: 5 - 8 wraps around, the step never decays and
  // no substitution starts; the run still has 5 + 4 * 2 iterations.
  params.iterations = 5;
  params.fractalSubsts = 2;
  run = RunSchedule(params);
  ASSERT_EQ(run.betas.size(), 13u);
  EXPECT_TRUE(run.starts.empty());
  for (float b : run.betas) EXPECT_EQ(b, 3.0f);

  // beta 0: a substitution starts in iteration 0, whose start index means
  // "none running", so iteration 1 starts another; that one ends in
  // iteration 4 and the second counted one starts in 5.
  params = SRParams();
  params.beta = 0.0f;
  run = RunSchedule(params);
  EXPECT_EQ(run.starts, (std::vector<uint32_t>{0, 1, 5}));
  for (float b : run.betas) EXPECT_EQ(b, 0.0f);

  // NaN: the comparison is false, nothing starts.
  params.beta = std::nanf("");
  run = RunSchedule(params);
  EXPECT_TRUE(run.starts.empty());
}

TEST(EnhancementIteration, ResidualEnlargementByTheChosenResampler) {
  // edgeDirIterations -1: the bilinear x2 of the residual; 0: the
  // edge-directed resampler without direction weights, which is the bicubic x2.
  const int w = 9, h = 8;
  const FloatImage source = RenderTestChart(w, h, 5);
  for (int edge : {-1, 0}) {
    SRParams params;
    params.edgeDirIterations = edge;
    params.fractalSubsts = 0;
    FloatImage estimate(2 * w, 2 * h);
    for (int c = 0; c < 3; ++c) UpscaleBilinear2(source.samples(c), w, h, estimate.samples(c));
    WorkingPlanes planes(w, h);
    Resampling::EdgeDirResampler resampler;
    resampler.SetSize(w, h);
    resampler.Analyze(source.samples(0), source.samples(1), source.samples(2), nullptr, nullptr, nullptr, 0);
    const EnhancementContext context{{source.samples(0), source.samples(1), source.samples(2)}, w, h,
                                     {estimate.samples(0), estimate.samples(1), estimate.samples(2)},
                                     &planes, &params, &resampler, nullptr, {}};
    EnhancementSchedule schedule(params);
    EnhancementIteration(schedule, 0, context);
    for (int c = 0; c < 3; ++c) {
      std::vector<float> expect(4 * w * h);
      if (edge == -1) UpscaleBilinear2(planes.residual[c].data(), w, h, expect.data());
      else UpscaleBicubic2(planes.residual[c].data(), w, h, expect.data());
      ASSERT_EQ(expect, std::vector<float>(planes.enlargedResidual[c].begin(), planes.enlargedResidual[c].end())) << edge;
    }
  }
}

}  // namespace
