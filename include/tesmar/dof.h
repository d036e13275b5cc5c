/*
 * DOF: the paged disk file (module 18).
 *
 * A file of variable-sized blocks addressed by byte offset, read and written through a small cache
 * of fixed-size page buffers. The entity database keeps one per model as the backing store of its
 * entity cache, the schema reader reads schema files through one, and the message system keeps its
 * message-text file in one.
 *
 * Page layer: the file is an array of pages of one size; every transfer goes through the page
 * buffers, which are replaced by a clock (a hit raises a buffer's weight by one, up to 3; the hand
 * goes round the buffers, taking the first of weight 0 and taking one weight from each other it
 * passes), at O(1) cost per miss on average. A page is written back when its buffer is reused or
 * the file is closed, together with the dirty buffers after it that hold the following pages, in
 * one write; a whole page that no buffer holds is read straight into the caller's memory.
 * Positioned reads and writes need no seeks.
 *
 * Block layer: with DOF_FREE_LIST every block carries an 8-byte header (the size asked of
 * dof_AllocateBlock and the block's capacity, little-endian 32-bit each) just before its address;
 * freed blocks go to an in-memory free list ordered by offset, adjacent free blocks merge, and
 * allocation takes the free block of lowest offset that is large enough (first fit), splitting it
 * when more than 136 bytes would be left over. Without the option a block is only its bytes,
 * allocation appends and freeing does nothing. The free list is not stored in the file: a file
 * opened again starts with an empty list and appends after its end.
 *
 * Ownership: dof_OpenFile returns a handle that the caller gives back to dof_CloseFile. The handle's
 * fields may be read; only the `data` and `dirty` fields of a buffer returned by dof_GetPage may be
 * written. Offsets and sizes are 64-bit; a block address, a transfer's offset + count and a file's
 * size stay below 2^63 minus one page.
 *
 * Failures are issued through the message system at MPM_ERROR and returned as codes; BAD_SLOT
 * stands for a missing handle or buffer, or a free list that disagrees with its index. One thread
 * at a time.
 */
#ifndef TESMAR_DOF_H
#define TESMAR_DOF_H

#include <stddef.h>
#include <stdint.h>
#include "tesmar/types.h"

TESMAR_EXTERN_C_BEGIN

/* Message codes of module DOF. */
#define DOF_MALLOC_ERR  0x120001u /* " Error allocating memory.\n" (memory exception) */
#define DOF_REALLOC_ERR 0x120002u /* " Error reallocating memory.\n" (memory exception) */
#define DOF_OPEN_ERR    0x120003u /* " Error opening file %s.\n" (file exception) */
#define DOF_READ_ERR    0x120004u /* " Error reading from file %s.\n" (file exception) */
#define DOF_WRITE_ERR   0x120005u /* " Error writing to file %s.\n" (file exception) */
#define DOF_CLOSE_ERR   0x120006u /* " Error closing file %s.\n" (file exception) */
#define DOF_SEEK_ERR    0x120007u /* in the table; transfers are positioned and never seek */
#define DOF_BAD_SIZE    0x120008u /* " Bad block size requested in file %s.\n" */
#define DOF_BAD_OFFSET  0x120009u /* " Bad offset specified into file %s.\n" */
#define DOF_BAD_SLOT    0x12000Au /* " Bad slot is passed in.\n" */

/* Open flags (may be combined). */
#define DOF_FREE_LIST     0x1u  /* block headers and a free list */
#define DOF_TEMPORARY     0x2u  /* a fresh temporary file (the name is ignored), deleted at close,
                                 never written back */
#define DOF_OPEN_EXISTING 0x4u  /* an existing file, for reading and writing */
#define DOF_READ_ONLY     0x8u  /* an existing file, for reading only (wins over 4) */
#define DOF_STATISTICS    0x10u /* print the statistics report at close */

/* Directions of dof_ReadWrite. */
#define DOF_READ  0
#define DOF_WRITE 1

/* One page buffer. */
typedef struct DofPageBuffer {
  uint32_t dirty;     /* 1 when the data differs from the page in the file */
  int32_t weight;     /* use weight for replacement: 0 to 3 */
  uint32_t last_use;  /* clock value of the last request that used the buffer */
  uint32_t reserved;
  int64_t page;       /* page number held, -1 when none */
  uint8_t *data;      /* the page image, page size bytes */
} DofPageBuffer;

