// `tesmar loop`: area, containment and the angular sweep of a closed 2D point list.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "command.h"
#include "tesmar/tesmar.h"

namespace tesmar::cli {
namespace {

// Reads "X,Y" with both numbers finite; false otherwise.
bool parse_point(const char *text, double *x, double *y) {
  char *end = nullptr;
  errno = 0;
  *x = std::strtod(text, &end);
  if (end == text || *end != ',' || errno != 0 || !std::isfinite(*x)) return false;
  const char *rest = end + 1;
  *y = std::strtod(rest, &end);
  return end != rest && *end == '\0' && errno == 0 && std::isfinite(*y);
}

const char *place(int32_t position) {
  return position == 0 ? "on the loop" : (position < 0 ? "inside" : "outside");
}

int run(int argc, char **argv) {
  std::vector<double> loop, point;
  for (int i = 1; i < argc; ++i) {
    double x, y;
    const bool is_point = std::strcmp(argv[i], "--point") == 0;
    const char *text = is_point ? (i + 1 < argc ? argv[++i] : "") : argv[i];
    if (!parse_point(text, &x, &y)) return usage_error("loop", "expects points as X,Y");
    (is_point ? point : loop).insert((is_point ? point : loop).end(), {x, y});
  }
  if (loop.size() < 6) return usage_error("loop", "needs at least three points");
  if (loop.size() / 2 > 1000000) return usage_error("loop", "at most 1000000 points");
  const int32_t n = static_cast<int32_t>(loop.size() / 2);
  const double area = mth_PolygonArea(n, 2, loop.data());
  std::printf("points: %d\narea: %.10g (%s)\n", static_cast<int>(n), std::fabs(area),
              area >= 0 ? "counter-clockwise" : "clockwise");
  const int32_t pieces[1] = {n};
  int32_t count = 0, on = 0;
  double *ranges = nullptr;
  if (mth_SweepAnglesLoop(0, 2, 1, pieces, n, loop.data(), 1e-9, &count, &ranges, &on) != 0) {
    mpm_FlushPending(0);
    return 1;
  }
  const double origin[2] = {0, 0};
  int32_t position = 1;
  mth_PointInLoop(0, 2, origin, n, loop.data(), 1e-9, &position);
  std::printf("origin: %s\n", place(position));
  for (int32_t i = 0; i < count; ++i)
    std::printf("sweep: %.6f to %.6f rad (%.4f to %.4f degrees)\n", ranges[2 * i], ranges[2 * i + 1],
                ranges[2 * i] * 180 / MTH_PI, ranges[2 * i + 1] * 180 / MTH_PI);
  std::free(ranges);
  for (size_t k = 0; k < point.size(); k += 2) {
    mth_PointInLoop(0, 2, &point[k], n, loop.data(), 1e-9, &position);
    std::printf("point %g,%g: %s\n", point[k], point[k + 1], place(position));
  }
  return 0;
}

const Registrar registrar{{"loop", "area, containment and sweep angles of a closed 2D loop",
                           "usage: tesmar loop [--point X,Y]... X,Y X,Y X,Y...\n\n"
                           "Reads a closed loop of at least three points and prints its area and\n"
                           "orientation, whether the origin is inside, the angular range(s) the loop\n"
                           "sweeps around the origin, and where each --point lies:\n\n"
                           "  $ tesmar loop --point 2,2 1,1 3,1 3,3 1,3\n"
                           "  points: 4\n"
                           "  area: 4 (counter-clockwise)\n"
                           "  origin: outside\n"
                           "  sweep: 0.321751 to 1.249046 rad (18.4349 to 71.5651 degrees)\n"
                           "  point 2,2: inside\n",
                           run}};

}  // namespace
}  // namespace tesmar::cli
