/*
 * OTM: the object tree manager (module 3).
 *
 * An ordered container of fixed-size records, kept as a height-balanced (AVL) binary search tree.
 * The tree copies every record in and owns the copy; the order is set by the compare function given
 * at creation, and a caller finds a record by passing a record-shaped key. Insertion is
 * find-or-insert: an equal record is never stored twice. The tree also keeps a cursor ("current")
 * and an in-order cycle (iteration) state, so only one cycle can run over a tree at a time.
 *
 * Record pointers returned by the tree point into its own copies; they stay valid until that record
 * is removed or the tree is freed. Arrays returned by otm_GetArray are malloc'ed; free them with
 * otm_FreeArray or free().
 *
 * Failures are issued through the message system (mpm.h) at MPM_ERROR and returned as codes (or as
 * a null result). Operations are not thread-safe: one thread at a time for the whole library.
 */
#ifndef TESMAR_OTM_H
#define TESMAR_OTM_H

#include <stdint.h>
#include "tesmar/types.h"

TESMAR_EXTERN_C_BEGIN

/* Message codes of module OTM. */
#define OTM_NOMEMORY       0x30001u /* " Out of memory\n" (memory exception) */
#define OTM_INVALIDSIZE    0x30002u /* " Invalid size = %d\n" */
#define OTM_NULLPOINTER    0x30003u /* " NULL pointer\n" */
#define OTM_LOGICERROR     0x30004u /* " Object Tree Manager Logic Error\n" (at MPM_FATAL) */
#define OTM_INVALIDCOMPARE 0x30005u /* in the table, never issued */
#define OTM_NOTFOUND       0x30006u /* " Object not found\n" */
#define OTM_INVALIDOPTION  0x30007u /* in the table, never issued */
#define OTM_SIZENOTEQ      0x30008u /* " Data size one (%d) does not equal data size two (%d)\n" */
#define OTM_FUNCTIONNOTEQ  0x30009u /* " Function pointer one does not equal function pointer two\n" */

/* Flags. */
#define OTM_NO_MESSAGE   0x1u /* otm_GetObject: no message when the key is absent */
#define OTM_DESCENDING   0x4u /* otm_CycleTree, otm_GetArray: descending order */
#define OTM_KEEP_CURRENT 0x8u /* otm_GetObject: leave the current node (and a cycle) alone */

/* Merge modes. */
#define OTM_MERGE_SYMDIFF   1
#define OTM_MERGE_UNION     2
#define OTM_MERGE_INTERSECT 3

/* Compare function: negative when a orders before b, 0 when equal, positive after. */
typedef int (*otm_CompareFn)(const void *a, const void *b);

typedef struct otm_Node otm_Node; /* private to the tree */

/* A tree. Its layout is public so that it can live in caller storage (otm_InitializeTree); the
 * fields are the tree's own and must only be read. */
typedef struct otm_Tree {
  otm_Node *root;
  otm_Node *current;     /* node last found, inserted or reached by the cycle */
  int32_t data_size;     /* bytes per record, > 0 */
  int32_t count;         /* number of records */
  otm_CompareFn compare;
  int32_t cycle_index;   /* 0: no cycle under way; else 1-based position of the last record */
  int32_t reserved;
  uint64_t user;         /* caller's word, carried over to copies */
} otm_Tree;

TESMAR_STATIC_ASSERT(sizeof(otm_Tree) == 48, "otm_Tree layout");

/* Module start-up: registers OTM's message table. Returns 0. */
TESMAR_API mpm_Status otm_Initialize(uint32_t flags);

/* Allocates a tree and initialises it (see otm_InitializeTree). Null after a failure (issued). */
TESMAR_API otm_Tree *otm_CreateTree(uint32_t flags, int32_t data_size, otm_CompareFn compare,
                                    uint64_t user);

