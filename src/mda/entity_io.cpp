// Writing entities to the model's paged file and loading them back.
//
// Design. A disk-backed model keeps the image of an entity that left memory as one block of its
// paged file (the entry's dloc is the block's address): the entity's memory blocks one after the
// other, each a 40-byte header followed by its data, in chain order. On disk the addresses that
// tie the chain together become positions:
//   - next: the paged-file address of the following block, all ones after the last;
//   - slot_block / reference: the index of the block that holds the slot of the successor (0 for
//     the first) and the slot's offset from that block's start; all ones / 0 in the last block;
//   - the slot itself: the ordinal of the block it names (1 for the second block, ...);
//   - array blocks keep their row pointers and, in the array header's first word, the address the
//     header had when they were written; loading moves the rows by the distance to the new one.
// Writing reads the chain and never changes it: headers are staged in copies, slots are patched in
// the record after the data. So a write that fails leaves the memory as it was, and the memory is
// freed (without MDA_KEEP_IMAGE) only once the whole record is written. A record is rewritten in
// place when the block's recorded size holds it; otherwise a new block is written and the old one
// freed after it.
//
// Loading trusts nothing in the file: every header is checked (marker, type, size, inside the
// record's block), the chain runs forward only (so it ends), every slot position lies inside its
// block and, once stored, holds its successor, array headers agree with their block and rows, and
// the entity header names the entry's type form and handle. Then the type's own fields decide:
// a walk of the entity visits every field held in a block (arrays, structure arrays, texts), and
// every such field must hold null or the address of one of the record's blocks, and every slot a
// block header named must be one of those fields (check_block_fields). A record that fails is
// dropped whole (MDA_BAD_MBLOCK) and the entry is not touched.
//
// In a memory-only model the image is parked instead: dloc holds a chain of its own (0 when none),
// which loading duplicates.
#include <algorithm>

#include "ddf/ddf_internal.h"
#include "dof/dof_internal.h"
#include "mda/mda_internal.h"
#include "mda/work_list.h"
#include "tesmar/dof.h"

