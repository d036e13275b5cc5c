// Entity-keyed tables (mda_PtrTable) and the registry of every table by model.
//
// Design. A table maps the entity numbers of one model to fixed-size records, in pages of 2048
// records. The page array starts with 1024 page pointers and doubles, zero-filling its new part; a
// page is allocated, zero-filled whole, when a record on it is first written (a record on a page
// never written reads as zeros without allocating). Handles are checked before any page is touched:
// same model as the table, model in use, number already issued. So a table never grows beyond the
// model's numbering, and the page array's capacity (a 32-bit field) is capped at 2^31 pages.
// Every table is registered with its model so that deleting an entity can clear its record in all
// tables of its model; freeing a table unregisters it.
#include "mda/mda_internal.h"

extern "C" {
mda_PtrTable *mda_copy_table = nullptr;
}

namespace tesmar::mda {

namespace {

constexpr uint32_t kPerPage = 2048;
constexpr uint32_t kInitialCapacity = 1024;
constexpr uint64_t kMaxCapacity = uint64_t{1} << 31;
constexpr uint32_t kMaxRecordSize = uint32_t{1} << 20;

struct Registered {
  mda_PtrTable *table;
  int32_t model;
};
Registered *g_registry = nullptr;
std::size_t g_count = 0;
std::size_t g_capacity = 0;

bool register_table(mda_PtrTable *table) {
  if (g_count == g_capacity) {
    std::size_t capacity = g_capacity == 0 ? 16 : g_capacity * 2;
    auto *grown =
        static_cast<Registered *>(std::realloc(g_registry, capacity * sizeof(Registered)));
    if (grown == nullptr) return false;
    g_registry = grown;
    g_capacity = capacity;
  }
  g_registry[g_count++] = Registered{table, static_cast<int32_t>(table->model)};
  return true;
}

void unregister_table(const mda_PtrTable *table) {
  for (std::size_t i = 0; i < g_count; ++i) {
    if (g_registry[i].table == table) {
      g_registry[i] = g_registry[--g_count];
      return;
    }
  }
}

}  // namespace

bool create_registry() {
  drop_registry();
  return true;
}

void drop_registry() {
  std::free(g_registry);
  g_registry = nullptr;
  g_count = 0;
  g_capacity = 0;
}

Result create_table(uint32_t flags, uint32_t record_size, int32_t model, mda_PtrTable **out) {
  if (out == nullptr) return MDA_NULL_MEMPTR;
  *out = nullptr;
  if (record_size == 0 || record_size > kMaxRecordSize) return MDA_INVALID_ARG;
  auto *table = static_cast<mda_PtrTable *>(std::calloc(1, sizeof(mda_PtrTable)));
  void **pages = static_cast<void **>(std::calloc(kInitialCapacity, sizeof(void *)));
  if (table == nullptr || pages == nullptr) {
    std::free(table);
    std::free(pages);
    return MDA_MALLOC_ERR;
  }
  table->capacity = kInitialCapacity;
  table->page_size = record_size * kPerPage;
  table->per_page = kPerPage;
  table->record_size = record_size;
  table->flags = flags;
  table->model = static_cast<uint32_t>(model);
  table->pages = pages;
  if (!register_table(table)) {
    std::free(pages);
    std::free(table);
    return MDA_MALLOC_ERR;
  }
  *out = table;
  return 0;
}

void free_table(mda_PtrTable *table) {
  if (table == nullptr) return;
  unregister_table(table);
  if (table->pages != nullptr)
    for (uint32_t i = 0; i < table->capacity; ++i) std::free(table->pages[i]);
  std::free(table->pages);
  if (mda_copy_table == table) mda_copy_table = nullptr;
  std::free(table);
}

void *table_record(mda_PtrTable *table, uint64_t number) {
  const uint64_t page = number / kPerPage;
  if (page >= table->capacity || table->pages[page] == nullptr) return nullptr;
  return static_cast<char *>(table->pages[page]) + (number % kPerPage) * table->record_size;
}

Result table_record_for_write(mda_PtrTable *table, uint64_t number, void **record) {
  const uint64_t page = number / kPerPage;
  if (page >= table->capacity) {
    uint64_t capacity = table->capacity;
    while (capacity <= page) {
      if (capacity >= kMaxCapacity) return MDA_NO_MORE_PTR;
      capacity *= 2;
    }
    auto **pages = static_cast<void **>(std::realloc(table->pages, capacity * sizeof(void *)));
    if (pages == nullptr) return MDA_REALLOC_ERR;
    std::memset(pages + table->capacity, 0, (capacity - table->capacity) * sizeof(void *));
    table->pages = pages;
    table->capacity = static_cast<uint32_t>(capacity);
  }
  if (table->pages[page] == nullptr) {
    table->pages[page] = std::calloc(1, table->page_size);
    if (table->pages[page] == nullptr) return MDA_MALLOC_ERR;
    if (page > table->highest_page) table->highest_page = page;
  }
  *record = static_cast<char *>(table->pages[page]) + (number % kPerPage) * table->record_size;
  return 0;
}

Result check_table_handle(const mda_PtrTable *table, db_ptr ptr) {
  if (static_cast<uint32_t>(model_of(ptr)) != table->model) return MDA_INVALID_PTR;
  mda_ModelRec *rec = model_in_use(model_of(ptr));
  if (rec == nullptr || number_of(ptr) >= rec->next_number) return MDA_INVALID_PTR;
  return 0;
}

void clear_records(int32_t model, uint64_t number, const mda_PtrTable *keep) {
  for (std::size_t i = 0; i < g_count; ++i) {
    if (g_registry[i].model != model || g_registry[i].table == keep) continue;
    mda_PtrTable *table = g_registry[i].table;
    if (void *record = table_record(table, number)) std::memset(record, 0, table->record_size);
  }
}

}  // namespace tesmar::mda

