// Array blocks: arrays of two to five dimensions held as nested row-pointer tables.
//
// Layout of an array block's data: the 48-byte array header, the row-pointer tables of levels
// 0 .. k-2 one after the other (level i holds d0 * ... * di pointers), then the element area at
// the header's element offset (a multiple of 8). A pointer of level i < k-2 points into level
// i+1's table at a step of d(i+1) pointers, a pointer of level k-2 into the element area at a step
// of d(k-1) elements. The caller's address is the level-0 table (header + 48). Arrays of one
// dimension are plain blocks. Every size is computed in 64 bits and refused when it does not fit
// the block header's 32-bit size.
#include "ddf/ddf_internal.h"
#include "mda/mda_internal.h"

#include <cstdarg>

namespace tesmar::mda {

namespace {

bool mul(uint64_t a, uint64_t b, uint64_t *out) { return !__builtin_mul_overflow(a, b, out); }

Result check_dims(int32_t ndims, const int32_t *dims) {
  if (ndims < 1 || ndims > MDA_MAX_DIMS) return MDA_INVALID_ARG;
  for (int32_t i = 0; i < ndims; ++i)
    if (dims[i] < 0) return MDA_INVALID_ARG;
  return 0;
}

// An unlinked array block (ndims >= 2) or, for one dimension, plain block.
Result build(uint32_t element_size, int32_t ndims, const int32_t *dims, MBlock **out) {
  if (ndims == 1) {
    MBlock *b = new_block(uint64_t{element_size} * static_cast<uint64_t>(dims[0]),
                          MDA_MBLOCK_PLAIN);
    if (b == nullptr) return MDA_MALLOC_ERR;
    *out = b;
    return 0;
  }
  if (dims[0] == 0) return MDA_ZERO_DIM;
  uint64_t level[MDA_MAX_DIMS] = {};  // pointers of each level
  uint64_t rows = 0;
  uint64_t count = 1;
  for (int32_t i = 0; i < ndims - 1; ++i) {
    if (!mul(count, static_cast<uint64_t>(dims[i]), &count)) return MDA_MALLOC_ERR;
    level[i] = count;
    rows += count;
    if (rows > UINT32_MAX / 8) return MDA_MALLOC_ERR;
  }
  uint64_t elements = 0;
  uint64_t bytes = 0;
  if (!mul(count, static_cast<uint64_t>(dims[ndims - 1]), &elements) ||
      !mul(elements, element_size, &bytes))
    return MDA_MALLOC_ERR;
  const uint64_t offset = kArrayHeader + rows * 8;
  if (bytes > UINT32_MAX) return MDA_MALLOC_ERR;
  MBlock *b = new_block(offset + bytes, MDA_MBLOCK_ARRAY);
  if (b == nullptr) return MDA_MALLOC_ERR;

  mda_ArrayHeader *ah = array_header(b);
  ah->self = reinterpret_cast<uint64_t>(ah);
  ah->ndims = static_cast<uint8_t>(ndims);
  for (int32_t i = 0; i < ndims; ++i) ah->dims[i] = static_cast<uint32_t>(dims[i]);
  ah->element_size = element_size;
  ah->row_count = static_cast<uint32_t>(rows);
  ah->element_offset = static_cast<uint32_t>(offset);

  char *table = reinterpret_cast<char *>(ah) + kArrayHeader;
  char *const elements_at = reinterpret_cast<char *>(ah) + offset;
  for (int32_t i = 0; i < ndims - 1; ++i) {
    char *next_table = table + level[i] * 8;
    const bool last = i == ndims - 2;
    const uint64_t step = last ? uint64_t{element_size} * static_cast<uint64_t>(dims[ndims - 1])
                               : 8 * static_cast<uint64_t>(dims[i + 1]);
    char *target = last ? elements_at : next_table;
    for (uint64_t j = 0; j < level[i]; ++j) {
      const char *p = target + j * step;
      std::memcpy(table + j * 8, &p, sizeof p);
    }
    table = next_table;
  }
  *out = b;
  return 0;
}

void link(MBlock *first, MBlock *b, void *slot) {
  if (first != nullptr) insert_after_first(first, b, slot);
  else b->flags = MDA_MBLOCK_INDEPENDENT;
  store_address(slot, user_address(b));
}

// The elements of a block as an array of five dimensions (leading dimensions 1).
struct View {
  uint64_t dims[MDA_MAX_DIMS];
  uint64_t element_size;
  char *elements;
  uint64_t count;
};

bool view_of(MBlock *b, uint64_t element_size, View *v) {
  for (uint64_t &d : v->dims) d = 1;
  const uint64_t data = b->size - kHeader;
  if (b->type == MDA_MBLOCK_PLAIN) {
    v->element_size = element_size;
    v->elements = data_of(b);
    v->count = element_size != 0 ? data / element_size : 0;
    v->dims[MDA_MAX_DIMS - 1] = v->count;
    return true;
  }
  const mda_ArrayHeader *ah = array_header(b);
  if (ah->ndims < 2 || ah->ndims > MDA_MAX_DIMS || ah->element_offset > data) return false;
  uint64_t count = 1;
  for (int32_t i = 0; i < ah->ndims; ++i) {
    v->dims[MDA_MAX_DIMS - ah->ndims + i] = ah->dims[i];
    if (!mul(count, ah->dims[i], &count)) return false;
  }
  uint64_t bytes = 0;
  if (!mul(count, ah->element_size, &bytes) || bytes > data - ah->element_offset) return false;
  v->element_size = ah->element_size;
  v->elements = reinterpret_cast<char *>(array_header(b)) + ah->element_offset;
  v->count = count;
  return true;
}

uint64_t flat_index(const View &v, const uint64_t *index) {
  uint64_t flat = 0;
  for (int32_t t = 0; t < MDA_MAX_DIMS; ++t) flat = flat * v.dims[t] + index[t];
  return flat;
}

// Copies every element whose index lies within both views.
void copy_common(const View &from, const View &to) {
  uint64_t limit[MDA_MAX_DIMS];
  for (int32_t t = 0; t < MDA_MAX_DIMS; ++t) {
    limit[t] = from.dims[t] < to.dims[t] ? from.dims[t] : to.dims[t];
    if (limit[t] == 0) return;
  }
  const uint64_t bytes = from.element_size < to.element_size ? from.element_size : to.element_size;
  if (bytes == 0) return;
  uint64_t index[MDA_MAX_DIMS] = {};
  for (;;) {
    std::memcpy(to.elements + flat_index(to, index) * to.element_size,
                from.elements + flat_index(from, index) * from.element_size, bytes);
    int32_t t = MDA_MAX_DIMS - 1;
    while (t >= 0 && ++index[t] == limit[t]) index[t--] = 0;
    if (t < 0) return;
  }
}

// Where a slot inside an old element moved to, or 0 when its element was dropped.
uint64_t moved_slot(const View &from, const View &to, uint64_t slot) {
  const uint64_t base = reinterpret_cast<uint64_t>(from.elements);
  if (from.element_size == 0 || slot < base || slot >= base + from.count * from.element_size)
    return 0;
  uint64_t flat = (slot - base) / from.element_size;
  const uint64_t within = (slot - base) % from.element_size;
  if (within + 8 > to.element_size) return 0;
  uint64_t index[MDA_MAX_DIMS];
  for (int32_t t = MDA_MAX_DIMS - 1; t >= 0; --t) {
    index[t] = flat % from.dims[t];
    flat /= from.dims[t];
    if (index[t] >= to.dims[t]) return 0;
  }
  return reinterpret_cast<uint64_t>(to.elements) + flat_index(to, index) * to.element_size + within;
}

Result realloc_array(uint32_t options, void *owner, void *array, uint32_t element_size,
                         void *slot, int32_t ndims, const int32_t *dims) {
  Result status = check_dims(ndims, dims);
  if (status != 0) return status;
  if (slot == nullptr) return MDA_NULL_MEMPTR;
  if (array == nullptr) return allocate_array(owner, element_size, slot, ndims, dims, true);
  MBlock *old = find_block(array);
  if (old == nullptr) return bad_block(static_cast<char *>(array) - kHeader);
  MBlock *first = nullptr;
  MBlock *pred = nullptr;
  if (owner != nullptr) {
    first = owner_block(owner);
    if (first == nullptr) return bad_block(static_cast<char *>(owner) - kHeader);
    if (old == first) return MDA_INVALID_ARG;  // an entity's structure is not an array
    pred = predecessor(first, old);
    if (pred == nullptr) return bad_block(old);
  } else if (old->next != 0) {
    return MDA_INVALID_ARG;  // the first block of a chain: not an array
  }
  const uint64_t lo = reinterpret_cast<uint64_t>(data_of(old));
  const uint64_t hi = reinterpret_cast<uint64_t>(block_end(old));
  const auto s = reinterpret_cast<uint64_t>(slot);
  if (s + 8 > lo && s < hi) return MDA_INVALID_ARG;  // the slot would move with the array

  View from{};
  const bool fresh = (options & MDA_REALLOC_FRESH) != 0;
  if (!fresh && !view_of(old, element_size, &from)) return bad_block(old);
  MBlock *nb = nullptr;
  status = build(element_size, ndims, dims, &nb);
  if (status != 0) return status;
  View to{};
  view_of(nb, element_size, &to);
  if (!fresh) copy_common(from, to);

  if (pred != nullptr) unlink_block(pred, old);
  link(first, nb, slot);
  if (first != nullptr) {
    if (!fresh)
      for (MBlock *p = first; p != nullptr; p = next_of(p))
        if (p->reference >= lo && p->reference < hi)
          if (uint64_t moved = moved_slot(from, to, p->reference); moved != 0) p->reference = moved;
    free_dependants_in(first, lo, hi);
  }
  std::free(old);
  return 0;
}

void read_dims(int32_t ndims, va_list args, int32_t *dims) {
  const int32_t n = ndims < 0 ? 0 : (ndims > MDA_MAX_DIMS ? MDA_MAX_DIMS : ndims);
  for (int32_t i = 0; i < n; ++i) dims[i] = va_arg(args, int);
}

}  // namespace

Result allocate_array(void *owner, uint32_t element_size, void *slot, int32_t ndims,
                          const int32_t *dims, bool plain_for_one) {
  Result status = check_dims(ndims, dims);
  if (status != 0) return status;
  if (slot == nullptr) return MDA_NULL_MEMPTR;
  if (ndims == 1 && !plain_for_one) return MDA_ZERO_DIM;  // no row pointers
  MBlock *first = nullptr;
  if (owner != nullptr) {
    first = owner_block(owner);
    if (first == nullptr) return bad_block(static_cast<char *>(owner) - kHeader);
  }
  MBlock *b = nullptr;
  status = build(element_size, ndims, dims, &b);
  if (status != 0) return status;
  link(first, b, slot);
  return 0;
}

Result reallocate_array(uint32_t options, void *owner, void *array, uint32_t element_size,
                            void *slot, int32_t ndims, const int32_t *dims) {
  return realloc_array(options, owner, array, element_size, slot, ndims, dims);
}

int32_t evaluate_dim(const ddf_DimExpr &expr, const int32_t *registers) {
  auto operand = [registers](int16_t v) -> int64_t {
    if (v >= 0) return v;
    const int32_t r = -static_cast<int32_t>(v);
    return registers != nullptr && r < DDF_REGISTER_COUNT ? registers[r] : 0;
  };
  const int64_t a = operand(expr.a);
  const int64_t b = operand(expr.b);
  int64_t v = 0;
  switch (expr.op) {
    case 'e': v = a; break;
    case 'f': v = a + b; break;
    case 'g': v = a - b; break;
    case 'h': v = a * b; break;
    case 'i': v = b != 0 ? a / b : 0; break;
    default: v = 0; break;
  }
  return static_cast<int32_t>(v);
}

namespace {

Result array_dims(const ddf_FieldDesc *desc, const void *array, int32_t *dims, int32_t *count) {
  if (desc == nullptr || dims == nullptr || count == nullptr) return MDA_NULL_MEMPTR;
  int32_t n = desc->ndims - (desc->kind == DDF_FSTRING ? 1 : 0);
  if (n < 0) n = 0;
  if (n > MDA_MAX_DIMS) return MDA_INVALID_ARG;
  for (int32_t i = 0; i < n; ++i) dims[i] = evaluate_dim(desc->dims[i], ddf_registers);
  if ((desc->flags & DDF_UNSIZED) != 0 && n >= 1) {
    dims[0] = 0;
    if (array != nullptr) {
      MBlock *b = find_block(array);
      if (b == nullptr) return bad_block(static_cast<const char *>(array) - kHeader);
      uint32_t usable = 0;
      if (b->type == MDA_MBLOCK_PLAIN) {
        usable = b->size - kHeader;
      } else {
        const uint32_t offset = array_header(b)->element_offset;
        if (offset > b->size - kHeader) return bad_block(b);
        usable = b->size - kHeader - offset;
      }
      uint64_t divisor = static_cast<uint64_t>(tesmar::ddf::element_size(*desc) > 0
                                                   ? tesmar::ddf::element_size(*desc)
                                                   : 0);
      // A product beyond 64 bits is larger than any block: no whole element fits.
      bool fits = true;
      for (int32_t i = 1; i < n && fits; ++i)
        fits = mul(divisor, dims[i] > 0 ? static_cast<uint64_t>(dims[i]) : 0, &divisor);
      const uint64_t elements = fits && divisor != 0 ? usable / divisor : 0;
      dims[0] = elements > INT32_MAX ? INT32_MAX : static_cast<int32_t>(elements);
    }
  }
  *count = n;
  return 0;
}

}  // namespace

}  // namespace tesmar::mda

