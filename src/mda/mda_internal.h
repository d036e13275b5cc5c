// Private declarations of the entity database, and the seams its later parts (entity life cycle,
// cache, traversal, save and restore) build on.
//
// Error paths. A client handler called while a message is issued may leave the operation by
// longjmp, so no frame that issues a message may hold an object with a destructor or memory that
// only it would free. Inner functions therefore issue nothing: they return a Result, the library's
// Failure (src/mpm/failure.h) with MDA's rule for bare codes, and exported functions issue it with
// report() once the inner frame is gone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "mpm/failure.h"
#include "mpm/invariant.h"
#include "tesmar/mda.h"
#include "tesmar/mpm.h"

namespace tesmar::mda {

using tesmar::Failure;
using tesmar::kOk;

const mpm_ModuleDesc &module_desc();

// ---- Failures ----

// True for MDA's quiet codes (never issued).
inline bool is_quiet(mpm_Status code) { return (code >> 16) == 9 && (code & 0xFFFFu) >= 0xFFF0u; }

// MDA's failure as a bare code: its own code below the quiet range is to be issued at MPM_ERROR,
// with the default arguments of its text (a null address, handle 0, an empty text, model 0) when
// it takes any; every other code passes (success, a quiet code, another module's failure, which
// that module issued).
Failure from_code(mpm_Status code);

// What MDA's inner functions return: a Failure, into which a bare code converts by from_code().
// A failure of one of MDA's own exported operations, called from inside, has been issued already:
// carry it as Failure::issued(code). Failures whose texts take arguments are made with them:
// fail(MDA_PTR_ALREADY_CREATED).with(handle).
class Result : public Failure {
 public:
  Result() = default;
  Result(const Failure &failure) : Failure(failure) {}
  Result(mpm_Status code) : Failure(code == 0 ? Failure() : from_code(code)) {}  // success inline
  bool operator==(mpm_Status code) const { return this->code() == code; }
};

inline Failure fail(mpm_Status code) { return Failure::error(code); }

// MDA_BAD_MBLOCK naming the header of the bad block.
inline Failure bad_block(const void *header) { return fail(MDA_BAD_MBLOCK).with(header); }

// Issues a failure (once its inner frames are gone) and returns its code.
inline mpm_Status report(const Result &result) { return result.issue(); }

// ---- Invariants (check.cpp) ----

// Null when the chain of blocks whose first block holds `owner` is sound, else the first fault;
// and the same for a model's cache (no cache: null). Run after every change in builds without
// NDEBUG.
// `slots_inside`: also require every successor slot to lie inside a block of the chain.
const char *chain_fault(const void *owner, bool slots_inside = false);
const char *cache_fault(const mda_ModelRec *rec);

// report() for an operation that changed the chain of `owner` (null: none), which is checked
// when the operation succeeded.
inline mpm_Status report_chain(const Result &result, const void *owner) {
  if (!result && owner != nullptr) TESMAR_CHECK_INVARIANT(chain_fault(owner, false));
  return result.issue();
}


// ---- Handles ----

inline constexpr uint64_t kNumberMask = 0xFFFFFFFFFFFFull;
inline int32_t model_of(db_ptr p) { return static_cast<int32_t>(p >> 48); }
inline uint64_t number_of(db_ptr p) { return p & kNumberMask; }
inline db_ptr make_ptr(int32_t model, uint64_t number) {
  return (static_cast<uint64_t>(static_cast<uint16_t>(model)) << 48) | (number & kNumberMask);
}

// ---- Model table ----

inline constexpr int32_t kMaxModel = MDA_MAX_MODEL;
inline constexpr int32_t kCacheSize = 32;
inline constexpr uint64_t kInitialPageCapacity = 1024;
inline constexpr uint64_t kMaxPageCapacity = uint64_t{1} << 37;  // entity numbers below 2^48
inline constexpr double kDefaultParam = 2.220446049250313e-16;

// The model table: slot 0 is never used.
extern mda_ModelRec g_models[kMaxModel + 1];

// The record of a model in use, or null (model numbers outside 1..65535 included).
inline mda_ModelRec *model_in_use(int32_t model) {
  if (model < 1 || model > kMaxModel) return nullptr;
  mda_ModelRec *rec = &g_models[model];
  return rec->in_use != 0 ? rec : nullptr;
}
// Start-up: marks every slot free and no model current. Shut-down: frees every model in use (the
// first failure stops it).
void reset_model_table();
mpm_Status free_every_model();
inline int32_t number_of(const mda_ModelRec *rec) { return static_cast<int32_t>(rec - g_models); }
inline bool memory_only(const mda_ModelRec *rec) { return (rec->options & MDA_MEMORY_ONLY) != 0; }

// ---- Entity table (entity_table.cpp) ----

// The entry of an issued entity number: null when `number` is at or above the model's next number
// (checked before the table is touched).
mda_EntityEntry *entry_of(mda_ModelRec *rec, uint64_t number);
// The model record and entry of a handle whose model is in use and whose number has been issued,
// or null. Any status (reserved, deleted) is accepted.
mda_EntityEntry *lookup(db_ptr ptr, mda_ModelRec **rec = nullptr);
// The same for handles that pass mda_IsValidPtr (issued, neither deleted nor reserved).
mda_EntityEntry *lookup_valid(db_ptr ptr, mda_ModelRec **rec = nullptr);

// A new page array of kInitialPageCapacity pointers with its first page, or MALLOC_ERR.
Result create_entity_table(mda_ModelRec *rec);
// Frees every page and the page array; next number, free list and live count become 0.
void free_entity_table(mda_ModelRec *rec);

// Issues an entity number: the head of the free list, else the next number (allocating the page
// that covers it first, so a failure leaves the model as it was). MALLOC_ERR, REALLOC_ERR,
// NO_MORE_PTR. The entry's fields are the caller's to set.
Result issue_number(mda_ModelRec *rec, uint64_t *number);
// Issues a number and marks its entry reserved (mda_ReserveDbPtr without the in-use check; model
// allocation reserves entity 0 through it).
Result reserve_number(mda_ModelRec *rec, uint64_t *number);
// Marks an issued number deleted and pushes it on the free list (its dloc links to the former
// head; its memory pointer is cleared, the memory is the caller's to free).
void release_number(mda_ModelRec *rec, uint64_t number);

// Frees the memory of every entity not DELETED, and in a memory-only model every parked image.
void free_all_entity_memory(mda_ModelRec *rec);

// ---- Cache table (cache.cpp) ----

// A cache table of `size` entries, empty and chained in index order (lru 0, mru size - 1), or null
// when memory fails.
mda_CacheEntry *create_cache(int32_t size);
// Chains an existing table afresh: every entry empty, lru 0, mru size - 1.
void reset_cache_table(mda_ModelRec *rec);
// Unlinks entry i and puts it at the head (least recently used end) / tail of the list.
void cache_move_to_head(mda_ModelRec *rec, uint16_t i);
void cache_move_to_tail(mda_ModelRec *rec, uint16_t i);

// ---- Memory blocks (blocks.cpp) ----

inline constexpr uint32_t kHeader = MDA_MBLOCK_HEADER_SIZE;
inline constexpr uint32_t kArrayHeader = MDA_ARRAY_HEADER_SIZE;

inline MBlock *header_of(const void *data) {
  return reinterpret_cast<MBlock *>(const_cast<char *>(static_cast<const char *>(data)) - kHeader);
}
inline char *data_of(MBlock *b) { return reinterpret_cast<char *>(b) + kHeader; }
inline MBlock *next_of(const MBlock *b) { return reinterpret_cast<MBlock *>(b->next); }
// The address a slot holds for a block: 40 bytes past its start, 88 for an array block.
inline char *user_address(MBlock *b) {
  return data_of(b) + (b->type == MDA_MBLOCK_ARRAY ? kArrayHeader : 0);
}
inline mda_ArrayHeader *array_header(MBlock *b) {
  return reinterpret_cast<mda_ArrayHeader *>(data_of(b));
}
inline char *block_end(MBlock *b) { return reinterpret_cast<char *>(b) + b->size; }
// True when the 8-byte slot at `slot` lies inside the data of block b.
inline bool holds_slot(MBlock *b, uint64_t slot) {
  uint64_t lo = reinterpret_cast<uint64_t>(data_of(b));
  uint64_t hi = reinterpret_cast<uint64_t>(block_end(b));
  return slot >= lo && slot <= hi - 8 && hi - lo >= 8;
}
inline void store_address(uint64_t slot, const void *value) {
  std::memcpy(reinterpret_cast<void *>(slot), &value, sizeof value);
}
inline void store_address(void *slot, const void *value) {
  std::memcpy(slot, &value, sizeof value);
}

// The header of the block whose caller address is `data`: a plain block when the marker and type
// 40 bytes before say so, else an array block when they do 88 bytes before; null when neither.
// The block of that kind whose data starts at `data`, told from the block's own header first (a
// plain block has no array header in front of it to read); null when there is none.
MBlock *block_of_kind(const void *data, bool array);
MBlock *find_block(const void *data);
// The header at `data` - 40 (or - 88 when `array`) when it carries the marker and that type; else
// null.
MBlock *block_at(const void *data, bool array);

// A new zero-filled block (not linked) of `data_size` bytes of data; null when the size overflows
// 32 bits or memory fails.
MBlock *new_block(uint64_t data_size, uint8_t type);
// Inserts b after the chain's first block, its slot becoming the first block's reference.
void insert_after_first(MBlock *first, MBlock *b, void *slot);
// The block before b in the chain that starts at first (null when b is first or not in it).
MBlock *predecessor(MBlock *first, MBlock *b);
// Unlinks b (not the first block): its predecessor takes its next and reference fields.
void unlink_block(MBlock *pred, MBlock *b);
// Frees b, which is unlinked from the chain that starts at first, together with every block of
// that chain whose slot lies in the byte range [lo, hi) (and, in turn, their dependants).
void free_with_dependants(MBlock *first, MBlock *b);
void free_dependants_in(MBlock *first, uint64_t lo, uint64_t hi);
// The first block of the chain whose owner address is `owner` (a plain, independent block), or
// null.
MBlock *owner_block(const void *owner);
// Frees every block of a chain.
void free_chain(MBlock *first);
// Copies a chain (mda_DuplicateMemory without the report).
Result duplicate_chain(int32_t model, void *memory, void **copy);
// Plain block allocation for inner callers (mda_Malloc without the report).
Result malloc_block(void *owner, uint64_t size, void *slot, void **data);
// mda_Realloc and mda_Free without the report.
// *moved (when given) receives the new data address.
Result realloc_block(void *owner, void *data, uint32_t size, void *slot, void **moved = nullptr);
Result free_block(uint32_t options, void *owner, void *data);

// ---- Arrays (arrays.cpp) ----

// An array of `ndims` dimensions (as mda_MallocArray: one dimension is a plain block) for inner
// callers such as the entity walk, which has its dimensions in an array.
Result allocate_array(void *owner, uint32_t element_size, void *slot, int32_t ndims,
                          const int32_t *dims, bool plain_for_one);
// mda_ReallocArray for inner callers, dimensions in an array.
Result reallocate_array(uint32_t options, void *owner, void *array, uint32_t element_size,
                            void *slot, int32_t ndims, const int32_t *dims);
// The value of one dimension expression over a register set (null: every register reads 0). A zero
// divisor gives 0.
int32_t evaluate_dim(const ddf_DimExpr &expr, const int32_t *registers);

// ---- Entity-keyed tables (ptr_table.cpp) ----

// Creates a table without the in-use check (models being built); registers it.
Result create_table(uint32_t flags, uint32_t record_size, int32_t model, mda_PtrTable **out);
// Frees a table and takes it out of the registry.
void free_table(mda_PtrTable *table);
// The record of entity `number`, or null when its page was never written (it reads as zeros).
void *table_record(mda_PtrTable *table, uint64_t number);
// The record of entity `number`, allocating its page (and growing the page array) when needed.
// MALLOC_ERR, REALLOC_ERR, NO_MORE_PTR.
Result table_record_for_write(mda_PtrTable *table, uint64_t number, void **record);
// Checks a handle against a table: same model, model in use, number issued. INVALID_PTR.
Result check_table_handle(const mda_PtrTable *table, db_ptr ptr);
// Clears entity `number`'s record in every registered table of `model` (entity deletion), except
// `keep` (the back-pointer table when its records are to stay). A kind-2 back-pointer record's
// parent list must be freed (free_parent_list) before its record is cleared.
void clear_records(int32_t model, uint64_t number, const mda_PtrTable *keep);
// The registry of tables: created by mda_Initialize, dropped by mda_Terminate.
bool create_registry();
void drop_registry();

// ---- Back pointers (back_ptrs.cpp) ----

// The back-pointer record of an entity (zeros when it has none or the model no table).
mda_BackPtrRec read_back_ptr(const mda_ModelRec *rec, uint64_t number);
// Writes it, creating the model's table when it has none.
Result write_back_ptr(mda_ModelRec *rec, uint64_t number, const mda_BackPtrRec &record);
// Frees the parent list of a kind-2 record.
void free_parent_list(const mda_BackPtrRec &record);
// Frees every parent list and the model's back-pointer table.
void release_back_ptr_table(mda_ModelRec *rec);
// The inner forms of mda_AddPtr and mda_DeletePtr.
Result add_ptr(db_ptr parent, db_ptr child, db_ptr *slot);
Result delete_ptr(db_ptr parent, db_ptr child);
// The parents of an entity: a new array (null when none) and its length.
Result parents_of(db_ptr ptr, int32_t *count, db_ptr **parents);

// ---- Per-type lists (type_lists.cpp) ----

// New empty lists for `tf_count` type forms with a links table of model `model`; null when memory
// fails.
Result create_type_lists(int32_t model, int32_t tf_count, mda_TypeLists **out);
void free_type_lists(mda_TypeLists *lists);
Result add_to_type_list(mda_TypeLists *lists, int32_t tfi, db_ptr ptr);
Result remove_from_type_list(mda_TypeLists *lists, int32_t tfi, db_ptr ptr);

// ---- Models (model_table.cpp, current.cpp) ----

// Makes the model current (mda_SetCurrentModel's work for a model in use).
void make_current(int32_t model, uint64_t argument);
// Compare function of the named-parameter trees.
int compare_params(const void *a, const void *b);

// ---- Paged file (paged_file.cpp) ----

// Opens the temporary paged file of a disk-backed model (free list and temporary file, statistics
// when the model asks for them, the model's buffer count and page size) into rec->file. Returns the
// paged file's status (already issued).
Result open_paged_file(mda_ModelRec *rec);
// Closes (and so deletes) a model's paged file; null is ignored.
Result close_paged_file(struct DofFile *file);


// ---- Entity life cycle (lifecycle.cpp, cache.cpp, entity_io.cpp) ----

inline uint32_t lock_count(uint32_t status) {
  return (status & MDA_ENTRY_LOCK_MASK) >> MDA_ENTRY_LOCK_SHIFT;
}
inline constexpr uint32_t kMaxLocks = MDA_ENTRY_LOCK_MASK >> MDA_ENTRY_LOCK_SHIFT;
// Status bit of an entity whose deletion has begun (its deleted callbacks are running): deleting it
// again from a callback does nothing, the deletion under way completes.
inline constexpr uint32_t kDeleting = 0x01000000u;
// True when the entity has an image besides its memory: a paged-file record, or a parked chain.
inline bool stored(const mda_ModelRec *rec, const mda_EntityEntry *e) {
  return memory_only(rec) ? e->dloc != 0 : e->dloc != MDA_NO_DLOC;
}

// Takes an unlocked entity out of the cache when it sits there (its entry goes to the head).
void cache_forget(mda_ModelRec *rec, mda_EntityEntry *e, db_ptr ptr);
// Puts an unlocked entity in memory into the cache's least recently used entry, which becomes the
// most recently used; the entity that held it leaves memory (written first when it must be). A
// failed write leaves that entity in memory outside the cache and returns the write's status.
Result cache_enter(mda_ModelRec *rec, mda_EntityEntry *e, db_ptr ptr);

// Writes (disk-backed) or parks (memory-only) the image of an entity in memory; `keep` leaves the
// memory in place. Nothing to do when the entity is not in memory. On failure the entity is as it
// was (see entity_io.cpp).
Result write_entity(mda_ModelRec *rec, mda_EntityEntry *e, bool keep);
// Brings an entity's image into memory (nothing to do when it is there). On failure the entry is
// untouched: MDA_NULL_MEMPTR (no image), MDA_BAD_MBLOCK (a record that fails its checks),
// MDA_MALLOC_ERR, or the paged file's issued status.
Result load_entity(mda_ModelRec *rec, mda_EntityEntry *e, db_ptr ptr);
// A finding of the disk-record check: DBG_BIGDBLOCK (value: the size), DBG_BADBLOCKNUM (the block
// index), DBG_BADPTRNUM (the ordinal); code 0 for none.
struct DiskFinding {
  mpm_Status code;
  int64_t value;
};
// Reads an entity's disk record with the loader's checks and checks its block numbers, without
// loading it. The first finding is stored; the result is the loader's verdict (MDA_BAD_MBLOCK with
// the address, the paged file's issued status, MDA_MALLOC_ERR), 0 for a sound record or none.
Result check_disk_record(mda_ModelRec *rec, mda_EntityEntry *e, db_ptr ptr, DiskFinding *finding);
// Checks the chain of entity memory (markers, types, sizes, array rows, every reference in a block
// of the chain holding its successor). MDA_BAD_MBLOCK, MDA_MALLOC_ERR.
Result check_chain(void *memory);

// The inner forms of locking, unlocking and deleting, for operations built on them.
Result lock_entity(db_ptr ptr, void **memory);
Result unlock_entity(uint32_t options, db_ptr ptr);
Result delete_entity(uint32_t options, db_ptr ptr);
Result create_entity(uint32_t options, void *memory, db_ptr *ptr);
// The first block of entity memory, which must hold an entity header. NULL_MEMPTR, BAD_MBLOCK.
Result entity_block(void *memory, MBlock **first);
// Calls the model's callbacks of `kind` with `handle`. Callbacks may change anything: callers
// look their entry up again afterwards.
void call_callbacks(mda_ModelRec *rec, int32_t kind, db_ptr *handle);
// ---- Traversal (traverse*.cpp) ----

// Subentities nested in one walk, and structures nested in one type form, at most this deep (the
// schema reader refuses subentities nested deeper than 64; a walk keeps a frame per open structure).
inline constexpr int32_t kMaxSubentityDepth = 64;
inline constexpr int32_t kMaxStructNesting = 32;

// What a walk over one entity needs: the entity, its schema and its type form's descriptors.
struct WalkTarget {
  char *entity = nullptr;
  const ddf_Schema *schema = nullptr;
  const ddf_FieldDesc *first = nullptr;  // descriptors [first, end) of one type form
  const ddf_FieldDesc *end = nullptr;
};
// Checks an entity for a walk: a memory block whose header names a model in use and a type form of
// its schema, at least as large as the type form's entity size. With `from` (a descriptor of that
// schema) the descriptors run from it to the end of its type form, else over the whole type form.
// NULL_MEMPTR, INVALID_MODEL, BAD_MBLOCK, INVALID_ARG.
Result walk_target(void *entity, const ddf_FieldDesc *from, WalkTarget *target);
// The descriptors of subentity number `number` of `schema`; false when the number is out of range.
bool subentity_fields(const ddf_Schema *schema, int32_t number, const ddf_FieldDesc **first,
                      const ddf_FieldDesc **end);

// While a record being loaded is checked (entity_io.cpp), every block address that a walk reads
// from a slot is first offered here; a refused one ends the walk with MDA_BAD_MBLOCK before
// anything at that address is read. Null otherwise.
struct SlotAdmission {
  bool (*admit)(void *state, const void *slot, const void *data);
  void *state;
};
extern SlotAdmission *g_slot_admission;

// The elements of a field held in a memory block, for the current walk's registers: `slot` holds
// the block's address. A null block has 0 elements and no address. ARRAY_MISMATCH when the block is
// of another kind than the field's, its dimensions or element size differ, or it holds fewer
// elements than the registers call for; BAD_MBLOCK (address noted) when there is no block.
Result block_elements(const ddf_FieldDesc &desc, const void *slot, const int32_t *registers,
                          int32_t *count, char **first);
// Elements of an embedded (FIXED) array, as the layout sizes it.
int32_t embedded_count(const ddf_FieldDesc &desc);
// The descriptor index, relative to the union at fields[0] (which ends at fields[end]), of the
// member that `selector` names; -1 when it names none.
int32_t union_member(const ddf_FieldDesc *fields, int32_t end, int32_t selector);
// Stores a count's value in its register, and runs a let's program storing its result in the field
// (a division by zero gives 0; a program with an unknown opcode stores nothing).
void store_count(const ddf_FieldDesc &desc, const void *address, int32_t *registers);
void compute_let(const ddf_FieldDesc &desc, void *address, int32_t *registers);

// Element labels of the field dump and editor: the field's name and an index suffix ("[1][2]")
// that advances like an odometer, the last dimension fastest. `array` is the field's block for an
// UNSIZED field. The state is module-wide and restarts with every field.
void start_label(const ddf_FieldDesc *desc, const void *array);
const char *label_suffix();
void next_label();
// mda_TraverseEntity without the report: failures are returned unissued.
Result walk_entity(uint32_t options, void *entity, mda_TraverseCallback callback);
// mda_TraverseEntity2 without the report: the walk's own failures are returned unissued with `own`
// set; a callback's nonzero answer is returned as it is.
Result walk_entity2(void *entity, mda_TraverseCallback2 callback, void *user, bool *answered);

// ---- Pointer-field walks (walk_ptrs.cpp) ----

// Back pointers from the entity (the handle in the owner's header) to each live or reserved handle
// of an array of `count` handles (mda_ListToArray option 2).
Result add_owner_back_ptrs(void *owner, const db_ptr *handles, int32_t count);
// True when entities of the type form hold pointer fields (ent_info of the model's schema).
bool holds_pointers(const mda_ModelRec *rec, uint32_t tf);
// Back pointers from `self` for every pointer field of its memory, which the caller holds (entity
// creation). Failures are returned unissued.
Result add_memory_back_ptrs(void *memory, db_ptr self);
// mda_DeleteChildBackPtrs without the report (entity deletion).
Result delete_child_back_ptrs(db_ptr ptr);

}  // namespace tesmar::mda