using namespace tesmar::mda;

extern "C" {

mpm_Status mda_CreatePtrTable(uint32_t flags, uint32_t record_size, int32_t model,
                              mda_PtrTable **table) {
  if (table == nullptr) return report(MDA_NULL_MEMPTR);
  *table = nullptr;
  if (model_in_use(model) == nullptr) return report(MDA_INVALID_MODEL);
  return report(create_table(flags, record_size, model, table));
}

mpm_Status mda_GetPtrTableEntry(mda_PtrTable *table, db_ptr ptr, void *record) {
  if (table == nullptr || record == nullptr) return report(MDA_NULL_MEMPTR);
  Result status = check_table_handle(table, ptr);
  if (status != 0) return report(status);
  if (const void *stored = table_record(table, number_of(ptr)))
    std::memcpy(record, stored, table->record_size);
  else
    std::memset(record, 0, table->record_size);
  return 0;
}

mpm_Status mda_SetPtrTableEntry(mda_PtrTable *table, db_ptr ptr, const void *record) {
  if (table == nullptr || record == nullptr) return report(MDA_NULL_MEMPTR);
  if (number_of(ptr) == 0) return 0;
  Result status = check_table_handle(table, ptr);
  if (status != 0) return report(status);
  void *stored = nullptr;
  status = table_record_for_write(table, number_of(ptr), &stored);
  if (status != 0) return report(status);
  std::memcpy(stored, record, table->record_size);
  return 0;
}

mpm_Status mda_FreePtrTable(mda_PtrTable *table) {
  if (table == nullptr) return report(MDA_NULL_MEMPTR);
  // A model's own tables go with the model (mda_FreeBackPtrs for the back pointers).
  if (mda_ModelRec *rec = model_in_use(static_cast<int32_t>(table->model));
      rec != nullptr && (table == rec->back_ptr_table ||
                         (rec->type_lists != nullptr && table == rec->type_lists->links)))
    return report(MDA_INVALID_ARG);
  free_table(table);
  return 0;
}

}  // extern "C"
