// MPM's message table (module 1). Rows 0 to 4 are the severities; their texts are the headers.
#include "mpm/message_table.h"

namespace tesmar::mpm {
namespace {
constexpr MessageRow kRows[] = {
    {"INFO", kOrdinary, " *** Information (%s) "},
    {"STATUS", kOrdinary, " *** Status (%s) "},
    {"WARNING", kOrdinary, " *** Warning (%s) "},
    {"ERROR", kOrdinary, " *** Error (%s) "},
    {"FATAL", kOrdinary, " *** Fatal (%s) "},
    {"_STARS", kOrdinary, " ***\n"},
    {"_DEBUG", kOrdinary, " @%s(%d) "},
    {"_INVALIDMESSAGE", kOrdinary, " ..... INVALID MESSAGE .....\n"},
    {"_UNKNOWN", kOrdinary, " UNKNOWN"},
    {"OPENERROR", kOrdinary, " Error opening file %s for write.\n"},
    {"CLOSEERROR", kOrdinary, " Error closing file.\n"},
    {"DOFERROR", kOrdinary, " DOF error %d\n"},
    {"_NOERR", kOrdinary, " NOERR"},
    {"USER_DEFINED", kOrdinary, " "},
};
}  // namespace
constinit const MessageTable kTable(1, "MPM", kRows);
}  // namespace tesmar::mpm

namespace tesmar::mpm {
const mpm_ModuleDesc &module_desc() { return kTable.desc; }
}  // namespace tesmar::mpm
