/*
 * MDA: the entity database (module 9): models, entity handles, the entity life cycle (creation,
 * locking, the entity cache, records in the paged file, deletion), memory blocks, pointer fields
 * and back pointers.
 *
 * A model is one numbered slot (1 to 65535) of a process-wide model table, bound to one schema
 * (ddf.h). It owns an entity table that maps entity numbers to the entities' memory and disk
 * locations, per-type entity lists, named double parameters, optionally a back-pointer table, and,
 * unless it is memory-only, a small cache of unlocked entities and a temporary paged file. An
 * entity is addressed by a db_ptr: the model number in bits 63..48 and the entity number in bits
 * 47..0. Entity 0 of every model is reserved when the model is allocated; a handle whose entity
 * number is 0 counts as null in pointer operations. Handles print as "#model:entity"
 * (MDA_PTR_FORMAT).
 *
 * Entity memory is a chain of memory blocks (MBlock): a 40-byte header before the data, the first
 * block holding the entity's structure (mda_EntityHeader first), every further block (arrays,
 * strings) linked after it. Each block's `reference` names the slot, a field inside some block of
 * the same chain, that holds the next block's data address; this is what lets an entity be
 * duplicated, written and read back as a unit with the addresses between its blocks relocated.
 * Arrays of two to five dimensions are array blocks: after the block header a 48-byte array header,
 * the row-pointer tables and the element area; the caller's address is that of the first row-
 * pointer table, so that an array of k dimensions is indexed as k nested pointer arrays.
 *
 * Entity-keyed tables (mda_PtrTable) hold one fixed-size record per entity number of one model, in
 * pages of 2048 records allocated on first write. A model that keeps back pointers records for each
 * entity the entities that point to it (its parents), once per pointer field.
 *
 * Ownership: models own their entities, memory blocks, paged file and per-model tables; the schema
 * belongs to the caller and must outlive the models bound to it. Arrays returned through out
 * arguments (parents, names) are malloc'ed and released by the caller with free().
 *
 * Failures issue a message of the MDA table at MPM_ERROR and return its code; an operation that
 * fails because another module failed returns that module's code without issuing again. Handles of
 * models not in use, of numbers never issued, the null handle where an entity is needed, addresses
 * that are not blocks: each gives its MDA message, never a crash.
 *
 * All state is process-wide; use the library from one thread at a time.
 */
#ifndef TESMAR_MDA_H
#define TESMAR_MDA_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include "tesmar/types.h"
#include "tesmar/ddf.h"
#include "tesmar/olm.h"
#include "tesmar/otm.h"

TESMAR_EXTERN_C_BEGIN

/* Message codes of module MDA (9); the texts are in the message table (tesmar messages MDA). */
#define MDA_INVALID_MODEL           0x90001u /* a model number not in use */
#define MDA_INVALID_PTR             0x90002u /* a handle that names no (valid) entity */
#define MDA_NULL_MEMPTR             0x90003u /* a null address or out argument */
#define MDA_MALLOC_ERR              0x90004u /* out of memory (memory exception) */
#define MDA_REALLOC_ERR             0x90005u /* out of memory growing a table (memory exception) */
#define MDA_INVALID_ARG             0x90006u
#define MDA_INVALID_OPTIONS         0x90007u
#define MDA_CACHE_FULL              0x90008u /* in the table; the cache never reports itself full */
#define MDA_NO_MORE_MODEL           0x90009u /* all 65535 model slots in use */
#define MDA_NO_DDF                  0x9000Au /* a model definition without a schema */
#define MDA_NOT_RWLOCKED            0x9000Bu
#define MDA_TOO_MANY_LOCKS          0x9000Cu
#define MDA_PAR_LIST_ERR            0x9000Du /* a parent list could not be changed */
#define MDA_NO_BACKPTRS             0x9000Eu /* the model keeps back pointers but has no table */
#define MDA_PAR_NOT_FOUND           0x9000Fu /* the parent is not among the child's parents */
#define MDA_HAS_PARENTS             0x90010u
#define MDA_ZERO_DIM                0x90011u /* an array block without row pointers */
#define MDA_ARRAY_MISMATCH          0x90012u /* in the table, issued by no operation */
#define MDA_CHILD_NOT_FOUND         0x90013u
#define MDA_DBG_BADMEMREF           0x90014u
#define MDA_DBG_BIGDBLOCK           0x90015u
#define MDA_DBG_BADBLOCKNUM         0x90016u
#define MDA_DBG_BADPTRNUM           0x90017u
#define MDA_CALLBACK_NOT_FOUND      0x90018u
#define MDA_TREE_ERR                0x90019u
#define MDA_OPEN_ERR                0x9001Au
#define MDA_INCORRECT_SIGNATURE     0x9001Bu
#define MDA_INCORRECT_DBNAME        0x9001Cu
#define MDA_NEWER_DBVERSION         0x9001Du
#define MDA_OLDER_DBVERSION         0x9001Eu
#define MDA_NEWER_DBRELEASE         0x9001Fu
#define MDA_OLDER_DBRELEASE         0x90020u
#define MDA_UNKNOWN_NAME            0x90021u
#define MDA_FILE_READ_ERR           0x90022u
#define MDA_FILE_WRITE_ERR          0x90023u
#define MDA_FILE_EXISTS             0x90024u
#define MDA_INTERNAL_ERR            0x90025u /* a broken internal invariant, with the function */
#define MDA_MODEL_NOT_EMPTY         0x90026u
#define MDA_CROSS_MODEL_PTR         0x90027u
#define MDA_NOT_IND_MBLOCK          0x90028u /* a block that already belongs to a chain */
#define MDA_BAD_MBLOCK              0x90029u /* no block (marker, type) at the address given */
#define MDA_BAD_BACKPTRS            0x9002Au
#define MDA_NO_MORE_PTR             0x9002Bu /* the entity numbering or a table is full */
#define MDA_DUPLICATE_ENTLIST_ENTRY 0x9002Cu /* the handle is already in a per-type list */
#define MDA_PTR_ALREADY_CREATED     0x9002Du
#define MDA_MODELS_DIFFER           0x9002Eu
#define MDA_ENTITY_NOT_DELETED      0x9002Fu
#define MDA_NOLONGER_SUPPORTED      0x90030u

/* Quiet statuses, never issued. */
#define MDA_TRAVERSE_STOP  0x9FFFEu /* a visitor ends a walk */
#define MDA_TRAVERSE_SKIP  0x9FFFDu /* a visitor declines a subentity */
#define MDA_END_OF_LIST    0x9FFFCu /* mda_NextOfType: the type's cursor is empty */
#define MDA_TF_NOT_IN_DDF  0x9FFFBu /* a type form the model's schema does not hold */

/* ---- Entity handles ---- */

/* Entity handle: model number in bits 63..48, entity number in bits 47..0. */
typedef uint64_t db_ptr;
/* Types of pointer and count fields as declarations generated from a schema name them. */
typedef db_ptr MDA_PTR;
typedef int32_t MDA_COUNT;

#define MDA_NULL_PTR ((db_ptr)0)
#define MDA_MAX_MODEL 65535
#define MDA_PTR_MODEL(p) ((int32_t)((uint64_t)(p) >> 48))
#define MDA_PTR_ENTITY(p) ((uint64_t)(p) & 0xFFFFFFFFFFFFull)
#define MDA_MAKE_PTR(model, entity) \
  ((db_ptr)(((uint64_t)(uint16_t)(model) << 48) | ((uint64_t)(entity) & 0xFFFFFFFFFFFFull)))
/* printf format of a handle: printf(MDA_PTR_FORMAT, (int)MDA_PTR_MODEL(p),
 * (long)MDA_PTR_ENTITY(p)) prints "#2:5" (64-bit long). */
#define MDA_PTR_FORMAT "#%d:%ld"

/* ---- Options ---- */

/* mda_AllocateModel (kept by the model). */
#define MDA_KEEP_CURRENT      0x1u /* the model current before stays current */
#define MDA_MEMORY_ONLY       0x2u /* no cache and no paged file: entities stay in memory */
#define MDA_NO_DELAYED_WRITE  0x4u /* entities are written when they are unlocked */
/* Operations over models: every model in use. */
#define MDA_ALL_MODELS        0x100000u
/* Saving and restoring: the operation does nothing and succeeds. */
#define MDA_DO_NOTHING        0x40000u
/* Saving: write over an existing file (without it an existing file is MDA_FILE_EXISTS). */
#define MDA_OVERWRITE         0x200000u
/* Saving and restoring: the binary form instead of the text form. */
#define MDA_BINARY            0x400000u
/* Entity creation and deletion: use (or leave) a number reserved with mda_ReserveDbPtr. */
#define MDA_USE_RESERVED      0x80000u

/* mda_Free: unlink the block without freeing it (1); the address is an array block's (2). */
#define MDA_FREE_UNLINK       0x1u
#define MDA_FREE_ARRAY        0x2u
/* mda_AddMemory: the address is an array block's. */
#define MDA_ADD_ARRAY         0x1u
/* mda_GetMemorySize: the address is a plain block's. */
#define MDA_SIZE_PLAIN        0x1u
/* mda_ReallocArray: drop the old contents and allocate a fresh array. */
#define MDA_REALLOC_FRESH     0x1u

/* ---- Entity table ---- */

/* Status bits of an entity table entry. */
#define MDA_ENTRY_CACHE_MASK  0xFFu       /* the entity's cache entry while it sits in the cache */
#define MDA_ENTRY_RWLOCK      0x200u      /* locked */
#define MDA_ENTRY_MODIFIED    0x400u
#define MDA_ENTRY_DELETED     0x800u      /* on the free list; dloc links to the next free number */
#define MDA_ENTRY_RESERVED    0x1000u     /* number issued, no entity */
#define MDA_ENTRY_INVALID     0x2000u     /* drop the memory image at the final unlock */
#define MDA_ENTRY_NEW         0x4000u     /* created and not yet completely unlocked */
#define MDA_ENTRY_NEEDFLUSH   0x8000u     /* the memory image differs from the paged file */
#define MDA_ENTRY_LOCK_SHIFT  16
#define MDA_ENTRY_LOCK_MASK   0xFF0000u   /* lock count */

#define MDA_PAGE_ENTRIES      2048        /* entries per page of the entity table */
#define MDA_PAGE_SHIFT        11
#define MDA_NO_DLOC           UINT64_MAX  /* dloc of an entity never written */

