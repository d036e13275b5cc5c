// HDB's message table (module 16): a placeholder row (the heap debugger reports on its own
// stream); and its start-up, which resets the counters and settings.
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

extern "C" mpm_Status hdb_Initialize(uint32_t) {
  mpm_RegisterModule(0, &tesmar::hdb::module_desc());
  hdb_head = hdb_tail = nullptr;
  hdb_request = hdb_breakpoint = 0;
  hdb_mallocs = hdb_callocs = hdb_reallocs = hdb_frees = hdb_strdups = 0;
  hdb_total_bytes = hdb_total_blocks = 0;
  hdb_max_bytes = hdb_max_blocks = hdb_max_block_count = 0;
  hdb_options = 0;
  hdb_valid_file = nullptr;
  hdb_valid_line = 0;
  hdb_valid_request = 0;
  hdb_default_owner = "Unknown";
  if (hdb_report_stream == nullptr) hdb_report_stream = stderr;
  if (hdb_second_stream == nullptr) hdb_second_stream = stdout;
  return 0;
}
