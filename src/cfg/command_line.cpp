// Configuration parameters given on the command line: options named by the fields' descriptions,
// turned into the configuration text that cfg_ParseFile reads after the file.
//
// A value goes into the text as it was given, in double quotes for string fields; one that would
// end its statement early (a quote or a final backslash in a string; ';', ':', '#', a comment
// opener or a control character in a bare value) is refused, so an argument can never become
// statements of its own.
#include <cstdlib>
#include <cstring>
#include <string>

#include "cfg/cfg_internal.h"
#include "ddf/ddf_internal.h"
#include "tesmar/olm.h"
#include "tesmar/otm.h"

namespace tesmar::cfg {
namespace {

bool is_option_kind(int32_t kind) {
  return kind == DDF_INT || kind == DDF_LONG || kind == DDF_SHORT || kind == DDF_CHAR ||
         kind == DDF_DOUBLE || kind == DDF_FLOAT || kind == DDF_VSTRING || kind == DDF_FSTRING ||
         kind == DDF_COUNT || kind == DDF_STRUCT;
}

const char *name_of(const ddf_Schema *s, const ddf_FieldDesc &d) {
  return d.name >= 0 && d.name < s->fld_name_count ? s->fld_names[d.name] : nullptr;
}

const char *description_of(const ddf_Schema *s, const ddf_FieldDesc &d) {
  return d.desc >= 0 && d.desc < s->fld_desc_count && s->fld_descs[d.desc] != nullptr
             ? s->fld_descs[d.desc]
             : "";
}

// A field that a command line can set: a named value or structure field outside structures.
bool settable(const ddf_Schema *s, const ddf_FieldDesc &d) {
  const char *name = name_of(s, d);
  return name != nullptr && std::strchr(name, '.') == nullptr && is_option_kind(d.kind);
}

// Appends "field=value;" to a text; false when memory fails.
bool setting(char **text, std::size_t *length, std::size_t *capacity, const char *field,
             uint32_t kind, const char *value) {
  const bool quoted = is_string_kind(kind);
  return append(text, length, capacity, field, std::strlen(field)) &&
         append(text, length, capacity, "=", 1) &&
         (!quoted || append(text, length, capacity, "\"", 1)) &&
         append(text, length, capacity, value, std::strlen(value)) &&
         (!quoted || append(text, length, capacity, "\"", 1)) &&
         append(text, length, capacity, ";", 1);
}

// A value refused: CFG_PVAL_EXP, naming the option and its value.
mpm_Status refused(const char *option, const char *value) {
  const std::string detail = std::string("option ") + option + ": \"" + value + "\" would end its statement: ";
  char *text = static_cast<char *>(std::malloc(detail.size() + 1));
  if (text == nullptr) return mpm_IssueMessage(0, CFG_PVAL_EXP, MPM_ERROR);
  std::memcpy(text, detail.c_str(), detail.size() + 1);
  return mpm_IssueMessage(MPM_OPTIONS, CFG_PVAL_EXP, MPM_ERROR, MPM_OPT_TEXT, text, MPM_OPT_END);
}

int compare_keys(const void *a, const void *b) {
  return std::strcmp(static_cast<const cfg_OptionNode *>(a)->key,
                     static_cast<const cfg_OptionNode *>(b)->key);
}

int compare_entities(const void *a, const void *b) {
  return std::strcmp(static_cast<const cfg_EntityNode *>(a)->entity,
                     static_cast<const cfg_EntityNode *>(b)->entity);
}

void free_trees(otm_Tree *keys, otm_Tree *entities) {
  if (entities != nullptr) {
    entities->cycle_index = 0;
    while (auto *e = static_cast<cfg_EntityNode *>(otm_CycleTree(0, entities)))
      if (e->values != nullptr) olm_DeleteList(0, e->values);
    otm_DeleteTree(0, entities);
  }
  if (keys != nullptr) otm_DeleteTree(0, keys);
}

// Makes `schema` ddf_current for the life of the object.
struct CurrentSchema {
  explicit CurrentSchema(ddf_Schema *schema) : saved(ddf_current) {
    ddf_current = schema;
    ddf::reset_cache();
  }
  ~CurrentSchema() {
    ddf_current = saved;
    ddf::reset_cache();
  }
  ddf_Schema *saved;
};

}  // namespace
}  // namespace tesmar::cfg

