// Segments against loops: the parameters where a segment crosses closed loops, and the relation of
// two loops found by casting rays from the points of one through the other.
//
// An edge crosses the segment's line when its two ends lie on different sides of it, a point on
// the line counting with the negative side (the half-open rule). Each vertex is classified once,
// by the same computation for both edges that meet there, so a loop that passes through the line
// at a vertex gives one entry, one that only touches it gives none or two, and a run of edges
// along the line counts as the vertices before and after it decide. The parity of the entries
// beyond a point is therefore exact, also through vertices and along collinear edges.
#include <algorithm>

#include "mth/mth_internal.h"

namespace tesmar::mth {
namespace {

struct P2 {
  double x, y;
};

Failure loops_params(const double *line, int32_t loop_count, const int32_t *counts,
                     const double *points, Buffer<double> *out) {
  if (loop_count < 1) return error(MTH_INVALID_RANGE);
  for (int32_t l = 0; l < loop_count; ++l)
    if (counts[l] < 1) return error(MTH_INVALID_RANGE);
  const P2 o{line[0], line[1]}, dir{line[2] - line[0], line[3] - line[1]};
  std::size_t initial;
  if (!checked_size(static_cast<std::size_t>(loop_count), 2, &initial) || !out->reserve(initial))
    return kNoMemory;
  // Side of a point: strictly left of the segment's direction.
  auto left = [&](P2 p) { return dir.x * (p.y - o.y) - dir.y * (p.x - o.x) > 0.0; };
  std::size_t base = 0;
  for (int32_t l = 0; l < loop_count; ++l) {
    const double *loop = points + 2 * base;
    const int32_t n = counts[l];
    auto pt = [loop](int32_t k) {
      return P2{loop[2 * static_cast<std::size_t>(k)], loop[2 * static_cast<std::size_t>(k) + 1]};
    };
    for (int32_t k = 0; k + 1 < n; ++k) {
      const P2 a = pt(k), b = pt(k + 1), e{b.x - a.x, b.y - a.y};
      if (left(a) == left(b)) continue;
      const double det = e.x * dir.y - e.y * dir.x;
      if (det == 0.0) continue;
      const P2 w{a.x - o.x, a.y - o.y};
      const double s = (e.x * w.y - e.y * w.x) / det;
      if (!(s >= 0.0 && s <= 1.0)) continue;
      if (!out->push(s)) return kNoMemory;
    }
    base += static_cast<std::size_t>(n);
  }
  return kOk;
}

// The relation of loop 1 to loop 2, or -2 after a failure (returned in *failure).
int32_t relation(int32_t count1, const double *p1, int32_t count2, const double *p2, double tol,
                 Failure *failure) {
  double lo1[2], hi1[2], lo2[2], hi2[2];
  mth_BoundingBox(0, 2, count1, p1, lo1, hi1);
  mth_BoundingBox(0, 2, count2, p2, lo2, hi2);
  for (int i = 0; i < 2; ++i)
    if (lo1[i] - hi2[i] > tol || lo2[i] - hi1[i] > tol) return -1;
  const double top = std::fmax(hi1[1], hi2[1]) + 1.0;
  int32_t state = 0;
  for (int32_t k = 0; k < count1; ++k) {
    const double x = p1[2 * static_cast<std::size_t>(k)], y = p1[2 * static_cast<std::size_t>(k) + 1];
    const double ray[4] = {x, y, x, top};
    const double len = top - y;
    Buffer<double> params;
    *failure = loops_params(ray, 1, &count2, p2, &params);
    if (*failure) return -2;
    sort_values(params.data(), params.size());
    const std::size_t n = params.size();
    if (n != 0 && (!(params[0] * len > tol) || !((1.0 - params[n - 1]) * len > tol))) return 0;
    // A point on an edge that runs along the ray has no crossing there to show it.
    for (int32_t e = 0; e + 1 < count2; ++e) {
      double t;
      const double *a = p2 + 2 * static_cast<std::size_t>(e);
      const double at[2] = {x, y};
      if (point_line_distance(0, 2, at, a, a + 2, nullptr, &t) <= tol && t >= 0.0 && t <= 1.0)
        return 0;
    }
    const int32_t crossings = static_cast<int32_t>(n);
    const int32_t here = crossings % 2 == 1 ? 1 : -1;
    if (state == 0)
      state = here;
    else if (here != state)
      return 0;
  }
  return state;
}

}  // namespace
}  // namespace tesmar::mth

using namespace tesmar::mth;

namespace {

Failure params_of(const double *line, int32_t loop_count, const int32_t *counts,
                  const double *points, int32_t *out_count, double **params) {
  Buffer<double> out;
  const Failure f = loops_params(line, loop_count, counts, points, &out);
  if (f) return f;
  *out_count = static_cast<int32_t>(out.size());
  *params = out.release();
  return kOk;
}

}  // namespace

extern "C" {

mpm_Status mth_LineLoopsIntersectParams(const double *line, int32_t loop_count,
                                        const int32_t *counts, const double *points,
                                        int32_t *out_count, double **params) {
  return report(params_of(line, loop_count, counts, points, out_count, params));
}

int32_t mth_LoopLoopRelation(uint32_t, int32_t count1, const double *points1, int32_t count2,
                             const double *points2, double tol) {
  if (count1 < 1 || count2 < 1) {
    report(error(MTH_INVALID_RANGE));
    return -2;
  }
  Failure failure = kOk;
  const int32_t r = relation(count1, points1, count2, points2, tol, &failure);
  if (failure) report(failure);
  return r;
}

}  // extern "C"
