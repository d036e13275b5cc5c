// Dispatching entities through the operations enabled for their DTFs.
//
// Design. A chain is the walk through one DTF's operation list: it starts at a fresh lookup of the
// entity's DTF (index 1) and ends after a final operation or when the index passes the end. Its
// state (the node, the index of the next operation, the dispatcher in force when it began) lives
// in the context, and each dispatch works on its own copy, so the output that an operation's
// function processes, dispatched while the function runs, continues the chain in a copy of its
// own and the caller's context gets back only the committed result. A final operation hands its
// output to the saved (outer) dispatcher, which dispatches it afresh by its own DTF.
//
// Dispatches nest while functions run: output dispatched back to the mapping that made it (a
// same-schema mapping, a generic copy without COMMIT) would recurse without end, so the depth is
// bounded by MAP_MAX_DISPATCH_DEPTH.
//
// The messages of dispatching name the entity (%<PTR> (%<PTR2>)) and the DTFs involved; they are
// issued here, by the exported operations, from frames that hold nothing but the context copy.
#include "map/map_internal.h"

namespace tesmar::map {
namespace {

// Operation number `index` of a list (numbered from 1), or null.
map_Operation *operation_at(map_DTFNode *node, int32_t index) {
  if (node == nullptr || node->operations == nullptr || index < 1 || index > node->operations->count)
    return nullptr;
  return static_cast<map_Operation *>(olm_GetObject(0, node->operations, index));
}

// From c.index on, the first operation whose mapping has a function (list headers have none).
map_Operation *next_runnable(map_Context &c) {
  for (;;) {
    map_Operation *op = operation_at(c.list_node, c.index);
    if (op == nullptr) return nullptr;
    if (op->mapping->function != nullptr) return op;
    if (map_trace_level >= 2)
      mpm_Fprintf(g_trace, "  @%d \"%s\"   <LIST HEADER>\n", c.depth, op->mapping->name);
    ++c.index;
  }
}

// The model the operation writes into.
int32_t target_model(const map_Operation &op, db_ptr entity, int32_t current) {
  if (op.model != 0) return op.model;
  const map_Mapping &m = *op.mapping;
  if (m.source.schema == m.target.schema) return MDA_PTR_MODEL(entity);
  if (m.source.schema == nullptr) return current;
  int32_t model = 0;
  if (mda_FindModelByDDF(0, m.target.schema, &model) != 0) return 0;  // issued; no model
  return model;
}

}  // namespace
}  // namespace tesmar::map

using namespace tesmar::map;