using namespace tesmar::cfg;

extern "C" {

mpm_Status cfg__BuildArgTable(ugn_Option **table, cfg_ArgSlot **slots, int32_t *count,
                              ddf_Schema *schema) {
  if (table == nullptr || slots == nullptr || count == nullptr)
    return mpm_IssueMessage(0, CFG_NOT_SUPPORTED, MPM_ERROR);
  *table = nullptr;
  *slots = nullptr;
  *count = 0;
  if (schema == nullptr || schema->tf_count != 1 || schema->ent_fldcnts[0] < 2)
    return mpm_IssueMessage(0, CFG_NOT_SUPPORTED, MPM_ERROR);
  const int32_t first = schema->fld_indices[0];
  const int32_t fields = schema->ent_fldcnts[0] - 1;  // the closing descriptor has no option
  int32_t n = 0;
  for (int32_t i = first; i < first + fields; ++i) {
    const ddf_FieldDesc &d = schema->fld_data[i];
    if (settable(schema, d) && *description_of(schema, d) != '\0') ++n;
  }
  // The table: the options, "h", the closing entry, and after them the flag "h" stores.
  const std::size_t bytes = sizeof(ugn_Option) * static_cast<std::size_t>(n + 2) + sizeof(int32_t);
  auto *options = static_cast<ugn_Option *>(std::calloc(1, bytes));
  auto *args = static_cast<cfg_ArgSlot *>(std::calloc(static_cast<std::size_t>(n > 0 ? n : 1),
                                                      sizeof(cfg_ArgSlot)));
  char *usage = mpm_GetMessageText(0, 17, CFG_PRINT_USAGE & 0xFFFF);
  if (options == nullptr || args == nullptr || usage == nullptr) {
    std::free(options);
    std::free(args);
    std::free(usage);
    return mpm_IssueMessage(0, CFG_MALLOC_ERROR, MPM_ERROR);
  }
  std::memmove(usage, usage + 1, std::strlen(usage));  // without its marker
  int32_t k = 0;
  for (int32_t i = first; i < first + fields; ++i) {
    const ddf_FieldDesc &d = schema->fld_data[i];
    if (!settable(schema, d) || *description_of(schema, d) == '\0') continue;
    args[k] = cfg_ArgSlot{nullptr, name_of(schema, d), static_cast<uint32_t>(d.kind), 0};
    options[k] = ugn_Option{description_of(schema, d), "s", nullptr, &args[k].value,
                            name_of(schema, d)};
    ++k;
  }
  auto *help = reinterpret_cast<int32_t *>(options + n + 2);
  options[n] = ugn_Option{"h", "f", nullptr, help, usage};
  options[n + 1] = ugn_Option{nullptr, nullptr, nullptr, nullptr, nullptr};
  *table = options;
  *slots = args;
  *count = n;
  return 0;
}

mpm_Status cfg__PreProcArgs(const cfg_ArgSlot *slots, int32_t count, char **text) {
  if (text == nullptr) return mpm_IssueMessage(0, CFG_MALLOC_ERROR, MPM_ERROR);
  *text = nullptr;
  std::size_t length = 0, capacity = 0;
  for (int32_t i = 0; slots != nullptr && i < count; ++i) {
    const cfg_ArgSlot &s = slots[i];
    if (s.value == nullptr) continue;
    if (!value_fits(s.value, is_string_kind(s.kind))) {
      std::free(*text);
      *text = nullptr;
      return refused(s.field_name, s.value);
    }
    if (!setting(text, &length, &capacity, s.field_name, s.kind, s.value)) {
      std::free(*text);
      *text = nullptr;
      return mpm_IssueMessage(0, CFG_MALLOC_ERROR, MPM_ERROR);
    }
  }
  return 0;
}

mpm_Status cfg_PreProcessCmdLineArg(uint32_t, int32_t argc, char **argv, ddf_Schema *schema,
                                    char **text) {
  if (text != nullptr) *text = nullptr;
  if (argc < 2 || argv == nullptr || schema == nullptr || text == nullptr) return 0;
  const CurrentSchema current(schema);
  ugn_Option *table = nullptr;
  cfg_ArgSlot *slots = nullptr;
  int32_t count = 0;
  if (mpm_Status s = cfg__BuildArgTable(&table, &slots, &count, schema); s != 0) return s;
  const int32_t *help = reinterpret_cast<const int32_t *>(table + count + 2);
  int32_t left = argc;
  mpm_Status status = ugn_ParseCommandLine(0, table, &left, argv);
  if (status == UGN_OPTS_UNKNOWN_OPTION) {
    // The argument the option parser did not know (the vector is as it was).
    const char *unknown = argv[1];
    for (int32_t i = 1; i < argc; ++i) {
      if (argv[i] == nullptr || argv[i][0] != '-') break;
      bool known = false;
      for (int32_t k = 0; table[k].name != nullptr && !known; ++k)
        known = std::strcmp(argv[i] + 1, table[k].name) == 0;
      if (!known) {
        unknown = argv[i];
        break;
      }
      if (std::strcmp(argv[i] + 1, "h") != 0) ++i;  // its value
    }
    status = mpm_ReportMessage(0, CFG_UNKNOWN_OPTION, MPM_ERROR, unknown);
  } else if (status == 0 && *help != 0) {
    ugn_PrintUsage(0, table, argv[0], nullptr, nullptr);
    status = CFG_PRINT_USAGE;
  } else if (status == 0) {
    status = cfg__PreProcArgs(slots, count, text);
  }
  std::free(const_cast<char *>(table[count].description));
  std::free(table);
  std::free(slots);
  if (status != 0 && *text != nullptr) {
    std::free(*text);
    *text = nullptr;
  }
  return status;
}

mpm_Status cfg__BuildArgTrees(uint32_t, ddf_Schema *schema, otm_Tree **keys,
                              otm_Tree **entities) {
  if (keys == nullptr || entities == nullptr) return mpm_IssueMessage(0, CFG_MALLOC_ERROR, MPM_ERROR);
  *keys = *entities = nullptr;
  if (schema == nullptr) return mpm_IssueMessage(0, CFG_NOT_SUPPORTED, MPM_ERROR);
  const CurrentSchema current(schema);
  otm_Tree *k = otm_CreateTree(0, sizeof(cfg_OptionNode), compare_keys, 0);
  otm_Tree *e = otm_CreateTree(0, sizeof(cfg_EntityNode), compare_entities, 0);
  bool ok = k != nullptr && e != nullptr;
  for (int32_t tfi = 0; ok && tfi < schema->tf_count; ++tfi) {
    cfg_EntityNode node{schema->ent_names[tfi], olm_CreateList(0, sizeof(cfg_SplitValue), 10, 0)};
    ok = node.values != nullptr;
    if (ok && otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, e, &node) != nullptr) {
      olm_DeleteList(0, node.values);  // a name twice: the first stays
      continue;
    }
    if (ok && otm_AddObject(0, e, &node) == nullptr) {
      olm_DeleteList(0, node.values);
      ok = false;
    }
    const int32_t first = schema->fld_indices[tfi];
    for (int32_t i = first; ok && i < first + schema->ent_fldcnts[tfi] - 1; ++i) {
      const ddf_FieldDesc &d = schema->fld_data[i];
      if (!settable(schema, d)) continue;
      const char *description = description_of(schema, d);
      cfg_OptionNode option{*description != '\0' ? description : name_of(schema, d),
                            name_of(schema, d), static_cast<uint32_t>(d.kind), 0,
                            schema->ent_names[tfi]};
      if (otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, k, &option) != nullptr) continue;
      ok = otm_AddObject(0, k, &option) != nullptr;
    }
  }
  if (!ok) {
    free_trees(k, e);
    return mpm_IssueMessage(0, CFG_MALLOC_ERROR, MPM_ERROR);
  }
  *keys = k;
  *entities = e;
  return 0;
}

