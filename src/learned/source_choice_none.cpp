// The source choice of a build without OpenCV's dnn module: there is no network.
#include "learned/source_choice.h"

namespace kestrune {

bool SourceChoiceBuilt() { return false; }

double SourceChoiceScore(const float*) { return 0.0; }

}  // namespace kestrune
