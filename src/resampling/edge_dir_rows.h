// Row kernels of EdgeDirResampler: the directional moves of Apply and the
// direction costs of the analysis. Each has a scalar form (the ...Scalar
// functions) and a vector form chosen at run time; both compute every sample
// with the same operations in the same order, so they give the same bits.
//
// Sample grids of the 2w x 2h output: E(y, x) = (2y, 2x) is the input itself,
// O(y, x) = (2y+1, 2x+1) the odd sites. Direction pairs from any site land on
// one of these grids, so the kernels read them as contiguous rows. A site p
// moves to p + q * d with d = sum_k u_k * (pair_k - 2p): the weights sum to
// 0.5, so this is p + q * (sum_k u_k * pair_k - p), but taken from the pairs'
// deviations it leaves a flat neighbourhood exactly flat, whatever the
// rounding of the weights.
#pragma once

#include <cstddef>

namespace kestrune::Resampling {

// Odd sites of output row 2y+1 for x in [x0, x1): minus[k] and plus[k] are
// the input rows of the 14 pairs, already offset to x = 0; u holds 14 weight
// rows of the odd-site row y (stride w), q the confidences. The vector form
// also rewrites the even samples between the sites with their own values.
void OddRow(const float* const* minus, const float* const* plus, const float* u, std::size_t w, const float* q,
            float* row, std::size_t x0, std::size_t x1);
void OddRowScalar(const float* const* minus, const float* const* plus, const float* u, std::size_t w, const float* q,
                  float* row, std::size_t x0, std::size_t x1);

// Axial sites (2y, 2x+1) of an even output row 2y: e0, e1, e2 are input rows
// y-1, y, y+1; o0, o1 output rows 2y-1, 2y+1, read through their odd samples;
// u holds 6 weight rows (stride w).
void EvenAxialRow(const float* e0, const float* e1, const float* e2, const float* o0, const float* o1, const float* u,
                  std::size_t w, const float* q, float* row, std::size_t x0, std::size_t x1);
void EvenAxialRowScalar(const float* e0, const float* e1, const float* e2, const float* o0, const float* o1,
                        const float* u, std::size_t w, const float* q, float* row, std::size_t x0, std::size_t x1);

// Axial sites (2y+1, 2x) of an odd output row 2y+1: e1, e2 are input rows y,
// y+1; o0, o1, o2 output rows 2y-1, 2y+1, 2y+3.
void OddAxialRow(const float* e1, const float* e2, const float* o0, const float* o1, const float* o2, const float* u,
                 std::size_t w, const float* q, float* row, std::size_t x0, std::size_t x1);
void OddAxialRowScalar(const float* e1, const float* e2, const float* o0, const float* o1, const float* o2,
                       const float* u, std::size_t w, const float* q, float* row, std::size_t x0, std::size_t x1);

// Raw weights u[x] = (scale / (C + 150))^4 of sites x in [x0, x1) with the
// costs C = cost[x * step + first]: step 1 (a row of costs), or step 2 and
// first 0 or 1 (its even or odd samples).
void RawWeights(float* u, const float* cost, std::size_t step, std::size_t first, float scale, std::size_t x0,
                std::size_t x1);
void RawWeightsScalar(float* u, const float* cost, std::size_t step, std::size_t first, float scale, std::size_t x0,
                      std::size_t x1);

// The even samples of a row: even[x] = row[2x] for x in [x0, x1).
void EvenSamples(float* even, const float* row, std::size_t x0, std::size_t x1);
void EvenSamplesScalar(float* even, const float* row, std::size_t x0, std::size_t x1);

// The raw weights of sites x in [x0, x1), K rows of them w apart in u,
// normalised to sum 0.5 in place, and each site's confidence, twice its
// largest weight (all 0 where the weights sum to 0 or less).
void NormaliseRow(float* u, std::size_t w, int K, float* confidence, std::size_t x0, std::size_t x1);
void NormaliseRowScalar(float* u, std::size_t w, int K, float* confidence, std::size_t x0, std::size_t x1);

// Directional cost over the row segment [c0, c1) of the three estimate rows
// g, with plus and minus the rows of the pairs (dy rows below and above, or
// their mirror images): the sum over the planes of
// (G(c) - P(c+dx))^2 + (M(c-dx) - G(c))^2.
void CostRow(float* map, const float* const* g, const float* const* plus, const float* const* minus, std::size_t c0,
             std::size_t c1, std::ptrdiff_t dx);
void CostRowScalar(float* map, const float* const* g, const float* const* plus, const float* const* minus,
                   std::size_t c0, std::size_t c1, std::ptrdiff_t dx);

}  // namespace kestrune::Resampling
