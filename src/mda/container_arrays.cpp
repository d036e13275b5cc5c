// Between containers (lists, trees) and arrays held in entity memory.
#include "mda/mda_internal.h"

using namespace tesmar::mda;

namespace {

// Copies `count` records of `size` bytes from `array` into a new block in the owner's chain; with
// option 2 the records are handles, and the owner entity becomes a parent of each.
Result to_block(uint32_t options, void *owner, const void *array, int32_t count, int32_t size,
                    void *slot) {
  void *data = nullptr;
  Result status =
      malloc_block(owner, static_cast<uint64_t>(count) * static_cast<uint64_t>(size), slot, &data);
  if (status != 0) return status;
  std::memcpy(data, array, static_cast<std::size_t>(count) * size);
  if ((options & MDA_ARRAY_BACKPTRS) == 0) return 0;
  return add_owner_back_ptrs(owner, static_cast<const db_ptr *>(data), count);
}

Result check(uint32_t options, const void *owner, const void *container, int32_t record_size,
                 int32_t *count, void *slot) {
  if (container == nullptr || count == nullptr || slot == nullptr) return MDA_NULL_MEMPTR;
  if ((options & MDA_ARRAY_BACKPTRS) != 0) {
    // Back pointers need an entity to point from and handles to point to.
    if (owner == nullptr) return MDA_NULL_MEMPTR;
    if (record_size != static_cast<int32_t>(sizeof(db_ptr))) return MDA_INVALID_ARG;
  }
  return 0;
}

}  // namespace

extern "C" {

mpm_Status mda_ListToArray(uint32_t options, void *owner, olm_List *list, int32_t *count,
                           void *slot) {
  Result status =
      check(options, owner, list, list != nullptr ? list->data_size : 0, count, slot);
  if (status != 0) return report(status);
  *count = 0;
  if (list->count == 0) {
    store_address(slot, nullptr);
    return 0;
  }
  int32_t n = 0;
  void *array = olm_GetArray(0, list, &n);
  if (array == nullptr) return mpm_last_status;
  status = to_block(options, owner, array, n, list->data_size, slot);
  std::free(array);
  if (status == 0) *count = n;
  return report(status);
}

mpm_Status mda_TreeToArray(uint32_t options, void *owner, otm_Tree *tree, int32_t *count,
                           void *slot) {
  Result status =
      check(options, owner, tree, tree != nullptr ? tree->data_size : 0, count, slot);
  if (status != 0) return report(status);
  *count = 0;
  if (tree->count == 0) {
    store_address(slot, nullptr);
    return 0;
  }
  int32_t n = 0;
  void *array = otm_GetArray(0, tree, &n);
  if (array == nullptr) return mpm_last_status;
  status = to_block(options, owner, array, n, tree->data_size, slot);
  std::free(array);
  if (status == 0) *count = n;
  return report(status);
}

mpm_Status mda_ArrayToList(uint32_t, olm_List *list, int32_t count, const void *array) {
  if (list == nullptr || (count > 0 && array == nullptr)) return report(MDA_NULL_MEMPTR);
  if (count < 0) return report(MDA_INVALID_ARG);
  const char *p = static_cast<const char *>(array);
  for (int32_t i = 0; i < count; ++i, p += list->data_size)
    if (olm_AddObject(0, list, OLM_TAIL, p) == nullptr) return mpm_last_status;
  return 0;
}

mpm_Status mda_ArrayToTree(uint32_t, otm_Tree *tree, int32_t count, const void *array) {
  if (tree == nullptr || (count > 0 && array == nullptr)) return report(MDA_NULL_MEMPTR);
  if (count < 0) return report(MDA_INVALID_ARG);
  const char *p = static_cast<const char *>(array);
  for (int32_t i = 0; i < count; ++i, p += tree->data_size)
    if (otm_AddObject(0, tree, p) == nullptr) return mpm_last_status;
  return 0;
}

}  // extern "C"
