// Inverse of a 6 x 6 single-precision matrix by LU factorisation with
// partial pivoting, for NEDI's normal equations. The operations are those
// of the reference LAPACK's sgetrf (its recursive panel factorisation) and
// sgetri, in the same order, each product and sum rounded on its own, so the
// result is the same bits on every processor and compiler.
#pragma once

namespace kestrune {

// Replaces the column-major 6 x 6 matrix a by its inverse. Returns false,
// leaving a partly factorised, when a pivot is exactly zero.
bool Invert6(float* a);

}  // namespace kestrune