mpm_Status cfg_SplitCmdLine(uint32_t, int32_t argc, char **argv, ddf_Schema *schema, char **text,
                            char **remaining) {
  if (text != nullptr) *text = nullptr;
  if (remaining != nullptr) *remaining = nullptr;
  if (text == nullptr || remaining == nullptr || argv == nullptr || schema == nullptr) return 0;
  otm_Tree *keys = nullptr, *entities = nullptr;
  if (mpm_Status s = cfg__BuildArgTrees(0, schema, &keys, &entities); s != 0) return s;
  mpm_Status status = 0;
  std::size_t rest_length = 0, rest_capacity = 0;
  for (int32_t i = 1; i < argc && status == 0 && argv[i] != nullptr; ++i) {
    const char *arg = argv[i];
    const cfg_OptionNode key{arg + 1, nullptr, 0, 0, nullptr};
    const auto *option = arg[0] == '-' ? static_cast<const cfg_OptionNode *>(otm_GetObject(
                                             OTM_NO_MESSAGE | OTM_KEEP_CURRENT, keys, &key))
                                       : nullptr;
    if (option == nullptr) {
      if (arg[0] == '-') continue;  // an unknown key is dropped; its value is an argument
      if ((rest_length > 0 && !append(remaining, &rest_length, &rest_capacity, " ", 1)) ||
          !append(remaining, &rest_length, &rest_capacity, arg, std::strlen(arg)))
        status = mpm_IssueMessage(0, CFG_MALLOC_ERROR, MPM_ERROR);
      continue;
    }
    if (i + 1 >= argc || argv[i + 1] == nullptr) {
      status = mpm_IssueMessage(0, UGN_OPTS_VALUE_MISSING, MPM_ERROR, arg);
      break;
    }
    const char *value = argv[++i];
    if (!value_fits(value, is_string_kind(option->kind))) {
      status = refused(arg, value);
      break;
    }
    const cfg_EntityNode probe{option->entity, nullptr};
    auto *entity = static_cast<cfg_EntityNode *>(
        otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, entities, &probe));
    const cfg_SplitValue v{option->field_name, option->kind, 0, value};
    if (entity == nullptr || olm_AddObject(0, entity->values, OLM_TAIL, &v) == nullptr)
      status = mpm_IssueMessage(0, CFG_MALLOC_ERROR, MPM_ERROR);
  }
  // The text: every entity with values, in name order.
  std::size_t length = 0, capacity = 0;
  entities->cycle_index = 0;
  while (auto *e = static_cast<cfg_EntityNode *>(otm_CycleTree(0, entities))) {
    if (status != 0 || e->values->count == 0) continue;
    if (!append(text, &length, &capacity, e->entity, std::strlen(e->entity)) ||
        !append(text, &length, &capacity, ":", 1)) {
      status = mpm_IssueMessage(0, CFG_MALLOC_ERROR, MPM_ERROR);
      continue;
    }
    for (int32_t n = 1; n <= e->values->count && status == 0; ++n) {
      const auto *v = static_cast<const cfg_SplitValue *>(olm_GetObject(0, e->values, n));
      if (!setting(text, &length, &capacity, v->field_name, v->kind, v->value))
        status = mpm_IssueMessage(0, CFG_MALLOC_ERROR, MPM_ERROR);
    }
  }
  free_trees(keys, entities);
  if (status != 0) {
    std::free(*text);
    std::free(*remaining);
    *text = *remaining = nullptr;
  }
  return status;
}

}  // extern "C"
