// The model table: allocation, release and clearing of models.
//
// Design. The model table is a static array indexed by model number (slot 0 unused). A slot is
// free (in_use 0) or in use. Allocation builds every structure of a model (parameter tree, entity
// table, cache, paged file, per-type lists, back-pointer table, entity 0 reserved) while the slot
// is still free; only when all of it exists is the slot marked in use and the model made current.
// So a failure never leaves a half-built model in use nor a changed current model: the structures
// built so far are released and the slot is cleared. Release marks the slot free first, releases
// everything the record owns and closes the paged file last, once nothing else is held, because
// closing may issue a message. Clearing builds the new empty structures before it drops the old
// ones, so a failure leaves the model as it was.
#include "mda/mda_internal.h"

mda_ModelRec tesmar::mda::g_models[tesmar::mda::kMaxModel + 1];

extern "C" {
FILE *mda_DbgStream = nullptr;
}

namespace tesmar::mda {

namespace {

// Highest slot ever allocated: start-up clears the in-use words up to it.
int32_t g_touched = 0;

void free_callbacks(mda_ModelRec *rec) {
  for (mda_CallbackNode *&head : rec->callbacks) {
    while (head != nullptr) {
      mda_CallbackNode *next = head->next;
      std::free(head);
      head = next;
    }
  }
}

// Releases everything a record owns except its paged file, which is handed back to be closed last.
struct DofFile *release_contents(mda_ModelRec *rec) {
  release_back_ptr_table(rec);
  free_callbacks(rec);
  free_all_entity_memory(rec);
  std::free(rec->cache);
  rec->cache = nullptr;
  free_entity_table(rec);
  if (rec->params != nullptr) otm_DeleteTree(0, rec->params);
  rec->params = nullptr;
  free_type_lists(rec->type_lists);
  rec->type_lists = nullptr;
  struct DofFile *file = rec->file;
  rec->file = nullptr;
  return file;
}

void copy_text(char *to, const char *from, std::size_t size) {
  std::size_t n = from != nullptr ? strnlen(from, size - 1) : 0;
  if (n > 0) std::memcpy(to, from, n);
  to[n] = '\0';
}

// Builds a model in the lowest free slot, leaving it not in use. On failure the slot is clear and
// the code (an MDA code still to be issued, or another module's issued code) is returned.
Result build_model(uint32_t options, const mda_ModelDef *def, int32_t *out) {
  if (def == nullptr || out == nullptr) return MDA_NULL_MEMPTR;
  if (def->schema == nullptr) return MDA_NO_DDF;
  if (def->schema->tf_count < 0) return MDA_INVALID_ARG;
  int32_t m = 1;
  while (m <= kMaxModel && g_models[m].in_use != 0) ++m;
  if (m > kMaxModel) return MDA_NO_MORE_MODEL;
  if (m > g_touched) g_touched = m;

  mda_ModelRec *rec = &g_models[m];
  std::memset(rec, 0, sizeof *rec);
  copy_text(rec->name, def->name, sizeof rec->name);
  rec->back_ptrs = def->back_ptrs != 0 ? 1 : 0;
  rec->statistics = def->statistics != 0 ? 1 : 0;
  rec->buffer_count = def->buffer_count;
  rec->page_size = def->page_size;
  rec->schema = def->schema;
  rec->user_data = def->user_data;
  rec->slot_a = def->slot_a;
  rec->slot_b = def->slot_b;
  rec->allocate_hook = def->allocate_hook;
  rec->restore_begin_hook = def->restore_begin_hook;
  rec->restore_end_hook = def->restore_end_hook;
  rec->free_hook = def->free_hook;
  rec->current_hook = def->current_hook;
  rec->slot_c = def->slot_c;
  rec->options = options;
  rec->cache_size = memory_only(rec) ? 0 : kCacheSize;
  rec->lru = MDA_CACHE_NONE;
  rec->mru = MDA_CACHE_NONE;
  rec->default_param = kDefaultParam;

  rec->params = otm_CreateTree(0, sizeof(mda_ModelParam), compare_params, 0);
  Result status = rec->params != nullptr ? 0 : mpm_last_status;
  if (status == 0) status = create_entity_table(rec);
  if (status == 0 && rec->cache_size > 0) {
    rec->cache = create_cache(rec->cache_size);
    if (rec->cache == nullptr) status = MDA_MALLOC_ERR;
    reset_cache_table(rec);
  }
  if (status == 0 && !memory_only(rec)) status = open_paged_file(rec);
  if (status == 0) status = create_type_lists(m, def->schema->tf_count, &rec->type_lists);
  if (status == 0 && rec->back_ptrs != 0)
    status = create_table(MDA_PTRTABLE_ZERO, sizeof(mda_BackPtrRec), m, &rec->back_ptr_table);
  uint64_t zero = 0;
  if (status == 0) status = reserve_number(rec, &zero);
  if (status != 0) {
    struct DofFile *file = release_contents(rec);
    std::memset(rec, 0, sizeof *rec);
    close_paged_file(file);
    return status;
  }
  *out = m;
  return 0;
}

// Gives a model new empty structures and drops the old ones; the old paged file is handed back.
Result clear_model(mda_ModelRec *rec, struct DofFile **old_file) {
  const int32_t m = number_of(rec);
  mda_ModelRec fresh{};
  fresh.options = rec->options;
  fresh.statistics = rec->statistics;
  fresh.buffer_count = rec->buffer_count;
  fresh.page_size = rec->page_size;
  fresh.cache_size = rec->cache_size;
  Result status = create_entity_table(&fresh);
  if (status == 0 && rec->cache != nullptr) {
    fresh.cache = create_cache(rec->cache_size);
    if (fresh.cache == nullptr) status = MDA_MALLOC_ERR;
  }
  if (status == 0) status = create_type_lists(m, rec->schema->tf_count, &fresh.type_lists);
  if (status == 0 && rec->back_ptr_table != nullptr)
    status = create_table(MDA_PTRTABLE_ZERO, sizeof(mda_BackPtrRec), m, &fresh.back_ptr_table);
  if (status == 0 && !memory_only(rec)) status = open_paged_file(&fresh);
  if (status != 0) {
    if (fresh.back_ptr_table != nullptr) free_table(fresh.back_ptr_table);
    free_type_lists(fresh.type_lists);
    std::free(fresh.cache);
    free_entity_table(&fresh);
    return status;
  }

  release_back_ptr_table(rec);
  free_all_entity_memory(rec);
  std::free(rec->cache);
  free_entity_table(rec);
  free_type_lists(rec->type_lists);
  *old_file = rec->file;

  rec->back_ptr_table = fresh.back_ptr_table;
  rec->pages = fresh.pages;
  rec->highest_covered = fresh.highest_covered;
  rec->next_number = 0;
  rec->page_capacity = fresh.page_capacity;
  rec->cache = fresh.cache;
  reset_cache_table(rec);
  rec->free_head = 0;
  rec->file = fresh.file;
  rec->type_lists = fresh.type_lists;
  rec->live_count = 0;
  rec->save_version = 0;
  uint64_t zero = 0;
  return reserve_number(rec, &zero);  // page 0 exists: cannot fail
}

}  // namespace

void reset_model_table() {
  for (int32_t m = 1; m <= g_touched; ++m) g_models[m].in_use = 0;
  mda_current_model = 0;
  mda_current_model_rec = nullptr;
}

mpm_Status free_every_model() {
  for (int32_t m = 1; m <= g_touched; ++m) {
    if (g_models[m].in_use == 0) continue;
    if (mpm_Status status = mda_FreeModel(0, m); status != 0) return status;
  }
  return 0;
}

}  // namespace tesmar::mda

