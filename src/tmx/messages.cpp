// TMX's message table (module 0): the exception keys and the general file messages.
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

}  // namespace tesmar::tmx
