// Coordinate systems and transforms: local/global matrices, rotations and translations about an
// axis, frames from an axis, plane matrices.
#include "mth/mth_internal.h"

namespace tesmar::mth {
namespace {

using M4 = double[16];

// 4 x 4 local-to-global matrix of unit axes and an origin.
void local_to_global(V3 x, V3 y, V3 z, V3 o, double *m) {
  const double rows[3][4] = {{x.x, y.x, z.x, o.x}, {x.y, y.y, z.y, o.y}, {x.z, y.z, z.z, o.z}};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 4; ++j) m[i * 4 + j] = rows[i][j];
  m[12] = m[13] = m[14] = 0.0;
  m[15] = 1.0;
}

void product4(const double *a, const double *b, double *c) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      double sum = 0.0;
      for (int k = 0; k < 4; ++k) sum += a[i * 4 + k] * b[k * 4 + j];
      c[i * 4 + j] = sum;
    }
}

void copy_out(uint32_t flags, const double *m, double *out) {
  std::memcpy(out, m, sizeof(double) * ((flags & MTH_MATRIX_4X4) ? 16 : 12));
}

bool two_perpendiculars(V3 axis, V3 *first, V3 *second) {
  double len = length(axis);
  if (!(len > kTol) || !std::isfinite(len)) return false;
  const double a[3] = {axis.x, axis.y, axis.z};
  int m, j, k;
  if (std::fabs(a[1]) > std::fabs(a[0])) {
    if (std::fabs(a[2]) > std::fabs(a[1]))
      m = 2, j = 1, k = 0;
    else
      m = 1, j = 0, k = 2;
  } else if (std::fabs(a[2]) > std::fabs(a[0])) {
    m = 2, j = 1, k = 0;
  } else {
    m = 0, j = 1, k = 2;
  }
  double u[3];
  const double ratio = a[j] / a[m];
  u[k] = 0.0;
  u[j] = 1.0 / std::sqrt(1.0 + ratio * ratio);
  u[m] = -u[j] * ratio;
  V3 uu = load3(u), v;
  if (!normalize(cross(axis, uu), &v)) return false;
  *first = uu;
  *second = v;
  return true;
}

// L R inverse(L) for the frame of the axis through the point; R acts in the frame.
mpm_Status about_axis(uint32_t flags, const double *point, const double *axis, const double *r,
                      double *out) {
  V3 z, x, y;
  if (!normalize(load3(axis), &z) || !two_perpendiculars(z, &x, &y)) return MTH_ZERO_LENGTH;
  M4 l, work, inv, lr, result;
  local_to_global(x, y, z, load3(point), l);
  std::memcpy(work, l, sizeof l);
  if (!invert(4, work, inv)) return report(error(MTH_SINGULAR_MATRIX));
  product4(l, r, lr);
  product4(lr, inv, result);
  copy_out(flags, result, out);
  return 0;
}

Failure plane_from_3(V3 p0, V3 p1, V3 p2, double *out) {
  V3 e = p1 - p0, n = cross(e, p1 - p2), ue, un, uy;
  if (!normalize(e, &ue) || !normalize(n, &un) || !normalize(cross(n, e), &uy))
    return error(MTH_COLINEARPLANEPNTS);
  const V3 columns[3] = {ue, uy, un};
  for (int j = 0; j < 3; ++j) {
    out[0 * 3 + j] = columns[j].x;
    out[1 * 3 + j] = columns[j].y;
    out[2 * 3 + j] = columns[j].z;
  }
  return kOk;
}

bool same(double a, double b) { return std::fabs(a - b) <= kTol; }

Failure plane_from_points(int32_t count, const double *points, double *out) {
  if (count < 1) return error(MTH_INVALID_RANGE);
  if (count < 3) return error(MTH_COLINEARPLANEPNTS);
  auto p = [points](int32_t i) { return points + 3 * static_cast<std::size_t>(i); };
  int32_t c[3] = {0, 1, 2}, next = 3;
  for (;;) {
    int slot;
    if (mth_PointsEqual(3, p(c[0]), p(c[1])))
      slot = 0;
    else if (mth_PointsEqual(3, p(c[1]), p(c[2])))
      slot = 1;
    else if (mth_PointsEqual(3, p(c[2]), p(c[0])))
      slot = 2;
    else if (mth_PointsCollinearByArea(3, kTol, p(c[0]), p(c[1]), p(c[2])))
      slot = 0;
    else
      break;
    if (next >= count) return error(MTH_COLINEARPLANEPNTS);
    c[slot] = next++;
  }
  const V3 a = load3(p(c[0])), b = load3(p(c[1])), d = load3(p(c[2]));
  double m[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  if (same(a.z, b.z) && same(a.z, d.z)) {
    // identity
  } else if (same(a.y, b.y) && same(a.y, d.y)) {
    const double s = a.y < 0.0 ? -1.0 : 1.0;
    const double rows[9] = {1, 0, 0, 0, 0, s, 0, 1, 0};
    std::memcpy(m, rows, sizeof m);
  } else if (same(a.x, b.x) && same(a.x, d.x)) {
    const double s = a.x < 0.0 ? -1.0 : 1.0;
    const double rows[9] = {0, 0, s, 0, 1, 0, 1, 0, 0};
    std::memcpy(m, rows, sizeof m);
  } else {
    Failure f = plane_from_3(a, b, d, m);
    if (f) return f;
  }
  std::memcpy(out, m, sizeof m);
  return kOk;
}

}  // namespace
}  // namespace tesmar::mth