/* One entry of the entity table. */
typedef struct mda_EntityEntry {
  void *mloc;       /* the entity's memory (data address of its first block), or null */
  uint64_t dloc;    /* paged-file address of its disk record, MDA_NO_DLOC when never written; in a
                       memory-only model 0 or the parked image; on the free list the next free
                       entity number */
  uint32_t tf;      /* the entity's type form */
  uint32_t status;  /* MDA_ENTRY_* bits, cache index, lock count */
} mda_EntityEntry;

/* The header that begins every entity's structure. */
typedef struct mda_EntityHeader {
  uint32_t tf;
  uint32_t tfi;     /* type form index in the model's schema */
  db_ptr ptr;       /* the entity's handle ((model, 0) until it is entered in a model) */
  db_ptr orig_ptr;  /* the handle under which it, or the entity it was copied from, was created */
} mda_EntityHeader;

/* One entry of a model's entity cache: a doubly linked list by index, least recently used first. */
#define MDA_CACHE_NONE 0xFFFFu
typedef struct mda_CacheEntry {
  db_ptr ptr;        /* 0 when empty */
  uint16_t previous; /* MDA_CACHE_NONE at the head */
  uint16_t next;     /* MDA_CACHE_NONE at the tail */
  uint32_t reserved;
} mda_CacheEntry;

/* ---- Entity-keyed tables ---- */

#define MDA_PTRTABLE_ZERO       0x10000u /* new pages are zero-filled (every page is) */
#define MDA_PTRTABLE_ZERO_WORDS 0x20000u /* accepted; pages are zero-filled whole */

/* A table of fixed-size records indexed by the entity numbers of one model. */
typedef struct mda_PtrTable {
  uint64_t highest_page;  /* highest page index allocated */
  uint32_t capacity;      /* entries of the page array (1024, doubling) */
  uint32_t page_size;     /* bytes per page: record size * 2048 */
  uint32_t per_page;      /* records per page: 2048 */
  uint32_t record_size;
  uint32_t flags;
  uint32_t model;
  void **pages;
} mda_PtrTable;

/* Back-pointer record, the record of a model's back-pointer table. */
#define MDA_PARENTS_NONE 0 /* no parent */
#define MDA_PARENTS_ONE  1 /* value: the parent's handle */
#define MDA_PARENTS_LIST 2 /* value: an olm_List * of 8-byte handles, in the order added */
typedef struct mda_BackPtrRec {
  uint64_t value;
  uint8_t kind;
  uint8_t reserved[7];
} mda_BackPtrRec;

/* ---- Per-type entity lists ---- */

/* Record of the links table: the neighbours of an entity in its type's list, and which list. */
typedef struct mda_TypeLink {
  db_ptr newer;
  db_ptr older;
  int32_t list;      /* TFI + 1 of the list that holds the entity; 0 when it is in none */
  uint32_t reserved;
} mda_TypeLink;

/* The per-type entity lists of a model: each type form's live entities, newest first. The arrays
 * are indexed by TFI. An iteration sets cursor[tfi] to oldest[tfi] and calls mda_NextOfType. */
typedef struct mda_TypeLists {
  mda_PtrTable *links;     /* mda_TypeLink per entity */
  db_ptr *oldest;          /* first entity of the type still in the list */
  db_ptr *cursor;          /* iteration position */
  db_ptr *second_newest;   /* the newest entity's older neighbour */
  db_ptr *newest;
  uint32_t *count;
  uint32_t tf_count;
  uint32_t options;
} mda_TypeLists;

/* ---- Models ---- */

typedef struct mda_ModelRec mda_ModelRec;

typedef void (*mda_AllocateHook)(uint32_t options, int32_t model);
typedef void (*mda_RestoreHook)(uint32_t options, uint64_t argument);
typedef void (*mda_FreeHook)(uint32_t options, int32_t model, mda_ModelRec *model_table);
typedef void (*mda_CurrentHook)(int32_t model, uint64_t argument);

/* Model definition (mda_AllocateModel) and information record (mda_GetModelInfo). */
typedef struct mda_ModelDef {
  char name[192];
  ddf_Schema *schema;          /* required for allocation */
  char db_name[192];           /* information only: the schema's database name */
  uint8_t back_ptrs;           /* non-zero: the model keeps back pointers */
  uint8_t statistics;          /* non-zero: the paged file prints its statistics when closed */
  uint8_t reserved[2];
  uint32_t buffer_count;       /* page buffers of the paged file; default 16 */
  uint32_t page_size;          /* page size of the paged file; default 4096 */
  uint32_t db_version;         /* information only: version * 100 + release of the schema */
  void *user_data;
  void *slot_a;
  void *slot_b;
  mda_AllocateHook allocate_hook;  /* called at the end of a successful allocation */
  mda_RestoreHook restore_begin_hook;
  mda_RestoreHook restore_end_hook;
  mda_FreeHook free_hook;          /* called first when the model is freed */
  mda_CurrentHook current_hook;    /* called when the model becomes current */
  void *slot_c;
  uint64_t entity_count;       /* information only: live entities */
  mda_TypeLists *type_lists;   /* information only */
} mda_ModelDef;

/* Element of a model's named-parameter tree. */
typedef struct mda_ModelParam {
  char name[32];
  double value;
} mda_ModelParam;

/* A node of a model's callback lists (kinds 0 to 3). */
typedef void (*mda_EntityCallback)(int32_t kind, db_ptr *handle);
typedef struct mda_CallbackNode {
  mda_EntityCallback function;
  struct mda_CallbackNode *next;
} mda_CallbackNode;

struct DofFile; /* the paged file (dof.h) */

/* One slot of the model table. The fields are the library's own; read them only. */
struct mda_ModelRec {
  uint32_t in_use;
  char name[192];
  uint8_t back_ptrs;
  uint8_t statistics;
  uint8_t reserved0[2];
  uint32_t buffer_count;
  uint32_t page_size;
  mda_PtrTable *back_ptr_table;   /* null when the model keeps no back pointers (yet) */
  ddf_Schema *schema;
  void *user_data;
  /* entity table */
  mda_EntityEntry **pages;        /* page array */
  uint64_t highest_covered;       /* highest entity number the allocated pages cover */
  uint64_t next_number;           /* next entity number to issue */
  uint64_t page_capacity;         /* entries of the page array */
  /* cache */
  mda_CacheEntry *cache;          /* null in a memory-only model */
  int32_t cache_size;             /* 32; 0 in a memory-only model */
  uint16_t lru;                   /* least recently used cache entry, MDA_CACHE_NONE when empty */
  uint16_t mru;                   /* most recently used */
  uint64_t free_head;             /* head of the free entity-number list, 0 when empty */
  struct DofFile *file;           /* the paged file; null in a memory-only model */
  mda_TypeLists *type_lists;
  uint64_t live_count;
  uint32_t options;               /* the options given to mda_AllocateModel */
  uint32_t save_version;          /* version * 100 + release saved files carry; 0: the schema's */
  double default_param;           /* value of a parameter never set */
  otm_Tree *params;               /* mda_ModelParam records by name */
  void *slot_a;
  void *slot_b;
  mda_AllocateHook allocate_hook;
  mda_RestoreHook restore_begin_hook;
  mda_RestoreHook restore_end_hook;
  mda_FreeHook free_hook;
  mda_CurrentHook current_hook;
  void *slot_c;
  mda_CallbackNode *callbacks[4];
};

/* Memory block header, 40 bytes before a block's data. Identical in memory and on disk. */
#define MDA_MBLOCK_MARKER       0x4D424C4Bu /* "KLBM" */
#define MDA_MBLOCK_PLAIN        1
#define MDA_MBLOCK_ARRAY        2
#define MDA_MBLOCK_INDEPENDENT  0x1u        /* flag: made without an owner, not attached */
#define MDA_MBLOCK_HEADER_SIZE  40
#define MDA_ARRAY_HEADER_SIZE   48
#define MDA_MAX_DIMS            5
typedef struct MBlock {
  uint32_t size;         /* bytes of the block, header included, a multiple of 4 */
  uint32_t reserved0;
  uint64_t reference;    /* address of the slot that holds the next block's data address; 0 in
                            the last block (on disk: the slot's offset within its block) */
  uint32_t slot_block;   /* on disk: index of the block holding that slot; all ones in the last */
  uint32_t reserved1;
  uint64_t next;         /* header address of the next block (on disk: its paged-file address) */
  uint32_t marker;       /* MDA_MBLOCK_MARKER */
  uint8_t type;          /* MDA_MBLOCK_PLAIN or MDA_MBLOCK_ARRAY */
  uint8_t flags;         /* MDA_MBLOCK_INDEPENDENT */
  uint8_t reserved2[2];
} MBlock;

/* Array header, after the block header of an array block. */
typedef struct mda_ArrayHeader {
  uint64_t self;          /* the array header's own address */
  uint8_t ndims;
  uint8_t reserved[3];
  uint32_t dims[MDA_MAX_DIMS]; /* outermost first */
  uint64_t element_size;
  uint32_t row_count;     /* row pointers */
  uint32_t element_offset;/* of the element area from the array header, a multiple of 8 */
} mda_ArrayHeader;

