// The enlargement of a whole image: the pipeline, its checks, and the final
// resampling to the requested size. With alpha, the pipeline enlarges the
// colour with the colour under transparent pixels replaced by the visible
// colour around them, and alpha is enlarged bilinearly: exact at the source
// samples, within the source's range and free of ringing, which the
// sharpening enhancement is not. (Premultiplied colour would leave a dark
// seam wherever the sharpened colour edge runs inside the softer alpha edge.)
#include "upscale/upscale_image.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <string>

#include "base/available_memory.h"
#include "base/threading.h"
#include "resampling/alpha_planes.h"
#include "resampling/fixed_upscalers.h"
#include "resampling/linear_resampler.h"
#include "upscale/jpeg_observation.h"
#include "upscale/tiled_upscale.h"
#include "upscale/upscale_pipeline.h"

namespace kestrune {

namespace {

// The size of the result: the requested one, or twice the source's.
void TargetSize(uint32_t w, uint32_t h, const UpscaleSettings& s, uint32_t& tw, uint32_t& th) {
  tw = s.width != 0 ? s.width : 2 * w;
  th = s.height != 0 ? s.height : 2 * h;
}

std::string Gigabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f GB", double(bytes) / 1e9);
  return text;
}

}  // namespace

uint64_t UpscaleMemoryEstimate(uint32_t w, uint32_t h, const UpscaleSettings& s, bool withAlpha) {
  // Not knowing the source, the JPEG model's share is counted as for a file
  // with subsampled chroma, the smallest tiles it may take.
  return UpscaleMemoryEstimate(w, h, s, withAlpha, s.jpegModel ? 16 : 0, kTileCore);
}

uint64_t UpscaleMemoryEstimate(uint32_t w, uint32_t h, const UpscaleSettings& s, bool withAlpha, int jpegBlock,
                               int core) {
  // Bytes per source pixel of each phase: the x2 estimate (48) lives
  // throughout; NEDI adds its padded planes and work buffers, the direction
  // analysis its weights and cost maps, the loop the fourteen working
  // planes, the analysed resampler and the fractal search's tables. Alpha
  // adds the x2 alpha plane (16) and, during the pipeline, the filled copies
  // of the source (12) and initial image (48); a final resize then makes
  // alpha and the divisor of the colour beside the colour (8 more per result
  // pixel).
  const SRParams& p = s.params;
  const bool edgeDir = p.edgeDirIterations != -1;
  const double nedi = p.initialMethod == InitialMethod::kNedi ? 161 : 0;
  const double analysis = edgeDir || p.initialMethod == InitialMethod::kEdgeDirectional ? 200 : 0;
  const double loop = 152 + (edgeDir ? 120 : 0) + (p.fractalSubsts > 0 ? 16 : 0);
  const double estimate = withAlpha ? 64 : 48;
  const double copies = !withAlpha ? 0 : p.initialMethod == InitialMethod::kFromImage ? 60 : 12;
  const double pixels = double(w) * double(h);
  uint32_t tw, th;
  TargetSize(w, h, s, tw, th);
  const double result = tw == 2 * w && th == 2 * h ? 0 : (withAlpha ? 20.0 : 12.0) * double(tw) * double(th);
  // The JPEG model's buffers beside every phase's, and its start (12).
  auto model = [&](double rw, double rh) {
    return jpegBlock == 0 ? 0.0 : JpegObservation::BytesBound(rw, rh) + 12 * rw * rh;
  };
  // In tiles the run's own buffers are those of one tile, plus the tile's
  // source, result and initial image cut from the picture.
  double work = pixels * std::max({nedi, analysis, loop}) + model(w, h);
  if (UseTiles(w, h)) {
    const double side = core + 2.0 * TileMargin(p, jpegBlock);
    const double tile = std::min<double>(w, side) * std::min<double>(h, side);
    work = tile * (std::max({nedi, analysis, loop}) + 60 + (p.initialMethod == InitialMethod::kFromImage ? 48 : 0)) +
           model(std::min<double>(w, side), std::min<double>(h, side));
  }
  const double peak = std::max(pixels * (estimate + copies) + work, estimate * pixels + result);
  return static_cast<uint64_t>(peak) + (uint64_t{16} << 20);
}

