// Sweep angles, range merging and sorting.
#include <algorithm>
#include <limits>

#include "mth/mth_test.h"

namespace tesmar::test {
namespace {

std::vector<double> circle_points(double from, double step, int n, double radius = 1.0) {
  std::vector<double> pts;
  for (int i = 0; i < n; ++i)
    pts.push_back(radius * std::cos(from + i * step)), pts.push_back(radius * std::sin(from + i * step));
  return pts;
}

TEST_F(MthTest, SweepGoldenExamples) {
  double s = 0, e = 0;
  // Once around counter-clockwise from 0.1, closing on the first point.
  std::vector<double> full = circle_points(0.1, MTH_TWO_PI / 16, 16);
  full.push_back(full[0]), full.push_back(full[1]);
  ASSERT_EQ(mth__SweepAnglesContPoints(0, 2, 17, full.data(), 0.0, &s, &e), 0u);
  EXPECT_NEAR(s, 0.1, 1e-12);
  EXPECT_NEAR(e, 0.1 + MTH_TWO_PI, 1e-12);
  // Seven eighths of the turn, not closed.
  const std::vector<double> part = circle_points(0.1, MTH_TWO_PI / 16, 15);
  ASSERT_EQ(mth__SweepAnglesContPoints(0, 2, 15, part.data(), 0.0, &s, &e), 0u);
  EXPECT_NEAR(s, 0.1, 1e-12);
  EXPECT_NEAR(e, 0.1 + 7.0 / 8.0 * MTH_TWO_PI, 1e-12);
  // A clockwise quarter turn from angle 1: both ends a turn up, the start in [-1e-5, 2 pi).
  const std::vector<double> cw = circle_points(1.0, -MTH_PI / 16, 9);
  ASSERT_EQ(mth__SweepAnglesContPoints(0, 2, 9, cw.data(), 0.0, &s, &e), 0u);
  EXPECT_NEAR(s, 1.0 - MTH_PI / 2 + MTH_TWO_PI, 1e-12);
  EXPECT_NEAR(e, 1.0 + MTH_TWO_PI, 1e-12);
  // The same through the sequence operation.
  int32_t n = 0;
  double *r = nullptr;
  ASSERT_EQ(mth_SweepAnglesContPoints(0, 2, 9, cw.data(), 1e-9, &n, &r), 0u);
  ASSERT_EQ(n, 1);
  EXPECT_EQ(r[0], s);
  EXPECT_EQ(r[1], e);
  std::free(r);
}

TEST_F(MthTest, SweepThroughPointsOnTheAxes) {
  const double diamond[10] = {1, 0, 0, 1, -1, 0, 0, -1, 1, 0};
  double s, e;
  ASSERT_EQ(mth__SweepAnglesContPoints(0, 2, 5, diamond, 0.0, &s, &e), 0u);
  EXPECT_NEAR(s, 0.0, 1e-12);
  EXPECT_NEAR(e, MTH_TWO_PI, 1e-12);
  const double twice[18] = {1, 0, 0, 1, -1, 0, 0, -1, 1, 0, 0, 1, -1, 0, 0, -1, 1, 0};
  ASSERT_EQ(mth__SweepAnglesContPoints(0, 2, 9, twice, 0.0, &s, &e), 0u);
  EXPECT_NEAR(e - s, 2 * MTH_TWO_PI, 1e-12);
  // Turning back at the second point still covers the first step.
  const double back[6] = {std::cos(1.0), std::sin(1.0), std::cos(0.5), std::sin(0.5), std::cos(2.0), std::sin(2.0)};
  ASSERT_EQ(mth__SweepAnglesContPoints(0, 2, 3, back, 0.0, &s, &e), 0u);
  EXPECT_NEAR(s, 0.5, 1e-12);
  EXPECT_NEAR(e, 2.0, 1e-12);
  const double one[2] = {0, -3};
  ASSERT_EQ(mth__SweepAnglesContPoints(0, 2, 1, one, 0.0, &s, &e), 0u);
  EXPECT_EQ(s, MTH_THREE_HALVES_PI);
  EXPECT_EQ(e, s);
}

// True when the angle, up to whole turns, lies in [start, end] (with slack).
bool covers(double start, double end, double angle) {
  double a = angle;
  while (a > start - 1e-9) a -= MTH_TWO_PI;
  while (a < start - 1e-9) a += MTH_TWO_PI;
  return a <= end + 1e-9;
}

TEST_F(MthTest, SweptRangeCoversEverySampledPointExactly) {
  Random rng(61);
  for (int trial = 0; trial < 2000; ++trial) {
    const int n = static_cast<int>(rng.integer(1, 60));
    // A walk in angle with steps below half a radian, at radii from 1 to 3: no edge comes near
    // the origin. Its true extent is known from the walk.
    std::vector<double> pts(2 * n), angles(n);
    double theta = rng.uniform(-10, 10), lo = theta, hi = theta;
    const double bias = rng.uniform(-0.3, 0.3);
    for (int i = 0; i < n; ++i) {
      if (i > 0) theta += std::clamp(bias + rng.uniform(-0.3, 0.3), -0.49, 0.49);
      lo = std::min(lo, theta), hi = std::max(hi, theta);
      const double r = rng.uniform(1, 3);
      pts[2 * i] = r * std::cos(theta), pts[2 * i + 1] = r * std::sin(theta);
      angles[i] = theta;
    }
    double s = 0, e = 0;
    ASSERT_EQ(mth__SweepAnglesContPoints(0, 2, n, pts.data(), 0.0, &s, &e), 0u);
    EXPECT_GE(s, -MTH_SWEEP_SLACK);
    EXPECT_LT(s, MTH_TWO_PI - MTH_SWEEP_SLACK);
    for (int i = 0; i < n; ++i) {
      ASSERT_TRUE(covers(s, e, angles[i])) << "trial " << trial << " point " << i;
      if (i > 0) {  // and points between
        const double mx = (pts[2 * i] + pts[2 * i - 2]) / 2, my = (pts[2 * i + 1] + pts[2 * i - 1]) / 2;
        ASSERT_TRUE(covers(s, e, std::atan2(my, mx))) << "trial " << trial;
      }
    }
    EXPECT_NEAR(e - s, hi - lo, 1e-9) << "trial " << trial;
    EXPECT_TRUE(covers(s, s, lo));
  }
}

TEST_F(MthTest, SequencesSplitAtTheOrigin) {
  // Through a gap point at the origin, and along an edge that passes through it.
  const double gap[8] = {1, 0, 0, 0, 0, 1, -1, 1};
  int32_t n = 0;
  double *r = nullptr;
  ASSERT_EQ(mth_SweepAnglesContPoints(0, 2, 4, gap, 1e-9, &n, &r), 0u);
  ASSERT_EQ(n, 2);
  EXPECT_EQ(r[0], 0.0);
  EXPECT_EQ(r[1], 0.0);
  EXPECT_NEAR(r[2], MTH_PI / 2, 1e-15);
  EXPECT_NEAR(r[3], 3 * MTH_PI / 4, 1e-15);
  std::free(r);
  const double through[6] = {-1, 0, 1, 0, 1, 1};
  ASSERT_EQ(mth_SweepAnglesContPoints(0, 2, 3, through, 1e-9, &n, &r), 0u);
  ASSERT_EQ(n, 2);
  EXPECT_NEAR(r[0], MTH_PI, 1e-15);
  EXPECT_NEAR(r[3], MTH_PI / 4, 1e-15);
  std::free(r);
  const double all_gaps[4] = {0, 0, 1e-12, 0};
  r = reinterpret_cast<double *>(&n);
  ASSERT_EQ(mth_SweepAnglesContPoints(0, 2, 2, all_gaps, 1e-9, &n, &r), 0u);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(r, nullptr);
  // A point at the origin in a run is an error; nothing is written.
  double s = 5, e = 5;
  EXPECT_EQ(mth__SweepAnglesContPoints(0, 2, 4, gap, 0.0, &s, &e), MTH_ORIGIN_POINT);
  EXPECT_EQ(mth_SweepAnglesContPoints(0, 2, 4, gap, -1.0, &n, &r), MTH_ORIGIN_POINT);
  const double nan[4] = {1, 0, std::numeric_limits<double>::quiet_NaN(), 1};
  EXPECT_EQ(mth__SweepAnglesContPoints(0, 2, 2, nan, 0.0, &s, &e), MTH_ORIGIN_POINT);
  EXPECT_EQ(s, 5.0);
  EXPECT_EQ(mth__SweepAnglesContPoints(0, 2, 0, gap, 0.0, &s, &e), MTH_INVALID_RANGE);
  EXPECT_EQ(mth_SweepAnglesContPoints(0, 1, 4, gap, 0.0, &n, &r), MTH_INVALID_RANGE);
  EXPECT_EQ(pending_texts().size(), 5u);
}

TEST_F(MthTest, MergingSweepRanges) {
  const double two[4] = {0, 1, 1.000001, 2};
  int32_t n = 0;
  double *m = nullptr;
  ASSERT_EQ(mth_SweepAnglesMerge(MTH_MERGE_SLACK, 2, two, &n, &m), 0u);
  ASSERT_EQ(n, 1);
  EXPECT_EQ(m[0], 0.0);
  EXPECT_EQ(m[1], 2.0);
  std::free(m);
  ASSERT_EQ(mth_SweepAnglesMerge(0, 2, two, &n, &m), 0u);
  EXPECT_EQ(n, 2);
  std::free(m);
  // The last range runs past a full turn and reaches the first.
  const double wrap[6] = {5, 6.5, 0.1, 1, 2, 3};
  ASSERT_EQ(mth_SweepAnglesMerge(MTH_MERGE_SLACK, 3, wrap, &n, &m), 0u);
  ASSERT_EQ(n, 2);
  EXPECT_EQ(m[0], 2.0);
  EXPECT_EQ(m[2], 5.0);
  EXPECT_DOUBLE_EQ(m[3], 1 + MTH_TWO_PI);
  std::free(m);
  const double reversed[2] = {2, 1};
  EXPECT_EQ(mth_SweepAnglesMerge(0, 1, reversed, &n, &m), MTH_MINMAX);
  EXPECT_EQ(mth_SweepAnglesMerge(0, 0, reversed, &n, &m), MTH_INVALID_RANGE);
}

TEST_F(MthTest, ActiveRanges) {
  auto range = [](double a, double b) { return std::vector<double>{9, a, 9, 9, b, 9}; };
  std::vector<double> touch = range(0, 2), t2 = range(2, 3);
  touch.insert(touch.end(), t2.begin(), t2.end());
  int32_t n = 0;
  double *m = nullptr;
  ASSERT_EQ(mth_FindActiveRanges(0, 2, touch.data(), 1, &n, &m), 0u);
  ASSERT_EQ(n, 2);
  std::free(m);
  std::vector<double> overlap = range(1, 3), o2 = range(0, 2);
  overlap.insert(overlap.end(), o2.begin(), o2.end());
  ASSERT_EQ(mth_FindActiveRanges(0, 2, overlap.data(), 1, &n, &m), 0u);
  ASSERT_EQ(n, 1);
  EXPECT_EQ(m[0], 0.0);
  EXPECT_EQ(m[1], 3.0);
  std::free(m);
  // Validation is on the coordinate merged: here coordinate 0 is (9, 9), fine, but 1 is reversed.
  const std::vector<double> bad = range(5, 4);
  m = nullptr;
  EXPECT_EQ(mth_FindActiveRanges(0, 1, bad.data(), 1, &n, &m), MTH_MINMAX);
  EXPECT_EQ(mth_FindActiveRanges(0, 1, bad.data(), 3, &n, &m), MTH_INVALID_OPT);
  EXPECT_EQ(mth_FindActiveRanges(0, 1, bad.data(), -1, &n, &m), MTH_INVALID_OPT);
  EXPECT_EQ(mth_FindActiveRanges(0, 0, bad.data(), 0, &n, &m), MTH_INVALID_RANGE);
  EXPECT_EQ(mpm_last_severity, MPM_FATAL);
  const std::vector<double> nan = range(std::numeric_limits<double>::quiet_NaN(), 1);
  EXPECT_EQ(mth_FindActiveRanges(0, 1, nan.data(), 1, &n, &m), MTH_MINMAX);
  EXPECT_EQ(m, nullptr);
  // Random ranges: the merged ranges are disjoint, sorted and cover every input.
  Random rng(67);
  for (int trial = 0; trial < 200; ++trial) {
    const int count = static_cast<int>(rng.integer(1, 30));
    std::vector<double> all;
    for (int i = 0; i < count; ++i) {
      const double a = double(rng.integer(0, 50)), b = a + double(rng.integer(0, 8));
      const std::vector<double> r = range(a, b);
      all.insert(all.end(), r.begin(), r.end());
    }
    ASSERT_EQ(mth_FindActiveRanges(0, count, all.data(), 1, &n, &m), 0u);
    for (int i = 1; i < n; ++i) EXPECT_LE(m[2 * i - 1], m[2 * i]);
    for (int i = 0; i < count; ++i) {
      bool inside = false;
      for (int k = 0; k < n && !inside; ++k) inside = m[2 * k] <= all[6 * i + 1] && all[6 * i + 4] <= m[2 * k + 1];
      EXPECT_TRUE(inside);
    }
    std::free(m);
  }
}

TEST_F(MthTest, SortingRoutines) {
  double rec[9] = {3, 30, 300, 1, 10, 100, 2, 20, 200};
  int32_t ids[3] = {3, 1, 2};
  ASSERT_EQ(mth_SortDoubleArrayByBubble(1, 3, 3, rec, 0, ids), 0u);
  EXPECT_EQ(std::vector<double>(rec, rec + 9), (std::vector<double>{1, 10, 100, 2, 20, 200, 3, 30, 300}));
  EXPECT_EQ(std::vector<int32_t>(ids, ids + 3), (std::vector<int32_t>{1, 2, 3}));
  ASSERT_EQ(mth_SortDoubleArrayByBubble(2, 3, 3, rec, 2, nullptr), 0u);
  EXPECT_EQ(rec[0], 3.0);
  EXPECT_EQ(mth_SortDoubleArrayByBubble(3, 3, 3, rec, 0, nullptr), MTH_INVALID_OPT);
  EXPECT_EQ(mth_SortDoubleArrayByBubble(1, 3, 3, rec, 3, nullptr), MTH_INVALID_RANGE);
  Random rng(71);
  std::vector<double> v(100);
  std::vector<int32_t> w(100);
  for (int i = 0; i < 100; ++i) v[i] = rng.uniform(-1, 1), w[i] = static_cast<int32_t>(rng.integer(-50, 50));
  std::vector<double> sv = v;
  std::vector<int32_t> sw = w;
  mth_SortDoubles(1, 100, v.data());
  std::sort(sv.begin(), sv.end());
  EXPECT_EQ(v, sv);
  mth_SortDoubles(2, 100, v.data());
  EXPECT_TRUE(std::is_sorted(v.rbegin(), v.rend()));
  EXPECT_EQ(mth_SortInts(1, 100, w.data()), 100);
  std::sort(sw.begin(), sw.end());
  EXPECT_EQ(w, sw);
  EXPECT_EQ(mth_SortInts(1, 0, w.data()), 0);
}

}  // namespace
}  // namespace tesmar::test