/* A free block: the record of the free list (in offset order through `next`). */
typedef struct DofFreeBlock {
  int64_t offset;             /* file offset of the free block's header */
  uint32_t size;              /* capacity, not counting the 8-byte header */
  uint32_t reserved;
  struct DofFreeBlock *next;  /* next free block in offset order, or null */
} DofFreeBlock;

struct DofFreeNode; /* private to the module: the offset-ordered index */

/* The free list of a file opened with DOF_FREE_LIST. */
typedef struct DofFreeList {
  DofFreeBlock *head;          /* first free block in offset order, or null */
  struct DofFreeNode *index;   /* the same blocks ordered by offset, for neighbour and fit searches */
  uint32_t allocation_requests;
  uint32_t free_requests;      /* frees that reached the free list */
  float requested_bytes;       /* sum of all sizes asked of dof_AllocateBlock */
  uint32_t free_blocks;        /* number of free blocks in the list */
} DofFreeList;

struct DofPageIndex; /* private to the module: which buffer holds which page */

/* An open paged file. */
typedef struct DofFile {
  int32_t descriptor;      /* the system's descriptor; -1 once released */
  uint32_t flags;          /* the open flags, as given */
  uint32_t clock;          /* incremented on every page request */
  uint32_t hand;           /* the buffer the replacement clock looks at next */
  int64_t position;        /* offset just past the last page moved to or from the file */
  int64_t page_count;      /* pages the file holds (a partial last page counts) */
  int64_t end;             /* where the next appended block starts */
  int32_t buffer_count;
  int32_t page_size;
  DofFreeList *free_list;  /* null without DOF_FREE_LIST */
  DofPageBuffer *buffers;  /* buffer_count entries */
  char *name;              /* the file's name (the generated one for a temporary file) */
  uint32_t read_requests;  /* dof_ReadWrite calls, by direction */
  uint32_t write_requests;
  uint32_t physical_writes; /* whole pages written to / read from the file */
  uint32_t physical_reads;
  uint32_t page_requests;  /* page look-ups, and those found in a buffer */
  uint32_t page_hits;
  struct DofPageIndex *page_index;
} DofFile;

TESMAR_STATIC_ASSERT(sizeof(DofPageBuffer) == 32, "DofPageBuffer layout");
TESMAR_STATIC_ASSERT(offsetof(DofPageBuffer, page) == 16, "DofPageBuffer layout");
TESMAR_STATIC_ASSERT(offsetof(DofPageBuffer, data) == 24, "DofPageBuffer layout");
TESMAR_STATIC_ASSERT(sizeof(DofFreeBlock) == 24, "DofFreeBlock layout");
TESMAR_STATIC_ASSERT(offsetof(DofFreeBlock, size) == 8, "DofFreeBlock layout");
TESMAR_STATIC_ASSERT(offsetof(DofFreeBlock, next) == 16, "DofFreeBlock layout");
TESMAR_STATIC_ASSERT(sizeof(DofFreeList) == 32, "DofFreeList layout");
TESMAR_STATIC_ASSERT(offsetof(DofFreeList, requested_bytes) == 24, "DofFreeList layout");
TESMAR_STATIC_ASSERT(offsetof(DofFile, position) == 16, "DofFile layout");
TESMAR_STATIC_ASSERT(offsetof(DofFile, buffer_count) == 40, "DofFile layout");
TESMAR_STATIC_ASSERT(offsetof(DofFile, free_list) == 48, "DofFile layout");
TESMAR_STATIC_ASSERT(offsetof(DofFile, name) == 64, "DofFile layout");
TESMAR_STATIC_ASSERT(offsetof(DofFile, read_requests) == 72, "DofFile layout");
TESMAR_STATIC_ASSERT(offsetof(DofFile, page_hits) == 92, "DofFile layout");
TESMAR_STATIC_ASSERT(sizeof(DofFile) == 104, "DofFile layout");

/* Module start-up: registers DOF's message table. Returns 0. */
TESMAR_API mpm_Status dof_Initialize(uint32_t options);

