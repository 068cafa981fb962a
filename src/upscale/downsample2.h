// Downsample2: the observation model of the enhancement, a seven-tap low-pass
// and decimation that halves a plane, sample (x, y) of the result lying on
// sample (2x, 2y) of the input.
#pragma once

namespace kestrune {

// src is W x H (both even), dst (W/2) x (H/2); tmp holds at least (W/2) * H
// floats. factor is always 2 and not used. Borders mirror about the first and
// last samples without repeating them; nothing outside the plane is read as
// long as W and H are at least 4.
void Downsample2(const float* src, int W, int H, float* dst, int factor, float* tmp, float sideLobe);

}  // namespace kestrune
