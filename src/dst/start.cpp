// DST's message table (module 7) and its start-up.
#include "mpm/message_table.h"
#include "tesmar/dst.h"

namespace {
constexpr tesmar::MessageRow kRows[] = {
    {"NOMEMORY", tesmar::kMemory, " No more memory available\n"},
};
constinit const tesmar::MessageTable kTable(7, "DST", kRows);
}  // namespace

extern "C" mpm_Status dst_Initialize(uint32_t) {
  const mpm_ModuleDesc *entry = mpm_GetModuleDesc(7);
  if (entry != nullptr && entry->count == 0) mpm_RegisterModule(0, &kTable.desc);
  return 0;
}
