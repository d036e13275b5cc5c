// The AVL tree: find-or-insert, lookup, removal, freeing.
//
// Invariants (checked by the tests after every step): in-order traversal visits records in
// ascending compare order; no two records compare equal; every node's subtree heights differ by at
// most one and its balance field is (right height - left height).
//
// Insertion descends once, remembering the deepest node on the path whose balance is non-zero (the
// critical node): only the nodes below it change height, so their balances are re-marked from the
// remembered path directions, and at most one single or double rotation at the critical node
// restores the balance. Removal descends recursively and rebalances on the way back up while the
// subtree it came from got shorter; a node with two children is replaced by its in-order
// predecessor, relinked into its place, so no record ever moves.
#include <cassert>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "mpm/invariant.h"
#include "otm/otm_internal.h"

using namespace tesmar::otm;

int32_t tesmar::otm::g_fail_allocation = 0;

namespace {

otm_Node *new_node(const otm_Tree *tree, const void *record) {
  auto size = static_cast<std::size_t>(tree->data_size);
  auto *node = static_cast<otm_Node *>(allocate(kRecordOffset + size));
  if (node == nullptr) return nullptr;
  node->balance = 0;
  node->left = node->right = node->thread = nullptr;
  std::memcpy(record_of(node), record, size);
  return node;
}

otm_Node *rotate_left(otm_Node *node) {
  otm_Node *r = node->right;
  node->right = r->left;
  r->left = node;
  return r;
}

otm_Node *rotate_right(otm_Node *node) {
  otm_Node *l = node->left;
  node->left = l->right;
  l->right = node;
  return l;
}

// Double rotation around `node` whose heavy child leans the other way: the grandchild becomes the
// root of the subtree; balances follow the grandchild's former balance.
otm_Node *rotate_double(otm_Node *node, int dir) {
  otm_Node *child = dir > 0 ? node->right : node->left;
  otm_Node *grand = dir > 0 ? child->left : child->right;
  assert(grand != nullptr && "a double rotation needs the inner grandchild");
  if (dir > 0) {
    node->right = rotate_right(child);
    rotate_left(node);
  } else {
    node->left = rotate_left(child);
    rotate_right(node);
  }
  if (grand->balance == dir) {
    node->balance = -dir;
    child->balance = 0;
  } else if (grand->balance == -dir) {
    node->balance = 0;
    child->balance = dir;
  } else {
    node->balance = 0;
    child->balance = 0;
  }
  grand->balance = 0;
  return grand;
}

// Rebalance after the left (dir = -1) or right (dir = +1) subtree of *link got shorter. Returns
// whether the subtree rooted at *link got shorter too.
bool shrunk(otm_Node **link, int dir) {
  otm_Node *node = *link;
  if (node->balance == dir) {
    node->balance = 0;
    return true;
  }
  if (node->balance == 0) {
    node->balance = -dir;
    return false;
  }
  // The other side is two levels higher: rotate towards the shrunk side.
  int heavy = -dir;
  assert(node->balance == heavy);
  otm_Node *child = heavy > 0 ? node->right : node->left;
  if (child->balance == 0) {
    *link = heavy > 0 ? rotate_left(node) : rotate_right(node);
    node->balance = heavy;
    child->balance = -heavy;
    return false;
  }
  if (child->balance == heavy) {
    *link = heavy > 0 ? rotate_left(node) : rotate_right(node);
    node->balance = 0;
    child->balance = 0;
    return true;
  }
  *link = rotate_double(node, heavy);
  return true;
}

// Detaches the rightmost node of the subtree at *link; sets *shorter.
otm_Node *detach_max(otm_Node **link, bool *shorter) {
  otm_Node *node = *link;
  if (node->right == nullptr) {
    *link = node->left;
    *shorter = true;
    return node;
  }
  otm_Node *max = detach_max(&node->right, shorter);
  if (*shorter) *shorter = shrunk(link, +1);
  return max;
}

// Recursive removal; returns the removed node (null when absent) and sets *shorter.
otm_Node *remove_node(otm_Tree *tree, otm_Node **link, const void *key, bool *shorter) {
  otm_Node *node = *link;
  if (node == nullptr) {
    *shorter = false;
    return nullptr;
  }
  int c = tree->compare(key, record_of(node));
  if (c < 0) {
    otm_Node *gone = remove_node(tree, &node->left, key, shorter);
    if (*shorter) *shorter = shrunk(link, -1);
    return gone;
  }
  if (c > 0) {
    otm_Node *gone = remove_node(tree, &node->right, key, shorter);
    if (*shorter) *shorter = shrunk(link, +1);
    return gone;
  }
  if (node->right == nullptr) {
    *link = node->left;
    *shorter = true;
  } else if (node->left == nullptr) {
    *link = node->right;
    *shorter = true;
  } else {
    otm_Node *pred = detach_max(&node->left, shorter);
    pred->left = node->left;
    pred->right = node->right;
    pred->balance = node->balance;
    *link = pred;
    if (*shorter) *shorter = shrunk(link, -1);
  }
  return node;
}

void free_nodes(otm_Node *node) {
  while (node != nullptr) {
    free_nodes(node->left);
    otm_Node *right = node->right;
    std::free(node);
    node = right;
  }
}

// The insertion behind otm_AddObject (arguments checked): the stored record, or null after a
// failure (issued).
void *add(otm_Tree *tree, const void *record) {
  if (tree->root == nullptr) {
    otm_Node *node = new_node(tree, record);
    if (node == nullptr) {
      mpm_IssueMessage(0, OTM_NOMEMORY, MPM_ERROR);
      return nullptr;
    }
    tree->root = tree->current = node;
    tree->count = 1;
    tree->cycle_index = 0;
    return record_of(node);
  }
  // Descend, remembering the critical node, its parent, and the directions below it.
  otm_Node *critical = tree->root, *critical_parent = nullptr;
  otm_Node *parent = nullptr, *node = tree->root;
  signed char dirs[kMaxDepth];
  int depth = 0, critical_depth = 0;
  int c = 0;
  while (node != nullptr) {
    c = tree->compare(record, record_of(node));
    if (c == 0) {
      tree->current = node;
      return record_of(node);
    }
    if (node->balance != 0) {
      critical = node;
      critical_parent = parent;
      critical_depth = depth;
    }
    assert(depth < kMaxDepth && "deeper than any balanced tree of 2^31 nodes");
    if (depth < kMaxDepth) dirs[depth] = c < 0 ? -1 : 1;
    ++depth;
    parent = node;
    node = c < 0 ? node->left : node->right;
  }
  // A count that no longer fits is out of memory as far as the tree can tell.
  otm_Node *fresh = tree->count < INT32_MAX ? new_node(tree, record) : nullptr;
  if (fresh == nullptr) {
    mpm_IssueMessage(0, OTM_NOMEMORY, MPM_ERROR);
    return nullptr;
  }
  if (c < 0)
    parent->left = fresh;
  else
    parent->right = fresh;
  ++tree->count;
  tree->current = fresh;
  tree->cycle_index = 0;

  // Re-mark the nodes strictly between the critical node and the new node.
  int dir = dirs[critical_depth];
  node = dir < 0 ? critical->left : critical->right;
  for (int d = critical_depth + 1; node != fresh; ++d) {
    node->balance = dirs[d];
    node = dirs[d] < 0 ? node->left : node->right;
  }
  if (critical->balance == 0) {
    critical->balance = dir;
    return record_of(fresh);
  }
  if (critical->balance == -dir) {
    critical->balance = 0;
    return record_of(fresh);
  }
  otm_Node *child = dir < 0 ? critical->left : critical->right;
  otm_Node *top;
  if (child->balance == dir) {
    top = dir < 0 ? rotate_right(critical) : rotate_left(critical);
    critical->balance = 0;
    child->balance = 0;
  } else {
    top = rotate_double(critical, dir);
  }
  if (critical_parent == nullptr) {
    tree->root = top;
  } else if (critical_parent->left == critical) {
    critical_parent->left = top;
  } else if (critical_parent->right == critical) {
    critical_parent->right = top;
  } else {
    mpm_IssueMessage(0, OTM_LOGICERROR, MPM_FATAL);
    return nullptr;
  }
  return record_of(fresh);
}

}  // namespace

