// UpscalePipeline: reports, the fourteen working planes, the initial x2
// enlargement (bilinear, bicubic, edge-directed, NEDI in strips of 8 rows, or
// a loaded image), the resampler of the residual, and the enhancement loop
// with its cancellation point.
#include "upscale/upscale_pipeline.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include "base/sample_buffer.h"
#include "kestrune/upscale.h"
#include "learned/learned_start.h"
#include "resampling/edge_dir_resampler.h"
#include "resampling/fixed_upscalers.h"
#include "resampling/nedi.h"
#include "upscale/centred_grid.h"
#include "upscale/enhancement.h"
#include "upscale/fractal_texture.h"
#include "upscale/jpeg_observation.h"
#include "upscale/mirror_border.h"
#include "upscale/observation_choice.h"
#include "upscale/working_planes.h"

namespace kestrune {

namespace {

// The reports of one run: each carries the stage, the share done and the
// output planes as they stand.
class Reporter {
 public:
  Reporter(Progress* progress, float* const out[3], int W, int H) : progress_(progress) {
    report_.estimate.width = static_cast<uint32_t>(W);
    report_.estimate.height = static_cast<uint32_t>(H);
    for (int c = 0; c < 3; ++c) report_.estimate.planes[c] = out[c];
  }

  // Sends the stage with the share done so far (unchanged when percent < 0);
  // false when there is no one to report to.
  bool Send(Stage stage, float percent = -1.0f) {
    if (progress_ == nullptr) return false;
    report_.stage = stage;
    if (percent >= 0.0f) report_.percent = percent;
    progress_->Report(report_);
    return true;
  }
  bool SendIteration(uint32_t it, uint32_t total, bool substitution) {
    report_.step = it;
    report_.total = total;
    report_.substitution = substitution;
    return Send(Stage::kEnhancement, static_cast<float>(50.0 + 50.0 * double(it) / double(total)));
  }
  void SetRowsDone(int rows) { report_.rowsDone = static_cast<uint32_t>(rows); }
  bool CancelRequested() const { return progress_ != nullptr && progress_->CancelRequested(); }

