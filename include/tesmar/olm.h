/*
 * OLM: the ordered list manager (module 2); OQM (module 5) and OSM (module 4).
 *
 * A doubly linked list of fixed-size records that the list copies in and owns, with a cursor
 * ("current") and a forward cycle kept in the list itself. Nodes are carved from blocks allocated
 * `nodes_per_block` at a time and recycled through a free chain, so a busy list does not allocate
 * per record; nodes never move, so a record pointer stays valid until the record is removed or the
 * list is purged or freed.
 *
 * Positions: OLM_HEAD (-1), OLM_TAIL (-2), OLM_CURRENT (0), n >= 1 the n-th record. Insertion at
 * OLM_CURRENT goes before the current record (at the front when there is none); at n >= 2 after the
 * (n-1)-th record; at 1 after the current record (at the front when there is none).
 *
 * OQM and OSM consist of their message tables only.
 *
 * Failures are issued through the message system (mpm.h) at MPM_ERROR and returned as codes (or as
 * a null result). One thread at a time.
 */
#ifndef TESMAR_OLM_H
#define TESMAR_OLM_H

#include <stdint.h>
#include "tesmar/types.h"
#include "tesmar/otm.h"

TESMAR_EXTERN_C_BEGIN

/* Message codes of module OLM. */
#define OLM_NOMEMORY        0x20001u /* " Out of memory\n" (memory exception) */
#define OLM_INVALIDSIZE     0x20002u /* " Invalid size = %d\n" */
#define OLM_NULLPOINTER     0x20003u /* " NULL pointer\n" */
#define OLM_INVALIDPOSITION 0x20004u /* " Invalid position = %d\n" */
#define OLM_SIZENOTEQ       0x20005u /* " Data size one (%d) does not equal data size two (%d)\n" */

/* Message codes of modules OQM and OSM (tables only). */
#define OQM_NOMEMORY    0x50001u
#define OQM_NULLPOINTER 0x50002u
#define OQM_NOOBJECTS   0x50003u
#define OSM_NOMEMORY    0x40001u
#define OSM_NULLPOINTER 0x40002u
#define OSM_NOOBJECTS   0x40003u

/* Positions. */
#define OLM_HEAD    (-1)
#define OLM_TAIL    (-2)
#define OLM_CURRENT 0

/* olm_MergeLists flags: let an empty list take part in the set operation. */
#define OLM_MERGE_EMPTY_A 0x1u
#define OLM_MERGE_EMPTY_B 0x2u

typedef struct olm_Node olm_Node;   /* private to the list */
typedef struct olm_Block olm_Block; /* private to the list */

/* A list. Its layout is public so that it can live in caller storage (olm_InitializeList); the
 * fields are the list's own and must only be read. */
typedef struct olm_List {
  olm_Block *blocks;       /* node blocks allocated for this list */
  olm_Node *head;
  olm_Node *tail;
  olm_Node *free_nodes;    /* nodes not in use */
  olm_Node *current;
  int32_t data_size;       /* bytes per record, > 0 */
  int32_t nodes_per_block; /* >= 1 */
  int32_t node_stride;     /* data size + 16, rounded up to a multiple of 8 */
  int32_t count;
  int32_t cycle_index;     /* 0: no cycle under way; else 1-based position of the last record */
  int32_t reserved;
  uint64_t user;           /* caller's word, carried over to copies */
} olm_List;

TESMAR_STATIC_ASSERT(sizeof(olm_List) == 72, "olm_List layout");

/* Module start-up: registers the message table. Return 0. */
TESMAR_API mpm_Status olm_Initialize(uint32_t flags);
TESMAR_API mpm_Status oqm_Initialize(uint32_t flags);
TESMAR_API mpm_Status osm_Initialize(uint32_t flags);

/* Allocates a list header and initialises it (see olm_InitializeList). Null after a failure. */
TESMAR_API olm_List *olm_CreateList(uint32_t flags, int32_t data_size, int32_t nodes_per_block,
                                    uint64_t user);

