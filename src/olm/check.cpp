// The list's invariants, checked.
//
// An olm_List's nodes come from its blocks (nodes_per_block nodes of node_stride bytes each, the
// stride the record size plus the 16-byte links, rounded up to 8). Every node of every block is
// either in the list or on the free chain, never both; head..tail is a doubly linked chain of
// `count` nodes (head's prev and tail's next are null); `current`, when set, is a node of the list;
// the cycle index lies in 0..count. check_list verifies all of it; check_node verifies the links
// around one node. The library runs check_after_change after every insertion, removal and purge
// in builds without NDEBUG.
#include <cstdio>
#include <cstdlib>

#include "mpm/invariant.h"
#include "olm/olm_internal.h"

namespace tesmar::olm {
namespace {

constexpr std::size_t kMostBlocks = 1u << 24;
constexpr std::size_t kFullCheckNodes = 4096;  // nodes in blocks, used and free

char g_fault[160];

const char *fault(const char *format, long a = 0, long b = 0) {
  std::snprintf(g_fault, sizeof g_fault, format, a, b);
  return g_fault;
}

int compare_addresses(const void *a, const void *b) {
  const auto x = *static_cast<const unsigned char *const *>(a);
  const auto y = *static_cast<const unsigned char *const *>(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

// The blocks' node areas, sorted; null (and *count 0) when memory fails.
const unsigned char **block_starts(const olm_List *list, std::size_t *count) {
  *count = 0;
  for (const olm_Block *b = list->blocks; b != nullptr && *count <= kMostBlocks; b = b->next)
    ++*count;
  if (*count > kMostBlocks) return nullptr;
  auto **starts = static_cast<const unsigned char **>(std::malloc((*count + 1) * sizeof(void *)));
  if (starts == nullptr) return nullptr;
  std::size_t i = 0;
  for (const olm_Block *b = list->blocks; b != nullptr; b = b->next) starts[i++] = b->nodes;
  std::qsort(starts, *count, sizeof *starts, compare_addresses);
  return starts;
}

bool inside(const olm_List *list, const unsigned char *const *starts, std::size_t blocks,
            const olm_Node *node) {
  const auto *p = reinterpret_cast<const unsigned char *>(node);
  std::size_t low = 0, high = blocks;  // the last start at or below p
  while (low < high) {
    const std::size_t mid = (low + high) / 2;
    if (starts[mid] <= p) low = mid + 1;
    else high = mid;
  }
  if (low == 0) return false;
  const auto offset = static_cast<std::size_t>(p - starts[low - 1]);
  const auto stride = static_cast<std::size_t>(list->node_stride);
  return offset < stride * static_cast<std::size_t>(list->nodes_per_block) && offset % stride == 0;
}

const char *check_nodes(const olm_List *list, const unsigned char *const *starts,
                        std::size_t blocks, const olm_Node **nodes, std::size_t limit) {
  std::size_t used = 0;
  const olm_Node *prev = nullptr;
  bool current_seen = list->current == nullptr;
  for (const olm_Node *node = list->head; node != nullptr; node = node->next) {
    if (used >= limit) return "more nodes in use than the blocks hold";
    if (!inside(list, starts, blocks, node)) return fault("node %ld is not inside a block", used);
    if (node->prev != prev) return fault("node %ld has a wrong prev link", used);
    if (node == list->current) current_seen = true;
    nodes[used++] = node;
    prev = node;
  }
  if (list->tail != prev) return "tail is not the last node";
  if (used != static_cast<std::size_t>(list->count))
    return fault("count %ld but %ld nodes", list->count, static_cast<long>(used));
  if (!current_seen) return "current is not a node of the list";
  std::size_t all = used;
  for (const olm_Node *node = list->free_nodes; node != nullptr; node = node->next) {
    if (all >= limit) return "free chain longer than the blocks hold";
    if (!inside(list, starts, blocks, node))
      return fault("free node %ld is not inside a block", static_cast<long>(all - used));
    nodes[all++] = node;
  }
  if (all != limit) return fault("%ld nodes used or free in blocks of %ld", all, limit);
  std::qsort(nodes, all, sizeof *nodes, compare_addresses);
  for (std::size_t i = 1; i < all; ++i)
    if (nodes[i] == nodes[i - 1]) return "a node is twice in the list or the free chain";
  return nullptr;
}

}  // namespace

const char *check_list(const olm_List *list) {
  if (list->node_stride != (list->data_size + 16 + 7) / 8 * 8)
    return fault("stride %ld for data size %ld", list->node_stride, list->data_size);
  if (list->cycle_index < 0 || list->cycle_index > list->count)
    return fault("cycle index %ld outside 0..%ld", list->cycle_index, list->count);
  std::size_t blocks = 0;
  const unsigned char **starts = block_starts(list, &blocks);
  if (starts == nullptr) return blocks > kMostBlocks ? "block chain does not end" : nullptr;
  const std::size_t limit = blocks * static_cast<std::size_t>(list->nodes_per_block);
  auto **nodes = static_cast<const olm_Node **>(std::malloc((limit + 1) * sizeof(olm_Node *)));
  const char *found = nodes != nullptr ? check_nodes(list, starts, blocks, nodes, limit) : nullptr;
  std::free(nodes);
  std::free(starts);
  return found;
}

const char *check_node(const olm_List *list, const olm_Node *node) {
  if (list->count < 0 || (list->head == nullptr) != (list->count == 0) ||
      (list->tail == nullptr) != (list->count == 0))
    return fault("count %ld does not match the ends of the list", list->count);
  if (list->head != nullptr && list->head->prev != nullptr) return "head has a prev link";
  if (list->tail != nullptr && list->tail->next != nullptr) return "tail has a next link";
  if (node == nullptr) return nullptr;
  if (node->prev != nullptr ? node->prev->next != node : list->head != node)
    return "the node before does not lead to the node";
  if (node->next != nullptr ? node->next->prev != node : list->tail != node)
    return "the node after does not lead back to the node";
  return nullptr;
}

const char *check_after_change(const olm_List *list, const olm_Node *node) {
  std::size_t nodes = 0;
  for (const olm_Block *b = list->blocks; b != nullptr && nodes <= kFullCheckNodes; b = b->next)
    nodes += static_cast<std::size_t>(list->nodes_per_block);
  if (list->count <= kFullCheckLimit && nodes <= kFullCheckNodes) return check_list(list);
  return check_node(list, node);
}

}  // namespace tesmar::olm
