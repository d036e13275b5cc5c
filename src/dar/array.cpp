// Dynamic arrays: contiguous and segmented storage.
//
// Design notes.
//
// A header {kind, data, capacity, element size, count} lives in caller storage. Invariants:
//   count <= capacity;
//   contiguous: data holds capacity x element size bytes (null only when capacity is 0);
//   segmented: data is a directory of DAR_SEGMENTS pointers (null only when capacity is 0);
//     capacity is 0 or 2^(k+1) with segments 0..k allocated and every later entry null;
//     segment 0 holds indices 0..1, segment k >= 1 holds indices 2^k .. 2^(k+1) - 1.
// Growth (grow) is the only step that allocates; it either completes or leaves the header exactly as
// it was. Moves of elements (prepend, delete-first) go run by run, a run being the longest stretch
// that lies inside one segment at both its source and its target.
//
// Elements handed in may live inside the same array. Appending to a contiguous array remembers the
// element's offset across the reallocation; prepending copies the element aside before anything
// moves.
#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tesmar/dar.h"

namespace {

using Byte = unsigned char;

constexpr uint64_t kMaxCapacity = uint64_t{1} << 62;  // far beyond any allocation; keeps sums exact

bool known_kind(const DarArray *array) {
  return array != nullptr && (array->kind == DAR_CONTIGUOUS || array->kind == DAR_SEGMENTED);
}

unsigned bit_length(uint64_t v) { return static_cast<unsigned>(64 - std::countl_zero(v)); }

// Bytes of n elements; false on overflow.
bool bytes_of(uint64_t n, uint64_t element_size, std::size_t *bytes) {
  if (element_size != 0 && n > SIZE_MAX / element_size) return false;
  *bytes = static_cast<std::size_t>(n * element_size);
  return true;
}

Byte **directory(const DarArray *array) { return static_cast<Byte **>(array->data); }

// Segment of an index and the first index it holds.
unsigned segment_of(uint64_t index) {
  unsigned b = bit_length(index);
  return b < 2 ? 0 : b - 1;
}
uint64_t segment_first(unsigned segment) { return segment == 0 ? 0 : uint64_t{1} << segment; }
uint64_t segment_end(unsigned segment) { return uint64_t{2} << segment; }

// Address of an element slot; index < capacity.
Byte *slot(const DarArray *array, uint64_t index) {
  assert(index < array->capacity);
  if (array->kind == DAR_CONTIGUOUS) return static_cast<Byte *>(array->data) + index * array->element_size;
  unsigned segment = segment_of(index);
  return directory(array)[segment] + (index - segment_first(segment)) * array->element_size;
}

// Doubles the storage. False (header untouched) when the memory cannot be had.
bool grow(DarArray *array) {
  if (array->kind == DAR_CONTIGUOUS) {
    uint64_t capacity = array->capacity == 0 ? 1 : array->capacity * 2;
    std::size_t bytes;
    if (capacity > kMaxCapacity || !bytes_of(capacity, array->element_size, &bytes)) return false;
    void *data = std::realloc(array->data, bytes == 0 ? 1 : bytes);
    if (data == nullptr) return false;
    array->data = data;
    array->capacity = capacity;
    return true;
  }
  bool new_directory = array->data == nullptr;
  if (new_directory) {
    array->data = std::calloc(DAR_SEGMENTS, sizeof(Byte *));
    if (array->data == nullptr) return false;
  }
  uint64_t elements = array->capacity == 0 ? 2 : array->capacity;
  unsigned segment = array->capacity == 0 ? 0 : bit_length(array->capacity) - 1;
  std::size_t bytes;
  Byte *memory = nullptr;
  if (array->capacity * 2 <= kMaxCapacity && bytes_of(elements, array->element_size, &bytes))
    memory = static_cast<Byte *>(std::malloc(bytes == 0 ? 1 : bytes));
  if (memory == nullptr) {
    if (new_directory) {
      std::free(array->data);
      array->data = nullptr;
    }
    return false;
  }
  assert(segment < DAR_SEGMENTS && directory(array)[segment] == nullptr);
  directory(array)[segment] = memory;
  array->capacity = segment_end(segment);
  return true;
}

void release(DarArray *array) {
  if (array->kind == DAR_SEGMENTED && array->data != nullptr)
    for (unsigned i = 0; i < DAR_SEGMENTS; ++i) std::free(directory(array)[i]);
  std::free(array->data);
  array->data = nullptr;
  array->capacity = 0;
  array->count = 0;
}

// Moves n elements from index `from` to index `to` (the ranges may overlap), run by run.
void move_elements(DarArray *array, uint64_t to, uint64_t from, uint64_t n) {
  if (n == 0 || to == from) return;
  const uint64_t size = array->element_size;
  if (array->kind == DAR_CONTIGUOUS) {
    Byte *base = static_cast<Byte *>(array->data);
    std::memmove(base + to * size, base + from * size, n * size);
    return;
  }
  if (to < from) {
    while (n > 0) {
      uint64_t run = std::min({n, segment_end(segment_of(from)) - from, segment_end(segment_of(to)) - to});
      std::memmove(slot(array, to), slot(array, from), run * size);
      to += run, from += run, n -= run;
    }
  } else {
    uint64_t to_end = to + n, from_end = from + n;  // exclusive ends, moving backwards
    while (n > 0) {
      uint64_t run = std::min({n, from_end - segment_first(segment_of(from_end - 1)),
                               to_end - segment_first(segment_of(to_end - 1))});
      std::memmove(slot(array, to_end - run), slot(array, from_end - run), run * size);
      to_end -= run, from_end -= run, n -= run;
    }
  }
}

// True when p points into the array's contiguous buffer; *offset receives its byte offset.
bool inside_buffer(const DarArray *array, const void *p, std::size_t *offset) {
  auto begin = reinterpret_cast<std::uintptr_t>(array->data);
  auto at = reinterpret_cast<std::uintptr_t>(p);
  if (array->data == nullptr || at < begin || at - begin >= array->capacity * array->element_size)
    return false;
  *offset = at - begin;
  return true;
}

}  // namespace

