// FractalTexture: block matching of the enlargement against the source on
// byte copies (coarse search, blend search), a texture test that keeps more
// of the estimate where the match is poor, windowed accumulation of the
// matched source blocks, and the output that replaces the estimate's detail by
// the detail of the accumulated image. The accumulation of a block row has
// a scalar form and a Highway form with the same sums in the same order.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "upscale/fractal_texture.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "base/simd.h"
#include "base/threading.h"
#include "upscale/block_distance.h"
#include "upscale/fractal_texture.h"

HWY_BEFORE_NAMESPACE();
namespace kestrune::fractal {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Row i of the 4 x 4 blocks of a block row (block n at column n, perRow of
// them) added to the accumulator row a (perRow + 3 samples): a[n + j] +=
// ((lambda x[n+j] + (1 - lambda) S_j) - x[n+j]) w[j] with S_j the blend of
// the block's source rows. Sample n + j takes block n's term after block
// n - 1's, as in the scalar loop: four samples ride in one vector, the first
// of them finished and stored after each block and the next one shifted in.
void AccumulateRowHwy(const FractalTexture::BlockMatch* row, int perRow, const float* x, const float* y, int w, int i,
                      const float* win, float* a) {
  if (perRow <= 0) return;
#if HWY_TARGET == HWY_SCALAR
  // One lane: the plain loop.
  for (int n = 0; n < perRow; ++n) {
    const FractalTexture::BlockMatch& m = row[n];
    const float lambda = m.lambda, keep = 1.0f - m.lambda, u = m.u, first = 1.0f - m.u;
    const float* p = y + std::size_t(m.by + i) * w + m.bx;
    const float* q = y + std::size_t(m.cy + i) * w + m.cx;
    for (int j = 0; j < 4; ++j) {
      const float source = first * p[j] + u * q[j];
      a[n + j] += ((lambda * x[n + j] + keep * source) - x[n + j]) * win[j];
    }
  }
#else
  const hn::FixedTag<float, 4> d;
  const auto wv = hn::LoadU(d, win);
  const auto one = hn::Set(d, 1.0f);
  auto acc = hn::LoadU(d, a);
  for (int n = 0; n < perRow; ++n) {
    const FractalTexture::BlockMatch& m = row[n];
    const auto lambda = hn::Set(d, m.lambda), u = hn::Set(d, m.u);
    const auto keep = hn::Sub(one, lambda), first = hn::Sub(one, u);
    const auto p = hn::LoadU(d, y + std::size_t(m.by + i) * w + m.bx);
    const auto q = hn::LoadU(d, y + std::size_t(m.cy + i) * w + m.cx);
    const auto xv = hn::LoadU(d, x + n);
    const auto source = hn::Add(hn::Mul(first, p), hn::Mul(u, q));
    acc = hn::Add(acc, hn::Mul(hn::Sub(hn::Add(hn::Mul(lambda, xv), hn::Mul(keep, source)), xv), wv));
    a[n] = hn::GetLane(acc);
    const float next = n + 1 < perRow ? a[n + 4] : 0.0f;
    acc = hn::CombineShiftRightLanes<1>(d, hn::Set(d, next), acc);
  }
  // The last three samples.
  HWY_ALIGN float tail[4];
  hn::Store(acc, d, tail);
  for (int j = 0; j < 3; ++j) a[perRow + j] = tail[j];
#endif
}

// The texture measure of the 4 x 4 source blocks starting in row by, one
// block per double lane: every lane adds its block's samples in the order of
// the scalar loop in Init. Returns the first block column left to that loop
// (fewer than a vector remain).
int TextureRowHwy(const float* const* y, int w, int by, double* out) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const int lanes = static_cast<int>(hn::Lanes(dd));
  const auto sixteen = hn::Set(dd, 16.0);
  int bx = 0;
  for (; bx + lanes + 3 <= w; bx += lanes) {
    auto variance = hn::Zero(dd);
    for (int c = 0; c < 3; ++c) {
      const float* p = y[c] + std::size_t(by) * w + bx;
      auto sum = hn::Zero(dd);
      for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) sum = hn::Add(sum, hn::PromoteTo(dd, hn::LoadU(df, p + std::size_t(i) * w + j)));
      const auto mean = hn::Div(sum, sixteen);
      auto sq = hn::Zero(dd);
      for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
          const auto d = hn::Sub(hn::PromoteTo(dd, hn::LoadU(df, p + std::size_t(i) * w + j)), mean);
          sq = hn::Add(sq, hn::Mul(d, d));
        }
      variance = hn::Add(variance, hn::Div(sq, sixteen));
    }
    hn::StoreU(hn::Sqrt(hn::Sqrt(hn::Add(variance, hn::Set(dd, 1e-6)))), dd, out + bx);
  }
  return bx;
}

