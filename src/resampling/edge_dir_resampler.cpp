// EdgeDirResampler: x2 enlargement along local edge directions. The analysis
// measures, for every output position, how smoothly the working estimate
// continues along each of a set of directions, turns the smoothed costs into
// direction weights and a confidence, and moves the new samples towards the
// weighted mean of the sample pairs along those directions. Apply() repeats
// the moves with the stored weights on the bicubic enlargement of any image
// of the same size.
#include "resampling/edge_dir_resampler.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/threading.h"
#include "resampling/edge_dir_rows.h"
#include "resampling/fixed_upscalers.h"
#include "resampling/hann_smooth.h"

namespace kestrune {

namespace Resampling {
namespace {

using std::ptrdiff_t;
using std::size_t;

constexpr int kOddCount = 14;
constexpr int kAxialCount = 6;

// Odd-site directions: both components odd, so from an odd site the pair
// samples fall on low-resolution positions.
constexpr int kOddDy[kOddCount] = {1, 1, 3, 1, 1, 3, 5, 5, 3, 1, 1, 3, 5, 5};
constexpr int kOddDx[kOddCount] = {1, -1, -1, -3, 3, 1, -1, -3, -5, -5, 5, 5, 3, 1};
constexpr float kOddScale[kOddCount] = {1000, 1000, 900, 900, 900, 900, 600, 600, 600, 600, 600, 600, 600, 600};
constexpr int kOddRadius[kOddCount] = {1, 1, 4, 4, 4, 4, 6, 6, 6, 6, 6, 6, 6, 6};

// Axial-site directions: component sum odd, so from an axial site the pair
// samples fall on positions of even coordinate sum.
constexpr int kAxialDy[kAxialCount] = {0, 1, -2, -1, 1, 2};
constexpr int kAxialDx[kAxialCount] = {1, 0, 1, 2, 2, 1};
constexpr float kAxialScale[kAxialCount] = {1000, 1000, 800, 800, 800, 800};
constexpr int kAxialRadius[kAxialCount] = {1, 1, 3, 3, 3, 3};

// Axial sites at least this far from the border have all their pairs inside.
constexpr int kAxialMargin = 2;

// Weights u_k = (s_k / (C_k + 150))^4, normalised to sum 0.5, and the
// confidence 2 * max u_k. The raw weights are formed one direction at a time
// (RawWeights, edge_dir_rows.h) into the stored weights; NormaliseRow
// finishes a row of sites in place.
// When every weight underflows to 0 (costs beyond any 0..255 image) the site
// gets no weights and confidence 0 and keeps its value, instead of 0/0.

// Reads beyond the W x H plane: the x2 grid mirrored about its first and
// last samples (whole-sample), the continuation the downsampling model of
// the enhancement assumes; a mirrored position keeps its parity, so pairs of
// a site still land on samples its step does not write. Offsets wider than
// the plane fold back again.
inline int Reflect(int i, int n) {
  if (i >= 0 && i < n) return i;  // most reads of the frame: no division
  if (n == 1) return 0;
  const int period = 2 * (n - 1);
  i %= period;
  if (i < 0) i += period;
  return i < n ? i : period - i;
}

inline size_t MirroredIndex(int r, int c, int W, int H) { return size_t(Reflect(r, H)) * W + Reflect(c, W); }

// The cost of direction (dy, dx) at (r, c) with mirrored reads, in the order
// of the row kernel.
float MirroredCost(const float* const* g, int W, int H, int r, int c, int dy, int dx) {
  const size_t i = size_t(r) * W + c, plus = MirroredIndex(r + dy, c + dx, W, H),
               minus = MirroredIndex(r - dy, c - dx, W, H);
  auto term = [&](const float* p) {
    const float centre = p[i], d1 = centre - p[plus], d2 = p[minus] - centre;
    return d1 * d1 + d2 * d2;
  };
  return (term(g[0]) + term(g[1])) + term(g[2]);
}

// Cost map of direction (dy, dx) over the whole W x H plane: the row kernel
// on the columns whose pair samples lie inside the rows (the pair rows
// mirrored in the top and bottom frame), mirrored reads in the columns
// beside them.
template <typename Rows>
void CostMap(float* map, const float* const* est, int W, int H, int dy, int dx, Rows&& rows) {
  const int side = std::abs(dx);
  rows(0, H, [&](int r) {
    float* row = map + size_t(r) * W;
    const int c0 = std::min(side, W), c1 = std::max(W - side, c0);
    for (int c = 0; c < c0; ++c) row[c] = MirroredCost(est, W, H, r, c, dy, dx);
    if (c0 < c1) {
      const size_t at = size_t(r) * W, plusAt = size_t(Reflect(r + dy, H)) * W,
                   minusAt = size_t(Reflect(r - dy, H)) * W;
      const float* g[3] = {est[0] + at, est[1] + at, est[2] + at};
      const float* plus[3] = {est[0] + plusAt, est[1] + plusAt, est[2] + plusAt};
      const float* minus[3] = {est[0] + minusAt, est[1] + minusAt, est[2] + minusAt};
      CostRow(row, g, plus, minus, size_t(c0), size_t(c1), dx);
    }
    for (int c = c1; c < W; ++c) row[c] = MirroredCost(est, W, H, r, c, dy, dx);
  });
}

// The directional update of the site (r, c) of the three planes p with
// mirrored reads: p + q * sum_k u_k (pair_k - 2p), in the order of the row
// kernels. The pair positions are found once for the three planes.
template <int K>
inline void MirroredUpdate(float* const* p, int W, int H, int r, int c, const int* dy, const int* dx, const float* u,
                           float q) {
  size_t minus[K], plus[K];
  for (int k = 0; k < K; ++k) {
    minus[k] = MirroredIndex(r - dy[k], c - dx[k], W, H);
    plus[k] = MirroredIndex(r + dy[k], c + dx[k], W, H);
  }
  const size_t i = size_t(r) * W + c;
  for (int ch = 0; ch < 3; ++ch) {
    float* plane = p[ch];
    const float site = plane[i], twice = site + site;
    float d = u[0] * ((plane[minus[0]] + plane[plus[0]]) - twice);
    for (int k = 1; k < K; ++k) d += u[k] * ((plane[minus[k]] + plane[plus[k]]) - twice);
    plane[i] = site + d * q;
  }
}

// Sites whose pairs all lie inside the plane: odd sites (2y+1, 2x+1) with
// 2 <= y < h-3 and 2 <= x < w-3, axial sites with 2 <= r < H-2 and
// 2 <= c < W-2. Only these are left to the row kernels.
inline bool OddSiteInside(int y, int x, int w, int h) { return y >= 2 && y < h - 3 && x >= 2 && x < w - 3; }
inline bool AxialSiteInside(int r, int c, int W, int H) {
  return r >= kAxialMargin && r < H - kAxialMargin && c >= kAxialMargin && c < W - kAxialMargin;
}

// The odd (then axial) sites of the frame that Apply's row kernels leave,
// updated in the output planes with mirrored reads. Each row reads only
// samples of the other kinds, so the threads share out the rows. Along a row
// the sites the row kernels took are stepped over in one jump.
void ApplyFrame(int w, int h, const float* weights, const float* confidence, float* const* out, bool odd) {
  const int W = 2 * w, H = 2 * h;
  ParallelFor(0, odd ? h : H, RowGrain(W), [&](ptrdiff_t r0, ptrdiff_t r1) {
    for (int row = int(r0); row < int(r1); ++row) {
      if (odd) {
        for (int x = 0; x < w; ++x) {
          if (OddSiteInside(row, x, w, h)) {
            x = w - 4;  // on to x = w - 3, the first beyond
            continue;
          }
          float u[kOddCount];
          for (int k = 0; k < kOddCount; ++k) u[k] = weights[(size_t(row) * kOddCount + k) * w + x];
          const float q = confidence[size_t(row) * w + x];
          MirroredUpdate<kOddCount>(out, W, H, 2 * row + 1, 2 * x + 1, kOddDy, kOddDx, u, q);
        }
      } else {
        for (int c = (row + 1) & 1; c < W; c += 2) {
          if (AxialSiteInside(row, c, W, H)) {
            c += 2 * ((W - kAxialMargin - c + 1) / 2) - 2;  // on to the first beyond, same parity
            continue;
          }
          const size_t x = size_t(c >> 1);
          float u[kAxialCount];
          for (int k = 0; k < kAxialCount; ++k) u[k] = weights[(size_t(row) * kAxialCount + k) * w + x];
          const float q = confidence[size_t(row) * w + x];
          MirroredUpdate<kAxialCount>(out, W, H, row, c, kAxialDy, kAxialDx, u, q);
        }
      }
    }
  });
}

// Rows per task of the two directional steps below.
ptrdiff_t MovesGrain(size_t w) { return RowGrain(ptrdiff_t(2 * w) * 3 * kOddCount); }

// The two directional steps of Apply (and of the analysis) on the 2w x 2h
// planes out, whose even samples (2y, 2x) are the w x h planes in; each step
// is finished by the sites of its frame.
// Row by row: every row of a step reads only samples the step never writes,
// so the rows of a step are shared out among the threads. The row kernels
// store pairs of samples and so rewrite the neighbours of the sites with
// the values they already hold; the axial step therefore runs the output
// rows in three rounds (even rows; odd rows 4i+1; odd rows 4i+3) so that no
// row is rewritten while another thread reads it.
void OddMoves(int w_, int h_, const float* oddWeights, const float* oddConfidence, const float* const* in,
              float* const* out) {
  const size_t w = size_t(w_), W = 2 * w;
  // Column range of the row kernels (empty for narrow planes).
  const size_t oddEnd = w_ > 5 ? w - 3 : 2;
  // Odd sites (2y+1, 2x+1) with 5 <= 2y+1 < H-5 and 5 <= 2x+1 < W-5.
  ParallelFor(2, h_ - 3, MovesGrain(w), [&](ptrdiff_t y0, ptrdiff_t y1) {
    for (int y = int(y0); y < int(y1); ++y) {
      const float* u = &oddWeights[size_t(y) * kOddCount * w];
      const float* q = &oddConfidence[size_t(y) * w];
      for (int ch = 0; ch < 3; ++ch) {
        const float *minus[kOddCount], *plus[kOddCount];
        for (int k = 0; k < kOddCount; ++k) {
          minus[k] = in[ch] + ptrdiff_t(y + (1 - kOddDy[k]) / 2) * ptrdiff_t(w) + (1 - kOddDx[k]) / 2;
          plus[k] = in[ch] + ptrdiff_t(y + (1 + kOddDy[k]) / 2) * ptrdiff_t(w) + (1 + kOddDx[k]) / 2;
        }
        float* row = out[ch] + (2 * size_t(y) + 1) * W;
        OddRow(minus, plus, u, w, q, row, 2, oddEnd);
      }
    }
  });
  ApplyFrame(w_, h_, oddWeights, oddConfidence, out, true);
}

void AxialMoves(int w_, int h_, const float* axialWeights, const float* axialConfidence, const float* const* in,
                float* const* out) {
  const size_t w = size_t(w_), W = 2 * w;
  const ptrdiff_t grain = MovesGrain(w);
  const size_t axialEnd = w_ > 2 ? w - 1 : 1;
  // Axial sites: (2y, 2x+1) and (2y+1, 2x) with 1 <= y, x < w-1 (h-1).
  auto axialRow = [&](int y, int parity) {
    const size_t r = 2 * size_t(y) + parity;
    const float* u = &axialWeights[r * kAxialCount * w];
    const float* q = &axialConfidence[r * w];
    for (int ch = 0; ch < 3; ++ch) {
      const float* e1 = in[ch] + size_t(y) * w;
      const float* o1 = out[ch] + (2 * size_t(y) + 1) * W;
      float* row = out[ch] + r * W;
      if (parity == 0)
        EvenAxialRow(e1 - w, e1, e1 + w, o1 - 2 * W, o1, u, w, q, row, 1, axialEnd);
      else
        OddAxialRow(e1, e1 + w, o1 - 2 * W, o1, o1 + 2 * W, u, w, q, row, 1, axialEnd);
    }
  };
  // Round 1: output row 2y of every y; rounds 2 and 3: output row 2y+1 of
  // the even y, then of the odd y.
  ParallelFor(1, h_ - 1, grain, [&](ptrdiff_t y0, ptrdiff_t y1) {
    for (int y = int(y0); y < int(y1); ++y) axialRow(y, 0);
  });
  for (int firstY : {2, 1}) {
    const ptrdiff_t count = std::max(0, (h_ - 1 - firstY + 1) / 2);
    ParallelFor(0, count, (grain + 1) / 2, [&](ptrdiff_t i0, ptrdiff_t i1) {
      for (ptrdiff_t i = i0; i < i1; ++i) axialRow(int(2 * i) + firstY, 1);
    });
  }
  ApplyFrame(w_, h_, axialWeights, axialConfidence, out, false);
}

// The even samples (2y, 2x) of the 2w x 2h planes p into the w x h planes
// even.
void EvenGrid(int w, int h, const float* const* p, float* const* even) {
  const size_t W = 2 * size_t(w);
  ParallelFor(0, h, RowGrain(ptrdiff_t(W)), [&](ptrdiff_t y0, ptrdiff_t y1) {
    for (ptrdiff_t y = y0; y < y1; ++y)
      for (int ch = 0; ch < 3; ++ch) EvenSamples(even[ch] + size_t(y) * w, p[ch] + 2 * size_t(y) * W, 0, size_t(w));
  });
}

}  // namespace

EdgeDirResampler::EdgeDirResampler() = default;
EdgeDirResampler::~EdgeDirResampler() = default;

void EdgeDirResampler::SetSize(int w, int h) {
  w_ = std::max(w, 0);
  h_ = std::max(h, 0);
  const size_t oddSites = size_t(w_) * h_;
  const size_t axialSites = 2 * oddSites;
  AssignParallel(oddWeights_, oddSites * kOddCount);
  AssignParallel(oddConfidence_, oddSites);
  AssignParallel(axialWeights_, axialSites * kAxialCount);
  AssignParallel(axialConfidence_, axialSites);
}

size_t EdgeDirResampler::HeldBytes() const {
  return sizeof(float) *
         (oddWeights_.capacity() + oddConfidence_.capacity() + axialWeights_.capacity() + axialConfidence_.capacity());
}

int EdgeDirResampler::StoredWeights(int r, int c, float* u, float* confidence) const {
  if (r < 0 || c < 0 || r >= 2 * h_ || c >= 2 * w_ || ((r | c) & 1) == 0) return 0;
  const size_t w = size_t(w_), x = size_t(c >> 1);
  if ((r & 1) && (c & 1)) {
    const size_t y = size_t(r >> 1);
    for (int k = 0; k < kOddCount; ++k) u[k] = oddWeights_[(y * kOddCount + k) * w + x];
    *confidence = oddConfidence_[y * w + x];
    return kOddCount;
  }
  for (int k = 0; k < kAxialCount; ++k) u[k] = axialWeights_[(size_t(r) * kAxialCount + k) * w + x];
  *confidence = axialConfidence_[size_t(r) * w + x];
  return kAxialCount;
}

void EdgeDirResampler::Analyze(const float* inR, const float* inG, const float* inB, const float* guideR,
                               const float* guideG, const float* guideB, unsigned iterations) {
  // Below 2 x 2 no position lies inside the loop ranges, and zero iterations
  // compute nothing: the stored weights stay as they are.
  if (w_ < 2 || h_ < 2 || iterations == 0) return;
  const int W = 2 * w_, H = 2 * h_;
  const size_t N = size_t(W) * H;

  // Working estimate, cost maps and smoothing scratch live only for this call.
  // Every sample of the estimate is written here, first by the threads.
  SampleBuffer estimate[3];
  const float* in[3] = {inR, inG, inB};
  const float* guide[3] = {guideR, guideG, guideB};
  const bool guided = guideR && guideG && guideB;
  for (int ch = 0; ch < 3; ++ch) {
    estimate[ch].resize(N);
    if (guided)
      CopyParallel(guide[ch], N, estimate[ch].data());
    else
      UpscaleBicubic2(in[ch], w_, h_, estimate[ch].data());
  }
  float* est[3] = {estimate[0].data(), estimate[1].data(), estimate[2].data()};

  // One cost map at a time, computed over the whole plane before use.
  SampleBuffer mapPlane(N), scratch(N);  // both are written before they are read
  float* map = mapPlane.data();

  // The updates move the estimate as Apply moves its output, reading the
  // even samples, which no update writes, from compact copies: the cost
  // plane is free then and holds them.
  float* even[3] = {map, map + size_t(w_) * h_, map + 2 * size_t(w_) * h_};
  const size_t w = size_t(w_);
  // Every loop below works row by row and reads nothing that another row of
  // the same loop writes (the updates of one kind of site read only samples
  // of the other kinds), so the threads share out the rows.
  const ptrdiff_t grain = RowGrain(W);
  auto rows = [&](int first, int last, auto&& row) {
    ParallelFor(first, last, grain, [&](ptrdiff_t r0, ptrdiff_t r1) {
      for (int r = int(r0); r < int(r1); ++r) row(r);
    });
  };

  auto smooth = [&](float* plane, int radius) {
    (localSmoothing ? HannSmoothLocal : HannSmooth)(plane, plane, W, H, radius, scratch.data());
  };
  // The odd sites read their costs only at (2y+1, 2x+1): smoothed there
  // alone, into the first w x h samples of the plane.
  auto smoothOdd = [&](float* plane, int radius) {
    (localSmoothing ? HannSmoothLocalOdd : HannSmoothOdd)(plane, plane, W, H, radius, scratch.data());
  };

  for (unsigned iter = 0; iter < iterations; ++iter) {
    // Odd-site costs, smoothed; the raw weights of every odd site (2y+1, 2x+1).
    for (int k = 0; k < kOddCount; ++k) {
      CostMap(map, est, W, H, kOddDy[k], kOddDx[k], rows);
      smoothOdd(map, kOddRadius[k]);
      rows(0, h_, [&](int y) {
        float* u = &oddWeights_[(size_t(y) * kOddCount + k) * w];
        const float* cost = map + size_t(y) * w;
        RawWeights(u, cost, 1, 0, kOddScale[k], 0, w);
      });
    }
    // Odd-site weights (a row at a time) and update of the estimate.
    rows(0, h_, [&](int y) {
      NormaliseRow(&oddWeights_[size_t(y) * kOddCount * w], w, kOddCount, &oddConfidence_[size_t(y) * w], 0, w);
    });
    EvenGrid(w_, h_, est, even);
    OddMoves(w_, h_, oddWeights_.data(), oddConfidence_.data(), even, est);

    // Axial costs into maps 0..5, on the estimate as just updated; the raw
    // weights of every axial site.
    for (int k = 0; k < kAxialCount; ++k) {
      CostMap(map, est, W, H, kAxialDy[k], kAxialDx[k], rows);
      smooth(map, kAxialRadius[k]);
      rows(0, H, [&](int r) {
        float* u = &axialWeights_[(size_t(r) * kAxialCount + k) * w];
        const float* cost = map + size_t(r) * W;
        RawWeights(u, cost, 2, size_t(r + 1) & 1, kAxialScale[k], 0, w);  // the sites (r, 2x + (r + 1) % 2)
      });
    }
    // Axial-site weights (a row at a time) and update.
    rows(0, H, [&](int r) {
      NormaliseRow(&axialWeights_[size_t(r) * kAxialCount * w], w, kAxialCount, &axialConfidence_[size_t(r) * w], 0, w);
    });
    EvenGrid(w_, h_, est, even);
    AxialMoves(w_, h_, axialWeights_.data(), axialConfidence_.data(), even, est);
  }
}

void EdgeDirResampler::Apply(const float* inR, const float* inG, const float* inB, float* outR, float* outG,
                             float* outB) const {
  if (w_ <= 0 || h_ <= 0) return;
  const int W = 2 * w_, H = 2 * h_;
  const float* in[3] = {inR, inG, inB};
  float* out[3] = {outR, outG, outB};

  if (w_ < 2 || h_ < 2) {
    // The bicubic rule repeats the last column (row) of a plane; for a single
    // column (row) that is plain repetition. Enlarge a copy with the single
    // column (row) doubled and keep the part that belongs to the input.
    const int w2 = std::max(w_, 2), h2 = std::max(h_, 2);
    std::vector<float> wide(size_t(w2) * h2), big(size_t(4) * w2 * h2);
    for (int ch = 0; ch < 3; ++ch) {
      for (int y = 0; y < h2; ++y)
        for (int x = 0; x < w2; ++x)
          wide[size_t(y) * w2 + x] = in[ch][size_t(std::min(y, h_ - 1)) * w_ + std::min(x, w_ - 1)];
      UpscaleBicubic2(wide.data(), w2, h2, big.data());
      for (int r = 0; r < H; ++r)
        std::memcpy(out[ch] + size_t(r) * W, big.data() + size_t(r) * 2 * w2, size_t(W) * sizeof(float));
    }
    return;
  }

  ParallelFor(0, 3, 1, [&](ptrdiff_t c0, ptrdiff_t c1) {
    for (ptrdiff_t ch = c0; ch < c1; ++ch) UpscaleBicubic2(in[ch], w_, h_, out[ch]);
  });
  OddMoves(w_, h_, oddWeights_.data(), oddConfidence_.data(), in, out);
  AxialMoves(w_, h_, axialWeights_.data(), axialConfidence_.data(), in, out);
}

}  // namespace Resampling

}  // namespace kestrune
