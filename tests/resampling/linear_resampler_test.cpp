// Linear resampler: the worked examples (phase counts, tap counts, identity
// and B-spline weights, offsets, deviations, unknown filter types, tiny
// targets) and a plain scalar reading of the algorithm, written here from the
// algorithm's description, against which Configure, Resample and ResizePlane
// must agree bit for bit.
#include "resampling/linear_resampler.h"

#include <cmath>
#include <numeric>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "support/thread_count.h"

using namespace kestrune;

namespace {

using Plane = std::vector<float>;

// ---- Plain scalar reading -------------------------------------------------

struct RefTables {
  unsigned taps = 0;
  std::vector<std::vector<float>> weights;
  std::vector<int> shift, phase, start;
};

double RefKernel(int type, long k, double m) {
  const double pi = 3.1415927410125732;
  const double t = k / m;
  const double x = k * pi / m;
  auto sinc = [](double v) { return v == 0 ? 1.0 : std::sin(v) / v; };
  auto cube = [](double v) { return std::fabs(v) * std::fabs(v) * std::fabs(v); };
  switch (type) {
    case 0: return 1;
    case 1: return 1 - std::fabs(x) / pi;
    case 2: return std::fabs(t) < 1 ? 3 * cube(t) - 6 * (t * t) + 4 : -cube(t) + 6 * (t * t) - 12 * std::fabs(t) + 8;
    case 4: return x == 0 ? 1 : sinc(x) * sinc(x / 2);
    case 5: return sinc(x) * sinc(x / 3);
    case 6: return sinc(x) * sinc(0.05 * x);
    default: return std::fabs(t) < 1 ? 9 * cube(t) - 15 * (t * t) + 6 : -3 * cube(t) + 15 * (t * t) - 24 * std::fabs(t) + 12;
  }
}

RefTables RefConfigure(unsigned in, unsigned out, int type, float offset, float deviation, float smooth) {
  if (type < 0 || type > 6) type = 3;
  const int base[] = {1, 2, 4, 4, 4, 6, 40};
  long g = std::gcd(long(in), long(out)), P = in / g, Q = out / g;
  while (Q < 500) P *= 2, Q *= 2;
  const float W = float(base[type]) * std::max(float(double(P) / Q), 1.0f) * smooth;
  RefTables r;
  r.taps = unsigned(std::ceil(W));
  const long L = long(r.taps) * Q, half = L / 2;
  std::vector<float> table(L);
  for (long i = 0; i < L; ++i) table[i] = float(RefKernel(type, i - half, double(std::max(P, Q)) * smooth));
  for (long p = 0; p <= Q; ++p) {
    const long n = long(std::floor(double(half - p) / double(Q))), d = (half - p) - n * Q;
    r.shift.push_back(int(-n));
    std::vector<float> w(r.taps);
    float sum = 0;
    for (unsigned j = 0; j < r.taps; ++j) sum += (w[j] = table[j * Q + d]);
    for (float& v : w) v = v * (1 / sum);
    r.weights.push_back(w);
  }
  for (unsigned o = 0; o < out; ++o) {
    long double e = ((in + (long double)deviation) * (o + 0.5L + offset)) / out - 0.5L - deviation * 0.5L;
    float pos = float(e);
    int ipos = int(std::trunc(pos)) - (pos < 0 ? 1 : 0);
    int ph = int(std::nearbyint((pos - float(ipos)) * float(Q)));
    r.phase.push_back(ph);
    r.start.push_back(ipos + r.shift[ph]);
  }
  return r;
}

void RefResample(const RefTables& r, const float* in, unsigned inLen, float* out) {
  for (std::size_t o = 0; o < r.phase.size(); ++o) {
    float acc = 0;
    for (unsigned j = 0; j < r.taps; ++j) {
      long m = std::clamp<long>(r.start[o] + long(j), 0, long(inLen) - 1);
      acc = acc + in[m] * r.weights[r.phase[o]][j];
    }
    out[o] = acc;
  }
}

Plane RefResizePlane(const Plane& src, unsigned sw, unsigned sh, unsigned dw, unsigned dh, int type, float ox,
                     float oy, float dx, float dy, float smooth) {
  Plane mid(std::size_t(sw) * dh), col(sh), res(dh), dst(std::size_t(dw) * dh);
  RefTables v = RefConfigure(sh, dh, type, oy, dy, smooth);
  for (unsigned x = 0; x < sw; ++x) {
    for (unsigned y = 0; y < sh; ++y) col[y] = src[y * sw + x];
    RefResample(v, col.data(), sh, res.data());
    for (unsigned y = 0; y < dh; ++y) mid[y * sw + x] = res[y];
  }
  RefTables h = RefConfigure(sw, dw, type, ox, dx, smooth);
  for (unsigned y = 0; y < dh; ++y) RefResample(h, &mid[y * sw], sw, &dst[y * dw]);
  return dst;
}

Plane RandomPlane(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> value(0.0f, 255.0f);
  Plane p(n);
  for (float& v : p) v = value(rng);
  return p;
}

// ---- Worked examples ------------------------------------------------------

TEST(LinearResampler, PhaseAndTapCounts) {
  Resampling::LinearResampler r;
  r.Configure(1000, 500, FilterCatmullRom, 0, 0, 1.0f);
  EXPECT_EQ(r.phaseWeights.size(), 513u);  // Q = 512 after nine doublings
  EXPECT_EQ(r.taps, 8u);                   // 4 x 2 x 1
  r.Configure(1000, 500, FilterLanczos3, 0, 0, 1.0f);
  EXPECT_EQ(r.taps, 12u);
  r.Configure(3, 7, FilterCatmullRom, 0, 0, 1.0f);
  EXPECT_EQ(r.phaseWeights.size(), 897u);  // Q = 896, P = 384
  EXPECT_EQ(r.taps, 4u);                   // enlarging: fixed in input samples
  r.Configure(1000, 500, FilterCatmullRom, 0, 0, 0.8f);
  EXPECT_EQ(r.taps, 7u);  // W = 6.4
  r.Configure(1000, 1001, FilterBox, 0, 0, 1.0f);
  EXPECT_EQ(r.phaseWeights.size(), 1002u);
  for (const auto& phase : r.phaseWeights) {
    ASSERT_EQ(phase.size(), r.taps);
    float sum = 0;
    for (float w : phase) sum += w;
    EXPECT_NEAR(sum, 1.0f, 1e-6f);
  }
}

TEST(LinearResampler, ZeroLengthsReadNothing) {
  Resampling::LinearResampler r;
  r.Configure(5, 0, FilterCatmullRom, 0, 0, 1.0f);
  EXPECT_EQ(r.taps, 0u);
  r.Configure(0, 3, FilterCatmullRom, 0, 0, 1.0f);
  Plane out(3, -1.0f);
  r.Resample(nullptr, out.data());
  EXPECT_EQ(out, Plane(3, 0.0f));
}

TEST(LinearResampler, EqualLengthsReturnTheInput) {
  const Plane in = RandomPlane(37, 1);
  Plane out(37);
  Resampling::LinearResampler r;
  for (int type : {FilterBox, FilterBilinear, FilterCatmullRom}) {
    r.Configure(37, 37, type, 0, 0, 1.0f);
    r.Resample(in.data(), out.data());
    EXPECT_EQ(out, in) << type;
    for (uint32_t o = 0; o < 37; ++o) EXPECT_EQ(r.outPhase[o], 0);
  }
  for (int type : {FilterLanczos2, FilterLanczos3, FilterSinc}) {
    r.Configure(37, 37, type, 0, 0, 1.0f);
    r.Resample(in.data(), out.data());
    for (int i = 0; i < 37; ++i) EXPECT_NEAR(out[i], in[i], 1e-3) << type;
  }
  // The B-spline blurs with 1/6, 4/6, 1/6.
  r.Configure(37, 37, FilterCubicBSpline, 0, 0, 1.0f);
  const std::vector<float>& w = r.phaseWeights[0];
  ASSERT_EQ(w.size(), 4u);
  EXPECT_EQ(w[0], 0.0f);
  EXPECT_FLOAT_EQ(w[1], 1 / 6.0f);
  EXPECT_FLOAT_EQ(w[2], 4 / 6.0f);
  EXPECT_FLOAT_EQ(w[3], 1 / 6.0f);
  r.Resample(in.data(), out.data());
  for (int i = 1; i < 36; ++i) EXPECT_NEAR(out[i], (in[i - 1] + 4 * in[i] + in[i + 1]) / 6, 1e-3);
  // With smoothness 0.8 the interpolating kernels blur.
  r.Configure(37, 37, FilterCatmullRom, 0, 0, 0.8f);
  r.Resample(in.data(), out.data());
  EXPECT_NE(out, in);
}

TEST(LinearResampler, OffsetsAndDeviation) {
  Plane ramp(20);
  std::iota(ramp.begin(), ramp.end(), 0.0f);
  Plane out(20);
  Resampling::LinearResampler r;
  // Half an output pixel toward higher input positions; the last window
  // leaves the input and replicates its last sample.
  r.Configure(20, 20, FilterBilinear, 0.5f, 0, 1.0f);
  r.Resample(ramp.data(), out.data());
  for (int o = 0; o < 19; ++o) EXPECT_EQ(out[o], o + 0.5f);
  EXPECT_EQ(out[19], 19.0f);

  // A deviation of 8 on 100 samples spans the input from -4 to 104: mapped
  // to 108 outputs it is a shift by 4 with the edge samples replicated.
  const Plane in = RandomPlane(100, 4);
  Plane wide(108);
  r.Configure(100, 108, FilterCatmullRom, 0, 8.0f, 1.0f);
  r.Resample(in.data(), wide.data());
  for (int o = 0; o < 108; ++o) EXPECT_EQ(wide[o], in[std::clamp(o - 4, 0, 99)]) << o;
  // Mapped to 100 outputs the first and last centres lie 4.5 - 0.54 inside
  // the extended extent: at -3.96 and 102.96.
  r.Configure(100, 100, FilterCatmullRom, 0, 8.0f, 1.0f);
  const float q = float(r.phaseWeights.size() - 1);
  EXPECT_EQ(r.outPhase[0], int(std::nearbyint(0.04f * q)));
  EXPECT_EQ(r.outStart[0] - r.phaseShift[r.outPhase[0]], -4);
  EXPECT_EQ(r.outStart[99] - r.phaseShift[r.outPhase[99]], 102);
  EXPECT_EQ(r.outPhase[99], int(q) - r.outPhase[0]);  // fractions 0.04 and 0.96
}

TEST(LinearResampler, NegativeWholePositionUsesPhaseQ) {
  // Offset -2 on equal lengths: output 0 sits on input -2, taken as -3 with
  // fraction 1 (phase Q), the same as phase 0 one sample further on.
  Resampling::LinearResampler r;
  r.Configure(10, 10, FilterCatmullRom, -2.0f, 0, 1.0f);
  const int q = int(r.phaseWeights.size()) - 1;
  EXPECT_EQ(r.outPhase[0], q);
  EXPECT_EQ(r.outPhase[1], q);
  EXPECT_EQ(r.outPhase[2], 0);
  const Plane in = RandomPlane(10, 5);
  Plane out(10);
  r.Resample(in.data(), out.data());
  for (int o = 0; o < 10; ++o) EXPECT_EQ(out[o], in[std::max(o - 2, 0)]);
}

TEST(ResizePlane, UnknownFilterIsCatmullRom) {
  const Plane src = RandomPlane(30 * 20, 6);
  Plane a(13 * 41), b(13 * 41);
  ResizePlane(src.data(), 30, 20, a.data(), 13, 41, 9, 0.1f, -0.2f, 0.5f, -1.0f, 1.0f);
  ResizePlane(src.data(), 30, 20, b.data(), 13, 41, FilterCatmullRom, 0.1f, -0.2f, 0.5f, -1.0f, 1.0f);
  EXPECT_TRUE(SameBits(a, b));
}

TEST(ResizePlane, OneByOneTargetAndShiftedCopy) {
  Plane flat(7 * 5, 42.0f), one(1, -1.0f);
  ResizePlane(flat.data(), 7, 5, one.data(), 1, 1, FilterLanczos3, 0, 0, 0, 0, 1.0f);
  EXPECT_NEAR(one[0], 42.0f, 1e-3);
  const Plane src = RandomPlane(7 * 5, 7);
  ResizePlane(src.data(), 7, 5, one.data(), 1, 1, FilterCatmullRom, 0, 0, 0, 0, 1.0f);
  EXPECT_TRUE(SameBits(one, RefResizePlane(src, 7, 5, 1, 1, 3, 0, 0, 0, 0, 1.0f)));

  // Resized to its own size with whole-pixel offsets: a shifted copy with
  // the edges replicated.
  const unsigned w = 23, h = 17;
  const Plane s = RandomPlane(w * h, 8);
  Plane d(w * h);
  ResizePlane(s.data(), w, h, d.data(), w, h, FilterCatmullRom, 1.0f, -2.0f, 0, 0, 1.0f);
  for (int y = 0; y < int(h); ++y)
    for (int x = 0; x < int(w); ++x)
      EXPECT_EQ(d[y * w + x], s[std::clamp(y - 2, 0, int(h) - 1) * w + std::clamp(x + 1, 0, int(w) - 1)]);
}

// ---- Against the plain reading --------------------------------------------

TEST(LinearResampler, TablesMatchThePlainReading) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<unsigned> len(1, 3000);
  std::uniform_real_distribution<float> off(-0.5f, 0.5f), dev(-6.0f, 6.0f);
  const float smooth[] = {0.5f, 0.8f, 1.0f, 1.37f, 2.0f};
  for (int trial = 0; trial < 60; ++trial) {
    const unsigned in = len(rng), out = len(rng) % 700 + 1;
    const int type = trial % 8 == 7 ? 11 : trial % 8;
    const float o = off(rng), d = dev(rng), s = smooth[trial % 5];
    Resampling::LinearResampler r;
    r.Configure(in, out, type, o, d, s);
    const RefTables ref = RefConfigure(in, out, type, o, d, s);
    ASSERT_EQ(r.taps, ref.taps);
    ASSERT_TRUE(r.phaseWeights == ref.weights) << in << "->" << out << " type " << type;
    ASSERT_EQ(r.phaseShift, ref.shift);
    ASSERT_EQ(std::vector<int>(r.outPhase.begin(), r.outPhase.end()), ref.phase);
    ASSERT_EQ(std::vector<int>(r.outStart.begin(), r.outStart.end()), ref.start);
    const Plane line = RandomPlane(in, trial);
    Plane got(out), want(out);
    r.Resample(line.data(), got.data());
    RefResample(ref, line.data(), in, want.data());
    ASSERT_TRUE(SameBits(got, want));
  }
}

