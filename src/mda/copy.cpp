// Copying entities into a model, together with the entities they point to.
//
// Design. One outer mda_CopyEntity is a run: a map from source handles to the handles of their
// copies (an ordered tree of pairs), the target model, the filter and its scratch word, and a list
// of copies whose pointer fields still hold source handles. A copy is the source's chain duplicated
// for the target model (mda_DuplicateMemory), checked against the target's schema (the type form
// must be there with a structure of the same size), and entered with mda_CreateEntity when it is
// to be an entity. Its pointer fields are then redirected: null, or refused by the filter, becomes
// null; otherwise the child's copy from the map, else from mda_copy_table, else a new copy of the
// child, entered and recorded in the map (and in mda_copy_table). A new child copy is not walked at
// once: it joins the list, and the outer call walks the list until it is empty. So a long chain of
// pointers is copied in a loop, not by recursion, each entity is copied once per run (cycles
// included), and a copy waiting on the list is unlocked (it may leave memory like any other).
// Pointers of an entered copy are set with mda_AddPtr, which keeps back pointers.
//
// The walk's callback takes no data of ours, so the run is module state; a nested run (a filter
// that copies) saves and restores the outer one. MDA_COPY_NESTED joins the run under way.
#include "ddf/ddf_internal.h"
#include "mda/mda_internal.h"
#include "mda/work_list.h"

