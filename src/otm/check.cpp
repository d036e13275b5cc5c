// The tree's invariants, checked.
//
// An otm_Tree is an AVL tree: in order, the records ascend with no two equal under the tree's
// compare function; the heights of every node's subtrees differ by at most one and its balance
// field is the right height minus the left; `count` is the number of nodes; `current`, when set,
// is a node of the tree. check_tree verifies all of it (O(n)); check_path verifies what can be
// seen along one search path in O(height): each node lies between the bounds its ancestors set,
// has a balance of -1, 0 or +1, and a leaf has balance 0, a node leaning one way has a child that
// way. The library runs check_after_change after every insertion and removal in builds without
// NDEBUG.
#include <cstdio>

#include "mpm/invariant.h"
#include "otm/otm_internal.h"

namespace tesmar::otm {
namespace {

char g_fault[160];

const char *fault(const char *format, long a = 0, long b = 0) {
  std::snprintf(g_fault, sizeof g_fault, format, a, b);
  return g_fault;
}

struct FullCheck {
  const otm_Tree *tree;
  const void *previous = nullptr;  // the last record in order
  long nodes = 0;
  bool current_seen = false;
  const char *fault = nullptr;
};

// The height of the subtree, or -1 after a fault (in c.fault).
int subtree(FullCheck &c, otm_Node *node, int depth) {
  if (node == nullptr) return 0;
  if (depth > kMaxDepth) {
    c.fault = "tree deeper than any balanced tree can be (a cycle in the links?)";
    return -1;
  }
  const int left = subtree(c, node->left, depth + 1);
  if (left < 0) return -1;
  const void *record = record_of(node);
  if (c.previous != nullptr && c.tree->compare(c.previous, record) >= 0) {
    c.fault = fault("records out of order (or equal) at in-order position %ld", c.nodes);
    return -1;
  }
  c.previous = record;
  if (node == c.tree->current) c.current_seen = true;
  ++c.nodes;
  const int right = subtree(c, node->right, depth + 1);
  if (right < 0) return -1;
  if (right - left > 1 || left - right > 1) {
    c.fault = fault("subtree heights %ld and %ld", left, right);
    return -1;
  }
  if (node->balance != right - left) {
    c.fault = fault("balance field %ld where the heights give %ld", node->balance, right - left);
    return -1;
  }
  return 1 + (left > right ? left : right);
}

}  // namespace

const char *check_tree(const otm_Tree *tree, int *height) {
  FullCheck c{tree};
  const int h = subtree(c, tree->root, 0);
  if (h < 0) return c.fault;
  if (c.nodes != tree->count) return fault("count %ld but %ld nodes", tree->count, c.nodes);
  if (tree->current != nullptr && !c.current_seen) return "current is not a node of the tree";
  if (height != nullptr) *height = h;
  return nullptr;
}

const char *check_path(const otm_Tree *tree, const void *key) {
  const void *low = nullptr, *high = nullptr;  // every node here lies strictly between them
  int depth = 0;
  for (otm_Node *node = tree->root; node != nullptr; ++depth) {
    if (depth > kMaxDepth) return "search path deeper than any balanced tree can be";
    const void *record = record_of(node);
    if ((low != nullptr && tree->compare(low, record) >= 0) ||
        (high != nullptr && tree->compare(record, high) >= 0))
      return fault("a record at depth %ld lies outside the bounds of its ancestors", depth);
    if (node->balance < -1 || node->balance > 1)
      return fault("balance field %ld at depth %ld", node->balance, depth);
    if ((node->balance < 0 && node->left == nullptr) ||
        (node->balance > 0 && node->right == nullptr) ||
        (node->left == nullptr && node->right == nullptr && node->balance != 0))
      return fault("balance field %ld at depth %ld does not match the children", node->balance,
                   depth);
    const int c = tree->compare(key, record);
    if (c == 0) break;
    if (c < 0) {
      high = record;
      node = node->left;
    } else {
      low = record;
      node = node->right;
    }
  }
  if (tree->count < 0 || (tree->root == nullptr) != (tree->count == 0))
    return tree->root == nullptr ? "a tree without nodes has a count"
                                 : "a tree with nodes has no count";
  return nullptr;
}

const char *check_after_change(const otm_Tree *tree, const void *key) {
  if (tree->count <= kFullCheckLimit) return check_tree(tree, nullptr);
  return check_path(tree, key);
}

}  // namespace tesmar::otm
