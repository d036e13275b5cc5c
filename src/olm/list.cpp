// The doubly linked list: node blocks, positions, insertion, removal and the cycles.
//
// Nodes are carved from blocks of nodes_per_block nodes; the nodes not in use form the free chain
// (singly linked through `next`). A new block's nodes join the free chain in address order; removed
// nodes go to its front; a purge moves the whole chain head..tail to its front in one step. Nodes
// never move, so record pointers stay valid until their record is removed.
//
// The cycle index is the 1-based position of the node last reached by a cycle (0: none under way);
// numbered positions are located by stepping the forward cycle, so after locating position n the
// cycle index is n. Removals reset the cycle; insertions keep it.
#include <cassert>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "mpm/invariant.h"
#include "olm/olm_internal.h"

using namespace tesmar::olm;

int32_t tesmar::olm::g_fail_allocation = 0;

namespace {

bool add_block(olm_List *list) {
  auto *block = static_cast<olm_Block *>(allocate(sizeof(olm_Block)));
  auto stride = static_cast<std::size_t>(list->node_stride);
  auto n = static_cast<std::size_t>(list->nodes_per_block);
  unsigned char *nodes = block != nullptr && n <= SIZE_MAX / stride
                             ? static_cast<unsigned char *>(allocate(n * stride)) : nullptr;
  if (nodes == nullptr) {
    std::free(block);
    return false;
  }
  for (std::size_t i = 0; i < n; ++i) {
    auto *node = reinterpret_cast<olm_Node *>(nodes + i * stride);
    node->next = i + 1 < n ? reinterpret_cast<olm_Node *>(nodes + (i + 1) * stride) : list->free_nodes;
    node->prev = nullptr;
  }
  list->free_nodes = reinterpret_cast<olm_Node *>(nodes);
  block->nodes = nodes;
  block->next = list->blocks;
  list->blocks = block;
  return true;
}

// Steps the forward cycle from its start to position n: current becomes the n-th node and the
// cycle index n. When the list ends first the cycle has run out: current is left at the last node
// and the cycle is reset; the result is null.
olm_Node *locate_numbered(olm_List *list, int32_t n) {
  if (n > list->count) {
    if (list->tail != nullptr) list->current = list->tail;
    list->cycle_index = 0;
    return nullptr;
  }
  olm_Node *node = list->head;
  for (int32_t i = 1; i < n; ++i) node = node->next;
  list->current = node;
  list->cycle_index = n;
  return node;
}

// Locates a position for get and remove. Null for an empty position; issues INVALIDPOSITION when a
// numbered position (or an unknown negative one) lies outside the list.
olm_Node *locate(olm_List *list, int32_t position, bool *invalid) {
  *invalid = false;
  switch (position) {
    case OLM_HEAD:
      list->current = list->head;
      return list->head;
    case OLM_TAIL:
      list->current = list->tail;
      return list->tail;
    case OLM_CURRENT:
      return list->current;
    default:
      break;
  }
  olm_Node *node = position >= 1 ? locate_numbered(list, position) : nullptr;
  if (node == nullptr) {
    *invalid = true;
    mpm_IssueMessage(0, OLM_INVALIDPOSITION, MPM_ERROR, position);
  }
  return node;
}

// A cycle whose position is gone (current none, or no next node while the index is inside the
// list), or a missing list: the cycle resets and the fault is issued. Kept out of line so that the
// cycle's common step stays small.
[[gnu::noinline, gnu::cold]] void *lost_cycle(olm_List *list) {
  if (list != nullptr) {
    list->cycle_index = 0;
    list->current = nullptr;
  }
  mpm_IssueMessage(0, OLM_NULLPOINTER, MPM_ERROR);
  return nullptr;
}

void unlink(olm_List *list, olm_Node *node) {
  assert(list->count > 0 && (node->prev != nullptr || list->head == node));
  if (node->prev != nullptr)
    node->prev->next = node->next;
  else
    list->head = node->next;
  if (node->next != nullptr)
    node->next->prev = node->prev;
  else
    list->tail = node->prev;
}

}  // namespace

