// The image commands against the library: upscale's and downscale's defaults
// are the dialogs', their options reach the library, resize shifts exactly,
// and the thread count changes nothing (refusals: cli_test.cpp).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/cli_test_util.h"

using namespace kestrune;

namespace {

// The output of `command` on `source` written as in.pfm is `expected` of
// the image read back from that file, passed through a file alike.
template <class F>
void ExpectLike(const Image& source, std::vector<std::string> command, F expected) {
  SCOPED_TRACE(testing::PrintToString(command));
  TempDir dir;
  WriteFile(source, dir.File("in.pfm"));
  command.insert(command.begin() + 1, {dir.File("in.pfm"), dir.File("out.pfm")});
  const CliResult r = Cli(command);
  ASSERT_EQ(r.status, 0) << r.err;
  WriteFile(expected(ReadFile(dir.File("in.pfm"))), dir.File("expected.pfm"));
  EXPECT_TRUE(SameSamples(ReadFile(dir.File("out.pfm")), ReadFile(dir.File("expected.pfm")), 1e-3f));
}

TEST(Commands, UpscaleDefaultsAreTheDialogsAndOptionsReachTheLibrary) {
  const Image in = MakeTestChart(12, 10, 4);
  // NEDI, 16 iterations, 2 substitutions, 2 edge-directed iterations,
  // strength 3, side lobe 0, regularization 0.03, variable 1.
  ExpectLike(in, {"upscale", "--quiet"}, [](const Image& s) {
    return Upscale(s, {.initialMethod = InitialMethod::kNedi,
                       .iterations = 16,
                       .fractalSubstitutions = 2,
                       .edgeDirIterations = 2,
                       .strength = 3,
                       .sideLobe = 0,
                       .regularization = 0.03f,
                       .variableRegularization = 1})
        .value();
  });
  ExpectLike(in, {"upscale", "--method", "edge", "--iterations", "0", "--fractal", "0"}, [](const Image& s) {
    return Upscale(s, {.initialMethod = InitialMethod::kEdgeDirectional, .iterations = 0, .fractalSubstitutions = 0})
        .value();
  });
  // Other sizes are resampled from the doubled result.
  ExpectLike(
      in, {"upscale", "--iterations", "2", "--fractal", "0", "--method", "bicubic", "--width", "30", "--height", "7"},
      [](const Image& s) {
        const Image twice =
            Upscale(s, {.initialMethod = InitialMethod::kBicubic, .iterations = 2, .fractalSubstitutions = 0}).value();
        return Resize(twice, {.width = 30, .height = 7}).value();
      });
  // "Load from file" starts from the file; below 6 x 6 only without substitutions.
  TempDir dir;
  const Image init = MakeTestChart(24, 20, 8);
  WriteFile(init, dir.File("init.pfm"));
  ExpectLike(in, {"upscale", "--init", dir.File("init.pfm"), "--iterations", "0", "--fractal", "0"},
             [&](const Image&) { return ReadFile(dir.File("init.pfm")); });
  ExpectLike(MakeTestChart(5, 9), {"upscale", "--fractal", "0", "--iterations", "1", "--quiet"},
             [](const Image& s) { return Upscale(s, {.iterations = 1, .fractalSubstitutions = 0}).value(); });
  // The source model reaches the library; substitutions asked for under the
  // reduced model, which has none, are not dropped silently.
  ExpectLike(in, {"upscale", "--source-model", "reduced", "--iterations", "1", "--quiet"}, [](const Image& s) {
    return Upscale(s, {.iterations = 1, .sourceModel = SourceModel::kReduced}).value();
  });
  const CliResult r = Cli({"upscale", dir.File("init.pfm"), dir.File("r.pfm"), "--source-model", "reduced", "--fractal",
                           "3", "--iterations", "0", "--quiet"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("--fractal: no fractal substitutions"), std::string::npos) << r.err;
}

TEST(Commands, DownscaleDefaultsAreTheDialogsAndOptionsReachTheSearch) {
  const Image source = MakeTestChart(26, 21);
  TempDir dir;
  WriteFile(source, dir.File("in.pfm"));
  const Image read = ReadFile(dir.File("in.pfm"));
  auto expect = [&](const DownscaleOptions& params, std::vector<std::string> options) {
    Hint hint;
    const Image expected = Downscale(read, params, nullptr, &hint).value();
    char line[256];  // the hint line, printed when not on a terminal instead of the progress bar
    std::snprintf(line, sizeof line, "hint: offset-x=%.6g offset-y=%.6g deviation-x=%.6g deviation-y=%.6g score=%.6g\n",
                  hint.offsetX, hint.offsetY, hint.deviationX, hint.deviationY, hint.score);
    options.insert(options.begin(), {"downscale", dir.File("in.pfm"), dir.File("out.pfm")});
    const CliResult r = Cli(options);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, line);
    WriteFile(expected, dir.File("expected.pfm"));
    EXPECT_TRUE(SameSamples(ReadFile(dir.File("out.pfm")), ReadFile(dir.File("expected.pfm"))))
        << testing::PrintToString(options);
  };
  // Catmull-Rom, 0.8, 12 trials, deviation 8 and the source's size; one
  // size given: the other stays the source's.
  expect({.width = 26, .height = 21}, {});
  expect({.width = 26, .height = 9, .smoothness = 1.25f, .trials = 5, .scaleDeviation = 3.5f},
         {"--height", "9", "--smoothness", "1.25", "--trials", "5", "--deviation", "3.5"});
  const char* names[] = {"box", "bilinear", "bspline", "catmull-rom", "lanczos2", "lanczos3", "sinc"};
  for (int filter = 0; filter < 7; ++filter)
    expect({.width = 11, .height = 9, .filter = Filter(filter), .trials = 4},
           {"--width", "11", "--height", "9", "--filter", names[filter], "--trials", "4"});
  // The bounds pass.
  expect({.width = 1, .height = 100000, .smoothness = 2, .trials = 4, .scaleDeviation = 64},
         {"--width", "1", "--height", "100000", "--smoothness", "2", "--trials", "4", "--deviation", "64"});
  expect({.width = 26, .height = 21, .smoothness = 0.5f, .trials = 4, .scaleDeviation = 0},
         {"--smoothness", "0.5", "--deviation", "0", "--trials", "4"});
  EXPECT_EQ(Cli({"downscale", dir.File("in.pfm"), dir.File("q.pfm"), "--trials", "4", "--quiet"}).err, "");
}

TEST(Commands, ResizeShiftsExactlyDropsAlphaAndHasTheDefaults) {
  Image image(5, 4, true);  // distinct samples in every plane, and an alpha plane
  for (int c = 0; c < 4; ++c)
    for (int i = 0; i < 20; ++i) image.Plane(c)[i] = float(10 * c + i);
  // Same size, whole-pixel offsets: a shifted copy with the edges replicated.
  ExpectLike(image,
             {"resize", "--width", "5", "--height", "4", "--offset-x", "1", "--offset-y", "-1", "--filter", "lanczos3"},
             [](const Image&) {
               Image shifted(5, 4);
               for (int c = 0; c < 3; ++c)
                 for (int i = 0; i < 20; ++i)
                   shifted.Plane(c)[i] = float(10 * c + std::max(i / 5 - 1, 0) * 5 + std::min(i % 5 + 1, 4));
               return shifted;
             });
  // The defaults: Catmull-Rom, unshifted, smoothness 1.
  ExpectLike(image, {"resize", "--width", "7", "--height", "3"}, [](const Image& s) {
    return Resize(s, {.width = 7, .height = 3, .filter = Filter::kCatmullRom, .smoothness = 1}).value();
  });
}

TEST(Commands, ThreadsSetTheCountAndResizeAlikeWithAnyCount) {
  TempDir dir;
  const std::string chart = dir.File("c.pfm"), cli = KESTRUNE_CLI_PATH;
  ASSERT_EQ(Cli({"--threads", "1", "chart", chart, "--width", "300", "--height", "220"}).status, kExitOk);
  EXPECT_EQ(ThreadCount(), 1);
  SetThreadCount(0);
  std::vector<std::string> outputs;
  for (const std::string& run :
       {"KESTRUNE_THREADS=1 '" + cli + "'", "KESTRUNE_THREADS=3 '" + cli + "'", "'" + cli + "' --threads 5"}) {
    const std::string out = dir.File("r.pfm"), err = dir.File("e.txt");
    const std::string command = run + " resize '" + chart + "' '" + out + "' --width 137 --height 411 2> '" + err + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    outputs.push_back(FileBytes(out));
    EXPECT_EQ(FileBytes(err), "") << command;  // more threads than cores is no reason for a message
  }
  ASSERT_GT(outputs[0].size(), std::size_t(137 * 411 * 12));
  EXPECT_TRUE(outputs[1] == outputs[0] && outputs[2] == outputs[0]);
}

}  // namespace
