// DAR's message table (module 8). The schema module carries the same id and starts after DAR, so
// DAR registers only into an empty registry entry: on the library's first start, and again after a
// full stop has cleared the registry, but never over the schema module's table.
#include "mpm/message_table.h"
#include "tesmar/dar.h"

namespace tesmar::dar {
namespace {
constexpr MessageRow kRows[] = {
    {"NOMEMORY", kMemory, " No more memory available\n"},
    {"BAD_TYPE", kOrdinary, " Bad array type."},
};
constinit const MessageTable kTable(8, "DAR", kRows);
}  // namespace
}  // namespace tesmar::dar

extern "C" mpm_Status dar_Initialize(uint32_t) {
  const mpm_ModuleDesc *entry = mpm_GetModuleDesc(8);
  if (entry != nullptr && entry->count == 0) mpm_RegisterModule(0, &tesmar::dar::kTable.desc);
  return 0;
}
