// Private declarations of the geometry module.
//
// Error paths. A client handler called while a message is issued may leave the operation by
// longjmp, so no frame that issues a message may hold an object with a destructor. The work of an
// operation is therefore done by an inner function that may own buffers and returns a Failure
// (src/mpm/failure.h: code and severity, nothing issued); the exported function calls it, and only
// after the inner frame is gone issues the failure (report()). Quiet codes carry severity 0.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "mpm/failure.h"
#include "tesmar/mpm.h"
#include "tesmar/mth.h"

namespace tesmar::mth {

const mpm_ModuleDesc &module_desc();

inline constexpr double kTol = MTH_TOLERANCE;
inline constexpr double kPi = MTH_PI;
inline constexpr double kTwoPi = MTH_TWO_PI;
inline constexpr double kHalfPi = 1.5707963267948966;
inline constexpr double kThreeHalvesPi = MTH_THREE_HALVES_PI;
inline constexpr double kSlack = MTH_SWEEP_SLACK;

// What an inner function hands back (src/mpm/failure.h); MTH's texts take no arguments.
using tesmar::Failure;
using tesmar::kOk;
inline constexpr Failure quiet(mpm_Status code) { return Failure::quiet(code); }
inline constexpr Failure error(mpm_Status code) { return Failure::error(code); }
inline constexpr Failure fatal(mpm_Status code) { return Failure::fatal(code); }
inline constexpr Failure kNoMemory = Failure::fatal(MTH_NOMEMORY);
inline mpm_Status report(const Failure &f) { return f.issue(); }

// A malloc'ed array that is freed unless released to the caller. Growth never throws.
template <typename T>
class Buffer {
 public:
  Buffer() = default;
  Buffer(const Buffer &) = delete;
  Buffer &operator=(const Buffer &) = delete;
  ~Buffer() { std::free(data_); }

  // Room for `n` elements (contents kept); false when the size overflows or memory fails.
  bool reserve(std::size_t n) {
    if (n <= capacity_) return true;
    if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) return false;
    void *p = std::realloc(data_, n * sizeof(T));
    if (p == nullptr) return false;
    data_ = static_cast<T *>(p);
    capacity_ = n;
    return true;
  }
  bool resize(std::size_t n) {
    if (!reserve(n)) return false;
    size_ = n;
    return true;
  }
  // Appends, growing by `step` elements when fewer than `spare` remain free (0: doubling).
  bool push(const T &value, std::size_t step = 0, std::size_t spare = 1) {
    if (capacity_ - size_ < spare) {
      std::size_t want = step != 0 ? capacity_ + step : (capacity_ != 0 ? capacity_ * 2 : 8);
      if (want < size_ + spare) want = size_ + spare;
      if (!reserve(want)) return false;
    }
    data_[size_++] = value;
    return true;
  }
  void pop() { --size_; }
  T *data() { return data_; }
  const T *data() const { return data_; }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  T &operator[](std::size_t i) { return data_[i]; }
  const T &operator[](std::size_t i) const { return data_[i]; }
  // Hands the array to the caller (null when empty; the storage is then freed here).
  T *release() {
    T *p = nullptr;
    if (size_ != 0) {
      p = data_;
      data_ = nullptr;
    }
    std::free(data_);
    data_ = nullptr;
    size_ = capacity_ = 0;
    return p;
  }

 private:
  T *data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// rows * columns (* extra) in size_t; false on overflow.
inline bool checked_size(std::size_t a, std::size_t b, std::size_t *out) {
  if (a != 0 && b > std::numeric_limits<std::size_t>::max() / a) return false;
  *out = a * b;
  return true;
}

// ---- Small vector helpers (fixed dimensions, no aliasing concerns: results are returned) ----

struct V3 {
  double x, y, z;
};
inline V3 load3(const double *p) { return {p[0], p[1], p[2]}; }
inline void store3(const V3 &v, double *p) {
  p[0] = v.x;
  p[1] = v.y;
  p[2] = v.z;
}
inline V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline V3 operator*(V3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline double dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline V3 cross(V3 a, V3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Length of n components; scaled when the plain sum of squares overflows or underflows.
double length(int32_t n, const double *v);
inline double length(V3 v) {
  double a[3] = {v.x, v.y, v.z};
  return length(3, a);
}

// The normalisation rule of mth_NormalizeVector: false (out = v) when the length is not above the
// tolerance or not finite.
bool normalize(int32_t n, const double *v, double *out);
inline bool normalize(V3 v, V3 *out) {
  double a[3] = {v.x, v.y, v.z}, r[3];
  bool ok = normalize(3, a, r);
  *out = {r[0], r[1], r[2]};
  return ok;
}

// Angle of a 2D point in [0, 2 pi); false for the origin (or NaN).
bool point_angle(double x, double y, double *angle);

// Sine and cosine snapped; `inclusive` tests "not above" instead of "below".
void sin_cos_snapped(double angle, bool inclusive, double *s, double *c);

// Gauss-Jordan inverse of the n x n matrix `work` (destroyed) into `inverse` (the caller's
// storage, n * n). False when no pivot exceeds the tolerance.
bool invert(std::size_t n, double *work, double *inverse);

// Distance from point to the line through a and b (n dimensions), with the parameter along it in
// units of |b - a| (mode 2: b is a direction). Degenerate lines give the distance to a.
double point_line_distance(int32_t mode, int32_t n, const double *point, const double *a,
                           const double *b, double *foot, double *parameter);

// Closest approach of two 3D lines (mth_LineLineClosest3D without its output rules).
struct Closest {
  mpm_Status status;
  double t1, t2;
  V3 point;
};
Closest closest_3d(uint32_t flags, double tol, V3 p1, V3 d1, V3 p2, V3 d2);

// Intersection of two 2D lines; false when they are parallel.
bool intersect_2d(double tol, const double *p1, const double *d1, const double *p2,
                  const double *d2, double *t1, double *t2);

// ---- Loops ----

// One entry of the crossing list of a horizontal line and loops.
struct Crossing {
  int32_t tag;
  double x;
};

// Appends the crossings of the line (coordinate `axis` == value; the other coordinate is
// recorded) with one loop, tagged; false when memory fails.
bool line_loop_crossings(int axis, double value, int32_t stride, int32_t count,
                         const double *points, int32_t tag, Buffer<Crossing> *list);

// Algorithm behind mth_LoopInnerOuter; false when memory fails.
bool loop_inner_outer(int32_t stride, int32_t count1, const double *loop1, int32_t count2,
                      const double *loop2, int32_t *relation);

// Point-in-loop position (0 on, -1 inside, 1 outside); false when memory fails.
bool point_in_loop(int32_t stride, const double *point, int32_t count, const double *loop,
                   double tol, int32_t *position);

// Sweep range of one run of points; quiet false when a point is at the origin.
bool sweep_run(int32_t stride, int32_t count, const double *points, double *start, double *end);

// Sweep ranges of a point sequence into `out` (pairs); Failure on memory or origin points.
Failure sweep_points(int32_t stride, int32_t count, const double *points, double tol,
                     Buffer<double> *out);

// Merge of sweep ranges (pairs) into `out`.
Failure merge_sweeps(uint32_t flags, std::size_t count, const double *ranges,
                     Buffer<double> *out);

// Sorts doubles ascending, NaN last, without relying on a strict weak order of raw doubles.
void sort_values(double *values, std::size_t count);

}  // namespace tesmar::mth