using namespace tesmar::mda;

// The dimensions that follow `ndims` among the variable arguments, in `dims`.
#define TESMAR_READ_DIMS(ndims, dims)  \
  int32_t dims[MDA_MAX_DIMS] = {};     \
  do {                                 \
    va_list args;                      \
    va_start(args, ndims);             \
    read_dims(ndims, args, dims);      \
    va_end(args);                      \
  } while (0)

extern "C" {

mpm_Status mda_MallocArray(uint32_t, void *owner, uint32_t element_size, void *slot, int32_t ndims,
                           ...) {
  TESMAR_READ_DIMS(ndims, dims);
  return report_chain(allocate_array(owner, element_size, slot, ndims, dims, true), owner);
}

mpm_Status mda_AllocateArray(uint32_t, void *owner, uint32_t element_size, void *slot,
                             int32_t ndims, ...) {
  TESMAR_READ_DIMS(ndims, dims);
  return report_chain(allocate_array(owner, element_size, slot, ndims, dims, false), owner);
}

mpm_Status mda_ReallocArray(uint32_t options, void *owner, void *array, uint32_t element_size,
                            void *slot, int32_t ndims, ...) {
  TESMAR_READ_DIMS(ndims, dims);
  return report_chain(realloc_array(options, owner, array, element_size, slot, ndims, dims),
                      owner);
}

mpm_Status mda_GetArrayDims(const ddf_FieldDesc *desc, const void *array, int32_t *dims,
                            int32_t *count) {
  return report(array_dims(desc, array, dims, count));
}

}  // extern "C"
