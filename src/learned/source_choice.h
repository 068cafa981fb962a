// The network that tells a picture reduced by software (the antialiased
// bicubic reduction by two) from one made by camera optics, trained by
// training/train_source_choice.py: from the luma's differences to the right
// and downward neighbours it scores every position; positive scores say
// "reduced". It has no bias terms, so a flat crop scores exactly zero and a
// crop's contrast scales its score without changing its sign. The network
// runs through OpenCV's dnn module, one thread, its baseline kernels (as the
// learned start's), so the score has the same bits everywhere; a build
// without the module has no network.
#pragma once

namespace kestrune {

// The crops the network reads are kChoiceCrop x kChoiceCrop samples.
inline constexpr int kChoiceCrop = 64;

// False when the library was built without OpenCV's dnn module.
bool SourceChoiceBuilt();

// The network's scores over one crop of luma (kChoiceCrop x kChoiceCrop,
// row stride kChoiceCrop, whole levels), summed and divided by the crop's
// mean absolute difference (at least 0.5): above zero, the crop looks
// reduced. 0 without the network.
double SourceChoiceScore(const float* crop);

}  // namespace kestrune
