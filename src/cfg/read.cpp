// Reading a configuration into a model, finding its entities, and freeing configuration models.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "cfg/cfg_internal.h"
#include "ddf/ddf_internal.h"
#include "mda/mda_internal.h"
#include "tesmar/tmx.h"

namespace tesmar::cfg {
namespace {

// The configuration models, by number.
std::vector<int32_t> *g_models = nullptr;

otm_Tree *references_of(int32_t model) {
  mda_ModelRec *rec = mda::model_in_use(model);
  return rec != nullptr ? static_cast<otm_Tree *>(rec->user_data) : nullptr;
}

void release(int32_t model) {
  if (otm_Tree *tree = references_of(model)) {
    tree->cycle_index = 0;
    while (auto *ref = static_cast<Reference *>(otm_CycleTree(0, tree)))
      if (mda_IsValidPtr(ref->entity) != 0) mda_UnlockEntity(MDA_FULL_UNLOCK, ref->entity);
    otm_DeleteTree(0, tree);
    mda::model_in_use(model)->user_data = nullptr;
  }
  if (mda::model_in_use(model) != nullptr) mda_FreeModel(0, model);
}

// The whole file, with the line end its first bytes show. 0, or the failure (reported).
mpm_Status read_file(const char *name, std::string *text) {
  std::FILE *file = tmx_Fopen(name, "rb");
  if (file == nullptr) return report_error(0, CFG_OPEN_ERROR, name);
  char piece[32000];
  for (;;) {
    const std::size_t n = std::fread(piece, 1, sizeof piece, file);
    text->append(piece, n);
    if (n < sizeof piece) break;
  }
  const bool failed = std::ferror(file) != 0;
  const bool closed = std::fclose(file) == 0;
  if (failed) return report_error(0, CFG_READ_ERROR, name);
  if (!closed) report_error(0, CFG_CLOSE_ERROR, name);
  return 0;
}

// The schema current for a read; the one before comes back when the object goes.
class CurrentSchema {
 public:
  explicit CurrentSchema(ddf_Schema *schema) : saved_(ddf_current) {
    ddf_current = schema;
    ddf::reset_cache();
  }
  ~CurrentSchema() {
    ddf_current = saved_;
    ddf::reset_cache();
  }
  CurrentSchema(const CurrentSchema &) = delete;
  CurrentSchema &operator=(const CurrentSchema &) = delete;

 private:
  ddf_Schema *saved_;
};

mpm_Status parse_file(uint32_t options, ddf_Schema *schema, const char *source,
                      const char *command_line, int32_t *model) {
  if (!begin_read()) return report_error(0, CFG_MALLOC_ERROR);
  Read &r = *g_read;
  if ((options & CFG_TEXT) != 0) {
    if (source == nullptr) return report_error(0, CFG_INVALID_NAME);
    r.text = source;
  } else {
    if (source == nullptr || *source == '\0') return report_error(0, CFG_INVALID_NAME);
    if (mpm_Status s = read_file(source, &r.text); s != 0) return s;
    probe_line_end(r.text, &r.line_end, &r.line_end_length);
  }
  const CurrentSchema current(schema);
  if (!parse(kFile)) return report_error(0, CFG_PARSE_ERROR);
  if (command_line != nullptr) {
    // The command-line text ends its lines with line feeds.
    r.text = command_line;
    r.line_end = '\n';
    r.line_end_length = 1;
    if (!parse(kCommandLine)) return report_error(0, CFG_PARSE_ERROR);
  }
  // The model, with its reference tree in its user-data slot.
  otm_Tree *references = otm_CreateTree(0, sizeof(Reference), compare_references, 0);
  if (references == nullptr) return report_error(0, CFG__TREE_ERROR);
  mda_ModelDef def;
  mda_InitModelDef(0, &def);
  std::snprintf(def.name, sizeof def.name, "configuration");
  def.schema = schema;
  def.user_data = references;
  int32_t made = 0;
  if (mda_AllocateModel(MDA_MEMORY_ONLY | MDA_KEEP_CURRENT, &def, &made) != 0) {
    otm_DeleteTree(0, references);
    return report_error(0, CFG_MODEL_ALLOC_ERROR);
  }
  try {
    g_models->push_back(made);
  } catch (const std::bad_alloc &) {
    release(made);
    return report_error(0, CFG_MALLOC_ERROR);
  }
  // From here on the model stays, failures included, for the caller to look at and free.
  *model = made;
  return make_and_fill(schema, made, references);
}

}  // namespace

bool is_config_model(int32_t model) {
  return g_models != nullptr && std::find(g_models->begin(), g_models->end(), model) != g_models->end();
}

void free_every_model() {
  if (g_models == nullptr) return;
  for (int32_t model : *g_models) release(model);
  delete g_models;
  g_models = nullptr;
}

}  // namespace tesmar::cfg

using namespace tesmar::cfg;

extern "C" {

mpm_Status cfg_ParseFile(uint32_t options, ddf_Schema *schema, const char *source,
                         const char *command_line, int32_t *model) {
  if (model == nullptr) return report_error(0, CFG_INVALID_MODEL, 0L);
  *model = 0;
  if (schema == nullptr) return report_error(0, CFG_INVALID_DDF);
  if (g_models == nullptr) g_models = new (std::nothrow) std::vector<int32_t>;
  if (g_models == nullptr) return report_error(0, CFG__LIST_ERROR);
  mpm_Status status = 0;
  try {
    status = parse_file(options, schema, source, command_line, model);
  } catch (const std::bad_alloc &) {
    status = report_error(0, CFG_MALLOC_ERROR);
    if (*model != 0 && !is_config_model(*model)) *model = 0;
  }
  end_read();
  return status;
}

// Looking up an entity is not reading: its failures wait as pending messages, for the caller.
mpm_Status cfg_GetEntity(int32_t model, uint32_t tf, db_ptr *entity) {
  if (entity == nullptr) return mpm_IssueMessage(0, CFG_INVALID_MODEL, MPM_ERROR, static_cast<long>(model));
  *entity = 0;
  if (model < 1 || model > 65535 || tesmar::mda::model_in_use(model) == nullptr)
    return mpm_IssueMessage(0, CFG_INVALID_MODEL, MPM_ERROR, static_cast<long>(model));
  // Only a model this module made holds a reference tree in its user-data slot.
  otm_Tree *tree = is_config_model(model) ? static_cast<otm_Tree *>(
                                                tesmar::mda::model_in_use(model)->user_data)
                                          : nullptr;
  if (tree == nullptr) return mpm_IssueMessage(0, CFG__MOD_UDATA_ERROR, MPM_ERROR, static_cast<long>(model));
  const Reference key{tf, 0};
  const auto *found =
      static_cast<const Reference *>(otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, tree, &key));
  if (found == nullptr) {
    const ddf_Schema *schema = tesmar::mda::model_in_use(model)->schema;
    const int32_t tfi = schema != nullptr ? ddf_FindTFI(schema->typeforms, schema->tf_count, tf) : -1;
    return mpm_IssueMessage(0, CFG_ENT_NOT_FOUND, MPM_ERROR, tfi >= 0 ? schema->ent_names[tfi] : "?",
                        static_cast<long>(tf >> 16), static_cast<long>(static_cast<int16_t>(tf)));
  }
  *entity = found->entity;
  return 0;
}

mpm_Status cfg_FreeModel(uint32_t, int32_t model) {
  if (!is_config_model(model)) return 0;
  release(model);
  g_models->erase(std::find(g_models->begin(), g_models->end(), model));
  return 0;
}

}  // extern "C"
