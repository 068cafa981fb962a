// UpscaleTileRow and UpscaleInTiles: tiles cut from a band of the source
// with their margins, enlarged one after the other (each with every thread),
// their cores copied out; reports of the tile in hand rewritten as reports of
// the whole picture.
#include "upscale/tiled_upscale.h"

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <vector>

#include "base/sample_buffer.h"
#include "base/threading.h"
#include "learned/learned_start.h"
#include "upscale/jpeg_observation.h"
#include "upscale/observation_choice.h"

namespace kestrune {

// The margin is the reach of the whole run: how far from an output sample
// the source samples lie that its computation reads, through every stage.
// Reaches below are in output samples (Chebyshev distance on the x2 grid),
// from reading each stage:
// - Starting estimates: bilinear 2, bicubic 4 (two source samples each side).
//   Edge-directed: the bicubic start (4), then per analysis pass the odd-site
//   costs (pairs up to 5 away, smoothed over up to 6: 11) and update, then
//   the axial costs on the updated estimate (pairs up to 2, smoothed over 3:
//   5 more) and update: 16 per pass, 36 after two; its enlargement adds the
//   pairs around a site (odd sites 5 and the axial sites' 2 on top): 43.
//   NEDI: the edge-directed start (43), its 5-tap blurred training copies (2),
//   then the diagonal pass (training positions up to 7 away with their pairs
//   up to 2 on the blurred copies: 9 more, 54) and the axial pass on its
//   results (positions 7, pairs 2, the averaged fetch 1: 10 more): 64.
//   Learned: the network reads kLearnedReach source samples each way (its
//   radius and the differences' one), the cubic start 2: 2 kLearnedReach.
// - Each iteration: the residual's enlargement reads residual samples up to 7
//   away (2 with the bilinear enlargement), each of which the downsampling
//   model computes from estimate samples up to 3 away: 10 (5); the
//   regulariser reads 2, the edge weights 4 (gradient 1, maximum 2,
//   smoothing 1). Iterations chain, so these add up.
// - Each substitution: the 4 x 4 blocks covering a sample (3), their
//   estimate samples (3) and low-pass (1) and one for the rounding of the
//   block centre: 8 on the estimate; its source search reaches 13 source
//   samples (26) around the block, which does not chain.
// - With a JPEG source, each iteration's error at a source sample reads the
//   simulation over the file's whole block (its MCU: 16 source samples with
//   chroma at half resolution, else 8) and the chroma upsampling's neighbour
//   sample (2). The blocks lie on the file's grid, in picture coordinates, so
//   the samples a tile gets wrong stop at a block edge: an iteration moves
//   that edge in by one block, Q = 16 or 32 output samples, as long as the
//   reach that does not follow the grid fits in a block: the simulation's 3
//   (4 with the rounding to source samples) before the blocks, the
//   neighbour's 4 and the residual's enlargement after them, 4 + 4 + 7 = 15
//   at most. A substitution's 8 more cross at most one more block edge. So
//   the chain is Q per iteration and substitution plus those 15 once, in
//   place of the step above. Its start (JpegObservation::Start) adds a block
//   and 3 source samples to the starting estimate's reach.
// - On the centred grid: the antialiased bicubic reduction reads estimate
//   samples up to 4 away (one more than the aligned model) and the
//   residual's enlargement is moved half a sample (one more); the start's
//   move reads 2 more (the edge-directed ones), the centred bilinear 1 more
//   and the centred Catmull-Rom start 2 more than its aligned form.
// - Direct reads of the source that do not chain: the residual resampler's
//   analysis (4 + 16 per pass) under its enlargement's 7.
// In source samples that is half, plus one for the odd sites: 161 with the
// default settings (476 for a JPEG file with chroma at half resolution).
// Reading the code gives an upper bound: measured on a photograph-like chart,
// tiles agree with the whole result from a margin of 60 on (25 for NEDI
// alone), and the tiled tests check the bound itself.
namespace {

// The reach of the starting estimate in output samples (see above).
int StartReach(InitialMethod method) {
  switch (method) {
    case InitialMethod::kBilinear: return 2;
    case InitialMethod::kBicubic: return 4;
    case InitialMethod::kEdgeDirectional: return 43;
    case InitialMethod::kFromImage: return 0;
    case InitialMethod::kLearned: return 2 * kLearnedReach;
    case InitialMethod::kNedi: break;
  }
  return 64;
}

}  // namespace

int TileMargin(const SRParams& p, const JpegCoefficients* jpeg) {
  return TileMargin(p, jpeg != nullptr ? JpegObservation::BlockSide(*jpeg) : 0);
}

int TileMargin(const SRParams& p, int jpegBlock) {
  // The centred model (or the choice that may give it) reads one sample
  // further each way, and its half-sample shifts one or two more.
  const int centred = p.observation == Observation::kAligned ? 0 : 2;
  // A JPEG start reads the smoothing's neighbour, the MCU over it and the
  // chroma upsampling's neighbour sample.
  const bool jpegStart = jpegBlock != 0 && p.initialMethod != InitialMethod::kFromImage;
  const int initial = StartReach(p.initialMethod) + centred + (jpegStart ? 2 * jpegBlock + 6 : 0);
  const int enlargement = p.edgeDirIterations == -1 ? 5 : 10;
  const int iterations = int(p.iterations + 4 * p.fractalSubsts);
  int chain = initial + (std::max(enlargement, 4) + centred) * iterations + 8 * int(p.fractalSubsts);
  if (jpegBlock != 0 && centred != 0) {
    // The grid argument below needs the reach off the grid within a block,
    // which the centred model's two more may exceed: each iteration then adds
    // the block and its neighbour sample to its own step.
    chain =
        initial + (std::max(enlargement, 4) + centred + 2 * (jpegBlock + 1)) * iterations + 8 * int(p.fractalSubsts);
  } else if (jpegBlock != 0) {
    const int block = 2 * jpegBlock, grid = 4 + (block > 16 ? 4 : 0) + enlargement - 3;
    chain = initial + block * (iterations + int(p.fractalSubsts)) + grid;
  }
  const int analysis = p.edgeDirIterations >= 0 ? 4 + 16 * p.edgeDirIterations + 7 : 0;
  const int search = p.fractalSubsts > 0 ? 26 : 0;
  const int reach = std::max({chain, analysis, search});
  return (reach + 1) / 2 + 1;
}

bool UseTiles(uint32_t w, uint32_t h) { return uint64_t{w} * h > kTilingPixels; }

uint32_t TileCount(int w, int h, const TileGrid& grid) {
  const int across = (w + grid.core - 1) / grid.core, down = (h + grid.core - 1) / grid.core;
  return uint32_t(across) * uint32_t(down);
}

namespace {

// Passes a tile's reports on as reports of the whole picture: the share of
// all tiles done, the picture's output as the estimate with its finished
// rows, and the tile's number.
class TileProgress : public Progress {
 public:
  TileProgress(Progress* outer, const ImageView& picture, uint32_t rowsDone, uint32_t bandRows, uint32_t columnsDone,
               uint32_t tile, uint32_t tiles)
      : outer_(outer),
        picture_(picture),
        rowsDone_(rowsDone),
        bandRows_(bandRows),
        columnsDone_(columnsDone),
        tile_(tile),
        tiles_(tiles) {}

