// Copies, arrays and set operations of lists. Set operations go through a temporary tree ordered
// by the caller's compare function, so their result is sorted and free of duplicates.
#include <cstdlib>
#include <cstring>

#include "olm/olm_internal.h"

using namespace tesmar::olm;

namespace {

bool empty(const olm_List *list) { return list == nullptr || list->count == 0; }

// A tree of copies of the list's records; null after a failure (issued).
otm_Tree *tree_of(olm_List *list, otm_CompareFn compare) {
  otm_Tree *tree = otm_CreateTree(0, list->data_size, compare, 0);
  if (tree == nullptr) return nullptr;
  for (olm_Node *node = list->head; node != nullptr; node = node->next) {
    if (otm_AddObject(0, tree, record_of(node)) == nullptr) {
      otm_DeleteTree(0, tree);
      return nullptr;
    }
  }
  return tree;
}

}  // namespace

extern "C" {

olm_List *olm_CopyList(uint32_t, olm_List *list) {
  if (list == nullptr) {
    mpm_IssueMessage(0, OLM_NULLPOINTER, MPM_ERROR);
    return nullptr;
  }
  olm_List *copy = olm_CreateList(0, list->data_size, list->nodes_per_block, list->user);
  if (copy == nullptr) return nullptr;
  list->cycle_index = 0;
  for (olm_Node *node = list->head; node != nullptr; node = node->next) {
    if (olm_AddObject(0, copy, OLM_TAIL, record_of(node)) == nullptr) {
      olm_DeleteList(0, copy);
      return nullptr;
    }
  }
  return copy;
}

void *olm_GetArray(uint32_t, olm_List *list, int32_t *count) {
  if (count != nullptr) *count = 0;
  if (list == nullptr) {
    mpm_IssueMessage(0, OLM_NULLPOINTER, MPM_ERROR);
    return nullptr;
  }
  list->cycle_index = 0;
  if (list->count == 0) return nullptr;
  auto size = static_cast<std::size_t>(list->data_size);
  auto n = static_cast<std::size_t>(list->count);
  if (n > SIZE_MAX / size) {
    mpm_IssueMessage(0, OLM_NOMEMORY, MPM_ERROR);
    return nullptr;
  }
  auto *array = static_cast<unsigned char *>(allocate(n * size));
  if (array == nullptr) {
    mpm_IssueMessage(0, OLM_NOMEMORY, MPM_ERROR);
    return nullptr;
  }
  unsigned char *w = array;
  for (olm_Node *node = list->head; node != nullptr; node = node->next, w += size)
    std::memcpy(w, record_of(node), size);
  if (count != nullptr) *count = list->count;
  return array;
}

olm_List *olm_MergeLists(uint32_t flags, olm_List *a, olm_List *b, int32_t mode,
                         otm_CompareFn compare) {
  bool take_empty = (flags & (OLM_MERGE_EMPTY_A | OLM_MERGE_EMPTY_B)) != 0;
  if (a == nullptr && b == nullptr) return nullptr;
  // A missing list gives a copy of the other; so does an empty one unless the flags let it take
  // part (an empty list A with list B missing gives an empty copy of A).
  if (a == nullptr || (empty(a) && !take_empty && b != nullptr)) return olm_CopyList(0, b);
  if (b == nullptr || (empty(b) && !take_empty)) return olm_CopyList(0, a);
  if (a->data_size != b->data_size) {
    mpm_IssueMessage(0, OLM_SIZENOTEQ, MPM_ERROR, a->data_size, b->data_size);
    return nullptr;
  }
  if (compare == nullptr) {
    mpm_IssueMessage(0, OLM_NULLPOINTER, MPM_ERROR);
    return nullptr;
  }
  if (mode < 1 || mode > 3) return nullptr;
  otm_Tree *tree = tree_of(a, compare);
  if (tree == nullptr) return nullptr;
  bool ok = true;
  if (mode == 3) {
    otm_Tree *both = otm_CreateTree(0, a->data_size, compare, 0);
    ok = both != nullptr;
    for (olm_Node *node = b->head; ok && node != nullptr; node = node->next)
      if (otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, tree, record_of(node)) != nullptr)
        ok = otm_AddObject(0, both, record_of(node)) != nullptr;
    otm_DeleteTree(0, tree);
    tree = both;
  } else {
    for (olm_Node *node = b->head; ok && node != nullptr; node = node->next) {
      void *record = record_of(node);
      if (mode == 1 && otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, tree, record) != nullptr)
        ok = otm_RemoveObject(0, tree, record) == 0;
      else
        ok = otm_AddObject(0, tree, record) != nullptr;
    }
  }
  if (!ok || tree == nullptr || tree->count == 0) {
    if (tree != nullptr) otm_DeleteTree(0, tree);
    return nullptr;
  }
  olm_List *result = olm_CreateList(0, a->data_size, a->nodes_per_block, a->user);
  for (void *record = result != nullptr ? otm_CycleTree(0, tree) : nullptr; record != nullptr;
       record = otm_CycleTree(0, tree)) {
    if (olm_AddObject(0, result, OLM_TAIL, record) == nullptr) {
      olm_DeleteList(0, result);
      result = nullptr;
      break;
    }
  }
  otm_DeleteTree(0, tree);
  return result;
}

}  // extern "C"
