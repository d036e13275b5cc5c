// The small array operations: copies, subscript offsets, exchanges and zeroing.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>

#include "tesmar/mpm.h"
#include "tesmar/ugn.h"

namespace {

// Row-major offset of a (sub)array. Products wrap instead of overflowing (the caller's dimensions
// are trusted to fit); n is held to 0 .. dimension count, so no dimension beyond the table is read.
template <typename Int>
Int subscript_offset(Int element_size, int32_t n, const Int *subscripts, int32_t dimension_count,
                     const Int *dimensions) {
  using U = std::make_unsigned_t<Int>;
  if (dimension_count < 0 || dimensions == nullptr) dimension_count = 0;
  if (n < 0 || subscripts == nullptr) n = 0;
  if (n > dimension_count) n = dimension_count;
  U factor = static_cast<U>(element_size);
  for (int32_t k = n; k < dimension_count; ++k) factor *= static_cast<U>(dimensions[k]);
  U offset = 0;
  for (int32_t k = n - 1; k >= 0; --k) {
    offset += factor * static_cast<U>(subscripts[k]);
    factor *= static_cast<U>(dimensions[k]);
  }
  return static_cast<Int>(offset);
}

template <typename T>
void swap_arrays(int64_t count, T *a, T *b) {
  if (a == nullptr || b == nullptr) return;
  for (int64_t i = 0; i < count; ++i) std::swap(a[i], b[i]);
}

}  // namespace

extern "C" {

char *ugn_StrDup(const char *text) {
  if (text == nullptr) return nullptr;
  std::size_t length = std::strlen(text);
  auto *copy = static_cast<char *>(std::malloc(length + 1));
  if (copy == nullptr) {
    mpm_IssueMessage(0, UGN_MALLOC_ERR, MPM_ERROR);
    return nullptr;
  }
  std::memcpy(copy, text, length + 1);
  return copy;
}

int64_t ugn_SubscriptOffset(int64_t element_size, int32_t n, const int64_t *subscripts,
                            int32_t dimension_count, const int64_t *dimensions) {
  return subscript_offset(element_size, n, subscripts, dimension_count, dimensions);
}

int32_t ugn_SubscriptOffsetInt(int32_t element_size, int32_t n, const int32_t *subscripts,
                               int32_t dimension_count, const int32_t *dimensions) {
  return subscript_offset(element_size, n, subscripts, dimension_count, dimensions);
}

int32_t ugn_SubscriptOffsetLong(int32_t element_size, int32_t n, const int32_t *subscripts,
                                int32_t dimension_count, const int32_t *dimensions) {
  return subscript_offset(element_size, n, subscripts, dimension_count, dimensions);
}

void ugn_SwapChar(int64_t count, char *a, char *b) { swap_arrays(count, a, b); }
void ugn_SwapShort(int64_t count, int16_t *a, int16_t *b) { swap_arrays(count, a, b); }
void ugn_SwapInt(int64_t count, int32_t *a, int32_t *b) { swap_arrays(count, a, b); }
void ugn_SwapLong(int64_t count, int32_t *a, int32_t *b) { swap_arrays(count, a, b); }
void ugn_SwapFloat(int64_t count, float *a, float *b) { swap_arrays(count, a, b); }
void ugn_SwapDouble(int64_t count, double *a, double *b) { swap_arrays(count, a, b); }

void ugn_Zero(int64_t count, void *block) {
  if (count > 0 && block != nullptr) std::memset(block, 0, static_cast<std::size_t>(count));
}

}  // extern "C"
