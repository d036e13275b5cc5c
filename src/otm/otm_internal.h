// Private declarations of the object tree manager.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "tesmar/mpm.h"
#include "tesmar/otm.h"

// A node and its record live in one heap block: the record follows the node header, so a record
// pointer stays valid for as long as its node is in the tree. Removal relinks nodes instead of
// moving records between them.
struct otm_Node {
  int32_t balance;  // -1: left subtree one level higher, 0, +1: right subtree higher
  otm_Node *left;
  otm_Node *right;
  otm_Node *thread;  // next node of the current cycle
};

namespace tesmar::otm {

const mpm_ModuleDesc &module_desc();

// Height bound of an AVL tree with fewer than 2^32 nodes is 46; paths are kept in arrays this long.
inline constexpr int kMaxDepth = 64;

// The record starts at the first 16-byte boundary after the node header.
inline constexpr std::size_t kRecordOffset = (sizeof(otm_Node) + 15) / 16 * 16;

inline void *record_of(otm_Node *node) {
  return reinterpret_cast<unsigned char *>(node) + kRecordOffset;
}

// The invariants (check.cpp): null when they hold, else the first fault found. check_tree looks at
// the whole tree (and gives its height); check_path at the search path of `key`;
// check_after_change, which the library runs after every change in builds without NDEBUG, at the
// whole tree while it is small and at the path of the changed key once it is larger.
const char *check_tree(const otm_Tree *tree, int *height);
const char *check_path(const otm_Tree *tree, const void *key);
const char *check_after_change(const otm_Tree *tree, const void *key);

// Fault injection for the tests: when set to n > 0, the n-th allocation from now fails (once).
extern int32_t g_fail_allocation;

// Every allocation of the trees (tree blocks, nodes, arrays) goes through here.
inline void *allocate(std::size_t bytes) {
  if (g_fail_allocation > 0 && --g_fail_allocation == 0) return nullptr;
  return std::malloc(bytes);
}

}  // namespace tesmar::otm
