// The invariants of entity memory and of the entity cache, checked.
//
// A chain of memory blocks (blocks.cpp): every block carries the marker; each block but the last
// has a `reference`, the address of a slot that holds the address of its successor's data; the
// last block's reference is 0. A chain that can be written, read and copied as a unit also has
// every such slot inside one of its own blocks; a client may break that (a slot of its own), and
// the operations that need it refuse the chain then, so the library's own check leaves it out; an array block's header
// names its own address, its row pointers point into the next level's table and, at the last
// level, into the element area, which starts where the tables end.
//
// The cache of a disk-backed model (cache.cpp): one list through every entry from `lru` to `mru`,
// linked both ways; an occupied entry names a live entity that is in memory, unlocked, and whose
// status names that entry.
//
// The library checks a chain after every operation that changed it and the cache after every
// change of its list, in builds without NDEBUG; the tests call the same checkers.
#include <cstdio>

#include "mda/mda_internal.h"
#include "mda/work_list.h"

namespace tesmar::mda {
namespace {

constexpr std::size_t kLongestChain = 100000;  // a longer chain is taken to be a cycle
constexpr std::size_t kSlotSearchLimit = 1024; // reference look-ups are quadratic beyond

char g_fault[160];

const char *fault(const char *format, long a = 0, long b = 0) {
  std::snprintf(g_fault, sizeof g_fault, format, a, b);
  return g_fault;
}

uint64_t read_word(uint64_t address) {
  uint64_t v;
  std::memcpy(&v, reinterpret_cast<const void *>(address), sizeof v);
  return v;
}

const char *array_fault(MBlock *b) {
  const mda_ArrayHeader *ah = array_header(b);
  if (ah->self != reinterpret_cast<uint64_t>(ah)) return "array header address is stale";
  const int k = ah->ndims;
  if (k < 2 || k > MDA_MAX_DIMS) return fault("array of %ld dimensions", k);
  const char *table = reinterpret_cast<const char *>(ah) + MDA_ARRAY_HEADER_SIZE;
  const char *elements = reinterpret_cast<const char *>(ah) + ah->element_offset;
  uint64_t count = 1;
  for (int level = 0; level < k - 1; ++level) {
    count *= ah->dims[level];
    const char *next = table + count * 8;
    const bool last = level == k - 2;
    const uint64_t step = last ? ah->dims[k - 1] * ah->element_size : ah->dims[level + 1] * 8;
    const char *target = last ? elements : next;
    for (uint64_t j = 0; j < count; ++j)
      if (read_word(reinterpret_cast<uint64_t>(table + 8 * j)) !=
          reinterpret_cast<uint64_t>(target + j * step))
        return fault("row pointer %ld of level %ld is wrong", static_cast<long>(j), level);
    table = next;
  }
  if (elements != table) return "the element area does not start where the tables end";
  return nullptr;
}

const char *chain_blocks_fault(WorkList<MBlock *, 16> &blocks, const void *owner,
                               bool slots_inside) {
  for (MBlock *b = header_of(owner); b != nullptr; b = next_of(b)) {
    if (blocks.count >= kLongestChain) return "the chain has a cycle";
    if (!blocks.push(b)) return nullptr;  // no memory to check with
  }
  const std::size_t n = blocks.count;
  for (std::size_t i = 0; i < n; ++i) {
    MBlock *b = blocks.items[i];
    if (b->marker != MDA_MBLOCK_MARKER) return fault("block %ld has no marker", static_cast<long>(i));
    if (b->type == MDA_MBLOCK_ARRAY)
      if (const char *f = array_fault(b)) return f;
    if (i + 1 == n) {
      if (b->reference != 0) return "the last block has a reference";
      break;
    }
    if (slots_inside && n <= kSlotSearchLimit) {
      bool inside = false;
      for (std::size_t j = 0; j < n && !inside; ++j) inside = holds_slot(blocks.items[j], b->reference);
      if (!inside) return fault("reference of block %ld lies in no block", static_cast<long>(i));
    }
    if (read_word(b->reference) != reinterpret_cast<uint64_t>(user_address(blocks.items[i + 1])))
      return fault("reference of block %ld does not name its successor", static_cast<long>(i));
  }
  return nullptr;
}

}  // namespace

const char *chain_fault(const void *owner, bool slots_inside) {
  WorkList<MBlock *, 16> blocks;
  blocks.init();
  const char *found = chain_blocks_fault(blocks, owner, slots_inside);
  blocks.release();
  return found;
}

const char *cache_fault(const mda_ModelRec *rec) {
  if (rec->cache == nullptr) return nullptr;
  uint16_t previous = MDA_CACHE_NONE;
  int32_t count = 0;
  for (uint16_t i = rec->lru; i != MDA_CACHE_NONE; i = rec->cache[i].next) {
    if (i >= rec->cache_size || ++count > rec->cache_size) return "the cache list loops";
    const mda_CacheEntry &c = rec->cache[i];
    if (c.previous != previous) return fault("cache entry %ld has a wrong back link", i);
    previous = i;
    if (c.ptr == 0) continue;
    const mda_EntityEntry *e = lookup_valid(c.ptr);
    if (e == nullptr) return fault("cache entry %ld names no live entity", i);
    if (e->mloc == nullptr) return "a cached entity is not in memory";
    if (lock_count(e->status) != 0 || (e->status & MDA_ENTRY_RWLOCK) != 0)
      return "a cached entity is locked";
    if ((e->status & MDA_ENTRY_CACHE_MASK) != i) return "a cached entity names another entry";
  }
  if (previous != rec->mru) return "the cache list does not end at the most recently used entry";
  if (count != rec->cache_size) return "the cache list misses entries";
  return nullptr;
}

}  // namespace tesmar::mda
