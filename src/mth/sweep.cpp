// Sweep angles: the angular sectors around the origin that a point sequence or a loop covers.
//
// A run of points is walked in stretches of one orientation: between two points the polar angle
// turns counter-clockwise when the cross product x_k y_(k+1) - x_(k+1) y_k is positive and
// clockwise when it is negative, so inside a stretch the angle moves one way only. Where a stretch
// ends, the angle of its last point is brought next to the previous stretch end (within a turn,
// with 1e-5 of slack) and the whole turns made on the way are added; those are counted from the
// coordinate axes crossed, four to a turn. The range grows by each stretch end: the end for
// counter-clockwise stretches, the start for clockwise ones. The start is finally moved by whole
// turns into [-1e-5, 2 pi - 1e-5), the end with it.
//
// The orientation of the first stretch is that of the first step, so that a path turning back at
// its second point still covers the first step. The last point has no step of its own: it keeps
// the previous step's cross product and always ends the stretch.
#include <algorithm>

#include "mth/mth_internal.h"

namespace tesmar::mth {
namespace {

struct Range {
  double start, end;
};

// Moves a by whole turns while it lies more than `limit` below `target`, in one jump when far.
double raise_towards(double a, double target, double limit) {
  if (target - a > 64.0 * kTwoPi) a += std::floor((target - a) / kTwoPi - 2.0) * kTwoPi;
  while (a < target - limit) a += kTwoPi;
  return a;
}
double lower_towards(double a, double target, double limit) {
  if (a - target > 64.0 * kTwoPi) a -= std::floor((a - target) / kTwoPi - 2.0) * kTwoPi;
  while (a > target + limit) a -= kTwoPi;
  return a;
}

int sign_change(double a, double b) { return (a < 0.0 && b > 0.0) || (a > 0.0 && b < 0.0); }

}  // namespace

bool sweep_run(int32_t stride, int32_t count, const double *points, double *start_out,
               double *end_out) {
  const std::size_t s = static_cast<std::size_t>(stride);
  auto X = [&](int32_t k) { return points[k * s]; };
  auto Y = [&](int32_t k) { return points[k * s + 1]; };
  auto cross_at = [&](int32_t k) { return X(k) * Y(k + 1) - X(k + 1) * Y(k); };
  double a0 = 0.0, scratch;
  for (int32_t k = 0; k < count; ++k)
    if (!point_angle(X(k), Y(k), k == 0 ? &a0 : &scratch)) return false;
  double start = a0, end = a0, prev = a0;
  double c = count > 1 ? cross_at(0) : 0.0;
  int orientation = std::fabs(c) > kTol ? (c < 0.0 ? -1 : 1) : 0;
  int32_t counter = 0, last = 0;
  for (int32_t k = 1; k < count; ++k) {
    const bool final_point = k + 1 == count;
    if (!final_point) c = cross_at(k);
    const bool turning = std::fabs(c) > kTol;
    if (turning || final_point) {
      if (X(k) == 0.0 && X(last) != 0.0)
        ++counter;
      else if (Y(k) == 0.0 && Y(last) != 0.0)
        ++counter;
      counter += sign_change(X(last), X(k)) + sign_change(Y(last), Y(k));
      last = k;
    }
    const int sign = c < 0.0 ? -1 : 1;
    if (!final_point && (!turning || sign == orientation)) continue;
    if (orientation != 0) {
      double a;
      point_angle(X(k), Y(k), &a);
      if (orientation > 0) {
        a = raise_towards(a, prev, kSlack);
        a = lower_towards(a, prev, kTwoPi - kSlack);
        if (std::fabs(a - prev) <= kSlack && counter % 4 > 1) a += kTwoPi;
        if (counter % 4 == 0 && a - prev > kThreeHalvesPi) --counter;
        a += (counter / 4) * kTwoPi;
        end = std::fmax(end, a);
      } else {
        a = lower_towards(a, prev, kSlack);
        a = raise_towards(a, prev, kTwoPi - kSlack);
        if (std::fabs(a - prev) <= kSlack && counter % 4 > 1) a -= kTwoPi;
        if (counter % 4 == 0 && prev - a > kThreeHalvesPi) --counter;
        a -= (counter / 4) * kTwoPi;
        start = std::fmin(start, a);
      }
      counter = 0;
      prev = a;
    }
    if (turning) orientation = sign;
  }
  if (std::fabs(start) > 64.0 * kTwoPi) {
    // Far out after many turns: jump most of the way in one step.
    const double turns = std::floor((start + kSlack) / kTwoPi);
    start -= turns * kTwoPi;
    end -= turns * kTwoPi;
  }
  while (start < -kSlack) start += kTwoPi, end += kTwoPi;
  while (start >= kTwoPi - kSlack) start -= kTwoPi, end -= kTwoPi;
  *start_out = start;
  *end_out = end;
  return true;
}

Failure sweep_points(int32_t stride, int32_t count, const double *points, double tol,
                     Buffer<double> *out) {
  const std::size_t s = static_cast<std::size_t>(stride);
  auto gap = [&](int32_t k) { return std::hypot(points[k * s], points[k * s + 1]) <= tol; };
  const double origin[2] = {0.0, 0.0};
  auto emit = [&](int32_t first, int32_t last) -> Failure {
    double a, b;
    if (!sweep_run(stride, last - first + 1, points + first * s, &a, &b))
      return error(MTH_ORIGIN_POINT);
    if (!out->push(a) || !out->push(b)) return kNoMemory;
    return kOk;
  };
  int32_t k = 0;
  while (k < count && gap(k)) ++k;
  if (k == count) return kOk;
  int32_t first = k;
  for (++k; k < count; ++k) {
    if (gap(k)) {
      const Failure f = emit(first, k - 1);
      if (f) return f;
      while (k < count && gap(k)) ++k;
      if (k == count) return kOk;
      first = k;
      continue;
    }
    double t;
    const double d = point_line_distance(0, 2, origin, points + (k - 1) * s, points + k * s,
                                         nullptr, &t);
    if (d <= tol && t > 0.0 && t < 1.0) {
      const Failure f = emit(first, k - 1);
      if (f) return f;
      first = k;
    }
  }
  return emit(first, count - 1);
}

Failure merge_sweeps(uint32_t flags, std::size_t count, const double *ranges,
                     Buffer<double> *out) {
  Buffer<Range> r;
  if (!r.resize(count)) return kNoMemory;
  for (std::size_t i = 0; i < count; ++i) {
    r[i] = {ranges[2 * i], ranges[2 * i + 1]};
    if (!(r[i].start <= r[i].end)) return error(MTH_MINMAX);
  }
  std::stable_sort(r.data(), r.data() + count,
                   [](const Range &a, const Range &b) { return a.start < b.start; });
  const double e = (flags & MTH_MERGE_SLACK) ? kSlack : -kSlack;
  std::size_t m = 0;
  for (std::size_t i = 1; i < count; ++i) {
    if (r[i].start < r[m].end + e)
      r[m].end = std::fmax(r[m].end, r[i].end);
    else
      r[++m] = r[i];
  }
  std::size_t merged = m + 1;
  // Ranges that the last one reaches once it runs past a full turn are folded into it.
  if (merged > 1 && r[merged - 1].end > kTwoPi - kSlack) {
    Range last = r[merged - 1];
    std::size_t kept = 0;
    for (std::size_t i = 0; i + 1 < merged; ++i) {
      if (r[i].start + kTwoPi < last.end + e)
        last.end = std::fmax(last.end, r[i].end + kTwoPi);
      else
        r[kept++] = r[i];
    }
    r[kept++] = last;
    merged = kept;
  }
  if (!out->resize(2 * merged)) return kNoMemory;
  for (std::size_t i = 0; i < merged; ++i) {
    (*out)[2 * i] = r[i].start;
    (*out)[2 * i + 1] = r[i].end;
  }
  return kOk;
}

}  // namespace tesmar::mth

