// SharpnessMeasure: how crisp a plane looks, from the distribution of its
// neighbour differences (larger when they concentrate on few pixels).
#pragma once

#include <cstdint>
#include <vector>

namespace kestrune {

// Score of a row-major width x height plane: n * S2 / (S1^2 + 1e-12) over the
// n horizontal and vertical differences a, b of every pixel but the last row
// and column, with S1 = sum(|a| + |b|) and S2 = sum(a^2 + b^2). The
// differences, absolute values and squares are single-precision values; the
// sums are formed in double precision, pixel by pixel in row order. 0 for a
// plane of one row or one column.
float SharpnessMeasure(const float* plane, uint32_t width, uint32_t height);

// The scores of `count` planes of the same size (count 1 to
// kSharpnessBatch), each exactly what SharpnessMeasure returns for it.
// Several planes at once are faster: the double-precision sums must be
// formed one after another, and the sums of different planes can overlap.
inline constexpr int kSharpnessBatch = 4;
void SharpnessMeasureBatch(const float* const* planes, int count, uint32_t width, uint32_t height, float* scores);

// The running sums of SharpnessMeasure for 1 to kSharpnessBatch planes of the
// same width that are produced row by row: add rows 0 .. height - 2 in order,
// then read the scores, each what SharpnessMeasure gives for its plane.
class SharpnessAccumulator {
 public:
  SharpnessAccumulator(int count, uint32_t width);
  // Adds the differences of row y of every plane: rows[p] is row y of plane
  // p, below[p] its row y + 1.
  void AddRow(const float* const* rows, const float* const* below);
  void Scores(uint32_t height, float* scores) const;

 private:
  int count_;
  uint32_t width_;
  std::vector<double> t1_, t2_;  // one row's terms of every plane
  double s1_[kSharpnessBatch] = {}, s2_[kSharpnessBatch] = {};
};

}  // namespace kestrune
