// UNL's message table (module 24), its start-up and shut-down, and the exported table pointers.
#include "mpm/message_table.h"
#include "unl/unl_internal.h"

namespace tesmar::unl {
namespace {
// The texts carry the blank marker so that they print whole.
constexpr MessageRow kRows[] = {
    {"INVALID_INDEX_ERR", kOrdinary, " The index %i or %i is too large or too small for the array.\n"},
    {"MALLOC_ERR", kMemory, " Error allocating memory.\n"},
    {"CONVERSION_ERR", kOrdinary, " Unable to convert source string to target encoding.\n"},
};
constinit const MessageTable kTable(24, "UNL", kRows);
}  // namespace

const mpm_ModuleDesc &module_desc() { return kTable.desc; }

}  // namespace tesmar::unl

extern "C" {

const uint16_t *unl_JIS0208Table = nullptr;
const uint16_t *unl_JIS0212Table = nullptr;
const uint32_t *unl_UnicodeTable = nullptr;

mpm_Status unl_Initialize(uint32_t) {
  mpm_RegisterModule(0, &tesmar::unl::module_desc());
  // The tables are constant data: starting again only points at them again.
  unl_JIS0208Table = tesmar::unl::kJis0208Table;
  unl_JIS0212Table = tesmar::unl::kJis0212Table;
  unl_UnicodeTable = tesmar::unl::kUnicodeTable;
  return 0;
}

mpm_Status unl_Terminate(uint32_t) {
  unl_JIS0208Table = nullptr;
  unl_JIS0212Table = nullptr;
  unl_UnicodeTable = nullptr;
  return 0;
}

}  // extern "C"