TESMAR_STATIC_ASSERT(sizeof(mda_EntityEntry) == 24, "mda_EntityEntry layout");
TESMAR_STATIC_ASSERT(offsetof(mda_EntityEntry, dloc) == 8, "mda_EntityEntry.dloc");
TESMAR_STATIC_ASSERT(offsetof(mda_EntityEntry, tf) == 16, "mda_EntityEntry.tf");
TESMAR_STATIC_ASSERT(offsetof(mda_EntityEntry, status) == 20, "mda_EntityEntry.status");
TESMAR_STATIC_ASSERT(sizeof(mda_EntityHeader) == 24, "mda_EntityHeader layout");
TESMAR_STATIC_ASSERT(offsetof(mda_EntityHeader, ptr) == 8, "mda_EntityHeader.ptr");
TESMAR_STATIC_ASSERT(offsetof(mda_EntityHeader, orig_ptr) == 16, "mda_EntityHeader.orig_ptr");
TESMAR_STATIC_ASSERT(sizeof(mda_CacheEntry) == 16, "mda_CacheEntry layout");
TESMAR_STATIC_ASSERT(offsetof(mda_CacheEntry, next) == 10, "mda_CacheEntry.next");
TESMAR_STATIC_ASSERT(sizeof(mda_PtrTable) == 40, "mda_PtrTable layout");
TESMAR_STATIC_ASSERT(offsetof(mda_PtrTable, capacity) == 8, "mda_PtrTable.capacity");
TESMAR_STATIC_ASSERT(offsetof(mda_PtrTable, record_size) == 20, "mda_PtrTable.record_size");
TESMAR_STATIC_ASSERT(offsetof(mda_PtrTable, model) == 28, "mda_PtrTable.model");
TESMAR_STATIC_ASSERT(offsetof(mda_PtrTable, pages) == 32, "mda_PtrTable.pages");
TESMAR_STATIC_ASSERT(sizeof(mda_BackPtrRec) == 16, "mda_BackPtrRec layout");
TESMAR_STATIC_ASSERT(offsetof(mda_BackPtrRec, kind) == 8, "mda_BackPtrRec.kind");
TESMAR_STATIC_ASSERT(sizeof(mda_TypeLink) == 24, "mda_TypeLink layout");
TESMAR_STATIC_ASSERT(offsetof(mda_TypeLink, list) == 16, "mda_TypeLink.list");
TESMAR_STATIC_ASSERT(sizeof(mda_TypeLists) == 56, "mda_TypeLists layout");
TESMAR_STATIC_ASSERT(offsetof(mda_TypeLists, count) == 40, "mda_TypeLists.count");
TESMAR_STATIC_ASSERT(offsetof(mda_TypeLists, tf_count) == 48, "mda_TypeLists.tf_count");
TESMAR_STATIC_ASSERT(sizeof(mda_ModelDef) == 496, "mda_ModelDef layout");
TESMAR_STATIC_ASSERT(offsetof(mda_ModelDef, schema) == 192, "mda_ModelDef.schema");
TESMAR_STATIC_ASSERT(offsetof(mda_ModelDef, db_name) == 200, "mda_ModelDef.db_name");
TESMAR_STATIC_ASSERT(offsetof(mda_ModelDef, back_ptrs) == 392, "mda_ModelDef.back_ptrs");
TESMAR_STATIC_ASSERT(offsetof(mda_ModelDef, statistics) == 393, "mda_ModelDef.statistics");
TESMAR_STATIC_ASSERT(offsetof(mda_ModelDef, buffer_count) == 396, "mda_ModelDef.buffer_count");
TESMAR_STATIC_ASSERT(offsetof(mda_ModelDef, page_size) == 400, "mda_ModelDef.page_size");
TESMAR_STATIC_ASSERT(offsetof(mda_ModelDef, db_version) == 404, "mda_ModelDef.db_version");
TESMAR_STATIC_ASSERT(offsetof(mda_ModelDef, user_data) == 408, "mda_ModelDef.user_data");
TESMAR_STATIC_ASSERT(offsetof(mda_ModelDef, slot_a) == 416, "mda_ModelDef.slot_a");
TESMAR_STATIC_ASSERT(offsetof(mda_ModelDef, slot_b) == 424, "mda_ModelDef.slot_b");
TESMAR_STATIC_ASSERT(offsetof(mda_ModelDef, allocate_hook) == 432, "mda_ModelDef.allocate_hook");
TESMAR_STATIC_ASSERT(offsetof(mda_ModelDef, restore_begin_hook) == 440, "mda_ModelDef hooks");
TESMAR_STATIC_ASSERT(offsetof(mda_ModelDef, restore_end_hook) == 448, "mda_ModelDef hooks");
TESMAR_STATIC_ASSERT(offsetof(mda_ModelDef, free_hook) == 456, "mda_ModelDef.free_hook");
TESMAR_STATIC_ASSERT(offsetof(mda_ModelDef, current_hook) == 464, "mda_ModelDef.current_hook");
TESMAR_STATIC_ASSERT(offsetof(mda_ModelDef, slot_c) == 472, "mda_ModelDef.slot_c");
TESMAR_STATIC_ASSERT(offsetof(mda_ModelDef, entity_count) == 480, "mda_ModelDef.entity_count");
TESMAR_STATIC_ASSERT(offsetof(mda_ModelDef, type_lists) == 488, "mda_ModelDef.type_lists");
TESMAR_STATIC_ASSERT(sizeof(mda_ModelParam) == 40, "mda_ModelParam layout");
TESMAR_STATIC_ASSERT(sizeof(mda_CallbackNode) == 16, "mda_CallbackNode layout");
TESMAR_STATIC_ASSERT(offsetof(struct mda_ModelRec, back_ptr_table) == 208, "mda_ModelRec layout");
TESMAR_STATIC_ASSERT(offsetof(struct mda_ModelRec, pages) == 232, "mda_ModelRec.pages");
TESMAR_STATIC_ASSERT(offsetof(struct mda_ModelRec, cache) == 264, "mda_ModelRec.cache");
TESMAR_STATIC_ASSERT(offsetof(struct mda_ModelRec, lru) == 276, "mda_ModelRec.lru");
TESMAR_STATIC_ASSERT(offsetof(struct mda_ModelRec, free_head) == 280, "mda_ModelRec.free_head");
TESMAR_STATIC_ASSERT(offsetof(struct mda_ModelRec, options) == 312, "mda_ModelRec.options");
TESMAR_STATIC_ASSERT(offsetof(struct mda_ModelRec, default_param) == 320, "mda_ModelRec params");
TESMAR_STATIC_ASSERT(offsetof(struct mda_ModelRec, callbacks) == 400, "mda_ModelRec.callbacks");
TESMAR_STATIC_ASSERT(sizeof(struct mda_ModelRec) == 432, "mda_ModelRec layout");
TESMAR_STATIC_ASSERT(sizeof(MBlock) == MDA_MBLOCK_HEADER_SIZE, "MBlock layout");
TESMAR_STATIC_ASSERT(offsetof(MBlock, reference) == 8, "MBlock.reference");
TESMAR_STATIC_ASSERT(offsetof(MBlock, slot_block) == 16, "MBlock.slot_block");
TESMAR_STATIC_ASSERT(offsetof(MBlock, next) == 24, "MBlock.next");
TESMAR_STATIC_ASSERT(offsetof(MBlock, marker) == 32, "MBlock.marker");
TESMAR_STATIC_ASSERT(offsetof(MBlock, type) == 36, "MBlock.type");
TESMAR_STATIC_ASSERT(offsetof(MBlock, flags) == 37, "MBlock.flags");
TESMAR_STATIC_ASSERT(sizeof(mda_ArrayHeader) == MDA_ARRAY_HEADER_SIZE, "mda_ArrayHeader layout");
TESMAR_STATIC_ASSERT(offsetof(mda_ArrayHeader, ndims) == 8, "mda_ArrayHeader.ndims");
TESMAR_STATIC_ASSERT(offsetof(mda_ArrayHeader, dims) == 12, "mda_ArrayHeader.dims");
TESMAR_STATIC_ASSERT(offsetof(mda_ArrayHeader, element_size) == 32, "mda_ArrayHeader.element_size");
TESMAR_STATIC_ASSERT(offsetof(mda_ArrayHeader, row_count) == 40, "mda_ArrayHeader.row_count");
TESMAR_STATIC_ASSERT(offsetof(mda_ArrayHeader, element_offset) == 44, "mda_ArrayHeader offset");

/* ---- State (process-wide) ---- */
TESMAR_API extern int32_t mda_current_model;            /* 0: none */
TESMAR_API extern mda_ModelRec *mda_current_model_rec;  /* its record, or null */
TESMAR_API extern FILE *mda_DbgStream;                  /* debugging output; standard output */
TESMAR_API extern mda_PtrTable *mda_copy_table;         /* source handle -> copy; null */

/* ---- Life cycle ---- */

/* Registers the MDA message table; clears the model table; no current model; mda_DbgStream becomes
 * standard output; creates the registry of entity-keyed tables. Called by tmx_Initialize. */
TESMAR_API mpm_Status mda_Initialize(uint32_t options);

/* Frees every model in use, in ascending number (mda_FreeModel); the first failure stops the sweep
 * and is returned. Then drops the table registry. Called by tmx_Terminate. */
TESMAR_API mpm_Status mda_Terminate(uint32_t options);

/* ---- Models ---- */

/* Defaults: empty name, no schema, flags 0, 16 buffers of 4096 bytes, null pointers and hooks.
 * MDA_NULL_MEMPTR for a null definition. */
TESMAR_API mpm_Status mda_InitModelDef(uint32_t options, mda_ModelDef *def);

/* Allocates a model in the lowest free slot and stores its number in *model.
 *   options: MDA_KEEP_CURRENT, MDA_MEMORY_ONLY, MDA_NO_DELAYED_WRITE.
 * The model gets an entity table, its per-type lists, a back-pointer table when def->back_ptrs is
 * set, and (unless memory-only) a cache of 32 entries and a temporary paged file with def's buffer
 * count and page size. Entity 0 is reserved. The model becomes current (its current hook is
 * called), then its allocate hook is called; with MDA_KEEP_CURRENT the model current before is
 * made current again. On failure nothing is left behind and the current model is unchanged.
 * Statuses: MDA_NULL_MEMPTR, MDA_NO_DDF (no schema), MDA_NO_MORE_MODEL, MDA_MALLOC_ERR, and the
 * statuses of the tree and paged-file modules. */
TESMAR_API mpm_Status mda_AllocateModel(uint32_t options, const mda_ModelDef *def, int32_t *model);

/* Releases a model: calls its free hook, frees its back pointers, callbacks, every entity's memory
 * (parked images of a memory-only model included), its tables, parameters and lists, and closes
 * (deletes) its paged file. A current model leaves no model current. MDA_INVALID_MODEL when the
 * model is not in use; a paged-file failure is returned after everything else is released. */
TESMAR_API mpm_Status mda_FreeModel(uint32_t options, int32_t model);

/* Drops every entity of a model and keeps the model, its settings, hooks, parameters and callbacks:
 * new empty entity table, lists, cache and back-pointer table (when it had one), a new empty paged
 * file, entity 0 reserved again. The new structures are built first: on failure the model is left
 * as it was. MDA_INVALID_MODEL, MDA_MALLOC_ERR, paged-file statuses. */
TESMAR_API mpm_Status mda_ClearModel(uint32_t options, int32_t model);

