// Enlargement of large pictures tile by tile, in bounded memory. Each tile is
// its core plus a margin of source samples on every side where the picture
// has them; only the core's enlargement is kept. With local smoothing and
// NEDI's noise in picture coordinates (see UpscalePipeline), an output sample
// depends only on the source within kTileMargin of it, so the tiles together
// give exactly the whole picture's result computed the same way.
#pragma once

#include <cstdint>

#include "kestrune/progress.h"
#include "upscale/sr_params.h"
#include "upscale/upscale_pipeline.h"

namespace kestrune {

// How far, in source samples, the enlargement of a sample reads around it
// with the default settings and up to kMarginIterations iterations in all
// (plain and substitution iterations together). Worked out beside its
// definition in tiled_upscale.cpp.
inline constexpr int kMarginIterations = 24;
// With `jpeg`, the observation model's: a block of the file per iteration.
int TileMargin(const SRParams& params, const JpegCoefficients* jpeg = nullptr);
// The same for a JPEG file whose widest block (MCU) is `jpegBlock` picture
// pixels (JpegObservation::BlockSide), or no JPEG model (0).
int TileMargin(const SRParams& params, int jpegBlock);

// Pictures of more than kTilingPixels source pixels are enlarged in tiles of
// kTileCore x kTileCore source samples; smaller ones whole, as always.
inline constexpr uint64_t kTilingPixels = uint64_t{2048} * 2048;
inline constexpr int kTileCore = 1024;
// With the JPEG model the margin is some 3 times as wide (476 source
// samples with the default settings), and tiles of kTileCore would take
// nearly twice the time without the model: JPEG sources take tiles of
// kJpegTileCore when the memory allows. The result is the same either way.
inline constexpr int kJpegTileCore = 2048;

bool UseTiles(uint32_t w, uint32_t h);

// The tiles' shape: core side and margin, in source samples.
struct TileGrid {
  int core = kTileCore;
  int margin = 0;
};

// A band of the picture held in memory: its rows [y0, y0 + rows) of every
// plane, full width. The initial image ("Load from file"), when there is
// one, is a band of the x2 grid covering rows [2 y0, 2 (y0 + rows)).
struct SourceBand {
  const float* planes[3] = {};
  const float* init[3] = {};
  int y0 = 0, rows = 0;
  const JpegCoefficients* jpeg = nullptr;  // of the whole picture, when the source is a JPEG file
};

// Enlarges the tiles whose cores cover source rows [y0, y1) of the w x h
// picture (the params' observation model chosen beforehand: see
// ResolveObservation) into `out` (three planes of 2w columns holding output rows
// [2 y0, 2 y1)). The band must hold the rows [y0 - margin, y1 + margin) that
// lie inside the picture. Reports carry `picture` as the estimate (may be
// empty) with the rows above y0 finished. `tileIndex` counts the tiles done
// before this row of tiles and is advanced. Returns false when the progress
// asked to stop; the tiles not done are then not written.
bool UpscaleTileRow(const SourceBand& band, int w, int h, int y0, int y1, float* const out[3], const SRParams& params,
                    const TileGrid& grid, Progress* progress, const ImageView& picture, uint32_t& tileIndex);

// The number of tiles of a w x h picture.
uint32_t TileCount(int w, int h, const TileGrid& grid);

// The whole w x h picture, held in memory, tile row by tile row into the
// 2w x 2h planes `out`; reports carry `out` as the estimate, its finished
// rows in rowsDone.
bool UpscaleInTiles(const float* const src[3], int w, int h, float* const out[3], const float* const init[3],
                    const SRParams& params, const TileGrid& grid, Progress* progress,
                    const JpegCoefficients* jpeg = nullptr);

}  // namespace kestrune
