// Deleting an entity together with the entities that only it points to.
//
// Design. The parent counts come from back pointers, so a model without them is refused
// (NO_BACKPTRS) rather than have children deleted that others still point to. The deletion runs
// over a work list instead of recursing, so a long chain of entities does not exhaust the stack:
// an entity taken from the list is cut from its remaining parents (mda_ModifyChildPtrs to null),
// locked and walked; each child it points to is either cut from it (it has other parents, and
// MDA_DELETE_ALL is not given: mda_ModifyPtr to null, which drops the back pointer) or put on the
// list; then the entity is deleted, which drops its own back pointers from the children still on
// the list. An entity reached twice is deleted once: the second time its handle is no longer valid.
// The walk's callback takes no data of ours, so the list is module state, saved and restored when
// a deletion starts inside another (from a callback).
#include "mda/mda_internal.h"
#include "mda/work_list.h"

namespace tesmar::mda {

namespace {

struct TreeRun {
  WorkList<db_ptr> pending;  // entities still to delete
  db_ptr owner;        // the entity being walked
  bool all;            // MDA_DELETE_ALL
  Result failure;      // what stopped the walk
};

TreeRun *g_tree = nullptr;

mpm_Status visit_child(void *, int32_t count, int32_t type, void *address,
                       const ddf_FieldDesc *) {
  if (type == DDF_SUBENT) return MDA_TRAVERSE_SKIP;
  if (type != DDF_PTR || address == nullptr) return 0;
  TreeRun &run = *g_tree;
  for (int32_t i = 0; i < count; ++i) {
    auto *slot = reinterpret_cast<db_ptr *>(static_cast<char *>(address) + 8 * i);
    db_ptr child = 0;
    std::memcpy(&child, slot, sizeof child);
    if (number_of(child) == 0 || !mda_IsValidPtr(child)) continue;
    int32_t parents = 0;
    Result status = Failure::issued(mda_GetNumParents(0, child, &parents));
    if (status == 0 && parents > 1 && !run.all) {
      db_ptr value = 0;
      std::memcpy(&value, slot, sizeof value);
      status = Failure::issued(mda_ModifyPtr(run.owner, 0, &value));
      if (status == 0) std::memcpy(slot, &value, sizeof value);
    } else if (status == 0 && !run.pending.push(child)) {
      run.failure = MDA_MALLOC_ERR;
      return MDA_TRAVERSE_STOP;
    }
    if (status != 0) {
      run.failure = status;
      return MDA_TRAVERSE_STOP;
    }
  }
  return 0;
}

// Cuts an entity from its parents, walks it and deletes it.
Result delete_one(TreeRun &run, db_ptr ptr, uint32_t delete_options) {
  int32_t count = 0;
  db_ptr *parents = nullptr;
  Result status = parents_of(ptr, &count, &parents);
  if (status == 0 && count > 0) {
    status = Failure::issued(mda_ModifyChildPtrs(0, count, parents, ptr, 0));
  }
  std::free(parents);
  if (status != 0) return status;
  void *memory = nullptr;
  status = lock_entity(ptr, &memory);
  if (status != 0) return status;
  const db_ptr saved = run.owner;
  run.owner = ptr;
  status = walk_entity(0, memory, visit_child);
  run.owner = saved;
  if (status == MDA_TRAVERSE_STOP) status = run.failure;
  if (status != 0) {
    const Result unlocked = unlock_entity(0, ptr);
    (void)unlocked;  // the walk's failure is the one reported
    return status;
  }
  return delete_entity(delete_options, ptr);
}

Result delete_tree(uint32_t options, db_ptr ptr) {
  mda_ModelRec *rec = nullptr;
  if (lookup_valid(ptr, &rec) == nullptr) return MDA_INVALID_PTR;
  if (rec->back_ptrs == 0) return MDA_NO_BACKPTRS;
  const bool all = (options & MDA_DELETE_ALL) != 0;
  if ((options & (MDA_DELETE_SHARED | MDA_DELETE_ALL)) == 0) {
    int32_t count = 0;
    db_ptr *parents = nullptr;
    Result status = parents_of(ptr, &count, &parents);
    std::free(parents);
    if (status != 0) return status;
    if (count >= 2) return 0;  // shared: left alone
  }
  TreeRun run{};
  run.pending.init();
  run.all = all;
  TreeRun *outer = g_tree;
  g_tree = &run;
  Result status = delete_one(run, ptr, all ? options & ~MDA_DELETE_ALL : 0);
  while (status == 0 && !run.pending.empty()) {
    const db_ptr next = run.pending.pop();
    if (!mda_IsValidPtr(next)) continue;  // reached twice
    status = delete_one(run, next, 0);
  }
  run.pending.release();
  g_tree = outer;
  return status;
}

}  // namespace

}  // namespace tesmar::mda

using namespace tesmar::mda;

extern "C" mpm_Status mda_DeleteEntityTree(uint32_t options, db_ptr ptr) {
  return report(delete_tree(options, ptr));
}
