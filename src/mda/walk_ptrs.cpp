// Operations that walk an entity's pointer fields: back pointers for its children, re-pointing the
// parents of an entity, rebuilding a model's back pointers, and moving an entity to another number.
//
// Each walks a locked entity with the second engine (its user data carries the operation's state)
// and visits every non-null handle in a ptr field, inside structures, the selected union members
// and subentities included. Failures, the walk's own and those of the back-pointer operations, are
// returned unissued and issued by the entry points once the entity is unlocked. A handle whose number is deleted, never issued or in a model not in use names no
// entity: it gets no back pointer (one recorded under a free number would be inherited by the
// number's next entity) and none is removed for it.
#include "ddf/ddf_internal.h"
#include "mda/mda_internal.h"

namespace tesmar::mda {

namespace {

struct PtrWalk;
// Called for each non-null handle in a pointer field; `slot` is the field element. Nonzero ends the
// walk: kFound to stop after success, any other code is a failure.
using Visit = Result (*)(PtrWalk &walk, db_ptr *slot, db_ptr child);
constexpr mpm_Status kFound = MDA_TRAVERSE_STOP;

struct PtrWalk {
  Visit visit;
  db_ptr self;       // the entity walked
  db_ptr other;        // ModifyChildPtrs: the old child; ReplaceDbPtr: the new handle
  db_ptr replacement;  // ModifyChildPtrs: the new child
  Result failure;      // unissued
  bool found;
};

// True when the handle names an entity number that may carry a back-pointer record: issued, in a
// model in use, not deleted (reserved numbers may: pointers to them are recorded as they are set).
bool names_entity(db_ptr child) {
  const mda_EntityEntry *e = lookup(child);
  return e != nullptr && (e->status & MDA_ENTRY_DELETED) == 0;
}

mpm_Status each_pointer(void *, int32_t count, int32_t type, void *address, const ddf_FieldDesc *,
                        mpm_Status *, int32_t *, void *user) {
  if (type != DDF_PTR || count <= 0 || address == nullptr) return 0;
  auto &w = *static_cast<PtrWalk *>(user);
  auto *slots = static_cast<db_ptr *>(address);
  for (int32_t i = 0; i < count; ++i) {
    const db_ptr child = slots[i];
    if (number_of(child) == 0) continue;
    const Result s = w.visit(w, &slots[i], child);
    if (s == kFound) return kFound;
    if (s) {
      w.failure = s;
      return s.code();
    }
  }
  return 0;
}

// Walks the pointer fields of entity memory; the failure is the visit's, or the walk's own.
Result walk_pointers(void *memory, PtrWalk &w) {
  bool answered = false;
  const Result s = walk_entity2(memory, each_pointer, &w, &answered);
  if (w.failure) return w.failure;
  return answered ? kOk : s;
}

// Locks `ptr`, walks its pointer fields, and unlocks it (marked modified when `mark_found` and the
// walk changed a pointer). The walk's failure comes first, then the unlock's.
Result locked_walk(db_ptr ptr, PtrWalk &w, bool mark_found) {
  void *memory = nullptr;
  if (Result s = lock_entity(ptr, &memory); s != 0) return s;
  const Result walked = walk_pointers(memory, w);
  const Result unlocked = unlock_entity(mark_found && w.found ? MDA_MODIFIED : 0, ptr);
  return walked != 0 ? walked : unlocked;
}

Result visit_add(PtrWalk &w, db_ptr *, db_ptr child) {
  return names_entity(child) ? add_ptr(w.self, child, nullptr) : 0;
}

Result visit_delete(PtrWalk &w, db_ptr *, db_ptr child) {
  return names_entity(child) ? delete_ptr(w.self, child) : 0;
}

Result visit_modify(PtrWalk &w, db_ptr *slot, db_ptr child) {
  if (child != w.other) return 0;
  Result s = delete_ptr(w.self, child);
  if (s == 0) s = add_ptr(w.self, w.replacement, slot);
  if (s != 0) return s;
  w.found = true;
  return kFound;
}

// The entity is about to move from w.self to w.other: its children list the new handle instead of
// the old one, and a pointer to itself follows it.
Result visit_replace(PtrWalk &w, db_ptr *slot, db_ptr child) {
  if (!names_entity(child)) return 0;
  Result s = delete_ptr(w.self, child);
  if (s != 0) return s;
  return child == w.self ? add_ptr(w.other, w.other, slot) : add_ptr(w.other, child, nullptr);
}

Result add_child_back_ptrs(db_ptr ptr) {
  mda_ModelRec *rec = nullptr;
  const mda_EntityEntry *e = lookup_valid(ptr, &rec);
  if (e == nullptr) return MDA_INVALID_PTR;
  if (!holds_pointers(rec, e->tf)) return 0;
  PtrWalk w{visit_add, ptr, 0, 0, kOk, false};
  return locked_walk(ptr, w, false);
}

Result delete_children_back_ptrs(db_ptr ptr) {
  mda_ModelRec *rec = nullptr;
  const mda_EntityEntry *e = lookup_valid(ptr, &rec);
  if (e == nullptr) return MDA_INVALID_PTR;
  if (rec->back_ptr_table == nullptr || !holds_pointers(rec, e->tf)) return 0;
  PtrWalk w{visit_delete, ptr, 0, 0, kOk, false};
  return locked_walk(ptr, w, false);
}

Result set_back_ptrs(uint32_t options, int32_t model) {
  const bool all = (options & MDA_ALL_MODELS) != 0;
  if (!all && model_in_use(model) == nullptr) return MDA_INVALID_MODEL;
  const int32_t first = all ? 1 : model;
  const int32_t last = all ? kMaxModel : model;
  // Every table is made afresh before any is filled: pointers cross models.
  for (int32_t m = first; m <= last; ++m) {
    mda_ModelRec *rec = model_in_use(m);
    if (rec == nullptr) continue;
    release_back_ptr_table(rec);
    rec->back_ptrs = 1;
    if (Result s = create_table(MDA_PTRTABLE_ZERO, sizeof(mda_BackPtrRec), m,
                                    &rec->back_ptr_table);
        s != 0)
      return s;
  }
  for (int32_t m = first; m <= last; ++m) {
    for (uint64_t n = 1;; ++n) {
      mda_ModelRec *rec = model_in_use(m);
      if (rec == nullptr || n >= rec->next_number) break;
      const mda_EntityEntry *e = entry_of(rec, n);
      if ((e->status & (MDA_ENTRY_DELETED | MDA_ENTRY_RESERVED)) != 0) continue;
      if (!holds_pointers(rec, e->tf)) continue;  // not loaded for nothing
      if (Result s = add_child_back_ptrs(make_ptr(m, n)); s != 0) return s;
    }
  }
  return 0;
}

// Failures are issued as they happen (the other parents are still done); the first is returned.
// Issues each parent's failure as it goes (so every parent is tried) and returns the first.
mpm_Status modify_child_ptrs(int32_t count, const db_ptr *parents, db_ptr old_child,
                             db_ptr new_child) {
  if (count < 0) return report(MDA_INVALID_ARG);
  if (count > 0 && parents == nullptr) return report(MDA_NULL_MEMPTR);
  mpm_Status first_failure = 0;
  bool missing = false;
  for (int32_t i = 0; i < count; ++i) {
    PtrWalk w{visit_modify, parents[i], old_child, new_child, kOk, false};
    if (Result s = locked_walk(parents[i], w, true); s != 0) {
      report(s);
      if (first_failure == 0) first_failure = s.code();
      continue;
    }
    missing = missing || !w.found;
  }
  if (first_failure != 0) return first_failure;
  return missing ? report(MDA_CHILD_NOT_FOUND) : 0;
}

Result replace_db_ptr(db_ptr old_ptr, db_ptr new_ptr) {
  if (model_of(old_ptr) != model_of(new_ptr)) return MDA_MODELS_DIFFER;
  mda_ModelRec *rec = nullptr;
  const mda_EntityEntry *target = lookup(new_ptr, &rec);
  // Number 0 is reserved in every model as the null handle: no entity moves there.
  if (target == nullptr || number_of(new_ptr) == 0) return MDA_INVALID_PTR;
  if (target->status != MDA_ENTRY_RESERVED) return MDA_ENTITY_NOT_DELETED;
  mda_EntityEntry *e = lookup_valid(old_ptr, &rec);
  if (e == nullptr || (e->status & MDA_ENTRY_RWLOCK) != 0) return MDA_INVALID_PTR;

  void *memory = nullptr;
  if (Result s = lock_entity(old_ptr, &memory); s != 0) return s;
  Result walked = 0;
  if (rec->back_ptrs != 0 && holds_pointers(rec, e->tf)) {
    PtrWalk w{visit_replace, old_ptr, new_ptr, 0, kOk, false};
    walked = walk_pointers(memory, w);
  }
  if (walked == 0) {
    auto *h = static_cast<mda_EntityHeader *>(memory);
    h->ptr = new_ptr;
    if (h->orig_ptr == old_ptr) h->orig_ptr = new_ptr;
  }
  const Result unlocked = unlock_entity(walked == 0 ? MDA_MODIFIED : 0, old_ptr);
  if (walked != 0) return walked;
  if (unlocked != 0) return unlocked;

  // The unlock's callbacks may have changed anything: both entries are looked up again.
  e = lookup_valid(old_ptr, &rec);
  mda_EntityEntry *fresh = lookup(new_ptr);
  if (e == nullptr || e->mloc != memory || (e->status & MDA_ENTRY_RWLOCK) != 0)
    return MDA_INVALID_PTR;
  if (fresh == nullptr || fresh->status != MDA_ENTRY_RESERVED)
    return MDA_ENTITY_NOT_DELETED;
  const int32_t tfi = ddf::lookup_tfi(rec->schema, e->tf);
  if (tfi >= 0) {
    remove_from_type_list(rec->type_lists, tfi, old_ptr);
    if (Result s = add_to_type_list(rec->type_lists, tfi, new_ptr); s != 0) {
      add_to_type_list(rec->type_lists, tfi, old_ptr);  // its link record exists: cannot fail
      return s;
    }
  }
  db_ptr pair[2] = {old_ptr, new_ptr};
  call_callbacks(rec, MDA_CALLBACK_DELETED, pair);
  rec = model_in_use(model_of(old_ptr));
  if (rec == nullptr) return 0;  // a callback freed the model
  e = entry_of(rec, number_of(old_ptr));
  fresh = entry_of(rec, number_of(new_ptr));
  if (e == nullptr || fresh == nullptr || e->mloc != memory ||
      (e->status & (MDA_ENTRY_DELETED | MDA_ENTRY_RESERVED)) != 0 ||
      fresh->status != MDA_ENTRY_RESERVED)
    return 0;  // a callback deleted or moved it meanwhile

  *fresh = *e;
  // The old number is free now, as after a deletion: its records in the model's tables (its parent
  // list among them) would otherwise pass to the number's next entity.
  free_parent_list(read_back_ptr(rec, number_of(old_ptr)));
  clear_records(model_of(old_ptr), number_of(old_ptr), nullptr);
  release_number(rec, number_of(old_ptr));
  if (rec->cache != nullptr && (fresh->status & MDA_ENTRY_LOCK_MASK) == 0) {
    const uint32_t slot = fresh->status & MDA_ENTRY_CACHE_MASK;
    if (slot < static_cast<uint32_t>(rec->cache_size) && rec->cache[slot].ptr == old_ptr)
      rec->cache[slot].ptr = new_ptr;
  }
  return 0;
}

}  // namespace

Result add_owner_back_ptrs(void *owner, const db_ptr *handles, int32_t count) {
  if (owner == nullptr) return MDA_NULL_MEMPTR;
  MBlock *first = owner_block(owner);
  if (first == nullptr || first->size - kHeader < sizeof(mda_EntityHeader))
    return bad_block(static_cast<char *>(owner) - kHeader);
  db_ptr self = 0;
  std::memcpy(&self, static_cast<char *>(owner) + offsetof(mda_EntityHeader, ptr), sizeof self);
  for (int32_t i = 0; i < count; ++i) {
    db_ptr child = 0;
    std::memcpy(&child, handles + i, sizeof child);
    if (number_of(child) == 0 || !names_entity(child)) continue;
    if (Result s = add_ptr(self, child, nullptr); s != 0) return s;
  }
  return 0;
}

bool holds_pointers(const mda_ModelRec *rec, uint32_t tf) {
  const int32_t tfi = ddf::lookup_tfi(rec->schema, tf);
  return tfi >= 0 && rec->schema->ent_info != nullptr &&
         (rec->schema->ent_info[tfi] & DDF_INFO_POINTERS) != 0;
}

Result add_memory_back_ptrs(void *memory, db_ptr self) {
  PtrWalk w{visit_add, self, 0, 0, kOk, false};
  return walk_pointers(memory, w);
}

Result delete_child_back_ptrs(db_ptr ptr) { return delete_children_back_ptrs(ptr); }

}  // namespace tesmar::mda

using namespace tesmar::mda;

extern "C" {

mpm_Status mda_AddChildBackPtrs(uint32_t, db_ptr ptr) { return report(add_child_back_ptrs(ptr)); }

mpm_Status mda_DeleteChildBackPtrs(uint32_t, db_ptr ptr) {
  return report(delete_children_back_ptrs(ptr));
}

mpm_Status mda_SetBackPtrs(uint32_t options, int32_t model) {
  return report(set_back_ptrs(options, model));
}

mpm_Status mda_ModifyChildPtrs(uint32_t, int32_t count, const db_ptr *parents, db_ptr old_child,
                               db_ptr new_child) {
  return modify_child_ptrs(count, parents, old_child, new_child);
}

mpm_Status mda_ReplaceDbPtr(uint32_t, db_ptr old_ptr, db_ptr new_ptr, uint64_t) {
  return report(replace_db_ptr(old_ptr, new_ptr));
}

}  // extern "C"
