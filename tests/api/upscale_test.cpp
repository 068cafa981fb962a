// Upscale and UpscaleFile through the public API: reports, initial
// enlargements, flat pictures, cancellation, the settings' checks, thread counts.
#include <kestrune/kestrune.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "support/thread_count.h"

using namespace kestrune;

namespace {

// One report as a line: stage, step/total, "+" for a substitution, rows
// done during the initial enlargement.
std::string Line(const ProgressReport& r) {
  static const char* const names[] = {"alloc", "initial", "prepare", "iteration", "search", "final"};
  std::string line = names[static_cast<int>(r.stage)];
  if (r.stage == Stage::kEnhancement) line += " " + std::to_string(r.step) + "/" + std::to_string(r.total);
  if (r.substitution) line += "+";
  if (r.stage == Stage::kInitialEnlargement) line += " rows " + std::to_string(r.rowsDone);
  return line;
}

class Recorder : public Progress {
 public:
  void Report(const ProgressReport& r) override {
    lines.push_back(Line(r));
    percents.push_back(r.percent);
    if (onReport) onReport(r);
  }
  bool CancelRequested() override { return cancel; }

  std::vector<std::string> lines;
  std::vector<float> percents;
  std::function<void(const ProgressReport&)> onReport;
  bool cancel = false;
};

UpscaleOptions Options(InitialMethod method, uint32_t iterations, uint32_t substitutions, int edge = -1) {
  return {.initialMethod = method,
          .iterations = iterations,
          .fractalSubstitutions = substitutions,
          .edgeDirIterations = edge};
}

Image Enlarge(const Image& source, const UpscaleOptions& options, Recorder* recorder = nullptr) {
  Result<Image> result = Upscale(source, options, recorder);
  EXPECT_TRUE(result.ok()) << result.error().message;
  return result.has_value() ? std::move(result).value() : Image();
}

bool SameSamples(const Image& a, const Image& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int c = 0; c < 3; ++c)
    if (!std::equal(a.Plane(c), a.Plane(c) + a.PixelCount(), b.Plane(c))) return false;
  return true;
}

TEST(Upscale, NoIterationsOrNoStrengthGiveTheInitialEnlargement) {
  // The source samples land on the even positions; between them the
  // bilinear enlargement takes the mean of the two neighbours and the
  // bicubic one 0.625 of the near pair and -0.125 of the far pair.
  const Image source = MakeTestChart(7, 6, 3);
  for (InitialMethod method : {InitialMethod::kBilinear, InitialMethod::kBicubic}) {
    Recorder recorder;
    const Image out = Enlarge(source, Options(method, 0, 0), &recorder);
    EXPECT_EQ(recorder.lines, (std::vector<std::string>{"alloc", "initial rows 0", "prepare"}));
    EXPECT_EQ(recorder.percents, std::vector<float>(3, 0.0f));
    for (int c = 0; c < 3; ++c)
      for (uint32_t y = 0; y < 6; ++y) {
        const float *s = source.Row(c, y), *t = out.Row(c, 2 * y);
        for (uint32_t x = 0; x < 7; ++x) ASSERT_EQ(t[2 * x], s[x]);
        EXPECT_EQ(t[5], method == InitialMethod::kBilinear
                            ? (s[2] + s[3]) * 0.5f
                            : float(0.625 * (double(s[2]) + s[3]) - 0.125 * (double(s[1]) + s[4])));
      }
  }
  // With strength 0 no iteration moves the bilinear estimate (the bicubic
  // one overshoots the range that every update clamps to).
  UpscaleOptions still = Options(InitialMethod::kBilinear, 16, 0);
  still.strength = 0.0f;
  EXPECT_TRUE(SameSamples(Enlarge(source, still), Enlarge(source, Options(InitialMethod::kBilinear, 0, 0))));
}

