// Copying and deleting whole tables.
#include <cstdlib>
#include <cstring>

#include "evm/evm_internal.h"

namespace tesmar::evm {
namespace {

// A malloc'ed copy of `count` elements, or null for a missing array. `*failed` on memory failure.
template <typename T>
T *copy_array(const T *array, int32_t count, bool *failed) {
  if (array == nullptr || count <= 0) return nullptr;
  std::size_t bytes = sizeof(T) * static_cast<std::size_t>(count);
  T *copy = static_cast<T *>(std::malloc(bytes));
  if (copy == nullptr) {
    *failed = true;
    return nullptr;
  }
  std::memcpy(copy, array, bytes);
  return copy;
}

void free_arrays(evm_Table &table) {
  if (table.texts != nullptr)
    for (int32_t i = 0; i < table.count; ++i) std::free(table.texts[i]);
  std::free(table.texts);
  std::free(table.doubles);
  std::free(table.integers);
  std::free(table.checks);
}

}  // namespace
}  // namespace tesmar::evm

using namespace tesmar::evm;

extern "C" {

mpm_Status evm_CopyTable(uint32_t, const evm_Table *source, evm_Table *target) {
  if (source == nullptr || target == nullptr) return null_memptr();
  if (source->count > 0 && source->checks == nullptr) return null_memptr();
  if (source == target) return 0;  // already its own copy; overwriting would lose its arrays
  evm_Table copy{};
  copy.count = source->count > 0 ? source->count : 0;
  copy.user = source->user;
  copy.default_tolerance = source->default_tolerance;
  bool failed = false;
  copy.checks = copy_array(source->checks, copy.count, &failed);
  copy.integers = copy_array(source->integers, copy.count, &failed);
  copy.doubles = copy_array(source->doubles, copy.count, &failed);
  if (!failed && source->texts != nullptr && copy.count > 0) {
    copy.texts = static_cast<char **>(std::calloc(static_cast<std::size_t>(copy.count),
                                                  sizeof(char *)));
    failed = copy.texts == nullptr;
    for (int32_t i = 0; !failed && i < copy.count; ++i)
      copy.texts[i] = copy_text(source->texts[i], &failed);
  }
  if (failed) {
    free_arrays(copy);
    return no_memory();
  }
  *target = copy;
  return 0;
}

mpm_Status evm_DeleteTable(uint32_t, evm_Table *table) {
  if (table == nullptr) return 0;
  free_arrays(*table);
  std::free(table);
  return 0;
}

}  // extern "C"
