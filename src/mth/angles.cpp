// Angles: the angle of a point, snapped sine and cosine, normalised arcs, reduction into a period.
#include "mth/mth_internal.h"

namespace tesmar::mth {
namespace {

// The largest double below 2 pi: where rounding would give 2 pi itself, [0, 2 pi) is kept.
const double kBelowTwoPi = std::nextafter(kTwoPi, 0.0);

double below_two_pi(double a) { return a >= kTwoPi ? kBelowTwoPi : a; }

// Brings a finite angle within a few turns of zero with an exact fmod, so that the loops of
// mth_NormalizeAngles that follow run a bounded number of times whatever the input.
double near_zero(double a) { return std::fabs(a) >= 4.0 * kTwoPi ? std::fmod(a, kTwoPi) : a; }

}  // namespace

bool point_angle(double x, double y, double *angle) {
  double a;
  if (std::isnan(x) || std::isnan(y)) return false;
  if (std::fabs(x) > kTol) {
    a = std::atan(y / x);
    if (x <= 0.0)
      a += kPi;
    else if (y < 0.0)
      a += kTwoPi;
    a = below_two_pi(a);
  } else if (std::fabs(y) > kTol) {
    a = y > 0.0 ? kHalfPi : kThreeHalvesPi;
  } else {
    return false;
  }
  if (std::isnan(a)) return false;
  *angle = a;
  return true;
}

void sin_cos_snapped(double angle, bool inclusive, double *s, double *c) {
  double sine = std::sin(angle), cosine = std::cos(angle);
  auto small = [inclusive](double v) { return inclusive ? std::fabs(v) <= kTol : std::fabs(v) < kTol; };
  if (small(sine)) {
    sine = 0.0;
    cosine = cosine < 0.0 ? -1.0 : 1.0;
  } else if (small(cosine)) {
    cosine = 0.0;
    sine = sine < 0.0 ? -1.0 : 1.0;
  }
  *s = sine;
  *c = cosine;
}

}  // namespace tesmar::mth

using namespace tesmar::mth;

extern "C" {

mpm_Status mth_GetAngle2DPoint(uint32_t, const double *point, double *angle, int32_t *state) {
  *state = point_angle(point[0], point[1], angle) ? 1 : 2;
  return 0;
}

double mth_Angle2D(double y, double x) {
  double a = std::atan2(y, x);
  if (a < 0.0) a += kTwoPi;
  return below_two_pi(a);
}

mpm_Status mth_SinCosSnapped(double angle, double *sine, double *cosine) {
  sin_cos_snapped(angle, false, sine, cosine);
  return 0;
}

mpm_Status mth_NormalizeAngles(uint32_t, double *start, double *end, double tol) {
  double s = *start, e = *end;
  if (!std::isfinite(s) || !std::isfinite(e) || !(tol >= 0.0 && tol < kPi))
    return report(error(MTH_INVALID_RANGE));
  s = near_zero(s);
  e = near_zero(e);
  while (s < -tol) s += kTwoPi;
  while (s >= kTwoPi + tol) s -= kTwoPi;
  while (e <= s - tol) e += kTwoPi;
  while (e > s + kTwoPi + tol) e -= kTwoPi;
  // A closed circle is a full turn, never an empty arc.
  if (std::fabs(e - s) < tol) e += kTwoPi;
  *start = s;
  *end = e;
  return 0;
}

mpm_Status mth_ReduceToPeriod(uint32_t flags, double start, double period, double *value) {
  double v = *value;
  if (!(period >= 2.220446049250313e-16) || !std::isfinite(period) || !std::isfinite(start) ||
      !std::isfinite(v))
    return report(error(MTH_INVALID_RANGE));
  if ((flags & 1u) && v > start && v <= start + period) return 0;
  if ((flags & 2u) && v >= start && v < start + period) return 0;
  v = std::fmod(v - start, period) + start;
  if (v < start) v += period;
  if ((flags & 1u) && v == start) v = start + period;
  *value = v;
  return 0;
}

}  // extern "C"
