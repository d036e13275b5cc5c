// Fitting at CAD coordinates, against LAPACK's least squares and high-precision circles.
#include <limits>

#include "mth/mth_test.h"

namespace tesmar::test {
namespace {

constexpr double kBase = 1e5;
constexpr int kCount = 10000;

// y = a + b x by LAPACK's QR least squares.
void lapack_line(const std::vector<double> &pts, double *a, double *b) {
  int m = static_cast<int>(pts.size() / 2), n = 2, nrhs = 1, lwork = 64 * m, info = 0;
  std::vector<double> A(2 * m), y(m), work(lwork);
  for (int i = 0; i < m; ++i) A[i] = 1.0, A[m + i] = pts[2 * i], y[i] = pts[2 * i + 1];
  dgels_("N", &m, &n, &nrhs, A.data(), &m, y.data(), &m, work.data(), &lwork, &info);
  ASSERT_EQ(info, 0);
  *a = y[0], *b = y[1];
}

TEST_F(MthTest, LineFitAtCadCoordinates) {
  Random rng(31);
  const double theta = 0.3, ux = std::cos(theta), uy = std::sin(theta);
  std::vector<double> pts(2 * kCount), shifted(2 * kCount);
  for (int i = 0; i < kCount; ++i) {
    const double s = rng.uniform(-100, 100);
    pts[2 * i] = kBase + s * ux + rng.uniform(-1e-3, 1e-3);
    pts[2 * i + 1] = kBase + s * uy + rng.uniform(-1e-3, 1e-3);
    shifted[2 * i] = pts[2 * i] - kBase;  // exact
    shifted[2 * i + 1] = pts[2 * i + 1] - kBase;
  }
  double f[2], d[2];
  ASSERT_EQ(mth_FitLine2D(MTH_DIRECTION, pts.data(), kCount, 2, 1e-9, f, d), 0);
  const double len = std::hypot(d[0], d[1]);
  EXPECT_NEAR(d[0] / len, ux, 1e-6);
  EXPECT_NEAR(d[1] / len, uy, 1e-6);
  // The true centre lies on the fitted line.
  const double off = std::fabs((kBase - f[0]) * d[1] - (kBase - f[1]) * d[0]) / len;
  EXPECT_LE(off, 1e-6 * kBase);
  EXPECT_LE(off, 1e-4);
  // LAPACK's slope and intercept give the same line.
  double a = 0, b = 0;
  lapack_line(pts, &a, &b);
  EXPECT_NEAR(d[1] / d[0], b, 1e-10);
  EXPECT_NEAR(f[1], a + b * f[0], 1e-7);
  // Moved to the origin: the same line, moved.
  double g[2], e[2];
  ASSERT_EQ(mth_FitLine2D(MTH_DIRECTION, shifted.data(), kCount, 2, 1e-9, g, e), 0);
  EXPECT_NEAR(g[0] + kBase, f[0], 1e-9);
  EXPECT_NEAR(g[1] + kBase, f[1], 1e-9);
  EXPECT_NEAR(e[0], d[0], 1e-9);
  EXPECT_NEAR(e[1], d[1], 1e-9);
}

TEST_F(MthTest, LineFitSmallCasesAndSteepLines) {
  const double two[4] = {1, 1, 4, 5};
  double f[2] = {9, 9}, s[2] = {9, 9};
  EXPECT_EQ(mth_FitLine2D(0, two, 2, 2, 1e-9, f, s), 0);
  EXPECT_EQ(s[1], 5.0);
  EXPECT_EQ(mth_FitLine2D(MTH_DIRECTION, two, 2, 2, 1e-9, f, s), 0);
  EXPECT_EQ(s[0], 3.0);
  f[0] = 9;
  EXPECT_EQ(mth_FitLine2D(0, two, 1, 2, 1e-9, f, s), 1);
  EXPECT_EQ(mth_FitLine2D(0, two, 0, 2, 1e-9, f, s), 1);
  const double same[6] = {2, 2, 2, 2, 2, 2};
  EXPECT_EQ(mth_FitLine2D(0, same, 3, 2, 1e-9, f, s), 1);
  EXPECT_EQ(f[0], 9.0);
  // A vertical line is fitted as x on y, from the lowest to the highest point (stride 3).
  const double vert[9] = {3, 0, 99, 3, 2, 99, 3, 1, 99};
  EXPECT_EQ(mth_FitLine2D(0, vert, 3, 3, 1e-9, f, s), 0);
  EXPECT_EQ(f[0], 3.0);
  EXPECT_EQ(f[1], 0.0);
  EXPECT_EQ(s[1], 2.0);
  const double nan[6] = {std::numeric_limits<double>::quiet_NaN(), 0, 1, 1, 2, 2};
  f[0] = 9;
  EXPECT_EQ(mth_FitLine2D(0, nan, 3, 2, 1e-9, f, s), 1);
  EXPECT_EQ(f[0], 9.0);
}

TEST_F(MthTest, PlaneFitAtCadCoordinates) {
  Random rng(37);
  double n[3] = {0.2, -0.3, 0.9}, u[3], v[3];
  mth_NormalizeVector(3, n, n);
  mth_FindTwoPerpAxesToAxis(0, n, u, v);
  std::vector<double> pts(3 * kCount), shifted(3 * kCount);
  for (int i = 0; i < kCount; ++i) {
    const double a = rng.uniform(-100, 100), b = rng.uniform(-100, 100);
    for (int k = 0; k < 3; ++k) {
      pts[3 * i + k] = kBase + a * u[k] + b * v[k] + rng.uniform(-1e-3, 1e-3);
      shifted[3 * i + k] = pts[3 * i + k] - kBase;
    }
  }
  double normal[3], d;
  ASSERT_EQ(mth_FitPlane(0, pts.data(), kCount, 1e-2, normal, &d), 1);
  if (mth_DotProduct(3, normal, n) < 0) mth_ScaleVector(3, normal, -1, normal), d = -d;
  EXPECT_LE(max_abs_diff(normal, n, 3), 1e-6);
  const double true_d = kBase * (n[0] + n[1] + n[2]);
  EXPECT_NEAR(d, true_d, 1e-6 * std::fabs(true_d));
  // LAPACK: z = a x + b y + c on the same points.
  int m = kCount, cols = 3, nrhs = 1, lwork = 64 * m, info = 0;
  std::vector<double> A(3 * m), z(m), work(lwork);
  for (int i = 0; i < m; ++i)
    A[i] = shifted[3 * i], A[m + i] = shifted[3 * i + 1], A[2 * m + i] = 1.0, z[i] = shifted[3 * i + 2];
  dgels_("N", &m, &cols, &nrhs, A.data(), &m, z.data(), &m, work.data(), &lwork, &info);
  ASSERT_EQ(info, 0);
  double ref[3] = {-z[0], -z[1], 1.0};
  mth_NormalizeVector(3, ref, ref);
  EXPECT_LE(max_abs_diff(normal, ref, 3), 1e-12);
  // At the origin: the same normal, the offset moved.
  double n2[3], d2;
  ASSERT_EQ(mth_FitPlane(0, shifted.data(), kCount, 1e-2, n2, &d2), 1);
  if (mth_DotProduct(3, n2, n) < 0) mth_ScaleVector(3, n2, -1, n2), d2 = -d2;
  EXPECT_LE(max_abs_diff(normal, n2, 3), 1e-12);
  EXPECT_NEAR(d2 + kBase * (n2[0] + n2[1] + n2[2]), d, 1e-8);
  // Too tight a tolerance: 0, nothing written unless asked.
  double keep[3] = {5, 5, 5}, kd = 5;
  EXPECT_EQ(mth_FitPlane(0, pts.data(), kCount, 1e-5, keep, &kd), 0);
  EXPECT_EQ(keep[0], 5.0);
  EXPECT_EQ(mth_FitPlane(MTH_WRITE_ANYWAY, pts.data(), kCount, 1e-5, keep, &kd), 0);
  EXPECT_NE(keep[0], 5.0);
}

TEST_F(MthTest, PlaneFitSpecialCases) {
  double n[3] = {9, 9, 9}, d = 9;
  // In the plane z = 0: collinear or not.
  const double line0[9] = {0, 0, 0, 1, 1, 0, 2, 2, 0};
  EXPECT_EQ(mth_FitPlane(0, line0, 3, 1e-9, n, &d), -2);
  EXPECT_EQ(n[2], 1.0);
  EXPECT_EQ(d, 0.0);
  const double tri0[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  EXPECT_EQ(mth_FitPlane(0, tri0, 3, 1e-9, n, &d), 2);
  EXPECT_EQ(mth_FitPlane(0, tri0, 2, 1e-9, n, &d), -2);
  // All at z = 4: the plane z = 4.
  const double flat[12] = {0, 0, 4, 1, 0, 4, 0, 1, 4, 1, 1, 4};
  EXPECT_EQ(mth_FitPlane(0, flat, 4, 1e-9, n, &d), 1);
  EXPECT_EQ(d, 4.0);
  EXPECT_EQ(n[0], 0.0);
  // A vertical plane x = 2: solved along x, normal snapped.
  const double wall[12] = {2, 0, 0, 2, 1, 0, 2, 0, 1, 2, 1, 1};
  EXPECT_EQ(mth_FitPlane(0, wall, 4, 1e-9, n, &d), 1);
  EXPECT_EQ(n[0], 1.0);
  EXPECT_EQ(n[1], 0.0);
  EXPECT_DOUBLE_EQ(d, 2.0);
  // Collinear points off z = 0 define no plane; neither do two points.
  const double line[9] = {0, 0, 1, 1, 1, 2, 2, 2, 3};
  n[0] = 9;
  EXPECT_EQ(mth_FitPlane(0, line, 3, 1e-9, n, &d), -1);
  EXPECT_EQ(mth_FitPlane(0, line, 2, 1e-9, n, &d), -1);
  EXPECT_EQ(n[0], 9.0);
  EXPECT_EQ(mth_FitPlane(0, line, 0, 1e-9, n, &d), -1);
  EXPECT_EQ(pending_texts().size(), 1u);  // INVALID_RANGE for the empty list
}

TEST_F(MthTest, CircleThroughThreePointsMatchesReference) {
  for (const Reference &r : references("circle3")) {
    double c[3], radius, normal[3];
    ASSERT_EQ(mth_PointsOnCircle(r.in.data(), 3, 3, 1e-12, 1e-6, c, &radius, normal), 1);
    EXPECT_LE(max_abs_diff(c, r.out.data(), 3), 1e-9);
    EXPECT_NEAR(radius, r.out[3], 1e-9);
    EXPECT_NEAR(mth_VectorLength(3, normal), 1.0, 1e-15);
  }
  for (const Reference &r : references("circle2")) {
    double c[2], radius, normal[3];
    ASSERT_EQ(mth_PointsOnCircle(r.in.data(), 3, 2, 1e-12, 1e-6, c, &radius, normal), 1);
    const double scale = std::fmax(1.0, r.out[2]);
    EXPECT_LE(max_abs_diff(c, r.out.data(), 2), 1e-9 * scale);
    EXPECT_NEAR(radius, r.out[2], 1e-9 * scale);
    EXPECT_EQ(std::fabs(normal[2]), 1.0);
  }
}

TEST_F(MthTest, CircleFitAtCadCoordinates) {
  Random rng(41);
  double n[3] = {0.3, 0.5, -0.8}, u[3], v[3];
  mth_NormalizeVector(3, n, n);
  mth_FindTwoPerpAxesToAxis(0, n, u, v);
  const double radius = 50.0, centre[3] = {kBase + 1.5, kBase - 2.5, kBase + 0.25};
  std::vector<double> pts(3 * kCount), shifted(3 * kCount);
  for (int i = 0; i < kCount; ++i) {
    const double a = rng.uniform(0, MTH_TWO_PI), r = radius + rng.uniform(-1e-3, 1e-3);
    for (int k = 0; k < 3; ++k) {
      pts[3 * i + k] = centre[k] + r * (std::cos(a) * u[k] + std::sin(a) * v[k]);
      shifted[3 * i + k] = pts[3 * i + k] - kBase;
    }
  }
  double c[3], r, normal[3];
  ASSERT_EQ(mth_PointsOnCircle(pts.data(), kCount, 3, 1e-12, 1e-2, c, &r, normal), 1);
  EXPECT_LE(max_abs_diff(c, centre, 3), 1e-6 * kBase);
  EXPECT_NEAR(r, radius, 1e-6 * radius);
  EXPECT_NEAR(std::fabs(mth_DotProduct(3, normal, n)), 1.0, 1e-9);
  double c2[3], r2, n2[3];
  ASSERT_EQ(mth_PointsOnCircle(shifted.data(), kCount, 3, 1e-12, 1e-2, c2, &r2, n2), 1);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(c2[k] + kBase, c[k], 1e-8);
  EXPECT_NEAR(r2, r, 1e-9);
  // The distances disagree by more than a tight radius tolerance: 0, results still written.
  EXPECT_EQ(mth_PointsOnCircle(pts.data(), kCount, 3, 1e-12, 1e-4, c2, &r2, n2), 0);
  EXPECT_NEAR(r2, r, 1e-9);
}

TEST_F(MthTest, CircleOfCollinearPointsIsNotFound) {
  const double line[9] = {0, 0, 0, 1, 1, 1, 3, 3, 3};
  double c[3] = {7, 7, 7}, r = 7, n[3] = {7, 7, 7};
  EXPECT_EQ(mth_PointsOnCircle(line, 3, 3, 1e-12, 1.0, c, &r, n), 0);
  EXPECT_EQ(mth_PointsOnCircle(line, 2, 3, 1e-12, 1.0, c, &r, n), 0);
  const double line2[6] = {0, 0, 1, 2, 3, 6};
  EXPECT_EQ(mth_PointsOnCircle(line2, 3, 2, 1e-12, 1.0, c, &r, n), 0);
  const double same[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_EQ(mth_PointsOnCircle(same, 3, 3, 1e-12, 1.0, c, &r, n), 0);
  EXPECT_EQ(c[0], 7.0);
  EXPECT_EQ(r, 7.0);
  EXPECT_TRUE(all_numbers(n, 3));
  EXPECT_EQ(mth_PointsOnCircle(line, 3, 4, 1e-12, 1.0, c, &r, n), 0);
  EXPECT_EQ(pending_texts().size(), 1u);  // INVALID_OPT for dimension 4
}

TEST_F(MthTest, CollinearPointSetsAndStraightPolylines) {
  const double pts[12] = {0, 0, 0, 5, 5, 0, 2, 2, 1e-7, 1, 1, 0};
  int32_t i = -1, j = -1;
  EXPECT_EQ(mth_PointsCollinear(pts, 4, 3, 1e-9, 1e-6, &i, &j), 1);
  EXPECT_EQ(i, 0);
  EXPECT_EQ(j, 1);
  EXPECT_EQ(mth_PointsCollinear(pts, 4, 3, 1e-9, 1e-8, &i, &j), 0);
  const double same[6] = {1, 1, 1, 1, 1, 1};
  EXPECT_EQ(mth_PointsCollinear(same, 2, 3, 1e-9, 1e-6, &i, &j), 0);
  EXPECT_EQ(mth_PointsCollinear(same, 1, 3, 1e-9, 1e-6, &i, &j), 0);
  const double straight[12] = {0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3};
  EXPECT_EQ(mth_PolylineStraight(straight, 4, 3, 0.0, 1e-12), 1);
  EXPECT_EQ(mth_PolylineStraight(pts, 3, 3, 0.0, 1e-12), 0);  // turns back
  EXPECT_EQ(mth_PolylineStraight(pts, 2, 3, 0.0, 1e-12), 1);
}

}  // namespace
}  // namespace tesmar::test
