// Entity life cycle: creating, locking, unlocking, deleting, orig handles, type-form changes and
// the callbacks that follow entities.
//
// Design. An entity number is, in turn, never issued, reserved, live or deleted (entity_table.cpp).
// A live entity is:
//   - locked: lock count 1..255 (status bits 16-23) and RWLOCK; its memory is pinned;
//   - unlocked in memory: in the cache (disk-backed models, cache.cpp), or just in memory
//     (memory-only models, or an entity whose eviction could not write it);
//   - not in memory: its image is in the paged file (dloc) or parked (memory-only models).
// NEW lasts from mda_AllocateEntity to the first final unlock, whose created callbacks it
// selects; MODIFIED from a change to the final unlock (modified callbacks); NEEDFLUSH from a change
// until the image is written. Creation takes the number, enters the handle in its type's list and
// only then fills the entry, so a failure gives the number back and leaves nothing. Every change to
// a live entity keeps: live count = entities neither deleted nor reserved; each live entity in the
// list of its type form exactly once.
//
// Callbacks are client code: they may lock, unlock or delete the entity they are called for, or
// others, or change the callback lists (call_callbacks reads no node a callback may have freed and
// calls no callback after its removal). After them the caller looks its entity up again and stops
// when it was deleted, replaced or locked meanwhile; an entity whose deletion has begun cannot be
// deleted again from its own deleted callbacks. Frames that call callbacks or issue messages hold
// no objects with destructors.
#include "ddf/ddf_internal.h"
#include "mda/mda_internal.h"
#include "tesmar/dof.h"

