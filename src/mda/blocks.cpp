// Memory blocks and the chains that make up entity memory.
//
// Design. A block is a 40-byte header (MBlock) followed by its data; callers hold the data address
// (for an array block the address 48 bytes further, past the array header). An entity's memory is a
// chain: the first block holds the entity's structure and every block added to the entity is
// inserted directly after the first one, so the blocks follow it newest first. The chain's
// invariant, which writing, loading and duplicating rely on:
//   for every block B with a successor S, B.reference is the address of an 8-byte slot inside the
//   data of some block of the same chain, and that slot holds S's caller address; the last block's
//   reference is 0.
// Every operation here keeps it: inserting takes over the first block's next and reference,
// unlinking hands a block's next and reference to its predecessor, moving a block moves every
// reference into it, and freeing a block frees with it every block whose slot lay inside it (no
// reference is left naming freed memory). A block is independent (flag) while it belongs to no
// chain other than its own: made without an owner, or the first block of a chain.
#include "mda/mda_internal.h"

namespace tesmar::mda {

namespace {

uint32_t read_u32(const char *p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Marks used while dependants are collected: blocks doomed by a free, chained through `next`.
bool in_list(MBlock *list, uint64_t slot) {
  for (MBlock *b = list; b != nullptr; b = next_of(b))
    if (holds_slot(b, slot)) return true;
  return false;
}

}  // namespace

MBlock *block_at(const void *data, bool array) {
  if (data == nullptr) return nullptr;
  const char *h = static_cast<const char *>(data) - kHeader - (array ? kArrayHeader : 0);
  if (read_u32(h + offsetof(MBlock, marker)) != MDA_MBLOCK_MARKER) return nullptr;
  const uint8_t type = static_cast<uint8_t>(h[offsetof(MBlock, type)]);
  if (type != (array ? MDA_MBLOCK_ARRAY : MDA_MBLOCK_PLAIN)) return nullptr;
  if (read_u32(h) < kHeader + (array ? kArrayHeader : 0)) return nullptr;
  return reinterpret_cast<MBlock *>(const_cast<char *>(h));
}

MBlock *owner_block(const void *owner) {
  // Only the first block of a chain carries the independent flag: inserting after any other block
  // would break the chain.
  MBlock *b = block_at(owner, false);
  return b != nullptr && (b->flags & MDA_MBLOCK_INDEPENDENT) != 0 ? b : nullptr;
}

MBlock *block_of_kind(const void *data, bool array) {
  MBlock *b = find_block(data);
  return b != nullptr && b->type == (array ? MDA_MBLOCK_ARRAY : MDA_MBLOCK_PLAIN) ? b : nullptr;
}

MBlock *find_block(const void *data) {
  // 40 bytes before an array's address lies its array header, whose bytes at the marker and type
  // positions are the row count and the low byte of the element offset, a multiple of 8: never
  // the plain type. So the plain header is tried first, and the array header only when it fails.
  MBlock *b = block_at(data, false);
  return b != nullptr ? b : block_at(data, true);
}

MBlock *new_block(uint64_t data_size, uint8_t type) {
  if (data_size > UINT32_MAX - kHeader - 3) return nullptr;
  const uint64_t total = (kHeader + data_size + 3) & ~uint64_t{3};
  auto *b = static_cast<MBlock *>(std::calloc(1, total));
  if (b == nullptr) return nullptr;
  b->size = static_cast<uint32_t>(total);
  b->marker = MDA_MBLOCK_MARKER;
  b->type = type;
  return b;
}

void insert_after_first(MBlock *first, MBlock *b, void *slot) {
  b->reference = first->reference;
  b->next = first->next;
  first->next = reinterpret_cast<uint64_t>(b);
  first->reference = reinterpret_cast<uint64_t>(slot);
  b->flags &= static_cast<uint8_t>(~MDA_MBLOCK_INDEPENDENT);
}

MBlock *predecessor(MBlock *first, MBlock *b) {
  for (MBlock *p = first; p != nullptr; p = next_of(p))
    if (next_of(p) == b) return p;
  return nullptr;
}

void unlink_block(MBlock *pred, MBlock *b) {
  pred->next = b->next;
  pred->reference = b->reference;
  b->next = 0;
  b->reference = 0;
}

void free_dependants_in(MBlock *first, uint64_t lo, uint64_t hi) {
  // Doomed blocks stay allocated, chained through their next fields, until the closure is known:
  // a block is doomed when its slot lies in [lo, hi) or in a doomed block.
  MBlock *doomed = nullptr;
  bool changed = true;
  while (changed) {
    changed = false;
    MBlock *pred = first;
    while (MBlock *x = next_of(pred)) {
      const uint64_t slot = pred->reference;
      if ((slot >= lo && slot < hi) || in_list(doomed, slot)) {
        unlink_block(pred, x);
        x->next = reinterpret_cast<uint64_t>(doomed);
        doomed = x;
        changed = true;
      } else {
        pred = x;
      }
    }
  }
  while (doomed != nullptr) {
    MBlock *next = next_of(doomed);
    std::free(doomed);
    doomed = next;
  }
}

void free_with_dependants(MBlock *first, MBlock *b) {
  free_dependants_in(first, reinterpret_cast<uint64_t>(data_of(b)),
                     reinterpret_cast<uint64_t>(block_end(b)));
  std::free(b);
}

void free_chain(MBlock *first) {
  while (first != nullptr) {
    MBlock *next = next_of(first);
    std::free(first);
    first = next;
  }
}

Result malloc_block(void *owner, uint64_t size, void *slot, void **data) {
  if (slot == nullptr) return MDA_NULL_MEMPTR;
  MBlock *first = nullptr;
  if (owner != nullptr) {
    first = owner_block(owner);
    if (first == nullptr) return bad_block(static_cast<char *>(owner) - kHeader);
  }
  MBlock *b = new_block(size, MDA_MBLOCK_PLAIN);
  if (b == nullptr) return MDA_MALLOC_ERR;
  if (first != nullptr) insert_after_first(first, b, slot);
  else b->flags = MDA_MBLOCK_INDEPENDENT;
  store_address(slot, data_of(b));
  if (data != nullptr) *data = data_of(b);
  return 0;
}

// Moves the plain block `data` into a new block of `size` bytes (see mda_Realloc).
Result realloc_block(void *owner, void *data, uint32_t size, void *slot, void **moved) {
  if (data == nullptr) return MDA_NULL_MEMPTR;
  MBlock *old = block_at(data, false);
  if (old == nullptr) {
    MBlock *array = block_at(data, true);
    return bad_block(array != nullptr ? static_cast<void *>(array)
                                      : static_cast<char *>(data) - kHeader);
  }
  MBlock *first = nullptr;
  if (owner != nullptr) {
    first = owner_block(owner);
    if (first == nullptr) return bad_block(static_cast<char *>(owner) - kHeader);
  } else if (old->next != 0) {
    first = old;  // the first block of a chain of its own
  }
  MBlock *pred = nullptr;
  if (first != nullptr && first != old) {
    pred = predecessor(first, old);
    if (pred == nullptr) return bad_block(old);  // not in the owner's chain
  }
  const uint64_t lo = reinterpret_cast<uint64_t>(data_of(old));
  const uint64_t hi = reinterpret_cast<uint64_t>(block_end(old));
  if (pred != nullptr && pred->reference >= lo && pred->reference < hi)
    return bad_block(old);  // a block cannot hold the slot that chains it
  MBlock *nb = new_block(size, MDA_MBLOCK_PLAIN);
  if (nb == nullptr) return MDA_MALLOC_ERR;

  const uint64_t old_data = old->size - kHeader;
  const uint64_t new_data = nb->size - kHeader;
  // The whole usable size is copied (not only the size asked), so a slot in the bytes that the
  // rounding keeps survives whole.
  std::memcpy(data_of(nb), data_of(old), new_data < old_data ? new_data : old_data);
  nb->flags = old->flags;
  nb->reference = old->reference;
  nb->next = old->next;

  const uint64_t kept = lo + new_data;  // slots at or past it do not survive the move
  const int64_t delta = reinterpret_cast<char *>(nb) - reinterpret_cast<char *>(old);
  if (first != nullptr) {
    MBlock *chain_first = first == old ? nb : first;
    if (pred != nullptr) pred->next = reinterpret_cast<uint64_t>(nb);
    for (MBlock *p = chain_first; p != nullptr; p = next_of(p))
      if (p->reference >= lo && p->reference < hi && p->reference + 8 <= kept)
        p->reference += delta;
    // The slot that chains the new block names it before anything is freed: the predecessor may
    // itself hang from the part that is cut off.
    if (pred != nullptr && pred->reference != 0) store_address(pred->reference, data_of(nb));
    // Blocks whose slots were cut off go, with whatever hangs from them.
    free_dependants_in(chain_first, lo, hi);
  }
  if (slot != nullptr) {
    auto s = reinterpret_cast<uint64_t>(slot);
    if (s < lo || s >= hi) store_address(s, data_of(nb));
    else if (s + 8 <= kept) store_address(s + delta, data_of(nb));
  }
  std::free(old);
  if (moved != nullptr) *moved = data_of(nb);
  return 0;
}

namespace {

Result add_memory(uint32_t options, void *owner, void *data, void *slot) {
  if (owner == nullptr || data == nullptr || slot == nullptr) return MDA_NULL_MEMPTR;
  MBlock *first = owner_block(owner);
  if (first == nullptr) return bad_block(static_cast<char *>(owner) - kHeader);
  const bool array = (options & MDA_ADD_ARRAY) != 0;
  MBlock *b = block_of_kind(data, array);
  if (b == nullptr)
    return bad_block(static_cast<char *>(data) - kHeader - (array ? kArrayHeader : 0));
  if ((b->flags & MDA_MBLOCK_INDEPENDENT) == 0 || b == first || b->next != 0)
    return MDA_NOT_IND_MBLOCK;
  insert_after_first(first, b, slot);
  store_address(slot, user_address(b));
  return 0;
}

}  // namespace

Result free_block(uint32_t options, void *owner, void *data) {
  if (data == nullptr) return MDA_NULL_MEMPTR;
  const bool array = (options & MDA_FREE_ARRAY) != 0;
  MBlock *b = block_of_kind(data, array);
  if (b == nullptr)
    return bad_block(static_cast<char *>(data) - kHeader - (array ? kArrayHeader : 0));
  if (owner == nullptr) {
    if ((options & MDA_FREE_UNLINK) == 0 && (b->flags & MDA_MBLOCK_INDEPENDENT) != 0) free_chain(b);
    return 0;
  }
  MBlock *first = owner_block(owner);
  if (first == nullptr) return bad_block(static_cast<char *>(owner) - kHeader);
  if (b == first) return 0;
  MBlock *pred = predecessor(first, b);
  if (pred == nullptr) return 0;  // not in this chain: left alone
  unlink_block(pred, b);
  if ((options & MDA_FREE_UNLINK) == 0) free_with_dependants(first, b);
  return 0;
}

namespace {

Result memory_size(uint32_t options, const void *data, uint32_t *size) {
  if (size == nullptr) return MDA_NULL_MEMPTR;
  *size = 0;
  if (data == nullptr) return 0;
  if ((options & MDA_SIZE_PLAIN) != 0) {
    MBlock *b = block_at(data, false);
    if (b == nullptr) return bad_block(static_cast<const char *>(data) - kHeader);
    *size = b->size - kHeader;
    return 0;
  }
  // The block's own header tells its kind before anything in front of it is read: a plain block
  // has no array header to read.
  MBlock *b = block_of_kind(data, true);
  if (b == nullptr) return bad_block(static_cast<const char *>(data) - kHeader - kArrayHeader);
  const uint32_t offset = array_header(b)->element_offset;
  if (offset > b->size - kHeader) return bad_block(b);
  *size = b->size - kHeader - offset;
  return 0;
}

}  // namespace

}  // namespace tesmar::mda

using namespace tesmar::mda;

extern "C" {

mpm_Status mda_Malloc(uint32_t, void *owner, uint32_t size, void *slot) {
  return report_chain(malloc_block(owner, size, slot, nullptr), owner);
}

mpm_Status mda_Realloc(uint32_t, void *owner, void *data, uint32_t size, void *slot) {
  void *moved = nullptr;
  const Result result = realloc_block(owner, data, size, slot, &moved);
  // Moving the first block moves the owner: the chain then starts at the new block.
  return report_chain(result, owner == data || owner == nullptr ? moved : owner);
}

mpm_Status mda_AddMemory(uint32_t options, void *owner, void *data, void *slot) {
  return report_chain(add_memory(options, owner, data, slot), owner);
}

mpm_Status mda_Free(uint32_t options, void *owner, void *data) {
  return report_chain(free_block(options, owner, data), owner);
}

mpm_Status mda_FreeAttached(uint32_t, void *owner) {
  if (owner == nullptr) return report(MDA_NULL_MEMPTR);
  MBlock *first = owner_block(owner);
  if (first == nullptr) return report(bad_block(static_cast<char *>(owner) - kHeader));
  free_chain(next_of(first));
  first->next = 0;
  first->reference = 0;
  return report_chain(kOk, owner);
}

mpm_Status mda_FreeEntityMemory(uint32_t, void *memory) {
  if (memory == nullptr) return report(MDA_NULL_MEMPTR);
  MBlock *first = block_at(memory, false);
  if (first == nullptr) return report(bad_block(static_cast<char *>(memory) - kHeader));
  free_chain(first);
  return 0;
}

mpm_Status mda_GetMemorySize(uint32_t options, const void *data, uint32_t *size) {
  return report(memory_size(options, data, size));
}

}  // extern "C"
