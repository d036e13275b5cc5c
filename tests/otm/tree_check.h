// Structural checks of a tree through its node layout, shared by the OTM tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "otm/otm_internal.h"

namespace tesmar::test {

// Walks the subtree in order, appending its records; returns its height, or -1 after a fault
// (described in *fault).
inline int check_subtree(const otm_Tree *tree, otm_Node *node, std::vector<const void *> *records,
                         int depth, std::string *fault) {
  if (node == nullptr) return 0;
  if (depth > otm::kMaxDepth) {
    *fault = "tree deeper than any balanced tree can be (a cycle in the links?)";
    return -1;
  }
  int left = check_subtree(tree, node->left, records, depth + 1, fault);
  if (left < 0) return -1;
  const void *record = otm::record_of(node);
  if (!records->empty() && tree->compare(records->back(), record) >= 0) {
    *fault = "records out of order (or equal) at in-order position " +
             std::to_string(records->size());
    return -1;
  }
  records->push_back(record);
  int right = check_subtree(tree, node->right, records, depth + 1, fault);
  if (right < 0) return -1;
  if (right - left > 1 || left - right > 1) {
    *fault = "subtree heights " + std::to_string(left) + " and " + std::to_string(right) +
             " at in-order position " + std::to_string(records->size() - 1);
    return -1;
  }
  if (node->balance != right - left) {
    *fault = "balance field " + std::to_string(node->balance) + " where the heights give " +
             std::to_string(right - left);
    return -1;
  }
  return 1 + (left > right ? left : right);
}

// The AVL invariants: in-order ascending with no equal records, every node's heights differ by at
// most one and its balance field is right height - left height, the count matches the nodes. On
// success *records (when given) receives the records in order and *height the tree's height.
inline ::testing::AssertionResult avl_ok(const otm_Tree *tree,
                                         std::vector<const void *> *records = nullptr,
                                         int *height = nullptr) {
  std::vector<const void *> local;
  std::vector<const void *> &out = records != nullptr ? *records : local;
  out.clear();
  std::string fault;
  int h = check_subtree(tree, tree->root, &out, 0, &fault);
  if (h < 0) return ::testing::AssertionFailure() << fault;
  if (static_cast<std::size_t>(tree->count) != out.size())
    return ::testing::AssertionFailure()
           << "count " << tree->count << " but " << out.size() << " nodes";
  if (height != nullptr) *height = h;
  return ::testing::AssertionSuccess();
}

}  // namespace tesmar::test
