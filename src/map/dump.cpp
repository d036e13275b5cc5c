// Dumps of an environment to the trace stream: the definitions, the enabled operations, the
// parameter registry, and the whole environment as a mapping file that reads back to it.
//
// The mapping-file form is made from the operation lists: each list's operations fall into the
// enablings that appended them (a mapping's operation and, for a list or conditional, the
// operations of its names that follow), and each enabling becomes one enable statement with the
// COMMIT, model and parameters its operations carry. The lists those statements name are defined
// first (their component lists before them); conditional and single mappings are the
// translator's own and must be defined when the file is read.
#include <set>
#include <string>

#include "map/map_internal.h"
#include "mda/mda_internal.h"
#include "tesmar/tmx.h"

namespace tesmar::map {
namespace {

// Names written (a comparison of the module's own keeps the set's code inside the library).
struct ByName {
  bool operator()(const std::string &a, const std::string &b) const { return a < b; }
};
using Names = std::set<std::string, ByName>;

template <typename F>
void each_record(otm_Tree *tree, F f) {
  if (tree == nullptr) return;
  tree->cycle_index = 0;
  while (void *record = otm_CycleTree(0, tree)) f(record);
}

map_Operation *operation(const map_DTFNode &node, int32_t n) {
  return static_cast<map_Operation *>(olm_GetObject(0, node.operations, n));
}

// A parameter setting's value as a mapping file writes it.
std::string setting_text(uint32_t type, int32_t integer, double real) {
  char text[64];
  switch (type) {
    case MAP_PARAM_DOUBLE: std::snprintf(text, sizeof text, "%.17g", real); return text;
    case MAP_PARAM_STRING: return mpm_GetMessageName(static_cast<mpm_Status>(integer));
    case MAP_PARAM_BOOLEAN: return integer != 0 ? "TRUE" : "FALSE";
    default: std::snprintf(text, sizeof text, "%d", integer); return text;
  }
}

// The name a statement gives a model: its own when one word can carry it, else "model<number>".
std::string model_name(int32_t model) {
  const mda_ModelRec *rec = mda::model_in_use(model);
  if (rec != nullptr && rec->name[0] != '\0' && std::strpbrk(rec->name, " \t\r\n,'\";") == nullptr)
    return rec->name;
  char text[32];
  std::snprintf(text, sizeof text, "model%d", model);
  return text;
}

void write(const std::string &text) { std::fputs(text.c_str(), g_trace); }

// The definition of a list, after those of the lists among its components.
void define(const map_Env *env, const map_Mapping &list, Names *defined) {
  if (list.count < 2 || (list.flags & MAP_CONDITIONAL) != 0 || !defined->insert(list.name).second)
    return;
  std::string statement = std::string(" \"") + list.name + "\" =";
  const char *separator = " ";
  for (int32_t i = 1; i < list.count;) {
    const map_Mapping *c = find_mapping(env, list.names[i]);
    if (c == nullptr) return;
    define(env, *c, defined);
    statement += separator + std::string("\"") + c->name + "\"";
    separator = ", ";
    i += c->count < 2 ? 1 : c->count;
  }
  write(statement + ";\n");
}

void file_form(const map_Env *env) {
  write("\n/* Ascii Mapping File*/\n");
  Names defined, all_forms_written;
  std::string statements;
  each_record(env->enabled, [&](void *record) {
    const auto &node = *static_cast<const map_DTFNode *>(record);
    const int32_t count = node.operations->count;
    for (int32_t i = 1; i <= count;) {
      const map_Operation *first = operation(node, i);
      const map_Mapping &m = *first->mapping;
      const int32_t span = m.count < 2 ? 1 : m.count;
      i += span;
      // An enabling by name enables a mapping for its own source DTF, or all the forms of it.
      if (all_forms(m.source.type_form)) {
        if (!accepts(m.source, node.dtf) || !all_forms_written.insert(m.name).second) continue;
      } else if (!same_dtf(m.source, node.dtf)) {
        continue;  // enabled for another DTF by map__EnableMapping: no statement says that
      }
      std::string statement = std::string(" \"") + m.name + "\"";
      bool commit = false;
      int32_t model = 0;
      for (int32_t k = i - span; k < i && k <= count; ++k) {
        const map_Operation *op = operation(node, k);
        commit = commit || (op->options & MAP_OP_COMMIT) != 0;
        if (model == 0) model = op->model;
      }
      if (commit) statement += ", COMMIT";
      if (model != 0) statement += ", MODEL, '" + model_name(model) + "'";
      for (int32_t p = 0; p < first->param_count; ++p) {
        const map_ParamSetting &s = first->params[p];
        statement += std::string(", MAP_PARAM, ") + mpm_GetMessageName(s.code) + ", " +
                     setting_text(s.type, s.value.integer, s.value.real);
      }
      statements += statement + ";\n";
      if (m.count >= 2) define(env, m, &defined);
    }
  });
  write(statements);
}

void operations(const map_Env *env) {
  mpm_Fprintf(g_trace, "\n**** Enabled mappings:\n");
  each_record(env->enabled, [&](void *record) {
    const auto &node = *static_cast<const map_DTFNode *>(record);
    mpm_Fprintf(g_trace, "\nDTF: %<DTF>\n", &node.dtf);
    for (int32_t n = 1; n <= node.operations->count; ++n) {
      const map_Operation &op = *operation(node, n);
      const char *tail = op.next == -1                    ? " <CONDITIONAL HEADER>\n"
                         : op.mapping->function == nullptr ? " <MAPPING LIST HEADER>\n"
                         : op.next > 0                     ? "\n"
                                                           : " <FINAL MAPPING OPERATION>\n";
      mpm_Fprintf(g_trace, "  \"%s\"%s", op.mapping->name, tail);
      mpm_Fprintf(g_trace, "      Next operation: %ld\n", static_cast<long>(op.next));
      if (op.model != 0) mpm_Fprintf(g_trace, "      Target model:  %d\n", op.model);
      else mpm_Fprintf(g_trace, "      Target model:  Use default\n");
      mpm_Fprintf(g_trace, "      Options:  %s\n", (op.options & MAP_OP_COMMIT) != 0 ? "COMMIT  " : "");
      if (op.param_count > 0) mpm_Fprintf(g_trace, "      Parameters:\n");
      for (int32_t p = 0; p < op.param_count; ++p) {
        const map_ParamSetting &s = op.params[p];
        mpm_Fprintf(g_trace, "          %s = ", mpm_GetMessageName(s.code));
        switch (s.type) {
          case MAP_PARAM_DOUBLE: mpm_Fprintf(g_trace, "%f\n", s.value.real); break;
          case MAP_PARAM_STRING:
            mpm_Fprintf(g_trace, "%s\n", mpm_GetMessageName(static_cast<mpm_Status>(s.value.integer)));
            break;
          case MAP_PARAM_BOOLEAN: mpm_Fprintf(g_trace, "%s\n", s.value.integer != 0 ? "true" : "false"); break;
          default: mpm_Fprintf(g_trace, "%ld\n", static_cast<long>(s.value.integer)); break;
        }
      }
    }
  });
}

}  // namespace
}  // namespace tesmar::map