namespace tesmar::mda {

namespace {

constexpr std::size_t kFixed = 32;
constexpr uint32_t kNoSlotBlock = 0xFFFFFFFFu;
constexpr uint64_t kNoNext = UINT64_MAX;
constexpr uint32_t kStage = 1024;  // records up to this size are written in one transfer

// One block of a chain being written or loaded.
struct Item {
  MBlock *block;
  uint64_t at;         // position in the record (written) / paged-file address (loaded)
  uint64_t offset;     // offset of the successor's slot from the holder's start
  uint32_t holder;     // index of the block that holds the successor's slot
  uint32_t reserved;
};

using Table = WorkList<Item, kFixed>;

uint64_t read_u64(const void *p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

uint64_t address_of(const void *p) { return reinterpret_cast<uint64_t>(p); }

uint32_t minimum_size(uint8_t type) {
  return type == MDA_MBLOCK_ARRAY ? kHeader + kArrayHeader : kHeader;
}

// Row pointers of an array block, level by level, as they are for a header at `base`. With
// `rewrite` they are stored; otherwise they are compared with what is stored. False when the
// header does not describe an array that fits its block, or a row differs.
bool array_rows(MBlock *b, uint64_t base, bool rewrite) {
  if (b->type != MDA_MBLOCK_ARRAY || b->size < kHeader + kArrayHeader) return false;
  mda_ArrayHeader *ah = array_header(b);
  const int k = ah->ndims;
  if (k < 2 || k > MDA_MAX_DIMS || ah->dims[0] == 0) return false;
  const uint64_t data = b->size - kHeader;
  uint64_t level[MDA_MAX_DIMS] = {};
  uint64_t rows = 0;
  uint64_t count = 1;
  for (int i = 0; i < k - 1; ++i) {
    if (ah->dims[i] != 0 && count > data / ah->dims[i]) return false;
    count *= ah->dims[i];
    level[i] = count;
    rows += count;
    if (rows > data / 8) return false;
  }
  if (rows != ah->row_count || ah->element_offset != kArrayHeader + rows * 8) return false;
  const uint64_t last = ah->dims[k - 1];
  if (last != 0 && count > data / last) return false;
  const uint64_t elements = count * last;
  if (ah->element_size != 0 && elements > data / ah->element_size) return false;
  if (elements * ah->element_size > data - ah->element_offset) return false;

  char *table = reinterpret_cast<char *>(ah) + kArrayHeader;
  uint64_t table_at = base + kArrayHeader;  // the level's table as seen from `base`
  for (int i = 0; i < k - 1; ++i) {
    const uint64_t next_at = table_at + level[i] * 8;
    const bool at_last = i == k - 2;
    const uint64_t step = at_last ? last * ah->element_size : 8 * uint64_t{ah->dims[i + 1]};
    const uint64_t target = at_last ? base + ah->element_offset : next_at;
    for (uint64_t j = 0; j < level[i]; ++j) {
      const uint64_t want = target + j * step;
      if (rewrite) std::memcpy(table + j * 8, &want, sizeof want);
      else if (read_u64(table + j * 8) != want) return false;
    }
    table += level[i] * 8;
    table_at = next_at;
  }
  return true;
}

// The index of the block whose data holds the 8-byte slot at `slot`: the first block first (where
// most slots are), then from the last towards the first. -1 when none does.
int64_t holder_of(const Table &t, uint64_t slot) {
  if (holds_slot(t.items[0].block, slot)) return 0;
  for (std::size_t i = t.count; i-- > 1;)
    if (holds_slot(t.items[i].block, slot)) return static_cast<int64_t>(i);
  return -1;
}

// Reads a chain into `t` and checks it: every block carries the marker, a type and a size its type
// allows; array headers agree with their rows; every reference lies in a block of the chain and
// its slot holds the successor. Notes each block's position in the record and its successor's
// slot; *total receives the record's size. An MDA code (BAD_MBLOCK) or MALLOC_ERR.
Result collect(MBlock *first, Table &t, uint64_t *total) {
  uint64_t at = 0;
  for (MBlock *b = first; b != nullptr; b = next_of(b)) {
    if (b->marker != MDA_MBLOCK_MARKER ||
        (b->type != MDA_MBLOCK_PLAIN && b->type != MDA_MBLOCK_ARRAY) ||
        b->size < minimum_size(b->type) || b->size % 4 != 0)
      return bad_block(b);
    if (b->type == MDA_MBLOCK_ARRAY && !array_rows(b, address_of(array_header(b)), false))
      return bad_block(b);
    if (!t.push(Item{b, at, 0, 0, 0})) return MDA_MALLOC_ERR;
    at += b->size;
  }
  if (t.count == 0 || t.items[0].block->type != MDA_MBLOCK_PLAIN) return bad_block(first);
  for (std::size_t i = 0; i + 1 < t.count; ++i) {
    MBlock *b = t.items[i].block;
    const int64_t j = holder_of(t, b->reference);
    if (j < 0 || read_u64(reinterpret_cast<void *>(b->reference)) !=
                     address_of(user_address(t.items[i + 1].block)))
      return bad_block(b);
    t.items[i].holder = static_cast<uint32_t>(j);
    t.items[i].offset = b->reference - address_of(t.items[j].block);
  }
  if (t.items[t.count - 1].block->reference != 0) return bad_block(t.items[t.count - 1].block);
  *total = at;
  return 0;
}

// The header block i carries on disk, the record starting at paged-file address `base`.
MBlock disk_header(const Table &t, std::size_t i, int64_t base) {
  MBlock h = *t.items[i].block;
  const bool last = i + 1 == t.count;
  h.next = last ? kNoNext : static_cast<uint64_t>(base) + t.items[i + 1].at;
  h.reference = last ? 0 : t.items[i].offset;
  h.slot_block = last ? kNoSlotBlock : t.items[i].holder;
  return h;
}

// The record of the chain in `t` (of at most kStage bytes) as it is at `base`, slots patched.
void stage_chain(const Table &t, int64_t base, char *stage) {
  for (std::size_t i = 0; i < t.count; ++i) {
    MBlock *b = t.items[i].block;
    MBlock h = disk_header(t, i, base);
    std::memcpy(stage + t.items[i].at, &h, kHeader);
    std::memcpy(stage + t.items[i].at + kHeader, data_of(b), b->size - kHeader);
  }
  for (std::size_t i = 0; i + 1 < t.count; ++i) {
    const uint64_t ordinal = i + 1;
    std::memcpy(stage + t.items[t.items[i].holder].at + t.items[i].offset, &ordinal,
                sizeof ordinal);
  }
}

// Writes the record of the chain in `t` at `base`.
Result write_chain(DofFile *file, const Table &t, uint64_t total, int64_t base) {
  if (total <= kStage) {
    // Small records (nearly all) go in one transfer.
    alignas(8) char stage[kStage];
    stage_chain(t, base, stage);
    return dof_ReadWrite(DOF_WRITE, file, static_cast<uint32_t>(total), base, stage);
  }
  for (std::size_t i = 0; i < t.count; ++i) {
    MBlock *b = t.items[i].block;
    MBlock h = disk_header(t, i, base);
    const int64_t at = base + static_cast<int64_t>(t.items[i].at);
    Result status = dof_ReadWrite(DOF_WRITE, file, kHeader, at, &h);
    if (status == 0)
      status = dof_ReadWrite(DOF_WRITE, file, b->size - kHeader, at + kHeader, data_of(b));
    if (status != 0) return status;
  }
  for (std::size_t i = 0; i + 1 < t.count; ++i) {
    uint64_t ordinal = i + 1;
    const int64_t at = base + static_cast<int64_t>(t.items[t.items[i].holder].at +
                                                   t.items[i].offset);
    Result status = dof_ReadWrite(DOF_WRITE, file, sizeof ordinal, at, &ordinal);
    if (status != 0) return status;
  }
  return 0;
}

Result write_disk(mda_ModelRec *rec, mda_EntityEntry *e, bool keep) {
  MBlock *first = block_at(e->mloc, false);
  if (first == nullptr) return bad_block(static_cast<char *>(e->mloc) - kHeader);
  Table t;
  t.init();
  uint64_t total = 0;
  Result status = collect(first, t, &total);
  if (status == 0 && total > UINT32_MAX - 8) status = MDA_INVALID_ARG;
  if (status != 0) {
    t.release();
    return status;
  }
  DofFile *file = rec->file;
  const uint64_t old = e->dloc;
  int64_t base = 0;
  bool fresh = true;
  if (old != MDA_NO_DLOC) {
    uint32_t recorded = 0;
    status = dof_GetBlockSize(file, static_cast<int64_t>(old), &recorded);
    if (status == 0 && recorded >= total) {
      base = static_cast<int64_t>(old);
      fresh = false;
    }
  }
  if (status == 0 && fresh && total <= kStage) {
    // A small new record is written with its block's header in one transfer; when that fails,
    // no block was allocated.
    alignas(8) uint8_t stage[8 + kStage];
    const auto fill = [](void *context, int64_t address, uint8_t *data) {
      stage_chain(*static_cast<const Table *>(context), address, reinterpret_cast<char *>(data));
    };
    const dof::BlockFiller filler{fill, &t, stage};
    status = dof::allocate_block(file, static_cast<uint32_t>(total), &filler, &base);
  } else if (status == 0 && fresh) {
    status = dof_AllocateBlock(file, static_cast<uint32_t>(total), &base);
    if (status == 0) {
      status = write_chain(file, t, total, base);
      if (status != 0) dof_FreeBlock(file, base);  // the new block goes back
    }
  } else if (status == 0) {
    // A record rewritten in place that fails is no longer whole, so the entity has none (its
    // memory, still marked to be written, is the only copy).
    status = write_chain(file, t, total, base);
    if (status != 0) e->dloc = MDA_NO_DLOC;
  }
  t.release();
  if (status != 0) return status;
  // The old record is given up once the new one is whole. A refusal to free it (issued) costs
  // file space, not data.
  if (fresh && old != MDA_NO_DLOC) dof_FreeBlock(file, static_cast<int64_t>(old));
  e->dloc = static_cast<uint64_t>(base);
  e->status &= ~(MDA_ENTRY_MODIFIED | MDA_ENTRY_NEEDFLUSH);
  if (!keep) {
    free_chain(first);
    e->mloc = nullptr;
  }
  return 0;
}

Result park(mda_ModelRec *rec, mda_EntityEntry *e, bool keep) {
  MBlock *parked = e->dloc != 0 ? block_at(reinterpret_cast<void *>(e->dloc), false) : nullptr;
  const bool same = e->dloc == address_of(e->mloc);
  if (keep) {
    void *copy = nullptr;
    Result status = duplicate_chain(number_of(rec), e->mloc, &copy);
    if (status != 0) return status;
    std::memcpy(copy, e->mloc, sizeof(mda_EntityHeader));
    if (parked != nullptr && !same) free_chain(parked);
    e->dloc = address_of(copy);
  } else {
    if (parked != nullptr && !same) free_chain(parked);
    e->dloc = address_of(e->mloc);
    e->mloc = nullptr;
  }
  e->status &= ~(MDA_ENTRY_MODIFIED | MDA_ENTRY_NEEDFLUSH);
  return 0;
}

// Frees every block read so far.
void drop(Table &t) {
  for (std::size_t i = 0; i < t.count; ++i) std::free(t.items[i].block);
  t.release();
}

Result bad_record(uint64_t at) { return bad_block(reinterpret_cast<const void *>(at)); }

// Where a record is read from: the paged file, or a copy of a small record read in one transfer.
struct Source {
  DofFile *file;
  const unsigned char *bytes;  // the copy, or null
  uint64_t base;               // file address of bytes[0]
  uint64_t length;

  mpm_Status read(uint64_t at, uint32_t n, void *to) const {
    if (bytes != nullptr && at >= base && at - base <= length && n <= length - (at - base)) {
      std::memcpy(to, bytes + (at - base), n);
      return 0;
    }
    return dof_ReadWrite(DOF_READ, file, n, static_cast<int64_t>(at), to);
  }
};

// Reads the blocks of the record at `dloc` into `t`, checking each header against the record's
// block. An issued paged-file status, MDA_BAD_MBLOCK or MDA_MALLOC_ERR.
Result read_chain(DofFile *file, uint64_t dloc, Table &t) {
  const uint64_t end = static_cast<uint64_t>(file->end);
  if (dloc < 8 || dloc >= end) return bad_record(dloc);
  // The paged file's block header and, for a record that fits, the whole record in one transfer.
  alignas(8) unsigned char stage[8 + kStage];
  const uint32_t first = static_cast<uint32_t>(std::min<uint64_t>(8 + kStage, end - (dloc - 8)));
  Result status = dof_ReadWrite(DOF_READ, file, first, static_cast<int64_t>(dloc - 8), stage);
  if (status != 0) return status;
  const uint64_t capacity = uint64_t{stage[4]} | uint64_t{stage[5]} << 8 |
                            uint64_t{stage[6]} << 16 | uint64_t{stage[7]} << 24;
  if (capacity > end - dloc) return bad_record(dloc);
  const uint64_t limit = dloc + capacity;
  const Source source{file, stage + 8, dloc, first - 8u};
  uint64_t at = dloc;
  for (;;) {
    if (at > limit || limit - at < kHeader) return bad_record(at);
    MBlock h;
    status = source.read(at, kHeader, &h);
    if (status != 0) return status;
    if (h.marker != MDA_MBLOCK_MARKER ||
        (h.type != MDA_MBLOCK_PLAIN && h.type != MDA_MBLOCK_ARRAY) ||
        h.size < minimum_size(h.type) || h.size % 4 != 0 || h.size > limit - at ||
        (t.count == 0 && h.type != MDA_MBLOCK_PLAIN))
      return bad_record(at);
    auto *b = static_cast<MBlock *>(std::malloc(h.size));
    if (b == nullptr) return MDA_MALLOC_ERR;
    if (!t.push(Item{b, at, h.reference, h.slot_block, 0})) {
      std::free(b);
      return MDA_MALLOC_ERR;
    }
    std::memcpy(b, &h, kHeader);
    status = source.read(at + kHeader, h.size - kHeader, data_of(b));
    if (status != 0) return status;
    if (h.next == kNoNext) return 0;
    // Forward only, and past this block: the chain cannot loop and ends inside the record.
    if (h.next < at + h.size || h.next >= limit) return bad_record(at);
    at = h.next;
  }
}

// Ties the blocks read into `t` into a chain in memory and checks what the record claimed.
Result relink(Table &t, db_ptr ptr, const mda_ModelRec *rec, const mda_EntityEntry *e) {
  const std::size_t n = t.count;
  for (std::size_t i = 0; i < n; ++i) {
    MBlock *b = t.items[i].block;
    const bool last = i + 1 == n;
    if (last != (t.items[i].holder == kNoSlotBlock)) return bad_record(t.items[i].at);
    b->next = last ? 0 : address_of(t.items[i + 1].block);
    b->slot_block = 0;
    b->flags = i == 0 ? MDA_MBLOCK_INDEPENDENT : 0;
    b->reference = 0;
    if (last) break;
    const uint32_t j = t.items[i].holder;
    if (j >= n) return bad_record(t.items[i].at);
    MBlock *holder = t.items[j].block;
    const uint64_t offset = t.items[i].offset;
    if (offset < minimum_size(holder->type) || offset > holder->size - 8)
      return bad_record(t.items[i].at);
    b->reference = address_of(holder) + offset;
    store_address(b->reference, user_address(t.items[i + 1].block));
  }
  // Rows move with their header; then every slot must still hold its successor (two slots in one
  // place, or a slot among the rows, would not).
  for (std::size_t i = 0; i < n; ++i) {
    MBlock *b = t.items[i].block;
    if (b->type != MDA_MBLOCK_ARRAY) continue;
    mda_ArrayHeader *ah = array_header(b);
    if (!array_rows(b, ah->self, false)) return bad_record(t.items[i].at);
    ah->self = address_of(ah);
    array_rows(b, ah->self, true);
  }
  for (std::size_t i = 0; i + 1 < n; ++i)
    if (read_u64(reinterpret_cast<void *>(t.items[i].block->reference)) !=
        address_of(user_address(t.items[i + 1].block)))
      return bad_record(t.items[i].at);
  MBlock *first = t.items[0].block;
  if (first->size - kHeader < sizeof(mda_EntityHeader)) return bad_record(t.items[0].at);
  mda_EntityHeader h;
  std::memcpy(&h, data_of(first), sizeof h);
  const ddf_Schema *schema = rec->schema;
  if (h.tf != e->tf || h.ptr != ptr || h.tfi >= static_cast<uint32_t>(schema->tf_count) ||
      schema->typeforms[h.tfi] != h.tf || first->size - kHeader < schema->ent_sizes[h.tfi])
    return bad_record(t.items[0].at);
  return 0;
}

// The slots that the walk of a loaded record found holding block addresses.
struct FieldCheck {
  WorkList<uint64_t, 16> blocks;  // the addresses slots hold for the record's blocks, sorted
  WorkList<uint64_t, 16> seen;    // slot addresses
  bool refused;
};

bool holds(const WorkList<uint64_t, 16> &sorted, uint64_t value) {
  return std::binary_search(sorted.items, sorted.items + sorted.count, value);
}

// Is `data` the address a slot holds for one of the record's blocks?
bool admit(void *state, const void *slot, const void *data) {
  auto &c = *static_cast<FieldCheck *>(state);
  if (!holds(c.blocks, address_of(data)) || !c.seen.push(address_of(slot))) {
    c.refused = true;
    return false;
  }
  return true;
}

// Text fields are not walked through blocks: the callback offers their slots.
mpm_Status offer_texts(void *, int32_t count, int32_t type, void *address, const ddf_FieldDesc *,
                       mpm_Status *, int32_t *, void *user) {
  if (type != DDF_VSTRING || address == nullptr) return 0;
  for (int32_t i = 0; i < count; ++i) {
    const char *slot = static_cast<const char *>(address) + 8 * static_cast<int64_t>(i);
    const void *data = reinterpret_cast<const void *>(read_u64(slot));
    if (data != nullptr && !admit(user, slot, data)) return MDA_TRAVERSE_STOP;
  }
  return 0;
}

Result check_fields(Table &t, FieldCheck &c) {
  for (std::size_t i = 1; i < t.count; ++i)
    if (!c.blocks.push(address_of(user_address(t.items[i].block)))) return MDA_MALLOC_ERR;
  std::sort(c.blocks.items, c.blocks.items + c.blocks.count);
  SlotAdmission admission{admit, &c};
  SlotAdmission *const saved = g_slot_admission;
  g_slot_admission = &admission;
  bool answered = false;
  const Result walked = walk_entity2(data_of(t.items[0].block), offer_texts, &c, &answered);
  g_slot_admission = saved;
  if (walked || c.refused) return bad_record(t.items[0].at);
  // Every block but the first hangs from a slot, and that slot must be a field the walk found.
  std::sort(c.seen.items, c.seen.items + c.seen.count);
  for (std::size_t i = 0; i + 1 < t.count; ++i)
    if (!holds(c.seen, t.items[i].block->reference)) return bad_record(t.items[i + 1].at);
  return 0;
}

Result check_block_fields(Table &t) {
  FieldCheck c{{}, {}, false};
  c.blocks.init();
  c.seen.init();
  const Result checked = check_fields(t, c);
  c.blocks.release();
  c.seen.release();
  return checked;
}

Result load_disk(mda_ModelRec *rec, mda_EntityEntry *e, db_ptr ptr) {
  if (e->dloc == MDA_NO_DLOC || rec->file == nullptr) return MDA_NULL_MEMPTR;
  Table t;
  t.init();
  Result status = read_chain(rec->file, e->dloc, t);
  if (status == 0) status = relink(t, ptr, rec, e);
  if (status == 0) status = check_block_fields(t);
  if (status != 0) {
    drop(t);
    return status;
  }
  e->mloc = data_of(t.items[0].block);
  t.release();
  return 0;
}

Result load_parked(mda_ModelRec *rec, mda_EntityEntry *e) {
  if (e->dloc == 0) return MDA_NULL_MEMPTR;
  void *parked = reinterpret_cast<void *>(e->dloc);
  void *copy = nullptr;
  Result status = duplicate_chain(number_of(rec), parked, &copy);
  if (status != 0) return status;
  std::memcpy(copy, parked, sizeof(mda_EntityHeader));
  e->mloc = copy;
  return 0;
}

}  // namespace

Result check_disk_record(mda_ModelRec *rec, mda_EntityEntry *e, db_ptr ptr, DiskFinding *finding) {
  *finding = {};
  if (rec->file == nullptr || e->dloc == MDA_NO_DLOC) return 0;
  Table t;
  t.init();
  // The blocks as the loader reads them: headers checked, the chain forward and inside its record.
  Result status = read_chain(rec->file, e->dloc, t);
  const std::size_t n = t.count;
  for (std::size_t i = 0; status == 0 && i < n && finding->code == 0; ++i) {
    const Item &item = t.items[i];
    if (item.block->size > 100000) {
      *finding = {MDA_DBG_BIGDBLOCK, item.block->size};
      break;  // reported; the check goes on with the slots
    }
  }
  for (std::size_t i = 0; status == 0 && i < n && (finding->code == 0 || finding->code == MDA_DBG_BIGDBLOCK); ++i) {
    const Item &item = t.items[i];
    if (item.holder == kNoSlotBlock) continue;
    if (item.holder > 0x7FFFFFFFu || item.holder >= n) {
      *finding = {MDA_DBG_BADBLOCKNUM, static_cast<int64_t>(static_cast<int32_t>(item.holder))};
      break;
    }
    MBlock *holder = t.items[item.holder].block;
    uint64_t ordinal = UINT64_MAX;
    if (item.offset >= kHeader && item.offset <= holder->size - 8u)
      std::memcpy(&ordinal, reinterpret_cast<char *>(holder) + item.offset, sizeof ordinal);
    if (ordinal >= n) {
      *finding = {MDA_DBG_BADPTRNUM, static_cast<int64_t>(ordinal)};
      break;
    }
  }
  // What the loader checks beyond that (the type's fields against the blocks) makes it BAD_MBLOCK.
  if (status == 0 && (finding->code == 0 || finding->code == MDA_DBG_BIGDBLOCK)) {
    status = relink(t, ptr, rec, e);
    if (status == 0) status = check_block_fields(t);
  }
  drop(t);
  return status;
}

Result write_entity(mda_ModelRec *rec, mda_EntityEntry *e, bool keep) {
  if (e->mloc == nullptr) return 0;
  return memory_only(rec) ? park(rec, e, keep) : write_disk(rec, e, keep);
}

Result load_entity(mda_ModelRec *rec, mda_EntityEntry *e, db_ptr ptr) {
  if (e->mloc != nullptr) return 0;
  Result loaded = memory_only(rec) ? load_parked(rec, e) : load_disk(rec, e, ptr);
  if (!loaded) TESMAR_CHECK_INVARIANT(chain_fault(e->mloc, true));
  return loaded;
}

Result check_chain(void *memory) {
  MBlock *first = block_at(memory, false);
  if (first == nullptr) return bad_block(static_cast<char *>(memory) - kHeader);
  Table t;
  t.init();
  uint64_t total = 0;
  Result status = collect(first, t, &total);
  t.release();
  return status;
}

}  // namespace tesmar::mda

using namespace tesmar::mda;

extern "C" {

mpm_Status mda_WriteEntity(uint32_t options, db_ptr ptr) {
  mda_ModelRec *rec = nullptr;
  mda_EntityEntry *e = lookup_valid(ptr, &rec);
  if (e == nullptr) return report(MDA_INVALID_PTR);
  // A locked entity's memory is the caller's until the final unlock: it stays.
  const bool locked = (e->status & MDA_ENTRY_LOCK_MASK) != 0;
  const bool keep = (options & MDA_KEEP_IMAGE) != 0 || locked;
  Result status = write_entity(rec, e, keep);
  if (status == 0 && e->mloc == nullptr) cache_forget(rec, e, ptr);
  return report(status);
}

void *mda_LoadEntity(uint32_t, db_ptr ptr) {
  mda_ModelRec *rec = nullptr;
  mda_EntityEntry *e = lookup_valid(ptr, &rec);
  if (e == nullptr) {
    report(MDA_INVALID_PTR);
    return nullptr;
  }
  if (report(load_entity(rec, e, ptr)) != 0) return nullptr;
  return e->mloc;
}

}  // extern "C"