using namespace tesmar::mth;

namespace {

Failure cont_points(int32_t stride, int32_t count, const double *points, double tol,
                    int32_t *out_count, double **ranges) {
  if (count < 1 || stride < 2) return error(MTH_INVALID_RANGE);
  Buffer<double> out;
  const Failure f = sweep_points(stride, count, points, tol, &out);
  if (f) return f;
  *out_count = static_cast<int32_t>(out.size() / 2);
  *ranges = out.release();
  return kOk;
}

// Sweeps points first .. first + n - 1 followed by point `next`, packed into a copy: a loop's
// pieces are joined to the piece after them (the last to the first point), so that every edge of
// the loop, the closing one included, belongs to one sweep.
Failure sweep_joined(int32_t stride, const double *points, std::size_t first, int32_t n,
                     std::size_t next, double tol, Buffer<double> *out) {
  const std::size_t s = static_cast<std::size_t>(stride), m = static_cast<std::size_t>(n);
  Buffer<double> joined;
  if (!joined.resize(2 * (m + 1))) return kNoMemory;
  for (std::size_t k = 0; k <= m; ++k) {
    const std::size_t at = k < m ? first + k : next;
    joined[2 * k] = points[at * s];
    joined[2 * k + 1] = points[at * s + 1];
  }
  return sweep_points(2, n + 1, joined.data(), tol, out);
}

Failure loop_sweep(int32_t stride, int32_t piece_count, const int32_t *piece_counts,
                   int32_t count, const double *points, double tol, int32_t position,
                   int32_t *out_count, double **ranges) {
  Buffer<double> out;
  if (position == -1) {
    // The origin is inside: every piece sweeps its own part of the full turn.
    std::size_t offset = 0;
    bool one_each = true;
    for (int32_t i = 0; i < piece_count && one_each; ++i) {
      const std::size_t next = offset + static_cast<std::size_t>(piece_counts[i]);
      Buffer<double> piece;
      const Failure f = sweep_joined(stride, points, offset, piece_counts[i],
                                     next < static_cast<std::size_t>(count) ? next : 0, tol, &piece);
      if (f) return f;
      one_each = piece.size() == 2;
      if (one_each && (!out.push(piece[0]) || !out.push(piece[1]))) return kNoMemory;
      offset = next;
    }
    if (!one_each) out.resize(0);
  } else {
    Buffer<double> all;
    const Failure f = sweep_joined(stride, points, 0, count, 0, tol, &all);
    if (f) return f;
    if (all.size() == 2) {
      if (!out.push(all[0]) || !out.push(all[1])) return kNoMemory;
    } else if (all.size() == 4) {
      const Failure g = merge_sweeps(MTH_MERGE_SLACK, 2, all.data(), &out);
      if (g) return g;
    }
  }
  *out_count = static_cast<int32_t>(out.size() / 2);
  *ranges = out.release();
  return kOk;
}

Failure merge(uint32_t flags, int32_t range_count, const double *ranges, int32_t *out_count,
              double **merged) {
  if (range_count < 1) return error(MTH_INVALID_RANGE);
  Buffer<double> out;
  const Failure f = merge_sweeps(flags, static_cast<std::size_t>(range_count), ranges, &out);
  if (f) return f;
  *out_count = static_cast<int32_t>(out.size() / 2);
  *merged = out.release();
  return kOk;
}

}  // namespace