/* Fills name, schema, db_name, db_version (version * 100 + release), user_data, entity_count,
 * type_lists and back_ptrs of *info; other fields are left alone. MDA_INVALID_MODEL,
 * MDA_NULL_MEMPTR. */
TESMAR_API mpm_Status mda_GetModelInfo(int32_t model, mda_ModelDef *info);

/* The first model in use, from 1 upward, whose name equals `name` exactly; 0 when none. */
TESMAR_API int32_t mda_GetModelNumber(const char *name);

/* The first model in use, from 1 upward, bound to `schema`, in *model; 0 when none. */
TESMAR_API mpm_Status mda_FindModelByDDF(uint32_t options, const ddf_Schema *schema,
                                         int32_t *model);

/* Makes a model current: sets mda_current_model and mda_current_model_rec, moves ddf_current to
 * ddf_saved and makes the model's schema ddf_current (resetting its TF lookup cache), then calls
 * the model's current hook with (model, argument). The current model again: nothing. Model 0: no
 * model is current (the schema globals stay). MDA_INVALID_MODEL for a model not in use. */
TESMAR_API mpm_Status mda_SetCurrentModel(int32_t model, uint64_t argument);

/* ---- Named parameters ---- */

/* The value of a model's parameter; a name never set gives the model's default value
 * (2.220446049250313e-16). A model not in use issues MDA_INVALID_MODEL and gives 0. Names are
 * compared on their first 31 bytes. */
TESMAR_API double mda_GetModelParam(int32_t model, const char *name);

/* Sets a parameter (name cut to 31 bytes) and returns the stored element; null after a failure
 * (MDA_INVALID_MODEL, MDA_NULL_MEMPTR for a null name, the tree's status). */
TESMAR_API mda_ModelParam *mda_SetModelParam(int32_t model, const char *name, double value);

/* ---- Entity numbers and handles ---- */

/* Issues a new entity number of a model (the number freed last, else the next one) and marks its
 * entry reserved: no memory, dloc MDA_NO_DLOC (0 in a memory-only model), tf TF_NONE, status
 * exactly MDA_ENTRY_RESERVED. MDA_INVALID_MODEL, MDA_NULL_MEMPTR, MDA_MALLOC_ERR, MDA_REALLOC_ERR,
 * MDA_NO_MORE_PTR. */
TESMAR_API mpm_Status mda_ReserveDbPtr(uint32_t options, int32_t model, db_ptr *ptr);

/* 1 when the handle is not null, its model is in use, its number has been issued and its entry is
 * neither deleted nor reserved; else 0. Issues nothing. */
TESMAR_API int32_t mda_IsValidPtr(db_ptr ptr);

/* 1 when the handle's entry is deleted; 0 otherwise, also for models not in use and numbers never
 * issued. Issues nothing. */
TESMAR_API int32_t mda_IsDeleted(db_ptr ptr);

/* 1 when the entity is in memory (its entry has memory); 0 otherwise, also for handles that name
 * no issued number. Issues nothing. */
TESMAR_API int32_t mda_IsInMemory(uint32_t options, db_ptr ptr);

/* The entity's type (high half of its TF) and form (low half, sign-extended). The null handle
 * gives 16000 and 16000. MDA_INVALID_PTR for a handle that fails mda_IsValidPtr. */
TESMAR_API mpm_Status mda_GetPtrTF(db_ptr ptr, int32_t *type, int32_t *form);

/* Orders two handles (given by address) as unsigned 64-bit numbers: -1, 0 or 1. Usable as the
 * compare function of trees keyed by handle. */
TESMAR_API int mda_ComparePtrs(const void *a, const void *b);

/* The entity's TF (TF_NONE for the null handle) and, for each non-null out, a new copy (free() it)
 * of its entity name and description from the model's schema, or null when the schema has none.
 * MDA_INVALID_PTR, MDA_MALLOC_ERR. */
TESMAR_API mpm_Status mda_GetEntityInfo(uint32_t options, db_ptr ptr, uint32_t *tf, char **name,
                                        char **description);

/* ---- Per-type entity lists ---- */

/* Makes the handle the newest entry of type form index tfi's list. A handle already listed (in any
 * type's list) issues MDA_DUPLICATE_ENTLIST_ENTRY and is not added. MDA_NULL_MEMPTR,
 * MDA_INVALID_ARG (tfi out of range), MDA_INVALID_PTR (a handle of another model, never issued). */
TESMAR_API mpm_Status mda_AddToTypeList(mda_TypeLists *lists, int32_t tfi, db_ptr ptr);

/* Unlinks the handle from the list (a cursor on it moves to the next newer entry). A handle that is
 * not in this list leaves the list alone (status 0). */
TESMAR_API mpm_Status mda_RemoveFromTypeList(mda_TypeLists *lists, int32_t tfi, db_ptr ptr);

/* The cursor's entity in *ptr; the cursor moves to the next newer one. An empty cursor gives the
 * quiet MDA_END_OF_LIST and the null handle. */
TESMAR_API mpm_Status mda_NextOfType(mda_TypeLists *lists, int32_t tfi, db_ptr *ptr);

/* ---- Memory blocks ----
 * `owner` is the data address of an entity's first block (its memory), or null for an independent
 * block; `slot` is the address of the pointer variable or field that receives the new data address
 * (it should lie in a block of the owner's chain, so that the chain can be relocated). */

/* A zero-filled plain block of `size` bytes inserted after the owner's first block; without owner
 * an independent block. MDA_MALLOC_ERR (also when the size overflows), MDA_NULL_MEMPTR (no slot),
 * MDA_BAD_MBLOCK (the owner is not a block). */
TESMAR_API mpm_Status mda_Malloc(uint32_t options, void *owner, uint32_t size, void *slot);

/* An array of `ndims` dimensions (int arguments) of `element_size` bytes: one dimension is a plain
 * block of element_size * d0 bytes, more are mda_AllocateArray. */
TESMAR_API mpm_Status mda_MallocArray(uint32_t options, void *owner, uint32_t element_size,
                                      void *slot, int32_t ndims, ...);

/* An array block of 2 to 5 dimensions (int arguments, outermost first), elements zero-filled; the
 * slot receives the address of the first row-pointer table. A first dimension of 0, or a single
 * dimension, issues MDA_ZERO_DIM; a negative dimension or ndims outside 1..5 MDA_INVALID_ARG; sizes
 * beyond 32 bits MDA_MALLOC_ERR. */
TESMAR_API mpm_Status mda_AllocateArray(uint32_t options, void *owner, uint32_t element_size,
                                        void *slot, int32_t ndims, ...);

/* Moves a plain block's data to a new block of `size` bytes (the smaller of the two sizes copied),
 * keeping its place in the owner's chain; references into the old block move with the data, and
 * blocks whose slots lay beyond the new size are freed. The slot receives the new address (and so
 * does the slot that chains the block). MDA_BAD_MBLOCK (not a plain block of the owner's chain),
 * MDA_MALLOC_ERR. */
TESMAR_API mpm_Status mda_Realloc(uint32_t options, void *owner, void *data, uint32_t size,
                                  void *slot);

/* Gives an array new dimensions. MDA_REALLOC_FRESH: the old array is dropped and a fresh one made;
 * otherwise every element whose index lies within both the old and the new dimensions is copied,
 * and references into copied elements move with them (blocks whose slots lay in dropped elements
 * are freed). A null array allocates. Dimensions as for mda_MallocArray. */
TESMAR_API mpm_Status mda_ReallocArray(uint32_t options, void *owner, void *array,
                                       uint32_t element_size, void *slot, int32_t ndims, ...);

/* Attaches an independent block (MDA_ADD_ARRAY: an array block) to the owner's chain, after its
 * first block; the slot receives the data address. MDA_BAD_MBLOCK (no block there),
 * MDA_NOT_IND_MBLOCK (the block is already in a chain, or has a chain of its own). */
TESMAR_API mpm_Status mda_AddMemory(uint32_t options, void *owner, void *data, void *slot);

/* With an owner: unlinks the block from the owner's chain and, unless MDA_FREE_UNLINK, frees it
 * together with every block whose slot lies in it; a block not in the chain is left alone. Without
 * owner: frees an independent block (not with MDA_FREE_UNLINK). MDA_FREE_ARRAY: the address is an
 * array's. MDA_NULL_MEMPTR, MDA_BAD_MBLOCK (no block there). */
TESMAR_API mpm_Status mda_Free(uint32_t options, void *owner, void *data);

/* Frees every block after the owner's first and clears the first block's links. Returns 0;
 * MDA_NULL_MEMPTR, MDA_BAD_MBLOCK (the owner is not the first block of a chain). */
TESMAR_API mpm_Status mda_FreeAttached(uint32_t options, void *owner);

/* Frees a whole chain. MDA_NULL_MEMPTR, MDA_BAD_MBLOCK. */
TESMAR_API mpm_Status mda_FreeEntityMemory(uint32_t options, void *memory);

/* Copies a chain: new blocks in the same order, references and slots pointing to the copies, array
 * row pointers moved; an entity header (first block of 24 bytes or more) gets the handle
 * (model, 0) and keeps its orig_ptr. *copy is null after a failure. MDA_BAD_MBLOCK (a reference
 * that lies in no block of the chain), MDA_MALLOC_ERR, MDA_NULL_MEMPTR. */
TESMAR_API mpm_Status mda_DuplicateMemory(uint32_t options, int32_t model, void *memory,
                                          void **copy);

/* Usable bytes of a block: MDA_SIZE_PLAIN a plain block's data, otherwise an array block's element
 * area. A null address gives 0. MDA_BAD_MBLOCK when no such block is there. */
TESMAR_API mpm_Status mda_GetMemorySize(uint32_t options, const void *data, uint32_t *size);

/* The dimensions of an array field (an fstring's length not counted) evaluated over ddf_registers;
 * for an UNSIZED field the first dimension comes from the size of the block at `array` (0 without
 * one; the kind of block is read from the block). A zero divisor gives 0. MDA_NULL_MEMPTR,
 * MDA_BAD_MBLOCK. */
TESMAR_API mpm_Status mda_GetArrayDims(const ddf_FieldDesc *desc, const void *array,
                                       int32_t dims[MDA_MAX_DIMS], int32_t *count);

/* ---- Entity-keyed tables ---- */

