// Environments and the definitions they hold: single mappings, mapping lists, conditional
// mappings and the generic copy and ignore mappings.
//
// A list's or conditional's record keeps the flattened names of its components: entry 0 its own
// name, then for each component either its name (a single mapping) or its whole names array (a
// list or conditional, itself flat), so that enabling can number the operations of any nesting in
// one pass over one array. A component's `count` says how many entries it occupies.
#include <cstdlib>
#include <string>
#include <vector>

#include "map/map_internal.h"
#include "mda/mda_internal.h"

namespace tesmar::map {
namespace {

int compare_names(const void *a, const void *b) {
  return std::strcmp(static_cast<const map_Mapping *>(a)->name,
                     static_cast<const map_Mapping *>(b)->name);
}

int compare_dtfs(const void *a, const void *b) {
  const auto &x = static_cast<const map_DTFNode *>(a)->dtf;
  const auto &y = static_cast<const map_DTFNode *>(b)->dtf;
  const auto xs = reinterpret_cast<uintptr_t>(x.schema), ys = reinterpret_cast<uintptr_t>(y.schema);
  if (xs != ys) return xs < ys ? -1 : 1;
  const auto xt = static_cast<int32_t>(x.type_form), yt = static_cast<int32_t>(y.type_form);
  return xt < yt ? -1 : (xt > yt ? 1 : 0);
}

char *copy_text(const char *text) {
  const std::size_t n = std::strlen(text) + 1;
  auto *copy = static_cast<char *>(allocate(n));
  if (copy != nullptr) std::memcpy(copy, text, n);
  return copy;
}

void free_names(map_Mapping &m) {
  std::free(m.name);
  if (m.names != nullptr)
    for (int32_t i = 0; i < m.count; ++i) std::free(m.names[i]);
  std::free(m.names);
  m.name = nullptr;
  m.names = nullptr;
}

// Inserts a record (its texts already owned); on failure frees them.
Failure insert(map_Env *env, map_Mapping &record) {
  if (otm_AddObject(0, env->mappings, &record) == nullptr) {
    free_names(record);
    return fail(MAP_TREE_ERR);
  }
  return kOk;
}

// ---- lists and conditionals ----

// The component names of a definition: the variadic texts up to a null, or with MAP_TEXT_ARGS the
// names quoted in one text (either quote character opens and either closes).
Failure read_components(uint32_t options, va_list *args, std::vector<std::string> *names) {
  if ((options & MAP_TEXT_ARGS) == 0) {
    while (const char *name = va_arg(*args, const char *)) names->emplace_back(name);
    return kOk;
  }
  const char *text = va_arg(*args, const char *);
  if (text == nullptr) return kOk;
  for (const char *p = text;;) {
    const char *open = std::strpbrk(p, "\"'");
    if (open == nullptr) return kOk;
    const char *close = std::strpbrk(open + 1, "\"'");
    if (close == nullptr) return fail(MAP_PARSE_ERR);
    names->emplace_back(open + 1, static_cast<std::size_t>(close - open - 1));
    p = close + 1;
  }
}

// The target a definition's output finally has when it feeds on: a single chainable mapping's
// target, a list's last component's, a conditional's when every alternative ends in the same
// one. False when there is none.
bool final_target(const map_Env *env, const map_Mapping &m, map_DTF *out, int depth = 0) {
  if (depth > MAP_MAX_LIST_NAMES) return false;
  if (m.count < 2) {
    if ((m.flags & MAP_CHAINABLE) == 0 || m.target.schema == nullptr) return false;
    *out = m.target;
    return true;
  }
  // The top-level components: entries 1, 1 + count of entry 1, ...
  bool first = true;
  map_DTF common{};
  const map_Mapping *last = nullptr;
  for (int32_t i = 1; i < m.count;) {
    const map_Mapping *c = find_mapping(env, m.names[i]);
    if (c == nullptr) return false;
    if ((m.flags & MAP_CONDITIONAL) != 0) {
      map_DTF t{};
      if (!final_target(env, *c, &t, depth + 1)) return false;
      if (!first && !same_dtf(t, common)) return false;
      common = t;
      first = false;
    }
    last = c;
    i += c->count;
  }
  if ((m.flags & MAP_CONDITIONAL) != 0) {
    *out = common;
    return !first;
  }
  return last != nullptr && final_target(env, *last, out, depth + 1);
}

// The definition of a list (conditional false) or a conditional (its source given).
Failure define_list(uint32_t options, map_Env *env, const char *name, bool conditional,
                    const map_DTF &source, va_list *args) {
  if (env == nullptr || name == nullptr) return fail(MAP_INVALID_ARG);
  if (find_mapping(env, name) != nullptr) return fail(MAP_ALREADY_DEFINED).with(name);
  std::vector<std::string> components;
  if (Failure f = read_components(options, args, &components)) return f;
  if (components.empty()) return fail(MAP_EMPTY_LIST).with(name);
  // The flattened names: the list's own, then each component's.
  std::vector<const char *> buffered{name};
  for (const std::string &component : components) {
    const map_Mapping *m = find_mapping(env, component.c_str());
    if (m == nullptr) return fail(MAP_NOT_DEFINED).with(kept(component));
    const int32_t n = m->count < 2 ? 1 : m->count;
    if (buffered.size() + static_cast<std::size_t>(n) > MAP_MAX_LIST_NAMES)
      return fail(MAP_LIST_TOO_LONG).with(name).with(int32_t{MAP_MAX_LIST_NAMES});
    if (m->count < 2) buffered.push_back(m->name);
    else buffered.insert(buffered.end(), m->names, m->names + m->count);
  }
  map_Mapping record{};
  record.count = static_cast<int32_t>(buffered.size());
  record.target = map_DTF{nullptr, TF_NONE, 0};
  record.flags = conditional ? MAP_CONDITIONAL : 0;
  if (conditional) record.source = source;
  // The top-level components, which decide the source, the flags and what is allowed.
  const map_Mapping *last = nullptr;
  for (int32_t i = 1; i < record.count;) {
    const map_Mapping *m = find_mapping(env, buffered[static_cast<std::size_t>(i)]);
    if (m == nullptr) return internal("map/map__DefineList");
    i += m->count;
    if (conditional) {
      if (!same_dtf(m->source, source))
        return fail(MAP_CONDITIONAL_NO_MATCH).with(m->name).with(name);
    } else {
      if (last == nullptr) record.source = m->source;
      // A component whose output cannot feed the next one may only come last.
      if ((m->flags & MAP_CHAINABLE) == 0 && i < record.count)
        return fail(MAP_NOT_LISTABLE).with(m->name);
    }
    last = m;
  }
  if (!conditional && last != nullptr) record.flags |= last->flags & MAP_CHAINABLE;
  record.name = copy_text(name);
  record.names = static_cast<char **>(allocate(buffered.size() * sizeof(char *)));
  if (record.names != nullptr) std::memset(record.names, 0, buffered.size() * sizeof(char *));
  bool copied = record.name != nullptr && record.names != nullptr;
  for (std::size_t i = 0; copied && i < buffered.size(); ++i)
    copied = (record.names[i] = copy_text(buffered[i])) != nullptr;
  if (!copied) {
    free_names(record);
    return fail(MAP_MALLOC_ERR);
  }
  if (conditional) {
    map_DTF target{};
    if (final_target(env, record, &target)) record.flags |= MAP_CHAINABLE;
  }
  return insert(env, record);
}

Failure define_mapping(uint32_t options, map_Env *env, const char *name, ddf_Schema *source_schema,
                       uint32_t source_tf, ddf_Schema *target_schema, uint32_t target_tf,
                       map_MappingFn function) {
  if (env == nullptr || name == nullptr || source_schema == nullptr) return fail(MAP_INVALID_ARG);
  if (find_mapping(env, name) != nullptr) return fail(MAP_ALREADY_DEFINED).with(name);
  map_Mapping record{};
  record.count = 1;
  record.source = map_DTF{source_schema, source_tf, 0};
  record.target = map_DTF{target_schema, target_tf, 0};
  record.function = function;
  record.flags = options & (MAP_GENERIC | MAP_GENERAL | MAP_TRANSIENT);
  // Chainable: general, with one definite target type (a mapping to nothing feeds nothing).
  if ((options & MAP_GENERAL) != 0 && target_schema != nullptr && target_tf != TF_ANY &&
      target_tf != TF_NONE)
    record.flags |= MAP_CHAINABLE;
  record.name = copy_text(name);
  if (record.name == nullptr) return fail(MAP_MALLOC_ERR);
  return insert(env, record);
}

// Enables a mapping just defined, with no arguments (an explicit MAP_END).
mpm_Status enable_now(map_Env *env, const char *name) {
  return map_EnableMapping(0, env, name, MAP_END);
}

}  // namespace

map_Mapping *find_mapping(const map_Env *env, const char *name) {
  if (env == nullptr || env->mappings == nullptr || name == nullptr) return nullptr;
  map_Mapping key{};
  key.name = const_cast<char *>(name);
  return static_cast<map_Mapping *>(
      otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, env->mappings, &key));
}

