// Lines: distances and projections of points, intersections and closest approach of lines.
#include "mth/mth_internal.h"

namespace tesmar::mth {

double point_line_distance(int32_t mode, int32_t n, const double *point, const double *a,
                           const double *b, double *foot, double *parameter) {
  auto dir = [&](int32_t i) { return mode == 2 ? b[i] : b[i] - a[i]; };
  double dd = 0.0, wd = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    const double d = dir(i);
    dd += d * d;
    wd += (point[i] - a[i]) * d;
  }
  double t = 0.0;
  if (std::sqrt(dd) >= kTol) t = wd / dd;  // else (and for NaN) a degenerate line: the point a
  double sum = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    const double r = point[i] - (a[i] + t * dir(i));
    sum += r * r;
  }
  // Written last and index by index, so that the foot may be one of the inputs.
  if (foot != nullptr)
    for (int32_t i = 0; i < n; ++i) foot[i] = a[i] + t * dir(i);
  if (parameter != nullptr) *parameter = t;
  return std::sqrt(sum);
}

bool intersect_2d(double tol, const double *p1, const double *d1, const double *p2,
                  const double *d2, double *t1, double *t2) {
  for (int i = 0; i < 2; ++i)
    if (std::isnan(p1[i]) || std::isnan(d1[i]) || std::isnan(p2[i]) || std::isnan(d2[i]))
      return false;
  const double dx = p2[0] - p1[0], dy = p2[1] - p1[1];
  double s1, s2;
  if (std::fabs(d1[0]) > kTol * std::fabs(d1[1])) {
    const double r = d1[1] / d1[0];
    const double coefficient = r * d2[0] - d2[1];
    if (!(std::fabs(coefficient) > tol)) return false;
    s2 = (dy - r * dx) / coefficient;
    s1 = (dx + s2 * d2[0]) / d1[0];
  } else {
    if (!(std::fabs(d2[0]) > tol) || !(std::fabs(d1[1]) > tol)) return false;
    s2 = -dx / d2[0];
    s1 = (dy + s2 * d2[1]) / d1[1];
  }
  if (!std::isfinite(s1) || !std::isfinite(s2)) return false;
  *t1 = s1;
  *t2 = s2;
  return true;
}

Closest closest_3d(uint32_t flags, double tol, V3 p1, V3 d1, V3 p2, V3 d2) {
  const bool on_second = (flags & MTH_POINT_ON_SECOND) != 0;
  if (std::isnan(dot(p1, p1) + dot(d1, d1) + dot(p2, p2) + dot(d2, d2)))
    return {MTH_PARALLELLINES, 0.0, 0.0, {0, 0, 0}};  // not a line: nothing to write
  const double a = dot(d1, d1), c = dot(d2, d2);
  const bool point1 = !(a > tol), point2 = !(c > tol);
  if (point1 && point2) return {MTH_DEGENERATE_LINE, 0.0, 0.0, (p1 + p2) * 0.5};
  if (point1) {
    const double t2 = dot(d2, p1 - p2) / c;
    const V3 q2 = p2 + d2 * t2;
    return {0, 0.0, t2, on_second ? q2 : (p1 + q2) * 0.5};
  }
  if (point2) {
    const double t1 = dot(d1, p2 - p1) / a;
    const V3 q1 = p1 + d1 * t1;
    return {0, t1, 0.0, on_second ? p2 : (q1 + p2) * 0.5};
  }
  // The normal equations' determinant a c - (d1.d2)^2 is |d1 x d2|^2; taken from the cross
  // product it keeps its digits for nearly parallel lines.
  const V3 n = cross(d1, d2);
  const double nn = dot(n, n);
  if (!(nn / a / c > tol)) return {MTH_PARALLELLINES, 0.0, 0.0, {0, 0, 0}};
  const V3 w = p2 - p1;
  const double t1 = dot(cross(w, d2), n) / nn, t2 = dot(cross(w, d1), n) / nn;
  const V3 q1 = p1 + d1 * t1, q2 = p2 + d2 * t2;
  return {0, t1, t2, on_second ? q2 : (q1 + q2) * 0.5};
}

}  // namespace tesmar::mth

using namespace tesmar::mth;

namespace {

mpm_Status project_on_line(int32_t n, uint32_t flags, const double *start, const double *end,
                           const double *point, double *foot, double *parameter,
                           mpm_Status degenerate) {
  double d[3], dd = 0.0, wd = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    d[i] = (flags & MTH_DIRECTION) ? end[i] : end[i] - start[i];
    dd += d[i] * d[i];
    wd += d[i] * (point[i] - start[i]);
  }
  double t = 0.0;
  mpm_Status status = 0;
  if (!(dd > 0.0))
    status = degenerate;
  else
    t = wd / dd;
  double f[3];
  for (int32_t i = 0; i < n; ++i) f[i] = start[i] + t * d[i];
  if (std::fabs(t) <= kTol)
    t = 0.0;
  else if (flags == 0 && std::fabs(t - 1.0) <= kTol)
    t = 1.0;
  if (foot != nullptr) std::memcpy(foot, f, sizeof(double) * static_cast<std::size_t>(n));
  if (parameter != nullptr) *parameter = t;
  return status;
}

}  // namespace

