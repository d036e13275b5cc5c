/*
 * HDB: the heap debugger (module 16).
 *
 * Two services. The allocation entry points (hdb_Malloc, hdb_Realloc, hdb_Free, hdb_Strdup) take
 * the caller's source file and line and allocate straight from the C heap, with the semantics of
 * malloc, calloc, realloc and free: they build no guarded blocks and count nothing.
 *
 * The inspection operations work on a list of guarded blocks that the client's own allocator
 * builds and links (hdb_LinkBlock). A guarded block is one malloc'ed heap block laid out as
 *
 *     hdb_Block header (48 bytes, ending in the start marker 'U' 'U') | user data | 0xAA 0xAA
 *
 * and the client hands out the address of the user data (HDB_USER_DATA). The client's allocator
 * assigns request numbers (hdb_request), keeps the counters and maxima below, calls hdb_Breakpoint
 * when the request number reaches hdb_breakpoint, and, to defer a free, sets HDB_FREED in the
 * block's flags and stores its checksum (hdb_Checksum) instead of freeing it. hdb_FlushFrees gives
 * such blocks back to the heap, so every linked block must come from malloc with the header at its
 * start.
 *
 * Validation (hdb_CheckHeap) checks every linked block's markers and, with HDB_CHECK_FREED, that
 * no deferred-free block was written after it was freed. A block whose start marker is bad ends
 * every walk at once: nothing of it beyond the marker (size, end marker, neighbours) is read.
 *
 * Reports are written to hdb_report_stream (stderr unless set), not through the message system.
 * Pointers print as bare hexadecimal digits; sizes and totals print their full 64-bit values.
 * All state below is process-wide, public and unguarded; use it from one thread at a time.
 */
#ifndef TESMAR_HDB_H
#define TESMAR_HDB_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include "tesmar/types.h"

TESMAR_EXTERN_C_BEGIN

/* Message codes of module HDB (a placeholder row; HDB reports on its own stream). */
#define HDB__DUMMY 0x100001u /* " " */

/* hdb_Malloc flag: zero the block (calloc). */
#define HDB_ZERO 0x1u

/* hdb_options bit: hdb_CheckHeap verifies the checksum of every deferred-free block. */
#define HDB_CHECK_FREED 0x80000u

/* hdb_Block.flags bit: the block was freed and its release deferred (see hdb_FlushFrees). */
#define HDB_FREED 0x1u

/* The markers around the user data. */
#define HDB_START_MARKER 0x55u /* 'U', twice, just before the user data */
#define HDB_END_MARKER   0xAAu /* twice, just after the user data */

/* Header of a guarded block; the user data follows it directly (16-byte aligned when the block
 * comes from malloc), then the two end-marker bytes. */
typedef struct hdb_Block {
  uint64_t size;               /* bytes of user data */
  uint32_t request;            /* request number of the allocation */
  int32_t line;                /* owner: line of the allocating call */
  const char *file;            /* owner: source file of the allocating call */
  struct hdb_Block *next;      /* neighbours in the block list */
  struct hdb_Block *prev;
  uint16_t checksum;           /* of the user data, taken when the block was freed */
  uint16_t flags;              /* HDB_FREED */
  uint8_t reserved[2];
  uint8_t start_marker[2];     /* HDB_START_MARKER, HDB_START_MARKER */
} hdb_Block;

TESMAR_STATIC_ASSERT(sizeof(hdb_Block) == 48, "hdb_Block layout");
TESMAR_STATIC_ASSERT(offsetof(hdb_Block, request) == 8, "hdb_Block layout");
TESMAR_STATIC_ASSERT(offsetof(hdb_Block, line) == 12, "hdb_Block layout");
TESMAR_STATIC_ASSERT(offsetof(hdb_Block, file) == 16, "hdb_Block layout");
TESMAR_STATIC_ASSERT(offsetof(hdb_Block, next) == 24, "hdb_Block layout");
TESMAR_STATIC_ASSERT(offsetof(hdb_Block, prev) == 32, "hdb_Block layout");
TESMAR_STATIC_ASSERT(offsetof(hdb_Block, checksum) == 40, "hdb_Block layout");
TESMAR_STATIC_ASSERT(offsetof(hdb_Block, flags) == 42, "hdb_Block layout");
TESMAR_STATIC_ASSERT(offsetof(hdb_Block, start_marker) == 46, "hdb_Block layout");

/* Bytes of a guarded block holding `size` bytes of user data. */
#define HDB_BLOCK_BYTES(size) (sizeof(hdb_Block) + (size_t)(size) + 2u)
/* The user data of a block, and the block of a user pointer. */
#define HDB_USER_DATA(block) ((void *)((unsigned char *)(block) + sizeof(hdb_Block)))
#define HDB_BLOCK_OF(user) ((hdb_Block *)((unsigned char *)(user) - sizeof(hdb_Block)))

