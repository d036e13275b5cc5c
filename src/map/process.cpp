// Processing the output of mapping functions: onward to the next operation or the outer
// dispatcher, commits into the target model, deletion of what nobody committed, and the generic
// copy and ignore mappings.
//
// Deleting uncommitted output takes with it the children that only it pointed to. Nothing changes
// until the whole set is known: starting from the output, a child joins the set when every one of
// its parents is in it (each link from a member counts once, as each back pointer does). The set
// is gathered over an explicit work stack (process-wide, grown by 256 handles), so a chain of any
// length never reaches the C stack, and an entity joins once, so cycles end. When the output
// itself has a parent outside the set, other entities still point to it and nothing is deleted
// (MAP_HAS_PARENTS); otherwise the members leave the parent lists of their children and are
// deleted. Without back pointers in the model nothing tells that a child is not shared,
// so only the output itself goes.
//
// The messages of processing name the output entity (%<PTR> (%<PTR2>)) and more; they are issued
// here, by the exported operations, from frames that hold nothing that needs releasing.
#include <cstdlib>
#include <new>
#include <unordered_map>
#include <vector>

#include "map/map_internal.h"
#include "mda/mda_internal.h"
#include "tesmar/ddf.h"

namespace tesmar::map {
namespace {

constexpr std::size_t kStackStep = 256;

// The set being gathered: its members in the order they joined (the stack, grown by kStackStep),
// and the links counted so far into each entity reached (kMember once it has joined).
db_ptr *g_stack = nullptr;
std::size_t g_count = 0;
std::size_t g_capacity = 0;
// (A hash of the module's own keeps the table's code inside the library.)
struct HandleHash {
  std::size_t operator()(db_ptr p) const { return std::hash<db_ptr>()(p); }
};
using Links = std::unordered_map<db_ptr, int32_t, HandleHash>;
Links *g_links = nullptr;
// Every link from a member to a child, found while gathering.
struct Edge {
  db_ptr first, second;
  Edge(db_ptr parent, db_ptr child) : first(parent), second(child) {}
};
using Edges = std::vector<Edge>;
Edges *g_edges = nullptr;
constexpr int32_t kMember = -1;

// Adds a member; false (the stack as it was) when memory fails.
bool push(db_ptr p) {
  if (g_count + 1 >= g_capacity) {
    auto *grown = static_cast<db_ptr *>(reallocate(g_stack, (g_capacity + kStackStep) * sizeof(db_ptr)));
    if (grown == nullptr) return false;
    g_stack = grown;
    g_capacity += kStackStep;
  }
  g_stack[g_count++] = p;
  return true;
}

void forget_gathered() {
  g_count = 0;
  if (g_links != nullptr) g_links->clear();
  if (g_edges != nullptr) g_edges->clear();
}

// The pointer fields of a locked entity: every non-null handle, in field order.
struct Children {
  db_ptr *items = nullptr;
  std::size_t count = 0, capacity = 0;
  bool failed = false;
  ~Children() { std::free(items); }
};

mpm_Status collect(void *, int32_t count, int32_t type, void *address, const ddf_FieldDesc *,
                   mpm_Status *, int32_t *, void *user) {
  if (type != DDF_PTR || address == nullptr) return 0;
  auto &c = *static_cast<Children *>(user);
  for (int32_t i = 0; i < count; ++i) {
    db_ptr child = 0;
    std::memcpy(&child, static_cast<char *>(address) + 8 * static_cast<std::size_t>(i), sizeof child);
    if (child == 0) continue;
    if (c.count == c.capacity) {
      const std::size_t capacity = c.capacity == 0 ? 16 : 2 * c.capacity;
      auto *grown = static_cast<db_ptr *>(reallocate(c.items, capacity * sizeof(db_ptr)));
      if (grown == nullptr) {
        c.failed = true;
        return MDA_TRAVERSE_STOP;
      }
      c.items = grown;
      c.capacity = capacity;
    }
    c.items[c.count++] = child;
  }
  return 0;
}

bool holds_pointers(const mda_ModelRec *rec, db_ptr p) {
  const mda_EntityEntry *e = mda::lookup_valid(p);
  if (e == nullptr || rec->schema == nullptr || rec->schema->ent_info == nullptr) return false;
  const int32_t tfi = ddf_FindTFI(rec->schema->typeforms, rec->schema->tf_count, e->tf);
  return tfi >= 0 && (rec->schema->ent_info[tfi] & DDF_INFO_POINTERS) != 0;
}

// The children of an entity of the model that are live entities of the same model.
Failure children_of(const mda_ModelRec *rec, db_ptr x, Children *children) {
  if (!holds_pointers(rec, x)) return kOk;
  void *memory = nullptr;
  if (mpm_Status s = mda_LockEntity(0, x, &memory); s != 0) return passed(s);
  const mpm_Status walked = mda_TraverseEntity2(0, memory, collect, children);
  const mpm_Status unlocked = mda_UnlockEntity(0, x);
  if (children->failed) return fail(MAP_MALLOC_ERR);
  if (walked != 0 && walked != MDA_TRAVERSE_STOP) return passed(walked);
  if (unlocked != 0) return passed(unlocked);
  std::size_t kept = 0;
  for (std::size_t i = 0; i < children->count; ++i) {
    const db_ptr child = children->items[i];
    if (mda_IsValidPtr(child) != 0 && MDA_PTR_MODEL(child) == MDA_PTR_MODEL(x))
      children->items[kept++] = child;
  }
  children->count = kept;
  return kOk;
}

// The parents of an entity in a model that keeps back pointers (0 in one that keeps none).
int32_t parents_of(db_ptr e) {
  const mda_ModelRec *rec = mda::model_in_use(MDA_PTR_MODEL(e));
  if (rec == nullptr || rec->back_ptrs == 0) return 0;
  int32_t parents = 0;
  if (mda_IsValidPtr(e) == 0 || mda_GetNumParents(0, e, &parents) != 0) return 0;
  return parents;
}

// Gathers the set of `root`; *outside is true when root has a parent outside it. The model is
// left as it was.
Failure gather_output(const mda_ModelRec *rec, db_ptr root, bool *outside) {
  *outside = false;
  if (!push(root)) return fail(MAP_MALLOC_ERR);
  try {
    if (g_links == nullptr) g_links = new (std::nothrow) Links;
    if (g_edges == nullptr) g_edges = new (std::nothrow) Edges;
    if (g_links == nullptr || g_edges == nullptr) return fail(MAP_MALLOC_ERR);
    (*g_links)[root] = kMember;
    int32_t into_root = 0;
    for (std::size_t next = 0; next < g_count; ++next) {
      Children children;
      if (Failure f = children_of(rec, g_stack[next], &children)) return f;
      for (std::size_t i = 0; i < children.count; ++i) {
        const db_ptr child = children.items[i];
        g_edges->emplace_back(g_stack[next], child);
        if (child == root) ++into_root;
        int32_t &links = (*g_links)[child];
        if (links == kMember) continue;
        int32_t parents = 0;
        if (mpm_Status s = mda_GetNumParents(0, child, &parents); s != 0) return passed(s);
        if (++links < parents) continue;
        if (!push(child)) return fail(MAP_MALLOC_ERR);
        links = kMember;
      }
    }
    int32_t parents = 0;
    if (mpm_Status s = mda_GetNumParents(0, root, &parents); s != 0) return passed(s);
    *outside = parents > into_root;
  } catch (const std::bad_alloc &) {
    return fail(MAP_MALLOC_ERR);
  }
  return kOk;
}

// Deletes the uncommitted output `root` with its exclusively owned children; *kept is true when
// it stays because other entities point to it.
Failure delete_output(db_ptr root, bool *kept) {
  *kept = false;
  forget_gathered();  // a deletion left by a handler's jump starts over
  if (mda_IsValidPtr(root) == 0) return kOk;
  const mda_ModelRec *rec = mda::model_in_use(MDA_PTR_MODEL(root));
  if (rec == nullptr || rec->back_ptrs == 0) {
    const mpm_Status s = mda_DeleteEntity(MDA_ALLOW_PARENTS, root);
    return s != 0 ? passed(s) : kOk;
  }
  Failure f = gather_output(rec, root, kept);
  if (f || *kept) {
    forget_gathered();
    return f;
  }
  // The members leave the parent lists of their children (so that no list names a deleted
  // entity, nor passes to a later entity of the same number), then go.
  for (std::size_t i = 0; i < g_edges->size() && !f; ++i)
    if (mpm_Status s = mda_DeletePtr((*g_edges)[i].first, (*g_edges)[i].second); s != 0) f = passed(s);
  for (std::size_t i = 0; i < g_count && !f; ++i)
    if (mpm_Status s = mda_DeleteEntity(MDA_ALLOW_PARENTS | MDA_KEEP_BACKPTRS, g_stack[i]); s != 0)
      f = passed(s);
  forget_gathered();
  return f;
}

// The commit of map_CommitEntity; failures of the entity database have been issued.
Failure commit(db_ptr e, map_Context &c, db_ptr *committed) {
  db_ptr h = e;
  if ((c.run_flags & MAP_TRANSIENT) == 0) {
    void *memory = nullptr;
    if (mpm_Status s = mda_LockEntity(0, e, &memory); s != 0) return passed(s);
    void *copy = nullptr;
    mpm_Status s = mda_DuplicateMemory(0, c.target_model, memory, &copy);
    if (s == 0) {
      mda_ModelRec *target = mda::model_in_use(c.target_model);
      const uint32_t backs = target != nullptr && target->back_ptrs != 0 ? MDA_ADD_BACKPTRS : 0;
      s = mda_CreateEntity(backs, copy, &h);
      if (s != 0) mda_FreeEntityMemory(0, copy);
    }
    const mpm_Status unlocked = mda_UnlockEntity(0, e);
    if (s != 0) return passed(s);
    if (unlocked != 0) return passed(unlocked);
    if (map_trace_level >= 2)
      mpm_Fprintf(g_trace, "  ## Copying %<PTR> (%<PTR2>) to %<PTR> (%<PTR2>)\n", e, e, h, h);
  }
  if (map_trace_level >= 2) mpm_Fprintf(g_trace, "  ## Committing %<PTR> (%<PTR2>)\n", h, h);
  c.result = h;
  if (c.commit_list != nullptr && olm_AddObject(0, c.commit_list, OLM_TAIL, &h) == nullptr)
    return fail(MAP_LIST_ERR);
  if (committed != nullptr) *committed = h;
  return kOk;
}

}  // namespace

bool create_deletion_stack() {
  free_deletion_stack();
  g_stack = static_cast<db_ptr *>(allocate(kStackStep * sizeof(db_ptr)));
  g_capacity = g_stack != nullptr ? kStackStep : 0;
  return g_stack != nullptr;
}

void free_deletion_stack() {
  forget_gathered();
  delete g_links;
  g_links = nullptr;
  delete g_edges;
  g_edges = nullptr;
  std::free(g_stack);
  g_stack = nullptr;
  g_capacity = 0;
}

}  // namespace tesmar::map

