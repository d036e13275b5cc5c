// HDB's message table (module 16): a placeholder row. The heap debugger reports on its own stream.
#include "hdb/hdb_internal.h"
#include "mpm/message_table.h"

namespace tesmar::hdb {
namespace {
constexpr MessageRow kRows[] = {
    {"_DUMMY", kOrdinary, " "},
};
constinit const MessageTable kTable(16, "HDB", kRows);
}  // namespace

const mpm_ModuleDesc &module_desc() { return kTable.desc; }

}  // namespace tesmar::hdb
