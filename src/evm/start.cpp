// EVM's message table (module 12) and the failures its operations report.
//
// BAD_INDEX and NOMEMORY follow the three historical rows, so the codes of those stay as they were.
#include "evm/evm_internal.h"
#include "mpm/message_table.h"

namespace tesmar::evm {
namespace {
constexpr MessageRow kRows[] = {
    {"INVALID_PTR", kOrdinary, " Invalid database pointer.\n"},
    {"NULL_MEMPTR", kOrdinary, " Unexpected NULL memory pointer.\n"},
    {"CHECK_NOT_FOUND", kOrdinary, " Check %s not found in validation table.\n"},
    {"BAD_INDEX", kOrdinary, " Check %s has an index outside the validation table.\n"},
    {"NOMEMORY", kMemory, " Out of memory\n"},
};
constinit const MessageTable kTable(12, "EVM", kRows);
}  // namespace

const mpm_ModuleDesc &module_desc() { return kTable.desc; }

mpm_Status check_not_found(int32_t code) {
  return mpm_ReportMessage(0, EVM_CHECK_NOT_FOUND, MPM_WARNING,
                           mpm_GetMessageName(static_cast<mpm_Status>(code)));
}

mpm_Status bad_index(int32_t code) {
  return mpm_IssueMessage(0, EVM_BAD_INDEX, MPM_ERROR,
                          mpm_GetMessageName(static_cast<mpm_Status>(code)));
}

mpm_Status null_memptr() { return mpm_IssueMessage(0, EVM_NULL_MEMPTR, MPM_ERROR); }

mpm_Status no_memory() { return mpm_IssueMessage(0, EVM_NOMEMORY, MPM_ERROR); }

}  // namespace tesmar::evm

extern "C" mpm_Status evm_Initialize(uint32_t) {
  mpm_RegisterModule(0, &tesmar::evm::module_desc());
  return 0;
}
