// Dense matrices: identity, products, transpose, inverse, 2 x 2 systems.
#include <cstdint>

#include "mth/mth_internal.h"

namespace tesmar::mth {
namespace {

// True when the byte ranges [a, a + na) and [b, b + nb) of doubles overlap.
bool overlaps(const double *a, std::size_t na, const double *b, std::size_t nb) {
  auto pa = reinterpret_cast<std::uintptr_t>(a), pb = reinterpret_cast<std::uintptr_t>(b);
  return pa < pb + nb * sizeof(double) && pb < pa + na * sizeof(double);
}

void swap_rows(double *m, std::size_t n, std::size_t r1, std::size_t r2) {
  for (std::size_t j = 0; j < n; ++j) {
    double t = m[r1 * n + j];
    m[r1 * n + j] = m[r2 * n + j];
    m[r2 * n + j] = t;
  }
}

// row r -= f * row k, in both matrices.
void subtract_row(double *w, double *inv, std::size_t n, std::size_t r, std::size_t k, double f) {
  for (std::size_t j = 0; j < n; ++j) {
    w[r * n + j] -= f * w[k * n + j];
    inv[r * n + j] -= f * inv[k * n + j];
  }
}

struct Operand {
  const double *m;
  std::size_t stride, rows, columns;  // as stored
  bool transpose;
  std::size_t op_rows() const { return transpose ? columns : rows; }
  std::size_t op_columns() const { return transpose ? rows : columns; }
  double at(std::size_t i, std::size_t k) const {
    return transpose ? m[k * stride + i] : m[i * stride + k];
  }
  std::size_t extent() const { return (rows - 1) * stride + columns; }
};

Failure multiply(const Operand &a, const Operand &b, double *c, std::size_t c_stride) {
  const std::size_t m = a.op_rows(), n = a.op_columns(), p = b.op_columns();
  const std::size_t c_extent = (m - 1) * c_stride + p;
  double *out = c;
  Buffer<double> temp;
  std::size_t out_stride = c_stride;
  if (overlaps(c, c_extent, a.m, a.extent()) || overlaps(c, c_extent, b.m, b.extent())) {
    std::size_t size;
    if (!checked_size(m, p, &size) || !temp.resize(size)) return kNoMemory;
    out = temp.data();
    out_stride = p;
  }
  for (std::size_t i = 0; i < m; ++i)
    for (std::size_t j = 0; j < p; ++j) {
      double sum = 0.0;
      for (std::size_t k = 0; k < n; ++k) sum += a.at(i, k) * b.at(k, j);
      out[i * out_stride + j] = sum;
    }
  if (out != c)
    for (std::size_t i = 0; i < m; ++i) std::memcpy(c + i * c_stride, out + i * p, p * sizeof(double));
  return kOk;
}

Failure transpose(int32_t rows, int32_t columns, const double *a, double *out) {
  if (rows < 1 || columns < 1) return error(MTH_INVALID_RANGE);
  const std::size_t r = static_cast<std::size_t>(rows), c = static_cast<std::size_t>(columns);
  std::size_t size;
  Buffer<double> work;
  if (!checked_size(r, c, &size) || !work.resize(size)) return kNoMemory;
  std::memcpy(work.data(), a, size * sizeof(double));
  for (std::size_t i = 0; i < r; ++i)
    for (std::size_t j = 0; j < c; ++j) out[j * r + i] = work[i * c + j];
  return kOk;
}

Failure inverse(int32_t n, const double *a, double *out) {
  if (n < 1) return error(MTH_INVALID_RANGE);
  const std::size_t size = static_cast<std::size_t>(n);
  std::size_t cells, both;
  Buffer<double> work;
  if (!checked_size(size, size, &cells) || !checked_size(cells, 2, &both) || !work.resize(both))
    return error(MTH_NOMEMORY);
  std::memcpy(work.data(), a, cells * sizeof(double));
  if (!invert(size, work.data(), work.data() + cells)) return error(MTH_SINGULAR_MATRIX);
  std::memcpy(out, work.data() + cells, cells * sizeof(double));
  return kOk;
}

}  // namespace

bool invert(std::size_t n, double *w, double *inv) {
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) inv[i * n + j] = i == j ? 1.0 : 0.0;
  for (std::size_t col = 0; col < n; ++col) {
    std::size_t pivot_row = n;
    double best = kTol;
    for (std::size_t r = col; r < n; ++r) {
      double v = std::fabs(w[r * n + col]);
      if (v > best) {
        best = v;
        pivot_row = r;
      }
    }
    if (pivot_row == n) return false;
    if (pivot_row != col) {
      swap_rows(w, n, col, pivot_row);
      swap_rows(inv, n, col, pivot_row);
    }
    const double pivot = w[col * n + col];
    if (pivot != 1.0)
      for (std::size_t j = 0; j < n; ++j) {
        w[col * n + j] /= pivot;
        inv[col * n + j] /= pivot;
      }
    for (std::size_t r = col + 1; r < n; ++r) {
      double f = w[r * n + col];
      if (std::fabs(f) > kTol) subtract_row(w, inv, n, r, col, f);
    }
  }
  for (std::size_t col = n; col-- > 1;)
    for (std::size_t r = 0; r < col; ++r) {
      double f = w[r * n + col];
      if (f != 0.0) subtract_row(w, inv, n, r, col, f);
    }
  return true;
}

}  // namespace tesmar::mth

