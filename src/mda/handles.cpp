// Entity handles: testing them and reading what the entity table and the schema say about them.
#include "ddf/ddf_internal.h"
#include "mda/mda_internal.h"

using namespace tesmar::mda;

namespace {

char *copy_of(const char *text) {
  std::size_t n = std::strlen(text) + 1;
  char *copy = static_cast<char *>(std::malloc(n));
  if (copy != nullptr) std::memcpy(copy, text, n);
  return copy;
}

// The text of TFI `tfi` in a per-type text array of `schema`, or null.
const char *text_at(const ddf_Schema *schema, char *const *texts, int32_t tfi) {
  if (texts == nullptr || tfi < 0 || tfi >= schema->tf_count) return nullptr;
  return texts[tfi];
}

Result entity_info(db_ptr ptr, uint32_t *tf, char **name, char **description) {
  if (name != nullptr) *name = nullptr;
  if (description != nullptr) *description = nullptr;
  if (tf != nullptr) *tf = TF_NONE;
  if (number_of(ptr) == 0) return 0;
  mda_ModelRec *rec = nullptr;
  mda_EntityEntry *e = lookup_valid(ptr, &rec);
  if (e == nullptr) return MDA_INVALID_PTR;
  if (tf != nullptr) *tf = e->tf;
  const int32_t tfi = tesmar::ddf::lookup_tfi(rec->schema, e->tf);
  const char *n = text_at(rec->schema, rec->schema->ent_names, tfi);
  const char *d = text_at(rec->schema, rec->schema->ent_descs, tfi);
  char *name_copy = name != nullptr && n != nullptr ? copy_of(n) : nullptr;
  char *desc_copy = description != nullptr && d != nullptr ? copy_of(d) : nullptr;
  if ((name != nullptr && n != nullptr && name_copy == nullptr) ||
      (description != nullptr && d != nullptr && desc_copy == nullptr)) {
    std::free(name_copy);
    std::free(desc_copy);
    return MDA_MALLOC_ERR;
  }
  if (name != nullptr) *name = name_copy;
  if (description != nullptr) *description = desc_copy;
  return 0;
}

}  // namespace

extern "C" {

int32_t mda_IsValidPtr(db_ptr ptr) { return lookup_valid(ptr) != nullptr ? 1 : 0; }

int32_t mda_IsDeleted(db_ptr ptr) {
  const mda_EntityEntry *e = lookup(ptr);
  return e != nullptr && (e->status & MDA_ENTRY_DELETED) != 0 ? 1 : 0;
}

int32_t mda_IsInMemory(uint32_t, db_ptr ptr) {
  const mda_EntityEntry *e = lookup(ptr);
  return e != nullptr && (e->status & MDA_ENTRY_DELETED) == 0 && e->mloc != nullptr ? 1 : 0;
}

mpm_Status mda_GetPtrTF(db_ptr ptr, int32_t *type, int32_t *form) {
  if (type == nullptr || form == nullptr) return report(MDA_NULL_MEMPTR);
  uint32_t tf = TF_NONE;
  if (number_of(ptr) != 0) {
    const mda_EntityEntry *e = lookup_valid(ptr);
    if (e == nullptr) return report(MDA_INVALID_PTR);
    tf = e->tf;
  }
  *type = static_cast<int32_t>(tf >> 16);
  *form = static_cast<int16_t>(tf & 0xFFFFu);
  return 0;
}

int mda_ComparePtrs(const void *a, const void *b) {
  db_ptr x = *static_cast<const db_ptr *>(a);
  db_ptr y = *static_cast<const db_ptr *>(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

mpm_Status mda_GetEntityInfo(uint32_t, db_ptr ptr, uint32_t *tf, char **name, char **description) {
  return report(entity_info(ptr, tf, name, description));
}

}  // extern "C"
