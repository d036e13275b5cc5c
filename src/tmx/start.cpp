// TMX's message table (module 0): the exception keys and the general file messages; and what the
// kernel does first at every start from a full stop.
#include "mpm/message_table.h"
#include "tmx/tmx_internal.h"

namespace tesmar::tmx {
namespace {
constexpr MessageRow kRows[] = {
    {"EXC_NONE", kOrdinary, " no exception"},
    {"EXC_MEMORY", kOrdinary, " Memory error"},
    {"EXC_FILEIO", kOrdinary, " File I/O error"},
    {"EXC_MAXERROR", kOrdinary, " max error reached"},
    {"BAD_MSG_NAME", kOrdinary, " Invalid message name %s.\n"},
    {"CLEANUP_ERR", kOrdinary, " Cleanup error (%lx) in %s at line %d.\n"},
    {"READ_ERROR", kOrdinary, " Error reading from the file '%s'.\n"},
    {"BAD_FILENAME", kOrdinary, " Invalid or null filename specified.\n"},
    {"NOT_FOUND", kOrdinary, " File '%s' does not exist.\n"},
    {"OPEN_ERROR", kOrdinary, " Error opening the file '%s'.\n"},
    {"CLOSE_ERROR", kOrdinary, " Error closing the file '%s'.\n"},
    {"BAD_EOL_DELIM", kOrdinary,
     " The file contains end-of-line delimiters consisting of 3 or more characters.\n"},
    {"UNKNOWN_FILETYPE", kOrdinary, " File type could not be determined for the file '%s'.\n"},
};
constinit const MessageTable kTable(0, "TMX", kRows);
}  // namespace

const mpm_ModuleDesc &module_desc() { return kTable.desc; }

namespace {
StartTimes g_start;
}  // namespace

void start() {
  g_start.clock = std::clock();
  g_start.time = std::time(nullptr);
  mpm_ClearRegistry(0);
  clear_streams();
  mpm_RegisterModule(0, &module_desc());
}

const StartTimes &start_times() { return g_start; }

double processor_seconds_since_start() {
  return static_cast<double>(std::clock() - g_start.clock) / static_cast<double>(CLOCKS_PER_SEC);
}

double elapsed_seconds_since_start() { return std::difftime(std::time(nullptr), g_start.time); }

}  // namespace tesmar::tmx
