// The cache table of a disk-backed model: the list the entity cache keeps its unlocked entities in.
//
// Design. A table of cache-size entries {handle, previous, next} forms one doubly linked list by
// index, from the least recently used entry (rec->lru, the head) to the most recently used one
// (rec->mru, the tail); MDA_CACHE_NONE ends it both ways. An entry is empty (handle 0) or names an
// unlocked entity whose memory stays in memory; empty entries are moved to the head so that they
// are reused first. A memory-only model has no table and both ends are MDA_CACHE_NONE.
//
// Entities and the cache: an entity sits in the cache exactly when it is unlocked, in memory, and
// the entry named by the low byte of its status holds its handle (the low byte alone may be stale,
// so both are checked). A final unlock puts it in the head entry, whose occupant leaves memory
// first (written when its image differs from the stored one), and moves that entry to the tail;
// locking, deleting or writing it out takes it out again, its entry going to the head. Locked
// entities are never in the cache, so nothing in the cache is in use.
#include <cassert>

#include "mda/mda_internal.h"

namespace tesmar::mda {

namespace {
void chain(mda_CacheEntry *cache, int32_t size) {
  for (int32_t i = 0; i < size; ++i) {
    cache[i].ptr = 0;
    cache[i].previous = i == 0 ? MDA_CACHE_NONE : static_cast<uint16_t>(i - 1);
    cache[i].next = i == size - 1 ? MDA_CACHE_NONE : static_cast<uint16_t>(i + 1);
    cache[i].reserved = 0;
  }
}

void unlink(mda_ModelRec *rec, uint16_t i) {
  mda_CacheEntry &e = rec->cache[i];
  if (e.previous != MDA_CACHE_NONE) rec->cache[e.previous].next = e.next;
  else rec->lru = e.next;
  if (e.next != MDA_CACHE_NONE) rec->cache[e.next].previous = e.previous;
  else rec->mru = e.previous;
  e.previous = MDA_CACHE_NONE;
  e.next = MDA_CACHE_NONE;
}
}  // namespace

mda_CacheEntry *create_cache(int32_t size) {
  if (size <= 0 || size >= static_cast<int32_t>(MDA_CACHE_NONE)) return nullptr;
  auto *cache = static_cast<mda_CacheEntry *>(std::calloc(size, sizeof(mda_CacheEntry)));
  if (cache != nullptr) chain(cache, size);
  return cache;
}

void reset_cache_table(mda_ModelRec *rec) {
  if (rec->cache == nullptr || rec->cache_size <= 0) {
    rec->lru = MDA_CACHE_NONE;
    rec->mru = MDA_CACHE_NONE;
    return;
  }
  chain(rec->cache, rec->cache_size);
  rec->lru = 0;
  rec->mru = static_cast<uint16_t>(rec->cache_size - 1);
}

void cache_move_to_head(mda_ModelRec *rec, uint16_t i) {
  assert(rec->cache != nullptr && i < rec->cache_size);
  if (rec->lru == i) return;
  unlink(rec, i);
  mda_CacheEntry &e = rec->cache[i];
  e.next = rec->lru;
  if (rec->lru != MDA_CACHE_NONE) rec->cache[rec->lru].previous = i;
  else rec->mru = i;
  rec->lru = i;
}

void cache_move_to_tail(mda_ModelRec *rec, uint16_t i) {
  assert(rec->cache != nullptr && i < rec->cache_size);
  if (rec->mru == i) return;
  unlink(rec, i);
  mda_CacheEntry &e = rec->cache[i];
  e.previous = rec->mru;
  if (rec->mru != MDA_CACHE_NONE) rec->cache[rec->mru].next = i;
  else rec->lru = i;
  rec->mru = i;
}

namespace {

// Makes the occupant of a cache entry leave memory.
Result evict(mda_ModelRec *rec, db_ptr victim) {
  mda_EntityEntry *v = lookup_valid(victim);
  if (v == nullptr || v->mloc == nullptr || lock_count(v->status) != 0) return 0;
  if ((v->status & MDA_ENTRY_NEEDFLUSH) != 0 || !stored(rec, v))
    return write_entity(rec, v, false);
  if (MBlock *first = block_at(v->mloc, false)) free_chain(first);
  v->mloc = nullptr;
  return 0;
}

}  // namespace

void cache_forget(mda_ModelRec *rec, mda_EntityEntry *e, db_ptr ptr) {
  if (rec->cache == nullptr) return;
  const uint32_t i = e->status & MDA_ENTRY_CACHE_MASK;
  if (i >= static_cast<uint32_t>(rec->cache_size) || rec->cache[i].ptr != ptr) return;
  rec->cache[i].ptr = 0;
  cache_move_to_head(rec, static_cast<uint16_t>(i));
  TESMAR_CHECK_INVARIANT(cache_fault(rec));
}

Result cache_enter(mda_ModelRec *rec, mda_EntityEntry *e, db_ptr ptr) {
  if (rec->cache == nullptr || rec->lru == MDA_CACHE_NONE) return 0;
  const uint16_t i = rec->lru;
  const db_ptr victim = rec->cache[i].ptr;
  Result status = 0;
  if (victim != 0 && victim != ptr) status = evict(rec, victim);
  // A victim that could not be written stays in memory, outside the cache: nothing is lost, and
  // locking it again finds it there.
  rec->cache[i].ptr = ptr;
  cache_move_to_tail(rec, i);
  e->status = (e->status & ~MDA_ENTRY_CACHE_MASK) | i;
  TESMAR_CHECK_INVARIANT(cache_fault(rec));
  return status;
}

}  // namespace tesmar::mda
