// Loops: crossings, containment, relations, areas and boxes; properties checked against exact
// integer arithmetic on loops with integer vertices.
#include <algorithm>
#include <limits>

#include "mth/mth_test.h"

namespace tesmar::test {
namespace {

struct IP {
  int64_t x, y;
};

int64_t orient(IP a, IP b, IP c) { return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x); }

bool on_segment(IP a, IP b, IP p) {
  return orient(a, b, p) == 0 && std::min(a.x, b.x) <= p.x && p.x <= std::max(a.x, b.x) &&
         std::min(a.y, b.y) <= p.y && p.y <= std::max(a.y, b.y);
}

bool on_loop(const std::vector<IP> &loop, IP p) {
  for (size_t i = 0; i < loop.size(); ++i)
    if (on_segment(loop[i], loop[(i + 1) % loop.size()], p)) return true;
  return false;
}

// Parity of the crossings of the ray to +x, by the half-open rule, exactly.
bool inside(const std::vector<IP> &loop, IP p) {
  bool odd = false;
  for (size_t i = 0; i < loop.size(); ++i) {
    IP a = loop[i], b = loop[(i + 1) % loop.size()];
    if ((a.y > p.y) == (b.y > p.y)) continue;
    // p.x < a.x + (p.y - a.y) (b.x - a.x) / (b.y - a.y), multiplied out by (b.y - a.y)
    int64_t lhs = (p.x - a.x) * (b.y - a.y), rhs = (p.y - a.y) * (b.x - a.x);
    if (b.y > a.y ? lhs < rhs : lhs > rhs) odd = !odd;
  }
  return odd;
}

bool segments_touch(IP a, IP b, IP c, IP d) {
  int64_t o1 = orient(a, b, c), o2 = orient(a, b, d), o3 = orient(c, d, a), o4 = orient(c, d, b);
  if (((o1 > 0 && o2 < 0) || (o1 < 0 && o2 > 0)) && ((o3 > 0 && o4 < 0) || (o3 < 0 && o4 > 0)))
    return true;
  return on_segment(a, b, c) || on_segment(a, b, d) || on_segment(c, d, a) || on_segment(c, d, b);
}

std::vector<IP> random_loop(Random &rng, int lo, int hi) {
  std::vector<IP> loop(rng.integer(3, 12));
  for (IP &p : loop) p = {rng.integer(lo, hi), rng.integer(lo, hi)};
  return loop;
}

std::vector<double> doubles(const std::vector<IP> &loop, double base, bool close) {
  std::vector<double> v;
  for (IP p : loop) v.push_back(base + p.x), v.push_back(base + p.y);
  if (close) v.push_back(base + loop[0].x), v.push_back(base + loop[0].y);
  return v;
}

TEST_F(MthTest, PointInLoopAgreesWithExactParity) {
  Random rng(43);
  int inside_count = 0, checked = 0;
  for (int trial = 0; trial < 400; ++trial) {
    const std::vector<IP> loop = random_loop(rng, -6, 6);
    const double base = trial % 2 == 0 ? 0.0 : 1e5;
    const std::vector<double> pts = doubles(loop, base, false);
    for (int q = 0; q < 20; ++q) {
      IP p{rng.integer(-7, 7), rng.integer(-7, 7)};
      const double point[2] = {base + p.x, base + p.y};
      int32_t position = 7;
      ASSERT_EQ(mth_PointInLoop(0, 2, point, static_cast<int32_t>(loop.size()), pts.data(), 1e-9,
                                &position),
                0u);
      if (on_loop(loop, p)) {
        EXPECT_EQ(position, 0);
        continue;
      }
      const bool in = inside(loop, p);
      inside_count += in;
      ++checked;
      ASSERT_EQ(position, in ? -1 : 1) << "trial " << trial << " point " << p.x << "," << p.y;
    }
  }
  EXPECT_GT(inside_count, 100);
  EXPECT_GT(checked, 4000);
}

TEST_F(MthTest, LineCrossingsAreEvenSortedAndSymmetric) {
  Random rng(47);
  for (int trial = 0; trial < 500; ++trial) {
    const std::vector<IP> loop = random_loop(rng, -5, 5);
    // Stride 3: the third value of every point must be left alone.
    std::vector<double> pts, swapped;
    for (IP p : loop) {
      pts.insert(pts.end(), {double(p.x), double(p.y), -1.0});
      swapped.insert(swapped.end(), {double(p.y), double(p.x), -1.0});
    }
    const double y = double(rng.integer(-6, 6)) + (trial % 3 == 0 ? 0.5 : 0.0);
    int32_t n1 = -1, n2 = -1;
    double *x1 = nullptr, *x2 = nullptr;
    const int32_t count = static_cast<int32_t>(loop.size());
    ASSERT_EQ(mth_HorizontalLineLoopIntersect(0, y, 3, count, pts.data(), &n1, &x1), 0u);
    ASSERT_EQ(mth_VerticalLineLoopIntersect(0, y, 3, count, swapped.data(), &n2, &x2), 0u);
    EXPECT_EQ(n1 % 2, 0) << "trial " << trial;
    ASSERT_EQ(n1, n2);
    EXPECT_EQ(n1 == 0, x1 == nullptr);
    for (int32_t i = 0; i < n1; ++i) {
      EXPECT_EQ(x1[i], x2[i]);
      if (i > 0) {
        EXPECT_LE(x1[i - 1], x1[i]);
      }
    }
    std::free(x1);
    std::free(x2);
  }
}

TEST_F(MthTest, LoopLoopRelationAgreesWithExactContainment) {
  Random rng(53);
  int in = 0, out = 0;
  for (int trial = 0; trial < 3000 && (in < 150 || out < 150); ++trial) {
    std::vector<IP> outer = random_loop(rng, -6, 6);
    for (IP &p : outer) p.x *= 4, p.y *= 4;
    const IP at{rng.integer(-28, 28), rng.integer(-28, 28)};
    const std::vector<IP> tri = {at, {at.x + 1, at.y}, {at.x, at.y + 1}};
    bool clear = true;
    for (size_t i = 0; i < 3 && clear; ++i)
      for (size_t j = 0; j < outer.size() && clear; ++j)
        clear = !segments_touch(tri[i], tri[(i + 1) % 3], outer[j], outer[(j + 1) % outer.size()]);
    if (!clear) continue;
    const bool expect_in = inside(outer, tri[0]);
    const std::vector<double> a = doubles(tri, 0.0, true), b = doubles(outer, 0.0, true);
    const int32_t r = mth_LoopLoopRelation(0, 4, a.data(), static_cast<int32_t>(outer.size() + 1),
                                           b.data(), 1e-9);
    ASSERT_EQ(r, expect_in ? 1 : -1) << "trial " << trial;
    (expect_in ? in : out)++;
  }
  EXPECT_GE(in, 150);
  EXPECT_GE(out, 150);
}

TEST_F(MthTest, LoopLoopRelationOfTouchingAndApartLoops) {
  const double big[10] = {0, 0, 4, 0, 4, 4, 0, 4, 0, 0};
  const double small[10] = {1, 1, 2, 1, 2, 2, 1, 2, 1, 1};
  const double far[10] = {10, 10, 11, 10, 11, 11, 10, 11, 10, 10};
  const double touching[10] = {4, 1, 5, 1, 5, 2, 4, 2, 4, 1};
  EXPECT_EQ(mth_LoopLoopRelation(0, 5, small, 5, big, 1e-9), 1);
  EXPECT_EQ(mth_LoopLoopRelation(0, 5, big, 5, small, 1e-9), -1);
  EXPECT_EQ(mth_LoopLoopRelation(0, 5, far, 5, big, 1e-9), -1);
  EXPECT_EQ(mth_LoopLoopRelation(0, 5, touching, 5, big, 1e-9), 0);
  // A diamond whose top vertex lies on the ray from a point below it: one crossing.
  const double diamond[10] = {1, 0, 1.2, 1, 1, 2, 0.8, 1, 1, 0};
  const double dot[8] = {0.95, 0.5, 1.05, 0.5, 1, 0.6, 0.95, 0.5};
  EXPECT_EQ(mth_LoopLoopRelation(0, 4, dot, 5, diamond, 1e-9), 1);
  EXPECT_EQ(mth_LoopLoopRelation(0, 0, dot, 5, diamond, 1e-9), -2);
  EXPECT_EQ(pending_texts().size(), 1u);
}

TEST_F(MthTest, SegmentCrossingParameters) {
  const double square[10] = {0, 0, 2, 0, 2, 2, 0, 2, 0, 0};
  const double inner[10] = {0.5, 0.5, 1.5, 0.5, 1.5, 1.5, 0.5, 1.5, 0.5, 0.5};
  double points[20];
  std::copy(square, square + 10, points);
  std::copy(inner, inner + 10, points + 10);
  const int32_t counts[2] = {5, 5};
  const double line[4] = {-1, 1, 3, 1};
  int32_t n = 0;
  double *t = nullptr;
  ASSERT_EQ(mth_LineLoopsIntersectParams(line, 2, counts, points, &n, &t), 0u);
  ASSERT_EQ(n, 4);
  std::sort(t, t + n);
  EXPECT_DOUBLE_EQ(t[0], 0.25);
  EXPECT_DOUBLE_EQ(t[1], 0.375);
  EXPECT_DOUBLE_EQ(t[2], 0.625);
  EXPECT_DOUBLE_EQ(t[3], 0.75);
  std::free(t);
  // Through a vertex where the loop passes: once; along an edge: by its neighbours.
  const double diag[4] = {-1, -1, 3, 3};
  ASSERT_EQ(mth_LineLoopsIntersectParams(diag, 1, counts, points, &n, &t), 0u);
  EXPECT_EQ(n % 2, 0);
  std::free(t);
  const double along[4] = {-1, 0, 3, 0};
  t = nullptr;
  ASSERT_EQ(mth_LineLoopsIntersectParams(along, 1, counts, points, &n, &t), 0u);
  EXPECT_EQ(n % 2, 0);
  std::free(t);
  const int32_t bad[1] = {0};
  EXPECT_EQ(mth_LineLoopsIntersectParams(line, 1, bad, points, &n, &t), MTH_INVALID_RANGE);
  EXPECT_EQ(mth_LineLoopsIntersectParams(line, 0, counts, points, &n, &t), MTH_INVALID_RANGE);
}

TEST_F(MthTest, InnerOuterAndPointInLoopExamples) {
  const double large[8] = {0, 0, 10, 0, 10, 10, 0, 10}, small[8] = {2, 2, 4, 2, 4, 4, 2, 4};
  const double beside[8] = {20, 0, 30, 0, 30, 10, 20, 10};
  int32_t r = 0;
  ASSERT_EQ(mth_LoopInnerOuter(0, 2, 4, large, 4, small, &r), 0u);
  EXPECT_EQ(r, 1);
  ASSERT_EQ(mth_LoopInnerOuter(0, 2, 4, small, 4, large, &r), 0u);
  EXPECT_EQ(r, -1);
  ASSERT_EQ(mth_LoopInnerOuter(0, 2, 4, large, 4, beside, &r), 0u);
  EXPECT_EQ(r, 2);
  {
    OutputCapture out;
    ASSERT_EQ(mth_LoopInnerOuter(0, 2, 4, large, 4, large, &r), 0u);
    EXPECT_EQ(r, 2);
    EXPECT_EQ(out.text(stdout), "Error: mth_LoopInnerOuter sees the same bounding \n");
  }
  int32_t p = 9;
  const double vertex[2] = {10, 10}, centre[2] = {5, 5}, away[2] = {15, 5}, edge[2] = {5, 1e-12};
  mth_PointInLoop(0, 2, vertex, 4, large, 1e-9, &p);
  EXPECT_EQ(p, 0);
  mth_PointInLoop(0, 2, centre, 4, large, 1e-9, &p);
  EXPECT_EQ(p, -1);
  mth_PointInLoop(0, 2, away, 4, large, 1e-9, &p);
  EXPECT_EQ(p, 1);
  mth_PointInLoop(0, 2, edge, 4, large, 1e-9, &p);
  EXPECT_EQ(p, 0);
  mth_PointInLoop(0, 2, centre, 1, large, 1e-9, &p);
  EXPECT_EQ(p, 1);
  p = 9;
  EXPECT_EQ(mth_PointInLoop(0, 2, centre, 0, large, 1e-9, &p), MTH_INVALID_RANGE);
  EXPECT_EQ(mth_LoopInnerOuter(0, 2, 0, large, 4, large, &r), MTH_INVALID_RANGE);
  EXPECT_EQ(p, 9);
}

TEST_F(MthTest, AreasMatchReference) {
  for (const Reference &r : references("area2")) {
    const int32_t n = static_cast<int32_t>(r.in[0]);
    const double area = mth_PolygonArea(n, 2, &r.in[1]);
    EXPECT_NEAR(area, r.out[0], 1e-14 * std::fabs(r.out[0]) + 1e-12);
  }
  for (const Reference &r : references("area3")) {
    const int32_t n = static_cast<int32_t>(r.in[0]);
    EXPECT_NEAR(mth_PolygonArea3D(n, &r.in[1]), r.out[0], 1e-13 * r.out[0]);
  }
  const double sq[6] = {0, 0, 0, 1, 0, 0};
  EXPECT_EQ(mth_PolygonArea3D(1, sq), 0.0);
  EXPECT_EQ(mth_PolygonArea(0, 2, sq), 0.0);
  EXPECT_EQ(pending_texts().size(), 1u);
  const double cw[8] = {0, 0, 0, 2, 3, 2, 3, 0};
  EXPECT_EQ(mth_PolygonArea(4, 2, cw), -6.0);
}

TEST_F(MthTest, BoundingBoxes) {
  Random rng(59);
  for (int count = 1; count < 20; ++count) {
    std::vector<double> pts(3 * count);
    for (double &v : pts) v = rng.uniform(-100, 100);
    double lo[3], hi[3];
    ASSERT_EQ(mth_BoundingBox(0, 3, count, pts.data(), lo, hi), 0u);
    for (int i = 0; i < 3; ++i) {
      double a = pts[i], b = pts[i];
      for (int k = 0; k < count; ++k) a = std::min(a, pts[3 * k + i]), b = std::max(b, pts[3 * k + i]);
      EXPECT_EQ(lo[i], a);
      EXPECT_EQ(hi[i], b);
    }
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double pts[6] = {nan, 5, 1, 3, 2, nan};
  double lo[2] = {-10, -10}, hi[2] = {0, 0};
  ASSERT_EQ(mth_BoundingBox(1, 2, 3, pts, lo, hi), 0u);
  EXPECT_EQ(lo[0], -10.0);
  EXPECT_EQ(hi[0], 2.0);
  EXPECT_EQ(hi[1], 5.0);
  double keep[2] = {4, 4};
  EXPECT_EQ(mth_BoundingBox(0, 2, 0, pts, keep, keep), MTH_INVALID_RANGE);
  EXPECT_EQ(keep[0], 4.0);
}

TEST_F(MthTest, SegmentsOnBoxSides) {
  const double box[4] = {0, 10, 0, 5};
  int32_t side, dir, partial;
  const double left_up[6] = {0, 0, 0, 0, 5, 0};
  mth_PointsOnBounds(0, left_up, box, 1e-9, &side, &dir, &partial);
  EXPECT_EQ(side, 1);
  EXPECT_EQ(dir, 1);
  EXPECT_EQ(partial, 0);
  const double top_part[6] = {8, 5, 0, 2, 5, 0};
  mth_PointsOnBounds(0, top_part, box, 1e-9, &side, &dir, &partial);
  EXPECT_EQ(side, 2);
  EXPECT_EQ(dir, 2);
  EXPECT_EQ(partial, 1);
  const double right_down[6] = {10, 5, 0, 10, 0, 0};
  mth_PointsOnBounds(0, right_down, box, 1e-9, &side, &dir, &partial);
  EXPECT_EQ(side, 3);
  EXPECT_EQ(partial, 0);
  const double bottom[6] = {0, 0, 0, 10, 0, 0};
  mth_PointsOnBounds(0, bottom, box, 1e-9, &side, &dir, &partial);
  EXPECT_EQ(side, 4);
  const double inner[6] = {3, 1, 0, 3, 4, 0}, slant[6] = {0, 0, 0, 1, 1, 0};
  mth_PointsOnBounds(0, inner, box, 1e-9, &side, &dir, &partial);
  EXPECT_EQ(side, 0);
  EXPECT_EQ(dir, 1);
  mth_PointsOnBounds(0, slant, box, 1e-9, &side, &dir, &partial);
  EXPECT_EQ(side, 0);
  EXPECT_EQ(dir, 0);
  EXPECT_EQ(partial, 1);
  double p[2] = {-3, 7};
  mth_PointForceInBounds2D(0, p, box);
  EXPECT_EQ(p[0], 0.0);
  EXPECT_EQ(p[1], 5.0);
  double a[2] = {-5, 0}, b[2] = {15, 10};
  mth__2DLineTrimBounds(0, a, b, box);
  EXPECT_DOUBLE_EQ(a[0], 0.0);
  EXPECT_DOUBLE_EQ(a[1], 2.5);
  EXPECT_DOUBLE_EQ(b[0], 5.0);
  EXPECT_DOUBLE_EQ(b[1], 5.0);
  double c[2] = {2, 1}, d[2] = {2, 9};  // vertical: only y is clipped
  mth__2DLineTrimBounds(0, c, d, box);
  EXPECT_EQ(c[1], 1.0);
  EXPECT_EQ(d[0], 2.0);
  EXPECT_EQ(d[1], 5.0);
}

TEST_F(MthTest, InsertPointChecksTheIndex) {
  double pts[10] = {1, 1, 2, 2, 3, 3, 0, 0, 0, 0};
  int32_t n = 3;
  const double p[2] = {9, 9}, same[2] = {2, 2};
  EXPECT_EQ(mth_InsertPoint2D(same, 1, &n, pts), MTH_SAMEPOINT);
  EXPECT_EQ(n, 3);
  ASSERT_EQ(mth_InsertPoint2D(p, 1, &n, pts), 0u);
  EXPECT_EQ(n, 4);
  EXPECT_EQ(std::vector<double>(pts, pts + 8), (std::vector<double>{1, 1, 9, 9, 2, 2, 3, 3}));
  // At the end nothing is compared: the slot there is not a point yet.
  pts[8] = 5, pts[9] = 5;
  const double five[2] = {5, 5};
  ASSERT_EQ(mth_InsertPoint2D(five, 4, &n, pts), 0u);
  EXPECT_EQ(n, 5);
  EXPECT_EQ(mth_InsertPoint2D(p, 7, &n, pts), MTH_INVALID_RANGE);
  EXPECT_EQ(mth_InsertPoint2D(p, -1, &n, pts), MTH_INVALID_RANGE);
  EXPECT_EQ(n, 5);
  int32_t zero = 0;
  double one[2];
  ASSERT_EQ(mth_InsertPoint2D(p, 0, &zero, one), 0u);
  EXPECT_EQ(zero, 1);
}

}  // namespace
}  // namespace tesmar::test
