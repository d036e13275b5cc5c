// Coordinate systems, transforms, projections and intersections against high-precision values.
#include <limits>

#include "mth/mth_test.h"

namespace tesmar::test {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Largest |x| of the reference results of a line, for relative tolerances.
double magnitude(const std::vector<double> &v) {
  double m = 1.0;
  for (double x : v) m = std::fmax(m, std::fabs(x));
  return m;
}

TEST_F(MthTest, RotationAboutAnAxisMatchesReference) {
  const auto refs = references("rotate_about_axis");
  ASSERT_EQ(refs.size(), 40u);
  for (const Reference &r : refs) {
    double m[16], out[3];
    ASSERT_EQ(mth_MatrixRotateAboutAxis(MTH_MATRIX_4X4, &r.in[0], &r.in[3], r.in[6], m), 0u);
    EXPECT_EQ(m[12], 0.0);
    EXPECT_EQ(m[15], 1.0);
    mth_TransformPoint(0, &r.in[7], m, out);
    EXPECT_LE(max_abs_diff(out, r.out.data(), 3), 4e-15 * magnitude(r.out));
  }
}

TEST_F(MthTest, RotationMatrixMatchesReferenceAndIsOrthonormal) {
  for (const Reference &r : references("rotation_matrix")) {
    double m[9];
    ASSERT_EQ(mth_RotationMatrixAxisAngle(&r.in[0], r.in[3], m), 0u);
    EXPECT_LE(max_abs_diff(m, r.out.data(), 9), 1e-15);
  }
  const double z[3] = {0, 0, 2};
  double m[9];
  ASSERT_EQ(mth_RotationMatrixAxisAngle(z, MTH_PI / 2, m), 0u);  // snapped: exact
  EXPECT_EQ(std::vector<double>(m, m + 9), (std::vector<double>{0, -1, 0, 1, 0, 0, 0, 0, 1}));
  const double zero[3] = {0, 0, 0};
  EXPECT_EQ(mth_RotationMatrixAxisAngle(zero, 1.0, m), MTH_ZERO_LENGTH);
  EXPECT_EQ(m[1], -1.0);
}

TEST_F(MthTest, RotateAboutAxisThroughAPoint) {
  const double p[3] = {1, 0, 0}, axis[3] = {0, 0, 1}, q[3] = {2, 0, 0};
  double m[12], out[3];
  ASSERT_EQ(mth_MatrixRotateAboutAxis(0, p, axis, MTH_PI / 2, m), 0u);
  mth_TransformPoint(0, q, m, out);
  EXPECT_NEAR(out[0], 1.0, 1e-15);
  EXPECT_NEAR(out[1], 1.0, 1e-15);
  EXPECT_NEAR(out[2], 0.0, 1e-15);
  // A vector is only rotated.
  mth_TransformVector(0, q, m, out);
  EXPECT_NEAR(out[0], 0.0, 1e-15);
  EXPECT_NEAR(out[1], 2.0, 1e-15);
  // Translation along an axis moves by distance * unit(axis) whatever the point.
  const double a[3] = {1, 2, 2}, o[3] = {5, -3, 7};
  ASSERT_EQ(mth_MatrixTranslateAlongAxis(0, o, a, 6.0, m), 0u);
  mth_TransformPoint(0, q, m, out);
  EXPECT_NEAR(out[0], 4.0, 1e-14);
  EXPECT_NEAR(out[1], 4.0, 1e-14);
  EXPECT_NEAR(out[2], 4.0, 1e-14);
  const double zero[3] = {0, 0, 0};
  double keep[12] = {3};
  EXPECT_EQ(mth_MatrixRotateAboutAxis(0, p, zero, 1.0, keep), MTH_ZERO_LENGTH);
  EXPECT_EQ(keep[0], 3.0);
}

TEST_F(MthTest, LocalAndGlobalSystemsAreInverses) {
  Random rng(23);
  for (int trial = 0; trial < 100; ++trial) {
    double x[3], y[3], z[3], o[3], q[3];
    for (int i = 0; i < 3; ++i) {
      x[i] = rng.uniform(-1, 1), y[i] = rng.uniform(-1, 1), z[i] = rng.uniform(-1, 1);
      o[i] = rng.uniform(-1e5, 1e5), q[i] = rng.uniform(-10, 10);
    }
    double l[16], g[12], there[3], back[3];
    ASSERT_EQ(mth_MatrixLocalToGlobalSys(MTH_MATRIX_4X4, x, y, z, o, l), 0u);
    ASSERT_EQ(mth_MatrixGlobalToLocalSys(0, x, y, z, o, g), 0u);
    mth_TransformPoint(0, q, l, there);
    mth_TransformPoint(0, there, g, back);
    EXPECT_LE(max_abs_diff(back, q, 3), 1e-7);  // random axes may be far from orthogonal
    double n[3];
    mth_NormalizeVector(3, y, n);
    EXPECT_NEAR(l[1], n[0], 1e-15);  // column 1 is the unit y axis
    EXPECT_EQ(l[3], o[0]);
  }
  const double x[3] = {1, 0, 0}, y[3] = {2, 0, 0}, z[3] = {0, 0, 1}, o[3] = {0, 0, 0}, zero[3] = {};
  double m[16] = {5};
  EXPECT_EQ(mth_MatrixGlobalToLocalSys(0, x, y, z, o, m), MTH_SINGULAR_MATRIX);
  EXPECT_EQ(mth_MatrixLocalToGlobalSys(0, x, zero, z, o, m), MTH_ZERO_LENGTH);
  EXPECT_EQ(m[0], 5.0);
}

TEST_F(MthTest, PerpendicularAxesAndFrames) {
  Random rng(29);
  for (int trial = 0; trial < 300; ++trial) {
    double a[3] = {rng.uniform(-1, 1), rng.uniform(-1, 1), rng.uniform(-1, 1)};
    if (trial % 3 == 0) a[trial % 2] = 0.0;
    double u[3], v[3], f[9];
    ASSERT_EQ(mth_FindTwoPerpAxesToAxis(0, a, u, v), 0u);
    EXPECT_NEAR(mth_VectorLength(3, u), 1.0, 1e-15);
    EXPECT_NEAR(mth_VectorLength(3, v), 1.0, 1e-15);
    EXPECT_NEAR(mth_DotProduct(3, u, a), 0.0, 1e-15);
    EXPECT_NEAR(mth_DotProduct(3, v, a), 0.0, 1e-15);
    EXPECT_NEAR(mth_DotProduct(3, u, v), 0.0, 1e-15);
    ASSERT_EQ(mth_FrameFromAxis(a, f), 0u);
    double xy[3];
    mth_CrossProduct(f, f + 3, xy);  // x cross y is z: right-handed
    EXPECT_LE(max_abs_diff(xy, f + 6, 3), 1e-15);
    EXPECT_NEAR(mth_DotProduct(3, f, f + 3), 0.0, 1e-15);
  }
  const double x[3] = {-2, 0, 0};
  double f[9];
  ASSERT_EQ(mth_FrameFromAxis(x, f), 0u);
  EXPECT_EQ(f[6], -1.0);
  EXPECT_EQ(f[7], 0.0);
  // Zero and non-finite axes: the code, nothing written.
  const double bad[3][3] = {{0, 0, 0}, {kNaN, 1, 0}, {1e-14, 0, 0}};
  for (const auto &a : bad) {
    double u[3] = {9, 9, 9}, v[3] = {9, 9, 9};
    EXPECT_EQ(mth_FindTwoPerpAxesToAxis(0, a, u, v), MTH_ZERO_LENGTH);
    EXPECT_EQ(u[0], 9.0);
    EXPECT_EQ(v[2], 9.0);
  }
  EXPECT_TRUE(pending_texts().empty());
}

TEST_F(MthTest, PlaneMatrices) {
  const double p0[3] = {1, 1, 5}, p1[3] = {3, 1, 5}, p2[3] = {1, 4, 5};
  double m[9];
  ASSERT_EQ(mth_PlaneMatrixFrom3Points(p0, p1, p2, m), 0u);
  EXPECT_NEAR(m[0], 1.0, 1e-15);  // first column along p1 - p0
  EXPECT_NEAR(std::fabs(m[8]), 1.0, 1e-15);  // normal along z
  double keep[9] = {4, 4, 4, 4, 4, 4, 4, 4, 4};
  const double c2[3] = {5, 1, 5};
  EXPECT_EQ(mth_PlaneMatrixFrom3Points(p0, p1, c2, keep), MTH_COLINEARPLANEPNTS);
  EXPECT_TRUE(all_numbers(keep, 9));
  EXPECT_EQ(keep[0], 4.0);
  EXPECT_EQ(mth_PlaneMatrixFrom3Points(p0, p0, p0, keep), MTH_COLINEARPLANEPNTS);
  EXPECT_EQ(keep[0], 4.0);
  // Many points: repeated and collinear leading points are skipped.
  const double pts[] = {0, 0, 0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 1, 0, 3};
  ASSERT_EQ(mth_PlaneMatrixFromPoints(5, pts, m), 0u);
  const double n[3] = {m[2], m[5], m[8]};
  double d1[3] = {1, 1, 1}, d2[3] = {1, 0, 3};
  EXPECT_NEAR(mth_DotProduct(3, n, d1), 0.0, 1e-15);
  EXPECT_NEAR(mth_DotProduct(3, n, d2), 0.0, 1e-15);
  // Points sharing z: the identity; sharing y at negative y: (1,0,0), (0,0,-1), (0,1,0).
  const double flat[] = {0, 0, 2, 1, 0, 2, 0, 1, 2};
  ASSERT_EQ(mth_PlaneMatrixFromPoints(3, flat, m), 0u);
  EXPECT_EQ(std::vector<double>(m, m + 9), (std::vector<double>{1, 0, 0, 0, 1, 0, 0, 0, 1}));
  const double side[] = {0, -3, 0, 1, -3, 0, 0, -3, 1};
  ASSERT_EQ(mth_PlaneMatrixFromPoints(3, side, m), 0u);
  EXPECT_EQ(std::vector<double>(m, m + 9), (std::vector<double>{1, 0, 0, 0, 0, -1, 0, 1, 0}));
  const double line[] = {0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3};
  EXPECT_EQ(mth_PlaneMatrixFromPoints(4, line, keep), MTH_COLINEARPLANEPNTS);
  EXPECT_EQ(mth_PlaneMatrixFromPoints(2, line, keep), MTH_COLINEARPLANEPNTS);
  EXPECT_EQ(mth_PlaneMatrixFromPoints(0, line, keep), MTH_INVALID_RANGE);
  EXPECT_EQ(keep[0], 4.0);
}

TEST_F(MthTest, ProjectionOnALineMatchesReference) {
  for (const Reference &r : references("project_line3")) {
    double foot[3], t;
    ASSERT_EQ(mth_ProjectPointOnLine3D(0, &r.in[0], &r.in[3], &r.in[6], foot, &t), 0u);
    const double scale = magnitude(r.out);
    EXPECT_LE(max_abs_diff(foot, r.out.data(), 3), 4e-15 * scale);
    EXPECT_NEAR(t, r.out[3], 1e-9);
    // With a direction instead of the end point.
    double d[3];
    mth_SubtractVectors(3, &r.in[3], &r.in[0], d);
    ASSERT_EQ(mth_ProjectPointOnLine3D(MTH_DIRECTION, &r.in[0], d, &r.in[6], foot, &t), 0u);
    EXPECT_LE(max_abs_diff(foot, r.out.data(), 3), 4e-15 * scale);
    // The distance to the line is the distance to that foot.
    double f2[3], t2;
    const double dist = mth_PointLineDistance(0, 3, &r.in[6], &r.in[0], &r.in[3], f2, &t2);
    EXPECT_NEAR(dist, mth_Distance(3, &r.in[6], r.out.data()), 1e-9);
    EXPECT_NEAR(t2, r.out[3], 1e-9);
  }
}

TEST_F(MthTest, ProjectionEdgeCases) {
  const double s[3] = {1, 2, 3}, p[3] = {4, 5, 6};
  double foot[3] = {0, 0, 0}, t = 5;
  EXPECT_EQ(mth_ProjectPointOnLine3D(0, s, s, p, foot, &t), MTH_DEGENERATE_LINE);
  EXPECT_EQ(foot[2], 3.0);
  EXPECT_EQ(t, 0.0);
  EXPECT_EQ(mth_ProjectPointOnLine2D(0, s, s, p, foot, &t), 0u);
  const double e[3] = {2, 2, 3};
  const double near_end[3] = {2 + 1e-14, 7, 3};
  EXPECT_EQ(mth_ProjectPointOnLine3D(0, s, e, near_end, foot, &t), 0u);
  EXPECT_EQ(t, 1.0);
  EXPECT_EQ(mth_ProjectPointOnLine3D(1, s, e, near_end, foot, &t), 0u);
  EXPECT_NE(t, 1.0);
  double d;
  EXPECT_EQ(mth_ProjectPointOnLineThrough(s, s, p, foot, &d), MTH_DEGENERATE_LINE);
  EXPECT_DOUBLE_EQ(d, std::sqrt(27.0));
  const double dir[3] = {1, 0, 0};
  mth_FootOnLine(s, dir, p, &d, foot);
  EXPECT_EQ(foot[0], 4.0);
  EXPECT_DOUBLE_EQ(d, std::sqrt(18.0));
  EXPECT_EQ(mth_ProjectPointOnLineThrough(s, e, p, foot, &d), 0u);
  EXPECT_EQ(foot[0], 4.0);
  const double plane[4] = {0, 0, 2, 4}, zero[4] = {0, 0, 0, 1};
  double q[3];
  ASSERT_EQ(mth_ProjectPointOnPlane(0, p, plane, q), 0u);
  EXPECT_EQ(q[2], 2.0);
  q[2] = 8;
  EXPECT_EQ(mth_ProjectPointOnPlane(0, p, zero, q), MTH_ZERO_LENGTH);
  EXPECT_EQ(q[2], 8.0);
  EXPECT_EQ(mth_PointLineDistance(0, 3, p, s, s, foot, &t), std::sqrt(27.0));
  EXPECT_EQ(mth_PointLineDistance(0, 0, p, s, e, foot, &t), -1.0);
  EXPECT_EQ(pending_texts().size(), 1u);
}

TEST_F(MthTest, ClosestApproachMatchesReference) {
  for (const Reference &r : references("closest3")) {
    double t1, t2, point[3], dist;
    ASSERT_EQ(mth_LineLineClosest3D(MTH_WANT_PARAMS | MTH_WANT_POINT, 1e-12, &r.in[0], &r.in[3],
                                    &r.in[6], &r.in[9], &t1, &t2, point),
              0u);
    const double scale = magnitude(r.out);
    // Nearly parallel lines amplify the rounding of the inputs' differences.
    const double cond = std::fabs(r.out[0]) + std::fabs(r.out[1]) + 1.0;
    EXPECT_NEAR(t1, r.out[0], 1e-13 * cond * scale);
    EXPECT_NEAR(t2, r.out[1], 1e-13 * cond * scale);
    EXPECT_LE(max_abs_diff(point, &r.out[2], 3), 1e-13 * cond * scale);
    ASSERT_EQ(mth_LineLineDistance3D(0, 1e-12, &r.in[0], &r.in[3], &r.in[6], &r.in[9], &t1, &t2,
                                     &dist),
              0u);
    EXPECT_NEAR(dist, r.out[5], 1e-13 * cond * scale);
  }
}

TEST_F(MthTest, IntersectionMatchesReference) {
  for (const Reference &r : references("intersect2")) {
    double t1 = 0, t2 = 0, point[2];
    ASSERT_EQ(mth_LineLineIntersect2D(MTH_WANT_PARAMS | MTH_WANT_POINT, 1e-13, &r.in[0], &r.in[2],
                                      &r.in[4], &r.in[6], &t1, &t2, point),
              0u);
    const double scale = magnitude(r.out), cond = std::fabs(r.out[0]) + std::fabs(r.out[1]) + 1.0;
    EXPECT_NEAR(t1, r.out[0], 1e-13 * cond * scale);
    EXPECT_NEAR(t2, r.out[1], 1e-13 * cond * scale);
    EXPECT_LE(max_abs_diff(point, &r.out[2], 2), 1e-13 * cond * scale);
  }
}

TEST_F(MthTest, ParallelAndDegenerateLines) {
  const double p1[3] = {0, 0, 0}, d[3] = {1, 1, 0}, p2[3] = {0, 1, 0}, zero[3] = {0, 0, 0};
  double t1 = 7, t2 = 7, pt[3] = {7, 7, 7}, dist = 7;
  EXPECT_EQ(mth_LineLineIntersect2D(3, 1e-13, p1, d, p2, d, &t1, &t2, pt), MTH_PARALLELLINES);
  EXPECT_EQ(mth_LineLineIntersect2D(3, 1e-13, p1, zero, p2, d, &t1, &t2, pt), MTH_PARALLELLINES);
  const double nan[2] = {kNaN, 1};
  EXPECT_EQ(mth_LineLineIntersect2D(3, 1e-13, p1, nan, p2, d, &t1, &t2, pt), MTH_PARALLELLINES);
  EXPECT_EQ(mth_LineLineClosest3D(3, 1e-13, p1, d, p2, d, &t1, &t2, pt), MTH_PARALLELLINES);
  const double nan3[3] = {0, kNaN, 0};
  EXPECT_EQ(mth_LineLineClosest3D(3, 1e-13, p1, nan3, p2, d, &t1, &t2, pt), MTH_PARALLELLINES);
  EXPECT_EQ(t1, 7.0);
  EXPECT_EQ(pt[0], 7.0);
  // Two points as lines: their midpoint.
  const double q[3] = {2, 4, 6};
  EXPECT_EQ(mth_LineLineClosest3D(3, 1e-13, p1, zero, q, zero, &t1, &t2, pt), MTH_DEGENERATE_LINE);
  EXPECT_EQ(pt[0], 1.0);
  EXPECT_EQ(pt[2], 3.0);
  EXPECT_EQ(t1, 0.0);
  // One point: projected on the other line.
  EXPECT_EQ(mth_LineLineClosest3D(MTH_POINT_ON_SECOND | 1, 1e-13, p2, zero, p1, d, &t1, &t2, pt), 0u);
  EXPECT_DOUBLE_EQ(t2, 0.5);
  EXPECT_DOUBLE_EQ(pt[1], 0.5);
  // Distance of parallel lines, and of a line to a point given as a zero direction.
  EXPECT_EQ(mth_LineLineDistance3D(0, 1e-13, p2, d, p1, d, &t1, &t2, &dist), MTH_PARALLELLINES);
  EXPECT_DOUBLE_EQ(dist, std::sqrt(0.5));
  EXPECT_EQ(mth_LineLineDistance3D(0, 1e-13, q, d, p1, zero, &t1, &t2, &dist), MTH_PARALLELLINES);
  EXPECT_DOUBLE_EQ(dist, std::sqrt(56.0));
  EXPECT_EQ(t2, 0.0);
  // Only the point, then only the parameters.
  const double e[2] = {1, -1};
  t1 = t2 = 7;
  EXPECT_EQ(mth_LineLineIntersect2D(MTH_WANT_POINT, 1e-13, p1, d, p2, e, &t1, &t2, pt), 0u);
  EXPECT_EQ(t1, 7.0);
  EXPECT_DOUBLE_EQ(pt[0], 0.5);
  pt[0] = 7;
  EXPECT_EQ(mth_LineLineIntersect2D(0, 1e-13, p1, d, p2, e, &t1, &t2, pt), 0u);
  EXPECT_DOUBLE_EQ(t1, 0.5);
  EXPECT_EQ(pt[0], 7.0);
  EXPECT_EQ(mth_LineLineDistance3D(0, 1e-13, nan3, d, p2, d, &t1, &t2, &dist), MTH_PARALLELLINES);
  EXPECT_TRUE(pending_texts().empty());
}

TEST_F(MthTest, PointInPlane) {
  const double p[3] = {0, 0, 1}, q[3] = {1, 0, 1}, r[3] = {0, 1, 1}, s[3] = {5, 5, 1 + 1e-10},
               t[3] = {5, 5, 2};
  EXPECT_EQ(mth_PointInPlane(p, q, r, s, 1e-9), 1);
  EXPECT_EQ(mth_PointInPlane(p, q, r, t, 1e-9), 0);
  EXPECT_EQ(mth_PointInPlane(p, q, q, t, 1e-9), -1);
}

}  // namespace
}  // namespace tesmar::test