using namespace tesmar::map;

extern "C" {

mpm_Status map_DbgDumpTable(uint32_t options, map_Env *env) {
  if (env == nullptr) return issue(fail(MAP_INVALID_ARG));
  try {
    if ((options & (MAP_DUMP_NO_DEFS | MAP_DUMP_FILE_ONLY)) == 0) {
      mpm_Fprintf(g_trace, "\n**** Defined mappings:\n");
      each_record(env->mappings, [&](void *record) {
        const auto &m = *static_cast<const map_Mapping *>(record);
        if ((m.flags & MAP_GENERIC) == 0 || (options & MAP_DUMP_GENERIC) != 0)
          map_DbgDumpMapping(0, env, m.name);
      });
    }
    if ((options & (MAP_DUMP_NO_OPS | MAP_DUMP_FILE_ONLY)) == 0) operations(env);
    if ((options & (MAP_DUMP_NO_OPS | MAP_DUMP_NO_DEFS)) == 0) file_form(env);
  } catch (const std::bad_alloc &) {
    return issue(fail(MAP_MALLOC_ERR));
  }
  return 0;
}

mpm_Status map_DbgDumpParameters(uint32_t options) {
  if (g_parameters == nullptr) return 0;
  const bool file = (options & MAP_DUMP_FILE_FORM) != 0;
  mpm_Fprintf(g_trace, file ? "\n/* Defined parameters */\n\n" : "\n**** Defined parameters:\n\n");
  bool unknown = false;
  each_record(g_parameters, [&](void *record) {
    const auto &p = *static_cast<const map_Parameter *>(record);
    if (unknown) return;
    int32_t integer = 0;
    double real = 0;
    if (p.type == MAP_PARAM_DOUBLE) std::memcpy(&real, p.address, sizeof real);
    else std::memcpy(&integer, p.address, sizeof integer);
    if (p.type > MAP_PARAM_BOOLEAN) {
      unknown = true;
      return;
    }
    char human[64];
    std::snprintf(human, sizeof human, "%g", real);
    const std::string value =
        p.type == MAP_PARAM_DOUBLE && !file ? std::string(human) : setting_text(p.type, integer, real);
    const std::string shown = p.type == MAP_PARAM_BOOLEAN ? (integer != 0 ? "true" : "false") : value;
    if (file) mpm_Fprintf(g_trace, "%s = %s;\n", mpm_GetMessageName(p.code), shown.c_str());
    else
      mpm_Fprintf(g_trace, "%s = %s   (default_addr = 0x%p)\n", mpm_GetMessageName(p.code),
                  shown.c_str(), p.address);
  });
  if (unknown) return issue(internal("map/map_DbgDumpParameters"));
  return 0;
}

mpm_Status map_DbgDumpEnv(uint32_t, map_Env *env) {
  if (env == nullptr) return 0;
  if (mpm_Status s = map_DbgDumpTable(MAP_DUMP_FILE_ONLY, env); s != 0) return s;
  if (mpm_Status s = map_DbgDumpParameters(MAP_DUMP_FILE_FORM); s != 0) return s;
  const char *tmp = nullptr;
  // Only a value that one statement carries as it is (no blank, quote, ';', '#', comment opener
  // or control character) is written.
  bool writable = tmx_GetEnv(0, "TESMAR_TMP", &tmp) == 0 && tmp != nullptr && *tmp != '\0';
  for (const char *c = tmp; writable && *c != '\0'; ++c)
    writable = static_cast<unsigned char>(*c) > 0x20 && std::strchr("\"';#", *c) == nullptr &&
               !(c[0] == '/' && c[1] == '*');
  if (writable) {
    mpm_Fprintf(g_trace, "\n\n/* Tesmar Environment */\n\n");
    mpm_Fprintf(g_trace, "TESMAR_TMP = %s;\n", tmp);
  }
  return 0;
}

}  // extern "C"