namespace tesmar::mda {

namespace {

struct Pair {
  db_ptr source;
  db_ptr copy;
};

struct Run {
  otm_Tree *map;
  int32_t model;
  mda_CopyFilter filter;
  uint64_t scratch;
  db_ptr owner;          // the entered copy being walked; 0 for a copy not entered
  WorkList<db_ptr> pending;  // entered copies whose pointers are still to be redirected
  Result failure;        // what stopped the walk
};

Run *g_run = nullptr;

int compare_pairs(const void *a, const void *b) { return mda_ComparePtrs(a, b); }

// The TFI of the source's type form in the target model's schema, which must give it a structure
// of the size the source's schema does.
Result target_tfi(const mda_EntityHeader *source, const mda_ModelRec *target, int32_t *tfi) {
  const mda_ModelRec *from = model_in_use(model_of(source->ptr));
  if (from == nullptr) return MDA_INVALID_MODEL;
  *tfi = tesmar::ddf::lookup_tfi(target->schema, source->tf);
  if (*tfi < 0) return MDA_TF_NOT_IN_DDF;
  if (from->schema != target->schema) {
    const int32_t own = tesmar::ddf::lookup_tfi(from->schema, source->tf);
    if (own < 0 || from->schema->ent_sizes[own] != target->schema->ent_sizes[*tfi])
      return MDA_INVALID_ARG;
  }
  return 0;
}

// Copies entity memory into the run's target model; entered (locked once) when `enter`.
Result copy_memory(Run &run, void *source, bool enter, void **copy, db_ptr *handle) {
  *copy = nullptr;
  *handle = 0;
  MBlock *first = block_at(source, false);
  if (first == nullptr || first->size - kHeader < sizeof(mda_EntityHeader))
    return bad_block(static_cast<char *>(source) - kHeader);
  const auto *h = static_cast<const mda_EntityHeader *>(source);
  mda_ModelRec *target = model_in_use(run.model);
  if (target == nullptr) return MDA_INVALID_MODEL;
  int32_t tfi = -1;
  Result status = target_tfi(h, target, &tfi);
  if (status != 0) return status;
  void *memory = nullptr;
  status = duplicate_chain(run.model, source, &memory);
  if (status != 0) return status;
  static_cast<mda_EntityHeader *>(memory)->tfi = static_cast<uint32_t>(tfi);
  if (enter) {
    status = create_entity(MDA_CREATE_LOCKED, memory, handle);
    if (status != 0) {
      free_chain(header_of(memory));
      return status;
    }
    if (number_of(h->ptr) != 0) {
      const Pair pair{h->ptr, *handle};
      if (otm_AddObject(0, run.map, &pair) == nullptr) return mpm_last_status;
    }
  }
  *copy = memory;
  return 0;
}

// The copy of a source child: from the map, from the copy table, or made now (entered, recorded,
// and put on the pending list with its pointers still to be redirected).
Result copy_of_child(Run &run, db_ptr child, db_ptr *copied) {
  const Pair key{child, 0};
  if (const auto *found = static_cast<const Pair *>(otm_GetObject(OTM_NO_MESSAGE, run.map, &key))) {
    *copied = found->copy;
    return 0;
  }
  mda_PtrTable *table = mda_copy_table;
  if (table != nullptr && check_table_handle(table, child) == 0 && table->record_size == 8) {
    if (const void *stored = table_record(table, number_of(child))) {
      std::memcpy(copied, stored, sizeof *copied);
      if (*copied != 0) return 0;
    }
  }
  void *source = nullptr;
  Result status = lock_entity(child, &source);
  if (status != 0) return status;
  void *memory = nullptr;
  status = copy_memory(run, source, true, &memory, copied);
  const Result unlocked = unlock_entity(0, child);
  if (status != 0) return status;
  if (unlocked != 0) return unlocked;
  if (!run.pending.push(*copied)) return MDA_MALLOC_ERR;
  status = unlock_entity(0, *copied);  // waits on the list unlocked
  if (status != 0) return status;
  if (table != nullptr && check_table_handle(table, child) == 0 && table->record_size == 8) {
    void *record = nullptr;
    status = table_record_for_write(table, number_of(child), &record);
    if (status != 0) return status;
    std::memcpy(record, copied, sizeof *copied);
  }
  return 0;
}

Result redirect(Run &run, char *slot) {
  db_ptr child = 0;
  std::memcpy(&child, slot, sizeof child);
  db_ptr copied = 0;
  if (number_of(child) != 0 && (run.filter == nullptr || run.filter(child, &run.scratch) != 0)) {
    Result status = copy_of_child(run, child, &copied);
    if (status != 0) return status;
  }
  if (run.owner == 0 || copied == 0) {
    std::memcpy(slot, &copied, sizeof copied);
    return 0;
  }
  db_ptr value = 0;
  Result status = add_ptr(run.owner, copied, &value);
  if (status == 0) std::memcpy(slot, &value, sizeof value);
  return status;
}

mpm_Status visit_pointer(void *, int32_t count, int32_t type, void *address,
                         const ddf_FieldDesc *) {
  if (type != DDF_PTR || address == nullptr) return 0;
  for (int32_t i = 0; i < count; ++i) {
    Result status = redirect(*g_run, static_cast<char *>(address) + 8 * i);
    if (status != 0) {
      g_run->failure = status;
      return MDA_TRAVERSE_STOP;
    }
  }
  return 0;
}

// Redirects the pointer fields of a copy (`owner`: its handle when it was entered).
Result redirect_all(Run &run, void *memory, db_ptr owner) {
  const auto *h = static_cast<const mda_EntityHeader *>(memory);
  const mda_ModelRec *target = model_in_use(run.model);
  if (target == nullptr) return MDA_INVALID_MODEL;
  if (target->schema->ent_info == nullptr ||
      (target->schema->ent_info[h->tfi] & DDF_INFO_POINTERS) == 0)
    return 0;
  const db_ptr saved = run.owner;
  run.owner = owner;
  run.failure = kOk;
  Result status = walk_entity(0, memory, visit_pointer);
  run.owner = saved;
  if (status == MDA_TRAVERSE_STOP) return run.failure;
  return status;
}

// Walks the pending copies until none is left.
Result drain(Run &run) {
  while (!run.pending.empty()) {
    const db_ptr next = run.pending.pop();
    void *memory = nullptr;
    Result status = lock_entity(next, &memory);
    if (status != 0) return status;
    status = redirect_all(run, memory, next);
    const Result unlocked = unlock_entity(MDA_MODIFIED, next);
    if (status != 0) return status;
    if (unlocked != 0) return unlocked;
  }
  return 0;
}

Result copy_entity(uint32_t options, int32_t model, mda_CopyFilter filter, void *source,
                   void **copy) {
  if (copy == nullptr) return MDA_NULL_MEMPTR;
  *copy = nullptr;
  if (source == nullptr) return MDA_NULL_MEMPTR;
  const bool nested = (options & MDA_COPY_NESTED) != 0;
  if (nested && g_run == nullptr) return MDA_INVALID_OPTIONS;
  if (!nested && model_in_use(model) == nullptr) return MDA_INVALID_MODEL;
  Run fresh{};
  Run *outer = g_run;
  Run &run = nested ? *g_run : fresh;
  if (!nested) {
    fresh.map = otm_CreateTree(0, sizeof(Pair), compare_pairs, 0);
    if (fresh.map == nullptr) return mpm_last_status;
    fresh.pending.init();
    fresh.model = model;
    fresh.filter = filter;
    g_run = &fresh;
  }
  const bool enter = nested || (options & MDA_COPY_CREATE) != 0;
  void *memory = nullptr;
  db_ptr handle = 0;
  Result status = copy_memory(run, source, enter, &memory, &handle);
  if (status == 0) status = redirect_all(run, memory, handle);
  if (status == 0 && !nested) status = drain(run);
  if (!nested) {
    otm_DeleteTree(0, fresh.map);
    fresh.pending.release();
    g_run = outer;
  }
  if (status != 0) {
    // A copy not entered is the caller's only once it is whole; an entered one stays an entity.
    if (memory != nullptr && handle == 0) free_chain(header_of(memory));
    else if (handle != 0) *copy = memory;
    return status;
  }
  *copy = memory;
  return 0;
}

}  // namespace

}  // namespace tesmar::mda

using namespace tesmar::mda;

extern "C" mpm_Status mda_CopyEntity(uint32_t options, int32_t model, mda_CopyFilter filter,
                                     void *source, void **copy) {
  return report(copy_entity(options, model, filter, source, copy));
}
