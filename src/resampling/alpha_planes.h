// Transparency through the operations. The linear resizes work on colour
// premultiplied by alpha / 255, so that the colour under a transparent pixel
// weighs nothing, and divide it back at the end. Alpha itself is resized
// with a kernel without negative lobes, so it stays within 0..255 and never
// rings; the colour is divided by the alpha resized exactly like the colour
// (same kernel), which gives a uniformly coloured shape back its exact colour
// up to its edge. The enlargement, which sharpens and so cannot be matched
// by any resize of alpha, instead replaces the colour under transparent
// pixels by the visible colour around them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/float_image.h"
#include "resampling/resize_image.h"

namespace kestrune {

// True when every sample is 255 or more: the colour then needs no
// premultiplication and is processed exactly as in an image without alpha.
bool IsOpaque(const float* alpha, std::size_t count);

// The colour planes of `image` (which has alpha) times alpha / 255, alpha
// clamped to 0..255; the result has no alpha plane.
FloatImage Premultiplied(const FloatImage& image);

// Multiplies three planes of `count` samples by alpha / 255 in place.
void Premultiply(float* const colour[3], const float* alpha, std::size_t count);

// Clamps `alpha` to 0..255 and divides the premultiplied colour by
// `divisor` (the alpha filtered as the colour was): colour = clamp(colour *
// 255 / divisor, 0, 255). A pixel whose clamped alpha is 0 gets colour 0
// (transparent black: nothing of it can show, and every operation here
// ignores it). Where the divisor is 0 but alpha is not, alpha divides.
void Unpremultiply(float* const colour[3], const float* divisor, float* alpha, std::size_t count);

// The kernel alpha is resized with when the colour uses `filterType`: the
// filter itself when it has no negative lobes (box, bilinear, B-spline), else
// the bilinear one (the narrowest of them, the closest in sharpness).
int AlphaFilter(int filterType);

// Completes a resize of an image with alpha: `out` (of settings.width x
// settings.height, with an alpha plane) holds the colour already resized
// from premultiplied planes with `settings`; this resizes `alpha` (srcWidth x
// srcHeight) into out's alpha plane and unpremultiplies the colour.
void FinishAlphaResize(const float* alpha, uint32_t srcWidth, uint32_t srcHeight, FloatImage& out,
                       const ResizeSettings& settings);

// Sets every alpha sample of `image` (which has alpha) to 255.
void FillOpaque(FloatImage& image);

// Replaces the colour of every pixel of alpha 0 (or less) by the visible
// colour around it, spreading outwards ring by ring: each hidden pixel next
// to the pixels known so far gets the mean of its known 8-neighbours,
// visible ones weighted by alpha / 255 (so faint pixels count little), filled
// ones by 1. Without any visible pixel every colour becomes 0. Planes of
// width x height; one pass in a fixed order, so the same on every run.
void FillHiddenColour(float* const colour[3], const float* alpha, uint32_t width, uint32_t height);

// Sets the colour of every pixel whose alpha is 0 to 0 (transparent black).
void ClearHiddenColour(float* const colour[3], const float* alpha, std::size_t count);

}  // namespace kestrune
