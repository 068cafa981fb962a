// Nedi: x2 enlargement of a three-plane image by new edge-directed
// interpolation. Starting from the edge-directed resampler's enlargement, each
// non-flat new sample is re-estimated as a weighted sum of symmetric
// neighbour pairs, with weights fitted by least squares to a window of
// degraded training copies; diagonal sites first, then axial sites. The work
// runs in strips of low-resolution rows so that callers can show progress.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/sample_buffer.h"

namespace kestrune {

class Nedi {
 public:
  Nedi();
  virtual ~Nedi();

  // Binds the planes (inputs w x h, outputs 2w x 2h, all owned by the caller),
  // allocates the work buffers and prepares the initial estimate, the
  // activity map and the training copies. Only the configuration the
  // upscaling pipeline uses is supported: extendedNeighbourhood 1,
  // thresholdDivisor 1.0, no mask, keepTrainingClean false, symmetricPairs
  // true, and both flags below false; anything else, a size below 1, a
  // blurSpread that is not positive or a noiseAmplitude that is not finite
  // throws std::invalid_argument.
  void Init(const float* inR, const float* inG, const float* inB, float* outR, float* outG, float* outB, int w, int h,
            int extendedNeighbourhood = 1, float thresholdDivisor = 1.0f, const float* mask = nullptr,
            bool keepTrainingClean = false, bool symmetricPairs = true);
  // Advances by `rows` low-resolution rows (the pipeline passes 8). Finished
  // samples appear in the output planes; the rest hold the initial estimate.
  // Strips of any height give the same result as one call covering all rows.
  // A call with rows <= 0, or after everything is done, changes nothing.
  void ProcessStrip(int rows);
  // Frees the work buffers allocated by Init.
  void ReleaseBuffers();

  float blurSpread = 0.1f;       // spread of the training blur; must be > 0
  float noiseAmplitude = 20.0f;  // peak-to-peak amplitude of the training noise
  bool trainingCapture = false;  // must be false
  bool referenceLoading = true;  // must be set to false before Init
  // Enlargement in tiles: where this run's output grid lies in the whole
  // picture's (both padded alike), so that the training noise, keyed by
  // position, is the picture's; and local smoothing (HannSmoothLocal) of the
  // activity and of the starting estimate's direction analysis.
  int originX = 0, originY = 0;  // added to output columns and rows
  int keyWidth = 0;              // the picture's output width; 0: this run's
  bool localSmoothing = false;

  // Bytes of work buffers currently held, for memory reports.
  std::size_t HeldBytes() const;

  // The least-squares fit shared by both passes, exposed for testing: X holds
  // `rows` rows of 6 regressors (row-major), b the targets. Writes the six
  // weights to a; returns false (and the fallback weights 0.25, 0.25, 0, 0,
  // 0, 0) when the normal matrix has an exactly zero pivot.
  static bool FitWeights(const float* X, const float* b, int rows, float* a);

 private:
  void PassOne(int yEnd);
  void ProvisionalRows(int rEnd);
  void PassTwo(int rEnd);

  const float* in_[3] = {nullptr, nullptr, nullptr};
  float* out_[3] = {nullptr, nullptr, nullptr};
  int w_ = 0, h_ = 0, W_ = 0, H_ = 0;
  float threshold_ = 25.0f;
  int stripStart_ = 0;       // first low-resolution row of the next strip
  int pass1Next_ = 0;        // next low-resolution row of pass 1
  int provisionalNext_ = 0;  // next output row of the provisional planes
  int pass2Next_ = 0;        // next output row of pass 2

  // The initial estimate is not kept apart: the samples the diagonal pass
  // reads from it are still unchanged in the output planes (see Init).
  SampleBuffer activity_;        // w x h
  SampleBuffer training_[3];     // degraded training copies, W x H each
  SampleBuffer provisional_[3];  // provisional planes, W x H each
  SampleBuffer trainingBand_;    // either pass's training entries of one block of site rows
  std::vector<float> noise_;     // noise values, see the .cpp
};

}  // namespace kestrune