TEST(Upscale, FlatImagesComeBackFlat) {
  // Every initial method, without and with the default enhancement: no border
  // sample built from unwritten or zero samples, no rounding left for the
  // fourth-root residual to magnify. The two largest are enhanced after NEDI only.
  const struct {
    uint32_t w, h;
    float rgb[3];
    bool enhanceEveryMethod;
  } cases[] = {{6, 6, {255, 255, 255}, true},
               {7, 9, {3.7f, 250.1f, 77.77f}, true},
               {40, 44, {97.25f, 97.25f, 97.25f}, true},
               {48, 64, {200, 100, 50}, false},
               {100, 100, {128, 128, 128}, false}};
  for (const auto& k : cases) {
    Image source(k.w, k.h), init(2 * k.w, 2 * k.h);
    for (int c = 0; c < 3; ++c) {
      std::fill_n(source.Plane(c), source.PixelCount(), k.rgb[c]);
      std::fill_n(init.Plane(c), init.PixelCount(), k.rgb[c]);
    }
    for (int method = 0; method <= 5; ++method)
      for (int enhance = 0; enhance < 3; ++enhance) {  // 2: enhanced on the centred grid
        if (enhance && !k.enhanceEveryMethod && method != 3) continue;
        SCOPED_TRACE(testing::Message() << k.w << " x " << k.h << ", method " << method << ", enhance " << enhance);
        UpscaleOptions options;
        if (!enhance) options = Options(InitialMethod::kBilinear, 0, 0, 2);
        if (enhance == 2) options.sourceModel = SourceModel::kReduced;
        options.initialMethod = static_cast<InitialMethod>(method);
        options.initialImage = &init;
        if (method == 5 && CheckUpscale(k.w, k.h, options)) continue;  // built without the learned start
        const Image out = Enlarge(source, options);
        for (int c = 0; c < 3; ++c)
          for (std::size_t i = 0; i < out.PixelCount(); ++i) ASSERT_NEAR(out.Plane(c)[i], k.rgb[c], 0.01f) << i;
      }
  }
}

// A JPEG file's coefficients hold the enlargement only when the source is
// the file as read and the option is on; otherwise the pixels alone decide,
// bit for bit. A flat JPEG stays flat under the model.
TEST(Upscale, JpegModelOnlyForJpegFilesAndOnlyWhenAsked) {
  TempDir dir;
  Image flat(45, 37);
  for (int c = 0; c < 3; ++c) std::fill_n(flat.Plane(c), flat.PixelCount(), 60.0f + 50.0f * float(c));
  const std::pair<Image, std::string> cases[] = {
      {MakeTestChart(48, 40, 5), "chart.jpg"}, {MakeTestChart(48, 40, 5), "chart.png"}, {flat, "flat.jpg"}};
  for (const auto& [picture, file] : cases) {
    SCOPED_TRACE(file);
    ASSERT_FALSE(WriteImage(picture, dir.File(file), {.quality = 80}));
    const Result<Image> read = ReadImage(dir.File(file));
    Image pixels = read.value();
    pixels.Plane(kRed);  // planes open to change: no longer the file's decoding
    UpscaleOptions options = Options(InitialMethod::kNedi, 4, 1, 2);
    const Image on = Enlarge(read.value(), options), alone = Enlarge(pixels, options);
    options.jpegModel = false;
    const Image off = Enlarge(read.value(), options);
    EXPECT_TRUE(SameSamples(off, alone));
    EXPECT_TRUE(file == "flat.jpg" || SameSamples(on, off) == (file == "chart.png"));
    for (int c = 0; c < 3 && file == "flat.jpg"; ++c)
      for (std::size_t i = 0; i < on.PixelCount(); ++i) ASSERT_NEAR(on.Plane(c)[i], on.Plane(c)[0], 0.01f) << i;
  }
}

