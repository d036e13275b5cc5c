// Private declarations of the list manager.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "tesmar/mpm.h"
#include "tesmar/olm.h"

// A node: links, then the record (at offset 16, inside the node's stride).
struct olm_Node {
  olm_Node *next;
  olm_Node *prev;
};

// A block of nodes: a small header and one allocation of nodes_per_block x stride bytes.
struct olm_Block {
  olm_Block *next;
  unsigned char *nodes;
};

namespace tesmar::olm {

inline constexpr std::size_t kRecordOffset = sizeof(olm_Node);
static_assert(kRecordOffset == 16);

inline void *record_of(olm_Node *node) {
  return reinterpret_cast<unsigned char *>(node) + kRecordOffset;
}

// The invariants (check.cpp): null when they hold, else the first fault found. check_list looks at
// the whole list with its blocks and free chain; check_node at the links around one node of the
// list (null: only the ends); check_after_change, which the library runs after every change in
// builds without NDEBUG, at the whole list while it is small and around the changed node after.
const char *check_list(const olm_List *list);
const char *check_node(const olm_List *list, const olm_Node *node);
const char *check_after_change(const olm_List *list, const olm_Node *node);

// Fault injection for the tests: when set to n > 0, the n-th allocation from now fails (once).
extern int32_t g_fail_allocation;

// Every allocation of the lists (headers, node blocks, arrays) goes through here.
inline void *allocate(std::size_t bytes) {
  if (g_fail_allocation > 0 && --g_fail_allocation == 0) return nullptr;
  return std::malloc(bytes);
}

}  // namespace tesmar::olm
