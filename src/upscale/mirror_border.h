// Mirrored border extension of a plane and cropping of the padded result.
#pragma once

namespace kestrune {

// Copies the w x h source into the (w+2p) x (h+2p) destination at (p, p) and
// mirrors it into the border; corners and far border parts of small sources
// keep the destination's previous contents.
void PadMirror(const float* src, int w, int h, int p, float* dst);
// Destination rows 0..rows-1 (width w) = padded rows p.. of the (w+2p)-wide
// padded plane, columns p..p+w-1.
void CropPadded(float* dst, int w, int rows, int p, const float* padded);

}  // namespace kestrune
