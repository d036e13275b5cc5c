// Dense and band matrices against LAPACK.
#include <algorithm>
#include <limits>

#include "mth/mth_test.h"

namespace tesmar::test {
namespace {

// Column-major LAPACK inverse of a row-major matrix (the inverse of the transpose is the
// transpose of the inverse, so the row-major result falls out).
std::vector<double> lapack_inverse(std::vector<double> a, int n) {
  std::vector<int> ipiv(n);
  int info = 0, lwork = 64 * n;
  std::vector<double> work(lwork);
  dgetrf_(&n, &n, a.data(), &n, ipiv.data(), &info);
  EXPECT_EQ(info, 0);
  dgetri_(&n, a.data(), &n, ipiv.data(), work.data(), &lwork, &info);
  EXPECT_EQ(info, 0);
  return a;
}

TEST_F(MthTest, InverseAgreesWithLapack) {
  Random rng(3);
  for (int trial = 0; trial < 200; ++trial) {
    const int n = 1 + trial % 12;
    std::vector<double> a(n * n);
    for (double &v : a) v = rng.uniform(-10, 10);
    if (trial % 5 == 0)
      for (int i = 0; i < n; ++i) a[i * n + i] += 1e5;  // CAD-sized entries
    std::vector<double> mine(n * n);
    ASSERT_EQ(mth_MatrixInverse(0, n, a.data(), mine.data()), 0u);
    std::vector<double> ref = lapack_inverse(a, n);
    double scale = 0;
    for (double v : ref) scale = std::max(scale, std::fabs(v));
    EXPECT_LE(max_abs_diff(mine.data(), ref.data(), n * n), 1e-10 * scale) << "n = " << n;
    // In place gives the same.
    std::vector<double> b = a;
    ASSERT_EQ(mth_MatrixInverse(0, n, b.data(), b.data()), 0u);
    EXPECT_EQ(b, mine);
  }
}

TEST_F(MthTest, MatrixSizesThatOverflowAreOutOfMemory) {
  double one = 1;
  EXPECT_EQ(mth_MatrixInverse(0, INT32_MAX, &one, &one), MTH_NOMEMORY);
  EXPECT_EQ(mpm_last_severity, MPM_ERROR);
  EXPECT_EQ(mth_MatrixTranspose(0, INT32_MAX, INT32_MAX, &one, &one), MTH_NOMEMORY);
  EXPECT_EQ(mpm_last_severity, MPM_FATAL);
  int32_t w = INT32_MAX;
  double *band = nullptr;
  EXPECT_EQ(mth_BandStore(0, &one, INT32_MAX, INT32_MAX, &w, &band), MTH_NOMEMORY);
  EXPECT_EQ(band, nullptr);
  EXPECT_EQ(one, 1.0);
}

TEST_F(MthTest, ProductsTransposesAndAliasing) {
  Random rng(5);
  const int m = 3, n = 4, p = 2;
  std::vector<double> a(m * n), b(n * p), c(m * p), ref(m * p, 0.0);
  for (double &v : a) v = rng.uniform(-1, 1);
  for (double &v : b) v = rng.uniform(-1, 1);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < p; ++j)
      for (int k = 0; k < n; ++k) ref[i * p + j] += a[i * n + k] * b[k * p + j];
  ASSERT_EQ(mth_MatrixProduct(0, m, n, p, a.data(), b.data(), c.data()), 0u);
  EXPECT_LE(max_abs_diff(c.data(), ref.data(), m * p), 1e-15);
  // op(A) op(B) with strides: (B^T A^T)^T = A B, computed here as B^T A^T into a padded C.
  std::vector<double> at(n * m), bt(p * n), ct(p * 5, 9.0);
  ASSERT_EQ(mth_MatrixTranspose(0, m, n, a.data(), at.data()), 0u);
  ASSERT_EQ(mth_MatrixTranspose(0, n, p, b.data(), bt.data()), 0u);
  ASSERT_EQ(mth_MatrixMultiply(0, b.data(), p, n, p, 1, a.data(), n, m, n, 1, ct.data(), 5), 0u);
  for (int i = 0; i < p; ++i)
    for (int j = 0; j < m; ++j) EXPECT_NEAR(ct[i * 5 + j], ref[j * p + i], 1e-15);
  EXPECT_EQ(ct[3], 9.0);  // padding untouched
  // Square product into one of its inputs.
  double s[4] = {1, 2, 3, 4}, t[4] = {0, 1, 1, 0};
  ASSERT_EQ(mth_MatrixProduct(0, 2, 2, 2, s, t, s), 0u);
  EXPECT_EQ(s[0], 2.0);
  EXPECT_EQ(s[1], 1.0);
  EXPECT_EQ(s[2], 4.0);
  ASSERT_EQ(mth_MatrixMultiply(0, t, 2, 2, 2, 0, t, 2, 2, 2, 0, t, 2), 0u);
  EXPECT_EQ(t[0], 1.0);
  EXPECT_EQ(t[1], 0.0);
  // Transpose in place of a non-square matrix.
  double r[6] = {1, 2, 3, 4, 5, 6};
  ASSERT_EQ(mth_MatrixTranspose(0, 2, 3, r, r), 0u);
  EXPECT_EQ(std::vector<double>(r, r + 6), (std::vector<double>{1, 4, 2, 5, 3, 6}));
  // Mismatched inner sizes and short strides.
  EXPECT_EQ(mth_MatrixMultiply(0, a.data(), n, m, n, 0, a.data(), n, m, n, 0, c.data(), n),
            MTH_INVALID_RANGE);
  EXPECT_EQ(mth_MatrixMultiply(0, a.data(), 2, m, n, 0, b.data(), p, n, p, 0, c.data(), p),
            MTH_INVALID_RANGE);
  EXPECT_EQ(mth_MatrixProduct(0, 0, n, p, a.data(), b.data(), c.data()), MTH_INVALID_RANGE);
  double id[6];
  ASSERT_EQ(mth_IdentityMatrix(2, 3, id), 0u);
  EXPECT_EQ(std::vector<double>(id, id + 6), (std::vector<double>{1, 0, 0, 0, 1, 0}));
}

TEST_F(MthTest, Solve2x2PivotsAndReportsSingularity) {
  const double m[4] = {1e-20, 1, 1, 1}, rhs[2] = {1, 2};
  double x[2] = {0, 0};
  ASSERT_EQ(mth_Solve2x2(m, rhs, 1e-13, x), 0u);
  EXPECT_NEAR(x[0], 1.0, 1e-15);
  EXPECT_NEAR(x[1], 1.0, 1e-15);
  const double s[4] = {1, 2, 2, 4};
  x[0] = 5;
  EXPECT_EQ(mth_Solve2x2(s, rhs, 1e-13, x), MTH_SINGULAREQS);
  EXPECT_EQ(x[0], 5.0);
  EXPECT_TRUE(pending_texts().empty());
}

// A random diagonally dominant band matrix, full storage.
std::vector<double> band_matrix(Random &rng, int n, int w) {
  std::vector<double> a(n * n, 0.0);
  for (int i = 0; i < n; ++i)
    for (int j = std::max(0, i - w); j <= std::min(n - 1, i + w); ++j)
      a[i * n + j] = i == j ? 4.0 * w + rng.uniform(1, 2) : rng.uniform(-1, 1);
  return a;
}

TEST_F(MthTest, BandSolveAgreesWithLapack) {
  Random rng(17);
  for (int trial = 0; trial < 60; ++trial) {
    const int n = 1 + trial, w = trial % 5;
    std::vector<double> a = band_matrix(rng, n, w), rhs(n);
    for (double &v : rhs) v = rng.uniform(-5, 5);
    int32_t half = trial % 2 == 0 ? w : 0;  // 0: found from the matrix
    double *band = nullptr;
    ASSERT_EQ(mth_BandStore(0, a.data(), n, n, &half, &band), 0u);
    if (w > 0 && n > w) {
      EXPECT_EQ(half, w);
    }
    std::vector<double> b = rhs, x(n);
    ASSERT_EQ(mth_BandDecompose(0, band, n, half), 0u);
    ASSERT_EQ(mth_BandSolve(0, band, n, half, b.data(), x.data()), 0u);
    std::free(band);
    // LAPACK's general band solver (with pivoting) on the same system.
    const int kl = w, ku = w, ldab = 2 * kl + ku + 1, nrhs = 1;
    std::vector<double> ab(ldab * n, 0.0), y = rhs;
    std::vector<int> ipiv(n);
    for (int j = 0; j < n; ++j)
      for (int i = std::max(0, j - ku); i <= std::min(n - 1, j + kl); ++i)
        ab[j * ldab + kl + ku + i - j] = a[i * n + j];
    int info = 0;
    dgbsv_(&n, &kl, &ku, &nrhs, ab.data(), &ldab, ipiv.data(), y.data(), &n, &info);
    ASSERT_EQ(info, 0);
    EXPECT_LE(max_abs_diff(x.data(), y.data(), n), 1e-13) << "n " << n << " w " << w;
  }
}

TEST_F(MthTest, BandSolutionMayOverwriteItsRightHandSide) {
  Random rng(19);
  const int n = 9, w = 2;
  std::vector<double> a = band_matrix(rng, n, w), rhs(n);
  for (double &v : rhs) v = rng.uniform(-5, 5);
  int32_t half = w;
  double *band = nullptr;
  ASSERT_EQ(mth__BandStore(0, a.data(), n, n, &half, &band), 0u);
  ASSERT_EQ(mth__BandDecompose(0, band, n, half), 0u);
  std::vector<double> apart = rhs, x(n), same = rhs;
  ASSERT_EQ(mth__BandSolve(0, band, n, half, apart.data(), x.data()), 0u);
  ASSERT_EQ(mth_BandSolve(0, band, n, half, same.data(), same.data()), 0u);
  EXPECT_EQ(same, x);
  std::free(band);
}

TEST_F(MthTest, BandStoreLayoutAndSingularBands) {
  const double full[9] = {1, 2, 0, 3, 4, 5, 0, 6, 7};
  int32_t half = 0;
  double *band = nullptr;
  ASSERT_EQ(mth_BandStore(0, full, 3, 3, &half, &band), 0u);
  EXPECT_EQ(half, 1);
  EXPECT_EQ(std::vector<double>(band, band + 9), (std::vector<double>{0, 1, 2, 3, 4, 5, 6, 7, 0}));
  std::free(band);
  // A zero pivot: singular, quietly; also for order 1 and for a diagonal band.
  double zero[3] = {0, 0, 0};
  double one[1] = {0.0};
  EXPECT_EQ(mth_BandDecompose(0, one, 1, 0), MTH_SINGULAREQS);
  double diag[3] = {1, 0, 2};
  EXPECT_EQ(mth_BandDecompose(0, diag, 3, 0), MTH_SINGULAREQS);
  double rhs[3] = {1, 1, 1};
  EXPECT_EQ(mth_BandSolve(0, diag, 3, 0, rhs, zero), MTH_SINGULAREQS);
  EXPECT_EQ(rhs[0], 1.0);
  const double sing[4] = {1, 1, 1, 1};
  half = 1;
  ASSERT_EQ(mth_BandStore(0, sing, 2, 2, &half, &band), 0u);
  EXPECT_EQ(mth_BandDecompose(0, band, 2, 1), MTH_SINGULAREQS);
  std::free(band);
  EXPECT_TRUE(pending_texts().empty());
  EXPECT_EQ(mth_BandDecompose(0, diag, 0, 0), MTH_INVALID_RANGE);
  EXPECT_EQ(mth_BandStore(0, full, 2, 3, &half, &band), MTH_INVALID_RANGE);
}

}  // namespace
}  // namespace tesmar::test