extern "C" {

mpm_Status dar_InitializeArray(DarArray *array, uint32_t kind, uint64_t element_size,
                               uint64_t initial_capacity) {
  if (array == nullptr || (kind != DAR_CONTIGUOUS && kind != DAR_SEGMENTED)) return DAR_BAD_TYPE;
  *array = DarArray{kind, 0, nullptr, 0, element_size, 0};
  if (initial_capacity > kMaxCapacity) return DAR_NOMEMORY;
  uint64_t wanted = initial_capacity == 0 ? 1 : std::bit_ceil(initial_capacity);
  if (kind == DAR_CONTIGUOUS) {
    std::size_t bytes;
    if (!bytes_of(wanted, element_size, &bytes)) return DAR_NOMEMORY;
    array->data = std::malloc(bytes == 0 ? 1 : bytes);
    if (array->data == nullptr) return DAR_NOMEMORY;
    array->capacity = wanted;
    return 0;
  }
  while (array->capacity < wanted) {
    if (!grow(array)) {
      release(array);
      return DAR_NOMEMORY;
    }
  }
  return 0;
}

void *dar_AppendElement(DarArray *array, const void *element) {
  if (!known_kind(array)) return nullptr;
  if (array->count == array->capacity) {
    std::size_t offset = 0;
    bool inside = array->kind == DAR_CONTIGUOUS && inside_buffer(array, element, &offset);
    if (!grow(array)) return nullptr;
    if (inside) element = static_cast<Byte *>(array->data) + offset;
  }
  Byte *target = slot(array, array->count);
  if (array->element_size != 0) std::memmove(target, element, array->element_size);
  ++array->count;
  return target;
}

void *dar_PrependElement(DarArray *array, const void *element) {
  if (!known_kind(array)) return nullptr;
  // The element is copied aside first: it may be one of the elements about to move.
  Byte local[256];
  Byte *copy = local;
  const std::size_t size = array->element_size;
  if (size > sizeof local) {
    copy = static_cast<Byte *>(std::malloc(size));
    if (copy == nullptr) return nullptr;
  }
  if (size != 0) std::memcpy(copy, element, size);
  Byte *target = nullptr;
  if (array->count < array->capacity || grow(array)) {
    move_elements(array, 1, 0, array->count);
    target = slot(array, 0);
    if (size != 0) std::memcpy(target, copy, size);
    ++array->count;
  }
  if (copy != local) std::free(copy);
  return target;
}

int32_t dar_ExtractLast(DarArray *array, void *element) {
  if (!known_kind(array) || array->count == 0) return 0;
  --array->count;
  if (element != nullptr && array->element_size != 0)
    std::memmove(element, slot(array, array->count), array->element_size);
  return 1;
}

mpm_Status dar_DeleteFirst(DarArray *array, uint64_t n) {
  if (!known_kind(array)) return DAR_BAD_TYPE;
  if (n >= array->count) {
    array->count = 0;
    return 0;
  }
  move_elements(array, 0, n, array->count - n);
  array->count -= n;
  return 0;
}

mpm_Status dar_ClearArray(DarArray *array) {
  if (array != nullptr) array->count = 0;
  return 0;
}

mpm_Status dar_Free(DarArray *array) {
  if (!known_kind(array)) return DAR_BAD_TYPE;
  release(array);
  array->element_size = 0;
  return 0;
}

void *dar_IndexElement(DarArray *array, uint64_t index) {
  if (!known_kind(array) || index >= array->capacity) return nullptr;
  return slot(array, index);
}

void *dar_GetLast(DarArray *array) {
  if (!known_kind(array) || array->count == 0) return nullptr;
  return slot(array, array->count - 1);
}

uint64_t dar_GetCapacity(const DarArray *array) { return array != nullptr ? array->capacity : 0; }
uint64_t dar_GetElementSize(const DarArray *array) {
  return array != nullptr ? array->element_size : 0;
}
uint64_t dar_GetNumElements(const DarArray *array) { return array != nullptr ? array->count : 0; }

}  // extern "C"