 private:
  Progress* progress_;
  ProgressReport report_;
};

void NediUpscale(const float* const src[3], int w, int h, float* const out[3], Reporter& reporter,
                 const TilePlacement* tile) {
  Nedi nedi;
  nedi.trainingCapture = false;
  nedi.referenceLoading = false;
  nedi.blurSpread = 0.2f;
  nedi.noiseAmplitude = 4.0f;
  if (tile != nullptr) {
    // Both grids are padded by 8 source samples, so the offset is the tile's.
    nedi.originX = 2 * tile->x;
    nedi.originY = 2 * tile->y;
    nedi.keyWidth = 2 * (tile->pictureWidth + 16);
    nedi.localSmoothing = true;
  }

  const int pw = w + 16, ph = h + 16, W = 2 * w, H = 2 * h;
  SampleBuffer paddedIn[3], paddedOut[3];
  for (int c = 0; c < 3; ++c) {
    AssignParallel(paddedIn[c], std::size_t(pw) * std::size_t(ph));
    AssignParallel(paddedOut[c], std::size_t(2 * pw) * std::size_t(2 * ph));
    PadMirror(src[c], w, h, 8, paddedIn[c].data());
  }
  reporter.Send(Stage::kInitialEnlargement);

  nedi.Init(paddedIn[0].data(), paddedIn[1].data(), paddedIn[2].data(), paddedOut[0].data(), paddedOut[1].data(),
            paddedOut[2].data(), pw, ph, 1, 1.0f, nullptr, false, true);
  nedi.ProcessStrip(8);
  // The rows finished after a strip are final (NEDI only works ahead of
  // them), so each report copies just the rows that are new since the last.
  const std::ptrdiff_t paddedW = 2 * std::ptrdiff_t(pw);
  int rowsShown = 0;
  for (int k = 1; 8 * k - 8 < h; ++k) {
    const int rowsDone = std::min(8 * k + 8, h + 16);
    nedi.ProcessStrip(8);
    const int rowsOut = std::min(16 * k, H);
    for (int c = 0; c < 3; ++c)
      CropPadded(out[c] + std::ptrdiff_t(rowsShown) * W, W, rowsOut - rowsShown, 16,
                 paddedOut[c].data() + std::ptrdiff_t(rowsShown) * paddedW);
    rowsShown = rowsOut;
    reporter.SetRowsDone(rowsOut);
    reporter.Send(Stage::kInitialEnlargement, static_cast<float>(50.0 * rowsDone / (h + 16)));
  }
  nedi.ReleaseBuffers();
  for (int c = 0; c < 3; ++c) CropPadded(out[c], W, H, 16, paddedOut[c].data());
}

// Fractal substitutions are left out under the centred model: they lowered
// its results below those of the same iterations without them (the learned
// start's by 0.4 dB, NEDI's by 0.17 dB on the software-halved photographs of
// bench/source_model_eval.py). The learned start (not a loaded image) goes
// without them too: it is already close, and substituted texture replaced
// finer detail than it added (0.28 dB below the start alone on one held-out
// photograph blurred like optics).
bool DropsSubstitutions(const SRParams& p, bool guided) {
  return p.observation == Observation::kCentred || (!guided && p.initialMethod == InitialMethod::kLearned);
}

}  // namespace

std::string CheckUpscaleSettings(uint32_t w, uint32_t h, const SRParams& params) {
  char text[256];
  if (w < kMinUpscaleSide || h < kMinUpscaleSide) {
    std::snprintf(text, sizeof text,
                  "The image is too small to enlarge (%ux%u): Kestrune interpolation needs at least %ux%u pixels.", w,
                  h, kMinUpscaleSide, kMinUpscaleSide);
    return text;
  }
  const bool substitutions = params.fractalSubsts > 0 && !DropsSubstitutions(params, false);
  if (substitutions && (w < kMinFractalSide || h < kMinFractalSide)) {
    std::snprintf(text, sizeof text,
                  "The image is too small for fractal substitutions (%ux%u): they need at least %ux%u pixels. "
                  "Set the number of fractal substitutions to 0.",
                  w, h, kMinFractalSide, kMinFractalSide);
    return text;
  }
  if (params.edgeDirIterations < -1)
    return "Edge-dir interp. iterations must be -1 (bilinear enlargement of the residual) or more.";
  if (params.sideLobe == 0.5f)
    return "A filter side lobe of 0.5 leaves the downsampling filter undefined: enter another value.";
  if (params.initialMethod == InitialMethod::kLearned && params.learned == nullptr) {
    std::string error;
    for (LearnedFor kind : kLearnedKinds)
      if (BuiltInLearnedNetwork(&error, kind) == nullptr) return error;
  }
  return {};
}

bool UpscalePipeline(const float* const src[3], int w, int h, float* const out[3], const float* const init[3],
                     const SRParams& params, Progress* progress, const TilePlacement* tile,
                     const JpegCoefficients* jpeg) {
  SRParams p = tile == nullptr ? ResolveObservation(params, src, w, h) : params;
  const bool guided = init != nullptr && init[0] != nullptr && init[1] != nullptr && init[2] != nullptr;
  if (DropsSubstitutions(p, guided)) p.fractalSubsts = 0;
  // The learned start takes half the step under either model: a full first
  // step overshot a start this close.
  if (!guided && p.initialMethod == InitialMethod::kLearned) p.beta *= 0.5f;
  const std::size_t large = std::size_t(2 * w) * std::size_t(2 * h);
  Reporter reporter(progress, out, 2 * w, 2 * h);
  const LargeBlockReuse reuse;

  reporter.Send(Stage::kAllocating, 0.0f);
  // The working planes are allocated once, right before the loop: the
  // buffers of NEDI and of the direction analysis are gone by then, which
  // keeps the peak memory of the run lower. Nothing uses them before.
  std::optional<WorkingPlanes> workingPlanes;
  reporter.Send(Stage::kInitialEnlargement, 0.0f);
  FractalTexture fractal;
  std::optional<JpegObservation> observation;
  // A JPEG source's enlargement starts from its decoding with the block
  // edges the file does not need softened (JpegObservation::Start).
  SampleBuffer startPlanes[3];
  const float* start[3] = {src[0], src[1], src[2]};
  if (jpeg != nullptr) {
    observation.emplace(*jpeg, w, h, tile != nullptr ? tile->x : 0, tile != nullptr ? tile->y : 0);
    if (!guided) {
      float* planes[3];
      for (int c = 0; c < 3; ++c) {
        AssignParallel(startPlanes[c], std::size_t(w) * std::size_t(h));
        start[c] = planes[c] = startPlanes[c].data();
      }
      observation->Start(src, planes);
    }
  }

  // On the centred grid the fixed-weight starts are made there; the
  // edge-directed ones on the aligned grid and moved; a loaded image is
  // taken as it is.
  const bool centred = p.observation == Observation::kCentred;
  const bool moved = centred && !guided && StartsAligned(p.initialMethod);
  if (guided) {
    for (int c = 0; c < 3; ++c) CopyParallel(init[c], large, out[c]);
  } else if (centred && !moved &&
             (p.initialMethod == InitialMethod::kBilinear || p.initialMethod == InitialMethod::kBicubic)) {
    StartOnCentredGrid(p.initialMethod, start, w, h, out);
  } else if (p.initialMethod == InitialMethod::kBilinear) {
    for (int c = 0; c < 3; ++c) UpscaleBilinear2(start[c], w, h, out[c], 2);
  } else if (p.initialMethod == InitialMethod::kBicubic) {
    for (int c = 0; c < 3; ++c) UpscaleBicubic2(start[c], w, h, out[c], 2);
  } else if (p.initialMethod == InitialMethod::kLearned) {
    // Each source model has a network of its own, and another for JPEG
    // sources, trained on such files.
    const LearnedFor kind = jpeg != nullptr ? (centred ? LearnedFor::kReducedJpeg : LearnedFor::kCameraJpeg)
                                            : (centred ? LearnedFor::kReduced : LearnedFor::kCamera);
    const auto network = p.learned != nullptr ? p.learned : BuiltInLearnedNetwork(nullptr, kind);
    if (network == nullptr) return false;  // refused by CheckUpscaleSettings before
    LearnedUpscale2(*network, start, w, h, out, tile != nullptr ? tile->x : 0, tile != nullptr ? tile->y : 0);
  } else if (p.initialMethod == InitialMethod::kEdgeDirectional) {
    Resampling::EdgeDirResampler edgeDir;
    edgeDir.localSmoothing = tile != nullptr;
    edgeDir.SetSize(w, h);
    edgeDir.Analyze(start[0], start[1], start[2], nullptr, nullptr, nullptr, 2);
    edgeDir.Apply(start[0], start[1], start[2], out[0], out[1], out[2]);
  } else {
    NediUpscale(start, w, h, out, reporter, tile);
  }
  if (moved) StartOnCentredGrid(p.initialMethod, start, w, h, out);
  for (SampleBuffer& plane : startPlanes) SampleBuffer().swap(plane);
  reporter.SetRowsDone(2 * h);

  reporter.Send(Stage::kPreparing);
  EnhancementSchedule schedule(p);
  Resampling::EdgeDirResampler residualResampler;
  residualResampler.localSmoothing = tile != nullptr;
  if (p.edgeDirIterations != -1) {
    residualResampler.SetSize(w, h);
    residualResampler.Analyze(src[0], src[1], src[2], guided ? init[0] : nullptr, guided ? init[1] : nullptr,
                              guided ? init[2] : nullptr, static_cast<unsigned>(p.edgeDirIterations));
  }

  workingPlanes.emplace(w, h);
  WorkingPlanes& planes = *workingPlanes;

  // A substitution runs after the edge weights have used the enlarged-residual
  // planes and the scratch plane and before the iteration writes them again:
  // they serve as its accumulators and estimate bytes. Its other buffers are
  // sized now, after the initial enlargement has freed its own, so that the
  // loop allocates nothing.
  fractal.LendBuffers(planes.enlargedResidual[0].data(), planes.enlargedResidual[1].data(),
                      planes.enlargedResidual[2].data(), planes.scratch.data());
  if (p.fractalSubsts > 0) fractal.Reserve(2 * w, 2 * h, w, h);

  EnhancementContext context;
  for (int c = 0; c < 3; ++c) context.source[c] = src[c], context.estimate[c] = out[c];
  context.w = w, context.h = h;
  context.planes = &planes;
  context.params = &p;
  context.resampler = &residualResampler;
  context.fractal = &fractal;
  context.localSmoothing = tile != nullptr;
  context.onSubstitution = [&](uint32_t it) { reporter.SendIteration(it, schedule.total, true); };
  if (observation) context.jpeg = &*observation;

  for (uint32_t it = 0; it < schedule.total; ++it) {
    if (reporter.SendIteration(it, schedule.total, false) && reporter.CancelRequested()) return false;
    EnhancementIteration(schedule, it, context);
  }
  return true;
}

}  // namespace kestrune
