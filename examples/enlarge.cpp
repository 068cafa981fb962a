// enlarge IN OUT: enlarges an image file by two with the library's default
// settings, showing each stage on standard error.
#include <cstdio>

#include <kestrune/kestrune.h>

// Prints a line when the run moves on to another stage or iteration.
class PrintProgress : public kestrune::Progress {
 public:
  void Report(const kestrune::ProgressReport& report) override {
    if (report.stage == kestrune::Stage::kEnhancement)
      std::fprintf(stderr, "iteration %u of %u%s\n", report.step + 1, report.total,
                   report.substitution ? ": fractal substitution" : "");
    else if (report.stage != last_)
      std::fprintf(stderr, "stage %d\n", static_cast<int>(report.stage));
    last_ = report.stage;
  }

 private:
  kestrune::Stage last_ = kestrune::Stage::kFinalScaling;
};

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: enlarge IN OUT\n");
    return 1;
  }
  kestrune::Result<kestrune::Image> source = kestrune::ReadImage(argv[1]);
  if (!source) {
    std::fprintf(stderr, "%s: %s\n", argv[1], source.error().message.c_str());
    return 2;
  }
  PrintProgress progress;
  kestrune::Result<kestrune::Image> result = kestrune::Upscale(source.value(), kestrune::UpscaleOptions{}, &progress);
  if (!result) {
    std::fprintf(stderr, "%s\n", result.error().message.c_str());
    return 1;
  }
  if (const kestrune::Error error = kestrune::WriteImage(result.value(), argv[2])) {
    std::fprintf(stderr, "%s: %s\n", argv[2], error.message.c_str());
    return 3;
  }
  std::fprintf(stderr, "%u x %u written to %s\n", result->Width(), result->Height(), argv[2]);
  return 0;
}
