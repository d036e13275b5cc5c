// Duplicating a chain of memory blocks (entity copies, and loading a parked image).
//
// Every block is copied as it is, then the copies' references are moved: a reference names a slot
// inside some block of the source chain, so the copy's reference names the same offset in the copy
// of that block, and the slot there receives the next copy's address. A reference that lies in no
// block of the chain cannot be moved and fails the copy (BAD_MBLOCK) rather than leave an address
// into the source in the copy. Array blocks move their row pointers with their header.
#include "mda/mda_internal.h"

namespace tesmar::mda {

namespace {

struct Pair {
  MBlock *source;
  MBlock *copy;
};

constexpr std::size_t kFixed = 32;

// The index of the source block whose data holds the slot: the first block first (where most slots
// are), then from the last block backwards; -1 when none does.
int64_t holder(const Pair *pairs, std::size_t n, uint64_t slot) {
  if (holds_slot(pairs[0].source, slot)) return 0;
  for (std::size_t i = n; i-- > 1;)
    if (holds_slot(pairs[i].source, slot)) return static_cast<int64_t>(i);
  return -1;
}

Result fill_copies(Pair *pairs, std::size_t n, int32_t model) {
  for (std::size_t i = 0; i < n; ++i) {
    MBlock *s = pairs[i].source;
    MBlock *c = new_block(s->size - kHeader, s->type);
    if (c == nullptr) return MDA_MALLOC_ERR;
    pairs[i].copy = c;
    c->flags = s->flags;
    std::memcpy(data_of(c), data_of(s), s->size - kHeader);
  }
  for (std::size_t i = 0; i < n; ++i) {
    MBlock *c = pairs[i].copy;
    c->next = i + 1 < n ? reinterpret_cast<uint64_t>(pairs[i + 1].copy) : 0;
    c->reference = 0;
    if (i + 1 == n) break;
    const uint64_t ref = pairs[i].source->reference;
    const int64_t j = holder(pairs, n, ref);
    if (j < 0) return bad_block(pairs[i].source);
    c->reference = ref + static_cast<uint64_t>(reinterpret_cast<char *>(pairs[j].copy) -
                                               reinterpret_cast<char *>(pairs[j].source));
    store_address(c->reference, user_address(pairs[i + 1].copy));
  }
  for (std::size_t i = 0; i < n; ++i) {
    MBlock *c = pairs[i].copy;
    if (c->type != MDA_MBLOCK_ARRAY) continue;
    mda_ArrayHeader *ah = array_header(c);
    const uint64_t rows_end = kArrayHeader + uint64_t{ah->row_count} * 8;
    if (rows_end > c->size - kHeader) return bad_block(pairs[i].source);
    const int64_t delta = reinterpret_cast<char *>(ah) -
                          reinterpret_cast<char *>(array_header(pairs[i].source));
    char *rows = reinterpret_cast<char *>(ah) + kArrayHeader;
    for (uint32_t r = 0; r < ah->row_count; ++r) {
      uint64_t p;
      std::memcpy(&p, rows + 8 * r, sizeof p);
      p += static_cast<uint64_t>(delta);
      std::memcpy(rows + 8 * r, &p, sizeof p);
    }
    ah->self = reinterpret_cast<uint64_t>(ah);
  }
  if (pairs[0].copy->size - kHeader >= sizeof(mda_EntityHeader)) {
    auto *h = reinterpret_cast<mda_EntityHeader *>(data_of(pairs[0].copy));
    h->ptr = make_ptr(model, 0);
  }
  return 0;
}

}  // namespace

Result duplicate_chain(int32_t model, void *memory, void **copy) {
  if (copy == nullptr || memory == nullptr) return MDA_NULL_MEMPTR;
  *copy = nullptr;
  MBlock *first = block_at(memory, false);
  if (first == nullptr) return bad_block(static_cast<char *>(memory) - kHeader);
  std::size_t n = 0;
  for (MBlock *b = first; b != nullptr; b = next_of(b)) ++n;

  Pair fixed[kFixed] = {};
  Pair *pairs = fixed;
  if (n > kFixed) {
    pairs = static_cast<Pair *>(std::calloc(n, sizeof(Pair)));
    if (pairs == nullptr) return MDA_MALLOC_ERR;
  }
  std::size_t i = 0;
  for (MBlock *b = first; b != nullptr; b = next_of(b)) pairs[i++].source = b;
  Result status = fill_copies(pairs, n, model);
  if (status == 0) {
    *copy = data_of(pairs[0].copy);
  } else {
    for (i = 0; i < n; ++i) std::free(pairs[i].copy);
  }
  if (pairs != fixed) std::free(pairs);
  return status;
}

}  // namespace tesmar::mda

extern "C" mpm_Status mda_DuplicateMemory(uint32_t, int32_t model, void *memory, void **copy) {
  return tesmar::mda::report(tesmar::mda::duplicate_chain(model, memory, copy));
}
