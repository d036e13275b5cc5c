// `tesmar loop`: area, containment and the angular sweep of a closed 2D point list.
#include <algorithm>
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

// Coordinates far from 1 are scaled by a power of two (exact: containment and angles do not
// change) so that the products of the area and the containment tests neither overflow nor vanish;
// the area is scaled back.
int scale_exponent(const std::vector<double> &values) {
  double largest = 0;
  for (const double v : values) largest = std::max(largest, std::fabs(v));
  if (largest == 0 || (largest < 0x1p400 && largest > 0x1p-400)) return 0;
  int exponent = 0;
  std::frexp(largest, &exponent);
  return -exponent;
}

int run(int argc, char **argv) {
  const ugn_Option options[] = {
      {"-point", "s", "X,Y", nullptr, "a point to place inside, outside or on the loop (repeatable)"},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  Args args;
  if (const int parsed = parse_args(options, "X,Y X,Y X,Y...", argc, argv, &args); parsed != 0) return parsed;
  std::vector<double> loop, point;
  for (const auto &[name, value] : args.listed) {
    double x, y;
    if (!parse_point(value, &x, &y)) return usage_error("expects points as X,Y (finite numbers)");
    point.insert(point.end(), {x, y});
  }
  for (const char *text : args.operands) {
    double x, y;
    if (!parse_point(text, &x, &y)) return usage_error("expects points as X,Y (finite numbers)");
    loop.insert(loop.end(), {x, y});
  }
  if (loop.size() < 6) return usage_error("needs at least three points");
  if (loop.size() / 2 > 1000000) return usage_error("at most 1000000 points");
  const int exponent = scale_exponent(loop);
  for (double &v : loop) v = std::ldexp(v, exponent);
  const double tolerance = std::ldexp(1e-9, exponent);
  const int32_t n = static_cast<int32_t>(loop.size() / 2);
  const double scaled_area = mth_PolygonArea(n, 2, loop.data());
  const double area = std::ldexp(std::fabs(scaled_area), -2 * exponent);
  int status = 0;
  std::printf("points: %d\n", static_cast<int>(n));
  if (std::isfinite(area)) {
    std::printf("area: %.10g (%s)\n", area, scaled_area >= 0 ? "counter-clockwise" : "clockwise");
  } else {
    std::printf("area: beyond the range of doubles (%s)\n",
                scaled_area >= 0 ? "counter-clockwise" : "clockwise");
    diag("the loop's area is beyond the range of doubles");
    status = 1;
  }
  const int32_t pieces[1] = {n};
  int32_t count = 0, on = 0;
  double *ranges = nullptr;
  if (mth_SweepAnglesLoop(0, 2, 1, pieces, n, loop.data(), tolerance, &count, &ranges, &on) != 0) {
    show_pending();
    return 1;
  }
  const double origin[2] = {0, 0};
  int32_t position = 1;
  mth_PointInLoop(0, 2, origin, n, loop.data(), tolerance, &position);
  std::printf("origin: %s\n", place(position));
  for (int32_t i = 0; i < count; ++i)
    std::printf("sweep: %.6f to %.6f rad (%.4f to %.4f degrees)\n", ranges[2 * i], ranges[2 * i + 1],
                ranges[2 * i] * 180 / MTH_PI, ranges[2 * i + 1] * 180 / MTH_PI);
  std::free(ranges);
  for (size_t k = 0; k < point.size(); k += 2) {
    const double scaled[2] = {std::ldexp(point[k], exponent), std::ldexp(point[k + 1], exponent)};
    mth_PointInLoop(0, 2, scaled, n, loop.data(), tolerance, &position);
    std::printf("point %g,%g: %s\n", point[k], point[k + 1], place(position));
  }
  return status;
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
                           "  point 2,2: inside\n\n"
                           "Coordinates may be negative (-1,2). Exit status 1 when the area is\n"
                           "beyond the range of doubles, 2 for a usage error.\n",
                           run}};

}  // namespace
}  // namespace tesmar::cli