extern "C" {

mpm_Status otm_InitializeTree(uint32_t, otm_Tree *tree, int32_t data_size, otm_CompareFn compare,
                              uint64_t user) {
  if (tree == nullptr) return mpm_IssueMessage(0, OTM_NULLPOINTER, MPM_ERROR);
  if (data_size <= 0) return mpm_IssueMessage(0, OTM_INVALIDSIZE, MPM_ERROR, data_size);
  if (compare == nullptr) return mpm_IssueMessage(0, OTM_NULLPOINTER, MPM_ERROR);
  std::memset(tree, 0, sizeof *tree);
  tree->data_size = data_size;
  tree->compare = compare;
  tree->user = user;
  return 0;
}

otm_Tree *otm_CreateTree(uint32_t flags, int32_t data_size, otm_CompareFn compare, uint64_t user) {
  if (data_size <= 0) {
    mpm_IssueMessage(0, OTM_INVALIDSIZE, MPM_ERROR, data_size);
    return nullptr;
  }
  auto *tree = static_cast<otm_Tree *>(allocate(sizeof(otm_Tree)));
  if (tree == nullptr) {
    mpm_IssueMessage(0, OTM_NOMEMORY, MPM_ERROR);
    return nullptr;
  }
  if (otm_InitializeTree(flags, tree, data_size, compare, user) != 0) {
    std::free(tree);
    return nullptr;
  }
  return tree;
}

void *otm_AddObject(uint32_t, otm_Tree *tree, const void *record) {
  if (tree == nullptr || record == nullptr || tree->compare == nullptr) {
    mpm_IssueMessage(0, OTM_NULLPOINTER, MPM_ERROR);
    return nullptr;
  }
  void *added = add(tree, record);
  if (added != nullptr) TESMAR_CHECK_INVARIANT(check_after_change(tree, record));
  return added;
}
mpm_Status otm_AddArray(uint32_t flags, otm_Tree *tree, int32_t count, const void *array) {
  if (tree == nullptr || array == nullptr) return mpm_IssueMessage(0, OTM_NULLPOINTER, MPM_ERROR);
  if (count <= 0) return mpm_IssueMessage(0, OTM_INVALIDSIZE, MPM_ERROR, count);
  const auto *bytes = static_cast<const unsigned char *>(array);
  for (int32_t i = 0; i < count; ++i) {
    if (otm_AddObject(flags, tree, bytes + static_cast<std::size_t>(i) * static_cast<std::size_t>(tree->data_size)) == nullptr)
      return mpm_last_status;
  }
  return 0;
}

void *otm_GetObject(uint32_t flags, otm_Tree *tree, const void *key) {
  if (tree == nullptr || key == nullptr || tree->compare == nullptr) {
    mpm_IssueMessage(0, OTM_NULLPOINTER, MPM_ERROR);
    return nullptr;
  }
  otm_Node *node = tree->root;
  while (node != nullptr) {
    int c = tree->compare(key, record_of(node));
    if (c == 0) break;
    node = c < 0 ? node->left : node->right;
  }
  if (!(flags & OTM_KEEP_CURRENT)) tree->current = node;
  if (node == nullptr) {
    if (!(flags & OTM_NO_MESSAGE)) mpm_IssueMessage(0, OTM_NOTFOUND, MPM_ERROR);
    return nullptr;
  }
  return record_of(node);
}

mpm_Status otm_RemoveObject(uint32_t, otm_Tree *tree, const void *key) {
  if (tree == nullptr || key == nullptr || tree->compare == nullptr)
    return mpm_IssueMessage(0, OTM_NULLPOINTER, MPM_ERROR);
  bool shorter = false;
  otm_Node *gone = remove_node(tree, &tree->root, key, &shorter);
  if (gone == nullptr) return mpm_IssueMessage(0, OTM_NOTFOUND, MPM_ERROR);
  std::free(gone);
  --tree->count;
  tree->cycle_index = 0;
  tree->current = nullptr;
  TESMAR_CHECK_INVARIANT(check_after_change(tree, key));
  return 0;
}

mpm_Status otm_FreeTree(uint32_t, otm_Tree *tree) {
  if (tree == nullptr) return mpm_IssueMessage(0, OTM_NULLPOINTER, MPM_ERROR);
  free_nodes(tree->root);
  tree->root = tree->current = nullptr;
  tree->count = 0;
  tree->cycle_index = 0;
  return 0;
}

mpm_Status otm_DeleteTree(uint32_t flags, otm_Tree *tree) {
  if (tree == nullptr) return mpm_IssueMessage(0, OTM_NULLPOINTER, MPM_ERROR);
  otm_FreeTree(flags, tree);
  std::free(tree);
  return 0;
}

}  // extern "C"