extern "C" {

double mth_PointLineDistance(int32_t mode, int32_t n, const double *point,
                             const double *line_point, const double *line_end, double *foot,
                             double *parameter) {
  if (n < 1) {
    report(error(MTH_INVALID_RANGE));
    return -1.0;
  }
  return point_line_distance(mode, n, point, line_point, line_end, foot, parameter);
}

mpm_Status mth_ProjectPointOnLine3D(uint32_t flags, const double *start, const double *end,
                                    const double *point, double *foot, double *parameter) {
  return project_on_line(3, flags, start, end, point, foot, parameter, MTH_DEGENERATE_LINE);
}

mpm_Status mth_ProjectPointOnLine2D(uint32_t flags, const double *start, const double *end,
                                    const double *point, double *foot, double *parameter) {
  return project_on_line(2, flags, start, end, point, foot, parameter, 0);
}

mpm_Status mth_FootOnLine(const double *line_point, const double *direction, const double *point,
                          double *distance, double *foot) {
  const V3 a = load3(line_point), d = load3(direction), p = load3(point);
  const V3 f = a + d * dot(d, p - a);
  if (distance != nullptr) *distance = length(p - f);
  if (foot != nullptr) store3(f, foot);
  return 0;
}

mpm_Status mth_ProjectPointOnLineThrough(const double *start, const double *end,
                                         const double *point, double *foot, double *distance) {
  const V3 a = load3(start), p = load3(point);
  V3 d;
  if (!normalize(load3(end) - a, &d)) {
    if (distance != nullptr) *distance = length(p - a);
    if (foot != nullptr) store3(a, foot);
    return MTH_DEGENERATE_LINE;
  }
  const double direction[3] = {d.x, d.y, d.z}, origin[3] = {a.x, a.y, a.z};
  return mth_FootOnLine(origin, direction, point, distance, foot);
}

mpm_Status mth_ProjectPointOnPlane(uint32_t, const double *point, const double *plane,
                                   double *out) {
  const V3 n = load3(plane), p = load3(point);
  const double nn = dot(n, n);
  if (!(std::sqrt(nn) > kTol) || !std::isfinite(nn)) return MTH_ZERO_LENGTH;
  store3(p + n * ((plane[3] - dot(p, n)) / nn), out);
  return 0;
}

mpm_Status mth_LineLineIntersect2D(uint32_t flags, double tol, const double *p1, const double *d1,
                                   const double *p2, const double *d2, double *t1, double *t2,
                                   double *point) {
  double s1, s2;
  if (!intersect_2d(tol, p1, d1, p2, d2, &s1, &s2)) return MTH_PARALLELLINES;
  const bool want_point = (flags & MTH_WANT_POINT) != 0;
  if (want_point && point != nullptr) {
    const double x = p2[0] + s2 * d2[0], y = p2[1] + s2 * d2[1];
    point[0] = x;
    point[1] = y;
  }
  if ((flags & MTH_WANT_PARAMS) || !want_point) {
    if (t1 != nullptr) *t1 = s1;
    if (t2 != nullptr) *t2 = s2;
  }
  return 0;
}

mpm_Status mth_LineLineClosest3D(uint32_t flags, double tol, const double *p1, const double *d1,
                                 const double *p2, const double *d2, double *t1, double *t2,
                                 double *point) {
  const Closest r = closest_3d(flags, tol, load3(p1), load3(d1), load3(p2), load3(d2));
  if (r.status == MTH_PARALLELLINES) return r.status;
  const bool want_point = (flags & (MTH_WANT_POINT | MTH_POINT_ON_SECOND)) != 0;
  if (want_point && point != nullptr) store3(r.point, point);
  if ((flags & MTH_WANT_PARAMS) || !want_point) {
    if (t1 != nullptr) *t1 = r.t1;
    if (t2 != nullptr) *t2 = r.t2;
  }
  return r.status;
}

mpm_Status mth_LineLineDistance3D(uint32_t, double tol, const double *p1, const double *d1,
                                  const double *p2, const double *d2, double *t1, double *t2,
                                  double *distance) {
  const V3 a = load3(p1), u = load3(d1), b = load3(p2), v = load3(d2);
  const Closest r = closest_3d(0, tol, a, u, b, v);
  if (r.status != 0 || !(dot(u, u) > tol) || !(dot(v, v) > tol)) {
    const double vv = dot(v, v);
    const double s = vv > 0.0 && std::isfinite(vv) ? dot(v, a - b) / vv : 0.0;
    if (t1 != nullptr) *t1 = 0.0;
    if (t2 != nullptr) *t2 = s;
    if (distance != nullptr) *distance = length(a - (b + v * s));
    return MTH_PARALLELLINES;
  }
  if (t1 != nullptr) *t1 = r.t1;
  if (t2 != nullptr) *t2 = r.t2;
  if (distance != nullptr) *distance = length((a + u * r.t1) - (b + v * r.t2));
  return 0;
}

int32_t mth_PointInPlane(const double *p, const double *q, const double *r, const double *s,
                         double tol) {
  const V3 a = load3(p);
  const V3 n = cross(load3(q) - a, load3(r) - a);
  const double len = length(n);
  if (!(len > tol)) return -1;
  return std::fabs(dot(n, load3(s) - a)) / len <= tol ? 1 : 0;
}

}  // extern "C"