TEST(LinearResampler, StrongReductionFillsOnlyThePhasesInUse) {
  // 500 -> 3 with the sinc kernel: 6667 taps in each of 769 phases, more
  // than the full table holds. The phases the three outputs use are the
  // plain reading's, the others stay empty, and the line is the same.
  Resampling::LinearResampler r;
  r.Configure(500, 3, FilterSinc, 0.1f, 1.5f, 1.0f);
  const RefTables ref = RefConfigure(500, 3, FilterSinc, 0.1f, 1.5f, 1.0f);
  ASSERT_EQ(r.taps, 6667u);
  ASSERT_GT(uint64_t{r.taps} * r.phaseWeights.size(), Resampling::LinearResampler::kFullTableLimit);
  ASSERT_EQ(r.phaseWeights.size(), ref.weights.size());
  ASSERT_EQ(std::vector<int>(r.outPhase.begin(), r.outPhase.end()), ref.phase);
  ASSERT_EQ(std::vector<int>(r.outStart.begin(), r.outStart.end()), ref.start);
  for (std::size_t p = 0; p < ref.weights.size(); ++p) {
    const bool used = std::find(ref.phase.begin(), ref.phase.end(), int(p)) != ref.phase.end();
    if (used)
      EXPECT_TRUE(r.phaseWeights[p] == ref.weights[p]) << p;
    else
      EXPECT_TRUE(r.phaseWeights[p].empty()) << p;
  }
  const Plane line = RandomPlane(500, 13);
  Plane got(3), want(3);
  r.Resample(line.data(), got.data());
  RefResample(ref, line.data(), 500, want.data());
  EXPECT_TRUE(SameBits(got, want));
}

