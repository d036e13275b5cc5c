// Boxes: where a segment lies on a box's sides, clamping and clipping to a box, and insertion
// of a point into a list of 2D points.
#include "mth/mth_internal.h"

using namespace tesmar::mth;

extern "C" {

mpm_Status mth_PointsOnBounds(uint32_t, const double *segment, const double *box, double tol,
                              int32_t *side, int32_t *direction, int32_t *partial) {
  const double x0 = segment[0], y0 = segment[1], x1 = segment[3], y1 = segment[4];
  const double xmin = box[0], xmax = box[1], ymin = box[2], ymax = box[3];
  auto near = [tol](double a, double b) { return std::fabs(a - b) < tol; };
  int32_t s = 0, d = 0, p = 1;
  // Along the segment's own coordinate: increasing or decreasing, and whether it spans lo..hi.
  auto along = [&](double a, double b, double lo, double hi) {
    if (b > a) {
      d = 1;
      if (near(a, lo) && near(b, hi)) p = 0;
    } else {
      d = 2;
      if (near(b, lo) && near(a, hi)) p = 0;
    }
  };
  if (near(x0, x1)) {
    s = near(x0, xmin) ? 1 : (near(x0, xmax) ? 3 : 0);
    along(y0, y1, ymin, ymax);
  } else if (near(y0, y1)) {
    s = near(y0, ymin) ? 4 : (near(y0, ymax) ? 2 : 0);
    along(x0, x1, xmin, xmax);
  }
  *side = s;
  *direction = d;
  *partial = p;
  return 0;
}

mpm_Status mth_PointForceInBounds2D(uint32_t, double *point, const double *box) {
  for (int k = 0; k < 2; ++k) {
    if (point[k] < box[2 * k]) point[k] = box[2 * k];
    if (point[k] > box[2 * k + 1]) point[k] = box[2 * k + 1];
  }
  return 0;
}

mpm_Status mth__2DLineTrimBounds(uint32_t, double *p1, double *p2, const double *box) {
  // x = xmin, x = xmax, y = ymin, y = ymax; the endpoint beyond the line moves onto it.
  for (int b = 0; b < 4; ++b) {
    const int k = b / 2, o = 1 - k;
    const bool upper = b % 2 == 1;
    const double c = box[b];
    const double a = p1[k], e = p2[k];
    if (!(std::fmin(a, e) < c && c < std::fmax(a, e)) || !(std::fabs(a - e) > kTol)) continue;
    const double other = p1[o] + (c - a) * (p2[o] - p1[o]) / (e - a);
    double *outer = (upper ? a > c : a < c) ? p1 : p2;
    outer[k] = c;
    outer[o] = other;
  }
  return 0;
}

mpm_Status mth_InsertPoint2D(const double *point, int32_t index, int32_t *count, double *array) {
  const int32_t n = *count;
  if (n < 0 || n == INT32_MAX || index < 0 || index > n) return report(error(MTH_INVALID_RANGE));
  const double x = point[0], y = point[1];
  const std::size_t i = static_cast<std::size_t>(index);
  if (index < n && std::fabs(array[2 * i] - x) <= kTol && std::fabs(array[2 * i + 1] - y) <= kTol)
    return MTH_SAMEPOINT;
  std::memmove(array + 2 * i + 2, array + 2 * i,
               sizeof(double) * 2 * (static_cast<std::size_t>(n) - i));
  array[2 * i] = x;
  array[2 * i + 1] = y;
  *count = n + 1;
  return 0;
}

}  // extern "C"
