// UpscalePipeline: reports, the fourteen working planes, the initial x2
// enlargement (bilinear, bicubic, edge-directed, NEDI in strips of 8 rows with
// a progress marker, or a loaded image), the resampler of the residual, and
// the enhancement loop with its cancellation point.
#include "upscale/upscale_pipeline.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include "base/sample_buffer.h"
#include "resampling/edge_dir_resampler.h"
#include "resampling/nedi.h"
#include "upscale/enhancement.h"
#include "resampling/fixed_upscalers.h"
#include "upscale/fractal_texture.h"
#include "upscale/mirror_border.h"
#include "upscale/working_planes.h"

namespace kestrune {

namespace {

// Stores the new progress and text (when given) and calls the job's
// notification; false when there is no one to report to.
bool Report(UpscaleJob* job, const float* progress, const char* text) {
  if (job == nullptr || !job->notify) return false;
  if (progress != nullptr) job->progress = *progress;
  if (text != nullptr) job->statusText = text;
  job->notify(*job);
  return true;
}

bool Report(UpscaleJob* job, float progress, const char* text) { return Report(job, &progress, text); }

float IterationProgress(uint32_t it, uint32_t total) {
  return static_cast<float>(50.0 + 50.0 * double(it) / double(total));
}

bool ReportIteration(UpscaleJob* job, uint32_t it, uint32_t total, bool fractal) {
  char text[256];
  std::snprintf(text, sizeof text, fractal ? "Iteration %d of %d (fractal substitution)" : "Iteration %d of %d",
                static_cast<int>(it), static_cast<int>(total));
  return Report(job, IterationProgress(it, total), text);
}

void NediUpscale(const float* const src[3], int w, int h, float* const out[3], UpscaleJob* job) {
  Nedi nedi;
  nedi.trainingCapture = false;
  nedi.referenceLoading = false;
  nedi.blurSpread = 0.2f;
  nedi.noiseAmplitude = 4.0f;

  const int pw = w + 16, ph = h + 16, W = 2 * w, H = 2 * h;
  SampleBuffer paddedIn[3], paddedOut[3];
  for (int c = 0; c < 3; ++c) {
    AssignParallel(paddedIn[c], std::size_t(pw) * std::size_t(ph));
    AssignParallel(paddedOut[c], std::size_t(2 * pw) * std::size_t(2 * ph));
    PadMirror(src[c], w, h, 8, paddedIn[c].data());
    // A blocky preview while NEDI works.
    UpscaleReplicate(src[c], w, h, out[c], 2);
  }
  Report(job, nullptr, nullptr);

  nedi.Init(paddedIn[0].data(), paddedIn[1].data(), paddedIn[2].data(), paddedOut[0].data(), paddedOut[1].data(),
            paddedOut[2].data(), pw, ph, 1, 1.0f, nullptr, false, true);
  nedi.ProcessStrip(8);
  // The rows shown after a strip are final (NEDI only works ahead of them),
  // so each report copies just the rows that are new since the last one; the
  // marker row of the last report is among them.
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
    if (rowsOut < H) {
      // A red dashed line (8 on, 24 off) under the finished part.
      const std::size_t row = std::size_t(rowsOut) * std::size_t(W);
      for (int x = 0; x < W; ++x)
        if ((x & 24) == 0) out[0][row + x] = 255.0f, out[1][row + x] = 0.0f, out[2][row + x] = 0.0f;
    }
    Report(job, static_cast<float>(50.0 * rowsDone / (h + 16)), nullptr);
  }
  nedi.ReleaseBuffers();
  for (int c = 0; c < 3; ++c) CropPadded(out[c], W, H, 16, paddedOut[c].data());
}

}  // namespace