TEST(Upscale, SixteenBitGradientKeepsItsStepsThroughAFile) {
  // A 16-bit ramp (32 levels of 255 over 128 pixels) through a 16-bit PNG:
  // cut to 8 bits on the way, an output row would hold about 33 values.
  Image source(128, 8);
  for (int c = 0; c < 3; ++c)
    for (uint32_t y = 0; y < 8; ++y)
      for (uint32_t x = 0; x < 128; ++x) source.Row(c, y)[x] = (20000.0f + 64.0f * x) / 257.0f;
  source.Metadata().depth = SampleDepth::k16;
  TempDir dir;
  ASSERT_FALSE(WriteImage(Enlarge(source, UpscaleOptions{}), dir.File("ramp.png")));
  Result<Image> back = ReadImage(dir.File("ramp.png"));
  ASSERT_TRUE(back.ok()) << back.error().message;
  EXPECT_EQ(back.value().Metadata().depth, SampleDepth::k16);
  const float* row = back.value().Row(kGreen, 8);
  std::vector<float> levels(row, row + 256);
  std::sort(levels.begin(), levels.end());
  EXPECT_GT(std::unique(levels.begin(), levels.end()) - levels.begin(), 200);
  for (int x = 1; x < 256; ++x) EXPECT_LT(std::abs(row[x] - row[x - 1]), 0.5f) << x;
}

TEST(Upscale, TheClampHoldsAHugeStepAndVariableRegularizationSwitchesTheWeights) {
  // A checkerboard with a huge step: the clamp stops it at -0.5 and 255.5.
  Image source(10, 10);
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 100; ++i) source.Plane(c)[i] = ((i / 10 + i % 10) % 2) * 255.0f;
  UpscaleOptions options = Options(InitialMethod::kBicubic, 6, 0);
  options.strength = 60.0f;
  const Image out = Enlarge(source, options);
  const float *first = out.Plane(kRed), *last = first + out.PixelCount();
  EXPECT_TRUE(std::all_of(first, last, [](float v) { return v >= -0.5f && v <= 255.5f; }));
  EXPECT_GT(std::count(first, last, -0.5f), 0);
  EXPECT_GT(std::count(first, last, 255.5f), 0);
  // Any non-zero variable regularization gives the same edge weights.
  auto run = [&](float variable) {
    return Enlarge(MakeTestChart(10, 9), {.initialMethod = InitialMethod::kBicubic,
                                          .iterations = 5,
                                          .fractalSubstitutions = 0,
                                          .edgeDirIterations = -1,
                                          .regularization = 0.5f,
                                          .variableRegularization = variable});
  };
  EXPECT_FALSE(SameSamples(run(0.0f), run(1.0f)));
  EXPECT_TRUE(SameSamples(run(1.0f), run(-2.5f)));
}

TEST(Upscale, NediReportsItsRowsAsTheyAreFinished) {
  // A 9 x 10 source in strips of 8 source rows (k = 1, 2 while 8k - 8 < 10):
  // output rows 0..15 final after strip 1, all 20 after strip 2; the share
  // done is 50 x (8k + 8) / (10 + 16).
  const Image source = MakeTestChart(9, 10);
  Recorder recorder;
  std::vector<std::vector<float>> finishedRows;
  recorder.onReport = [&](const ProgressReport& r) {
    if (r.stage == Stage::kInitialEnlargement)
      for (uint32_t y = finishedRows.size(); y < r.rowsDone; ++y)
        finishedRows.emplace_back(r.estimate.Row(kGreen, y), r.estimate.Row(kGreen, y) + 18);
  };
  const Image out = Enlarge(source, Options(InitialMethod::kNedi, 0, 0), &recorder);
  EXPECT_EQ(recorder.lines, (std::vector<std::string>{"alloc", "initial rows 0", "initial rows 0", "initial rows 16",
                                                      "initial rows 20", "prepare"}));
  EXPECT_EQ(recorder.percents,
            (std::vector<float>{0, 0, 0, float(50.0 * 16 / 26), float(50.0 * 24 / 26), float(50.0 * 24 / 26)}));
  // Rows reported as finished are the result's.
  ASSERT_EQ(finishedRows.size(), 20u);
  for (uint32_t y = 0; y < 20; ++y)
    EXPECT_TRUE(std::equal(finishedRows[y].begin(), finishedRows[y].end(), out.Row(kGreen, y))) << y;
}

