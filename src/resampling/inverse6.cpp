// Invert6: the reference LAPACK's sgetrf2 (recursive: the left half of the
// columns, the row interchanges and triangular solve of the right half, its
// update, then the right half) and sgetri (the upper factor inverted column
// by column, then the columns of the inverse solved from the right and
// interchanged back), written out for one 6 x 6 matrix.
#include "resampling/inverse6.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <utility>

namespace kestrune {

namespace {

constexpr int kN = 6;

// A(i, j) of a column-major matrix with leading dimension kN.
float& At(float* a, int i, int j) { return a[j * kN + i]; }

// Rows k1..k2 (1-based pivots) of the n columns of a interchanged as ipiv says.
void Laswp(int n, float* a, int k1, int k2, const int* ipiv) {
  for (int i = k1; i <= k2; ++i) {
    const int ip = ipiv[i - 1];
    if (ip != i)
      for (int j = 0; j < n; ++j) std::swap(At(a, i - 1, j), At(a, ip - 1, j));
  }
}

// Recursive LU of the m x n block at a (leading dimension kN); pivots 1-based
// relative to the block. Returns info (0 or the first zero pivot, 1-based).
int Getrf2(int m, int n, float* a, int* ipiv) {
  if (m == 1 || n == 1) {
    if (m == 1) {
      ipiv[0] = 1;
      return At(a, 0, 0) == 0.0f ? 1 : 0;
    }
    // One column: pivot on the first largest magnitude, then scale.
    int p = 0;
    float best = std::fabs(At(a, 0, 0));
    for (int i = 1; i < m; ++i)
      if (std::fabs(At(a, i, 0)) > best) best = std::fabs(At(a, i, 0)), p = i;
    ipiv[0] = p + 1;
    if (At(a, p, 0) == 0.0f) return 1;
    if (p != 0) std::swap(At(a, 0, 0), At(a, p, 0));
    if (std::fabs(At(a, 0, 0)) >= FLT_MIN) {
      const float r = 1.0f / At(a, 0, 0);
      for (int i = 1; i < m; ++i) At(a, i, 0) = r * At(a, i, 0);
    } else {
      for (int i = 1; i < m; ++i) At(a, i, 0) = At(a, i, 0) / At(a, 0, 0);
    }
    return 0;
  }
  const int n1 = std::min(m, n) / 2, n2 = n - n1;
  int info = Getrf2(m, n1, a, ipiv);
  float* a12 = a + n1 * kN;       // A(1, n1+1)
  float* a21 = a + n1;            // A(n1+1, 1)
  float* a22 = a + n1 * kN + n1;  // A(n1+1, n1+1)
  Laswp(n2, a12, 1, n1, ipiv);
  // A12 = L11^-1 A12 (unit lower triangular solve).
  for (int j = 0; j < n2; ++j)
    for (int k = 0; k < n1; ++k)
      if (At(a12, k, j) != 0.0f)
        for (int i = k + 1; i < n1; ++i) At(a12, i, j) = At(a12, i, j) - At(a12, k, j) * At(a, i, k);
  // A22 = A22 - A21 A12.
  for (int j = 0; j < n2; ++j)
    for (int l = 0; l < n1; ++l) {
      const float temp = -1.0f * At(a12, l, j);
      for (int i = 0; i < m - n1; ++i) At(a22, i, j) = At(a22, i, j) + temp * At(a21, i, l);
    }
  const int info2 = Getrf2(m - n1, n2, a22, ipiv + n1);
  if (info == 0 && info2 > 0) info = info2 + n1;
  for (int i = n1; i < std::min(m, n); ++i) ipiv[i] += n1;
  Laswp(n1, a, n1 + 1, std::min(m, n), ipiv);
  return info;
}

}  // namespace

bool Invert6(float* a) {
  int ipiv[kN];
  if (Getrf2(kN, kN, a, ipiv) != 0) return false;
  // strti2: inverse of the upper triangle U.
  for (int j = 0; j < kN; ++j) {
    if (At(a, j, j) == 0.0f) return false;
    At(a, j, j) = 1.0f / At(a, j, j);
    const float ajj = -At(a, j, j);
    // x = U(0:j, 0:j) x with x = column j above the diagonal (strmv, upper,
    // no transpose, non-unit).
    float* x = a + j * kN;
    for (int jj = 0; jj < j; ++jj) {
      if (x[jj] != 0.0f) {
        const float temp = x[jj];
        for (int i = 0; i < jj; ++i) x[i] = x[i] + temp * At(a, i, jj);
        x[jj] = x[jj] * At(a, jj, jj);
      }
    }
    for (int i = 0; i < j; ++i) x[i] = ajj * x[i];
  }
  // sgetri, unblocked: solve inv(A) L = inv(U) column by column from the right.
  float work[kN];
  for (int j = kN - 1; j >= 0; --j) {
    for (int i = j + 1; i < kN; ++i) work[i] = At(a, i, j), At(a, i, j) = 0.0f;
    if (j < kN - 1) {
      // y = y - A(:, j+1:n) work(j+1:n) (sgemv, no transpose, alpha -1, beta 1).
      for (int jj = j + 1; jj < kN; ++jj) {
        const float temp = -1.0f * work[jj];
        for (int i = 0; i < kN; ++i) At(a, i, j) = At(a, i, j) + temp * At(a, i, jj);
      }
    }
  }
  for (int j = kN - 2; j >= 0; --j) {
    const int jp = ipiv[j] - 1;
    if (jp != j)
      for (int i = 0; i < kN; ++i) std::swap(At(a, i, j), At(a, i, jp));
  }
  return true;
}

}  // namespace kestrune