using namespace tesmar::mda;

extern "C" {

mpm_Status mda_InitModelDef(uint32_t, mda_ModelDef *def) {
  if (def == nullptr) return report(MDA_NULL_MEMPTR);
  std::memset(def, 0, sizeof *def);
  def->buffer_count = 16;
  def->page_size = 4096;
  return 0;
}

mpm_Status mda_AllocateModel(uint32_t options, const mda_ModelDef *def, int32_t *model) {
  int32_t m = 0;
  Result status = build_model(options, def, &m);
  if (status != 0) return report(status);
  mda_ModelRec *rec = &g_models[m];
  const int32_t previous = mda_current_model;
  rec->in_use = 1;
  *model = m;
  make_current(m, 0);
  if (rec->allocate_hook != nullptr) rec->allocate_hook(options, m);
  if ((options & MDA_KEEP_CURRENT) != 0 && previous != 0 && model_in_use(previous) != nullptr)
    mda_SetCurrentModel(previous, 0);
  return 0;
}

mpm_Status mda_FreeModel(uint32_t options, int32_t model) {
  mda_ModelRec *rec = model_in_use(model);
  if (rec == nullptr) return report(MDA_INVALID_MODEL);
  if (rec->free_hook != nullptr) rec->free_hook(options, model, g_models);
  if (rec->in_use == 0) return 0;  // the hook freed it
  rec->in_use = 0;
  struct DofFile *file = release_contents(rec);
  std::memset(rec, 0, sizeof *rec);
  if (mda_current_model == model) {
    mda_current_model = 0;
    mda_current_model_rec = nullptr;
  }
  return report(close_paged_file(file));
}

mpm_Status mda_ClearModel(uint32_t, int32_t model) {
  mda_ModelRec *rec = model_in_use(model);
  if (rec == nullptr) return report(MDA_INVALID_MODEL);
  struct DofFile *old_file = nullptr;
  Result status = clear_model(rec, &old_file);
  if (status != 0) return report(status);
  return report(close_paged_file(old_file));
}

mpm_Status mda_GetModelInfo(int32_t model, mda_ModelDef *info) {
  mda_ModelRec *rec = model_in_use(model);
  if (rec == nullptr) return report(MDA_INVALID_MODEL);
  if (info == nullptr) return report(MDA_NULL_MEMPTR);
  copy_text(info->name, rec->name, sizeof info->name);
  info->schema = rec->schema;
  copy_text(info->db_name, rec->schema->db_name, sizeof info->db_name);
  info->db_version = static_cast<uint32_t>(int64_t{rec->schema->db_version} * 100 +
                                           rec->schema->db_release);
  info->user_data = rec->user_data;
  info->entity_count = rec->live_count;
  info->type_lists = rec->type_lists;
  info->back_ptrs = rec->back_ptrs;
  return 0;
}

int32_t mda_GetModelNumber(const char *name) {
  if (name == nullptr) return 0;
  for (int32_t m = 1; m <= g_touched; ++m)
    if (g_models[m].in_use != 0 && std::strcmp(g_models[m].name, name) == 0) return m;
  return 0;
}

mpm_Status mda_FindModelByDDF(uint32_t, const ddf_Schema *schema, int32_t *model) {
  if (model == nullptr) return report(MDA_NULL_MEMPTR);
  *model = 0;
  for (int32_t m = 1; m <= g_touched; ++m) {
    if (g_models[m].in_use != 0 && g_models[m].schema == schema) {
      *model = m;
      break;
    }
  }
  return 0;
}

}  // extern "C"
