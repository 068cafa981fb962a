// Enlargement in tiles: with TileMargin's margin every tile's core is what the
// whole picture gives, for each start, substitutions and residual
// enlargement; a stopped run stops between tiles.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "image/test_chart.h"
#include "learned/learned_start.h"
#include "resampling/fixed_upscalers.h"
#include "support/jpeg_maker.h"
#include "upscale/jpeg_observation.h"
#include "upscale/tiled_upscale.h"
#include "upscale/upscale_pipeline.h"

using namespace kestrune;

namespace {

// Pictures larger than a tile's core with both margins: inner tiles see no
// picture edge. kFromImage: here the bicubic x2; a JPEG orientation: the
// model of a 4:2:0 JPEG turned so.
struct Case {
  const char* name;
  InitialMethod method;
  uint32_t iterations, substitutions;
  int edgeIterations;
  float variable;
  int w, h, core;
  int jpegOrientation = 0;  // not 0: the observation model of a JPEG turned so (6 or 8)
  int chroma = 2;           // its luma sampling factor: 2 4:2:0, 1 4:4:4
  Observation observation = Observation::kAligned;
};
const Case kCases[] = {
    {"NEDI", InitialMethod::kNedi, 1, 0, 2, 1.0f, 200, 150, 40},
    {"bicubic, a substitution", InitialMethod::kBicubic, 1, 1, 2, 1.0f, 200, 150, 40},
    {"bilinear, bilinear residual", InitialMethod::kBilinear, 6, 0, -1, 1.0f, 120, 90, 24},
    {"edge-directed, uniform regulariser", InitialMethod::kEdgeDirectional, 2, 0, 1, 0.0f, 200, 150, 40},
    {"loaded initial image", InitialMethod::kFromImage, 3, 0, 2, 1.0f, 200, 150, 40},
    {"JPEG turned by 6, bilinear residual", InitialMethod::kBilinear, 3, 0, -1, 1.0f, 180, 111, 24, 6},
    {"JPEG 4:4:4 turned by 8", InitialMethod::kBilinear, 3, 0, -1, 1.0f, 120, 90, 24, 8, 1},
    {"JPEG turned by 8, a substitution", InitialMethod::kBicubic, 2, 1, 2, 1.0f, 360, 120, 64, 8},
    {"centred: NEDI moved", InitialMethod::kNedi, 1, 0, 2, 1.0f, 200, 150, 40, 0, 2, Observation::kCentred},
    {"centred: bicubic, bilinear residual, a substitution", InitialMethod::kBicubic, 5, 1, -1, 1, 120, 90, 24, 0, 2,
     Observation::kCentred},
    {"centred: JPEG, bilinear start", InitialMethod::kBilinear, 2, 0, -1, 1.0f, 161, 111, 24, 6, 2,
     Observation::kCentred},
    {"learned, tiles across its blocks", InitialMethod::kLearned, 2, 0, 1, 1.0f, 300, 200, 56},
    {"learned, a JPEG turned by 6", InitialMethod::kLearned, 2, 0, 1, 1.0f, 420, 300, 64, 6},
};

// An image's colour planes, to write into.
struct Planes : FloatImage {
  Planes(int w, int h) : FloatImage(uint32_t(w), uint32_t(h)), out{samples(0), samples(1), samples(2)} {}
  float* out[3];
};

TEST(TiledUpscale, TilesGiveTheWholePicturesResult) {
  for (const Case& k : kCases) {
    if (k.method == InitialMethod::kLearned && !LearnedStartBuilt()) continue;
    SRParams p;
    p.initialMethod = k.method, p.iterations = k.iterations, p.fractalSubsts = k.substitutions;
    p.edgeDirIterations = k.edgeIterations, p.variableRegularization = k.variable;
    p.observation = k.observation;
    const FloatImage chart = RenderTestChart(uint32_t(k.w), uint32_t(k.h), 7);
    JpegCoefficients coefficients;
    const JpegCoefficients* jpeg = k.jpegOrientation != 0 ? &coefficients : nullptr;
    if (jpeg != nullptr) {
      // The chart stored transposed, as a camera held upright stores it.
      const std::vector<uint8_t> file = MakeJpeg({k.h, k.w, 80, 3, k.chroma, k.chroma}, [&](int x, int y, int c) {
        return int(std::clamp(chart.samples(c)[std::size_t(x) * k.w + std::size_t(y)], 0.0f, 255.0f));
      });
      std::string reason;
      ASSERT_EQ(ReadJpegCoefficients(file.data(), file.size(), k.jpegOrientation, coefficients, reason),
                JpegCoefficientsRead::kRead);
    }
    const TileGrid grid{k.core, TileMargin(p, jpeg)};
    ASSERT_LT(k.core + 2 * grid.margin, k.w) << k.name;
    const float* src[3] = {chart.samples(0), chart.samples(1), chart.samples(2)};
    Planes init(2 * k.w, 2 * k.h);
    for (int c = 0; c < 3 && k.method == InitialMethod::kFromImage; ++c) UpscaleBicubic2(src[c], k.w, k.h, init.out[c]);
    const float* initPlanes[3] = {init.out[0], init.out[1], init.out[2]};
    const float* const* guide = k.method == InitialMethod::kFromImage ? initPlanes : nullptr;

    Planes whole(2 * k.w, 2 * k.h), tiled(2 * k.w, 2 * k.h);
    const TilePlacement picture{0, 0, k.w};
    ASSERT_TRUE(UpscalePipeline(src, k.w, k.h, whole.out, guide, p, nullptr, &picture, jpeg));
    ASSERT_TRUE(UpscaleInTiles(src, k.w, k.h, tiled.out, guide, p, grid, nullptr, jpeg));
    for (int c = 0; c < 3; ++c)
      ASSERT_EQ(0, std::memcmp(whole.out[c], tiled.out[c], whole.PixelCount() * sizeof(float))) << k.name << ", " << c;
  }
}

// Stops once the given tile has reported; counts the reports per tile.
class StopAtTile : public Progress {
 public:
  explicit StopAtTile(uint32_t tile) : stop_(tile) {}
  void Report(const ProgressReport& r) override {
    if (r.tile >= seen.size()) seen.resize(r.tile + 1);
    ++seen[r.tile];
    tiles = r.tiles;
    last = r;
  }
  bool CancelRequested() override { return last.tile >= stop_; }
  std::vector<int> seen;
  uint32_t tiles = 0;
  ProgressReport last;