TileGrid UpscaleTileGrid(uint32_t w, uint32_t h, const UpscaleSettings& s, bool withAlpha, const JpegCoefficients* jpeg,
                         uint64_t available) {
  const int block = jpeg != nullptr ? JpegObservation::BlockSide(*jpeg) : 0;
  const int core = block != 0 && UpscaleMemoryEstimate(w, h, s, withAlpha, block, kJpegTileCore) <= available
                       ? kJpegTileCore
                       : kTileCore;
  return TileGrid{core, TileMargin(s.params, block)};
}

std::string CheckUpscaleRun(uint32_t w, uint32_t h, const UpscaleSettings& s, bool resultHeld) {
  const SRParams& p = s.params;
  if (p.iterations > 1000) return "The number of iterations must be from 0 to 1000.";
  if (p.fractalSubsts > 100) return "The number of fractal substitutions must be from 0 to 100.";
  const std::pair<float, const char*> numbers[] = {{p.beta, "The strength"},
                                                   {p.sideLobe, "The filter side lobe"},
                                                   {p.regularization, "The regularization amount"},
                                                   {p.variableRegularization, "The variable regularization"}};
  for (const auto& [value, name] : numbers)
    if (!std::isfinite(value)) return std::string(name) + " must be a finite number.";
  if (static_cast<int>(p.initialMethod) < 0 || p.initialMethod > InitialMethod::kLearned)
    return "Unknown initial enlargement.";
  if (static_cast<int>(p.observation) < 0 || static_cast<int>(p.observation) > 2) return "Unknown source model.";
  if (const std::string problem = CheckUpscaleSettings(w, h, p); !problem.empty()) return problem;
  if (resultHeld ? !ImageSizeAllowed(uint64_t{2} * w, uint64_t{2} * h) : std::max(w, h) > kMaxImageSide / 2)
    return "The image is too large for Kestrune interpolation.";
  uint32_t tw, th;
  TargetSize(w, h, s, tw, th);
  if (resultHeld && !ImageSizeAllowed(tw, th)) return "The requested size is too large.";
  if (p.initialMethod == InitialMethod::kFromImage &&
      (s.initialImage == nullptr || s.initialImage->width != 2 * w || s.initialImage->height != 2 * h))
    return "Image dimensions do not match!";
  return {};
}

