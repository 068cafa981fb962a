// The "Learned" initial enlargement: Kestrune's cubic x2 start (source sample
// (x, y) on output (2x, 2y)) plus a correction that a small convolutional
// network, trained by training/train_learned_start.py, predicts from the
// luma's differences to the right and downward neighbours. The same
// correction is added to every colour plane. The network runs through
// OpenCV's dnn module; a build without it has no learned start.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kestrune {

// How far, in source samples, the network reads around the sample whose four
// output samples it corrects: its six unpadded 3 x 3 convolutions read 6
// differences, each of which reads one sample further.
inline constexpr int kLearnedRadius = 6;
inline constexpr int kLearnedReach = kLearnedRadius + 1;

class LearnedNetwork;

// False when the library was built without OpenCV's dnn module.
bool LearnedStartBuilt();

// The ONNX weights of the camera model's network built into the library;
// empty without OpenCV's dnn module.
std::string_view BuiltInLearnedWeights();

// The networks built into the library, each trained on its kind of source.
// A JPEG source's network is given the start held to the file's coefficients.
enum class LearnedFor {
  kCamera,       // blurred like camera optics
  kReduced,      // reduced by software
  kCameraJpeg,   // blurred like camera optics, then saved as JPEG
  kReducedJpeg,  // reduced by software, then saved as JPEG
};
inline constexpr LearnedFor kLearnedKinds[] = {LearnedFor::kCamera, LearnedFor::kReduced, LearnedFor::kCameraJpeg,
                                               LearnedFor::kReducedJpeg};

// The network built into the library for `kind`, loaded on first use; null
// with the reason in `error` when there is none.
std::shared_ptr<const LearnedNetwork> BuiltInLearnedNetwork(std::string* error, LearnedFor kind = LearnedFor::kCamera);

// Weights from an ONNX file; null with the reason in `error` when the file
// cannot be read, is not a network, or is not one that maps two difference
// planes to four corrections with a reach of kLearnedRadius.
std::shared_ptr<const LearnedNetwork> LoadLearnedNetwork(const std::string& path, std::string* error);

// The learned x2 start of the three w x h planes (w, h >= 2) into the
// 2w x 2h `out` planes. (originX, originY): where the planes' first sample
// lies in the whole picture, for a tile of it. The network runs on blocks of
// the picture's grid, each whole on one thread, so the result is the same for
// any thread count and, kLearnedReach samples from a tile's cut edges, for
// any tile.
void LearnedUpscale2(const LearnedNetwork& network, const float* const src[3], int w, int h, float* const out[3],
                     int originX = 0, int originY = 0);

}  // namespace kestrune