/* ---- State (all 0 or null after hdb_Initialize unless said) ---- */
TESMAR_API extern hdb_Block *hdb_head;            /* the block list */
TESMAR_API extern hdb_Block *hdb_tail;
TESMAR_API extern uint32_t hdb_request;           /* latest request number; 0: nothing to inspect */
TESMAR_API extern uint32_t hdb_breakpoint;        /* request number that calls hdb_Breakpoint */
TESMAR_API extern uint64_t hdb_mallocs;           /* counters kept by the client's allocator */
TESMAR_API extern uint64_t hdb_callocs;
TESMAR_API extern uint64_t hdb_reallocs;
TESMAR_API extern uint64_t hdb_frees;
TESMAR_API extern uint64_t hdb_strdups;
TESMAR_API extern uint64_t hdb_total_bytes;       /* allocated now */
TESMAR_API extern uint64_t hdb_total_blocks;
TESMAR_API extern uint64_t hdb_max_bytes;         /* allocated at the peak */
TESMAR_API extern uint64_t hdb_max_blocks;
TESMAR_API extern uint64_t hdb_max_block_count;   /* most blocks ever allocated at once */
TESMAR_API extern uint32_t hdb_options;           /* HDB_CHECK_FREED */
TESMAR_API extern const char *hdb_valid_file;     /* last successful validation with a location */
TESMAR_API extern int32_t hdb_valid_line;         /*   (hdb_valid_file null: none yet) */
TESMAR_API extern uint32_t hdb_valid_request;
TESMAR_API extern FILE *hdb_report_stream;        /* stderr unless set */
TESMAR_API extern FILE *hdb_second_stream;        /* stdout unless set */
TESMAR_API extern const char *hdb_default_owner;  /* "Unknown": file and label when none given */

/* Module start-up: registers HDB's message table; clears the list, the request and breakpoint
 * numbers, every counter, the options and the validation record; sets the default owner and the
 * streams that are unset. Blocks still linked are forgotten, not freed. Returns 0. */
TESMAR_API mpm_Status hdb_Initialize(uint32_t flags);

/* ---- Allocation entry points: plain C heap, no guarded blocks, no counting ---- */

/* malloc(size), or calloc(1, size) with HDB_ZERO. Null when memory fails (nothing is reported). */
TESMAR_API void *hdb_Malloc(uint32_t flags, const char *file, int32_t line, uint64_t size);
/* realloc(pointer, size). */
TESMAR_API void *hdb_Realloc(const char *file, int32_t line, void *pointer, uint64_t size);
/* free(pointer). */
TESMAR_API void hdb_Free(const char *file, int32_t line, void *pointer);
/* A malloc'ed copy of `text` (via hdb_Malloc), or null when memory fails. A null text writes
 * "strdup @FILE(LINE) Rqst N: NULL pointer passed" to the report stream and gives null. */
TESMAR_API char *hdb_Strdup(const char *file, int32_t line, const char *text);

/* ---- The block list ---- */

/* Appends a block at the tail (its next becomes null, its prev the old tail). Returns the block. */
TESMAR_API hdb_Block *hdb_LinkBlock(hdb_Block *block);
/* Takes a linked block out of the list, fixing its neighbours, head and tail. */
TESMAR_API void hdb_UnlinkBlock(hdb_Block *block);
/* Checksum of the user data: (XOR of the bytes at even positions << 8) | XOR of those at odd
 * positions. */
TESMAR_API uint16_t hdb_Checksum(const hdb_Block *block);

/* 1 when the two bytes before the user pointer are the start marker; 0 otherwise and for null. */
TESMAR_API int32_t hdb_IsBlock(const void *user);
/* hdb_IsBlock, reporting "LABEL at FILE(LINE) Rqst N: Corrupt block at P (or bad ptr)" and calling
 * hdb_Stop when it fails (null included). */
TESMAR_API int32_t hdb_CheckPtr(const char *file, int32_t line, const char *label,
                                const void *user);

/* ---- Inspection ---- */

/* Validates every linked block, head to tail: the start marker, the end marker, and with
 * HDB_CHECK_FREED the checksum of deferred-free blocks. A bad marker is reported, followed by the
 * last successful validation when there was one, hdb_Stop is called and the walk ends: 0. A freed
 * block found modified is reported, its checksum taken again and the walk goes on; at its end the
 * last successful validation is reported, hdb_Stop called, and the result is 0, so that the next
 * validation finds the block consistent again. Otherwise 1, and when a file was given the location
 * and request number become the last successful validation. Null file and label stand for
 * hdb_default_owner in the reports. */
TESMAR_API int32_t hdb_CheckHeap(const char *file, int32_t line, const char *label);
/* 1 while hdb_request is 0; otherwise hdb_CheckHeap without a location. */
TESMAR_API int32_t hdb_Validate(void);

/* The heap listing (every linked block not freed: request, pointer, size, owner) followed by the
 * statistics. A block with a bad start marker ends it with a report and hdb_Stop, and no statistics
 * follow. Nothing while hdb_request is 0. */
TESMAR_API void hdb_DumpHeap(void);
/* Size, owner and request of one block. Nothing while hdb_request is 0. */
TESMAR_API void hdb_DumpPtr(const void *user);
/* The allocation counters. Nothing while hdb_request is 0. */
TESMAR_API void hdb_DumpStats(void);
/* Unlinks and frees every deferred-free block. A block with a bad start marker stops the walk with
 * a report and hdb_Stop. Nothing while hdb_request is 0. */
TESMAR_API void hdb_FlushFrees(void);

/* ---- Options and breakpoints ---- */
TESMAR_API void hdb_SetOptions(uint32_t bits);      /* hdb_options |= bits */
TESMAR_API void hdb_ClearOptions(uint32_t bits);    /* hdb_options &= ~bits */
/* Sets hdb_breakpoint; 0 leaves it as it is. */
TESMAR_API void hdb_SetBreakpoint(uint32_t request);
/* Reports "LABEL at FILE(LINE) Rqst N: Heap breakpoint hit". */
TESMAR_API void hdb_Breakpoint(const char *file, int32_t line, const char *label);
/* Does nothing. Called after every corruption report: set a debugger breakpoint here. */
TESMAR_API void hdb_Stop(void);

TESMAR_EXTERN_C_END

#endif
