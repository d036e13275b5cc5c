// Loops: bounding boxes, areas, crossings of a loop with a horizontal or vertical line, which of
// two loops lies inside the other, and whether a point lies inside, on or outside a loop.
//
// The crossing list records, for a line y = Y, the x of every place where a loop meets it, so that
// the parity of the entries left of a point tells whether the point is inside. A vertex on the
// line is recorded once where the loop passes through and twice where it only touches; a
// horizontal edge on the line records both ends, and the vertex where the loop leaves the line
// follows the same rule, which keeps the parity right for the whole run. Whether the loop came
// from below or above is the "side" remembered from the last edge that arrived at the line; when
// the loop starts on the line the side is not known until the closing edge, so that first vertex
// is settled after the last edge ("pending").
#include <algorithm>

#include "mth/mth_internal.h"

namespace tesmar::mth {
namespace {

constexpr int kBelow = 1, kAbove = 0, kUnknown = -1;

struct Box {
  double lo[2] = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
  double hi[2] = {-std::numeric_limits<double>::infinity(),
                  -std::numeric_limits<double>::infinity()};
};

Box box_of(int32_t stride, int32_t count, const double *points) {
  Box b;
  for (int32_t k = 0; k < count; ++k)
    for (int i = 0; i < 2; ++i) {
      const double v = points[static_cast<std::size_t>(k) * static_cast<std::size_t>(stride) + i];
      if (v < b.lo[i]) b.lo[i] = v;
      if (v > b.hi[i]) b.hi[i] = v;
    }
  return b;
}

// 1 when the y-range of a contains that of b, each bound with the tolerance as slack.
bool contains_y(const Box &a, const Box &b) {
  return a.lo[1] - kTol <= b.lo[1] && b.hi[1] <= a.hi[1] + kTol;
}

bool same_box(const Box &a, const Box &b) {
  for (int i = 0; i < 2; ++i)
    if (!(std::fabs(a.lo[i] - b.lo[i]) <= kTol) || !(std::fabs(a.hi[i] - b.hi[i]) <= kTol))
      return false;
  return true;
}

Failure crossings_of(int axis, double value, int32_t stride, int32_t count, const double *points,
                     int32_t *out_count, double **values) {
  if (count < 1 || stride < 2) return error(MTH_INVALID_RANGE);
  Buffer<Crossing> list;
  if (!line_loop_crossings(axis, value, stride, count, points, 1, &list)) return kNoMemory;
  Buffer<double> xs;
  if (!xs.resize(list.size())) return kNoMemory;
  for (std::size_t i = 0; i < list.size(); ++i) xs[i] = list[i].x;
  sort_values(xs.data(), xs.size());
  *out_count = static_cast<int32_t>(xs.size());
  *values = xs.release();
  return kOk;
}

}  // namespace

void sort_values(double *values, std::size_t count) {
  std::sort(values, values + count, [](double a, double b) {
    return a < b || (std::isnan(b) && !std::isnan(a));
  });
}

bool line_loop_crossings(int axis, double value, int32_t stride, int32_t count,
                         const double *points, int32_t tag, Buffer<Crossing> *list) {
  const int c = axis, r = 1 - axis;  // constant and recorded coordinates
  const double Y = value;
  auto at = [&](int32_t k, int i) {
    return points[static_cast<std::size_t>(k) * static_cast<std::size_t>(stride) + i];
  };
  if (!list->reserve(list->size() + 50)) return false;
  auto record = [&](double x) { return list->push({tag, x}, 50, 3); };
  int side = kUnknown;
  bool any = false, pending = false;
  int32_t pending_j = 0;
  double pending_x = 0.0;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t j = i + 1 == count ? 0 : i + 1;
    const double yi = at(i, c), yj = at(j, c);
    if (!(std::fmin(yi, yj) <= Y && Y <= std::fmax(yi, yj))) continue;
    const double xi = at(i, r), xj = at(j, r);
    const bool first = !any;
    if (yi == yj) {
      if (!record(xi) || !record(xj)) return false;
      any = true;
      if (first && i == 0)
        for (int32_t k = count - 1; k >= 2; --k)
          if (at(k, c) != Y) {
            side = at(k, c) < Y ? kBelow : kAbove;
            break;
          }
    } else if (yi == Y) {
      if (!record(xi)) return false;
      any = true;
      if (first && side == kUnknown) {
        pending = true;
        pending_j = j;
        pending_x = xi;
      } else if ((side == kBelow && yj < Y) || (side == kAbove && yj > Y)) {
        if (!record(xi)) return false;
      }
    } else if (yj == Y) {
      side = yi < Y ? kBelow : kAbove;
    } else {
      if (!record(xi + (Y - yi) * (xj - xi) / (yj - yi))) return false;
      any = true;
    }
  }
  if (pending) {
    const double yj = at(pending_j, c);
    if ((side == kBelow && yj < Y) || (side == kAbove && yj > Y))
      if (!record(pending_x)) return false;
  }
  return true;
}