/* Sets up an empty tree in caller storage. A data size of 0 or below gives OTM_INVALIDSIZE, a
 * missing tree or compare function OTM_NULLPOINTER. */
TESMAR_API mpm_Status otm_InitializeTree(uint32_t flags, otm_Tree *tree, int32_t data_size,
                                         otm_CompareFn compare, uint64_t user);

/* Find-or-insert: returns the stored record equal to `record`, inserting a copy when there is none.
 * The tree's current node becomes the found or new node; an insertion resets the cycle. Null after
 * a failure (OTM_NULLPOINTER, OTM_NOMEMORY, OTM_LOGICERROR). */
TESMAR_API void *otm_AddObject(uint32_t flags, otm_Tree *tree, const void *record);

/* Inserts `count` consecutive records of the tree's data size, in array order; stops at the first
 * failed insertion and returns the message system's last status. count <= 0: OTM_INVALIDSIZE. */
TESMAR_API mpm_Status otm_AddArray(uint32_t flags, otm_Tree *tree, int32_t count, const void *array);

/* Finds the record equal to `key`. Absent: null, and OTM_NOTFOUND is issued unless OTM_NO_MESSAGE.
 * Unless OTM_KEEP_CURRENT, current becomes the node found (or none). */
TESMAR_API void *otm_GetObject(uint32_t flags, otm_Tree *tree, const void *key);

/* Next record of the in-order cycle (OTM_DESCENDING, read by the call that starts a cycle:
 * descending); null at the end, which also resets the cycle so that the next call starts a new one.
 * A missing tree gives null silently. The cycle steps from the current node: insertions and
 * removals reset it, a lookup with OTM_KEEP_CURRENT leaves it alone, and any other lookup (or
 * otm_AddObject of an equal record) moves its position but not its index; a cycle that reaches the
 * last record before its index reaches the count issues OTM_NULLPOINTER and resets. */
TESMAR_API void *otm_CycleTree(uint32_t flags, otm_Tree *tree);

/* Removes and frees the record equal to `key`; resets the cycle and the current node. Absent:
 * OTM_NOTFOUND. */
TESMAR_API mpm_Status otm_RemoveObject(uint32_t flags, otm_Tree *tree, const void *key);

/* A malloc'ed array of copies of all records in cycle order (flags as for otm_CycleTree); *count
 * receives the number of records. An empty tree gives null with *count 0 and no message. */
TESMAR_API void *otm_GetArray(uint32_t flags, otm_Tree *tree, int32_t *count);

/* Frees an array returned by otm_GetArray. Returns 0. */
TESMAR_API mpm_Status otm_FreeArray(uint32_t flags, void *array);

/* A new tree with the same data size, compare function and user word and copies of all records,
 * of the same shape; the source's cycle and current node are left alone. */
TESMAR_API otm_Tree *otm_CopyTree(uint32_t flags, otm_Tree *tree);

/* Set operation into a new tree: mode 1 symmetric difference, 2 union (tree A's record of an equal
 * pair stays), 3 intersection (tree B's records). When either tree is missing or empty the result is
 * a copy of the other, in any mode (tree A empty and tree B missing: an empty copy of A; both
 * missing: OTM_NULLPOINTER). Different data sizes give OTM_SIZENOTEQ, different compare functions
 * OTM_FUNCTIONNOTEQ; another mode gives null without a message. Neither tree is changed. */
TESMAR_API otm_Tree *otm_MergeTrees(uint32_t flags, otm_Tree *a, otm_Tree *b, int32_t mode);

/* Frees every node and record and leaves the tree empty; the tree block itself stays. */
TESMAR_API mpm_Status otm_FreeTree(uint32_t flags, otm_Tree *tree);

/* otm_FreeTree, then frees the tree block (which must come from otm_CreateTree). */
TESMAR_API mpm_Status otm_DeleteTree(uint32_t flags, otm_Tree *tree);

TESMAR_EXTERN_C_END

#endif
