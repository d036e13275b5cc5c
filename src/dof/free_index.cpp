// The offset-ordered index of the free list.
//
// Design notes
//
// The free blocks form a singly linked list in increasing offset order (DofFreeList::head, and
// DofFreeBlock::next); the index holds the same records as a treap: a binary search tree by offset
// that is also a max-heap by a random priority, which keeps its expected depth logarithmic whatever
// order blocks are freed in. Each node also keeps the largest capacity in its subtree, which lets
// first fit descend straight to the lowest-offset block that is large enough: go left while the
// left subtree has one, else take the node if it fits, else go right. This is the block a walk of
// the list from its head would take, found in O(log n).
//
// Every descent by offset goes through dof__CompareFreeBlocks, which leaves in g_nearest the last
// record at which the search went right (the greatest record below the key), or, while it has only
// gone left, the last record visited (the smallest record above the key). The free list uses it to
// find a block's predecessor in the list.
//
// The index never moves a record: merging changes a record's offset or size in place (without
// changing its place in the order) and index_resized brings the largest sizes on its path up to
// date.
#include <cstdlib>

#include "dof/dof_internal.h"
#include "mpm/invariant.h"

namespace tesmar::dof {

DofFreeBlock *g_nearest = nullptr;

namespace {

bool g_went_right = false;  // has the current search gone right yet?

// Every descent starts with no nearest record (the one a former search left may since have been
// freed; it is never looked at again).
void start_search() {
  g_nearest = nullptr;
  g_went_right = false;
}

uint64_t g_priority_state = 0x2545F4914F6CDD1Dull;

// splitmix64: well-spread priorities from a counter.
uint64_t next_priority() {
  uint64_t z = (g_priority_state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

uint32_t largest(const DofFreeNode *node) { return node != nullptr ? node->largest : 0; }

void pull(DofFreeNode *node) {
  uint32_t m = node->record.size;
  if (largest(node->left) > m) m = largest(node->left);
  if (largest(node->right) > m) m = largest(node->right);
  node->largest = m;
}

int compare(const DofFreeBlock *key, DofFreeNode *node) {
  return dof__CompareFreeBlocks(key, &node->record);
}

// Splits a subtree into the records below `key` and the others.
void split(DofFreeNode *node, const DofFreeBlock *key, DofFreeNode **below, DofFreeNode **rest) {
  if (node == nullptr) {
    *below = *rest = nullptr;
    return;
  }
  if (compare(key, node) > 0) {
    split(node->right, key, &node->right, rest);
    *below = node;
  } else {
    split(node->left, key, below, &node->left);
    *rest = node;
  }
  pull(node);
}

// Joins two subtrees, every record of `a` below every record of `b`.
DofFreeNode *join(DofFreeNode *a, DofFreeNode *b) {
  if (a == nullptr) return b;
  if (b == nullptr) return a;
  if (a->priority > b->priority) {
    a->right = join(a->right, b);
    pull(a);
    return a;
  }
  b->left = join(a, b->left);
  pull(b);
  return b;
}

DofFreeNode *insert(DofFreeNode *root, DofFreeNode *node) {
  if (root == nullptr) return node;
  if (node->priority > root->priority) {
    split(root, &node->record, &node->left, &node->right);
    pull(node);
    return node;
  }
  if (compare(&node->record, root) < 0)
    root->left = insert(root->left, node);
  else
    root->right = insert(root->right, node);
  pull(root);
  return root;
}

DofFreeNode *remove(DofFreeNode *root, const DofFreeBlock *key, DofFreeNode **taken) {
  if (root == nullptr) return nullptr;
  int c = compare(key, root);
  if (c == 0) {
    *taken = root;
    DofFreeNode *rest = join(root->left, root->right);
    root->left = root->right = nullptr;
    return rest;
  }
  if (c < 0)
    root->left = remove(root->left, key, taken);
  else
    root->right = remove(root->right, key, taken);
  pull(root);
  return root;
}

void resized(DofFreeNode *node, const DofFreeBlock *key) {
  if (node == nullptr) return;
  int c = compare(key, node);
  if (c < 0) resized(node->left, key);
  if (c > 0) resized(node->right, key);
  pull(node);
}

void destroy(DofFreeNode *node) {
  while (node != nullptr) {
    destroy(node->left);
    DofFreeNode *right = node->right;
    std::free(node);
    node = right;
  }
}

// Checks a subtree: order within (low, high), heap order, largest sizes; counts its nodes and
// lists them in order.
bool check(const DofFreeNode *node, const DofFreeNode *parent, int64_t low, int64_t high,
           uint32_t *count, const DofFreeNode ***cursor, const DofFreeNode **end) {
  if (node == nullptr) return true;
  if (node->record.offset <= low || node->record.offset >= high) return false;
  if (parent != nullptr && node->priority > parent->priority) return false;
  uint32_t m = node->record.size;
  if (largest(node->left) > m) m = largest(node->left);
  if (largest(node->right) > m) m = largest(node->right);
  if (node->largest != m) return false;
  if (!check(node->left, node, low, node->record.offset, count, cursor, end)) return false;
  if (*cursor == end) return false;
  *(*cursor)++ = node;
  ++*count;
  return check(node->right, node, node->record.offset, high, count, cursor, end);
}

}  // namespace

DofFreeBlock *index_search(DofFreeList *list, int64_t offset) {
  DofFreeBlock key{offset, 0, 0, nullptr};
  start_search();
  DofFreeNode *node = list->index;
  while (node != nullptr) {
    int c = compare(&key, node);
    if (c == 0) return &node->record;
    node = c < 0 ? node->left : node->right;
  }
  return nullptr;
}

void index_insert(DofFreeList *list, DofFreeNode *node) {
  start_search();
  node->left = node->right = nullptr;
  node->largest = node->record.size;
  list->index = insert(list->index, node);
}

DofFreeNode *index_remove(DofFreeList *list, int64_t offset) {
  DofFreeBlock key{offset, 0, 0, nullptr};
  DofFreeNode *taken = nullptr;
  start_search();
  list->index = remove(list->index, &key, &taken);
  return taken;
}

void index_resized(DofFreeList *list, int64_t offset) {
  DofFreeBlock key{offset, 0, 0, nullptr};
  start_search();
  resized(list->index, &key);
}

DofFreeBlock *index_first_fit(const DofFreeList *list, uint32_t size) {
  DofFreeNode *node = list->index;
  if (node == nullptr || node->largest < size) return nullptr;
  for (;;) {
    if (largest(node->left) >= size)
      node = node->left;
    else if (node->record.size >= size)
      return &node->record;
    else
      node = node->right;
  }
}

DofFreeNode *index_new_node(int64_t offset, uint32_t size) {
  auto *node = static_cast<DofFreeNode *>(std::malloc(sizeof(DofFreeNode)));
  if (node == nullptr) return nullptr;
  node->record = DofFreeBlock{offset, size, 0, nullptr};
  node->left = node->right = nullptr;
  node->priority = next_priority();
  node->largest = size;
  return node;
}

void index_destroy(DofFreeList *list) {
  destroy(list->index);
  list->index = nullptr;
  list->head = nullptr;
}

bool index_consistent(const DofFreeList *list) {
  uint32_t n = list->free_blocks;
  auto **order =
      static_cast<const DofFreeNode **>(std::malloc(sizeof(DofFreeNode *) * (n != 0 ? n : 1)));
  if (order == nullptr) return false;
  uint32_t count = 0;
  const DofFreeNode **cursor = order;
  bool ok = check(list->index, nullptr, -1, INT64_MAX, &count, &cursor, order + n) && count == n;
  // The list visits the same records in the same order; neighbours neither overlap nor touch
  // (touching blocks are merged unless the merged capacity would not fit in 32 bits).
  const DofFreeBlock *record = list->head;
  for (uint32_t i = 0; ok && i < n; ++i) {
    ok = record == &order[i]->record;
    if (!ok) break;
    const DofFreeBlock *next = record->next;
    if (next != nullptr) {
      int64_t record_end = record->offset + 8 + record->size;
      ok = record_end < next->offset ||
           (record_end == next->offset &&
            static_cast<uint64_t>(record->size) + 8 + next->size > UINT32_MAX);
    }
    record = next;
  }
  ok = ok && record == nullptr;
  std::free(order);
  return ok;
}

const char *free_list_fault(const DofFile *file) {
  const DofFreeList *list = file->free_list;
  if (list == nullptr || list->free_blocks > kFullCheckLimit * 4) return nullptr;
  if (!index_consistent(list)) return "the free index does not agree with the free list";
  for (const DofFreeBlock *r = list->head; r != nullptr; r = r->next)
    if (r->offset < 0 || r->offset + 8 + static_cast<int64_t>(r->size) > file->end)
      return "a free block reaches past the end of the file";
  return nullptr;
}

}  // namespace tesmar::dof

extern "C" int dof__CompareFreeBlocks(const void *key, const void *record) {
  auto *k = static_cast<const DofFreeBlock *>(key);
  auto *r = const_cast<DofFreeBlock *>(static_cast<const DofFreeBlock *>(record));
  if (k->offset > r->offset) {
    tesmar::dof::g_nearest = r;
    tesmar::dof::g_went_right = true;
    return 1;
  }
  if (!tesmar::dof::g_went_right) tesmar::dof::g_nearest = r;
  return k->offset < r->offset ? -1 : 0;
}