using namespace tesmar::mth;

extern "C" {

mpm_Status mth_IdentityMatrix(int32_t rows, int32_t columns, double *out) {
  if (rows < 1 || columns < 1) return report(error(MTH_INVALID_RANGE));
  const std::size_t r = static_cast<std::size_t>(rows), c = static_cast<std::size_t>(columns);
  for (std::size_t i = 0; i < r; ++i)
    for (std::size_t j = 0; j < c; ++j) out[i * c + j] = i == j ? 1.0 : 0.0;
  return 0;
}

mpm_Status mth_MatrixProduct(uint32_t, int32_t m, int32_t n, int32_t p, const double *a,
                             const double *b, double *c) {
  if (m < 1 || n < 1 || p < 1) return report(error(MTH_INVALID_RANGE));
  const auto M = static_cast<std::size_t>(m), N = static_cast<std::size_t>(n),
             P = static_cast<std::size_t>(p);
  return report(multiply({a, N, M, N, false}, {b, P, N, P, false}, c, P));
}

mpm_Status mth_MatrixMultiply(uint32_t, const double *a, int32_t a_stride, int32_t a_rows,
                              int32_t a_columns, int32_t a_transpose, const double *b,
                              int32_t b_stride, int32_t b_rows, int32_t b_columns,
                              int32_t b_transpose, double *c, int32_t c_stride) {
  if (a_rows < 1 || a_columns < 1 || b_rows < 1 || b_columns < 1 || a_stride < a_columns ||
      b_stride < b_columns)
    return report(error(MTH_INVALID_RANGE));
  Operand A{a, static_cast<std::size_t>(a_stride), static_cast<std::size_t>(a_rows),
            static_cast<std::size_t>(a_columns), a_transpose == 1};
  Operand B{b, static_cast<std::size_t>(b_stride), static_cast<std::size_t>(b_rows),
            static_cast<std::size_t>(b_columns), b_transpose == 1};
  if (A.op_columns() != B.op_rows() || c_stride < 1 ||
      static_cast<std::size_t>(c_stride) < B.op_columns())
    return report(error(MTH_INVALID_RANGE));
  return report(multiply(A, B, c, static_cast<std::size_t>(c_stride)));
}

mpm_Status mth_MatrixTranspose(uint32_t, int32_t rows, int32_t columns, const double *a,
                               double *out) {
  return report(transpose(rows, columns, a, out));
}

mpm_Status mth_MatrixInverse(uint32_t, int32_t n, const double *a, double *out) {
  return report(inverse(n, a, out));
}

mpm_Status mth_Solve2x2(const double *matrix, const double *rhs, double tol, double *out) {
  double a = matrix[0], b = matrix[1], c = matrix[2], d = matrix[3];
  double e = rhs[0], f = rhs[1];
  if (std::fabs(c) > std::fabs(a)) {
    double t;
    t = a, a = c, c = t;
    t = b, b = d, d = t;
    t = e, e = f, f = t;
  }
  if (!(std::fabs(a) > tol)) return MTH_SINGULAREQS;
  const double m = c / a;
  const double reduced = d - m * b;
  if (!(std::fabs(reduced) > tol)) return MTH_SINGULAREQS;
  const double y = (f - m * e) / reduced;
  const double x = (e - b * y) / a;
  out[0] = x;
  out[1] = y;
  return 0;
}

}  // extern "C"
