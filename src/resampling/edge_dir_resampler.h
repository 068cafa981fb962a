// EdgeDirResampler: x2 enlargement of a three-plane image that re-estimates
// the new samples along the locally dominant edge direction. Analyze() looks
// at one image and stores per-position direction weights and confidences;
// Apply() enlarges any image of the same size with them.
#pragma once

namespace Resampling {

class EdgeDirResampler {
 public:
  EdgeDirResampler();
  virtual ~EdgeDirResampler();

  // Input size w x h; sizes the buffers for the 2w x 2h output (weights 0).
  void SetSize(int w, int h);
  // Inputs w x h; guides 2w x 2h or all null (then the bicubic enlargement is
  // the starting estimate). Runs the direction analysis `iterations` times.
  void Analyze(const float* inR, const float* inG, const float* inB, const float* guideR, const float* guideG,
               const float* guideB, unsigned iterations);
  // Writes the 2w x 2h enlargement of the w x h input with the stored weights.
  void Apply(const float* inR, const float* inG, const float* inB, float* outR, float* outG, float* outB) const;

  const int directionCount = 14;

};

}  // namespace Resampling
