// Nedi: new edge-directed interpolation on the x2 grid. Every non-flat
// diagonal site (both output coordinates odd) and then every non-flat axial
// site (one coordinate odd) is re-estimated from six symmetric neighbour
// pairs; the pair weights are fitted per site by least squares (LU
// factorisation and inversion in single precision) over an 8 x 8 window of
// training positions drawn from blurred, noise-added copies of the initial
// estimate, pooling the three colour planes. The sites of a strip are
// shared out among the threads: each fit depends only on its own position
// (the training noise included), so the result does not depend on the split.
#include "resampling/nedi.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "base/threading.h"
#include "resampling/edge_dir_resampler.h"
#include "resampling/hann_smooth.h"
#include "resampling/inverse6.h"
#include "resampling/normal_sums.h"

namespace kestrune {

namespace {

using std::ptrdiff_t;
using std::size_t;

constexpr int kWindow = 8;                        // training window side N
constexpr int kCoeffs = 6;                        // pair weights K
constexpr int kSamples = 3 * kWindow * kWindow;   // training rows S
constexpr int kNoiseValues = kSamples * kCoeffs;  // noise values per axial site
// The second pass forms the training rows of blocks of kBlockRows site rows,
// kEntry values per training position (pair sums and target, per colour).
constexpr int kBlockRows = 16, kEntry = 3 * (kCoeffs + 1);
constexpr int kBandRows = kBlockRows + 2 * (kWindow - 1);

// Neighbour tables (row, column offsets on the output grid). Regressor 0
// pairs entries 0 and 3, regressor 1 entries 1 and 2, regressor k (2..5)
// entries k+2 and k+6.
constexpr int kDiag[12][2] = {{-1, -1}, {-1, 1}, {1, -1}, {1, 1},  {-2, -1}, {-2, 1},
                              {-1, 2},  {1, 2},  {2, 1},  {2, -1}, {1, -2},  {-1, -2}};
constexpr int kAxial[12][2] = {{-1, 0}, {0, 1}, {0, -1}, {1, 0},  {-2, 1},  {-1, 2},
                               {1, 2},  {2, 1}, {2, -1}, {1, -2}, {-1, -2}, {-2, -1}};
constexpr int kPairFirst[kCoeffs] = {0, 1, 4, 5, 6, 7};
constexpr int kPairSecond[kCoeffs] = {3, 2, 8, 9, 10, 11};

// Noise: a fixed table of uniform values over 0..32767 (scaled to the noise
// amplitude), read from a position hashed from the output site or column.
// A value therefore depends only on where it is used, never on the order of
// the work, so strips, repeated runs and any split across threads agree.
constexpr size_t kNoiseTableBits = 16;
constexpr size_t kNoiseTableMask = (size_t{1} << kNoiseTableBits) - 1;

inline uint64_t Mix64(uint64_t z) {
  z += 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

inline size_t NoiseOffset(uint64_t key, uint64_t salt) { return size_t(Mix64(key ^ (salt << 56))) & kNoiseTableMask; }

// Training rows are packed 8 floats apart: the six regressors, the target
// and a zero (the layout NormalSums reads).
constexpr int kRowStride = kNormalRowStride;

// Least-squares weights from packed training rows (see above): R = X^T X,
// inverted by LU factorisation with partial pivoting (Invert6);
// a = R^-1 X^T b. An exactly zero pivot gives the mean of the first two
// pairs, a = (0.25, 0.25, 0, 0, 0, 0).
bool FitPacked(const float* rows, int count, float* a) {
  float sums[kRowStride * kRowStride];
  NormalSums(rows, count, sums);
  float R[kCoeffs * kCoeffs];
  float rhs[kCoeffs];
  for (int p = 0; p < kCoeffs; ++p) {
    for (int q = p; q < kCoeffs; ++q) R[p * kCoeffs + q] = R[q * kCoeffs + p] = sums[p * kRowStride + q];
    rhs[p] = sums[p * kRowStride + kCoeffs];
  }
  if (!Invert6(R)) {
    a[0] = a[1] = 0.25f;
    a[2] = a[3] = a[4] = a[5] = 0.0f;
    return false;
  }
  // The inverse is stored column by column.
  for (int p = 0; p < kCoeffs; ++p) {
    float v = R[p] * rhs[0];
    for (int q = 1; q < kCoeffs; ++q) v += R[p + q * kCoeffs] * rhs[q];
    a[p] = v;
  }
  return true;
}

// Reads beyond the borders are mirrored about the first and last row and
// column (neither repeated), folding again for reaches wider than the grid.
// A mirrored position keeps the parity of its row and column, so a window
// reaching past the edge sees the picture continued on the same lattice of
// pixels and sites, never zeros.
inline int Reflect(int i, int n) {
  if (i >= 0 && i < n) return i;
  const int period = 2 * (n - 1);
  i %= period;
  if (i < 0) i += period;
  return i < n ? i : period - i;
}

inline float ReadMirrored(const float* p, int r, int c, int W, int H) {
  return p[size_t(Reflect(r, H)) * W + size_t(Reflect(c, W))];
}

// Averaged fetch: a knight offset is replaced by the mean of its target and
// the adjacent sample on the way from (r, c); both are read mirrored.
inline float Fetch(const float* p, int r, int c, int dy, int dx, int W, int H) {
  const float v = ReadMirrored(p, r + dy, c + dx, W, H);
  if (dy >= -1 && dy <= 1 && dx >= -1 && dx <= 1) return v;
  if (dy < -1) return (v + ReadMirrored(p, r + dy + 1, c, W, H)) / 2;
  if (dy > 1) return (v + ReadMirrored(p, r + dy - 1, c, W, H)) / 2;
  if (dx < -1) return (v + ReadMirrored(p, r, c + dx + 1, W, H)) / 2;
  return (v + ReadMirrored(p, r, c + dx - 1, W, H)) / 2;
}

// Calls f(r, k0, k1, rows) for the rows r in [r0, r1) and runs [k0, k1) of
// the `count` sites of each row, shared out among the threads; `rows` is a
// training buffer of the calling thread (pads already 0). Every site is fitted
// from its own training rows and writes only itself, so the split leaves the
// results unchanged.
template <class F>
void ForEachSiteRun(int r0, int r1, int count, F&& f) {
  constexpr int kRun = 32;  // sites per piece: each fit costs a few microseconds
  if (r1 <= r0 || count <= 0) return;
  const int runs = (count + kRun - 1) / kRun;
  ParallelFor(0, ptrdiff_t(r1 - r0) * runs, 1, [&](ptrdiff_t i0, ptrdiff_t i1) {
    alignas(32) float rows[kSamples * kRowStride];
    for (int s = 0; s < kSamples; ++s) rows[s * kRowStride + kRowStride - 1] = 0.0f;
    for (ptrdiff_t i = i0; i < i1; ++i) {
      const int r = r0 + int(i / runs), k0 = int(i % runs) * kRun;
      f(r, k0, std::min(count, k0 + kRun), rows);
    }
  });
}

}  // namespace

Nedi::Nedi() = default;
Nedi::~Nedi() = default;

size_t Nedi::HeldBytes() const {
  size_t n = activity_.capacity() + noise_.capacity() + trainingBand_.capacity();
  for (int c = 0; c < 3; ++c) n += training_[c].capacity() + provisional_[c].capacity();
  return n * sizeof(float);
}

void Nedi::ReleaseBuffers() {
  SampleBuffer().swap(activity_);
  SampleBuffer().swap(trainingBand_);
  std::vector<float>().swap(noise_);
  for (int c = 0; c < 3; ++c) {
    SampleBuffer().swap(training_[c]);
    SampleBuffer().swap(provisional_[c]);
  }
}

bool Nedi::FitWeights(const float* X, const float* b, int rows, float* a) {
  std::vector<float> packed(size_t(rows) * kRowStride, 0.0f);
  for (int s = 0; s < rows; ++s) {
    for (int k = 0; k < kCoeffs; ++k) packed[size_t(s) * kRowStride + k] = X[size_t(s) * kCoeffs + k];
    packed[size_t(s) * kRowStride + kCoeffs] = b[s];
  }
  return FitPacked(packed.data(), rows, a);
}

void Nedi::Init(const float* inR, const float* inG, const float* inB, float* outR, float* outG, float* outB, int w,
                int h, int extendedNeighbourhood, float thresholdDivisor, const float* mask, bool keepTrainingClean,
                bool symmetricPairs) {
  if (extendedNeighbourhood != 1 || thresholdDivisor != 1.0f || mask != nullptr || keepTrainingClean ||
      !symmetricPairs || trainingCapture || referenceLoading)
    throw std::invalid_argument("Nedi: unsupported configuration");
  if (w < 1 || h < 1) throw std::invalid_argument("Nedi: image size below 1");
  if (!(blurSpread > 0.0f) || !std::isfinite(blurSpread)) throw std::invalid_argument("Nedi: blurSpread must be > 0");
  if (!std::isfinite(noiseAmplitude)) throw std::invalid_argument("Nedi: noiseAmplitude must be finite");

  ReleaseBuffers();
  in_[0] = inR, in_[1] = inG, in_[2] = inB;
  out_[0] = outR, out_[1] = outG, out_[2] = outB;
  w_ = w, h_ = h, W_ = 2 * w, H_ = 2 * h;
  const size_t N = size_t(W_) * H_;

  // Initial estimate straight into the output planes. Nothing ever changes
  // the output at the positions the first pass reads (low-resolution pixels,
  // and axial sites before the second pass reaches them), so the output
  // serves as the unchanged initial estimate and needs no copy.
  {
    Resampling::EdgeDirResampler resampler;
    resampler.localSmoothing = localSmoothing;
    resampler.SetSize(w, h);
    resampler.Analyze(inR, inG, inB, nullptr, nullptr, nullptr, 2);
    resampler.Apply(inR, inG, inB, outR, outG, outB);
  }

  // Activity: spread (max - min) of the four axial neighbours, summed over
  // the planes, on interior pixels; smoothed at radius 1.
  AssignParallel(activity_, size_t(w) * h);
  if (w >= 3 && h >= 3) {
    ParallelFor(1, h - 1, RowGrain(w), [&](ptrdiff_t y0, ptrdiff_t y1) {
      for (ptrdiff_t y = y0; y < y1; ++y) {
        for (int x = 1; x <= w - 2; ++x) {
          const size_t i = size_t(y) * w + x;
          float sum = 0.0f;
          for (int c = 0; c < 3; ++c) {
            const float* p = in_[c];
            const float n4[4] = {p[i - 1], p[i + 1], p[i - size_t(w)], p[i + size_t(w)]};
            float lo = n4[0], hi = n4[0];
            for (int k = 1; k < 4; ++k) lo = std::min(lo, n4[k]), hi = std::max(hi, n4[k]);
            sum = c == 0 ? hi - lo : sum + (hi - lo);
          }
          activity_[i] = sum;
        }
      }
    });
    SampleBuffer tmp(size_t(w) * h);  // written whole by the smoothing
    (localSmoothing ? HannSmoothLocal : HannSmooth)(activity_.data(), activity_.data(), w, h, 1, tmp.data());
  }
  threshold_ = 25.0f;

  // Noise table: uniform integers 0..32767 from a fixed counter-based
  // generator, as (n / 32767 - 0.5) * noiseAmplitude.
  // (The vector form of NoisyTrainingRows may read a few values past a
  // site's last one: a short tail keeps that inside the table.)
  noise_.resize(kNoiseTableMask + 1 + kNoiseValues + kNoisyRowsOverread);
  for (size_t t = 0; t < noise_.size(); ++t) {
    const float n = float(Mix64(t) >> 49);
    noise_[t] = (n / 32767.0f - 0.5f) * noiseAmplitude;
  }

  // Training copies: a 5-tap Gaussian blur along rows, then along columns
  // with noise added; the outer two rows (columns) keep their values in the
  // respective direction.
  float g[5];
  float gsum = 0.0f;
  for (int i = 0; i < 5; ++i) {
    g[i] = std::exp(-float((i - 2) * (i - 2)) / (blurSpread * 25.0f / 3.0f));
    gsum += g[i];
  }
  for (int i = 0; i < 5; ++i) g[i] /= gsum;

  // Each output sample of either blur is its own sum, so rows are shared out
  // among the threads.
  const ptrdiff_t grain = RowGrain(W_);
  std::vector<size_t> columnNoise(static_cast<size_t>(W_));
  for (int c = 0; c < 3; ++c) {
    // Both are written whole below; growing them leaves that first touch to
    // the threads.
    training_[c].resize(N);
    provisional_[c].resize(N);
    float* d = training_[c].data();
    float* line = provisional_[c].data();  // holds the row-filtered copy for the column pass
    const float* estimate = out_[c];
    ParallelFor(0, H_, grain, [&](ptrdiff_t y0, ptrdiff_t y1) {
      for (ptrdiff_t y = y0; y < y1; ++y) {
        const float* src = estimate + size_t(y) * W_;
        float* row = line + size_t(y) * W_;
        std::memcpy(row, src, size_t(W_) * sizeof(float));
        for (int x = 2; x < W_ - 2; ++x) {
          float s = src[x - 2] * g[0];
          for (int k = 1; k < 5; ++k) s += src[x + k - 2] * g[k];
          row[x] = s;
        }
      }
    });
    for (int x = 0; x < W_; ++x)
      columnNoise[size_t(x)] = NoiseOffset(uint64_t(c) << 40 | uint64_t(x + originX), 1) + size_t(originY);
    ParallelFor(0, H_, grain, [&](ptrdiff_t y0, ptrdiff_t y1) {
      for (ptrdiff_t y = y0; y < y1; ++y) {
        float* row = d + size_t(y) * W_;
        if (y < 2 || y >= H_ - 2) {
          std::memcpy(row, line + size_t(y) * W_, size_t(W_) * sizeof(float));
          continue;
        }
        for (int x = 0; x < W_; ++x) {
          const float* col = line + x;
          float s = col[size_t(y - 2) * W_] * g[0];
          for (int k = 1; k < 5; ++k) s += col[size_t(y + k - 2) * W_] * g[k];
          row[x] = s + noise_[(columnNoise[size_t(x)] + size_t(y)) & kNoiseTableMask];
        }
      }
    });
    // The provisional planes start as the initial estimate: their outer three
    // rows are never recomputed but are read by the second pass's training.
    CopyParallel(out_[c], N, provisional_[c].data());
  }

  AssignParallel(trainingBand_, size_t(kBandRows) * (size_t(W_) / 2 + 1) * kEntry);

  stripStart_ = 0;
  pass1Next_ = 1;
  provisionalNext_ = 3;
  pass2Next_ = 1;
}

void Nedi::ProcessStrip(int rows) {
  if (rows <= 0 || training_[0].empty()) return;
  const long long s = stripStart_;
  const int end1 = int(std::min<long long>(h_ - 1, s + rows + kWindow));
  PassOne(end1);
  // Provisional rows may only read diagonal sites that pass 1 has finished:
  // a row reads up to three rows below itself.
  const bool pass1Done = pass1Next_ >= h_ - 1;
  ProvisionalRows(pass1Done ? H_ - 3 : std::min(H_ - 3, 2 * pass1Next_ - 2));
  PassTwo(int(std::min<long long>(H_ - 2, 2 * (s + rows))));
  stripStart_ = int(std::min<long long>(s + rows, h_));
}

void Nedi::PassOne(int yEnd) {
  const int W = W_, H = H_;
  ptrdiff_t off[12];
  for (int e = 0; e < 12; ++e) off[e] = ptrdiff_t(kDiag[e][0]) * W + kDiag[e][1];
  const float* D[3] = {training_[0].data(), training_[1].data(), training_[2].data()};
  const float* A = activity_.data();

  // The pair sums and targets of the low-resolution pixels that interior
  // sites train on, formed once per block of site rows (each pixel serves up
  // to 64 sites) in the band the second pass uses too, which it forms anew:
  // per pixel (Y, X) and colour the six pair sums and the target, 21 floats.
  float* const band = trainingBand_.data();
  const size_t pitch = (size_t(W) / 2 + 1) * kEntry;
  int bandFirst = 0;
  auto formRow = [&](int Y) {
    float* dst = band + size_t(Y - bandFirst) * pitch;
    for (int X = 1; X <= w_ - 2; ++X) {
      float* e = dst + size_t(X) * kEntry;
      for (int c = 0; c < 3; ++c, e += kCoeffs + 1) {
        const float* q = D[c] + size_t(2 * Y) * W + 2 * X;
        for (int k = 0; k < kCoeffs; ++k) e[k] = q[off[kPairFirst[k]]] + q[off[kPairSecond[k]]];
        e[kCoeffs] = *q;
      }
    }
  };

  // Sites (y, x) for x in [x0, x1): each fit reads only the training copies
  // and the initial estimate, and writes only its own site.
  auto sites = [&](int y, int x0, int x1, float* rows) {
    float a[kCoeffs];
    for (int x = x0; x < x1; ++x) {
      const size_t ai = size_t(y) * w_ + x;
      if (A[ai] < threshold_ && A[ai + 1] < threshold_ && A[ai + w_] < threshold_ && A[ai + w_ + 1] < threshold_)
        continue;
      // Training rows (i, j, colour): the 8 x 8 low-resolution pixels from
      // (y-4, x-4) to (y+3, x+3); reads reach two output samples beyond.
      const bool inside = 2 * y - 10 >= 0 && 2 * y + 8 < H && 2 * x - 10 >= 0 && 2 * x + 8 < W;
      if (inside) {
        const float* entries[kWindow * kWindow];
        for (int i = 0; i < kWindow; ++i)
          for (int j = 0; j < kWindow; ++j)
            entries[i * kWindow + j] =
                band + size_t(y + i - kWindow / 2 - bandFirst) * pitch + size_t(x + j - kWindow / 2) * kEntry;
        NoisyTrainingRows(entries, kWindow * kWindow, nullptr, rows);
      } else {
        float* row = rows;
        for (int i = 0; i < kWindow; ++i) {
          const int ty = 2 * (y + i - kWindow / 2);
          for (int j = 0; j < kWindow; ++j) {
            const int tx = 2 * (x + j - kWindow / 2);
            for (int c = 0; c < 3; ++c, row += kRowStride) {
              const float* p = D[c];
              for (int k = 0; k < kCoeffs; ++k) {
                const int* e1 = kDiag[kPairFirst[k]];
                const int* e2 = kDiag[kPairSecond[k]];
                row[k] = ReadMirrored(p, ty + e1[0], tx + e1[1], W, H) + ReadMirrored(p, ty + e2[0], tx + e2[1], W, H);
              }
              row[kCoeffs] = ReadMirrored(p, ty, tx, W, H);
            }
          }
        }
      }
      FitPacked(rows, kSamples, a);
      // The pairs are read from the initial estimate (see Init).
      const size_t site = size_t(2 * y + 1) * W + 2 * x + 1;
      for (int c = 0; c < 3; ++c) {
        float* o = out_[c] + site;
        float v = a[0] * (o[off[kPairFirst[0]]] + o[off[kPairSecond[0]]]);
        for (int k = 1; k < kCoeffs; ++k) v += a[k] * (o[off[kPairFirst[k]]] + o[off[kPairSecond[k]]]);
        *o = v;
      }
    }
  };
  for (int y0 = pass1Next_; y0 < yEnd; y0 += kBlockRows) {
    const int y1 = std::min(yEnd, y0 + kBlockRows);
    // Interior sites: rows 5 .. h-5, columns 5 .. w-5; their pixels lie in
    // rows y-4 .. y+3 and columns 1 .. w-2.
    const int insideFirst = std::max(y0, 5), insideLast = std::min(y1 - 1, h_ - 5);
    if (insideFirst <= insideLast && w_ - 5 >= 5) {
      bandFirst = insideFirst - kWindow / 2;
      ParallelFor(bandFirst, insideLast + kWindow / 2, RowGrain(W * kEntry / 2), [&](ptrdiff_t t0, ptrdiff_t t1) {
        for (int Y = int(t0); Y < int(t1); ++Y) formRow(Y);
      });
    }
    ForEachSiteRun(y0, y1, w_ - 2, [&](int y, int k0, int k1, float* rows) { sites(y, 1 + k0, 1 + k1, rows); });
  }
  pass1Next_ = std::max(pass1Next_, yEnd);
}

void Nedi::ProvisionalRows(int rEnd) {
  const int W = W_;
  const ptrdiff_t w = W;
  // Rows are independent: each reads the output planes and writes only its
  // own row of the provisional planes.
  ParallelFor(provisionalNext_, rEnd, RowGrain(W), [&](ptrdiff_t r0, ptrdiff_t r1) {
    for (int r = int(r0); r < int(r1); ++r) {
      const size_t row = size_t(r) * W;
      for (int c = 0; c < 3; ++c) std::memcpy(provisional_[c].data() + row, out_[c] + row, size_t(W) * sizeof(float));
      // Axial sites: gradient-weighted mean of the horizontal and vertical
      // pairs. The rows read lie inside the plane; columns beyond the left
      // and right edges are mirrored (d[3 + k] is the offset to column
      // col + k), never taken from the neighbouring rows.
      for (int col = (r + 1) & 1; col < W; col += 2) {
        const size_t i = row + col;
        ptrdiff_t d[7];
        for (int k = -3; k <= 3; ++k) d[3 + k] = Reflect(col + k, W) - col;
        float dh = 0.0f, dv = 0.0f;
        for (int c = 0; c < 3; ++c) {
          const float* o = out_[c] + i;
          dh += std::fabs(o[d[4]] - o[d[2]]);
          dh += std::fabs(o[d[2]] - o[d[0]]);
          dh += std::fabs(o[d[6]] - o[d[4]]);
          dh += std::fabs(o[-w] - o[-w + d[1]]);
          dh += std::fabs(o[-w + d[5]] - o[-w]);
          dh += std::fabs(o[w] - o[w + d[1]]);
          dh += std::fabs(o[w + d[5]] - o[w]);
          dv += std::fabs(o[w] - o[-w]);
          dv += std::fabs(o[-w] - o[-3 * w]);
          dv += std::fabs(o[3 * w] - o[w]);
          dv += std::fabs(o[d[2]] - o[-2 * w + d[2]]);
          dv += std::fabs(o[2 * w + d[2]] - o[d[2]]);
          dv += std::fabs(o[d[4]] - o[-2 * w + d[4]]);
          dv += std::fabs(o[2 * w + d[4]] - o[d[4]]);
        }
        const float th = dh + 0.01f, tv = dv + 0.01f;
        float wh = 1.0f / (th * th), wv = 1.0f / (tv * tv);
        const float scale = 0.5f / (wh + wv);
        wh = wh * scale;
        wv = wv * scale;
        for (int c = 0; c < 3; ++c) {
          const float* o = out_[c] + i;
          provisional_[c][i] = (o[d[2]] + o[d[4]]) * wh + (o[-w] + o[w]) * wv;
        }
      }
    }
  });
  provisionalNext_ = std::max(provisionalNext_, rEnd);
}

void Nedi::PassTwo(int rEnd) {
  const int W = W_, H = H_;
  const float* P[3] = {provisional_[0].data(), provisional_[1].data(), provisional_[2].data()};
  const float* A = activity_.data();
  const float* noise = noise_.data();
  const int keyW = keyWidth > 0 ? keyWidth : W;
  const ptrdiff_t w = W;
  // Away from the borders the averaged fetch of a knight offset is the mean
  // of the target and the sample next to the site on the way there.
  ptrdiff_t target[12], beside[12];
  for (int e = 0; e < 12; ++e) {
    const int dy = kAxial[e][0], dx = kAxial[e][1];
    target[e] = dy * w + dx;
    beside[e] = dy < -1 ? (dy + 1) * w : dy > 1 ? (dy - 1) * w : dx < -1 ? dx + 1 : dx > 1 ? dx - 1 : dy * w + dx;
  }

  // Interior training positions (rows 3 .. H-4, columns 3 .. W-4, even
  // coordinate sum) with their pair sums before noise and their targets:
  // the rows a block of site rows reads, formed once per block before its
  // sites run. Their reads all lie inside [1, H-2] x [1, W-2].
  const size_t halfW = size_t(W) / 2 + 1;
  float* const band = trainingBand_.data();
  int bandFirst = 0;
  auto formRow = [&](int tr) {
    float* dst = band + size_t(tr - bandFirst) * halfW * kEntry;
    for (int tc = 3 + ((tr + 3) & 1); tc <= W - 4; tc += 2) {
      float* e = dst + size_t(tc >> 1) * kEntry;
      for (int ch = 0; ch < 3; ++ch, e += kCoeffs + 1) {
        const float* t = P[ch] + size_t(tr) * W + tc;
        e[0] = t[target[0]] + t[target[3]];
        e[1] = t[target[1]] + t[target[2]];
        for (int k = 2; k < kCoeffs; ++k) {
          const int e1 = kPairFirst[k], e2 = kPairSecond[k];
          e[k] = (t[target[e1]] + t[beside[e1]]) / 2 + (t[target[e2]] + t[beside[e2]]) / 2;
        }
        e[kCoeffs] = *t;
      }
    }
  };

  // Site (r, c): reads only the provisional planes, the activity and the
  // noise of its own position, and writes only itself.
  auto site = [&](int r, int c, float* rows) {
    if (r & 1) {
      const size_t ai = size_t((r - 1) / 2) * w_ + c / 2;
      if (A[ai] < threshold_ && A[ai + w_] < threshold_) return;
    } else {
      const size_t ai = size_t(r / 2) * w_ + (c - 1) / 2;
      if (A[ai] < threshold_ && A[ai + 1] < threshold_) return;
    }
    const float* u = noise + NoiseOffset(uint64_t(r + originY) * uint64_t(keyW) + uint64_t(c + originX), 2);
    // Training rows: a diamond of 64 positions of even coordinate sum;
    // all of its reads stay inside [1, H-2] x [1, W-2] when this holds.
    const bool inside = r >= 10 && r <= H - 11 && c >= 10 && c <= W - 11;
    if (inside) {
      // The band's entries of the 64 positions, each with its noise added
      // by one kernel call.
      const float* entries[kWindow * kWindow];
      for (int i = 0; i < kWindow; ++i)
        for (int j = 0; j < kWindow; ++j) {
          const int tr = r - kWindow + 1 + i + j, tc = c - i + j;
          entries[i * kWindow + j] = band + (size_t(tr - bandFirst) * halfW + size_t(tc >> 1)) * kEntry;
        }
      NoisyTrainingRows(entries, kWindow * kWindow, u, rows);
    } else {
      float* row = rows;
      for (int i = 0; i < kWindow; ++i) {
        for (int j = 0; j < kWindow; ++j) {
          const int tr = r - kWindow + 1 + i + j, tc = c - i + j;
          for (int ch = 0; ch < 3; ++ch, row += kRowStride, u += kCoeffs) {
            const float* p = P[ch];
            // Pairs 0 and 1 are next to the position: Fetch reads them directly.
            for (int k = 0; k < kCoeffs; ++k) {
              const int* e1 = kAxial[kPairFirst[k]];
              const int* e2 = kAxial[kPairSecond[k]];
              row[k] = (Fetch(p, tr, tc, e1[0], e1[1], W, H) + Fetch(p, tr, tc, e2[0], e2[1], W, H)) + u[k];
            }
            row[kCoeffs] = ReadMirrored(p, tr, tc, W, H);
          }
        }
      }
    }
    float a[kCoeffs];
    FitPacked(rows, kSamples, a);
    for (int ch = 0; ch < 3; ++ch) {
      const float* p = P[ch];
      float v = 0.0f;
      for (int k = 0; k < kCoeffs; ++k) {
        const int* e1 = kAxial[kPairFirst[k]];
        const int* e2 = kAxial[kPairSecond[k]];
        const float pair = Fetch(p, r, c, e1[0], e1[1], W, H) + Fetch(p, r, c, e2[0], e2[1], W, H);
        v = k == 0 ? a[k] * pair : v + a[k] * pair;
      }
      out_[ch][size_t(r) * W + c] = v;
    }
  };

  for (int r0 = pass2Next_; r0 < rEnd; r0 += kBlockRows) {
    const int r1 = std::min(rEnd, r0 + kBlockRows);
    // Training rows of the interior sites of rows [r0, r1), if there are any.
    const int insideFirst = std::max(r0, 10), insideLast = std::min(r1 - 1, H - 11);
    if (insideFirst <= insideLast && W - 11 >= 10) {
      bandFirst = insideFirst - kWindow + 1;
      const int bandLast = insideLast + kWindow - 1;
      ParallelFor(bandFirst, bandLast + 1, RowGrain(W * kEntry / 2), [&](ptrdiff_t t0, ptrdiff_t t1) {
        for (int tr = int(t0); tr < int(t1); ++tr) formRow(tr);
      });
    }
    // Sites (r, c), c = first + 2k with first 2 on odd rows and 1 on even rows.
    ForEachSiteRun(r0, r1, W / 2 - 1, [&](int r, int k0, int k1, float* rows) {
      const int first = (r & 1) ? 2 : 1;
      for (int c = first + 2 * k0; c < std::min(W - 2, first + 2 * k1); c += 2) site(r, c, rows);
    });
  }
  pass2Next_ = std::max(pass2Next_, rEnd);
}

}  // namespace kestrune
