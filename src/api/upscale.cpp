// Upscale: the pipeline over the public image, its checks, and the final
// resampling to the requested size. With alpha, the pipeline enlarges the
// colour with the colour under transparent pixels replaced by the visible
// colour around them, and alpha is enlarged bilinearly: exact at the source
// samples, within the source's range and free of ringing, which the
// sharpening enhancement is not. (Premultiplied colour would leave a dark
// seam wherever the sharpened colour edge runs inside the softer alpha edge.)
#include "kestrune/upscale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <string>

#include "api/alpha_planes.h"
#include "api/image_access.h"
#include "api/upscale_params.h"
#include "base/available_memory.h"
#include "base/threading.h"
#include "resampling/fixed_upscalers.h"
#include "resampling/linear_resampler.h"
#include "upscale/jpeg_observation.h"
#include "upscale/tiled_upscale.h"
#include "upscale/upscale_pipeline.h"

namespace kestrune {

namespace {

// The size of the result: the requested one, or twice the source's.
void TargetSize(uint32_t w, uint32_t h, const UpscaleOptions& o, uint32_t& tw, uint32_t& th) {
  tw = o.width != 0 ? o.width : 2 * w;
  th = o.height != 0 ? o.height : 2 * h;
}

std::string Gigabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f GB", double(bytes) / 1e9);
  return text;
}

}  // namespace

uint64_t UpscaleMemoryNeeded(uint32_t w, uint32_t h, const UpscaleOptions& o, bool withAlpha) {
  // Not knowing the source, the JPEG model's share is counted as for a file
  // with subsampled chroma, the smallest tiles it may take.
  return UpscaleMemoryNeeded(w, h, o, withAlpha, o.jpegModel ? 16 : 0, kTileCore);
}

uint64_t UpscaleMemoryNeeded(uint32_t w, uint32_t h, const UpscaleOptions& o, bool withAlpha, int jpegBlock,
                             int core) {
  // Bytes per source pixel of each phase: the x2 estimate (48) lives
  // throughout; NEDI adds its padded planes and work buffers, the direction
  // analysis its weights and cost maps, the loop the fourteen working
  // planes, the analysed resampler and the fractal search's tables. Alpha
  // adds the x2 alpha plane (16) and, during the pipeline, the filled copies
  // of the source (12) and initial image (48); a final resize then makes
  // alpha and the divisor of the colour beside the colour (8 more per result
  // pixel).
  const bool edgeDir = o.edgeDirIterations != -1;
  const double nedi = o.initialMethod == InitialMethod::kNedi ? 161 : 0;
  const double analysis = edgeDir || o.initialMethod == InitialMethod::kEdgeDirectional ? 200 : 0;
  const double loop = 152 + (edgeDir ? 120 : 0) + (o.fractalSubstitutions > 0 ? 16 : 0);
  const double estimate = withAlpha ? 64 : 48;
  const double copies = !withAlpha ? 0 : o.initialMethod == InitialMethod::kFromImage ? 60 : 12;
  const double pixels = double(w) * double(h);
  uint32_t tw, th;
  TargetSize(w, h, o, tw, th);
  const double result = tw == 2 * w && th == 2 * h ? 0 : (withAlpha ? 20.0 : 12.0) * double(tw) * double(th);
  // The JPEG model's buffers beside every phase's, and its start (12).
  auto model = [&](double rw, double rh) {
    return jpegBlock == 0 ? 0.0 : JpegObservation::BytesBound(rw, rh) + 12 * rw * rh;
  };
  // In tiles the run's own buffers are those of one tile, plus the tile's
  // source, result and initial image cut from the picture.
  double work = pixels * std::max({nedi, analysis, loop}) + model(w, h);
  if (UseTiles(w, h)) {
    const double side = core + 2.0 * TileMargin(ToParams(o), jpegBlock);
    const double tile = std::min<double>(w, side) * std::min<double>(h, side);
    work = tile * (std::max({nedi, analysis, loop}) + 60 + (o.initialMethod == InitialMethod::kFromImage ? 48 : 0)) +
           model(std::min<double>(w, side), std::min<double>(h, side));
  }
  const double peak = std::max(pixels * (estimate + copies) + work, estimate * pixels + result);
  return static_cast<uint64_t>(peak) + (uint64_t{16} << 20);
}

TileGrid UpscaleTileGrid(uint32_t w, uint32_t h, const UpscaleOptions& o, bool withAlpha, const JpegCoefficients* jpeg,
                         uint64_t available) {
  const int block = jpeg != nullptr ? JpegObservation::BlockSide(*jpeg) : 0;
  const int core = block != 0 && UpscaleMemoryNeeded(w, h, o, withAlpha, block, kJpegTileCore) <= available
                       ? kJpegTileCore
                       : kTileCore;
  return TileGrid{core, TileMargin(ToParams(o), block)};
}