extern "C" {

mpm_Status mth_SweepAnglesContPoints(uint32_t, int32_t stride, int32_t count,
                                     const double *points, double tol, int32_t *out_count,
                                     double **ranges) {
  return report(cont_points(stride, count, points, tol, out_count, ranges));
}

mpm_Status mth__SweepAnglesContPoints(uint32_t, int32_t stride, int32_t count,
                                      const double *points, double, double *start, double *end) {
  if (count < 1 || stride < 2) return report(error(MTH_INVALID_RANGE));
  double a, b;
  if (!sweep_run(stride, count, points, &a, &b)) return report(error(MTH_ORIGIN_POINT));
  *start = a;
  *end = b;
  return 0;
}

mpm_Status mth_SweepAnglesLoop(uint32_t, int32_t stride, int32_t piece_count,
                               const int32_t *piece_counts, int32_t count, const double *points,
                               double tol, int32_t *out_count, double **ranges,
                               int32_t *origin_on_loop) {
  if (count < 1 || stride < 2 || piece_count < 1) return report(error(MTH_INVALID_RANGE));
  int64_t total = 0;
  for (int32_t i = 0; i < piece_count; ++i) {
    if (piece_counts[i] < 1) return report(error(MTH_INVALID_RANGE));
    total += piece_counts[i];
  }
  if (total != count) return report(error(MTH_INVALID_RANGE));
  const double origin[2] = {0.0, 0.0};
  int32_t position;
  if (!point_in_loop(stride, origin, count, points, tol, &position)) return report(kNoMemory);
  mpm_Status status =
      report(loop_sweep(stride, piece_count, piece_counts, count, points, tol, position,
                        out_count, ranges));
  if (status == 0) *origin_on_loop = position == 0 ? 1 : 0;
  return status;
}

mpm_Status mth_SweepAnglesMerge(uint32_t flags, int32_t range_count, const double *ranges,
                                int32_t *out_count, double **merged) {
  return report(merge(flags, range_count, ranges, out_count, merged));
}

}  // extern "C"
