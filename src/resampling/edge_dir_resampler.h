// EdgeDirResampler: x2 enlargement of a three-plane image that re-estimates
// the new samples along the locally dominant edge direction. Analyze() looks
// at one image and stores per-position direction weights and confidences;
// Apply() enlarges any image of the same size with them.
#pragma once

#include <cstddef>
#include <vector>

#include "base/sample_buffer.h"

namespace kestrune {

namespace Resampling {

class EdgeDirResampler {
 public:
  EdgeDirResampler();
  virtual ~EdgeDirResampler();

  // Input size w x h; sizes the buffers for the 2w x 2h output (weights 0).
  // A negative size counts as 0.
  void SetSize(int w, int h);
  // Inputs w x h; guides 2w x 2h or all null (then the bicubic enlargement is
  // the starting estimate). Runs the direction analysis `iterations` times.
  // Inputs narrower or lower than 2 samples have no sites to analyse.
  void Analyze(const float* inR, const float* inG, const float* inB, const float* guideR, const float* guideG,
               const float* guideB, unsigned iterations);
  // Writes the 2w x 2h enlargement of the w x h input with the stored weights.
  // For an input of width or height 1 the single column (row) is repeated.
  void Apply(const float* inR, const float* inG, const float* inB, float* outR, float* outG, float* outB) const;

  const int directionCount = 14;
  // Smooth the direction costs with HannSmoothLocal, so that a sample's
  // weights depend only on the input around it (enlargement in tiles).
  bool localSmoothing = false;

  // The stored weights (to u) and confidence of output position (r, c): 14
  // at an odd site, 6 at an axial site; returns that count, or 0 (nothing
  // written) for positions with both coordinates even or outside the output.
  int StoredWeights(int r, int c, float* u, float* confidence) const;

  // Bytes held between Analyze() and Apply() (weights and confidences), for
  // memory reports.
  std::size_t HeldBytes() const;

 private:
  int w_ = 0, h_ = 0;  // input size; the output is 2w_ x 2h_
  // Weights and confidences are kept only where they are used: one entry per
  // odd site (2y+1, 2x+1), index y*w + x, and one per axial site (r, c),
  // index r*w + c/2.
  SampleBuffer oddWeights_;       // 14 per odd site, weight k of odd row y at (y*14 + k)*w + x
  SampleBuffer oddConfidence_;    // 1 per odd site
  SampleBuffer axialWeights_;     // 6 per axial site, weight k of row r at (r*6 + k)*w + x
  SampleBuffer axialConfidence_;  // 1 per axial site
};

}  // namespace Resampling

}  // namespace kestrune