bool loop_inner_outer(int32_t stride, int32_t count1, const double *loop1, int32_t count2,
                      const double *loop2, int32_t *relation) {
  const Box b1 = box_of(stride, count1, loop1), b2 = box_of(stride, count2, loop2);
  if (!contains_y(b1, b2) && !contains_y(b2, b1)) {
    *relation = 2;
    return true;
  }
  if (same_box(b1, b2)) {
    static const char kText[] = "Error: mth_LoopInnerOuter sees the same bounding \n";
    char *text = static_cast<char *>(std::malloc(sizeof kText));
    if (text != nullptr) {
      std::memcpy(text, kText, sizeof kText);
      mpm_WriteText(MPM_NO_LOG | MPM_NO_NEWLINE, stdout, text);
    }
    *relation = 2;
    return true;
  }
  const double y = (std::fmax(b1.lo[1], b2.lo[1]) + std::fmin(b1.hi[1], b2.hi[1])) / 2.0;
  Buffer<Crossing> list;
  if (!line_loop_crossings(1, y, stride, count1, loop1, 1, &list) ||
      !line_loop_crossings(1, y, stride, count2, loop2, 2, &list))
    return false;
  // Equal x keep the order found (loop 1 before loop 2).
  std::stable_sort(list.data(), list.data() + list.size(),
                   [](const Crossing &a, const Crossing &b) { return a.x < b.x; });
  *relation = 2;
  for (std::size_t i = 0, n = list.size(); i < n;) {
    std::size_t j = i;
    while (j < n && list[j].tag == list[i].tag) ++j;
    if ((j - i) % 2 == 1 && j < n) {
      *relation = list[i].tag == 1 ? 1 : -1;
      break;
    }
    i = j;
  }
  return true;
}

bool point_in_loop(int32_t stride, const double *point, int32_t count, const double *loop,
                   double tol, int32_t *position) {
  const std::size_t s = static_cast<std::size_t>(stride);
  for (int32_t k = 0; k < count; ++k) {
    const int32_t prev = k == 0 ? count - 1 : k - 1;
    double t;
    const double d = point_line_distance(0, 2, point, loop + prev * s, loop + k * s, nullptr, &t);
    if (d <= tol && t >= -kTol && t <= 1.0000000000001) {
      *position = 0;
      return true;
    }
  }
  int32_t relation;
  if (!loop_inner_outer(stride, 1, point, count, loop, &relation)) return false;
  *position = relation == -1 ? -1 : 1;
  return true;
}

}  // namespace tesmar::mth

using namespace tesmar::mth;

extern "C" {

mpm_Status mth_BoundingBox(int32_t extend, int32_t n, int32_t count, const double *points,
                           double *minimum, double *maximum) {
  if (n < 1 || count < 1) return report(error(MTH_INVALID_RANGE));
  const std::size_t N = static_cast<std::size_t>(n);
  for (std::size_t i = 0; i < N; ++i) {
    double lo = extend == 1 ? minimum[i] : std::numeric_limits<double>::infinity();
    double hi = extend == 1 ? maximum[i] : -std::numeric_limits<double>::infinity();
    auto one = [&](double v) {
      if (v < lo) lo = v;
      if (v > hi) hi = v;
    };
    int32_t k = 0;
    // In pairs: the smaller of two can only lower the minimum, the larger only raise the maximum.
    for (; k + 1 < count; k += 2) {
      const double a = points[k * N + i], b = points[(k + 1) * N + i];
      if (a < b) {
        if (a < lo) lo = a;
        if (b > hi) hi = b;
      } else if (b <= a) {
        if (b < lo) lo = b;
        if (a > hi) hi = a;
      } else {  // a NaN among them
        one(a);
        one(b);
      }
    }
    if (k < count) one(points[k * N + i]);
    minimum[i] = lo;
    maximum[i] = hi;
  }
  return 0;
}

double mth_PolygonArea(int32_t count, int32_t stride, const double *points) {
  if (count < 1 || stride < 2) {
    report(error(MTH_INVALID_RANGE));
    return 0.0;
  }
  // About the first point: the same sums in exact arithmetic, without the cancellation of large
  // coordinates.
  const std::size_t s = static_cast<std::size_t>(stride);
  const double x0 = points[0], y0 = points[1];
  double sx = 0.0, sy = 0.0;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t j = i + 1 == count ? 0 : i + 1;
    const double xi = points[i * s] - x0, yi = points[i * s + 1] - y0;
    const double xj = points[j * s] - x0, yj = points[j * s + 1] - y0;
    sx += (xj - xi) * (yj + yi);
    sy += (yj - yi) * (xj + xi);
  }
  return (sy - sx) / 4.0;
}

double mth_PolygonArea3D(int32_t count, const double *points) {
  if (count < 2) return 0.0;
  double area = 0.0;
  for (int32_t k = 1; k < count; ++k) {
    const double *p = points + 3 * static_cast<std::size_t>(k);
    const double h = point_line_distance(0, 3, p - 3, p, points, nullptr, nullptr);
    area += 0.5 * mth_Distance(3, points, p) * h;
  }
  return area;
}

mpm_Status mth_HorizontalLineLoopIntersect(uint32_t, double y, int32_t stride, int32_t count,
                                           const double *points, int32_t *out_count,
                                           double **xs) {
  return report(crossings_of(1, y, stride, count, points, out_count, xs));
}

mpm_Status mth_VerticalLineLoopIntersect(uint32_t, double x, int32_t stride, int32_t count,
                                         const double *points, int32_t *out_count, double **ys) {
  return report(crossings_of(0, x, stride, count, points, out_count, ys));
}

mpm_Status mth_LoopInnerOuter(uint32_t, int32_t stride, int32_t count1, const double *loop1,
                              int32_t count2, const double *loop2, int32_t *relation) {
  if (count1 < 1 || count2 < 1 || stride < 2) return report(error(MTH_INVALID_RANGE));
  int32_t r;
  if (!loop_inner_outer(stride, count1, loop1, count2, loop2, &r)) return report(kNoMemory);
  *relation = r;
  return 0;
}

mpm_Status mth_PointInLoop(uint32_t, int32_t stride, const double *point, int32_t count,
                           const double *loop, double tol, int32_t *position) {
  if (count < 1 || stride < 2) return report(error(MTH_INVALID_RANGE));
  int32_t p;
  if (!point_in_loop(stride, point, count, loop, tol, &p)) return report(kNoMemory);
  *position = p;
  return 0;
}

}  // extern "C"