TEST(Upscale, CancellationKeepsTheEstimateSoFar) {
  const Image source = MakeTestChart(8, 8);
  // Asked during the initial enlargement: no iteration runs.
  Recorder early;
  early.onReport = [&](const ProgressReport& r) { early.cancel |= r.stage == Stage::kInitialEnlargement; };
  Result<Image> stopped = Upscale(source, Options(InitialMethod::kBicubic, 16, 2), &early);
  ASSERT_TRUE(stopped.has_value() && stopped.error().code == ErrorCode::kCancelled);
  EXPECT_TRUE(SameSamples(stopped.value(), Enlarge(source, Options(InitialMethod::kBicubic, 0, 0))));
  EXPECT_EQ(early.lines.back(), "iteration 0/24");

  // Asked at iteration 12 of the default 24 (16 and 4 per substitution, the
  // substitutions at 11 and 15): 0..11 are done, and the estimate is resized.
  Recorder late;
  late.onReport = [&](const ProgressReport& r) { late.cancel |= r.stage == Stage::kEnhancement && r.step == 12; };
  stopped = Upscale(
      source, {.initialMethod = InitialMethod::kBicubic, .edgeDirIterations = -1, .width = 11, .height = 5}, &late);
  EXPECT_EQ(stopped.error().code, ErrorCode::kCancelled);
  EXPECT_EQ(late.lines.back(), "final");
  EXPECT_EQ(late.lines[late.lines.size() - 2], "iteration 12/24");
  EXPECT_EQ(std::count(late.lines.begin(), late.lines.end(), "iteration 11/24+"), 1);
  EXPECT_EQ(late.percents[late.lines.size() - 2], 75.0f);  // 50 % to 100 % over the iterations
  EXPECT_TRUE(stopped.value().Width() == 11 && stopped.value().Height() == 5);
}

TEST(Upscale, RefusesWhatItCannotTake) {
  const Image init = MakeTestChart(12, 12);
  const struct {
    uint32_t w, h;
    UpscaleOptions options;
    const char* message;  // a part of the message; empty: accepted
  } cases[] = {
      {6, 6, {}, ""},
      {5, 40, {}, "fractal substitutions"},
      {40, 5, {}, "fractal substitutions"},
      {5, 5, {.sourceModel = SourceModel::kReduced}, ""},  // no substitutions run there
      {3, 3, {.fractalSubstitutions = 0}, ""},
      {2, 40, {.fractalSubstitutions = 0}, "too small"},
      {30, 30, {.edgeDirIterations = -1}, ""},
      {30, 30, {.edgeDirIterations = -2}, "Edge-dir"},
      {30, 30, {.sideLobe = 0.5f}, "side lobe"},
      {30, 30, {.sideLobe = 0.49f}, ""},
      {30, 30, {.strength = std::nanf("")}, "The strength"},
      {30, 30, {.strength = INFINITY}, "The strength"},
      {30, 30, {.sideLobe = std::nanf("")}, "side lobe"},
      {30, 30, {.regularization = -INFINITY}, "regularization amount"},
      {30, 30, {.variableRegularization = std::nanf("")}, "variable regularization"},
      {30, 30, {.iterations = 1001}, "iterations"},
      {30, 30, {.fractalSubstitutions = 101}, "fractal substitutions must"},
      {30, 30, {.sourceModel = SourceModel(3)}, "source model"},
      {30, 30, {.width = 100000, .height = 100000}, "too large"},
      {50001, 6, {}, "too large"},
      {6, 6, {.initialMethod = InitialMethod::kFromImage, .initialImage = &init}, ""},
      {6, 7, {.initialMethod = InitialMethod::kFromImage, .initialImage = &init}, "do not match"},
      {6, 6, {.initialMethod = InitialMethod::kFromImage}, "do not match"},
  };
  for (const auto& c : cases) {
    const Error error = CheckUpscale(c.w, c.h, c.options);
    EXPECT_EQ(error.code, *c.message ? ErrorCode::kInvalidArgument : ErrorCode::kNone) << c.w << "x" << c.h;
    EXPECT_NE(error.message.find(c.message), std::string::npos) << c.w << "x" << c.h << ": " << error.message;
  }
  // Upscale makes the same check, and refuses an empty source.
  EXPECT_EQ(Upscale(MakeTestChart(8, 8), {.strength = std::nanf("")}).error().code, ErrorCode::kInvalidArgument);
  EXPECT_EQ(Upscale(Image(), {}).error().code, ErrorCode::kInvalidArgument);
}

