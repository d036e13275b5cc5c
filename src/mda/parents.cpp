// Parent queries over back pointers: parents, parents of a type, parents n levels up, ancestors.
//
// The ancestor searches walk the parent graph depth first without recursion (a chain of parents can
// be as long as the model is large): an explicit stack holds, per entity being searched, its parent
// array and the index of the next parent to search. A visited set (ordered tree of handles) makes
// every entity searched once, so cycles end.
#include "mda/mda_internal.h"

namespace tesmar::mda {

Result parents_of(db_ptr ptr, int32_t *count, db_ptr **parents) {
  *count = 0;
  *parents = nullptr;
  if (number_of(ptr) == 0) return 0;
  mda_ModelRec *rec = nullptr;
  if (lookup(ptr, &rec) == nullptr) return MDA_INVALID_PTR;
  const mda_BackPtrRec record = read_back_ptr(rec, number_of(ptr));
  if (record.kind == MDA_PARENTS_ONE) {
    auto *one = static_cast<db_ptr *>(std::malloc(sizeof(db_ptr)));
    if (one == nullptr) return MDA_MALLOC_ERR;
    *one = record.value;
    *count = 1;
    *parents = one;
  } else if (record.kind == MDA_PARENTS_LIST) {
    auto *list = reinterpret_cast<olm_List *>(static_cast<uintptr_t>(record.value));
    int32_t n = 0;
    void *array = olm_GetArray(0, list, &n);
    if (array == nullptr && n > 0) return mpm_last_status;
    *count = n;
    *parents = static_cast<db_ptr *>(array);
  }
  return 0;
}

namespace {

uint32_t tf_of(db_ptr ptr) {
  const mda_EntityEntry *e = lookup_valid(ptr);
  return e != nullptr ? e->tf : TF_NONE;
}

// Keeps, in place, the parents whose entity has the type form; a new count.
int32_t keep_of_type(db_ptr *parents, int32_t count, uint32_t tf) {
  int32_t kept = 0;
  for (int32_t i = 0; i < count; ++i)
    if (tf_of(parents[i]) == tf) parents[kept++] = parents[i];
  return kept;
}

Result parents_of_type(db_ptr ptr, uint32_t tf, int32_t *count, db_ptr **out) {
  db_ptr *parents = nullptr;
  int32_t n = 0;
  Result status = parents_of(ptr, &n, &parents);
  if (status != 0) return status;
  n = keep_of_type(parents, n, tf);
  *count = n;
  if (out != nullptr && n > 0) *out = parents;
  else std::free(parents);
  return 0;
}

Result nth_level(db_ptr ptr, int32_t level, int32_t *count, db_ptr **out) {
  if (level < 1) return MDA_INVALID_ARG;
  db_ptr *parents = nullptr;
  int32_t n = 0;
  Result status = parents_of(ptr, &n, &parents);
  for (int32_t l = 2; status == 0 && l <= level && n > 0; ++l) {
    const db_ptr first = parents[0];
    std::free(parents);
    status = parents_of(first, &n, &parents);
  }
  if (status != 0) return status;
  *count = n;
  *out = parents;
  return 0;
}

// A growable array of handles, malloc'ed.
struct Handles {
  db_ptr *items = nullptr;
  int32_t count = 0;
  int32_t capacity = 0;
  bool push(db_ptr p) {
    if (count == capacity) {
      if (capacity > INT32_MAX / 2) return false;
      const int32_t grown = capacity == 0 ? 8 : capacity * 2;
      auto *more = static_cast<db_ptr *>(std::realloc(items, sizeof(db_ptr) * grown));
      if (more == nullptr) return false;
      items = more;
      capacity = grown;
    }
    items[count++] = p;
    return true;
  }
};

// One entity being searched: its parents and the next one to search.
struct Frame {
  db_ptr *parents;
  int32_t count;
  int32_t next;
};

struct Search {
  otm_Tree *visited = nullptr;
  otm_Tree *found = nullptr;
  Frame *frames = nullptr;
  int32_t depth = 0;
  int32_t capacity = 0;

