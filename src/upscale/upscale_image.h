// The enlargement of a whole image as the library offers it: its checks, the
// memory it needs, alpha, the choice between tiles and the whole picture, and
// the final resampling to the requested size.
#pragma once

#include <cstdint>
#include <string>

#include "image/float_image.h"
#include "kestrune/progress.h"
#include "kestrune/result.h"
#include "upscale/sr_params.h"

namespace kestrune {

// One enlargement's settings: the pipeline's, and what the run around it
// takes. The library's UpscaleOptions translate into this record
// (ToSettings in src/api/upscale_params.h).
struct UpscaleSettings {
  SRParams params;
  // The initial image of kFromImage ("Load from file"); not owned.
  const FloatImage* initialImage = nullptr;
  // Hold a source read from a JPEG file to the file's coefficients.
  bool jpegModel = true;
  // The size of the result; 0 means twice the source's.
  uint32_t width = 0, height = 0;
};

// About how many bytes a run on a w x h source takes at its peak.
uint64_t UpscaleMemoryEstimate(uint32_t w, uint32_t h, const UpscaleSettings& settings, bool withAlpha);

// An empty string when a w x h source can be enlarged with `settings`, else
// the message to show the user. A result written by rows is never held
// (`resultHeld` false), so only its sides are limited, not its pixel count.
std::string CheckUpscaleRun(uint32_t w, uint32_t h, const UpscaleSettings& settings, bool resultHeld);

// Enlarges `source` (see kestrune::Upscale for what it does with alpha,
// tiles, other sizes and cancellation). The result carries no metadata.
Result<FloatImage> UpscaleImage(const FloatImage& source, const UpscaleSettings& settings, Progress* progress);

}  // namespace kestrune
