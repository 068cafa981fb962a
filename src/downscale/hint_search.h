// HintSearch: "Downscale with hinting". Searches, on the luminance of trial
// reductions, for the change of scale and the sub-pixel shift of the output
// grid that make the reduced image crispest, then resizes the colour planes
// with that hint.
#pragma once

#include <cstdint>
#include <functional>

#include "downscale/downscale_params.h"
#include "downscale/progress.h"
#include "image/float_image.h"

namespace kestrune {

// One trial reduction of the search, as reported to a HintTrialObserver.
struct HintTrial {
  int32_t deviationTrial = 0;  // t, 0 .. 2N-1
  bool horizontal = false;     // false: the vertical offset search, true: the horizontal one
  int32_t k = 0;               // offset trial, 0 .. N-1
  int32_t filterType = 0;      // filter of both passes of this reduction
  float offsetX = 0.0f, offsetY = 0.0f;
  float deviationX = 0.0f, deviationY = 0.0f;
  float weight = 0.0f;  // NaN when the scale change is out of reach
  float score = 0.0f;   // SharpnessMeasure of the reduction times weight
};
using HintTrialObserver = std::function<void(const HintTrial&)>;

// Runs the search on `image` with `params` (newWidth and newHeight at least
// 1, trials at least 1), reporting through `progress` (started with Cancel
// disabled and finished before returning). When it runs to its end, `image`
// is replaced by the result of params.newWidth x params.newHeight without
// alpha, `chosen` (when given) receives the hint, and it returns true. When
// the progress reports a cancel request, or `image` is empty or the
// parameters are unusable, `image` is left unchanged and it returns false.
// `observer`, when given, sees every trial reduction in order.
bool HintSearch(FloatImage& image, const DownscaleParams& params, Progress& progress, Hint* chosen = nullptr,
                const HintTrialObserver& observer = nullptr);

}  // namespace kestrune
