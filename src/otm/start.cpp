// OTM's message table (module 3).
#include "mpm/message_table.h"
#include "otm/otm_internal.h"

namespace tesmar::otm {
namespace {
constexpr MessageRow kRows[] = {
    {"NOMEMORY", kMemory, " Out of memory\n"},
    {"INVALIDSIZE", kOrdinary, " Invalid size = %d\n"},
    {"NULLPOINTER", kOrdinary, " NULL pointer\n"},
    {"LOGICERROR", kOrdinary, " Object Tree Manager Logic Error\n"},
    {"INVALIDCOMPARE", kOrdinary, " Invalid return from compare function = %d\n"},
    {"NOTFOUND", kOrdinary, " Object not found\n"},
    {"INVALIDOPTION", kOrdinary, " Invalid option\n"},
    {"SIZENOTEQ", kOrdinary, " Data size one (%d) does not equal data size two (%d)\n"},
    {"FUNCTIONNOTEQ", kOrdinary, " Function pointer one does not equal function pointer two\n"},
};
constinit const MessageTable kTable(3, "OTM", kRows);
}  // namespace

const mpm_ModuleDesc &module_desc() { return kTable.desc; }

}  // namespace tesmar::otm

extern "C" mpm_Status otm_Initialize(uint32_t) {
  mpm_RegisterModule(0, &tesmar::otm::module_desc());
  return 0;
}