using namespace tesmar::mth;

extern "C" {

mpm_Status mth_MatrixLocalToGlobalSys(uint32_t flags, const double *x_axis, const double *y_axis,
                                      const double *z_axis, const double *origin, double *out) {
  V3 x, y, z;
  if (!normalize(load3(x_axis), &x) || !normalize(load3(y_axis), &y) ||
      !normalize(load3(z_axis), &z))
    return MTH_ZERO_LENGTH;
  M4 m;
  local_to_global(x, y, z, load3(origin), m);
  copy_out(flags, m, out);
  return 0;
}

mpm_Status mth_MatrixGlobalToLocalSys(uint32_t flags, const double *x_axis, const double *y_axis,
                                      const double *z_axis, const double *origin, double *out) {
  M4 m, inv;
  mpm_Status status = mth_MatrixLocalToGlobalSys(MTH_MATRIX_4X4, x_axis, y_axis, z_axis, origin, m);
  if (status != 0) return status;
  if (!invert(4, m, inv)) return report(error(MTH_SINGULAR_MATRIX));
  copy_out(flags, inv, out);
  return 0;
}

mpm_Status mth_MatrixRotateAboutAxis(uint32_t flags, const double *point, const double *axis,
                                     double angle, double *out) {
  const double c = std::cos(angle), s = std::sin(angle);
  const M4 r = {c, -s, 0, 0, s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  return about_axis(flags, point, axis, r, out);
}

mpm_Status mth_MatrixTranslateAlongAxis(uint32_t flags, const double *point, const double *axis,
                                        double distance, double *out) {
  const M4 r = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, distance, 0, 0, 0, 1};
  return about_axis(flags, point, axis, r, out);
}

mpm_Status mth_TransformPoint(uint32_t, const double *point, const double *m, double *out) {
  const double x = point[0], y = point[1], z = point[2];
  double r[3];
  for (int i = 0; i < 3; ++i) r[i] = m[i * 4] * x + m[i * 4 + 1] * y + m[i * 4 + 2] * z + m[i * 4 + 3];
  std::memcpy(out, r, sizeof r);
  return 0;
}

mpm_Status mth_TransformVector(uint32_t, const double *vector, const double *m, double *out) {
  const double x = vector[0], y = vector[1], z = vector[2];
  double r[3];
  for (int i = 0; i < 3; ++i) r[i] = m[i * 4] * x + m[i * 4 + 1] * y + m[i * 4 + 2] * z;
  std::memcpy(out, r, sizeof r);
  return 0;
}

mpm_Status mth_RotationMatrixAxisAngle(const double *axis, double angle, double *out) {
  V3 k;
  if (!normalize(load3(axis), &k)) return MTH_ZERO_LENGTH;
  double s, c;
  sin_cos_snapped(angle, true, &s, &c);
  const double t = 1.0 - c;
  const double r[9] = {c + k.x * k.x * t,       k.x * k.y * t - k.z * s, k.x * k.z * t + k.y * s,
                       k.y * k.x * t + k.z * s, c + k.y * k.y * t,       k.y * k.z * t - k.x * s,
                       k.z * k.x * t - k.y * s, k.z * k.y * t + k.x * s, c + k.z * k.z * t};
  std::memcpy(out, r, sizeof r);
  return 0;
}

mpm_Status mth_FindTwoPerpAxesToAxis(uint32_t, const double *axis, double *first,
                                     double *second) {
  V3 u, v;
  if (!two_perpendiculars(load3(axis), &u, &v)) return MTH_ZERO_LENGTH;
  store3(u, first);
  store3(v, second);
  return 0;
}

mpm_Status mth_FrameFromAxis(const double *axis, double *out) {
  V3 z;
  if (!normalize(load3(axis), &z)) return MTH_ZERO_LENGTH;
  double zc[3] = {z.x, z.y, z.z};
  for (int i = 0; i < 3; ++i)
    if (std::fabs(1.0 - std::fabs(zc[i])) <= kTol) {
      for (int j = 0; j < 3; ++j) zc[j] = j == i ? (zc[i] < 0.0 ? -1.0 : 1.0) : 0.0;
      break;
    }
  z = load3(zc);
  const V3 reference = 1.0 - std::fabs(z.x) <= kTol ? V3{0, 0, 1} : V3{1, 0, 0};
  V3 y, x;
  if (!normalize(cross(z, reference), &y) || !normalize(cross(y, z), &x)) return MTH_ZERO_LENGTH;
  const double r[9] = {x.x, x.y, x.z, y.x, y.y, y.z, z.x, z.y, z.z};
  std::memcpy(out, r, sizeof r);
  return 0;
}

mpm_Status mth_PlaneMatrixFrom3Points(const double *p0, const double *p1, const double *p2,
                                      double *out) {
  double m[9];
  mpm_Status status = report(plane_from_3(load3(p0), load3(p1), load3(p2), m));
  if (status == 0) std::memcpy(out, m, sizeof m);
  return status;
}

mpm_Status mth_PlaneMatrixFromPoints(int32_t count, const double *points, double *out) {
  return report(plane_from_points(count, points, out));
}

}  // extern "C"
