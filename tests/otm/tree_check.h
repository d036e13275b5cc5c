// The tree's invariants for the OTM tests: the library's own checker, and the records in order.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "otm/otm_internal.h"

namespace tesmar::test {

// The record of the OTM tests: a key, and bytes that tell records of one key apart.
struct Rec {
  int32_t key;
  int32_t tag;
  int64_t pad;
};

inline int compare_rec(const void *a, const void *b) {
  int32_t x = static_cast<const Rec *>(a)->key, y = static_cast<const Rec *>(b)->key;
  return (x > y) - (x < y);
}

inline void in_order(otm_Node *node, std::vector<const void *> *out) {
  if (node == nullptr) return;
  in_order(node->left, out);
  out->push_back(otm::record_of(node));
  in_order(node->right, out);
}

// The AVL invariants (otm::check_tree); *records (when given) receives the records in order.
inline ::testing::AssertionResult avl_ok(const otm_Tree *tree,
                                         std::vector<const void *> *records = nullptr) {
  if (const char *fault = otm::check_tree(tree, nullptr)) return ::testing::AssertionFailure() << fault;
  if (records != nullptr) {
    records->clear();
    in_order(tree->root, records);
  }
  return ::testing::AssertionSuccess();
}

}  // namespace tesmar::test