/* A table of `record_size`-byte records (zero until set) keyed by the entity numbers of `model`,
 * registered so that deleting an entity clears its records. MDA_INVALID_MODEL, MDA_INVALID_ARG
 * (record size 0 or above 2^20), MDA_MALLOC_ERR. */
TESMAR_API mpm_Status mda_CreatePtrTable(uint32_t flags, uint32_t record_size, int32_t model,
                                         mda_PtrTable **table);

/* Copies the handle's record out (zeros when never set). MDA_NULL_MEMPTR, MDA_INVALID_PTR (another
 * model, a model not in use, a number never issued). */
TESMAR_API mpm_Status mda_GetPtrTableEntry(mda_PtrTable *table, db_ptr ptr, void *record);

/* Copies the record in; the null handle is ignored. Statuses as above, MDA_MALLOC_ERR,
 * MDA_REALLOC_ERR, MDA_NO_MORE_PTR. */
TESMAR_API mpm_Status mda_SetPtrTableEntry(mda_PtrTable *table, db_ptr ptr, const void *record);

/* Frees a table and takes it out of the registry. MDA_NULL_MEMPTR. */
TESMAR_API mpm_Status mda_FreePtrTable(mda_PtrTable *table);

/* ---- Pointer fields and back pointers ---- */

/* Stores `child` in *slot (when slot is given) and, when the child's model keeps back pointers and
 * neither handle is null, adds `parent` to the child's parents (creating the model's back-pointer
 * table when it has none). MDA_INVALID_PTR (the child's model is not in use, or it keeps back
 * pointers and the child's number was never issued; nothing is stored), MDA_PAR_LIST_ERR,
 * MDA_MALLOC_ERR. */
TESMAR_API mpm_Status mda_AddPtr(db_ptr parent, db_ptr child, db_ptr *slot);

/* Removes one occurrence of `parent` from the child's parents. Nothing to do for a null handle or
 * a model without back pointers. MDA_NO_BACKPTRS, MDA_PAR_NOT_FOUND, MDA_PAR_LIST_ERR,
 * MDA_INVALID_PTR. The caller clears the slot itself. */
TESMAR_API mpm_Status mda_DeletePtr(db_ptr parent, db_ptr child);

/* Re-points a pointer field: mda_DeletePtr(parent, *slot), then mda_AddPtr(parent, child, slot). */
TESMAR_API mpm_Status mda_ModifyPtr(db_ptr parent, db_ptr child, db_ptr *slot);

/* Frees every parent list of the model, then its back-pointer table (the model's back-pointer flag
 * stays). MDA_INVALID_MODEL. */
TESMAR_API mpm_Status mda_FreeBackPtrs(uint32_t options, int32_t model);

/* ---- Parents ---- */

/* The number of parents of an entity (0 without back pointers). MDA_INVALID_PTR,
 * MDA_NULL_MEMPTR. */
TESMAR_API mpm_Status mda_GetNumParents(uint32_t options, db_ptr ptr, int32_t *count);

/* A new array (free() it) of the entity's parents in the order they were added, one per pointer;
 * none gives 0 and null. */
TESMAR_API mpm_Status mda_GetParents(uint32_t options, db_ptr ptr, int32_t *count,
                                     db_ptr **parents);

/* The parents whose entity has type form `tf`, in the same order; `parents` may be null to count
 * only. */
TESMAR_API mpm_Status mda_GetParentsOfType(uint32_t options, db_ptr ptr, uint32_t tf,
                                           int32_t *count, db_ptr **parents);

/* The first parent with type form `tf`, or 0 (also after a failure, which is issued). */
TESMAR_API db_ptr mda_GetParentOfType(uint32_t tf, db_ptr ptr);

/* The parents `level` levels up, climbing through the first parent of each level: level 1 is the
 * entity's parents. A level without parents, or the null handle, gives 0 and null.
 * MDA_INVALID_ARG for a level below 1. */
TESMAR_API mpm_Status mda_GetNthlevelParents(uint32_t options, db_ptr ptr, int32_t level,
                                             int32_t *count, db_ptr **parents);

/* Depth-first over parents (each entity visited once): at each entity the first parent with type
 * form `tf`, else the search goes on through its parents in order. 0 when none. */
TESMAR_API mpm_Status mda_FindAncestorOfType(uint32_t options, db_ptr ptr, uint32_t tf,
                                             db_ptr *ancestor);

/* The nearest ancestors of type form `tf`: an entity's parents of that type form, or when it has
 * none, those found the same way through each of its parents. Each entity is visited once and each
 * ancestor listed once. A new array (free() it); none gives 0 and null. */
TESMAR_API mpm_Status mda_FindAncestorsOfType(uint32_t options, db_ptr ptr, uint32_t tf,
                                              int32_t *count, db_ptr **ancestors);

/* ---- Traversal ----
 * A walk visits an entity's fields in the order of its type form's descriptors, over the field area
 * that follows the 24-byte header, and calls a callback per field with its element count, its kind
 * (DDF_SHORT ... DDF_ENDENT; a union is reported as DDF_UNIONKIND, its end as DDF_ENDUNION), the
 * address of its first element and its descriptor. Counts come from count fields walked earlier
 * (each count is stored in its register), let fields are computed and stored without a callback,
 * fields held in memory blocks are followed into their blocks, structures are bracketed per element
 * (DDF_STRUCT with count 1 and the element, the members, DDF_ENDSTRUCT with count 0), a union walks
 * the member its 16-bit selector names, and a subentity is walked with its own type form after its
 * DDF_SUBENT call. The walk ends with a DDF_ENDENT call (count 0, no address or descriptor).
 * For the walk, the schema of the entity's model is ddf_current (TF lookup cache reset) and
 * ddf_registers points at the walk's own 64 registers; both, and mda_TraverseFieldAddress, are
 * restored afterwards, so a callback may walk another entity. The walk allocates nothing itself.
 * Statuses of both engines: MDA_NULL_MEMPTR (no entity or callback), MDA_INVALID_MODEL (the
 * entity's handle names no model in use), MDA_BAD_MBLOCK (the entity or a field's block is not a
 * memory block), MDA_INVALID_ARG (a type form the schema does not hold, an entity block smaller
 * than its type, a descriptor outside the schema's, a union selector that names no member,
 * structures nested more than 32 deep or subentities more than 64), MDA_ARRAY_MISMATCH (a block whose kind, dimensions or
 * element size differ from the field's, or whose elements are fewer than the counts call for), and
 * the statuses of the memory-block operations in allocating mode. A field whose block pointer is
 * null has 0 elements, whatever its dimensions say. */

/* First engine's callback: entity memory, element count, kind, first element (null for bracketing
 * calls and empty arrays), descriptor (null for the closing calls of structure elements and of the
 * type form). MDA_TRAVERSE_STOP ends the walk; MDA_TRAVERSE_SKIP answered to a DDF_SUBENT call
 * skips the subentity; any other answer lets the walk go on. */
typedef mpm_Status (*mda_TraverseCallback)(void *entity, int32_t count, int32_t type,
                                           void *address, const ddf_FieldDesc *desc);
/* Second engine's callback: the same, plus the operation's status variable (0 at the start), the
 * registers of the walk the field belongs to, and the caller's data. Any nonzero answer ends the
 * walk. */
typedef mpm_Status (*mda_TraverseCallback2)(void *entity, int32_t count, int32_t type,
                                            void *address, const ddf_FieldDesc *desc,
                                            mpm_Status *status, int32_t *registers, void *user);
/* Visitor of mda_TraverseModel: nonzero ends the visit. */
typedef int32_t (*mda_ModelVisitor)(db_ptr ptr);

/* Options of the first engine; any of them makes the walk allocating: a field held in a memory
 * block gets a block of the size its counts call for before its callback. */
#define MDA_TRAVERSE_ALLOCATE 0x1u /* give block fields their blocks (an old block is freed) */
#define MDA_TRAVERSE_FREE     0x2u /* also free the block of a field whose count is 0 */
#define MDA_TRAVERSE_RESIZE   0x4u /* resize an existing block, keeping its contents */
/* mda_TraverseModel: visit from the highest entity number down. */
#define MDA_TRAVERSE_DESCENDING 0x1u

/* During a walk of the first engine: the address of the field being visited when it is held in a
 * memory block, or of the structure being walked, so that a callback can give that field its block
 * itself (mda_Malloc with this as the slot). Restored when the walk returns. */
TESMAR_API extern void *mda_TraverseFieldAddress;

/* Walks an entity (its memory, header first) with the first engine. In allocating mode (options
 * above) block fields that are not UNSIZED get blocks for their counts: a count below 1 keeps the
 * field as it is, or with MDA_TRAVERSE_FREE frees its block and nulls the pointer; otherwise
 * MDA_TRAVERSE_RESIZE resizes an existing block and every other case frees the old block and gives
 * a new zero-filled one. Returns 0, MDA_TRAVERSE_STOP when the callback stopped the walk, or a
 * failure (above), which ends the walk where it happened. */
TESMAR_API mpm_Status mda_TraverseEntity(uint32_t options, void *entity,
                                         mda_TraverseCallback callback);

/* The first engine from descriptor `first` (a descriptor of the schema of the entity's model) over
 * the fields at `field`, with fresh registers, up to the end of first's type form. Returns as
 * mda_TraverseEntity; MDA_NULL_MEMPTR without a field or a first descriptor, MDA_INVALID_ARG for a
 * field address outside the entity's first block. */
TESMAR_API mpm_Status mda__TraverseEntity(uint32_t options, void *entity, void *field,
                                          const ddf_FieldDesc *first,
                                          mda_TraverseCallback callback);

/* Walks an entity with the second engine: read-only, the same calls as the first engine's walk
 * without options, and the extra callback arguments. Returns the status variable when the walk
 * ends normally or the callback answered MDA_TRAVERSE_STOP; any other nonzero answer, and any
 * failure, is returned as it is. */
TESMAR_API mpm_Status mda_TraverseEntity2(uint32_t options, void *entity,
                                          mda_TraverseCallback2 callback, void *user);

/* The second engine from *cursor (a descriptor of the schema of the entity's model) over the fields
 * at `field`, with fresh registers, until the first descriptor of kind `end_code` (DDF_ENDSTRUCT
 * or DDF_ENDENT) at the cursor's level; a DDF_ENDENT end is reported to the callback. *cursor is
 * left on the end descriptor. `status` (may be null) is handed to the callback. Returns 0, the
 * callback's nonzero answer, or a failure. */
