// MTH's message table (module 11).
#include "mpm/message_table.h"
#include "mth/mth_internal.h"

namespace tesmar::mth {
namespace {
constexpr MessageRow kRows[] = {
    {"COLINEARPLANEPNTS", kOrdinary,
     " All the plane points are collinear - plane matrix can not be defined\n"},
    {"NOMEMORY", kMemory, " No more memory available\n"},
    {"SAMEPOINT", kOrdinary, " Point to add to list is the same as a point already in the list\n"},
    {"PARALLELLINES", kOrdinary, " Intersection lines are parallel\n"},
    {"SINGULAREQS", kOrdinary, " A singular system of equations occurred.\n"},
    {"INVALID_RANGE", kOrdinary, " The given range is either negative or zero\n"},
    {"INVALID_OPT", kOrdinary, " The option is not valid\n"},
    {"MINMAX", kOrdinary, " The minimum value is not smaller than the maximum value\n"},
    {"SINGULAR_MATRIX", kOrdinary, " The singular matrix found.\n"},
    {"ORIGIN_POINT", kOrdinary, " The point is at the origin or on an axis.\n"},
    {"SELFINTERSECT_LOOP", kOrdinary, " A self-intersecting loop found.\n"},
    {"ORIGIN_CROSSING", kOrdinary, " A curve crossing the origin.\n"},
    {"DEGENERATE_LINE", kOrdinary, "+The line (%<PTRPFID>) is degenerate.\n"},
};
constinit const MessageTable kTable(11, "MTH", kRows);
}  // namespace

const mpm_ModuleDesc &module_desc() { return kTable.desc; }

}  // namespace tesmar::mth

extern "C" mpm_Status mth_Initialize(uint32_t) {
  mpm_RegisterModule(0, &tesmar::mth::module_desc());
  return 0;
}
