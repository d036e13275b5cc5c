// Fitting: least-squares lines and planes, collinearity of point sets, circles through points.
//
// Sums are taken about the mean. The textbook forms (n Sum x^2 - (Sum x)^2 and the like) are the
// same numbers in exact arithmetic, but at CAD coordinates (1e5 with 1e-3 detail) they cancel
// catastrophically in doubles; sums of deviations from the mean keep the detail, and shifting the
// data moves the result by the shift and changes nothing else.
#include "mth/mth_internal.h"

namespace tesmar::mth {
namespace {

// Mean of coordinate `axis` of the points, refined by the mean of the residuals.
double mean_of(const double *points, int32_t count, std::size_t stride, int axis) {
  double sum = 0.0;
  for (int32_t k = 0; k < count; ++k) sum += points[k * stride + axis];
  double mean = sum / count, correction = 0.0;
  for (int32_t k = 0; k < count; ++k) correction += points[k * stride + axis] - mean;
  return mean + correction / count;
}

struct Moments {
  double mean[3] = {0, 0, 0};
  double s[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};  // centred sums of products
};

Moments moments(const double *points, int32_t count, std::size_t stride, int dims) {
  Moments m;
  for (int i = 0; i < dims; ++i) m.mean[i] = mean_of(points, count, stride, i);
  for (int32_t k = 0; k < count; ++k) {
    double d[3];
    for (int i = 0; i < dims; ++i) d[i] = points[k * stride + i] - m.mean[i];
    for (int i = 0; i < dims; ++i)
      for (int j = i; j < dims; ++j) m.s[i][j] += d[i] * d[j];
  }
  for (int i = 0; i < dims; ++i)
    for (int j = 0; j < i; ++j) m.s[i][j] = m.s[j][i];
  return m;
}

bool collinear_in_plane(const double *points, int32_t count) {
  auto p = [points](int32_t i) { return points + 3 * static_cast<std::size_t>(i); };
  for (int32_t k = 1; k + 1 < count; ++k) {
    if (mth_PointsEqual(3, p(k - 1), p(k)) || mth_PointsEqual(3, p(k + 1), p(k))) continue;
    const V3 a = load3(p(k - 1)), b = load3(p(k)), c = load3(p(k + 1));
    if (length(cross(b - a, c - b)) > MTH_TOLERANCE) return false;
  }
  return true;
}

void write_plane(V3 n, V3 centroid, double *normal, double *offset) {
  double c[3] = {n.x, n.y, n.z};
  int unit = -1;
  for (int i = 0; i < 3; ++i)
    if (std::fabs(std::fabs(c[i]) - 1.0) <= kTol) unit = i;
  for (int i = 0; i < 3; ++i) {
    if (unit >= 0)
      c[i] = i == unit ? (c[i] < 0.0 ? -1.0 : 1.0) : 0.0;
    else if (std::fabs(c[i]) < kTol)
      c[i] = 0.0;
  }
  const V3 snapped = load3(c);
  if (normal != nullptr) store3(snapped, normal);
  if (offset != nullptr) *offset = dot(snapped, centroid);
}

int32_t fit_plane(uint32_t flags, const double *points, int32_t count, double tol, double *normal,
                  double *offset) {
  const double z0 = points[2];
  bool flat = true;
  for (int32_t k = 1; k < count && flat; ++k)
    flat = std::fabs(points[3 * static_cast<std::size_t>(k) + 2] - z0) <= tol;
  if (flat && std::fabs(z0) <= tol) {
    if (normal != nullptr) store3({0, 0, 1}, normal);
    if (offset != nullptr) *offset = 0.0;
    return count < 3 || collinear_in_plane(points, count) ? -2 : 2;
  }
  if (count < 3) return -1;
  const Moments m = moments(points, count, 3, 3);
  // Solving for coordinate k as a function of the next two (cyclically): the determinant of the
  // normal equations is n (Suu Svv - Suv^2).
  int axis = -1;
  double best = kTol, det[3];
  for (int k = 0; k < 3; ++k) {
    const int u = (k + 1) % 3, v = (k + 2) % 3;
    det[k] = count * (m.s[u][u] * m.s[v][v] - m.s[u][v] * m.s[u][v]);
    if (std::fabs(det[k]) > best) {
      best = std::fabs(det[k]);
      axis = k;
    }
  }
  if (axis < 0) return -1;
  if (flat) {
    if (normal != nullptr) store3({0, 0, 1}, normal);
    if (offset != nullptr) *offset = z0;
    return 1;
  }
  const int u = (axis + 1) % 3, v = (axis + 2) % 3;
  const double den = m.s[u][u] * m.s[v][v] - m.s[u][v] * m.s[u][v];
  const double a = (m.s[u][axis] * m.s[v][v] - m.s[u][v] * m.s[v][axis]) / den;
  const double b = (m.s[u][u] * m.s[v][axis] - m.s[u][v] * m.s[u][axis]) / den;
  double c[3];
  c[axis] = 1.0;
  c[u] = -a;
  c[v] = -b;
  V3 n;
  if (!normalize(load3(c), &n)) return -1;
  const V3 centroid = load3(m.mean);
  bool within = true;
  if (count != 3)
    for (int32_t k = 0; k < count && within; ++k)
      within = std::fabs(dot(n, load3(points + 3 * static_cast<std::size_t>(k)) - centroid)) <= tol;
  if (within || (flags & MTH_WRITE_ANYWAY)) write_plane(n, centroid, normal, offset);
  return within ? 1 : 0;
}

int32_t fit_circle(const double *points, int32_t count, int32_t dim, double itol, double rtol,
                   double *centre, double *radius, double *normal) {
  const std::size_t d = static_cast<std::size_t>(dim);
  // Everything is computed relative to the first point.
  auto rel = [&](int32_t k) {
    const double *p = points + k * d;
    return V3{p[0] - points[0], p[1] - points[1], dim == 3 ? p[2] - points[2] : 0.0};
  };
  V3 sum{0, 0, 0}, normals{0, 0, 0};
  for (int32_t k = 1; k + 1 < count; ++k) {
    const V3 a = rel(k - 1), b = rel(k), c = rel(k + 1);
    const V3 c1 = b - a, c2 = c - b, m1 = (a + b) * 0.5, m2 = (b + c) * 0.5;
    V3 n, b1, b2, at;
    if (!normalize(cross(c1, c2), &n)) return 0;
    if (dim == 3) {
      if (!normalize(cross(n, c1), &b1) || !normalize(cross(n, c2), &b2)) return 0;
      const Closest r = closest_3d(0, itol, m1, b1, m2, b2);
      if (r.status != 0) return 0;
      at = r.point;
    } else {
      if (!normalize(V3{-c1.y, c1.x, 0}, &b1) || !normalize(V3{-c2.y, c2.x, 0}, &b2)) return 0;
      const double p1[2] = {m1.x, m1.y}, d1[2] = {b1.x, b1.y}, p2[2] = {m2.x, m2.y},
                   d2[2] = {b2.x, b2.y};
      double t1, t2;
      if (!intersect_2d(itol, p1, d1, p2, d2, &t1, &t2)) return 0;
      at = m2 + b2 * t2;
    }
    if (k > 1 && dot(n, normals) < 0.0) n = n * -1.0;
    sum = sum + at;
    normals = normals + n;
  }
  const double pieces = count - 2;
  const V3 mid = sum * (1.0 / pieces);
  V3 unit;
  if (!normalize(normals * (1.0 / pieces), &unit)) return 0;
  double total = 0.0, lo = 0.0, hi = 0.0;
  for (int32_t k = 0; k < count; ++k) {
    const double r = length(rel(k) - mid);
    total += r;
    if (k == 0 || r < lo) lo = r;
    if (k == 0 || r > hi) hi = r;
  }
  const double base[3] = {points[0], points[1], dim == 3 ? points[2] : 0.0};
  const double c[3] = {base[0] + mid.x, base[1] + mid.y, base[2] + mid.z};
  if (centre != nullptr) std::memcpy(centre, c, sizeof(double) * d);
  if (radius != nullptr) *radius = total / count;
  if (normal != nullptr) store3(unit, normal);
  return hi - lo <= rtol ? 1 : 0;
}

}  // namespace
}  // namespace tesmar::mth

