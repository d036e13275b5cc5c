// %<ModelList>: the current model's live entities counted by entity name, in name order, with the
// total. Type forms that share an entity name are counted together.
#include <cstring>

#include "fmt/fmt_internal.h"
#include "tesmar/ddf.h"
#include "tesmar/mda.h"
#include "tesmar/otm.h"

namespace tesmar::fmt {
namespace {

struct NameCount {
  const char *name;
  int64_t count;
};

int compare_names(const void *a, const void *b) {
  return std::strcmp(static_cast<const NameCount *>(a)->name,
                     static_cast<const NameCount *>(b)->name);
}

int clamp_count(int64_t count) { return count > INT32_MAX ? INT32_MAX : static_cast<int>(count); }

}  // namespace

mpm_Status model_list(uint32_t, mpm_DirectiveRecord *record, va_list *) {
  const mda_ModelRec *rec = mda_current_model_rec;
  if (mda_current_model < 1 || mda_current_model > 65535 || rec == nullptr || rec->in_use == 0) {
    mpm_AppendMessage(0, FMT_NOMODEL, &record->result);
    return 0;
  }
  mpm_AppendMessage(0, FMT_ENTITYHEADER, &record->result);
  otm_Tree names{};
  otm_InitializeTree(0, &names, sizeof(NameCount), compare_names, 0);
  const ddf_Schema *schema = rec->schema;
  const mda_TypeLists *lists = rec->type_lists;
  if (schema != nullptr && lists != nullptr && lists->count != nullptr &&
      schema->ent_names != nullptr) {
    int32_t tf_count = schema->tf_count;
    if (static_cast<int64_t>(lists->tf_count) < tf_count)
      tf_count = static_cast<int32_t>(lists->tf_count);
    for (int32_t tfi = 0; tfi < tf_count; ++tfi) {
      if (lists->count[tfi] == 0 || schema->ent_names[tfi] == nullptr) continue;
      NameCount entry{schema->ent_names[tfi], 0};
      auto *stored = static_cast<NameCount *>(otm_AddObject(0, &names, &entry));
      if (stored != nullptr) stored->count += lists->count[tfi];
    }
  }
  int64_t total = 0;
  while (auto *entry = static_cast<NameCount *>(otm_CycleTree(0, &names))) {
    mpm_AppendMessage(0, FMT_ENTITYCOUNT, &record->result, entry->name, clamp_count(entry->count));
    total += entry->count;
  }
  otm_FreeTree(0, &names);
  mpm_AppendMessage(0, FMT_ENTITYTOTAL, &record->result, clamp_count(total));
  return 0;
}

}  // namespace tesmar::fmt