namespace tesmar::mda {

namespace {

constexpr uint32_t kFirstLock = uint32_t{1} << MDA_ENTRY_LOCK_SHIFT;

void set_lock_count(mda_EntityEntry *e, uint32_t count) {
  e->status = (e->status & ~MDA_ENTRY_LOCK_MASK) | (count << MDA_ENTRY_LOCK_SHIFT);
}

uint64_t no_dloc(const mda_ModelRec *rec) { return memory_only(rec) ? 0 : MDA_NO_DLOC; }

// The entry of `ptr` when it is still the live entity whose memory is `memory`; null after a
// callback deleted or replaced it (or freed its model).
mda_EntityEntry *still(db_ptr ptr, const void *memory, mda_ModelRec **rec) {
  mda_EntityEntry *e = lookup_valid(ptr, rec);
  return e != nullptr && e->mloc == memory ? e : nullptr;
}

// The TFI of a type form in a schema whose structure can hold an entity header.
Result tfi_for(const ddf_Schema *schema, uint32_t tf, int32_t *tfi) {
  *tfi = tesmar::ddf::lookup_tfi(schema, tf);
  if (*tfi < 0) return MDA_TF_NOT_IN_DDF;
  if (schema->ent_sizes == nullptr || schema->ent_sizes[*tfi] < sizeof(mda_EntityHeader))
    return MDA_INVALID_ARG;
  return 0;
}

uint64_t rounded(uint64_t size) { return (size + 3) & ~uint64_t{3}; }

// A number taken for a new entity, and what giving it back needs.
struct Taken {
  uint64_t number;
  bool reserved;        // the caller's reserved number
  bool from_free_list;  // issued from the free list (else the next number)
};

Result take_number(mda_ModelRec *rec, uint32_t options, db_ptr given, Taken *out) {
  *out = Taken{};
  if ((options & MDA_USE_RESERVED) == 0) {
    const uint64_t head = rec->free_head;
    Result status = issue_number(rec, &out->number);
    out->from_free_list = head != 0 && out->number == head;
    return status;
  }
  const uint64_t n = number_of(given);
  if (model_of(given) != number_of(rec) || n == 0 || n >= rec->next_number)
    return MDA_INVALID_PTR;
  if (entry_of(rec, n)->status != MDA_ENTRY_RESERVED) {
    return fail(MDA_PTR_ALREADY_CREATED).with(given);
  }
  out->number = n;
  out->reserved = true;
  return 0;
}

// Undoes take_number: a reserved number is reserved again, a number from the free list goes back
// on it, the next number is issued again.
void give_back(mda_ModelRec *rec, const Taken &taken) {
  mda_EntityEntry *e = entry_of(rec, taken.number);
  if (taken.reserved) {
    *e = mda_EntityEntry{nullptr, no_dloc(rec), TF_NONE, MDA_ENTRY_RESERVED};
  } else if (taken.from_free_list) {
    *e = mda_EntityEntry{nullptr, rec->free_head, 0, MDA_ENTRY_DELETED};
    rec->free_head = taken.number;
  } else {
    *e = mda_EntityEntry{};
    rec->next_number = taken.number;
  }
}

// Enters memory under a number: type list, entry, live count. On failure the number goes back.
Result enter(mda_ModelRec *rec, const Taken &taken, int32_t tfi, uint32_t tf, void *memory,
                 uint32_t status_bits, db_ptr *ptr) {
  const db_ptr p = make_ptr(number_of(rec), taken.number);
  Result status = add_to_type_list(rec->type_lists, tfi, p);
  if (status != 0) {
    give_back(rec, taken);
    return status;
  }
  *entry_of(rec, taken.number) = mda_EntityEntry{memory, no_dloc(rec), tf, status_bits};
  ++rec->live_count;
  *ptr = p;
  return 0;
}

// What follows a final unlock once the callbacks are done: the entity is written at once in a
// model without delayed write, and enters the cache of a disk-backed model.
Result settle(mda_ModelRec *rec, mda_EntityEntry *e, db_ptr ptr) {
  if ((rec->options & MDA_NO_DELAYED_WRITE) != 0) {
    Result status = write_entity(rec, e, true);
    if (status != 0) return status;
  }
  e->status &= ~MDA_ENTRY_MODIFIED;
  return cache_enter(rec, e, ptr);
}

// The final unlock of an entity whose lock count has just reached 0.
Result finish_unlock(mda_ModelRec *rec, mda_EntityEntry *e, db_ptr ptr, uint32_t options) {
  void *memory = e->mloc;
  if ((e->status & (MDA_ENTRY_NEW | MDA_ENTRY_MODIFIED)) != 0) {
    const int32_t kind =
        (e->status & MDA_ENTRY_NEW) != 0 ? MDA_CALLBACK_CREATED : MDA_CALLBACK_MODIFIED;
    // Cleared first: a callback that locks and unlocks the entity does not see them again.
    e->status &= ~(MDA_ENTRY_NEW | MDA_ENTRY_MODIFIED);
    db_ptr handle = ptr;
    call_callbacks(rec, kind, &handle);
    e = still(ptr, memory, &rec);
    if (e == nullptr || lock_count(e->status) != 0) return 0;  // deleted or locked meanwhile
  }
  e->status &= ~MDA_ENTRY_RWLOCK;
  if ((options & MDA_DELETE) != 0) return delete_entity(0, ptr);
  if ((options & MDA_CHECK) != 0) {
    Result status = check_chain(memory);
    if (status != 0) return status;
  }
  if ((e->status & MDA_ENTRY_INVALID) != 0) {
    e->status &= ~MDA_ENTRY_INVALID;
    // An entity never stored keeps its image: it is the only copy.
    if (stored(rec, e)) {
      if (MBlock *first = block_at(memory, false)) free_chain(first);
      e->mloc = nullptr;
      e->status &= ~(MDA_ENTRY_MODIFIED | MDA_ENTRY_NEEDFLUSH);
      return 0;
    }
  }
  return settle(rec, e, ptr);
}

// New memory for an entity of type form `tf` of a model: the header with the handle (model, 0),
// and with MDA_SET_DEFAULTS the fields' defaults (the walk issues its own failures).
Result new_entity_memory(uint32_t options, mda_ModelRec *rec, uint32_t tf, int32_t *tfi,
                         MBlock **out) {
  *out = nullptr;
  Result status = tfi_for(rec->schema, tf, tfi);
  if (status != 0) return status;
  MBlock *b = new_block(rec->schema->ent_sizes[*tfi], MDA_MBLOCK_PLAIN);
  if (b == nullptr) return MDA_MALLOC_ERR;
  b->flags = MDA_MBLOCK_INDEPENDENT;
  const db_ptr unentered = make_ptr(number_of(rec), 0);
  *reinterpret_cast<mda_EntityHeader *>(data_of(b)) =
      mda_EntityHeader{tf, static_cast<uint32_t>(*tfi), unentered, unentered};
  if ((options & MDA_SET_DEFAULTS) != 0) {
    status = Failure::issued(mda_SetFieldDefaults(0, data_of(b)));
    if (status != 0) {
      free_chain(b);
      return status;
    }
  }
  *out = b;
  return 0;
}

// new_entity_memory for a model given by number.
Result memory_for_model(uint32_t options, int32_t model, uint32_t tf, mda_ModelRec **rec,
                        int32_t *tfi, MBlock **out) {
  *rec = model_in_use(model);
  if (*rec == nullptr) return MDA_INVALID_MODEL;
  return new_entity_memory(options, *rec, tf, tfi, out);
}

Result allocate_entity(uint32_t options, int32_t model, uint32_t tf, void **memory,
                       db_ptr *ptr) {
  if (memory != nullptr) *memory = nullptr;
  if (ptr == nullptr || (memory == nullptr && (options & MDA_UNLOCKED) == 0))
    return MDA_NULL_MEMPTR;
  mda_ModelRec *rec = nullptr;
  int32_t tfi = -1;
  MBlock *b = nullptr;
  Result status = memory_for_model(options, model, tf, &rec, &tfi, &b);
  if (status != 0) return status;
  Taken taken;
  status = take_number(rec, options, *ptr, &taken);
  if (status == 0) status = enter(rec, taken, tfi, tf, data_of(b), MDA_ENTRY_NEW, ptr);
  if (status != 0) {
    free_chain(b);
    return status;
  }
  auto *h = reinterpret_cast<mda_EntityHeader *>(data_of(b));
  h->ptr = *ptr;
  h->orig_ptr = *ptr;
  mda_EntityEntry *e = entry_of(rec, taken.number);
  if ((options & MDA_UNLOCKED) == 0) {
    e->status |= MDA_ENTRY_RWLOCK | MDA_ENTRY_MODIFIED | MDA_ENTRY_NEEDFLUSH | kFirstLock;
    *memory = data_of(b);
    return 0;
  }
  e->status |= MDA_ENTRY_NEEDFLUSH;
  if (memory != nullptr) *memory = data_of(b);
  return finish_unlock(rec, e, *ptr, 0);
}

Result malloc_entity(uint32_t options, int32_t model, uint32_t tf, void **memory) {
  if (memory == nullptr) return MDA_NULL_MEMPTR;
  *memory = nullptr;
  mda_ModelRec *rec = nullptr;
  int32_t tfi = -1;
  MBlock *b = nullptr;
  Result status = memory_for_model(options, model, tf, &rec, &tfi, &b);
  if (status != 0) return status;
  *memory = data_of(b);
  return 0;
}

Result set_entity_tf(void *memory, uint32_t tf) {
  MBlock *first = nullptr;
  Result status = entity_block(memory, &first);
  if (status != 0) return status;
  auto *h = static_cast<mda_EntityHeader *>(memory);
  mda_ModelRec *rec = model_in_use(model_of(h->ptr));
  if (rec == nullptr) return MDA_INVALID_MODEL;
  int32_t tfi = -1;
  status = tfi_for(rec->schema, tf, &tfi);
  if (status != 0) return status;
  if (rec->schema->ent_sizes[tfi] > first->size - kHeader) return MDA_INVALID_ARG;
  mda_EntityEntry *e = nullptr;
  if (number_of(h->ptr) != 0) {
    e = lookup_valid(h->ptr);
    if (e == nullptr || e->mloc != memory) return MDA_INVALID_PTR;
    if ((e->status & MDA_ENTRY_RWLOCK) == 0) return MDA_NOT_RWLOCKED;
    const int32_t old_tfi = tesmar::ddf::lookup_tfi(rec->schema, e->tf);
    if (old_tfi != tfi) {
      if (old_tfi >= 0) remove_from_type_list(rec->type_lists, old_tfi, h->ptr);
      // The handle's links record exists (it was listed): adding cannot run out of memory.
      status = add_to_type_list(rec->type_lists, tfi, h->ptr);
      if (status != 0) return status;
    }
    e->tf = tf;
    e->status |= MDA_ENTRY_MODIFIED | MDA_ENTRY_NEEDFLUSH;
  }
  h->tf = tf;
  h->tfi = static_cast<uint32_t>(tfi);
  return 0;
}

Result set_callback(int32_t model, int32_t kind, mda_EntityCallback function) {
  mda_ModelRec *rec = model_in_use(model);
  if (rec == nullptr) return MDA_INVALID_MODEL;
  if (kind < 0 || kind > 3) return MDA_INVALID_ARG;
  if (function == nullptr) return MDA_NULL_MEMPTR;
  auto *node = static_cast<mda_CallbackNode *>(std::malloc(sizeof(mda_CallbackNode)));
  if (node == nullptr) return MDA_MALLOC_ERR;
  *node = mda_CallbackNode{function, nullptr};
  mda_CallbackNode **at = &rec->callbacks[kind];
  while (*at != nullptr) at = &(*at)->next;
  *at = node;
  return 0;
}

Result clear_callback(int32_t model, int32_t kind, mda_EntityCallback function) {
  mda_ModelRec *rec = model_in_use(model);
  if (rec == nullptr) return MDA_INVALID_MODEL;
  if (kind < 0 || kind > 3) return MDA_INVALID_ARG;
  for (mda_CallbackNode **at = &rec->callbacks[kind]; *at != nullptr; at = &(*at)->next) {
    if ((*at)->function != function) continue;
    mda_CallbackNode *node = *at;
    *at = node->next;
    std::free(node);
    return 0;
  }
  return MDA_CALLBACK_NOT_FOUND;
}

}  // namespace

// The first block of entity memory, which must hold an entity header.
Result entity_block(void *memory, MBlock **first) {
  if (memory == nullptr) return MDA_NULL_MEMPTR;
  *first = block_at(memory, false);
  if (*first == nullptr || (*first)->size - kHeader < sizeof(mda_EntityHeader))
    return bad_block(static_cast<char *>(memory) - kHeader);
  return 0;
}

Result create_entity(uint32_t options, void *memory, db_ptr *ptr) {
  if (ptr == nullptr) return MDA_NULL_MEMPTR;
  MBlock *first = nullptr;
  Result status = entity_block(memory, &first);
  if (status != 0) return status;
  if ((first->flags & MDA_MBLOCK_INDEPENDENT) == 0) return MDA_NOT_IND_MBLOCK;
  auto *h = static_cast<mda_EntityHeader *>(memory);
  mda_ModelRec *rec = model_in_use(model_of(h->ptr));
  if (rec == nullptr) return MDA_INVALID_MODEL;
  if (number_of(h->ptr) != 0) {  // the memory of an entity already entered
    return fail(MDA_PTR_ALREADY_CREATED).with(h->ptr);
  }
  // The memory may come from a model of another schema: the type form must be in this one, with a
  // structure of the size the memory was made for.
  int32_t tfi = -1;
  status = tfi_for(rec->schema, h->tf, &tfi);
  if (status != 0) return status;
  if (rounded(rec->schema->ent_sizes[tfi]) != first->size - kHeader) return MDA_INVALID_ARG;
  Taken taken;
  status = take_number(rec, options, *ptr, &taken);
  const bool locked = (options & MDA_CREATE_LOCKED) != 0;
  const uint32_t bits = locked ? MDA_ENTRY_RWLOCK | MDA_ENTRY_MODIFIED | MDA_ENTRY_NEEDFLUSH |
                                     kFirstLock
                               : MDA_ENTRY_NEEDFLUSH;
  if (status == 0) status = enter(rec, taken, tfi, h->tf, memory, bits, ptr);
  if (status != 0) return status;
  const db_ptr p = *ptr;
  h->tfi = static_cast<uint32_t>(tfi);
  if (number_of(h->orig_ptr) == 0) h->orig_ptr = p;
  h->ptr = p;
  db_ptr handle = p;
  call_callbacks(rec, MDA_CALLBACK_CREATED, &handle);
  mda_EntityEntry *e = still(p, memory, &rec);
  if (e == nullptr) return 0;
  if ((options & MDA_ADD_BACKPTRS) != 0 && holds_pointers(rec, h->tf)) {
    // Its memory is at hand and it is not in the cache yet: walked without a lock. A failure is
    // returned once the entity is settled all the same.
    status = add_memory_back_ptrs(memory, p);
  }
  if (locked || lock_count(e->status) != 0) return status;
  const Result settled = settle(rec, e, p);
  return status != 0 ? status : settled;
}

void call_callbacks(mda_ModelRec *rec, int32_t kind, db_ptr *handle) {
  // The functions are taken 32 at a time from the list as it stands; each is called only if it is
  // still in the list then (a callback may clear another), so none is called twice or after its
  // removal, and no node is read after a callback could have freed it.
  constexpr std::size_t kBatch = 32;
  for (std::size_t start = 0;; start += kBatch) {
    mda_EntityCallback batch[kBatch];
    std::size_t n = 0;
    mda_CallbackNode *node = rec->callbacks[kind];
    for (std::size_t i = 0; i < start && node != nullptr; ++i) node = node->next;
    for (; node != nullptr && n < kBatch; node = node->next) batch[n++] = node->function;
    for (std::size_t i = 0; i < n; ++i) {
      if (rec->in_use == 0) return;  // a callback freed the model
      bool listed = false;
      for (node = rec->callbacks[kind]; node != nullptr && !listed; node = node->next)
        listed = node->function == batch[i];
      if (listed) batch[i](kind, handle);
    }
    if (n < kBatch) return;
  }
}

Result lock_entity(db_ptr ptr, void **memory) {
  if (memory != nullptr) *memory = nullptr;
  mda_ModelRec *rec = nullptr;
  mda_EntityEntry *e = lookup_valid(ptr, &rec);
  if (e == nullptr) return MDA_INVALID_PTR;
  const uint32_t count = lock_count(e->status);
  if (count == kMaxLocks) return MDA_TOO_MANY_LOCKS;
  if (e->mloc != nullptr) {
    if (count == 0) cache_forget(rec, e, ptr);
  } else {
    Result status = load_entity(rec, e, ptr);
    if (status != 0) return status;
  }
  e->status |= MDA_ENTRY_RWLOCK;
  set_lock_count(e, count + 1);
  if (memory != nullptr) *memory = e->mloc;
  return 0;
}

Result unlock_entity(uint32_t options, db_ptr ptr) {
  mda_ModelRec *rec = nullptr;
  mda_EntityEntry *e = lookup_valid(ptr, &rec);
  if (e == nullptr) return MDA_INVALID_PTR;
  if ((options & MDA_MODIFIED) != 0) e->status |= MDA_ENTRY_MODIFIED | MDA_ENTRY_NEEDFLUSH;
  if ((options & MDA_INVALIDATE) != 0) {
    if ((rec->options & MDA_NO_DELAYED_WRITE) == 0) return MDA_NOLONGER_SUPPORTED;
    e->status |= MDA_ENTRY_INVALID;
  }
  const uint32_t count = lock_count(e->status);
  if (count == 0) return 0;
  const uint32_t left = (options & MDA_FULL_UNLOCK) != 0 ? 0 : count - 1;
  set_lock_count(e, left);
  if (left != 0) return 0;
  return finish_unlock(rec, e, ptr, options);
}

Result delete_entity(uint32_t options, db_ptr ptr) {
  mda_ModelRec *rec = nullptr;
  mda_EntityEntry *e = lookup_valid(ptr, &rec);
  if (e == nullptr) return MDA_INVALID_PTR;
  if ((e->status & kDeleting) != 0) return 0;  // called from its own deleted callbacks
  const uint64_t n = number_of(ptr);
  if (rec->back_ptrs != 0 && (options & MDA_ALLOW_PARENTS) == 0 &&
      read_back_ptr(rec, n).kind != MDA_PARENTS_NONE)
    return MDA_HAS_PARENTS;
  if (rec->back_ptrs != 0 && (options & MDA_KEEP_BACKPTRS) == 0) {
    // It leaves the parent lists of the entities it points to (locking it may run callbacks).
    if (Result s = delete_child_back_ptrs(ptr); s != 0) return s;
    e = lookup_valid(ptr, &rec);
    if (e == nullptr || (e->status & kDeleting) != 0) return 0;
  }
  e->status |= kDeleting;
  db_ptr handle = ptr;
  call_callbacks(rec, MDA_CALLBACK_DELETED, &handle);
  // A callback may have locked it (even loaded it): it is deleted all the same. Only a model freed
  // or a handle replaced meanwhile ends the deletion here.
  e = lookup_valid(ptr, &rec);
  if (e == nullptr) return 0;

  const bool keep_record = (options & (MDA_KEEP_BACKPTRS | MDA_KEEP_PARENT_RECORD)) != 0;
  if (!keep_record) free_parent_list(read_back_ptr(rec, n));  // the record is cleared below
  mpm_Status cleanup = 0;
  if (memory_only(rec)) {
    if (e->dloc != 0 && e->dloc != reinterpret_cast<uint64_t>(e->mloc))
      if (MBlock *parked = block_at(reinterpret_cast<void *>(e->dloc), false)) free_chain(parked);
  } else if (e->dloc != MDA_NO_DLOC) {
    cleanup = dof_FreeBlock(rec->file, static_cast<int64_t>(e->dloc));
    e = lookup_valid(ptr, &rec);  // the refusal was issued: handlers ran
    if (e == nullptr) return cleanup;
  }
  if (e->mloc != nullptr) {
    cache_forget(rec, e, ptr);
    if ((options & MDA_KEEP_MEMORY) == 0)
      if (MBlock *first = block_at(e->mloc, false)) free_chain(first);
    e->mloc = nullptr;
  }
  const int32_t tfi = tesmar::ddf::lookup_tfi(rec->schema, e->tf);
  if (tfi >= 0) remove_from_type_list(rec->type_lists, tfi, ptr);
  --rec->live_count;
  clear_records(number_of(rec), n, keep_record ? rec->back_ptr_table : nullptr);
  if ((options & MDA_USE_RESERVED) != 0)
    *e = mda_EntityEntry{nullptr, no_dloc(rec), TF_NONE, MDA_ENTRY_RESERVED};
  else
    release_number(rec, n);
  return cleanup;
}

}  // namespace tesmar::mda