TEST(ResizePlane, MatchesThePlainReadingBitForBit) {
  std::mt19937 rng(12);
  std::uniform_int_distribution<unsigned> len(1, 90);
  std::uniform_real_distribution<float> off(-0.5f, 0.5f), dev(-3.0f, 3.0f);
  const float smooth[] = {0.5f, 0.8f, 1.0f, 1.6f, 2.0f};
  for (int trial = 0; trial < 120; ++trial) {
    const unsigned sw = len(rng), sh = len(rng), dw = len(rng), dh = len(rng);
    const int type = trial % 8 == 7 ? -1 : trial % 8;
    const float ox = off(rng), oy = off(rng), dx = dev(rng), dy = dev(rng), s = smooth[trial % 5];
    const Plane src = RandomPlane(std::size_t(sw) * sh, trial);
    Plane dst(std::size_t(dw) * dh, -1.0f);
    ResizePlane(src.data(), sw, sh, dst.data(), dw, dh, type, ox, oy, dx, dy, s);
    ASSERT_TRUE(SameBits(dst, RefResizePlane(src, sw, sh, dw, dh, type, ox, oy, dx, dy, s)))
        << sw << "x" << sh << " -> " << dw << "x" << dh << " type " << type;
  }
  // A few larger planes, reducing and enlarging, with the widths that
  // exercise every vector tail.
  for (auto [sw, sh, dw, dh] : {std::tuple{403u, 211u, 201u, 105u}, {300u, 97u, 611u, 203u}, {1000u, 9u, 333u, 25u}}) {
    for (int type : {FilterCatmullRom, FilterLanczos3}) {
      const Plane src = RandomPlane(std::size_t(sw) * sh, sw);
      Plane dst(std::size_t(dw) * dh);
      ResizePlane(src.data(), sw, sh, dst.data(), dw, dh, type, 0.25f, -0.125f, 1.5f, -0.75f, 1.0f);
      ASSERT_TRUE(SameBits(dst, RefResizePlane(src, sw, sh, dw, dh, type, 0.25f, -0.125f, 1.5f, -0.75f, 1.0f)));
    }
  }
}

}  // namespace
