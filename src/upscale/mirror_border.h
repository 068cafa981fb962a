// Mirrored border extension of a plane and cropping of the padded result.
#pragma once

namespace kestrune {

// Copies the w x h source into the (w+2p) x (h+2p) destination at (p, p) and
// fills the whole border, corners included, by mirroring: sample -k reads k
// and sample w-1+k reads w-k (rows alike), which mirrors the x2 grid about
// its first and last samples. Borders wider than the plane fold back again.
void PadMirror(const float* src, int w, int h, int p, float* dst);
// Destination rows 0..rows-1 (width w) = padded rows p.. of the (w+2p)-wide
// padded plane, columns p..p+w-1.
void CropPadded(float* dst, int w, int rows, int p, const float* padded);

}  // namespace kestrune