/* Opens a paged file (the name is UTF-8) and stores the new handle in *file (null after a failure).
 *   flags: DOF_* open flags. Neither DOF_OPEN_EXISTING nor DOF_READ_ONLY: the file is created, or
 *     emptied when it exists, with permissions 0666 less the umask. Only regular files are opened.
 *     DOF_TEMPORARY: `name` is ignored; the file takes a name from ugn_TempName and is created
 *     exclusively with permissions 0600 (a name that exists by then is passed over for the next);
 *     no name at all gives DOF_OPEN_ERR. file->name holds the name used.
 *   buffer_count: page buffers (0 or less: 16); page_size: bytes per page (0 or less: 4096).
 * An existing file's size may be any number of bytes: a partial last page reads as if zero-filled.
 * Statuses: DOF_MALLOC_ERR, DOF_OPEN_ERR (with the name), DOF_BAD_SLOT (no out pointer). */
TESMAR_API mpm_Status dof_OpenFile(uint32_t flags, const char *name, int32_t buffer_count,
                                   int32_t page_size, DofFile **file);

/* Prints the statistics when asked (DOF_STATISTICS), writes dirty pages back (not for temporary or
 * read-only files), closes the file, deletes a temporary file and frees the handle.
 * A write-back failure is issued and returned (DOF_WRITE_ERR) but the close goes on. When the system
 * refuses the close, DOF_CLOSE_ERR is returned and the handle stays valid with its descriptor
 * released: a second dof_CloseFile frees it without closing anything again. */
TESMAR_API mpm_Status dof_CloseFile(uint32_t options, DofFile *file);

/* Reserves a block of at least `size` bytes and stores its address in *address. With the free list
 * the block's header is written and the address is 8 past it. Statuses: DOF_BAD_SIZE (size 0, or
 * the file would outgrow its offsets), DOF_WRITE_ERR and the other transfer statuses, DOF_BAD_SLOT. */
TESMAR_API mpm_Status dof_AllocateBlock(DofFile *file, uint32_t size, int64_t *address);

/* Gives a block back to the free list (nothing happens without DOF_FREE_LIST once the address is
 * checked). DOF_BAD_OFFSET: the address is below 8 or at or beyond the end, its header does not
 * describe a block inside the file, or the block overlaps a free block (freed twice). */
TESMAR_API mpm_Status dof_FreeBlock(DofFile *file, int64_t address);

/* The size that was asked when the block at `address` was allocated (free-list files only: other
 * files keep no header, DOF_BAD_OFFSET). Checks the address as dof_FreeBlock does. */
TESMAR_API mpm_Status dof_GetBlockSize(DofFile *file, int64_t address, uint32_t *size);

/* Moves `count` bytes between `buffer` and the file at `offset` (direction DOF_READ or DOF_WRITE),
 * page by page through the buffers. Reading beyond the last page of a writable file grows the file
 * by zero pages. DOF_BAD_OFFSET: a negative offset, or offset + count beyond the largest offset.
 * DOF_WRITE_ERR: writing to a read-only file, or reaching beyond its last page. A failure stops the
 * transfer; the chunks before it stay done. */
TESMAR_API mpm_Status dof_ReadWrite(int32_t direction, DofFile *file, uint32_t count,
                                    int64_t offset, void *buffer);

/* The buffer that holds page `page`, loading it (or creating it as zeros beyond the end). The buffer
 * stays valid until the next call that may replace pages. A failed load leaves no buffer labelled
 * with the page. DOF_BAD_OFFSET for a negative or too large page number. */
TESMAR_API mpm_Status dof_GetPage(DofFile *file, int64_t page, DofPageBuffer **buffer);

/* Writes one buffer's page to the file (a short write is continued) and clears its dirty mark.
 * DOF_WRITE_ERR when the system writes nothing or fails, or the file is read-only; DOF_BAD_SLOT for
 * a buffer that is not one of the file's. A buffer that holds no page is left alone. */
TESMAR_API mpm_Status dof_FlushBuffer(DofFile *file, DofPageBuffer *buffer);

/* Prints the statistics report of the file to standard output. */
TESMAR_API void dof_DumpStatistics(DofFile *file);

/* Comparison of the free-list index (two DofFreeBlock records, key first): by offset, -1, 0 or 1.
 * While a search descends, it remembers the greatest record below the key (or, while the search
 * has only gone left, the last record visited), which the free list uses to find a block's
 * neighbours. */
TESMAR_API int dof__CompareFreeBlocks(const void *key, const void *record);

TESMAR_EXTERN_C_END

#endif