TESMAR_API mpm_Status mda__TraverseEntity2(uint32_t options, void *entity, void *field,
                                           const ddf_FieldDesc **cursor,
                                           mda_TraverseCallback2 callback, mpm_Status *status,
                                           int32_t end_code, void *user);

/* Calls the visitor with the handle of every entity of the model that is neither deleted nor
 * reserved, in increasing entity number (MDA_TRAVERSE_DESCENDING: decreasing). Reads the entity
 * table only: nothing is locked or loaded. Entities the visitor creates are visited when their
 * numbers are still ahead. Returns 0, MDA_TRAVERSE_STOP after a nonzero answer, MDA_INVALID_MODEL,
 * MDA_NULL_MEMPTR. */
TESMAR_API mpm_Status mda_TraverseModel(uint32_t options, int32_t model, mda_ModelVisitor visitor);

/* First-engine callback that prints every element of a value field on mda_DbgStream, one line
 * each: "NAME[i][j] = VALUE" (short, int, count and char in decimal, long likewise, float with 6
 * and double with 15 significant digits, strings as text or "<NULL>", handles as
 * "#model:entity (0xhex)" or "NULL"). Other calls are ignored. Returns 0. */
TESMAR_API mpm_Status mda_DumpFieldCallback(void *entity, int32_t count, int32_t type,
                                            void *address, const ddf_FieldDesc *desc);

/* First-engine callback that stores every element's schema default (ddf_GetFieldDefault) and sets
 * a union's selector to 0 (its first member). Other calls are ignored. Returns 0. */
TESMAR_API mpm_Status mda_DefaultFieldCallback(void *entity, int32_t count, int32_t type,
                                               void *address, const ddf_FieldDesc *desc);

/* Fills an entity's fields with their defaults: mda_TraverseEntity with MDA_TRAVERSE_ALLOCATE and
 * mda_DefaultFieldCallback (block fields with literal dimensions get their blocks). */
TESMAR_API mpm_Status mda_SetFieldDefaults(uint32_t options, void *memory);

/* Gives `text` its own plain block in the entity's chain (length + 1 bytes), copies it with its
 * terminator and stores the block's address in `slot` (a field of the entity). A block of the
 * entity's chain that the slot held before is freed afterwards (the text may lie in it).
 * MDA_NULL_MEMPTR, MDA_BAD_MBLOCK (memory is no entity), MDA_MALLOC_ERR. */
TESMAR_API mpm_Status mda_SetString(uint32_t options, void *memory, const char *text, void *slot);

/* ---- Walks over pointer fields ----
 * These lock the entities they walk (loading them when needed) and visit every non-null handle in
 * a ptr field, in structures, the selected union members and subentities too. A handle whose number
 * is deleted, never issued or in a model not in use names no entity: it gets no back pointer and
 * none is removed for it. */

/* Records the entity as a parent of each entity its pointer fields hold (mda_AddPtr without slot),
 * when its type form holds pointers (ent_info). Stops at the first failure. MDA_INVALID_PTR, the
 * statuses of mda_AddPtr and of locking. */
TESMAR_API mpm_Status mda_AddChildBackPtrs(uint32_t options, db_ptr ptr);

/* Removes the entity from the parents of each entity its pointer fields hold (mda_DeletePtr), when
 * its model has a back-pointer table and its type form holds pointers. Stops at the first failure
 * (MDA_PAR_NOT_FOUND for a child that does not list it). MDA_INVALID_PTR. */
TESMAR_API mpm_Status mda_DeleteChildBackPtrs(uint32_t options, db_ptr ptr);

/* Rebuilds back pointers from the pointer fields: for the model (MDA_ALL_MODELS: every model in
 * use) the back-pointer table is released, made anew and the model keeps back pointers from now on;
 * then every live entity whose type form holds pointers gets mda_AddChildBackPtrs. Parents are
 * listed once per pointer, as mda_AddPtr lists them. MDA_INVALID_MODEL, MDA_MALLOC_ERR. */
TESMAR_API mpm_Status mda_SetBackPtrs(uint32_t options, int32_t model);

/* For each of `count` parents: locks it, re-points the first pointer (in walk order) that holds
 * `old_child` to `new_child` with mda_ModifyPtr and unlocks it, marked modified when it changed. A
 * parent that cannot be locked is skipped (its failure issued); when no failure occurred but some
 * parent held no such pointer, MDA_CHILD_NOT_FOUND is issued after all parents are done. Returns
 * the first failure, MDA_CHILD_NOT_FOUND or 0. MDA_INVALID_ARG (count below 0), MDA_NULL_MEMPTR. */
TESMAR_API mpm_Status mda_ModifyChildPtrs(uint32_t options, int32_t count, const db_ptr *parents,
                                          db_ptr old_child, db_ptr new_child);

/* Moves the entity of `old_ptr` to the number of `new_ptr`, a number of the same model reserved
 * with mda_ReserveDbPtr (not 0). In a model with back pointers its children list the new handle
 * instead of the old one (a pointer to itself follows it); its header takes the new handle (and
 * the new orig handle when the orig was the old one); it is unlocked marked modified, moves to the
 * new handle in its type's list, the MDA_CALLBACK_DELETED callbacks get the pair {old, new}, the
 * new entry takes the old one's contents (the cache follows) and the old number is freed as after
 * a deletion (its records in the model's tables cleared). Entities that point to the old handle are
 * not changed. MDA_MODELS_DIFFER, MDA_ENTITY_NOT_DELETED (the new number is live or deleted),
 * MDA_INVALID_PTR (old not live or locked, new never issued or 0). `argument` is not used. */
TESMAR_API mpm_Status mda_ReplaceDbPtr(uint32_t options, db_ptr old_ptr, db_ptr new_ptr,
                                       uint64_t argument);

/* ---- Containers and entity memory ---- */

/* Copies a list's (tree's) records, in order, into one new plain block of count * record size bytes
 * in the owner's chain (independent without owner); *count receives their number. An empty
 * container gives 0 and a null slot. MDA_ARRAY_BACKPTRS: the records are handles, and the owner
 * entity (the handle in its header) is recorded as a parent of each that names a live or reserved
 * entity (the owner's other pointer fields are left alone, so nothing is recorded twice); it needs
 * an owner (MDA_NULL_MEMPTR) and 8-byte records (MDA_INVALID_ARG). */
#define MDA_ARRAY_BACKPTRS 0x2u
TESMAR_API mpm_Status mda_ListToArray(uint32_t options, void *owner, olm_List *list,
                                      int32_t *count, void *slot);
TESMAR_API mpm_Status mda_TreeToArray(uint32_t options, void *owner, otm_Tree *tree,
                                      int32_t *count, void *slot);

/* Appends `count` records of the container's record size to the end of a list, or inserts them into
 * a tree. The container's status is returned on failure. */
TESMAR_API mpm_Status mda_ArrayToList(uint32_t options, olm_List *list, int32_t count,
                                      const void *array);
TESMAR_API mpm_Status mda_ArrayToTree(uint32_t options, otm_Tree *tree, int32_t count,
                                      const void *array);

/* ---- Entity life cycle ----
 *
 * An entity is created locked (mda_AllocateEntity without MDA_UNLOCKED, mda_CreateEntity with
 * MDA_CREATE_LOCKED) or unlocked. Every access goes through mda_LockEntity, which returns the
 * address of the entity's memory, valid until the matching final mda_UnlockEntity; an entity may be
 * locked up to 255 times at once. At its final unlock an entity of a disk-backed model enters the
 * model's cache of 32 unlocked entities; the cache's least recently unlocked entity then leaves
 * memory, written to the model's paged file first when its image differs from the stored one
 * (delayed write; MDA_NO_DELAYED_WRITE writes at every final unlock instead). Locking brings an
 * entity back from the paged file, checking the stored record first. In a memory-only model
 * entities stay in memory; mda_WriteEntity parks a copy of the image instead of writing it.
 *
 * Callbacks (mda_SetCallback) are called with the kind and the address of the handle: kind
 * MDA_CALLBACK_CREATED when an entity is created (mda_AllocateEntity: at its first final unlock, or
 * at once when it is created unlocked), MDA_CALLBACK_MODIFIED at a final unlock of an entity marked
 * modified, MDA_CALLBACK_DELETED before an entity is deleted. A callback may lock, unlock or delete
 * entities (the entity it is called for included); the operation that called it then stops where
 * that left the entity. */

/* mda_AllocateEntity, mda_MallocEntity. */
#define MDA_UNLOCKED          0x1u /* return the new entity unlocked */
#define MDA_SET_DEFAULTS      0x4u /* fill the fields with their schema defaults */
/* mda_CreateEntity. */
#define MDA_CREATE_LOCKED     0x1u /* the entity stays locked for the caller */
#define MDA_ADD_BACKPTRS      0x2u /* record back pointers for its pointer fields, as
                                       mda_AddChildBackPtrs does */
/* mda_UnlockEntity. */
#define MDA_MODIFIED          0x1u  /* the entity was changed */
#define MDA_INVALIDATE        0x2u  /* drop the memory image (models with MDA_NO_DELAYED_WRITE) */
#define MDA_DELETE            0x4u  /* delete the entity after the final unlock */
#define MDA_FULL_UNLOCK       0x8u  /* undo every lock at once */
#define MDA_CHECK             0x10u /* check the entity's memory chain afterwards */
/* mda_DeleteEntity (and MDA_USE_RESERVED). */
#define MDA_KEEP_MEMORY       0x1u /* the caller keeps the memory */
#define MDA_ALLOW_PARENTS     0x2u /* delete even when other entities point to it */
#define MDA_KEEP_BACKPTRS     0x4u /* leave back pointers alone */
#define MDA_KEEP_PARENT_RECORD 0x8u /* leave the entity's own parent record alone */
/* mda_DeleteEntityTree. */
#define MDA_DELETE_SHARED     0x2u  /* delete even when several entities point to it */
#define MDA_DELETE_ALL        0x10u /* delete every entity it points to, whatever other parents */
/* mda_SetOrigPtr, mda_SetOrigPtrOfEntity. */
#define MDA_ORIG_ALWAYS       0x1u /* set the orig handle even when the entity was copied */
/* mda_CopyEntity. */
#define MDA_COPY_NESTED       0x1u /* a copy made while copying another (keeps the outer map) */
#define MDA_COPY_CREATE       0x2u /* enter the copy in the target model, locked */
/* mda_WriteEntity. */
#define MDA_KEEP_IMAGE        0x1u /* the memory image stays after it is written */
/* Callback kinds. */
#define MDA_CALLBACK_MODIFIED 1
#define MDA_CALLBACK_DELETED  2 /* the handle, followed by the new one when a handle is replaced */
#define MDA_CALLBACK_CREATED  3