std::string CheckUpscaleSettings(uint32_t w, uint32_t h, const SRParams& params) {
  char text[256];
  if (w < kMinUpscaleSide || h < kMinUpscaleSide) {
    std::snprintf(text, sizeof text,
                  "The image is too small to enlarge (%ux%u): Kestrune interpolation needs at least %ux%u pixels.",
                  w, h, kMinUpscaleSide, kMinUpscaleSide);
    return text;
  }
  if (params.fractalSubsts > 0 && (w < kMinFractalSide || h < kMinFractalSide)) {
    std::snprintf(text, sizeof text,
                  "The image is too small for fractal substitutions (%ux%u): they need at least %ux%u pixels. "
                  "Set the number of fractal substitutions to 0.",
                  w, h, kMinFractalSide, kMinFractalSide);
    return text;
  }
  if (params.edgeDirIterations < -1)
    return "Edge-dir interp. iterations must be -1 (bilinear enlargement of the residual) or more.";
  if (params.sideLobe == 0.5f) return "A filter side lobe of 0.5 leaves the downsampling filter undefined: enter another value.";
  return {};
}

void UpscalePipeline(const float* srcR, const float* srcG, const float* srcB, int w, int h, float* outR,
                     float* outG, float* outB, const float* initR, const float* initG, const float* initB,
                     const SRParams* params, UpscaleJob* job) {
  const SRParams& p = job != nullptr ? job->params : *params;
  const float* const src[3] = {srcR, srcG, srcB};
  float* const out[3] = {outR, outG, outB};
  const std::size_t large = std::size_t(2 * w) * std::size_t(2 * h);

  // The status line lives in a buffer of 256 characters, so that reports
  // allocate nothing.
  if (job != nullptr) job->statusText.reserve(256);
  Report(job, 0.0f, "Allocating memory");
  // The working planes are allocated once, right before the loop: the
  // buffers of NEDI and of the direction analysis are gone by then, which
  // keeps the peak memory of the run lower. Nothing uses them before.
  std::optional<WorkingPlanes> workingPlanes;
  Report(job, 0.0f, "Initial upscaling");
  FractalTexture fractal;

  if (initR != nullptr && initG != nullptr && initB != nullptr) {
    const float* const init[3] = {initR, initG, initB};
    for (int c = 0; c < 3; ++c) std::copy_n(init[c], large, out[c]);
  } else if (p.initialMethod == 0) {
    for (int c = 0; c < 3; ++c) UpscaleBilinear2(src[c], w, h, out[c], 2);
  } else if (p.initialMethod == 1) {
    for (int c = 0; c < 3; ++c) UpscaleBicubic2(src[c], w, h, out[c], 2);
  } else if (p.initialMethod == 2) {
    Resampling::EdgeDirResampler edgeDir;
    edgeDir.SetSize(w, h);
    edgeDir.Analyze(srcR, srcG, srcB, nullptr, nullptr, nullptr, 2);
    edgeDir.Apply(srcR, srcG, srcB, outR, outG, outB);
  } else {
    NediUpscale(src, w, h, out, job);
  }

  Report(job, nullptr, "Preparing for sharpness enhancement");
  EnhancementSchedule schedule(p);
  Resampling::EdgeDirResampler residualResampler;
  if (p.edgeDirIterations != -1) {
    residualResampler.SetSize(w, h);
    const bool guided = initR != nullptr && initG != nullptr && initB != nullptr;
    residualResampler.Analyze(srcR, srcG, srcB, guided ? initR : nullptr, guided ? initG : nullptr,
                              guided ? initB : nullptr, static_cast<unsigned>(p.edgeDirIterations));
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
  context.onSubstitution = [&](uint32_t it) { ReportIteration(job, it, schedule.total, true); };

  for (uint32_t it = 0; it < schedule.total; ++it) {
    const bool sent = ReportIteration(job, it, schedule.total, false);
    if (sent && job->cancelRequested.load()) break;
    EnhancementIteration(schedule, it, context);
  }
}

unsigned int UpscaleThreadProc(UpscaleJob* job) {
  const bool hasInit = !job->initialImage.IsEmpty();
  UpscalePipeline(job->source.samples(0), job->source.samples(1), job->source.samples(2),
                  static_cast<int>(job->srcWidth), static_cast<int>(job->srcHeight), job->output[0], job->output[1],
                  job->output[2], hasInit ? job->initialImage.samples(0) : nullptr,
                  hasInit ? job->initialImage.samples(1) : nullptr, hasInit ? job->initialImage.samples(2) : nullptr,
                  nullptr, job);
  if (job->notify) {
    job->finished = true;
    job->notify(*job);
  }
  return 0;
}

}  // namespace kestrune
