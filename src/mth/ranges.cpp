// Coordinate ranges and the small sorting routines.
#include <algorithm>

#include "mth/mth_internal.h"

namespace tesmar::mth {
namespace {

Failure active_ranges(int32_t range_count, const double *ranges, int32_t coordinate,
                      int32_t *out_count, double **merged) {
  if (range_count < 1) return fatal(MTH_INVALID_RANGE);
  if (coordinate < 0 || coordinate > 2) return error(MTH_INVALID_OPT);
  const std::size_t n = static_cast<std::size_t>(range_count), c = static_cast<std::size_t>(coordinate);
  struct Range {
    double start, end;
  };
  Buffer<Range> r;
  if (!r.resize(n)) return kNoMemory;
  for (std::size_t i = 0; i < n; ++i) {
    const double start = ranges[6 * i + c], end = ranges[6 * i + 3 + c];
    if (!(start <= end)) return error(MTH_MINMAX);
    r[i] = {start, end};
  }
  std::stable_sort(r.data(), r.data() + n,
                   [](const Range &a, const Range &b) { return a.start < b.start; });
  std::size_t last = 0;
  for (std::size_t i = 1; i < n; ++i) {
    if (r[i].start >= r[last].end)
      r[++last] = r[i];
    else if (r[i].end > r[last].end)
      r[last].end = r[i].end;
  }
  Buffer<double> pairs;
  if (!pairs.resize(2 * (last + 1))) return kNoMemory;
  for (std::size_t i = 0; i <= last; ++i) {
    pairs[2 * i] = r[i].start;
    pairs[2 * i + 1] = r[i].end;
  }
  *out_count = static_cast<int32_t>(last + 1);
  *merged = pairs.release();
  return kOk;
}

}  // namespace
}  // namespace tesmar::mth

using namespace tesmar::mth;

namespace {

// Selection sort, ascending for order 1 and descending otherwise (stable enough for the few values
// the callers sort, and no allocation).
template <typename T>
void selection_sort(int32_t order, int32_t count, T *values) {
  for (int32_t i = 0; i + 1 < count; ++i) {
    int32_t pick = i;
    for (int32_t j = i + 1; j < count; ++j)
      if (order == 1 ? values[j] < values[pick] : values[j] > values[pick]) pick = j;
    std::swap(values[i], values[pick]);
  }
}

}  // namespace

extern "C" {

mpm_Status mth_FindActiveRanges(uint32_t, int32_t range_count, const double *ranges,
                                int32_t coordinate, int32_t *out_count, double **merged) {
  return report(active_ranges(range_count, ranges, coordinate, out_count, merged));
}

mpm_Status mth_SortDoubleArrayByBubble(int32_t order, int32_t count, int32_t record_length,
                                       double *records, int32_t key_index, int32_t *companions) {
  if (order != 1 && order != 2) return report(error(MTH_INVALID_OPT));
  if (count < 0 || record_length < 1 || key_index < 0 || key_index >= record_length)
    return report(error(MTH_INVALID_RANGE));
  const std::size_t n = static_cast<std::size_t>(count), len = static_cast<std::size_t>(record_length),
                    key = static_cast<std::size_t>(key_index);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j) {
      const double ki = records[i * len + key], kj = records[j * len + key];
      if (order == 1 ? kj < ki : kj > ki) {
        std::swap_ranges(records + i * len, records + (i + 1) * len, records + j * len);
        if (companions != nullptr) std::swap(companions[i], companions[j]);
      }
    }
  return 0;
}

mpm_Status mth_SortDoubles(int32_t order, int32_t count, double *values) {
  selection_sort(order, count, values);
  return 0;
}

int32_t mth_SortInts(int32_t order, int32_t count, int32_t *values) {
  selection_sort(order, count, values);
  return count;
}

}  // extern "C"
