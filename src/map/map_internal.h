// Private declarations of the mapping engine.
//
// Error paths follow the library's rule (src/mpm/failure.h): inner functions return a Failure and
// issue nothing; the exported operations issue it once their inner frames are gone. A failure of
// another module (or of one of MAP's own exported operations called from inside) has been issued
// already and passes through as Failure::issued.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "mpm/failure.h"
#include "tesmar/map.h"
#include "tesmar/mpm.h"

namespace tesmar::map {

using tesmar::Failure;
using tesmar::kOk;

const mpm_ModuleDesc &module_desc();

inline Failure fail(mpm_Status code) { return Failure::error(code); }
// MAP_INTERNAL_ERR naming the source file of the operation, as "map/map_ClearDTFMapping".
inline Failure internal(const char *where) { return fail(MAP_INTERNAL_ERR).with(where); }
// A failure of another module's operation (or of one of MAP's own exported ones): issued.
inline Failure passed(mpm_Status code) { return Failure::issued(code); }

// Fault injection for the tests: when set to n > 0, the n-th allocation from now fails (once).
extern int32_t g_fail_allocation;

// Every allocation of the engine's own records goes through here.
inline void *allocate(std::size_t bytes) {
  if (g_fail_allocation > 0 && --g_fail_allocation == 0) return nullptr;
  return std::malloc(bytes);
}
inline void *reallocate(void *block, std::size_t bytes) {
  if (g_fail_allocation > 0 && --g_fail_allocation == 0) return nullptr;
  return std::realloc(block, bytes);
}

// Runs an inner step whose working copies (names, tokens) live in standard containers: running
// out of memory there is MAP_MALLOC_ERR, not an exception through the interface.
template <typename F>
Failure guarded(F &&step) {
  try {
    return step();
  } catch (const std::bad_alloc &) {
    return fail(MAP_MALLOC_ERR);
  }
}

// A text a failure names that would not outlive the frame making it: kept until the next one.
const char *kept(const std::string &text);

// ---- Module state (start.cpp) ----

extern std::FILE *g_trace;          // the trace stream: standard output
extern otm_Tree *g_parameters;      // map_Parameter records by code

// ---- DTFs ----

inline bool same_dtf(const map_DTF &a, const map_DTF &b) {
  return a.schema == b.schema && a.type_form == b.type_form;
}
inline bool all_forms(uint32_t tf) { return (tf & 0xFFFFu) == DDF_ALL_FORMS; }

// Does a mapping whose source is `source` take an entity of `dtf`: the same schema, and the type
// form equal, TF_ANY, or all forms of the entity's type?
inline bool accepts(const map_DTF &source, const map_DTF &dtf) {
  if (source.schema != dtf.schema) return false;
  if (source.type_form == dtf.type_form || source.type_form == TF_ANY) return true;
  return all_forms(source.type_form) && (source.type_form >> 16) == (dtf.type_form >> 16);
}

// The DTF of an entity: its model's schema and its type form; the null handle has TF_NONE. False
// for a handle that names no live entity.
bool entity_dtf(db_ptr entity, map_DTF *dtf);

// Makes `schema` ddf_current for the life of the object (the TF cache reset), then restores it.
class CurrentSchema {
 public:
  explicit CurrentSchema(ddf_Schema *schema);
  ~CurrentSchema();
  CurrentSchema(const CurrentSchema &) = delete;
  CurrentSchema &operator=(const CurrentSchema &) = delete;

 private:
  ddf_Schema *saved_;
  uint32_t saved_tf_;
  int32_t saved_tfi_;
};

// The type forms of the schema with the type number of `tf` (a malloc'ed array in *tfs, freed by
// the caller); false when there are none.
bool forms_of_type(ddf_Schema *schema, uint32_t tf, int32_t *count, uint32_t **tfs);

// ---- Definitions (definitions.cpp) ----

map_Mapping *find_mapping(const map_Env *env, const char *name);
map_DTFNode *find_node(const map_Env *env, const map_DTF &dtf);

// ---- Enabling (enable.cpp) ----

// Enables `mapping` for `dtf`; the argument stream is read from a copy of `args`.
Failure enable(uint32_t options, map_Env *env, const map_DTF &dtf, map_Mapping *mapping,
               va_list *args);
Failure clear(map_Env *env, ddf_Schema *schema, uint32_t tf);
// Frees the parameter settings of every operation of a list, then the list.
void free_operations(olm_List *list);

// ---- Parameters (parameters.cpp) ----

const map_Parameter *find_parameter(uint32_t code);

// ---- Processing (process.cpp) ----

// Frees the deletion stack (at shut-down) and makes a new one (at start-up).
bool create_deletion_stack();
void free_deletion_stack();

}  // namespace tesmar::map