/* Creates an entity of type form `tf` in `model`: zero-filled memory of the type's size with its
 * header (tf, TFI, handle, orig handle = handle), entered in the type's list. The handle is stored
 * in *ptr and the memory address in *memory (may be null with MDA_UNLOCKED).
 *   options: MDA_UNLOCKED (created, then unlocked at once: the created callbacks run and the
 *     entity enters the cache), MDA_SET_DEFAULTS (mda_SetFieldDefaults before it is entered),
 *     MDA_USE_RESERVED (*ptr names a number of `model`
 *     reserved with mda_ReserveDbPtr; it must be exactly reserved).
 * Without MDA_UNLOCKED the entity is locked once and new: its created callbacks run at its first
 * final unlock. A type form the schema does not hold returns the quiet MDA_TF_NOT_IN_DDF and
 * issues nothing. On any failure no number is used up and nothing is entered. MDA_INVALID_MODEL,
 * MDA_NULL_MEMPTR, MDA_INVALID_PTR and MDA_PTR_ALREADY_CREATED (a reserved handle that is not
 * one), MDA_MALLOC_ERR, MDA_NO_MORE_PTR. */
TESMAR_API mpm_Status mda_AllocateEntity(uint32_t options, int32_t model, uint32_t tf,
                                         void **memory, db_ptr *ptr);

/* Memory for an entity of type form `tf` of `model` that is not entered in the model: header tf,
 * TFI, handle and orig handle both (model, 0). MDA_SET_DEFAULTS fills the fields with their
 * defaults (mda_SetFieldDefaults). Enter it with mda_CreateEntity, or free it with
 * mda_FreeEntityMemory.
 * MDA_TF_NOT_IN_DDF (quiet), MDA_INVALID_MODEL, MDA_NULL_MEMPTR, MDA_MALLOC_ERR. */
TESMAR_API mpm_Status mda_MallocEntity(uint32_t options, int32_t model, uint32_t tf,
                                       void **memory);

/* Enters prepared memory (from mda_MallocEntity, mda_CopyEntity or mda_DuplicateMemory) in the
 * model its header's handle names, under a new handle stored in *ptr (MDA_USE_RESERVED: under the
 * reserved handle *ptr). The TF is looked up in that model's schema, whose structure for it must
 * have the size the memory was made for. The header's handle becomes the new one, and so does its
 * orig handle when that has entity number 0. The created callbacks run at once.
 *   options: MDA_CREATE_LOCKED (the entity stays locked once), MDA_USE_RESERVED, MDA_ADD_BACKPTRS
 *     (after the callbacks, the entity becomes a parent of each entity its pointer fields hold;
 *     a failure there is returned, the entity being created all the same).
 * Unlocked, the entity enters the cache. MDA_NULL_MEMPTR, MDA_BAD_MBLOCK (not an entity's first
 * block), MDA_NOT_IND_MBLOCK (a block of another chain), MDA_INVALID_MODEL, MDA_TF_NOT_IN_DDF
 * (quiet), MDA_INVALID_ARG (structure size differs), MDA_PTR_ALREADY_CREATED (the memory already
 * belongs to an entity, or the reserved handle is not one), MDA_INVALID_PTR, MDA_MALLOC_ERR,
 * MDA_NO_MORE_PTR. */
TESMAR_API mpm_Status mda_CreateEntity(uint32_t options, void *memory, db_ptr *ptr);

/* Locks an entity and stores its memory address in *memory (may be null): an entity in the cache
 * leaves it, one on disk is loaded (mda_LoadEntity). MDA_INVALID_PTR (*memory null),
 * MDA_TOO_MANY_LOCKS (already locked 255 times), and the load's statuses. */
TESMAR_API mpm_Status mda_LockEntity(uint32_t options, db_ptr ptr, void **memory);

/* Undoes one lock (MDA_FULL_UNLOCK: all of them).
 *   MDA_MODIFIED marks the entity modified (also when it is not locked).
 *   MDA_INVALIDATE (models with MDA_NO_DELAYED_WRITE only, else MDA_NOLONGER_SUPPORTED and
 *     nothing more) drops the memory image at the final unlock; an entity that was never stored
 *     keeps its image, the only copy.
 *   MDA_DELETE deletes the entity at the final unlock (mda_DeleteEntity without options).
 *   MDA_CHECK checks the memory chain afterwards (MDA_BAD_MBLOCK when it is broken).
 * At the final unlock the created (first time) or modified callbacks run; then, in a disk-backed
 * model, the entity enters the cache, whose least recently unlocked entity leaves memory, written
 * first when its image differs from the stored one. If that write fails, the evicted entity stays
 * in memory outside the cache with its changes and the write's status is returned; the unlock
 * itself is done. An entity not locked only takes the MDA_MODIFIED mark. MDA_INVALID_PTR. */
TESMAR_API mpm_Status mda_UnlockEntity(uint32_t options, db_ptr ptr);

/* Marks a locked entity modified (its image must be written). MDA_NOT_RWLOCKED when it is not
 * locked, MDA_INVALID_PTR. */
TESMAR_API mpm_Status mda_MarkModified(uint32_t options, db_ptr ptr);

/* Deletes an entity. The deleted callbacks run first. Its stored image and (unless MDA_KEEP_MEMORY)
 * its memory are freed, it leaves the cache and its type's list, its records in the model's
 * entity-keyed tables are cleared and its number goes on the free list (MDA_USE_RESERVED: the
 * number stays reserved). A locked entity may be deleted: its locks end with it.
 *   options: MDA_KEEP_MEMORY, MDA_ALLOW_PARENTS (without it an entity that others point to gives
 *     MDA_HAS_PARENTS in a model that keeps back pointers), MDA_KEEP_BACKPTRS,
 *     MDA_KEEP_PARENT_RECORD, MDA_USE_RESERVED.
 * MDA_INVALID_PTR, MDA_HAS_PARENTS. When the paged file refuses to free the stored image, the
 * entity is deleted all the same and the paged file's status is returned. In a model that keeps
 * back pointers the entity first leaves the parent lists of the entities it points to
 * (mda_DeleteChildBackPtrs; not with MDA_KEEP_BACKPTRS), and a failure there stops the deletion. */
TESMAR_API mpm_Status mda_DeleteEntity(uint32_t options, db_ptr ptr);

/* Deletes an entity with the entities that only it points to. Needs back pointers for the parent
 * counts: a model without them gives MDA_NO_BACKPTRS and nothing is deleted. An entity with two
 * parents or more is left alone (status 0) unless MDA_DELETE_SHARED or MDA_DELETE_ALL is given.
 * Otherwise the entity is cut from its parents (each parent's first pointer to it becomes null),
 * and of the entities it points to, one with other parents is cut from it (the pointer becomes
 * null), unless MDA_DELETE_ALL, and every other one is deleted the same way, down the pointers;
 * then the entity is deleted (mda_DeleteEntity with the caller's options under MDA_DELETE_ALL,
 * else none). Each entity is deleted once, cycles included, and long chains need no deep
 * recursion. A failure stops the deletion where it happened (entities deleted so far stay
 * deleted). MDA_INVALID_PTR, MDA_NO_BACKPTRS, MDA_MALLOC_ERR, and the statuses of the walk,
 * mda_ModifyChildPtrs, mda_ModifyPtr and mda_DeleteEntity. */
TESMAR_API mpm_Status mda_DeleteEntityTree(uint32_t options, db_ptr ptr);

/* The orig handle of an entity (locks and unlocks it). MDA_INVALID_PTR, MDA_NULL_MEMPTR. */
TESMAR_API mpm_Status mda_GetOrigPtr(uint32_t options, db_ptr ptr, db_ptr *orig);

/* Sets the orig handle of entity memory to `orig` when it still equals the entity's handle (the
 * entity was never copied or renumbered), or always with MDA_ORIG_ALWAYS. MDA_NULL_MEMPTR,
 * MDA_BAD_MBLOCK. */
TESMAR_API mpm_Status mda_SetOrigPtr(uint32_t options, void *memory, db_ptr orig);

/* mda_SetOrigPtr on an entity: locks it, sets, unlocks it marked modified. */
TESMAR_API mpm_Status mda_SetOrigPtrOfEntity(uint32_t options, db_ptr ptr, db_ptr orig);

/* Changes the type form of entity memory (an entered entity must be locked): the header's TF and
 * TFI, and for an entered entity its entry's TF and type list; it is marked modified. The new type
 * form is checked first: one the model's schema does not hold returns the quiet
 * MDA_TF_NOT_IN_DDF, one whose structure is larger than the memory's first block gives
 * MDA_INVALID_ARG; either way nothing changes. MDA_NULL_MEMPTR, MDA_BAD_MBLOCK,
 * MDA_INVALID_MODEL, MDA_NOT_RWLOCKED. */
TESMAR_API mpm_Status mda_SetEntityTF(void *memory, uint32_t tf);

/* Filter of mda_CopyEntity: non-zero to copy `child`, 0 to leave the copy's pointer null. `scratch`
 * addresses a word of the copy operation, 0 at its start, which the filter may use. */
typedef int32_t (*mda_CopyFilter)(db_ptr child, uint64_t *scratch);

/* Copies entity memory `source` (of any model) into `model`, with the entities it points to. The
 * copy is the source's chain duplicated (its orig handle kept); its type form must be in the
 * model's schema with a structure of the same size. Each pointer of the copy becomes null when it
 * is null or the filter (may be null: copy all) refuses the child; else the child's copy: one made
 * earlier in this operation, or the copy mda_copy_table (when set: 8-byte records keyed by the
 * child's handle) records, or a new copy of the child, entered in the model, recorded in
 * mda_copy_table and copied on the same way. Each entity is copied once per operation, cycles
 * included. Pointers of entered copies are set with mda_AddPtr (back pointers kept).
 *   options: MDA_COPY_CREATE (enter the copy, which is returned locked once), MDA_COPY_NESTED (a
 *     copy made from a filter during another copy, joining it: entered and locked).
 * Without MDA_COPY_CREATE the copy is memory not entered in the model (enter it with
 * mda_CreateEntity or free it with mda_FreeEntityMemory); its pointers still name copies entered
 * in the model. *copy receives the copy's memory (null when nothing was copied). On failure the
 * entities entered so far stay. MDA_NULL_MEMPTR, MDA_INVALID_MODEL, MDA_INVALID_OPTIONS
 * (MDA_COPY_NESTED outside a copy), MDA_BAD_MBLOCK, MDA_TF_NOT_IN_DDF (quiet), MDA_INVALID_ARG
 * (structure sizes differ), MDA_MALLOC_ERR, the statuses of locking, the walk and the tree
 * module. */
