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
#include "upscale/tiled_upscale.h"

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

// About how many bytes a run on a w x h source takes at its peak; with the
// JPEG model on, counted as for a JPEG file with subsampled chroma.
uint64_t UpscaleMemoryEstimate(uint32_t w, uint32_t h, const UpscaleSettings& settings, bool withAlpha);
// The same for a source whose JPEG model reads blocks (MCUs) of `jpegBlock`
// pixels (0: no model), enlarged in tiles of `core` if at all.
uint64_t UpscaleMemoryEstimate(uint32_t w, uint32_t h, const UpscaleSettings& settings, bool withAlpha, int jpegBlock,
                               int core);

// The tiles of a w x h source: with the JPEG model of `jpeg` (may be null)
// the larger ones when the run needs no more than `available` bytes with
// them, else the usual.
TileGrid UpscaleTileGrid(uint32_t w, uint32_t h, const UpscaleSettings& settings, bool withAlpha,
                         const JpegCoefficients* jpeg, uint64_t available);

// An empty string when a w x h source can be enlarged with `settings`, else
// the message to show the user. A result written by rows is never held
// (`resultHeld` false), so only its sides are limited, not its pixel count.
std::string CheckUpscaleRun(uint32_t w, uint32_t h, const UpscaleSettings& settings, bool resultHeld);

// Enlarges `source` (see kestrune::Upscale for what it does with alpha,
// tiles, other sizes and cancellation). The result carries no metadata.
Result<FloatImage> UpscaleImage(const FloatImage& source, const UpscaleSettings& settings, Progress* progress);

}  // namespace kestrune
