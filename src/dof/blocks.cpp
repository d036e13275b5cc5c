// The block layer: allocation, freeing and block sizes.
//
// Design notes
//
// With the free list, a block is an 8-byte header {asked size, capacity} (little-endian 32-bit
// each) followed by `capacity` bytes; its address is the offset of its first data byte. Blocks are
// carved from the end of the file (`end` grows by capacity + 8) or from a free block.
//
// Free list invariants (index_consistent checks them): the list and the index hold the same
// records in increasing offset order; free blocks neither overlap nor touch (two touching free
// blocks are one, unless together they would not fit a 32-bit capacity); every free block lies
// below the end.
//
// Allocation is first fit: the free block of lowest offset whose capacity is at least the size
// asked. When more than 136 bytes would be left over, the block is split: the front becomes the
// allocated block, the free record keeps the rest (its offset moves up, so its place in the order
// stays). Otherwise the whole block is taken, its capacity recorded in the header.
//
// Freeing reads the header, checks that it describes a block inside the file that overlaps no free
// block (so a block freed twice is refused instead of being handed out twice), and then merges it
// with a free predecessor that ends where it starts, and/or a free successor that starts where it
// ends, or inserts it as a record of its own. The header in the file is not rewritten.
#include <cstdlib>

#include "dof/dof_internal.h"

using namespace tesmar::dof;