using namespace tesmar::mth;

extern "C" {

int32_t mth_FitLine2D(uint32_t flags, const double *points, int32_t count, int32_t stride,
                      double tol, double *first, double *second) {
  if (count < 2) return 1;
  if (stride < 2) {
    report(error(MTH_INVALID_RANGE));
    return 1;
  }
  const std::size_t s = static_cast<std::size_t>(stride);
  double f[2], g[2];
  if (count == 2) {
    if (mth_Distance(2, points, points + s) <= tol) return 1;
    f[0] = points[0], f[1] = points[1], g[0] = points[s], g[1] = points[s + 1];
  } else {
    const Moments m = moments(points, count, s, 2);
    const double dx = count * m.s[0][0], dy = count * m.s[1][1];
    if (!std::isfinite(dx) || !std::isfinite(dy)) return 1;
    if (std::fabs(dx) <= tol && std::fabs(dy) <= tol) return 1;
    double lo[2] = {points[0], points[1]}, hi[2] = {points[0], points[1]};
    for (int32_t k = 1; k < count; ++k)
      for (int i = 0; i < 2; ++i) {
        lo[i] = std::fmin(lo[i], points[k * s + i]);
        hi[i] = std::fmax(hi[i], points[k * s + i]);
      }
    // Regress the coordinate with the smaller spread on the other one.
    const int x = std::fabs(dx) > std::fabs(dy) ? 0 : 1, y = 1 - x;
    if (!(m.s[x][x] > 0.0)) return 1;
    const double slope = m.s[0][1] / m.s[x][x];
    f[x] = lo[x], f[y] = m.mean[y] + slope * (lo[x] - m.mean[x]);
    g[x] = hi[x], g[y] = m.mean[y] + slope * (hi[x] - m.mean[x]);
  }
  if (flags & MTH_DIRECTION) g[0] -= f[0], g[1] -= f[1];
  first[0] = f[0], first[1] = f[1];
  second[0] = g[0], second[1] = g[1];
  return 0;
}

int32_t mth_FitPlane(uint32_t flags, const double *points, int32_t count, double tol,
                     double *normal, double *offset) {
  if (count < 1) {
    report(error(MTH_INVALID_RANGE));
    return -1;
  }
  return fit_plane(flags, points, count, tol, normal, offset);
}

int32_t mth_PolylineStraight(const double *points, int32_t count, int32_t stride, double,
                             double tol) {
  if (count < 3) return 1;
  if (stride < 3) {
    report(error(MTH_INVALID_RANGE));
    return 0;
  }
  const std::size_t s = static_cast<std::size_t>(stride);
  for (int32_t k = 0; k + 2 < count; ++k)
    if (!mth_PointsCollinearByDirection(3, tol, points + k * s, points + (k + 1) * s,
                                        points + (k + 2) * s))
      return 0;
  return 1;
}

int32_t mth_PointsCollinear(const double *points, int32_t count, int32_t stride, double tol,
                            double line_tol, int32_t *first, int32_t *second) {
  if (count < 2) return 0;
  if (stride < 3) {
    report(error(MTH_INVALID_RANGE));
    return 0;
  }
  const std::size_t s = static_cast<std::size_t>(stride);
  int32_t bi = 0, bj = 1;
  double best = -1.0;
  for (int32_t i = 0; i < count; ++i)
    for (int32_t j = i + 1; j < count; ++j) {
      const double dd = mth_SquaredDistance(3, points + i * s, points + j * s);
      if (dd > best) best = dd, bi = i, bj = j;
    }
  if (!(std::sqrt(best) > tol)) return 0;
  const double limit = line_tol * line_tol;
  for (int32_t k = 0; k < count; ++k) {
    if (k == bi || k == bj) continue;
    const double d = point_line_distance(0, 3, points + k * s, points + bi * s, points + bj * s,
                                         nullptr, nullptr);
    if (!(d * d <= limit)) return 0;
  }
  if (first != nullptr) *first = bi;
  if (second != nullptr) *second = bj;
  return 1;
}

int32_t mth_PointsOnCircle(const double *points, int32_t count, int32_t dimension,
                           double intersection_tol, double radius_tol, double *centre,
                           double *radius, double *normal) {
  if (dimension != 2 && dimension != 3) {
    report(error(MTH_INVALID_OPT));
    return 0;
  }
  if (count < 3) return 0;
  return fit_circle(points, count, dimension, intersection_tol, radius_tol, centre, radius,
                    normal);
}

}  // extern "C"
