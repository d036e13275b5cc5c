// Vectors and points: arithmetic, comparisons with the module tolerance, normalisation.
#include "mth/mth_internal.h"

namespace tesmar::mth {

double length(int32_t n, const double *v) {
  double sum = 0.0;
  for (int32_t i = 0; i < n; ++i) sum += v[i] * v[i];
  if (std::isinf(sum) || sum < 1e-280) {
    // Squares that overflow or lose their digits to underflow: scale by the largest component.
    double big = 0.0;
    for (int32_t i = 0; i < n; ++i) big = std::fmax(big, std::fabs(v[i]));
    if (!std::isfinite(big) || big == 0.0) return std::isnan(big) ? big : std::sqrt(sum);
    double scaled = 0.0;
    for (int32_t i = 0; i < n; ++i) {
      double s = v[i] / big;
      scaled += s * s;
    }
    return big * std::sqrt(scaled);
  }
  return std::sqrt(sum);
}

bool normalize(int32_t n, const double *v, double *out) {
  double len = length(n, v);
  if (!(len > kTol) || !std::isfinite(len)) {
    if (out != v) std::memmove(out, v, sizeof(double) * static_cast<std::size_t>(n > 0 ? n : 0));
    return false;
  }
  int32_t significant = 0, last = -1;
  for (int32_t i = 0; i < n; ++i) {
    out[i] = v[i] / len;
    if (!(std::fabs(out[i]) < kTol)) {
      ++significant;
      last = i;
    }
  }
  if (significant == 1) {
    // An axis direction is snapped exactly, so that later comparisons with axes hold.
    for (int32_t i = 0; i < n; ++i) out[i] = i == last ? (out[i] < 0.0 ? -1.0 : 1.0) : 0.0;
  }
  return true;
}

}  // namespace tesmar::mth

using namespace tesmar::mth;

extern "C" {

mpm_Status mth_AveragePoints(uint32_t, int32_t n, int32_t count, const double *points,
                             double *average) {
  if (n < 1 || count < 1) return report(error(MTH_INVALID_RANGE));
  // Coordinate by coordinate, so that the average may overwrite the first point.
  const std::size_t stride = static_cast<std::size_t>(n);
  for (int32_t i = 0; i < n; ++i) {
    double sum = 0.0;
    for (int32_t k = 0; k < count; ++k) sum += points[static_cast<std::size_t>(k) * stride + i];
    average[i] = sum / count;
  }
  return 0;
}

int32_t mth_PointsEqual(int32_t n, const double *a, const double *b) {
  for (int32_t i = 0; i < n; ++i)
    if (!(std::fabs(a[i] - b[i]) <= kTol)) return 0;
  return 1;
}

int32_t mth_PointsWithinTolerance(uint32_t, double tol, int32_t n, const double *a,
                                  const double *b) {
  return mth_Distance(n, a, b) <= tol ? 1 : 0;
}

int32_t mth_PointsCollinearByArea(int32_t dimension, double tol, const double *p1,
                                  const double *p2, const double *p3) {
  double area;
  if (dimension == 2) {
    double ux = p2[0] - p1[0], uy = p2[1] - p1[1], vx = p3[0] - p1[0], vy = p3[1] - p1[1];
    area = 0.5 * std::fabs(ux * vy - uy * vx);
  } else if (dimension == 3) {
    area = 0.5 * length(cross(load3(p2) - load3(p1), load3(p3) - load3(p1)));
  } else {
    return 0;
  }
  return area <= tol ? 1 : 0;
}

int32_t mth_PointsCollinearByDirection(int32_t n, double tol, const double *p1, const double *p2,
                                       const double *p3) {
  double uu = 0.0, vv = 0.0, uv = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    double u = p1[i] - p2[i], v = p2[i] - p3[i];
    uu += u * u;
    vv += v * v;
    uv += u * v;
  }
  if (uu < kTol || vv < kTol) return 1;
  double cosine = uv / (std::sqrt(uu) * std::sqrt(vv));
  return 1.0 - cosine <= tol ? 1 : 0;
}

int32_t mth_FirstDifferentCoord(int32_t n, const double *a, const double *b) {
  for (int32_t i = 0; i < n; ++i)
    if (!(std::fabs(a[i] - b[i]) <= kTol)) return i;
  return -1;
}

int32_t mth_VectorsEqual(int32_t n, const double *a, const double *b, double tol) {
  return mth_Distance(n, a, b) <= tol ? 1 : 0;
}