  void release() {
    for (int32_t i = 0; i < depth; ++i) std::free(frames[i].parents);
    std::free(frames);
    if (visited != nullptr) otm_DeleteTree(0, visited);
    if (found != nullptr) otm_DeleteTree(0, found);
  }
  bool push(db_ptr *parents, int32_t count) {
    if (depth == capacity) {
      if (capacity > INT32_MAX / 2) return false;
      const int32_t grown = capacity == 0 ? 16 : capacity * 2;
      auto *more = static_cast<Frame *>(std::realloc(frames, sizeof(Frame) * grown));
      if (more == nullptr) return false;
      frames = more;
      capacity = grown;
    }
    frames[depth++] = Frame{parents, count, 0};
    return true;
  }
};

// Adds a handle to a set; *added tells whether it was new. The tree's own status on failure.
Result insert(otm_Tree *set, db_ptr p, bool *added) {
  const int32_t before = set->count;
  if (otm_AddObject(0, set, &p) == nullptr) return mpm_last_status;
  *added = set->count != before;
  return 0;
}

// Depth-first search over parents from `start`. At each entity not yet visited: its parents of
// type `tf` are collected (all of them, or only the first when `first_only`); when it has none, its
// parents are searched in order.
Result search_ancestors(Search &s, db_ptr start, uint32_t tf, bool first_only,
                            Handles *result) {
  s.visited = otm_CreateTree(0, sizeof(db_ptr), mda_ComparePtrs, 0);
  if (s.visited == nullptr) return mpm_last_status;
  if (!first_only) {
    s.found = otm_CreateTree(0, sizeof(db_ptr), mda_ComparePtrs, 0);
    if (s.found == nullptr) return mpm_last_status;
  }
  db_ptr next = start;
  for (;;) {
    if (next != 0) {
      bool added = false;
      Result status = insert(s.visited, next, &added);
      if (status != 0) return status;
      if (added) {
        db_ptr *parents = nullptr;
        int32_t n = 0;
        status = parents_of(next, &n, &parents);
        if (status == MDA_INVALID_PTR && next != start) status = 0;  // a stale parent: no parents
        if (status != 0) return status;
        bool any = false;
        for (int32_t i = 0; i < n; ++i) {
          if (tf_of(parents[i]) != tf) continue;
          any = true;
          if (first_only) {
            const bool ok = result->push(parents[i]);
            std::free(parents);
            return ok ? 0 : MDA_MALLOC_ERR;
          }
          bool fresh = false;
          status = insert(s.found, parents[i], &fresh);
          if (status == 0 && fresh && !result->push(parents[i])) status = MDA_MALLOC_ERR;
          if (status != 0) {
            std::free(parents);
            return status;
          }
        }
        if (any || n == 0) {
          std::free(parents);
        } else if (!s.push(parents, n)) {
          std::free(parents);
          return MDA_MALLOC_ERR;
        }
      }
    }
    // The next parent to search: from the innermost entity that has one left.
    while (s.depth > 0 && s.frames[s.depth - 1].next == s.frames[s.depth - 1].count) {
      std::free(s.frames[s.depth - 1].parents);
      --s.depth;
    }
    if (s.depth == 0) return 0;
    Frame &top = s.frames[s.depth - 1];
    next = top.parents[top.next++];
  }
}

Result ancestors(db_ptr ptr, uint32_t tf, bool first_only, Handles *result) {
  if (number_of(ptr) == 0) return 0;
  if (lookup(ptr) == nullptr) return MDA_INVALID_PTR;
  Search s;
  Result status = search_ancestors(s, ptr, tf, first_only, result);
  s.release();
  return status;
}

}  // namespace

}  // namespace tesmar::mda

using namespace tesmar::mda;

extern "C" {

mpm_Status mda_GetNumParents(uint32_t, db_ptr ptr, int32_t *count) {
  if (count == nullptr) return report(MDA_NULL_MEMPTR);
  *count = 0;
  if (number_of(ptr) == 0) return 0;
  mda_ModelRec *rec = nullptr;
  if (lookup(ptr, &rec) == nullptr) return report(MDA_INVALID_PTR);
  const mda_BackPtrRec record = read_back_ptr(rec, number_of(ptr));
  if (record.kind == MDA_PARENTS_ONE) *count = 1;
  else if (record.kind == MDA_PARENTS_LIST)
    *count = reinterpret_cast<olm_List *>(static_cast<uintptr_t>(record.value))->count;
  return 0;
}

mpm_Status mda_GetParents(uint32_t, db_ptr ptr, int32_t *count, db_ptr **parents) {
  if (count == nullptr || parents == nullptr) return report(MDA_NULL_MEMPTR);
  return report(parents_of(ptr, count, parents));
}

mpm_Status mda_GetParentsOfType(uint32_t, db_ptr ptr, uint32_t tf, int32_t *count,
                                db_ptr **parents) {
  if (count == nullptr) return report(MDA_NULL_MEMPTR);
  *count = 0;
  if (parents != nullptr) *parents = nullptr;
  return report(parents_of_type(ptr, tf, count, parents));
}

db_ptr mda_GetParentOfType(uint32_t tf, db_ptr ptr) {
  db_ptr *parents = nullptr;
  int32_t n = 0;
  Result status = parents_of_type(ptr, tf, &n, &parents);
  if (status != 0) {
    report(status);
    return 0;
  }
  const db_ptr first = n > 0 ? parents[0] : 0;
  std::free(parents);
  return first;
}

mpm_Status mda_GetNthlevelParents(uint32_t, db_ptr ptr, int32_t level, int32_t *count,
                                  db_ptr **parents) {
  if (count == nullptr || parents == nullptr) return report(MDA_NULL_MEMPTR);
  *count = 0;
  *parents = nullptr;
  return report(nth_level(ptr, level, count, parents));
}

mpm_Status mda_FindAncestorOfType(uint32_t, db_ptr ptr, uint32_t tf, db_ptr *ancestor) {
  if (ancestor == nullptr) return report(MDA_NULL_MEMPTR);
  *ancestor = 0;
  Handles found;
  Result status = ancestors(ptr, tf, true, &found);
  if (status == 0 && found.count > 0) *ancestor = found.items[0];
  std::free(found.items);
  return report(status);
}

mpm_Status mda_FindAncestorsOfType(uint32_t, db_ptr ptr, uint32_t tf, int32_t *count,
                                   db_ptr **out) {
  if (count == nullptr || out == nullptr) return report(MDA_NULL_MEMPTR);
  *count = 0;
  *out = nullptr;
  Handles found;
  Result status = ancestors(ptr, tf, false, &found);
  if (status != 0 || found.count == 0) {
    std::free(found.items);
    return report(status);
  }
  *count = found.count;
  *out = found.items;
  return 0;
}

}  // extern "C"
