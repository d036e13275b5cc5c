// Band matrices: storage, LU decomposition without pivoting, and solution.
//
// A band matrix of order n and half bandwidth w keeps row i as the 2w + 1 entries of columns
// i - w .. i + w, the diagonal at offset w; entries outside the matrix are stored as 0. Without
// pivoting the factors stay inside the band, so the decomposition overwrites the matrix: the
// multipliers of L (unit diagonal) below the diagonal, U on and above it.
#include "mth/mth_internal.h"

namespace tesmar::mth {
namespace {

struct Band {
  double *m;
  std::size_t n, w, width;
  double &at(std::size_t i, std::size_t j) const { return m[i * width + (j + w - i)]; }
};

std::size_t last_in_band(std::size_t k, std::size_t w, std::size_t n) {
  return k + w < n - 1 ? k + w : n - 1;
}

Failure store(const double *full, int32_t stride, int32_t n, int32_t *half_bandwidth,
              double **band) {
  if (n < 1 || stride < n) return error(MTH_INVALID_RANGE);
  const std::size_t N = static_cast<std::size_t>(n), S = static_cast<std::size_t>(stride);
  std::size_t w = *half_bandwidth > 0 ? static_cast<std::size_t>(*half_bandwidth) : 0;
  if (*half_bandwidth < 1)
    for (std::size_t i = 0; i < N; ++i)
      for (std::size_t j = 0; j < N; ++j)
        if (full[i * S + j] != 0.0) {
          std::size_t d = i > j ? i - j : j - i;
          if (d > w) w = d;
        }
  std::size_t width, cells;
  Buffer<double> out;
  if (!checked_size(w, 2, &width) || width + 1 < width || !checked_size(N, width + 1, &cells) ||
      !out.resize(cells))
    return kNoMemory;
  width += 1;
  for (std::size_t i = 0; i < N; ++i)
    for (std::size_t k = 0; k < width; ++k) {
      // Column j = i + k - w, when it lies inside the matrix.
      bool inside = i + k >= w && i + k - w < N;
      out[i * width + k] = inside ? full[i * S + (i + k - w)] : 0.0;
    }
  *half_bandwidth = static_cast<int32_t>(w);
  *band = out.release();
  return kOk;
}

bool pivot_ok(double v) { return std::fabs(v) > MTH_BAND_PIVOT_TOL; }

Failure decompose(double *band, int32_t n, int32_t half_bandwidth) {
  if (n < 1 || half_bandwidth < 0) return error(MTH_INVALID_RANGE);
  const Band b{band, static_cast<std::size_t>(n), static_cast<std::size_t>(half_bandwidth),
               2 * static_cast<std::size_t>(half_bandwidth) + 1};
  if (b.n == 1 || b.w == 0) {
    // Nothing to eliminate, but a zero pivot is still a singular system.
    for (std::size_t k = 0; k < b.n; ++k)
      if (!pivot_ok(b.at(k, k))) return quiet(MTH_SINGULAREQS);
    return kOk;
  }
  for (std::size_t k = 0; k < b.n; ++k) {
    const double pivot = b.at(k, k);
    if (!pivot_ok(pivot)) return quiet(MTH_SINGULAREQS);
    const std::size_t last = last_in_band(k, b.w, b.n);
    for (std::size_t i = k + 1; i <= last; ++i) {
      const double l = b.at(i, k) / pivot;
      b.at(i, k) = l;
      if (l != 0.0)
        for (std::size_t j = k + 1; j <= last; ++j) b.at(i, j) -= l * b.at(k, j);
    }
  }
  return kOk;
}

Failure solve(const double *band, int32_t n, int32_t half_bandwidth, double *rhs, double *work) {
  if (n < 1 || half_bandwidth < 0) return error(MTH_INVALID_RANGE);
  const Band b{const_cast<double *>(band), static_cast<std::size_t>(n),
               static_cast<std::size_t>(half_bandwidth),
               2 * static_cast<std::size_t>(half_bandwidth) + 1};
  for (std::size_t i = 0; i < b.n; ++i)
    if (!pivot_ok(b.at(i, i))) return quiet(MTH_SINGULAREQS);
  for (std::size_t i = 1; i < b.n; ++i) {
    double sum = rhs[i];
    for (std::size_t k = i > b.w ? i - b.w : 0; k < i; ++k) sum -= b.at(i, k) * rhs[k];
    rhs[i] = sum;
  }
  for (std::size_t i = b.n; i-- > 0;) {
    double sum = rhs[i];
    const std::size_t last = last_in_band(i, b.w, b.n);
    for (std::size_t j = i + 1; j <= last; ++j) sum -= b.at(i, j) * work[j];
    work[i] = sum / b.at(i, i);
  }
  return kOk;
}

}  // namespace
}  // namespace tesmar::mth

using namespace tesmar::mth;

extern "C" {

mpm_Status mth_BandStore(uint32_t, const double *full, int32_t stride, int32_t n,
                         int32_t *half_bandwidth, double **band) {
  return report(store(full, stride, n, half_bandwidth, band));
}

mpm_Status mth_BandDecompose(uint32_t, double *band, int32_t n, int32_t half_bandwidth) {
  return report(decompose(band, n, half_bandwidth));
}

mpm_Status mth_BandSolve(uint32_t, const double *band, int32_t n, int32_t half_bandwidth,
                         double *rhs, double *work) {
  return report(solve(band, n, half_bandwidth, rhs, work));
}

mpm_Status mth__BandStore(uint32_t opts, const double *full, int32_t stride, int32_t n,
                          int32_t *half_bandwidth, double **band) {
  return mth_BandStore(opts, full, stride, n, half_bandwidth, band);
}

mpm_Status mth__BandDecompose(uint32_t opts, double *band, int32_t n, int32_t half_bandwidth) {
  return mth_BandDecompose(opts, band, n, half_bandwidth);
}

mpm_Status mth__BandSolve(uint32_t opts, const double *band, int32_t n, int32_t half_bandwidth,
                          double *rhs, double *work) {
  return mth_BandSolve(opts, band, n, half_bandwidth, rhs, work);
}

}  // extern "C"
