// RenderTestChart: procedural sample image built from a few layers that
// exercise every kind of structure the resizers care about.
#include "image/test_chart.h"

#include <algorithm>
#include <cmath>

namespace kestrune {

namespace {

// A small deterministic hash giving a value in [0, 1).
float Hash(uint32_t x, uint32_t y, uint32_t seed) {
  uint32_t h = x * 0x8da6b343u ^ y * 0xd8163841u ^ seed * 0xcb1ab31fu;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  h ^= h >> 15;
  return static_cast<float>(h & 0xffffffu) / 16777216.0f;
}

// Smooth value noise at the given cell size.
float ValueNoise(float x, float y, float cell, uint32_t seed) {
  const float fx = x / cell, fy = y / cell;
  const float ix = std::floor(fx), iy = std::floor(fy);
  float tx = fx - ix, ty = fy - iy;
  tx = tx * tx * (3 - 2 * tx);
  ty = ty * ty * (3 - 2 * ty);
  const auto cx = static_cast<uint32_t>(static_cast<int32_t>(ix)), cy = static_cast<uint32_t>(static_cast<int32_t>(iy));
  const float a = Hash(cx, cy, seed), b = Hash(cx + 1, cy, seed);
  const float c = Hash(cx, cy + 1, seed), d = Hash(cx + 1, cy + 1, seed);
  return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}

}  // namespace

FloatImage RenderTestChart(uint32_t width, uint32_t height, uint32_t seed) {
  FloatImage image(width, height);
  const float w = static_cast<float>(width), h = static_cast<float>(height);
  const float scale = std::min(w, h);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const float fx = static_cast<float>(x) + 0.5f, fy = static_cast<float>(y) + 0.5f;
      const float u = fx / w, v = fy / h;
      // Sky-like diagonal gradient with soft clouds.
      float rgb[3] = {60 + 120 * u, 90 + 100 * v, 200 - 80 * u * v};
      const float cloud = ValueNoise(fx, fy, scale / 6 + 1, seed);
      for (float& c : rgb) c += 40 * (cloud - 0.5f);

      // A disc with a hard, anti-aliased rim: edges at every angle.
      const float dx = fx - 0.32f * w, dy = fy - 0.40f * h;
      const float radius = 0.22f * scale;
      const float rim = std::clamp(radius - std::sqrt(dx * dx + dy * dy) + 0.5f, 0.0f, 1.0f);
      const float disc[3] = {210, 70 + 60 * v, 40};
      for (int c = 0; c < 3; ++c) rgb[c] += (disc[c] - rgb[c]) * rim;

      // A textured lower band (grass-like fine detail).
      if (v > 0.72f) {
        const float grain = Hash(x, y, seed + 7) * 0.6f + ValueNoise(fx, fy, 3, seed + 3) * 0.4f;
        rgb[0] = 40 + 60 * grain;
        rgb[1] = 90 + 110 * grain;
        rgb[2] = 30 + 40 * grain;
      }

      // Thin dark lines: a slanted fan and a horizontal and vertical one.
      const float lx = fx - 0.70f * w, ly = fy - 0.15f * h;
      if (lx > 0 && ly > 0 && v < 0.70f) {
        const float angle = std::atan2(ly, lx);
        // Distance in pixels to the nearest of the fan's spokes (every 10 degrees).
        const float spoke = std::fabs(std::sin(angle * 18.0f)) * std::sqrt(lx * lx + ly * ly) / 18.0f;
        if (spoke < 0.6f)
          for (float& c : rgb) c = 20 + 40 * spoke;
      }
      if (x == width / 2 || y == height / 2)
        for (float& c : rgb) c *= 0.35f;

      // A checkerboard patch: the hardest case for every kernel.
      if (u > 0.06f && u < 0.22f && v > 0.76f && v < 0.94f) {
        const bool on = ((x / 2) + (y / 2)) % 2 == 0;
        for (float& c : rgb) c = on ? 235.0f : 25.0f;
      }

      // A little sensor-like noise.
      const float noise = (Hash(x, y, seed + 11) - 0.5f) * 6.0f;
      for (int c = 0; c < 3; ++c) image.rows(c)[y][x] = std::clamp(std::nearbyint(rgb[c] + noise), 0.0f, 255.0f);
    }
  }
  return image;
}

}  // namespace kestrune
