// HintSearch: "Downscale with hinting". Searches, on the luminance of trial
// reductions, for the change of scale and the sub-pixel shift of the output
// grid that make the reduced image crispest, then resizes the colour planes
// with that hint.
#pragma once

#include <cstdint>
#include <functional>

#include "downscale/downscale_params.h"
#include "image/float_image.h"
#include "kestrune/progress.h"

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
// 1, trials at least 1), reporting each trial reduction before it starts
// (stage kHintSearch, step and total counting the 4N^2 reductions, the best
// score of the groups done so far) and the final scaling to `progress` (may
// be null), which is asked before each deviation trial whether to stop. When
// it runs to its end, `output` is replaced by the result of params.newWidth x
// params.newHeight without alpha, `chosen` (when given) receives the hint,
// and it returns true. When the progress asks to stop, or `image` is empty or
// the parameters are unusable, `output` is left unchanged and it returns
// false. `output` may be `image`. `observer`, when given, sees every trial
// reduction in order.
bool HintSearch(FloatImage& output, const FloatImage& image, const DownscaleParams& params, Progress* progress,
                Hint* chosen = nullptr, const HintTrialObserver& observer = nullptr);

}  // namespace kestrune
