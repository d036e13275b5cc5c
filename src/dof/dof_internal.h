// Private declarations of the paged file, shared by its page, block and report files.
#pragma once

#include <cstdint>
#include <cstdio>

#include "mpm/failure.h"
#include "mpm/invariant.h"
#include "tesmar/dof.h"
#include "tesmar/mpm.h"

// A free block in the offset-ordered index: a treap ordered by offset (heap-ordered by a random
// priority) whose nodes also keep the largest capacity found in their subtree, so that first fit
// finds the lowest-offset block that is large enough in one descent. The record comes first: a
// DofFreeBlock pointer of the list is its node's address.
struct DofFreeNode {
  DofFreeBlock record;
  DofFreeNode *left;
  DofFreeNode *right;
  uint64_t priority;
  uint32_t largest;  // the largest record.size in this subtree
};

namespace tesmar::dof {

using tesmar::Failure;
using tesmar::issue;
using tesmar::kOk;

const mpm_ModuleDesc &module_desc();

// A DOF failure at MPM_ERROR (src/mpm/failure.h), with the file's name for the rows whose text
// takes one. Inner functions return it; the exported operations issue it.
Failure failure(mpm_Status code, const DofFile *file);

// The first offset that no page, block or transfer of this file may reach: a whole number of
// pages, a page short of the 64-bit limit.
int64_t offset_limit(const DofFile *file);

inline bool read_only(const DofFile *file) { return (file->flags & DOF_READ_ONLY) != 0; }

// The page look-up behind dof_GetPage. `load` false: the caller overwrites the whole page, so a
// page that is not in a buffer is not read (nor zeroed) first.
Failure get_page(DofFile *file, int64_t page, bool load, DofPageBuffer **out);

// dof_FlushBuffer of a buffer of the file, and dof_ReadWrite (counted and checked), unissued.
Failure flush(DofFile *file, DofPageBuffer *buffer);
// Writes back buffer `first` (dirty) with the dirty buffers after it that hold the pages after its
// page, in one transfer; all of them are clean afterwards. Nothing changes when it fails.
Failure write_back_run(DofFile *file, int32_t first);
Failure read_write(int32_t direction, DofFile *file, uint32_t count, int64_t offset, void *buffer);

// Which buffer holds which page: an open-addressing table beside the buffers. Every buffer whose
// page is not -1 is in it exactly once.
bool page_index_create(DofFile *file);
void page_index_destroy(DofFile *file);

// ---- The free-list index (free_index.cpp) ----

// The record that the last search through the index ended nearest to (see dof__CompareFreeBlocks).
extern DofFreeBlock *g_nearest;

// Searches the index for `offset`; returns the record with that offset or null, and leaves the
// nearest record in g_nearest.
DofFreeBlock *index_search(DofFreeList *list, int64_t offset);
// Inserts a node (its record filled in); the offset must not be in the index.
void index_insert(DofFreeList *list, DofFreeNode *node);
// Takes the node of `offset` out of the index (not freed); null when there is none.
DofFreeNode *index_remove(DofFreeList *list, int64_t offset);
// After the record of `offset` changed its size (or its offset, keeping its place in the order):
// brings the largest sizes on its path up to date.
void index_resized(DofFreeList *list, int64_t offset);
// The record of lowest offset whose size is at least `size`, or null.
DofFreeBlock *index_first_fit(const DofFreeList *list, uint32_t size);
// A fresh node, or null when memory fails.
DofFreeNode *index_new_node(int64_t offset, uint32_t size);
// Frees every node.
void index_destroy(DofFreeList *list);
// Checks the index against the list (order, sizes, largest sizes, count).
bool index_consistent(const DofFreeList *list);

// The free list's invariants (free_index.cpp): null when they hold, else the fault. Run after every
// allocation and freeing in builds without NDEBUG, while the list is small enough to check whole.
const char *free_list_fault(const DofFile *file);

// Makes a new block's data where the allocation puts it: `fill` receives the block's address and
// writes its `size` bytes at `data`.
struct BlockFiller {
  void (*fill)(void *context, int64_t address, uint8_t *data);
  void *context;
  uint8_t *staged;  // 8 bytes of room for the block header, then the data
};

// dof_AllocateBlock (issued). With a filler the block's data is made once its place is chosen and
// written together with the block's header in one transfer; when that write fails, the block is
// not allocated (the free list and the end are as they were).
mpm_Status allocate_block(DofFile *file, uint32_t size, const BlockFiller *filler,
                          int64_t *address);

// Writes the statistics report.
void write_statistics(std::FILE *stream, const DofFile *file);

}  // namespace tesmar::dof