// The interior samples of output row `row` (rows row - 1 .. row + 1 of the
// estimate x and the accumulator d are W wide), from column 4 on in whole
// vectors up to column W - 5: the float operations of WriteOutputRow per
// sample. Returns the first column left to the scalar loop.
int OutputRowHwy(const float* x, const float* d, float* o, std::size_t W, int row, float detail, float strength) {
  const hn::ScalableTag<float> df;
  const std::size_t lanes = hn::Lanes(df);
  const auto two = hn::Set(df, 2.0f), sixteen = hn::Set(df, 16.0f);
  const auto detailV = hn::Set(df, detail), strengthV = hn::Set(df, strength);
  const std::size_t at = std::size_t(row) * W;
  // The 3 x 3 binomial low-pass at p[col], as LowPass forms it.
  auto low = [&](const float* p, std::size_t col) {
    auto line = [&](const float* r) {
      const auto centre = hn::Mul(two, hn::LoadU(df, r + col));
      return hn::Add(hn::Add(hn::LoadU(df, r + col - 1), centre), hn::LoadU(df, r + col + 1));
    };
    return hn::Div(hn::Add(hn::Add(line(p - W), hn::Mul(two, line(p))), line(p + W)), sixteen);
  };
  std::size_t col = 4;
  for (; col + lanes + 4 <= W; col += lanes) {
    const auto lx = low(x + at, col), ld = low(d + at, col);
    const auto xl = hn::Sub(hn::LoadU(df, x + at + col), lx);
    const auto dl = hn::Sub(hn::LoadU(df, d + at + col), ld);
    hn::StoreU(hn::Add(hn::Add(hn::Mul(detailV, xl), lx), hn::Mul(strengthV, hn::Add(xl, dl))), df, o + at + col);
  }
  return static_cast<int>(col);
}

}  // namespace HWY_NAMESPACE
}  // namespace kestrune::fractal
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestrune {

namespace fractal {
HWY_EXPORT(AccumulateRowHwy);
HWY_EXPORT(TextureRowHwy);
HWY_EXPORT(OutputRowHwy);
}  // namespace fractal

namespace {

// The integer nearest to v, halves away from zero (for the exact halves that
// occur here: multiples of 1/256 and the block position centres). v + 0.5 is
// positive on the first branch and -v + 0.5 on the second, so truncation is
// the floor there: no call into the maths library per weight.
inline long Nint(double v) { return v >= 0.0 ? static_cast<long>(v + 0.5) : -static_cast<long>(-v + 0.5); }

inline uint8_t QuantiseSample(float v) {
  if (!(v >= 0.0f)) return 0;  // also NaN
  if (v >= 255.0f) return 255;
  return static_cast<uint8_t>(double(v) + 0.5);  // halves away from zero; exact in double
}

// 3 x 3 binomial low-pass (1 2 1 / 2 4 2 / 1 2 1, over 16) at (x, y).
inline float LowPass(const float* p, std::size_t W, std::size_t y, std::size_t x) {
  const float* r0 = p + (y - 1) * W + x;
  const float* r1 = p + y * W + x;
  const float* r2 = p + (y + 1) * W + x;
  const float top = r0[-1] + 2.0f * r0[0] + r0[1];
  const float mid = r1[-1] + 2.0f * r1[0] + r1[1];
  const float bottom = r2[-1] + 2.0f * r2[0] + r2[1];
  return (top + 2.0f * mid + bottom) / 16.0f;
}

// Whole-sample mirror about the first and last samples of n.
inline int Mirror(int i, int n) { return i < 0 ? -i : i > n - 1 ? 2 * (n - 1) - i : i; }

}  // namespace

FractalTexture::FractalTexture() = default;
FractalTexture::~FractalTexture() = default;

void FractalTexture::Init(const float* xR, const float* xG, const float* xB, int W, int H, const float* yR,
                          const float* yG, const float* yB, int w, int h, float* oR, float* oG, float* oB) {
  x_[0] = xR, x_[1] = xG, x_[2] = xB;
  y_[0] = yR, y_[1] = yG, y_[2] = yB;
  o_[0] = oR, o_[1] = oG, o_[2] = oB;
  W_ = W, H_ = H, w_ = w, h_ = h;
  blockSize_ = 4;
  overlap_ = blockSize_ - 1;
  step_ = blockSize_ - overlap_;
  searchRadius_ = 7;

  // Raised-cosine taper; blocks at every sample then sum to 1 everywhere.
  const int B = blockSize_;
  const int taper = std::min(overlap_, B / 2);
  double profile[4];
  for (int i = 0; i < B; ++i) {
    double a = 1.0;
    if (i < taper)
      a = (i + 0.5) / taper;
    else if (i >= B - taper)
      a = (B - 1 - i + 0.5) / taper;
    profile[i] = (1.0 - std::cos(std::numbers::pi * a)) / 2.0;
  }
  const double scale = static_cast<double>(step_) / (B - taper);
  for (int i = 0; i < B; ++i)
    for (int j = 0; j < B; ++j) window_[i * B + j] = static_cast<float>(scale * scale * profile[i] * profile[j]);

  const std::size_t large = std::size_t(W) * std::size_t(H);
  for (int c = 0; c < 3; ++c) {
    if (lentAccum_[c] != nullptr) {
      accum_[c] = lentAccum_[c];
      float* a = accum_[c];
      ParallelFor(0, std::ptrdiff_t(large), 65536,
                  [&](std::ptrdiff_t i0, std::ptrdiff_t i1) { std::fill(a + i0, a + i1, 0.0f); });
    } else {
      ownAccum_[c].assign(large, 0.0f);
      accum_[c] = ownAccum_[c].data();
    }
  }
  if (lentEstimateBytes_ != nullptr) {
    estimateBytes_ = lentEstimateBytes_;
    ParallelFor(0, std::ptrdiff_t(large), 65536, [&](std::ptrdiff_t i0, std::ptrdiff_t i1) {
      std::fill(estimateBytes_ + 4 * i0, estimateBytes_ + 4 * i1, uint8_t{0});
    });
  } else {
    ownEstimateBytes_.assign(large * 4, 0);
    estimateBytes_ = ownEstimateBytes_.data();
  }
  sourceBytes_.assign(std::size_t(w) * std::size_t(h) * 4, 0);
  ParallelFor(0, std::ptrdiff_t(w) * h, 65536, [&](std::ptrdiff_t i0, std::ptrdiff_t i1) {
    for (std::ptrdiff_t i = i0; i < i1; ++i)
      for (int c = 0; c < 3; ++c) sourceBytes_[4 * i + c] = QuantiseSample(y_[c][i]);
  });

  // The texture measure of every source block: (v_R + v_G + v_B + 10^-6)^(1/4)
  // with v_c the variance of the float samples of colour c over the block.
  textureRoot_.assign(std::size_t(w) * std::size_t(h), 0.0);
  const bool vector = B == 4 && !simd::ScalarKernels();
  ParallelFor(0, std::max(h - B + 1, 0), RowGrain(std::ptrdiff_t(w) * 96), [&](std::ptrdiff_t by0, std::ptrdiff_t by1) {
    for (int by = int(by0); by < int(by1); ++by) {
      double* out = textureRoot_.data() + std::size_t(by) * w;
      // Whole vectors of blocks first, then the rest one by one.
      int bx = vector ? HWY_DYNAMIC_DISPATCH(fractal::TextureRowHwy)(y_, w, by, out) : 0;
      for (; bx + B <= w; ++bx) {
        double variance = 0.0;
        for (int c = 0; c < 3; ++c) {
          double sum = 0.0;
          for (int i = 0; i < B; ++i)
            for (int j = 0; j < B; ++j) sum += y_[c][std::size_t(by + i) * w + std::size_t(bx + j)];
          const double mean = sum / (B * B);
          double sq = 0.0;
          for (int i = 0; i < B; ++i)
            for (int j = 0; j < B; ++j) {
              const double d = y_[c][std::size_t(by + i) * w + std::size_t(bx + j)] - mean;
              sq += d * d;
            }
          variance += sq / (B * B);
        }
        out[bx] = std::sqrt(std::sqrt(variance + 1e-6));
      }
    }
  });
  block_distance::SourceBlockTerms(sourceBytes_.data(), w, h, sourceTerms_);

  // The centre of each block's search window in the source, per block row
  // and per block column.
  searchRow_.resize(std::size_t(std::max(H - B + 1, 0)));
  for (int y = 0; y + B <= H; ++y)
    searchRow_[std::size_t(y)] =
        static_cast<int>(Nint(std::clamp((y + B / 2) * double(h) / H - B / 2, 0.0, double(h - B))));
  searchCol_.resize(std::size_t(std::max(W - B + 1, 0)));
  for (int x = 0; x + B <= W; ++x)
    searchCol_[std::size_t(x)] =
        static_cast<int>(Nint(std::clamp((x + B / 2) * double(w) / W - B / 2, 0.0, double(w - B))));
  nextBlockRow_ = nextOutputRow_ = nextQuantisedRow_ = 0;
}

void FractalTexture::Reserve(int W, int H, int w, int h) {
  const std::size_t large = std::size_t(W) * std::size_t(H), small = std::size_t(w) * std::size_t(h);
  for (int c = 0; c < 3; ++c)
    if (lentAccum_[c] == nullptr) ownAccum_[c].reserve(large);
  if (lentEstimateBytes_ == nullptr) ownEstimateBytes_.reserve(large * 4);
  sourceBytes_.reserve(small * 4);
  sourceTerms_.reserve(small);
  textureRoot_.reserve(small);
  searchRow_.reserve(std::size_t(std::max(H - blockSize_ + 1, 0)));
  searchCol_.reserve(std::size_t(std::max(W - blockSize_ + 1, 0)));
  matches_.reserve(std::size_t(kChunkRows) * std::size_t(std::max(W - blockSize_ + 1, 0)));
}

void FractalTexture::LendBuffers(float* accR, float* accG, float* accB, float* estimateBytes) {
  lentAccum_[0] = accR, lentAccum_[1] = accG, lentAccum_[2] = accB;
  lentEstimateBytes_ = reinterpret_cast<uint8_t*>(estimateBytes);
}

void FractalTexture::QuantiseRow(int row) {
  const std::size_t base = std::size_t(row) * std::size_t(W_);
  for (int x = 0; x < W_; ++x)
    for (int c = 0; c < 3; ++c) estimateBytes_[4 * (base + x) + c] = QuantiseSample(x_[c][base + x]);
}

FractalTexture::BlockMatch FractalTexture::MatchBlock(int y, int x) const {
  const int B = blockSize_;
  const std::ptrdiff_t tStride = std::ptrdiff_t(W_) * 4;
  const std::ptrdiff_t sStride = std::ptrdiff_t(w_) * 4;
  const uint8_t* t = estimateBytes_ + std::ptrdiff_t(y) * tStride + std::ptrdiff_t(x) * 4;
  auto sourceBlock = [&](int sy, int sx) { return sourceBytes_.data() + sy * sStride + std::ptrdiff_t(sx) * 4; };

  // Source blocks start anywhere from 0 to h - B (w - B): the last source
  // row and column belong to blocks like any other (see Init).
  const int ys = searchRow_[std::size_t(y)];
  const int xs = searchCol_[std::size_t(x)];

  // Coarse search: the first strict minimum of the squared differences.
  BlockMatch m;
  const int syLo = std::max(ys - searchRadius_, 0), syHi = std::min(ys + searchRadius_, h_ - B);
  const int sxLo = std::max(xs - searchRadius_, 0), sxHi = std::min(xs + searchRadius_, w_ - B);
  const block_distance::SearchResult found =
      block_distance::Search(t, tStride, sourceBlock(syLo, sxLo), sStride, syHi - syLo + 1, sxHi - sxLo + 1,
                             sourceTerms_.data() + std::size_t(syLo) * w_ + sxLo, w_);
  m.by = syLo + found.row, m.bx = sxLo + found.col;
  m.error = found.distance;

  // Blend search: a neighbour of the best block mixed into it may fit better.
  const uint8_t* qs[block_distance::kMaxBlends];
  int at[block_distance::kMaxBlends + 1][2];
  int n = 0;
  for (int ay = std::max(m.by - 1, 0); ay <= std::min(m.by + 1, h_ - B); ++ay)
    for (int ax = std::max(m.bx - 1, 0); ax <= std::min(m.bx + 1, w_ - B); ++ax) {
      if (ay == m.by && ax == m.bx) continue;
      qs[n] = sourceBlock(ay, ax), at[n][0] = ay, at[n][1] = ax, ++n;
    }
  at[n][0] = ys, at[n][1] = xs;  // no blend
  const block_distance::BlendChoice blend =
      block_distance::BlendSearch(t, tStride, sourceBlock(m.by, m.bx), qs, n, sStride, m.error);
  m.error = blend.error;
  m.cy = at[blend.k][0], m.cx = at[blend.k][1];
  const double tb = blend.tq;
  m.blend = static_cast<float>(tb);
  m.u = static_cast<float>(tb * std::sqrt(tb));

  // Texture test: a poor match relative to the block's own variance keeps
  // more of the estimate.
  const double lambda = 0.1 * std::sqrt(double(m.error) / 16.0) / textureRoot_[std::size_t(m.by) * w_ + m.bx];
  m.lambda = static_cast<float>(std::clamp(lambda, 0.0, 1.0));
  return m;
}

void FractalTexture::SubstituteBlockRows(int y0, int y1) {
  const int B = blockSize_;
  const int perRow = BlocksPerRow();
  if (y1 <= y0 || perRow == 0) return;
  // Chunks of block rows: the matches of a chunk are found in parallel (each
  // depends only on its own block), then every accumulator row of the chunk
  // takes its contributions in parallel with the other rows but, within the
  // row, in the order of a plain block-by-block pass: block rows top to
  // bottom, blocks left to right. The sums are therefore the same for any
  // number of threads.
  matches_.resize(std::size_t(kChunkRows) * perRow);
  for (int c0 = y0; c0 < y1; c0 += kChunkRows) {
    const int c1 = std::min(y1, c0 + kChunkRows);
    ParallelFor(0, std::ptrdiff_t(c1 - c0) * perRow, 64, [&](std::ptrdiff_t i0, std::ptrdiff_t i1) {
      for (std::ptrdiff_t i = i0; i < i1; ++i)
        matches_[std::size_t(i)] = MatchBlock(c0 + int(i / perRow), int(i % perRow) * step_);
    });
    // Accumulator rows c0 .. c1 + B - 2 receive contributions from this chunk.
    ParallelFor(c0, c1 + B - 1, 1, [&](std::ptrdiff_t r0, std::ptrdiff_t r1) {
      for (int r = int(r0); r < int(r1); ++r)
        for (int y = std::max(c0, r - B + 1); y <= std::min(c1 - 1, r); ++y) AccumulateRow(y, r - y, c0);
    });
  }
}

void FractalTexture::AccumulateRow(int y, int i, int chunkStart) {
  const int B = blockSize_;
  const int perRow = BlocksPerRow();
  const BlockMatch* row = matches_.data() + std::size_t(y - chunkStart) * perRow;
  const bool vector = B == 4 && step_ == 1 && !simd::ScalarKernels();
  for (int c = 0; c < 3; ++c) {
    const float* xr = x_[c] + std::size_t(y + i) * W_;
    float* a = accum_[c] + std::size_t(y + i) * W_;
    if (vector) {
      HWY_DYNAMIC_DISPATCH(fractal::AccumulateRowHwy)(row, perRow, xr, y_[c], w_, i, window_ + i * B, a);
      continue;
    }
    for (int n = 0; n < perRow; ++n) {
      const BlockMatch& m = row[n];
      const int x = n * step_;
      const float lambda = m.lambda, keep = 1.0f - m.lambda, u = m.u, first = 1.0f - m.u;
      const float* p = y_[c] + std::size_t(m.by + i) * w_ + m.bx;
      const float* q = y_[c] + std::size_t(m.cy + i) * w_ + m.cx;
      for (int j = 0; j < B; ++j) {
        const float source = first * p[j] + u * q[j];
        a[x + j] += ((lambda * xr[x + j] + keep * source) - xr[x + j]) * window_[i * B + j];
      }
    }
  }
}

float FractalTexture::Departure(const float* d, int row, int col) const {
  const float v = d[std::size_t(row) * std::size_t(W_) + std::size_t(col)];
  const int B = blockSize_;
  if (row >= B - 1 && row <= H_ - B && col >= B - 1 && col <= W_ - B) return v;
  float cover = 0.0f;
  for (int i = 0; i < B; ++i)
    for (int j = 0; j < B; ++j)
      if (row - i >= 0 && row - i <= H_ - B && col - j >= 0 && col - j <= W_ - B) cover += window_[i * B + j];
  return v / cover;
}

void FractalTexture::WriteOutputRow(int row) {
  const std::size_t W = W_;
  const std::size_t base = std::size_t(row) * W;
  // The substituted image is the estimate plus the departure D, so its
  // detail A - L(A) is (X - LX) + (D - LD). Away from the frame every sample
  // and its low-pass neighbours are covered by all B * B blocks; near it the
  // low-passes read mirrored samples.
  const bool interiorRow = row >= 4 && row <= H_ - 5;
  const float detail = 1.0f - 0.75f * strength;
  for (int c = 0; c < 3; ++c) {
    const float* x = x_[c];
    const float* d = accum_[c];
    float* o = o_[c];
    // Interior columns 4 .. vectorEnd - 1 in vectors, the rest below.
    const int vectorEnd = interiorRow && !simd::ScalarKernels()
                              ? HWY_DYNAMIC_DISPATCH(fractal::OutputRowHwy)(x, d, o, W, row, detail, strength)
                              : 4;
    for (int col = 0; col < W_; ++col) {
      if (col == 4) col = vectorEnd;
      const std::size_t i = base + col;
      float lx, ld, di;
      if (interiorRow && col >= 4 && col <= W_ - 5) {
        lx = LowPass(x, W, row, col), ld = LowPass(d, W, row, col), di = d[i];
      } else {
        auto low = [&](auto at) {
          auto m = [&](int dy, int dx) { return at(Mirror(row + dy, H_), Mirror(col + dx, W_)); };
          const float top = m(-1, -1) + 2.0f * m(-1, 0) + m(-1, 1);
          const float mid = m(0, -1) + 2.0f * m(0, 0) + m(0, 1);
          const float bottom = m(1, -1) + 2.0f * m(1, 0) + m(1, 1);
          return (top + 2.0f * mid + bottom) / 16.0f;
        };
        lx = low([&](int r, int k) { return x[std::size_t(r) * W + std::size_t(k)]; });
        ld = low([&](int r, int k) { return Departure(d, r, k); });
        di = Departure(d, row, col);
      }
      o[i] = detail * (x[i] - lx) + lx + strength * ((x[i] - lx) + (di - ld));
    }
  }
}

void FractalTexture::Run(unsigned rowLimit, unsigned rows) {
  if (strength == 0.0f) return;
  const int B = blockSize_;
  // Estimate rows below `readable` may be read. Block rows run from 0 to
  // H - B, block row y reading estimate rows y .. y + B - 1.
  const int64_t readable = std::min<int64_t>(rowLimit, H_);
  const int64_t blockStop = std::min<int64_t>({int64_t(rows) + 1, H_ - B + 1, readable - B + 1});

  // Rows are quantised and written independently of one another.
  const int64_t quantiseStop = std::min<int64_t>(readable, blockStop + B - 1);
  if (quantiseStop > nextQuantisedRow_) {
    ParallelFor(nextQuantisedRow_, quantiseStop, RowGrain(W_), [&](std::ptrdiff_t r0, std::ptrdiff_t r1) {
      for (std::ptrdiff_t r = r0; r < r1; ++r) QuantiseRow(int(r));
    });
    nextQuantisedRow_ = int(quantiseStop);
  }
  if (blockStop > nextBlockRow_) {
    SubstituteBlockRows(nextBlockRow_, int(blockStop));
    nextBlockRow_ = int(blockStop);
  }
  // An output row reads the estimate and accumulator rows beside it; an
  // accumulator row is final once the block rows down to it have been added
  // (or none is left).
  int64_t outputStop = std::min<int64_t>({int64_t(rows), H_, readable < H_ ? readable - 1 : int64_t(H_)});
  if (nextBlockRow_ <= H_ - B) outputStop = std::min<int64_t>(outputStop, nextBlockRow_ - 1);
  if (outputStop > nextOutputRow_) {
    ParallelFor(nextOutputRow_, outputStop, RowGrain(W_), [&](std::ptrdiff_t r0, std::ptrdiff_t r1) {
      for (std::ptrdiff_t r = r0; r < r1; ++r) WriteOutputRow(int(r));
    });
    nextOutputRow_ = int(outputStop);
  }
}

void FractalTexture::Finish() {}

}  // namespace kestrune
#endif  // HWY_ONCE
