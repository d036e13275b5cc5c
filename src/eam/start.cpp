// EAM's message table (module 6) and its start-up.
#include "mpm/message_table.h"
#include "tesmar/eam.h"

namespace {
constexpr tesmar::MessageRow kRows[] = {
    {"NULLPOINTER", tesmar::kOrdinary, " NULL pointer\n"},
    {"NOMEMORY", tesmar::kMemory, " Out of memory\n"},
    {"INVALIDSIZE", tesmar::kOrdinary, " Invalid size = %d\n"},
};
constinit const tesmar::MessageTable kTable(6, "EAM", kRows);
}  // namespace

extern "C" mpm_Status eam_Initialize(uint32_t) {
  mpm_RegisterModule(0, &kTable.desc);
  return 0;
}
