// Structural checks of a list through its node layout, shared by the OLM tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "olm/olm_internal.h"

namespace tesmar::test {

// The list's links and node accounting: head..tail is a consistent doubly linked chain of count
// nodes, every node in use or free lies at a stride boundary inside one of the list's blocks, no
// node is both in use and free, and in-use plus free nodes fill the blocks exactly. On success
// *records (when given) receives the record pointers head to tail.
inline ::testing::AssertionResult list_ok(const olm_List *list,
                                          std::vector<void *> *records = nullptr) {
  std::vector<void *> local;
  std::vector<void *> &out = records != nullptr ? *records : local;
  out.clear();
  auto fail = [] { return ::testing::AssertionFailure(); };
  if (list->node_stride != (list->data_size + 16 + 7) / 8 * 8)
    return fail() << "stride " << list->node_stride << " for data size " << list->data_size;
  std::size_t blocks = 0;
  std::set<const unsigned char *> starts;
  for (const olm_Block *b = list->blocks; b != nullptr; b = b->next) {
    if (++blocks > 1000000) return fail() << "block chain does not end";
    starts.insert(b->nodes);
  }
  auto stride = static_cast<std::size_t>(list->node_stride);
  auto span = stride * static_cast<std::size_t>(list->nodes_per_block);
  auto inside = [&](const olm_Node *node) {
    auto *p = reinterpret_cast<const unsigned char *>(node);
    auto it = starts.upper_bound(p);
    if (it == starts.begin()) return false;
    --it;
    auto offset = static_cast<std::size_t>(p - *it);
    return offset < span && offset % stride == 0;
  };
  std::size_t limit = blocks * static_cast<std::size_t>(list->nodes_per_block);
  std::set<const olm_Node *> used;
  const olm_Node *prev = nullptr;
  for (olm_Node *node = list->head; node != nullptr; node = node->next) {
    if (used.size() > limit) return fail() << "more nodes in use than the blocks hold";
    if (!inside(node)) return fail() << "node " << used.size() << " is not inside a block";
    if (node->prev != prev) return fail() << "node " << used.size() << " has a wrong prev link";
    used.insert(node);
    out.push_back(olm::record_of(node));
    prev = node;
  }
  if (list->tail != prev) return fail() << "tail is not the last node";
  if (out.size() != static_cast<std::size_t>(list->count))
    return fail() << "count " << list->count << " but " << out.size() << " nodes";
  if (used.size() != out.size()) return fail() << "a node appears twice";
  std::size_t free_nodes = 0;
  for (const olm_Node *node = list->free_nodes; node != nullptr; node = node->next) {
    if (++free_nodes > limit) return fail() << "free chain longer than the blocks hold";
    if (!inside(node)) return fail() << "free node " << free_nodes << " is not inside a block";
    if (used.count(node) != 0) return fail() << "free node " << free_nodes << " is in use";
  }
  if (free_nodes + used.size() != limit)
    return fail() << free_nodes << " free + " << used.size() << " used nodes in blocks of "
                  << limit;
  if (list->current != nullptr && used.count(list->current) == 0)
    return fail() << "current is not a node of the list";
  if (list->cycle_index < 0 || list->cycle_index > list->count)
    return fail() << "cycle index " << list->cycle_index << " outside 0.." << list->count;
  return ::testing::AssertionSuccess();
}

}  // namespace tesmar::test