TESMAR_API mpm_Status mda_CopyEntity(uint32_t options, int32_t model, mda_CopyFilter filter,
                                     void *source, void **copy);

/* Appends `function` to the model's callbacks of `kind` (0 to 3). MDA_INVALID_MODEL,
 * MDA_INVALID_ARG (kind), MDA_NULL_MEMPTR (no function), MDA_MALLOC_ERR. */
TESMAR_API mpm_Status mda_SetCallback(uint32_t options, int32_t model, int32_t kind,
                                      mda_EntityCallback function);

/* Removes the first callback of `kind` that is `function`. MDA_CALLBACK_NOT_FOUND when there is
 * none; MDA_INVALID_MODEL, MDA_INVALID_ARG. */
TESMAR_API mpm_Status mda_ClearCallback(uint32_t options, int32_t model, int32_t kind,
                                        mda_EntityCallback function);

/* Writes an entity's memory image to the model's paged file as one record (its blocks one after
 * another, addresses between them turned into positions), reusing the space of its previous record
 * when the new one is not larger. Without MDA_KEEP_IMAGE the memory is freed afterwards (a locked
 * entity keeps it). In a memory-only model the image is parked instead (a copy with
 * MDA_KEEP_IMAGE). An entity not in memory has nothing to write (0). A write that fails leaves the
 * entity as it was: its memory, its marks and its previous record (or, when the previous record
 * was being rewritten in place, no stored record); the paged file's status is returned.
 * MDA_INVALID_PTR, MDA_BAD_MBLOCK (a broken chain), MDA_MALLOC_ERR. */
TESMAR_API mpm_Status mda_WriteEntity(uint32_t options, db_ptr ptr);

/* Brings an entity's image back into memory and returns its address (an entity in memory: its
 * memory). The stored record is checked before it is used (markers, block types and sizes, every
 * block inside the record, the positions of the addresses between blocks, array headers, the type
 * form and handle in the entity header); a record that fails gives MDA_BAD_MBLOCK. An entity with
 * no stored image gives MDA_NULL_MEMPTR. On failure null is returned after the message is issued
 * and the entity is left as it was. */
TESMAR_API void *mda_LoadEntity(uint32_t options, db_ptr ptr);

/* ---- Saved-model files (docs/saved-model.md) ---- */

/* Where the text form wraps its lines (80; 0: no wrapping). */
TESMAR_API extern int32_t mda_SaveLineWidth;
/* The file version (version * 100 + release) of the save or restore under way; fields of a later
 * version are neither written nor read. */
TESMAR_API extern int32_t mda_SaveFileVersion;

/* Writes every entity of *model to a saved-model file: text, or with MDA_BINARY binary (signature
 * "112448" on this machine: byte order and the schema's sizes of char, short, int, long, pointer).
 * The file version is the model's save version when set, else its schema's version and release
 * (each 0 to 99, else MDA_INVALID_ARG). The file is written whole under a new name and then put in
 * place, so the target holds the old file or the new one. Without MDA_OVERWRITE an existing file
 * is MDA_FILE_EXISTS. A pointer to another model is written as null (MDA_CROSS_MODEL_PTR, a
 * warning). MDA_NULL_MEMPTR, MDA_INVALID_MODEL, MDA_OPEN_ERR, MDA_FILE_WRITE_ERR, MDA_INTERNAL_ERR
 * (structures nested more than 10 deep), and the statuses of locking. The third argument is not
 * used. */
TESMAR_API mpm_Status mda_SaveModel(uint32_t options, const char *file_name, int32_t unused,
                                    const int32_t *model);

/* mda_SaveModel for the given entities and everything they reach through pointers (within the
 * first one's model). MDA_NULL_MEMPTR (no handles), MDA_INVALID_PTR, MDA_TREE_ERR. */
TESMAR_API mpm_Status mda_SaveEntities(uint32_t options, const char *file_name, int32_t count,
                                       const db_ptr *handles);

/* Reads a saved-model file (MDA_BINARY: the binary form) into *model, which must hold no live
 * entity (MDA_MODEL_NOT_EMPTY). Records keep their numbers: gaps are reserved (at most 2^20 more
 * numbers than records), records may come in any order. The model's restore hooks run before and
 * after; its back pointers are rebuilt when it keeps them. MDA_INCORRECT_SIGNATURE,
 * MDA_INCORRECT_DBNAME, MDA_NEWER_DBVERSION (older versions and other releases are warnings),
 * MDA_UNKNOWN_NAME, MDA_FILE_READ_ERR (anything malformed, with the line for the text form),
 * MDA_OPEN_ERR, MDA_INTERNAL_ERR. A failed restore leaves the model empty. The third argument is
 * not used. */
TESMAR_API mpm_Status mda_RestoreModel(uint32_t options, const char *file_name, int32_t unused,
                                       const int32_t *model);

/* ---- Debugging aids (docs/entity-database.md, "Looking inside") ----
 * Everything prints to mda_DbgStream; addresses as 0x and lower-case hexadecimal. Findings of the
 * checks are reported at once as MDA warnings on that stream and do not stop the check. */

/* The entity table entry of a handle (model, number, TF, memory, disk address, status bits, cache
 * entry, lock count); the null handle prints nothing. MDA_INVALID_PTR. */
TESMAR_API mpm_Status mda_DbgDumpPtr(uint32_t options, db_ptr ptr);
/* The entity: handles, type form with its name and description, every field's values, and its
 * parents. A deleted entity prints that it was deleted. The statuses of locking. */
TESMAR_API mpm_Status mda_DbgDumpEntity(uint32_t options, db_ptr ptr);
/* The block chain of entity memory; MDA_DBG_BADMEMREF (not issued) when a marker or a reference
 * is wrong, else 0. */
TESMAR_API mpm_Status mda_DbgDumpMBlocks(uint32_t options, void *memory);
/* The used cache entries with their entity table entries, and the cache's size. */
TESMAR_API mpm_Status mda_DbgDumpCache(uint32_t options, int32_t model);
/* The entity table entries of the locked entities. */
TESMAR_API mpm_Status mda_DbgDumpLocked(uint32_t options, int32_t model);
/* mda_DbgDumpEntity of every live entity, each followed by a blank line pair. */
TESMAR_API mpm_Status mda_DbgDumpModel(uint32_t options, int32_t model);
/* "NAME = VALUE" for each named parameter, in name order. */
TESMAR_API mpm_Status mda_DbgDumpParams(uint32_t options, int32_t model);
/* Each field a walk visits: running count, element count, kind, name, descriptor, data and
 * mda_TraverseFieldAddress. */
TESMAR_API mpm_Status mda_DbgShowFields(uint32_t options, db_ptr ptr);
/* The number of locked live entities (0 for a model not in use). */
TESMAR_API int32_t mda_DbgCountLocked(uint32_t options, int32_t model);
/* Checks the entity's disk record, read with the loader's own checks (MDA_DBG_BIGDBLOCK for a
 * block above 100000 bytes, MDA_DBG_BADBLOCKNUM, MDA_DBG_BADPTRNUM, MDA_BAD_MBLOCK for a record
 * the loader refuses, which is not followed), then its memory blocks (MDA_BAD_MBLOCK,
 * MDA_DBG_BADMEMREF). Returns MDA_BAD_MBLOCK for a record that cannot be loaded, else the
 * statuses of locking. MDA_INVALID_PTR. */
TESMAR_API mpm_Status mda_DbgCheckEntity(db_ptr ptr);
/* mda_DbgCheckEntity for every live entity; the first nonzero result. MDA_INVALID_MODEL. */
TESMAR_API mpm_Status mda_DbgCheckModelEntities(uint32_t options, int32_t model);
/* Rebuilds every model's back pointers from the pointer fields aside, compares them with the
 * recorded ones for the model (MDA_ALL_MODELS: every model), prints each difference, and puts
 * every table back as it was. MDA_BAD_BACKPTRS (not issued) on a difference, else 0. */
TESMAR_API mpm_Status mda_DbgCheckModelBackPtrs(uint32_t options, int32_t model);
/* The model check for every model in use (option 1: a line about each first; option 0x40000:
 * nothing); the first nonzero result. */
TESMAR_API mpm_Status mda_DbgCheckBackPtrs(uint32_t options);
/* Counts the live entities (of the entity type `name`, or "all") that have no parents, listing
 * them when `level` is above 1, through mpm_Printf. MDA_INVALID_MODEL. */
TESMAR_API mpm_Status mda_DbgCheckModelIndEntities(uint32_t options, int32_t model, uint32_t level,
                                                   const char *name);
/* The field editor: prompts for each element of each value field on mda_DbgStream and reads
 * answers from standard input (empty: keep; c: cancel and restore; d: done, save; n: next field;
 * anything else a new value; the end of the input cancels). The last two arguments are not used. */
TESMAR_API mpm_Status mda_DbgEditEntity(uint32_t options, db_ptr ptr, uint64_t unused1,
                                        uint64_t unused2);
/* mda_SaveEntities of one entity, mda_SaveModel of a model (MDA_INVALID_MODEL), and
 * mda_SaveEntities of at most 32 handles written in a text (decimal or 0x hexadecimal, separated
 * by blanks or commas), all with MDA_OVERWRITE. */
TESMAR_API mpm_Status mda_DbgSaveEntity(uint32_t options, const char *file_name, db_ptr ptr);
TESMAR_API mpm_Status mda_DbgSaveModel(uint32_t options, const char *file_name, int32_t model);
TESMAR_API mpm_Status mda_DbgSavePtrs(uint32_t options, const char *file_name, const char *text);

TESMAR_EXTERN_C_END

#endif