using namespace tesmar::map;

extern "C" {

mpm_Status map_ProcessEntity(uint32_t options, db_ptr e, map_Context *c) {
  if (c == nullptr || c->env == nullptr || c->operation == nullptr ||
      c->operation->mapping == nullptr || c->dispatcher == nullptr)
    return issue(fail(MAP_INVALID_ARG));
  if (e == MDA_NULL_PTR) return issue(fail(MAP_INVALID_PTR));
  const map_Operation &op = *c->operation;
  const map_Mapping &m = *op.mapping;
  if ((m.flags & MAP_CONDITIONAL) != 0)
    return mpm_IssueMessage(0, MAP_NO_PROCESS_CONDITIONAL, MPM_ERROR, e, e, m.name);
  const bool keep = (options & MAP_KEEP_SOURCE) != 0;
  bool warned = false;
  if ((c->run_flags & MAP_TRANSIENT) != 0 && !keep && (op.options & MAP_OP_COMMIT) == 0 &&
      parents_of(e) > 0) {
    mpm_IssueMessage(0, MAP_HAS_PARENTS, MPM_ERROR, e, e);
    warned = true;
  }
  if (m.target.schema == nullptr) return mpm_IssueMessage(0, MAP_NO_TARGET_DDF, MPM_ERROR, e, e, m.name);
  map_DTF dtf{};
  if (!entity_dtf(e, &dtf)) return issue(fail(MAP_INVALID_PTR));
  if (m.target.schema != dtf.schema || (m.target.type_form != TF_ANY && m.target.type_form != dtf.type_form))
    return mpm_IssueMessage(0, MAP_UNEXPECTED_DTF, MPM_ERROR, &m.target, &dtf, e, e, m.name);
  if ((m.flags & MAP_GENERAL) == 0) return mpm_IssueMessage(0, MAP_NON_GENERAL_MAP, MPM_ERROR, e, e, m.name);
  mpm_Status status = 0;
  if (c->dispatcher == map_DispatchEntity && (op.options & MAP_OP_COMMIT) != 0) {
    status = map_CommitEntity(0, e, c, nullptr);
  } else {
    if (map_trace_level >= 2)
      mpm_Fprintf(g_trace, "          ** Invoking %s with %<PTR> (%<PTR2>)\n",
                  c->dispatcher == map_DispatchEntity ? "map_DispatchEntity" : "application dispatcher",
                  e, e);
    status = c->dispatcher(e, c);
  }
  if (c->result != e && !keep && mda_IsValidPtr(e) != 0) {
    if (map_trace_level >= 2) mpm_Fprintf(g_trace, "  ## Deleting %<PTR> (%<PTR2>)\n", e, e);
    bool kept = false;
    if (const mpm_Status deleted = issue(delete_output(e, &kept)); deleted != 0) return deleted;
    // Other entities point to it: deleting it would leave their pointers dangling.
    if (kept && !warned) mpm_IssueMessage(0, MAP_HAS_PARENTS, MPM_ERROR, e, e);
  }
  return status;
}

mpm_Status map_CommitEntity(uint32_t, db_ptr e, map_Context *c, db_ptr *committed) {
  if (c == nullptr || c->operation == nullptr || c->env == nullptr)
    return issue(fail(MAP_INVALID_ARG));
  if (mda_IsValidPtr(e) == 0) return issue(fail(MAP_INVALID_PTR));
  return issue(commit(e, *c, committed));
}

mpm_Status map__GenericCopy(db_ptr e, map_Context *c) {
  if (c == nullptr || c->env == nullptr || c->operation == nullptr)
    return issue(fail(MAP_INVALID_ARG));
  if (c->translation != nullptr) {
    db_ptr copy = 0;
    const mpm_Status looked = mda_GetPtrTableEntry(c->translation, e, &copy);
    if (looked != 0) return looked;
    if (copy != 0 && mda_IsValidPtr(copy) != 0) return map_ProcessEntity(0, copy, c);
  }
  void *memory = nullptr;
  if (mpm_Status s = mda_LockEntity(0, e, &memory); s != 0) return s;
  mda_PtrTable *const saved = mda_copy_table;
  mda_copy_table = c->translation;
  void *copy_memory = nullptr;
  mpm_Status status = mda_CopyEntity(MDA_COPY_CREATE, c->target_model, nullptr, memory, &copy_memory);
  mda_copy_table = saved;
  db_ptr copy = 0;
  if (copy_memory != nullptr) copy = static_cast<mda_EntityHeader *>(copy_memory)->ptr;
  const mpm_Status unlocked = mda_UnlockEntity(0, e);
  if (copy != 0 && mda_UnlockEntity(0, copy) != 0 && status == 0) status = mpm_last_status;
  if (status == 0) status = unlocked;
  if (status != 0) {
    if (copy != 0) mda_DeleteEntity(MDA_ALLOW_PARENTS, copy);
    return status;
  }
  if (c->translation != nullptr) {
    if (mpm_Status s = mda_SetPtrTableEntry(c->translation, e, &copy); s != 0) return s;
  }
  return map_ProcessEntity(0, copy, c);
}

mpm_Status map__GenericIgnore(db_ptr, map_Context *) { return 0; }

}  // extern "C"
