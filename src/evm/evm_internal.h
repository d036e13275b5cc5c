// Private declarations of the validation tables, shared by their files.
#pragma once

#include <cstdint>

#include "tesmar/evm.h"
#include "tesmar/mpm.h"

namespace tesmar::evm {

const mpm_ModuleDesc &module_desc();

// The failures of EVM's operations; each returns the code it reported or issued.
mpm_Status check_not_found(int32_t code);  // reported at once, as a warning
mpm_Status bad_index(int32_t code);
mpm_Status null_memptr();
mpm_Status no_memory();

// 0 when the check's value (for kinds 1 to 3) lies inside an existing array of the table;
// otherwise the failure, issued.
mpm_Status check_value_slot(const evm_Table &table, const evm_Check &check);
// The same for the tolerance: -1 (the default tolerance) or an element of an existing doubles array.
mpm_Status check_tolerance_slot(const evm_Table &table, const evm_Check &check);

// A malloc'ed copy of a text; null for a null text. `*failed` is set when memory fails.
char *copy_text(const char *text, bool *failed);

}  // namespace tesmar::evm