TEST(Upscale, SameResultAndReportsForAnyThreadCount) {
  // The default run (NEDI, edge-directed residual, edge-adaptive weights, two
  // substitutions) and a bicubic start with the bilinear residual and
  // uniform weights.
  UpscaleOptions variant = Options(InitialMethod::kBicubic, 6, 1, -1);
  variant.variableRegularization = 0.0f;
  const std::pair<Image, UpscaleOptions> runs[] = {{MakeTestChart(48, 40, 2), UpscaleOptions{}},
                                                   {MakeTestChart(53, 37, 5), variant}};
  for (const auto& [source, options] : runs) {
    Recorder recorder;  // reporting changes nothing
    EXPECT_TRUE(SameSamples(Enlarge(source, options, &recorder), Enlarge(source, options)));
    ExpectSameForAnyThreadCount([&] {
      Recorder recorder;
      const Image out = Enlarge(source, options, &recorder);
      std::vector<float> all(recorder.percents);
      for (int c = 0; c < 3; ++c) all.insert(all.end(), out.Plane(c), out.Plane(c) + out.PixelCount());
      return all;
    });
  }
}

TEST(UpscaleFile, LargePicturesByRowsGiveTheSamePixelsAndFailWritingNothing) {
  // Just over 2048 x 2048: 3 x 3 tiles, read and written by rows; the same
  // pixels as the picture enlarged in memory.
  TempDir dir;
  const Image source = MakeTestChart(2100, 2080, 4);
  ASSERT_FALSE(WriteImage(source, dir.File("in.png")));
  const UpscaleOptions options = Options(InitialMethod::kBilinear, 1, 0);
  Recorder recorder;
  uint32_t tiles = 0;
  recorder.onReport = [&](const ProgressReport& r) { tiles = r.tiles; };
  ASSERT_FALSE(UpscaleFile(dir.File("in.png"), dir.File("out.png"), options, {}, &recorder));
  EXPECT_EQ(tiles, 9u);
  Result<Image> back = ReadImage(dir.File("out.png"));
  ASSERT_TRUE(back.ok()) << back.error().message;
  const Image expected = Enlarge(ReadImage(dir.File("in.png")).value(), options);
  ASSERT_EQ(back.value().Width(), 4200u);
  for (int c = 0; c < 3; ++c)
    for (uint32_t y = 0; y < expected.Height(); y += 7)
      for (uint32_t x = 0; x < expected.Width(); ++x)
        ASSERT_EQ(back.value().Row(c, y)[x], std::nearbyint(std::clamp(expected.Row(c, y)[x], 0.0f, 255.0f)))
            << x << "," << y;

  // Stopped in the fifth tile: the earlier file untouched, nothing left over.
  Recorder stop;
  stop.onReport = [&](const ProgressReport& r) { stop.cancel |= r.tile == 4; };
  const Error stopped = UpscaleFile(dir.File("in.png"), dir.File("out.png"), options, {}, &stop);
  EXPECT_EQ(stopped.code, ErrorCode::kCancelled);
  EXPECT_TRUE(ReadImage(dir.File("out.png")).ok());
  const std::set<std::string> files = {"in.png", "out.png"};  // no spool or temporary file
  EXPECT_EQ(Names(dir.path()), files);

  // Cut short after two thirds: refused with the reason, nothing written.
  std::filesystem::resize_file(dir.File("in.png"), std::filesystem::file_size(dir.File("in.png")) * 2 / 3);
  const Error damaged = UpscaleFile(dir.File("in.png"), dir.File("cut.png"), options);
  EXPECT_EQ(damaged.code, ErrorCode::kUnreadable);
  EXPECT_NE(damaged.message.find("PNG truncated after row"), std::string::npos) << damaged.message;
  EXPECT_EQ(Names(dir.path()), files);
}

}  // namespace