namespace {

constexpr uint32_t kHeaderSize = 8;
constexpr uint32_t kSplitRemainder = 136;  // a smaller remainder stays with the allocated block

void put_u32(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t get_u32(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Writes the header of the block at `offset` (its address is offset + kHeaderSize). With a filler,
// the block's first `asked` bytes are made and written with the header in one transfer.
Failure write_header(DofFile *file, int64_t offset, uint32_t asked, uint32_t capacity,
                     const BlockFiller *filler) {
  uint8_t header[kHeaderSize];
  uint8_t *at = header;
  uint32_t count = kHeaderSize;
  if (filler != nullptr) {
    at = filler->staged;
    count += asked;
    filler->fill(filler->context, offset + kHeaderSize, at + kHeaderSize);
  }
  put_u32(at, asked);
  put_u32(at + 4, capacity);
  return read_write(DOF_WRITE, file, count, offset, at);
}

// Reads and checks the header of the block at `address`: the address lies at least a header into
// the file, and the header describes a non-empty block that ends inside the file.
Failure read_header(DofFile *file, int64_t address, uint32_t *asked, uint32_t *capacity) {
  if (address < kHeaderSize || address >= file->end) return failure(DOF_BAD_OFFSET, file);
  uint8_t header[kHeaderSize];
  if (Failure f = read_write(DOF_READ, file, kHeaderSize, address - kHeaderSize, header)) return f;
  *asked = get_u32(header);
  *capacity = get_u32(header + 4);
  if (*asked == 0 || *asked > *capacity || *capacity > file->end - address)
    return failure(DOF_BAD_OFFSET, file);
  return kOk;
}

// Serves an allocation from the free record `record`. On failure nothing has changed in the list.
Failure take(DofFile *file, DofFreeBlock *record, uint32_t size, const BlockFiller *filler,
             int64_t *address) {
  DofFreeList *list = file->free_list;
  int64_t offset = record->offset;
  if (record->size - size > kSplitRemainder) {
    if (Failure f = write_header(file, offset, size, size, filler)) return f;
    record->offset += size + kHeaderSize;
    record->size -= size + kHeaderSize;
    index_resized(list, record->offset);
  } else {
    if (Failure f = write_header(file, offset, size, record->size, filler)) return f;
    DofFreeNode *node = index_remove(list, offset);
    if (list->head == record) {
      list->head = record->next;
    } else {
      index_search(list, offset);
      DofFreeBlock *before = g_nearest;
      if (before == nullptr || before->next != record) {
        if (node != nullptr) index_insert(list, node);
        return failure(DOF_BAD_SLOT, nullptr);
      }
      before->next = record->next;
    }
    --list->free_blocks;
    std::free(node);
  }
  *address = offset + kHeaderSize;
  return kOk;
}

// Can two free blocks become one record?
bool fits(uint32_t a, uint32_t b) {
  return static_cast<uint64_t>(a) + kHeaderSize + b <= UINT32_MAX;
}

// The freeing behind dof_FreeBlock (the file given).
Failure free_block(DofFile *file, int64_t address) {
  DofFreeList *list = file->free_list;
  if (list == nullptr) {
    if (address < 0 || address >= file->end) return failure(DOF_BAD_OFFSET, file);
    return kOk;
  }
  uint32_t asked, capacity;
  if (Failure f = read_header(file, address, &asked, &capacity)) return f;
  const int64_t offset = address - kHeaderSize;
  const int64_t block_end = address + capacity;

  // Neighbours in the list; the block must overlap neither (nor be a free block already).
  if (index_search(list, offset) != nullptr) return failure(DOF_BAD_OFFSET, file);
  DofFreeBlock *before = g_nearest != nullptr && g_nearest->offset < offset ? g_nearest : nullptr;
  DofFreeBlock *after = before != nullptr ? before->next : list->head;
  if (before != nullptr && before->offset + kHeaderSize + before->size > offset)
    return failure(DOF_BAD_OFFSET, file);
  if (after != nullptr && after->offset < block_end) return failure(DOF_BAD_OFFSET, file);
  ++list->free_requests;

  const bool joins_before = before != nullptr &&
                            before->offset + kHeaderSize + before->size == offset &&
                            fits(before->size, capacity);
  if (joins_before) {
    before->size += capacity + kHeaderSize;
    if (after != nullptr && after->offset == block_end && fits(before->size, after->size)) {
      before->size += after->size + kHeaderSize;
      before->next = after->next;
      std::free(index_remove(list, after->offset));
      --list->free_blocks;
    }
    index_resized(list, before->offset);
    return kOk;
  }
  if (after != nullptr && after->offset == block_end && fits(capacity, after->size)) {
    after->offset = offset;
    after->size += capacity + kHeaderSize;
    index_resized(list, offset);
    return kOk;
  }
  DofFreeNode *node = index_new_node(offset, capacity);
  if (node == nullptr) {
    --list->free_requests;
    return failure(DOF_REALLOC_ERR, file);
  }
  index_insert(list, node);
  ++list->free_blocks;
  if (before == nullptr) {
    node->record.next = list->head;
    list->head = &node->record;
  } else {
    node->record.next = after;
    before->next = &node->record;
  }
  return kOk;
}

}  // namespace

namespace tesmar::dof {

mpm_Status allocate_block(DofFile *file, uint32_t size, const BlockFiller *filler,
                          int64_t *address) {
  if (file == nullptr || address == nullptr) return issue(failure(DOF_BAD_SLOT, nullptr));
  if (size == 0) return issue(failure(DOF_BAD_SIZE, file));
  const int64_t limit = offset_limit(file);
  DofFreeList *list = file->free_list;
  if (list == nullptr) {
    if (size > limit - file->end) return issue(failure(DOF_BAD_SIZE, file));
    if (filler != nullptr) {
      filler->fill(filler->context, file->end, filler->staged + kHeaderSize);
      if (Failure f = read_write(DOF_WRITE, file, size, file->end, filler->staged + kHeaderSize))
        return issue(f);
    }
    *address = file->end;
    file->end += size;
    return 0;
  }
  ++list->allocation_requests;
  list->requested_bytes += static_cast<float>(size);
  // When the free block cannot be taken, its message stands and the block is appended instead.
  if (DofFreeBlock *record = index_first_fit(list, size); record != nullptr) {
    Failure taken = take(file, record, size, filler, address);
    if (!taken) {
      TESMAR_CHECK_INVARIANT(free_list_fault(file));
      return 0;
    }
    issue(taken);
  }
  if (file->end > limit - kHeaderSize || size > limit - kHeaderSize - file->end)
    return issue(failure(DOF_BAD_SIZE, file));
  if (Failure f = write_header(file, file->end, size, size, filler)) return issue(f);
  *address = file->end + kHeaderSize;
  file->end += static_cast<int64_t>(size) + kHeaderSize;
  TESMAR_CHECK_INVARIANT(free_list_fault(file));
  return 0;
}

}  // namespace tesmar::dof

extern "C" {

mpm_Status dof_AllocateBlock(DofFile *file, uint32_t size, int64_t *address) {
  return allocate_block(file, size, nullptr, address);
}

mpm_Status dof_FreeBlock(DofFile *file, int64_t address) {
  if (file == nullptr) return issue(failure(DOF_BAD_SLOT, nullptr));
  const mpm_Status status = issue(free_block(file, address));
  if (status == 0) TESMAR_CHECK_INVARIANT(free_list_fault(file));
  return status;
}

mpm_Status dof_GetBlockSize(DofFile *file, int64_t address, uint32_t *size) {
  if (file == nullptr || size == nullptr) return issue(failure(DOF_BAD_SLOT, nullptr));
  if (file->free_list == nullptr) return issue(failure(DOF_BAD_OFFSET, file));
  uint32_t asked, capacity;
  if (Failure f = read_header(file, address, &asked, &capacity)) return issue(f);
  *size = asked;
  return 0;
}

}  // extern "C"