/* Sets up an empty list in caller storage with its first node block. A data size of 0 or below,
 * or nodes per block below 1, gives OLM_INVALIDSIZE with that number; data_size x nodes_per_block
 * beyond what can be allocated gives OLM_NOMEMORY. */
TESMAR_API mpm_Status olm_InitializeList(uint32_t flags, olm_List *list, int32_t data_size,
                                         int32_t nodes_per_block, uint64_t user);

/* Copies the record into a new node at the position; current becomes the new node. Returns the
 * stored record, or null (OLM_INVALIDPOSITION, OLM_NOMEMORY, OLM_NULLPOINTER). */
TESMAR_API void *olm_AddObject(uint32_t flags, olm_List *list, int32_t position, const void *record);

/* Inserts `count` consecutive records so that they stand at the position in array order. */
TESMAR_API mpm_Status olm_AddArray(uint32_t flags, olm_List *list, int32_t position, int32_t count,
                                   const void *array);

/* The record at the position, which becomes current; null when there is none. A numbered position
 * n leaves the cycle at n, so that olm_CycleList continues with the record after it; a numbered
 * position past the end issues OLM_INVALIDPOSITION, resets the cycle and leaves current at the last
 * record (as a cycle that ran out would). */
TESMAR_API void *olm_GetObject(uint32_t flags, olm_List *list, int32_t position);

/* Next record of the forward cycle; null at the end, which resets the cycle. The cycle steps from
 * the current record and counts its steps in the cycle index: an operation that moves current
 * during a cycle (a get at -1, -2 or 0, any insertion, which makes the new record current) moves
 * the cycle's position but not its index, and a cycle that reaches the last record before its index
 * reaches the count issues OLM_NULLPOINTER and resets. Removals reset the cycle. */
TESMAR_API void *olm_CycleList(uint32_t flags, olm_List *list);

/* Backward cycle: from a reset cycle the first call returns the tail, each further call the record
 * before; past the head it returns null once and resets the cycle. */
TESMAR_API void *olm_ReverseCycleList(uint32_t flags, olm_List *list);

/* Removes the record at the position; resets the cycle. When the removed node was current, current
 * moves to its successor (or to its predecessor when it was the last). With no record at -1, -2 or
 * 0 nothing changes and the message system's last status (mpm_last_status) is returned; a numbered
 * position past the end gives OLM_INVALIDPOSITION. */
TESMAR_API mpm_Status olm_RemoveObject(uint32_t flags, olm_List *list, int32_t position);

/* Empties the list in O(1), keeping its node blocks for reuse. */
TESMAR_API mpm_Status olm_PurgeList(uint32_t flags, olm_List *list);

/* Frees all node blocks and zeroes the header (initialise it again before use). */
TESMAR_API mpm_Status olm_FreeList(uint32_t flags, olm_List *list);

/* olm_FreeList, then frees the header (which must come from olm_CreateList). */
TESMAR_API mpm_Status olm_DeleteList(uint32_t flags, olm_List *list);

/* A new list with the same data size, nodes per block and user word and copies of all records. */
TESMAR_API olm_List *olm_CopyList(uint32_t flags, olm_List *list);

/* A malloc'ed array of copies of all records in list order; *count receives the number. An empty
 * list gives null with *count 0 and no message. */
TESMAR_API void *olm_GetArray(uint32_t flags, olm_List *list, int32_t *count);

/* Set operation through a tree ordered by `compare`: mode 1 symmetric difference, 2 union,
 * 3 intersection. List A's records go into the tree first (the first of equal records stays); then
 * each record of list B in order is added (union), toggled (symmetric difference: added when absent,
 * removed when present) or kept when present (intersection, which holds list B's records). The
 * result is sorted and free of duplicates; an empty result gives null without a message. A missing
 * list gives a copy of the other (both missing: null, no message); so does an empty list unless
 * OLM_MERGE_EMPTY_A or _B is set. Different data sizes give OLM_SIZENOTEQ, a missing compare
 * function OLM_NULLPOINTER, another mode null. */
TESMAR_API olm_List *olm_MergeLists(uint32_t flags, olm_List *a, olm_List *b, int32_t mode,
                                    otm_CompareFn compare);

TESMAR_EXTERN_C_END

#endif