extern "C" {

mpm_Status map_InitContext(uint32_t, map_Context *context) {
  if (context == nullptr) return issue(fail(MAP_INVALID_ARG));
  const map_DTF list_dtf = context->list_dtf;
  *context = map_Context{};
  context->list_dtf = list_dtf;
  context->dispatcher = map_DispatchEntity;
  return 0;
}

mpm_Status map_DispatchEntity(db_ptr entity, map_Context *caller) {
  if (caller == nullptr || caller->env == nullptr) return issue(fail(MAP_INVALID_ARG));
  if (caller->depth >= MAP_MAX_DISPATCH_DEPTH) return issue(internal("map/map_DispatchEntity"));
  map_Context c = *caller;
  ++c.depth;
  map_DTF dtf{};
  if (entity == MDA_NULL_PTR || !entity_dtf(entity, &dtf)) return issue(fail(MAP_INVALID_PTR));
  if (caller->depth == 0 && map_trace_level >= 1) {
    if (map_trace_level >= 2) mpm_Fprintf(g_trace, "\n\n");
    mpm_Fprintf(g_trace, "*** Mapping %<PTR> (%<PTR2>), dtf: %<DTF>\n", entity, entity, &dtf);
  }
  map_Operation *op = nullptr;
  bool fresh = c.list_node == nullptr;
  if (!fresh && c.index > c.list_node->operations->count) {
    fresh = true;  // the chain is over
  } else if (!fresh) {
    op = next_runnable(c);
    if (op == nullptr) return issue(fail(MAP_LIST_ERR));
    if (!accepts(op->mapping->source, dtf)) {
      // Output of any type (a TF_ANY target) that the chain does not take starts afresh.
      if (c.operation == nullptr || c.operation->mapping->target.type_form != TF_ANY)
        return mpm_IssueMessage(0, MAP_INCORRECT_TYPE, MPM_ERROR, entity, entity,
                                &op->mapping->source, &dtf);
      fresh = true;
    }
  }
  if (fresh) {
    if (c.list_node != nullptr) {
      c.list_node = nullptr;
      c.dispatcher = c.saved_dispatcher;
    }
    map_DTFNode *node = find_node(c.env, dtf);
    if (node == nullptr) {
      if ((c.options & MAP_IGNORE_UNMAPPED) == 0)
        return mpm_IssueMessage(0, MAP_NO_MAPPING, MPM_ERROR, entity, entity);
      if (map_trace_level >= 2)
        mpm_Fprintf(g_trace, "  @%d Ignoring db_ptr: %<PTR> (%<PTR2>) with non-mapped dtf: %<DTF>\n",
                    c.depth, entity, entity, &dtf);
      return 0;
    }
    c.list_node = node;
    c.index = 1;
    c.list_dtf = dtf;
    c.saved_dispatcher = c.dispatcher;
    c.result = 0;
    c.dispatcher = map_DispatchEntity;
    op = next_runnable(c);
    if (op == nullptr) return issue(fail(MAP_LIST_ERR));
  }
  c.operation = op;
  c.run_flags = (c.run_flags & ~MAP_TRANSIENT) | (op->mapping->flags & MAP_TRANSIENT);
  if (op->next < 1) {
    ++c.index;
  } else {
    c.index = op->next;
  }
  if (op->next == 0) {  // final: what the function processes goes to the outer dispatcher
    c.dispatcher = c.saved_dispatcher;
    c.list_node = nullptr;
  }
  c.target_model = target_model(*op, entity, c.target_model);
  if (map_trace_level >= 2) {
    mpm_Fprintf(g_trace, "  @%d \"%s\"%s", c.depth, op->mapping->name,
                op->next == -1 ? "   <CONDITIONAL HEADER>\n" : "\n");
    db_ptr orig = 0;
    if (mpm_Status s = mda_GetOrigPtr(0, entity, &orig); s != 0) return s;
    mpm_Fprintf(g_trace,
                "          db_ptr: %<PTR> (%<PTR2>), orig_db_ptr: %<PTR2>\n          dtf: %<DTF>, "
                "dst mdl: %d\n",
                entity, entity, orig, &dtf, c.target_model);
  }
  const mpm_Status status = op->mapping->function(entity, &c);
  caller->result = c.result;
  return status;
}

mpm_Status map_DispatchEntityList(uint32_t, mda_TypeLists *lists, int32_t tfi, map_Context *context) {
  if (lists == nullptr || context == nullptr || context->dispatcher == nullptr || tfi < 0 ||
      static_cast<uint32_t>(tfi) >= lists->tf_count)
    return issue(fail(MAP_INVALID_ARG));
  lists->cursor[tfi] = lists->oldest[tfi];
  for (;;) {
    db_ptr entity = 0;
    const mpm_Status walked = mda_NextOfType(lists, tfi, &entity);
    if (walked == MDA_END_OF_LIST) return 0;
    if (walked != 0) return walked;
    context->dispatcher(entity, context);  // its failures are its own, issued, and do not stop us
  }
}

mpm_Status map_InvokeMapping(const char *name, db_ptr entity, map_Context *c) {
  if (c == nullptr || c->operation == nullptr || c->env == nullptr)
    return issue(fail(MAP_INVALID_ARG));
  const map_Mapping &current = *c->operation->mapping;
  if ((current.flags & MAP_CONDITIONAL) == 0)
    return mpm_IssueMessage(0, MAP_INVOKE_NONCONDITIONAL, MPM_ERROR, entity, entity, current.name);
  const map_Mapping *named = name != nullptr ? find_mapping(c->env, name) : nullptr;
  if (named == nullptr) return issue(fail(MAP_UNDEFINED).with(name != nullptr ? name : ""));
  map_DTF dtf{};
  if (!entity_dtf(entity, &dtf)) return issue(fail(MAP_INVALID_PTR));
  if (!accepts(named->source, dtf))
    return mpm_IssueMessage(0, MAP_INCORRECT_TYPE, MPM_ERROR, entity, entity, &named->source, &dtf);
  // The alternatives follow the header; one that is not the named one is passed over whole.
  for (;;) {
    const map_Operation *op = operation_at(c->list_node, c->index);
    if (op == nullptr) return issue(fail(MAP_LIST_ERR));
    if (std::strcmp(op->mapping->name, named->name) == 0) break;
    c->index += op->mapping->count < 2 ? 1 : op->mapping->count;
  }
  return map_DispatchEntity(entity, c);
}

}  // extern "C"
