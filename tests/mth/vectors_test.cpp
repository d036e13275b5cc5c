// Vectors, tolerances and angles.
#include <cfloat>
#include <limits>

#include "mth/mth_test.h"

namespace tesmar::test {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST_F(MthTest, NormalizeOfZeroOrNonFiniteCopiesAndReturnsQuietCode) {
  const double zero[3] = {0.0, 1e-14, 0.0};
  double out[3] = {7, 7, 7};
  EXPECT_EQ(mth_NormalizeVector(3, zero, out), MTH_ZERO_LENGTH);
  EXPECT_EQ(out[1], 1e-14);
  const double nan[3] = {kNaN, 1.0, 0.0};
  EXPECT_EQ(mth_NormalizeVector(3, nan, out), MTH_ZERO_LENGTH);
  const double inf[3] = {kInf, 1.0, 0.0};
  EXPECT_EQ(mth_NormalizeVector(3, inf, out), MTH_ZERO_LENGTH);
  EXPECT_TRUE(pending_texts().empty());
  // Large finite vectors are not mistaken for infinite ones.
  const double big[3] = {3e200, 4e200, 0.0};
  EXPECT_EQ(mth_NormalizeVector(3, big, out), 0u);
  EXPECT_DOUBLE_EQ(out[0], 0.6);
  EXPECT_DOUBLE_EQ(mth_VectorLength(3, big), 5e200);
  const double tiny[2] = {3e-170, 4e-170};
  EXPECT_DOUBLE_EQ(mth_VectorLength(2, tiny), 5e-170);
}

TEST_F(MthTest, VectorArithmeticAllowsOutputOnInput) {
  double a[3] = {1, 2, 3};
  const double b[3] = {4, 5, 6};
  EXPECT_EQ(mth_AddVectors(3, a, b, a), 3);
  EXPECT_EQ(a[2], 9.0);
  EXPECT_EQ(mth_VectorDifference(3, a, b, a), 3);  // b - a
  EXPECT_EQ(a[0], -1.0);
  EXPECT_EQ(mth_ScaleVector(3, b, 2.0, a), 3);
  EXPECT_EQ(a[1], 10.0);
  EXPECT_EQ(mth_SubtractVectors(3, a, b, a), 0u);
  EXPECT_EQ(a[1], 5.0);
  double c[3] = {1, 0, 0};
  EXPECT_EQ(mth_CrossProduct(c, b, c), 0u);  // (1,0,0) x (4,5,6)
  EXPECT_EQ(c[0], 0.0);
  EXPECT_EQ(c[1], -6.0);
  EXPECT_EQ(c[2], 5.0);
  EXPECT_EQ(mth_DotProduct(3, b, b), 77.0);
  double m[9] = {1, 2, 3, 4, 5, 6, 7, 8, 10};
  double v[3] = {1, 1, 1};
  EXPECT_EQ(mth_ApplyMatrix3x3(0, m, v, v), 0u);
  EXPECT_EQ(v[0], 6.0);
  EXPECT_EQ(v[2], 25.0);
  double t[3] = {1, 0, 0};
  mth_ApplyMatrix3x3(MTH_TRANSPOSE, m, t, t);
  EXPECT_EQ(t[1], 2.0);
  EXPECT_EQ(t[2], 3.0);
}

TEST_F(MthTest, DivideByTinyDivisorIsQuietAndTouchesNothing) {
  const double v[2] = {1, 2};
  double out[2] = {5, 5};
  EXPECT_EQ(mth_DivideVector(2, v, 1e-14, out), MTH_ZERO_DIVISOR);
  EXPECT_EQ(mth_DivideVector(2, v, kNaN, out), MTH_ZERO_DIVISOR);
  EXPECT_EQ(out[0], 5.0);
  EXPECT_EQ(mth_DivideVector(2, v, -2.0, out), 0u);
  EXPECT_EQ(out[1], -1.0);
  EXPECT_TRUE(pending_texts().empty());
}

TEST_F(MthTest, ComparisonsUseTheModuleTolerance) {
  const double a[3] = {1, 2, 3}, b[3] = {1 + 5e-14, 2, 3}, c[3] = {1, 2 + 1e-12, 3};
  EXPECT_EQ(mth_PointsEqual(3, a, b), 1);
  EXPECT_EQ(mth_PointsEqual(3, a, c), 0);
  EXPECT_EQ(mth_FirstDifferentCoord(3, a, b), -1);
  EXPECT_EQ(mth_FirstDifferentCoord(3, a, c), 1);
  const double n[3] = {kNaN, 2, 3};
  EXPECT_EQ(mth_PointsEqual(3, a, n), 0);
  EXPECT_EQ(mth_PointsWithinTolerance(0, 1e-11, 3, a, c), 1);
  EXPECT_EQ(mth_VectorsEqual(3, a, c, 1e-13), 0);
  const double big1[2] = {1e6, 0}, big2[2] = {1e6 + 1e-4, 0};
  EXPECT_EQ(mth_VectorsEqualRelative(2, big1, big2, 1e-9), 1);
  EXPECT_EQ(mth_VectorsEqualRelative(2, big1, big2, 1e-11), 0);
  const double z[2] = {0, 0};
  EXPECT_EQ(mth_VectorsEqualRelative(2, z, z, 0.0), 1);
}

TEST_F(MthTest, CollinearityTests) {
  const double p1[3] = {0, 0, 0}, p2[3] = {1, 1, 0}, p3[3] = {2, 2, 1e-9}, p4[3] = {2, 3, 0};
  EXPECT_EQ(mth_PointsCollinearByArea(3, 1e-6, p1, p2, p3), 1);
  EXPECT_EQ(mth_PointsCollinearByArea(3, 1e-6, p1, p2, p4), 0);
  EXPECT_EQ(mth_PointsCollinearByArea(2, 0.6, p1, p2, p4), 1);  // area 0.5
  EXPECT_EQ(mth_PointsCollinearByArea(4, 1.0, p1, p2, p4), 0);
  EXPECT_EQ(mth_PointsCollinearByDirection(3, 1e-9, p1, p2, p3), 1);
  EXPECT_EQ(mth_PointsCollinearByDirection(3, 1e-9, p1, p2, p4), 0);
  // Turning back is not going on in the same direction.
  EXPECT_EQ(mth_PointsCollinearByDirection(3, 1e-9, p2, p3, p2), 0);
  EXPECT_EQ(mth_PointsCollinearByDirection(3, 1e-9, p1, p1, p4), 1);
}

TEST_F(MthTest, CosAngleIsClampedAndZeroForZeroVectors) {
  const double a[3] = {1, 1, 0}, b[3] = {2, 2, 0}, z[3] = {0, 0, 0}, n[3] = {kNaN, 0, 0};
  EXPECT_LE(mth_CosAngleVectors(a, b, 3), 1.0);
  EXPECT_NEAR(mth_CosAngleVectors(a, b, 3), 1.0, 1e-15);
  EXPECT_EQ(mth_CosAngleVectors(a, z, 3), 0.0);
  EXPECT_EQ(mth_CosAngleVectors(n, a, 3), 0.0);
  const double c[2] = {1, 0}, d[2] = {-1, 1e-300};
  EXPECT_EQ(mth_CosAngleVectors(c, d, 2), -1.0);
}

TEST_F(MthTest, AveragePointsAndItsCounts) {
  const double pts[6] = {1, 2, 3, 4, 5, 9};
  double avg[2] = {0, 0};
  EXPECT_EQ(mth_AveragePoints(0, 2, 3, pts, avg), 0u);
  EXPECT_EQ(avg[0], 3.0);
  EXPECT_EQ(avg[1], 5.0);
  double keep[2] = {7, 7};
  EXPECT_EQ(mth_AveragePoints(0, 2, 0, pts, keep), MTH_INVALID_RANGE);
  EXPECT_EQ(keep[0], 7.0);
  EXPECT_EQ(pending_texts().size(), 1u);
}

TEST_F(MthTest, FactorialSaturatesPastThirtyTwoBits) {
  EXPECT_EQ(mth_Factorial(-3), 1u);
  EXPECT_EQ(mth_Factorial(1), 1u);
  EXPECT_EQ(mth_Factorial(5), 120u);
  EXPECT_EQ(mth_Factorial(12), 479001600u);
  EXPECT_EQ(mth_Factorial(13), UINT32_MAX);
  EXPECT_EQ(mth_Factorial(INT32_MAX), UINT32_MAX);
}

TEST_F(MthTest, OffsetAndCirclePoints) {
  const double p[3] = {1, 1, 1}, axis[3] = {0, 0, 2}, zero[3] = {0, 0, 0};
  double out[3] = {9, 9, 9};
  EXPECT_EQ(mth_OffsetPointAlongAxis(0, p, 3.0, axis, out), 0u);
  EXPECT_EQ(out[2], 4.0);
  EXPECT_EQ(mth_OffsetPointAlongAxis(0, p, 3.0, zero, out), MTH_ZERO_LENGTH);
  EXPECT_EQ(out[2], 4.0);
  const double c[3] = {1, 2, 3};
  mth_PointOnCircleXY(c, MTH_PI / 2, 2.0, out);
  EXPECT_NEAR(out[0], 1.0, 1e-15);
  EXPECT_EQ(out[1], 4.0);
  EXPECT_EQ(out[2], 3.0);
  double v[2] = {1, 0};
  mth_RotateVector2D(MTH_PI / 2, v, v);  // snapped: exact
  EXPECT_EQ(v[0], 0.0);
  EXPECT_EQ(v[1], 1.0);
}

TEST_F(MthTest, AngleOfPoints) {
  double angle = -1;
  int32_t state = 0;
  const double below[2] = {0, -1}, left[2] = {-1, 0}, origin[2] = {0, 0}, q4[2] = {1, -1};
  mth_GetAngle2DPoint(0, below, &angle, &state);
  EXPECT_EQ(state, 1);
  EXPECT_EQ(angle, MTH_THREE_HALVES_PI);
  mth_GetAngle2DPoint(0, left, &angle, &state);
  EXPECT_DOUBLE_EQ(angle, MTH_PI);
  mth_GetAngle2DPoint(0, q4, &angle, &state);
  EXPECT_DOUBLE_EQ(angle, 7 * MTH_PI / 4);
  angle = 42;
  mth_GetAngle2DPoint(0, origin, &angle, &state);
  EXPECT_EQ(state, 2);
  EXPECT_EQ(angle, 42.0);
  const double nan[2] = {kNaN, 1};
  mth_GetAngle2DPoint(0, nan, &angle, &state);
  EXPECT_EQ(state, 2);
  EXPECT_EQ(angle, 42.0);
  // Just below the positive x axis stays below 2 pi.
  const double tiny[2] = {1, -1e-300};
  mth_GetAngle2DPoint(0, tiny, &angle, &state);
  EXPECT_LT(angle, MTH_TWO_PI);
  EXPECT_LT(mth_Angle2D(-1e-300, 1), MTH_TWO_PI);
  EXPECT_EQ(mth_Angle2D(0, 0), 0.0);
  EXPECT_DOUBLE_EQ(mth_Angle2D(-1, -1), 5 * MTH_PI / 4);
  Random rng(7);
  for (int i = 0; i < 1000; ++i) {
    const double p[2] = {rng.uniform(-10, 10), rng.uniform(-10, 10)};
    mth_GetAngle2DPoint(0, p, &angle, &state);
    EXPECT_NEAR(angle, mth_Angle2D(p[1], p[0]), 1e-14);
    EXPECT_GE(angle, 0.0);
    EXPECT_LT(angle, MTH_TWO_PI);
  }
}

TEST_F(MthTest, NormalizeAnglesRejectsWhatWouldNeverEnd) {
  double s = 1e300, e = 0;
  EXPECT_EQ(mth_NormalizeAngles(0, &s, &e, 1e-9), 0u);  // reduced first, not looped
  EXPECT_GE(s, -1e-9);
  EXPECT_LT(s, MTH_TWO_PI + 1e-9);
  const double bad[] = {kNaN, kInf, -kInf};
  for (double v : bad) {
    s = v, e = 1;
    EXPECT_EQ(mth_NormalizeAngles(0, &s, &e, 1e-9), MTH_INVALID_RANGE);
    EXPECT_TRUE(std::isnan(v) ? std::isnan(s) : s == v);
    EXPECT_EQ(e, 1.0);
  }
  s = 1, e = 2;
  EXPECT_EQ(mth_NormalizeAngles(0, &s, &e, -1e300), MTH_INVALID_RANGE);
  EXPECT_EQ(mth_NormalizeAngles(0, &s, &e, kNaN), MTH_INVALID_RANGE);
  EXPECT_EQ(s, 1.0);
  EXPECT_EQ(pending_texts().size(), 5u);
}

TEST_F(MthTest, ReduceToPeriod) {
  const auto reduced = [](uint32_t options, double start, double v) {
    EXPECT_EQ(mth_ReduceToPeriod(options, start, 2.0, &v), 0u);
    return v;
  };
  EXPECT_EQ(reduced(0, 1.0, 7.5), 1.5);
  EXPECT_EQ(reduced(0, 0.0, -0.5), 1.5);
  EXPECT_EQ(reduced(0, 0.0, 4.0), 0.0);  // a multiple: [s, s + P) gives s, (s, s + P] gives s + P
  EXPECT_EQ(reduced(1, 0.0, 4.0), 2.0);
  EXPECT_EQ(reduced(1, 0.0, 2.0), 2.0);  // already in (s, s + P]
  EXPECT_EQ(reduced(2, 0.0, 0.0), 0.0);
  double v;
  v = 3.0;
  EXPECT_EQ(mth_ReduceToPeriod(0, 0.0, DBL_EPSILON / 2, &v), MTH_INVALID_RANGE);
  EXPECT_EQ(mth_ReduceToPeriod(0, 0.0, kNaN, &v), MTH_INVALID_RANGE);
  EXPECT_EQ(mth_ReduceToPeriod(0, 0.0, kInf, &v), MTH_INVALID_RANGE);
  EXPECT_EQ(v, 3.0);
  v = kInf;
  EXPECT_EQ(mth_ReduceToPeriod(0, 0.0, 1.0, &v), MTH_INVALID_RANGE);
  EXPECT_EQ(pending_texts().size(), 4u);
}

}  // namespace
}  // namespace tesmar::test
