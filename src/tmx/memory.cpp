// Memory helpers: moving and filling bytes, and the arrays that grow by increments.
#include <cstdlib>
#include <cstring>

#include "tmx/tmx_internal.h"

namespace {

// a * b in bytes, false when it does not fit in a size_t.
bool byte_size(int64_t a, int64_t b, std::size_t *bytes) {
  if (a < 0 || b < 0) return false;
  auto ua = static_cast<uint64_t>(a), ub = static_cast<uint64_t>(b);
  if (ub != 0 && ua > SIZE_MAX / ub) return false;
  *bytes = static_cast<std::size_t>(ua * ub);
  return true;
}

}  // namespace

extern "C" {

void *tmx_MoveBytes(int64_t size, const void *source, void *target) {
  uint64_t n = size < 0 ? 0 - static_cast<uint64_t>(size) : static_cast<uint64_t>(size);
  if (n != 0 && source != nullptr && target != nullptr)
    std::memmove(target, source, static_cast<std::size_t>(n));
  return target;
}

void tmx_FillBytes(int64_t count, int32_t value, void *target) {
  if (count > 0 && target != nullptr)
    std::memset(target, value, static_cast<std::size_t>(count));
}

int32_t tmx_AllocArray(int32_t mode, int64_t count, int64_t size, void **pointer) {
  if (pointer == nullptr) return 1;
  *pointer = nullptr;
  std::size_t bytes;
  if (!byte_size(count, size, &bytes)) return 1;
  if (bytes == 0) bytes = 1;  // a valid block even for an empty array
  void *block = mode == 1 ? std::calloc(bytes, 1) : std::malloc(bytes);
  if (block == nullptr) return 1;
  *pointer = block;
  return 0;
}

int32_t tmx_GrowArray(int32_t mode, int32_t used, int32_t needed, int32_t increment,
                      int32_t element_size, int32_t *capacity, void **pointer) {
  if (capacity == nullptr || pointer == nullptr || used < 0 || needed < 0 || increment < 0 ||
      element_size <= 0 || *capacity < 0)
    return 1;
  int64_t have = *pointer != nullptr ? *capacity : 0;
  int64_t request = static_cast<int64_t>(used) + needed;
  int64_t want = have;
  if (mode == 1) {
    if (have == 0) want = increment;
  } else {
    if (have == 0) want = increment;
    if (request >= want) {
      // Grow by whole increments until the request is below the capacity.
      if (increment == 0) return 1;
      int64_t steps = (request - want) / increment + 1;
      want += steps * increment;
    }
  }
  if (want > INT32_MAX) return 1;
  if (want != have) {
    std::size_t bytes;
    if (!byte_size(want, element_size, &bytes) || bytes == 0) return 1;
    void *grown = std::realloc(*pointer, bytes);
    if (grown == nullptr) return 1;
    std::size_t old_bytes = static_cast<std::size_t>(have) * static_cast<std::size_t>(element_size);
    std::memset(static_cast<char *>(grown) + old_bytes, 0, bytes - old_bytes);
    *pointer = grown;
    *capacity = static_cast<int32_t>(want);
  }
  if (mode == 1 && request > want) return 1;  // a fixed array does not grow
  return 0;
}

void tmx_FreeArray(int32_t *count, int32_t *capacity, void **array) {
  if (array != nullptr) {
    std::free(*array);
    *array = nullptr;
  }
  if (count != nullptr) *count = 0;
  if (capacity != nullptr) *capacity = 0;
}

void tmx_FreePointer(void **pointer) {
  if (pointer == nullptr) return;
  std::free(*pointer);
  *pointer = nullptr;
}

}  // extern "C"