map_DTFNode *find_node(const map_Env *env, const map_DTF &dtf) {
  if (env == nullptr || env->enabled == nullptr) return nullptr;
  const map_DTFNode key{dtf, nullptr};
  return static_cast<map_DTFNode *>(
      otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, env->enabled, &key));
}

bool entity_dtf(db_ptr entity, map_DTF *dtf) {
  *dtf = map_DTF{nullptr, TF_NONE, 0};
  if (entity == MDA_NULL_PTR) return true;
  mda_ModelRec *rec = nullptr;
  const mda_EntityEntry *e = mda::lookup_valid(entity, &rec);
  if (e == nullptr || rec == nullptr) return false;
  *dtf = map_DTF{rec->schema, e->tf, 0};
  return true;
}

CurrentSchema::CurrentSchema(ddf_Schema *schema)
    : saved_(ddf_current), saved_tf_(ddf_last_tf), saved_tfi_(ddf_last_tfi) {
  ddf_current = schema;
  ddf_last_tf = TF_NONE;
}

CurrentSchema::~CurrentSchema() {
  ddf_current = saved_;
  ddf_last_tf = saved_tf_;
  ddf_last_tfi = saved_tfi_;
}

bool forms_of_type(ddf_Schema *schema, uint32_t tf, int32_t *count, uint32_t **tfs) {
  *count = 0;
  *tfs = nullptr;
  const CurrentSchema current(schema);
  const auto type = static_cast<int32_t>(static_cast<int16_t>(tf >> 16));
  // A failure (memory) has been issued and stays pending; the caller reports no forms.
  if (ddf_FindFormsOfType(type, count, tfs) != 0) return false;
  return *count > 0;
}

}  // namespace tesmar::map

