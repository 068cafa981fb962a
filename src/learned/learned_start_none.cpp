// The learned start of a build without OpenCV's dnn module: there is none.
#include "learned/learned_start.h"

namespace kestrune {

class LearnedNetwork {};

namespace {
constexpr const char* kNotBuilt =
    "This Kestrune was built without the learned start (OpenCV's dnn module): choose another initial method.";
}

bool LearnedStartBuilt() { return false; }

std::string_view BuiltInLearnedWeights() { return {}; }

std::shared_ptr<const LearnedNetwork> BuiltInLearnedNetwork(std::string* error, LearnedFor) {
  if (error != nullptr) *error = kNotBuilt;
  return nullptr;
}

std::shared_ptr<const LearnedNetwork> LoadLearnedNetwork(const std::string&, std::string* error) {
  if (error != nullptr) *error = kNotBuilt;
  return nullptr;
}

void LearnedUpscale2(const LearnedNetwork&, const float* const[3], int, int, float* const[3], int, int) {}

}  // namespace kestrune
