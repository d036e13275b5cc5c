// Merging the settings of one table into another.
//
// Each source check is applied to the target check of the same code as a whole: every index both
// checks use is validated before anything of the target check changes, and a text is copied before
// the text it replaces is freed (the two may be the same text when a table is merged into itself).
// A failure ends the merge; the checks before it stay merged.
#include <cstdlib>

#include "evm/evm_internal.h"

namespace tesmar::evm {
namespace {

bool same_value_kind(const evm_Check &a, const evm_Check &b) {
  return a.value_kind == b.value_kind && a.value_kind >= EVM_VALUE_INTEGER &&
         a.value_kind <= EVM_VALUE_TEXT;
}

bool both_tolerances(const evm_Check &a, const evm_Check &b) {
  return a.tolerance_index >= 0 && b.tolerance_index >= 0;
}

mpm_Status merge_check(evm_Table &target, evm_Check &to, const evm_Table &source,
                       const evm_Check &from) {
  mpm_Status status = 0;
  bool value = same_value_kind(to, from);
  bool tolerance = both_tolerances(to, from);
  if (value && (status = check_value_slot(source, from)) != 0) return status;
  if (value && (status = check_value_slot(target, to)) != 0) return status;
  if (tolerance && (status = check_tolerance_slot(source, from)) != 0) return status;
  if (tolerance && (status = check_tolerance_slot(target, to)) != 0) return status;
  char *text = nullptr;
  if (value && from.value_kind == EVM_VALUE_TEXT) {
    bool failed;
    text = copy_text(source.texts[from.value_index], &failed);
    if (failed) return no_memory();
  }
  to.switch1 = from.switch1;
  to.switch2 = from.switch2;
  to.switch3 = from.switch3;
  if (value) {
    switch (from.value_kind) {
      case EVM_VALUE_INTEGER:
        target.integers[to.value_index] = source.integers[from.value_index];
        break;
      case EVM_VALUE_DOUBLE:
        target.doubles[to.value_index] = source.doubles[from.value_index];
        break;
      default:
        std::free(target.texts[to.value_index]);
        target.texts[to.value_index] = text;
        break;
    }
  }
  if (tolerance) target.doubles[to.tolerance_index] = source.doubles[from.tolerance_index];
  return 0;
}

}  // namespace
}  // namespace tesmar::evm

using namespace tesmar::evm;

extern "C" mpm_Status evm_MergeTable(uint32_t, evm_Table *target, const evm_Table *source) {
  if (target == nullptr || source == nullptr) return null_memptr();
  if (source->count > 0 && source->checks == nullptr) return null_memptr();
  for (int32_t i = 0; i < source->count; ++i) {
    // A copy: the source may be the target, whose checks the merge changes.
    evm_Check from = source->checks[i];
    evm_Check *to = evm_FindCheck(target, from.code);
    if (to == nullptr) return check_not_found(from.code);
    mpm_Status status = merge_check(*target, *to, *source, from);
    if (status != 0) return status;
  }
  return 0;
}