extern "C" {

mpm_Status olm_InitializeList(uint32_t, olm_List *list, int32_t data_size, int32_t nodes_per_block,
                              uint64_t user) {
  if (list == nullptr) return mpm_IssueMessage(0, OLM_NULLPOINTER, MPM_ERROR);
  if (data_size <= 0) return mpm_IssueMessage(0, OLM_INVALIDSIZE, MPM_ERROR, data_size);
  if (nodes_per_block < 1) return mpm_IssueMessage(0, OLM_INVALIDSIZE, MPM_ERROR, nodes_per_block);
  int64_t stride = (static_cast<int64_t>(data_size) + 16 + 7) / 8 * 8;
  if (stride > INT32_MAX) return mpm_IssueMessage(0, OLM_NOMEMORY, MPM_ERROR);
  std::memset(list, 0, sizeof *list);
  list->data_size = data_size;
  list->nodes_per_block = nodes_per_block;
  list->node_stride = static_cast<int32_t>(stride);
  list->user = user;
  if (!add_block(list)) {
    std::memset(list, 0, sizeof *list);
    return mpm_IssueMessage(0, OLM_NOMEMORY, MPM_ERROR);
  }
  return 0;
}

olm_List *olm_CreateList(uint32_t flags, int32_t data_size, int32_t nodes_per_block, uint64_t user) {
  auto *list = static_cast<olm_List *>(allocate(sizeof(olm_List)));
  if (list == nullptr) {
    mpm_IssueMessage(0, OLM_NOMEMORY, MPM_ERROR);
    return nullptr;
  }
  if (olm_InitializeList(flags, list, data_size, nodes_per_block, user) != 0) {
    std::free(list);
    return nullptr;
  }
  return list;
}

void *olm_AddObject(uint32_t, olm_List *list, int32_t position, const void *record) {
  if (list == nullptr || record == nullptr) {
    mpm_IssueMessage(0, OLM_NULLPOINTER, MPM_ERROR);
    return nullptr;
  }
  if (list->data_size <= 0 || list->node_stride <= 0) {  // freed, never initialised again
    mpm_IssueMessage(0, OLM_INVALIDSIZE, MPM_ERROR, list->data_size);
    return nullptr;
  }
  olm_Node *pred = nullptr;
  if (position == OLM_TAIL) {
    pred = list->tail;
  } else if (position == OLM_CURRENT) {
    pred = list->current != nullptr ? list->current->prev : nullptr;
  } else if (position == 1) {
    pred = list->current;
  } else if (position >= 2) {
    if (list->count > 0) {
      pred = locate_numbered(list, position - 1);
      if (pred == nullptr) {
        mpm_IssueMessage(0, OLM_INVALIDPOSITION, MPM_ERROR, position);
        return nullptr;
      }
    }
  } else if (position != OLM_HEAD) {
    mpm_IssueMessage(0, OLM_INVALIDPOSITION, MPM_ERROR, position);
    return nullptr;
  }
  // A count that no longer fits is out of memory as far as the list can tell.
  if (list->count == INT32_MAX || (list->free_nodes == nullptr && !add_block(list))) {
    mpm_IssueMessage(0, OLM_NOMEMORY, MPM_ERROR);
    return nullptr;
  }
  olm_Node *node = list->free_nodes;
  list->free_nodes = node->next;
  std::memcpy(record_of(node), record, static_cast<std::size_t>(list->data_size));
  node->prev = pred;
  node->next = pred != nullptr ? pred->next : list->head;
  if (node->next != nullptr)
    node->next->prev = node;
  else
    list->tail = node;
  if (pred != nullptr)
    pred->next = node;
  else
    list->head = node;
  ++list->count;
  list->current = node;
  TESMAR_CHECK_INVARIANT(check_after_change(list, node));
  return record_of(node);
}

mpm_Status olm_AddArray(uint32_t flags, olm_List *list, int32_t position, int32_t count,
                        const void *array) {
  if (list == nullptr || array == nullptr) return mpm_IssueMessage(0, OLM_NULLPOINTER, MPM_ERROR);
  if (count <= 0) return mpm_IssueMessage(0, OLM_INVALIDSIZE, MPM_ERROR, count);
  const auto *bytes = static_cast<const unsigned char *>(array);
  auto size = static_cast<std::size_t>(list->data_size);
  // The last record goes to the position; each earlier one goes before the one just inserted.
  for (int32_t i = count - 1; i >= 0; --i) {
    if (olm_AddObject(flags, list, i == count - 1 ? position : OLM_CURRENT,
                      bytes + static_cast<std::size_t>(i) * size) == nullptr)
      return mpm_last_status;
  }
  return 0;
}

void *olm_GetObject(uint32_t, olm_List *list, int32_t position) {
  if (list == nullptr) {
    mpm_IssueMessage(0, OLM_NULLPOINTER, MPM_ERROR);
    return nullptr;
  }
  bool invalid;
  olm_Node *node = locate(list, position, &invalid);
  return node != nullptr ? record_of(node) : nullptr;
}

void *olm_CycleList(uint32_t, olm_List *list) {
  if (list == nullptr) return lost_cycle(nullptr);
  int32_t index = list->cycle_index;
  // The common step first: it touches the header and one node, and keeps no stack frame.
  if (index >= 1 && index < list->count) {
    olm_Node *node = list->current;
    if (node == nullptr || node->next == nullptr) return lost_cycle(list);
    list->cycle_index = index + 1;
    list->current = node->next;
    return record_of(node->next);
  }
  if (index != 0 || list->count < 1) {  // past the end (or a stray index): the cycle resets
    list->cycle_index = 0;
    return nullptr;
  }
  list->cycle_index = 1;
  list->current = list->head;
  return record_of(list->head);
}

void *olm_ReverseCycleList(uint32_t, olm_List *list) {
  if (list == nullptr) {
    mpm_IssueMessage(0, OLM_NULLPOINTER, MPM_ERROR);
    return nullptr;
  }
  if (list->cycle_index <= 0 || list->cycle_index > list->count) {
    // A reset cycle starts at the tail.
    if (list->count == 0) {
      list->cycle_index = 0;
      return nullptr;
    }
    list->cycle_index = list->count;
    list->current = list->tail;
    return record_of(list->tail);
  }
  --list->cycle_index;
  if (list->cycle_index < 1) {
    list->cycle_index = 0;
    return nullptr;
  }
  list->current = list->current != nullptr ? list->current->prev : nullptr;
  if (list->current == nullptr) {
    list->cycle_index = 0;
    mpm_IssueMessage(0, OLM_NULLPOINTER, MPM_ERROR);
    return nullptr;
  }
  return record_of(list->current);
}

mpm_Status olm_RemoveObject(uint32_t, olm_List *list, int32_t position) {
  if (list == nullptr) return mpm_IssueMessage(0, OLM_NULLPOINTER, MPM_ERROR);
  olm_Node *remembered = list->current;
  bool invalid;
  olm_Node *node = locate(list, position, &invalid);
  if (node == nullptr) {
    if (invalid) return OLM_INVALIDPOSITION;
    return mpm_last_status;
  }
  unlink(list, node);
  if (node == remembered)
    list->current = node->next != nullptr ? node->next : node->prev;
  else
    list->current = remembered;
  node->next = list->free_nodes;
  node->prev = nullptr;
  list->free_nodes = node;
  --list->count;
  list->cycle_index = 0;
  TESMAR_CHECK_INVARIANT(check_after_change(list, list->current));
  return 0;
}

mpm_Status olm_PurgeList(uint32_t, olm_List *list) {
  if (list == nullptr) return mpm_IssueMessage(0, OLM_NULLPOINTER, MPM_ERROR);
  if (list->tail != nullptr) {
    list->tail->next = list->free_nodes;
    list->free_nodes = list->head;
  }
  list->head = list->tail = list->current = nullptr;
  list->count = 0;
  list->cycle_index = 0;
  TESMAR_CHECK_INVARIANT(check_after_change(list, nullptr));
  return 0;
}

mpm_Status olm_FreeList(uint32_t, olm_List *list) {
  if (list == nullptr) return mpm_IssueMessage(0, OLM_NULLPOINTER, MPM_ERROR);
  olm_Block *block = list->blocks;
  while (block != nullptr) {
    olm_Block *next = block->next;
    std::free(block->nodes);
    std::free(block);
    block = next;
  }
  std::memset(list, 0, sizeof *list);
  return 0;
}

mpm_Status olm_DeleteList(uint32_t flags, olm_List *list) {
  if (list == nullptr) return mpm_IssueMessage(0, OLM_NULLPOINTER, MPM_ERROR);
  olm_FreeList(flags, list);
  std::free(list);
  return 0;
}

}  // extern "C"