 private:
  uint32_t stop_;
};

TEST(TiledUpscale, ReportsTheTileInHandAndStopsBetweenIterations) {
  SRParams p;
  p.initialMethod = InitialMethod::kBilinear, p.iterations = 2, p.fractalSubsts = 0, p.edgeDirIterations = -1;
  const int w = 90, h = 50;
  const FloatImage chart = RenderTestChart(w, h, 3);
  const float* src[3] = {chart.samples(0), chart.samples(1), chart.samples(2)};
  Planes out(2 * w, 2 * h);
  const TileGrid grid{32, TileMargin(p)};  // 3 x 2 tiles
  StopAtTile progress(4);
  EXPECT_FALSE(UpscaleInTiles(src, w, h, out.out, nullptr, p, grid, &progress));
  EXPECT_EQ(progress.tiles, 6u);
  ASSERT_EQ(progress.seen.size(), 5u);  // tiles 0..4 reported, 4 stopped at once
  // The second row of tiles: rows 0..63 finished, the next 36 rows finished
  // in columns 0..63 (tile 3 done, tile 4 in hand).
  const ProgressReport& r = progress.last;
  EXPECT_EQ(std::vector<uint32_t>({r.rowsDone, r.bandRows, r.bandColumnsDone, r.estimate.width}),
            std::vector<uint32_t>({64, 36, 64, 2 * w}));
  EXPECT_EQ(r.estimate.planes[0], out.out[0]);
}

}  // namespace
