// Fixed-weight x2 enlargements of one plane and pixel replication. Source
// sample (x, y) lands exactly on target sample (factor*x, factor*y).
#pragma once

namespace kestrune {

// Source w x h, destination 2w x 2h (factor is always 2).
void UpscaleBilinear2(const float* src, int w, int h, float* dst, int factor = 2);
// Source w x h with w, h >= 2, destination 2w x 2h (factor is always 2).
void UpscaleBicubic2(const float* src, int w, int h, float* dst, int factor = 2);
// Every source sample becomes a factor x factor block; destination (f*w) x (f*h).
void UpscaleReplicate(const float* src, int w, int h, float* dst, int factor);

}  // namespace kestrune