Result<FloatImage> UpscaleImage(const FloatImage& src, const UpscaleSettings& settings, Progress* progress) {
  if (src.IsEmpty()) return Error{ErrorCode::kInvalidArgument, "The image is empty."};
  const uint32_t w = src.width, h = src.height;
  if (std::string problem = CheckUpscaleRun(w, h, settings, true); !problem.empty())
    return Error{ErrorCode::kInvalidArgument, std::move(problem)};
  const JpegCoefficients* jpeg = settings.jpegModel ? src.jpeg.get() : nullptr;
  const uint64_t available = AvailableMemoryBytes();
  const TileGrid grid = UpscaleTileGrid(w, h, settings, src.HasAlpha(), jpeg, available);
  const uint64_t needed = UpscaleMemoryEstimate(w, h, settings, src.HasAlpha(),
                                                jpeg != nullptr ? JpegObservation::BlockSide(*jpeg) : 0, grid.core);
  if (needed > available)
    return Error{ErrorCode::kOutOfMemory, "Kestrune interpolation of a " + std::to_string(w) + " x " +
                                              std::to_string(h) + " image needs about " + Gigabytes(needed) +
                                              " of memory; " + Gigabytes(available) + " are available."};
  try {
    const SRParams& params = settings.params;
    const std::size_t W = 2 * std::size_t{w}, H = 2 * std::size_t{h};
    // An opaque alpha plane leaves the colour exactly as without one.
    const bool hasAlpha = src.HasAlpha();
    const bool transparent = hasAlpha && !IsOpaque(src.samples(FloatImage::kAlpha), src.PixelCount());
    const bool tiled = UseTiles(w, h);
    FloatImage estimate;  // every colour sample is written before it is read
    estimate.Allocate(2 * w, 2 * h, hasAlpha);
    float* const alpha2 = estimate.samples(FloatImage::kAlpha);
    bool complete;
    {
      // The colour with what transparent pixels hide filled in; the initial
      // image likewise when it has transparent pixels of its own.
      auto filled = [](const FloatImage& image) {
        FloatImage copy(image.width, image.height);
        float* const planes[3] = {copy.samples(0), copy.samples(1), copy.samples(2)};
        for (int c = 0; c < 3; ++c) CopyParallel(image.samples(c), image.PixelCount(), planes[c]);
        FillHiddenColour(planes, image.samples(FloatImage::kAlpha), image.width, image.height);
        return copy;
      };
      FloatImage fill, initial;
      if (transparent) fill = filled(src);
      const FloatImage& colour = transparent ? fill : src;
      const float* const planes[3] = {colour.samples(0), colour.samples(1), colour.samples(2)};
      float* const out[3] = {estimate.samples(0), estimate.samples(1), estimate.samples(2)};
      const float* init[3] = {};
      if (params.initialMethod == InitialMethod::kFromImage) {
        const FloatImage& given = *settings.initialImage;
        const bool own = transparent && given.HasAlpha() && !IsOpaque(given.samples(FloatImage::kAlpha), W * H);
        if (own) initial = filled(given);
        for (int c = 0; c < 3; ++c) init[c] = own ? initial.samples(c) : given.samples(c);
      }
      if (tiled) {
        const bool guided = params.initialMethod == InitialMethod::kFromImage;
        complete = UpscaleInTiles(planes, int(w), int(h), out, guided ? init : nullptr, params, grid, progress, jpeg);
      } else {
        complete = UpscalePipeline(planes, int(w), int(h), out, init, params, progress, nullptr, jpeg);
      }
    }
    // Tiles not reached hold nothing: a stopped tiled run has no estimate.
    if (!complete && tiled)
      return Error{ErrorCode::kCancelled, "Stopped before every tile was enlarged; there is no result."};
    if (transparent) {
      UpscaleBilinear2(src.samples(FloatImage::kAlpha), int(w), int(h), alpha2);
      ParallelFor(0, std::ptrdiff_t(W * H), 65536, [&](std::ptrdiff_t i0, std::ptrdiff_t i1) {
        for (std::ptrdiff_t i = i0; i < i1; ++i) alpha2[i] = std::clamp(alpha2[i], 0.0f, 255.0f);
      });
    } else if (hasAlpha) {
      FillOpaque(estimate);
    }
    float* const colour2[3] = {estimate.samples(0), estimate.samples(1), estimate.samples(2)};

    uint32_t tw, th;
    TargetSize(w, h, settings, tw, th);
    FloatImage result;
    if (tw == 2 * w && th == 2 * h) {
      if (transparent) ClearHiddenColour(colour2, alpha2, W * H);
      result = std::move(estimate);
    } else {
      if (progress != nullptr) {
        ProgressReport report;
        report.stage = Stage::kFinalScaling;
        report.percent = 100.0f;
        report.estimate.width = 2 * w;
        report.estimate.height = 2 * h;
        for (int c = 0; c < 3; ++c) report.estimate.planes[c] = estimate.samples(c);
        report.rowsDone = 2 * h;
        progress->Report(report);
      }
      ResizeSettings scaling;
      scaling.width = tw;
      scaling.height = th;
      scaling.filterType = FilterCatmullRom;
      // The x2 result is resized as Resize would resize it.
      if (transparent) Premultiply(colour2, alpha2, W * H);
      result.Allocate(tw, th, hasAlpha);
      for (int c = 0; c < 3; ++c)
        ResizePlane(estimate.samples(c), 2 * w, 2 * h, result.samples(c), tw, th, FilterCatmullRom, 0.0f, 0.0f, 0.0f,
                    0.0f, 1.0f);
      if (transparent)
        FinishAlphaResize(alpha2, 2 * w, 2 * h, result, scaling);
      else if (hasAlpha)
        FillOpaque(result);
    }
    if (!complete)
      return Result<FloatImage>(std::move(result), Error{ErrorCode::kCancelled, "Stopped before the end."});
    return result;
  } catch (const std::bad_alloc&) {
    return Error{ErrorCode::kOutOfMemory, "Not enough memory for this image."};
  }
}

}  // namespace kestrune