Error CheckUpscale(uint32_t w, uint32_t h, const UpscaleOptions& o) {
  std::string problem = CheckUpscaleRun(w, h, o, true);
  if (problem.empty()) return {};
  return Error{ErrorCode::kInvalidArgument, std::move(problem)};
}

std::string CheckUpscaleRun(uint32_t w, uint32_t h, const UpscaleOptions& o, bool resultHeld) {
  if (o.iterations > 1000) return "The number of iterations must be from 0 to 1000.";
  if (o.fractalSubstitutions > 100) return "The number of fractal substitutions must be from 0 to 100.";
  const std::pair<float, const char*> numbers[] = {{o.strength, "The strength"},
                                                   {o.sideLobe, "The filter side lobe"},
                                                   {o.regularization, "The regularization amount"},
                                                   {o.variableRegularization, "The variable regularization"}};
  for (const auto& [value, name] : numbers)
    if (!std::isfinite(value)) return std::string(name) + " must be a finite number.";
  if (static_cast<int>(o.initialMethod) < 0 || static_cast<int>(o.initialMethod) > 4)
    return "Unknown initial enlargement.";
  if (const std::string problem = CheckUpscaleSettings(w, h, ToParams(o)); !problem.empty()) return problem;
  if (resultHeld ? !ImageSizeAllowed(uint64_t{2} * w, uint64_t{2} * h) : std::max(w, h) > kMaxImageSide / 2)
    return "The image is too large for Kestrune interpolation.";
  uint32_t tw, th;
  TargetSize(w, h, o, tw, th);
  if (resultHeld && !ImageSizeAllowed(tw, th)) return "The requested size is too large.";
  if (o.initialMethod == InitialMethod::kFromImage &&
      (o.initialImage == nullptr || o.initialImage->Width() != 2 * w || o.initialImage->Height() != 2 * h))
    return "Image dimensions do not match!";
  return {};
}

Result<Image> Upscale(const Image& source, const UpscaleOptions& options, Progress* progress) {
  if (source.IsEmpty()) return Error{ErrorCode::kInvalidArgument, "The image is empty."};
  const uint32_t w = source.Width(), h = source.Height();
  if (Error problem = CheckUpscale(w, h, options)) return problem;
  const JpegCoefficients* jpeg = options.jpegModel ? ImageAccess::Planes(source).jpeg.get() : nullptr;
  const uint64_t available = AvailableMemoryBytes();
  const TileGrid grid = UpscaleTileGrid(w, h, options, source.HasAlpha(), jpeg, available);
  const uint64_t needed = UpscaleMemoryNeeded(w, h, options, source.HasAlpha(),
                                              jpeg != nullptr ? JpegObservation::BlockSide(*jpeg) : 0, grid.core);
  if (needed > available)
    return Error{ErrorCode::kOutOfMemory, "Kestrune interpolation of a " + std::to_string(w) + " x " +
                                              std::to_string(h) + " image needs about " + Gigabytes(needed) +
                                              " of memory; " + Gigabytes(available) + " are available."};
  try {
    const FloatImage& src = ImageAccess::Planes(source);
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
      if (options.initialMethod == InitialMethod::kFromImage) {
        const FloatImage& given = ImageAccess::Planes(*options.initialImage);
        const bool own = transparent && given.HasAlpha() && !IsOpaque(given.samples(FloatImage::kAlpha), W * H);
        if (own) initial = filled(given);
        for (int c = 0; c < 3; ++c) init[c] = own ? initial.samples(c) : given.samples(c);
      }
      const SRParams params = ToParams(options);
      if (tiled) {
        const bool guided = options.initialMethod == InitialMethod::kFromImage;
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
    TargetSize(w, h, options, tw, th);
    Image result;
    if (tw == 2 * w && th == 2 * h) {
      if (transparent) ClearHiddenColour(colour2, alpha2, W * H);
      result = ImageAccess::ResultOf(std::move(estimate), source);
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
      ResizeOptions scaling;
      scaling.width = tw;
      scaling.height = th;
      scaling.filter = Filter::kCatmullRom;
      // The x2 result is resized as Resize would resize it.
      if (transparent) Premultiply(colour2, alpha2, W * H);
      FloatImage resized;
      resized.Allocate(tw, th, hasAlpha);
      for (int c = 0; c < 3; ++c)
        ResizePlane(estimate.samples(c), 2 * w, 2 * h, resized.samples(c), tw, th, FilterCatmullRom, 0.0f, 0.0f,
                    0.0f, 0.0f, 1.0f);
      if (transparent)
        FinishAlphaResize(alpha2, 2 * w, 2 * h, resized, scaling);
      else if (hasAlpha)
        FillOpaque(resized);
      result = ImageAccess::ResultOf(std::move(resized), source);
    }
    if (!complete) return Result<Image>(std::move(result), Error{ErrorCode::kCancelled, "Stopped before the end."});
    return result;
  } catch (const std::bad_alloc&) {
    return Error{ErrorCode::kOutOfMemory, "Not enough memory for this image."};
  }
}

}  // namespace kestrune
