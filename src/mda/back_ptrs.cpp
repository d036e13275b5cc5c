// Pointer fields and the back pointers that record, for each entity, the entities pointing to it.
//
// Design. A model that keeps back pointers has a table of mda_BackPtrRec records by entity number:
// kind 0 no parent, kind 1 one parent (its handle in value), kind 2 several (value: an olm_List of
// handles in the order they were added). A parent appears once per pointer field that refers to
// the child, so a parent pointing twice is listed twice and one mda_DeletePtr removes one of them.
// A kind-2 list emptied by deletions is freed and the record goes back to kind 0; a list left with
// one element stays kind 2. Child numbers are checked against the model's numbering before the
// table is touched, so a bad handle can neither read garbage nor grow the table.
#include "mda/mda_internal.h"

namespace tesmar::mda {

namespace {

olm_List *list_of(const mda_BackPtrRec &record) {
  return reinterpret_cast<olm_List *>(static_cast<uintptr_t>(record.value));
}

}  // namespace

mda_BackPtrRec read_back_ptr(const mda_ModelRec *rec, uint64_t number) {
  mda_BackPtrRec record{};
  if (rec->back_ptr_table != nullptr)
    if (const void *stored = table_record(rec->back_ptr_table, number))
      std::memcpy(&record, stored, sizeof record);
  return record;
}

Result write_back_ptr(mda_ModelRec *rec, uint64_t number, const mda_BackPtrRec &record) {
  if (rec->back_ptr_table == nullptr) {
    Result status = create_table(MDA_PTRTABLE_ZERO, sizeof(mda_BackPtrRec), number_of(rec),
                                     &rec->back_ptr_table);
    if (status != 0) return status;
  }
  void *stored = nullptr;
  Result status = table_record_for_write(rec->back_ptr_table, number, &stored);
  if (status != 0) return status;
  std::memcpy(stored, &record, sizeof record);
  return 0;
}

void free_parent_list(const mda_BackPtrRec &record) {
  if (record.kind == MDA_PARENTS_LIST && record.value != 0) olm_DeleteList(0, list_of(record));
}

void release_back_ptr_table(mda_ModelRec *rec) {
  mda_PtrTable *table = rec->back_ptr_table;
  if (table == nullptr) return;
  for (uint32_t p = 0; p < table->capacity; ++p) {
    auto *records = static_cast<mda_BackPtrRec *>(table->pages[p]);
    if (records == nullptr) continue;
    for (uint32_t i = 0; i < table->per_page; ++i) free_parent_list(records[i]);
  }
  free_table(table);
  rec->back_ptr_table = nullptr;
}

Result add_ptr(db_ptr parent, db_ptr child, db_ptr *slot) {
  mda_ModelRec *rec = number_of(child) != 0 ? model_in_use(model_of(child)) : nullptr;
  // A handle into a model that is not in use names nothing: refused, as mda_DeletePtr refuses it.
  if (number_of(child) != 0 && rec == nullptr) return MDA_INVALID_PTR;
  const bool keep = rec != nullptr && rec->back_ptrs != 0 && number_of(parent) != 0;
  if (keep && number_of(child) >= rec->next_number) return MDA_INVALID_PTR;
  if (slot != nullptr) *slot = child;
  if (!keep) return 0;

  const uint64_t n = number_of(child);
  mda_BackPtrRec record = read_back_ptr(rec, n);
  olm_List *created = nullptr;
  switch (record.kind) {
    case MDA_PARENTS_NONE:
      record.kind = MDA_PARENTS_ONE;
      record.value = parent;
      break;
    case MDA_PARENTS_ONE: {
      const db_ptr former = record.value;
      created = olm_CreateList(0, sizeof(db_ptr), 8, 0);
      if (created == nullptr || olm_AddObject(0, created, OLM_TAIL, &former) == nullptr ||
          olm_AddObject(0, created, OLM_TAIL, &parent) == nullptr) {
        if (created != nullptr) olm_DeleteList(0, created);
        return MDA_PAR_LIST_ERR;
      }
      record.kind = MDA_PARENTS_LIST;
      record.value = reinterpret_cast<uintptr_t>(created);
      break;
    }
    case MDA_PARENTS_LIST:
      if (olm_AddObject(0, list_of(record), OLM_TAIL, &parent) == nullptr) return MDA_PAR_LIST_ERR;
      return 0;
    default:
      return MDA_BAD_BACKPTRS;
  }
  Result status = write_back_ptr(rec, n, record);
  if (status != 0 && created != nullptr) olm_DeleteList(0, created);
  return status;
}

Result delete_ptr(db_ptr parent, db_ptr child) {
  if (number_of(child) == 0) return 0;
  mda_ModelRec *rec = model_in_use(model_of(child));
  if (rec == nullptr) return MDA_INVALID_PTR;
  if (rec->back_ptrs == 0) return 0;
  if (rec->back_ptr_table == nullptr) return MDA_NO_BACKPTRS;
  const uint64_t n = number_of(child);
  if (n >= rec->next_number) return MDA_INVALID_PTR;
  if (number_of(parent) == 0) return 0;  // never recorded (mda_AddPtr skips it)

  mda_BackPtrRec record = read_back_ptr(rec, n);
  switch (record.kind) {
    case MDA_PARENTS_ONE:
      if (record.value != parent) return MDA_PAR_NOT_FOUND;
      record = mda_BackPtrRec{};
      break;
    case MDA_PARENTS_LIST: {
      olm_List *list = list_of(record);
      bool found = false;
      while (const void *item = olm_CycleList(0, list)) {
        if (*static_cast<const db_ptr *>(item) == parent) {
          found = true;
          break;
        }
      }
      if (!found) return MDA_PAR_NOT_FOUND;
      if (olm_RemoveObject(0, list, OLM_CURRENT) != 0) return MDA_PAR_LIST_ERR;
      if (list->count > 0) return 0;
      olm_DeleteList(0, list);
      record = mda_BackPtrRec{};
      break;
    }
    case MDA_PARENTS_NONE:
      return MDA_PAR_NOT_FOUND;
    default:
      return MDA_BAD_BACKPTRS;
  }
  return write_back_ptr(rec, n, record);
}

}  // namespace tesmar::mda

using namespace tesmar::mda;

extern "C" {

mpm_Status mda_AddPtr(db_ptr parent, db_ptr child, db_ptr *slot) {
  return report(add_ptr(parent, child, slot));
}

mpm_Status mda_DeletePtr(db_ptr parent, db_ptr child) { return report(delete_ptr(parent, child)); }

mpm_Status mda_ModifyPtr(db_ptr parent, db_ptr child, db_ptr *slot) {
  if (slot == nullptr) return report(MDA_NULL_MEMPTR);
  Result status = delete_ptr(parent, *slot);
  if (status == 0) status = add_ptr(parent, child, slot);
  return report(status);
}

mpm_Status mda_FreeBackPtrs(uint32_t, int32_t model) {
  mda_ModelRec *rec = model_in_use(model);
  if (rec == nullptr) return report(MDA_INVALID_MODEL);
  release_back_ptr_table(rec);
  return 0;
}

}  // extern "C"