int32_t mth_VectorsEqualRelative(int32_t n, const double *a, const double *b, double tol) {
  double m = std::fmax(length(n, a), length(n, b));
  if (m <= tol || m <= kTol) return 1;
  return mth_Distance(n, a, b) / m <= tol ? 1 : 0;
}

double mth_CosAngleVectors(const double *a, const double *b, int32_t n) {
  double la = length(n, a), lb = length(n, b);
  if (!(la > 0.0) || !(lb > 0.0)) return 0.0;
  double c = mth_DotProduct(n, a, b) / la / lb;
  if (std::isnan(c)) return 0.0;
  return c > 1.0 ? 1.0 : (c < -1.0 ? -1.0 : c);
}

int32_t mth_AddVectors(int32_t n, const double *a, const double *b, double *out) {
  for (int32_t i = 0; i < n; ++i) out[i] = a[i] + b[i];
  return n;
}

mpm_Status mth_ApplyMatrix3x3(uint32_t flags, const double *m, const double *v, double *out) {
  const double x = v[0], y = v[1], z = v[2];
  double r[3];
  for (int i = 0; i < 3; ++i) {
    if (flags & MTH_TRANSPOSE)
      r[i] = m[i] * x + m[3 + i] * y + m[6 + i] * z;
    else
      r[i] = m[3 * i] * x + m[3 * i + 1] * y + m[3 * i + 2] * z;
  }
  out[0] = r[0];
  out[1] = r[1];
  out[2] = r[2];
  return 0;
}

mpm_Status mth_CrossProduct(const double *a, const double *b, double *out) {
  store3(cross(load3(a), load3(b)), out);
  return 0;
}

double mth_DotProduct(int32_t n, const double *a, const double *b) {
  double sum = 0.0;
  for (int32_t i = 0; i < n; ++i) sum += a[i] * b[i];
  return sum;
}

mpm_Status mth_SubtractVectors(int32_t n, const double *a, const double *b, double *out) {
  for (int32_t i = 0; i < n; ++i) out[i] = a[i] - b[i];
  return 0;
}

int32_t mth_VectorDifference(int32_t n, const double *a, const double *b, double *out) {
  for (int32_t i = 0; i < n; ++i) out[i] = b[i] - a[i];
  return n;
}

int32_t mth_ScaleVector(int32_t n, const double *v, double s, double *out) {
  for (int32_t i = 0; i < n; ++i) out[i] = v[i] * s;
  return n;
}

mpm_Status mth_DivideVector(int32_t n, const double *v, double s, double *out) {
  if (!(std::fabs(s) >= kTol)) return MTH_ZERO_DIVISOR;
  for (int32_t i = 0; i < n; ++i) out[i] = v[i] / s;
  return 0;
}

double mth_VectorLength(int32_t n, const double *v) { return length(n, v); }

double mth_Distance(int32_t n, const double *a, const double *b) {
  return std::sqrt(mth_SquaredDistance(n, a, b));
}

double mth_SquaredDistance(int32_t n, const double *a, const double *b) {
  double sum = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    double d = a[i] - b[i];
    sum += d * d;
  }
  return sum;
}

mpm_Status mth_NormalizeVector(int32_t n, const double *v, double *out) {
  return normalize(n, v, out) ? 0 : MTH_ZERO_LENGTH;
}

mpm_Status mth_OffsetPointAlongAxis(uint32_t, const double *point, double distance,
                                    const double *axis, double *out) {
  V3 u;
  if (!normalize(load3(axis), &u)) return MTH_ZERO_LENGTH;
  store3(load3(point) + u * distance, out);
  return 0;
}

uint32_t mth_Factorial(int32_t k) {
  if (k > 12) return UINT32_MAX;
  uint32_t product = 1;
  for (int32_t i = 2; i <= k; ++i) product *= static_cast<uint32_t>(i);
  return product;
}

mpm_Status mth_PointOnCircleXY(const double *centre, double angle, double radius, double *out) {
  double x = centre[0] + radius * std::cos(angle), y = centre[1] + radius * std::sin(angle);
  double z = centre[2];
  out[0] = x;
  out[1] = y;
  out[2] = z;
  return 0;
}

mpm_Status mth_RotateVector2D(double angle, const double *v, double *out) {
  double s, c;
  sin_cos_snapped(angle, false, &s, &c);
  double x = v[0] * c - v[1] * s, y = v[0] * s + v[1] * c;
  out[0] = x;
  out[1] = y;
  return 0;
}

}  // extern "C"
