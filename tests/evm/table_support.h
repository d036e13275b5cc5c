// Building validation tables by hand, as clients do: malloc'ed table and arrays.
#pragma once

#include <cstdlib>
#include <cstring>

#include "tesmar/evm.h"

namespace tesmar::test {

// A table of `count` zeroed checks with all three value arrays (texts only when asked).
inline evm_Table *new_table(int32_t count, bool texts) {
  auto *table = static_cast<evm_Table *>(std::calloc(1, sizeof(evm_Table)));
  table->count = count;
  std::size_t n = count > 0 ? static_cast<std::size_t>(count) : 1;
  table->checks = static_cast<evm_Check *>(std::calloc(n, sizeof(evm_Check)));
  table->integers = static_cast<int32_t *>(std::calloc(n, sizeof(int32_t)));
  table->doubles = static_cast<double *>(std::calloc(n, sizeof(double)));
  if (texts) table->texts = static_cast<char **>(std::calloc(n, sizeof(char *)));
  return table;
}

inline char *heap_text(const char *text) {
  char *copy = static_cast<char *>(std::malloc(std::strlen(text) + 1));
  std::strcpy(copy, text);
  return copy;
}

// Check i with its value and tolerance in slot `slot` (tolerance -1: the default).
inline void set_check(evm_Table *table, int32_t i, int32_t code, int8_t kind, int16_t slot,
                      int16_t tolerance) {
  table->checks[i] = evm_Check{code, 0, 0, 0, kind, slot, tolerance};
}

}  // namespace tesmar::test
