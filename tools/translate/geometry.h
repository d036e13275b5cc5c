// Placement of IGES geometry: transformation matrices (IGES 124) and the object coordinate system
// of DXF entities (the arbitrary axis algorithm), through the library's geometry module.
#pragma once

#include <cmath>

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

}  // namespace tesmar::translate
