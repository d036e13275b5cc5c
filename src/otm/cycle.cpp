// The in-order cycle, arrays, copies and set operations.
//
// The cycle threads the whole tree at its first step (each node's thread names the next node in
// the cycle's direction) and then advances in O(1) per record. Insertions and removals reset the
// cycle index, so a cycle never follows a stale thread. Copies and set operations walk the trees
// directly and leave their cycles alone.
#include <cstdlib>
#include <cstring>

#include "otm/otm_internal.h"

using namespace tesmar::otm;

namespace {

// Threads the subtree in order (descending when asked); *last is the node threaded before.
void thread_nodes(otm_Node *node, bool descending, otm_Node **first, otm_Node **last) {
  while (node != nullptr) {
    thread_nodes(descending ? node->right : node->left, descending, first, last);
    node->thread = nullptr;
    if (*last != nullptr)
      (*last)->thread = node;
    else
      *first = node;
    *last = node;
    node = descending ? node->left : node->right;
  }
}

// Calls fn(record) for every record in order; stops early when fn returns false.
template <typename Fn>
bool walk(otm_Node *node, bool descending, Fn &fn) {
  while (node != nullptr) {
    if (!walk(descending ? node->right : node->left, descending, fn)) return false;
    if (!fn(record_of(node))) return false;
    node = descending ? node->left : node->right;
  }
  return true;
}

// A structural copy of a subtree: same shape and balances, no comparisons. Null on failure (the
// partial copy is freed).
otm_Node *clone(otm_Node *node, std::size_t size, bool *failed) {
  if (node == nullptr) return nullptr;
  auto *copy = static_cast<otm_Node *>(allocate(kRecordOffset + size));
  if (copy == nullptr) {
    *failed = true;
    return nullptr;
  }
  copy->balance = node->balance;
  copy->thread = nullptr;
  std::memcpy(record_of(copy), record_of(node), size);
  copy->left = clone(node->left, size, failed);
  copy->right = *failed ? nullptr : clone(node->right, size, failed);
  return copy;
}

void free_clone(otm_Node *node) {
  if (node == nullptr) return;
  free_clone(node->left);
  free_clone(node->right);
  std::free(node);
}

bool empty(const otm_Tree *tree) { return tree == nullptr || tree->count == 0; }

}  // namespace

extern "C" {

void *otm_CycleTree(uint32_t flags, otm_Tree *tree) {
  if (tree == nullptr) return nullptr;
  if (tree->cycle_index >= tree->count || tree->cycle_index < 0) {  // past the end: reset
    tree->cycle_index = 0;
    return nullptr;
  }
  ++tree->cycle_index;
  if (tree->cycle_index == 1) {
    otm_Node *first = nullptr, *last = nullptr;
    thread_nodes(tree->root, (flags & OTM_DESCENDING) != 0, &first, &last);
    tree->current = first;
  } else {
    tree->current = tree->current != nullptr ? tree->current->thread : nullptr;
    if (tree->current == nullptr) {
      tree->cycle_index = 0;
      mpm_IssueMessage(0, OTM_NULLPOINTER, MPM_ERROR);
      return nullptr;
    }
  }
  return tree->current != nullptr ? record_of(tree->current) : nullptr;
}

void *otm_GetArray(uint32_t flags, otm_Tree *tree, int32_t *count) {
  if (count != nullptr) *count = 0;
  if (tree == nullptr) {
    mpm_IssueMessage(0, OTM_NULLPOINTER, MPM_ERROR);
    return nullptr;
  }
  tree->cycle_index = 0;
  if (tree->count == 0) return nullptr;
  auto size = static_cast<std::size_t>(tree->data_size);
  auto n = static_cast<std::size_t>(tree->count);
  if (size != 0 && n > SIZE_MAX / size) {
    mpm_IssueMessage(0, OTM_NOMEMORY, MPM_ERROR);
    return nullptr;
  }
  auto *array = static_cast<unsigned char *>(allocate(n * size));
  if (array == nullptr) {
    mpm_IssueMessage(0, OTM_NOMEMORY, MPM_ERROR);
    return nullptr;
  }
  unsigned char *w = array;
  auto copy = [&](void *record) {
    std::memcpy(w, record, size);
    w += size;
    return true;
  };
  walk(tree->root, (flags & OTM_DESCENDING) != 0, copy);
  if (count != nullptr) *count = tree->count;
  return array;
}

mpm_Status otm_FreeArray(uint32_t, void *array) {
  std::free(array);
  return 0;
}

otm_Tree *otm_CopyTree(uint32_t, otm_Tree *tree) {
  if (tree == nullptr) {
    mpm_IssueMessage(0, OTM_NULLPOINTER, MPM_ERROR);
    return nullptr;
  }
  otm_Tree *copy = otm_CreateTree(0, tree->data_size, tree->compare, tree->user);
  if (copy == nullptr) return nullptr;
  bool failed = false;
  copy->root = clone(tree->root, static_cast<std::size_t>(tree->data_size), &failed);
  if (failed) {
    free_clone(copy->root);
    std::free(copy);
    mpm_IssueMessage(0, OTM_NOMEMORY, MPM_ERROR);
    return nullptr;
  }
  copy->count = tree->count;
  return copy;
}

otm_Tree *otm_MergeTrees(uint32_t, otm_Tree *a, otm_Tree *b, int32_t mode) {
  if (empty(a) && b == nullptr) {
    if (a != nullptr) return otm_CopyTree(0, a);
    mpm_IssueMessage(0, OTM_NULLPOINTER, MPM_ERROR);
    return nullptr;
  }
  if (empty(a)) return otm_CopyTree(0, b);
  if (empty(b)) return otm_CopyTree(0, a);
  if (a->data_size != b->data_size) {
    mpm_IssueMessage(0, OTM_SIZENOTEQ, MPM_ERROR, a->data_size, b->data_size);
    return nullptr;
  }
  if (a->compare != b->compare) {
    mpm_IssueMessage(0, OTM_FUNCTIONNOTEQ, MPM_ERROR);
    return nullptr;
  }
  if (mode < OTM_MERGE_SYMDIFF || mode > OTM_MERGE_INTERSECT) return nullptr;
  otm_Tree *copy = otm_CopyTree(0, a);
  if (copy == nullptr) return nullptr;
  otm_Tree *result = copy;
  bool ok = true;
  if (mode == OTM_MERGE_INTERSECT) {
    result = otm_CreateTree(0, a->data_size, a->compare, a->user);
    if (result == nullptr) {
      otm_DeleteTree(0, copy);
      return nullptr;
    }
    auto keep = [&](void *record) {
      if (otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, copy, record) != nullptr)
        ok = otm_AddObject(0, result, record) != nullptr;
      return ok;
    };
    walk(b->root, false, keep);
    otm_DeleteTree(0, copy);
  } else {
    auto merge = [&](void *record) {
      if (mode == OTM_MERGE_SYMDIFF &&
          otm_GetObject(OTM_NO_MESSAGE | OTM_KEEP_CURRENT, copy, record) != nullptr)
        ok = otm_RemoveObject(0, copy, record) == 0;
      else
        ok = otm_AddObject(0, copy, record) != nullptr;
      return ok;
    };
    walk(b->root, false, merge);
  }
  if (!ok) {
    otm_DeleteTree(0, result);
    return nullptr;
  }
  return result;
}

}  // extern "C"