using namespace tesmar::mda;

extern "C" {

mpm_Status mda_AllocateEntity(uint32_t options, int32_t model, uint32_t tf, void **memory,
                              db_ptr *ptr) {
  return report(allocate_entity(options, model, tf, memory, ptr));
}

mpm_Status mda_MallocEntity(uint32_t options, int32_t model, uint32_t tf, void **memory) {
  return report(malloc_entity(options, model, tf, memory));
}

mpm_Status mda_CreateEntity(uint32_t options, void *memory, db_ptr *ptr) {
  return report(create_entity(options, memory, ptr));
}

mpm_Status mda_LockEntity(uint32_t, db_ptr ptr, void **memory) {
  return report(lock_entity(ptr, memory));
}

mpm_Status mda_UnlockEntity(uint32_t options, db_ptr ptr) {
  return report(unlock_entity(options, ptr));
}

mpm_Status mda_MarkModified(uint32_t, db_ptr ptr) {
  mda_EntityEntry *e = lookup_valid(ptr);
  if (e == nullptr) return report(MDA_INVALID_PTR);
  if ((e->status & MDA_ENTRY_RWLOCK) == 0) return report(MDA_NOT_RWLOCKED);
  e->status |= MDA_ENTRY_MODIFIED | MDA_ENTRY_NEEDFLUSH;
  return 0;
}

mpm_Status mda_DeleteEntity(uint32_t options, db_ptr ptr) {
  return report(delete_entity(options, ptr));
}

mpm_Status mda_GetOrigPtr(uint32_t, db_ptr ptr, db_ptr *orig) {
  if (orig == nullptr) return report(MDA_NULL_MEMPTR);
  *orig = 0;
  void *memory = nullptr;
  Result status = lock_entity(ptr, &memory);
  if (status != 0) return report(status);
  *orig = static_cast<mda_EntityHeader *>(memory)->orig_ptr;
  return report(unlock_entity(0, ptr));
}

mpm_Status mda_SetOrigPtr(uint32_t options, void *memory, db_ptr orig) {
  MBlock *first = nullptr;
  Result status = entity_block(memory, &first);
  if (status != 0) return report(status);
  auto *h = static_cast<mda_EntityHeader *>(memory);
  if ((options & MDA_ORIG_ALWAYS) != 0 || h->orig_ptr == h->ptr) h->orig_ptr = orig;
  return 0;
}

mpm_Status mda_SetOrigPtrOfEntity(uint32_t options, db_ptr ptr, db_ptr orig) {
  void *memory = nullptr;
  Result status = lock_entity(ptr, &memory);
  if (status != 0) return report(status);
  auto *h = static_cast<mda_EntityHeader *>(memory);
  if ((options & MDA_ORIG_ALWAYS) != 0 || h->orig_ptr == h->ptr) h->orig_ptr = orig;
  return report(unlock_entity(MDA_MODIFIED, ptr));
}

mpm_Status mda_SetEntityTF(void *memory, uint32_t tf) { return report(set_entity_tf(memory, tf)); }

mpm_Status mda_SetCallback(uint32_t, int32_t model, int32_t kind, mda_EntityCallback function) {
  return report(set_callback(model, kind, function));
}

mpm_Status mda_ClearCallback(uint32_t, int32_t model, int32_t kind,
                             mda_EntityCallback function) {
  return report(clear_callback(model, kind, function));
}

}  // extern "C"
