// Sorting, lookup, and reading and setting one check.
//
// Every index a check carries is checked against the table before it is used, so a hand-built or
// damaged table gives EVM_BAD_INDEX or EVM_NULL_MEMPTR instead of a read or write outside its
// arrays.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "evm/evm_internal.h"

namespace tesmar::evm {
namespace {

bool slot_exists(const evm_Table &table, const void *array, int32_t index) {
  return array != nullptr && index >= 0 && index < table.count;
}

const void *value_array(const evm_Table &table, int8_t kind) {
  switch (kind) {
    case EVM_VALUE_INTEGER: return table.integers;
    case EVM_VALUE_DOUBLE: return table.doubles;
    case EVM_VALUE_TEXT: return table.texts;
    default: return nullptr;
  }
}

bool has_value(const evm_Check &check) {
  return check.value_kind >= EVM_VALUE_INTEGER && check.value_kind <= EVM_VALUE_TEXT;
}

// The check of a code, reporting EVM_CHECK_NOT_FOUND (or EVM_NULL_MEMPTR for a missing table).
mpm_Status find_or_report(evm_Table *table, int32_t code, evm_Check **check) {
  if (table == nullptr) return null_memptr();
  *check = evm_FindCheck(table, code);
  return *check != nullptr ? 0 : check_not_found(code);
}

}  // namespace

mpm_Status check_value_slot(const evm_Table &table, const evm_Check &check) {
  if (!has_value(check)) return 0;
  const void *array = value_array(table, check.value_kind);
  if (array == nullptr) return null_memptr();
  return slot_exists(table, array, check.value_index) ? 0 : bad_index(check.code);
}

mpm_Status check_tolerance_slot(const evm_Table &table, const evm_Check &check) {
  if (check.tolerance_index == EVM_DEFAULT_TOLERANCE) return 0;
  if (table.doubles == nullptr) return null_memptr();
  return slot_exists(table, table.doubles, check.tolerance_index) ? 0 : bad_index(check.code);
}

char *copy_text(const char *text, bool *failed) {
  *failed = false;
  if (text == nullptr) return nullptr;
  std::size_t n = std::strlen(text) + 1;
  auto *copy = static_cast<char *>(std::malloc(n));
  if (copy == nullptr) {
    *failed = true;
    return nullptr;
  }
  std::memcpy(copy, text, n);
  return copy;
}

}  // namespace tesmar::evm

using namespace tesmar::evm;

extern "C" {

mpm_Status evm_SortTable(uint32_t, evm_Table *table) {
  if (table == nullptr) return null_memptr();
  if (table->count <= 0) return 0;
  if (table->checks == nullptr) return null_memptr();
  std::sort(table->checks, table->checks + table->count,
            [](const evm_Check &a, const evm_Check &b) { return a.code < b.code; });
  return 0;
}

evm_Check *evm_FindCheck(evm_Table *table, int32_t code) {
  if (table == nullptr || table->checks == nullptr || table->count <= 0) return nullptr;
  evm_Check *end = table->checks + table->count;
  evm_Check *found = std::lower_bound(table->checks, end, code,
                                      [](const evm_Check &c, int32_t key) { return c.code < key; });
  return found != end && found->code == code ? found : nullptr;
}

mpm_Status evm_GetCheck(evm_Table *table, int32_t code, evm_CheckRecord *record) {
  evm_Check *check = nullptr;
  mpm_Status status = find_or_report(table, code, &check);
  if (status == 0) status = check_value_slot(*table, *check);
  if (status == 0) status = check_tolerance_slot(*table, *check);
  if (status == 0 && record == nullptr) status = null_memptr();
  if (status != 0) return status;
  record->code = check->code;
  record->switch1 = check->switch1;
  record->switch2 = check->switch2;
  record->switch3 = check->switch3;
  switch (check->value_kind) {
    case EVM_VALUE_INTEGER: record->value.integer = table->integers[check->value_index]; break;
    case EVM_VALUE_DOUBLE: record->value.real = table->doubles[check->value_index]; break;
    case EVM_VALUE_TEXT: record->value.text = table->texts[check->value_index]; break;
    default: break;
  }
  record->tolerance = check->tolerance_index == EVM_DEFAULT_TOLERANCE
                          ? table->default_tolerance
                          : table->doubles[check->tolerance_index];
  return 0;
}

mpm_Status evm_SetValue(evm_Table *table, int32_t code, const void *value) {
  evm_Check *check = nullptr;
  mpm_Status status = find_or_report(table, code, &check);
  if (status != 0) return status;
  if (!has_value(*check)) return 0;
  if (value == nullptr) return null_memptr();
  if ((status = check_value_slot(*table, *check)) != 0) return status;
  switch (check->value_kind) {
    case EVM_VALUE_INTEGER:
      std::memcpy(&table->integers[check->value_index], value, sizeof(int32_t));
      break;
    case EVM_VALUE_DOUBLE:
      std::memcpy(&table->doubles[check->value_index], value, sizeof(double));
      break;
    default: {
      const char *text;
      std::memcpy(&text, value, sizeof text);
      bool failed;
      char *copy = copy_text(text, &failed);
      if (failed) return no_memory();
      std::free(table->texts[check->value_index]);
      table->texts[check->value_index] = copy;
      break;
    }
  }
  return 0;
}

mpm_Status evm_SetSwitch1(evm_Table *table, int32_t code, uint8_t value) {
  evm_Check *check = nullptr;
  mpm_Status status = find_or_report(table, code, &check);
  if (status == 0) check->switch1 = value;
  return status;
}

mpm_Status evm_SetSwitch2(evm_Table *table, int32_t code, uint8_t value) {
  evm_Check *check = nullptr;
  mpm_Status status = find_or_report(table, code, &check);
  if (status == 0) check->switch2 = value;
  return status;
}

mpm_Status evm_SetSwitch3(evm_Table *table, int32_t code, uint8_t value) {
  evm_Check *check = nullptr;
  mpm_Status status = find_or_report(table, code, &check);
  if (status == 0) check->switch3 = value;
  return status;
}

}  // extern "C"