using namespace tesmar::map;

extern "C" {

mpm_Status map_CreateEnv(uint32_t, map_Env **env) {
  if (env == nullptr) return issue(fail(MAP_NULL_MEMPTR));
  *env = nullptr;
  auto *made = static_cast<map_Env *>(allocate(sizeof(map_Env)));
  if (made == nullptr) return issue(fail(MAP_MALLOC_ERR));
  *made = map_Env{};
  made->mappings = otm_CreateTree(0, sizeof(map_Mapping), compare_names, 0);
  made->enabled = otm_CreateTree(0, sizeof(map_DTFNode), compare_dtfs, 0);
  if (made->mappings == nullptr || made->enabled == nullptr) {
    if (made->mappings != nullptr) otm_DeleteTree(0, made->mappings);
    if (made->enabled != nullptr) otm_DeleteTree(0, made->enabled);
    std::free(made);
    return issue(fail(MAP_TREE_ERR));
  }
  *env = made;
  return 0;
}

mpm_Status map_DeleteEnv(uint32_t, map_Env *env) {
  if (env == nullptr) return 0;
  mpm_Status status = 0;
  // Whole cycles from the first record (a lookup may have left one under way).
  if (env->mappings != nullptr) {
    env->mappings->cycle_index = 0;
    while (auto *m = static_cast<map_Mapping *>(otm_CycleTree(0, env->mappings))) free_names(*m);
    if (otm_DeleteTree(0, env->mappings) != 0) status = MAP_TREE_ERR;
  }
  if (env->enabled != nullptr) {
    env->enabled->cycle_index = 0;
    while (auto *node = static_cast<map_DTFNode *>(otm_CycleTree(0, env->enabled)))
      free_operations(node->operations);
    if (otm_DeleteTree(0, env->enabled) != 0) status = MAP_TREE_ERR;
  }
  std::free(env);
  return status != 0 ? issue(fail(status)) : 0;
}

mpm_Status map_DefineMapping(uint32_t options, map_Env *env, const char *name,
                             ddf_Schema *source_schema, uint32_t source_tf,
                             ddf_Schema *target_schema, uint32_t target_tf, map_MappingFn function) {
  mpm_Status status = issue(define_mapping(options, env, name, source_schema, source_tf,
                                           target_schema, target_tf, function));
  if (status == 0 && (options & MAP_ENABLE) != 0) status = enable_now(env, name);
  return status;
}

mpm_Status map_DefineMappingList(uint32_t options, map_Env *env, const char *name, ...) {
  va_list args;
  va_start(args, name);
  const Failure f = guarded([&] { return define_list(options, env, name, false, map_DTF{}, &args); });
  va_end(args);
  return issue(f);
}

mpm_Status map_DefineConditionalMapping(uint32_t options, map_Env *env, const char *name,
                                        ddf_Schema *source_schema, uint32_t source_tf,
                                        map_MappingFn condition, ...) {
  va_list args;
  va_start(args, condition);
  const Failure f =
      source_schema == nullptr
          ? fail(MAP_INVALID_ARG)
          : guarded([&] {
              return define_list(options, env, name, true, map_DTF{source_schema, source_tf, 0}, &args);
            });
  va_end(args);
  if (f) return issue(f);
  map_Mapping *m = find_mapping(env, name);
  if (m == nullptr) return issue(internal("map/map_DefineConditionalMapping"));
  m->function = condition;
  return (options & MAP_ENABLE) != 0 ? enable_now(env, name) : 0;
}

mpm_Status map_DefineGenericMappings(uint32_t options, map_Env *env, ddf_Schema *schema) {
  if (env == nullptr || schema == nullptr) return issue(fail(MAP_INVALID_ARG));
  if (schema->tf_count <= 0) return issue(internal("map/map_DefineGenericMappings"));
  const CurrentSchema current(schema);
  for (int32_t tfi = 0; tfi < schema->tf_count; ++tfi) {
    const uint32_t tf = schema->typeforms[tfi];
    const char *entity = schema->ent_names[tfi] != nullptr ? schema->ent_names[tfi] : "";
    const uint32_t flags = MAP_GENERIC | MAP_GENERAL | MAP_TRANSIENT;
    // The names are as long as the entity names (a schema's, of any length) make them.
    char *name = static_cast<char *>(allocate(std::strlen(entity) + sizeof " ignore"));
    if (name == nullptr) return issue(fail(MAP_MALLOC_ERR));
    mpm_Status s = 0;
    if ((options & MAP_GENERIC_COPY) != 0) {
      std::strcat(std::strcpy(name, entity), " copy");
      s = map_DefineMapping(flags, env, name, schema, tf, schema, TF_ANY, map__GenericCopy);
    }
    if (s == 0 && (options & MAP_GENERIC_IGNORE) != 0) {
      std::strcat(std::strcpy(name, entity), " ignore");
      s = map_DefineMapping(flags, env, name, schema, tf, schema, TF_NONE, map__GenericIgnore);
    }
    std::free(name);
    if (s != 0) return s;
  }
  return 0;
}

mpm_Status map_DbgDumpMapping(uint32_t, map_Env *env, const char *name) {
  if (env == nullptr || name == nullptr) return issue(fail(MAP_INVALID_ARG));
  const map_Mapping *m = find_mapping(env, name);
  if (m == nullptr) {
    mpm_Fprintf(g_trace, "Could not locate mapping %s", name);
    return 0;
  }
  char flags[64] = "";
  if ((m->flags & MAP_CHAINABLE) != 0) std::strcat(flags, "CHAINABLE  ");
  if ((m->flags & MAP_GENERAL) != 0) std::strcat(flags, "GENERAL  ");
  if ((m->flags & MAP_TRANSIENT) != 0) std::strcat(flags, "TRANSIENT  ");
  if ((m->flags & MAP_CONDITIONAL) != 0) std::strcat(flags, "CONDITIONAL  ");
  mpm_Fprintf(g_trace, "\n\"%s\"\n", m->name);
  mpm_Fprintf(g_trace, "  DTF: %<DTF>\n", &m->source);
  mpm_Fprintf(g_trace, "  Flags:  %s\n", flags);
  if (m->count >= 2) {
    mpm_Fprintf(g_trace, "  Mapping Lists/Conditionals:\n");
    for (int32_t i = 0; i < m->count; ++i) mpm_Fprintf(g_trace, "       \"%s\"\n", m->names[i]);
  } else {
    mpm_Fprintf(g_trace, "  Function: 0x%p\n", reinterpret_cast<void *>(m->function));
  }
  return 0;
}

}  // extern "C"
