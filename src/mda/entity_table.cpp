// The entity table: entity numbers to entity memory and disk locations.
//
// Design. Entity numbers index a two-level table: page number >> 11, slot number & 2047. The page
// array starts with 1024 page pointers and doubles when the next page would not fit, up to 2^37
// pages (entity numbers below 2^48). Invariants:
//   - every number below next_number lies on an allocated page (highest_covered + 1 is a multiple
//     of 2048 and at least next_number), so entry_of() needs no allocation;
//   - numbers at or above next_number were never issued and their entries are never read: every
//     lookup compares with next_number before it touches the table;
//   - the free list runs from free_head through the dloc fields of DELETED entries; 0 ends it
//     (entity 0 is reserved at allocation and never freed).
// issue_number() allocates any page it needs before it advances next_number, so a failure leaves
// the model as it was.
#include <cassert>

#include "mda/mda_internal.h"

namespace tesmar::mda {

namespace {
constexpr uint64_t kPageMask = MDA_PAGE_ENTRIES - 1;

mda_EntityEntry *new_page() {
  return static_cast<mda_EntityEntry *>(std::calloc(MDA_PAGE_ENTRIES, sizeof(mda_EntityEntry)));
}
}  // namespace

mda_EntityEntry *entry_of(mda_ModelRec *rec, uint64_t number) {
  if (rec == nullptr || number >= rec->next_number) return nullptr;
  assert(number <= rec->highest_covered && rec->pages[number >> MDA_PAGE_SHIFT] != nullptr);
  return &rec->pages[number >> MDA_PAGE_SHIFT][number & kPageMask];
}

mda_EntityEntry *lookup(db_ptr ptr, mda_ModelRec **out) {
  mda_ModelRec *rec = model_in_use(model_of(ptr));
  mda_EntityEntry *e = entry_of(rec, number_of(ptr));
  if (out != nullptr) *out = e != nullptr ? rec : nullptr;
  return e;
}

mda_EntityEntry *lookup_valid(db_ptr ptr, mda_ModelRec **out) {
  if (number_of(ptr) == 0) {
    if (out != nullptr) *out = nullptr;
    return nullptr;
  }
  mda_EntityEntry *e = lookup(ptr, out);
  if (e != nullptr && (e->status & (MDA_ENTRY_DELETED | MDA_ENTRY_RESERVED)) == 0) return e;
  if (out != nullptr) *out = nullptr;
  return nullptr;
}

Result create_entity_table(mda_ModelRec *rec) {
  auto **pages =
      static_cast<mda_EntityEntry **>(std::calloc(kInitialPageCapacity, sizeof(mda_EntityEntry *)));
  mda_EntityEntry *first = new_page();
  if (pages == nullptr || first == nullptr) {
    std::free(pages);
    std::free(first);
    return MDA_MALLOC_ERR;
  }
  pages[0] = first;
  rec->pages = pages;
  rec->page_capacity = kInitialPageCapacity;
  rec->highest_covered = MDA_PAGE_ENTRIES - 1;
  rec->next_number = 0;
  rec->free_head = 0;
  rec->live_count = 0;
  return 0;
}

void free_entity_table(mda_ModelRec *rec) {
  if (rec->pages != nullptr) {
    for (uint64_t i = 0; i < rec->page_capacity; ++i) std::free(rec->pages[i]);
    std::free(rec->pages);
  }
  rec->pages = nullptr;
  rec->page_capacity = 0;
  rec->highest_covered = 0;
  rec->next_number = 0;
  rec->free_head = 0;
  rec->live_count = 0;
}

Result issue_number(mda_ModelRec *rec, uint64_t *number) {
  if (rec->free_head != 0) {
    uint64_t n = rec->free_head;
    mda_EntityEntry *e = entry_of(rec, n);
    if (e == nullptr || (e->status & MDA_ENTRY_DELETED) == 0) {
      // The free list no longer names deleted entries.
      return fail(MDA_INTERNAL_ERR).with("mda_ReserveDbPtr");
    }
    rec->free_head = e->dloc;
    *number = n;
    return 0;
  }
  uint64_t n = rec->next_number;
  if (n > kNumberMask) return MDA_NO_MORE_PTR;
  if (n > rec->highest_covered) {
    uint64_t page = (rec->highest_covered + 1) >> MDA_PAGE_SHIFT;
    if (page >= rec->page_capacity) {
      if (rec->page_capacity >= kMaxPageCapacity) return MDA_NO_MORE_PTR;
      uint64_t capacity = rec->page_capacity * 2;
      if (capacity > SIZE_MAX / sizeof(mda_EntityEntry *)) return MDA_REALLOC_ERR;
      auto **pages = static_cast<mda_EntityEntry **>(
          std::realloc(rec->pages, capacity * sizeof(mda_EntityEntry *)));
      if (pages == nullptr) return MDA_REALLOC_ERR;
      std::memset(pages + rec->page_capacity, 0,
                  (capacity - rec->page_capacity) * sizeof(mda_EntityEntry *));
      rec->pages = pages;
      rec->page_capacity = capacity;
    }
    mda_EntityEntry *p = new_page();
    if (p == nullptr) return MDA_MALLOC_ERR;
    rec->pages[page] = p;
    rec->highest_covered += MDA_PAGE_ENTRIES;
  }
  rec->next_number = n + 1;
  *number = n;
  return 0;
}

Result reserve_number(mda_ModelRec *rec, uint64_t *number) {
  uint64_t n = 0;
  Result status = issue_number(rec, &n);
  if (status != 0) return status;
  mda_EntityEntry *e = entry_of(rec, n);
  e->mloc = nullptr;
  e->dloc = memory_only(rec) ? 0 : MDA_NO_DLOC;
  e->tf = TF_NONE;
  e->status = MDA_ENTRY_RESERVED;
  *number = n;
  return 0;
}

void release_number(mda_ModelRec *rec, uint64_t number) {
  mda_EntityEntry *e = entry_of(rec, number);
  if (e == nullptr || number == 0) return;
  e->mloc = nullptr;
  e->status = MDA_ENTRY_DELETED;
  e->dloc = rec->free_head;
  rec->free_head = number;
}

void free_all_entity_memory(mda_ModelRec *rec) {
  if (rec->pages == nullptr) return;
  const bool parked = memory_only(rec);
  for (uint64_t n = 0; n < rec->next_number; ++n) {
    mda_EntityEntry *e = entry_of(rec, n);
    if ((e->status & MDA_ENTRY_DELETED) != 0) continue;
    // A parked image is a chain of its own (loading duplicates it); one that is the memory itself
    // is freed once.
    const bool same = e->dloc == reinterpret_cast<uint64_t>(e->mloc);
    if (e->mloc != nullptr) {
      MBlock *b = block_at(e->mloc, false);
      if (b != nullptr) free_chain(b);
      e->mloc = nullptr;
    }
    if (parked && e->dloc != 0 && (e->status & MDA_ENTRY_RESERVED) == 0 && !same) {
      MBlock *b = block_at(reinterpret_cast<void *>(e->dloc), false);
      if (b != nullptr) free_chain(b);
      e->dloc = 0;
    }
  }
}

}  // namespace tesmar::mda

using namespace tesmar::mda;

extern "C" {

mpm_Status mda_ReserveDbPtr(uint32_t, int32_t model, db_ptr *ptr) {
  if (ptr == nullptr) return report(MDA_NULL_MEMPTR);
  mda_ModelRec *rec = model_in_use(model);
  if (rec == nullptr) return report(MDA_INVALID_MODEL);
  uint64_t n = 0;
  Result status = reserve_number(rec, &n);
  if (status != 0) return report(status);
  *ptr = make_ptr(model, n);
  return 0;
}

}  // extern "C"