  void Report(const ProgressReport& report) override {
    ProgressReport r = report;
    r.percent = 100.0f * (float(tile_) + report.percent / 100.0f) / float(tiles_);
    r.estimate = picture_;
    r.rowsDone = rowsDone_;
    r.bandRows = bandRows_;
    r.bandColumnsDone = columnsDone_;
    r.tile = tile_;
    r.tiles = tiles_;
    outer_->Report(r);
  }
  bool CancelRequested() override { return outer_->CancelRequested(); }

 private:
  Progress* outer_;
  ImageView picture_;
  uint32_t rowsDone_, bandRows_, columnsDone_, tile_, tiles_;
};

}  // namespace

bool UpscaleTileRow(const SourceBand& band, int w, int h, int y0, int y1, float* const out[3], const SRParams& p,
                    const TileGrid& grid, Progress* progress, const ImageView& picture, uint32_t& tileIndex) {
  const int ty0 = std::max(0, y0 - grid.margin), ty1 = std::min(h, y1 + grid.margin);
  const int th = ty1 - ty0, W = 2 * w;
  const bool guided = band.init[0] != nullptr;
  const uint32_t tiles = TileCount(w, h, grid);
  const LargeBlockReuse reuse;  // the tiles of a row have the same sizes
  for (int x0 = 0; x0 < w; x0 += grid.core) {
    const int x1 = std::min(w, x0 + grid.core);
    const int tx0 = std::max(0, x0 - grid.margin), tx1 = std::min(w, x1 + grid.margin);
    const int tw = tx1 - tx0;
    // The tile's source (and initial image) cut from the band.
    std::vector<SampleBuffer> planes(guided ? 9 : 6);
    const float* src[3];
    float* tileOut[3];
    const float* init[3] = {};
    for (int c = 0; c < 3; ++c) {
      planes[c].resize(std::size_t(tw) * th);
      planes[3 + c].resize(std::size_t(4) * tw * th);
      for (int y = 0; y < th; ++y) {
        const float* row = band.planes[c] + std::size_t(ty0 + y - band.y0) * w + tx0;
        std::copy(row, row + tw, planes[c].data() + std::size_t(y) * tw);
      }
      src[c] = planes[c].data();
      tileOut[c] = planes[3 + c].data();
      if (guided) {
        planes[6 + c].resize(std::size_t(4) * tw * th);
        for (int y = 0; y < 2 * th; ++y) {
          const float* row = band.init[c] + std::size_t(2 * (ty0 - band.y0) + y) * W + 2 * tx0;
          std::copy(row, row + 2 * tw, planes[6 + c].data() + std::size_t(y) * 2 * tw);
        }
        init[c] = planes[6 + c].data();
      }
    }
    const TilePlacement placement{tx0, ty0, w};
    bool complete;
    if (progress != nullptr) {
      TileProgress tileProgress(progress, picture, uint32_t(2 * y0), uint32_t(2 * (y1 - y0)), uint32_t(2 * x0),
                                tileIndex, tiles);
      complete =
          UpscalePipeline(src, tw, th, tileOut, guided ? init : nullptr, p, &tileProgress, &placement, band.jpeg);
    } else {
      complete = UpscalePipeline(src, tw, th, tileOut, guided ? init : nullptr, p, nullptr, &placement, band.jpeg);
    }
    if (!complete) return false;
    // The core, rows [2 y0, 2 y1) and columns [2 x0, 2 x1) of the picture.
    for (int c = 0; c < 3; ++c)
      for (int y = 2 * y0; y < 2 * y1; ++y) {
        const float* row = tileOut[c] + std::size_t(y - 2 * ty0) * 2 * tw + 2 * (x0 - tx0);
        std::copy(row, row + 2 * (x1 - x0), out[c] + std::size_t(y - 2 * y0) * W + 2 * x0);
      }
    ++tileIndex;
  }
  return true;
}

bool UpscaleInTiles(const float* const src[3], int w, int h, float* const out[3], const float* const init[3],
                    const SRParams& params, const TileGrid& grid, Progress* progress, const JpegCoefficients* jpeg) {
  const SRParams p = ResolveObservation(params, src, w, h);
  SourceBand band;
  band.jpeg = jpeg;
  for (int c = 0; c < 3; ++c) {
    band.planes[c] = src[c];
    if (init != nullptr) band.init[c] = init[c];
  }
  band.y0 = 0;
  band.rows = h;
  ImageView picture;
  picture.width = uint32_t(2 * w);
  picture.height = uint32_t(2 * h);
  for (int c = 0; c < 3; ++c) picture.planes[c] = out[c];
  uint32_t tileIndex = 0;
  for (int y0 = 0; y0 < h; y0 += grid.core) {
    const int y1 = std::min(h, y0 + grid.core);
    float* rows[3];
    for (int c = 0; c < 3; ++c) rows[c] = out[c] + std::size_t(2 * y0) * 2 * w;
    if (!UpscaleTileRow(band, w, h, y0, y1, rows, p, grid, progress, picture, tileIndex)) return false;
  }
  return true;
}

}  // namespace kestrune
