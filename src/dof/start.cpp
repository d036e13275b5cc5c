// DOF's message table (module 18), its start-up, and the helpers every file of the module shares.
#include <cstdint>

#include "dof/dof_internal.h"
#include "mpm/message_table.h"

namespace tesmar::dof {
namespace {
constexpr MessageRow kRows[] = {
    {"MALLOC_ERR", kMemory, " Error allocating memory.\n"},
    {"REALLOC_ERR", kMemory, " Error reallocating memory.\n"},
    {"OPEN_ERR", kFileIo, " Error opening file %s.\n"},
    {"READ_ERR", kFileIo, " Error reading from file %s.\n"},
    {"WRITE_ERR", kFileIo, " Error writing to file %s.\n"},
    {"CLOSE_ERR", kFileIo, " Error closing file %s.\n"},
    {"SEEK_ERR", kFileIo, " Error seeking in file %s.\n"},
    {"BAD_SIZE", kOrdinary, " Bad block size requested in file %s.\n"},
    {"BAD_OFFSET", kOrdinary, " Bad offset specified into file %s.\n"},
    {"BAD_SLOT", kOrdinary, " Bad slot is passed in.\n"},
};
constinit const MessageTable kTable(18, "DOF", kRows);
}  // namespace

const mpm_ModuleDesc &module_desc() { return kTable.desc; }

Failure failure(mpm_Status code, const DofFile *file) {
  if (code == DOF_MALLOC_ERR || code == DOF_REALLOC_ERR || code == DOF_BAD_SLOT)
    return Failure::error(code);
  return Failure::error(code).with(file != nullptr && file->name != nullptr ? file->name : "");
}

int64_t offset_limit(const DofFile *file) {
  int64_t size = file->page_size;
  return (INT64_MAX / size - 1) * size;
}

}  // namespace tesmar::dof

extern "C" mpm_Status dof_Initialize(uint32_t) {
  mpm_RegisterModule(0, &tesmar::dof::module_desc());
  return 0;
}
