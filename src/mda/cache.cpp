// The cache table of a disk-backed model: the list the entity cache keeps its unlocked entities in.
//
// Design. A table of cache-size entries {handle, previous, next} forms one doubly linked list by
// index, from the least recently used entry (rec->lru, the head) to the most recently used one
// (rec->mru, the tail); MDA_CACHE_NONE ends it both ways. An entry is empty (handle 0) or names an
// unlocked entity whose memory stays in memory; empty entries are moved to the head so that they
// are reused first. A memory-only model has no table and both ends are MDA_CACHE_NONE.
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

}  // namespace tesmar::mda
