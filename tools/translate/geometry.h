// Placement of IGES geometry: transformation matrices (IGES 124) and the object coordinate system
// of DXF entities (the arbitrary axis algorithm), through the library's geometry module.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "tesmar/tesmar.h"

namespace tesmar::translate {

// x' = R x + T.
struct Placement {
  double r[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  double t[3] = {0, 0, 0};

  void point(const double in[3], double out[3]) const {
    double v[3];
    mth_ApplyMatrix3x3(0, &r[0][0], in, v);
    for (int i = 0; i < 3; ++i) out[i] = v[i] + t[i];
  }
  void vector(const double in[3], double out[3]) const { mth_ApplyMatrix3x3(0, &r[0][0], in, out); }
  // this after `inner`: x -> this(inner(x)).
  Placement after(const Placement &inner) const {
    Placement p;
    mth_MatrixProduct(0, 3, 3, 3, &r[0][0], &inner.r[0][0], &p.r[0][0]);
    point(inner.t, p.t);
    return p;
  }
  // The length a unit length of the definition plane's x axis becomes.
  double scale() const {
    const double x[3] = {r[0][0], r[1][0], r[2][0]};
    return mth_VectorLength(3, x);
  }
  // The normal of the image of the XY plane, oriented so that counterclockwise stays so.
  void normal(double out[3]) const {
    const double x[3] = {r[0][0], r[1][0], r[2][0]}, y[3] = {r[0][1], r[1][1], r[2][1]};
    double n[3];
    mth_CrossProduct(x, y, n);
    if (mth_NormalizeVector(3, n, out) != 0) out[0] = 0, out[1] = 0, out[2] = 1;
  }
};

// The object coordinate system of an extrusion direction (the arbitrary axis algorithm).
struct Ocs {
  double ax[3], ay[3], n[3];
  explicit Ocs(const double normal[3]) {
    for (int i = 0; i < 3; ++i) n[i] = normal[i];
    const double wy[3] = {0, 1, 0}, wz[3] = {0, 0, 1};
    double a[3];
    if (std::fabs(n[0]) < 1.0 / 64 && std::fabs(n[1]) < 1.0 / 64) mth_CrossProduct(wy, n, a);
    else mth_CrossProduct(wz, n, a);
    mth_NormalizeVector(3, a, ax);
    mth_CrossProduct(n, ax, ay);
  }
  void from_world(const double w[3], double out[3]) const {
    out[0] = mth_DotProduct(3, w, ax), out[1] = mth_DotProduct(3, w, ay), out[2] = mth_DotProduct(3, w, n);
  }
  void to_world(const double o[3], double out[3]) const {
    for (int i = 0; i < 3; ++i) out[i] = o[0] * ax[i] + o[1] * ay[i] + o[2] * n[i];
  }
};

// A B-spline curve in homogeneous form: control points (w x, w y, w z, w) over a knot vector of
// points.size() + degree + 1 nondecreasing values; its domain is [knots[degree], knots[n]].
struct Spline {
  int degree = 0;
  std::vector<double> knots;
  std::vector<std::array<double, 4>> points;

  double low() const { return knots[static_cast<std::size_t>(degree)]; }
  double high() const { return knots[points.size()]; }

  // Inserts the knot u (inside the domain) once, the curve unchanged (Boehm's algorithm).
  void insert(double u) {
    const int p = degree, n = static_cast<int>(points.size());
    int k = p;  // the span: knots[k] <= u <= knots[k + 1]
    while (k + 1 < n && knots[static_cast<std::size_t>(k + 1)] <= u) ++k;
    std::vector<std::array<double, 4>> q(points.size() + 1);
    for (int i = 0; i <= n; ++i) {
      const auto at = static_cast<std::size_t>(i);
      if (i <= k - p) q[at] = points[at];
      else if (i > k) q[at] = points[at - 1];
      else {
        const double a = (u - knots[at]) / (knots[at + static_cast<std::size_t>(p)] - knots[at]);
        for (int j = 0; j < 4; ++j) q[at][j] = (1 - a) * points[at - 1][j] + a * points[at][j];
      }
    }
    points = std::move(q);
    knots.insert(knots.begin() + k + 1, u);
  }

  // Cuts the curve to [v0, v1] (low() <= v0 < v1 <= high()): each end is brought to a knot of
  // multiplicity `degree`, where the curve passes through a control point, and the piece between
  // keeps those points with its ends' knots repeated degree + 1 times.
  void cut(double v0, double v1) {
    const auto p = static_cast<std::size_t>(degree);
    const auto count = [&](double u) {
      return static_cast<std::size_t>(std::count(knots.begin(), knots.end(), u));
    };
    while (count(v1) < p) insert(v1);
    while (count(v0) < p) insert(v0);
    const std::size_t a = static_cast<std::size_t>(std::find(knots.begin(), knots.end(), v0) - knots.begin());
    const std::size_t c = static_cast<std::size_t>(std::find(knots.begin(), knots.end(), v1) - knots.begin());
    const std::size_t first = a + count(v0) - 1 - p;  // the point the curve starts at
    std::vector<double> k(p + 1, v0);
    k.insert(k.end(), knots.begin() + static_cast<std::ptrdiff_t>(a + count(v0)),
             knots.begin() + static_cast<std::ptrdiff_t>(c));
    k.insert(k.end(), p + 1, v1);
    points = std::vector<std::array<double, 4>>(points.begin() + static_cast<std::ptrdiff_t>(first),
                                                points.begin() + static_cast<std::ptrdiff_t>(c));
    knots = std::move(k);
  }
};

}  // namespace tesmar::translate
